// The user's formats: decimal separator, date and time patterns and the money format, filled
// by the application from its locale and handed explicitly to every conversion that shows a
// value to the user. The engine's own text forms (stored defaults, SQL literals, type
// conversions) use TvuFormats::Invariant(), so they never depend on the user's locale.
//
// Threads: a TvuFormats is a plain value; the formatting functions keep no state and may run
// on any thread. Invariant() is immutable.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vdb {

struct TvuFormats {
  char16_t DecimalSeparator = u'.';
  char16_t ThousandSeparator = u',';
  // Patterns: d, dd, m, mm, yy, yyyy, h, hh, n, nn, s, ss, z, zzz, ampm; text in double or
  // single quotes is copied literally, every other character too.
  std::u16string ShortDateFormat = u"dd.mm.yyyy";
  std::u16string LongTimeFormat = u"hh:nn:ss";
  std::u16string TimeAMString = u"AM";
  std::u16string TimePMString = u"PM";
  std::u16string CurrencyString = u"$";
  // Placement of CurrencyString: 0 "$1", 1 "1$", 2 "$ 1", 3 "1 $". Negative amounts put '-'
  // in front of the whole text.
  std::uint8_t CurrencyFormat = 0;
  std::uint8_t CurrencyDecimals = 2;

  // The engine's invariant settings ('.' as decimal separator, "dd.mm.yyyy").
  static const TvuFormats& Invariant();
};

// Shortest text that reads back to the same double, with AFormats.DecimalSeparator; "NAN",
// "INF" and "-INF" for the special values.
std::u16string vuFormatFloat(double value, const TvuFormats& formats);

// Parses a decimal number (optional sign, digits, decimal separator of AFormats, optional
// exponent; surrounding blanks allowed). Returns false when the text is not such a number.
bool vuParseFloat(std::u16string_view text, const TvuFormats& formats, double& value);

// Formats a date and time of day by APattern (see TvuFormats). AMsOfDay is 0..86399999.
std::u16string vuFormatDateTime(std::u16string_view pattern, int year, int month, int day,
                                std::int64_t msOfDay, const TvuFormats& formats);

// Pattern of the engine's date display setting used by the built-in date functions:
// 0 day.month.year (4-digit year), 1 d.mm.yy, 2 m/d/yy, 3 year-month-day, -1 the user's
// ShortDateFormat; any other setting gives the pattern of 0.
std::u16string vuDateDisplayPattern(int setting, const TvuFormats& formats);

// Money text: the amount rounded to CurrencyDecimals, thousands grouped, currency placed by
// CurrencyFormat.
std::u16string vuFormatMoney(double value, const TvuFormats& formats);

// ASCII helpers for engine texts built from numbers.
std::u16string vuAsciiToU16(std::string_view ascii);
std::u16string vuIntToStr(std::int64_t value);

}  // namespace vdb
