// Value types: values, the type registry and factories, the operations over two types, and the
// null, numeric, enumeration, GUID, Char and binary types. Date/time types live in
// VdbDateTime.cpp, string types in VdbStrings.cpp.
#include "types/VdbData.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <limits>
#include <mutex>
#include <unordered_map>

#include "base/VdbErrorCodes.h"
#include "base/VdbErrors.h"
#include "types/VdbDataInternal.h"
#include "types/vuCodePage.h"

namespace vdb {

using namespace detail;

// ---------------------------------------------------------------------------------------------
// TVdbDataValue

TVdbDataValue::TVdbDataValue(const TVdbDataValue& other)
    : FCode(other.FCode), FEmpty(other.FEmpty), FIsRef(other.FIsRef), FSize(other.FSize), FHeap(other.FHeap),
      FRef(other.FRef) {
  std::memcpy(FInline, other.FInline, kInline);
}

TVdbDataValue& TVdbDataValue::operator=(const TVdbDataValue& other) {
  if (this != &other) {
    FCode = other.FCode;
    FEmpty = other.FEmpty;
    FIsRef = other.FIsRef;
    FSize = other.FSize;
    FHeap = other.FHeap;
    FRef = other.FRef;
    std::memcpy(FInline, other.FInline, kInline);
  }
  return *this;
}

TVdbDataValue::TVdbDataValue(TVdbDataValue&& other) noexcept
    : FCode(other.FCode), FEmpty(other.FEmpty), FIsRef(other.FIsRef), FSize(other.FSize),
      FHeap(std::move(other.FHeap)), FRef(other.FRef) {
  std::memcpy(FInline, other.FInline, kInline);
  other.Clear();
}

TVdbDataValue& TVdbDataValue::operator=(TVdbDataValue&& other) noexcept {
  if (this != &other) {
    FCode = other.FCode;
    FEmpty = other.FEmpty;
    FIsRef = other.FIsRef;
    FSize = other.FSize;
    FHeap = std::move(other.FHeap);
    FRef = other.FRef;
    std::memcpy(FInline, other.FInline, kInline);
    other.Clear();
  }
  return *this;
}

std::span<std::uint8_t> TVdbDataValue::Field() noexcept {
  if (FIsRef) return FRef;
  if (FSize <= kInline) return {FInline, FSize};
  return {FHeap.data(), FSize};
}

std::span<const std::uint8_t> TVdbDataValue::Field() const noexcept {
  if (FIsRef) return FRef;
  if (FSize <= kInline) return {FInline, FSize};
  return {FHeap.data(), FSize};
}

void TVdbDataValue::Clear() noexcept {
  FCode = 0;
  FEmpty = true;
  FIsRef = false;
  FSize = 0;
  FHeap.clear();
  FHeap.shrink_to_fit();
  FRef = {};
}

void TVdbDataValue::MakeOwned(TVdbColumnType code, std::size_t size) {
  FIsRef = false;
  FRef = {};
  FCode = code;
  FEmpty = false;
  FSize = static_cast<std::uint32_t>(size);
  std::memset(FInline, 0, kInline);
  if (size > kInline) FHeap.assign(size, 0);
  else FHeap.clear();
}

void TVdbDataValue::MakeReference(TVdbColumnType code, std::span<std::uint8_t> field) noexcept {
  FHeap.clear();
  FIsRef = true;
  FRef = field;
  FCode = code;
  FEmpty = false;
  FSize = static_cast<std::uint32_t>(field.size());
}

// ---------------------------------------------------------------------------------------------
// Dates

bool VdbIsValidDate(int year, int month, int day) noexcept {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return false;
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  const int last = (month == 2 && leap) ? 29 : kDays[month - 1];
  return day <= last;
}

TVdbPackedDate VdbEncodeDate(int year, int month, int day) noexcept { return year * 512 + month * 32 + day; }

void VdbDecodeDate(TVdbPackedDate date, int& year, int& month, int& day) noexcept {
  year = date >> 9;
  month = (date >> 5) & 15;
  day = date & 31;
}

std::int64_t VdbDayNumber(TVdbPackedDate date) noexcept {
  int y = 0, m = 0, d = 0;
  VdbDecodeDate(date, y, m, d);
  // Days from civil (proleptic Gregorian), shifted so that 1 January of year 1 is day 1.
  const std::int64_t yy = y - (m <= 2 ? 1 : 0);
  const std::int64_t era = (yy >= 0 ? yy : yy - 399) / 400;
  const std::int64_t yoe = yy - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const std::int64_t fromEpoch1970 = era * 146097 + doe - 719468;
  return fromEpoch1970 + 719163;  // 1970-01-01 is day 719163 when 0001-01-01 is day 1
}

TVdbPackedDate VdbDateFromDayNumber(std::int64_t dayNumber) {
  if (dayNumber < 1 || dayNumber > 3652059)  // 31.12.9999
    RaiseRange(vuIntToStr(dayNumber), u"Date", u"01.01.0001", u"31.12.9999");
  const std::int64_t z = dayNumber - 719163 + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const std::int64_t d = doy - (153 * mp + 2) / 5 + 1;
  const std::int64_t m = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t y = yoe + era * 400 + (m <= 2 ? 1 : 0);
  return VdbEncodeDate(static_cast<int>(y), static_cast<int>(m), static_cast<int>(d));
}

// ---------------------------------------------------------------------------------------------
// Registry

class TVdbTypeRegistry {
 public:
  static TVdbTypeRegistry& Instance() {
    static TVdbTypeRegistry registry;
    return registry;
  }

  const TVdbDataType* Register(std::unique_ptr<TVdbDataType> type) {
    std::u16string key = type->RegistryKey();
    std::lock_guard lock(FMutex);
    auto it = FTypes.find(key);
    if (it != FTypes.end()) return it->second.get();
    return FTypes.emplace(std::move(key), std::move(type)).first->second.get();
  }

