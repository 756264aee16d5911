// Conversions between types and to and from text: dates, times, timestamps, numbers, booleans,
// GUIDs, enumerations; the user formats.
#include <gtest/gtest.h>

#include <functional>

#include "base/VdbErrorCodes.h"
#include "base/VdbErrors.h"
#include "types/VdbData.h"
#include "types/vuFormats.h"

using namespace vdb;

namespace {

const TvuFormats& Inv() { return TvuFormats::Invariant(); }

const TVdbDataType& Type(TVdbColumnType code, bool nullable = true) {
  return *TVdbDataType::GetDataType(code, nullable, 6);
}

// Parses AText with AType and prints it again; "!<code>" when it raises.
std::u16string RoundTrip(const TVdbDataType& type, std::u16string_view text, const TvuFormats& formats = Inv()) {
  try {
    TVdbDataValue v;
    type.ConvertFromString(v, text, formats);
    if (type.IsNull(v)) return u"<null>";
    return type.ConvertToString(v, formats);
  } catch (const EVdbEngine& e) {
    return u"!" + vuIntToStr(e.Code());
  }
}

std::u16string Message(const std::function<void()>& f) {
  try {
    f();
  } catch (const EVdbEngine& e) {
    return e.Message();
  }
  return u"<no error>";
}

}  // namespace

TEST(VdbDateText, ParsesTheThreeFormsAndRejectsImpossibleDates) {
  const auto& date = Type(vctDate);
  const std::pair<std::u16string, std::u16string> cases[] = {
      {u"01.03.2014", u"01.03.2014"},
      {u"1.3.2014", u"01.03.2014"},
      {u"3/1/14", u"01.03.2014"},   // month/day/year
      {u"2014-03-01", u"01.03.2014"},
      {u"1.3.29", u"01.03.2029"},   // two-digit years: below 30 → 20yy
      {u"1.3.30", u"01.03.1930"},
      {u"1.3.00", u"01.03.2000"},
      {u"1.3.0099", u"01.03.0099"},  // four digits written: taken as is
      {u" 01.03.2014 ", u"01.03.2014"},
      {u"31.04.2014", u"!137"},
      {u"31.06.2014", u"!137"},
      {u"31.09.2014", u"!137"},
      {u"31.11.2014", u"!137"},
      {u"31.12.2014", u"31.12.2014"},
      {u"29.02.2012", u"29.02.2012"},
      {u"29.02.2013", u"!137"},
      {u"29.02.1900", u"!137"},
      {u"29.02.2000", u"29.02.2000"},
      {u"0.1.2014", u"!137"},
      {u"32.1.2014", u"!137"},
      {u"1.13.2014", u"!137"},
      {u"1.1.0000", u"!137"},
      {u"1.1", u"!137"},
      {u"1.1.2014.", u"!137"},
      {u"a.b.c", u"!137"},
      {u"1.1.20145", u"!137"},
      {u"", u"<null>"},
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(std::string(text.begin(), text.end()));
    EXPECT_EQ(RoundTrip(date, text), expected);
  }
  EXPECT_EQ(Message([&] {
              TVdbDataValue v;
              date.ConvertFromString(v, u"31.04.2014", Inv());
            }),
            u"\"31.04.2014\" is not a valid date");
}

TEST(VdbTimeText, ParsesHoursMinutesSecondsMillisecondsAndAmPm) {
  const auto* p4 = TVdbDataType::GetDateTimeType(vctTime, true, 4, 6);
  const auto* p2 = TVdbDataType::GetDateTimeType(vctTime, true, 2, 6);
  const auto* p1 = TVdbDataType::GetDateTimeType(vctTime, true, 1, 6);
  struct Case {
    const TVdbDataType* Type;
    std::u16string Text, Expected;
  } cases[] = {
      {p4, u"10:30:15.5", u"10:30:15.005"},  // digits after the point count milliseconds
      {p4, u"10:30:15.500", u"10:30:15.500"},
      {p4, u"10:30:15.1000", u"!140"},
      {p4, u"7", u"07:00:00.000"},
      {p4, u"12:00 AM", u"00:00:00.000"},
      {p4, u"12:30 PM", u"12:30:00.000"},
      {p4, u"1 pm", u"13:00:00.000"},
      {p4, u"13:00 PM", u"!140"},
      {p4, u"0:10 AM", u"!140"},
      {p4, u"24:00", u"24:00:00.000"},
      {p4, u"24:00:01", u"!140"},
      {p4, u"25:00", u"!140"},
      {p4, u"10:60", u"!140"},
      {p4, u"10:30:60", u"!140"},
      {p4, u"10:30:15:01", u"!140"},
      {p4, u"10:", u"!140"},
      {p4, u"ab", u"!140"},
      {p2, u"10:30:59", u"10:30"},
      {p1, u"10:30", u"10"},
      {p4, u"", u"<null>"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.Text.begin(), c.Text.end()));
    EXPECT_EQ(RoundTrip(*c.Type, c.Text), c.Expected);
  }
}

