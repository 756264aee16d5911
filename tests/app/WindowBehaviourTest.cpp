// How the windows behave where a user trips: the program ends once on each of its paths
// (with the close question only where the main window asks it), Enter and Esc close no
// window, and a pending change of a settlement is posted, cancelled or kept on close as
// the user answers.
#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <memory>

#include "QtTestSupport.h"
#include "SettlementTables.h"
#include "Shell.h"
#include "Unit1.h"
#include "Unit14.h"
#include "Unit15.h"
#include "Unit16.h"
#include "Unit17.h"
#include "Unit18.h"
#include "Unit2.h"
#include "Unit5.h"
#include "Unit6.h"
#include "Unit7.h"
#include "Unit8.h"
#include "Unit9.h"
#include "Vidora.h"
#include "widgets/DBGrid.h"

namespace {

using testsupport::TMessageBoxes;

// A shell that starts nothing and remembers what it was asked to start.
class TRecordingShell : public vidora::IShell {
 public:
  bool OpenDocument(const QString&) override { return false; }
  bool OpenAddress(const QString&) override { return false; }
  bool StartProgram(const QString& program, const QStringList&) override {
    Started << program;
    return true;
  }
  QStringList Started;
};

const QString kExitQuestion = QStringLiteral("Biztosan be kívánja fejezni a program használatát ?");
const QString kSaveQuestion = QStringLiteral("A módosítások mentése?");

std::string Texts(const TMessageBoxes& boxes) {
  QStringList texts;
  for (const auto& box : boxes.Shown())
    texts << QStringLiteral("[%1] %2 (%3)").arg(box.Title, box.Text).arg(int(box.Buttons));
  return texts.join(QStringLiteral(" | ")).toStdString();
}

int Count(const TMessageBoxes& boxes, const QString& text) {
  int n = 0;
  for (const auto& box : boxes.Shown())
    if (box.Text == text) ++n;
  return n;
}

// The real program, its message loop included: the loop ends only through the program's
// own ending, as in main.
class ProgramEndTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FQuitOnLastWindowClosed = QApplication::quitOnLastWindowClosed();
    QApplication::setQuitOnLastWindowClosed(false);
    App = std::make_unique<vidora::TVidora>(Shell);
    App->CreateInstances();
    App->Form1()->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(App->Form1()));
  }
  void TearDown() override {
    App.reset();
    QApplication::setQuitOnLastWindowClosed(FQuitOnLastWindowClosed);
  }

  // Runs `action` inside the message loop; true when the loop ended before `patienceMs`.
  static bool LoopEndsAfter(std::function<void()> action, int patienceMs = 5000) {
    bool timedOut = false;
    QTimer guard;
    guard.setSingleShot(true);
    QObject::connect(&guard, &QTimer::timeout, [&] {
      timedOut = true;
      QCoreApplication::exit(1);
    });
    guard.start(patienceMs);
    QTimer::singleShot(0, qApp, std::move(action));
    QApplication::exec();
    return !timedOut;
  }

  QAction* Action(const char* name) { return App->Form1()->findChild<QAction*>(QLatin1String(name)); }

  testsupport::TTempWorkingDir WorkingDir;
  apptest::TEmptySettlementTables Tables;
  TRecordingShell Shell;
  std::unique_ptr<vidora::TVidora> App;

 private:
  bool FQuitOnLastWindowClosed = true;
};

TEST_F(ProgramEndTest, EndCommandYesAsksOnceAndEnds) {
  TMessageBoxes boxes;
  boxes.Answer(QMessageBox::Yes);
  EXPECT_TRUE(LoopEndsAfter([&] { Action("Befejezs1")->trigger(); }));
  EXPECT_EQ(Count(boxes, kExitQuestion), 1);
  EXPECT_EQ(boxes.Shown().size(), 1u) << Texts(boxes);
  EXPECT_TRUE(App->TerminateRequested());
  // Whatever closes the main window now asks nothing more.
  App->Form1()->close();
  EXPECT_EQ(boxes.Shown().size(), 1u);
}

TEST_F(ProgramEndTest, EndCommandNoKeepsTheProgramRunning) {
  TMessageBoxes boxes;
  boxes.Answer(QMessageBox::No);
  EXPECT_FALSE(LoopEndsAfter([&] { Action("Befejezs1")->trigger(); }, 300));
  EXPECT_EQ(boxes.Shown().size(), 1u);
  EXPECT_FALSE(App->TerminateRequested());
  EXPECT_TRUE(App->Form1()->isVisible());
}

