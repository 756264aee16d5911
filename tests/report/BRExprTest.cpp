// The report expression evaluator: operators with their kinds and precedence, the library's
// functions, fields of datasets, aggregates, environments with constants and recursion, and
// the conversions that raise.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <random>
#include <string>

#include "BRExpr.h"
#include "BRFormat.h"
#include "db/TMemDataSet.h"

namespace {

using br::TBREvResult;
using br::TBREvResultType;
using K = TBREvResultType;

TBREvResult Evaluate(const QString& text, br::TBREvaluator& ev) {
  ev.Prepare(text);
  TBREvResult r;
  ev.Value(r);
  return r;
}

TBREvResult Evaluate(const QString& text) {
  br::TBREvaluator ev;
  return Evaluate(text, ev);
}

// The value as one text: numbers in the invariant notation, Booleans as True/False, errors as
// their message.
std::string Show(const TBREvResult& r) {
  switch (r.Kind) {
    case K::resInt: return std::to_string(r.intResult);
    case K::resDouble: return br::FloatToStr(r.dblResult, br::TBRFormatSettings{}).toStdString();
    case K::resBool: return r.booResult ? "True" : "False";
    default: return r.StringVal.toStdString();
  }
}

const char* KindName(K k) {
  switch (k) {
    case K::resInt: return "int";
    case K::resDouble: return "double";
    case K::resString: return "string";
    case K::resBool: return "bool";
    default: return "error";
  }
}

struct TCase {
  const char* Text;
  K Kind;
  const char* Shown;
};

TEST(ReportExpression, EvaluatesTheCasesOfTheLanguage) {
  const TCase cases[] = {
      // precedence and the left-to-right reading of - and /
      {"2+3*4", K::resInt, "14"},
      {"10-2+3", K::resInt, "11"},
      {"10-2-3", K::resInt, "5"},
      {"12/4*3", K::resDouble, "9"},
      {"-5+2", K::resInt, "-3"},
      {"10-(2+3)", K::resInt, "5"},
      {"2*(3+4)", K::resInt, "14"},
      {" 7 ", K::resInt, "7"},
      {"7/2", K::resDouble, "3.5"},
      {"DIV(7, 2)", K::resInt, "3"},
      {"DIV(7.5, 2)", K::resInt, "4"},
      {"DIV(-7, 2)", K::resInt, "-3"},
      {"DIV(1, 0)", K::resError, "Division by Zero"},
      {"1/0", K::resError, "Cannot divide by 0"},
      {"1.5/0", K::resError, "Cannot divide by 0"},
      {"2147483648", K::resDouble, "2147483648"},
      {"1.25E2", K::resDouble, "125"},
      {"1x", K::resError, "Illegal character in numeric contant \"1x\""},
      // mixed kinds
      {"'abc' + 1", K::resString, "abc1"},
      {"1 + 2.5", K::resDouble, "3.5"},
      {"1 < 'a'", K::resBool, "True"},
      {"'b' > 'a'", K::resBool, "True"},
      {"'B' > 'a'", K::resBool, "False"},
      {"'x' + TRUE", K::resString, "xTrue"},
      {"1 = 1.0", K::resBool, "True"},
      {"3 or 4", K::resInt, "7"},
      {"6 AND 3", K::resInt, "2"},
      {"TRUE and FALSE", K::resBool, "False"},
      {"TRUE Or FALSE", K::resBool, "True"},
      {"2.5 or 1", K::resError, "Operator OR is not compatible with numeric expressions"},
      {"'a' and 'b'", K::resError, "Operator AND is not compatible with string expressions"},
      {"'a' - 'b'", K::resError, "Cannot subtract string expressions"},
      {"'a' * 2", K::resError, "Cannot multiply string expressions"},
      {"TRUE + TRUE", K::resError, "Cannot add boolean expressions"},
      {"TRUE / TRUE", K::resError, "Cannot divide boolean expressions"},
      {"TRUE < FALSE", K::resError, "Operator < is not compatible with boolean expressions"},
      {"TRUE <> FALSE", K::resBool, "True"},
      {"2 >= 2", K::resBool, "True"},
      {"2 <= 1", K::resBool, "False"},
      {"not TRUE", K::resBool, "False"},
      {"NOT (1 = 2)", K::resBool, "True"},
      {"not 1", K::resError, "Invalid use of NOT"},
      {"(1/0) + 'x'", K::resError, "Cannot divide by 0"},
      // functions
      {"INT(-2.7)", K::resInt, "-2"},
      {"INT('a')", K::resError, "Wrong arguments for INT"},
      {"FRAC(2.25)", K::resDouble, "0.25"},
      {"FRAC(3)", K::resDouble, "0"},
      {"SQRT(16)", K::resDouble, "4"},
      {"SQRT(-1)", K::resError, "Invalid argument to SQRT function"},
      {"STR(TRUE)", K::resString, "True"},
      {"STR(12)", K::resString, "12"},
      {"STR('x')", K::resError, "Conversion error"},
      {"UPPER('árvíztűrő')", K::resString, "ÁRVÍZTŰRŐ"},
      {"LOWER('ÁRVÍZ')", K::resString, "árvíz"},
      {"UPPER()", K::resError, "Missing argument for UPPER"},
      {"PRETTY('hELLO wORLD')", K::resString, "Hello world"},
      {"PRETTY('')", K::resString, ""},
      {"COPY('abcdef', 2, 3)", K::resString, "bcd"},
      {"COPY('abcdef', 0, 2)", K::resString, "ab"},
      {"COPY('abcdef', 9, 2)", K::resString, ""},
      {"TYPEOF(1.5)", K::resString, "FLOAT"},
      {"TYPEOF('a')", K::resString, "STRING"},
      {"TYPEOF(1/0)", K::resString, "ERROR"},
      {"TYPEOF(1, 2)", K::resError, "Wrong arguments for TypeOf"},
      {"IF(1 = 1, 'a', 'b')", K::resString, "a"},
      {"IF(1 > 1, 'a', 'b')", K::resString, "b"},
      {"IF(1, 'a', 'b')", K::resError, "Wrong arguments for IF"},
      {"IF(TYPEOF(1) = 'STRING', 'text', 'number')", K::resString, "number"},
      {"TRUE(1)", K::resError, "Too many arguments"},
      {"COUNT(1)", K::resError, "COUNT - Too many arguments"},
      {"FORMATNUMERIC('#,##0.00', 1234.5)", K::resString, "1,234.50"},
      {"FORMATNUMERIC('000', 7)", K::resString, "007"},
      {"FORMATNUMERIC(1, 2)", K::resError, ""},
      {"FOO(1)", K::resError, "Unknown function : FOO"},
      {"foo", K::resError, "Unknown function : FOO"},
      {"foo(1", K::resError, "Unknown function : "},
      // syntax errors are values
      {"'abc", K::resError, "Missing '"},
      {"(1+2", K::resError, "Missing )"},
      {"[abc", K::resError, "Missing ]"},
      {"1 + #", K::resError, "Error in expression : #"},
      {"'it has = and + inside'", K::resString, "it has = and + inside"},
      {"", K::resString, " "},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Text);
    const TBREvResult r = Evaluate(QString::fromUtf8(c.Text));
    EXPECT_STREQ(KindName(r.Kind), KindName(c.Kind));
    EXPECT_EQ(Show(r), c.Shown);
  }
}

