// The program's options and the place of its database: the installed program makes the
// settlement database in the user's data directory at its first start and keeps it after.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QCryptographicHash>

#include "CommandLine.h"
#include "DataLocation.h"

namespace {

using vidora::ParseCommandLine;
using TAction = vidora::TCommandLine::TAction;

TEST(CommandLineTest, OptionsAndTheirErrors) {
  struct TCase {
    QStringList Args;
    TAction Action;
    QString Database;
  };
  const TCase cases[] = {
      {{}, TAction::Run, {}},
      {{"--database", "/tmp/x"}, TAction::Run, "/tmp/x"},
      {{"--database=/tmp/y z"}, TAction::Run, "/tmp/y z"},
      {{"--version"}, TAction::Version, {}},
      {{"--database", "/tmp/x", "--help"}, TAction::Help, {}},
      {{"--bogus", "--version"}, TAction::Version, {}},  // information wins over errors
      {{"--database"}, TAction::Error, {}},
      {{"--database="}, TAction::Error, {}},
      {{"--database", "a", "--database", "b"}, TAction::Error, {}},
      {{"--bogus"}, TAction::Error, {}},
      {{"file.vdbt"}, TAction::Error, {}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Args.join(' ').toStdString());
    const auto parsed = ParseCommandLine(QStringList{"vidora"} + c.Args);
    EXPECT_EQ(parsed.Action, c.Action);
    EXPECT_EQ(parsed.Database.value_or(QString()), c.Database);
    EXPECT_EQ(parsed.Error.isEmpty(), c.Action != TAction::Error);
  }
  EXPECT_TRUE(vidora::VersionText().startsWith("Vidora 2."));
}

QByteArray Digest(const QString& path) {
  QFile f(path);
  if (!f.open(QIODevice::ReadOnly)) return {};
  return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
}

// An installed layout: <prefix>/bin, <prefix>/share/vidora/settlements.csv and the manual.
struct TInstalled {
  QTemporaryDir Root;
  QString Bin, Shipped, Manual;
  TInstalled() {
    QDir(Root.path()).mkpath("bin");
    QDir(Root.path()).mkpath("share/vidora");
    QDir(Root.path()).mkpath("share/doc/vidora");
    Bin = Root.filePath("bin");
    Shipped = Root.filePath("share/vidora");
    Manual = Root.filePath("share/doc/vidora/Leírás.pdf");
    QFile::copy(VIDORA_SETTLEMENTS_CSV, Shipped + "/settlements.csv");
    QFile m(Manual);
    m.open(QIODevice::WriteOnly);
    m.write("%PDF-1.4 manual");
  }
};

TEST(DataLocationTest, InstalledLayoutIsRecognisedAndTheBuildFolderIsNot) {
  TInstalled installed;
  EXPECT_EQ(vidora::ShippedDataDirectory(installed.Bin), QDir::cleanPath(installed.Shipped));
  QTemporaryDir build;
  EXPECT_TRUE(vidora::ShippedDataDirectory(build.path()).isEmpty());
}

TEST(DataLocationTest, FirstStartMakesTheDatabaseAndTheSecondKeepsIt) {
  TInstalled installed;
  const QString data = installed.Root.filePath("home/.local/share/vidora");  // missing yet
  const auto first = vidora::PrepareDataDirectory(installed.Shipped, installed.Manual, data);
  EXPECT_TRUE(first.TablesCreated);
  EXPECT_EQ(first.Settlements, 3155);
  ASSERT_TRUE(QFileInfo::exists(data + "/Irsz.vdbt"));
  ASSERT_TRUE(QFileInfo::exists(data + "/Irsz_tmp.vdbt"));
  EXPECT_TRUE(QFileInfo::exists(data + "/Leírás.pdf"));

  const QByteArray before = Digest(data + "/Irsz.vdbt");
  const auto second = vidora::PrepareDataDirectory(installed.Shipped, installed.Manual, data);
  EXPECT_FALSE(second.TablesCreated);
  EXPECT_EQ(Digest(data + "/Irsz.vdbt"), before);
}

TEST(DataLocationTest, AnExistingTableIsNeverReplaced) {
  TInstalled installed;
  QTemporaryDir data;
  QFile table(data.filePath("Irsz.vdbt"));
  ASSERT_TRUE(table.open(QIODevice::WriteOnly));
  table.write("the user's own table");
  table.close();
  const auto result = vidora::PrepareDataDirectory(installed.Shipped, installed.Manual, data.path());
  EXPECT_FALSE(result.TablesCreated);
  EXPECT_EQ(Digest(data.filePath("Irsz.vdbt")), QCryptographicHash::hash("the user's own table", QCryptographicHash::Sha256));
  EXPECT_FALSE(QFileInfo::exists(data.filePath("Irsz_tmp.vdbt")));
}

TEST(DataLocationTest, FailuresSayWhy) {
  TInstalled installed;
  QFile::remove(installed.Shipped + "/settlements.csv");
  QTemporaryDir data;
  EXPECT_THROW(vidora::PrepareDataDirectory(installed.Shipped, installed.Manual, data.path()), std::runtime_error);
  // A file where the directory should be.
  QFile blocker(data.filePath("file"));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  EXPECT_THROW(vidora::PrepareDataDirectory(installed.Shipped, installed.Manual, data.filePath("file/vidora")),
               std::runtime_error);
  // --database names a directory that is not there.
  const QString cwd = QDir::currentPath();
  EXPECT_THROW(vidora::EnterDatabaseDirectory({"vidora", "--database", data.filePath("missing")}, installed.Bin),
               std::runtime_error);
  EXPECT_EQ(QDir::currentPath(), cwd);
}

TEST(DataLocationTest, DatabaseOptionEntersTheDirectory) {
  QTemporaryDir data;
  const QString cwd = QDir::currentPath();
  vidora::EnterDatabaseDirectory({"vidora", "--database", data.path()}, data.path());
  EXPECT_EQ(QDir(QDir::currentPath()).canonicalPath(), QDir(data.path()).canonicalPath());
  QDir::setCurrent(cwd);
  // Not installed and no option: the working directory stays.
  vidora::EnterDatabaseDirectory({"vidora"}, data.path());
  EXPECT_EQ(QDir::currentPath(), cwd);
}

}  // namespace
