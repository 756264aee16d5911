// The lock calls of a table object: counted nesting without a lock file, refusals that leave
// the counters alone, the held level and its settling (with the flush before a write lock is
// given up), the delayed release on the fake clock, edit locks, and the same calls over a
// scripted lock file.
#include <gtest/gtest.h>

#include <deque>

#include "base/VdbErrorCodes.h"
#include "tables/VdbTableLocks.h"

namespace vdb {
namespace {

class TFakeOwner final : public IVdbLockOwner {
 public:
  void FlushTable(bool resize) override { Flushes.push_back(resize); }
  void CatchUp(const std::vector<TVdbRecordMove>&) override { ++CatchUps; }
  bool ListenerIsEditing(std::int32_t recNo, const void* excluded) override {
    return EditingRecord == recNo && EditingListener != excluded;
  }
  TVdbIsolationLevel IsolationLevel() const override { return Isolation; }
  std::int32_t KnownIndexCount() const override { return 2; }
  std::u16string LockTableName() const override { return u"Irsz"; }

  std::vector<bool> Flushes;
  int CatchUps = 0;
  std::int32_t EditingRecord = 0;
  const void* EditingListener = nullptr;
  TVdbIsolationLevel Isolation = tilNone;
};

// A lock file whose answers a test scripts; it records every call.
class TScriptedLockFile final : public IVdbTableLockFile {
 public:
  bool LockTable(TVdbTableLockType from, TVdbTableLockType to, bool immediate) override {
    Calls.push_back("lock " + std::to_string(from) + ">" + std::to_string(to) + (immediate ? " now" : " wait"));
    if (Refusals.empty()) return true;
    const bool granted = Refusals.front();
    Refusals.pop_front();
    return granted;
  }
  void UnlockTable(TVdbTableLockType from, TVdbTableLockType to) override {
    Calls.push_back("unlock " + std::to_string(from) + ">" + std::to_string(to));
  }
  bool TableChanged(std::int32_t) override { return Changed; }
  bool LockRecord(std::int32_t recNo) override {
    Calls.push_back("lockrec " + std::to_string(recNo));
    if (!RecordGranted) return false;
    Locked = recNo;
    return true;
  }
  void UnlockRecord(std::int32_t recNo) override {
    Calls.push_back("unlockrec " + std::to_string(recNo));
    Locked = 0;
  }
  void SwitchRecordLock(std::int32_t from, std::int32_t to) override {
    if (Locked == from) Locked = to;
  }
  std::int32_t GetLockedRecord() override { return Locked; }
  bool LockExclusive() override { return ExclusiveGranted; }
  void UnlockExclusive() override { Calls.push_back("unlockexcl"); }
  void GetLockInfo(TVdbTableUsage& usage) override { usage.UserCount = 3; }
  bool CheckUpdate() override { return Changed; }
  std::vector<TVdbRecordMove> CatchUp() override { return {}; }
  void AddRecordMove(std::int32_t, std::int32_t) override {}
  void NoteChange() override {}
  void WriteIndexCount(std::int16_t) override {}
  void LogOut() override {}
  bool OthersWaiting() override { return Waiting; }

  std::vector<std::string> Calls;
  std::deque<bool> Refusals;  // answers of the next LockTable calls (true: granted)
  bool Changed = false;
  bool RecordGranted = true;
  bool ExclusiveGranted = true;
  bool Waiting = true;  // another session waits for a table lock
  std::int32_t Locked = 0;
};

class TableLocksTest : public ::testing::Test {
 protected:
  TScriptedLockFile& WithLockFile() {
    auto file = std::make_unique<TScriptedLockFile>();
    TScriptedLockFile& ref = *file;
    Locks.SetLockFile(std::move(file));
    return ref;
  }