TEST_F(ProgramEndTest, ClosingTheMainWindowAsksOnceAndEnds) {
  TMessageBoxes boxes;
  boxes.Answer(QMessageBox::Yes);
  EXPECT_TRUE(LoopEndsAfter([&] { App->Form1()->close(); }));
  EXPECT_EQ(Count(boxes, kExitQuestion), 1);
  EXPECT_EQ(boxes.Shown().size(), 1u) << Texts(boxes);
  EXPECT_FALSE(App->Form1()->isVisible());
  EXPECT_FALSE(App->DataModule9()->Table1.Active());
  EXPECT_FALSE(App->DataModule9()->Table2.Active());
}

TEST_F(ProgramEndTest, UpdateCommandEndsWithoutAnyQuestion) {
  TMessageBoxes boxes;
  EXPECT_TRUE(LoopEndsAfter([&] { Action("Keress3")->trigger(); }));
  EXPECT_TRUE(boxes.Shown().empty()) << Texts(boxes);
  EXPECT_EQ(Shell.Started, QStringList{QStringLiteral("Update.exe")});
  App->Form1()->close();
  EXPECT_TRUE(boxes.Shown().empty());
}

// The windows over a copy of the real settlement database. Ending the program is only noted.
class TTestVidora : public vidora::TVidora {
 public:
  using TVidora::TVidora;
  void Terminate() override { ++Terminations; }
  int Terminations = 0;
};

class WindowKeysTest : public ::testing::Test {
 protected:
  void SetUp() override { Start(); }

  void Start() {
    App = std::make_unique<TTestVidora>(Shell);
    App->CreateInstances();
    App->Form1()->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(App->Form1()));
  }
  // Ends the program as far as the tables are concerned and starts it again.
  void Restart() {
    App.reset();
    Start();
  }

  vdbds::TVdbTable& Table1() { return App->DataModule9()->Table1; }
  QString Field(const char16_t* name) { return QString::fromStdU16String(Table1().FieldByName(name).AsString()); }

  // Shows `form` modally and runs `checks` while it is open. Any other window that opens
  // modally meanwhile is named in `intruders` and closed, so a fault cannot block the test.
  template <class F>
  void WhileShown(vidora::TModalForm& form, F&& checks, QStringList* intruders = nullptr) {
    QTimer watch;
    watch.setInterval(10);
    QObject::connect(&watch, &QTimer::timeout, [&] {
      QWidget* modal = QApplication::activeModalWidget();
      if (modal && modal != &form && modal->isVisible()) {
        if (intruders) *intruders << modal->objectName();
        modal->close();
      }
    });
    watch.start();
    bool ran = false;
    testsupport::WhenModalShown([&](QWidget*) {
      form.activateWindow();
      EXPECT_TRUE(QTest::qWaitForWindowActive(&form));
      checks();
      ran = true;
      // Closing may be refused while a change is pending: the test settles it first. A window
      // that still refuses is a fault; it is shut so the test ends.
      if (!form.close()) {
        ADD_FAILURE() << form.objectName().toStdString() << " refused to close";
        form.done(QDialog::Rejected);
      }
    });
    form.ShowModal();
    EXPECT_TRUE(ran) << form.objectName().toStdString() << " never showed";
  }

  static void Key(QWidget* target, Qt::Key key) { QTest::keyClick(target, key); }

  testsupport::TTempWorkingDir WorkingDir;
  apptest::TRealSettlementTables Tables;
  vidora::TDesktopShell Shell;
  std::unique_ptr<TTestVidora> App;
};

TEST_F(WindowKeysTest, EnterInTheSearchBoxesSearchesAndClosesNothing) {
  const struct {
    vidora::TModalForm* Form;
    QLineEdit* Box;
  } cases[] = {{App->Form2(), App->Form2()->Edit1()}, {App->Form5(), App->Form5()->Edit1()}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Form->objectName().toStdString());
    TMessageBoxes boxes;
    QStringList intruders;
    WhileShown(
        *c.Form,
        [&] {
          c.Box->setFocus();
          QTest::keyClicks(c.Box, QStringLiteral("Szeged"));
          Key(c.Box, Qt::Key_Return);
          Key(c.Box, Qt::Key_Enter);
          QTest::qWait(50);
          EXPECT_TRUE(c.Form->isVisible());
          EXPECT_FALSE(App->Form6()->isVisible());
          EXPECT_EQ(c.Box->text(), u"Szeged");
          EXPECT_EQ(Field(u"TELEP"), u"Szeged");
        },
        &intruders);
    EXPECT_TRUE(intruders.isEmpty()) << intruders.join(u',').toStdString();
    EXPECT_TRUE(boxes.Shown().empty());
  }
}

