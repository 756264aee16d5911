// The type-checked message formatter and the UTF conversions of message texts.
#include "base/VdbFormat.h"

#include <array>
#include <charconv>
#include <cstddef>

namespace vdb {

namespace {

constexpr char16_t kReplacement = 0xFFFD;
// Larger widths or precisions only come from a broken template; refusing them keeps a bad
// template from allocating without bound.
constexpr std::size_t kMaxFieldSize = 4096;

struct TPlaceholder {
  bool LeftAlign = false;
  std::size_t Width = 0;
  std::optional<std::size_t> Precision;
  char16_t Conversion = 0;
};

bool IsDigit(char16_t c) { return c >= u'0' && c <= u'9'; }

// Reads a run of decimal digits at `pos`; false when the number exceeds kMaxFieldSize.
bool ReadNumber(std::u16string_view s, std::size_t& pos, std::size_t& value) {
  value = 0;
  while (pos < s.size() && IsDigit(s[pos])) {
    value = value * 10 + static_cast<std::size_t>(s[pos] - u'0');
    if (value > kMaxFieldSize) return false;
    ++pos;
  }
  return true;
}

// Parses the placeholder after a '%' at `pos`; on success `pos` is behind the conversion.
bool ParsePlaceholder(std::u16string_view s, std::size_t& pos, TPlaceholder& ph) {
  if (pos < s.size() && s[pos] == u'-') {
    ph.LeftAlign = true;
    ++pos;
  }
  if (!ReadNumber(s, pos, ph.Width)) return false;
  if (pos < s.size() && s[pos] == u'.') {
    ++pos;
    std::size_t precision = 0;
    if (!ReadNumber(s, pos, precision)) return false;
    ph.Precision = precision;
  }
  if (pos >= s.size()) return false;
  char16_t c = s[pos++];
  if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  if (c != u's' && c != u'd' && c != u'x' && c != u'f') return false;
  ph.Conversion = c;
  return true;
}

std::u16string Widen(std::string_view ascii) { return std::u16string(ascii.begin(), ascii.end()); }

// Digits of a whole number with at least `minDigits` digits; the sign stays in front.
std::u16string WholeNumber(std::int64_t v, bool hex, std::size_t minDigits) {
  std::array<char, 32> buf{};
  std::to_chars_result r;
  bool negative = false;
  if (hex) {
    r = std::to_chars(buf.data(), buf.data() + buf.size(), static_cast<std::uint64_t>(v), 16);
  } else {
    negative = v < 0;
    // The magnitude as unsigned, so that the smallest int64 has one too.
    const std::uint64_t magnitude =
        negative ? ~static_cast<std::uint64_t>(v) + 1 : static_cast<std::uint64_t>(v);
    r = std::to_chars(buf.data(), buf.data() + buf.size(), magnitude, 10);
  }
  std::u16string digits =
      Widen(std::string_view(buf.data(), static_cast<std::size_t>(r.ptr - buf.data())));
  if (hex) {
    for (char16_t& c : digits) {
      if (c >= u'a' && c <= u'f') c = static_cast<char16_t>(c - u'a' + u'A');
    }
  }
  if (digits.size() < minDigits) digits.insert(0, minDigits - digits.size(), u'0');
  if (negative) digits.insert(digits.begin(), u'-');
  return digits;
}

std::u16string FixedNumber(double v, std::size_t precision) {
  // 309 integer digits of the largest double, a sign, a point and the decimals.
  std::array<char, 320 + kMaxFieldSize> buf{};
  const auto r = std::to_chars(buf.data(), buf.data() + buf.size(), v, std::chars_format::fixed,
                               static_cast<int>(precision));
  return Widen(std::string_view(buf.data(), static_cast<std::size_t>(r.ptr - buf.data())));
}

// At most `maxUnits` code units of `s`, never ending inside a surrogate pair.
std::u16string_view CutText(std::u16string_view s, std::size_t maxUnits) {
  if (s.size() <= maxUnits) return s;
  std::size_t n = maxUnits;
  if (n > 0 && s[n - 1] >= 0xD800 && s[n - 1] <= 0xDBFF) --n;
  return s.substr(0, n);
}

// The text of one placeholder, or none when the argument is of the wrong kind.
std::optional<std::u16string> Convert(const TPlaceholder& ph, const TVdbFmtArg& arg) {
  const TVdbFmtArg::Value& v = arg.value();
  switch (ph.Conversion) {
    case u's':
      if (const auto* s = std::get_if<std::u16string>(&v)) {
        return std::u16string(ph.Precision ? CutText(*s, *ph.Precision) : std::u16string_view(*s));
      }
      return std::nullopt;
    case u'd':
    case u'x':
      if (const auto* n = std::get_if<std::int64_t>(&v)) {
        return WholeNumber(*n, ph.Conversion == u'x', ph.Precision.value_or(0));
      }
      return std::nullopt;
    case u'f':
      if (const auto* d = std::get_if<double>(&v)) return FixedNumber(*d, ph.Precision.value_or(2));
      return std::nullopt;
    default:
      return std::nullopt;
  }
}

void AppendCodePoint(std::u16string& out, char32_t c) {
  if (c < 0x10000) {
    out += static_cast<char16_t>(c);
  } else {
    c -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (c >> 10));
    out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
  }
}

}  // namespace