  TFakeOwner Owner;
  TVdbLastError LastError;
  TvuFakeClock Clock{1000};
  TvuFakeSleeper Sleeper{Clock};
  TvuFakeRandom Random{3};
  TVdbTableLocks Locks{Owner, LastError, TvuServices{Clock, Sleeper, Random}};
};

TEST_F(TableLocksTest, NestingIsCountedPerKind) {
  ASSERT_EQ(Locks.BeginRead(true), 0);
  ASSERT_EQ(Locks.BeginRead(false), 0);
  EXPECT_EQ(Locks.CountReadLocks(), 2);
  EXPECT_EQ(Locks.HeldLevel(), tltRead);
  EXPECT_EQ(Locks.EndRead(), 0);
  EXPECT_EQ(Locks.EndRead(), 0);
  EXPECT_EQ(Locks.CountReadLocks(), 0);
  // The held level stays until it is settled (the unlock thread's job).
  EXPECT_EQ(Locks.HeldLevel(), tltRead);
  Locks.Settle();
  EXPECT_EQ(Locks.HeldLevel(), tltNone);

  ASSERT_EQ(Locks.BeginUpgrade(true), 0);
  ASSERT_EQ(Locks.BeginWrite(true), 0);
  ASSERT_EQ(Locks.BeginWrite(true), 0);
  ASSERT_EQ(Locks.BeginRead(true), 0);  // a writer may read
  EXPECT_EQ(Locks.CountWriteLocks(), 2);
  EXPECT_EQ(Locks.HeldLevel(), tltWrite);
  EXPECT_EQ(Locks.EndRead(), 0);
  EXPECT_EQ(Locks.EndWrite(), 0);
  EXPECT_EQ(Locks.EndWrite(), 0);
  EXPECT_EQ(Locks.EndUpgrade(), 0);
  EXPECT_TRUE(Owner.Flushes.empty());
  Locks.Settle();
  // Giving a held write lock up flushes first, with the final sizes.
  EXPECT_EQ(Owner.Flushes, std::vector<bool>{true});
  EXPECT_EQ(Locks.HeldLevel(), tltNone);
}

TEST_F(TableLocksTest, CountedReadIsNeverConverted) {
  ASSERT_EQ(Locks.BeginRead(true), 0);
  EXPECT_EQ(Locks.BeginWrite(true), -errTableLocked);
  EXPECT_EQ(LastError.Code(), errTableLocked);
  EXPECT_EQ(Locks.BeginUpgrade(true), -errTableLocked);
  EXPECT_EQ(Locks.CountWriteLocks(), 0);
  EXPECT_EQ(Locks.CountUpgradeLocks(), 0);
  EXPECT_EQ(Locks.CountReadLocks(), 1);
  EXPECT_EQ(Locks.EndRead(), 0);
}

TEST_F(TableLocksTest, EndWithoutBeginIsRefusedAndCountersStayAtZero) {
  for (auto end : {&TVdbTableLocks::EndRead, &TVdbTableLocks::EndUpgrade, &TVdbTableLocks::EndWrite,
                   &TVdbTableLocks::EndExclusive}) {
    EXPECT_EQ((Locks.*end)(), -errLocking);
  }
  EXPECT_EQ(Locks.CountReadLocks(), 0);
  EXPECT_EQ(Locks.CountWriteLocks(), 0);
  EXPECT_EQ(Locks.CountExclusiveLocks(), 0);
}

TEST_F(TableLocksTest, ExclusiveNestsAndFlushesAtTheLastEnd) {
  Locks.StartUnlockClock();
  ASSERT_EQ(Locks.BeginExclusive(), 0);
  EXPECT_FALSE(Locks.UnlockActive());
  ASSERT_EQ(Locks.BeginExclusive(), 0);
  EXPECT_EQ(Locks.EndExclusive(), 0);
  EXPECT_TRUE(Owner.Flushes.empty());
  Clock.AdvanceMs(50);
  EXPECT_EQ(Locks.EndExclusive(), 0);
  EXPECT_EQ(Owner.Flushes, std::vector<bool>{true});
  EXPECT_TRUE(Locks.UnlockActive());
  EXPECT_EQ(Locks.CountExclusiveLocks(), 0);
}

TEST_F(TableLocksTest, RememberedFlushFailureIsReportedByTheNextWriter) {
  Locks.SetWriteError(errFileWrite);
  EXPECT_EQ(Locks.BeginWrite(true), -errFileWrite);
  EXPECT_NE(LastError.Msg().find(u"Irsz"), std::u16string::npos);
  EXPECT_EQ(Locks.CountWriteLocks(), 0);
  // Reported once.
  EXPECT_EQ(Locks.BeginWrite(true), 0);
  EXPECT_EQ(Locks.EndWrite(), 0);
}

TEST_F(TableLocksTest, DelayedReleaseWaitsTenMillisecondsAfterTheLastEnd) {
  Locks.StartUnlockClock();
  ASSERT_EQ(Locks.BeginWrite(true), 0);
  ASSERT_EQ(Locks.EndWrite(), 0);
  Locks.CheckUnlock(Clock.NowMs() + 9);
  EXPECT_EQ(Locks.HeldLevel(), tltWrite);
  Locks.CheckUnlock(Clock.NowMs() + 10);
  EXPECT_EQ(Locks.HeldLevel(), tltNone);
  EXPECT_EQ(Owner.Flushes, std::vector<bool>{true});
  // Across the wrap of the tick counter.
  Clock.SetMs(0xFFFFFFFAu);
  ASSERT_EQ(Locks.BeginRead(true), 0);
  ASSERT_EQ(Locks.EndRead(), 0);
  Locks.CheckUnlock(3);  // 9 ms later
  EXPECT_EQ(Locks.HeldLevel(), tltRead);
  Locks.CheckUnlock(4);
  EXPECT_EQ(Locks.HeldLevel(), tltNone);
}

TEST_F(TableLocksTest, NoDelayedReleaseWhileExclusiveOrClosed) {
  ASSERT_EQ(Locks.BeginRead(true), 0);
  ASSERT_EQ(Locks.EndRead(), 0);
  Locks.CheckUnlock(Clock.NowMs() + 100);  // the clock never started
  EXPECT_EQ(Locks.HeldLevel(), tltRead);
  Locks.StartUnlockClock();
  ASSERT_EQ(Locks.BeginExclusive(), 0);
  Locks.CheckUnlock(Clock.NowMs() + 100);
  EXPECT_EQ(Locks.CountExclusiveLocks(), 1);
  EXPECT_EQ(Locks.EndExclusive(), 0);
}

TEST_F(TableLocksTest, EarlyReleaseOneTimeInThreeThousand) {
  WithLockFile();  // another session waits
  ASSERT_EQ(Locks.BeginWrite(true), 0);
  ASSERT_EQ(Locks.BeginWrite(true), 0);
  Random.Queue(0);
  EXPECT_EQ(Locks.EndWrite(), 0);  // still counted: only a flush without resizing
  EXPECT_EQ(Owner.Flushes, std::vector<bool>{false});
  EXPECT_EQ(Locks.HeldLevel(), tltWrite);
  Random.Queue(0);
  EXPECT_EQ(Locks.EndWrite(), 0);  // the last one: settled at once, then a pause
  EXPECT_EQ(Locks.HeldLevel(), tltNone);
  EXPECT_EQ(Sleeper.Calls(), 1u);
}

TEST_F(TableLocksTest, NoEarlyReleaseWhenNobodyWaits) {
  for (const bool withLockFile : {false, true}) {
    SCOPED_TRACE(withLockFile ? "a lock file, nobody waiting" : "no lock file");
    TVdbTableLocks locks{Owner, LastError, TvuServices{Clock, Sleeper, Random}};
    if (withLockFile) {
      auto file = std::make_unique<TScriptedLockFile>();
      file->Waiting = false;
      locks.SetLockFile(std::move(file));
    }
    const auto sleeps = Sleeper.Calls();
    ASSERT_EQ(locks.BeginWrite(true), 0);
    Random.Queue(0);
    EXPECT_EQ(locks.EndWrite(), 0);
    EXPECT_EQ(locks.HeldLevel(), tltWrite) << "kept for the next operation";
    EXPECT_EQ(Sleeper.Calls(), sleeps) << "no pause";
  }
}

TEST_F(TableLocksTest, EditLocks) {
  const int me = 0, other = 0;
  EXPECT_EQ(Locks.CheckEdit(5, &me), 0);
  EXPECT_EQ(Locks.CheckEdit(5, &me), 0);     // the same record again
  // Without a lock file no other session can reach the table: a second record is granted.
  EXPECT_EQ(Locks.CheckEdit(6, &me), 0);
  EXPECT_EQ(Locks.CountEditLocks(), 3);
  EXPECT_EQ(Locks.EndEdit(6), 0);
  Locks.SwitchEdit(5, 3);  // record 5 moved to 3 by a delete
  EXPECT_EQ(Locks.CheckEdit(3, &me), 0);
  EXPECT_EQ(Locks.EndEdit(3), 0);
  EXPECT_EQ(Locks.EndEdit(3), 0);
  EXPECT_EQ(Locks.EndEdit(3), 0);
  EXPECT_EQ(Locks.EndEdit(3), 0);  // beyond the count: nothing
  EXPECT_EQ(Locks.CountEditLocks(), 0);
  // A record another listener edits.
  Owner.EditingRecord = 7;
  Owner.EditingListener = &other;
  EXPECT_EQ(Locks.CheckEdit(7, &me), -errRecordLocked);
  EXPECT_EQ(Locks.CheckEdit(7, &other), 0);  // the editor itself is excluded
  EXPECT_EQ(Locks.EndEdit(7), 0);
  // Without edit locks both succeed.
  Locks.ActivateEditLocks(false);
  EXPECT_EQ(Locks.CheckEdit(1, &me), 0);
  EXPECT_EQ(Locks.CheckEdit(2, &me), 0);
  EXPECT_EQ(Locks.CountEditLocks(), 2);
}

TEST_F(TableLocksTest, UsageWithoutLockFile) {
  TVdbTableUsage usage;
  usage.ReadCount = 9;
  Locks.GetUsage(usage);
  EXPECT_EQ(usage.UserCount, 1);
  EXPECT_EQ(usage.ReadCount, 0);
  EXPECT_EQ(Locks.NetUsers(), 0);
}

TEST_F(TableLocksTest, ReleaseAllAtClosing) {
  ASSERT_EQ(Locks.BeginRead(true), 0);
  ASSERT_EQ(Locks.BeginExclusive(), 0);
  ASSERT_EQ(Locks.CheckEdit(4, nullptr), 0);
  Locks.ReleaseAll();
  EXPECT_EQ(Locks.CountReadLocks(), 0);
  EXPECT_EQ(Locks.CountExclusiveLocks(), 0);
  EXPECT_EQ(Locks.CountEditLocks(), 0);
  EXPECT_EQ(Locks.HeldLevel(), tltNone);
  EXPECT_FALSE(Locks.UnlockActive());
}

// ---- over a lock file

TEST_F(TableLocksTest, RefusedReadLeavesEverythingAsItWas) {
  TScriptedLockFile& file = WithLockFile();
  file.Refusals = {false};
  EXPECT_EQ(Locks.BeginRead(false), -errTableLocked);
  EXPECT_EQ(file.Calls, std::vector<std::string>{"lock 0>1 now"});
  EXPECT_EQ(Locks.CountReadLocks(), 0);
  EXPECT_EQ(Locks.HeldLevel(), tltNone);
  ASSERT_EQ(Locks.BeginRead(true), 0);
  EXPECT_EQ(file.Calls.back(), "lock 0>1 wait");
  // A held level is reused without lock-file traffic.
  ASSERT_EQ(Locks.EndRead(), 0);
  ASSERT_EQ(Locks.BeginRead(true), 0);
  EXPECT_EQ(file.Calls.size(), 2u);
  EXPECT_EQ(Locks.EndRead(), 0);
}

TEST_F(TableLocksTest, WriteFromAnIdleReadTriesOnceThenSettlesAndWaits) {
  TScriptedLockFile& file = WithLockFile();
  ASSERT_EQ(Locks.BeginRead(true), 0);
  ASSERT_EQ(Locks.EndRead(), 0);  // read still held, not counted
  file.Refusals = {false, true};
  ASSERT_EQ(Locks.BeginWrite(true), 0);
  EXPECT_EQ(file.Calls, (std::vector<std::string>{"lock 0>1 wait", "lock 1>3 now", "unlock 1>0", "lock 0>3 wait"}));
  EXPECT_EQ(Locks.HeldLevel(), tltWrite);
  EXPECT_EQ(Locks.EndWrite(), 0);
}

TEST_F(TableLocksTest, ChangedTableIsCaughtUpAfterTheLock) {
  TScriptedLockFile& file = WithLockFile();
  file.Changed = true;
  ASSERT_EQ(Locks.BeginRead(true), 0);
  EXPECT_EQ(Owner.CatchUps, 1);
  ASSERT_EQ(Locks.BeginRead(true), 0);  // no new lock, no new check
  EXPECT_EQ(Owner.CatchUps, 1);
  EXPECT_EQ(Locks.EndRead(), 0);
  EXPECT_EQ(Locks.EndRead(), 0);
}

TEST_F(TableLocksTest, IsolationLevelsKeepLocksBeyondTheirEnd) {
  WithLockFile();
  Owner.Isolation = tilReadCommited;
  ASSERT_EQ(Locks.BeginUpgrade(true), 0);
  ASSERT_EQ(Locks.BeginWrite(true), 0);
  EXPECT_EQ(Locks.EndWrite(), 0);
  EXPECT_EQ(Locks.CountWriteLocks(), 1);  // kept until the transaction ends
  Owner.Isolation = tilDirtyRead;
  EXPECT_EQ(Locks.EndWrite(), 0);
  EXPECT_EQ(Locks.CountWriteLocks(), 0);
  EXPECT_EQ(Locks.CountReadLocks(), 1);  // turned into a counted read lock
  Owner.Isolation = tilRepeatableRead;
  EXPECT_EQ(Locks.EndUpgrade(), 0);
  EXPECT_EQ(Locks.CountUpgradeLocks(), 0);
  EXPECT_EQ(Locks.CountReadLocks(), 2);
  EXPECT_EQ(Locks.EndRead(), 0);
  EXPECT_EQ(Locks.EndRead(), 0);  // the last read lock is kept under repeatable read
  EXPECT_EQ(Locks.CountReadLocks(), 1);
  Locks.ReleaseAll();
  EXPECT_EQ(Locks.CountReadLocks(), 0);
}

TEST_F(TableLocksTest, ExclusiveRefusedWhileOthersUseTheTable) {
  TScriptedLockFile& file = WithLockFile();
  file.ExclusiveGranted = false;
  EXPECT_EQ(Locks.BeginExclusive(), -errTableInUse);
  EXPECT_NE(LastError.Msg().find(u"Irsz"), std::u16string::npos);
  EXPECT_EQ(Locks.CountExclusiveLocks(), 0);
  file.ExclusiveGranted = true;
  ASSERT_EQ(Locks.BeginExclusive(), 0);
  EXPECT_EQ(Locks.EndExclusive(), 0);
  EXPECT_EQ(file.Calls.back(), "unlockexcl");
  EXPECT_EQ(Locks.NetUsers(), 3);
}

TEST_F(TableLocksTest, EditLockThroughTheLockFile) {
  TScriptedLockFile& file = WithLockFile();
  file.RecordGranted = false;
  EXPECT_EQ(Locks.CheckEdit(5, nullptr), -errRecordLocked);
  EXPECT_EQ(Locks.CountEditLocks(), 0);
  file.RecordGranted = true;
  ASSERT_EQ(Locks.CheckEdit(5, nullptr), 0);
  EXPECT_EQ(Locks.CheckEdit(6, nullptr), -errRecordLocked);
  EXPECT_EQ(Locks.EndEdit(5), 0);
  EXPECT_EQ(file.Calls.back(), "unlockrec 5");
}

}  // namespace
}  // namespace vdb
