// Preparing and evaluating conditions over a few typed columns: three-valued logic, IN with
// NULL, LIKE on NULL, BETWEEN with exchanged bounds, arithmetic order, literals typed from the
// opposite column, jokers, the null-safe equality the optimiser makes, and the errors.
#include <gtest/gtest.h>

#include <map>

#include "base/VdbErrorCodes.h"
#include "base/VdbErrors.h"
#include "base/VdbFormat.h"
#include "sql/VdbCondition.h"
#include "types/VdbCommon.h"

namespace vdb {
namespace {

// Columns held as values: I (integer), J, K (integers), S and T (strings), F (float).
class TValues final : public IVdbColumnSource {
 public:
  TValues() {
    Add(u"I", TVdbDataType::GetDataType(vctInteger, true, 6));
    Add(u"J", TVdbDataType::GetDataType(vctInteger, true, 6));
    Add(u"K", TVdbDataType::GetDataType(vctInteger, true, 6));
    Add(u"S", TVdbDataType::GetStringType(vctString, true, 40, u"", 6));
    Add(u"T", TVdbDataType::GetStringType(vctString, true, 40, u"", 6));
    Add(u"F", TVdbDataType::GetDataType(vctFloat, true, 6));
  }
  bool FindColumn(std::u16string_view name, int& rltnPos, int& fieldNo, const TVdbDataType*& type) const override {
    for (std::size_t i = 0; i < FNames.size(); ++i) {
      if (VdbSameName(FNames[i], name)) {
        rltnPos = 0;
        fieldNo = static_cast<int>(i);
        type = FTypes[i];
        return true;
      }
    }
    return false;
  }
  void ColumnValue(int, int fieldNo, TVdbDataValue& value) override { value = FValues[static_cast<std::size_t>(fieldNo)]; }

  // "null" or a text in the column's invariant form.
  void Set(std::u16string_view name, std::u16string_view text) {
    int pos, no;
    const TVdbDataType* type;
    ASSERT_TRUE(FindColumn(name, pos, no, type));
    TVdbDataValue& v = FValues[static_cast<std::size_t>(no)];
    v.Clear();
    type->InitValue(v);
    if (text == u"null") type->SetNull(v);
    else type->ConvertFromString(v, text, TvuFormats::Invariant());
  }

