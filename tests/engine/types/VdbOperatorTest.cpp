// Operators: result types, arithmetic, range and overflow errors, date arithmetic, strings.
#include <gtest/gtest.h>

#include <functional>
#include <limits>

#include "base/VdbErrorCodes.h"
#include "base/VdbErrors.h"
#include "types/VdbData.h"

using namespace vdb;

namespace {

const TVdbDataType& Type(TVdbColumnType code, bool nullable = false) {
  return *TVdbDataType::GetDataType(code, nullable, 6);
}

const TVdbDataType& Str(TVdbColumnType code, std::int32_t maxLength, std::u16string_view collation = u"",
                        bool nullable = false) {
  return *TVdbDataType::GetStringType(code, nullable, maxLength, collation, 6);
}

constexpr TVdbColumnType kNone = -100;

struct ResultCase {
  TVdbDataBinaryOperator Op;
  const TVdbDataType* Left;
  const TVdbDataType* Right;
  TVdbColumnType Expected;  // kNone: not allowed
};

TVdbColumnType ResultCode(TVdbDataBinaryOperator op, const TVdbDataType& a, const TVdbDataType& b) {
  const TVdbDataType* r = TVdbDataType::GetResultDataType(op, a, b);
  return r ? r->ColumnType() : kNone;
}

// Computes a op b for two integers of the given types; the result text, or "!<code>".
std::u16string CalcInt(TVdbDataBinaryOperator op, TVdbColumnType ta, std::int64_t a, TVdbColumnType tb,
                       std::int64_t b) {
  try {
    const auto& t1 = Type(ta);
    const auto& t2 = Type(tb);
    TVdbDataValue v1, v2, r;
    t1.SetInteger(v1, a);
    t2.SetInteger(v2, b);
    const TVdbDataType* rt = TVdbDataType::GetResultDataType(op, t1, t2);
    if (!rt) return u"<none>";
    TVdbDataType::Calculate(op, v1, v2, r, t1, t2, *rt);
    return rt->ConvertToString(r, TvuFormats::Invariant());
  } catch (const EVdbEngine& e) {
    return u"!" + vuIntToStr(e.Code());
  }
}

}  // namespace

TEST(VdbOperators, ResultTypesOfBinaryOperators) {
  const auto& sm = Type(vctSmallInt);
  const auto& by = Type(vctByte);
  const auto& bo = Type(vctBoolean);
  const auto& in = Type(vctInteger);
  const auto& ri = Type(vctRecordId);
  const auto& li = Type(vctLink);
  const auto& bi = Type(vctBigInt);
  const auto& fl = Type(vctFloat);
  const auto& da = Type(vctDate);
  const auto& ti = Type(vctTime);
  const auto& ts = Type(vctTimeStamp);
  const auto& nu = *TVdbDataType::GetNullType(0);
  const auto& s10 = Str(vctString, 10);
  const auto& w10 = Str(vctWideString, 10);
  const auto& memo = Type(vctMemo);
  const auto& wmemo = Type(vctWideMemo);
  const ResultCase cases[] = {
      {dboPlus, &sm, &sm, vctInteger},     {dboPlus, &by, &by, vctSmallInt},   {dboPlus, &bo, &bo, kNone},
      {dboMinus, &in, &sm, vctBigInt},     {dboPlus, &sm, &in, vctBigInt},     {dboPlus, &bi, &in, vctBigInt},
      {dboMultiply, &sm, &by, vctInteger}, {dboMultiply, &by, &bo, vctInteger}, {dboMultiply, &bo, &bo, kNone},
      {dboMultiply, &ri, &in, vctBigInt},  {dboDivide, &bo, &bo, vctFloat},    {dboDivide, &in, &in, vctFloat},
      {dboDiv, &sm, &by, vctSmallInt},     {dboDiv, &by, &sm, vctSmallInt},    {dboMod, &by, &bo, vctByte},
      {dboAnd, &bo, &bo, vctBoolean},      {dboOr, &ri, &in, vctInteger},      {dboMod, &li, &sm, vctInteger},
      {dboDiv, &bi, &sm, vctBigInt},
      // BigInt and RecordId/Link: neither is wider, the left operand decides.
      {dboDiv, &bi, &ri, vctBigInt},       {dboDiv, &ri, &bi, vctInteger},     {dboAnd, &li, &bi, vctInteger},
      {dboPlus, &ri, &bi, vctBigInt},
      // Floats.
      {dboPlus, &fl, &in, vctFloat},       {dboMinus, &by, &fl, vctFloat},     {dboDivide, &fl, &fl, vctFloat},
      {dboDiv, &fl, &in, kNone},           {dboMod, &in, &fl, kNone},          {dboAnd, &fl, &fl, kNone},
      // Strings: concatenation only.
      {dboPlus, &s10, &s10, vctString},    {dboPlus, &s10, &w10, vctWideString}, {dboPlus, &w10, &s10, vctWideString},
      {dboPlus, &memo, &s10, vctMemo},     {dboPlus, &s10, &wmemo, vctWideMemo}, {dboMinus, &s10, &s10, kNone},
      {dboPlus, &s10, &in, kNone},
      // Dates and times as the left operand only.
      {dboPlus, &da, &in, vctDate},        {dboPlus, &da, &sm, vctDate},       {dboPlus, &da, &fl, vctTimeStamp},
      {dboMinus, &da, &da, vctInteger},    {dboMinus, &da, &ts, vctFloat},     {dboMinus, &ts, &da, vctFloat},
      {dboPlus, &ts, &in, vctTimeStamp},   {dboPlus, &ti, &fl, vctTime},       {dboMinus, &ti, &ti, vctFloat},
      {dboPlus, &in, &da, kNone},          {dboMultiply, &da, &in, kNone},     {dboPlus, &da, &da, kNone},
      {dboMinus, &ti, &da, kNone},
      // The null type absorbs everything.
      {dboPlus, &nu, &in, vctNull},        {dboPlus, &in, &nu, vctNull},       {dboMod, &s10, &nu, vctNull},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
    EXPECT_EQ(ResultCode(c.Op, *c.Left, *c.Right), c.Expected);
  }
}

