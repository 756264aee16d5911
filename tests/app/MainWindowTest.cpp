// The main window as the user meets it: menu tree, hints in the status bar, the empty-table
// guard, the manual, the close question, and the order in which the program builds itself.
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QMenuBar>
#include <QStatusBar>
#include <QTest>
#include <gtest/gtest.h>

#include "QtTestSupport.h"
#include "SettlementTables.h"
#include "Shell.h"
#include "Unit1.h"
#include "Unit9.h"
#include "Vidora.h"

namespace {

using testsupport::TMessageBoxes;
using vidora::TForm1;

// The program without a message loop to end: termination is only noted.
class TTestVidora : public vidora::TVidora {
 public:
  using TVidora::TVidora;
  void Terminate() override { ++Terminations; }
  int Terminations = 0;
};

class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App.CreateInstances();
    Form().show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&Form()));
  }

  TForm1& Form() { return *App.Form1(); }
  vidora::TDataModule9& Data() { return *App.DataModule9(); }
  QAction* Action(const char* name) {
    QAction* action = Form().findChild<QAction*>(QLatin1String(name));
    EXPECT_NE(action, nullptr) << name;
    return action;
  }

  testsupport::TTempWorkingDir WorkingDir;
  apptest::TEmptySettlementTables Tables;
  vidora::TDesktopShell Shell;
  TTestVidora App{Shell};
};

struct MenuEntry {
  const char* Parent;  // component name of the submenu, "" for the menu bar
  const char* Name;
  const char* Caption;
  const char* Hint;
};

// The whole menu tree in order; a caption "-" is a separator.
const MenuEntry kMenu[] = {
    {"", "Mveletek1", "Műveletek", "Program eljárásai !"},
    {"", "Informci1", "Információ", "Programmal kapcsolatos információk !"},
    {"", "Keress2", "Kilépés", "Program használatának befejezése !"},
    {"Mveletek1", "Adatkarbantarts1", "Adatkarbantartás", "Adatok karbantartása !"},
    {"Mveletek1", "N2", "-", ""},
    {"Mveletek1", "Keress1", "Keresés", "Adatok keresése !"},
    {"Mveletek1", "Listzs1", "Listázás", "Adatok listázása !"},
    {"Mveletek1", "N3", "-", ""},
    {"Mveletek1", "Statisztika1", "Statisztika", "Statisztikai adatok a településekről !"},
    {"Mveletek1", "N7", "-", ""},
    {"Mveletek1", "Szrs1", "Szűrés", "Megjelenítendő adatok szűrése !"},
    {"Listzs1", "Egyszer1", "Egyszerű", "Adatok egyszerűsített listája !"},
    {"Listzs1", "Kzp1", "Közép", "Adatok középszintű listája !"},
    {"Listzs1", "eljes1", "Teljes", "Adatok teljes listája !"},
    {"Statisztika1", "Igazgatsirang1", "Igazgatási rang", "Település adatok megoszlása igazgatási rang szerint !"},
    {"Statisztika1", "Rgi1", "Régió", "Település adatok megoszlása régiók szerint !"},
    {"Statisztika1", "Megye1", "Megye", "Település adatok megoszlása megyék szerint !"},
    {"Statisztika1", "Kistrsg1", "Kistérség", "Település adatok megoszlása kistérségek szerint !"},
    {"Statisztika1", "elefonkrzet1", "Telefon körzet", "Település adatok megoszlása telefon körzetek szerint !"},
    {"Informci1", "Lers1", "Leírás", "Program használatának leírása !"},
    {"Informci1", "N5", "-", ""},
    {"Informci1", "Frissts1", "Frissítés", "Frissítés keresése (internet kapcsolat szükséges) !"},
    {"Informci1", "N6", "-", ""},
    {"Informci1", "Nvjegy1", "Névjegy", "Program bemutatkozása !"},
    {"Frissts1", "Keress3", "Keresés", "Újabb verzió keresése, letöltése, telepítése !"},
    {"Keress2", "Befejezs1", "Befejezés", "Program használatának befejezése !"},
};

