#include "base/VdbMessages.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <limits>
#include <set>
#include <string>

#include "base/VdbErrorCodes.h"

namespace vdb {
namespace {

TEST(VdbMessagesTest, EngineTextsAreWordForWord) {
  struct Case {
    std::int32_t Code;
    std::u16string_view Text;
  };
  // Texts that callers compare, and the ones whose spelling must survive as it is.
  const Case cases[] = {
      {1, u"Cannot open file \"%s\""},
      {19, u"Record not found"},
      {20, u"Module \"%s\" not found. (If this is a call to ExcecMacro, please replace it with a "
           u"direct call, since ExecMacro is not recommended. Read the online-help on ExecMacro)"},
      {52, u"Unknown error: %s"},
      {54, u"'=' missing"},
      {75, u"Expressions and statements must must not exceed 255 characters"},
      {88, u"Table \"%s\" not found"},
      {104, u"Table is locked by another session"},
      {123, u"Exception: %s"},
      {135, u"%s"},
      {150, u"The value list contains more items the the column list"},
      {174, u"The identifier \"%s\" is ambigous. Please prefix field names by the table and add a "
            u"dollar sign ($) to differentiate between fields and variables or procedures"},
      {181, u"The record ist not in edit mode (call NewRec or ModfiyRec)"},
      {189, u"String type has a length of %d, which is outside the allowed range of %d to %d"},
      {190, u"Ungültige Relationstabelle"},
  };
  for (const Case& c : cases) EXPECT_EQ(EngineMessageText(c.Code), c.Text) << c.Code;
}

TEST(VdbMessagesTest, CodesWithoutEntryHaveEmptyText) {
  const std::set<std::int32_t> withoutEntry = {15, 17, 21, 24, 27, 39,  40,
                                               62, 63, 96, 100, 131, 148, 163};
  int withText = 0;
  for (std::int32_t code = 1; code <= 190; ++code) {
    EXPECT_TRUE(IsEngineErrorCode(code)) << code;
    if (withoutEntry.count(code) != 0) {
      EXPECT_TRUE(EngineMessageText(code).empty()) << code;
    } else {
      EXPECT_FALSE(EngineMessageText(code).empty()) << code;
      ++withText;
    }
  }
  EXPECT_EQ(withText, 176);
  for (std::int32_t code : {std::numeric_limits<std::int32_t>::min(), -1, 0, 191, 9999}) {
    EXPECT_FALSE(IsEngineErrorCode(code)) << code;
    EXPECT_TRUE(EngineMessageText(code).empty()) << code;
  }
}

// Every template must be usable by the formatter: with texts for its %s, or with numbers
// for its %d. A stray '%' would make every message of that code unformattable.
TEST(VdbMessagesTest, EveryTemplateFormats) {
  const TVdbFmtArgs texts = {u"a", u"b", u"c", u"d", u"e"};
  const TVdbFmtArgs numbers = {1, 2, 3, 4, 5};
  for (std::int32_t code = 1; code <= 190; ++code) {
    EXPECT_TRUE(FormatEngineMessage(code, texts) || FormatEngineMessage(code, numbers)) << code;
  }
  EXPECT_EQ(FormatEngineMessage(81, {u"300", u"SmallInt", u"-32768", u"32767"}),
            u"Value 300 of type SmallInt exceeds the allowed range from -32768 to 32767");
}

TEST(VdbMessagesTest, StatusTextsAndFallback) {
  struct Case {
    std::int32_t Status;
    std::u16string_view Text;
  };
  const Case cases[] = {
      {-47, u"The database table is locked"},
      {-9, u"Unknown error"},  // not in the table
      {0, u"No error"},
      {1, u"Unknown error"},
      {2, u"Unknown error"},
      {-100, u"Error in VidoraDB Engine"},
      {-102, u"An error occured in the database engine. Please save your work and re-start the "
             u"application"},
      {-103, u"The passed buffer is too small for the data."},
      {-59, u"The SQL command has an error at row %d, column %d"},
      {-205, u"Import failed"},
      {-206, u"Unknown error"},
      {std::numeric_limits<std::int16_t>::min(), u"Unknown error"},
      {std::numeric_limits<std::int32_t>::max(), u"Unknown error"},
      {65536 - 47, u"Unknown error"},  // a status is compared whole, not cut to 16 bits
  };
  for (const Case& c : cases) EXPECT_EQ(StatusText(c.Status), c.Text) << c.Status;
}

TEST(VdbMessagesTest, StatusTableShape) {
  const auto table = StatusTable();
  ASSERT_EQ(table.size(), 67u);
  EXPECT_EQ(table.front().Status, 1);
  EXPECT_EQ(table.front().Text, u"Unknown error");
  EXPECT_EQ(table.back().Status, -205);
  std::set<std::int16_t> seen;
  for (const TVdbStatusText& entry : table) {
    EXPECT_TRUE(seen.insert(entry.Status).second) << "duplicate status " << entry.Status;
    EXPECT_FALSE(entry.Text.empty()) << entry.Status;
  }
}

class CopyToCallerBufferTest : public ::testing::Test {
 protected:
  static constexpr std::uint16_t kSentinel = 0xABCD;
  CopyToCallerBufferTest() { Buffer.fill(kSentinel); }
  std::u16string Written() const {
    std::u16string s;
    for (std::uint16_t u : Buffer) {
      if (u == 0) break;
      s += static_cast<char16_t>(u);
    }
    return s;
  }
  std::array<std::uint16_t, 32> Buffer{};
};

TEST_F(CopyToCallerBufferTest, CutsToCapacityAndNeverOverruns) {
  struct Case {
    std::int32_t Capacity;
    std::int32_t Copied;
    std::u16string_view Text;
  };
  const std::u16string_view text = u"Unknown error";  // 13 units
  const Case cases[] = {
      {1, 0, u""},
      {2, 1, u"U"},
      {5, 4, u"Unkn"},
      {13, 12, u"Unknown erro"},
      {14, 13, u"Unknown error"},
      {20, 13, u"Unknown error"},
  };
  for (const Case& c : cases) {
    Buffer.fill(kSentinel);
    EXPECT_EQ(CopyToCallerBuffer(text, Buffer.data(), c.Capacity), c.Copied) << c.Capacity;
    EXPECT_EQ(Written(), c.Text) << c.Capacity;
    EXPECT_EQ(Buffer[static_cast<std::size_t>(c.Copied)], 0) << c.Capacity;
    for (std::size_t i = static_cast<std::size_t>(c.Capacity); i < Buffer.size(); ++i) {
      ASSERT_EQ(Buffer[i], kSentinel) << "written beyond capacity " << c.Capacity << " at " << i;
    }
  }
}

TEST_F(CopyToCallerBufferTest, WritesNothingWithoutRoom) {
  for (std::int32_t capacity : {0, -1, std::numeric_limits<std::int32_t>::min()}) {
    EXPECT_EQ(CopyToCallerBuffer(u"No error", Buffer.data(), capacity), 0);
    EXPECT_EQ(Buffer[0], kSentinel) << capacity;
  }
  EXPECT_EQ(CopyToCallerBuffer(u"No error", nullptr, 10), 0);
}

TEST_F(CopyToCallerBufferTest, DoesNotSplitSurrogatePair) {
  const std::u16string text = u"ab\U0001F600";  // a, b, high, low
  EXPECT_EQ(CopyToCallerBuffer(text, Buffer.data(), 4), 2);
  EXPECT_EQ(Written(), u"ab");
  EXPECT_EQ(CopyToCallerBuffer(text, Buffer.data(), 5), 4);
  EXPECT_EQ(Written(), text);
}

// The status text as the error-message call hands it out: table text, fallback, cut.
TEST_F(CopyToCallerBufferTest, StatusTextIntoBuffer) {
  CopyToCallerBuffer(StatusText(-47), Buffer.data(), static_cast<std::int32_t>(Buffer.size()));
  EXPECT_EQ(Written(), u"The database table is locked");
  CopyToCallerBuffer(StatusText(-9), Buffer.data(), static_cast<std::int32_t>(Buffer.size()));
  EXPECT_EQ(Written(), u"Unknown error");
  CopyToCallerBuffer(StatusText(-100), Buffer.data(), 9);
  EXPECT_EQ(Written(), u"Error in");
}

}  // namespace
}  // namespace vdb
