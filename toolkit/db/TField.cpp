#include "db/TField.h"

#include <charconv>
#include <chrono>
#include <cmath>
#include <limits>

#include "db/TDataSet.h"

namespace tk {

namespace {

std::string Ascii(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) {
    if (c >= 0x80) return {};  // never a number
    out += static_cast<char>(c);
  }
  return out;
}

std::u16string Widen(std::string_view text) { return std::u16string(text.begin(), text.end()); }

std::u16string_view Trimmed(std::u16string_view text) {
  while (!text.empty() && text.front() == u' ') text.remove_prefix(1);
  while (!text.empty() && text.back() == u' ') text.remove_suffix(1);
  return text;
}

bool ParseInt(std::u16string_view text, std::int64_t& out) {
  const std::string s = Ascii(Trimmed(text));
  if (s.empty()) return false;
  const char* first = s.data() + (s[0] == '+' ? 1 : 0);
  const auto r = std::from_chars(first, s.data() + s.size(), out);
  return r.ec == std::errc() && r.ptr == s.data() + s.size();
}

bool ParseFloat(std::u16string_view text, char16_t decimalSeparator, double& out) {
  std::u16string copy(Trimmed(text));
  for (char16_t& c : copy)
    if (c == decimalSeparator) c = u'.';
  const std::string s = Ascii(copy);
  if (s.empty()) return false;
  const char* first = s.data() + (s[0] == '+' ? 1 : 0);
  const auto r = std::from_chars(first, s.data() + s.size(), out);
  return r.ec == std::errc() && r.ptr == s.data() + s.size() && std::isfinite(out);
}

std::u16string FloatText(double value, int precision, char16_t decimalSeparator) {
  char buffer[64];
  const auto r = precision > 0
                     ? std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, precision)
                     : std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 15);
  std::u16string out = Widen(std::string_view(buffer, static_cast<std::size_t>(r.ptr - buffer)));
  for (char16_t& c : out)
    if (c == u'.') c = decimalSeparator;
  return out;
}

std::u16string TwoDigits(int value) {
  std::u16string out = IntToText(value);
  return out.size() < 2 ? u"0" + out : out;
}

constexpr std::int64_t kMsPerDay = 86'400'000;

}  // namespace

// ---------------------------------------------------------------- calendar and text

// Day numbers count from 0001-01-01 (day 1); the standard calendar's from 1970-01-01.
constexpr std::int64_t kDayNumberOf1970 = 719163;

std::int64_t EncodeDate(int year, int month, int day) {
  // Months and days beyond their ranges roll on (month 13 is January of the next year, day 0
  // the last day of the month before), so a damaged stored date still gives a number.
  namespace c = std::chrono;
  const c::year_month first = c::year(year) / c::January + c::months(month - 1);
  const c::sys_days days = c::sys_days(first / 1) + c::days(day - 1);
  return days.time_since_epoch().count() + kDayNumberOf1970;
}

void DecodeDate(std::int64_t dayNumber, int& year, int& month, int& day) {
  const std::chrono::year_month_day ymd{
      std::chrono::sys_days(std::chrono::days(dayNumber - kDayNumberOf1970))};
  year = static_cast<int>(ymd.year());
  month = static_cast<int>(static_cast<unsigned>(ymd.month()));
  day = static_cast<int>(static_cast<unsigned>(ymd.day()));
}

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto b = static_cast<unsigned char>(text[i]);
    char32_t cp = 0xFFFD;
    std::size_t len = 1;
    if (b < 0x80) {
      cp = b;
    } else if ((b >> 5) == 6) {
      len = 2;
    } else if ((b >> 4) == 14) {
      len = 3;
    } else if ((b >> 3) == 30) {
      len = 4;
    }
    if (len > 1) {
      if (i + len > text.size()) {
        len = 1;
      } else {
        cp = b & (0x7F >> len);
        for (std::size_t k = 1; k < len; ++k) {
          const auto c = static_cast<unsigned char>(text[i + k]);
          if ((c >> 6) != 2) {
            cp = 0xFFFD;
            len = k;
            break;
          }
          cp = (cp << 6) | (c & 0x3F);
        }
      }
    }
    i += len;
    if (cp >= 0x10000 && cp <= 0x10FFFF) {
      cp -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (cp >> 10));
      out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
    } else {
      out += static_cast<char16_t>(cp > 0xFFFF ? 0xFFFD : cp);
    }
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = 0xFFFD;
    }
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

