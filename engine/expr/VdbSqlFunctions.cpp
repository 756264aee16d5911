#include "expr/VdbSqlFunctions.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <limits>
#include <random>

#include "base/VdbErrorCodes.h"
#include "base/VdbErrors.h"

namespace vdb {

namespace {

const TVdbDataType* FloatType() { return TVdbDataType::GetDataType(vctFloat, true, 0); }
const TVdbDataType* BigIntType() { return TVdbDataType::GetDataType(vctBigInt, true, 0); }
const TVdbDataType* IntType() { return TVdbDataType::GetDataType(vctInteger, true, 0); }
const TVdbDataType* SmallIntType() { return TVdbDataType::GetDataType(vctSmallInt, true, 0); }
const TVdbDataType* ByteType() { return TVdbDataType::GetDataType(vctByte, true, 0); }
const TVdbDataType* WideType(std::int32_t length) {
  return TVdbDataType::GetApproxStringType(vctWideString, true, length, u"", 0);
}
const TVdbDataType* AnsiType(std::int32_t length) {
  return TVdbDataType::GetApproxStringType(vctString, true, length, u"", 0);
}

bool IsNullValue(const TVdbDataType& type, const TVdbDataValue& value) { return value.IsEmpty() || type.IsNull(value); }

bool IsNullType(const TVdbDataType& t) { return t.ColumnType() == vctNull; }
bool IsNumber(const TVdbDataType& t) { return t.IsNumeric() || IsNullType(t); }
bool IsText(const TVdbDataType& t) { return t.IsString() || IsNullType(t); }
bool IsDateTimeType(const TVdbDataType& t) { return t.IsDateTime() || IsNullType(t); }
bool HasDate(const TVdbDataType& t) {
  return t.ColumnType() == vctDate || t.ColumnType() == vctTimeStamp || IsNullType(t);
}
bool HasTime(const TVdbDataType& t) {
  return t.ColumnType() == vctTime || t.ColumnType() == vctTimeStamp || IsNullType(t);
}

// The type "of s": the text's own kind and collation, unbounded; a NULL argument gives text.
const TVdbDataType* TextResult(const TVdbDataType& t) {
  return t.IsString() ? TVdbDataType::GetVariableType(t) : WideType(VDB_UNBOUNDED_LENGTH);
}

double AsDouble(const TVdbDataType& t, const TVdbDataValue& v) {
  return t.IsInteger() ? static_cast<double>(t.GetInteger(v)) : t.GetDouble(v);
}

std::int64_t AsInteger(const TVdbDataType& t, const TVdbDataValue& v) {
  if (t.IsInteger()) return t.GetInteger(v);
  const double d = std::trunc(t.GetDouble(v));
  if (!(d >= -9.2233720368547758e18 && d < 9.2233720368547758e18))
    throw EVdbEngine(errValueExceedsTypeRange,
                     {vuFormatFloat(d, TvuFormats::Invariant()), u"BIGINT", u"-9223372036854775808",
                      u"9223372036854775807"});
  return static_cast<std::int64_t>(d);
}

[[noreturn]] void RangeError(std::int64_t value, std::u16string_view type, std::int64_t min, std::int64_t max) {
  throw EVdbEngine(errValueExceedsTypeRange, {vuIntToStr(value), std::u16string(type), vuIntToStr(min), vuIntToStr(max)});
}

std::u16string AsciiText(const char* s) { return vuAsciiToU16(s); }

std::mt19937_64& Random() {
  thread_local std::mt19937_64 engine{std::random_device{}()};
  return engine;
}

// Local date and time of day now.
TVdbTimeStamp Now() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t t = std::chrono::system_clock::to_time_t(now);
  std::tm tm{};
  localtime_r(&t, &tm);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  return {VdbEncodeDate(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday),
          static_cast<std::int32_t>(((tm.tm_hour * 60 + tm.tm_min) * 60 + std::min(tm.tm_sec, 59)) * 1000 + ms)};
}

std::u16string Repeat(std::u16string_view s, std::size_t length) {
  std::u16string r;
  if (s.empty()) return r;
  r.reserve(length);
  while (r.size() < length) r += s.substr(0, length - r.size());
  return r;
}

// Fixed-point text of x with `decimals` digits after the period.
std::u16string FixedText(double x, int decimals) {
  char buf[400];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, x);
  return AsciiText(buf);
}

