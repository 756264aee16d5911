// The settlement tables the windows open, in the test's working directory: built once per
// test binary by the project's tool (empty from a data set with no rows, or full from the
// national data set), then copied for each test so that tests never see each other's edits.
#pragma once

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>

namespace apptest {

// Copies every file of `source` into the working directory.
inline void CopyTablesHere(const QString& source) {
  const QDir dir(source);
  for (const QString& name : dir.entryList(QDir::Files))
    EXPECT_TRUE(QFile::copy(dir.filePath(name), QDir::current().filePath(name))) << name.toStdString();
}

// Runs the tool on `csv` into `target`; true when it succeeded.
inline bool BuildTables(const std::string& csv, const QString& target) {
  const std::string command =
      std::string("\"") + VIDORA_MKDB + "\" \"" + csv + "\" \"" + target.toStdString() + "\" > /dev/null";
  return std::system(command.c_str()) == 0;
}

class TEmptySettlementTables {
 public:
  TEmptySettlementTables() { CopyTablesHere(Template()); }

  // Whether a file of the working directory belongs to the database: the tables' files (data,
  // indexes, memos, lock and side files all start with a table name) and the control file the
  // engine keeps for a directory database.
  static bool IsDatabaseFile(const QString& name) {
    return name.startsWith(QLatin1String("Irsz"), Qt::CaseInsensitive) || name.endsWith(QLatin1String(".vdbd"));
  }

 private:
  static QString Template() {
    static QTemporaryDir dir;
    static const bool built = [] {
      const QString csv = dir.filePath(QStringLiteral("empty.csv"));
      std::ofstream(csv.toStdString()) << "IRSZ,TELEP,TELK,RANG,REGIO,MEGYE,KISTERS,TERULET,NEPESS,LAKAS,EGYEB\r\n";
      return BuildTables(csv.toStdString(), dir.filePath(QStringLiteral("tables")));
    }();
    EXPECT_TRUE(built) << "the empty settlement tables could not be built";
    return dir.filePath(QStringLiteral("tables"));
  }
};

// A copy of the settlement database made from the national data set.
class TRealSettlementTables {
 public:
  TRealSettlementTables() { CopyTablesHere(Template()); }

 private:
  static QString Template() {
    static QTemporaryDir dir;
    static const bool built = BuildTables(VIDORA_SETTLEMENTS_CSV, dir.filePath(QStringLiteral("tables")));
    EXPECT_TRUE(built) << "the settlement tables could not be built from the data set";
    return dir.filePath(QStringLiteral("tables"));
  }
};

}  // namespace apptest
