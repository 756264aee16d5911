// LIKE matching of string values: jokers, escapes, collation of literal runs.
#include <gtest/gtest.h>

#include "types/VdbData.h"

using namespace vdb;

namespace {

struct LikeCase {
  std::u16string Value, Pattern;
  bool Expected;
};

bool Like(const TVdbStringType& type, std::u16string_view value, std::u16string_view pattern,
          char16_t multi = u'%', char16_t single = u'_', char16_t escape = u'\\') {
  const auto* patternType = TVdbDataType::GetStringType(vctWideString, true, 200, u"", 0);
  TVdbDataValue v, p;
  type.SetWideString(v, value);
  patternType->SetWideString(p, pattern);
  return type.Matches(v, p, *patternType, multi, single, escape);
}

const TVdbStringType& Str(TVdbColumnType code, std::u16string_view collation) {
  return static_cast<const TVdbStringType&>(*TVdbDataType::GetStringType(code, true, 100, collation, 6));
}

}  // namespace

TEST(VdbLike, JokersAndEscapesUnderEachStringKind) {
  const LikeCase cases[] = {
      {u"Budapest", u"Buda%", true},
      {u"Budapest", u"%pest", true},
      {u"Budapest", u"%dap%", true},
      {u"Budapest", u"B_dapest", true},
      {u"Budapest", u"B_pest", false},
      {u"Budapest", u"Budapest_", false},
      {u"Budapest", u"%", true},
      {u"", u"%", true},
      {u"", u"", true},
      {u"a", u"", false},
      {u"", u"_", false},
      {u"Budapest", u"budapest", true},  // case-insensitive collations
      {u"Budapest", u"Bud", false},
      {u"Budapest", u"%%%t", true},
      {u"Budapest", u"%a%a%", false},
      {u"Budapesta", u"%a%a%", true},
      {u"100%", u"100\\%", true},
      {u"1000", u"100\\%", false},
      {u"a_b", u"a\\_b", true},
      {u"axb", u"a\\_b", false},
      {u"a\\b", u"a\\\\b", true},
      {u"ab\\", u"ab\\", true},  // a trailing escape stands for itself
      {u"abcabcabd", u"%abd", true},
      {u"mississippi", u"%iss%ipp%", true},
      {u"mississippi", u"m%s_s%i", true},
  };
  for (const auto* collation : {u"", u"Hungarian"}) {
    for (TVdbColumnType code : {vctString, vctWideString}) {
      const auto& t = Str(code, collation);
      for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << code << ", collation '" << (collation[0] ? "Hungarian" : "")
                                        << "', case " << (&c - cases));
        EXPECT_EQ(Like(t, c.Value, c.Pattern), c.Expected);
      }
    }
  }
}

TEST(VdbLike, LiteralRunsCompareUnderTheCollation) {
  const auto& builtIn = Str(vctString, u"");
  const auto& hu = Str(vctString, u"Hungarian");
  const auto& huAi = Str(vctString, u"Hungarian_AI");
  const struct {
    const TVdbStringType* Type;
    LikeCase Case;
  } cases[] = {
      {&builtIn, {u"Müller", u"Mu%", false}},     // accent-sensitive by default
      {&builtIn, {u"Müller", u"mü%", true}},
      {&builtIn, {u"Straße", u"Stra_e", true}},   // ß stays one character
      {&builtIn, {u"Straße", u"Strasse", false}},
      {&hu, {u"Csákvár", u"Cs%", true}},
      {&hu, {u"Csákvár", u"csákv_r", true}},
      {&hu, {u"Őriszentpéter", u"%péter", true}},
      {&hu, {u"Őriszentpéter", u"%peter", false}},
      {&huAi, {u"Őriszentpéter", u"%peter", true}},
      {&huAi, {u"Őriszentpéter", u"o%", false}},  // ő is not an accented o in Hungarian
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
    EXPECT_EQ(Like(*c.Type, c.Case.Value, c.Case.Pattern), c.Case.Expected);
  }
}

TEST(VdbLike, CallerChoosesJokersAndEscape) {
  const auto& t = Str(vctString, u"");
  EXPECT_TRUE(Like(t, u"Budapest", u"B?da*", u'*', u'?', u'!'));
  EXPECT_FALSE(Like(t, u"Buda%", u"Buda%x", u'*', u'?', u'!'));
  EXPECT_TRUE(Like(t, u"Buda*", u"Buda!*", u'*', u'?', u'!'));
  EXPECT_TRUE(Like(t, u"a\\b", u"a\\b", u'%', u'_', 0));  // no escape character
}

TEST(VdbLike, NullNeverMatches) {
  const auto& t = Str(vctString, u"");
  const auto* patternType = TVdbDataType::GetStringType(vctString, true, 10, u"", 0);
  TVdbDataValue v, p;
  t.SetNull(v);
  patternType->SetWideString(p, u"%");
  EXPECT_FALSE(t.Matches(v, p, *patternType, u'%', u'_', u'\\'));
  t.SetWideString(v, u"x");
  patternType->SetNull(p);
  EXPECT_FALSE(t.Matches(v, p, *patternType, u'%', u'_', u'\\'));
}

// How fast this stays is measured in bench/LikeBench.cpp.
TEST(VdbLike, ManyJokersBeforeAMissingOrFinalCharacter) {
  const auto& t = Str(vctWideString, u"");
  const std::u16string value(90, u'a');
  EXPECT_FALSE(Like(t, value, u"%a%a%a%a%a%a%a%a%a%a%b"));
  EXPECT_TRUE(Like(t, value + u"b", u"%a%a%a%a%a%a%a%a%a%a%b"));
}