 private:
  std::mutex FMutex;
  std::unordered_map<std::u16string, std::unique_ptr<TVdbDataType>> FTypes;
};

const TVdbDataType* VdbRegisterType(std::unique_ptr<TVdbDataType> type) {
  return TVdbTypeRegistry::Instance().Register(std::move(type));
}

namespace {

void CheckLevel(int level) {
  if (level < 0 || level > 6) throw EVdbEngine(errUnknownTableVersion, {});
}

// Whether a column of ACode may be nullable at ALevel (computed values: always).
bool NullableAllowed(TVdbColumnType code, int level) {
  if (level == 0) return true;
  if (code == vctRecordId || code == vctRelation) return false;
  if (level < 4 && (code == vctChar || code == vctString || code == vctWideString)) return false;
  return true;
}

bool IsIntegerCode(TVdbColumnType c) {
  return c == vctSmallInt || c == vctByte || c == vctBoolean || c == vctRecordId || c == vctLink ||
         c == vctInteger || c == vctBigInt;
}

}  // namespace

double detail::FloatArith(TVdbDataBinaryOperator op, double a, double b) {
  switch (op) {
    case dboPlus: return a + b;
    case dboMinus: return a - b;
    case dboMultiply: return a * b;
    case dboDivide:
      if (b == 0) RaiseDivisionByZero();
      return a / b;
    default: RaiseText(u"Cannot perform this operation on these data types.");
  }
}

// ---------------------------------------------------------------------------------------------
// TVdbDataType: factories

const TVdbDataType* TVdbDataType::GetDataType(TVdbColumnType columnType, bool nullable, int level) {
  CheckLevel(level);
  nullable = nullable && NullableAllowed(columnType, level);
  switch (columnType) {
    case vctNull: return GetNullType(level);
    case vctChar: return VdbRegisterType(std::make_unique<TVdbCharType>(nullable, level));
    case vctSmallInt:
    case vctByte:
    case vctBoolean:
    case vctRecordId:
    case vctLink:
    case vctInteger:
    case vctBigInt: return VdbRegisterType(std::make_unique<TVdbIntegerType>(columnType, nullable, level));
    case vctFloat: return GetFloatType(vctFloat, nullable, 0, level);
    case vctDate: return GetDateTimeType(vctDate, nullable, 0, false, level);
    case vctTime:
    case vctTimeStamp: return GetDateTimeType(columnType, nullable, 4, false, level);
    case vctMemo:
    case vctWideMemo: return GetStringType(columnType, nullable, VDB_UNBOUNDED_LENGTH, u"", level);
    case vctBlob: return GetBinaryType(vctBlob, nullable, VDB_UNBOUNDED_LENGTH, level);
    case vctRelation: return VdbRegisterType(std::make_unique<TVdbRelationType>(level));
    case vctGuid: return VdbRegisterType(std::make_unique<TVdbGuidType>(nullable, level));
    default: return nullptr;
  }
}

const TVdbDataType* TVdbDataType::GetDataType(TVdbColumnType columnType, bool nullable, std::uint32_t size,
                                              int level) {
  CheckLevel(level);
  nullable = nullable && NullableAllowed(columnType, level);
  // Null byte of the derived type: bounded strings and fixed binaries have one when nullable.
  const std::int64_t payload = static_cast<std::int64_t>(size) - (nullable ? 1 : 0);
  if (columnType == vctString) {
    std::int64_t maxLength = payload - 1;
    if (payload > 256) maxLength -= 1;
    if (maxLength < 1) throw EVdbEngine(errZeroFieldSize, {u"VARCHAR"});
    return GetStringType(vctString, nullable, static_cast<std::int32_t>(std::min<std::int64_t>(maxLength, INT32_MAX)),
                         u"", level);
  }
  if (columnType == vctWideString) {
    const std::int64_t maxLength = payload / 2 - 1;
    if (maxLength < 1) throw EVdbEngine(errZeroFieldSize, {u"VARWCHAR"});
    return GetStringType(vctWideString, nullable,
                         static_cast<std::int32_t>(std::min<std::int64_t>(maxLength, INT32_MAX)), u"", level);
  }
  if (columnType == vctFixedBinary) {
    const std::int64_t maxLength = payload - 4;
    if (maxLength < 1) throw EVdbEngine(errZeroFieldSize, {u"LONGVARBINARY"});
    return GetBinaryType(vctFixedBinary, nullable,
                         static_cast<std::int32_t>(std::min<std::int64_t>(maxLength, INT32_MAX)), level);
  }
  return GetDataType(columnType, nullable, level);
}

const TVdbDataType* TVdbDataType::GetStringType(TVdbColumnType columnType, bool nullable, std::int32_t maxLength,
                                                std::u16string_view collationName, int level) {
  CheckLevel(level);
  nullable = nullable && NullableAllowed(columnType, level);
  const TVdbCollation& collation = TVdbCollation::Resolve(collationName);
  switch (columnType) {
    case vctString:
      if (maxLength < 1 || (maxLength > VDB_MAX_ANSI_LENGTH && !(level == 0 && maxLength == VDB_UNBOUNDED_LENGTH)))
        throw EVdbEngine(errStringLengthRange, {maxLength, 1, VDB_MAX_ANSI_LENGTH});
      return VdbRegisterType(std::make_unique<TVdbAnsiStringType>(vctString, nullable, maxLength, collation, level));
    case vctWideString:
      if (maxLength < 1 || (maxLength > VDB_MAX_WIDE_LENGTH && !(level == 0 && maxLength == VDB_UNBOUNDED_LENGTH)))
        throw EVdbEngine(errStringLengthRange, {maxLength, 1, VDB_MAX_WIDE_LENGTH});
      return VdbRegisterType(std::make_unique<TVdbWideStringType>(vctWideString, nullable, maxLength, collation, level));
    case vctMemo:
      return VdbRegisterType(
          std::make_unique<TVdbAnsiStringType>(vctMemo, nullable, VDB_UNBOUNDED_LENGTH, collation, level));
    case vctWideMemo:
      return VdbRegisterType(
          std::make_unique<TVdbWideStringType>(vctWideMemo, nullable, VDB_UNBOUNDED_LENGTH, collation, level));
    default: throw EVdbEngine(errTypeMismatch, {u"String"});
  }
}

const TVdbDataType* TVdbDataType::GetApproxStringType(TVdbColumnType columnType, bool nullable,
                                                      std::int32_t maxLength, std::u16string_view collationName,
                                                      int level) {
  const std::int32_t limit = columnType == vctWideString ? VDB_MAX_WIDE_LENGTH : VDB_MAX_ANSI_LENGTH;
  if (maxLength < 1) maxLength = 1;
  if (maxLength > limit && !(level == 0 && maxLength == VDB_UNBOUNDED_LENGTH)) maxLength = limit;
  return GetStringType(columnType, nullable, maxLength, collationName, level);
}

const TVdbDataType* TVdbDataType::GetFloatType(TVdbColumnType columnType, bool nullable, int scale, int level) {
  CheckLevel(level);
  if (columnType != vctFloat) throw EVdbEngine(errTypeMismatch, {u"DOUBLE"});
  return VdbRegisterType(std::make_unique<TVdbFloatType>(nullable && NullableAllowed(vctFloat, level), scale, level));
}

const TVdbDataType* TVdbDataType::GetDateTimeType(TVdbColumnType columnType, bool nullable, int precision,
                                                  bool hasNullByte, int level) {
  CheckLevel(level);
  if (columnType != vctDate && columnType != vctTime && columnType != vctTimeStamp)
    throw EVdbEngine(errTypeMismatch, {u"Date"});
  nullable = nullable && NullableAllowed(columnType, level);
  if (columnType == vctDate) precision = 0;
  else if (precision < 1 || precision > 4) throw EVdbEngine(errInvalidParameterValue, {u"Precision"});
  // Only date and timestamp columns of levels below 6 may carry a null byte.
  hasNullByte = hasNullByte && nullable && columnType != vctTime && level < 6;
  return VdbRegisterType(std::make_unique<TVdbDateTimeType>(columnType, nullable, precision, hasNullByte, level));
}

const TVdbDataType* TVdbDataType::GetDateTimeType(TVdbColumnType columnType, bool nullable, int precision,
                                                  int level) {
  return GetDateTimeType(columnType, nullable, precision, false, level);
}

const TVdbDataType* TVdbDataType::GetBinaryType(TVdbColumnType columnType, bool nullable, std::int32_t maxSize,
                                                int level) {
  CheckLevel(level);
  nullable = nullable && NullableAllowed(columnType, level);
  if (columnType == vctBlob)
    return VdbRegisterType(std::make_unique<TVdbBinaryType>(vctBlob, nullable, VDB_UNBOUNDED_LENGTH, level));
  if (columnType != vctFixedBinary) throw EVdbEngine(errTypeMismatch, {u"LONGVARBINARY"});
  if (maxSize < 1 || maxSize > VDB_MAX_ANSI_LENGTH)
    throw EVdbEngine(errStringLengthRange, {maxSize, 1, VDB_MAX_ANSI_LENGTH});
  return VdbRegisterType(std::make_unique<TVdbBinaryType>(vctFixedBinary, nullable, maxSize, level));
}

const TVdbDataType* TVdbDataType::GetEnumType(bool nullable, bool flags, const std::vector<TVdbEnumItem>& items,
                                              int level, std::u16string_view name) {
  CheckLevel(level);
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (items[i].Value < 1 || items[i].Value > 127) throw EVdbEngine(errInvalidParameterValue, {items[i].Name});
    for (std::size_t j = 0; j < i; ++j)
      if (items[j].Value == items[i].Value) throw EVdbEngine(errInvalidParameterValue, {items[i].Name});
  }
  return VdbRegisterType(std::make_unique<TVdbEnumType>(nullable && NullableAllowed(vctEnum, level), flags, items,
                                                        std::u16string(name), level));
}

