// The filter window on a copy of the real settlement database: the memo built from the rows
// (focus changes), quoted values compared with numeric columns as numbers, an empty value,
// a quote inside a value, the refused Xor and unknown column, a memo typed by hand, and the
// search window's counter following the filter.
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <gtest/gtest.h>

#include "QtTestSupport.h"
#include "SettlementTables.h"
#include "Shell.h"
#include "Unit5.h"
#include "Unit6.h"
#include "Unit9.h"
#include "Vidora.h"

namespace {

using testsupport::TMessageBoxes;

// Fields of one CSV line (quoted fields may hold commas and doubled quotes).
QStringList SplitCsv(const QString& line) {
  QStringList fields(QString{});
  bool quoted = false;
  for (int i = 0; i < line.size(); ++i) {
    const QChar c = line[i];
    if (c == QLatin1Char('"')) {
      if (quoted && i + 1 < line.size() && line[i + 1] == QLatin1Char('"')) {
        fields.back() += c;
        ++i;
      } else {
        quoted = !quoted;
      }
    } else if (c == QLatin1Char(',') && !quoted) {
      fields << QString();
    } else if (c != QLatin1Char('\r')) {
      fields.back() += c;
    }
  }
  return fields;
}

// Settlements of the data set for which `pred(fields)` holds.
template <class P>
int CountSettlements(P pred) {
  QFile csv(QStringLiteral(VIDORA_SETTLEMENTS_CSV));
  EXPECT_TRUE(csv.open(QIODevice::ReadOnly | QIODevice::Text));
  const QStringList lines = QString::fromUtf8(csv.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  int n = 0;
  for (int i = 1; i < lines.size(); ++i) n += pred(SplitCsv(lines[i])) ? 1 : 0;
  return n;
}

class FilterWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App.CreateInstances();
    Table1().Open();
    All = Table1().RecordCount();
    ASSERT_GT(All, 3000);
  }

  vdbds::TVdbTable& Table1() { return App.DataModule9()->Table1; }
  vidora::TForm6& Form() { return *App.Form6(); }

  // Fills row r through its controls, moving the focus through them as a user would.
  void FillRow(int r, const QString& column, const QString& op, const QString& value, const QString& join) {
    vidora::TForm6& f = Form();
    auto type = [](QWidget* w, const QString& text) {
      w->setFocus();
      QApplication::processEvents();
      if (auto* box = qobject_cast<QComboBox*>(w)) {
        box->setEditText(text);
      } else {
        static_cast<QLineEdit*>(w)->setText(text);
      }
    };
    type(f.ColumnBox(r), column);
    type(f.OperatorBox(r), op);
    type(f.ValueBox(r), value);
    type(f.JoinBox(r), join);
    f.Memo1()->setFocus();
    QApplication::processEvents();
  }

  void Apply(bool on) {
    (on ? Form().RadioButton1() : Form().RadioButton2())->setChecked(true);
    QTest::mouseClick(Form().findChild<QPushButton*>(QStringLiteral("BitBtn1")), Qt::LeftButton);
  }

  template <class F>
  void WhileShown(F&& checks) {
    EXPECT_TRUE(testsupport::WhileShownModally(Form(), std::forward<F>(checks)));
  }

  testsupport::TTempWorkingDir WorkingDir;
  apptest::TRealSettlementTables Tables;
  vidora::TDesktopShell Shell;
  vidora::TVidora App{Shell};
  TMessageBoxes Boxes;
  int All = 0;
};

TEST_F(FilterWindowTest, ControlsAndTheirLists) {
  vidora::TForm6& f = Form();
  EXPECT_EQ(f.windowTitle(), QStringLiteral(" Megjelenítendő adatok szűrése:"));
  ASSERT_EQ(f.ColumnBox(0)->count(), 10);
  EXPECT_EQ(f.ColumnBox(2)->itemText(8), QStringLiteral("Lakó népesség"));
  EXPECT_EQ(f.OperatorBox(1)->count(), 6);
  EXPECT_EQ(f.JoinBox(0)->itemText(2), QStringLiteral("Xor"));
  EXPECT_TRUE(f.ColumnBox(0)->isEditable());
  EXPECT_EQ(f.ColumnBox(0)->objectName(), QStringLiteral("ComboBox1"));
  EXPECT_EQ(f.JoinBox(2)->objectName(), QStringLiteral("ComboBox9"));
  EXPECT_EQ(f.ValueBox(1)->objectName(), QStringLiteral("Edit2"));
  EXPECT_TRUE(f.RadioButton2()->isChecked());
  EXPECT_EQ(f.RadioButton1()->text(), QStringLiteral("Bekapcsolva"));
}

