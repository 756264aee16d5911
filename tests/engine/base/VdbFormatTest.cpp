#include "base/VdbFormat.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>

namespace vdb {
namespace {

struct FormatCase {
  const char* Name;
  std::u16string_view Pattern;
  TVdbFmtArgs Args;
  std::optional<std::u16string> Expected;  // none: the formatter must refuse
};

std::string Show(const std::optional<std::u16string>& s) {
  return s ? "\"" + VdbUtf16ToUtf8(*s) + "\"" : std::string("(no result)");
}

void ExpectCases(const std::vector<FormatCase>& cases) {
  for (const FormatCase& c : cases) {
    const std::optional<std::u16string> got = VdbFormat(c.Pattern, c.Args);
    EXPECT_EQ(got, c.Expected) << c.Name << ": got " << Show(got) << ", want " << Show(c.Expected);
  }
}

TEST(VdbFormatTest, FillsPlaceholders) {
  ExpectCases({
      {"text", u"Table \"%s\" not found", {u"Irsz"}, u"Table \"Irsz\" not found"},
      {"no placeholder", u"Record not found", {}, u"Record not found"},
      {"empty template", u"", {}, u""},
      {"number", u"%d", {42}, u"42"},
      {"negative number", u"%d", {-7}, u"-7"},
      {"smallest int64", u"%d", {std::numeric_limits<std::int64_t>::min()},
       u"-9223372036854775808"},
      {"bool as number", u"%d", {true}, u"1"},
      {"two digits", u"%.2d", {5}, u"05"},
      {"two digits, wider number", u"%.2d", {123}, u"123"},
      {"two digits, negative", u"%.2d", {-5}, u"-05"},
      {"three digits", u"tmp%.3d", {7}, u"tmp007"},
      {"log file name", u"VdbLog%d_%.2d.txt", {12345, 3}, u"VdbLog12345_03.txt"},
      {"hex upper case", u"%x", {255}, u"FF"},
      {"hex with digits", u"%.4x", {255}, u"00FF"},
      {"hex of negative", u"%x", {-1}, u"FFFFFFFFFFFFFFFF"},
      {"float, two decimals by default", u"%f MHz", {1.5}, u"1.50 MHz"},
      {"float, given decimals", u"%.3f", {2.0}, u"2.000"},
      {"float, no decimals", u"%.0f", {42.0}, u"42"},
      {"per cent", u"%d %%", {42}, u"42 %"},
      {"per cent without arguments", u"100%%", {}, u"100%"},
      {"right aligned", u"[%5d]", {42}, u"[   42]"},
      {"left aligned", u"[%-6s]", {u"ab"}, u"[ab    ]"},
      {"width smaller than text", u"[%2s]", {u"abcd"}, u"[abcd]"},
      {"text cut by precision", u"%.3s", {u"abcdef"}, u"abc"},
      {"upper-case letters", u"%S=%D", {u"a", 1}, u"a=1"},
      {"three numbers",
       u"String type has a length of %d, which is outside the allowed range of %d to %d",
       {40000, 1, 32764},
       u"String type has a length of 40000, which is outside the allowed range of 1 to 32764"},
      {"order of arguments", u"\"%s\" expected but \"%s\" found", {u"end", u"Xor"},
       u"\"end\" expected but \"Xor\" found"},
      {"placeholder-like text in argument", u"%s|%d", {u"%d", 5}, u"%d|5"},
  });
}

TEST(VdbFormatTest, IgnoresSurplusArguments) {
  ExpectCases({
      {"detail without placeholder", u"Record not found", {u"Irsz"}, u"Record not found"},
      {"one placeholder, two arguments", u"%s", {u"a", 5}, u"a"},
      {"surplus of the wrong kind", u"%d", {1, u"x", 2.5}, u"1"},
  });
}

TEST(VdbFormatTest, RefusesArgumentsThatDoNotFit) {
  ExpectCases({
      {"no arguments", u"Table \"%s\" not found", {}, std::nullopt},
      {"too few", u"%s and %s", {u"a"}, std::nullopt},
      {"three numbers, one text", u"length %d, range %d to %d", {u"abc"}, std::nullopt},
      {"text for %d", u"%d", {u"12"}, std::nullopt},
      {"text for %x", u"%x", {u"FF"}, std::nullopt},
      {"number for %s", u"%s", {12}, std::nullopt},
      {"float for %s", u"%s", {1.5}, std::nullopt},
      {"float for %d", u"%d", {1.5}, std::nullopt},
      {"whole number for %f", u"%f", {2}, std::nullopt},
      {"second argument wrong", u"%s %d", {u"a", u"b"}, std::nullopt},
  });
}

TEST(VdbFormatTest, RefusesMalformedTemplates) {
  ExpectCases({
      {"lone per cent at end", u"50%", {}, std::nullopt},
      {"lone per cent at end with argument", u"50%", {1}, std::nullopt},
      {"unknown letter", u"%q", {1}, std::nullopt},
      {"width without letter", u"%5", {1}, std::nullopt},
      {"argument index form", u"%0:s", {u"a"}, std::nullopt},
      {"huge precision", u"%.5000d", {1}, std::nullopt},
      {"huge width", u"%99999999999999999999s", {u"a"}, std::nullopt},
  });
}

TEST(VdbFormatTest, NeverCutsSurrogatePairs) {
  const std::u16string face = u"\U0001F600";  // two code units
  ExpectCases({
      {"cut before the pair", u"%.1s", {face + u"x"}, u""},
      {"pair kept whole", u"%.2s", {face + u"x"}, face},
  });
}

TEST(VdbFormatTest, EightBitArgumentsAreUtf8) {
  struct Case {
    std::string_view Utf8;
    std::u16string Expected;
  };
  const Case cases[] = {
      {"Irsz", u"Irsz"},
      {"Gy\xC5\x91r", u"Győr"},
      {"\xF0\x9F\x98\x80", u"\U0001F600"},
      {"a\xFF" "b", u"a\uFFFD" u"b"},             // byte that never starts a sequence
      {"a\xC5", u"a\uFFFD"},                     // truncated sequence at the end
      {"\xC5" "b", u"\uFFFD" u"b"},              // lead byte without continuation
      {"\xC0\xAF", u"\uFFFD\uFFFD"},             // overlong form is not accepted
      {"\xED\xA0\x80", u"\uFFFD"},               // encoded surrogate
  };
  for (const Case& c : cases) {
    const TVdbFmtArg arg{c.Utf8};
    EXPECT_EQ(std::get<std::u16string>(arg.value()), c.Expected) << c.Utf8;
  }
}

TEST(VdbFormatTest, Utf16ToUtf8) {
  EXPECT_EQ(VdbUtf16ToUtf8(u"Ungültige"), "Ung\xC3\xBCltige");
  EXPECT_EQ(VdbUtf16ToUtf8(u"\U0001F600"), "\xF0\x9F\x98\x80");
  const std::u16string lone(1, static_cast<char16_t>(0xD800));
  EXPECT_EQ(VdbUtf16ToUtf8(lone + u"a"), "\xEF\xBF\xBD" "a");
}

}  // namespace
}  // namespace vdb