// Random sums and products of small whole numbers with parentheses read as arithmetic does.
TEST(ReportExpression, RandomArithmeticFollowsTheUsualPrecedence) {
  const char* env = std::getenv("VIDORA_SEED");
  const unsigned seed = env ? static_cast<unsigned>(std::strtoul(env, nullptr, 10)) : std::random_device{}();
  std::printf("VIDORA_SEED=%u\n", seed);
  std::mt19937 random(seed);
  const auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  // Builds an expression of `depth` levels and its value. Values wrap around as 32-bit
  // integers do in the evaluator: the reference computes modulo 2^64 and keeps the low half.
  std::function<std::uint64_t(int, std::string&)> term, sum;
  term = [&](int depth, std::string& text) -> std::uint64_t {
    std::uint64_t value = 0;
    if (depth > 0 && pick(3) == 0) {
      text += "(";
      value = sum(depth - 1, text);
      text += ")";
    } else {
      value = static_cast<std::uint64_t>(pick(12));
      text += std::to_string(value);
    }
    if (depth > -2 && pick(3) == 0) {
      text += pick(2) ? " * " : "*";
      std::string right;
      value *= term(depth - 1, right);
      text += right;
    }
    return value;
  };
  sum = [&](int depth, std::string& text) -> std::uint64_t {
    std::uint64_t value = term(depth, text);
    for (int n = pick(4); n > 0; --n) {
      const bool minus = pick(2) == 1;
      text += minus ? "-" : " + ";
      std::string right;
      const std::uint64_t v = term(depth, right);
      text += right;
      value = minus ? value - v : value + v;
    }
    return value;
  };
  for (int step = 0; step < 400; ++step) {
    std::string text;
    const auto expected = static_cast<std::int32_t>(static_cast<std::uint32_t>(sum(3, text)));
    SCOPED_TRACE(text);
    const TBREvResult r = Evaluate(QString::fromStdString(text));
    ASSERT_EQ(r.Kind, K::resInt) << Show(r);
    ASSERT_EQ(r.intResult, expected);
  }
}