// ---------------------------------------------------------------- definitions, streams

TFieldDef& TFieldDefs::Add(const std::u16string& name, TFieldType type, int size, bool required) {
  TFieldDef def;
  def.Name = name;
  def.DataType = type;
  def.Size = size;
  def.Required = required;
  def.FieldNo = Count() + 1;
  FItems.push_back(std::move(def));
  return FItems.back();
}

const TFieldDef* TFieldDefs::Find(std::u16string_view name) const noexcept {
  auto upper = [](char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; };
  for (const TFieldDef& def : FItems) {
    if (def.Name.size() != name.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < name.size() && same; ++i) same = upper(def.Name[i]) == upper(name[i]);
    if (same) return &def;
  }
  return nullptr;
}

TBytes TStream::ReadAll() {
  TBytes out;
  std::uint8_t chunk[4096];
  for (;;) {
    const std::size_t n = Read(chunk, sizeof chunk);
    if (n == 0) break;
    out.insert(out.end(), chunk, chunk + n);
  }
  return out;
}

// ---------------------------------------------------------------- TField

TField::TField(TFieldType dataType, int size) : FDataType(dataType), FSize(size) {}

bool TField::IsBlob() const noexcept {
  return FDataType == TFieldType::dtMemo || FDataType == TFieldType::dtWideMemo || FDataType == TFieldType::dtBlob;
}

int TField::DisplayWidth() const noexcept {
  if (FDisplayWidth > 0) return FDisplayWidth;
  switch (FDataType) {
    case TFieldType::dtString:
    case TFieldType::dtWideString:
    case TFieldType::dtEnum:
    case TFieldType::dtLink:
    case TFieldType::dtRelation:
    case TFieldType::dtGuid:
      return FSize > 0 ? FSize : 20;
    case TFieldType::dtInteger:
    case TFieldType::dtAutoInc:
      return 11;
    case TFieldType::dtSmallInt:
      return 6;
    case TFieldType::dtByte:
      return 4;
    case TFieldType::dtLargeInt:
      return 15;
    case TFieldType::dtBoolean:
      return 5;
    case TFieldType::dtDateTime:
      return 18;
    default:
      return 10;
  }
}

TAlignment TField::Alignment() const noexcept {
  if (FAlignmentSet) return FAlignment;
  switch (FDataType) {
    case TFieldType::dtInteger:
    case TFieldType::dtSmallInt:
    case TFieldType::dtByte:
    case TFieldType::dtAutoInc:
    case TFieldType::dtLargeInt:
    case TFieldType::dtFloat:
      return TAlignment::taRightJustify;
    default:
      return TAlignment::taLeftJustify;
  }
}

bool TField::CanModify() const {
  if (FReadOnly || !FDataSet || FFieldKind != TFieldKind::fkData) return false;
  return FDataSet->CanModify();
}

const TFormatSettings& TField::Formats() const {
  static const TFormatSettings invariant;
  return FDataSet ? FDataSet->FormatSettings() : invariant;
}

TFieldValue TField::Value() const {
  TFieldValue value;
  if (FDataSet) FDataSet->GetFieldValue(*this, value);
  return value;
}

bool TField::IsNull() const {
  TFieldValue value;
  return !FDataSet || !FDataSet->GetFieldValue(*this, value);
}

void TField::ConversionError(std::u16string_view text, std::u16string_view kind) const {
  DatabaseError(u"'%s' is not a valid %s value for field '%s'", {text, kind, DisplayLabel()});
}

