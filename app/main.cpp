// The settlement register's entry: style, title, translations, the instances in their
// order, the main window, the message loop.
#include <QApplication>
#include <QLocale>
#include <QTranslator>

#include "CommandLine.h"
#include "DataLocation.h"
#include "Shell.h"
#include "Startup.h"
#include "Unit1.h"
#include "Vidora.h"
#include "widgets/MessageBoxes.h"

int main(int argc, char** argv) {
  if (const auto exitCode = vidora::AnswerInformationOptions(argc, argv)) return *exitCode;
  QApplication app(argc, argv);
  QTranslator translator;
  vidora::LoadTranslations(app, translator);
  vidora::ApplyVisualStyle(app);
  vidora::ApplyUserFormats(QLocale::system());
  QCoreApplication::setApplicationName(QStringLiteral("Vidora"));
  // The program ends only through TVidora::Terminate, which the main window's close calls too.
  QApplication::setQuitOnLastWindowClosed(false);
  // The database is the working directory: the options or the installed layout choose it.
  if (!tk::Guarded(nullptr, [&] { vidora::EnterDatabaseDirectory(app.arguments(), app.applicationDirPath()); }))
    return 1;

  vidora::TDesktopShell shell;
  vidora::TVidora vidora(shell);
  if (!tk::Guarded(nullptr, [&] { vidora.CreateInstances(); })) return 1;
  vidora.Form1()->show();
  // Opening the tables on the first show may have failed and been reported already.
  if (vidora.TerminateRequested()) return 1;
  return app.exec();
}
