// The memo, edit and label bound to a field: they follow the current record, start editing
// when the user types, write back what was typed and give it up on Esc.
#include <QTest>
#include <gtest/gtest.h>

#include "QtTestSupport.h"
#include "WidgetFixture.h"
#include "widgets/DBControls.h"

namespace {

class DBControlsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testwidgets::FillRows(DS, 100'000);
    Source.SetDataSet(&DS);
    Memo.setObjectName(QStringLiteral("Memo"));
    Memo.SetDataField(QStringLiteral("NOTE"));
    Memo.SetDataSource(&Source);
    Edit.SetDataField(QStringLiteral("NAME"));
    Edit.SetDataSource(&Source);
    Label.SetDataField(QStringLiteral("ID"));
    Label.SetDataSource(&Source);
    DS.Open();
  }
  std::u16string StoredNote(int row) {
    const auto* bytes = std::get_if<tk::TBytes>(&DS.Row(row)[2]);
    return bytes ? tk::Utf8ToUtf16(std::string(bytes->begin(), bytes->end())) : u"";
  }

  tk::TMemDataSet DS;
  tk::TDataSource Source;
  tk::TDBMemo Memo;
  tk::TDBEdit Edit;
  tk::TDBLabel Label;
};

TEST_F(DBControlsTest, ControlsFollowTheCurrentRecord) {
  EXPECT_EQ(Memo.toPlainText(), QString());
  EXPECT_EQ(Edit.text(), QStringLiteral("Name 1"));
  EXPECT_EQ(Edit.maxLength(), 30);
  EXPECT_EQ(Label.text(), QStringLiteral("1"));
  EXPECT_EQ(Label.alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
  DS.MoveBy(9);
  EXPECT_EQ(Memo.toPlainText(), QStringLiteral("Note 10"));
  EXPECT_EQ(Edit.text(), QStringLiteral("Name 10"));
  EXPECT_EQ(Label.text(), QStringLiteral("10"));
  DS.Last();
  EXPECT_EQ(Memo.toPlainText(), QStringLiteral("Note 100000"));
  DS.Prior();
  EXPECT_EQ(Memo.toPlainText(), QString());
  DS.Close();
  EXPECT_EQ(Edit.text(), QString());
  EXPECT_EQ(Label.text(), QString());
}

TEST_F(DBControlsTest, MemoWritesBackWhatIsTyped) {
  DS.MoveBy(9);  // "Note 10"
  Memo.moveCursor(QTextCursor::End);
  testwidgets::TypeText(&Memo, QStringLiteral(" és még"));
  EXPECT_EQ(DS.State(), tk::TDataSetState::dsEdit);
  QTest::keyClick(&Memo, Qt::Key_Return);
  testwidgets::TypeText(&Memo, QStringLiteral("második sor"));
  EXPECT_EQ(Memo.toPlainText(), QStringLiteral("Note 10 és még\nmásodik sor"));
  DS.Post();
  EXPECT_EQ(StoredNote(9), u"Note 10 és még\nmásodik sor");
  DS.Next();
  EXPECT_EQ(Memo.toPlainText(), QString());
  DS.Prior();
  EXPECT_EQ(Memo.toPlainText(), QStringLiteral("Note 10 és még\nmásodik sor"));

  // Typed text also goes back when the record is left without an explicit post.
  DS.Next();
  testwidgets::TypeText(&Memo, QStringLiteral("új"));
  DS.Next();
  EXPECT_EQ(StoredNote(10), u"új");
}

TEST_F(DBControlsTest, EscapeAndReadOnlyKeepTheStoredText) {
  DS.MoveBy(19);  // "Note 20"
  Memo.moveCursor(QTextCursor::End);
  testwidgets::TypeText(&Memo, QStringLiteral("xx"));
  QTest::keyClick(&Memo, Qt::Key_Escape);
  EXPECT_EQ(Memo.toPlainText(), QStringLiteral("Note 20"));
  DS.Cancel();
  EXPECT_EQ(StoredNote(19), u"Note 20");

  Memo.SetReadOnly(true);
  testwidgets::TypeText(&Memo, QStringLiteral("yy"));
  EXPECT_EQ(DS.State(), tk::TDataSetState::dsBrowse);
  EXPECT_EQ(Memo.toPlainText(), QStringLiteral("Note 20"));
  Memo.SetReadOnly(false);

  // A read-only dataset refuses typing without an error box.
  testsupport::TMessageBoxes boxes;
  DS.Close();
  DS.ReadOnly = true;
  DS.Open();
  DS.MoveBy(19);
  testwidgets::TypeText(&Memo, QStringLiteral("zz"));
  EXPECT_EQ(Memo.toPlainText(), QStringLiteral("Note 20"));
  EXPECT_EQ(DS.State(), tk::TDataSetState::dsBrowse);
  EXPECT_TRUE(boxes.Shown().empty());
}

TEST_F(DBControlsTest, EditWritesBackOnLeavingAndReportsBadValues) {
  testsupport::TMessageBoxes boxes;
  Edit.selectAll();
  testwidgets::TypeText(&Edit, QStringLiteral("Győr"));
  EXPECT_EQ(DS.State(), tk::TDataSetState::dsEdit);
  DS.Post();
  EXPECT_EQ(std::get<std::u16string>(DS.Row(0)[1]), u"Győr");

  // An integer field refuses text: the error is reported, the dataset stays in edit state.
  tk::TDBEdit number;
  number.SetDataField(QStringLiteral("ID"));
  number.SetDataSource(&Source);
  EXPECT_EQ(number.text(), QStringLiteral("1"));
  number.selectAll();
  testwidgets::TypeText(&number, QStringLiteral("abc"));
  EXPECT_THROW(DS.Post(), tk::EDatabaseError);
  EXPECT_EQ(DS.State(), tk::TDataSetState::dsEdit);
  number.selectAll();
  testwidgets::TypeText(&number, QStringLiteral("42"));
  DS.Post();
  EXPECT_EQ(std::get<std::int64_t>(DS.Row(0)[0]), 42);
  EXPECT_EQ(Label.text(), QStringLiteral("42"));
  EXPECT_TRUE(boxes.Shown().empty());
}

}  // namespace