TVdbFmtArg::TVdbFmtArg(std::string_view ascii) : FValue(VdbUtf8ToUtf16(ascii)) {}

std::optional<std::u16string> VdbFormat(std::u16string_view pattern, const TVdbFmtArgs& args) {
  std::u16string out;
  out.reserve(pattern.size() + 16);
  std::size_t nextArg = 0;
  std::size_t pos = 0;
  while (pos < pattern.size()) {
    const std::size_t percent = pattern.find(u'%', pos);
    if (percent == std::u16string_view::npos) {
      out.append(pattern.substr(pos));
      break;
    }
    out.append(pattern.substr(pos, percent - pos));
    pos = percent + 1;
    if (pos < pattern.size() && pattern[pos] == u'%') {
      out += u'%';
      ++pos;
      continue;
    }
    TPlaceholder ph;
    if (!ParsePlaceholder(pattern, pos, ph)) return std::nullopt;
    if (nextArg >= args.size()) return std::nullopt;
    std::optional<std::u16string> text = Convert(ph, args[nextArg++]);
    if (!text) return std::nullopt;
    if (text->size() < ph.Width) {
      const std::size_t fill = ph.Width - text->size();
      if (ph.LeftAlign) {
        text->append(fill, u' ');
      } else {
        text->insert(0, fill, u' ');
      }
    }
    out += *text;
  }
  return out;
}

std::u16string VdbUtf8ToUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  std::size_t i = 0;
  while (i < utf8.size()) {
    const auto b0 = static_cast<unsigned char>(utf8[i]);
    if (b0 < 0x80) {
      out += static_cast<char16_t>(b0);
      ++i;
      continue;
    }
    std::size_t extra = 0;
    char32_t c = 0;
    char32_t minimum = 0;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
      extra = 1;
      c = b0 & 0x1F;
      minimum = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
      extra = 2;
      c = b0 & 0x0F;
      minimum = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
      extra = 3;
      c = b0 & 0x07;
      minimum = 0x10000;
    } else {
      out += kReplacement;
      ++i;
      continue;
    }
    std::size_t j = 1;
    for (; j <= extra && i + j < utf8.size(); ++j) {
      const auto b = static_cast<unsigned char>(utf8[i + j]);
      if ((b & 0xC0) != 0x80) break;
      c = (c << 6) | (b & 0x3F);
    }
    if (j <= extra || c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      // Skip the lead byte and the continuation bytes that belonged to it.
      out += kReplacement;
      i += j;
      continue;
    }
    AppendCodePoint(out, c);
    i += extra + 1;
  }
  return out;
}

std::string VdbUtf16ToUtf8(std::u16string_view s) {
  std::string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size(); ++i) {
    char32_t c = s[i];
    const bool pair = c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
                      s[i + 1] <= 0xDFFF;
    if (pair) {
      c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = kReplacement;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

}  // namespace vdb
