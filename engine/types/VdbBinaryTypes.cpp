// The Char and binary value types: the single-byte character and the binary values, owned or
// held in a record field.
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

// ---------------------------------------------------------------------------------------------
// TVdbCharType

void TVdbCharType::GetDefault(TVdbDataValue& value) const {
  if (Nullable()) SetNull(value);
  else SetInteger(value, 0);
}

void TVdbCharType::SetInteger(TVdbDataValue& value, std::int64_t v) const {
  if (v < 0 || v > 255) RaiseRange(vuIntToStr(v), SqlName(), u"0", u"255");
  WritableData(value)[0] = static_cast<std::uint8_t>(v);
  MarkPresent(value);
}

std::int64_t TVdbCharType::GetInteger(const TVdbDataValue& value) const {
  if (IsNull(value)) return 0;
  return ReadableData(value)[0];
}

void TVdbCharType::SetAnsiString(TVdbDataValue& value, std::string_view bytes) const {
  SetInteger(value, bytes.empty() ? 0 : static_cast<std::uint8_t>(bytes[0]));
}

std::string TVdbCharType::GetAnsiString(const TVdbDataValue& value) const {
  const auto c = static_cast<char>(GetInteger(value));
  return c == 0 ? std::string() : std::string(1, c);
}

void TVdbCharType::SetWideString(TVdbDataValue& value, std::u16string_view text) const {
  SetAnsiString(value, TvuCodePage::FromUnicode(VDB_BUILTIN_CODE_PAGE, text.substr(0, 1)));
}

std::u16string TVdbCharType::GetWideString(const TVdbDataValue& value) const {
  return TvuCodePage::ToUnicode(VDB_BUILTIN_CODE_PAGE, GetAnsiString(value));
}

int TVdbCharType::CompareTo(const TVdbDataValue& value, const TVdbDataValue& other, const TVdbDataType& otherType,
                            TStrCmpOptions, TVdbCompareMode mode) const {
  const int n = NullCompare(IsNull(value), otherType.IsNull(other), mode);
  if (n >= 0) return n;
  return CompareScalars(GetInteger(value), otherType.GetInteger(other));
}

bool TVdbCharType::CanConvertFrom(const TVdbDataType& from, bool) const {
  return from.ColumnType() == vctNull || from.ColumnType() == vctChar || from.IsString();
}

std::u16string TVdbCharType::ConvertToString(const TVdbDataValue& value, const TvuFormats&) const {
  return GetWideString(value);
}

void TVdbCharType::ConvertFromString(TVdbDataValue& value, std::u16string_view text, const TvuFormats&) const {
  if (text.empty() && Nullable()) SetNull(value);
  else SetWideString(value, text);
}

// ---------------------------------------------------------------------------------------------
// TVdbBinaryType
//
// Owned blob values: [present byte][4-byte length][bytes]. Fixed binary (owned or in a record):
// [null byte?][4-byte length][MaxLength bytes][null byte?].

std::u16string TVdbBinaryType::ParamKey() const { return vuIntToStr(FMaxLength); }

bool TVdbBinaryType::HasNullByte() const noexcept { return !IsBlob() && Nullable(); }

std::size_t TVdbBinaryType::OwnedSize() const { return IsBlob() ? 5 : DataSize(); }

bool TVdbBinaryType::HoldsBytes(const TVdbDataValue& value) const { return !(IsBlob() && value.IsReference()); }

bool TVdbBinaryType::IsNull(const TVdbDataValue& value) const {
  if (value.IsEmpty()) return true;
  if (value.Code() != ColumnType()) Mismatch();
  if (IsBlob()) {
    if (value.IsReference()) {
      CheckField(value, 4);
      return LoadLE<std::uint32_t>(value.Field()) == 0;
    }
    CheckField(value, 5);
    return value.Field()[0] == 0;
  }
  return NullByteIsZero(value);
}

void TVdbBinaryType::SetNull(TVdbDataValue& value) const {
  if (!Nullable()) throw EVdbEngine(errNullNotAllowed, {DisplayName()});
  if (!IsBlob()) {
    TVdbDataType::SetNull(value);
  } else if (value.IsReference()) {
    CheckField(value, 4);
    StoreLE<std::uint32_t>(value.Field(), 0);
  } else {
    OwnValue(value, ColumnType(), 5);
  }
}

void TVdbBinaryType::SetInteger(TVdbDataValue& value, std::int64_t v) const {
  if (!IsBlob() || !value.IsReference()) Mismatch();
  CheckField(value, 4);
  if (v < 0 || v > UINT32_MAX) RaiseRange(vuIntToStr(v), u"Blob reference", u"0", vuIntToStr(UINT32_MAX));
  StoreLE<std::uint32_t>(value.Field(), static_cast<std::uint32_t>(v));
}

std::int64_t TVdbBinaryType::GetInteger(const TVdbDataValue& value) const {
  if (!IsBlob() || !value.IsReference()) Mismatch();
  CheckField(value, 4);
  return LoadLE<std::uint32_t>(value.Field());
}