TEST(VdbTimeStampText, SplitsDateAndTime) {
  const auto& ts = Type(vctTimeStamp);
  const std::pair<std::u16string, std::u16string> cases[] = {
      {u"01.03.2014_10:30:00.250", u"01.03.2014_10:30:00.250"},
      {u"01.03.2014 10:30", u"01.03.2014_10:30:00.000"},
      {u"1.3.14", u"01.03.2014_00:00:00.000"},       // a date alone
      {u"10:30", u"01.01.0001_10:30:00.000"},        // a time alone
      {u"10:30 PM", u"01.01.0001_22:30:00.000"},
      {u"01.03.2014_10:30 AM", u"01.03.2014_10:30:00.000"},
      {u"31.04.2014_10:30", u"!158"},
      {u"01.03.2014_25:00", u"!158"},
      {u"01.03.2014_24:00", u"!158"},                // the end of the day is not a timestamp time
      {u"x", u"!158"},
  };
  for (const auto& [text, expected] : cases) {
    SCOPED_TRACE(std::string(text.begin(), text.end()));
    EXPECT_EQ(RoundTrip(ts, text), expected);
  }
}

TEST(VdbNumberText, IntegersBooleansAndFloats) {
  TvuFormats hungarian;
  hungarian.DecimalSeparator = u',';
  struct Case {
    const TVdbDataType* Type;
    std::u16string Text, Expected;
    const TvuFormats* Formats;
  } cases[] = {
      {&Type(vctInteger), u"123", u"123", &Inv()},
      {&Type(vctInteger), u" -5 ", u"-5", &Inv()},
      {&Type(vctInteger), u"+7", u"7", &Inv()},
      {&Type(vctInteger), u"+-7", u"!46", &Inv()},
      {&Type(vctInteger), u"12a", u"!46", &Inv()},
      {&Type(vctInteger), u"2147483648", u"!81", &Inv()},
      {&Type(vctBigInt), u"99999999999999999999", u"!81", &Inv()},
      {&Type(vctSmallInt), u"70000", u"!81", &Inv()},
      {&Type(vctInteger), u"", u"<null>", &Inv()},
      {&Type(vctBoolean), u"True", u"True", &Inv()},
      {&Type(vctBoolean), u"fALSE", u"False", &Inv()},
      {&Type(vctBoolean), u"yes", u"!81", &Inv()},
      {&Type(vctBoolean), u"1", u"!81", &Inv()},
      {&Type(vctFloat), u"1.5", u"1.5", &Inv()},
      {&Type(vctFloat), u"0.1", u"0.1", &Inv()},
      {&Type(vctFloat), u"-2.5E10", u"-2.5E+10", &Inv()},
      {&Type(vctFloat), u"123456789012", u"123456789012", &Inv()},
      {&Type(vctFloat), u"1e300", u"1E+300", &Inv()},
      {&Type(vctFloat), u"1,5", u"1,5", &hungarian},
      {&Type(vctFloat), u"1.5", u"!46", &hungarian},
      {&Type(vctFloat), u"abc", u"!46", &Inv()},
      {&Type(vctFloat), u"1.5.5", u"!46", &Inv()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.Text.begin(), c.Text.end()));
    EXPECT_EQ(RoundTrip(*c.Type, c.Text, *c.Formats), c.Expected);
  }
  EXPECT_EQ(Message([] {
              TVdbDataValue v;
              Type(vctFloat).ConvertFromString(v, u"abc", Inv());
            }),
            u"Invalid double: \"abc\"");
  EXPECT_EQ(Message([] {
              TVdbDataValue v;
              Type(vctBoolean).ConvertFromString(v, u"yes", Inv());
            }),
            u"Value yes of type Boolean exceeds the allowed range from 0 to 1");
}