const TVdbDataType* TVdbDataType::GetEnumType(bool nullable, bool flags, std::u16string_view names,
                                              char16_t separator, char16_t quote, int level) {
  std::vector<TVdbEnumItem> items;
  std::u16string current;
  bool quoted = false;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const char16_t c = names[i];
    if (c == quote) {
      if (quoted && i + 1 < names.size() && names[i + 1] == quote) {
        current += quote;
        ++i;
      } else {
        quoted = !quoted;
      }
    } else if (c == separator && !quoted) {
      items.push_back({std::u16string(Trim(current)), static_cast<std::int32_t>(items.size() + 1)});
      current.clear();
    } else {
      current += c;
    }
  }
  if (!names.empty()) items.push_back({std::u16string(Trim(current)), static_cast<std::int32_t>(items.size() + 1)});
  return GetEnumType(nullable, flags, items, level);
}

const TVdbDataType* TVdbDataType::GetNullType(int level) {
  CheckLevel(level);
  return VdbRegisterType(std::make_unique<TVdbNullType>(level));
}

const TVdbDataType* TVdbDataType::GetVariableType(const TVdbDataType& type) {
  if (type.IsString()) {
    const auto& s = static_cast<const TVdbStringType&>(type);
    const TVdbColumnType code = (type.ColumnType() == vctWideString || type.ColumnType() == vctWideMemo)
                                    ? vctWideString
                                    : vctString;
    return GetStringType(code, true, VDB_UNBOUNDED_LENGTH, s.CollationName(), 0);
  }
  return type.GetNullableType(true)->GetLevelType(0);
}

// ---------------------------------------------------------------------------------------------
// TVdbDataType: operations over two types

bool TVdbDataType::CanConvert(const TVdbDataType& from, const TVdbDataType& to, bool explicitly) {
  return to.CanConvertFrom(from, explicitly);
}

void TVdbDataType::Convert(const TVdbDataValue& fromValue, TVdbDataValue& toValue, const TVdbDataType& fromType,
                           const TVdbDataType& toType, bool explicitly) {
  if (!toType.CanConvertFrom(fromType, explicitly)) RaiseConversion(fromType, toType);
  if (fromType.IsNull(fromValue)) {
    toType.SetNullOrDefault(toValue);
    return;
  }
  toType.ConvertFrom(toValue, fromValue, fromType, explicitly);
}

bool TVdbDataType::CanCompare(const TVdbDataType& type1, const TVdbDataType& type2) {
  return type1.CanCompareTo(type2) || type2.CanCompareTo(type1);
}

int TVdbDataType::Compare(const TVdbDataValue& value1, const TVdbDataValue& value2, const TVdbDataType& type1,
                          const TVdbDataType& type2, TStrCmpOptions options, TVdbCompareMode mode) {
  if (type1.CanCompareTo(type2)) return type1.CompareTo(value1, value2, type2, options, mode);
  if (type2.CanCompareTo(type1)) {
    const int r = type2.CompareTo(value2, value1, type1, options, mode);
    return r == vcrLess ? vcrGreater : r == vcrGreater ? vcrLess : r;
  }
  throw EVdbEngine(errTypeMismatch, {type1.SqlName() + u", " + type2.SqlName()});
}

