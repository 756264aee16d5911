// Number, date/time and money text under a TvuFormats. Uses to_chars/from_chars, never the
// C library's locale-dependent functions (the process locale is the user's once the GUI runs).
#include "types/vuFormats.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace vdb {

const TvuFormats& TvuFormats::Invariant() {
  static const TvuFormats invariant;
  return invariant;
}

std::u16string vuAsciiToU16(std::string_view ascii) { return std::u16string(ascii.begin(), ascii.end()); }

std::u16string vuIntToStr(std::int64_t value) {
  char buf[24];
  auto res = std::to_chars(buf, buf + sizeof buf, value);
  return vuAsciiToU16(std::string_view(buf, static_cast<std::size_t>(res.ptr - buf)));
}

std::u16string vuFormatFloat(double value, const TvuFormats& formats) {
  if (std::isnan(value)) return u"NAN";
  if (std::isinf(value)) return value < 0 ? u"-INF" : u"INF";
  char buf[40];
  auto res = std::to_chars(buf, buf + sizeof buf, value);
  std::u16string out = vuAsciiToU16(std::string_view(buf, static_cast<std::size_t>(res.ptr - buf)));
  for (auto& c : out) {
    if (c == u'.') c = formats.DecimalSeparator;
    else if (c == u'e') c = u'E';
  }
  return out;
}

bool vuParseFloat(std::u16string_view text, const TvuFormats& formats, double& value) {
  while (!text.empty() && text.front() == u' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == u' ') text.remove_suffix(1);
  if (text.empty() || text.size() > 400) return false;
  std::string ascii;
  ascii.reserve(text.size());
  bool seenSep = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char16_t c = text[i];
    if (c == formats.DecimalSeparator && !seenSep) {
      ascii += '.';
      seenSep = true;
    } else if ((c >= u'0' && c <= u'9') || c == u'e' || c == u'E' || c == u'-' || c == u'+') {
      ascii += static_cast<char>(c);
    } else {
      return false;
    }
  }
  const char* first = ascii.data();
  const char* last = ascii.data() + ascii.size();
  if (*first == '+') ++first;  // from_chars takes no leading '+'
  double v = 0;
  auto res = std::from_chars(first, last, v, std::chars_format::general);
  if (res.ec != std::errc() || res.ptr != last) return false;
  value = v;
  return true;
}

namespace {

void AppendNumber(std::u16string& out, std::int64_t v, int width) {
  std::u16string digits = vuIntToStr(v);
  while (static_cast<int>(digits.size()) < width) digits.insert(digits.begin(), u'0');
  out += digits;
}

// Length of the run of ACh starting at AI (case-insensitive for ASCII letters).
std::size_t RunLength(std::u16string_view p, std::size_t i) {
  auto lower = [](char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c; };
  std::size_t n = 0;
  while (i + n < p.size() && lower(p[i + n]) == lower(p[i])) ++n;
  return n;
}

bool StartsWithNoCase(std::u16string_view p, std::size_t i, std::u16string_view word) {
  if (i + word.size() > p.size()) return false;
  for (std::size_t k = 0; k < word.size(); ++k) {
    char16_t c = p[i + k];
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
    if (c != word[k]) return false;
  }
  return true;
}

}  // namespace

std::u16string vuFormatDateTime(std::u16string_view pattern, int year, int month, int day,
                                std::int64_t msOfDay, const TvuFormats& formats) {
  const std::int64_t hour = msOfDay / 3600000;
  const std::int64_t minute = msOfDay / 60000 % 60;
  const std::int64_t second = msOfDay / 1000 % 60;
  const std::int64_t ms = msOfDay % 1000;
  const bool ampm = [&] {
    for (std::size_t i = 0; i < pattern.size(); ++i)
      if (StartsWithNoCase(pattern, i, u"ampm")) return true;
    return false;
  }();
  std::u16string out;
  std::size_t i = 0;
  while (i < pattern.size()) {
    const char16_t c = pattern[i];
    const char16_t lc = (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
    if (c == u'"' || c == u'\'') {
      std::size_t end = pattern.find(c, i + 1);
      if (end == std::u16string_view::npos) end = pattern.size();
      out.append(pattern.substr(i + 1, end - i - 1));
      i = end + 1;
      continue;
    }
    if (StartsWithNoCase(pattern, i, u"ampm")) {
      out += hour < 12 ? formats.TimeAMString : formats.TimePMString;
      i += 4;
      continue;
    }
    const std::size_t run = RunLength(pattern, i);
    switch (lc) {
      case u'y':
        if (run >= 3) AppendNumber(out, year, 4);
        else AppendNumber(out, year % 100, 2);
        break;
      case u'm':
        AppendNumber(out, month, run >= 2 ? 2 : 1);
        break;
      case u'd':
        AppendNumber(out, day, run >= 2 ? 2 : 1);
        break;
      case u'h': {
        std::int64_t h = hour;
        if (ampm) h = (h % 12 == 0) ? 12 : h % 12;
        AppendNumber(out, h, run >= 2 ? 2 : 1);
        break;
      }
      case u'n':
        AppendNumber(out, minute, run >= 2 ? 2 : 1);
        break;
      case u's':
        AppendNumber(out, second, run >= 2 ? 2 : 1);
        break;
      case u'z':
        AppendNumber(out, ms, run >= 3 ? 3 : 1);
        break;
      default:
        out.append(pattern.substr(i, run));
        break;
    }
    i += run;
  }
  return out;
}

std::u16string vuDateDisplayPattern(int setting, const TvuFormats& formats) {
  switch (setting) {
    case -1: return formats.ShortDateFormat;
    case 1: return u"d\".\"mm\".\"yy";
    case 2: return u"m\"/\"d\"/\"yy";
    case 3: return u"yyyy\"-\"mm\"-\"dd";
    default: return u"dd\".\"mm\".\"yyyy";
  }
}

std::u16string vuFormatMoney(double value, const TvuFormats& formats) {
  const bool negative = value < 0;
  const double scale = std::pow(10.0, formats.CurrencyDecimals);
  const double rounded = std::round(std::fabs(value) * scale);
  const auto whole = static_cast<std::int64_t>(std::floor(rounded / scale));
  const auto frac = static_cast<std::int64_t>(rounded - static_cast<double>(whole) * scale);
  std::u16string digits = vuIntToStr(whole);
  std::u16string grouped;
  for (std::size_t k = 0; k < digits.size(); ++k) {
    if (k > 0 && (digits.size() - k) % 3 == 0) grouped += formats.ThousandSeparator;
    grouped += digits[k];
  }
  if (formats.CurrencyDecimals > 0) {
    grouped += formats.DecimalSeparator;
    std::u16string f;
    AppendNumber(f, frac, formats.CurrencyDecimals);
    grouped += f;
  }
  std::u16string out;
  switch (formats.CurrencyFormat) {
    case 1: out = grouped + formats.CurrencyString; break;
    case 2: out = formats.CurrencyString + u" " + grouped; break;
    case 3: out = grouped + u" " + formats.CurrencyString; break;
    default: out = formats.CurrencyString + grouped; break;
  }
  return negative && rounded != 0 ? u"-" + out : out;
}

}  // namespace vdb