TEST(VdbGuidText, BracedFormBothWays) {
  const auto& g = Type(vctGuid);
  EXPECT_EQ(RoundTrip(g, u"{6F9619FF-8B86-D011-B42D-00C04FC964FF}"), u"{6F9619FF-8B86-D011-B42D-00C04FC964FF}");
  EXPECT_EQ(RoundTrip(g, u"{6f9619ff-8b86-d011-b42d-00c04fc964ff}"), u"{6F9619FF-8B86-D011-B42D-00C04FC964FF}");
  for (std::u16string bad : {u"6F9619FF-8B86-D011-B42D-00C04FC964FF", u"{6F9619FF-8B86-D011-B42D-00C04FC964F}",
                             u"{6F9619FF_8B86-D011-B42D-00C04FC964FF}", u"{6F9619FF-8B86-D011-B42D-00C04FC964FG}"})
    EXPECT_EQ(RoundTrip(g, bad), u"!44");
  EXPECT_EQ(Message([&] {
              TVdbDataValue v;
              g.ConvertFromString(v, u"{x}", Inv());
            }),
            u"Type mismatch: String->Guid");
}

TEST(VdbEnumConversion, ByNameByPositionAndByValue) {
  const auto* e = TVdbDataType::GetEnumType(true, false, u"város, község,'nagy,község'", u',', u'\'', 6);
  const auto& items = static_cast<const TVdbEnumType*>(e)->Items();
  ASSERT_EQ(items.size(), 3u);
  EXPECT_EQ(items[2].Name, u"nagy,község");
  EXPECT_EQ(items[2].Value, 3);
  EXPECT_EQ(RoundTrip(*e, u"Község"), u"község");
  EXPECT_EQ(RoundTrip(*e, u"falu"), u"!135");
  EXPECT_EQ(Message([&] {
              TVdbDataValue v;
              e->ConvertFromString(v, u"falu", Inv());
            }),
            u"\"falu\" is not a valid enumeration value for <enumeration>.");
  // Integers select by 0-based position.
  const auto& integer = Type(vctInteger);
  TVdbDataValue i, v;
  integer.SetInteger(i, 0);
  TVdbDataType::Convert(i, v, integer, *e, false);
  EXPECT_EQ(e->GetInteger(v), 1);
  integer.SetInteger(i, 3);
  EXPECT_EQ(Message([&] { TVdbDataType::Convert(i, v, integer, *e, false); }),
            u"\"3\" is not a valid enumeration value for <enumeration>.");
  // Another enumeration converts by value.
  const auto* other = TVdbDataType::GetEnumType(true, false, {{u"x", 2}, {u"y", 9}}, 6);
  TVdbDataValue o;
  other->SetInteger(o, 2);
  TVdbDataType::Convert(o, v, *other, *e, false);
  EXPECT_EQ(e->ConvertToString(v, Inv()), u"község");
  other->SetInteger(o, 9);
  EXPECT_THROW(TVdbDataType::Convert(o, v, *other, *e, false), EVdbEngine);
}

TEST(VdbTypeConversion, ImplicitIntegerConversionsOnlyWiden) {
  const TVdbColumnType ints[] = {vctSmallInt, vctByte, vctBoolean, vctRecordId, vctLink, vctInteger, vctBigInt};
  // Row: target; column: source (order as ints[]).
  const bool implicitOk[7][7] = {
      /* SmallInt */ {1, 1, 1, 0, 0, 0, 0},
      /* Byte     */ {0, 1, 1, 0, 0, 0, 0},
      /* Boolean  */ {0, 0, 1, 0, 0, 0, 0},
      /* RecordId */ {1, 1, 1, 1, 1, 1, 0},
      /* Link     */ {1, 1, 1, 1, 1, 1, 0},
      /* Integer  */ {1, 1, 1, 1, 1, 1, 0},
      /* BigInt   */ {1, 1, 1, 1, 1, 1, 1},
  };
  for (int to = 0; to < 7; ++to)
    for (int from = 0; from < 7; ++from) {
      SCOPED_TRACE(testing::Message() << ints[from] << " -> " << ints[to]);
      const auto& f = Type(ints[from]);
      const auto& t = Type(ints[to]);
      EXPECT_EQ(TVdbDataType::CanConvert(f, t, false), implicitOk[to][from]);
      EXPECT_TRUE(TVdbDataType::CanConvert(f, t, true));
    }
}

