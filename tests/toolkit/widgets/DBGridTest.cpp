// The grid over 100,000 in-memory records: it holds only the buffer window, scrolls by keys
// and by its scroll bar, edits through the dataset's states, and its model keeps every
// promise QAbstractItemModelTester checks.
#include <QHeaderView>
#include <QPointer>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include "QtTestSupport.h"
#include "WidgetFixture.h"
#include "widgets/DBGrid.h"

namespace {

constexpr int kRows = 100'000;

class DBGridTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testwidgets::FillRows(DS, kRows);
    Source.SetDataSet(&DS);
    Grid = std::make_unique<tk::TDBGrid>();
    Grid->resize(420, 260);
    Tester = std::make_unique<QAbstractItemModelTester>(Grid->Model(),
                                                        QAbstractItemModelTester::FailureReportingMode::Warning);
    Grid->SetDataSource(&Source);
    Grid->show();
    DS.Open();
    QApplication::processEvents();
  }
  void TearDown() override {
    Grid.reset();
    EXPECT_TRUE(Log.Messages().isEmpty()) << Log.Messages().join(QLatin1Char('\n')).toStdString();
  }

  int Id() { return DS.FieldByName(u"ID").AsInteger(); }
  QString Cell(int row, int column) { return Grid->Model()->index(row, column).data().toString(); }
  void Key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QTest::keyClick(Grid->View(), static_cast<Qt::Key>(key), modifiers);
  }
  QTableView* View() { return Grid->View(); }

  testwidgets::TModelTesterLog Log;
  tk::TMemDataSet DS;
  tk::TDataSource Source;
  std::unique_ptr<tk::TDBGrid> Grid;
  std::unique_ptr<QAbstractItemModelTester> Tester;
};