std::u16string TField::ValueToText(const TFieldValue& value, bool) const {
  if (const auto* s = std::get_if<std::u16string>(&value)) return *s;
  if (const auto* i = std::get_if<std::int64_t>(&value)) return IntToText(*i);
  if (const auto* d = std::get_if<double>(&value)) return FloatText(*d, 0, Formats().DecimalSeparator);
  if (const auto* b = std::get_if<bool>(&value)) return *b ? u"True" : u"False";
  return {};
}

std::u16string TField::AsString() const {
  const TFieldValue value = Value();
  if (std::holds_alternative<std::monostate>(value)) return {};
  return ValueToText(value, false);
}

std::u16string TField::DisplayText() const {
  const TFieldValue value = Value();
  if (std::holds_alternative<std::monostate>(value)) return {};
  return ValueToText(value, true);
}

std::int64_t TField::AsLargeInt() const {
  const TFieldValue value = Value();
  if (const auto* i = std::get_if<std::int64_t>(&value)) return *i;
  if (const auto* d = std::get_if<double>(&value)) {
    const double r = std::nearbyint(*d);
    if (!(r >= -9.2e18 && r <= 9.2e18)) ConversionError(ValueToText(value, false), u"integer");
    return static_cast<std::int64_t>(r);
  }
  if (const auto* b = std::get_if<bool>(&value)) return *b ? 1 : 0;
  if (const auto* s = std::get_if<std::u16string>(&value)) {
    if (Trimmed(*s).empty()) return 0;
    std::int64_t out = 0;
    if (!ParseInt(*s, out)) ConversionError(*s, u"integer");
    return out;
  }
  return 0;
}

std::int32_t TField::AsInteger() const {
  const std::int64_t value = AsLargeInt();
  if (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::int32_t>::max())
    ConversionError(IntToText(value), u"integer");
  return static_cast<std::int32_t>(value);
}

double TField::AsFloat() const {
  const TFieldValue value = Value();
  if (const auto* d = std::get_if<double>(&value)) return *d;
  if (const auto* i = std::get_if<std::int64_t>(&value)) return static_cast<double>(*i);
  if (const auto* b = std::get_if<bool>(&value)) return *b ? 1 : 0;
  if (const auto* s = std::get_if<std::u16string>(&value)) {
    if (Trimmed(*s).empty()) return 0;
    double out = 0;
    if (!ParseFloat(*s, Formats().DecimalSeparator, out)) ConversionError(*s, u"floating point");
    return out;
  }
  return 0;
}

bool TField::AsBoolean() const {
  const TFieldValue value = Value();
  if (const auto* b = std::get_if<bool>(&value)) return *b;
  if (const auto* i = std::get_if<std::int64_t>(&value)) return *i != 0;
  if (const auto* d = std::get_if<double>(&value)) return *d != 0;
  if (const auto* s = std::get_if<std::u16string>(&value)) {
    const std::string t = Ascii(Trimmed(*s));
    if (t.empty() || t == "False" || t == "false" || t == "FALSE" || t == "0") return false;
    if (t == "True" || t == "true" || t == "TRUE" || t == "1") return true;
    ConversionError(*s, u"Boolean");
  }
  return false;
}

void TField::SetValue(const TFieldValue& value) {
  if (!FDataSet) DatabaseError(u"Field '%s' has no dataset", {DisplayLabel()});
  FDataSet->SetFieldValue(*this, value);
}

void TField::SetAsString(const std::u16string& value) { SetValue(TFieldValue(value)); }

TFieldValue TField::Coerce(const TFieldValue& value) const { return value; }

// ---------------------------------------------------------------- standard fields

TFieldValue TStringField::Coerce(const TFieldValue& value) const {
  if (std::holds_alternative<std::monostate>(value)) return value;
  std::u16string text = ValueToText(value, false);
  if (Size() > 0 && text.size() > static_cast<std::size_t>(Size()))
    DatabaseError(u"Value of field '%s' is longer than %d characters", {DisplayLabel(), IntToText(Size())});
  return text;
}

