#include "CommandLine.h"

#include <cstdio>

#include <vidoradb/vdbapi.h>

namespace vidora {

namespace {

const QString kDatabase = QStringLiteral("--database");

}  // namespace

TCommandLine ParseCommandLine(const QStringList& arguments) {
  TCommandLine result;
  for (qsizetype i = 1; i < arguments.size(); ++i) {
    const QString& arg = arguments[i];
    if (arg == QLatin1String("--version") || arg == QLatin1String("-v")) return {TCommandLine::TAction::Version, {}, {}};
    if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) return {TCommandLine::TAction::Help, {}, {}};
    if (result.Action == TCommandLine::TAction::Error) continue;  // a later --help still wins
    QString value;
    bool hasValue = false;
    if (arg == kDatabase) {
      hasValue = i + 1 < arguments.size();
      if (hasValue) value = arguments[++i];
    } else if (arg.startsWith(kDatabase + QLatin1Char('='))) {
      hasValue = true;
      value = arg.mid(kDatabase.size() + 1);
    } else {
      result.Action = TCommandLine::TAction::Error;
      result.Error = QStringLiteral("Ismeretlen kapcsoló: %1").arg(arg);
      continue;
    }
    if (!hasValue || value.isEmpty()) {
      result.Action = TCommandLine::TAction::Error;
      result.Error = QStringLiteral("A --database kapcsoló után meg kell adni az adatbázis könyvtárát.");
    } else if (result.Database) {
      result.Action = TCommandLine::TAction::Error;
      result.Error = QStringLiteral("A --database kapcsoló csak egyszer adható meg.");
    } else {
      result.Database = value;
    }
  }
  if (result.Action == TCommandLine::TAction::Error) result.Database.reset();
  return result;
}

QString VersionText() {
  return QStringLiteral("Vidora %1 (VidoraDB %2)")
      .arg(QStringLiteral(VIDORA_VERSION), QStringLiteral(VIDORADB_VERSION_STRING));
}

QString UsageText() {
  return QStringLiteral(
      "Használat: vidora [--database KÖNYVTÁR]\n"
      "A magyarországi települések nyilvántartása.\n"
      "\n"
      "  --database KÖNYVTÁR  a KÖNYVTÁR-ban levő adatbázist nyitja meg\n"
      "  --version            kiírja a program változatát\n"
      "  --help               kiírja ezt a leírást\n"
      "\n"
      "Kapcsoló nélkül a felhasználó adatkönyvtárában ($XDG_DATA_HOME/vidora) levő adatbázist\n"
      "nyitja meg, és első indításkor ott hozza létre a települések adataiból.\n");
}

std::optional<int> AnswerInformationOptions(int argc, char** argv) {
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  switch (ParseCommandLine(arguments).Action) {
    case TCommandLine::TAction::Version:
      std::fputs((VersionText() + QLatin1Char('\n')).toUtf8().constData(), stdout);
      return 0;
    case TCommandLine::TAction::Help:
      std::fputs(UsageText().toUtf8().constData(), stdout);
      return 0;
    default:
      // Errors wait for the application: an unknown option may be one of Qt's own.
      return std::nullopt;
  }
}

}  // namespace vidora
