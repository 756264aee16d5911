#include "Startup.h"

#include <QApplication>
#include <QFile>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "BRFormat.h"
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

namespace {

// Qt's long time pattern may carry the time zone ("t"), which no listing prints.
QString WithoutTimeZone(QString pattern) {
  pattern.remove(QLatin1Char('t'));
  return pattern.trimmed();
}

}  // namespace

void ApplyUserFormats(const QLocale& locale) {
  br::TBRFormatSettings& formats = br::UserFormats();
  if (!locale.decimalPoint().isEmpty()) formats.DecimalSeparator = locale.decimalPoint().at(0);
  if (!locale.groupSeparator().isEmpty()) formats.ThousandSeparator = locale.groupSeparator().at(0);
  formats.ShortDateFormat = locale.dateFormat(QLocale::ShortFormat);
  formats.LongTimeFormat = WithoutTimeZone(locale.timeFormat(QLocale::LongFormat));
  formats.ShortTimeFormat = locale.timeFormat(QLocale::ShortFormat);
  formats.CurrencyString = locale.currencySymbol();
  // Where the symbol stands is read from how the locale writes an amount.
  const QString sample = locale.toCurrencyString(1.0);
  formats.CurrencyAfter = !sample.isEmpty() && !sample.startsWith(formats.CurrencyString);
}

}  // namespace vidora
