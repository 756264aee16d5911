#include "VdbRecordCodec.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "db/DbErrors.h"

namespace vdbds {

namespace {

std::uint64_t ReadLE(const std::uint8_t* p, int width) {
  std::uint64_t v = 0;
  for (int i = width - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

void WriteLE(std::uint8_t* p, int width, std::uint64_t v) {
  for (int i = 0; i < width; ++i) {
    p[i] = static_cast<std::uint8_t>(v & 0xFF);
    v >>= 8;
  }
}

std::int64_t SignExtend(std::uint64_t v, int width) {
  if (width >= 8) return static_cast<std::int64_t>(v);
  const std::uint64_t sign = std::uint64_t{1} << (width * 8 - 1);
  return static_cast<std::int64_t>((v ^ sign) - sign);
}

int PrefixWidth(std::int32_t maxLength, bool wide) {
  if (wide) return maxLength > 65535 ? 4 : 2;
  return maxLength < 256 ? 1 : maxLength <= 65535 ? 2 : 4;
}

std::int64_t AsInt(const tk::TFieldValue& value) {
  if (const auto* i = std::get_if<std::int64_t>(&value)) return *i;
  if (const auto* b = std::get_if<bool>(&value)) return *b ? 1 : 0;
  if (const auto* d = std::get_if<double>(&value)) return static_cast<std::int64_t>(std::llround(*d));
  return 0;
}

const char16_t kHex[] = u"0123456789ABCDEF";

void AppendHex(std::u16string& out, std::uint64_t v, int digits) {
  for (int i = digits - 1; i >= 0; --i) out += kHex[(v >> (i * 4)) & 0xF];
}

int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

}  // namespace

std::int32_t TVdbColumnLayout::StringLength() const noexcept {
  if (MaxLength > 0) return MaxLength;
  const int net = Size - (HasNullByte() ? 1 : 0);
  if (ColumnType == ctWideString) return std::max(0, net / 2 - 1);
  return std::max(0, net - 1 - (net > 256 ? 1 : 0));
}

std::int64_t PackedDateToDayNumber(std::int32_t packed) {
  return tk::EncodeDate(packed >> 9, (packed >> 5) & 0x0F, packed & 0x1F);
}

std::int32_t DayNumberToPackedDate(std::int64_t dayNumber) {
  int year = 0, month = 0, day = 0;
  tk::DecodeDate(dayNumber, year, month, day);
  return year * 512 + month * 32 + day;
}

std::u16string GuidToText(const std::uint8_t* b) {
  std::u16string out = u"{";
  AppendHex(out, ReadLE(b, 4), 8);
  out += u'-';
  AppendHex(out, ReadLE(b + 4, 2), 4);
  out += u'-';
  AppendHex(out, ReadLE(b + 6, 2), 4);
  out += u'-';
  for (int i = 8; i < 10; ++i) AppendHex(out, b[i], 2);
  out += u'-';
  for (int i = 10; i < 16; ++i) AppendHex(out, b[i], 2);
  out += u'}';
  return out;
}

bool TextToGuid(std::u16string_view text, std::uint8_t* bytes) {
  if (text.size() != 38 || text.front() != u'{' || text.back() != u'}') return false;
  std::uint8_t raw[16];
  int n = 0;
  for (std::size_t i = 1; i + 1 < text.size();) {
    if (i == 9 || i == 14 || i == 19 || i == 24) {
      if (text[i] != u'-') return false;
      ++i;
      continue;
    }
    const int hi = HexDigit(text[i]), lo = HexDigit(text[i + 1]);
    if (hi < 0 || lo < 0 || n >= 16) return false;
    raw[n++] = static_cast<std::uint8_t>(hi * 16 + lo);
    i += 2;
  }
  if (n != 16) return false;
  // The text shows Data1..Data3 as numbers; stored they are little-endian.
  const std::uint8_t order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  for (int i = 0; i < 16; ++i) bytes[i] = raw[order[i]];
  return true;
}

bool ReadColumn(const TVdbColumnLayout& c, const std::uint8_t* image, const TVdbCodePage& codePage,
                tk::TFieldValue& value) {
  value = tk::TFieldValue();
  if (c.HasNullByte() && image[c.NullByteOffset()] == 0) return false;
  const std::uint8_t* p = image + c.DataOffset();
  switch (c.ColumnType) {
    case ctChar:
      value = p[0] == 0 ? std::u16string() : codePage.Decode(p, 1);
      return true;
    case ctString: {
      const std::int32_t maxLength = c.StringLength();
      const int width = PrefixWidth(maxLength, false);
      const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(ReadLE(p, width), maxLength));
      value = codePage.Decode(p + width, count);
      return true;
    }
    case ctWideString: {
      const std::int32_t maxLength = c.StringLength();
      const int width = PrefixWidth(maxLength, true);
      const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(ReadLE(p, width), maxLength));
      std::u16string text(count, u'\0');
      for (std::size_t i = 0; i < count; ++i) text[i] = static_cast<char16_t>(ReadLE(p + width + 2 * i, 2));
      value = std::move(text);
      return true;
    }
    case ctSmallInt:
      value = SignExtend(ReadLE(p, 2), 2);
      return true;
    case ctByte:
      value = static_cast<std::int64_t>(p[0]);
      return true;
    case ctBoolean:
      value = p[0] != 0;
      return true;
    case ctInteger:
    case ctRecordId:
      value = SignExtend(ReadLE(p, 4), 4);
      return true;
    case ctLink: {
      const std::int64_t id = SignExtend(ReadLE(p, 4), 4);
      if (id == 0) return false;
      value = id;
      return true;
    }
    case ctBigInt:
      value = static_cast<std::int64_t>(ReadLE(p, 8));
      return true;
    case ctFloat: {
      const std::uint64_t bits = ReadLE(p, 8);
      double d;
      std::memcpy(&d, &bits, sizeof d);
      value = d;
      return true;
    }
    case ctDate: {
      const auto packed = static_cast<std::int32_t>(ReadLE(p, 4));
      if (packed == 0) return false;
      value = PackedDateToDayNumber(packed);
      return true;
    }
    case ctTime: {
      const int net = c.Size - (c.HasNullByte() ? 1 : 0);
      value = net == 2 ? SignExtend(ReadLE(p, 2), 2) * 60'000 : SignExtend(ReadLE(p, 4), 4);
      return true;
    }
    case ctTimeStamp: {
      const auto packed = static_cast<std::int32_t>(ReadLE(p, 4));
      const auto ms = static_cast<std::int32_t>(ReadLE(p + 4, 4));
      if (!c.HasNullByte() && packed == 0 && ms == 0) return false;
      const std::int64_t total = (PackedDateToDayNumber(packed) - 1) * kMsPerDay + ms;
      if (packed == 0 || total < 0) {
        value = std::int64_t{0};
        return false;
      }
      value = total;
      return true;
    }
    case ctGuid:
      value = GuidToText(p);
      return true;
    case ctEnum: {
      const auto ordinal = static_cast<std::int8_t>(p[0]);
      if (ordinal == 0) return false;
      value = std::int64_t{ordinal};
      return true;
    }
    case ctMemo:
    case ctWideMemo:
    case ctBlob:
      return ReadLE(p, 4) != 0;
    case ctFixedBinary: {
      const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(ReadLE(p, 4), std::max(0, c.MaxLength)));
      value = tk::TBytes(p + 4, p + 4 + length);
      return true;
    }
    default:
      return false;
  }
}