void TVdbBinaryType::SetBytes(TVdbDataValue& value, std::span<const std::uint8_t> bytes) const {
  if (!HoldsBytes(value)) Mismatch();
  // Bytes taken from the value itself must survive re-owning it.
  const auto field = value.Field();
  if (!field.empty() && !bytes.empty() && bytes.data() < field.data() + field.size() &&
      field.data() < bytes.data() + bytes.size()) {
    const std::vector<std::uint8_t> copy(bytes.begin(), bytes.end());
    SetBytes(value, copy);
    return;
  }
  if (IsBlob()) {
    if (bytes.size() > 0x7FFFFFF0u) RaiseText(u"Blob value too large");
    OwnValue(value, ColumnType(), 5 + bytes.size());
    auto field = value.Field();
    field[0] = 1;
    StoreLE<std::uint32_t>(field, static_cast<std::uint32_t>(bytes.size()), 1);
    std::copy(bytes.begin(), bytes.end(), field.begin() + 5);
    return;
  }
  const std::size_t n = std::min<std::size_t>(bytes.size(), static_cast<std::size_t>(FMaxLength));
  auto data = WritableData(value);
  StoreLE<std::uint32_t>(data, static_cast<std::uint32_t>(n));
  std::copy(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n), data.begin() + 4);
  MarkPresent(value);
}

std::vector<std::uint8_t> TVdbBinaryType::GetBytes(const TVdbDataValue& value) const {
  if (!HoldsBytes(value)) Mismatch();
  if (IsNull(value)) return {};
  if (IsBlob()) {
    const auto field = value.Field();
    const std::uint32_t n = LoadLE<std::uint32_t>(field, 1);
    if (n > field.size() - 5) RaiseText(u"Stored blob length exceeds the value");
    return {field.begin() + 5, field.begin() + 5 + n};
  }
  const auto data = ReadableData(value);
  const std::uint32_t n = LoadLE<std::uint32_t>(data);
  if (n > static_cast<std::uint32_t>(FMaxLength))
    RaiseText(u"Stored length " + vuIntToStr(n) + u" exceeds the field's maximum length " + vuIntToStr(FMaxLength));
  return {data.begin() + 4, data.begin() + 4 + n};
}

std::size_t TVdbBinaryType::GetSize(const TVdbDataValue& value) const {
  if (IsBlob() && value.IsReference()) {
    CheckField(value, 4);
    return 4;
  }
  return GetBytes(value).size();
}

bool TVdbBinaryType::CanCompareTo(const TVdbDataType& other) const {
  return other.ColumnType() == vctNull || other.ColumnType() == vctBlob || other.ColumnType() == vctFixedBinary;
}

int TVdbBinaryType::CompareTo(const TVdbDataValue& value, const TVdbDataValue& other, const TVdbDataType& otherType,
                              TStrCmpOptions, TVdbCompareMode mode) const {
  const int n = NullCompare(IsNull(value), otherType.IsNull(other), mode);
  if (n >= 0) return n;
  const auto a = GetBytes(value), b = otherType.GetBytes(other);
  return CompareScalars(a, b);
}

bool TVdbBinaryType::CanConvertFrom(const TVdbDataType& from, bool explicitly) const {
  return from.ColumnType() == vctNull || from.ColumnType() == vctBlob || from.ColumnType() == vctFixedBinary ||
         (explicitly && from.IsString());
}

void TVdbBinaryType::ConvertFrom(TVdbDataValue& value, const TVdbDataValue& from, const TVdbDataType& fromType,
                                 bool explicitly) const {
  if (fromType.IsNull(from)) SetNullOrDefault(value);
  else if (fromType.ColumnType() == vctBlob || fromType.ColumnType() == vctFixedBinary) SetBytes(value, fromType.GetBytes(from));
  else TVdbDataType::ConvertFrom(value, from, fromType, explicitly);
}

std::u16string TVdbBinaryType::ConvertToString(const TVdbDataValue& value, const TvuFormats&) const {
  static constexpr char16_t kHex[] = u"0123456789ABCDEF";
  std::u16string out;
  for (std::uint8_t b : GetBytes(value)) {
    out += kHex[b >> 4];
    out += kHex[b & 15];
  }
  return out;
}

void TVdbBinaryType::ConvertFromString(TVdbDataValue& value, std::u16string_view text, const TvuFormats&) const {
  if (text.empty()) {
    SetNullOrDefault(value);
    return;
  }
  if (text.size() % 2 != 0) throw EVdbEngine(errTypeMismatch, {u"String->" + SqlName()});
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i < text.size(); i += 2) {
    int v = 0;
    for (std::size_t k = i; k < i + 2; ++k) {
      const char16_t c = text[k];
      int d = -1;
      if (c >= u'0' && c <= u'9') d = c - u'0';
      else if (c >= u'A' && c <= u'F') d = c - u'A' + 10;
      else if (c >= u'a' && c <= u'f') d = c - u'a' + 10;
      if (d < 0) throw EVdbEngine(errTypeMismatch, {u"String->" + SqlName()});
      v = v * 16 + d;
    }
    bytes.push_back(static_cast<std::uint8_t>(v));
  }
  SetBytes(value, bytes);
}

void TVdbBinaryType::GetDefault(TVdbDataValue& value) const {
  if (IsBlob() && value.IsReference()) {
    CheckField(value, 4);
    StoreLE<std::uint32_t>(value.Field(), 0);
    return;
  }
  SetBytes(value, {});
}

}  // namespace vdb