// STR's formatting: decimals, decimal character, thousands separator, left padding to width.
std::u16string StrText(double x, int width, int decimals, std::u16string_view decimalChar, std::u16string_view fill,
                       std::u16string_view thousands) {
  std::u16string t = FixedText(x, decimals);
  std::u16string sign;
  if (!t.empty() && t[0] == u'-') {
    sign = u"-";
    t.erase(0, 1);
  }
  const std::size_t point = t.find(u'.');
  std::u16string whole = t.substr(0, point);
  const std::u16string fraction = point == std::u16string::npos ? std::u16string() : t.substr(point + 1);
  if (!thousands.empty()) {
    std::u16string grouped;
    for (std::size_t i = 0; i < whole.size(); ++i) {
      if (i && (whole.size() - i) % 3 == 0) grouped += thousands[0];
      grouped += whole[i];
    }
    whole = std::move(grouped);
  }
  std::u16string r = sign + whole;
  if (decimals > 0) r += (decimalChar.empty() ? u'.' : decimalChar[0]) + fraction;
  const char16_t pad = fill.empty() ? u' ' : fill[0];
  if (static_cast<int>(r.size()) < width) r.insert(0, static_cast<std::size_t>(width) - r.size(), pad);
  return r;
}

std::u16string TrimText(std::u16string s, std::u16string_view chars, bool leading, bool trailing) {
  if (chars.empty()) return s;
  const char16_t c = chars[0];
  if (trailing)
    while (!s.empty() && s.back() == c) s.pop_back();
  if (leading) {
    std::size_t i = 0;
    while (i < s.size() && s[i] == c) ++i;
    s.erase(0, i);
  }
  return s;
}

}  // namespace

// ---- calendar

int VdbWeekDayNo(TVdbPackedDate date) noexcept {
  // Day 1 of the day count (1 January of year 1) was a Monday: day n is a Sunday when n is a
  // multiple of 7.
  const std::int64_t n = VdbDayNumber(date);
  return static_cast<int>(((n % 7) + 7) % 7) + 1;
}

std::u16string VdbWeekDayName(TVdbPackedDate date) {
  static constexpr std::u16string_view kNames[] = {u"Sunday",   u"Monday", u"Tuesday", u"Wednesday",
                                                   u"Thursday", u"Friday", u"Saturday"};
  return std::u16string(kNames[VdbWeekDayNo(date) - 1]);
}

int VdbWeekOfYear(TVdbPackedDate date) noexcept {
  int y = 0, m = 0, d = 0;
  VdbDecodeDate(date, y, m, d);
  const TVdbPackedDate first = VdbEncodeDate(y, 1, 1);
  const std::int64_t dayOfYear = VdbDayNumber(date) - VdbDayNumber(first);
  return static_cast<int>((dayOfYear + VdbWeekDayNo(first) - 1) / 7) + 1;
}

const TVdbDataType* VdbSqlTypeToDataType(const TVdbSqlTypeSpec& type, bool nullable) {
  switch (type.SqlType) {
    case sqlInteger:
    case sqlAutoInc: return TVdbDataType::GetDataType(vctInteger, nullable, 0);
    case sqlSmallInt: return TVdbDataType::GetDataType(vctSmallInt, nullable, 0);
    case sqlByte: return TVdbDataType::GetDataType(vctByte, nullable, 0);
    case sqlBigInt: return TVdbDataType::GetDataType(vctBigInt, nullable, 0);
    case sqlBoolean: return TVdbDataType::GetDataType(vctBoolean, nullable, 0);
    case sqlDouble: return TVdbDataType::GetDataType(vctFloat, nullable, 0);
    case sqlDate: return TVdbDataType::GetDataType(vctDate, nullable, 0);
    case sqlTimeStamp: return TVdbDataType::GetDataType(vctTimeStamp, nullable, 0);
    case sqlTime:
      return type.Precision >= 1 && type.Precision <= 4
                 ? TVdbDataType::GetDateTimeType(vctTime, nullable, type.Precision, 0)
                 : TVdbDataType::GetDataType(vctTime, nullable, 0);
    case sqlChar:
    case sqlVarChar: return TVdbDataType::GetStringType(vctString, nullable, type.Size, type.StringParam, 0);
    case sqlWChar:
    case sqlVarWChar: return TVdbDataType::GetStringType(vctWideString, nullable, type.Size, type.StringParam, 0);
    case sqlLongVarChar: return TVdbDataType::GetDataType(vctMemo, nullable, 0);
    case sqlLongVarWChar: return TVdbDataType::GetDataType(vctWideMemo, nullable, 0);
    case sqlLongVarBinary: return TVdbDataType::GetDataType(vctBlob, nullable, 0);
    case sqlLink: return TVdbDataType::GetDataType(vctLink, nullable, 0);
    case sqlRelation: return TVdbDataType::GetDataType(vctRelation, nullable, 0);
    case sqlEnum: return TVdbDataType::GetEnumType(nullable, false, type.StringParam, u',', u'"', 0);
    case sqlGuid: return TVdbDataType::GetDataType(vctGuid, nullable, 0);
    case sqlNone: break;
  }
  return nullptr;
}

// ---- TSqlStdFunction

void TSqlStdFunction::Mismatch() const { throw EVdbEngine(errTypeMismatch, {FCall.Name}); }

