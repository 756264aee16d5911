#include "SettlementCsv.h"

#include <cerrno>
#include <fstream>
#include <system_error>
#include <sstream>

namespace vidora::tools {

namespace {

// Strict UTF-8 → UTF-16: overlong forms, surrogates and code points beyond U+10FFFF are
// refused rather than replaced, because a replaced character would be stored as a wrong one.
bool DecodeUtf8(std::string_view in, std::u16string& out) {
  out.clear();
  out.reserve(in.size());
  std::size_t i = 0;
  while (i < in.size()) {
    const auto b0 = static_cast<unsigned char>(in[i]);
    if (b0 < 0x80) {
      out += static_cast<char16_t>(b0);
      ++i;
      continue;
    }
    std::size_t extra;
    char32_t c;
    char32_t min;
    if ((b0 & 0xE0) == 0xC0) {
      extra = 1, c = b0 & 0x1F, min = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
      extra = 2, c = b0 & 0x0F, min = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
      extra = 3, c = b0 & 0x07, min = 0x10000;
    } else {
      return false;
    }
    if (i + extra >= in.size()) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      const auto b = static_cast<unsigned char>(in[i + k]);
      if ((b & 0xC0) != 0x80) return false;
      c = (c << 6) | (b & 0x3F);
    }
    if (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return false;
    if (c >= 0x10000) {
      c -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (c >> 10));
      out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    } else {
      out += static_cast<char16_t>(c);
    }
    i += extra + 1;
  }
  return true;
}

}  // namespace

TCsvReader::TCsvReader(std::string_view text) : FText(text) {
  if (FText.starts_with("\xEF\xBB\xBF")) FText.remove_prefix(3);
}

bool TCsvReader::Next(TCsvRecord& record) {
  // Skip empty lines.
  while (FPos < FText.size() && (FText[FPos] == '\n' || FText[FPos] == '\r')) {
    if (FText[FPos] == '\n') ++FLine;
    ++FPos;
  }
  if (FPos >= FText.size()) return false;
  record.Line = FLine;
  record.Fields.assign(1, std::string());
  bool quoted = false;       // inside a quoted field
  bool afterQuote = false;   // a quoted field has just closed
  while (FPos < FText.size()) {
    const char c = FText[FPos++];
    if (quoted) {
      if (c == '"') {
        if (FPos < FText.size() && FText[FPos] == '"') {
          record.Fields.back() += '"';
          ++FPos;
        } else {
          quoted = false;
          afterQuote = true;
        }
      } else {
        if (c == '\n') ++FLine;
        record.Fields.back() += c;
      }
      continue;
    }
    if (c == ',') {
      record.Fields.emplace_back();
      afterQuote = false;
    } else if (c == '\n') {
      ++FLine;
      return true;
    } else if (c == '\r') {
      if (FPos < FText.size() && FText[FPos] == '\n') continue;
      // A lone CR ends the line as well.
      ++FLine;
      return true;
    } else if (afterQuote) {
      throw ESettlementImport("text after the closing quote of field " + std::to_string(record.Fields.size()),
                              record.Line);
    } else if (c == '"' && record.Fields.back().empty()) {
      quoted = true;
    } else {
      record.Fields.back() += c;
    }
  }
  if (quoted) throw ESettlementImport("a quoted field is never closed", record.Line);
  return true;
}

std::vector<TSettlementRow> ParseSettlementCsv(std::string_view text) {
  TCsvReader reader(text);
  TCsvRecord record;
  if (!reader.Next(record)) throw ESettlementImport("the file is empty: a header line is expected");

  // Header: each settlement column exactly once, nothing else.
  std::array<std::size_t, kSettlementColumnCount> fieldOf{};
  std::array<bool, kSettlementColumnCount> seen{};
  for (std::size_t f = 0; f < record.Fields.size(); ++f) {
    std::string name = record.Fields[f];
    std::size_t col = 0;
    while (col < kSettlementColumnCount && kSettlementColumnNames[col] != name) ++col;
    if (col == kSettlementColumnCount) {
      throw ESettlementImport("the header names an unknown column \"" + name + "\"", record.Line);
    }
    if (seen[col]) throw ESettlementImport("the header names column " + name + " twice", record.Line);
    seen[col] = true;
    fieldOf[col] = f;
  }
  for (std::size_t col = 0; col < kSettlementColumnCount; ++col) {
    if (!seen[col]) {
      throw ESettlementImport("the header lacks column " + std::string(kSettlementColumnNames[col]), record.Line);
    }
  }

  std::vector<TSettlementRow> rows;
  while (reader.Next(record)) {
    if (record.Fields.size() != kSettlementColumnCount) {
      throw ESettlementImport("expected " + std::to_string(kSettlementColumnCount) + " fields, found " +
                                  std::to_string(record.Fields.size()),
                              record.Line);
    }
    TSettlementRow row;
    row.Line = record.Line;
    for (std::size_t col = 0; col < kSettlementColumnCount; ++col) {
      if (!DecodeUtf8(record.Fields[fieldOf[col]], row.Values[col])) {
        throw ESettlementImport("the value is not valid UTF-8", record.Line, std::string(kSettlementColumnNames[col]));
      }
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

std::vector<TSettlementRow> ReadSettlementCsv(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    const int error = errno;
    throw ESettlementImport("cannot open " + path.string() + ": " +
                            std::error_code(error, std::generic_category()).message());
  }
  std::ostringstream buffer;
  buffer << in.rdbuf();
  if (in.bad()) throw ESettlementImport("cannot read " + path.string());
  return ParseSettlementCsv(buffer.str());
}

}  // namespace vidora::tools
