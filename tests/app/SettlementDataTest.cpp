// The maintenance and search windows on a copy of the real settlement database: incremental
// search in Hungarian order by name and by postal code, the delete question, inserting and
// editing with notes, and edits that survive a restart of the program.
#include <QCollator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>
#include <memory>

#include "QtTestSupport.h"
#include "SettlementTables.h"
#include "Shell.h"
#include "Unit1.h"
#include "Unit2.h"
#include "Unit5.h"
#include "Unit9.h"
#include "Vidora.h"
#include "widgets/DBGrid.h"
#include "widgets/DBControls.h"
#include "widgets/DBNavigator.h"

namespace {

using testsupport::TMessageBoxes;
using tk::TNavigatorButton;

constexpr int kSettlements = 3155;

class SettlementDataTest : public ::testing::Test {
 protected:
  SettlementDataTest() { Collator.setCaseSensitivity(Qt::CaseInsensitive); }

  void SetUp() override { Start(); }

  // Starts the program on the working directory's database as the main window does.
  void Start() {
    App = std::make_unique<vidora::TVidora>(Shell);
    App->CreateInstances();
    App->Form1()->show();
    ASSERT_FALSE(App->TerminateRequested());
    ASSERT_TRUE(Table1().Active());
  }

  // Ends the program: every instance is released, the tables closed.
  void Stop() { App.reset(); }

  vdbds::TVdbTable& Table1() { return App->DataModule9()->Table1; }
  QString Field(const char16_t* name) { return QString::fromStdU16String(Table1().FieldByName(name).AsString()); }

  template <class F>
  void WhileShown(vidora::TModalForm& form, F&& checks) {
    EXPECT_TRUE(testsupport::WhileShownModally(form, std::forward<F>(checks)));
  }

  // The current record is the first at or after `key` in the current order: its value of
  // `field` is not below the key and the record before it (if any) is below it.
  void ExpectFirstAtOrAfter(const char16_t* field, const QString& key) {
    const QString current = Field(field);
    EXPECT_GE(Collator.compare(current, key), 0) << current.toStdString() << " is before " << key.toStdString();
    Table1().Prior();
    if (!Table1().Bof()) {
      const QString before = Field(field);
      EXPECT_LT(Collator.compare(before, key), 0) << before.toStdString() << " comes before " << current.toStdString();
      Table1().Next();
    }
    EXPECT_EQ(Field(field), current);
  }

  // Types like a user on a Hungarian keyboard: accented letters arrive as text of their own.
  static void Type(QWidget* widget, const QString& text) {
    for (const QChar c : text) {
      if (c.unicode() < 0x80)
        QTest::keyClick(widget, c.toLatin1());
      else
        QTest::sendKeyEvent(QTest::Click, widget, Qt::Key_unknown, QString(c), Qt::NoModifier);
    }
  }

  QToolButton* NavButton(TNavigatorButton button) { return App->Form2()->DBNavigator1()->Button(button); }