TEST_F(MainWindowTest, MenuTreeHasEveryCommandInOrderWithCaptionAndHint) {
  // Rebuild the tree from the widgets and compare it entry by entry with the table.
  QList<QAction*> listed;
  auto listChildren = [&](const char* parent, const QList<QAction*>& actions) {
    for (QAction* a : actions) {
      SCOPED_TRACE(a->objectName().toStdString());
      const MenuEntry* entry = nullptr;
      for (const MenuEntry& e : kMenu)
        if (a->objectName() == QLatin1String(e.Name)) entry = &e;
      ASSERT_NE(entry, nullptr) << "unexpected menu item";
      EXPECT_STREQ(entry->Parent, parent);
      if (QString::fromUtf8(entry->Caption) == u"-") {
        EXPECT_TRUE(a->isSeparator());
      } else {
        EXPECT_FALSE(a->isSeparator());
        EXPECT_EQ(a->text(), QString::fromUtf8(entry->Caption));
        EXPECT_EQ(a->statusTip(), QString::fromUtf8(entry->Hint));
      }
      listed << a;
    }
  };
  listChildren("", Form().menuBar()->actions());
  for (int i = 0; i < listed.size(); ++i)
    if (QMenu* sub = listed[i]->menu()) listChildren(listed[i]->objectName().toLatin1().constData(), sub->actions());

  ASSERT_EQ(listed.size(), static_cast<qsizetype>(std::size(kMenu)));
  // Order within each parent follows the table.
  for (const MenuEntry& e : kMenu) {
    QStringList expected, actual;
    for (const MenuEntry& f : kMenu)
      if (QLatin1String(f.Parent) == QLatin1String(e.Parent)) expected << QLatin1String(f.Name);
    for (QAction* a : listed) {
      for (const MenuEntry& f : kMenu)
        if (a->objectName() == QLatin1String(f.Name) && QLatin1String(f.Parent) == QLatin1String(e.Parent))
          actual << a->objectName();
    }
    EXPECT_EQ(actual, expected) << "children of '" << e.Parent << "'";
  }
}

TEST_F(MainWindowTest, HoveredMenuCommandShowsItsHintInTheStatusBar) {
  QMenuBar* bar = Form().menuBar();
  QAction* ops = Action("Mveletek1");
  QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(ops).center());
  QMenu* menu = ops->menu();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(menu));

  QAction* maintenance = Action("Adatkarbantarts1");
  QTest::mouseMove(menu, menu->actionGeometry(maintenance).center());
  EXPECT_TRUE(QTest::qWaitFor([&] { return Form().statusBar()->currentMessage() == u"Adatok karbantartása !"; }))
      << Form().statusBar()->currentMessage().toStdString();

  QAction* search = Action("Keress1");
  QTest::mouseMove(menu, menu->actionGeometry(search).center());
  EXPECT_TRUE(QTest::qWaitFor([&] { return Form().statusBar()->currentMessage() == u"Adatok keresése !"; }));

  menu->close();
}

TEST_F(MainWindowTest, GuardedCommandsShowOnlyTheEmptyTableMessage) {
  for (const char* name : {"Keress1", "Egyszer1", "Kzp1", "eljes1", "Igazgatsirang1", "Rgi1", "Megye1", "Kistrsg1",
                           "elefonkrzet1"}) {
    SCOPED_TRACE(name);
    TMessageBoxes boxes;
    bool modalOpened = false;
    boxes.WhileOpen([&](const tk::TMessageBoxRequest&) { modalOpened = QApplication::activeModalWidget() != nullptr; });
    Action(name)->trigger();
    ASSERT_EQ(boxes.Shown().size(), 1u);
    EXPECT_EQ(boxes.Shown()[0].Title, u"Figyelem:");
    EXPECT_EQ(boxes.Shown()[0].Text, u"Üres az adatállomáy !!!");
    EXPECT_EQ(boxes.Shown()[0].Buttons, QMessageBox::Ok);
    EXPECT_FALSE(modalOpened);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  }
}

TEST_F(MainWindowTest, UnguardedCommandsOpenTheirWindows) {
  const struct {
    const char* Command;
    const char* Window;
    const char* Caption;
  } cases[] = {
      {"Adatkarbantarts1", "Form2", " Adatok Karbantartása:"},
      {"Szrs1", "Form6", " Megjelenítendő adatok szűrése:"},
      {"Nvjegy1", "Form7", " Névjegy:"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Command);
    TMessageBoxes boxes;
    QString opened, caption;
    testsupport::WhenModalShown([&](QWidget* w) {
      opened = w->objectName();
      caption = w->windowTitle();
      w->close();
    });
    Action(c.Command)->trigger();
    EXPECT_EQ(opened, QLatin1String(c.Window));
    EXPECT_EQ(caption, QString::fromUtf8(c.Caption));
    EXPECT_TRUE(boxes.Shown().empty());
  }
}

