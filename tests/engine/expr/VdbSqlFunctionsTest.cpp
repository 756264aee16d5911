// The built-in functions: the documented edge cases of the string, numeric and date functions,
// the weekday numbering on dated examples across centuries, the data functions, the type errors,
// and the aggregates driven row by row as grouping drives them (NULL rows skipped, integer sums
// in 64 bits).
#include <gtest/gtest.h>

#include "base/VdbErrorCodes.h"
#include "base/VdbErrors.h"
#include "base/VdbFormat.h"
#include "expr/VdbSqlFunctions.h"
#include "sql/VdbSqlParser.h"

namespace vdb {
namespace {

std::string U8(std::u16string_view s) { return VdbUtf16ToUtf8(std::u16string(s)); }

// Columns I (integer), S (string), F (float), D (date), held as values.
class TRow final : public IVdbColumnSource {
 public:
  TRow() {
    FTypes = {TVdbDataType::GetDataType(vctInteger, true, 6), TVdbDataType::GetStringType(vctString, true, 40, u"", 6),
              TVdbDataType::GetDataType(vctFloat, true, 6), TVdbDataType::GetDataType(vctDate, true, 6)};
    FValues.resize(FTypes.size());
    for (std::size_t i = 0; i < FTypes.size(); ++i) {
      FTypes[i]->InitValue(FValues[i]);
      FTypes[i]->SetNull(FValues[i]);
    }
  }
  bool FindColumn(std::u16string_view name, int& rltnPos, int& fieldNo, const TVdbDataType*& type) const override {
    static constexpr std::u16string_view kNames[] = {u"I", u"S", u"F", u"D"};
    for (std::size_t i = 0; i < 4; ++i) {
      if (kNames[i] == name) {
        rltnPos = 0;
        fieldNo = static_cast<int>(i);
        type = FTypes[i];
        return true;
      }
    }
    return false;
  }
  void ColumnValue(int, int fieldNo, TVdbDataValue& value) override { value = FValues[static_cast<std::size_t>(fieldNo)]; }
  bool CurrentRecordId(std::u16string_view table, std::int64_t& id) override {
    if (table != u"Irsz") return false;
    id = 42;
    return true;
  }
  // Column `no` gets `text` (invariant form) or NULL.
  void Set(std::size_t no, const char16_t* text) {
    FValues[no].Clear();
    FTypes[no]->InitValue(FValues[no]);
    if (!text) FTypes[no]->SetNull(FValues[no]);
    else FTypes[no]->ConvertFromString(FValues[no], text, TvuFormats::Invariant());
  }

