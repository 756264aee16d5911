// The enumeration value type: named integer items, optionally combined as flags.
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
// TVdbEnumType

std::u16string TVdbEnumType::ParamKey() const {
  std::u16string key = FName + u"|" + (FFlags ? u"F" : u"-");
  for (const auto& item : FEnumItems) key += u"|" + item.Name + u"=" + vuIntToStr(item.Value);
  return key;
}

void TVdbEnumType::BadValue(std::u16string_view shown) const {
  RaiseText(u"\"" + std::u16string(shown) + u"\" is not a valid enumeration value for " + DisplayName() + u".");
}

bool TVdbEnumType::IsNull(const TVdbDataValue& value) const {
  if (value.IsEmpty()) return true;
  return static_cast<std::int8_t>(ReadableData(value)[0]) == 0;
}

void TVdbEnumType::SetNull(TVdbDataValue& value) const {
  TVdbDataType::SetNull(value);
  WritableData(value)[0] = 0;
}

void TVdbEnumType::GetDefault(TVdbDataValue& value) const {
  if (FEnumItems.empty()) SetNullOrDefault(value);
  else SetInteger(value, FEnumItems.front().Value);
}

void TVdbEnumType::SetInteger(TVdbDataValue& value, std::int64_t v) const {
  const bool known = std::any_of(FEnumItems.begin(), FEnumItems.end(), [v](const auto& i) { return i.Value == v; });
  if (!known) BadValue(vuIntToStr(v));
  WritableData(value)[0] = static_cast<std::uint8_t>(static_cast<std::int8_t>(v));
}

std::int64_t TVdbEnumType::GetInteger(const TVdbDataValue& value) const {
  if (IsNull(value)) return 0;
  return static_cast<std::int8_t>(ReadableData(value)[0]);
}

bool TVdbEnumType::CanCompareTo(const TVdbDataType& other) const {
  return other.ColumnType() == vctEnum || other.IsInteger() || other.ColumnType() == vctNull;
}

int TVdbEnumType::CompareTo(const TVdbDataValue& value, const TVdbDataValue& other, const TVdbDataType& otherType,
                            TStrCmpOptions, TVdbCompareMode mode) const {
  const int n = NullCompare(IsNull(value), otherType.IsNull(other), mode);
  if (n >= 0) return n;
  return CompareScalars(GetInteger(value), otherType.GetInteger(other));
}

bool TVdbEnumType::CanConvertFrom(const TVdbDataType& from, bool) const {
  return from.ColumnType() == vctNull || from.ColumnType() == vctEnum || from.IsInteger() || from.IsString();
}

void TVdbEnumType::ConvertFrom(TVdbDataValue& value, const TVdbDataValue& from, const TVdbDataType& fromType,
                               bool explicitly) const {
  if (fromType.IsNull(from)) {
    SetNullOrDefault(value);
  } else if (fromType.IsInteger()) {
    // Integers select an item by its 0-based position.
    const std::int64_t index = fromType.GetInteger(from);
    if (index < 0 || index >= static_cast<std::int64_t>(FEnumItems.size())) BadValue(vuIntToStr(index));
    SetInteger(value, FEnumItems[static_cast<std::size_t>(index)].Value);
  } else if (fromType.ColumnType() == vctEnum) {
    SetInteger(value, fromType.GetInteger(from));
  } else {
    TVdbDataType::ConvertFrom(value, from, fromType, explicitly);
  }
}

std::u16string TVdbEnumType::ConvertToString(const TVdbDataValue& value, const TvuFormats&) const {
  if (IsNull(value)) return {};
  const std::int64_t v = GetInteger(value);
  for (const auto& item : FEnumItems)
    if (item.Value == v) return item.Name;
  return vuIntToStr(v);
}

void TVdbEnumType::ConvertFromString(TVdbDataValue& value, std::u16string_view text, const TvuFormats&) const {
  const std::u16string_view t = Trim(text);
  if (t.empty()) {
    SetNull(value);
    return;
  }
  for (const auto& item : FEnumItems)
    if (EqualsAsciiNoCase(item.Name, t)) {
      SetInteger(value, item.Value);
      return;
    }
  BadValue(text);
}

// ---------------------------------------------------------------------------------------------

}  // namespace vdb