TIntegerField::TIntegerField(TFieldType dataType) : TField(dataType, 0) {
  switch (dataType) {
    case TFieldType::dtSmallInt:
      FMin = -32768, FMax = 32767;
      break;
    case TFieldType::dtByte:
      FMin = 0, FMax = 255;
      break;
    case TFieldType::dtLargeInt:
      FMin = std::numeric_limits<std::int64_t>::min(), FMax = std::numeric_limits<std::int64_t>::max();
      break;
    default:
      FMin = std::numeric_limits<std::int32_t>::min(), FMax = std::numeric_limits<std::int32_t>::max();
      break;
  }
}

TFieldValue TIntegerField::Coerce(const TFieldValue& value) const {
  std::int64_t out = 0;
  if (std::holds_alternative<std::monostate>(value)) return value;
  if (const auto* i = std::get_if<std::int64_t>(&value)) {
    out = *i;
  } else if (const auto* d = std::get_if<double>(&value)) {
    const double r = std::nearbyint(*d);
    if (!(r >= -9.2e18 && r <= 9.2e18)) ConversionError(FloatText(*d, 0, u'.'), u"integer");
    out = static_cast<std::int64_t>(r);
  } else if (const auto* b = std::get_if<bool>(&value)) {
    out = *b ? 1 : 0;
  } else if (const auto* s = std::get_if<std::u16string>(&value)) {
    if (Trimmed(*s).empty()) return TFieldValue();
    if (!ParseInt(*s, out)) ConversionError(*s, u"integer");
  } else {
    ConversionError(u"(binary)", u"integer");
  }
  if (out < FMin || out > FMax)
    DatabaseError(u"%d is not a valid value for field '%s'. The allowed range is %d to %d",
                  {IntToText(out), DisplayLabel(), IntToText(FMin), IntToText(FMax)});
  return out;
}

TFieldValue TFloatField::Coerce(const TFieldValue& value) const {
  if (std::holds_alternative<std::monostate>(value)) return value;
  if (const auto* d = std::get_if<double>(&value)) {
    if (!std::isfinite(*d)) ConversionError(u"(not a number)", u"floating point");
    return *d;
  }
  if (const auto* i = std::get_if<std::int64_t>(&value)) return static_cast<double>(*i);
  if (const auto* b = std::get_if<bool>(&value)) return *b ? 1.0 : 0.0;
  if (const auto* s = std::get_if<std::u16string>(&value)) {
    if (Trimmed(*s).empty()) return TFieldValue();
    double out = 0;
    if (!ParseFloat(*s, Formats().DecimalSeparator, out)) ConversionError(*s, u"floating point");
    return out;
  }
  ConversionError(u"(binary)", u"floating point");
}

std::u16string TFloatField::ValueToText(const TFieldValue& value, bool) const {
  if (const auto* d = std::get_if<double>(&value)) return FloatText(*d, Precision(), Formats().DecimalSeparator);
  return TField::ValueToText(value, false);
}

TFieldValue TBooleanField::Coerce(const TFieldValue& value) const {
  if (std::holds_alternative<std::monostate>(value)) return value;
  if (const auto* b = std::get_if<bool>(&value)) return *b;
  if (const auto* i = std::get_if<std::int64_t>(&value)) return *i != 0;
  if (const auto* d = std::get_if<double>(&value)) return *d != 0;
  if (const auto* s = std::get_if<std::u16string>(&value)) {
    const std::string t = Ascii(Trimmed(*s));
    if (t.empty()) return TFieldValue();
    if (t == "True" || t == "true" || t == "TRUE" || t == "1") return true;
    if (t == "False" || t == "false" || t == "FALSE" || t == "0") return false;
    ConversionError(*s, u"Boolean");
  }
  ConversionError(u"(binary)", u"Boolean");
}

std::u16string TBooleanField::ValueToText(const TFieldValue& value, bool) const {
  if (const auto* b = std::get_if<bool>(&value)) return *b ? u"True" : u"False";
  return TField::ValueToText(value, false);
}