const TVdbDataType* TVdbDataType::GetSuperType(const TVdbDataType& type1, const TVdbDataType& type2) {
  const bool nullable = type1.Nullable() || type2.Nullable();
  if (type1.ColumnType() == vctNull) return type2.GetNullableType(true)->GetLevelType(0);
  if (type2.ColumnType() == vctNull) return type1.GetNullableType(true)->GetLevelType(0);
  if (type1.IsString() && type2.IsString()) {
    // Texts meet in the wider kind and the longer length, under the left collation.
    const auto& s1 = static_cast<const TVdbStringType&>(type1);
    const auto& s2 = static_cast<const TVdbStringType&>(type2);
    const bool wide = type1.ColumnType() == vctWideString || type1.ColumnType() == vctWideMemo ||
                      type2.ColumnType() == vctWideString || type2.ColumnType() == vctWideMemo;
    if (s1.IsMemo() || s2.IsMemo())
      return GetStringType(wide ? vctWideMemo : vctMemo, nullable, VDB_UNBOUNDED_LENGTH, s1.CollationName(), 0);
    return GetApproxStringType(wide ? vctWideString : vctString, nullable, std::max(s1.MaxLength(), s2.MaxLength()),
                               s1.CollationName(), 0);
  }
  if (type1.IsNumeric() && type2.IsNumeric() && type1.IsInteger() != type2.IsInteger())
    return (type1.IsInteger() ? type2 : type1).GetNullableType(nullable)->GetLevelType(0);
  if (type1.CanConvertFrom(type2, false)) return type1.GetNullableType(nullable)->GetLevelType(0);
  if (type2.CanConvertFrom(type1, false)) return type2.GetNullableType(nullable)->GetLevelType(0);
  return nullptr;
}

const TVdbDataType* TVdbDataType::GetResultDataType(TVdbDataBinaryOperator op, const TVdbDataType& type1,
                                                    const TVdbDataType& type2) {
  if (const TVdbDataType* t = type1.GetResultDataTypeWith(op, type1, type2)) return t;
  return type2.GetResultDataTypeWith(op, type1, type2);
}

void TVdbDataType::Calculate(TVdbDataBinaryOperator op, const TVdbDataValue& value1, const TVdbDataValue& value2,
                             TVdbDataValue& result, const TVdbDataType& type1, const TVdbDataType& type2,
                             const TVdbDataType& resultType) {
  const TVdbDataType* producer = nullptr;
  if (type1.GetResultDataTypeWith(op, type1, type2)) producer = &type1;
  else if (type2.GetResultDataTypeWith(op, type1, type2)) producer = &type2;
  if (!producer) RaiseText(u"Cannot perform this operation on these data types.");
  if (type1.IsNull(value1) || type2.IsNull(value2)) {
    resultType.SetNull(result);
    return;
  }
  producer->CalculateWith(op, value1, value2, result, type1, type2, resultType);
}

void TVdbDataType::Calculate(TVdbDataUnaryOperator op, const TVdbDataValue& value, TVdbDataValue& result,
                             const TVdbDataType& type, const TVdbDataType& resultType) {
  if (!type.GetResultDataType(op)) RaiseText(u"Cannot perform this operation on these data types.");
  if (type.IsNull(value)) {
    resultType.SetNull(result);
    return;
  }
  type.CalculateWith(op, value, result, resultType);
}

// ---------------------------------------------------------------------------------------------
// TVdbDataType: attributes and field access

bool TVdbDataType::HasNullByte() const noexcept { return FNullable; }

std::uint32_t TVdbDataType::NullByteOffset() const noexcept { return NullByteFirst() ? 0 : DataWidth(); }

std::uint32_t TVdbDataType::DataOffset() const noexcept { return (HasNullByte() && NullByteFirst()) ? 1 : 0; }

const TVdbDataType* TVdbDataType::GetNullableType(bool nullable) const {
  nullable = nullable && NullableAllowed(FColumnType, FLevel);
  if (nullable == FNullable) return this;
  return VdbRegisterType(CloneWith(nullable, FLevel));
}

const TVdbDataType* TVdbDataType::GetLevelType(int level) const {
  CheckLevel(level);
  if (level == FLevel) return this;
  const bool nullable = FNullable && NullableAllowed(FColumnType, level);
  // Date/time null bytes and string length limits depend on the level: go through the factories.
  if (IsDateTime()) {
    const auto& dt = static_cast<const TVdbDateTimeType&>(*this);
    return GetDateTimeType(FColumnType, nullable, dt.Precision(), dt.HasNullByte(), level);
  }
  if (IsString()) {
    const auto& s = static_cast<const TVdbStringType&>(*this);
    return GetStringType(FColumnType, nullable, s.MaxLength(), s.CollationName(), level);
  }
  return VdbRegisterType(CloneWith(nullable, level));
}

bool TVdbDataType::IsInteger() const noexcept { return IsIntegerCode(FColumnType); }

bool TVdbDataType::IsString() const noexcept {
  return FColumnType == vctString || FColumnType == vctMemo || FColumnType == vctWideString ||
         FColumnType == vctWideMemo;
}

bool TVdbDataType::IsDateTime() const noexcept {
  return FColumnType == vctDate || FColumnType == vctTime || FColumnType == vctTimeStamp;
}

std::u16string TVdbDataType::RegistryKey() const {
  return vuIntToStr(FColumnType) + u"|" + (FNullable ? u"N" : u"-") + u"|" + vuIntToStr(FLevel) + u"|" + ParamKey();
}

void TVdbDataType::Mismatch() const { throw EVdbEngine(errTypeMismatch, {SqlName()}); }

std::span<std::uint8_t> TVdbDataType::WritableData(TVdbDataValue& value) const {
  if (value.IsReference()) {
    if (value.Code() != FColumnType || value.Field().size() != DataSize()) Mismatch();
  } else if (value.IsEmpty() || value.Code() != FColumnType || value.Field().size() != OwnedSize()) {
    OwnValue(value, FColumnType, OwnedSize());
  }
  return value.Field().subspan(DataOffset(), DataWidth());
}

std::span<const std::uint8_t> TVdbDataType::ReadableData(const TVdbDataValue& value) const {
  if (value.IsEmpty()) return {};
  if (value.Code() != FColumnType || value.Field().size() < DataSize()) Mismatch();
  return value.Field().subspan(DataOffset(), DataWidth());
}

void TVdbDataType::MarkPresent(TVdbDataValue& value) const {
  if (HasNullByte()) value.Field()[NullByteOffset()] = 1;
}

void TVdbDataType::CheckField(const TVdbDataValue& value, std::size_t minimum) const {
  if (value.Code() != FColumnType || value.Field().size() < minimum) Mismatch();
}

bool TVdbDataType::NullByteIsZero(const TVdbDataValue& value) const {
  CheckField(value, DataSize());
  return HasNullByte() && value.Field()[NullByteOffset()] == 0;
}

// ---------------------------------------------------------------------------------------------
// TVdbDataType: values

