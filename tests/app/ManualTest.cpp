// The user manual as the build makes it, and the "Leírás" command that hands it to the desktop.
#include <QAction>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include "QtTestSupport.h"
#include "RecordingShell.h"
#include "Shell.h"
#include "SettlementTables.h"
#include "Unit1.h"
#include "UrlCatcher.h"
#include "Vidora.h"

namespace {

QByteArray ManualBytes() {
  QFile file(QString::fromUtf8(VIDORA_MANUAL_PDF));
  EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << VIDORA_MANUAL_PDF;
  return file.readAll();
}

TEST(ManualTest, BuildMakesAPdfWithItsPagesAndPictures) {
  const QByteArray pdf = ManualBytes();
  ASSERT_TRUE(pdf.startsWith("%PDF-")) << "a PDF file";
  EXPECT_TRUE(pdf.trimmed().endsWith("%%EOF")) << "written to its end";
  // One page object per page ("/Type /Pages" is the page tree, not a page).
  const qsizetype pages = pdf.count("/Type /Page\n") + pdf.count("/Type /Page ") + pdf.count("/Type /Page/");
  const QRegularExpressionMatch count =
      QRegularExpression(QStringLiteral("/Type /Pages\\s*/Kids\\s*\\[[^\\]]*\\]\\s*/Count (\\d+)"))
          .match(QString::fromLatin1(pdf));
  ASSERT_TRUE(count.hasMatch()) << "page tree with its count";
  EXPECT_EQ(count.captured(1).toInt(), pages);
  // Title page and eleven chapters, each on a page of its own at least.
  EXPECT_GE(pages, 12);
  // The pictures of the main, maintenance, search and about windows.
  EXPECT_GE(pdf.count("/Subtype /Image"), 4);
}

TEST(ManualTest, LerasHandsTheManualsNameToTheShell) {
  testsupport::TTempWorkingDir dir;
  apptest::TEmptySettlementTables tables;
  ASSERT_TRUE(QFile::copy(QString::fromUtf8(VIDORA_MANUAL_PDF), QStringLiteral("Leírás.pdf")));
  apptest::TRecordingShell shell;
  vidora::TVidora app(shell);
  app.CreateInstances();
  testsupport::TMessageBoxes boxes;
  QAction* command = app.Form1()->findChild<QAction*>(QStringLiteral("Lers1"));
  ASSERT_NE(command, nullptr);
  command->trigger();
  ASSERT_EQ(shell.Requests.size(), 1u);
  EXPECT_EQ(shell.Requests[0].Kind, QStringLiteral("document"));
  EXPECT_EQ(shell.Requests[0].Target, QStringLiteral("Leírás.pdf"));
  EXPECT_TRUE(boxes.Shown().empty());

  // A desktop that cannot open it: the program's own message.
  shell.Succeeds = false;
  command->trigger();
  ASSERT_EQ(boxes.Shown().size(), 1u);
  EXPECT_EQ(boxes.Shown()[0].Title, u"Hiba történt:");
}

TEST(ManualTest, DesktopShellOpensTheManualOfTheWorkingDirectoryByItsFullPath) {
  testsupport::TTempWorkingDir dir;
  apptest::TEmptySettlementTables tables;
  apptest::TUrlCatcher files(QStringLiteral("file"));
  vidora::TDesktopShell shell;
  vidora::TVidora app(shell);
  app.CreateInstances();
  testsupport::TMessageBoxes boxes;
  QAction* command = app.Form1()->findChild<QAction*>(QStringLiteral("Lers1"));
  ASSERT_NE(command, nullptr);

  // Missing: the desktop is not asked at all.
  command->trigger();
  EXPECT_TRUE(files.Opened.isEmpty());
  EXPECT_EQ(boxes.Shown().size(), 1u);

  ASSERT_TRUE(QFile::copy(QString::fromUtf8(VIDORA_MANUAL_PDF), QStringLiteral("Leírás.pdf")));
  command->trigger();
  ASSERT_EQ(files.Opened.size(), 1);
  EXPECT_EQ(files.Opened[0], QUrl::fromLocalFile(QDir::current().absoluteFilePath(QStringLiteral("Leírás.pdf"))));
  EXPECT_EQ(boxes.Shown().size(), 1u) << "no further message";
}

}  // namespace