TFieldValue TDateTimeField::Coerce(const TFieldValue& value) const {
  if (std::holds_alternative<std::monostate>(value)) return value;
  if (const auto* i = std::get_if<std::int64_t>(&value)) {
    if (DataType() == TFieldType::dtTime && (*i < 0 || *i >= kMsPerDay)) ConversionError(IntToText(*i), u"time");
    if (DataType() == TFieldType::dtDate && *i <= 0) ConversionError(IntToText(*i), u"date");
    return *i;
  }
  const auto* s = std::get_if<std::u16string>(&value);
  if (!s) ConversionError(u"(value)", u"date and time");
  const std::u16string_view text = Trimmed(*s);
  if (text.empty()) return TFieldValue();
  // Date part "y-m-d" and time part "h:n[:s[.z]]", separated by a blank.
  const char16_t ds = Formats().DateSeparator, ts = Formats().TimeSeparator;
  std::int64_t days = 0, ms = 0;
  std::u16string_view datePart, timePart;
  if (DataType() == TFieldType::dtTime) {
    timePart = text;
  } else {
    const std::size_t blank = text.find(u' ');
    datePart = text.substr(0, blank);
    if (blank != std::u16string_view::npos) timePart = Trimmed(text.substr(blank));
  }
  auto split = [](std::u16string_view part, char16_t sep, std::int64_t* out, int max) {
    int n = 0;
    while (n < max) {
      const std::size_t at = part.find(sep);
      if (!ParseInt(part.substr(0, at), out[n])) return -1;
      ++n;
      if (at == std::u16string_view::npos) return n;
      part.remove_prefix(at + 1);
    }
    return -1;
  };
  if (!datePart.empty()) {
    std::int64_t ymd[3];
    if (split(datePart, ds, ymd, 3) != 3 || ymd[1] < 1 || ymd[1] > 12 || ymd[2] < 1 || ymd[2] > 31 || ymd[0] < 1 ||
        ymd[0] > 9999)
      ConversionError(*s, u"date");
    days = EncodeDate(static_cast<int>(ymd[0]), static_cast<int>(ymd[1]), static_cast<int>(ymd[2]));
    int y, m, d;
    DecodeDate(days, y, m, d);
    if (d != ymd[2]) ConversionError(*s, u"date");
  }
  if (!timePart.empty()) {
    std::u16string_view whole = timePart;
    std::int64_t millis = 0;
    if (const std::size_t dot = whole.find(u'.'); dot != std::u16string_view::npos) {
      if (!ParseInt(whole.substr(dot + 1), millis) || millis < 0 || millis > 999) ConversionError(*s, u"time");
      whole = whole.substr(0, dot);
    }
    std::int64_t hms[3] = {0, 0, 0};
    const int n = split(whole, ts, hms, 3);
    if (n < 2 || hms[0] < 0 || hms[0] > 23 || hms[1] < 0 || hms[1] > 59 || hms[2] < 0 || hms[2] > 59)
      ConversionError(*s, u"time");
    ms = ((hms[0] * 60 + hms[1]) * 60 + hms[2]) * 1000 + millis;
  }
  switch (DataType()) {
    case TFieldType::dtDate:
      if (datePart.empty() || !timePart.empty()) ConversionError(*s, u"date");
      return days;
    case TFieldType::dtTime:
      return ms;
    default:
      if (datePart.empty()) ConversionError(*s, u"date and time");
      return (days - 1) * kMsPerDay + ms;
  }
}

std::u16string TDateTimeField::ValueToText(const TFieldValue& value, bool) const {
  const auto* i = std::get_if<std::int64_t>(&value);
  if (!i) return TField::ValueToText(value, false);
  const char16_t ds = Formats().DateSeparator, ts = Formats().TimeSeparator;
  auto date = [&](std::int64_t dayNumber) {
    int y, m, d;
    DecodeDate(dayNumber, y, m, d);
    std::u16string year = IntToText(y);
    while (year.size() < 4) year.insert(year.begin(), u'0');
    return year + ds + TwoDigits(m) + ds + TwoDigits(d);
  };
  auto time = [&](std::int64_t ms) {
    const auto seconds = static_cast<int>(ms / 1000);
    return TwoDigits(seconds / 3600) + ts + TwoDigits(seconds / 60 % 60) + ts + TwoDigits(seconds % 60);
  };
  switch (DataType()) {
    case TFieldType::dtDate:
      return date(*i);
    case TFieldType::dtTime:
      return time(*i);
    default: {
      const std::int64_t day = (*i >= 0 ? *i / kMsPerDay : (*i - kMsPerDay + 1) / kMsPerDay) + 1;
      return date(day) + u' ' + time(*i - (day - 1) * kMsPerDay);
    }
  }
}