  QCollator Collator{QLocale(QLocale::Hungarian, QLocale::Hungary)};
  testsupport::TTempWorkingDir WorkingDir;
  apptest::TRealSettlementTables Tables;
  vidora::TDesktopShell Shell;
  std::unique_ptr<vidora::TVidora> App;
};

TEST_F(SettlementDataTest, MaintenanceWindowShowsEverySettlementInNameOrder) {
  vidora::TForm2& form = *App->Form2();
  WhileShown(form, [&] {
    EXPECT_EQ(form.Label2()->text(), QString::number(kSettlements));
    EXPECT_EQ(Table1().IndexName(), u"TELEP");
    // The grid shows rows of the table, the current one with its note beside it.
    EXPECT_GT(form.DBGrid1()->Model()->rowCount(), 5);
    EXPECT_EQ(form.DBMemo1()->toPlainText(), Field(u"EGYEB"));
  });
}

TEST_F(SettlementDataTest, TypingANameJumpsInHungarianOrder) {
  vidora::TForm2& form = *App->Form2();
  WhileShown(form, [&] {
    QTest::keyClicks(form.Edit1(), QStringLiteral("B"));
    EXPECT_TRUE(Field(u"TELEP").startsWith(u'B')) << Field(u"TELEP").toStdString();
    ExpectFirstAtOrAfter(u"TELEP", QStringLiteral("B"));

    // "Cs" is a letter of its own after "C": every C… name (Cún too) comes before it.
    form.Edit1()->clear();
    QTest::keyClicks(form.Edit1(), QStringLiteral("Cs"));
    EXPECT_EQ(Field(u"TELEP"), u"Csabacsűd");
    Table1().Prior();
    EXPECT_TRUE(Field(u"TELEP").startsWith(u'C') && !Field(u"TELEP").startsWith(QStringLiteral("Cs")))
        << Field(u"TELEP").toStdString();
    Table1().Next();

    // "Zs" follows every other Z… name, Zubogy and Zók included.
    form.Edit1()->clear();
    QTest::keyClicks(form.Edit1(), QStringLiteral("Zs"));
    EXPECT_EQ(Field(u"TELEP"), u"Zsadány");
    Table1().Prior();
    EXPECT_TRUE(Field(u"TELEP").startsWith(u'Z') && !Field(u"TELEP").startsWith(QStringLiteral("Zs")))
        << Field(u"TELEP").toStdString();
    Table1().Next();

    // Each keystroke searches again: the grid's current row follows.
    form.Edit1()->clear();
    QTest::keyClicks(form.Edit1(), QStringLiteral("Szeged"));
    EXPECT_EQ(Field(u"TELEP"), u"Szeged");
    EXPECT_EQ(form.DBMemo1()->toPlainText(), Field(u"EGYEB"));
  });
}

TEST_F(SettlementDataTest, PostalCodeSubjectSearchesInPostalOrderAndCloseBoxKeepsIt) {
  vidora::TForm5& form = *App->Form5();
  WhileShown(form, [&] {
    QTest::mouseClick(form.RadioButton1(), Qt::LeftButton);
    EXPECT_EQ(Table1().IndexName(), u"IRSZ");
    QTest::keyClicks(form.Edit1(), QStringLiteral("672512"));
    EXPECT_EQ(form.Edit1()->text(), u"6725");
    ExpectFirstAtOrAfter(u"IRSZ", QStringLiteral("6725"));
    form.Edit1()->clear();
    QTest::keyClicks(form.Edit1(), QStringLiteral("3"));
    ExpectFirstAtOrAfter(u"IRSZ", QStringLiteral("3"));
    EXPECT_TRUE(Field(u"IRSZ").startsWith(u'3'));
  });
  // Closed with its close box: the postal order stays.
  EXPECT_EQ(Table1().IndexName(), u"IRSZ");
  Table1().First();
  const QString first = Field(u"IRSZ");
  Table1().Next();
  EXPECT_LE(first, Field(u"IRSZ"));
}

TEST_F(SettlementDataTest, DeleteQuestionNoKeepsTheRecordYesDeletesIt) {
  vidora::TForm2& form = *App->Form2();
  TMessageBoxes boxes;
  WhileShown(form, [&] {
    QTest::keyClicks(form.Edit1(), QStringLiteral("Szeged"));
    ASSERT_EQ(Field(u"TELEP"), u"Szeged");

    boxes.Answer(QMessageBox::No);
    QTest::mouseClick(NavButton(TNavigatorButton::nbDelete), Qt::LeftButton);
    ASSERT_EQ(boxes.Shown().size(), 1u);
    EXPECT_EQ(boxes.Shown()[0].Text, u"Biztosan törölhető ?");
    EXPECT_EQ(Field(u"TELEP"), u"Szeged");
    EXPECT_EQ(Table1().RecordCount(), kSettlements);

    boxes.Answer(QMessageBox::Yes);
    QTest::mouseClick(NavButton(TNavigatorButton::nbDelete), Qt::LeftButton);
    ASSERT_EQ(boxes.Shown().size(), 2u);
    EXPECT_NE(Field(u"TELEP"), u"Szeged");
    EXPECT_EQ(Table1().RecordCount(), kSettlements - 1);
  });
  WhileShown(form, [&] {
    EXPECT_EQ(form.Label2()->text(), QString::number(kSettlements - 1));
    QTest::keyClicks(form.Edit1(), QStringLiteral("Szeged"));
    EXPECT_NE(Field(u"TELEP"), u"Szeged");
  });
}

TEST_F(SettlementDataTest, InsertedSettlementWithANoteIsFoundByName) {
  vidora::TForm2& form = *App->Form2();
  WhileShown(form, [&] {
    QTest::mouseClick(NavButton(TNavigatorButton::nbInsert), Qt::LeftButton);
    ASSERT_EQ(Table1().State(), tk::TDataSetState::dsInsert);
    Table1().FieldByName(u"IRSZ").SetAsString(u"9999");
    Table1().FieldByName(u"TELEP").SetAsString(u"Vidorafalva");
    Table1().FieldByName(u"NEPESS").SetAsInteger(42);
    form.DBMemo1()->setFocus();
    Type(form.DBMemo1(), QStringLiteral("Próbatelepülés"));
    QTest::mouseClick(NavButton(TNavigatorButton::nbPost), Qt::LeftButton);
    ASSERT_EQ(Table1().State(), tk::TDataSetState::dsBrowse);
    EXPECT_EQ(Table1().RecordCount(), kSettlements + 1);

    Table1().First();
    Type(form.Edit1(), QStringLiteral("Vidoraf"));
    EXPECT_EQ(Field(u"TELEP"), u"Vidorafalva");
    EXPECT_EQ(Field(u"EGYEB"), u"Próbatelepülés");
    EXPECT_EQ(form.DBMemo1()->toPlainText(), u"Próbatelepülés");
  });
}

TEST_F(SettlementDataTest, EditsSurviveARestart) {
  vidora::TForm2& form = *App->Form2();
  QString before;
  WhileShown(form, [&] {
    QTest::keyClicks(form.Edit1(), QStringLiteral("Tihany"));
    ASSERT_EQ(Field(u"TELEP"), u"Tihany");
    before = Field(u"EGYEB");
    Table1().Edit();
    Table1().FieldByName(u"NEPESS").SetAsInteger(1234);
    form.DBMemo1()->setFocus();
    QTest::keyClick(form.DBMemo1(), Qt::Key_End, Qt::ControlModifier);
    Type(form.DBMemo1(), QStringLiteral(" Félsziget."));
    QTest::mouseClick(NavButton(TNavigatorButton::nbPost), Qt::LeftButton);
    ASSERT_EQ(Table1().State(), tk::TDataSetState::dsBrowse);
  });

  Stop();
  Start();
  Table1().FindNearest({u"Tihany"});
  ASSERT_EQ(Field(u"TELEP"), u"Tihany");
  EXPECT_EQ(Table1().FieldByName(u"NEPESS").AsInteger(), 1234);
  EXPECT_EQ(Field(u"EGYEB"), before + QStringLiteral(" Félsziget."));
  EXPECT_EQ(Table1().RecordCount(), kSettlements);
}

}  // namespace