TEST_F(MainWindowTest, CloseQuestionNoKeepsWindowAndTablesYesClosesBoth) {
  TMessageBoxes boxes;
  QString statusDuringQuestion;
  boxes.WhileOpen([&](const tk::TMessageBoxRequest&) { statusDuringQuestion = Form().statusBar()->currentMessage(); });

  boxes.Answer(QMessageBox::No);
  EXPECT_FALSE(Form().close());
  ASSERT_EQ(boxes.Shown().size(), 1u);
  EXPECT_EQ(boxes.Shown()[0].Title, u"Program vége:");
  EXPECT_EQ(boxes.Shown()[0].Text, u"Biztosan be kívánja fejezni a program használatát ?");
  EXPECT_EQ(boxes.Shown()[0].Buttons, QMessageBox::Yes | QMessageBox::No);
  EXPECT_EQ(boxes.Shown()[0].Icon, QMessageBox::NoIcon);
  EXPECT_EQ(statusDuringQuestion, u"Program használatának befejezése !");
  EXPECT_TRUE(Form().isVisible());
  EXPECT_EQ(Form().statusBar()->currentMessage(), u"Program használatának befejezése !");
  EXPECT_TRUE(Data().Table1.Active());
  EXPECT_TRUE(Data().Table2.Active());

  boxes.Answer(QMessageBox::Yes);
  EXPECT_TRUE(Form().close());
  EXPECT_FALSE(Form().isVisible());
  EXPECT_TRUE(Form().statusBar()->currentMessage().isEmpty());
  EXPECT_FALSE(Data().Table1.Active());
  EXPECT_FALSE(Data().Table2.Active());
}

TEST_F(MainWindowTest, EndCommandAsksAndTerminatesOnlyOnYes) {
  TMessageBoxes boxes;
  boxes.Answer(QMessageBox::No);
  Action("Befejezs1")->trigger();
  EXPECT_EQ(App.Terminations, 0);
  EXPECT_TRUE(Form().statusBar()->currentMessage().isEmpty());

  boxes.Answer(QMessageBox::Yes);
  Action("Befejezs1")->trigger();
  EXPECT_EQ(App.Terminations, 1);
  ASSERT_EQ(boxes.Shown().size(), 2u);
  EXPECT_EQ(boxes.Shown()[1].Title, u"Program vége:");
  // Tables stay open until the data module is released.
  EXPECT_TRUE(Data().Table1.Active());
}

TEST_F(MainWindowTest, ManualMissingShowsErrorAndChangesNothingElse) {
  ASSERT_FALSE(QFile::exists(QStringLiteral("Leírás.pdf")));
  TMessageBoxes boxes;
  Action("Lers1")->trigger();
  ASSERT_EQ(boxes.Shown().size(), 1u);
  EXPECT_EQ(boxes.Shown()[0].Title, u"Hiba történt:");
  EXPECT_EQ(boxes.Shown()[0].Text, u"Leírás.pdf állomány nem található vagy nincs telepítve Acrobat olvasó program !!!");
  EXPECT_TRUE(Form().isVisible());
  EXPECT_TRUE(Data().Table1.Active());
  EXPECT_TRUE(Data().Table2.Active());
  EXPECT_EQ(App.Terminations, 0);
  QStringList created = QDir::current().entryList(QDir::NoDotAndDotDot | QDir::AllEntries);
  created.removeIf(apptest::TEmptySettlementTables::IsDatabaseFile);
  EXPECT_TRUE(created.isEmpty()) << created.join(u',').toStdString();
}

TEST_F(MainWindowTest, ShowingTheMainWindowOpensBothTables) {
  EXPECT_TRUE(Data().Table1.Active());
  EXPECT_TRUE(Data().Table2.Active());
  EXPECT_EQ(Data().Table1.IndexName(), u"TELEP");
}

TEST(StartupTest, InstancesAreCreatedInTheProgramsOrder) {
  testsupport::TTempWorkingDir dir;
  vidora::TDesktopShell shell;
  TTestVidora app(shell);
  app.CreateInstances();
  const QStringList expected = {"Form1",        "Form2",        "Form5",        "Form6",        "Form7",
                                "Form8",        "DataModule9",  "BandReport10", "BandReport11", "BandReport12",
                                "BandReport13", "Form14",       "Form15",       "Form16",       "Form17",
                                "Form18"};
  EXPECT_EQ(app.CreationOrder(), expected);
  // No table is open before the main window is shown.
  EXPECT_FALSE(app.DataModule9()->Table1.Active());
  EXPECT_FALSE(app.DataModule9()->Table2.Active());
}

}  // namespace
