// The navigator's buttons: which are enabled in each state and position, what a click does,
// the hints, and that delete asks nothing of its own.
#include <QToolButton>
#include <QTest>
#include <gtest/gtest.h>

#include "QtTestSupport.h"
#include "WidgetFixture.h"
#include "widgets/DBNavigator.h"

namespace {

using tk::TNavigatorButton;

class DBNavigatorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testwidgets::FillRows(DS, 100'000);
    Source.SetDataSet(&DS);
    Navigator.SetDataSource(&Source);
    Navigator.show();
  }

  // Enabled buttons as a string of ten 0/1 in button order.
  std::string Enabled() {
    std::string out;
    for (int i = 0; i < tk::TDBNavigator::ButtonCount; ++i)
      out += Navigator.Button(static_cast<TNavigatorButton>(i))->isEnabled() ? '1' : '0';
    return out;
  }
  void Click(TNavigatorButton button) { QTest::mouseClick(Navigator.Button(button), Qt::LeftButton); }
  int Id() { return DS.FieldByName(u"ID").AsInteger(); }

  tk::TMemDataSet DS;
  tk::TDataSource Source;
  tk::TDBNavigator Navigator;
};

TEST_F(DBNavigatorTest, ButtonsFollowStateAndPosition) {
  struct TStep {
    const char* Name;
    std::function<void()> Run;
    const char* Enabled;  // first prior next last insert delete edit post cancel refresh
  };
  const std::vector<TStep> steps = {
      {"closed", [] {}, "0000000000"},
      {"opened at the first record", [&] { DS.Open(); }, "0011111001"},
      {"next", [&] { Click(TNavigatorButton::nbNext); }, "1111111001"},
      {"last", [&] { Click(TNavigatorButton::nbLast); }, "1100111001"},
      {"edit", [&] { Click(TNavigatorButton::nbEdit); }, "1100110110"},
      // Leaving an edit re-reads the window: the dataset no longer knows it stands at the end.
      {"cancel", [&] { Click(TNavigatorButton::nbCancel); }, "1111111001"},
      {"first", [&] { Click(TNavigatorButton::nbFirst); }, "0011111001"},
      {"insert", [&] { Click(TNavigatorButton::nbInsert); }, "1111110110"},
      {"post fails without the required ID", [&] { Click(TNavigatorButton::nbPost); }, "1111110110"},
      {"cancel the insert", [&] { Click(TNavigatorButton::nbCancel); }, "1111111001"},
      {"read-only dataset", [&] { DS.Close(); DS.ReadOnly = true; DS.Open(); }, "0011000001"},
      {"disabled source", [&] { Source.SetEnabled(false); }, "0000000000"},
  };
  testsupport::TMessageBoxes boxes;  // the failing post reports its error here
  for (const TStep& step : steps) {
    SCOPED_TRACE(step.Name);
    step.Run();
    EXPECT_EQ(Enabled(), step.Enabled);
  }
  ASSERT_EQ(boxes.Shown().size(), 1u);
  EXPECT_EQ(boxes.Shown()[0].Text, QStringLiteral("Field 'ID' must have a value"));
}

TEST_F(DBNavigatorTest, ClicksRunTheirOperations) {
  DS.Open();
  Click(TNavigatorButton::nbNext);
  Click(TNavigatorButton::nbNext);
  EXPECT_EQ(Id(), 3);
  Click(TNavigatorButton::nbPrior);
  EXPECT_EQ(Id(), 2);
  Click(TNavigatorButton::nbLast);
  EXPECT_EQ(Id(), 100'000);
  Click(TNavigatorButton::nbEdit);
  DS.FieldByName(u"NAME").SetAsString(u"utolsó");
  Click(TNavigatorButton::nbPost);
  EXPECT_EQ(std::get<std::u16string>(DS.Row(99'999)[1]), u"utolsó");
  Click(TNavigatorButton::nbInsert);
  DS.FieldByName(u"ID").SetAsInteger(0);
  Click(TNavigatorButton::nbPost);
  EXPECT_EQ(DS.RecordCount(), 100'001);
  EXPECT_EQ(std::get<std::int64_t>(DS.Row(99'999)[0]), 0);
  Click(TNavigatorButton::nbRefresh);
  EXPECT_EQ(Id(), 0);
  Click(TNavigatorButton::nbFirst);
  EXPECT_EQ(Id(), 1);
}

TEST_F(DBNavigatorTest, DeleteAsksNothingItselfAndHonoursTheSilentAbort) {
  testsupport::TMessageBoxes boxes;
  int questions = 0;
  bool allow = false;
  DS.BeforeDelete = [&](tk::TDataSet&) {
    ++questions;
    if (!allow) tk::Abort();
  };
  DS.Open();
  Click(TNavigatorButton::nbDelete);
  EXPECT_EQ(questions, 1);
  EXPECT_EQ(DS.RecordCount(), 100'000);
  EXPECT_TRUE(boxes.Shown().empty());
  allow = true;
  Click(TNavigatorButton::nbDelete);
  EXPECT_EQ(DS.RecordCount(), 99'999);
  EXPECT_EQ(Id(), 2);
  EXPECT_TRUE(boxes.Shown().empty());
}

TEST_F(DBNavigatorTest, HintsAreShortAndLong) {
  const QStringList hints = {
      QStringLiteral("Első rekord|Első rekord !"),   QStringLiteral("Előző rekord|Előző rekord !"),
      QStringLiteral("Következő rekord|Következő rekord !"), QStringLiteral("Utolsó rekord|Utolsó rekord !"),
      QStringLiteral("Új rekord|Új rekord !"),       QStringLiteral("Rekord törlése|Rekord törlése !"),
      QStringLiteral("Rekord szerkesztése|Rekord szerkesztése !"), QStringLiteral("Rekord tárolása|Rekord tárolása !"),
      QStringLiteral("Elvetés|Elvetés !"),           QStringLiteral("Frissítés|Frissítés !")};
  Navigator.SetHints(hints);
  EXPECT_EQ(Navigator.Hints(), hints);
  EXPECT_EQ(Navigator.Button(TNavigatorButton::nbFirst)->objectName(), QStringLiteral("nbFirst"));
  EXPECT_EQ(Navigator.Button(TNavigatorButton::nbRefresh)->objectName(), QStringLiteral("nbRefresh"));
  EXPECT_EQ(Navigator.Button(TNavigatorButton::nbDelete)->toolTip(), QStringLiteral("Rekord törlése"));
  EXPECT_EQ(Navigator.Button(TNavigatorButton::nbDelete)->statusTip(), QStringLiteral("Rekord törlése !"));
  EXPECT_EQ(Navigator.Button(TNavigatorButton::nbCancel)->toolTip(), QStringLiteral("Elvetés"));
}

}  // namespace