TEST(VdbTypeConversion, ExplicitNarrowingChecksTheRange) {
  const auto& integer = Type(vctInteger);
  const auto& small = Type(vctSmallInt);
  TVdbDataValue from, to;
  integer.SetInteger(from, 40000);
  EXPECT_EQ(Message([&] { TVdbDataType::Convert(from, to, integer, small, true); }),
            u"Value 40000 of type SmallInt exceeds the allowed range from -32768 to 32767");
  integer.SetInteger(from, -300);
  TVdbDataType::Convert(from, to, integer, small, true);
  EXPECT_EQ(small.GetInteger(to), -300);
  EXPECT_THROW(TVdbDataType::Convert(from, to, integer, small, false), EVdbEngine);  // not implicitly
}

TEST(VdbTypeConversion, DateTimeSourcesAndTheNullType) {
  struct Case {
    TVdbColumnType From, To;
    bool Implicit, Explicit;
  } cases[] = {
      {vctDate, vctDate, true, true},         {vctFloat, vctDate, false, true},
      {vctInteger, vctDate, false, true},     {vctBigInt, vctDate, false, true},
      {vctSmallInt, vctDate, false, false},   {vctTime, vctDate, false, false},
      {vctTime, vctTime, true, true},         {vctSmallInt, vctTime, false, true},
      {vctBigInt, vctTime, false, false},     {vctDate, vctTimeStamp, true, true},
      {vctTime, vctTimeStamp, true, true},    {vctFloat, vctTimeStamp, true, true},
      {vctString, vctTimeStamp, false, true}, {vctNull, vctTime, true, true},
      {vctNull, vctGuid, true, true},         {vctString, vctGuid, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.From << " -> " << c.To);
    const TVdbDataType& from = c.From == vctString ? *TVdbDataType::GetStringType(vctString, true, 30, u"", 6)
                                                   : Type(c.From);
    EXPECT_EQ(TVdbDataType::CanConvert(from, Type(c.To), false), c.Implicit);
    EXPECT_EQ(TVdbDataType::CanConvert(from, Type(c.To), true), c.Explicit);
  }
  // Null converts to null, or to the default for a non-nullable target.
  TVdbDataValue n, v;
  TVdbDataType::GetNullType(0)->SetNull(n);
  TVdbDataType::Convert(n, v, *TVdbDataType::GetNullType(0), Type(vctInteger, false), false);
  EXPECT_EQ(Type(vctInteger, false).GetInteger(v), 0);
  EXPECT_FALSE(Type(vctInteger, false).IsNull(v));
  TVdbDataType::Convert(n, v, *TVdbDataType::GetNullType(0), Type(vctDate, true), false);
  EXPECT_TRUE(Type(vctDate, true).IsNull(v));
  // A date and a time make timestamps.
  TVdbDataValue d, ts;
  Type(vctDate).SetDate(d, VdbEncodeDate(2014, 3, 1));
  TVdbDataType::Convert(d, ts, Type(vctDate), Type(vctTimeStamp), false);
  EXPECT_EQ(Type(vctTimeStamp).ConvertToString(ts, Inv()), u"01.03.2014_00:00:00.000");
  // A string converts explicitly through the text form.
  const auto* s = TVdbDataType::GetStringType(vctString, true, 30, u"", 6);
  TVdbDataValue text;
  s->SetWideString(text, u"3/1/14");
  TVdbDataType::Convert(text, d, *s, Type(vctDate), true);
  EXPECT_EQ(Type(vctDate).GetDate(d), VdbEncodeDate(2014, 3, 1));
  // Any value converts explicitly to a string.
  TVdbDataType::Convert(ts, text, Type(vctTimeStamp), *s, true);
  EXPECT_EQ(s->GetWideString(text), u"01.03.2014_00:00:00.000");
}

TEST(VdbTypeConversion, DayNumbersRoundTrip) {
  for (TVdbPackedDate d : {VdbEncodeDate(1, 1, 1), VdbEncodeDate(1600, 2, 29), VdbEncodeDate(1970, 1, 1),
                           VdbEncodeDate(2014, 3, 1), VdbEncodeDate(9999, 12, 31)})
    EXPECT_EQ(VdbDateFromDayNumber(VdbDayNumber(d)), d);
  EXPECT_EQ(VdbDayNumber(VdbEncodeDate(1, 1, 1)), 1);
  EXPECT_EQ(VdbDayNumber(VdbEncodeDate(2014, 3, 1)) - VdbDayNumber(VdbEncodeDate(2014, 2, 28)), 1);
  EXPECT_THROW(VdbDateFromDayNumber(0), EVdbEngine);
  EXPECT_THROW(VdbDateFromDayNumber(3652060), EVdbEngine);
}