 private:
  void Add(std::u16string name, const TVdbDataType* type) {
    FNames.push_back(std::move(name));
    FTypes.push_back(type);
    FValues.emplace_back();
  }
  std::vector<std::u16string> FNames;
  std::vector<const TVdbDataType*> FTypes;
  std::vector<TVdbDataValue> FValues;
};

std::unique_ptr<TVdbSearchCondition> Prepared(TValues& values, std::u16string_view text,
                                              TVdbPrepareOptions options = 0) {
  auto c = VdbParseSqlCondition(text, (options & tpoLocalFormats) != 0, TvuFormats::Invariant());
  TVdbPrepareContext ctx{&values, options, TvuFormats::Invariant()};
  c->Prepare(ctx);
  return c;
}

const char* TruthName(TVdbTruth t) { return t == vtTrue ? "TRUE" : t == vtFalse ? "FALSE" : "UNKNOWN"; }

struct TCase {
  const char16_t* Text;
  std::vector<std::pair<const char16_t*, const char16_t*>> Values;
  TVdbTruth Expected;
};

void RunCases(const std::vector<TCase>& cases, TVdbPrepareOptions options = 0) {
  for (const auto& c : cases) {
    TValues v;
    for (const auto& [name, text] : c.Values) v.Set(name, text);
    SCOPED_TRACE(VdbUtf16ToUtf8(c.Text));
    auto cond = Prepared(v, c.Text, options);
    EXPECT_STREQ(TruthName(cond->Evaluate()), TruthName(c.Expected));
  }
}

TEST(ExpressionTest, ThreeValuedLogic) {
  RunCases({
      {u"I = NULL", {{u"I", u"null"}}, vtUnknown},
      {u"I = NULL", {{u"I", u"1"}}, vtUnknown},
      {u"I IS NULL", {{u"I", u"null"}}, vtTrue},
      {u"I IS NOT NULL", {{u"I", u"null"}}, vtFalse},
      {u"NOT (I = 1)", {{u"I", u"null"}}, vtUnknown},
      {u"NOT I = 1", {{u"I", u"2"}}, vtTrue},
      {u"I = 1 OR J = 2", {{u"I", u"null"}, {u"J", u"2"}}, vtTrue},
      {u"I = 1 OR J = 2", {{u"I", u"null"}, {u"J", u"3"}}, vtUnknown},
      {u"I = 1 AND J = 2", {{u"I", u"null"}, {u"J", u"3"}}, vtFalse},
      {u"I = 1 AND J = 2", {{u"I", u"null"}, {u"J", u"2"}}, vtUnknown},
      {u"I = 1 AND J = 2", {{u"I", u"1"}, {u"J", u"2"}}, vtTrue},
      {u"S <> ''", {{u"S", u"null"}}, vtUnknown},
      {u"S <> ''", {{u"S", u"x"}}, vtTrue},
      {u"I IN (1, NULL)", {{u"I", u"1"}}, vtTrue},
      {u"I IN (1, NULL)", {{u"I", u"2"}}, vtUnknown},
      {u"I IN (NULL, 1)", {{u"I", u"2"}}, vtUnknown},
      {u"I NOT IN (NULL, 1)", {{u"I", u"2"}}, vtUnknown},
      {u"I NOT IN (1, 3)", {{u"I", u"2"}}, vtTrue},
      {u"I IN (1, 3)", {{u"I", u"null"}}, vtUnknown},
      {u"S LIKE 'A%'", {{u"S", u"null"}}, vtFalse},
      {u"S NOT LIKE 'A%'", {{u"S", u"null"}}, vtTrue},
      {u"S LIKE 'a%'", {{u"S", u"Abc"}}, vtTrue},
      {u"S LIKE '_b_'", {{u"S", u"abc"}}, vtTrue},
      {u"S LIKE 'a!%' ESCAPE '!'", {{u"S", u"a%"}}, vtTrue},
      {u"S LIKE 'a!%' ESCAPE '!'", {{u"S", u"ab"}}, vtFalse},
      {u"S HAS 'ud'", {{u"S", u"Budapest"}}, vtTrue},
      {u"I BETWEEN 5 AND 1", {{u"I", u"3"}}, vtFalse},
      {u"I BETWEEN 1 AND 5", {{u"I", u"5"}}, vtTrue},
      {u"I BETWEEN 1 AND 5", {{u"I", u"null"}}, vtUnknown},
      {u"I NOT BETWEEN 1 AND 5", {{u"I", u"7"}}, vtTrue},
      // An unknown bound decides only when the other comparison holds.
      {u"I BETWEEN 5 AND NULL", {{u"I", u"3"}}, vtFalse},
      {u"I NOT BETWEEN 5 AND NULL", {{u"I", u"3"}}, vtTrue},
      {u"I BETWEEN NULL AND 5", {{u"I", u"3"}}, vtUnknown},
      {u"I BETWEEN NULL AND 5", {{u"I", u"7"}}, vtFalse},
  });
}

TEST(ExpressionTest, ArithmeticAssociatesLeftAndBindsTighterThanComparison) {
  RunCases({
      {u"I - J - K = 5", {{u"I", u"10"}, {u"J", u"3"}, {u"K", u"2"}}, vtTrue},
      {u"I / J / K = 5", {{u"I", u"100"}, {u"J", u"10"}, {u"K", u"2"}}, vtTrue},
      {u"I - J + K = 9", {{u"I", u"10"}, {u"J", u"3"}, {u"K", u"2"}}, vtTrue},
      {u"I + J * K = 16", {{u"I", u"10"}, {u"J", u"3"}, {u"K", u"2"}}, vtTrue},
      {u"(I + J) * K = 26", {{u"I", u"10"}, {u"J", u"3"}, {u"K", u"2"}}, vtTrue},
      {u"-I + J = -7", {{u"I", u"10"}, {u"J", u"3"}}, vtTrue},
      {u"I MOD J = 1 AND I DIV J = 3", {{u"I", u"10"}, {u"J", u"3"}}, vtTrue},
      {u"I + J = 5", {{u"I", u"null"}, {u"J", u"3"}}, vtUnknown},
      {u"S || T = 'ab'", {{u"S", u"a"}, {u"T", u"b"}}, vtTrue},
      {u"CASE WHEN I = 1 THEN 'one' ELSE 'other' END = 'one'", {{u"I", u"1"}}, vtTrue},
      {u"CASE I WHEN 1 THEN 10 WHEN 2 THEN 20 END = 20", {{u"I", u"2"}}, vtTrue},
      {u"CASE WHEN I = 1 THEN 10 END IS NULL", {{u"I", u"2"}}, vtTrue},
  });
}

TEST(ExpressionTest, LiteralsTakeTheTypeOfTheOppositeColumn) {
  RunCases({
      // Text columns compare text, numeric columns numbers.
      {u"S > '2000'", {{u"S", u"300"}}, vtTrue},
      {u"S > 2000", {{u"S", u"300"}}, vtTrue},
      {u"I > '2000'", {{u"I", u"300"}}, vtFalse},
      {u"I >= '1000'", {{u"I", u"1000"}}, vtTrue},
      {u"'1000' <= I", {{u"I", u"999"}}, vtFalse},
      // An empty text is null for a numeric column: unknown, never an error.
      {u"I = ''", {{u"I", u"0"}}, vtUnknown},
      {u"I = ''", {{u"I", u"null"}}, vtUnknown},
      {u"F = '2.5'", {{u"F", u"2.5"}}, vtTrue},
      {u"F > 2", {{u"F", u"2.5"}}, vtTrue},
  });
  TValues v;
  for (const char16_t* bad : {u"I = 'abc'", u"I = '1,5'"}) {
    try {
      Prepared(v, bad);
      ADD_FAILURE() << VdbUtf16ToUtf8(bad);
    } catch (const EVdbEngine& e) {
      EXPECT_EQ(e.Code(), errInvalidNumber) << VdbUtf16ToUtf8(e.Message());
    }
  }
  // The user's formats read a decimal comma in a quoted value of a float column.
  TValues w;
  w.Set(u"F", u"2.5");
  TvuFormats hu;
  hu.DecimalSeparator = u',';
  auto c = VdbParseSqlCondition(u"F = '2,5'", true, hu);
  TVdbPrepareContext ctx{&w, tpoLocalFormats, hu};
  c->Prepare(ctx);
  EXPECT_EQ(c->Evaluate(), vtTrue);
}

TEST(ExpressionTest, TrailingStarIsAPrefixMatchOnlyWithJokers) {
  const std::vector<TCase> withJokers = {
      {u"S = 'Buda*'", {{u"S", u"Budapest"}}, vtTrue},
      {u"S = 'Buda*'", {{u"S", u"Óbuda"}}, vtFalse},
      {u"S = '*pest'", {{u"S", u"Budapest"}}, vtFalse},
      {u"S = '*pest'", {{u"S", u"*pest"}}, vtTrue},
  };
  RunCases(withJokers, tpoUseJokers);
  RunCases({{u"S = 'Buda*'", {{u"S", u"Budapest"}}, vtFalse}, {u"S = 'Buda*'", {{u"S", u"Buda*"}}, vtTrue}});
}

TEST(ExpressionTest, NullSafeEqualityFromTheOptimiser) {
  TValues v;
  auto c = Prepared(v, u"I = J OR (I IS NULL AND J IS NULL)");
  ASSERT_EQ(c->Terms.size(), 1u);
  ASSERT_EQ(c->Terms[0]->Factors.size(), 1u);
  EXPECT_EQ(c->Terms[0]->Factors[0]->ComparisonOperator, tcoEqualNull);
  const std::pair<const char16_t*, const char16_t*> rows[][2] = {
      {{u"I", u"null"}, {u"J", u"null"}}, {{u"I", u"1"}, {u"J", u"null"}}, {{u"I", u"1"}, {u"J", u"1"}},
      {{u"I", u"1"}, {u"J", u"2"}}};
  const TVdbTruth expected[] = {vtTrue, vtFalse, vtTrue, vtFalse};
  for (std::size_t i = 0; i < 4; ++i) {
    v.Set(rows[i][0].first, rows[i][0].second);
    v.Set(rows[i][1].first, rows[i][1].second);
    EXPECT_EQ(c->Evaluate(), expected[i]) << i;
  }
  // Its text reads back into the same condition once optimised again.
  auto again = VdbParseSqlCondition(c->SqlText(), false, TvuFormats::Invariant());
  EXPECT_TRUE(again->IsSyntacticallyEqual(*c));
  // Redundant parentheses go; a negation moves onto the inner factor.
  auto p = VdbParseSqlCondition(u"((I = 1)) AND NOT (J = 2)", false, TvuFormats::Invariant());
  EXPECT_EQ(p->SqlText(), u"[I] = 1 AND NOT [J] = 2");
}

TEST(ExpressionTest, PrepareErrorsNameTheirCause) {
  struct TErr {
    const char16_t* Text;
    std::int16_t Code;
    const char16_t* Message;
  };
  const TErr cases[] = {
      {u"NOPE = 1", errUnknownIdentifier, u"Unknown identifier \"NOPE\""},
      {u"I = :P", errUnknownIdentifier, u"Unknown identifier \":P\""},
      {u"I LIKE 'a%'", errTypeMismatch, nullptr},
      {u"I + S = 1", errTypeMismatch, nullptr},
      {u"UPPER(I) = 'A'", errTypeMismatch, u"Type mismatch: UPPER"},
  };
  for (const auto& c : cases) {
    TValues v;
    try {
      Prepared(v, c.Text);
      ADD_FAILURE() << VdbUtf16ToUtf8(c.Text);
    } catch (const EVdbEngine& e) {
      EXPECT_EQ(e.Code(), c.Code) << VdbUtf16ToUtf8(c.Text) << ": " << VdbUtf16ToUtf8(e.Message());
      if (c.Message) EXPECT_EQ(e.Message(), c.Message);
    }
  }
}

TEST(ExpressionTest, ConditionObjectsByLanguage) {
  TValues v;
  v.Set(u"I", u"5");
  auto sql = VdbCreateCondition(tesVidoraSQL, u"I > 3");
  sql->Prepare(v, 0, TvuFormats::Invariant());
  EXPECT_TRUE(sql->Evaluate());
  auto empty = VdbCreateCondition(tesVidoraSQL, u"  ");
  empty->Prepare(v, 0, TvuFormats::Invariant());
  EXPECT_TRUE(empty->Evaluate()) << "an empty condition holds for every record";
  auto broken = VdbCreateCondition(tesVidoraSQL, u"I > 3 Xor I < 9");
  try {
    broken->Prepare(v, 0, TvuFormats::Invariant());
    ADD_FAILURE();
  } catch (const EVdbEngine& e) {
    EXPECT_EQ(e.Code(), errSyntaxError);
    EXPECT_EQ(e.Message(), u"\"<end of statement>\" expected but \"Xor\" found");
  }
  EXPECT_THROW(broken->Evaluate(), EVdbEngine) << "a text without a prepared tree is no TRUE";
  auto vpl = VdbCreateCondition(tesVidoraPL, u"I > 3");
  vpl->Prepare(v, 0, TvuFormats::Invariant());
  try {
    vpl->Evaluate();
    ADD_FAILURE() << "a VidoraPL condition must not pass silently";
  } catch (const EVdbEngine& e) {
    EXPECT_EQ(e.Code(), errNotSupported);
    EXPECT_NE(e.Message().find(u"VidoraPL"), std::u16string::npos);
  }
}

}  // namespace
}  // namespace vdb
