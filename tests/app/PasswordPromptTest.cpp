// The register on a database made by `vidora_mkdb --password`: the data module asks the key in
// a dialog, asks again after a wrong one, opens both tables with the right one, and a cancelled
// question ends the start with the engine's message instead of an open table.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QTemporaryDir>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>

#include "PasswordDialog.h"
#include "QtTestSupport.h"
#include "SettlementTables.h"
#include "Shell.h"
#include "Unit1.h"
#include "Unit9.h"
#include "Vidora.h"

namespace {

constexpr char kKey[] = "Titok-2026";

// Three settlements in tables enciphered with kKey, built once and copied for each test.
QString EncipheredTemplate() {
  static QTemporaryDir dir;
  static const bool built = [] {
    const QString csv = dir.filePath(QStringLiteral("three.csv"));
    std::ofstream(csv.toStdString()) << "IRSZ,TELEP,TELK,RANG,REGIO,MEGYE,KISTERS,TERULET,NEPESS,LAKAS,EGYEB\r\n"
                                        "8127,Aba,,város,Közép-Dunántúl,Fejér,Székesfehérvári,8805,4396,1562,Első\r\n"
                                        "9000,Győr,96,megyei jogú város,Nyugat-Dunántúl,Győr-Moson-Sopron,Győri,17462,130191,64363,\r\n"
                                        "3552,Muhi,,község,Észak-Magyarország,Borsod-Abaúj-Zemplén,Tiszaújvárosi,962,452,210,\r\n";
    const std::string command = std::string("\"") + VIDORA_MKDB + "\" --password " + kKey + " \"" + csv.toStdString() +
                                "\" \"" + dir.filePath(QStringLiteral("tables")).toStdString() + "\" > /dev/null";
    return std::system(command.c_str()) == 0;
  }();
  EXPECT_TRUE(built) << "the enciphered tables could not be built";
  return dir.filePath(QStringLiteral("tables"));
}

struct TAsked {
  QString Title;
  QString Prompt;
  bool RefusedShown = false;
  QLineEdit::EchoMode Echo = QLineEdit::Normal;
};

class PasswordPromptTest : public ::testing::Test {
 protected:
  PasswordPromptTest() { apptest::CopyTablesHere(EncipheredTemplate()); }

  // Answers the next password dialogs in turn: a key to type and OK, or nothing for Mégse.
  // Every dialog seen is noted.
  void Answer(std::vector<std::optional<QString>> answers) {
    FAnswers = std::move(answers);
    FNext = 0;
    ArmNext();
  }

  void Start() {
    App = std::make_unique<vidora::TVidora>(Shell);
    App->CreateInstances();
    App->Form1()->show();
  }

  vdbds::TVdbTable& Table1() { return App->DataModule9()->Table1; }

  // A start that failed asked the application to exit outside its event loop; the request
  // would end every later modal loop at once, so it is consumed here as the program's own
  // loop would consume it.
  void EndFailedStart() {
    if (App && App->TerminateRequested()) {
      QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
      QApplication::exec();
    }
    App.reset();
  }
  void TearDown() override { EndFailedStart(); }

  std::vector<TAsked> Asked;
  testsupport::TTempWorkingDir WorkingDir;
  testsupport::TMessageBoxes Boxes;
  vidora::TDesktopShell Shell;
  std::unique_ptr<vidora::TVidora> App;

 private:
  void ArmNext() {
    if (FNext >= FAnswers.size()) return;
    testsupport::WhenModalShown([this](QWidget* modal) {
      auto* dialog = qobject_cast<vidora::TPasswordDialog*>(modal);
      ASSERT_NE(dialog, nullptr) << "another window than the password dialog: " << modal->metaObject()->className();
      Asked.push_back({dialog->windowTitle(), dialog->PromptLabel()->text(), dialog->RefusedLabel()->isVisibleTo(dialog),
                       dialog->PasswordEdit()->echoMode()});
      const std::optional<QString> answer = FAnswers[FNext++];
      ArmNext();
      if (answer) {
        QTest::keyClicks(dialog->PasswordEdit(), *answer);
        QTest::mouseClick(dialog->OkButton(), Qt::LeftButton);
      } else {
        QTest::mouseClick(dialog->CancelButton(), Qt::LeftButton);
      }
    });
  }
  std::vector<std::optional<QString>> FAnswers;
  std::size_t FNext = 0;
};

TEST_F(PasswordPromptTest, AWrongKeyIsAskedAgainAndTheRightOneOpensBothTables) {
  Answer({QStringLiteral("rossz"), QString::fromLatin1(kKey)});
  Start();
  ASSERT_FALSE(App->TerminateRequested());
  ASSERT_TRUE(Table1().Active());
  EXPECT_TRUE(App->DataModule9()->Table2.Active());
  // Two questions for Irsz; Irsz_tmp opened with the key that opened Irsz, unasked.
  ASSERT_EQ(Asked.size(), 2u);
  EXPECT_EQ(Asked[0].Title, QStringLiteral("Jelszó"));
  EXPECT_EQ(Asked[0].Prompt, QStringLiteral("A(z) „Irsz” tábla jelszóval védett. Jelszó:"));
  EXPECT_FALSE(Asked[0].RefusedShown);
  EXPECT_TRUE(Asked[1].RefusedShown);
  EXPECT_EQ(Asked[0].Echo, QLineEdit::Password);
  EXPECT_TRUE(Boxes.Shown().empty());
  // The records read back through the key.
  EXPECT_EQ(Table1().RecordCount(), 3);
  Table1().First();
  EXPECT_EQ(QString::fromStdU16String(Table1().FieldByName(u"TELEP").AsString()), QStringLiteral("Aba"));
  Table1().Next();
  EXPECT_EQ(QString::fromStdU16String(Table1().FieldByName(u"TELEP").AsString()), QStringLiteral("Győr"));
}

TEST_F(PasswordPromptTest, CancellingTheQuestionReportsTheRefusalAndEndsTheStart) {
  Answer({std::nullopt});
  Start();
  EXPECT_EQ(Asked.size(), 1u);
  EXPECT_FALSE(Table1().Active());
  EXPECT_TRUE(App->TerminateRequested());
  // One error report, nothing else asked.
  ASSERT_EQ(Boxes.Shown().size(), 1u);
  EXPECT_FALSE(Boxes.Shown()[0].Text.isEmpty());
  EndFailedStart();  // closing the half-started program is clean
}

TEST_F(PasswordPromptTest, AfterAGiveUpTheNextStartAsksAfreshAndOpens) {
  Answer({QStringLiteral("rossz"), std::nullopt});
  Start();
  ASSERT_FALSE(Table1().Active());
  ASSERT_EQ(Asked.size(), 2u);
  EXPECT_TRUE(Asked[1].RefusedShown);
  EndFailedStart();
  // The user starts the program again: the first question shows no refusal, the key opens.
  Answer({QString::fromLatin1(kKey)});
  Start();
  ASSERT_EQ(Asked.size(), 3u);
  EXPECT_FALSE(Asked[2].RefusedShown);
  EXPECT_TRUE(Table1().Active());
  EXPECT_TRUE(App->DataModule9()->Table2.Active());
  EXPECT_EQ(Table1().RecordCount(), 3);
}

}  // namespace