TEST_F(DBGridTest, ShowsOnlyTheBufferWindow) {
  const int visible = Grid->VisibleRows();
  ASSERT_GT(visible, 2);
  ASSERT_LT(visible, 40);
  EXPECT_EQ(Grid->Model()->rowCount(), visible);
  EXPECT_EQ(DS.BufferCount(), visible);
  EXPECT_EQ(Grid->Model()->columnCount(), 3);
  EXPECT_EQ(Cell(0, 0), QStringLiteral("1"));
  EXPECT_EQ(Cell(visible - 1, 1), QStringLiteral("Name %1").arg(visible));
  EXPECT_EQ(Cell(0, 2), QStringLiteral("(Memo)"));
  EXPECT_EQ(Cell(9, 2), QStringLiteral("(MEMO)"));
  EXPECT_EQ(Grid->Model()->headerData(1, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("NAME"));
  EXPECT_EQ(Grid->Model()->index(0, 0).data(Qt::TextAlignmentRole).toInt() & Qt::AlignHorizontal_Mask,
            Qt::AlignRight);
  EXPECT_EQ(Grid->ScrollBar()->maximum(), kRows - 1);
  EXPECT_EQ(Grid->ScrollBar()->value(), 0);

  // A taller grid asks for a larger window; a shorter one gives buffers back.
  Grid->resize(420, 500);
  QApplication::processEvents();
  EXPECT_GT(Grid->VisibleRows(), visible);
  EXPECT_EQ(Grid->Model()->rowCount(), Grid->VisibleRows());
  Grid->resize(420, 120);
  QApplication::processEvents();
  EXPECT_EQ(Grid->Model()->rowCount(), Grid->VisibleRows());
  EXPECT_EQ(DS.BufferCount(), Grid->VisibleRows());
}

TEST_F(DBGridTest, ScrollsToTheEndAndBack) {
  const int visible = Grid->VisibleRows();
  Key(Qt::Key_End, Qt::ControlModifier);
  EXPECT_EQ(Id(), kRows);
  EXPECT_EQ(Cell(visible - 1, 0), QString::number(kRows));
  EXPECT_EQ(Cell(0, 0), QString::number(kRows - visible + 1));
  EXPECT_EQ(View()->currentIndex().row(), visible - 1);
  EXPECT_EQ(Grid->ScrollBar()->value(), kRows - 1);

  Key(Qt::Key_Up);
  EXPECT_EQ(Id(), kRows - 1);
  EXPECT_EQ(View()->currentIndex().row(), visible - 2);
  Key(Qt::Key_PageUp);
  EXPECT_EQ(Id(), kRows - 1 - visible);
  EXPECT_EQ(Cell(0, 0), QString::number(kRows - 1 - visible));

  Key(Qt::Key_Home, Qt::ControlModifier);
  EXPECT_EQ(Id(), 1);
  EXPECT_EQ(Cell(0, 0), QStringLiteral("1"));
  EXPECT_EQ(Grid->ScrollBar()->value(), 0);

  // The scroll bar: a drag to the middle, a page and a step.
  Grid->ScrollBar()->setSliderPosition(49'999);
  Grid->ScrollBar()->triggerAction(QAbstractSlider::SliderMove);
  EXPECT_EQ(Id(), 50'000);
  EXPECT_EQ(Grid->ScrollBar()->value(), 49'999);
  EXPECT_EQ(Grid->Model()->rowCount(), visible);
  Grid->ScrollBar()->triggerAction(QAbstractSlider::SliderPageStepAdd);
  EXPECT_EQ(Id(), 50'000 + visible);
  Grid->ScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
  EXPECT_EQ(Id(), 49'999 + visible);
  EXPECT_EQ(Grid->ScrollBar()->value(), 49'998 + visible);
  Grid->ScrollBar()->triggerAction(QAbstractSlider::SliderToMaximum);
  EXPECT_EQ(Id(), kRows);
  Grid->ScrollBar()->triggerAction(QAbstractSlider::SliderToMinimum);
  EXPECT_EQ(Id(), 1);
}

TEST_F(DBGridTest, DisabledControlsLeaveTheGridAloneUntilEnabled) {
  QSignalSpy changes(Grid->Model(), &QAbstractItemModel::dataChanged);
  DS.DisableControls();
  for (int i = 0; i < 1000; ++i) DS.Next();
  EXPECT_EQ(changes.count(), 0);
  EXPECT_EQ(Grid->ScrollBar()->value(), 0);
  DS.EnableControls();
  EXPECT_GT(changes.count(), 0);
  EXPECT_EQ(Cell(View()->currentIndex().row(), 0), QStringLiteral("1001"));
  EXPECT_EQ(Grid->ScrollBar()->value(), 1000);
}

TEST_F(DBGridTest, ClickingARowMakesItsRecordCurrent) {
  DS.MoveBy(500);
  const int top = Cell(0, 0).toInt();
  const QRect cell = View()->visualRect(Grid->Model()->index(3, 1));
  QTest::mouseClick(View()->viewport(), Qt::LeftButton, {}, cell.center());
  EXPECT_EQ(Id(), top + 3);
  EXPECT_EQ(View()->currentIndex().row(), 3);
}

TEST_F(DBGridTest, TypingEditsTheRecordAndLeavingItPosts) {
  DS.MoveBy(4);  // record 5
  View()->setCurrentIndex(Grid->Model()->index(View()->currentIndex().row(), 1));
  View()->setFocus();
  QTest::keyClick(View(), Qt::Key_X);
  EXPECT_EQ(DS.State(), tk::TDataSetState::dsEdit);
  EXPECT_EQ(Grid->Model()->headerData(4, Qt::Vertical, Qt::DisplayRole).toString(), QStringLiteral("I"));
  QWidget* editor = QApplication::focusWidget();
  ASSERT_NE(editor, nullptr);
  testwidgets::TypeText(editor, QStringLiteral("yz"));
  QTest::keyClick(editor, Qt::Key_Down);  // leaves the record: the cell is written, the record posted
  EXPECT_EQ(DS.State(), tk::TDataSetState::dsBrowse);
  EXPECT_EQ(Id(), 6);
  EXPECT_EQ(std::get<std::u16string>(DS.Row(4)[1]), u"xyz");
  EXPECT_EQ(Cell(4, 1), QStringLiteral("xyz"));

  // Esc on a changed record gives the change up.
  QTest::keyClick(View(), Qt::Key_Q);
  editor = QApplication::focusWidget();
  QTest::keyClick(editor, Qt::Key_Escape);  // closes the cell editor
  Key(Qt::Key_Escape);                      // cancels the record
  EXPECT_EQ(DS.State(), tk::TDataSetState::dsBrowse);
  EXPECT_EQ(std::get<std::u16string>(DS.Row(5)[1]), u"Name 6");
}

TEST_F(DBGridTest, ARefusedCellValueStopsLeavingTheRecord) {
  testsupport::TMessageBoxes boxes;
  View()->setCurrentIndex(Grid->Model()->index(0, 0));
  View()->setFocus();
  QTest::keyClick(View(), Qt::Key_A);  // an ID is no text
  QPointer<QWidget> editor = QApplication::focusWidget();
  ASSERT_NE(editor, nullptr);
  QTest::keyClick(editor, Qt::Key_Down);
  ASSERT_EQ(boxes.Shown().size(), 1u);
  EXPECT_EQ(DS.State(), tk::TDataSetState::dsEdit);
  EXPECT_EQ(Id(), 1);
  ASSERT_TRUE(editor);  // still open for correction
  EXPECT_TRUE(editor->isVisible());
  EXPECT_THROW(DS.Post(), tk::EDatabaseError);  // posting meets the same refusal
  // Corrected, the record is written and left.
  QTest::keyClick(editor, Qt::Key_Backspace);
  testwidgets::TypeText(editor, QStringLiteral("7"));
  QTest::keyClick(editor, Qt::Key_Down);
  EXPECT_EQ(DS.State(), tk::TDataSetState::dsBrowse);
  EXPECT_EQ(std::get<std::int64_t>(DS.Row(0)[0]), 7);
  EXPECT_EQ(Id(), 2);
}

TEST_F(DBGridTest, InsertAppendAndDeleteByKeys) {
  testsupport::TMessageBoxes boxes;
  DS.MoveBy(2);  // record 3
  Key(Qt::Key_Insert);
  EXPECT_EQ(DS.State(), tk::TDataSetState::dsInsert);
  EXPECT_EQ(Grid->Model()->rowCount(), Grid->VisibleRows());
  EXPECT_EQ(Cell(2, 0), QString());
  EXPECT_EQ(Cell(3, 0), QStringLiteral("3"));
  Key(Qt::Key_Escape);
  EXPECT_EQ(Id(), 3);
  EXPECT_EQ(DS.RecordCount(), kRows);

  // Down on the last record appends an empty one; Down again keeps that one.
  Key(Qt::Key_End, Qt::ControlModifier);
  Key(Qt::Key_Down);
  EXPECT_EQ(DS.State(), tk::TDataSetState::dsInsert);
  EXPECT_EQ(View()->currentIndex().row(), Grid->VisibleRows() - 1);
  EXPECT_EQ(Cell(Grid->VisibleRows() - 2, 0), QString::number(kRows));
  Key(Qt::Key_Down);
  EXPECT_EQ(DS.State(), tk::TDataSetState::dsInsert);
  DS.FieldByName(u"ID").SetAsInteger(kRows + 1);
  Key(Qt::Key_Up);  // posts
  EXPECT_EQ(DS.RecordCount(), kRows + 1);
  EXPECT_EQ(Id(), kRows);

  // Ctrl+Del asks first; Cancel keeps the record.
  boxes.Answer(QMessageBox::Cancel);
  Key(Qt::Key_Delete, Qt::ControlModifier);
  ASSERT_EQ(boxes.Shown().size(), 1u);
  EXPECT_EQ(boxes.Shown()[0].Text, QStringLiteral("Delete record?"));
  EXPECT_EQ(DS.RecordCount(), kRows + 1);
  boxes.Answer(QMessageBox::Ok);
  Key(Qt::Key_Delete, Qt::ControlModifier);
  EXPECT_EQ(DS.RecordCount(), kRows);
  EXPECT_EQ(Id(), kRows + 1);
}

TEST_F(DBGridTest, ReadOnlyGridNeitherEditsNorInsertsNorDeletes) {
  testsupport::TMessageBoxes boxes;
  Grid->SetReadOnly(true);
  QTest::keyClick(View(), Qt::Key_X);
  Key(Qt::Key_Insert);
  Key(Qt::Key_Delete, Qt::ControlModifier);
  Key(Qt::Key_End, Qt::ControlModifier);
  Key(Qt::Key_Down);
  EXPECT_EQ(DS.State(), tk::TDataSetState::dsBrowse);
  EXPECT_EQ(DS.RecordCount(), kRows);
  EXPECT_TRUE(boxes.Shown().empty());
  EXPECT_FALSE(Grid->Model()->flags(Grid->Model()->index(0, 0)) & Qt::ItemIsEditable);
}

TEST_F(DBGridTest, ErrorsOfTheDataSetReachTheDefaultReport) {
  testsupport::TMessageBoxes boxes;
  DS.BeforeScroll = [](tk::TDataSet&) { tk::DatabaseError(u"locked by another user"); };
  Key(Qt::Key_Down);
  EXPECT_EQ(Id(), 1);
  ASSERT_EQ(boxes.Shown().size(), 1u);
  EXPECT_EQ(boxes.Shown()[0].Text, QStringLiteral("locked by another user"));
  // The silent abort shows nothing.
  DS.BeforeScroll = [](tk::TDataSet&) { tk::Abort(); };
  Key(Qt::Key_Down);
  EXPECT_EQ(boxes.Shown().size(), 1u);
}

TEST_F(DBGridTest, ClosingAndFilteringKeepTheModelConsistent) {
  DS.Close();
  EXPECT_EQ(Grid->Model()->rowCount(), 0);
  EXPECT_EQ(Grid->Model()->columnCount(), 0);
  DS.Open();
  EXPECT_EQ(Grid->Model()->rowCount(), Grid->VisibleRows());
  // A filter leaving fewer records than rows shrinks the model; the scroll bar falls back
  // to three positions without sequence numbers.
  DS.SetOnFilterRecord([](tk::TDataSet& ds, bool& accept) { accept = ds.FieldByName(u"ID").AsInteger() % 40'000 == 0; });
  DS.SetFiltered(true);
  EXPECT_EQ(Grid->Model()->rowCount(), 2);
  EXPECT_EQ(Cell(1, 0), QStringLiteral("80000"));
  EXPECT_EQ(Grid->ScrollBar()->maximum(), 2);
  EXPECT_EQ(Grid->ScrollBar()->value(), 0);
  Key(Qt::Key_End, Qt::ControlModifier);
  EXPECT_EQ(Grid->ScrollBar()->value(), 2);
  DS.SetFiltered(false);
  EXPECT_EQ(Grid->Model()->rowCount(), Grid->VisibleRows());
  // Explicit columns with titles; a missing field leaves its column empty.
  Grid->SetColumns({{QStringLiteral("NAME"), QStringLiteral("Település"), 120, Qt::AlignHCenter, Qt::AlignHCenter},
                    {QStringLiteral("GONE"), QStringLiteral("Nincs"), 0, {}, {}}});
  EXPECT_EQ(Grid->Model()->columnCount(), 2);
  EXPECT_EQ(Grid->Model()->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("Település"));
  EXPECT_EQ(View()->columnWidth(0), 120);
  EXPECT_EQ(Cell(0, 0), QStringLiteral("Name 1"));
  EXPECT_EQ(Cell(0, 1), QString());
}

TEST(DBGridLifetimeTest, ADataSetDestroyedFirstLeavesAnEmptyGrid) {
  testwidgets::TModelTesterLog log;
  tk::TDataSource source;
  tk::TDBGrid grid;
  QAbstractItemModelTester tester(grid.Model(), QAbstractItemModelTester::FailureReportingMode::Warning);
  grid.resize(300, 200);
  grid.show();
  {
    tk::TMemDataSet ds;
    testwidgets::FillRows(ds, 50);
    source.SetDataSet(&ds);
    grid.SetDataSource(&source);
    ds.Open();
    QApplication::processEvents();
    EXPECT_GT(grid.Model()->rowCount(), 0);
  }
  EXPECT_EQ(grid.Model()->rowCount(), 0);
  EXPECT_EQ(grid.Model()->columnCount(), 0);
  EXPECT_EQ(grid.ScrollBar()->maximum(), 0);
  QApplication::processEvents();
  EXPECT_TRUE(log.Messages().isEmpty()) << log.Messages().join(QLatin1Char('\n')).toStdString();
}

}  // namespace
