#include "Text.h"

#include <unicode/uchar.h>
#include <unicode/ucnv.h>
#include <unicode/ucnv_err.h>
#include <unicode/utf16.h>
#include <unicode/utf8.h>

#include <stdexcept>

namespace vdbsql {

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  const auto* s = reinterpret_cast<const std::uint8_t*>(text.data());
  const auto length = static_cast<std::int32_t>(text.size());
  for (std::int32_t i = 0; i < length;) {
    UChar32 c;
    U8_NEXT(s, i, length, c);
    if (c < 0) c = 0xFFFD;
    if (c > 0xFFFF) {
      out += static_cast<char16_t>(U16_LEAD(c));
      out += static_cast<char16_t>(U16_TRAIL(c));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  return out;
}

bool Utf8ToUtf16Strict(std::string_view text, std::u16string& out, std::size_t& badChar) {
  out.clear();
  badChar = 0;
  const auto* s = reinterpret_cast<const std::uint8_t*>(text.data());
  const auto length = static_cast<std::int32_t>(text.size());
  std::size_t chars = 0;
  for (std::int32_t i = 0; i < length;) {
    UChar32 c;
    U8_NEXT(s, i, length, c);
    ++chars;
    if (c < 0) {
      badChar = chars;
      return false;
    }
    if (c > 0xFFFF) {
      out += static_cast<char16_t>(U16_LEAD(c));
      out += static_cast<char16_t>(U16_TRAIL(c));
    } else {
      out += static_cast<char16_t>(c);
    }
  }
  return true;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  const auto length = static_cast<std::int32_t>(text.size());
  for (std::int32_t i = 0; i < length;) {
    UChar32 c;
    U16_NEXT(text.data(), i, length, c);
    if (U_IS_SURROGATE(c)) c = 0xFFFD;
    std::uint8_t buf[4];
    std::int32_t n = 0;
    [[maybe_unused]] UBool error = false;
    U8_APPEND(buf, n, 4, c, error);
    out.append(reinterpret_cast<const char*>(buf), static_cast<std::size_t>(n));
  }
  return out;
}

std::size_t DisplayWidth(std::string_view utf8) {
  const auto* s = reinterpret_cast<const std::uint8_t*>(utf8.data());
  const auto length = static_cast<std::int32_t>(utf8.size());
  std::size_t width = 0;
  for (std::int32_t i = 0; i < length;) {
    UChar32 c;
    U8_NEXT(s, i, length, c);
    if (c < 0) {
      ++width;
      continue;
    }
    const std::int8_t category = u_charType(c);
    if (category == U_NON_SPACING_MARK || category == U_ENCLOSING_MARK || category == U_FORMAT_CHAR) continue;
    const auto eaw = static_cast<UEastAsianWidth>(u_getIntPropertyValue(c, UCHAR_EAST_ASIAN_WIDTH));
    width += (eaw == U_EA_WIDE || eaw == U_EA_FULLWIDTH) ? 2 : 1;
  }
  return width;
}

std::size_t CodePoints(std::u16string_view text) {
  std::size_t n = 0;
  for (std::size_t i = 0; i < text.size(); ++i)
    if (!U16_IS_TRAIL(text[i]) || i == 0 || !U16_IS_LEAD(text[i - 1])) ++n;
  return n;
}

struct TCodePage::TImpl {
  UConverter* Converter = nullptr;
};

TCodePage::TCodePage(int codePage) : FNumber(codePage), FImpl(std::make_unique<TImpl>()) {
  UErrorCode status = U_ZERO_ERROR;
  FImpl->Converter = ucnv_open(("windows-" + std::to_string(codePage)).c_str(), &status);
  if (U_FAILURE(status) || FImpl->Converter == nullptr)
    throw std::runtime_error("code page " + std::to_string(codePage) + " is not available");
  // Refuse, never substitute: a character that does not fit must be reported.
  status = U_ZERO_ERROR;
  ucnv_setFromUCallBack(FImpl->Converter, UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
}

TCodePage::~TCodePage() { ucnv_close(FImpl->Converter); }

std::u16string TCodePage::Decode(const std::uint8_t* bytes, std::size_t size) const {
  if (size == 0) return {};
  std::u16string out(size * 2 + 2, u'\0');
  UErrorCode status = U_ZERO_ERROR;
  ucnv_reset(FImpl->Converter);
  const std::int32_t n = ucnv_toUChars(FImpl->Converter, reinterpret_cast<UChar*>(out.data()),
                                       static_cast<std::int32_t>(out.size()), reinterpret_cast<const char*>(bytes),
                                       static_cast<std::int32_t>(size), &status);
  if (U_FAILURE(status)) return std::u16string(size, u'\uFFFD');
  out.resize(static_cast<std::size_t>(n));
  return out;
}

std::optional<std::string> TCodePage::Encode(std::u16string_view text, std::size_t& badChar) const {
  badChar = 0;
  std::string out;
  out.reserve(text.size());
  // Character by character, so that a refusal can name the character.
  std::size_t chars = 0;
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t units = U16_IS_LEAD(text[i]) && i + 1 < text.size() && U16_IS_TRAIL(text[i + 1]) ? 2 : 1;
    ++chars;
    char buf[8];
    UErrorCode status = U_ZERO_ERROR;
    ucnv_reset(FImpl->Converter);
    const std::int32_t n = ucnv_fromUChars(FImpl->Converter, buf, sizeof buf,
                                           reinterpret_cast<const UChar*>(text.data() + i),
                                           static_cast<std::int32_t>(units), &status);
    // 0x1A would end a memo's text when read; it is no character of the value.
    if (U_FAILURE(status) || n != 1 || buf[0] == '\x1A') {
      badChar = chars;
      return std::nullopt;
    }
    out += buf[0];
    i += units;
  }
  return out;
}

bool TCsvReader::Next(TCsvRecord& record) {
  record.Fields.clear();
  if (FPos >= FData.size()) return false;
  record.Line = FLine;
  std::size_t lineStart = FPos;
  auto column = [&](std::size_t pos) {
    return CodePoints(Utf8ToUtf16(std::string_view(FData).substr(lineStart, pos - lineStart))) + 1;
  };
  TCsvField field;
  field.Column = 1;
  bool inQuotes = false;
  bool atFieldStart = true;
  while (FPos < FData.size()) {
    const char c = FData[FPos];
    if (inQuotes) {
      if (c == '"') {
        if (FPos + 1 < FData.size() && FData[FPos + 1] == '"') {
          field.Text += '"';
          FPos += 2;
          continue;
        }
        inQuotes = false;
        ++FPos;
        continue;
      }
      if (c == '\n') {
        ++FLine;
        lineStart = FPos + 1;
      }
      field.Text += c;
      ++FPos;
      continue;
    }
    if (c == '"' && atFieldStart) {
      inQuotes = true;
      field.Quoted = true;
      atFieldStart = false;
      ++FPos;
      continue;
    }
    if (c == ',') {
      record.Fields.push_back(std::move(field));
      field = TCsvField();
      ++FPos;
      field.Column = column(FPos);
      atFieldStart = true;
      continue;
    }
    if (c == '\r' && FPos + 1 < FData.size() && FData[FPos + 1] == '\n') {
      ++FPos;
      continue;
    }
    if (c == '\n') {
      ++FPos;
      ++FLine;
      record.Fields.push_back(std::move(field));
      return true;
    }
    field.Text += c;
    atFieldStart = false;
    ++FPos;
  }
  if (inQuotes) throw std::runtime_error("line " + std::to_string(record.Line) + ": a quoted field is not closed");
  record.Fields.push_back(std::move(field));
  return true;
}

std::string CsvField(const std::optional<std::string>& value) {
  if (!value) return {};
  if (value->empty()) return "\"\"";
  if (value->find_first_of(",\"\r\n") == std::string::npos && value->front() != ' ' && value->back() != ' ')
    return *value;
  std::string out = "\"";
  for (char c : *value) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

std::string JsonString(std::string_view utf8) {
  std::string out = "\"";
  for (unsigned char c : utf8) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          static const char kHex[] = "0123456789abcdef";
          out += "\\u00";
          out += kHex[c >> 4];
          out += kHex[c & 15];
        } else {
          out += static_cast<char>(c);
        }
    }
  }
  out += '"';
  return out;
}

}  // namespace vdbsql
