// The lock file on the real file system: its byte layout, joining and leaving (the last
// leaver deletes both files), a wrong tag or version, readers and a waiting writer with writer
// preference, upgrade beside readers, edit locks, record moves, the usage report, a dead
// session (a forked child that ends without leaving) reclaimed with corrected counts, and
// many joiners racing on a missing file ending up on one file.
//
// Every TVdbLockFile opens the file on its own, so two objects of one process conflict
// through their byte locks exactly as two processes do.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "base/VdbErrorCodes.h"
#include "base/VdbErrors.h"
#include "base/VdbFormat.h"
#include "locking/VdbLocks.h"
#include "storage/vuOSFileSystem.h"

namespace vdb {
namespace {

namespace fs = std::filesystem;

class LockFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Dir = fs::temp_directory_path() / ("vdb-locks-" + std::to_string(::getpid()) + "-" +
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(Dir);
    fs::create_directories(Dir);
    Fs = std::make_unique<TvuOSFileSystem>(VdbUtf8ToUtf16(Dir.string()));
  }
  void TearDown() override {
    Files.clear();
    Fs.reset();
    fs::remove_all(Dir);
  }
  // A joined session with station id `id`.
  TVdbLockFile& Join(std::int64_t id, std::u16string name = u"") {
    auto f = std::make_unique<TVdbLockFile>(*Fs, vuDefaultServices());
    f->SetSessionId(id);
    f->SetSessionName(name.empty() ? u"Station " + VdbUtf8ToUtf16(std::to_string(id)) : name);
    f->LogIn(u"Irsz", 6, false);
    Files.push_back(std::move(f));
    return *Files.back();
  }
  std::vector<std::uint8_t> Bytes(const char* name) {
    std::ifstream in(Dir / name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
  }
  TVdbTableLockData Header() {
    const auto b = Bytes("Irsz.vdbl");
    EXPECT_GE(b.size(), static_cast<std::size_t>(kVdbLockHeaderSize));
    return TVdbTableLockData::Decode(b.data());
  }

  fs::path Dir;
  std::unique_ptr<TvuOSFileSystem> Fs;
  std::vector<std::unique_ptr<TVdbLockFile>> Files;
};

TEST_F(LockFileTest, HeaderAndSlotLayoutsAreTheStoredBytes) {
  TVdbTableLockData h;
  h.ChangeCount = 0x0102030405060708;
  h.IndexCount = 3;
  h.ReadLocks = 2;
  h.UpgradeLocks = 1;
  h.WriteLocks = 0;
  h.LockWaiters = 4;
  h.WriteWaiters = 1;
  h.ItemCount = 5;
  h.SessionCount = -1;
  const auto b = h.Encode();
  const std::uint8_t expected[30] = {0x55, 0xCF, 0x4B, 0x83, 7, 0, 8, 7, 6, 5, 4, 3, 2, 1, 3, 0,
                                     2,    0,    1,    0,    0, 0, 4, 0, 1, 0, 5, 0, 0xFF, 0xFF};
  EXPECT_TRUE(std::equal(b.begin(), b.end(), expected));
  const TVdbTableLockData back = TVdbTableLockData::Decode(b.data());
  EXPECT_EQ(back.ChangeCount, h.ChangeCount);
  EXPECT_EQ(back.SessionCount, -1);

  TVdbSessionLockData s;
  s.Id = 0x12345678;
  s.Name = "ABC";
  s.TableLock = tltUpgrade;
  s.DesiredLock = tltWrite;
  s.EditRecNo = 0x0A0B0C0D;
  s.VitalSign = 255;
  const auto sb = s.Encode();
  EXPECT_EQ(sb[0], 0x78);
  EXPECT_EQ(sb[3], 0x12);
  EXPECT_EQ(sb[7], 0);
  EXPECT_EQ(sb[8], 3);
  EXPECT_EQ(sb[9], 'A');
  EXPECT_EQ(sb[11], 'C');
  EXPECT_EQ(sb[12], 0);
  EXPECT_EQ(sb[49], 2);
  EXPECT_EQ(sb[50], 3);
  EXPECT_EQ(sb[51], 0x0D);
  EXPECT_EQ(sb[54], 0x0A);
  EXPECT_EQ(sb[55], 255);
  EXPECT_EQ(TVdbSessionLockData::Decode(sb.data()).Name, "ABC");
}

TEST_F(LockFileTest, JoiningFillsSlotsAndTheLastLeaverDeletesBothFiles) {
  TVdbLockFile& a = Join(11, u"Első állomás, egy nagyon hosszú név amely nem fér el");
  TVdbLockFile& b = Join(22);
  EXPECT_TRUE(fs::exists(Dir / "Irsz.vdbl"));
  EXPECT_TRUE(fs::exists(Dir / "Irsz.vdbv"));
  EXPECT_EQ(Header().SessionCount, 2);
  EXPECT_EQ(Header().ItemCount, 2);
  const auto bytes = Bytes("Irsz.vdbl");
  ASSERT_EQ(bytes.size(), 30u + 2 * 56u);
  const TVdbSessionLockData first = TVdbSessionLockData::Decode(&bytes[30]);
  EXPECT_EQ(first.Id, 11);
  EXPECT_EQ(first.Name.size(), 40u);
  EXPECT_EQ(first.VitalSign, 255);
  EXPECT_EQ(TVdbSessionLockData::Decode(&bytes[86]).Id, 22);

  a.LogOut();
  EXPECT_EQ(Header().SessionCount, 1);
  // A free slot is taken again before the file grows.
  TVdbLockFile& c = Join(33);
  EXPECT_EQ(c.SlotNo(), 0);
  EXPECT_EQ(Header().ItemCount, 2);
  b.LogOut();
  EXPECT_TRUE(fs::exists(Dir / "Irsz.vdbl"));
  c.LogOut();
  EXPECT_FALSE(fs::exists(Dir / "Irsz.vdbl"));
  EXPECT_FALSE(fs::exists(Dir / "Irsz.vdbv"));
}

TEST_F(LockFileTest, WrongTagOrVersionStopsTheJoinWith185) {
  struct TCase {
    std::uint8_t Bytes[6];
  };
  for (const TCase& c : {TCase{{0x55, 0xCF, 0x4B, 0x84, 7, 0}}, TCase{{0x55, 0xCF, 0x4B, 0x83, 6, 0}}}) {
    {
      std::ofstream out(Dir / "Irsz.vdbl", std::ios::binary | std::ios::trunc);
      out.write(reinterpret_cast<const char*>(c.Bytes), 6);
      const char zeros[24] = {};
      out.write(zeros, 24);
    }
    TVdbLockFile f(*Fs, vuDefaultServices());
    f.SetSessionId(5);
    try {
      f.LogIn(u"Irsz", 6, false);
      ADD_FAILURE() << "joined a foreign lock file";
    } catch (const EVdbEngine& e) {
      EXPECT_EQ(e.Code(), errInvalidLockFile);
      EXPECT_NE(e.Message().find(u"Irsz.vdbl"), std::u16string::npos);
    }
    EXPECT_FALSE(f.Joined());
  }
}

TEST_F(LockFileTest, StationIdZeroIsRefused) {
  TVdbLockFile f(*Fs, vuDefaultServices());
  try {
    f.LogIn(u"Irsz", 6, false);
    ADD_FAILURE();
  } catch (const EVdbEngine& e) {
    EXPECT_EQ(e.Code(), errInvalidConnectionId);
  }
}

TEST_F(LockFileTest, FileNamesFollowTheLevel) {
  EXPECT_EQ(VdbLockFileName(u"d/T", 6, false), u"d/T.vdbl");
  EXPECT_EQ(VdbLockFileName(u"d/T", 2, true), u"d/T.rnt");
  EXPECT_EQ(VdbLockFileName(u"d/T", 2, false), u"d/T.net");
  EXPECT_EQ(VdbMoveFileName(u"d/T", 6, false), u"d/T.vdbv");
  EXPECT_EQ(VdbMoveFileName(u"d/T", 2, true), u"d/T.rmv");
  EXPECT_EQ(VdbMoveFileName(u"d/T", 0, false), u"d/T.mov");
}

TEST_F(LockFileTest, WaitingWriterBlocksNewReadersUntilItHadItsTurn) {
  TVdbLockFile& r1 = Join(1);
  TVdbLockFile& r2 = Join(2);
  TVdbLockFile& w = Join(3);
  TVdbLockFile& r4 = Join(4);
  ASSERT_TRUE(r1.LockTable(tltNone, tltRead, true));
  ASSERT_TRUE(r2.LockTable(tltNone, tltRead, true));
  EXPECT_FALSE(w.LockTable(tltNone, tltWrite, true));
  std::atomic<bool> writerGot = false;
  std::thread writer([&] { writerGot = w.LockTable(tltNone, tltWrite, false); });
  while (Header().WriteWaiters == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  // Writer preference: a new reader is refused while the writer waits.
  EXPECT_FALSE(r4.LockTable(tltNone, tltRead, true));
  EXPECT_EQ(Header().LockWaiters, 1);
  r1.UnlockTable(tltRead, tltNone);
  r2.UnlockTable(tltRead, tltNone);
  writer.join();
  EXPECT_TRUE(writerGot);
  EXPECT_EQ(Header().WriteLocks, 1);
  EXPECT_EQ(Header().WriteWaiters, 0);
  EXPECT_EQ(Header().LockWaiters, 0);
  EXPECT_FALSE(r4.LockTable(tltNone, tltRead, true));
  const std::int64_t before = Header().ChangeCount;
  w.UnlockTable(tltWrite, tltNone);
  EXPECT_EQ(Header().ChangeCount, before + 1);
  EXPECT_EQ(w.SessionChangeCount(), before + 1);
  EXPECT_TRUE(r4.LockTable(tltNone, tltRead, true));
  EXPECT_TRUE(r4.TableChanged(0));
  EXPECT_FALSE(w.TableChanged(0));
}

TEST_F(LockFileTest, UpgradeLivesBesideReadersAndWritesOnlyWhenTheyAreGone) {
  TVdbLockFile& reader = Join(1);
  TVdbLockFile& up = Join(2);
  TVdbLockFile& other = Join(3);
  ASSERT_TRUE(reader.LockTable(tltNone, tltRead, true));
  ASSERT_TRUE(up.LockTable(tltNone, tltUpgrade, true));
  // One upgrade lock at a time, readers still welcome.
  EXPECT_FALSE(other.LockTable(tltNone, tltUpgrade, true));
  EXPECT_TRUE(other.LockTable(tltNone, tltRead, true));
  EXPECT_FALSE(up.LockTable(tltUpgrade, tltWrite, true));
  EXPECT_EQ(Header().UpgradeLocks, 1);
  reader.UnlockTable(tltRead, tltNone);
  other.UnlockTable(tltRead, tltNone);
  EXPECT_TRUE(up.LockTable(tltUpgrade, tltWrite, true));
  const TVdbTableLockData h = Header();
  EXPECT_EQ(h.UpgradeLocks, 0);
  EXPECT_EQ(h.WriteLocks, 1);
  EXPECT_EQ(h.ReadLocks, 0);
}

TEST_F(LockFileTest, OneEditLockPerRecordAcrossSessions) {
  TVdbLockFile& a = Join(1);
  TVdbLockFile& b = Join(2);
  EXPECT_TRUE(a.LockRecord(5));
  EXPECT_FALSE(b.LockRecord(5));
  EXPECT_TRUE(b.LockRecord(6));
  EXPECT_EQ(a.GetLockedRecord(), 5);
  // A delete moved record 6 into 4: the edit lock follows it.
  a.SwitchRecordLock(6, 4);
  EXPECT_EQ(b.GetLockedRecord(), 4);
  a.UnlockRecord(5);
  EXPECT_TRUE(b.LockRecord(5));
  // A write lock of another session keeps edit locks out.
  b.UnlockRecord(5);
  ASSERT_TRUE(a.LockTable(tltNone, tltWrite, true));
  EXPECT_FALSE(b.LockRecord(7));
  EXPECT_TRUE(a.LockRecord(7));
}

TEST_F(LockFileTest, RecordMovesReachOtherSessionsOnlyOnceAndNotTheWriter) {
  TVdbLockFile& a = Join(1);
  TVdbLockFile& b = Join(2);
  a.AddRecordMove(10, 5);
  a.AddRecordMove(9, 9);
  EXPECT_TRUE(a.CatchUp().empty());
  const auto moves = b.CatchUp();
  ASSERT_EQ(moves.size(), 2u);
  EXPECT_EQ(moves[0].To, 5);
  EXPECT_EQ(moves[0].From, 10);
  EXPECT_EQ(moves[1].To, 9);
  EXPECT_EQ(moves[1].From, 9);
  EXPECT_TRUE(b.CatchUp().empty());
  // A session joining later does not see moves made before it joined.
  TVdbLockFile& c = Join(3);
  EXPECT_TRUE(c.CatchUp().empty());
  const auto bytes = Bytes("Irsz.vdbv");
  ASSERT_EQ(bytes.size(), 16u);
  EXPECT_EQ(bytes[0], 5);
  EXPECT_EQ(bytes[4], 10);
}

TEST_F(LockFileTest, AMoveBelowOneIsAnError) {
  TVdbLockFile& a = Join(1);
  TVdbLockFile& b = Join(2);
  a.AddRecordMove(0, 3);
  try {
    static_cast<void>(b.CatchUp());
    ADD_FAILURE();
  } catch (const EVdbEngine& e) {
    EXPECT_EQ(e.Code(), errUnknown);
  }
}

TEST_F(LockFileTest, UsageReportListsEverySlot) {
  TVdbLockFile& a = Join(101, u"Alpha");
  TVdbLockFile& b = Join(102, u"Beta");
  ASSERT_TRUE(b.LockRecord(3));
  ASSERT_TRUE(a.LockTable(tltNone, tltWrite, true));
  TVdbTableUsage u;
  b.GetLockInfo(u);
  EXPECT_EQ(u.ItemCount, 2);
  EXPECT_EQ(u.UserCount, 2);
  EXPECT_EQ(u.WriteCount, 1);
  ASSERT_EQ(u.UserInfo.size(), 2u);
  EXPECT_EQ(u.UserInfo[0].StationName, "Alpha");
  EXPECT_EQ(u.UserInfo[0].StationId, 101);
  EXPECT_EQ(u.UserInfo[0].Lock, -1);
  EXPECT_TRUE(u.UserInfo[1].Active);
  EXPECT_EQ(u.UserInfo[1].EditRecNo, 3);
}

TEST_F(LockFileTest, ExclusiveUseOnlyForTheOnlySessionAndHoldsEveryoneElse) {
  TVdbLockFile& a = Join(1);
  {
    TVdbLockFile& b = Join(2);
    EXPECT_FALSE(a.LockExclusive());
    b.LogOut();
  }
  EXPECT_TRUE(a.LockExclusive());
  a.UnlockExclusive();
}

// A forked child joins, takes `lock` (and an edit lock) and ends without leaving.
void RunDeadChild(const fs::path& dir, TVdbTableLockType lock) {
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    TvuOSFileSystem childFs(VdbUtf8ToUtf16(dir.string()));
    auto* f = new TVdbLockFile(childFs, vuDefaultServices());  // never left: the process dies
    f->SetSessionId(99);
    f->LogIn(u"Irsz", 6, false);
    if (!f->LockTable(tltNone, lock, true)) ::_exit(3);
    if (!f->LockRecord(7)) ::_exit(4);
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  ASSERT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(LockFileTest, DeadSessionsAreReclaimedAndTheCountsCorrected) {
  TVdbLockFile& a = Join(1);
  int hijacks = 0;
  a.SetOnHijack([&] { ++hijacks; });
  ASSERT_NO_FATAL_FAILURE(RunDeadChild(Dir, tltWrite));
  EXPECT_EQ(Header().SessionCount, 2);
  EXPECT_EQ(Header().WriteLocks, 1);
  const std::int64_t changes = Header().ChangeCount;
  // Its edit lock still counts until the slot is reclaimed; the edit lock attempt finds it dead.
  EXPECT_FALSE(a.LockTable(tltNone, tltRead, true));
  EXPECT_TRUE(a.CheckSessionsNow());
  EXPECT_EQ(hijacks, 1);
  const TVdbTableLockData h = Header();
  EXPECT_EQ(h.SessionCount, 1);
  EXPECT_EQ(h.WriteLocks, 0);
  // A dead writer may have written: the others must drop their caches.
  EXPECT_EQ(h.ChangeCount, changes + 1);
  EXPECT_TRUE(a.LockRecord(7));
  EXPECT_TRUE(a.LockTable(tltNone, tltRead, true));
  EXPECT_FALSE(a.CheckSessionsNow());
}

TEST_F(LockFileTest, AWaiterReclaimsADeadWriterAndGetsItsLock) {
  ASSERT_NO_FATAL_FAILURE(RunDeadChild(Dir, tltWrite));
  // The file the dead child left is reused; joining reclaims its slot at once.
  TVdbLockFile& a = Join(1);
  EXPECT_EQ(a.SlotNo(), 0);
  EXPECT_EQ(Header().SessionCount, 1);
  EXPECT_TRUE(a.LockTable(tltNone, tltWrite, false));
}

TEST_F(LockFileTest, RacingJoinersOnAMissingFileShareOneFile) {
  constexpr int kThreads = 6;
  constexpr int kRounds = 40;
  std::atomic<int> failures = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < kRounds; ++round) {
        try {
          TVdbLockFile f(*Fs, vuDefaultServices());
          f.SetSessionId(1000 + t);
          f.LogIn(u"Irsz", 6, false);
          // Every joined session sees itself counted in the file it holds.
          f.CheckSessionsNow();
          if (f.SessionCount() < 1 || f.Header().Tag != kVdbLockFileTag) ++failures;
          const auto onDisk = Fs->FileIdOf(f.LockFileName());
          if (!onDisk) ++failures;
          f.LogOut();
        } catch (const EVdbEngine&) {
          ++failures;
        }
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(failures, 0);
  EXPECT_FALSE(fs::exists(Dir / "Irsz.vdbl"));
  EXPECT_FALSE(fs::exists(Dir / "Irsz.vdbv"));
  // No temporary file is left behind.
  EXPECT_TRUE(fs::is_empty(Dir));
}

}  // namespace
}  // namespace vdb
