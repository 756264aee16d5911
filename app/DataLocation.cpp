#include "DataLocation.h"

#include <cstdio>
#include <exception>
#include <stdexcept>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include "CommandLine.h"
#include "SettlementImport.h"

namespace vidora {

namespace {

const QString kSettlementsCsv = QStringLiteral("settlements.csv");
const QString kManual = QStringLiteral("Leírás.pdf");

[[noreturn]] void Fail(const QString& message) { throw std::runtime_error(message.toStdString()); }

std::filesystem::path ToPath(const QString& path) { return std::filesystem::path(path.toStdU16String()); }

// The manual is no user data: a newer installed copy replaces the old one.
void CopyManual(const QString& manualPath, const QDir& dir) {
  const QFileInfo installed(manualPath);
  if (manualPath.isEmpty() || !installed.isFile()) return;
  const QFileInfo present(dir.filePath(kManual));
  if (present.exists() && present.lastModified() >= installed.lastModified()) return;
  const QString staging = dir.filePath(kManual + QStringLiteral(".new"));
  QFile::remove(staging);
  // A manual that cannot be copied only leaves "Leírás" without its file; the register works.
  if (!QFile::copy(manualPath, staging)) return;
  QFile::remove(present.filePath());
  QFile::rename(staging, present.filePath());
}

}  // namespace

QString ShippedDataDirectory(const QString& applicationDir) {
  const QDir shipped(QDir(applicationDir).filePath(QStringLiteral("../share/vidora")));
  return shipped.exists(kSettlementsCsv) ? QDir::cleanPath(shipped.absolutePath()) : QString();
}

QString UserDataDirectory() {
  // GenericDataLocation honours XDG_DATA_HOME and falls back to ~/.local/share.
  return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation)).filePath(QStringLiteral("vidora"));
}

TDataPreparation PrepareDataDirectory(const QString& shippedDir, const QString& manualPath, const QString& dataDir) {
  TDataPreparation result;
  QDir dir(dataDir);
  if (!dir.mkpath(QStringLiteral("."))) Fail(QStringLiteral("Az adatbázis könyvtára nem hozható létre: %1").arg(dataDir));
  // Either table present means the database is there: it is kept as it is, and a missing
  // partner is reported when the program opens the tables.
  if (!dir.exists(QStringLiteral("Irsz.vdbt")) && !dir.exists(QStringLiteral("Irsz_tmp.vdbt"))) {
    try {
      const auto summary = tools::ImportSettlements(ToPath(QDir(shippedDir).filePath(kSettlementsCsv)), ToPath(dataDir));
      result.TablesCreated = true;
      result.Settlements = summary.Totals.Records;
    } catch (const std::exception& e) {
      Fail(QStringLiteral("A települések adatbázisa nem hozható létre itt: %1\n%2").arg(dataDir, QString::fromUtf8(e.what())));
    }
  }
  CopyManual(manualPath, dir);
  return result;
}

void EnterDatabaseDirectory(const QStringList& arguments, const QString& applicationDir) {
  const TCommandLine options = ParseCommandLine(arguments);
  if (options.Action == TCommandLine::TAction::Error) {
    std::fputs(("vidora: " + options.Error + QLatin1Char('\n') + UsageText()).toUtf8().constData(), stderr);
    Fail(options.Error);
  }
  QString directory;
  if (options.Database) {
    directory = *options.Database;
    if (!QFileInfo(directory).isDir()) Fail(QStringLiteral("Az adatbázis könyvtára nem létezik: %1").arg(directory));
  } else if (const QString shipped = ShippedDataDirectory(applicationDir); !shipped.isEmpty()) {
    directory = UserDataDirectory();
    PrepareDataDirectory(shipped, QDir(shipped).filePath(QStringLiteral("../doc/vidora/") + kManual), directory);
  } else {
    return;  // the build-folder run: the working directory is the database
  }
  if (!QDir::setCurrent(directory)) Fail(QStringLiteral("Az adatbázis könyvtára nem nyitható meg: %1").arg(directory));
}

}  // namespace vidora
