// Session: initial settings, the private directory under TMPDIR, the engine log (rotation
// over five generations, levels, line layout, recorded errors written to it), and opening a
// database location (directory, file standing for its directory, refused names, the control
// file).
#include <gtest/gtest.h>

#include <cstdlib>

#include "../tables/TableTestSupport.h"
#include "base/VdbErrorCodes.h"
#include "session/VdbLocSess.h"
#include "sql/VdbSqlCompiler.h"

namespace vdb {
namespace {

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    World.Fs.ForcePath(u"/db");
    World.Fs.ForcePath(u"/private");
    Session.Initialize(3);
    Session.SetPrivateDir(u"/private");
  }

  std::string ReadFile(const std::u16string& path) {
    const TvuFileHandle h = World.Fs.OpenFile(path, fmOpenRead);
    if (!TvuFileSystem::IsValidHandle(h)) return "<missing>";
    std::string text(static_cast<std::size_t>(World.Fs.GetFileSize(h)), '\0');
    World.Fs.FileRead(h, 0, text.data(), static_cast<std::int64_t>(text.size()));
    World.Fs.CloseFile(h);
    return text;
  }

  test::TTableWorld World;
  TVdbLocalSession Session{World.PageManager, World.Fs, TvuServices{World.Clock, World.Sleeper, World.Random},
                           &VdbSqlCompiler()};
};

TEST_F(SessionTest, InitialSettings) {
  EXPECT_NE(Session.Settings().Station, 0u);
  EXPECT_EQ(Session.Settings().IDName, VdbUtf8ToUtf16(std::to_string(Session.Settings().Station)));
  EXPECT_EQ(Session.Settings().DecimalChar, u',');
  EXPECT_TRUE(Session.Settings().AutoCreateIndexes);
  EXPECT_EQ(Session.Settings().DefBlobBlockSize, 512);
  EXPECT_EQ(Session.Settings().DefIndPageSize, 4096);
  EXPECT_EQ(Session.Log().Level(), 0);
  EXPECT_FALSE(Session.GetIsOpen());
  EXPECT_EQ(Session.Catalog().CacheSize, 40960);
}

TEST_F(SessionTest, PrivateDirectoryPerProcessUnderTmpdir) {
  const char* old = std::getenv("TMPDIR");
  const std::string saved = old ? old : "";
  ::setenv("TMPDIR", "/scratch/", 1);
  const std::u16string dir = VdbDefaultPrivateDir();
  if (old) {
    ::setenv("TMPDIR", saved.c_str(), 1);
  } else {
    ::unsetenv("TMPDIR");
  }
  EXPECT_EQ(VdbUtf16ToUtf8(dir), "/scratch/vidora-" + std::to_string(::getpid()));
  Session.SetPrivateDir(u"");
  Session.SetPrivateDir(dir);
  EXPECT_EQ(Session.PrivateDir(), dir);
  EXPECT_TRUE(World.Fs.DirectoryExists(dir)) << "made when first needed";
}

TEST_F(SessionTest, SwitchingTheLogOnSixTimesKeepsFiveGenerations) {
  const std::uint32_t station = Session.Settings().Station;
  for (int round = 1; round <= 6; ++round) {
    ASSERT_EQ(Session.SetLogLevel(2), 0) << VdbUtf16ToUtf8(Session.LastError().Msg());
    Session.LogMessage(1, u"Test", u"round " + VdbUtf8ToUtf16(std::to_string(round)));
    ASSERT_EQ(Session.SetLogLevel(0), 0);
  }
  // Generation n holds round 7 - n; the sixth generation does not exist.
  for (int n = 1; n <= 5; ++n) {
    const std::string text = ReadFile(u"/private/" + VdbLogFileName(station, n));
    EXPECT_NE(text.find("round " + std::to_string(7 - n)), std::string::npos) << n << ": " << text;
    EXPECT_NE(text.find("VidoraDB log file opened"), std::string::npos);
    EXPECT_NE(text.find("VidoraDB log file closed"), std::string::npos);
  }
  EXPECT_FALSE(World.Fs.FileExists(u"/private/" + VdbLogFileName(station, 6)));
  EXPECT_EQ(VdbUtf16ToUtf8(VdbLogFileName(42, 3)), "VdbLog42_03.txt");
}

TEST_F(SessionTest, LogLevelsLineLayoutAndRecordedErrors) {
  TVdbEngineLog log(World.Fs, u"/private", 7, [] { return std::string("12:00"); });
  log.SetLogLevel(9);
  EXPECT_EQ(log.Level(), 4) << "clamped";
  log.SetLogLevel(0);
  log.SetLogLevel(-3);
  EXPECT_EQ(log.Level(), 0);
  log.SetLogLevel(2);
  log.LogMessage(2, u"Cursor", u"shown");
  log.LogMessage(3, u"Cursor", u"too detailed");
  log.SetLogLevel(0);
  const std::string text = ReadFile(u"/private/VdbLog7_01.txt");
  EXPECT_NE(text.find("       12:00  2               Cursor shown\n"), std::string::npos) << text;
  EXPECT_EQ(text.find("too detailed"), std::string::npos);

  // The session's recorded errors go to its log.
  ASSERT_EQ(Session.SetLogLevel(2), 0);
  Session.LastError().SetLastError(errFileNotFoundOrDenied, {u"x.vdbt"});
  Session.SetLogLevel(0);
  const std::string sessionLog = ReadFile(u"/private/" + VdbLogFileName(Session.Settings().Station, 1));
  EXPECT_NE(sessionLog.find("Error 37"), std::string::npos) << sessionLog;
}

TEST_F(SessionTest, OpensDirectoryDatabasesWithTheirControlFile) {
  struct TCase {
    std::u16string Location;
    std::int16_t Result;
  };
  {
    const TvuFileHandle h = World.Fs.CreateFile(u"/db/Irsz.vdbt");
    World.Fs.CloseFile(h);
  }
  const TCase cases[] = {{u"/db/nothing.xyz", -errFileNotFoundOrDenied},
                         {u"/db/nothing", -errNotSupported},
                         {u"/db/Irsz.vdbt", 0},
                         {u"/db/", 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(VdbUtf16ToUtf8(c.Location));
    EXPECT_EQ(Session.OpenDb(c.Location), c.Result);
    EXPECT_EQ(Session.GetIsOpen(), c.Result == 0);
    if (c.Result == 0) {
      EXPECT_EQ(Session.Catalog().Location(), u"/db");
      EXPECT_TRUE(Session.Catalog().UnlockThreadRunning());
      EXPECT_EQ(ReadFile(u"/db/db.vdbd"), "VidoraDB database control file for directory-based database");
      EXPECT_EQ(ReadFile(u"/db/db.vdbd").size(), 59u);
    }
    EXPECT_EQ(Session.CloseDb(), 0);
    EXPECT_FALSE(Session.Catalog().UnlockThreadRunning());
  }
}

}  // namespace
}  // namespace vdb