class ReportExpressionData : public ::testing::Test {
 protected:
  void SetUp() override {
    Data.Columns().Add(u"Notes", tk::TFieldType::dtString, 20);
    Data.Columns().Add(u"ES", tk::TFieldType::dtBoolean);
    Data.Columns().Add(u"N", tk::TFieldType::dtInteger);
    Data.Columns().Add(u"F", tk::TFieldType::dtFloat);
    Data.AppendRow({std::u16string(u"first"), true, std::int64_t{5}, 1.5});
    Data.AppendRow({std::u16string(u"second"), false, std::int64_t{7}, 2.0});
    Data.AppendRow({std::u16string(u"third"), true, std::int64_t{-2}, 0.5});
    Data.Open();
    Ev.SetDataSets({{QStringLiteral("Table1"), &Data}});
  }

  // Aggregates the expression over every record, then evaluates it once more.
  TBREvResult OverAllRecords(const QString& text) {
    Ev.Prepare(text);
    Ev.Reset();
    for (Data.First(); !Data.Eof(); Data.Next()) Ev.DoAggregate();
    TBREvResult r;
    Ev.Value(r);
    return r;
  }

  tk::TMemDataSet Data;
  br::TBREvaluator Ev;
};

TEST_F(ReportExpressionData, ReadsFieldsByNameBracketsAndDataSet) {
  Data.First();
  EXPECT_EQ(Show(Evaluate(QStringLiteral("[Notes]"), Ev)), "first");
  EXPECT_EQ(Show(Evaluate(QStringLiteral("[Table1.Notes] + '!'"), Ev)), "first!");
  EXPECT_EQ(Show(Evaluate(QStringLiteral("N * 2"), Ev)), "10");
  EXPECT_EQ(Show(Evaluate(QStringLiteral("F + N"), Ev)), "6.5");
  EXPECT_EQ(Show(Evaluate(QStringLiteral("[Other.Notes]"), Ev)), "Unknown function : Other.Notes");
  // A bare name starting with "not" is a negation: Notes reads as not ES.
  EXPECT_EQ(Show(Evaluate(QStringLiteral("Notes"), Ev)), "False");
  Data.Next();
  EXPECT_EQ(Show(Evaluate(QStringLiteral("Notes"), Ev)), "True");
  EXPECT_EQ(Show(Evaluate(QStringLiteral("[Notes]"), Ev)), "second");
}