 private:
  std::vector<const TVdbDataType*> FTypes;
  std::vector<TVdbDataValue> FValues;
};

std::unique_ptr<TVdbExpression> Prepared(TRow& row, std::u16string_view text) {
  TSqlParser p;
  p.SetStatementText(std::u16string(text));
  p.InitParsing();
  auto e = p.ParseExpression();
  p.ParseEnd();
  TVdbPrepareContext ctx{&row, 0, TvuFormats::Invariant()};
  e->Prepare(ctx);
  return e;
}

// The value as text; "NULL" for null.
std::u16string Eval(TRow& row, std::u16string_view text) {
  auto e = Prepared(row, text);
  const TVdbDataValue& v = e->Calculate();
  if (v.IsEmpty() || e->DataType()->IsNull(v)) return u"NULL";
  return e->DataType()->ConvertToString(v, TvuFormats::Invariant());
}

struct TCase {
  const char16_t* Text;
  const char16_t* Expected;
};

void RunCases(std::initializer_list<TCase> cases) {
  TRow row;
  for (const auto& c : cases) {
    SCOPED_TRACE(U8(c.Text));
    try {
      EXPECT_EQ(U8(Eval(row, c.Text)), U8(c.Expected));
    } catch (const EVdbEngine& e) {
      ADD_FAILURE() << U8(e.Message());
    }
  }
}

TEST(SqlFunctionsTest, StringFunctions) {
  RunCases({
      {u"SUBSTRING('abc' FROM 2)", u"bc"},
      {u"SUBSTRING('abc' FROM 0 FOR 2)", u""},
      {u"SUBSTRING('abc' FROM 2 FOR 10)", u"bc"},
      {u"SUBSTRING('abc' FROM 4)", u""},
      {u"SUBSTRING('abc' FROM 1 FOR 0)", u""},
      {u"TRIM(LEADING 'x' FROM 'xxaxx')", u"axx"},
      {u"TRIM(TRAILING 'x' FROM 'xxaxx')", u"xxa"},
      {u"TRIM(BOTH 'xy' FROM 'xxaxx')", u"a"},
      {u"TRIM('  a b  ')", u"a b"},
      {u"TRIM(FROM '  a  ')", u"a"},
      {u"LTRIM('  a  ')", u"a  "},
      {u"RTRIM('  a  ')", u"  a"},
      {u"UPPER('árvíz')", u"ÁRVÍZ"},
      {u"LOWER('ÁRVÍZ')", u"árvíz"},
      {u"LEN('Győr')", u"4"},
      {u"CHAR_LENGTH('')", u"0"},
      {u"CHR(337)", u"ő"},
      {u"EXCHANGE('aaaa', 'aa', 'b')", u"bb"},
      {u"EXCHANGE('abc', NULL, 'x')", u"abc"},
      {u"EXCHANGE('abc', '', 'x')", u"abc"},
      {u"FILLSTR('ab', 'xy', 5)", u"abxyx"},
      {u"FILLSTR('abcdef', 'x', 3)", u"abcdef"},
      {u"NTIMES('ab', 3)", u"ababab"},
      {u"NTIMES('ab', 0)", u""},
      {u"UPPER(NULL)", u"NULL"},
      {u"SUBSTRING(NULL FROM 1)", u"NULL"},
      {u"Pos('b', 'abcb')", u"2"},
      {u"Pos('x', 'abc')", u"0"},
      {u"Scan('aa', 'aaaa')", u"3"},
      {u"LeftStr('abc', 2)", u"ab"},
      {u"RightStr('abc', 5)", u"abc"},
      {u"Ascii('A')", u"65"},
      {u"HexStr(255, 4)", u"00FF"},
      {u"HexStr(-1)", u"FFFFFFFFFFFFFFFF"},
  });
}

TEST(SqlFunctionsTest, NumericFunctions) {
  RunCases({
      {u"ROUND(2.5, 0)", u"2"},
      {u"ROUND(3.5, 0)", u"4"},
      {u"ROUND(-2.5, 0)", u"-2"},
      {u"ROUND(1234.5678, -2)", u"1200"},
      {u"ROUND(1250, -2)", u"1200"},
      {u"ROUND(1.2345, 2)", u"1.23"},
      {u"STR(1234.5, 10, 2, ',', ' ', '.')", u"  1.234,50"},
      {u"STR(5)", u"5"},
      {u"STR(2.5)", u"2"},
      {u"STR(-1234567.891, 0, 1, '.', '', ',')", u"-1,234,567.9"},
      {u"STR(7, 4, 0, '.', '0')", u"0007"},
      {u"STR(1, 3, 20)", u"1.00000000000"},
      {u"LOG(0)", u"NULL"},
      {u"LOG(-1)", u"NULL"},
      {u"LOG(1)", u"0"},
      {u"SQRT(-1)", u"NULL"},
      {u"SQRT(16)", u"4"},
      {u"EXP(0)", u"1"},
      {u"CEILING(2.1)", u"3"},
      {u"FLOOR(-2.1)", u"-3"},
      {u"CEILING(3000000000.5)", u"NULL"},
      {u"FLOOR(-3000000000.5)", u"NULL"},
      {u"INT(-2.7)", u"-2"},
      {u"INT(9007199254740993)", u"9007199254740993"},
      {u"FRAC(2.75)", u"0.75"},
      {u"ABS(-3)", u"3"},
      {u"REALVAL(' 2.5 ')", u"2.5"},
      {u"DIGITSTR(123.9)", u"123"},
      {u"DIGITSTR(-7)", u"-7"},
      {u"CAST('12' AS INTEGER) + 1", u"13"},
      {u"CAST(12 AS VARCHAR(5))", u"12"},
      {u"Sin(0) + Cos(0)", u"1"},
  });
  TRow row;
  for (int i = 0; i < 50; ++i) {
    const std::u16string r = Eval(row, u"RANDOM(3)");
    EXPECT_TRUE(r == u"0" || r == u"1" || r == u"2") << U8(r);
  }
  EXPECT_EQ(Eval(row, u"RANDOM(0)"), u"NULL");
}

// Weekdays count from Sunday = 1 to Saturday = 7, on dates across the whole calendar range.
TEST(SqlFunctionsTest, WeekdayNumbersStartOnSunday) {
  struct TDay {
    const char16_t* Date;
    int WeekDay;
    const char16_t* Name;
  };
  const TDay days[] = {
      {u"24.12.2013", 3, u"Tuesday"},  {u"01.01.1900", 2, u"Monday"},   {u"31.12.1899", 1, u"Sunday"},
      {u"04.07.1776", 5, u"Thursday"}, {u"15.10.1582", 6, u"Friday"},   {u"01.01.2000", 7, u"Saturday"},
      {u"01.01.2101", 7, u"Saturday"}, {u"29.02.2400", 3, u"Tuesday"},  {u"01.01.0001", 2, u"Monday"},
      {u"31.12.9999", 6, u"Friday"},   {u"29.02.2024", 5, u"Thursday"},
  };
  TRow row;
  for (const auto& d : days) {
    SCOPED_TRACE(U8(d.Date));
    row.Set(3, d.Date);
    EXPECT_EQ(Eval(row, u"EXTRACT(WEEKDAY FROM D)"), vuIntToStr(d.WeekDay));
    EXPECT_EQ(Eval(row, u"WeekDayNo(D)"), vuIntToStr(d.WeekDay));
    EXPECT_EQ(Eval(row, u"EXTRACT(WEEKDAYNAME FROM D)"), d.Name);
    EXPECT_EQ(Eval(row, u"DayOfWeek(D)"), d.Name);
  }
}

TEST(SqlFunctionsTest, DateAndTimeFunctions) {
  RunCases({
      {u"EXTRACT(YEAR FROM 24.12.2013)", u"2013"},
      {u"EXTRACT(MONTH FROM 24.12.2013)", u"12"},
      {u"EXTRACT(DAY FROM DATE'24.12.2013')", u"24"},
      {u"EXTRACT(WEEK FROM 24.12.2013)", u"52"},
      {u"EXTRACT(WEEK FROM 01.01.2013)", u"1"},
      {u"EXTRACT(WEEK FROM 06.01.2013)", u"2"},
      {u"EXTRACT(HOUR FROM 24.12.2013_18:30:05)", u"18"},
      {u"EXTRACT(MINUTE FROM 18:30:05)", u"30"},
      {u"EXTRACT(SECOND FROM 24.12.2013_18:30:05)", u"5"},
      {u"Year(24.12.2013)", u"2013"},
      {u"Month(24.12.2013)", u"12"},
      {u"Day(24.12.2013)", u"24"},
      {u"Hour(18:30)", u"18"},
      {u"MakeDate(2013, 12, 24)", u"24.12.2013"},
      {u"MakeTime(18, 30, 5, 7)", u"18:30:05.007"},
      {u"MakeDateTime(2013, 12, 24, 18, 30)", u"24.12.2013_18:30:00.000"},
      {u"CombineDateTime(24.12.2013, 18:30)", u"24.12.2013_18:30:00.000"},
      {u"DateStr(24.12.2013)", u"24.12.2013"},
      {u"TimeStr(18:30:05, 2)", u"18:30"},
      {u"TimeStr(18:30:05)", u"18:30:05"},
  });
  TRow row;
  EXPECT_EQ(Eval(row, u"CURRENTRECORDID(Irsz)"), u"42");
  EXPECT_NE(Eval(row, u"CURRENT_DATE"), u"NULL");
  EXPECT_NE(Eval(row, u"CURRENT_TIMESTAMP"), u"NULL");
  EXPECT_NE(Eval(row, u"NOW"), u"NULL");
  EXPECT_NE(Eval(row, u"NewGuid"), Eval(row, u"NewGuid"));
}

TEST(SqlFunctionsTest, ErrorsAtPrepareAndRun) {
  struct TErr {
    const char16_t* Text;
    std::int16_t Code;
    const char16_t* Message;
  };
  const TErr cases[] = {
      {u"SUM(S)", errTypeMismatch, u"Type mismatch: SUM"},
      {u"AVG(D)", errTypeMismatch, u"Type mismatch: AVG"},
      {u"UPPER(I)", errTypeMismatch, u"Type mismatch: UPPER"},
      {u"EXTRACT(HOUR FROM D)", errTypeMismatch, nullptr},
      {u"LOG('x')", errTypeMismatch, nullptr},
      {u"MakeDate(2013, 2, 30)", errInvalidDate, u"\"2013-2-30\" is not a valid date"},
      {u"MakeTime(25, 0)", errInvalidTime, u"\"25:0:0.0\" is not a valid time"},
      // The expression reports the range error of INT as its own overflow.
      {u"INT(1E30)", errValueOutOfRange, nullptr},
      {u"REALVAL('abc')", errInvalidNumber, nullptr},
      {u"CURRENTRECORDID(Nope)", errUnknownIdentifier, nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(U8(c.Text));
    TRow row;
    try {
      Eval(row, c.Text);
      ADD_FAILURE() << "no error";
    } catch (const EVdbEngine& e) {
      EXPECT_EQ(e.Code(), c.Code) << U8(e.Message());
      if (c.Message) EXPECT_EQ(e.Message(), c.Message);
    }
  }
}

// An aggregate expression prepared once and driven over rows: reset, one call per row, read.
class TAggregate {
 public:
  TAggregate(TRow& row, std::u16string_view text) : FExpression(Prepared(row, text)) {
    VdbVisitFunctionCalls(*FExpression, [&](TVdbFunctionCall& call) {
      if (call.IsAggregate()) FFunctions.push_back(call.Impl.get());
    });
  }
  void Reset() {
    for (auto* f : FFunctions) f->ResetAggregations();
  }
  void Row() {
    for (auto* f : FFunctions) f->CalcAggregations();
  }
  std::u16string Value() {
    const TVdbDataValue& v = FExpression->Calculate();
    if (v.IsEmpty() || FExpression->DataType()->IsNull(v)) return u"NULL";
    return FExpression->DataType()->ConvertToString(v, TvuFormats::Invariant());
  }
  const TVdbDataType* Type() const { return FExpression->DataType(); }

 private:
  std::unique_ptr<TVdbExpression> FExpression;
  std::vector<TSqlStdFunction*> FFunctions;
};

TEST(SqlFunctionsTest, AggregatesSkipNullRowsAndSumIntegersIn64Bits) {
  TRow row;
  const char16_t* values[][2] = {{u"2147483647", u"b"}, {u"2147483647", u""}, {nullptr, nullptr}, {u"5", u"a"}};
  struct TAgg {
    const char16_t* Text;
    const char16_t* Value;
    const char16_t* AllNull;
  };
  const TAgg aggs[] = {
      {u"SUM(I)", u"4294967299", u"NULL"},
      {u"COUNT(I)", u"3", u"0"},
      {u"COUNT(S)", u"3", u"0"},  // the empty string counts
      {u"COUNT(*)", u"4", u"2"},
      {u"AVG(I)", u"1431655766.33333", u"NULL"},
      {u"MAX(I)", u"2147483647", u"NULL"},
      {u"MIN(S)", u"", u"NULL"},
      {u"MAX(S)", u"b", u"NULL"},
      {u"FIRST(S)", u"b", u"NULL"},
      {u"LAST(S)", u"a", u"NULL"},
      {u"SUM(I) + COUNT(*)", u"4294967303", u"NULL"},
  };
  for (const auto& a : aggs) {
    SCOPED_TRACE(U8(a.Text));
    TAggregate agg(row, a.Text);
    agg.Reset();
    for (const auto& v : values) {
      row.Set(0, v[0]);
      row.Set(1, v[1]);
      agg.Row();
    }
    const std::u16string value = agg.Value();
    EXPECT_EQ(U8(value.substr(0, std::u16string_view(a.Value).size())), U8(a.Value));
    // A second group of NULL rows only.
    agg.Reset();
    for (int i = 0; i < 2; ++i) {
      row.Set(0, nullptr);
      row.Set(1, nullptr);
      agg.Row();
    }
    EXPECT_EQ(U8(agg.Value()), U8(a.AllNull));
  }
  TAggregate sum(row, u"SUM(I)");
  EXPECT_EQ(sum.Type()->ColumnType(), vctBigInt);
  TAggregate fsum(row, u"SUM(F)");
  EXPECT_EQ(fsum.Type()->ColumnType(), vctFloat);
  TAggregate count(row, u"COUNT(I)");
  EXPECT_EQ(count.Type()->ColumnType(), vctInteger);
  EXPECT_FALSE(count.Type()->Nullable());
  TAggregate max(row, u"MAX(D)");
  EXPECT_EQ(max.Type()->ColumnType(), vctDate);
}

TEST(SqlFunctionsTest, SumOverflowingSixtyFourBitsIsARangeError) {
  TRow row;
  TAggregate agg(row, u"SUM(I * 4611686018427387904)");
  agg.Reset();
  row.Set(0, u"1");
  agg.Row();
  try {
    agg.Row();
    ADD_FAILURE() << "no overflow reported";
  } catch (const EVdbEngine& e) {
    EXPECT_EQ(e.Code(), errValueExceedsTypeRange);
  }
}

}  // namespace
}  // namespace vdb