void TVdbDataType::InitValue(TVdbDataValue& value) const {
  OwnValue(value, FColumnType, OwnedSize());
  if (!FNullable) GetDefault(value);
}

void TVdbDataType::SetReference(TVdbDataValue& value, std::span<std::uint8_t> record, std::size_t offset) const {
  const std::size_t size = DataSize();
  if (offset > record.size() || record.size() - offset < size)
    RaiseText(u"Field of " + vuIntToStr(static_cast<std::int64_t>(size)) + u" bytes at offset " +
              vuIntToStr(static_cast<std::int64_t>(offset)) + u" lies outside the record of " +
              vuIntToStr(static_cast<std::int64_t>(record.size())) + u" bytes");
  value.MakeReference(FColumnType, record.subspan(offset, size));
}

void TVdbDataType::CopyTo(const TVdbDataValue& value, std::span<std::uint8_t> record, std::size_t offset) const {
  TVdbDataValue target;
  SetReference(target, record, offset);
  Assign(target, value, *this);
}

bool TVdbDataType::IsNull(const TVdbDataValue& value) const {
  if (value.IsEmpty()) return true;
  if (value.Code() != FColumnType) Mismatch();
  return NullByteIsZero(value);
}

void TVdbDataType::SetNull(TVdbDataValue& value) const {
  // "\"%s\" does not accept NULL values"
  if (!FNullable) throw EVdbEngine(errNullNotAllowed, {DisplayName()});
  WritableData(value);
  if (HasNullByte()) value.Field()[NullByteOffset()] = 0;
}

void TVdbDataType::SetNullOrDefault(TVdbDataValue& value) const {
  if (FNullable) SetNull(value);
  else GetDefault(value);
}

void TVdbDataType::GetDefault(TVdbDataValue& value) const {
  if (!FNullable) Mismatch();
  SetNull(value);
}
void TVdbDataType::GetMaximum(TVdbDataValue& value) const { GetDefault(value); }
void TVdbDataType::GetMinimum(TVdbDataValue& value) const { GetDefault(value); }

std::size_t TVdbDataType::GetSize(const TVdbDataValue& value) const { return IsNull(value) ? 0 : DataWidth(); }

void TVdbDataType::Assign(TVdbDataValue& value, const TVdbDataValue& other, const TVdbDataType& otherType) const {
  if (otherType.IsNull(other)) {
    SetNull(value);
    return;
  }
  if (&otherType == this && OwnedSize() == DataSize() && !other.IsEmpty()) {
    const auto src = ReadableData(other);
    auto dst = WritableData(value);
    std::copy(src.begin(), src.end(), dst.begin());
    MarkPresent(value);
    return;
  }
  if (!CanConvertFrom(otherType, true)) RaiseConversion(otherType, *this);
  ConvertFrom(value, other, otherType, true);
}

void TVdbDataType::SetInteger(TVdbDataValue&, std::int64_t) const { Mismatch(); }
std::int64_t TVdbDataType::GetInteger(const TVdbDataValue&) const { Mismatch(); }
void TVdbDataType::SetDouble(TVdbDataValue&, double) const { Mismatch(); }
double TVdbDataType::GetDouble(const TVdbDataValue&) const { Mismatch(); }
void TVdbDataType::SetGuid(TVdbDataValue&, const TVdbGuid&) const { Mismatch(); }
TVdbGuid TVdbDataType::GetGuid(const TVdbDataValue&) const { Mismatch(); }
void TVdbDataType::SetTime(TVdbDataValue&, std::int64_t) const { Mismatch(); }
std::int64_t TVdbDataType::GetTime(const TVdbDataValue&) const { Mismatch(); }
void TVdbDataType::SetDate(TVdbDataValue&, TVdbPackedDate) const { Mismatch(); }
TVdbPackedDate TVdbDataType::GetDate(const TVdbDataValue&) const { Mismatch(); }
void TVdbDataType::SetTimeStamp(TVdbDataValue&, const TVdbTimeStamp&) const { Mismatch(); }
TVdbTimeStamp TVdbDataType::GetTimeStamp(const TVdbDataValue&) const { Mismatch(); }
void TVdbDataType::SetAnsiString(TVdbDataValue&, std::string_view) const { Mismatch(); }
std::string TVdbDataType::GetAnsiString(const TVdbDataValue&) const { Mismatch(); }
void TVdbDataType::SetWideString(TVdbDataValue&, std::u16string_view) const { Mismatch(); }
std::u16string TVdbDataType::GetWideString(const TVdbDataValue&) const { Mismatch(); }
void TVdbDataType::SetBytes(TVdbDataValue&, std::span<const std::uint8_t>) const { Mismatch(); }
std::vector<std::uint8_t> TVdbDataType::GetBytes(const TVdbDataValue&) const { Mismatch(); }

bool TVdbDataType::CanCompareTo(const TVdbDataType& other) const {
  return other.ColumnType() == vctNull || other.ColumnType() == FColumnType;
}

int TVdbDataType::CompareTo(const TVdbDataValue& value, const TVdbDataValue& other, const TVdbDataType& otherType,
                            TStrCmpOptions, TVdbCompareMode mode) const {
  const int n = NullCompare(IsNull(value), otherType.IsNull(other), mode);
  if (n >= 0) return n;
  Mismatch();
}

bool TVdbDataType::CanConvertFrom(const TVdbDataType& from, bool explicitly) const {
  if (from.ColumnType() == vctNull || from.ColumnType() == FColumnType) return true;
  return explicitly && from.IsString();
}

void TVdbDataType::ConvertFrom(TVdbDataValue& value, const TVdbDataValue& from, const TVdbDataType& fromType,
                               bool explicitly) const {
  if (fromType.ColumnType() == vctNull || fromType.IsNull(from)) {
    SetNullOrDefault(value);
  } else if (fromType.IsString() && (explicitly || CanConvertFrom(fromType, false))) {
    ConvertFromString(value, fromType.GetWideString(from), TvuFormats::Invariant());
  } else if (fromType.ColumnType() == FColumnType) {
    // Same code, other parameters: go through the text form.
    ConvertFromString(value, fromType.ConvertToString(from, TvuFormats::Invariant()), TvuFormats::Invariant());
  } else {
    RaiseConversion(fromType, *this);
  }
}

const TVdbDataType* TVdbDataType::GetResultDataType(TVdbDataUnaryOperator) const { return nullptr; }

const TVdbDataType* TVdbDataType::GetResultDataTypeWith(TVdbDataBinaryOperator, const TVdbDataType& type1,
                                                        const TVdbDataType& type2) const {
  // Anything combined with the null type gives the null type.
  if (type1.ColumnType() == vctNull || type2.ColumnType() == vctNull) return GetNullType(0);
  return nullptr;
}