TEST_F(ReportExpressionData, AggregatesAccumulateInAggregateModeOnly) {
  const struct {
    const char* Text;
    K Kind;
    const char* Shown;
  } cases[] = {
      {"SUM([N])", K::resInt, "10"},
      {"SUM(F)", K::resDouble, "4"},
      {"SUM([Notes])", K::resError, ""},
      {"AVERAGE(N)", K::resDouble, "3.33333333333333"},
      {"MAX(N)", K::resInt, "7"},
      {"MIN(N)", K::resInt, "-2"},
      {"MIN(ES)", K::resBool, "False"},
      {"MAX(ES)", K::resBool, "True"},
      {"MAX([Notes])", K::resString, "third"},
      {"COUNT", K::resInt, "3"},
      {"COUNT * 10 + 1", K::resInt, "31"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Text);
    const TBREvResult r = OverAllRecords(QString::fromUtf8(c.Text));
    EXPECT_STREQ(KindName(r.Kind), KindName(c.Kind));
    EXPECT_EQ(Show(r), c.Shown);
    EXPECT_TRUE(Ev.IsAggreg());
  }
}

TEST_F(ReportExpressionData, CountAndResetFollowTheAggregateMode) {
  Ev.Prepare(QStringLiteral("COUNT"));
  for (int i = 0; i < 3; ++i) Ev.DoAggregate();
  EXPECT_EQ(Show(Evaluate(QStringLiteral("COUNT"), Ev)), "0") << "preparing again discards the count";
  for (int i = 0; i < 3; ++i) Ev.DoAggregate();
  TBREvResult r;
  Ev.Value(r);
  Ev.Value(r);
  EXPECT_EQ(Show(r), "3");
  Ev.Reset();
  Ev.Value(r);
  EXPECT_EQ(Show(r), "0");
  Ev.Prepare(QStringLiteral("AVERAGE(N)"));
  Ev.Value(r);
  EXPECT_EQ(r.Kind, K::resDouble);
  EXPECT_EQ(r.dblResult, 0.0);
  Ev.Prepare(QStringLiteral("SUM(N)"));
  Ev.Value(r);
  EXPECT_EQ(r.Kind, K::resInt);
  EXPECT_EQ(r.intResult, 0);
  EXPECT_FALSE(Ev.Aggregate());
}

TEST(ReportEnvironment, ConstantsEntriesAndRecursion) {
  br::TBREvEnvironment env;
  env.AddFunction(QStringLiteral("pagenumber"), QStringLiteral("0"));
  env.AddFunction(QStringLiteral("REPORTTITLE"), QStringLiteral("''"));
  env.AddFunction(QStringLiteral("TWICE"), QStringLiteral("PAGENUMBER * 2"));
  env.AddFunction(QStringLiteral("SELF"), QStringLiteral("SELF + 1"));
  env.AddFunction(QStringLiteral("PING"), QStringLiteral("PONG"));
  env.AddFunction(QStringLiteral("PONG"), QStringLiteral("PING"));
  env.AddFunction(QStringLiteral("TWICE"), QStringLiteral("ignored, the name is present"));
  EXPECT_EQ(env.Count(), 6);
  EXPECT_EQ(env.GetConstant(QStringLiteral("PAGENUMBER")), nullptr) << "not prepared";
  env.Prepare();
  ASSERT_TRUE(env.Prepared());
  br::TBREvEnvironment::SetIntegerConstant(env.GetConstant(QStringLiteral("PageNumber")), 3);
  br::TBREvEnvironment::SetStringConstant(env.GetConstant(QStringLiteral("REPORTTITLE")), QStringLiteral("Lista"));

  br::TBREvaluator ev;
  ev.SetEnvironment(&env);
  EXPECT_EQ(Show(Evaluate(QStringLiteral("TWICE + 1"), ev)), "7");
  EXPECT_EQ(Show(Evaluate(QStringLiteral("REPORTTITLE + '/' + STR(PAGENUMBER)"), ev)), "Lista/3");
  EXPECT_EQ(Show(Evaluate(QStringLiteral("SELF"), ev)), "Recursive calls not allowed");
  EXPECT_EQ(Show(Evaluate(QStringLiteral("PING"), ev)), "Recursive calls not allowed");
  // The entry is usable again after the error.
  EXPECT_EQ(Show(Evaluate(QStringLiteral("TWICE"), ev)), "6");
  env.UpdateConstant(QStringLiteral("PAGENUMBER"), TBREvResult::Int(10));
  EXPECT_EQ(Show(Evaluate(QStringLiteral("TWICE"), ev)), "20");
  TBREvResult r;
  env.Value(QStringLiteral("nothing"), r);
  EXPECT_EQ(Show(r), "Unknown function : NOTHING");
  // An entry added to a prepared environment is prepared at once.
  env.AddFunction(QStringLiteral("LATE"), QStringLiteral("TWICE + 5"));
  env.Value(QStringLiteral("late"), r);
  EXPECT_EQ(Show(r), "25");
  // The global environment is searched after the evaluator's own.
  EXPECT_EQ(Evaluate(QStringLiteral("AppName"), ev).Kind, K::resString);
  ev.UnPrepare();
  env.Unprepare();
  EXPECT_FALSE(env.Prepared());
  EXPECT_EQ(env.GetConstant(QStringLiteral("PAGENUMBER")), nullptr);
  env.DeleteFunction(QStringLiteral("late"));
  EXPECT_EQ(env.Count(), 6);
}