TEST(VdbOperators, ResultNullabilityAndStringLengths) {
  const auto* r = TVdbDataType::GetResultDataType(dboPlus, Type(vctInteger, true), Type(vctInteger, false));
  EXPECT_TRUE(r->Nullable());
  r = TVdbDataType::GetResultDataType(dboPlus, Type(vctInteger, false), Type(vctInteger, false));
  EXPECT_FALSE(r->Nullable());
  // Date/time results follow the left operand.
  r = TVdbDataType::GetResultDataType(dboPlus, Type(vctDate, false), Type(vctInteger, true));
  EXPECT_FALSE(r->Nullable());
  struct Case {
    TVdbColumnType Code;
    std::int32_t A, B, Expected;
  } lengths[] = {
      {vctString, 10, 20, 30},
      {vctString, 16000, 16764, 32764},
      {vctString, 16000, 16765, 32764},
      {vctString, 32764, 32764, 32764},
      {vctWideString, 8000, 8382, 16382},
      {vctWideString, 8000, 8383, 16382},
  };
  for (const auto& c : lengths) {
    SCOPED_TRACE(c.B);
    r = TVdbDataType::GetResultDataType(dboPlus, Str(c.Code, c.A, u"Hungarian"), Str(c.Code, c.B));
    EXPECT_EQ(static_cast<const TVdbStringType*>(r)->MaxLength(), c.Expected);
    EXPECT_EQ(static_cast<const TVdbStringType*>(r)->CollationName(), u"Hungarian");  // the left operand's
  }
}