void TVdbDataType::CalculateWith(TVdbDataBinaryOperator, const TVdbDataValue&, const TVdbDataValue&,
                                 TVdbDataValue&, const TVdbDataType&, const TVdbDataType&,
                                 const TVdbDataType&) const {
  RaiseText(u"Cannot perform this operation on these data types.");
}

void TVdbDataType::CalculateWith(TVdbDataUnaryOperator, const TVdbDataValue&, TVdbDataValue&,
                                 const TVdbDataType&) const {
  RaiseText(u"Cannot perform this operation on these data types.");
}

// ---------------------------------------------------------------------------------------------
// TVdbNullType

void TVdbNullType::SetNull(TVdbDataValue& value) const { OwnValue(value, vctNull, 0); }

void TVdbNullType::SetReference(TVdbDataValue&, std::span<std::uint8_t>, std::size_t) const {
  RaiseText(u"Null type cannot be a reference.");
}

int TVdbNullType::CompareTo(const TVdbDataValue&, const TVdbDataValue& other, const TVdbDataType& otherType,
                            TStrCmpOptions, TVdbCompareMode mode) const {
  return NullCompare(true, otherType.IsNull(other), mode);
}

// ---------------------------------------------------------------------------------------------
// Numbers

namespace {

// Exact comparison of an integer with a double (index order: NaN greatest).
int CompareIntWithDouble(std::int64_t i, double d) {
  if (std::isnan(d)) return vcrLess;
  if (d >= 9223372036854775808.0) return vcrLess;
  if (d < -9223372036854775808.0) return vcrGreater;
  const double t = std::trunc(d);
  const auto ti = static_cast<std::int64_t>(t);
  if (i != ti) return i < ti ? vcrLess : vcrGreater;
  const double frac = d - t;
  return frac > 0 ? vcrLess : frac < 0 ? vcrGreater : vcrEqual;
}

}  // namespace

int VdbCompareFloat(double a, double b, TVdbCompareMode mode) noexcept {
  const bool an = std::isnan(a), bn = std::isnan(b);
  if (an || bn) return an && bn ? vcrEqual : an ? vcrGreater : vcrLess;
  if (mode == vcmExpression) {
    // Relative tolerance of 10^-15, evaluated in single precision.
    constexpr float kBound = 1e-15f;
    const double sum = std::fabs(a) + std::fabs(b);
    if (sum <= kBound) return vcrEqual;
    if (static_cast<float>(std::fabs(a - b) / sum) <= kBound) return vcrEqual;
  }
  return a < b ? vcrLess : a > b ? vcrGreater : vcrEqual;
}

bool TVdbNumericType::CanCompareTo(const TVdbDataType& other) const {
  return other.IsNumeric() || other.ColumnType() == vctEnum || other.ColumnType() == vctNull;
}

int TVdbNumericType::CompareTo(const TVdbDataValue& value, const TVdbDataValue& other, const TVdbDataType& otherType,
                               TStrCmpOptions, TVdbCompareMode mode) const {
  const int n = NullCompare(IsNull(value), otherType.IsNull(other), mode);
  if (n >= 0) return n;
  const bool leftFloat = ColumnType() == vctFloat;
  const bool rightFloat = otherType.ColumnType() == vctFloat;
  if (!leftFloat && !rightFloat) return CompareScalars(GetInteger(value), otherType.GetInteger(other));
  if (mode == vcmIndex && leftFloat != rightFloat) {
    if (leftFloat) {
      const int r = CompareIntWithDouble(otherType.GetInteger(other), GetDouble(value));
      return r == vcrLess ? vcrGreater : r == vcrGreater ? vcrLess : r;
    }
    return CompareIntWithDouble(GetInteger(value), otherType.GetDouble(other));
  }
  return VdbCompareFloat(GetDouble(value), otherType.GetDouble(other), mode);
}

// ---- TVdbIntegerType

std::uint32_t TVdbIntegerType::DataWidth() const noexcept {
  switch (ColumnType()) {
    case vctSmallInt: return 2;
    case vctByte:
    case vctBoolean: return 1;
    case vctBigInt: return 8;
    default: return 4;
  }
}

std::u16string TVdbIntegerType::SqlName() const {
  switch (ColumnType()) {
    case vctSmallInt: return u"SmallInt";
    case vctByte: return u"Byte";
    case vctBoolean: return u"Boolean";
    case vctRecordId: return u"RecordId";
    case vctLink: return u"Link";
    case vctBigInt: return u"BigInt";
    default: return u"Integer";
  }
}

bool TVdbIntegerType::HasNullByte() const noexcept {
  return Nullable() && ColumnType() != vctLink && ColumnType() != vctRecordId;
}

std::int64_t TVdbIntegerType::MinValue() const noexcept {
  switch (ColumnType()) {
    case vctSmallInt: return -32768;
    case vctInteger: return std::numeric_limits<std::int32_t>::min();
    case vctBigInt: return std::numeric_limits<std::int64_t>::min();
    default: return 0;
  }
}

std::int64_t TVdbIntegerType::MaxValue() const noexcept {
  switch (ColumnType()) {
    case vctSmallInt: return 32767;
    case vctByte: return 255;
    case vctBoolean: return 1;
    case vctBigInt: return std::numeric_limits<std::int64_t>::max();
    default: return std::numeric_limits<std::int32_t>::max();
  }
}

bool TVdbIntegerType::IsNull(const TVdbDataValue& value) const {
  if (value.IsEmpty()) return true;
  if (ColumnType() == vctLink) return Nullable() && LoadLE<std::int32_t>(ReadableData(value)) == 0;
  return TVdbDataType::IsNull(value);
}

void TVdbIntegerType::SetNull(TVdbDataValue& value) const {
  TVdbDataType::SetNull(value);
  if (ColumnType() == vctLink) StoreLE<std::int32_t>(WritableData(value), 0);
}

void TVdbIntegerType::GetMinimum(TVdbDataValue& value) const {
  // A nullable integer of a level-4 table or later has null as its minimum: null sorts first.
  if (Nullable() && Level() >= 4) SetNull(value);
  else SetInteger(value, MinValue());
}