TEST_F(WindowKeysTest, NoPushButtonOfAModalWindowIsADefaultButton) {
  for (vidora::TModalForm* form :
       std::initializer_list<vidora::TModalForm*>{App->Form2(), App->Form5(), App->Form6(), App->Form7()}) {
    SCOPED_TRACE(form->objectName().toStdString());
    WhileShown(*form, [&] {
      for (QPushButton* button : form->findChildren<QPushButton*>()) {
        EXPECT_FALSE(button->isDefault()) << button->objectName().toStdString();
        EXPECT_FALSE(button->autoDefault()) << button->objectName().toStdString();
      }
    });
  }
}

TEST_F(WindowKeysTest, EscLeavesEveryModalWindowOpen) {
  for (vidora::TModalForm* form : std::initializer_list<vidora::TModalForm*>{
           App->Form2(), App->Form5(), App->Form6(), App->Form7(), App->Form8(), App->Form14(), App->Form15(),
           App->Form16(), App->Form17(), App->Form18()}) {
    SCOPED_TRACE(form->objectName().toStdString());
    TMessageBoxes boxes;
    QStringList intruders;
    WhileShown(
        *form,
        [&] {
          QWidget* focus = QApplication::focusWidget();
          Key(focus && form->isAncestorOf(focus) ? focus : form, Qt::Key_Escape);
          Key(form, Qt::Key_Escape);
          QTest::qWait(20);
          EXPECT_TRUE(form->isVisible());
        },
        &intruders);
    EXPECT_TRUE(intruders.isEmpty()) << intruders.join(u',').toStdString();
    EXPECT_TRUE(boxes.Shown().empty());
  }
}

// The open cell editor of the maintenance window's grid, if any.
QLineEdit* CellEditor(vidora::TForm2& form) {
  for (QLineEdit* editor : form.DBGrid1()->View()->viewport()->findChildren<QLineEdit*>())
    if (editor->isVisible()) return editor;
  return nullptr;
}

// Finds a settlement through the maintenance window's search box and types `text` into its
// telephone area cell of the grid; the change is then pending.
void TypeIntoTelk(vidora::TForm2& form, const QString& settlement, const QString& text) {
  form.Edit1()->setFocus();
  QTest::keyClicks(form.Edit1(), settlement);
  QTableView* view = form.DBGrid1()->View();
  const QModelIndex cell = view->model()->index(form.DBGrid1()->Model()->ActiveRow(), 2);
  view->setFocus();
  view->setCurrentIndex(cell);
  QTest::keyClick(view, Qt::Key_F2);
  QLineEdit* editor = CellEditor(form);
  ASSERT_NE(editor, nullptr) << "no cell editor opened";
  editor->selectAll();
  QTest::keyClicks(editor, text);
}

TEST_F(WindowKeysTest, EscInTheGridCancelsTheCellEditAndLeavesTheWindowOpen) {
  vidora::TForm2& form = *App->Form2();
  TMessageBoxes boxes;
  QString before;
  WhileShown(form, [&] {
    form.Edit1()->setFocus();
    QTest::keyClicks(form.Edit1(), QStringLiteral("Szeged"));
    before = Field(u"TELK");
    TypeIntoTelk(form, QString(), QStringLiteral("99"));
    EXPECT_EQ(Table1().State(), tk::TDataSetState::dsEdit);
    QLineEdit* editor = CellEditor(form);
    ASSERT_NE(editor, nullptr);
    Key(editor, Qt::Key_Escape);  // closes the cell editor
    EXPECT_EQ(CellEditor(form), nullptr);
    Key(form.DBGrid1()->View(), Qt::Key_Escape);  // gives the change of the record up
    QTest::qWait(20);
    EXPECT_TRUE(form.isVisible());
    EXPECT_EQ(Table1().State(), tk::TDataSetState::dsBrowse);
    EXPECT_EQ(Field(u"TELEP"), u"Szeged");
    EXPECT_EQ(Field(u"TELK"), before);
  });
  EXPECT_TRUE(boxes.Shown().empty()) << "nothing was pending at the close";
}