const TVdbDataType* TSqlStdFunction::Prepare(TVdbPrepareContext& context) {
  FColumns = context.Columns;
  FArgTypes.clear();
  FArgs.assign(FCall.Arguments.size(), nullptr);
  for (auto& a : FCall.Arguments) {
    a->Prepare(context);
    FArgTypes.push_back(a->DataType() ? a->DataType() : TVdbDataType::GetNullType(0));
  }
  if (GetIsAggregation()) {
    FResultDataType = PrepareAggregate();
    ResetAggregations();
  } else if (FSqlFunction == sftDataFunction) {
    FResultDataType = PrepareDataFunction();
  } else {
    FResultDataType = PrepareScalar();
  }
  FResultDataType->InitValue(FResult);
  return FResultDataType;
}

const TVdbDataType* TSqlStdFunction::PrepareAggregate() {
  if (FArgTypes.size() != 1) Mismatch();
  const TVdbDataType& t = ArgType(0);
  FDataType1 = &t;
  switch (FSqlFunction) {
    case sftCount: return TVdbDataType::GetDataType(vctInteger, false, 0);
    case sftSum:
      if (t.IsInteger() || IsNullType(t)) return BigIntType();
      if (t.ColumnType() == vctFloat) return FloatType();
      throw EVdbEngine(errTypeMismatch, {u"SUM"});
    case sftAvg:
      if (!IsNumber(t)) throw EVdbEngine(errTypeMismatch, {u"AVG"});
      return FloatType();
    default: return TVdbDataType::GetVariableType(t);
  }
}

void TSqlStdFunction::ResetAggregations() {
  FValue1.Clear();
  FHasValue = false;
  FSumInteger = 0;
  FSumFloat = 0;
  FCount = 0;
}

void TSqlStdFunction::CalcAggregations() {
  if (!GetIsAggregation() || FCall.Arguments.empty()) return;
  const TVdbDataValue& v = FCall.Arguments[0]->Calculate();
  const TVdbDataType& t = ArgType(0);
  if (IsNullValue(t, v)) return;
  switch (FSqlFunction) {
    case sftCount:
      if (FCount == std::numeric_limits<std::int32_t>::max()) RangeError(FCount + 1, u"INTEGER", INT32_MIN, INT32_MAX);
      ++FCount;
      return;
    case sftSum:
    case sftAvg:
      ++FCount;
      if (t.IsInteger()) {
        if (__builtin_add_overflow(FSumInteger, t.GetInteger(v), &FSumInteger))
          throw EVdbEngine(errValueExceedsTypeRange,
                           {u"SUM", u"BIGINT", u"-9223372036854775808", u"9223372036854775807"});
      } else {
        FSumFloat += t.GetDouble(v);
      }
      FHasValue = true;
      return;
    case sftMax:
    case sftMin: {
      if (FHasValue) {
        const int c = TVdbDataType::Compare(v, FValue1, t, *FResultDataType);
        if (FSqlFunction == sftMax ? c != vcrGreater : c != vcrLess) return;
      }
      FValue1.Clear();
      FResultDataType->Assign(FValue1, v, t);
      FHasValue = true;
      return;
    }
    case sftFirst:
    case sftLast:
      if (FHasValue && FSqlFunction == sftFirst) return;
      FValue1.Clear();
      FResultDataType->Assign(FValue1, v, t);
      FHasValue = true;
      return;
    default: throw EVdbEngine(errNotSupported, {FCall.Name});
  }
}

const TVdbDataValue& TSqlStdFunction::Calculate() {
  if (GetIsAggregation()) {
    switch (FSqlFunction) {
      case sftCount: FResultDataType->SetInteger(FResult, FCount); return FResult;
      case sftSum:
        if (!FHasValue) FResultDataType->SetNull(FResult);
        else if (FResultDataType->IsInteger()) FResultDataType->SetInteger(FResult, FSumInteger);
        else FResultDataType->SetDouble(FResult, FSumFloat);
        return FResult;
      case sftAvg:
        if (FCount == 0) FResultDataType->SetNull(FResult);
        else FResultDataType->SetDouble(FResult, (static_cast<double>(FSumInteger) + FSumFloat) / static_cast<double>(FCount));
        return FResult;
      case sftMax: case sftMin: case sftFirst: case sftLast:
        if (FHasValue) return FValue1;
        FResultDataType->InitValue(FResult);
        FResultDataType->SetNull(FResult);
        return FResult;
      default: throw EVdbEngine(errNotSupported, {FCall.Name});
    }
  }
  for (std::size_t i = 0; i < FCall.Arguments.size(); ++i) FArgs[i] = &FCall.Arguments[i]->Calculate();
  bool anyNull = false;
  for (std::size_t i = 0; i < FArgs.size(); ++i) anyNull = anyNull || IsNullValue(ArgType(i), Arg(i));
  // EXCHANGE with a NULL search or replacement text keeps the text.
  const bool keepsText = FSqlFunction == sftExchange && !IsNullValue(ArgType(0), Arg(0));
  if (anyNull && !keepsText) {
    FResultDataType->InitValue(FResult);
    FResultDataType->SetNull(FResult);
    return FResult;
  }
  FResultDataType->InitValue(FResult);
  if (FSqlFunction == sftDataFunction) CalculateDataFunction();
  else CalculateScalar();
  return FResult;
}