void TVdbIntegerType::SetInteger(TVdbDataValue& value, std::int64_t v) const {
  if (v < MinValue() || v > MaxValue())
    RaiseRange(vuIntToStr(v), SqlName(), vuIntToStr(MinValue()), vuIntToStr(MaxValue()));
  auto data = WritableData(value);
  switch (DataWidth()) {
    case 1: data[0] = static_cast<std::uint8_t>(v); break;
    case 2: StoreLE<std::int16_t>(data, static_cast<std::int16_t>(v)); break;
    case 4: StoreLE<std::int32_t>(data, static_cast<std::int32_t>(v)); break;
    default: StoreLE<std::int64_t>(data, v); break;
  }
  MarkPresent(value);
}

std::int64_t TVdbIntegerType::GetInteger(const TVdbDataValue& value) const {
  if (IsNull(value)) return 0;
  const auto data = ReadableData(value);
  switch (DataWidth()) {
    case 1: return data[0];
    case 2: return LoadLE<std::int16_t>(data);
    case 4: return LoadLE<std::int32_t>(data);
    default: return LoadLE<std::int64_t>(data);
  }
}

void TVdbIntegerType::SetDouble(TVdbDataValue& value, double v) const {
  if (!(v >= -9223372036854775808.0 && v < 9223372036854775808.0))
    RaiseRange(vuFormatFloat(v, TvuFormats::Invariant()), SqlName(), vuIntToStr(MinValue()), vuIntToStr(MaxValue()));
  SetInteger(value, std::llround(v));
}

double TVdbIntegerType::GetDouble(const TVdbDataValue& value) const { return static_cast<double>(GetInteger(value)); }

bool TVdbIntegerType::CanConvertFrom(const TVdbDataType& from, bool explicitly) const {
  const TVdbColumnType f = from.ColumnType();
  if (f == vctNull) return true;
  if (from.IsInteger()) {
    if (explicitly) return true;
    switch (ColumnType()) {
      case vctSmallInt: return f == vctSmallInt || f == vctByte || f == vctBoolean;
      case vctByte: return f == vctByte || f == vctBoolean;
      case vctBoolean: return f == vctBoolean;
      case vctBigInt: return true;
      default: return f != vctBigInt;
    }
  }
  return explicitly && (f == vctFloat || from.IsString());
}

void TVdbIntegerType::ConvertFrom(TVdbDataValue& value, const TVdbDataValue& from, const TVdbDataType& fromType,
                                  bool explicitly) const {
  if (fromType.IsNull(from)) SetNullOrDefault(value);
  else if (fromType.IsInteger()) SetInteger(value, fromType.GetInteger(from));
  else if (fromType.ColumnType() == vctFloat) SetDouble(value, fromType.GetDouble(from));
  else TVdbDataType::ConvertFrom(value, from, fromType, explicitly);
}

std::u16string TVdbIntegerType::ConvertToString(const TVdbDataValue& value, const TvuFormats&) const {
  if (IsNull(value)) return {};
  if (ColumnType() == vctBoolean) return GetInteger(value) ? u"True" : u"False";
  return vuIntToStr(GetInteger(value));
}

void TVdbIntegerType::ConvertFromString(TVdbDataValue& value, std::u16string_view text, const TvuFormats&) const {
  const std::u16string_view t = Trim(text);
  if (t.empty()) {
    SetNull(value);
    return;
  }
  if (ColumnType() == vctBoolean) {
    if (EqualsAsciiNoCase(t, u"True")) SetInteger(value, 1);
    else if (EqualsAsciiNoCase(t, u"False")) SetInteger(value, 0);
    else RaiseRange(std::u16string(text), SqlName(), u"0", u"1");
    return;
  }
  std::string ascii;
  for (char16_t c : t) {
    if (c > 0x7F || ascii.size() > 40) throw EVdbEngine(errInvalidNumber, {std::u16string(text)});
    ascii += static_cast<char>(c);
  }
  const char* first = ascii.data();
  if (*first == '+' && ascii.size() > 1 && ascii[1] != '-') ++first;
  std::int64_t v = 0;
  const auto res = std::from_chars(first, ascii.data() + ascii.size(), v);
  if (res.ec == std::errc::result_out_of_range)
    RaiseRange(std::u16string(text), SqlName(), vuIntToStr(MinValue()), vuIntToStr(MaxValue()));
  if (res.ec != std::errc() || res.ptr != ascii.data() + ascii.size())
    throw EVdbEngine(errInvalidNumber, {std::u16string(text)});
  SetInteger(value, v);
}

namespace {

// Width rank for result types; BigInt versus RecordId/Link has no wider side.
int WidthRank(TVdbColumnType c) {
  switch (c) {
    case vctBoolean: return 0;
    case vctByte: return 1;
    case vctSmallInt: return 2;
    case vctBigInt: return 4;
    default: return 3;
  }
}

const TVdbDataType& DecidingInteger(const TVdbDataType& t1, const TVdbDataType& t2) {
  const TVdbColumnType c1 = t1.ColumnType(), c2 = t2.ColumnType();
  const bool recordLike1 = c1 == vctRecordId || c1 == vctLink;
  const bool recordLike2 = c2 == vctRecordId || c2 == vctLink;
  if ((c1 == vctBigInt && recordLike2) || (c2 == vctBigInt && recordLike1)) return t1;
  return WidthRank(c2) > WidthRank(c1) ? t2 : t1;
}

}  // namespace

const TVdbDataType* TVdbIntegerType::GetResultDataType(TVdbDataUnaryOperator op) const {
  if (op != duoMinus) return nullptr;
  if (ColumnType() == vctByte) return GetDataType(vctSmallInt, Nullable(), 0);
  return GetLevelType(0);
}

const TVdbDataType* TVdbIntegerType::GetResultDataTypeWith(TVdbDataBinaryOperator op, const TVdbDataType& type1,
                                                           const TVdbDataType& type2) const {
  if (const TVdbDataType* t = TVdbDataType::GetResultDataTypeWith(op, type1, type2)) return t;
  const bool nullable = type1.Nullable() || type2.Nullable();
  if (type1.IsInteger() && type2.IsInteger()) {
    const TVdbColumnType d = DecidingInteger(type1, type2).ColumnType();
    TVdbColumnType r = vctNull;
    switch (op) {
      case dboPlus:
      case dboMinus:
        r = d == vctSmallInt ? vctInteger : d == vctByte ? vctSmallInt : d == vctBoolean ? vctNull : vctBigInt;
        break;
      case dboMultiply:
        r = (d == vctSmallInt || d == vctByte) ? vctInteger : d == vctBoolean ? vctNull : vctBigInt;
        break;
      case dboDivide: return GetFloatType(vctFloat, nullable, 0, 0);
      default:
        r = (d == vctRecordId || d == vctLink) ? vctInteger : d;
        break;
    }
    if (r == vctNull) return nullptr;
    return GetDataType(r, nullable, 0);
  }
  // Integer with a float: the float's type for the four arithmetic operators.
  const TVdbDataType& other = &type1 == this ? type2 : type1;
  if (other.ColumnType() == vctFloat && (op == dboPlus || op == dboMinus || op == dboMultiply || op == dboDivide))
    return other.GetNullableType(nullable)->GetLevelType(0);
  return nullptr;
}