TBytes TBlobField::AsBytes() const {
  if (!DataSet()) return {};
  std::unique_ptr<TStream> stream = DataSet()->OpenBlobStream(const_cast<TBlobField&>(*this), TBlobStreamMode::bmRead);
  return stream ? stream->ReadAll() : TBytes();
}

void TBlobField::SetAsBytes(const TBytes& value) {
  if (!DataSet()) DatabaseError(u"Field '%s' has no dataset", {DisplayLabel()});
  std::unique_ptr<TStream> stream = DataSet()->OpenBlobStream(*this, TBlobStreamMode::bmWrite);
  if (!stream) DatabaseError(u"Dataset not in edit or insert mode");
  if (!value.empty()) stream->Write(value.data(), value.size());
  stream.reset();
  DataSet()->BlobWritten(*this);
}

std::u16string TBlobField::AsString() const {
  if (!DataSet()) return {};
  const TBytes bytes = AsBytes();
  if (DataType() == TFieldType::dtBlob) return std::u16string(bytes.begin(), bytes.end());
  return DataSet()->MemoBytesToText(*this, bytes);
}

void TBlobField::SetAsString(const std::u16string& value) {
  if (!DataSet()) DatabaseError(u"Field '%s' has no dataset", {DisplayLabel()});
  if (DataType() != TFieldType::dtBlob) {
    SetAsBytes(DataSet()->MemoTextToBytes(*this, value));
    return;
  }
  TBytes bytes;
  for (char16_t c : value) {
    if (c > 0xFF) DatabaseError(u"Field '%s' holds bytes, not text", {DisplayLabel()});
    bytes.push_back(static_cast<std::uint8_t>(c));
  }
  SetAsBytes(bytes);
}

std::u16string TBlobField::DisplayText() const {
  const bool memo = DataType() != TFieldType::dtBlob;
  const std::u16string kind = memo ? u"Memo" : u"Blob";
  if (IsNull()) return u"(" + kind + u")";
  std::u16string upper;
  for (char16_t c : kind) upper += c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c;
  return u"(" + upper + u")";
}

TFieldValue TBlobField::Coerce(const TFieldValue& value) const {
  if (!std::holds_alternative<std::monostate>(value))
    DatabaseError(u"Field '%s' is written through its blob stream", {DisplayLabel()});
  return value;
}

std::unique_ptr<TField> CreateField(TFieldType dataType, int size) {
  switch (dataType) {
    case TFieldType::dtInteger:
    case TFieldType::dtSmallInt:
    case TFieldType::dtByte:
    case TFieldType::dtAutoInc:
    case TFieldType::dtLargeInt:
      return std::make_unique<TIntegerField>(dataType);
    case TFieldType::dtFloat:
      return std::make_unique<TFloatField>();
    case TFieldType::dtBoolean:
      return std::make_unique<TBooleanField>();
    case TFieldType::dtDate:
    case TFieldType::dtTime:
    case TFieldType::dtDateTime:
      return std::make_unique<TDateTimeField>(dataType);
    case TFieldType::dtMemo:
    case TFieldType::dtWideMemo:
    case TFieldType::dtBlob:
      return std::make_unique<TBlobField>(dataType);
    case TFieldType::dtGuid:
      return std::make_unique<TStringField>(dataType, size > 0 ? size : 38);
    default:
      return std::make_unique<TStringField>(dataType, size);
  }
}

}  // namespace tk
