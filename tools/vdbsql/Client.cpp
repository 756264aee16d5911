#include "Client.h"

#include <vidoradb/vdbapi.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

namespace vdbsql {

namespace {

// Column option bits of TVdbFieldSpec.Options.
constexpr std::uint8_t kOptionComputed = 0x01;
constexpr std::uint8_t kOptionNullByte = 0x08;
constexpr std::uint8_t kOptionNullable = 0x20;

const VdbChar* Z(const std::u16string& text) { return reinterpret_cast<const VdbChar*>(text.c_str()); }

std::u16string FromArray(const VdbChar* chars, std::size_t capacity) {
  std::size_t n = 0;
  while (n < capacity && chars[n] != 0) ++n;
  return std::u16string(reinterpret_cast<const char16_t*>(chars), n);
}

template <std::size_t N>
void ToArray(const std::u16string& text, VdbChar (&chars)[N]) {
  const std::size_t n = std::min(text.size(), N - 1);
  std::memcpy(chars, text.data(), n * sizeof(VdbChar));
  chars[n] = 0;
}

std::uint64_t ReadLE(const std::uint8_t* p, int width) {
  std::uint64_t v = 0;
  for (int i = width - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

void WriteLE(std::uint8_t* p, int width, std::uint64_t v) {
  for (int i = 0; i < width; ++i, v >>= 8) p[i] = static_cast<std::uint8_t>(v & 0xFF);
}

std::int64_t SignExtend(std::uint64_t v, int width) {
  if (width >= 8) return static_cast<std::int64_t>(v);
  const std::uint64_t sign = std::uint64_t{1} << (width * 8 - 1);
  return static_cast<std::int64_t>((v ^ sign) - sign);
}

// Width of the length prefix of a string field.
int PrefixWidth(std::int32_t maxLength, bool wide) {
  if (wide) return maxLength > 65535 ? 4 : 2;
  return maxLength < 256 ? 1 : maxLength <= 65535 ? 2 : 4;
}

std::string Pad(std::int64_t v, int digits) {
  std::string s = std::to_string(v);
  while (static_cast<int>(s.size()) < digits) s.insert(s.begin(), '0');
  return s;
}

std::string DateText(std::int32_t packed) {
  return Pad(packed >> 9, 4) + "-" + Pad((packed >> 5) & 0x0F, 2) + "-" + Pad(packed & 0x1F, 2);
}

std::string TimeText(std::int64_t ms) {
  std::string s = Pad(ms / 3'600'000, 2) + ":" + Pad(ms / 60'000 % 60, 2) + ":" + Pad(ms / 1000 % 60, 2);
  if (ms % 1000 != 0) s += "." + Pad(ms % 1000, 3);
  return s;
}

bool ParseInt(std::string_view text, std::int64_t& v) {
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  return ec == std::errc() && end == text.data() + text.size() && !text.empty();
}

bool ParseDate(std::string_view text, std::int32_t& packed) {
  std::int64_t y = 0, m = 0, d = 0;
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return false;
  if (!ParseInt(text.substr(0, 4), y) || !ParseInt(text.substr(5, 2), m) || !ParseInt(text.substr(8, 2), d)) return false;
  if (y < 1 || m < 1 || m > 12 || d < 1) return false;
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  if (d > kDays[m - 1] + (m == 2 && leap ? 1 : 0)) return false;
  packed = static_cast<std::int32_t>(y * 512 + m * 32 + d);
  return true;
}

bool ParseTime(std::string_view text, std::int64_t& ms) {
  std::int64_t h = 0, mi = 0, s = 0, frac = 0;
  if (text.size() < 5 || text[2] != ':') return false;
  if (!ParseInt(text.substr(0, 2), h) || !ParseInt(text.substr(3, 2), mi)) return false;
  if (text.size() >= 8) {
    if (text[5] != ':' || !ParseInt(text.substr(6, 2), s)) return false;
    if (text.size() > 8) {
      if (text[8] != '.' || text.size() > 12 || text.size() == 9) return false;
      std::string digits(text.substr(9));
      while (digits.size() < 3) digits += '0';
      if (!ParseInt(digits, frac)) return false;
    }
  } else if (text.size() != 5) {
    return false;
  }
  if (h > 23 || mi > 59 || s > 59 || h < 0 || mi < 0 || s < 0 || frac < 0) return false;
  ms = ((h * 60 + mi) * 60 + s) * 1000 + frac;
  return true;
}

std::string Hex(const std::uint8_t* p, std::size_t n) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string s;
  for (std::size_t i = 0; i < n; ++i) {
    s += kHex[p[i] >> 4];
    s += kHex[p[i] & 15];
  }
  return s;
}

bool FromHex(std::string_view text, std::string& bytes) {
  if (text.size() % 2 != 0) return false;
  bytes.clear();
  for (std::size_t i = 0; i < text.size(); i += 2) {
    unsigned v = 0;
    auto [end, ec] = std::from_chars(text.data() + i, text.data() + i + 2, v, 16);
    if (ec != std::errc() || end != text.data() + i + 2) return false;
    bytes += static_cast<char>(v);
  }
  return true;
}

std::vector<std::u16string> SplitItems(const std::u16string& list) {
  std::vector<std::u16string> items;
  std::u16string item;
  for (char16_t c : list) {
    if (c == u',' || c == u';') {
      items.push_back(item);
      item.clear();
    } else if (c != u' ') {
      item += c;
    }
  }
  if (!item.empty() || !items.empty()) items.push_back(item);
  return items;
}

std::string EncryptionName(std::int16_t method) {
  switch (method) {
    case VDB_ENC_NONE: return "none";
    case VDB_ENC_PROTECTION: return "protection";
    case VDB_ENC_CLASSIC: return "classic";
    case VDB_ENC_FAST: return "fast";
    case VDB_ENC_BLOWFISH: return "Blowfish";
    case VDB_ENC_RIJNDAEL: return "Rijndael";
    default: return "default";
  }
}

std::map<std::int16_t, TSession*>& Sessions() {
  static std::map<std::int16_t, TSession*> sessions;
  return sessions;
}

}  // namespace

// ---- columns

TValueKind TColumn::Kind() const noexcept {
  switch (Type) {
    case VDB_TYPE_SMALLINT: case VDB_TYPE_FLOAT: case VDB_TYPE_BYTE: case VDB_TYPE_RECORDID:
    case VDB_TYPE_LINK: case VDB_TYPE_INTEGER: case VDB_TYPE_BIGINT:
      return TValueKind::Number;
    case VDB_TYPE_BOOLEAN:
      return TValueKind::Boolean;
    case VDB_TYPE_BLOB: case VDB_TYPE_BINARY:
      return TValueKind::Binary;
    default:
      return TValueKind::Text;
  }
}

bool TColumn::HasNullByte() const noexcept { return (Options & kOptionNullByte) != 0; }
bool TColumn::Nullable() const noexcept { return (Options & kOptionNullable) != 0; }
bool TColumn::IsMemoOrBlob() const noexcept {
  return Type == VDB_TYPE_MEMO || Type == VDB_TYPE_WIDEMEMO || Type == VDB_TYPE_BLOB;
}

std::string TColumn::TypeText() const {
  switch (Type) {
    case VDB_TYPE_CHAR: return "CHAR";
    case VDB_TYPE_STRING: return "STRING(" + std::to_string(Param) + ")";
    case VDB_TYPE_SMALLINT: return "SMALLINT";
    case VDB_TYPE_FLOAT: return Param > 0 ? "FLOAT(" + std::to_string(Param) + ")" : "FLOAT";
    case VDB_TYPE_BYTE: return "BYTE";
    case VDB_TYPE_BOOLEAN: return "BOOLEAN";
    case VDB_TYPE_DATE: return "DATE";
    case VDB_TYPE_MEMO: return "MEMO";
    case VDB_TYPE_ENUM: return "ENUM(" + Utf16ToUtf8(SelectOrLink) + ")";
    case VDB_TYPE_RECORDID: return "RECORDID";
    case VDB_TYPE_LINK: return "LINK(" + Utf16ToUtf8(SelectOrLink) + ")";
    case VDB_TYPE_BLOB: return "BLOB";
    case VDB_TYPE_RELATION: return "RELATION(" + Utf16ToUtf8(SelectOrLink) + ")";
    case VDB_TYPE_TIME: return "TIME";
    case VDB_TYPE_INTEGER: return "INTEGER";
    case VDB_TYPE_TIMESTAMP: return "TIMESTAMP";
    case VDB_TYPE_WIDESTRING: return "WIDESTRING(" + std::to_string(Param) + ")";
    case VDB_TYPE_WIDEMEMO: return "WIDEMEMO";
    case VDB_TYPE_BIGINT: return "BIGINT";
    case VDB_TYPE_GUID: return "GUID";
    case VDB_TYPE_BINARY: return "BINARY(" + std::to_string(Param) + ")";
    default: return "TYPE " + std::to_string(Type);
  }
}

// ---- cursors

TCursor::TCursor(TSession& session, std::int16_t tableHdl) : FSession(session), FTable(tableHdl) {
  const TVdbResult count = VdbTableGetNumFields(FTable);
  FSession.Check(count, "reading the columns");
  const std::int16_t level = VdbTableGetRltnVersion(FTable);
  for (std::int16_t no = 1; no <= count; ++no) {
    TVdbFieldSpec spec{};
    FSession.Check(VdbTableGetFieldSpec(FTable, no, &spec), "reading the columns");
    TColumn c;
    c.No = no;
    c.Name = Utf16ToUtf8(FromArray(spec.Name, VDB_NAME_CHARS));
    c.Type = static_cast<std::int16_t>(spec.FldType & 0xFF);
    c.Options = spec.Options;
    c.Position = spec.InternalPosition;
    c.Size = spec.InternalSize;
    c.Param = spec.Param;
    c.SelectOrLink = FromArray(spec.SelectOrLink, VDB_SELECT_CHARS);
    c.Level = level > 0 ? level : 6;
    if (c.Type == VDB_TYPE_CHAR || c.Type == VDB_TYPE_STRING || c.Type == VDB_TYPE_MEMO) {
      // The engine keeps the one table of collations and code pages.
      const TVdbResult codePage = VdbTableGetFieldCodePage(FTable, no);
      FSession.Check(codePage, "reading the columns");
      c.CodePage = &FSession.CodePage(codePage);
    }
    FColumns.push_back(std::move(c));
  }
  const TVdbResult size = VdbTableGetRecordSize(FTable);
  FSession.Check(size, "reading the record size");
  FImage.assign(static_cast<std::size_t>(size), 0);
}

TCursor::~TCursor() { VdbTableDelete(FTable); }

bool TCursor::First() {
  const TVdbResult r = VdbTableFirst(FTable);
  if (r == VDB_ERR_NO_RECORD) return false;
  FSession.Check(r, "reading the first record");
  FSession.Check(VdbTableGetRecord(FTable, FImage.data(), static_cast<std::int32_t>(FImage.size())), "reading a record");
  return true;
}

bool TCursor::Next() {
  const TVdbResult r = VdbTableMoveBy(FTable, 1);
  if (r == VDB_ERR_NO_RECORD) return false;
  FSession.Check(r, "moving to the next record");
  FSession.Check(VdbTableGetRecord(FTable, FImage.data(), static_cast<std::int32_t>(FImage.size())), "reading a record");
  return true;
}

TValue TCursor::Value(std::size_t i) {
  const TColumn& c = FColumns.at(i);
  const std::uint8_t* image = FImage.data();
  if (c.HasNullByte()) {
    const std::size_t nullAt = c.Level >= 6 ? c.Position : c.Position + c.Size - 1u;
    if (image[nullAt] == 0) return std::nullopt;
  }
  const std::uint8_t* p = image + c.Position + (c.HasNullByte() && c.Level >= 6 ? 1 : 0);
  const int net = c.Size - (c.HasNullByte() ? 1 : 0);
  switch (c.Type) {
    case VDB_TYPE_CHAR:
      return p[0] == 0 ? std::string() : Utf16ToUtf8(c.CodePage->Decode(p, 1));
    case VDB_TYPE_STRING: {
      const int width = PrefixWidth(c.Param, false);
      const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(ReadLE(p, width), static_cast<std::uint64_t>(std::max(0, c.Param))));
      return Utf16ToUtf8(c.CodePage->Decode(p + width, n));
    }
    case VDB_TYPE_WIDESTRING: {
      const int width = PrefixWidth(c.Param, true);
      const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(ReadLE(p, width), static_cast<std::uint64_t>(std::max(0, c.Param))));
      std::u16string text(n, u'\0');
      for (std::size_t k = 0; k < n; ++k) text[k] = static_cast<char16_t>(ReadLE(p + width + 2 * k, 2));
      return Utf16ToUtf8(text);
    }
    case VDB_TYPE_SMALLINT: return std::to_string(SignExtend(ReadLE(p, 2), 2));
    case VDB_TYPE_BYTE: return std::to_string(p[0]);
    case VDB_TYPE_BOOLEAN: return std::string(p[0] != 0 ? "true" : "false");
    case VDB_TYPE_INTEGER:
    case VDB_TYPE_RECORDID: return std::to_string(SignExtend(ReadLE(p, 4), 4));
    case VDB_TYPE_LINK: {
      const std::int64_t id = SignExtend(ReadLE(p, 4), 4);
      if (id == 0) return std::nullopt;
      return std::to_string(id);
    }
    case VDB_TYPE_BIGINT: return std::to_string(static_cast<std::int64_t>(ReadLE(p, 8)));
    case VDB_TYPE_FLOAT: {
      const std::uint64_t bits = ReadLE(p, 8);
      double d;
      std::memcpy(&d, &bits, sizeof d);
      char buf[64];
      auto [end, ec] = std::to_chars(buf, buf + sizeof buf, d);
      return std::string(buf, end);
    }
    case VDB_TYPE_DATE: {
      const auto packed = static_cast<std::int32_t>(ReadLE(p, 4));
      if (packed == 0) return std::nullopt;
      return DateText(packed);
    }
    case VDB_TYPE_TIME:
      return TimeText(net == 2 ? SignExtend(ReadLE(p, 2), 2) * 60'000 : SignExtend(ReadLE(p, 4), 4));
    case VDB_TYPE_TIMESTAMP: {
      const auto packed = static_cast<std::int32_t>(ReadLE(p, 4));
      const auto ms = static_cast<std::int32_t>(ReadLE(p + 4, 4));
      if (packed == 0) return std::nullopt;
      return DateText(packed) + " " + TimeText(ms);
    }
    case VDB_TYPE_GUID: {
      std::string s = "{" + Hex(p + 3, 1) + Hex(p + 2, 1) + Hex(p + 1, 1) + Hex(p, 1) + "-" + Hex(p + 5, 1) +
                      Hex(p + 4, 1) + "-" + Hex(p + 7, 1) + Hex(p + 6, 1) + "-" + Hex(p + 8, 2) + "-" + Hex(p + 10, 6) + "}";
      return s;
    }
    case VDB_TYPE_ENUM: {
      const auto ordinal = static_cast<std::int8_t>(p[0]);
      if (ordinal == 0) return std::nullopt;
      const auto items = SplitItems(c.SelectOrLink);
      if (ordinal > 0 && static_cast<std::size_t>(ordinal) <= items.size()) return Utf16ToUtf8(items[ordinal - 1]);
      return std::to_string(ordinal);
    }
    case VDB_TYPE_MEMO:
    case VDB_TYPE_WIDEMEMO:
    case VDB_TYPE_BLOB: {
      if (ReadLE(p, 4) == 0 && !c.HasNullByte()) return std::nullopt;
      std::int16_t blobType = 0;
      const std::int32_t length = VdbTableInitGetBlob(FTable, c.No, -1, &blobType);
      FSession.Check(length, "reading " + c.Name);
      std::vector<std::uint8_t> bytes(static_cast<std::size_t>(length) + 1);
      const std::int32_t got = VdbTablePerformGetBlob(FTable, bytes.data(), length);
      FSession.Check(got, "reading " + c.Name);
      bytes.resize(static_cast<std::size_t>(got));
      if (c.Type == VDB_TYPE_BLOB) return Hex(bytes.data(), bytes.size());
      if (c.Type == VDB_TYPE_WIDEMEMO) {
        std::u16string text(bytes.size() / 2, u'\0');
        for (std::size_t k = 0; k < text.size(); ++k) text[k] = static_cast<char16_t>(ReadLE(bytes.data() + 2 * k, 2));
        return Utf16ToUtf8(text);
      }
      // A memo's text ends at its first end-of-text mark, if it has one.
      const auto end = std::find(bytes.begin(), bytes.end(), std::uint8_t{0x1A});
      return Utf16ToUtf8(c.CodePage->Decode(bytes.data(), static_cast<std::size_t>(end - bytes.begin())));
    }
    case VDB_TYPE_BINARY: {
      const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(ReadLE(p, 4), static_cast<std::uint64_t>(std::max(0, c.Param))));
      return Hex(p + 4, n);
    }
    default:
      return std::nullopt;
  }
}

std::string TCursor::Check(std::size_t i, const TValue& value) const {
  return Encode(i, value, nullptr, nullptr);
}

std::string TCursor::Encode(std::size_t i, const TValue& value, std::vector<std::uint8_t>* image,
                            std::vector<std::pair<std::int16_t, std::string>>* blobs) const {
  const TColumn& c = FColumns.at(i);
  if ((c.Options & kOptionComputed) != 0 || c.Type == VDB_TYPE_RECORDID) return {};  // the engine fills these
  std::uint8_t scratch[16] = {};
  std::vector<std::uint8_t> local;
  if (image == nullptr) {
    local.assign(FImage.size(), 0);
    image = &local;
  }
  std::uint8_t* base = image->data();
  std::uint8_t* p = base + c.Position + (c.HasNullByte() && c.Level >= 6 ? 1 : 0);
  const int net = c.Size - (c.HasNullByte() ? 1 : 0);
  auto setNull = [&](bool isNull) {
    if (c.HasNullByte()) base[c.Level >= 6 ? c.Position : c.Position + c.Size - 1u] = isNull ? 0 : 1;
  };
  if (!value) {
    if (c.HasNullByte()) {
      setNull(true);
      return {};
    }
    if (net > 0) std::memset(p, 0, static_cast<std::size_t>(net));
    return {};
  }
  const std::string& text = *value;
  std::size_t badChar = 0;
  std::int64_t n = 0;
  switch (c.Type) {
    case VDB_TYPE_CHAR:
    case VDB_TYPE_STRING:
    case VDB_TYPE_MEMO: {
      const std::u16string units = Utf8ToUtf16(text);
      const auto bytes = c.CodePage->Encode(units, badChar);
      if (!bytes) {
        return "character " + std::to_string(badChar) + " of \"" + text + "\" is not in code page " +
               std::to_string(c.CodePage->Number()) + " of column " + c.Name;
      }
      if (c.Type == VDB_TYPE_MEMO) {
        if (blobs) blobs->emplace_back(c.No, *bytes);
        break;
      }
      const std::int32_t maxLength = c.Type == VDB_TYPE_CHAR ? 1 : c.Param;
      if (static_cast<std::int64_t>(bytes->size()) > maxLength)
        return "\"" + text + "\" is longer than the " + std::to_string(maxLength) + " characters of column " + c.Name;
      if (c.Type == VDB_TYPE_CHAR) {
        p[0] = bytes->empty() ? 0 : static_cast<std::uint8_t>((*bytes)[0]);
      } else {
        const int width = PrefixWidth(maxLength, false);
        std::memset(p, 0, static_cast<std::size_t>(std::max(0, net)));
        WriteLE(p, width, bytes->size());
        std::memcpy(p + width, bytes->data(), bytes->size());
      }
      break;
    }
    case VDB_TYPE_WIDESTRING:
    case VDB_TYPE_WIDEMEMO: {
      const std::u16string units = Utf8ToUtf16(text);
      if (c.Type == VDB_TYPE_WIDEMEMO) {
        std::string bytes(units.size() * 2, '\0');
        for (std::size_t k = 0; k < units.size(); ++k) WriteLE(reinterpret_cast<std::uint8_t*>(bytes.data()) + 2 * k, 2, units[k]);
        if (blobs) blobs->emplace_back(c.No, bytes);
        break;
      }
      if (static_cast<std::int64_t>(units.size()) > c.Param)
        return "\"" + text + "\" is longer than the " + std::to_string(c.Param) + " characters of column " + c.Name;
      const int width = PrefixWidth(c.Param, true);
      std::memset(p, 0, static_cast<std::size_t>(std::max(0, net)));
      WriteLE(p, width, units.size());
      for (std::size_t k = 0; k < units.size(); ++k) WriteLE(p + width + 2 * k, 2, units[k]);
      break;
    }
    case VDB_TYPE_SMALLINT:
    case VDB_TYPE_BYTE:
    case VDB_TYPE_INTEGER:
    case VDB_TYPE_LINK:
    case VDB_TYPE_BIGINT: {
      std::int64_t lo = INT32_MIN, hi = INT32_MAX;
      int width = 4;
      if (c.Type == VDB_TYPE_SMALLINT) lo = INT16_MIN, hi = INT16_MAX, width = 2;
      if (c.Type == VDB_TYPE_BYTE) lo = 0, hi = 255, width = 1;
      if (c.Type == VDB_TYPE_BIGINT) lo = INT64_MIN, hi = INT64_MAX, width = 8;
      if (!ParseInt(text, n) || n < lo || n > hi)
        return "\"" + text + "\" is not a whole number of column " + c.Name + " (" + std::to_string(lo) + ".." +
               std::to_string(hi) + ")";
      WriteLE(p, width, static_cast<std::uint64_t>(n));
      break;
    }
    case VDB_TYPE_FLOAT: {
      double d = 0;
      auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), d);
      if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(d))
        return "\"" + text + "\" is not a number of column " + c.Name;
      std::uint64_t bits;
      std::memcpy(&bits, &d, sizeof d);
      WriteLE(p, 8, bits);
      break;
    }
    case VDB_TYPE_BOOLEAN: {
      std::string lower = text;
      for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
      if (lower == "true" || lower == "1") p[0] = 1;
      else if (lower == "false" || lower == "0") p[0] = 0;
      else return "\"" + text + "\" is not true or false for column " + c.Name;
      break;
    }
    case VDB_TYPE_DATE: {
      std::int32_t packed = 0;
      if (!ParseDate(text, packed)) return "\"" + text + "\" is not a date (YYYY-MM-DD) of column " + c.Name;
      WriteLE(p, 4, static_cast<std::uint32_t>(packed));
      break;
    }
    case VDB_TYPE_TIME: {
      std::int64_t ms = 0;
      if (!ParseTime(text, ms)) return "\"" + text + "\" is not a time (HH:MM:SS) of column " + c.Name;
      if (net == 2) WriteLE(p, 2, static_cast<std::uint64_t>(ms / 60'000));
      else WriteLE(p, 4, static_cast<std::uint64_t>(ms));
      break;
    }
    case VDB_TYPE_TIMESTAMP: {
      std::int32_t packed = 0;
      std::int64_t ms = 0;
      const std::size_t blank = text.find(' ');
      if (!ParseDate(text.substr(0, blank), packed) ||
          (blank != std::string::npos && !ParseTime(std::string_view(text).substr(blank + 1), ms)))
        return "\"" + text + "\" is not a time stamp (YYYY-MM-DD HH:MM:SS) of column " + c.Name;
      WriteLE(p, 4, static_cast<std::uint32_t>(packed));
      WriteLE(p + 4, 4, static_cast<std::uint64_t>(ms));
      break;
    }
    case VDB_TYPE_ENUM: {
      const auto items = SplitItems(c.SelectOrLink);
      const std::u16string wanted = Utf8ToUtf16(text);
      const auto it = std::find(items.begin(), items.end(), wanted);
      if (it == items.end()) return "\"" + text + "\" is no item of column " + c.Name;
      p[0] = static_cast<std::uint8_t>(it - items.begin() + 1);
      break;
    }
    case VDB_TYPE_GUID: {
      std::string raw;
      std::string digits;
      for (char ch : text)
        if (ch != '{' && ch != '}' && ch != '-') digits += ch;
      if (text.size() != 38 || !FromHex(digits, raw) || raw.size() != 16)
        return "\"" + text + "\" is not a GUID of column " + c.Name;
      static const int kOrder[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
      for (int k = 0; k < 16; ++k) scratch[k] = static_cast<std::uint8_t>(raw[static_cast<std::size_t>(kOrder[k])]);
      std::memcpy(p, scratch, 16);
      break;
    }
    case VDB_TYPE_BLOB: {
      std::string bytes;
      if (!FromHex(text, bytes)) return "\"" + text.substr(0, 20) + "\" is not hexadecimal bytes for column " + c.Name;
      if (blobs) blobs->emplace_back(c.No, bytes);
      break;
    }
    case VDB_TYPE_BINARY: {
      std::string bytes;
      if (!FromHex(text, bytes) || static_cast<std::int64_t>(bytes.size()) > c.Param)
        return "\"" + text.substr(0, 20) + "\" is not at most " + std::to_string(c.Param) +
               " hexadecimal bytes for column " + c.Name;
      WriteLE(p, 4, bytes.size());
      std::memcpy(p + 4, bytes.data(), bytes.size());
      break;
    }
    default:
      return "column " + c.Name + " of type " + c.TypeText() + " cannot be written by this program";
  }
  setNull(false);
  return {};
}

void TCursor::Append(const std::vector<TValue>& values) {
  FSession.Check(VdbTableAppend(FTable), "appending a record");
  try {
    std::vector<std::uint8_t> image(FImage.size());
    FSession.Check(VdbTableGetRecord(FTable, image.data(), static_cast<std::int32_t>(image.size())), "appending a record");
    std::vector<std::pair<std::int16_t, std::string>> blobs;
    for (std::size_t i = 0; i < FColumns.size() && i < values.size(); ++i) {
      const std::string refusal = Encode(i, values[i], &image, &blobs);
      if (!refusal.empty()) throw EClientError(refusal, 0, static_cast<std::int32_t>(i + 1));
    }
    FSession.Check(VdbTableSetRecord(FTable, image.data(), static_cast<std::int32_t>(image.size())), "writing a record");
    for (const auto& [no, bytes] : blobs)
      FSession.Check(VdbTableSetBlob(FTable, no, bytes.data(), static_cast<std::int32_t>(bytes.size())), "writing a memo");
    FSession.Check(VdbTableAppendConfirm(FTable), "appending a record");
  } catch (...) {
    VdbTableAppendCancel(FTable);
    throw;
  }
}

// ---- sessions

TSession::TSession(const std::string& location, bool readOnly) {
  const TVdbResult s = VdbCreateSession(Z(u""));
  if (s <= 0) throw EClientError("cannot start a session: " + Message(s));
  FSession = s;
  Sessions()[FSession] = this;
  VdbSessSetPasswordCallback(FSession, &TSession::PasswordCallback);
  const std::u16string where = Utf8ToUtf16(location);
  const TVdbResult r = VdbSessOpenDb(FSession, Z(where), Z(u""), Z(u""), 0, readOnly ? VDB_OPEN_READONLY : 0);
  if (r < 0) {
    const std::string message = Message(r);
    Sessions().erase(FSession);
    VdbSessDelete(FSession);
    throw EClientError("cannot open the database " + location + ": " + message);
  }
}

TSession::~TSession() {
  VdbSessCloseDb(FSession);
  VdbSessDelete(FSession);
  Sessions().erase(FSession);
  std::fill(FKey.begin(), FKey.end(), u'\0');
}

std::int32_t TSession::PasswordCallback(std::int16_t sessHdl, const std::uint16_t* tableName, std::uint16_t* key,
                                        std::int32_t keyMaxLen) {
  const auto it = Sessions().find(sessHdl);
  if (it == Sessions().end() || key == nullptr || keyMaxLen <= 0) return 1;
  TSession& s = *it->second;
  std::u16string answer;
  if (!s.FKey.empty() && !s.FKeyTried) {
    // The key set with .password is offered once per opening; then the user is asked.
    answer = s.FKey;
    s.FKeyTried = true;
  } else if (s.FAsk) {
    std::u16string name;
    for (const std::uint16_t* p = tableName; p && *p; ++p) name += static_cast<char16_t>(*p);
    const auto typed = s.FAsk(Utf16ToUtf8(name));
    if (!typed) return 1;
    answer = Utf8ToUtf16(*typed);
  } else {
    return 1;
  }
  const std::size_t n = std::min<std::size_t>(answer.size(), static_cast<std::size_t>(keyMaxLen - 1));
  for (std::size_t i = 0; i < n; ++i) key[i] = answer[i];
  key[n] = 0;
  std::fill(answer.begin(), answer.end(), u'\0');
  return 0;
}

std::string TSession::Message(std::int32_t status) const {
  std::int32_t code = 0;
  VdbChar text[1024] = {};
  if (FSession > 0) VdbSessGetLastError(FSession, &code, text, 1024);
  std::string message = code != 0 ? Utf16ToUtf8(FromArray(text, 1024)) : std::string();
  if (message.empty()) {
    VdbGetErrorMsg(status, text, 1024);
    message = Utf16ToUtf8(FromArray(text, 1024));
  }
  return message;
}

void TSession::Check(std::int32_t status, const std::string& what) const {
  if (status >= 0) return;
  throw EClientError(what.empty() ? Message(status) : what + ": " + Message(status));
}

const TCodePage& TSession::CodePage(int number) {
  auto& slot = FCodePages[number];
  if (!slot) slot = std::make_unique<TCodePage>(number);
  return *slot;
}

std::vector<std::string> TSession::TableNames() {
  const std::int32_t length = VdbSessGetTableNames(FSession, nullptr, 0);
  Check(length, "reading the table names");
  std::vector<VdbChar> buffer(static_cast<std::size_t>(length) + 1);
  Check(VdbSessGetTableNames(FSession, buffer.data(), static_cast<std::int32_t>(buffer.size())), "reading the table names");
  const std::string all = Utf16ToUtf8(FromArray(buffer.data(), buffer.size()));
  std::vector<std::string> names;
  std::size_t start = 0;
  while (start <= all.size()) {
    const std::size_t end = std::min(all.find(';', start), all.size());
    if (end > start) names.push_back(all.substr(start, end - start));
    start = end + 1;
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool TSession::TableExists(const std::string& name) {
  return VdbSessExistsTable(FSession, Z(Utf8ToUtf16(name))) == 1;
}

std::int16_t TSession::OpenRelation(const std::string& table, std::uint16_t rights, bool& opened) {
  const std::u16string name = Utf8ToUtf16(table);
  opened = false;
  const TVdbResult found = VdbSessFindRltnHdl(FSession, Z(name));
  if (found > 0) return found;
  FKeyTried = false;
  const TVdbResult r = VdbSessOpenTable(FSession, Z(name), Z(u""), rights, false, false);
  Check(r, "cannot open table " + table);
  opened = true;
  return r;
}

std::unique_ptr<TCursor> TSession::OpenCursor(const std::string& table, bool write) {
  bool opened = false;
  const std::int16_t rltn = OpenRelation(table, write ? VDB_RIGHTS_WRITE : 0, opened);
  const TVdbResult t = VdbTableCreate(rltn, Z(u"vdbsql"));
  if (t <= 0) {
    const std::string message = Message(t);
    if (opened) VdbRltnClose(rltn);
    throw EClientError("cannot read table " + table + ": " + message);
  }
  return std::make_unique<TCursor>(*this, t);
}

TTableSchema TSession::Schema(const std::string& table) {
  bool opened = false;
  const std::int16_t rltn = OpenRelation(table, 0, opened);
  TTableSchema schema;
  try {
    VdbChar name[VDB_TEXT_CHARS] = {};
    Check(VdbRltnGetName(rltn, name, VDB_TEXT_CHARS, false), "reading the table's name");
    schema.Name = Utf16ToUtf8(FromArray(name, VDB_TEXT_CHARS));
    TVdbTableInfo info{};
    Check(VdbRltnGetTableInfo(rltn, &info), "reading the table's description");
    schema.Level = info.Level;
    schema.Collation = Utf16ToUtf8(FromArray(info.Language, VDB_NAME_CHARS));
    schema.Encryption = EncryptionName(info.EncryptionMethod);
    schema.Records = VdbRltnRecordCount(rltn);
    {
      const TVdbResult t = VdbTableCreate(rltn, Z(u"vdbsql"));
      Check(t, "reading the columns");
      TCursor cursor(*this, t);
      schema.Columns = cursor.Columns();
    }
    const std::int32_t length = VdbRltnGetIndexNames(rltn, nullptr, 0);
    Check(length, "reading the index names");
    std::vector<VdbChar> buffer(static_cast<std::size_t>(length) + 1);
    Check(VdbRltnGetIndexNames(rltn, buffer.data(), static_cast<std::int32_t>(buffer.size())), "reading the index names");
    const std::u16string all = FromArray(buffer.data(), buffer.size());
    std::size_t start = 0;
    while (start <= all.size()) {
      const std::size_t end = std::min(all.find(u',', start), all.size());
      if (end > start) {
        const std::u16string index = all.substr(start, end - start);
        VdbChar desc[VDB_SELECT_CHARS] = {};
        Check(VdbRltnGetIndexDesc(rltn, Z(index), desc, VDB_SELECT_CHARS, true, true), "reading index " + Utf16ToUtf8(index));
        schema.Indexes.push_back({Utf16ToUtf8(index), Utf16ToUtf8(FromArray(desc, VDB_SELECT_CHARS))});
      }
      start = end + 1;
    }
  } catch (...) {
    if (opened) VdbRltnClose(rltn);
    throw;
  }
  if (opened) VdbRltnClose(rltn);
  return schema;
}

std::int32_t TSession::Count(const std::string& table) {
  auto cursor = OpenCursor(table, false);
  const std::int32_t n = VdbTableGetRecordCount(cursor->Handle());
  Check(n, "counting the records of " + table);
  return n;
}

std::vector<std::string> TSession::CheckTable(const std::string& table) {
  bool opened = false;
  const std::int16_t rltn = OpenRelation(table, 0, opened);
  const TVdbResult r = VdbSessCheckTable(FSession, rltn);
  const std::string message = r < 0 ? Message(r) : std::string();
  std::vector<std::string> report;
  if (r > 0) {
    // The findings are the records of a temporary relation, closed once read.
    try {
      const TVdbResult t = VdbTableCreate(r, Z(u"vdbsql"));
      Check(t, "reading the findings");
      TCursor findings(*this, t);
      for (bool more = findings.First(); more; more = findings.Next())
        report.push_back(findings.Value(0).value_or(std::string()));
    } catch (...) {
      VdbRltnClose(r);
      if (opened) VdbRltnClose(rltn);
      throw;
    }
    VdbRltnClose(r);
  }
  if (opened) VdbRltnClose(rltn);
  if (r == VDB_ERR_NOT_SUPPORTED) throw EClientError("this engine cannot check tables: " + message);
  if (r < 0) throw EClientError("the check of " + table + " failed: " + message);
  return report;
}

void TSession::CreateTable(const std::string& name, const std::vector<TColumn>& columns, const std::string& collation) {
  TVdbTableInfo info{};
  ToArray(Utf8ToUtf16(name), info.FileName);
  info.Level = VDB_TABLE_LEVEL;
  ToArray(Utf8ToUtf16(collation), info.Language);
  info.EncryptionMethod = VDB_ENC_DEFAULT;
  std::vector<TVdbFieldSpec> specs(columns.size());
  for (std::size_t i = 0; i < columns.size(); ++i) {
    TVdbFieldSpec& s = specs[i];
    s = TVdbFieldSpec{};
    s.No = static_cast<std::int16_t>(i + 1);
    ToArray(Utf8ToUtf16(columns[i].Name), s.Name);
    s.FldType = columns[i].Type;
    s.Param = columns[i].Param;
    s.Options = columns[i].Options;
    ToArray(Utf8ToUtf16(collation), s.SelectOrLink);
    if (s.FldType != VDB_TYPE_STRING && s.FldType != VDB_TYPE_MEMO) s.SelectOrLink[0] = 0;
  }
  const std::u16string key = FKey;
  Check(VdbSessCreateTable(FSession, &info, Z(key), static_cast<std::int32_t>(specs.size()), specs.data(), 0, nullptr,
                           0, nullptr, 0, nullptr),
        "cannot create table " + name);
}

void TSession::DropTable(const std::string& name) {
  VdbSessCloseUnneededTables(FSession);
  Check(VdbSessDeleteTable(FSession, Z(Utf8ToUtf16(name)), Z(FKey)), "cannot delete table " + name);
}

TStatementResult TSession::Execute(const std::string& sql) {
  const TVdbResult stmt = VdbSessCreateStatement(FSession);
  Check(stmt, "cannot make a statement");
  struct TStatementGuard {
    std::int16_t Hdl;
    ~TStatementGuard() { VdbStmtDelete(Hdl); }
  } guard{stmt};
  FKeyTried = false;
  const std::u16string text = Utf8ToUtf16(sql);
  const TVdbResult set = VdbStmtSetSqlText(stmt, Z(text));
  if (set < 0) {
    std::int32_t row = 0, col = 0;
    VdbStmtGetErrorPos(stmt, &row, &col);
    throw EClientError(Message(set), row, col);
  }
  Check(VdbStmtPrepare(stmt, 0));
  TStatementResult result;
  result.Count = VdbStmtExecute(stmt);
  Check(result.Count);
  const TVdbResult table = VdbStmtCreateResultTableHdl(stmt);
  Check(table, "reading the result");
  // The result cursor keeps the result table alive after the statement is deleted.
  if (table > 0) result.Rows = std::make_unique<TCursor>(*this, table);
  return result;
}

void TSession::Begin() { Check(VdbSessBeginTransaction(FSession), "cannot begin a transaction"); }
void TSession::Commit() { Check(VdbSessEndTransaction(FSession), "cannot commit"); }
void TSession::Rollback() { VdbSessCancelTransaction(FSession); }

}  // namespace vdbsql