const TVdbDataType* TSqlStdFunction::PrepareScalar() {
  // Argument i must be there and pass `ok`.
  auto need = [&](std::size_t i, auto ok) {
    if (i >= FArgTypes.size() || !ok(ArgType(i))) Mismatch();
  };
  switch (FSqlFunction) {
    case sftAbs: case sftCeiling: case sftFloor: case sftFrac: case sftExp: case sftLog: case sftSqrt:
      need(0, IsNumber);
      return FloatType();
    case sftInt:
      need(0, IsNumber);
      return BigIntType();
    case sftRound:
      need(0, IsNumber);
      need(1, IsNumber);
      return FloatType();
    case sftRandom:
      need(0, IsNumber);
      return BigIntType();
    case sftRealVal:
      need(0, IsText);
      return FloatType();
    case sftChr:
      need(0, IsNumber);
      return WideType(1);
    case sftLen: case sftChar_Length:
      need(0, IsText);
      return IntType();
    case sftUpper: case sftLower: {
      need(0, IsText);
      if (IsNullType(ArgType(0))) return WideType(VDB_UNBOUNDED_LENGTH);
      const TVdbDataType* r = ArgType(0).GetResultDataType(sftUpper == FSqlFunction ? duoStringUpper : duoStringLower);
      if (!r) Mismatch();
      return r;
    }
    case sftSubString:
      need(0, IsText);
      need(1, IsNumber);
      need(2, IsNumber);
      return TextResult(ArgType(0));
    case sftTrimBoth: case sftTrimLeading: case sftTrimTrailing:
      need(0, IsText);
      if (FArgTypes.size() > 1) need(1, IsText);
      return TextResult(ArgType(0));
    case sftExchange:
      for (std::size_t i = 0; i < 3; ++i) need(i, IsText);
      return TextResult(ArgType(0));
    case sftFillStr:
      need(0, IsText);
      need(1, IsText);
      need(2, IsNumber);
      return TextResult(ArgType(0));
    case sftNTimes:
      need(0, IsText);
      need(1, IsNumber);
      return AnsiType(255);
    case sftStr: {
      need(0, [](const TVdbDataType& t) { return IsNumber(t) || t.ColumnType() == vctEnum; });
      for (std::size_t i = 1; i < FArgTypes.size(); ++i) need(i, i < 3 ? IsNumber : IsText);
      // Wide enough for the largest width STR pads to.
      return ArgType(0).ColumnType() == vctEnum ? WideType(80) : AnsiType(80);
    }
    case sftDigitStr:
      need(0, IsNumber);
      return AnsiType(255);
    case sftExtractYear: case sftExtractMonth: case sftExtractDay: case sftExtractWeekDay: case sftExtractWeek:
      need(0, HasDate);
      return IntType();
    case sftExtractWeekDayName:
      need(0, HasDate);
      return WideType(20);
    case sftExtractHour: case sftExtractMinute: case sftExtractSecond: case sftExtractMillisecond:
      need(0, HasTime);
      return IntType();
    case sftCurrent_Date: return TVdbDataType::GetDataType(vctDate, true, 0);
    case sftCurrent_Time: return TVdbDataType::GetDateTimeType(vctTime, true, 4, 0);
    case sftCurrent_Timestamp: return TVdbDataType::GetDataType(vctTimeStamp, true, 0);
    case sftCast: {
      need(0, [](const TVdbDataType&) { return true; });
      const TVdbDataType* target = VdbSqlTypeToDataType(FCall.CastType);
      if (!target || !TVdbDataType::CanConvert(ArgType(0), *target, true)) Mismatch();
      return target;
    }
    case sftCurrentRecordId: return IntType();
    default: throw EVdbEngine(errNotSupported, {u"built-in function " + FCall.Name});
  }
}

