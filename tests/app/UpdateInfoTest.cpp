// The update hand-off: the encoded information file and the end of the program.
#include <QAction>
#include <QFile>
#include <QTest>
#include <gtest/gtest.h>

#include "QtTestSupport.h"
#include "Shell.h"
#include "Unit1.h"
#include "UpdateInfo.h"
#include "Vidora.h"

namespace {

// Decodes one line of the updater's UU variant; the inverse of the encoder.
QByteArray UUDecodeLine(const QByteArray& line) {
  auto value = [](char c) { return c == '`' ? 0 : (c - ' ') & 0x3F; };
  const int length = value(line[0]);
  QByteArray out;
  for (qsizetype i = 1; i + 3 < line.size() + 0 && out.size() < length; i += 4) {
    const unsigned group = (value(line[i]) << 18) | (value(line[i + 1]) << 12) | (value(line[i + 2]) << 6) |
                           value(line[i + 3]);
    for (int k = 0; k < 3 && out.size() < length; ++k) out += static_cast<char>((group >> (16 - 8 * k)) & 0xFF);
  }
  return out;
}

TEST(UUEncodeTest, LengthCharacterFillAndChunking) {
  const struct {
    QByteArray Input;
    QByteArray Expected;
  } cases[] = {
      {"", "`"},
      {"A", "!00``"},      // one byte: two characters and two fills
      {"AB", "\"04(`"},    // two bytes: three characters and one fill
      {"ABC", "#04)#"},    // a multiple of three: no fill
      {QByteArray(3, '\0'), "#````"},
  };
  for (const auto& c : cases) EXPECT_EQ(vidora::UUEncode(c.Input), c.Expected) << c.Input.toStdString();

  const QByteArray longText(64, 'x');
  const QList<QByteArray> lines = vidora::UUEncode(longText).split('\n');
  ASSERT_EQ(lines.size(), 2);
  EXPECT_TRUE(lines[0].endsWith('\r'));
  EXPECT_EQ(lines[0][0], '_');  // 63 bytes
  EXPECT_EQ(lines[1][0], '!');  // the last byte
  EXPECT_EQ(UUDecodeLine(lines[0].chopped(1)) + UUDecodeLine(lines[1]), longText);
}

TEST(UpdateInfoTest, TwelveEncodedRecordsOnCrlfLines) {
  testsupport::TTempWorkingDir dir;
  vidora::WriteUpdateInfo(dir.Path());
  QFile file(dir.Path() + QStringLiteral("/update.nfo"));
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray content = file.readAll();
  ASSERT_TRUE(content.endsWith("\r\n"));
  QList<QByteArray> lines = content.chopped(2).split('\n');
  ASSERT_EQ(lines.size(), 12);
  const QStringList records = vidora::UpdateInfoRecords();
  for (int i = 0; i < 12; ++i) {
    if (i < 11) {
      ASSERT_TRUE(lines[i].endsWith('\r'));
      lines[i].chop(1);
    }
    EXPECT_EQ(UUDecodeLine(lines[i]), records[i].toLatin1());
    EXPECT_EQ(records[i].mid(16, 2), QStringLiteral(": ")) << "key padded to 16";
  }
  EXPECT_EQ(records[0], QStringLiteral("PROGRAM NAME    : Vidora"));
  EXPECT_EQ(records[1], QStringLiteral("PROGRAM VERSION : 2.0.0.0"));
  EXPECT_EQ(lines[1][0], '9') << "record 2 is 25 bytes long";
  EXPECT_EQ(records[11], QStringLiteral("PROXY TYPE      : Nil"));
}

class TTestVidora : public vidora::TVidora {
 public:
  using TVidora::TVidora;
  void Terminate() override { ++Terminations; }
  int Terminations = 0;
};

TEST(UpdateInfoTest, CommandWritesFileAndEndsEvenWithoutUpdater) {
  testsupport::TTempWorkingDir dir;
  vidora::TDesktopShell shell;
  TTestVidora app(shell);
  app.CreateInstances();
  testsupport::TMessageBoxes boxes;
  app.Form1()->findChild<QAction*>(QStringLiteral("Keress3"))->trigger();
  EXPECT_TRUE(QFile::exists(dir.Path() + QStringLiteral("/update.nfo")));
  EXPECT_EQ(app.Terminations, 1);
  EXPECT_TRUE(boxes.Shown().empty()) << "no close question on this path";
}

TEST(UpdateInfoTest, UnwritableDirectoryIsReportedAndTheProgramGoesOn) {
  testsupport::TTempWorkingDir dir;
  vidora::TDesktopShell shell;
  TTestVidora app(shell);
  app.CreateInstances();
  // A directory in the file's place makes the write fail for any user, root included.
  ASSERT_TRUE(QDir(dir.Path()).mkdir(QStringLiteral("update.nfo")));
  testsupport::TMessageBoxes boxes;
  app.Form1()->findChild<QAction*>(QStringLiteral("Keress3"))->trigger();
  ASSERT_EQ(boxes.Shown().size(), 1u);
  EXPECT_EQ(boxes.Shown()[0].Icon, QMessageBox::Critical);
  EXPECT_TRUE(boxes.Shown()[0].Text.contains(QStringLiteral("update.nfo")));
  EXPECT_EQ(app.Terminations, 0);
}

}  // namespace