TEST(ReportEvaluator, ConversionsRaiseAndUnpreparedEvaluatorsRefuse) {
  br::TBREvaluator ev;
  TBREvResult r;
  try {
    ev.Value(r);
    FAIL() << "no error";
  } catch (const br::EBRError& e) {
    EXPECT_STREQ(e.what(), "Evaluator not prepared");
  }
  ev.Prepare(QStringLiteral("1/0"));
  try {
    ev.AsString();
    FAIL() << "no error";
  } catch (const br::EBRError& e) {
    EXPECT_STREQ(e.what(), "Error in expression : Cannot divide by 0");
  }
  ev.Prepare(QStringLiteral("'x'"));
  EXPECT_THROW(ev.AsInteger(), br::EBRError);
  EXPECT_THROW(ev.AsFloat(), br::EBRError);
  EXPECT_THROW(ev.AsBoolean(), br::EBRError);
  ev.Prepare(QStringLiteral("'true'"));
  EXPECT_TRUE(ev.AsBoolean());
  ev.Prepare(QStringLiteral("2.5"));
  EXPECT_EQ(ev.AsInteger(), 2) << "halves go to the even neighbour";
  ev.Prepare(QStringLiteral("3.5"));
  EXPECT_EQ(ev.AsInteger(), 4);
  EXPECT_EQ(ev.AsString(), QStringLiteral("3.5"));
  EXPECT_EQ(ev.AsVariant(), QVariant(3.5));
  br::TBREvaluator calc;
  calc.Calculate(QStringLiteral("1+1"), r);
  EXPECT_EQ(r.intResult, 2);
  EXPECT_FALSE(calc.Prepared());
}

TEST(ReportFunctionLibrary, DescribesItsFunctions) {
  const br::TBRFunctionLibrary& lib = br::FunctionLibrary();
  EXPECT_EQ(lib.Entries().size(), 21u);
  const br::TBRLibraryEntry* div = lib.Find(QStringLiteral("DIV"));
  ASSERT_NE(div, nullptr);
  EXPECT_EQ(div->Description, QStringLiteral("DIV(<X>, <Y>) | Integer division of <X> by <Y>"));
  EXPECT_EQ(div->Data, QStringLiteral("2NN"));
  EXPECT_EQ(lib.Find(QStringLiteral("IF"))->Description,
            QStringLiteral("IF(<Exp>, <X>, <Y>)|Returns <X> or <Y> depending on the boolean expression <Exp>"));
}