TEST_F(FilterWindowTest, RowsBecomeMemoLinesAndQuotedNumbersCompareAsNumbers) {
  WhileShown([&] {
    EXPECT_EQ(Form().Label2()->text(), QStringLiteral("Kikapcsolva"));
    FillRow(0, QStringLiteral("Lakó népesség"), QStringLiteral(">="), QStringLiteral(" 1000 "), QString());
    EXPECT_EQ(Form().Memo1()->toPlainText(), QStringLiteral("NEPESS >= '1000' "));
    Apply(true);
    EXPECT_TRUE(Boxes.Shown().empty());
    EXPECT_EQ(Table1().Filter(), u"NEPESS >= '1000'");
    EXPECT_TRUE(Table1().Filtered());
    EXPECT_EQ(Form().Label2()->text(), QStringLiteral("Bekapcsolva"));
    // Numbers, not texts: '999' would sort after '1000' as a text.
    const int expected = CountSettlements([](const QStringList& f) { return f[8].toInt() >= 1000; });
    EXPECT_EQ(Table1().RecordCount(), expected);
    EXPECT_EQ(App.Form5()->Label3()->text(), QString::number(expected));
  });
  // Showing again reads the table's state.
  WhileShown([&] {
    EXPECT_EQ(Form().Label2()->text(), QStringLiteral("Bekapcsolva"));
    EXPECT_TRUE(Form().RadioButton1()->isChecked());
  });
}

TEST_F(FilterWindowTest, SearchCounterFollowsTwoJoinedRows) {
  WhileShown([&] {
    FillRow(0, QStringLiteral("Megye"), QStringLiteral("="), QStringLiteral("Pest"), QStringLiteral("And"));
    FillRow(1, QStringLiteral("Lakó népesség"), QStringLiteral(">="), QStringLiteral("1000"), QString());
    EXPECT_EQ(Form().Memo1()->toPlainText(), QStringLiteral("MEGYE = 'Pest' And\nNEPESS >= '1000' "));
    Apply(true);
    EXPECT_EQ(Table1().Filter(), u"MEGYE = 'Pest' And NEPESS >= '1000'");
    const int expected =
        CountSettlements([](const QStringList& f) { return f[5] == QStringLiteral("Pest") && f[8].toInt() >= 1000; });
    ASSERT_GT(expected, 50);
    EXPECT_EQ(Table1().RecordCount(), expected);
    EXPECT_EQ(App.Form5()->Label3()->text(), QString::number(expected));
    // Off again: everything is shown, the text is kept.
    Apply(false);
    EXPECT_FALSE(Table1().Filtered());
    EXPECT_EQ(Form().Label2()->text(), QStringLiteral("Kikapcsolva"));
    EXPECT_EQ(App.Form5()->Label3()->text(), QString::number(All));
  });
}

