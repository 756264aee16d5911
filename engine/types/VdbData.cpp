// Value types: values, the type registry and factories, the operations over two types, and the
// null type. The numeric types live in VdbNumericTypes.cpp, the enumeration in VdbEnumType.cpp,
// the GUID in VdbGuidType.cpp, Char and binary in VdbBinaryTypes.cpp, date/time types in
// VdbDateTime.cpp and string types in VdbStrings.cpp.
#include "types/VdbData.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <chrono>
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

namespace {

// Day numbers count from 1 January of year 1 (day 1); the calendar's own from 1 January 1970.
constexpr std::int64_t kDayNumberOf1970 = 719163;

}  // namespace

bool VdbIsValidDate(int year, int month, int day) noexcept {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > 31) return false;
  return std::chrono::year_month_day(std::chrono::year(year), std::chrono::month(static_cast<unsigned>(month)),
                                     std::chrono::day(static_cast<unsigned>(day)))
      .ok();
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
  // Proleptic Gregorian; months and days beyond their ranges roll on, as they always did.
  namespace c = std::chrono;
  const c::year_month first = c::year(y) / c::January + c::months(m - 1);
  const c::sys_days days = c::sys_days(first / 1) + c::days(d - 1);
  return days.time_since_epoch().count() + kDayNumberOf1970;
}

TVdbPackedDate VdbDateFromDayNumber(std::int64_t dayNumber) {
  if (dayNumber < 1 || dayNumber > 3652059)  // 31.12.9999
    RaiseRange(vuIntToStr(dayNumber), u"Date", u"01.01.0001", u"31.12.9999");
  const std::chrono::year_month_day ymd{
      std::chrono::sys_days(std::chrono::days(dayNumber - kDayNumberOf1970))};
  return VdbEncodeDate(static_cast<int>(ymd.year()), static_cast<int>(static_cast<unsigned>(ymd.month())),
                       static_cast<int>(static_cast<unsigned>(ymd.day())));
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

}  // namespace vdb
