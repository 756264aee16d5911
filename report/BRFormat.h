// The user's formats as the report engine uses them (filled by the application from the
// system locale; invariant by default) and the number formatting of report texts: the
// general float-to-text conversion, mask-based number formatting and the money format.
#pragma once

#include <QDateTime>
#include <QString>

namespace br {

struct TBRFormatSettings {
  QChar DecimalSeparator = u'.';
  QChar ThousandSeparator = u',';
  QString ShortDateFormat = QStringLiteral("yyyy-MM-dd");
  QString LongTimeFormat = QStringLiteral("HH:mm:ss");
  QString ShortTimeFormat = QStringLiteral("HH:mm");
  QString CurrencyString = QStringLiteral("$");
  int CurrencyDecimals = 2;
  // Currency after the amount ("1 234,00 Ft") or before it ("$1,234.00").
  bool CurrencyAfter = false;
};

// The user's formats of this process: the application fills them from the system locale at
// start; until then they are invariant.
TBRFormatSettings& UserFormats();

// 15 significant digits, the shortest form that shows them, the user's decimal separator;
// exponent form only for very large or small values.
QString FloatToStr(double value, const TBRFormatSettings& formats);

// Formats a number with a mask: sections for positive, negative and zero values separated by
// ";"; "0" a digit always shown, "#" a digit shown when significant, "." the decimal point,
// "," (anywhere before the point) thousand grouping, "E+"/"E-" an exponent, text in quotes
// and other characters literally. Returns false for a mask it cannot apply.
bool FormatFloat(const QString& mask, double value, const TBRFormatSettings& formats, QString& result);

// Money: the amount with grouping, the currency's decimals and the currency string.
QString FormatMoney(double value, const TBRFormatSettings& formats);

}  // namespace br
