// Durability of confirmed writes:
//   - a write outside a transaction is on the files when the call returns (the files as a
//     killed process would leave them hold it, and no redo log is left behind);
//   - syncs per commit in the default and the secure flush mode: none in the default mode,
//     and in the secure mode a fixed number per commit, whatever the number of records the
//     transaction changed (the redo log is synced once per group, never per entry);
//   - a power loss (unsynced writes dropped, kept, or kept in a random subset, at a random
//     moment, also in the middle of a call) in the secure flush mode loses no confirmed write
//     and no committed transaction, and the table passes its check;
//   - a flush failure found outside a call is returned by the next call of any kind, once,
//     and by Close;
//   - a redo log whose last record entry lost its note entry to a killed write (cut at a page
//     boundary) does not bring the record back without its note.
//
// Random cases take their seed from VIDORA_SEED (printed).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <iostream>

#include "../support/DiskModelFileSystem.h"
#include "../support/FaultFileSystem.h"
#include "TownStepsSupport.h"
#include "base/VdbErrorCodes.h"
#include "tables/VdbRedoLog.h"
#include "sql/VdbSqlCompiler.h"

namespace vdb {
namespace {

using test::TModelTown;
using test::TPowerLoss;

constexpr std::uint16_t kDefaultRights = 0x010F;
constexpr std::uint16_t kSecureRights = 0x030F;

std::uint32_t RunSeed() {
  static const std::uint32_t seed = [] {
    std::uint32_t s = 0;
    if (const char* e = std::getenv("VIDORA_SEED"); e != nullptr && *e != 0) {
      s = static_cast<std::uint32_t>(std::strtoul(e, nullptr, 10));
    } else {
      s = static_cast<std::uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    }
    std::cout << "VIDORA_SEED=" << s << "\n";
    return s;
  }();
  return seed;
}

// A table environment over `fs` (which wraps the memory file system of a test world).
struct TWrappedEnv {
  explicit TWrappedEnv(TvuFileSystem& fs) : Env{PageManager, fs, 1, LastError, TvuServices{Clock, Sleeper, Random},
                                                tilNone, kVdbDefaultBlockSize, &VdbSqlCompiler()} {
    PageManager.RegisterClient(1, 65536);
  }
  ~TWrappedEnv() { PageManager.UnregisterClient(1, 65536); }
  std::unique_ptr<TVdbBaseTable> Open(std::uint16_t rights) {
    auto t = std::make_unique<TVdbBaseTable>(Env);
    t->SetRights(rights);
    t->SetFileName(u"/db/Towns.vdbt");
    if (t->Open(false) != 0 || t->Setup(false) != 0) {
      ADD_FAILURE() << "open: " << VdbUtf16ToUtf8(LastError.Msg());
      return nullptr;
    }
    return t;
  }
  TVdbPageManager PageManager;
  TVdbLastError LastError;
  TvuFakeClock Clock;
  TvuFakeSleeper Sleeper{Clock};
  TvuFakeRandom Random{3};
  TVdbTableEnvironment Env;
};

void MakeTowns(test::TTableWorld& world, int count) {
  ASSERT_EQ(world.NewTableObject()->NewTable(test::TownsDefinition(u"/db/Towns")), 0);
  auto t = world.OpenTable(u"/db/Towns.vdbt");
  for (const TModelTown& town : test::InitialTowns(count)) ASSERT_GT(test::AppendTown(*t, town.Name, town.Code, town.Note), 0);
}

TEST(DurabilityTest, AWriteOutsideATransactionIsOnTheFilesWhenTheCallReturns) {
  test::TTableWorld world;
  MakeTowns(world, 6);
  auto t = world.OpenTable(u"/db/Towns.vdbt");
  std::vector<TModelTown> model = test::InitialTowns(6);
  for (std::int32_t k = 1; k <= 30; ++k) {
    SCOPED_TRACE("step " + std::to_string(k));
    const test::TStep step = test::DrawStep(77, k, model, 0);
    ASSERT_GE(test::ApplyStep(*t, world.Env, step), 0) << VdbUtf16ToUtf8(world.LastError.Msg());
    // The table stays open with its lock held: the files alone must hold the change.
    test::TTableWorld killed;
    test::Snapshot(world.Fs, killed.Fs);
    EXPECT_FALSE(killed.Fs.FileExists(u"/db/Towns.vdbr"));
    auto survivor = killed.OpenTable(u"/db/Towns.vdbt");
    ASSERT_EQ(test::ModelState(*survivor), model);
    ASSERT_EQ(test::Problems(survivor->VerifyTable()), "");
  }
}

struct TSyncFigures {
  std::int64_t FileSyncs = 0, DirectorySyncs = 0;
};

// Syncs of one append, one change and one delete outside a transaction, and of a commit of
// `records` appends, in the flush mode of `rights`.
struct TModeFigures {
  TSyncFigures Append, Replace, Delete, Transaction;
};

TModeFigures MeasureSyncs(std::uint16_t rights, int records) {
  test::TTableWorld world;
  MakeTowns(world, 4);
  test::TDiskModelFileSystem disk(world.Fs);
  TWrappedEnv env(disk);
  auto t = env.Open(rights);
  TModeFigures figures;
  if (!t) return figures;
  const auto measure = [&](TSyncFigures& into, const std::function<std::int32_t()>& call) {
    disk.ResetCounts();
    EXPECT_GE(call(), 0) << VdbUtf16ToUtf8(env.LastError.Msg());
    into = TSyncFigures{disk.FileSyncs(), disk.DirectorySyncs()};
  };
  measure(figures.Append, [&] { return test::AppendTown(*t, u"New", 500, "a note"); });
  measure(figures.Replace, [&] { return test::ApplyStepOp(*t, {test::TStepOpKind::okReplace, 2, {u"Changed", 501, "x"}}); });
  measure(figures.Delete, [&] { return test::ApplyStepOp(*t, {test::TStepOpKind::okDelete, 1, {}}); });
  measure(figures.Transaction, [&]() -> std::int32_t {
    env.Env.IsolationLevel = tilReadCommited;
    for (int i = 0; i < records; ++i) {
      const std::int32_t r = test::AppendTown(*t, u"Bulk" + VdbUtf8ToUtf16(std::to_string(i)), 1000 + i, "bulk note");
      if (r < 0) return r;
    }
    env.Env.IsolationLevel = tilNone;
    return t->CommitModifications();
  });
  return figures;
}

TEST(DurabilityTest, SyncsPerCommitInEachFlushMode) {
  const TModeFigures plain = MeasureSyncs(kDefaultRights, 300);
  for (const TSyncFigures& f : {plain.Append, plain.Replace, plain.Delete, plain.Transaction}) {
    EXPECT_EQ(f.FileSyncs, 0);
    EXPECT_EQ(f.DirectorySyncs, 0);
  }
  const TModeFigures secure = MeasureSyncs(kSecureRights, 300);
  // Redo log, data file, note file, the three indexes, the log's erasure, and the directory
  // of the new log: a fixed number, never one per record.
  for (const TSyncFigures& f : {secure.Append, secure.Replace, secure.Delete, secure.Transaction}) {
    EXPECT_GE(f.FileSyncs, 3);
    EXPECT_LE(f.FileSyncs, 8);
    EXPECT_EQ(f.DirectorySyncs, 1);
  }
  std::cout << "syncs (file + directory) in the secure flush mode: append " << secure.Append.FileSyncs << "+"
            << secure.Append.DirectorySyncs << ", change " << secure.Replace.FileSyncs << "+"
            << secure.Replace.DirectorySyncs << ", delete " << secure.Delete.FileSyncs << "+"
            << secure.Delete.DirectorySyncs << ", transaction of 300 appends " << secure.Transaction.FileSyncs << "+"
            << secure.Transaction.DirectorySyncs << "\n";
}

// One power-loss run: the towns are made, the table opened in the secure flush mode over
// the disk model, steps are applied until the crash image is taken; the image is opened.
void PowerLossRun(std::uint32_t seed) {
  constexpr int kInitial = 6;
  constexpr int kTransactions = 3;  // tenths of the steps
  std::mt19937 rng(seed);
  const auto mode = static_cast<TPowerLoss>(rng() % 3);
  const std::int64_t crashAt = 1 + static_cast<std::int64_t>(rng() % 400);
  SCOPED_TRACE("seed " + std::to_string(seed) + ", mode " + std::to_string(static_cast<int>(mode)) + ", crash at " +
               std::to_string(crashAt));
  test::TTableWorld world;
  MakeTowns(world, kInitial);
  test::TDiskModelFileSystem disk(world.Fs);
  std::int32_t confirmed = 0;
  {
    TWrappedEnv env(disk);
    auto t = env.Open(kSecureRights);
    ASSERT_NE(t, nullptr);
    disk.ArmCrash(crashAt, seed, mode);
    std::vector<TModelTown> model = test::InitialTowns(kInitial);
    for (std::int32_t k = 1; k <= 200 && !disk.Crashed(); ++k) {
      const test::TStep step = test::DrawStep(seed, k, model, kTransactions);
      ASSERT_GE(test::ApplyStep(*t, env.Env, step), 0) << VdbUtf16ToUtf8(env.LastError.Msg());
      if (!disk.Crashed()) confirmed = k;
    }
    ASSERT_TRUE(disk.Crashed());
  }
  test::TTableWorld after;
  test::TDiskModelFileSystem::WriteImage(disk.Captured(), after.Fs);
  auto t = after.OpenTable(u"/db/Towns.vdbt");
  const auto state = test::ModelState(*t);
  // The step in flight when the power went may or may not be there.
  if (state != test::ModelAfterSteps(seed, confirmed + 1, kInitial, kTransactions)) {
    ASSERT_EQ(state, test::ModelAfterSteps(seed, confirmed, kInitial, kTransactions)) << "confirmed steps " << confirmed;
  }
  EXPECT_FALSE(after.Fs.FileExists(u"/db/Towns.vdbr"));
  ASSERT_EQ(test::Problems(t->VerifyTable()), "");
}

TEST(DurabilityTest, PowerLossInTheSecureFlushModeLosesNothingConfirmed) {
  const char* env = std::getenv("VDB_POWER_LOSS_RUNS");
  const int runs = env != nullptr ? std::max(1, std::atoi(env)) : 24;
  const std::uint32_t base = RunSeed();
  for (int i = 0; i < runs && !HasFatalFailure(); ++i) PowerLossRun(base + static_cast<std::uint32_t>(i));
  if (env != nullptr && !HasFailure()) std::cout << "power loss: " << runs << " runs, nothing confirmed lost\n";
}

TEST(DurabilityTest, AFlushFailureFoundOutsideACallIsReturnedByTheNextCallAndByClose) {
  test::TTableWorld world;
  MakeTowns(world, 3);
  for (const bool byClose : {false, true}) {
    SCOPED_TRACE(byClose ? "close" : "next call");
    test::TFaultFileSystem fs(world.Fs);
    TWrappedEnv env(fs);
    auto t = env.Open(kDefaultRights);
    ASSERT_NE(t, nullptr);
    // A drawn record id is a change that waits in the cache for the next write.
    std::vector<std::uint8_t> record = test::TownRecord(*t, u"Pending", 99);
    ASSERT_EQ(t->SetAutoNum(record), 0);
    fs.Arm(1);
    t->FlushTable(true);  // as the unlock thread does when it gives a write lock back
    ASSERT_TRUE(fs.Fired());
    if (byClose) {
      EXPECT_EQ(t->Close(), -errFileWrite);
      continue;
    }
    std::vector<std::uint8_t> read(static_cast<std::size_t>(t->GetRecordSize()));
    EXPECT_EQ(t->ReadRecord(1, read), -errFileWrite);
    EXPECT_EQ(env.LastError.Code(), errFileWrite);
    EXPECT_EQ(t->ReadRecord(1, read), 0);
    EXPECT_EQ(t->Close(), 0);
  }
}

TEST(DurabilityTest, ALogEntryCutOffFromItsNoteDoesNotBringTheRecordBackWithoutIt) {
  test::TTableWorld world;
  MakeTowns(world, 3);
  std::u16string logName;
  {
    auto t = world.OpenTable(u"/db/Towns.vdbt");
    std::vector<std::uint8_t> record(static_cast<std::size_t>(t->GetRecordSize()));
    ASSERT_EQ(t->ReadRecord(1, record), 0);
    // The entry of a change to town 1, written by a process killed before the change and in
    // the middle of the entry's note: the record entry is whole, its note entry is not.
    TVdbRedoLog log(world.Fs, u"/db/Towns.vdbt", t->GetLevel(), false, t->GetRecordSize());
    log.NewFile();
    log.LogUpdate(1, record, test::NoteBlob("note 1"));
    logName = log.FileName();
    log.Close();
    const std::int64_t recordEntryEnd = kVdbRedoHeaderSize + 5 + t->GetRecordSize() + kVdbRedoLengthSize;
    const TvuFileHandle h = world.Fs.OpenFile(logName, fmOpenReadWrite);
    world.Fs.SetFileSize(h, recordEntryEnd + 3);
    world.Fs.CloseFile(h);
  }
  auto t = world.OpenTable(u"/db/Towns.vdbt");
  EXPECT_FALSE(world.Fs.FileExists(logName));
  EXPECT_EQ(test::ModelState(*t), test::InitialTowns(3));
  EXPECT_EQ(test::Problems(t->VerifyTable()), "");
}

}  // namespace
}  // namespace vdb
