#include "BRFormat.h"

#include <QRegularExpression>
#include <QStringList>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <string>

namespace br {

namespace {

QString Grouped(const QString& digits, QChar separator) {
  QString out;
  const int n = digits.size();
  for (int i = 0; i < n; ++i) {
    if (i > 0 && (n - i) % 3 == 0) out += separator;
    out += digits[i];
  }
  return out;
}

// Splits the mask into its ";" sections, quotes respected.
QStringList Sections(const QString& mask) {
  QStringList sections(QString{});
  QChar quote;
  for (const QChar c : mask) {
    if (!quote.isNull()) {
      if (c == quote) quote = QChar();
    } else if (c == u'"' || c == u'\'') {
      quote = c;
    } else if (c == u';') {
      sections << QString();
      continue;
    }
    sections.last() += c;
  }
  return sections;
}

}  // namespace

TBRFormatSettings& UserFormats() {
  static TBRFormatSettings formats;
  return formats;
}

QString FloatToStr(double value, const TBRFormatSettings& formats) {
  if (std::isnan(value)) return QStringLiteral("NAN");
  if (std::isinf(value)) return value > 0 ? QStringLiteral("INF") : QStringLiteral("-INF");
  char buffer[64];
  const auto r = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
  std::string text(buffer, r.ptr);
  // Drop the zeros that %g-style formatting may leave after the point.
  if (text.find('e') == std::string::npos && text.find('.') != std::string::npos) {
    while (text.back() == '0') text.pop_back();
    if (text.back() == '.') text.pop_back();
  }
  QString out = QString::fromStdString(text);
  out.replace(u'e', u'E');
  out.replace(u'.', formats.DecimalSeparator);
  return out;
}

bool FormatFloat(const QString& mask, double value, const TBRFormatSettings& formats, QString& result) {
  if (!std::isfinite(value)) return false;
  const QStringList sections = Sections(mask);
  if (sections.size() > 3) return false;
  QString section = sections[0];
  bool negativeSection = false;
  if (value < 0 && sections.size() >= 2 && !sections[1].isEmpty()) {
    section = sections[1];
    negativeSection = true;
  } else if (value == 0 && sections.size() >= 3 && !sections[2].isEmpty()) {
    section = sections[2];
  }
  if (section.isEmpty()) {
    result = FloatToStr(value, formats);
    return true;
  }
  // Read the digit placeholders of the section.
  int intZeros = 0, intDigits = 0, fracZeros = 0, fracDigits = 0;
  bool point = false, grouping = false, exponent = false, expSignAlways = false;
  int expDigits = 0;
  QChar quote;
  for (int i = 0; i < section.size(); ++i) {
    const QChar c = section[i];
    if (!quote.isNull()) {
      if (c == quote) quote = QChar();
      continue;
    }
    if (c == u'"' || c == u'\'') {
      quote = c;
    } else if (c == u'0' || c == u'#') {
      if (exponent) {
        ++expDigits;
      } else if (point) {
        ++fracDigits;
        if (c == u'0') fracZeros = fracDigits;
      } else {
        ++intDigits;
        if (c == u'0' || intZeros > 0) ++intZeros;
      }
    } else if (c == u'.') {
      point = true;
    } else if (c == u',') {
      if (!point) grouping = true;
    } else if ((c == u'E' || c == u'e') && !exponent && i + 1 < section.size() &&
               (section[i + 1] == u'+' || section[i + 1] == u'-')) {
      exponent = true;
      expSignAlways = section[i + 1] == u'+';
      ++i;
    }
  }
  if (!quote.isNull()) return false;
  if (intDigits == 0 && fracDigits == 0) {
    // A mask of literals only prints them.
    QString out;
    for (const QChar c : section)
      if (c != u'"' && c != u'\'') out += c;
    result = out;
    return true;
  }
  double magnitude = std::fabs(value);
  int exp10 = 0;
  if (exponent && magnitude != 0) {
    exp10 = static_cast<int>(std::floor(std::log10(magnitude))) - (std::max(intDigits, 1) - 1);
    magnitude /= std::pow(10.0, exp10);
  }
  char buffer[400];
  std::snprintf(buffer, sizeof buffer, "%.*f", fracDigits, magnitude);
  QString number = QString::fromLatin1(buffer);
  QString intPart = number.section(u'.', 0, 0);
  QString fracPart = fracDigits > 0 ? number.section(u'.', 1, 1) : QString();
  while (fracPart.size() > fracZeros && fracPart.endsWith(u'0')) fracPart.chop(1);
  if (intPart == QLatin1String("0") && intZeros == 0) intPart.clear();
  while (intPart.size() < intZeros) intPart.prepend(u'0');
  if (grouping) intPart = Grouped(intPart, formats.ThousandSeparator);
  QString digits = intPart;
  if (!fracPart.isEmpty()) digits += formats.DecimalSeparator + fracPart;
  if (exponent) {
    QString e = QString::number(std::abs(exp10)).rightJustified(std::max(expDigits, 1), u'0');
    digits += QStringLiteral("E") + (exp10 < 0 ? QStringLiteral("-") : (expSignAlways ? QStringLiteral("+") : QString())) + e;
  }
  const bool shownNegative = value < 0 && !negativeSection && (digits.contains(QRegularExpression(QStringLiteral("[1-9]"))));
  // Put the number where the first placeholder stands, literals around it.
  QString out;
  bool placed = false;
  quote = QChar();
  for (int i = 0; i < section.size(); ++i) {
    const QChar c = section[i];
    if (!quote.isNull()) {
      if (c == quote)
        quote = QChar();
      else
        out += c;
      continue;
    }
    if (c == u'"' || c == u'\'') {
      quote = c;
    } else if (c == u'0' || c == u'#' || c == u'.' || c == u',') {
      if (!placed) {
        out += (shownNegative ? QStringLiteral("-") : QString()) + digits;
        placed = true;
      }
    } else if ((c == u'E' || c == u'e') && i + 1 < section.size() && (section[i + 1] == u'+' || section[i + 1] == u'-')) {
      ++i;
      while (i + 1 < section.size() && (section[i + 1] == u'0' || section[i + 1] == u'#')) ++i;
    } else {
      out += c;
    }
  }
  result = out;
  return true;
}

QString FormatMoney(double value, const TBRFormatSettings& formats) {
  QString text;
  FormatFloat(QStringLiteral("#,##0.") + QString(formats.CurrencyDecimals, u'0'), std::fabs(value), formats, text);
  if (formats.CurrencyDecimals == 0) text = text.section(formats.DecimalSeparator, 0, 0);
  text = formats.CurrencyAfter ? text + u' ' + formats.CurrencyString : formats.CurrencyString + text;
  return value < 0 ? QStringLiteral("-") + text : text;
}

}  // namespace br
