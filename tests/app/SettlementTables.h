// The settlement tables the windows open, empty, in the test's working directory: built
// once per test binary by the project's tool from a data set with no rows, then copied.
#pragma once

#include <QDir>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>

namespace apptest {

class TEmptySettlementTables {
 public:
  TEmptySettlementTables() {
    const QDir source(Template());
    for (const QString& name : source.entryList(QDir::Files))
      EXPECT_TRUE(QFile::copy(source.filePath(name), QDir::current().filePath(name))) << name.toStdString();
  }

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
      const QString tables = dir.filePath(QStringLiteral("tables"));
      const std::string command = std::string("\"") + VIDORA_MKDB + "\" \"" + csv.toStdString() + "\" \"" +
                                  tables.toStdString() + "\" > /dev/null";
      return std::system(command.c_str()) == 0;
    }();
    EXPECT_TRUE(built) << "the empty settlement tables could not be built";
    return dir.filePath(QStringLiteral("tables"));
  }
};

}  // namespace apptest
