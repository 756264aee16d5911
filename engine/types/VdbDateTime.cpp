// Date, Time and TimeStamp types: stored forms, text forms, comparison and date arithmetic.
#include <algorithm>
#include <cmath>
#include <limits>

#include "base/VdbErrorCodes.h"
#include "base/VdbErrors.h"
#include "types/VdbData.h"
#include "types/VdbDataInternal.h"

namespace vdb {

using namespace detail;

namespace {

constexpr TVdbPackedDate kFirstDay = 545;  // 1 January of year 1

std::u16string DateText(TVdbPackedDate date) {
  int y = 0, m = 0, d = 0;
  VdbDecodeDate(date, y, m, d);
  return vuFormatDateTime(u"dd.mm.yyyy", y, m, d, 0, TvuFormats::Invariant());
}

std::u16string TimeText(std::int64_t ms, int precision) {
  static constexpr const char16_t* kPatterns[] = {u"hh", u"hh:nn", u"hh:nn:ss", u"hh:nn:ss.zzz"};
  return vuFormatDateTime(kPatterns[std::clamp(precision, 1, 4) - 1], 1, 1, 1, ms, TvuFormats::Invariant());
}

// Parses a run of 1..AMaxDigits decimal digits into AValue; false otherwise.
bool ParseDigits(std::u16string_view s, std::size_t maxDigits, int& value, std::size_t* digitCount = nullptr) {
  if (s.empty() || s.size() > maxDigits) return false;
  int v = 0;
  for (char16_t c : s) {
    if (c < u'0' || c > u'9') return false;
    v = v * 10 + (c - u'0');
  }
  value = v;
  if (digitCount) *digitCount = s.size();
  return true;
}

// Splits at ASep into exactly three parts.
bool Split3(std::u16string_view s, char16_t sep, std::u16string_view parts[3]) {
  for (int i = 0; i < 2; ++i) {
    const std::size_t p = s.find(sep);
    if (p == std::u16string_view::npos) return false;
    parts[i] = s.substr(0, p);
    s.remove_prefix(p + 1);
  }
  if (s.find(sep) != std::u16string_view::npos) return false;
  parts[2] = s;
  return true;
}

// day.month.year, month/day/year or year-month-day; a year of at most two digits is 20yy below
// 30, else 19yy.
bool ParseDate(std::u16string_view text, TVdbPackedDate& date) {
  const std::u16string_view t = Trim(text);
  std::u16string_view parts[3];
  int dayIdx = 0, monthIdx = 1, yearIdx = 2;
  if (t.find(u'.') != std::u16string_view::npos) {
    if (!Split3(t, u'.', parts)) return false;
  } else if (t.find(u'/') != std::u16string_view::npos) {
    if (!Split3(t, u'/', parts)) return false;
    monthIdx = 0;
    dayIdx = 1;
  } else {
    if (!Split3(t, u'-', parts)) return false;
    yearIdx = 0;
    monthIdx = 1;
    dayIdx = 2;
  }
  int day = 0, month = 0, year = 0;
  std::size_t yearDigits = 0;
  if (!ParseDigits(parts[dayIdx], 2, day) || !ParseDigits(parts[monthIdx], 2, month) ||
      !ParseDigits(parts[yearIdx], 4, year, &yearDigits))
    return false;
  if (yearDigits <= 2) year += year < 30 ? 2000 : 1900;
  if (!VdbIsValidDate(year, month, day)) return false;
  date = VdbEncodeDate(year, month, day);
  return true;
}

// h[:m[:s[.f]]] with an optional " AM"/" PM"; the digits after '.' count milliseconds. Hour 24
// is accepted when everything else is 0 (the end of the day).
bool ParseTime(std::u16string_view text, std::int64_t& ms) {
  std::u16string_view t = Trim(text);
  int ampm = 0;  // 1 AM, 2 PM
  if (t.size() > 3 && t[t.size() - 3] == u' ') {
    const std::u16string_view suffix = t.substr(t.size() - 2);
    if (EqualsAsciiNoCase(suffix, u"AM")) ampm = 1;
    else if (EqualsAsciiNoCase(suffix, u"PM")) ampm = 2;
    if (ampm) t = Trim(t.substr(0, t.size() - 3));
  }
  std::u16string_view fields[3];
  int count = 0;
  while (true) {
    if (count == 3) return false;
    const std::size_t p = t.find(u':');
    fields[count++] = t.substr(0, p);
    if (p == std::u16string_view::npos) break;
    t.remove_prefix(p + 1);
  }
  int h = 0, m = 0, s = 0, f = 0;
  std::u16string_view secondText = count == 3 ? fields[2] : std::u16string_view();
  const std::size_t dot = secondText.find(u'.');
  if (dot != std::u16string_view::npos) {
    // Digits after the point are a millisecond count (".5" is 5 ms), below 1000.
    std::u16string_view frac = secondText.substr(dot + 1);
    while (frac.size() > 1 && frac.front() == u'0') frac.remove_prefix(1);
    if (!ParseDigits(frac, 3, f)) return false;
    secondText = secondText.substr(0, dot);
  }
  if (!ParseDigits(fields[0], 2, h)) return false;
  if (count >= 2 && !ParseDigits(fields[1], 2, m)) return false;
  if (count == 3 && !ParseDigits(secondText, 2, s)) return false;
  if (m > 59 || s > 59 || f > 999) return false;
  if (ampm) {
    if (h < 1 || h > 12) return false;
    if (h == 12) h = 0;
    if (ampm == 2) h += 12;
  } else if (h > 23 && !(h == 24 && m == 0 && s == 0 && f == 0)) {
    return false;
  }
  ms = ((h * 60LL + m) * 60 + s) * 1000 + f;
  return true;
}

[[noreturn]] void RaiseBadDate(std::u16string_view text) { throw EVdbEngine(errInvalidDate, {std::u16string(text)}); }
[[noreturn]] void RaiseBadTime(std::u16string_view text) { throw EVdbEngine(errInvalidTime, {std::u16string(text)}); }

std::int64_t WrapTicks(std::int64_t ticks) {
  ticks %= VDB_TICKS_PER_DAY;
  return ticks < 0 ? ticks + VDB_TICKS_PER_DAY : ticks;
}

TVdbTimeStamp TimeStampFromAbsoluteMs(std::int64_t absMs) {
  const std::int64_t days = absMs >= 0 ? absMs / VDB_MS_PER_DAY : (absMs - VDB_MS_PER_DAY + 1) / VDB_MS_PER_DAY;
  return {VdbDateFromDayNumber(days), static_cast<std::int32_t>(absMs - days * VDB_MS_PER_DAY)};
}

}  // namespace

std::uint32_t TVdbDateTimeType::DataWidth() const noexcept {
  switch (ColumnType()) {
    case vctDate: return 4;
    case vctTime: return FPrecision <= 2 ? 2 : 4;
    default: return 8;
  }
}

std::u16string TVdbDateTimeType::ParamKey() const {
  return vuIntToStr(FPrecision) + (FHasNullByte ? u"|B" : u"|-");
}

std::u16string TVdbDateTimeType::SqlName() const {
  return ColumnType() == vctDate ? u"Date" : ColumnType() == vctTime ? u"Time" : u"TimeStamp";
}

std::u16string TVdbDateTimeType::VplName() const {
  return ColumnType() == vctDate ? u"Date" : ColumnType() == vctTime ? u"Time" : u"DateTime";
}

bool TVdbDateTimeType::HasNullByte() const noexcept {
  if (ColumnType() == vctTime) return Nullable();
  return Nullable() && FHasNullByte && Level() < 6;
}

bool TVdbDateTimeType::IsNull(const TVdbDataValue& value) const {
  if (value.IsEmpty()) return true;
  if (HasNullByte()) return TVdbDataType::IsNull(value);
  if (ColumnType() == vctTime) return false;
  const auto data = ReadableData(value);
  if (ColumnType() == vctDate) return LoadLE<std::int32_t>(data) == 0;
  return LoadLE<std::int32_t>(data, 0) == 0 && LoadLE<std::int32_t>(data, 4) == 0;
}

void TVdbDateTimeType::SetNull(TVdbDataValue& value) const {
  TVdbDataType::SetNull(value);
  if (!HasNullByte()) {
    auto data = WritableData(value);
    std::fill(data.begin(), data.end(), 0);
  }
}

void TVdbDateTimeType::GetDefault(TVdbDataValue& value) const {
  if (ColumnType() == vctTime) SetTime(value, 0);
  else SetTimeStamp(value, {kFirstDay, 0});
}

void TVdbDateTimeType::GetMaximum(TVdbDataValue& value) const {
  if (ColumnType() == vctTime) SetTime(value, VDB_TICKS_PER_DAY - VDB_TICKS_PER_MS);
  else SetTimeStamp(value, {VdbEncodeDate(9999, 12, 31), static_cast<std::int32_t>(VDB_MS_PER_DAY - 1)});
}

void TVdbDateTimeType::GetMinimum(TVdbDataValue& value) const {
  if (Nullable() && Level() >= 4) SetNull(value);
  else GetDefault(value);
}

void TVdbDateTimeType::SetTime(TVdbDataValue& value, std::int64_t ticks) const {
  if (ticks < 0 || ticks > VDB_TICKS_PER_DAY) RaiseBadTime(vuIntToStr(ticks));
  if (ColumnType() == vctTimeStamp) {
    SetTimeStamp(value, {kFirstDay, static_cast<std::int32_t>(ticks / VDB_TICKS_PER_MS)});
    return;
  }
  if (ColumnType() != vctTime) Mismatch();
  auto data = WritableData(value);
  if (DataWidth() == 2) StoreLE<std::int16_t>(data, static_cast<std::int16_t>(ticks / VDB_TICKS_PER_MINUTE));
  else StoreLE<std::int32_t>(data, static_cast<std::int32_t>(ticks / VDB_TICKS_PER_MS));
  MarkPresent(value);
}

std::int64_t TVdbDateTimeType::GetTime(const TVdbDataValue& value) const {
  if (ColumnType() == vctTimeStamp) return GetTimeStamp(value).Time * VDB_TICKS_PER_MS;
  if (ColumnType() != vctTime) Mismatch();
  if (IsNull(value)) return 0;
  const auto data = ReadableData(value);
  if (DataWidth() == 2) return LoadLE<std::int16_t>(data) * VDB_TICKS_PER_MINUTE;
  return LoadLE<std::int32_t>(data) * VDB_TICKS_PER_MS;
}

void TVdbDateTimeType::SetDate(TVdbDataValue& value, TVdbPackedDate v) const {
  if (ColumnType() == vctTime) Mismatch();
  SetTimeStamp(value, {v, 0});
}

TVdbPackedDate TVdbDateTimeType::GetDate(const TVdbDataValue& value) const {
  if (ColumnType() == vctTime) Mismatch();
  return GetTimeStamp(value).Date;
}

void TVdbDateTimeType::SetTimeStamp(TVdbDataValue& value, const TVdbTimeStamp& v) const {
  if (ColumnType() == vctTime) {
    SetTime(value, v.Time * VDB_TICKS_PER_MS);
    return;
  }
  int y = 0, m = 0, d = 0;
  VdbDecodeDate(v.Date, y, m, d);
  if (!VdbIsValidDate(y, m, d))
    RaiseBadDate(vuIntToStr(d) + u"." + vuIntToStr(m) + u"." + vuIntToStr(y));
  if (v.Time < 0 || v.Time >= VDB_MS_PER_DAY) RaiseBadTime(vuIntToStr(v.Time));
  auto data = WritableData(value);
  StoreLE<std::int32_t>(data, v.Date, 0);
  if (ColumnType() == vctTimeStamp) StoreLE<std::int32_t>(data, v.Time, 4);
  MarkPresent(value);
}

TVdbTimeStamp TVdbDateTimeType::GetTimeStamp(const TVdbDataValue& value) const {
  if (IsNull(value)) return {};
  if (ColumnType() == vctTime) return {kFirstDay, static_cast<std::int32_t>(GetTime(value) / VDB_TICKS_PER_MS)};
  const auto data = ReadableData(value);
  TVdbTimeStamp ts{LoadLE<std::int32_t>(data, 0), 0};
  if (ColumnType() == vctTimeStamp) ts.Time = LoadLE<std::int32_t>(data, 4);
  return ts;
}

std::int64_t TVdbDateTimeType::AbsoluteMs(const TVdbDataValue& value) const {
  const TVdbTimeStamp ts = GetTimeStamp(value);
  return VdbDayNumber(ts.Date) * VDB_MS_PER_DAY + ts.Time;
}

bool TVdbDateTimeType::CanCompareTo(const TVdbDataType& other) const {
  const TVdbColumnType o = other.ColumnType();
  if (o == vctNull) return true;
  if (ColumnType() == vctTime) return o == vctTime;
  return o == vctDate || o == vctTimeStamp;
}

int TVdbDateTimeType::CompareTo(const TVdbDataValue& value, const TVdbDataValue& other,
                                const TVdbDataType& otherType, TStrCmpOptions, TVdbCompareMode mode) const {
  const int n = NullCompare(IsNull(value), otherType.IsNull(other), mode);
  if (n >= 0) return n;
  if (ColumnType() == vctTime) return CompareScalars(GetTime(value), otherType.GetTime(other));
  const auto& o = static_cast<const TVdbDateTimeType&>(otherType);
  return CompareScalars(AbsoluteMs(value), o.AbsoluteMs(other));
}

bool TVdbDateTimeType::CanConvertFrom(const TVdbDataType& from, bool explicitly) const {
  const TVdbColumnType f = from.ColumnType();
  if (f == vctNull || f == ColumnType()) return true;
  switch (ColumnType()) {
    case vctDate: return explicitly && (f == vctFloat || f == vctInteger || f == vctBigInt || from.IsString());
    case vctTime: return explicitly && (f == vctSmallInt || f == vctFloat || f == vctInteger || from.IsString());
    default: return f == vctFloat || f == vctDate || f == vctTime || (explicitly && from.IsString());
  }
}

void TVdbDateTimeType::ConvertFrom(TVdbDataValue& value, const TVdbDataValue& from, const TVdbDataType& fromType,
                                   bool explicitly) const {
  if (fromType.IsNull(from)) {
    SetNullOrDefault(value);
    return;
  }
  const TVdbColumnType f = fromType.ColumnType();
  if (fromType.IsDateTime()) {
    SetTimeStamp(value, fromType.GetTimeStamp(from));
    return;
  }
  if (fromType.IsNumeric()) {
    if (ColumnType() == vctTime) {
      // Numbers are minutes since midnight, as in time arithmetic.
      const double minutes = fromType.GetDouble(from);
      const double ticks = std::round(minutes * static_cast<double>(VDB_TICKS_PER_MINUTE));
      if (!(ticks >= 0 && ticks <= static_cast<double>(VDB_TICKS_PER_DAY)))
        RaiseBadTime(fromType.ConvertToString(from, TvuFormats::Invariant()));
      SetTime(value, static_cast<std::int64_t>(ticks));
    } else if (f == vctFloat) {
      // A day number with the time of day as its fraction.
      const double days = fromType.GetDouble(from);
      if (!(days >= 1 && days < 3652060)) RaiseBadDate(fromType.ConvertToString(from, TvuFormats::Invariant()));
      const auto absMs = static_cast<std::int64_t>(std::llround(days * static_cast<double>(VDB_MS_PER_DAY)));
      const TVdbTimeStamp ts = TimeStampFromAbsoluteMs(absMs);
      SetTimeStamp(value, ColumnType() == vctDate ? TVdbTimeStamp{ts.Date, 0} : ts);
    } else {
      SetDate(value, VdbDateFromDayNumber(fromType.GetInteger(from)));
    }
    return;
  }
  TVdbDataType::ConvertFrom(value, from, fromType, explicitly);
}

std::u16string TVdbDateTimeType::ConvertToString(const TVdbDataValue& value, const TvuFormats&) const {
  if (IsNull(value)) return {};
  switch (ColumnType()) {
    case vctDate: return DateText(GetDate(value));
    case vctTime: return TimeText(GetTime(value) / VDB_TICKS_PER_MS, FPrecision);
    default: {
      const TVdbTimeStamp ts = GetTimeStamp(value);
      return DateText(ts.Date) + u"_" + TimeText(ts.Time, 4);
    }
  }
}

void TVdbDateTimeType::ConvertFromString(TVdbDataValue& value, std::u16string_view text, const TvuFormats&) const {
  const std::u16string_view t = Trim(text);
  if (t.empty()) {
    SetNull(value);
    return;
  }
  if (ColumnType() == vctDate) {
    TVdbPackedDate d = 0;
    if (!ParseDate(t, d)) RaiseBadDate(text);
    SetDate(value, d);
    return;
  }
  if (ColumnType() == vctTime) {
    std::int64_t ms = 0;
    if (!ParseTime(t, ms)) RaiseBadTime(text);
    SetTime(value, ms * VDB_TICKS_PER_MS);
    return;
  }
  // Timestamp: split at the first '_', else at the first blank (unless the text before the
  // blank is already a time, as in "10:30 AM").
  std::size_t sep = t.find(u'_');
  if (sep == std::u16string_view::npos) {
    sep = t.find(u' ');
    if (sep != std::u16string_view::npos && t.substr(0, sep).find(u':') != std::u16string_view::npos)
      sep = std::u16string_view::npos;
  }
  TVdbTimeStamp ts{kFirstDay, 0};
  std::int64_t ms = 0;
  bool ok = true;
  if (sep != std::u16string_view::npos) {
    ok = ParseDate(t.substr(0, sep), ts.Date) && ParseTime(t.substr(sep + 1), ms);
  } else if (t.find(u':') == std::u16string_view::npos) {
    ok = ParseDate(t, ts.Date);
  } else {
    ok = ParseTime(t, ms);
  }
  if (!ok || ms >= VDB_MS_PER_DAY) throw EVdbEngine(errInvalidTimestamp, {std::u16string(text)});
  ts.Time = static_cast<std::int32_t>(ms);
  SetTimeStamp(value, ts);
}

const TVdbDataType* TVdbDateTimeType::GetResultDataTypeWith(TVdbDataBinaryOperator op, const TVdbDataType& type1,
                                                            const TVdbDataType& type2) const {
  if (const TVdbDataType* t = TVdbDataType::GetResultDataTypeWith(op, type1, type2)) return t;
  // Date/time only as the left operand of + and -.
  if (&type1 != this || (op != dboPlus && op != dboMinus)) return nullptr;
  const bool leftNullable = Nullable();
  const bool eitherNullable = type1.Nullable() || type2.Nullable();
  const TVdbColumnType r = type2.ColumnType();
  if (ColumnType() == vctTime) {
    if (type2.IsNumeric()) return GetLevelType(0);
    if (op == dboMinus && r == vctTime) return GetFloatType(vctFloat, eitherNullable, 0, 0);
    return nullptr;
  }
  if (type2.IsInteger()) return GetLevelType(0);
  if (type2.IsNumeric()) return GetDateTimeType(vctTimeStamp, leftNullable, 4, 0);
  if (op == dboMinus && (r == vctDate || r == vctTimeStamp)) {
    if (ColumnType() == vctDate && r == vctDate) return GetDataType(vctInteger, eitherNullable, 0);
    return GetFloatType(vctFloat, eitherNullable, 0, 0);
  }
  return nullptr;
}

void TVdbDateTimeType::CalculateWith(TVdbDataBinaryOperator op, const TVdbDataValue& value1,
                                     const TVdbDataValue& value2, TVdbDataValue& result, const TVdbDataType&,
                                     const TVdbDataType& type2, const TVdbDataType& resultType) const {
  const double sign = op == dboMinus ? -1.0 : 1.0;
  if (ColumnType() == vctTime) {
    if (type2.IsNumeric()) {
      // Moved by x minutes and wrapped into one day.
      const double delta = sign * type2.GetDouble(value2) * static_cast<double>(VDB_TICKS_PER_MINUTE);
      const double wrapped = std::fmod(static_cast<double>(GetTime(value1)) + delta, static_cast<double>(VDB_TICKS_PER_DAY));
      resultType.SetTime(result, WrapTicks(static_cast<std::int64_t>(std::llround(wrapped))));
    } else {
      resultType.SetDouble(result, static_cast<double>(GetTime(value1) - type2.GetTime(value2)) /
                                       static_cast<double>(VDB_TICKS_PER_MINUTE));
    }
    return;
  }
  if (type2.IsInteger()) {
    // n days later or earlier.
    const std::int64_t n = type2.GetInteger(value2);
    const std::int64_t days = op == dboMinus ? -n : n;
    if (days > 4000000 || days < -4000000) RaiseRange(vuIntToStr(n), u"Date", u"01.01.0001", u"31.12.9999");
    const TVdbTimeStamp ts = GetTimeStamp(value1);
    resultType.SetTimeStamp(result, {VdbDateFromDayNumber(VdbDayNumber(ts.Date) + days), ts.Time});
    return;
  }
  if (type2.IsNumeric()) {
    const double deltaMs = std::round(sign * type2.GetDouble(value2) * static_cast<double>(VDB_MS_PER_DAY));
    if (!(std::fabs(deltaMs) < 4e17)) RaiseRange(type2.ConvertToString(value2, TvuFormats::Invariant()), u"TimeStamp",
                                                 u"01.01.0001", u"31.12.9999");
    resultType.SetTimeStamp(result, TimeStampFromAbsoluteMs(AbsoluteMs(value1) + static_cast<std::int64_t>(deltaMs)));
    return;
  }
  const auto& other = static_cast<const TVdbDateTimeType&>(type2);
  if (resultType.IsInteger()) {
    resultType.SetInteger(result, VdbDayNumber(GetDate(value1)) - VdbDayNumber(other.GetDate(value2)));
    return;
  }
  resultType.SetDouble(result, static_cast<double>(AbsoluteMs(value1) - other.AbsoluteMs(value2)) /
                                   static_cast<double>(VDB_MS_PER_DAY));
}

}  // namespace vdb
