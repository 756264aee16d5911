// Fault injection on the write path: for N = 1, 2, … the Nth write or flush of the files
// fails once during (a) an insert with a note, (b) a change of an indexed key and (c) a
// delete that moves the last record, each alone and inside a committed transaction. After
// the table is closed and opened again without faults it holds exactly the old or the new
// state (the old one when a change outside a transaction reported its failure), and passes
// its check (every index entry on the right record, counts agreeing, memo chains readable and
// the free list whole). The files as a crash right after the change would leave them hold the
// new state exactly when the change (or its transaction's commit) reported success.
#include <gtest/gtest.h>

#include <functional>

#include "../support/FaultFileSystem.h"
#include "WriteTestSupport.h"

namespace vdb {
namespace {

using test::TTown;

struct TFaultCase {
  const char* Name;
  bool InTransaction;
  // The change; returns its status.
  std::function<std::int32_t(TVdbBaseTable&)> Change;
  // The state it leads to from the five towns.
  std::function<void(std::vector<TTown>&)> Expected;
};

std::int32_t InsertWithNote(TVdbBaseTable& t) { return test::AppendTown(t, u"Inserted", 60, "a note\r\nof two lines"); }

std::int32_t UpdateIndexedKey(TVdbBaseTable& t) {
  std::vector<std::uint8_t> record(static_cast<std::size_t>(t.GetRecordSize()));
  const std::int16_t r = t.ReadRecord(2, record);
  if (r < 0) return r;
  std::vector<std::uint8_t> changed = record;
  test::SetText(t, changed, test::tcName, u"Renamed");
  test::SetInt(t, changed, test::tcCode, 25);
  return t.ReplaceRecord(changed, record, test::NoteBlob("new note"), 2);
}

std::int32_t DeleteMoving(TVdbBaseTable& t) {
  std::vector<std::uint8_t> record(static_cast<std::size_t>(t.GetRecordSize()));
  const std::int16_t r = t.ReadRecord(1, record);
  if (r < 0) return r;
  return t.DeleteRecord(record, 1);
}

std::vector<TFaultCase> Cases() {
  const auto insert = [](std::vector<TTown>& s) { s.push_back(TTown{6, u"Inserted", 60, "a note\r\nof two lines"}); };
  const auto update = [](std::vector<TTown>& s) { s[1] = TTown{2, u"Renamed", 25, "new note"}; };
  const auto remove = [](std::vector<TTown>& s) {
    s[0] = s.back();
    s.pop_back();
  };
  return {{"insert", false, InsertWithNote, insert},          {"update", false, UpdateIndexedKey, update},
          {"delete", false, DeleteMoving, remove},            {"insert in transaction", true, InsertWithNote, insert},
          {"update in transaction", true, UpdateIndexedKey, update}, {"delete in transaction", true, DeleteMoving, remove}};
}

class WriteFaultTest : public ::testing::TestWithParam<std::size_t> {};

// One run: the five towns are made and closed, the table opened over the faulty file system,
// the change made with the Nth write or flush failing, the table closed; whether the fault
// was reached.
struct TRun {
  bool Fired = false;
  bool Succeeded = false;
};

TRun RunWithFault(TvuMemoryFileSystem& disk, const TFaultCase& c, std::int64_t n, TvuMemoryFileSystem& crashed) {
  test::TFaultFileSystem fs(disk);
  TVdbPageManager pageManager;
  pageManager.RegisterClient(1, 65536);
  TVdbLastError lastError;
  TvuFakeClock clock;
  TvuFakeSleeper sleeper{clock};
  TvuFakeRandom random{11};
  TVdbTableEnvironment env{pageManager, fs, 1, lastError, TvuServices{clock, sleeper, random},
                           tilNone, kVdbDefaultBlockSize, &VdbSqlCompiler()};
  TRun run;
  {
    TVdbBaseTable t(env);
    t.SetRights(0x010F);
    t.SetFileName(u"/db/Towns.vdbt");
    if (t.Open(false) != 0 || t.Setup(false) != 0) {
      ADD_FAILURE() << "open: " << VdbUtf16ToUtf8(lastError.Msg());
      return run;
    }
    fs.Arm(n);
    if (c.InTransaction) env.IsolationLevel = tilReadCommited;
    const std::int32_t changed = c.Change(t);
    env.IsolationLevel = tilNone;
    std::int32_t committed = 0;
    if (c.InTransaction) committed = changed < 0 ? t.UndoModifications() : t.CommitModifications();
    run.Succeeded = changed >= 0 && committed >= 0;
    test::Snapshot(disk, crashed);
    static_cast<void>(t.Close());
  }
  run.Fired = fs.Fired();
  pageManager.UnregisterClient(1, 65536);
  return run;
}

TEST_P(WriteFaultTest, EveryFailingWriteLeavesTheOldOrTheNewState) {
  const TFaultCase c = Cases()[GetParam()];
  SCOPED_TRACE(c.Name);
  std::vector<TTown> oldState;
  for (std::int64_t n = 1;; ++n) {
    SCOPED_TRACE("failing write or flush " + std::to_string(n));
    ASSERT_LT(n, 400) << "the change never stopped writing";
    test::TTableWorld world;
    {
      ASSERT_EQ(world.NewTableObject()->NewTable(test::TownsDefinition(u"/db/Towns")), 0);
      auto t = world.OpenTable(u"/db/Towns.vdbt");
      for (int i = 1; i <= 5; ++i) {
        ASSERT_EQ(test::AppendTown(*t, u"T" + VdbUtf8ToUtf16(std::to_string(i)), 10 * i, i % 2 ? "note" : ""), i);
      }
      oldState = test::TownsState(*t);
    }
    std::vector<TTown> newState = oldState;
    c.Expected(newState);

    test::TTableWorld crashWorld;
    const TRun run = RunWithFault(world.Fs, c, n, crashWorld.Fs);
    auto t = world.OpenTable(u"/db/Towns.vdbt");
    const auto state = test::TownsState(*t);
    if (run.Succeeded) {
      EXPECT_EQ(state, newState);
    } else if (!c.InTransaction) {
      // A write outside a transaction that reports a failure did not happen.
      EXPECT_EQ(state, oldState);
    } else {
      EXPECT_TRUE(state == oldState || state == newState) << ::testing::PrintToString(state);
    }
    EXPECT_FALSE(world.Fs.FileExists(u"/db/Towns.vdbr"));
    EXPECT_EQ(test::Problems(t->VerifyTable()), "");

    // The process dies right after the change instead of closing the table: a change is on
    // the files exactly when its call (or its transaction's commit) confirmed it.
    auto survivor = crashWorld.OpenTable(u"/db/Towns.vdbt");
    const auto crashState = test::TownsState(*survivor);
    EXPECT_EQ(crashState, run.Succeeded ? newState : oldState);
    EXPECT_FALSE(crashWorld.Fs.FileExists(u"/db/Towns.vdbr"));
    EXPECT_EQ(test::Problems(survivor->VerifyTable()), "");
    if (HasFailure() || !run.Fired) break;
  }
}

INSTANTIATE_TEST_SUITE_P(Changes, WriteFaultTest, ::testing::Range<std::size_t>(0, 6));

}  // namespace
}  // namespace vdb
