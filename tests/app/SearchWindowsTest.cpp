// The maintenance and search windows: their controls, show handlers, search subject and the
// error box of the incremental search.
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

#include "QtTestSupport.h"
#include "SettlementTables.h"
#include "SettlementGrid.h"
#include "Shell.h"
#include "Unit2.h"
#include "Unit5.h"
#include "Unit9.h"
#include "Vidora.h"
#include "widgets/DBGrid.h"
#include "widgets/DBNavigator.h"

namespace {

using testsupport::TMessageBoxes;

class SearchWindowsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App.CreateInstances();
    Table1().Open();
  }

  vdbds::TVdbTable& Table1() { return App.DataModule9()->Table1; }

  // Shows a window modally, runs the checks while it is open, then closes it.
  template <class F>
  void WhileShown(vidora::TModalForm& form, F&& checks) {
    EXPECT_TRUE(testsupport::WhileShownModally(form, std::forward<F>(checks)));
  }

  testsupport::TTempWorkingDir WorkingDir;
  apptest::TEmptySettlementTables Tables;
  vidora::TDesktopShell Shell;
  vidora::TVidora App{Shell};
};

TEST_F(SearchWindowsTest, GridColumnsPerWindow) {
  const QStringList titles = {"Ir. szám.", "Település",   "Tel. Körz.", "Igazgatási rang", "Régió",
                              "Megye",     "Kistérség",   "Terület [Ha]", "Lakó népesség", "Lakások sz."};
  const QStringList fields = {"IRSZ", "TELEP", "TELK", "RANG", "REGIO", "MEGYE", "KISTERS", "TERULET", "NEPESS", "LAKAS"};
  const int maintenanceWidths[] = {0, 64, 64, 64, 64, 64, 64, 64, 64, 100};
  const int searchWidths[] = {0, 0, 0, 0, 0, 0, 0, 100, 100, 100};
  const auto maintenance = vidora::SettlementColumns(vidora::TSettlementGridKind::sgMaintenance);
  const auto search = vidora::SettlementColumns(vidora::TSettlementGridKind::sgSearch);
  ASSERT_EQ(maintenance.size(), 10);
  ASSERT_EQ(search.size(), 10);
  for (int i = 0; i < 10; ++i) {
    SCOPED_TRACE(fields[i].toStdString());
    for (const auto* columns : {&maintenance, &search}) {
      EXPECT_EQ((*columns)[i].FieldName, fields[i]);
      EXPECT_EQ((*columns)[i].Title, titles[i]);
      // Only the name is left-aligned; titles from RANG on are centred.
      EXPECT_EQ(bool((*columns)[i].Alignment & Qt::AlignHCenter), i != 1);
      EXPECT_EQ(bool((*columns)[i].TitleAlignment & Qt::AlignHCenter), i >= 3);
    }
    EXPECT_EQ(maintenance[i].Width, maintenanceWidths[i]);
    EXPECT_EQ(search[i].Width, searchWidths[i]);
  }
}

TEST_F(SearchWindowsTest, MaintenanceWindowControls) {
  vidora::TForm2& form = *App.Form2();
  EXPECT_EQ(form.Edit1()->maxLength(), 30);
  EXPECT_EQ(form.Edit1()->width(), 193);
  EXPECT_EQ(form.Edit1()->toolTip(), u"Keresendő település !");
  EXPECT_EQ(form.DBGrid1()->size(), QSize(497, 220));
  EXPECT_EQ(form.DBNavigator1()->size(), QSize(240, 25));
  EXPECT_FALSE(form.DBGrid1()->ReadOnly());
  const char* hints[] = {"Első rekord", "Előző rekord", "Következő rekord", "Utolsó rekord", "Új rekord",
                         "Rekord törlése", "Rekord szerkesztése", "Rekord tárolása", "Elvetés", "Frissítés"};
  for (int i = 0; i < 10; ++i) {
    QToolButton* b = form.DBNavigator1()->Button(static_cast<tk::TNavigatorButton>(i));
    EXPECT_EQ(b->toolTip(), QString::fromUtf8(hints[i]));
    EXPECT_EQ(b->statusTip(), QString::fromUtf8(hints[i]) + QStringLiteral(" !"));
  }
  auto* finish = form.findChild<QPushButton*>(QStringLiteral("BitBtn1"));
  ASSERT_NE(finish, nullptr);
  EXPECT_EQ(finish->text(), u"Befejezés");
  EXPECT_EQ(finish->toolTip(), u"Befejezés !");
}