TEST_F(WindowKeysTest, ClosingWithAPendingEditAsksAndEachAnswerDoesWhatItSays) {
  vidora::TForm2& form = *App->Form2();
  QString original;
  // Mégse: the window stays open and the change stays pending; Nem then drops it.
  {
    TMessageBoxes boxes;
    boxes.Answer(QMessageBox::Cancel);
    boxes.Answer(QMessageBox::No);
    WhileShown(form, [&] {
      form.Edit1()->setFocus();
      QTest::keyClicks(form.Edit1(), QStringLiteral("Szeged"));
      original = Field(u"TELK");
      TypeIntoTelk(form, QString(), QStringLiteral("11"));
      EXPECT_FALSE(form.close());
      EXPECT_TRUE(form.isVisible());
      EXPECT_EQ(Table1().State(), tk::TDataSetState::dsEdit);
      EXPECT_EQ(Field(u"TELK"), u"11");
    });
    ASSERT_EQ(boxes.Shown().size(), 2u);
    for (const auto& box : boxes.Shown()) {
      EXPECT_EQ(box.Text, kSaveQuestion);
      EXPECT_EQ(box.Buttons, QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
    }
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(Table1().State(), tk::TDataSetState::dsBrowse);
    EXPECT_EQ(Field(u"TELK"), original);
  }
  Restart();
  ASSERT_TRUE(Table1().FindKey({u"Szeged"}));
  EXPECT_EQ(Field(u"TELK"), original) << "the cancelled value was not stored";

  // Igen: posted, and still there after the program starts again.
  {
    TMessageBoxes boxes;
    boxes.Answer(QMessageBox::Yes);
    vidora::TForm2& again = *App->Form2();
    WhileShown(again, [&] { TypeIntoTelk(again, QStringLiteral("Szeged"), QStringLiteral("22")); });
    EXPECT_EQ(Count(boxes, kSaveQuestion), 1);
    EXPECT_FALSE(again.isVisible());
    EXPECT_EQ(Table1().State(), tk::TDataSetState::dsBrowse);
  }
  Restart();
  ASSERT_TRUE(Table1().FindKey({u"Szeged"}));
  EXPECT_EQ(Field(u"TELK"), u"22");

  // Reopening shows the window in browse mode: nothing was left pending.
  TMessageBoxes boxes;
  WhileShown(*App->Form2(), [&] { EXPECT_EQ(Table1().State(), tk::TDataSetState::dsBrowse); });
  EXPECT_TRUE(boxes.Shown().empty());
}

TEST_F(WindowKeysTest, APendingInsertIsAskedAboutToo) {
  vidora::TForm2& form = *App->Form2();
  const int before = Table1().RecordCount();
  TMessageBoxes boxes;
  boxes.Answer(QMessageBox::No);
  WhileShown(form, [&] {
    form.DBGrid1()->View()->setFocus();
    Key(form.DBGrid1()->View(), Qt::Key_Insert);
    EXPECT_EQ(Table1().State(), tk::TDataSetState::dsInsert);
  });
  EXPECT_EQ(Count(boxes, kSaveQuestion), 1);
  EXPECT_EQ(Table1().RecordCount(), before);
}

TEST_F(WindowKeysTest, AFailedPostKeepsTheWindowOpenWithTheMessage) {
  vidora::TForm2& form = *App->Form2();
  Table1().BeforePost = [](tk::TDataSet&) { tk::DatabaseError(u"Record is locked by another user"); };
  TMessageBoxes boxes;
  boxes.Answer(QMessageBox::Yes);  // post: refused
  boxes.Answer(QMessageBox::Ok);   // the error
  boxes.Answer(QMessageBox::No);   // then drop the change, so the window can close
  bool stayedOpen = false;
  WhileShown(form, [&] {
    TypeIntoTelk(form, QStringLiteral("Szeged"), QStringLiteral("33"));
    stayedOpen = !form.close() && form.isVisible() && Table1().State() == tk::TDataSetState::dsEdit;
  });
  Table1().BeforePost = nullptr;
  EXPECT_TRUE(stayedOpen);
  ASSERT_GE(boxes.Shown().size(), 3u);
  EXPECT_EQ(boxes.Shown()[0].Text, kSaveQuestion);
  EXPECT_EQ(boxes.Shown()[1].Text, u"Record is locked by another user");
  EXPECT_EQ(boxes.Shown()[2].Text, kSaveQuestion);
  EXPECT_EQ(Table1().State(), tk::TDataSetState::dsBrowse);
}

TEST_F(WindowKeysTest, EndingTheProgramWithAPendingEditAsksFirst) {
  vidora::TForm2& form = *App->Form2();
  TMessageBoxes boxes;
  boxes.Answer(QMessageBox::Yes);     // the close question
  boxes.Answer(QMessageBox::Cancel);  // keep editing: the program goes on
  WhileShown(form, [&] {
    TypeIntoTelk(form, QStringLiteral("Szeged"), QStringLiteral("44"));
    EXPECT_FALSE(App->Form1()->close());
    EXPECT_EQ(App->Terminations, 0);
    EXPECT_TRUE(Table1().Active());
    EXPECT_EQ(Table1().State(), tk::TDataSetState::dsEdit);
    Table1().Cancel();
  });
  ASSERT_EQ(boxes.Shown().size(), 2u);
  EXPECT_EQ(boxes.Shown()[0].Text, kExitQuestion);
  EXPECT_EQ(boxes.Shown()[1].Text, kSaveQuestion);
}

}  // namespace
