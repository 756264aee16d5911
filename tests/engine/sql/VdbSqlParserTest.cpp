// The condition and expression syntax: precedence, comments, quoted names, typed and local
// number literals, lists, rendering that reads back into an equal tree, and the error
// messages with their row and column.
#include <gtest/gtest.h>

#include "base/VdbErrorCodes.h"
#include "base/VdbFormat.h"
#include "sql/VdbSqlParser.h"

namespace vdb {
namespace {

std::unique_ptr<TVdbSearchCondition> Parse(std::u16string_view text, bool local = false, char16_t decimal = u',') {
  TSqlParser p;
  TvuFormats f;
  f.DecimalSeparator = decimal;
  p.SetAllowLocalFormats(local, f);
  p.SetStatementText(std::u16string(text));
  p.InitParsing();
  auto c = p.ParseCondition();
  p.ParseEnd();
  return c;
}

struct TParseError {
  std::int16_t Code = 0;
  std::u16string Message, Line;
  std::int32_t Row = 0, Column = 0;
};

TParseError ParseError(std::u16string_view text, bool local = false) {
  try {
    Parse(text, local);
  } catch (const ESqlParser& e) {
    return {e.Code(), e.Message(), e.Line(), e.LineNo(), e.CharNo()};
  }
  ADD_FAILURE() << "no error for " << VdbUtf16ToUtf8(text);
  return {};
}

std::string U8(const std::u16string& s) { return VdbUtf16ToUtf8(s); }

TEST(SqlParserTest, AndBindsTighterThanOrAndKeywordsMatchInAnyCase) {
  auto c = Parse(u"IRSZ > '2000' And TELEP = 'Budapest' or NEPESS >= 1000");
  ASSERT_EQ(c->Terms.size(), 2u);
  EXPECT_EQ(c->Terms[0]->Factors.size(), 2u);
  EXPECT_EQ(c->Terms[1]->Factors.size(), 1u);
  EXPECT_EQ(c->SqlText(), u"[IRSZ] > '2000' AND [TELEP] = 'Budapest' OR [NEPESS] >= 1000");
}

TEST(SqlParserTest, RenderedTextReadsBackIntoAnEqualTree) {
  const char16_t* texts[] = {
      u"a - b - c > 0",
      u"a / b * c = 5 AND NOT (x = 1 OR y IS NOT NULL)",
      u"x BETWEEN 5 AND 1",
      u"x NOT IN (1, NULL, -3) OR s LIKE 'a!%%' ESCAPE '!'",
      u"s = 'It''s' AND [Lakó népesség] > 10 AND \"Lakó népesség\" < 20",
      u"d = DATE'2013-12-24' OR d = 24.12.2013 OR t = 18:30 OR ts = 24.12.2013_18:30:00",
      u"f = 1E3 OR f = 2.5 OR i = 2000 OR b = TRUE OR b = FALSE",
      u"(a + b) * -c <> CASE WHEN a = 1 THEN 'x' ELSE 'y' END",
      u"CASE a WHEN 1 THEN 2 WHEN 3 THEN 4 END = 2",
      u"s HAS 'ab' AND Irsz.TELEP = 'x' AND UPPER(s) = 'A' AND s || 'x' = 'yx'",
      u"a = -5 AND a = +5 AND a DIV 2 = a MOD 3",
  };
  for (const char16_t* text : texts) {
    SCOPED_TRACE(U8(text));
    auto c = Parse(text);
    const std::u16string rendered = c->SqlText();
    auto again = Parse(rendered);
    EXPECT_TRUE(c->IsSyntacticallyEqual(*again)) << U8(rendered);
    EXPECT_TRUE(c->CreateCopy()->IsSyntacticallyEqual(*c));
    EXPECT_FALSE(c->EasyText().empty());
  }
}

TEST(SqlParserTest, ChainsKeepSourceOrderSoEqualPrecedenceAssociatesLeft) {
  auto c = Parse(u"a - b - c = 5");
  const TVdbExpression& e = *c->Terms[0]->Factors[0]->ExpressionLeft;
  ASSERT_EQ(e.Terms.size(), 3u);
  EXPECT_EQ(e.Operators, (std::vector<TVdbDataBinaryOperator>{dboMinus, dboMinus}));
  EXPECT_EQ(e.SqlText(), u"[a] - [b] - [c]");
  // The minus belongs to names: NEPESS-1 is one identifier.
  auto d = Parse(u"NEPESS-1 > 0");
  EXPECT_EQ(d->Terms[0]->Factors[0]->ExpressionLeft->SqlText(), u"[NEPESS-1]");
}

TEST(SqlParserTest, CommentsAreSkipped) {
  auto c = Parse(u"-- first line\nIRSZ > 1 // to the end\n/* spans\n lines */ AND TELEP = 'x' --");
  EXPECT_EQ(c->SqlText(), u"[IRSZ] > 1 AND [TELEP] = 'x'");
}

TEST(SqlParserTest, ParenthesisOpensAnExpressionWhenNoConditionFollows) {
  auto c = Parse(u"(A + B) > 3");
  ASSERT_EQ(c->Terms[0]->Factors.size(), 1u);
  EXPECT_FALSE(c->Terms[0]->Factors[0]->SearchCondition);
  EXPECT_EQ(c->SqlText(), u"([A] + [B]) > 3");
  auto d = Parse(u"(A > 3)");
  EXPECT_TRUE(d->Terms[0]->Factors[0]->SearchCondition);
}

TEST(SqlParserTest, NumberLiteralsByTheirForm) {
  struct TCase {
    const char16_t* Text;
    TVdbSimpleFactor::TLiteralKind Kind;
    const char16_t* LiteralText;
  };
  const TCase cases[] = {
      {u"x = 2000", TVdbSimpleFactor::lkInteger, u"2000"},
      {u"x = 9223372036854775807", TVdbSimpleFactor::lkInteger, u"9223372036854775807"},
      {u"x = 9223372036854775808", TVdbSimpleFactor::lkFloat, u"9223372036854775808"},
      {u"x = 1E3", TVdbSimpleFactor::lkFloat, u"1E3"},
      {u"x = 2.5", TVdbSimpleFactor::lkFloat, u"2.5"},
      {u"x = 24.12.2013", TVdbSimpleFactor::lkDate, u"24.12.2013"},
      {u"x = 18:30", TVdbSimpleFactor::lkTime, u"18:30"},
      {u"x = 24.12.2013_18:30:00", TVdbSimpleFactor::lkTimeStamp, u"24.12.2013_18:30:00"},
      {u"x = TIMESTAMP'2013-12-24 18:30'", TVdbSimpleFactor::lkTimeStamp, u"2013-12-24 18:30"},
      {u"x = 'Zoé'", TVdbSimpleFactor::lkString, u"Zoé"},
      {u"x = 'Győr'", TVdbSimpleFactor::lkWideString, u"Győr"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(U8(c.Text));
    auto cond = Parse(c.Text);
    auto* f = dynamic_cast<TVdbSimpleFactor*>(cond->Terms[0]->Factors[0]->ExpressionRight->SingleFactor());
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->LiteralKind(), c.Kind);
    EXPECT_EQ(f->ColumnNameOrLiteral(), c.LiteralText);
  }
}

// With the user's decimal comma, 3,5 is three and a half; inside a list the comma always
// separates items, with or without a blank after it.
TEST(SqlParserTest, DecimalCommaOutsideListsOnly) {
  auto one = Parse(u"x = 3,5", true);
  EXPECT_EQ(one->SqlText(), u"[x] = 3.5");
  for (const char16_t* text : {u"x IN (1,5)", u"x IN (1, 5)", u"x IN (1 ,5)"}) {
    SCOPED_TRACE(U8(text));
    auto list = Parse(text, true);
    ASSERT_EQ(list->Terms[0]->Factors[0]->ValueSet.size(), 2u);
    EXPECT_EQ(list->SqlText(), u"[x] IN (1, 5)");
  }
  auto period = Parse(u"x IN (1.5, 2,5)", true);
  EXPECT_EQ(period->SqlText(), u"[x] IN (1.5, 2, 5)");
  // A parenthesised expression inside a list is no list of its own.
  auto nested = Parse(u"x IN ((3,5), 1)", true);
  EXPECT_EQ(nested->SqlText(), u"[x] IN ((3.5), 1)");
  // Without local formats the comma is never part of a number.
  EXPECT_EQ(ParseError(u"x = 3,5").Code, errUnexpectedToken);
}

TEST(SqlParserTest, ErrorsCarryTheMessageRowColumnAndLine) {
  struct TCase {
    const char16_t* Text;
    std::int16_t Code;
    const char16_t* Message;
    std::int32_t Row, Column;
  };
  const TCase cases[] = {
      {u"IRSZ > '2000' Xor TELEP = 'x'", errUnexpectedToken, u"\"<end of statement>\" expected but \"Xor\" found", 1, 15},
      {u"IRSZ > '2000' And", errUnexpectedToken, u"\"<identifier>\" expected but \"<end of statement>\" found", 1, 18},
      {u"IRSZ", errUnexpectedToken, u"\"=\" expected but \"<end of statement>\" found", 1, 5},
      {u"s LIKE 'a%' ESCAPE 'xy'", errSyntaxError, u"Syntax error in expression \"xy\"", 1, 20},
      {u"x = 1.2.3.4", errExpressionIncomplete, u"Expression not complete", 1, 5},
      {u"x = 31.02.2013", errInvalidTimestamp, u"\"31.02.2013\" is not a valid timestamp", 1, 5},
      {u"x = 12abc", errCharacterNotAllowed, u"The character \"a\" is not allowed here", 1, 7},
      {u"x = #", errCharacterNotAllowed, u"The character \"#\" is not allowed here", 1, 5},
      {u"x = 'open", errUnexpectedToken, u"\"'\" expected but \"<end of statement>\" found", 1, 10},
      {u"x = [open", errUnexpectedToken, u"\"]\" expected but \"<end of statement>\" found", 1, 10},
      {u"x = ?", errCharacterNotAllowed, u"The character \"?\" is not allowed here", 1, 5},
      {u"x | y", errUnexpectedToken, u"\"|\" expected but \" \" found", 1, 4},
      {u"x = DATE 5", errUnexpectedToken, u"\"<string>\" expected but \"5\" found", 1, 10},
      {u"x = 1 AND\n  y = 2 AND\n  z =  = 3", errUnexpectedToken, u"\"<identifier>\" expected but \"=\" found", 3, 8},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(U8(c.Text));
    const TParseError e = ParseError(c.Text);
    EXPECT_EQ(e.Code, c.Code);
    EXPECT_EQ(U8(e.Message), U8(c.Message));
    EXPECT_EQ(e.Row, c.Row);
    EXPECT_EQ(e.Column, c.Column);
  }
  EXPECT_EQ(ParseError(u"x = 1 AND\n  y = 2 AND\r\n  z =  = 3").Line, u"  z =  = 3");
  EXPECT_EQ(ParseError(u"x = 1 AND\n  y = = 2\n").Line, u"  y = = 2");
}

}  // namespace
}  // namespace vdb