TEST(VdbOperators, IntegerArithmeticAndRangeErrors) {
  struct Case {
    TVdbDataBinaryOperator Op;
    TVdbColumnType TA;
    std::int64_t A;
    TVdbColumnType TB;
    std::int64_t B;
    std::u16string Expected;
  } cases[] = {
      {dboPlus, vctSmallInt, 30000, vctSmallInt, 30000, u"60000"},     // widened: no overflow
      {dboPlus, vctByte, 200, vctByte, 100, u"300"},
      {dboMultiply, vctByte, 255, vctByte, 255, u"65025"},
      {dboPlus, vctInteger, 2147483647, vctInteger, 1, u"2147483648"},
      {dboMinus, vctBigInt, std::numeric_limits<std::int64_t>::min(), vctBigInt, 1,
       u"9223372036854775807"},                                      // 64-bit wrap-around
      {dboMultiply, vctBigInt, std::numeric_limits<std::int64_t>::max(), vctBigInt, 2, u"-2"},
      {dboDiv, vctSmallInt, -32768, vctSmallInt, -1, u"!81"},          // 32768 does not fit SmallInt
      {dboDiv, vctBigInt, std::numeric_limits<std::int64_t>::min(), vctBigInt, -1,
       u"-9223372036854775808"},
      {dboMod, vctBigInt, std::numeric_limits<std::int64_t>::min(), vctBigInt, -1, u"0"},
      {dboDiv, vctInteger, 7, vctInteger, 2, u"3"},
      {dboDiv, vctInteger, -7, vctInteger, 2, u"-3"},
      {dboMod, vctInteger, -7, vctInteger, 2, u"-1"},
      {dboDiv, vctInteger, 7, vctInteger, 0, u"!178"},
      {dboMod, vctSmallInt, 7, vctSmallInt, 0, u"!178"},
      {dboDivide, vctInteger, 7, vctInteger, 2, u"3.5"},
      {dboDivide, vctInteger, 7, vctInteger, 0, u"!178"},
      {dboAnd, vctInteger, 12, vctInteger, 10, u"8"},
      {dboOr, vctByte, 12, vctByte, 10, u"14"},
      {dboOr, vctBoolean, 0, vctBoolean, 1, u"True"},
      {dboPlus, vctRecordId, 2147483647, vctRecordId, 1, u"2147483648"},
      {dboOr, vctRecordId, 1, vctSmallInt, -1, u"-1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
    EXPECT_EQ(CalcInt(c.Op, c.TA, c.A, c.TB, c.B), c.Expected);
  }
}

TEST(VdbOperators, UnaryOperators) {
  struct Case {
    TVdbColumnType Type;
    std::int64_t Value;
    std::u16string Expected;
    TVdbColumnType ResultType;
  } cases[] = {
      {vctByte, 200, u"-200", vctSmallInt},
      {vctSmallInt, -32768, u"!81", vctSmallInt},
      {vctInteger, std::numeric_limits<std::int32_t>::min(), u"!81", vctInteger},
      {vctBigInt, 5, u"-5", vctBigInt},
      {vctBigInt, std::numeric_limits<std::int64_t>::min(), u"-9223372036854775808", vctBigInt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
    const auto& t = Type(c.Type);
    const auto* rt = t.GetResultDataType(duoMinus);
    ASSERT_NE(rt, nullptr);
    EXPECT_EQ(rt->ColumnType(), c.ResultType);
    TVdbDataValue v, r;
    t.SetInteger(v, c.Value);
    std::u16string got;
    try {
      TVdbDataType::Calculate(duoMinus, v, r, t, *rt);
      got = rt->ConvertToString(r, TvuFormats::Invariant());
    } catch (const EVdbEngine& e) {
      got = u"!" + vuIntToStr(e.Code());
    }
    EXPECT_EQ(got, c.Expected);
  }
  EXPECT_EQ(Type(vctInteger).GetResultDataType(duoNot), nullptr);
  EXPECT_EQ(Type(vctFloat).GetResultDataType(duoMinus), nullptr);
  EXPECT_EQ(Type(vctDate).GetResultDataType(duoMinus), nullptr);
  EXPECT_EQ(Str(vctString, 10).GetResultDataType(duoStringUpper), &Str(vctString, 10));
  EXPECT_EQ(TVdbDataType::GetNullType(0)->GetResultDataType(duoMinus), TVdbDataType::GetNullType(0));
}

TEST(VdbOperators, RangeErrorMessageNamesValueTypeAndRange) {
  const auto& t = Type(vctSmallInt);
  TVdbDataValue a, b, r;
  t.SetInteger(a, -32768);
  t.SetInteger(b, -1);
  try {
    TVdbDataType::Calculate(dboDiv, a, b, r, t, t, *TVdbDataType::GetResultDataType(dboDiv, t, t));
    ADD_FAILURE();
  } catch (const EVdbEngine& e) {
    EXPECT_EQ(e.Message(), u"Value 32768 of type SmallInt exceeds the allowed range from -32768 to 32767");
  }
}

TEST(VdbOperators, FloatsNullsAndNotAllowedOperations) {
  const auto& f = Type(vctFloat, true);
  const auto& i = Type(vctInteger, true);
  TVdbDataValue a, b, r;
  f.SetDouble(a, 1.5);
  i.SetInteger(b, 2);
  const auto* rt = TVdbDataType::GetResultDataType(dboMultiply, f, i);
  TVdbDataType::Calculate(dboMultiply, a, b, r, f, i, *rt);
  EXPECT_EQ(rt->GetDouble(r), 3.0);
  TVdbDataType::Calculate(dboMinus, b, a, r, i, f, *TVdbDataType::GetResultDataType(dboMinus, i, f));
  EXPECT_EQ(rt->GetDouble(r), 0.5);
  f.SetDouble(b, 0.0);
  try {
    TVdbDataType::Calculate(dboDivide, a, b, r, f, f, f);
    ADD_FAILURE();
  } catch (const EVdbEngine& e) {
    EXPECT_EQ(e.Code(), errDivisionByZero);
    EXPECT_EQ(e.Message(), u"Division by zero");
  }
  // A null operand gives null.
  i.SetNull(b);
  TVdbDataType::Calculate(dboMultiply, a, b, r, f, i, *rt);
  EXPECT_TRUE(rt->IsNull(r));
  // No type yields a result.
  try {
    TVdbDataType::Calculate(dboMod, a, a, r, f, f, f);
    ADD_FAILURE();
  } catch (const EVdbEngine& e) {
    EXPECT_EQ(e.Message(), u"Cannot perform this operation on these data types.");
  }
}

TEST(VdbOperators, DateAndTimeArithmetic) {
  const auto& date = Type(vctDate);
  const auto& ts = Type(vctTimeStamp);
  const auto* time = TVdbDataType::GetDateTimeType(vctTime, false, 2, 6);
  const auto& in = Type(vctInteger);
  const auto& fl = Type(vctFloat);
  auto fmt = [](const TVdbDataType& t, const TVdbDataValue& v) { return t.ConvertToString(v, TvuFormats::Invariant()); };
  auto calc = [&](TVdbDataBinaryOperator op, const TVdbDataType& t1, const TVdbDataValue& v1, const TVdbDataType& t2,
                  const TVdbDataValue& v2) {
    const auto* rt = TVdbDataType::GetResultDataType(op, t1, t2);
    EXPECT_NE(rt, nullptr);
    TVdbDataValue r;
    TVdbDataType::Calculate(op, v1, v2, r, t1, t2, *rt);
    return fmt(*rt, r);
  };
  TVdbDataValue d, d2, n, x, t1, t2, s;
  date.ConvertFromString(d, u"28.02.2012", TvuFormats::Invariant());
  in.SetInteger(n, 1);
  EXPECT_EQ(calc(dboPlus, date, d, in, n), u"29.02.2012");
  in.SetInteger(n, 2);
  EXPECT_EQ(calc(dboPlus, date, d, in, n), u"01.03.2012");
  in.SetInteger(n, 365);
  EXPECT_EQ(calc(dboMinus, date, d, in, n), u"28.02.2011");
  fl.SetDouble(x, 0.5);
  EXPECT_EQ(calc(dboPlus, date, d, fl, x), u"28.02.2012_12:00:00.000");
  fl.SetDouble(x, 1.0 / 86400000 * 0.6);  // rounds to one millisecond
  EXPECT_EQ(calc(dboMinus, date, d, fl, x), u"27.02.2012_23:59:59.999");
  date.ConvertFromString(d2, u"01.03.2014", TvuFormats::Invariant());
  date.ConvertFromString(d, u"28.02.2014", TvuFormats::Invariant());
  EXPECT_EQ(calc(dboMinus, date, d2, date, d), u"1");
  ts.ConvertFromString(s, u"01.03.2014_06:00", TvuFormats::Invariant());
  EXPECT_EQ(calc(dboMinus, ts, s, date, d), u"1.25");
  // Times move by minutes and wrap into one day.
  time->ConvertFromString(t1, u"23:30", TvuFormats::Invariant());
  in.SetInteger(n, 60);
  EXPECT_EQ(calc(dboPlus, *time, t1, in, n), u"00:30");
  in.SetInteger(n, 2 * 1440 + 45);
  EXPECT_EQ(calc(dboMinus, *time, t1, in, n), u"22:45");
  time->ConvertFromString(t2, u"00:10", TvuFormats::Invariant());
  EXPECT_EQ(calc(dboMinus, *time, t2, *time, t1), u"-1400");
  // Leaving the calendar raises a range error.
  date.ConvertFromString(d, u"31.12.9999", TvuFormats::Invariant());
  in.SetInteger(n, 1);
  EXPECT_THROW(calc(dboPlus, date, d, in, n), EVdbEngine);
}

TEST(VdbOperators, StringConcatenationAndCaseMapping) {
  const auto& hu = Str(vctString, 20, u"Hungarian");
  const auto& wide = Str(vctWideString, 5);
  TVdbDataValue a, b, r;
  hu.SetWideString(a, u"árvíztűrő ");
  wide.SetWideString(b, u"gép");
  const auto* rt = TVdbDataType::GetResultDataType(dboPlus, hu, wide);
  TVdbDataType::Calculate(dboPlus, a, b, r, hu, wide, *rt);
  EXPECT_EQ(rt->GetWideString(r), u"árvíztűrő gép");
  TVdbDataValue up;
  TVdbDataType::Calculate(duoStringUpper, a, up, hu, hu);
  EXPECT_EQ(hu.GetWideString(up), u"ÁRVÍZTŰRŐ ");
  TVdbDataType::Calculate(duoStringLower, up, a, hu, hu);
  EXPECT_EQ(hu.GetWideString(a), u"árvíztűrő ");
  // Two 8-bit texts of one code page concatenate as bytes.
  const auto& s3 = Str(vctString, 3);
  TVdbDataValue x, y;
  s3.SetAnsiString(x, "ab\xFF");
  s3.SetAnsiString(y, "\x80");
  const auto* rt2 = TVdbDataType::GetResultDataType(dboPlus, s3, s3);
  TVdbDataType::Calculate(dboPlus, x, y, r, s3, s3, *rt2);
  EXPECT_EQ(rt2->GetAnsiString(r), "ab\xFF\x80");
}