void WriteColumn(const TVdbColumnLayout& c, std::uint8_t* image, const TVdbCodePage& codePage,
                 const tk::TFieldValue& value) {
  std::uint8_t* p = image + c.DataOffset();
  const bool null = std::holds_alternative<std::monostate>(value);
  if (null) {
    if (c.HasNullByte()) {
      image[c.NullByteOffset()] = 0;
      return;
    }
    // Kinds without a null byte store their zero value as null.
    const int net = c.Size - (c.HasNullByte() ? 1 : 0);
    if (net > 0) std::memset(p, 0, static_cast<std::size_t>(net));
    return;
  }
  switch (c.ColumnType) {
    case ctChar: {
      const auto* text = std::get_if<std::u16string>(&value);
      const std::vector<std::uint8_t> bytes = text ? codePage.Encode(*text) : std::vector<std::uint8_t>();
      p[0] = bytes.empty() ? 0 : bytes[0];
      break;
    }
    case ctString: {
      const auto* text = std::get_if<std::u16string>(&value);
      std::vector<std::uint8_t> bytes = text ? codePage.Encode(*text) : std::vector<std::uint8_t>();
      const std::int32_t maxLength = c.StringLength();
      if (bytes.size() > static_cast<std::size_t>(maxLength)) bytes.resize(static_cast<std::size_t>(maxLength));
      const int width = PrefixWidth(maxLength, false);
      WriteLE(p, width, bytes.size());
      if (!bytes.empty()) std::memcpy(p + width, bytes.data(), bytes.size());
      break;
    }
    case ctWideString: {
      const auto* text = std::get_if<std::u16string>(&value);
      std::u16string units = text ? *text : std::u16string();
      const std::int32_t maxLength = c.StringLength();
      if (units.size() > static_cast<std::size_t>(maxLength)) units.resize(static_cast<std::size_t>(maxLength));
      const int width = PrefixWidth(maxLength, true);
      WriteLE(p, width, units.size());
      for (std::size_t i = 0; i < units.size(); ++i) WriteLE(p + width + 2 * i, 2, units[i]);
      break;
    }
    case ctSmallInt:
      WriteLE(p, 2, static_cast<std::uint64_t>(AsInt(value)));
      break;
    case ctByte:
    case ctBoolean:
    case ctEnum:
      p[0] = static_cast<std::uint8_t>(AsInt(value));
      break;
    case ctInteger:
    case ctRecordId:
    case ctLink:
      WriteLE(p, 4, static_cast<std::uint64_t>(AsInt(value)));
      break;
    case ctBigInt:
      WriteLE(p, 8, static_cast<std::uint64_t>(AsInt(value)));
      break;
    case ctFloat: {
      double d = 0;
      if (const auto* f = std::get_if<double>(&value)) d = *f;
      else d = static_cast<double>(AsInt(value));
      std::uint64_t bits;
      std::memcpy(&bits, &d, sizeof d);
      WriteLE(p, 8, bits);
      break;
    }
    case ctDate:
      WriteLE(p, 4, static_cast<std::uint32_t>(DayNumberToPackedDate(AsInt(value))));
      break;
    case ctTime: {
      std::int64_t ms = AsInt(value);
      std::int64_t unit = 0;
      switch (c.Precision) {
        case 2: unit = 60'000; break;
        case 3: unit = 1'000; break;
        case 4: unit = 1; break;
        default: tk::DatabaseError(u"This precision is not allowed for a VidoraDB time field");
      }
      ms = (ms + unit / 2) / unit * unit;
      const int net = c.Size - (c.HasNullByte() ? 1 : 0);
      if (net == 2)
        WriteLE(p, 2, static_cast<std::uint64_t>(ms / 60'000));
      else
        WriteLE(p, 4, static_cast<std::uint64_t>(ms));
      break;
    }
    case ctTimeStamp: {
      const std::int64_t total = std::max<std::int64_t>(0, AsInt(value));
      WriteLE(p, 4, static_cast<std::uint32_t>(DayNumberToPackedDate(total / kMsPerDay + 1)));
      WriteLE(p + 4, 4, static_cast<std::uint32_t>(total % kMsPerDay));
      break;
    }
    case ctGuid: {
      const auto* text = std::get_if<std::u16string>(&value);
      std::uint8_t bytes[16];
      if (!text || !TextToGuid(*text, bytes))
        tk::DatabaseError(u"'%s' is not a valid GUID value", {text ? std::u16string_view(*text) : u""});
      std::memcpy(p, bytes, 16);
      break;
    }
    case ctFixedBinary: {
      const auto* bytes = std::get_if<tk::TBytes>(&value);
      const std::size_t length = bytes ? std::min(bytes->size(), static_cast<std::size_t>(std::max(0, c.MaxLength))) : 0;
      WriteLE(p, 4, length);
      if (length > 0) std::memcpy(p + 4, bytes->data(), length);
      break;
    }
    default:
      return;  // memo, blob and relation columns are written through their own calls
  }
  if (c.HasNullByte()) image[c.NullByteOffset()] = 1;
}

}  // namespace vdbds
