// Message templates of the framework and the calendar of its date fields.
#include <gtest/gtest.h>

#include <array>
#include <initializer_list>

#include "db/DbErrors.h"
#include "db/TField.h"

namespace {

TEST(DbErrorsTest, TemplatesTakeTextArgumentsAndLeaveTheRestAsWritten) {
  const struct {
    const char16_t* Pattern;
    std::initializer_list<std::u16string_view> Args;
    const char16_t* Expected;
  } cases[] = {
      {u"Field %s not found", {u"NEV"}, u"Field NEV not found"},
      {u"%d of %s", {u"3", u"7"}, u"3 of 7"},
      {u"100%% done", {}, u"100% done"},
      {u"Missing %s and %d", {u"one"}, u"Missing one and %d"},
      {u"Trailing %", {}, u"Trailing %"},
      {u"Other %x %5d letters", {u"a"}, u"Other %x %5d letters"},
      {u"%s", {u"50% %s %d"}, u"50% %s %d"},  // an argument is never read as a template
      {u"Extra %s", {u"a", u"b"}, u"Extra a"},
  };
  for (const auto& c : cases) EXPECT_EQ(tk::FormatText(c.Pattern, c.Args), c.Expected) << tk::NarrowForDiagnostics(c.Pattern);
}

TEST(DbErrorsTest, DayNumbersRollOverMonthsAndDaysAsStoredDatesNeed) {
  EXPECT_EQ(tk::EncodeDate(1970, 1, 1), 719163);
  EXPECT_EQ(tk::EncodeDate(9999, 12, 31), 3652059);
  EXPECT_EQ(tk::EncodeDate(2023, 13, 1), tk::EncodeDate(2024, 1, 1));
  EXPECT_EQ(tk::EncodeDate(2024, 0, 15), tk::EncodeDate(2023, 12, 15));
  EXPECT_EQ(tk::EncodeDate(2024, 3, 0), tk::EncodeDate(2024, 2, 29));
  EXPECT_EQ(tk::EncodeDate(2023, 2, 31), tk::EncodeDate(2023, 3, 3));
  int y = 0, m = 0, d = 0;
  tk::DecodeDate(tk::EncodeDate(1600, 2, 29), y, m, d);
  EXPECT_EQ((std::array{y, m, d}), (std::array{1600, 2, 29}));
}

}  // namespace
