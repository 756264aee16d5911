// Two Vidora programs on one copy of the settlement database: this one with its maintenance
// window open, and a second program started as a process of its own (vidora_peer). A
// population the other posts is shown here after a move or a refresh; a settlement the other
// deleted or holds in edit is refused here with the engine's message, and the other way round.
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

#include <memory>

#include "QtTestSupport.h"
#include "SettlementTables.h"
#include "Shell.h"
#include "Unit1.h"
#include "Unit2.h"
#include "Unit9.h"
#include "Vidora.h"
#include "widgets/DBGrid.h"
#include "widgets/DBGridModel.h"
#include "widgets/DBNavigator.h"

namespace {

using testsupport::TMessageBoxes;
using tk::TNavigatorButton;

constexpr int kSettlements = 3155;

class TwoProgramsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App = std::make_unique<vidora::TVidora>(Shell);
    App->CreateInstances();
    // A record the other program holds is asked for again until the locking time-out; a short
    // one keeps the test quick, the outcome is the same.
    App->DataModule9()->VdbDatabase1.LockingTimeout = 300;
    App->Form1()->show();
    ASSERT_FALSE(App->TerminateRequested());
    ASSERT_TRUE(Table1().Active());
    Peer.setProgram(QStringLiteral(VIDORA_PEER));
    Peer.setWorkingDirectory(WorkingDir.Path());
    Peer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    Peer.start();
    ASSERT_TRUE(Peer.waitForStarted(30000));
    ASSERT_EQ(ReadLine(), "ready");
  }
  void TearDown() override {
    if (Peer.state() == QProcess::Running) {
      Peer.write("quit\n");
      EXPECT_TRUE(Peer.waitForFinished(60000));
      EXPECT_EQ(Peer.exitCode(), 0);
    }
    App.reset();
  }

  std::string ReadLine() {
    while (!Peer.canReadLine())
      if (!Peer.waitForReadyRead(60000)) return "(no answer)";
    return QString::fromUtf8(Peer.readLine()).trimmed().toStdString();
  }
  // A command to the other program; its answer.
  std::string Ask(const QString& command) {
    Peer.write((command + QLatin1Char('\n')).toUtf8());
    return ReadLine();
  }

  // The other program keeps its table lock about 10 ms past its last use, and this one sees
  // its change once it gives the lock back: wait for that in the lock file's header (upgrade
  // and write lock counts at offsets 18 and 20).
  void WaitForTheOtherToLetGo() {
    QFile file(QDir(WorkingDir.Path()).filePath(QStringLiteral("Irsz.vdbl")));
    for (int i = 0; i < 2500; ++i) {
      if (file.open(QIODevice::ReadOnly)) {
        const QByteArray header = file.read(30);
        file.close();
        if (header.size() == 30 && header.mid(18, 4) == QByteArray(4, '\0')) return;
      }
      QTest::qWait(2);
    }
    FAIL() << "the other program kept its lock";
  }

  vdbds::TVdbTable& Table1() { return App->DataModule9()->Table1; }
  QString Field(const char16_t* name) { return QString::fromStdU16String(Table1().FieldByName(name).AsString()); }
  QToolButton* NavButton(TNavigatorButton button) { return App->Form2()->DBNavigator1()->Button(button); }
  void Click(TNavigatorButton button) { QTest::mouseClick(NavButton(button), Qt::LeftButton); }

  // What the maintenance window's grid shows in `title`'s column on the row of `settlement`.
  QString GridText(const QString& settlement, const QString& title) {
    tk::TDBGridModel& model = *App->Form2()->DBGrid1()->Model();
    int nameColumn = -1, column = -1;
    for (int c = 0; c < model.columnCount(); ++c) {
      const QString header = model.headerData(c, Qt::Horizontal, Qt::DisplayRole).toString();
      if (header == QStringLiteral("Település")) nameColumn = c;
      if (header == title) column = c;
    }
    for (int r = 0; r < model.rowCount(); ++r)
      if (model.data(model.index(r, nameColumn), Qt::DisplayRole).toString() == settlement)
        return model.data(model.index(r, column), Qt::DisplayRole).toString();
    return QStringLiteral("(no row)");
  }

  template <class F>
  void WhileShown(vidora::TModalForm& form, F&& checks) {
    EXPECT_TRUE(testsupport::WhileShownModally(form, std::forward<F>(checks)));
  }

  testsupport::TTempWorkingDir WorkingDir;
  apptest::TRealSettlementTables Tables;
  vidora::TDesktopShell Shell;
  std::unique_ptr<vidora::TVidora> App;
  QProcess Peer;
};

const QString kPopulation = QStringLiteral("Lakó népesség");

