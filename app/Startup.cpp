#include "Startup.h"

#include <QApplication>
#include <QFile>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "widgets/MessageBoxes.h"

namespace vidora {

bool ApplyVisualStyle(QApplication& app) {
  QFile style(QStringLiteral(":/styles/ICEBERGCLASSICO"));
  if (!style.open(QIODevice::ReadOnly | QIODevice::Text)) {
    tk::ShowMessageBox(nullptr, QMessageBox::Critical, QStringLiteral("Vidora"),
                       QStringLiteral("Cannot load the visual style \"ICEBERGCLASSICO\": %1").arg(style.errorString()));
    return false;
  }
  app.setStyleSheet(QString::fromUtf8(style.readAll()));
  return true;
}

bool LoadTranslations(QApplication& app, QTranslator& translator) {
  QLocale::setDefault(QLocale(QLocale::Hungarian, QLocale::Hungary));
  if (!translator.load(QLocale(QLocale::Hungarian), QStringLiteral("qtbase"), QStringLiteral("_"),
                       QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
    return false;
  return app.installTranslator(&translator);
}

}  // namespace vidora