void TSqlStdFunction::CalculateScalar() {
  const TVdbDataType& r = *FResultDataType;
  auto num = [&](std::size_t i) { return AsDouble(ArgType(i), Arg(i)); };
  auto text = [&](std::size_t i) { return ArgType(i).GetWideString(Arg(i)); };
  auto setFloat = [&](double v) {
    if (std::isfinite(v)) r.SetDouble(FResult, v);
    else r.SetNull(FResult);
  };
  switch (FSqlFunction) {
    case sftAbs: return setFloat(std::fabs(num(0)));
    case sftCeiling:
    case sftFloor: {
      const double v = FSqlFunction == sftCeiling ? std::ceil(num(0)) : std::floor(num(0));
      if (v < INT32_MIN || v > INT32_MAX || std::isnan(v)) return r.SetNull(FResult);
      return r.SetDouble(FResult, v);
    }
    case sftInt: return r.SetInteger(FResult, AsInteger(ArgType(0), Arg(0)));
    case sftFrac: {
      const double v = num(0);
      return setFloat(v - std::trunc(v));
    }
    case sftRound: {
      const double x = num(0);
      const double n = std::trunc(num(1));
      if (n > 300 || n < -300) return setFloat(n > 0 ? x : 0.0);
      const double scale = std::pow(10.0, std::fabs(n));
      // nearbyint rounds a half to the even neighbour.
      return setFloat(n >= 0 ? std::nearbyint(x * scale) / scale : std::nearbyint(x / scale) * scale);
    }
    case sftExp: return setFloat(std::exp(num(0)));
    case sftLog: {
      const double x = num(0);
      if (!(x > 0)) return r.SetNull(FResult);
      return setFloat(std::log(x));
    }
    case sftSqrt: {
      const double x = num(0);
      if (!(x >= 0)) return r.SetNull(FResult);
      return setFloat(std::sqrt(x));
    }
    case sftRandom: {
      const std::int64_t n = AsInteger(ArgType(0), Arg(0));
      if (n <= 0) return r.SetNull(FResult);
      return r.SetInteger(FResult, std::uniform_int_distribution<std::int64_t>(0, n - 1)(Random()));
    }
    case sftRealVal: {
      double d = 0;
      std::u16string s = text(0);
      const auto b = s.find_first_not_of(u' ');
      s = b == std::u16string::npos ? std::u16string() : s.substr(b);
      while (!s.empty() && s.back() == u' ') s.pop_back();
      if (!vuParseFloat(s, TvuFormats::Invariant(), d)) throw EVdbEngine(errInvalidNumber, {s});
      return setFloat(d);
    }
    case sftChr: {
      const std::int64_t n = AsInteger(ArgType(0), Arg(0));
      if (n < 0 || n > 0xFFFF) return r.SetNull(FResult);
      return r.SetWideString(FResult, std::u16string(1, static_cast<char16_t>(n)));
    }
    case sftLen:
    case sftChar_Length: return r.SetInteger(FResult, static_cast<std::int64_t>(text(0).size()));
    case sftUpper:
    case sftLower:
      return TVdbDataType::Calculate(FSqlFunction == sftUpper ? duoStringUpper : duoStringLower, Arg(0), FResult,
                                     ArgType(0), r);
    case sftSubString: {
      const std::u16string s = text(0);
      const std::int64_t p = AsInteger(ArgType(1), Arg(1));
      std::int64_t n = AsInteger(ArgType(2), Arg(2));
      const auto size = static_cast<std::int64_t>(s.size());
      if (p < 1 || p > size || n < -1) return r.SetWideString(FResult, u"");
      if (n == -1 || n > size - (p - 1)) n = size - (p - 1);
      return r.SetWideString(FResult, s.substr(static_cast<std::size_t>(p - 1), static_cast<std::size_t>(n)));
    }
    case sftTrimBoth:
    case sftTrimLeading:
    case sftTrimTrailing: {
      const std::u16string chars = FArgs.size() > 1 ? text(1) : std::u16string(u" ");
      return r.SetWideString(FResult, TrimText(text(0), chars, FSqlFunction != sftTrimTrailing,
                                               FSqlFunction != sftTrimLeading));
    }
    case sftExchange: {
      const std::u16string s = text(0);
      if (IsNullValue(ArgType(1), Arg(1)) || IsNullValue(ArgType(2), Arg(2))) return r.SetWideString(FResult, s);
      const std::u16string from = text(1), to = text(2);
      if (from.empty()) return r.SetWideString(FResult, s);
      std::u16string out;
      std::size_t i = 0;
      for (std::size_t hit; (hit = s.find(from, i)) != std::u16string::npos; i = hit + from.size())
        out += s.substr(i, hit - i) + to;
      out += s.substr(i);
      return r.SetWideString(FResult, out);
    }
    case sftFillStr: {
      std::u16string s = text(0);
      const std::u16string f = text(1);
      const std::int64_t n = AsInteger(ArgType(2), Arg(2));
      if (n > VDB_MAX_ANSI_LENGTH) RangeError(n, u"FILLSTR", 0, VDB_MAX_ANSI_LENGTH);
      if (n > static_cast<std::int64_t>(s.size()) && !f.empty())
        s += Repeat(f, static_cast<std::size_t>(n) - s.size());
      return r.SetWideString(FResult, s);
    }
    case sftNTimes: {
      const std::int64_t n = AsInteger(ArgType(1), Arg(1));
      const std::u16string s = text(0);
      std::u16string out;
      // The result type holds 255 characters.
      for (std::int64_t i = 0; i < n && out.size() < 255 && !s.empty(); ++i) out += s;
      if (out.size() > 255) out.resize(255);
      return r.SetWideString(FResult, out);
    }
    case sftStr: {
      if (ArgType(0).ColumnType() == vctEnum) return r.SetWideString(FResult, ArgType(0).ConvertToString(Arg(0), TvuFormats::Invariant()));
      const int width = FArgs.size() > 1 ? static_cast<int>(std::clamp<std::int64_t>(AsInteger(ArgType(1), Arg(1)), 0, 80)) : 0;
      const int decimals = FArgs.size() > 2 ? static_cast<int>(std::clamp<std::int64_t>(AsInteger(ArgType(2), Arg(2)), 0, 11)) : 0;
      const std::u16string dec = FArgs.size() > 3 ? text(3) : u".";
      const std::u16string fill = FArgs.size() > 4 ? text(4) : u"";
      const std::u16string thousands = FArgs.size() > 5 ? text(5) : u"";
      const double x = num(0);
      if (!std::isfinite(x)) return r.SetNull(FResult);
      return r.SetWideString(FResult, StrText(x, width, decimals, dec, fill, thousands));
    }
    case sftDigitStr: {
      if (ArgType(0).IsInteger()) return r.SetWideString(FResult, vuIntToStr(ArgType(0).GetInteger(Arg(0))));
      const double x = std::trunc(num(0));
      if (!std::isfinite(x)) return r.SetNull(FResult);
      std::u16string t = FixedText(x, 0);
      if (t == u"-0") t = u"0";
      return r.SetWideString(FResult, t.substr(0, 255));
    }
    case sftExtractYear: case sftExtractMonth: case sftExtractDay: case sftExtractWeekDay: case sftExtractWeek:
    case sftExtractWeekDayName: case sftExtractHour: case sftExtractMinute: case sftExtractSecond:
    case sftExtractMillisecond: {
      const TVdbTimeStamp ts = ArgType(0).GetTimeStamp(Arg(0));
      int y = 0, m = 0, d = 0;
      VdbDecodeDate(ts.Date, y, m, d);
      switch (FSqlFunction) {
        case sftExtractYear: return r.SetInteger(FResult, y);
        case sftExtractMonth: return r.SetInteger(FResult, m);
        case sftExtractDay: return r.SetInteger(FResult, d);
        case sftExtractWeekDay: return r.SetInteger(FResult, VdbWeekDayNo(ts.Date));
        case sftExtractWeek: return r.SetInteger(FResult, VdbWeekOfYear(ts.Date));
        case sftExtractWeekDayName: return r.SetWideString(FResult, VdbWeekDayName(ts.Date));
        case sftExtractHour: return r.SetInteger(FResult, ts.Time / 3600000);
        case sftExtractMinute: return r.SetInteger(FResult, ts.Time / 60000 % 60);
        case sftExtractSecond: return r.SetInteger(FResult, ts.Time / 1000 % 60);
        default: return r.SetInteger(FResult, ts.Time % 1000);
      }
    }
    case sftCurrent_Date: return r.SetDate(FResult, Now().Date);
    case sftCurrent_Time: return r.SetTime(FResult, Now().Time * VDB_TICKS_PER_MS);
    case sftCurrent_Timestamp: return r.SetTimeStamp(FResult, Now());
    case sftCast: return TVdbDataType::Convert(Arg(0), FResult, ArgType(0), r, true);
    case sftCurrentRecordId: {
      std::int64_t id = 0;
      if (!FColumns || !FColumns->CurrentRecordId(FCall.TableName, id))
        throw EVdbEngine(errUnknownIdentifier, {FCall.TableName});
      return r.SetInteger(FResult, id);
    }
    default: throw EVdbEngine(errNotSupported, {u"built-in function " + FCall.Name});
  }
}

