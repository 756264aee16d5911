// The GUID value type: sixteen bytes, shown and parsed in the braced hexadecimal form.
#include "types/VdbData.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "base/VdbErrorCodes.h"
#include "base/VdbErrors.h"
#include "types/VdbDataInternal.h"
#include "types/vuCodePage.h"

namespace vdb {

using namespace detail;

// TVdbGuidType

void TVdbGuidType::SetGuid(TVdbDataValue& value, const TVdbGuid& v) const {
  auto data = WritableData(value);
  StoreLE<std::uint32_t>(data, v.Data1, 0);
  StoreLE<std::uint16_t>(data, v.Data2, 4);
  StoreLE<std::uint16_t>(data, v.Data3, 6);
  std::copy(std::begin(v.Data4), std::end(v.Data4), data.begin() + 8);
  MarkPresent(value);
}

TVdbGuid TVdbGuidType::GetGuid(const TVdbDataValue& value) const {
  TVdbGuid g;
  if (IsNull(value)) return g;
  const auto data = ReadableData(value);
  g.Data1 = LoadLE<std::uint32_t>(data, 0);
  g.Data2 = LoadLE<std::uint16_t>(data, 4);
  g.Data3 = LoadLE<std::uint16_t>(data, 6);
  std::copy(data.begin() + 8, data.begin() + 16, std::begin(g.Data4));
  return g;
}

int TVdbGuidType::CompareTo(const TVdbDataValue& value, const TVdbDataValue& other, const TVdbDataType& otherType,
                            TStrCmpOptions, TVdbCompareMode mode) const {
  const int n = NullCompare(IsNull(value), otherType.IsNull(other), mode);
  if (n >= 0) return n;
  const TVdbGuid a = GetGuid(value), b = otherType.GetGuid(other);
  if (a.Data1 != b.Data1) return CompareScalars(a.Data1, b.Data1);
  if (a.Data2 != b.Data2) return CompareScalars(a.Data2, b.Data2);
  if (a.Data3 != b.Data3) return CompareScalars(a.Data3, b.Data3);
  // Bytes 8-9 as one little-endian number, then bytes 15 down to 10.
  const unsigned a89 = a.Data4[0] | (a.Data4[1] << 8), b89 = b.Data4[0] | (b.Data4[1] << 8);
  if (a89 != b89) return CompareScalars(a89, b89);
  for (int i = 7; i >= 2; --i)
    if (a.Data4[i] != b.Data4[i]) return CompareScalars(a.Data4[i], b.Data4[i]);
  return vcrEqual;
}

bool TVdbGuidType::CanConvertFrom(const TVdbDataType& from, bool explicitly) const {
  return from.ColumnType() == vctNull || from.ColumnType() == vctGuid || (explicitly && from.IsString());
}

std::u16string TVdbGuidType::ConvertToString(const TVdbDataValue& value, const TvuFormats&) const {
  if (IsNull(value)) return {};
  const TVdbGuid g = GetGuid(value);
  static constexpr char16_t kHex[] = u"0123456789ABCDEF";
  std::u16string out = u"{";
  auto hex = [&](std::uint64_t v, int digits) {
    for (int i = digits - 1; i >= 0; --i) out += kHex[(v >> (4 * i)) & 15];
  };
  hex(g.Data1, 8);
  out += u'-';
  hex(g.Data2, 4);
  out += u'-';
  hex(g.Data3, 4);
  out += u'-';
  hex(g.Data4[0], 2);
  hex(g.Data4[1], 2);
  out += u'-';
  for (int i = 2; i < 8; ++i) hex(g.Data4[i], 2);
  out += u'}';
  return out;
}

void TVdbGuidType::ConvertFromString(TVdbDataValue& value, std::u16string_view text, const TvuFormats&) const {
  const std::u16string_view t = Trim(text);
  if (t.empty()) {
    SetNull(value);
    return;
  }
  auto fail = [] { throw EVdbEngine(errTypeMismatch, {u"String->Guid"}); };
  if (t.size() != 38 || t.front() != u'{' || t.back() != u'}') fail();
  std::uint8_t nibbles[32];
  int n = 0;
  for (std::size_t i = 1; i < 37; ++i) {
    const char16_t c = t[i];
    if (i == 9 || i == 14 || i == 19 || i == 24) {
      if (c != u'-') fail();
      continue;
    }
    int v = -1;
    if (c >= u'0' && c <= u'9') v = c - u'0';
    else if (c >= u'A' && c <= u'F') v = c - u'A' + 10;
    else if (c >= u'a' && c <= u'f') v = c - u'a' + 10;
    if (v < 0) fail();
    nibbles[n++] = static_cast<std::uint8_t>(v);
  }
  auto num = [&](int from, int count) {
    std::uint64_t v = 0;
    for (int i = 0; i < count; ++i) v = (v << 4) | nibbles[from + i];
    return v;
  };
  TVdbGuid g;
  g.Data1 = static_cast<std::uint32_t>(num(0, 8));
  g.Data2 = static_cast<std::uint16_t>(num(8, 4));
  g.Data3 = static_cast<std::uint16_t>(num(12, 4));
  for (int i = 0; i < 8; ++i) g.Data4[i] = static_cast<std::uint8_t>(num(16 + 2 * i, 2));
  SetGuid(value, g);
}

}  // namespace vdb