TEST_F(FilterWindowTest, EmptyValueAndAQuoteInAValue) {
  WhileShown([&] {
    FillRow(0, QStringLiteral("Irányító szám"), QStringLiteral("="), QString(), QString());
    EXPECT_EQ(Form().Memo1()->toPlainText(), QStringLiteral("IRSZ = '' "));
    Apply(true);
    EXPECT_TRUE(Boxes.Shown().empty());
    EXPECT_EQ(Table1().RecordCount(), 0);
    EXPECT_EQ(App.Form5()->Label3()->text(), QStringLiteral("0"));

    // The quote stays inside the value: one literal, no record of that name, no error.
    FillRow(0, QStringLiteral("Település"), QStringLiteral("="), QStringLiteral("O'Brien"), QString());
    EXPECT_EQ(Form().Memo1()->toPlainText(), QStringLiteral("TELEP = 'O''Brien' "));
    Apply(true);
    EXPECT_TRUE(Boxes.Shown().empty());
    EXPECT_TRUE(Table1().Filtered());
    EXPECT_EQ(Table1().RecordCount(), 0);
    // A crafted value cannot widen the condition.
    FillRow(0, QStringLiteral("Település"), QStringLiteral("="), QStringLiteral("x' Or TELEP <> '"), QString());
    Apply(true);
    EXPECT_TRUE(Boxes.Shown().empty());
    EXPECT_EQ(Table1().RecordCount(), 0);
  });
}

TEST_F(FilterWindowTest, XorAndUnknownColumnAreRefusedAndLeaveTheTableUnfiltered) {
  WhileShown([&] {
    FillRow(0, QStringLiteral("Megye"), QStringLiteral("="), QStringLiteral("Pest"), QStringLiteral("Xor"));
    FillRow(1, QStringLiteral("Település"), QStringLiteral("="), QStringLiteral("Aba"), QString());
    Apply(true);
    ASSERT_EQ(Boxes.Shown().size(), 1u);
    EXPECT_EQ(Boxes.Shown()[0].Title, QStringLiteral("Szűrő beállítása:"));
    EXPECT_EQ(Boxes.Shown()[0].Text, QStringLiteral("Hibás a szűrési feltétel !!!"));
    EXPECT_FALSE(Table1().Filtered());
    EXPECT_EQ(Form().Label2()->text(), QStringLiteral("Kikapcsolva")) << "keeps its previous text";
    EXPECT_EQ(App.Form5()->Label3()->text(), QString::number(All));

    // A column box text not in the list would compare two quoted words: refused as well.
    QPushButton* reset = Form().findChild<QPushButton*>(QStringLiteral("BitBtn2"));
    QTest::mouseClick(reset, Qt::LeftButton);
    FillRow(0, QStringLiteral("foo"), QStringLiteral(">"), QStringLiteral("2000"), QString());
    EXPECT_EQ(Form().Memo1()->toPlainText(), QStringLiteral("'foo' > '2000' "));
    Apply(true);
    ASSERT_EQ(Boxes.Shown().size(), 2u);
    EXPECT_EQ(Boxes.Shown()[1].Text, QStringLiteral("Hibás a szűrési feltétel !!!"));
    EXPECT_FALSE(Table1().Filtered());
    EXPECT_EQ(Table1().RecordCount(), All);
  });
}

TEST_F(FilterWindowTest, HandTypedMemoEmptyMemoAndReset) {
  WhileShown([&] {
    Form().Memo1()->setPlainText(QStringLiteral("  MEGYE = 'Pest'\n  AND TELEP LIKE 'Buda%'  "));
    Apply(true);
    EXPECT_TRUE(Boxes.Shown().empty());
    EXPECT_EQ(Table1().Filter(), u"MEGYE = 'Pest' AND TELEP LIKE 'Buda%'");
    const int expected = CountSettlements(
        [](const QStringList& f) { return f[5] == QStringLiteral("Pest") && f[1].startsWith(QStringLiteral("Buda")); });
    EXPECT_EQ(Table1().RecordCount(), expected);

    // An empty memo with "Bekapcsolva": no condition, every record, the label says on.
    QTest::mouseClick(Form().findChild<QPushButton*>(QStringLiteral("BitBtn2")), Qt::LeftButton);
    EXPECT_TRUE(Form().Memo1()->toPlainText().isEmpty());
    EXPECT_TRUE(Form().RadioButton2()->isChecked());
    EXPECT_TRUE(Table1().Filtered()) << "Alaphelyzet leaves the table's filter alone";
    Apply(true);
    EXPECT_TRUE(Boxes.Shown().empty());
    EXPECT_EQ(Form().Label2()->text(), QStringLiteral("Bekapcsolva"));
    EXPECT_EQ(Table1().RecordCount(), All);
  });
}

}  // namespace