TEST_F(TwoProgramsTest, APopulationPostedByTheOtherIsShownAfterAMoveAndAfterARefresh) {
  vidora::TForm2& form = *App->Form2();
  WhileShown(form, [&] {
    QTest::keyClicks(form.Edit1(), QStringLiteral("Tata"));
    ASSERT_EQ(Field(u"TELEP"), QStringLiteral("Tata"));
    ASSERT_EQ(Ask(QStringLiteral("population Tata 12345")), "ok");
    WaitForTheOtherToLetGo();

    Click(TNavigatorButton::nbNext);
    Click(TNavigatorButton::nbPrior);
    EXPECT_EQ(Field(u"TELEP"), QStringLiteral("Tata"));
    EXPECT_EQ(Field(u"NEPESS"), QStringLiteral("12345"));
    EXPECT_EQ(GridText(QStringLiteral("Tata"), kPopulation), QStringLiteral("12345"));

    ASSERT_EQ(Ask(QStringLiteral("population Tata 23456")), "ok");
    Click(TNavigatorButton::nbRefresh);
    EXPECT_EQ(Field(u"NEPESS"), QStringLiteral("23456"));
    EXPECT_EQ(GridText(QStringLiteral("Tata"), kPopulation), QStringLiteral("23456"));
  });
}

TEST_F(TwoProgramsTest, ASettlementTheOtherDeletedIsRefusedWithTheMessageAndGoesAtTheRefresh) {
  vidora::TForm2& form = *App->Form2();
  WhileShown(form, [&] {
    QTest::keyClicks(form.Edit1(), QStringLiteral("Tata"));
    ASSERT_EQ(Field(u"TELEP"), QStringLiteral("Tata"));
    ASSERT_EQ(Ask(QStringLiteral("delete Tata")), "ok");

    TMessageBoxes boxes;
    Click(TNavigatorButton::nbEdit);
    ASSERT_EQ(boxes.Shown().size(), 1u);
    EXPECT_EQ(boxes.Shown()[0].Text, QStringLiteral("This record has been deleted"));
    EXPECT_EQ(Table1().State(), tk::TDataSetState::dsBrowse);

    Click(TNavigatorButton::nbRefresh);
    EXPECT_NE(Field(u"TELEP"), QStringLiteral("Tata"));
    EXPECT_EQ(GridText(QStringLiteral("Tata"), kPopulation), QStringLiteral("(no row)"));
    EXPECT_EQ(Table1().RecordCount(), kSettlements - 1);
    EXPECT_EQ(boxes.Shown().size(), 1u);
  });
}

TEST_F(TwoProgramsTest, ASettlementInEditInOneProgramIsRefusedInTheOtherWithTheMessage) {
  vidora::TForm2& form = *App->Form2();
  WhileShown(form, [&] {
    QTest::keyClicks(form.Edit1(), QStringLiteral("Tata"));
    ASSERT_EQ(Field(u"TELEP"), QStringLiteral("Tata"));
    ASSERT_EQ(Ask(QStringLiteral("edit Tata")), "ok");

    TMessageBoxes boxes;
    Click(TNavigatorButton::nbEdit);
    ASSERT_EQ(boxes.Shown().size(), 1u);
    EXPECT_TRUE(boxes.Shown()[0].Text.contains(QStringLiteral("Record is being edited by another user")))
        << boxes.Shown()[0].Text.toStdString();
    EXPECT_EQ(Table1().State(), tk::TDataSetState::dsBrowse);

    // Once the other posted, this one edits the record as the other left it.
    ASSERT_EQ(Ask(QStringLiteral("post")), "ok");
    Click(TNavigatorButton::nbEdit);
    ASSERT_EQ(Table1().State(), tk::TDataSetState::dsEdit);
    Table1().FieldByName(u"NEPESS").SetAsInteger(999);
    // While this one holds it, the other's delete is refused with the same message.
    const std::string refused = Ask(QStringLiteral("delete Tata"));
    EXPECT_EQ(refused.rfind("error ", 0), 0u) << refused;
    EXPECT_NE(refused.find("Record is being edited by another user"), std::string::npos) << refused;
    Click(TNavigatorButton::nbPost);
    EXPECT_EQ(Table1().State(), tk::TDataSetState::dsBrowse);
    EXPECT_EQ(Ask(QStringLiteral("show Tata")), "ok 999");
    EXPECT_EQ(boxes.Shown().size(), 1u);
  });
}

// The program itself, ended by SIGTERM as a logout or `kill` ends it: it leaves its tables as
// its own exit does, so no lock file stays behind for the next start to reclaim.
TEST(ProgramSignalTest, SigtermClosesTheTablesAndLeavesTheirLockFiles) {
  testsupport::TTempWorkingDir workingDir;
  apptest::TEmptySettlementTables tables;
  QProcess program;
  program.setProgram(QStringLiteral(VIDORA_PROGRAM));
  program.setArguments({QStringLiteral("--database"), workingDir.Path()});
  program.setProcessChannelMode(QProcess::ForwardedChannels);
  program.start();
  ASSERT_TRUE(program.waitForStarted(30000));
  const QString lockFile = QDir(workingDir.Path()).filePath(QStringLiteral("Irsz.vdbl"));
  for (int i = 0; i < 600 && !QFile::exists(lockFile); ++i) QTest::qWait(100);
  ASSERT_TRUE(QFile::exists(lockFile)) << "the program never opened its tables";
  program.terminate();
  ASSERT_TRUE(program.waitForFinished(60000));
  EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(program.exitCode(), 0);
  EXPECT_FALSE(QFile::exists(lockFile));
  EXPECT_FALSE(QFile::exists(QDir(workingDir.Path()).filePath(QStringLiteral("Irsz_tmp.vdbl"))));
}

}  // namespace