// ---- data functions

const TVdbDataType* TSqlStdFunction::PrepareDataFunction() {
  // Argument i, when given, must pass `ok`.
  auto need = [&](std::size_t i, auto ok) {
    if (i < FArgTypes.size() && !ok(ArgType(i))) Mismatch();
  };
  const TVdbDataFuncName& row = VdbDataFuncName(FCall.DataFuncId);
  if (static_cast<int>(FArgTypes.size()) < row.MinParameters || static_cast<int>(FArgTypes.size()) > row.MaxParameters)
    Mismatch();
  switch (FCall.DataFuncId) {
    case dfiSin: case dfiCos: case dfiAtan:
      need(0, IsNumber);
      return FloatType();
    case dfiAscii:
      need(0, IsText);
      return IntType();
    case dfiPos: case dfiScan:
      need(0, IsText);
      need(1, IsText);
      return IntType();
    case dfiLeftStr: case dfiRightStr: case dfiFillStr:
      need(0, IsText);
      need(1, IsNumber);
      return TextResult(ArgType(0));
    case dfiHexStr:
      need(0, IsNumber);
      need(1, IsNumber);
      return WideType(16);
    case dfiYear:
      need(0, HasDate);
      return SmallIntType();
    case dfiMonth: case dfiWeek: case dfiDay: case dfiWeekDayNo:
      need(0, HasDate);
      return ByteType();
    case dfiDayOfWeek:
      need(0, HasDate);
      return WideType(20);
    case dfiHour: case dfiMinute: case dfiSecond:
      need(0, IsDateTimeType);
      return ByteType();
    case dfiMillisecond:
      need(0, IsDateTimeType);
      return SmallIntType();
    case dfiCombineDateTime:
      need(0, HasDate);
      need(1, HasTime);
      return TVdbDataType::GetDataType(vctTimeStamp, true, 0);
    case dfiMakeTime: case dfiMakeDate: case dfiMakeTimeStamp:
      for (std::size_t i = 0; i < FArgTypes.size(); ++i) need(i, IsNumber);
      return FCall.DataFuncId == dfiMakeTime   ? TVdbDataType::GetDateTimeType(vctTime, true, 4, 0)
             : FCall.DataFuncId == dfiMakeDate ? TVdbDataType::GetDataType(vctDate, true, 0)
                                               : TVdbDataType::GetDataType(vctTimeStamp, true, 0);
    case dfiTimeStr:
      need(0, HasTime);
      need(1, IsNumber);
      return AnsiType(20);
    case dfiDateStr:
      need(0, HasDate);
      return AnsiType(40);
    case dfiDateTimeStr:
      need(0, IsDateTimeType);
      need(1, IsNumber);
      return AnsiType(60);
    case dfiNewGuid: return TVdbDataType::GetDataType(vctGuid, false, 0);
  }
  Mismatch();
}