TEST_F(SearchWindowsTest, MaintenanceShowCountsSetsNameOrderAndClearsTheBox) {
  vidora::TForm2& form = *App.Form2();
  form.Edit1()->setText(QStringLiteral("Bu"));
  form.Label2()->setText(QStringLiteral("17"));
  Table1().SetIndexName(u"IRSZ");
  WhileShown(form, [&] {
    EXPECT_EQ(form.Label2()->text(), u"0");
    EXPECT_TRUE(form.Edit1()->text().isEmpty());
    EXPECT_EQ(Table1().IndexName(), u"TELEP");
    // Finishing closes the window.
    QTest::mouseClick(form.findChild<QPushButton*>(QStringLiteral("BitBtn1")), Qt::LeftButton);
    EXPECT_FALSE(form.isVisible());
  });
}

TEST_F(SearchWindowsTest, SearchSubjectSetsLimitHintAndIndex) {
  vidora::TForm5& form = *App.Form5();
  WhileShown(form, [&] {
    EXPECT_TRUE(form.RadioButton2()->isChecked());
    EXPECT_EQ(form.Edit1()->maxLength(), 38);
    EXPECT_EQ(Table1().IndexName(), u"TELEP");

    QTest::keyClicks(form.Edit1(), QStringLiteral("Kecs"));
    QTest::mouseClick(form.RadioButton1(), Qt::LeftButton);
    EXPECT_TRUE(form.RadioButton1()->isChecked());
    EXPECT_TRUE(form.Edit1()->text().isEmpty());
    EXPECT_EQ(form.Edit1()->maxLength(), 4);
    EXPECT_EQ(form.Edit1()->toolTip(), u"Keresendő irányítószám");
    EXPECT_EQ(form.Edit1()->statusTip(), u"Keresendő irányítószám megadása !");
    EXPECT_EQ(Table1().IndexName(), u"IRSZ");
    QTest::keyClicks(form.Edit1(), QStringLiteral("604512"));
    EXPECT_EQ(form.Edit1()->text(), u"6045");

    QTest::mouseClick(form.RadioButton2(), Qt::LeftButton);
    EXPECT_EQ(form.Edit1()->maxLength(), 38);
    EXPECT_EQ(form.Edit1()->toolTip(), u"Keresendő település");
    EXPECT_EQ(Table1().IndexName(), u"TELEP");
  });
}

TEST_F(SearchWindowsTest, CloseBoxKeepsPostalOrderFinishRestoresNameOrder) {
  vidora::TForm5& form = *App.Form5();
  // Closed with the title-bar close box after choosing the postal code.
  WhileShown(form, [&] { QTest::mouseClick(form.RadioButton1(), Qt::LeftButton); });
  EXPECT_EQ(Table1().IndexName(), u"IRSZ");

  // The next showing resets the subject; "Befejezés" leaves name order.
  WhileShown(form, [&] {
    EXPECT_TRUE(form.RadioButton2()->isChecked());
    QTest::mouseClick(form.RadioButton1(), Qt::LeftButton);
    QTest::mouseClick(form.findChild<QPushButton*>(QStringLiteral("BitBtn1")), Qt::LeftButton);
  });
  EXPECT_EQ(Table1().IndexName(), u"TELEP");
}

TEST_F(SearchWindowsTest, SearchErrorShowsTheBoxAndTypingGoesOn) {
  vidora::TForm2& form = *App.Form2();
  TMessageBoxes boxes;
  WhileShown(form, [&] {
    Table1().Close();  // a search on a closed table fails with a database error
    QTest::keyClicks(form.Edit1(), QStringLiteral("B"));
    ASSERT_EQ(boxes.Shown().size(), 1u);
    EXPECT_EQ(boxes.Shown()[0].Title, u"Adatok keresése:");
    EXPECT_EQ(boxes.Shown()[0].Text, u"Hiba történt !!!");
    EXPECT_EQ(boxes.Shown()[0].Icon, QMessageBox::NoIcon);
    QTest::keyClicks(form.Edit1(), QStringLiteral("u"));
    EXPECT_EQ(form.Edit1()->text(), u"Bu");
    EXPECT_TRUE(form.isVisible());
  });
}

TEST_F(SearchWindowsTest, FailedPrintIsReportedAndLeavesTheScratchTableBrowsing) {
  vidora::TForm5& form = *App.Form5();
  App.DataModule9()->Table2.Open();
  TMessageBoxes boxes;
  WhileShown(form, [&] {
    // A closed settlement table has no fields to copy from: the error reaches the default report.
    Table1().Close();
    QTest::mouseClick(form.findChild<QPushButton*>(QStringLiteral("SpeedButton2")), Qt::LeftButton);
  });
  ASSERT_EQ(boxes.Shown().size(), 1u);
  EXPECT_EQ(boxes.Shown()[0].Icon, QMessageBox::Critical);
  EXPECT_EQ(App.DataModule9()->Table2.State(), tk::TDataSetState::dsBrowse);
}

}  // namespace