void TVdbIntegerType::CalculateWith(TVdbDataBinaryOperator op, const TVdbDataValue& value1,
                                    const TVdbDataValue& value2, TVdbDataValue& result, const TVdbDataType& type1,
                                    const TVdbDataType& type2, const TVdbDataType& resultType) const {
  if (resultType.ColumnType() == vctFloat) {
    resultType.SetDouble(result, FloatArith(op, type1.GetDouble(value1), type2.GetDouble(value2)));
    return;
  }
  const std::int64_t a = type1.GetInteger(value1);
  const std::int64_t b = type2.GetInteger(value2);
  const auto ua = static_cast<std::uint64_t>(a), ub = static_cast<std::uint64_t>(b);
  std::int64_t r = 0;
  switch (op) {
    // 64-bit wrap-around, as two's complement.
    case dboPlus: r = static_cast<std::int64_t>(ua + ub); break;
    case dboMinus: r = static_cast<std::int64_t>(ua - ub); break;
    case dboMultiply: r = static_cast<std::int64_t>(ua * ub); break;
    case dboDiv:
      if (b == 0) RaiseDivisionByZero();
      r = (b == -1) ? static_cast<std::int64_t>(0 - ua) : a / b;
      break;
    case dboMod:
      if (b == 0) RaiseDivisionByZero();
      r = (b == -1) ? 0 : a % b;
      break;
    case dboAnd: r = a & b; break;
    case dboOr: r = a | b; break;
    default: RaiseText(u"Cannot perform this operation on these data types.");
  }
  resultType.SetInteger(result, r);
}

void TVdbIntegerType::CalculateWith(TVdbDataUnaryOperator op, const TVdbDataValue& value, TVdbDataValue& result,
                                    const TVdbDataType& resultType) const {
  const std::int64_t a = GetInteger(value);
  const auto ua = static_cast<std::uint64_t>(a);
  switch (op) {
    case duoMinus: resultType.SetInteger(result, static_cast<std::int64_t>(0 - ua)); break;
    case duoInc: resultType.SetInteger(result, static_cast<std::int64_t>(ua + 1)); break;
    case duoNot: resultType.SetInteger(result, ~a); break;
    default: RaiseText(u"Cannot perform this operation on these data types.");
  }
}

// ---- TVdbFloatType

std::u16string TVdbFloatType::ParamKey() const { return vuIntToStr(FScale); }

void TVdbFloatType::GetMaximum(TVdbDataValue& value) const { SetDouble(value, std::numeric_limits<double>::max()); }

void TVdbFloatType::GetMinimum(TVdbDataValue& value) const {
  if (Nullable() && Level() >= 4) SetNull(value);
  else SetDouble(value, -std::numeric_limits<double>::max());
}

void TVdbFloatType::SetDouble(TVdbDataValue& value, double v) const {
  StoreLE<std::uint64_t>(WritableData(value), std::bit_cast<std::uint64_t>(v));
  MarkPresent(value);
}

double TVdbFloatType::GetDouble(const TVdbDataValue& value) const {
  if (IsNull(value)) return 0;
  return std::bit_cast<double>(LoadLE<std::uint64_t>(ReadableData(value)));
}

std::int64_t TVdbFloatType::GetInteger(const TVdbDataValue& value) const {
  const double d = GetDouble(value);
  if (!(d >= -9223372036854775808.0 && d < 9223372036854775808.0))
    RaiseRange(vuFormatFloat(d, TvuFormats::Invariant()), u"BigInt", vuIntToStr(INT64_MIN), vuIntToStr(INT64_MAX));
  return std::llround(d);
}

bool TVdbFloatType::CanConvertFrom(const TVdbDataType& from, bool explicitly) const {
  if (from.ColumnType() == vctNull || from.IsNumeric()) return true;
  return explicitly && from.IsString();
}

void TVdbFloatType::ConvertFrom(TVdbDataValue& value, const TVdbDataValue& from, const TVdbDataType& fromType,
                                bool explicitly) const {
  if (fromType.IsNull(from)) SetNullOrDefault(value);
  else if (fromType.IsNumeric()) SetDouble(value, fromType.GetDouble(from));
  else TVdbDataType::ConvertFrom(value, from, fromType, explicitly);
}

std::u16string TVdbFloatType::ConvertToString(const TVdbDataValue& value, const TvuFormats& formats) const {
  if (IsNull(value)) return {};
  return vuFormatFloat(GetDouble(value), formats);
}

void TVdbFloatType::ConvertFromString(TVdbDataValue& value, std::u16string_view text,
                                      const TvuFormats& formats) const {
  if (Trim(text).empty()) {
    SetNull(value);
    return;
  }
  double v = 0;
  if (!vuParseFloat(text, formats, v))
    throw EVdbEngine::CreateMsg(errInvalidNumber, u"Invalid double: \"" + std::u16string(text) + u"\"");
  SetDouble(value, v);
}

const TVdbDataType* TVdbFloatType::GetResultDataTypeWith(TVdbDataBinaryOperator op, const TVdbDataType& type1,
                                                         const TVdbDataType& type2) const {
  if (const TVdbDataType* t = TVdbDataType::GetResultDataTypeWith(op, type1, type2)) return t;
  if (!type1.IsNumeric() || !type2.IsNumeric()) return nullptr;
  if (op != dboPlus && op != dboMinus && op != dboMultiply && op != dboDivide) return nullptr;
  // The float operand's scale (the left one's when both are floats).
  const TVdbDataType& floatSide = type1.ColumnType() == vctFloat ? type1 : type2;
  return floatSide.GetNullableType(type1.Nullable() || type2.Nullable())->GetLevelType(0);
}

void TVdbFloatType::CalculateWith(TVdbDataBinaryOperator op, const TVdbDataValue& value1,
                                  const TVdbDataValue& value2, TVdbDataValue& result, const TVdbDataType& type1,
                                  const TVdbDataType& type2, const TVdbDataType& resultType) const {
  resultType.SetDouble(result, FloatArith(op, type1.GetDouble(value1), type2.GetDouble(value2)));
}

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
