// The settlement register's entry: style, title, translations, the instances in their
// order, the main window, the message loop.
#include <QApplication>
#include <QTranslator>

#include "Shell.h"
#include "Startup.h"
#include "Unit1.h"
#include "Vidora.h"
#include "widgets/MessageBoxes.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QTranslator translator;
  vidora::LoadTranslations(app, translator);
  vidora::ApplyVisualStyle(app);
  QCoreApplication::setApplicationName(QStringLiteral("Vidora"));
  // The program ends only through TVidora::Terminate, which the main window's close calls too.
  QApplication::setQuitOnLastWindowClosed(false);

  vidora::TDesktopShell shell;
  vidora::TVidora vidora(shell);
  if (!tk::Guarded(nullptr, [&] { vidora.CreateInstances(); })) return 1;
  vidora.Form1()->show();
  // Opening the tables on the first show may have failed and been reported already.
  if (vidora.TerminateRequested()) return 1;
  return app.exec();
}
