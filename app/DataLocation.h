// Where the register keeps its database. The program opens the database of its working
// directory; before the windows are made, the start-up enters the right one:
// - with --database DIR: that directory, which must exist;
// - an installed program (its shipped files in <prefix>/share/vidora beside <prefix>/bin): the
//   user's data directory $XDG_DATA_HOME/vidora (~/.local/share/vidora), where the first start
//   makes the settlement tables from the shipped data set and the manual is copied. An existing
//   table is never replaced;
// - otherwise (the program run from its build folder): the directory it was started in.
#pragma once

#include <QString>
#include <QStringList>

namespace vidora {

struct TDataPreparation {
  // Whether the settlement tables were made now, and how many settlements they hold then.
  bool TablesCreated = false;
  long long Settlements = 0;
};

// The shipped files of an installed program whose executable is in `applicationDir`; empty
// when there are none (the program runs from its build folder).
QString ShippedDataDirectory(const QString& applicationDir);

// The user's database directory of the installed program ($XDG_DATA_HOME/vidora).
QString UserDataDirectory();

// Makes `dataDir` ready: creates it when missing, makes the settlement tables from
// `shippedDir`/settlements.csv when neither of them is there, and copies the user manual from
// `manualPath` when it is missing or older. Throws std::runtime_error with the reason, in the
// program's language, when the directory or the tables cannot be made.
TDataPreparation PrepareDataDirectory(const QString& shippedDir, const QString& manualPath, const QString& dataDir);

// Chooses the database directory for `arguments` (starting with the program's name; Qt's own
// options removed) and makes it the working directory. Prints errors of the options on
// stderr and throws std::runtime_error with the reason when the program cannot start.
void EnterDatabaseDirectory(const QStringList& arguments, const QString& applicationDir);

}  // namespace vidora