TEST(ReportNumberFormat, MasksAndMoney) {
  br::TBRFormatSettings hu;
  hu.DecimalSeparator = u',';
  hu.ThousandSeparator = u' ';
  hu.CurrencyString = QStringLiteral("Ft");
  hu.CurrencyAfter = true;
  const struct {
    const char* Mask;
    double Value;
    const char* Shown;
  } cases[] = {
      {"#,##0.00", 1234567.891, "1 234 567,89"},
      {"0.0", -2.26, "-2,3"},
      {"#", 0, ""},
      {"0;(0);'zero'", -5, "(5)"},
      {"0;(0);'zero'", 0, "zero"},
      {"'N='0", 42, "N=42"},
      {"0.00E+00", 12345, "1,23E+04"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Mask);
    QString text;
    ASSERT_TRUE(br::FormatFloat(QString::fromUtf8(c.Mask), c.Value, hu, text));
    EXPECT_EQ(text.toStdString(), c.Shown);
  }
  EXPECT_EQ(br::FormatMoney(-1234.5, hu).toStdString(), "-1 234,50 Ft");
  EXPECT_EQ(br::FloatToStr(0.1 + 0.2, hu).toStdString(), "0,3");
}

}  // namespace

namespace {

// Random texts of the language's pieces, well formed or not: preparing and evaluating each
// ends with a value (errors are values), in normal and in aggregate mode.
TEST(ReportExpression, RandomTextsAlwaysGiveAValue) {
  const char* env = std::getenv("VIDORA_SEED");
  const unsigned seed = env ? static_cast<unsigned>(std::strtoul(env, nullptr, 10)) : std::random_device{}();
  std::printf("VIDORA_SEED=%u\n", seed);
  std::mt19937 random(seed);
  const char* pieces[] = {"1", "23", "4.5", "1E3", "'a'", "'", "(", ")", "[", "]", "[N]", "+", "-", "*", "/", "=", "<", ">",
                          "<>", "<=", ">=", " or ", " and ", "not ", ",", " ", "IF(", "SUM(", "COUNT", "COPY(", "DIV(",
                          "TYPEOF(", "STR(", "PRETTY(", "N", "Notes", "X", "TRUE", "FALSE", "MAX(", "FORMATNUMERIC('0',"};
  tk::TMemDataSet data;
  data.Columns().Add(u"N", tk::TFieldType::dtInteger);
  data.AppendRow({std::int64_t{3}});
  data.Open();
  br::TBREvEnvironment environment;
  environment.AddFunction(QStringLiteral("X"), QStringLiteral("X + N"));
  environment.SetDatasets({{QStringLiteral("T"), &data}});
  environment.Prepare();
  br::TBREvaluator ev;
  ev.SetDataSets({{QStringLiteral("T"), &data}});
  ev.SetEnvironment(&environment);
  for (int step = 0; step < 3000; ++step) {
    std::string text;
    for (int n = static_cast<int>(random() % 12); n > 0; --n) text += pieces[random() % std::size(pieces)];
    SCOPED_TRACE(text);
    ev.Prepare(QString::fromStdString(text));
    TBREvResult r;
    ASSERT_NO_THROW(ev.Value(r));
    ASSERT_NO_THROW(ev.DoAggregate());
  }
  environment.Unprepare();
  // Very deep texts are refused as values, not by running out of stack.
  const TBREvResult deep = Evaluate(QString(5000, u'(') + QStringLiteral("1") + QString(5000, u')'));
  EXPECT_EQ(Show(deep), "Expression too complex");
  QString sum = QStringLiteral("1");
  for (int i = 0; i < 20000; ++i) sum += QStringLiteral("+1");
  EXPECT_EQ(Show(Evaluate(sum)), "Expression too complex");
  QString shortSum = QStringLiteral("1");
  for (int i = 0; i < 300; ++i) shortSum += QStringLiteral("+1");
  EXPECT_EQ(Show(Evaluate(shortSum)), "301");
}

}  // namespace