TEST(VdbUserFormats, DateDisplayPatternsAndMoney) {
  const struct {
    std::u16string Pattern, Expected;
  } dates[] = {
      {u"dd\".\"mm\".\"yyyy", u"01.03.2014"},
      {u"d\".\"mm\".\"yy", u"1.03.14"},
      {u"m\"/\"d\"/\"yy", u"3/1/14"},
      {u"yyyy\"-\"mm\"-\"dd", u"2014-03-01"},
      {u"yyyy. mm. dd. hh:nn:ss.zzz", u"2014. 03. 01. 13:05:09.007"},
      {u"h:nn ampm", u"1:05 PM"},
  };
  const std::int64_t ms = ((13 * 60 + 5) * 60 + 9) * 1000 + 7;
  for (const auto& c : dates) EXPECT_EQ(vuFormatDateTime(c.Pattern, 2014, 3, 1, ms, Inv()), c.Expected);

  TvuFormats huf;
  huf.DecimalSeparator = u',';
  huf.ThousandSeparator = u' ';
  huf.CurrencyString = u"Ft";
  huf.CurrencyFormat = 3;
  EXPECT_EQ(vuFormatMoney(1234567.891, huf), u"1 234 567,89 Ft");
  EXPECT_EQ(vuFormatMoney(-12.5, huf), u"-12,50 Ft");
  EXPECT_EQ(vuFormatMoney(0.004, huf), u"0,00 Ft");
  EXPECT_EQ(vuFormatMoney(999.999, Inv()), u"$1,000.00");
}

TEST(VdbTypeConversion, BinaryKindsConvertIntoEachOther) {
  const auto& blob = Type(vctBlob);
  const auto* fixed = TVdbDataType::GetBinaryType(vctFixedBinary, true, 3, 6);
  TVdbDataValue b, f;
  const std::vector<std::uint8_t> bytes = {1, 2, 3, 4, 5};
  blob.SetBytes(b, bytes);
  TVdbDataType::Convert(b, f, blob, *fixed, false);
  EXPECT_EQ(fixed->GetBytes(f), (std::vector<std::uint8_t>{1, 2, 3}));
  EXPECT_EQ(fixed->ConvertToString(f, Inv()), u"010203");
  TVdbDataType::Convert(f, b, *fixed, blob, false);
  EXPECT_EQ(blob.GetBytes(b), (std::vector<std::uint8_t>{1, 2, 3}));
  EXPECT_EQ(RoundTrip(*fixed, u"0A0b"), u"0A0B");
  EXPECT_EQ(RoundTrip(*fixed, u"0A0"), u"!44");
}

TEST(VdbTypeConversion, SuperTypes) {
  const auto& s10 = *TVdbDataType::GetStringType(vctString, false, 10, u"Hungarian", 6);
  const auto& w20 = *TVdbDataType::GetStringType(vctWideString, false, 20, u"", 6);
  struct Case {
    const TVdbDataType* A;
    const TVdbDataType* B;
    TVdbColumnType Expected;  // -100: none
  } cases[] = {
      {&Type(vctSmallInt, false), &Type(vctInteger, false), vctInteger},
      {&Type(vctInteger, false), &Type(vctByte, false), vctInteger},
      {&Type(vctBigInt, false), &Type(vctRecordId, false), vctBigInt},
      {&Type(vctInteger, false), &Type(vctFloat, false), vctFloat},
      {&Type(vctDate, false), &Type(vctTimeStamp, false), vctTimeStamp},
      {&s10, &w20, vctWideString},
      {&s10, &Type(vctMemo, false), vctMemo},
      {TVdbDataType::GetNullType(0), &Type(vctGuid, false), vctGuid},
      {&Type(vctDate, false), &Type(vctInteger, false), -100},
      {&s10, &Type(vctInteger, false), -100},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
    const auto* r = TVdbDataType::GetSuperType(*c.A, *c.B);
    EXPECT_EQ(r ? r->ColumnType() : -100, c.Expected);
  }
  const auto* r = TVdbDataType::GetSuperType(s10, w20);
  EXPECT_EQ(static_cast<const TVdbStringType*>(r)->MaxLength(), 20);
  EXPECT_EQ(static_cast<const TVdbStringType*>(r)->CollationName(), u"Hungarian");
  EXPECT_TRUE(TVdbDataType::GetSuperType(*TVdbDataType::GetNullType(0), Type(vctGuid, false))->Nullable());
  EXPECT_TRUE(TVdbDataType::GetSuperType(Type(vctInteger, true), Type(vctSmallInt, false))->Nullable());
}