void TSqlStdFunction::CalculateDataFunction() {
  const TVdbDataType& r = *FResultDataType;
  auto num = [&](std::size_t i) { return AsDouble(ArgType(i), Arg(i)); };
  auto integer = [&](std::size_t i, std::int64_t absent) { return HasArg(i) ? AsInteger(ArgType(i), Arg(i)) : absent; };
  auto text = [&](std::size_t i) { return ArgType(i).GetWideString(Arg(i)); };
  auto ts = [&](std::size_t i) { return ArgType(i).GetTimeStamp(Arg(i)); };
  // Text of a time of day at a precision of 2 (hh:nn) to 4 (hh:nn:ss.zzz); 0 means seconds.
  auto timeText = [&](std::int32_t ms, std::int64_t precision) {
    if (precision == 0) precision = 3;
    precision = std::clamp<std::int64_t>(precision, 2, 4);
    const TVdbDataType* t = TVdbDataType::GetDateTimeType(vctTime, true, static_cast<int>(precision), 0);
    TVdbDataValue v;
    t->InitValue(v);
    t->SetTime(v, ms * VDB_TICKS_PER_MS);
    return t->ConvertToString(v, TvuFormats::Invariant());
  };
  auto dateText = [&](TVdbPackedDate date) {
    const TVdbDataType* t = TVdbDataType::GetDataType(vctDate, true, 0);
    TVdbDataValue v;
    t->InitValue(v);
    t->SetDate(v, date);
    return t->ConvertToString(v, TvuFormats::Invariant());
  };
  switch (FCall.DataFuncId) {
    case dfiSin: return r.SetDouble(FResult, std::sin(num(0)));
    case dfiCos: return r.SetDouble(FResult, std::cos(num(0)));
    case dfiAtan: return r.SetDouble(FResult, std::atan(num(0)));
    case dfiAscii: {
      const std::u16string s = text(0);
      if (s.empty()) return r.SetNull(FResult);
      return r.SetInteger(FResult, s[0]);
    }
    case dfiPos: {
      const std::u16string needle = text(0), hay = text(1);
      const std::size_t p = needle.empty() ? std::u16string::npos : hay.find(needle);
      return r.SetInteger(FResult, p == std::u16string::npos ? 0 : static_cast<std::int64_t>(p) + 1);
    }
    case dfiScan: {
      const std::u16string needle = text(0), hay = text(1);
      std::int64_t count = 0;
      if (!needle.empty())
        for (std::size_t p = hay.find(needle); p != std::u16string::npos; p = hay.find(needle, p + 1)) ++count;
      return r.SetInteger(FResult, count);
    }
    case dfiLeftStr:
    case dfiRightStr: {
      const std::u16string s = text(0);
      const std::int64_t n = std::clamp<std::int64_t>(integer(1, 0), 0, static_cast<std::int64_t>(s.size()));
      return r.SetWideString(FResult, FCall.DataFuncId == dfiLeftStr ? s.substr(0, static_cast<std::size_t>(n))
                                                                       : s.substr(s.size() - static_cast<std::size_t>(n)));
    }
    case dfiFillStr: {
      std::u16string s = text(0);
      const std::int64_t n = integer(1, 0);
      if (n > VDB_MAX_ANSI_LENGTH) RangeError(n, u"FillStr", 0, VDB_MAX_ANSI_LENGTH);
      if (n > static_cast<std::int64_t>(s.size())) s.append(static_cast<std::size_t>(n) - s.size(), u' ');
      return r.SetWideString(FResult, s);
    }
    case dfiHexStr: {
      const auto v = static_cast<std::uint64_t>(integer(0, 0));
      const int digits = static_cast<int>(std::clamp<std::int64_t>(integer(1, 0), 0, 16));
      char buf[32];
      std::snprintf(buf, sizeof buf, "%0*llX", digits, static_cast<unsigned long long>(v));
      return r.SetWideString(FResult, AsciiText(buf));
    }
    case dfiYear: case dfiMonth: case dfiDay: {
      int y = 0, m = 0, d = 0;
      VdbDecodeDate(ts(0).Date, y, m, d);
      return r.SetInteger(FResult, FCall.DataFuncId == dfiYear ? y : FCall.DataFuncId == dfiMonth ? m : d);
    }
    case dfiWeek: return r.SetInteger(FResult, VdbWeekOfYear(ts(0).Date));
    case dfiWeekDayNo: return r.SetInteger(FResult, VdbWeekDayNo(ts(0).Date));
    case dfiDayOfWeek: return r.SetWideString(FResult, VdbWeekDayName(ts(0).Date));
    case dfiHour: return r.SetInteger(FResult, ts(0).Time / 3600000);
    case dfiMinute: return r.SetInteger(FResult, ts(0).Time / 60000 % 60);
    case dfiSecond: return r.SetInteger(FResult, ts(0).Time / 1000 % 60);
    case dfiMillisecond: return r.SetInteger(FResult, ts(0).Time % 1000);
    case dfiCombineDateTime: return r.SetTimeStamp(FResult, {ts(0).Date, ts(1).Time});
    case dfiMakeTime:
    case dfiMakeDate:
    case dfiMakeTimeStamp: {
      std::int64_t y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0;
      if (FCall.DataFuncId == dfiMakeTime) {
        h = integer(0, 0), mi = integer(1, 0), s = integer(2, 0), ms = integer(3, 0);
      } else {
        y = integer(0, 0), mo = integer(1, 0), d = integer(2, 0);
        h = integer(3, 0), mi = integer(4, 0), s = integer(5, 0), ms = integer(6, 0);
      }
      if (FCall.DataFuncId != dfiMakeTime &&
          (y < 1 || y > 9999 || mo < 1 || mo > 12 || d < 1 || d > 31 ||
           !VdbIsValidDate(static_cast<int>(y), static_cast<int>(mo), static_cast<int>(d))))
        throw EVdbEngine(errInvalidDate, {vuIntToStr(y) + u"-" + vuIntToStr(mo) + u"-" + vuIntToStr(d)});
      if (h < 0 || h > 23 || mi < 0 || mi > 59 || s < 0 || s > 59 || ms < 0 || ms > 999)
        throw EVdbEngine(errInvalidTime, {vuIntToStr(h) + u":" + vuIntToStr(mi) + u":" + vuIntToStr(s) + u"." +
                                          vuIntToStr(ms)});
      const auto time = static_cast<std::int32_t>(((h * 60 + mi) * 60 + s) * 1000 + ms);
      if (FCall.DataFuncId == dfiMakeTime) return r.SetTime(FResult, time * VDB_TICKS_PER_MS);
      const TVdbPackedDate date = VdbEncodeDate(static_cast<int>(y), static_cast<int>(mo), static_cast<int>(d));
      if (FCall.DataFuncId == dfiMakeDate) return r.SetDate(FResult, date);
      return r.SetTimeStamp(FResult, {date, time});
    }
    case dfiTimeStr: return r.SetWideString(FResult, timeText(ts(0).Time, integer(1, 0)));
    case dfiDateStr: return r.SetWideString(FResult, dateText(ts(0).Date));
    case dfiDateTimeStr: {
      const TVdbTimeStamp t = ts(0);
      return r.SetWideString(FResult, dateText(t.Date) + u" " + timeText(t.Time, integer(1, 0)));
    }
    case dfiNewGuid: {
      TVdbGuid g;
      const std::uint64_t a = Random()(), b = Random()();
      g.Data1 = static_cast<std::uint32_t>(a);
      g.Data2 = static_cast<std::uint16_t>(a >> 32);
      g.Data3 = static_cast<std::uint16_t>(((a >> 48) & 0x0FFF) | 0x4000);  // version 4
      for (int i = 0; i < 8; ++i) g.Data4[i] = static_cast<std::uint8_t>(b >> (8 * i));
      g.Data4[0] = static_cast<std::uint8_t>((g.Data4[0] & 0x3F) | 0x80);  // variant
      return r.SetGuid(FResult, g);
    }
  }
}

}  // namespace vdb
