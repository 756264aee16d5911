// The numeric value types: integers of every width, booleans, record ids and links, and floats;
// comparison across them and the arithmetic with its result types.
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

}  // namespace vdb
