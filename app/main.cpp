// The settlement register's entry: style, title, translations, the instances in their
// order, the main window, the message loop.
#include <QApplication>
#include <QFile>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "widgets/MessageBoxes.h"
#include "Shell.h"
#include "Unit1.h"
#include "Vidora.h"

namespace {

// The "Iceberg Classico" look: a style sheet stored in the program under "ICEBERGCLASSICO".
void ApplyVisualStyle(QApplication& app) {
  QFile style(QStringLiteral(":/styles/ICEBERGCLASSICO"));
  if (!style.open(QIODevice::ReadOnly | QIODevice::Text)) {
    tk::ShowMessageBox(nullptr, QMessageBox::Critical, QStringLiteral("Vidora"),
                       QStringLiteral("Cannot load the visual style \"ICEBERGCLASSICO\": %1").arg(style.errorString()));
    return;
  }
  app.setStyleSheet(QString::fromUtf8(style.readAll()));
}

// Qt's own texts (standard buttons "Igen", "Nem") in Hungarian. Missing translations leave
// them in English: not worth stopping for.
void LoadTranslations(QApplication& app, QTranslator& translator) {
  QLocale::setDefault(QLocale(QLocale::Hungarian, QLocale::Hungary));
  if (translator.load(QLocale(QLocale::Hungarian), QStringLiteral("qtbase"), QStringLiteral("_"),
                      QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    app.installTranslator(&translator);
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QTranslator translator;
  LoadTranslations(app, translator);
  ApplyVisualStyle(app);
  QCoreApplication::setApplicationName(QStringLiteral("Vidora"));

  vidora::TDesktopShell shell;
  vidora::TVidora vidora(shell);
  if (!tk::Guarded(nullptr, [&] { vidora.CreateInstances(); })) return 1;
  vidora.Form1()->show();
  // Opening the tables on the first show may have failed and been reported already.
  if (vidora.TerminateRequested()) return 1;
  return app.exec();
}
