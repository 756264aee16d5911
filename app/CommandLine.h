// The program's command-line options. Without options the register opens the database of
// its usual place (see DataLocation.h); the options are for an installed program started from
// a terminal or a menu entry:
//   --database DIR   open the database in DIR (also --database=DIR)
//   --version        print the version and exit
//   --help           print the options and exit
// Qt's own options (-platform, -style …) are taken out by QApplication before these are read.
#pragma once

#include <optional>
#include <QString>
#include <QStringList>

namespace vidora {

struct TCommandLine {
  enum class TAction { Run, Version, Help, Error };
  TAction Action = TAction::Run;
  // The directory given with --database, when given.
  std::optional<QString> Database;
  // What is wrong with the arguments, for TAction::Error.
  QString Error;
};

// Reads the arguments; `arguments` starts with the program's name. --version and --help win
// over everything else; an unknown option or a --database without a directory is an error.
TCommandLine ParseCommandLine(const QStringList& arguments);

// "Vidora <version> (VidoraDB <library version>)".
QString VersionText();
// The options, in the program's language.
QString UsageText();

// Answers --version and --help before the application object exists, so that they work
// without a display. Returns the exit code when the program is to stop here.
std::optional<int> AnswerInformationOptions(int argc, char** argv);

}  // namespace vidora
