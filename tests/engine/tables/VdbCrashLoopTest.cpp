// Crash loop: a child process (fork) runs transactions on a table in a temporary directory of
// the real file system and is killed with SIGKILL at a random moment; the parent opens the
// table again (which rolls back the transaction the child left) and finds every committed
// transaction and no uncommitted one, and a table that passes its check.
//
// The transactions are drawn from a seed, so the parent replays them on a model. The child
// writes the number of each committed transaction to a progress file after committing it; a
// kill between the commit and that write leaves one more committed transaction than the
// file says, so the table may hold the model after k or after k + 1 transactions.
//
// VDB_CRASH_TRIALS sets the number of trials (the soak script raises it) and makes the test
// print its figures.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <random>
#include <thread>

#include "ChildProcessSupport.h"
#include "TestSeed.h"

namespace vdb {
namespace {

using test::TOsWorld;

constexpr int kInitialTowns = 12;

struct TModelTown {
  std::u16string Name;
  std::int64_t Code;
  std::string Note;
  friend bool operator==(const TModelTown&, const TModelTown&) = default;
};

void PrintTo(const TModelTown& t, std::ostream* os) {
  *os << "{" << VdbUtf16ToUtf8(t.Name) << ", " << t.Code << ", " << t.Note.size() << " note bytes}";
}

enum class TOpKind { okAppend, okReplace, okDelete };
struct TOp {
  TOpKind Kind;
  std::int32_t RecNo;  // 1-based, replace and delete
  TModelTown Town;     // append and replace
};

// The operations of transaction `k` on a table of `count` records, applied to `model`.
std::vector<TOp> DrawTransaction(std::uint32_t seed, std::int32_t k, std::vector<TModelTown>& model) {
  std::mt19937 rng(seed * 1000003u + static_cast<std::uint32_t>(k));
  std::vector<TOp> ops;
  const int n = 1 + static_cast<int>(rng() % 4);
  for (int i = 0; i < n; ++i) {
    const auto count = static_cast<std::int32_t>(model.size());
    const std::uint32_t roll = rng() % 10;
    const std::int64_t code = 1000000 + static_cast<std::int64_t>(k) * 10 + i;
    std::string note(rng() % 3 == 0 ? 0 : 1 + rng() % 300, static_cast<char>('a' + k % 26));
    const std::u16string name = u"K" + VdbUtf8ToUtf16(std::to_string(k)) + u"_" + VdbUtf8ToUtf16(std::to_string(i));
    if (count == 0 || roll < 4) {
      TOp op{TOpKind::okAppend, 0, {name, code, note}};
      model.push_back(op.Town);
      ops.push_back(op);
    } else if (roll < 7) {
      const std::int32_t recNo = 1 + static_cast<std::int32_t>(rng() % static_cast<std::uint32_t>(count));
      TOp op{TOpKind::okReplace, recNo, {name, code, note}};
      model[static_cast<std::size_t>(recNo - 1)] = op.Town;
      ops.push_back(op);
    } else {
      const std::int32_t recNo = 1 + static_cast<std::int32_t>(rng() % static_cast<std::uint32_t>(count));
      ops.push_back(TOp{TOpKind::okDelete, recNo, {}});
      model[static_cast<std::size_t>(recNo - 1)] = model.back();
      model.pop_back();
    }
  }
  return ops;
}

std::vector<TModelTown> InitialModel() {
  std::vector<TModelTown> model;
  for (int i = 1; i <= kInitialTowns; ++i) {
    model.push_back({u"T" + VdbUtf8ToUtf16(std::to_string(i)), 10 * i, i % 2 ? "note " + std::to_string(i) : ""});
  }
  return model;
}

std::vector<TModelTown> ModelAfter(std::uint32_t seed, std::int32_t transactions) {
  std::vector<TModelTown> model = InitialModel();
  for (std::int32_t k = 1; k <= transactions; ++k) DrawTransaction(seed, k, model);
  return model;
}

std::vector<TModelTown> TableState(TVdbBaseTable& t) {
  std::vector<TModelTown> state;
  for (const test::TTown& town : test::TownsState(t)) state.push_back({town.Name, town.Code, town.Note});
  return state;
}

// The child: transactions until it is killed. Never returns.
[[noreturn]] void RunChild(const std::filesystem::path& dir, std::uint32_t seed) {
  const int progress = ::open((dir / "progress").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666);
  TOsWorld world(dir);
  auto t = world.Open();
  if (!t || progress < 0) ::_exit(2);
  std::vector<TModelTown> model = InitialModel();
  std::vector<std::uint8_t> record(static_cast<std::size_t>(t->GetRecordSize()));
  for (std::int32_t k = 1;; ++k) {
    world.Env.IsolationLevel = tilReadCommited;
    for (const TOp& op : DrawTransaction(seed, k, model)) {
      std::int32_t r = 0;
      switch (op.Kind) {
        case TOpKind::okAppend:
          r = test::AppendTown(*t, op.Town.Name, op.Town.Code, op.Town.Note);
          break;
        case TOpKind::okReplace: {
          if (t->ReadRecord(op.RecNo, record) != 0) ::_exit(3);
          std::vector<std::uint8_t> changed = record;
          test::SetText(*t, changed, test::tcName, op.Town.Name);
          test::SetInt(*t, changed, test::tcCode, op.Town.Code);
          r = t->ReplaceRecord(changed, record, {TVdbBlobData{test::tcNote + 1, {op.Town.Note.begin(), op.Town.Note.end()}, false}},
                               op.RecNo);
          break;
        }
        case TOpKind::okDelete:
          if (t->ReadRecord(op.RecNo, record) != 0) ::_exit(3);
          r = t->DeleteRecord(record, op.RecNo);
          break;
      }
      if (r < 0) ::_exit(4);
    }
    world.Env.IsolationLevel = tilNone;
    if (t->CommitModifications() != 0) ::_exit(5);
    if (::pwrite(progress, &k, sizeof k, 0) != static_cast<ssize_t>(sizeof k)) ::_exit(6);
  }
}

struct TFigures {
  int Trials = 0;
  int Recoveries = 0;          // a redo log was there to roll back
  int CommitBeforeProgress = 0;  // killed between a commit and its progress mark
  std::int64_t Committed = 0;  // committed transactions found
};

TEST(CrashLoopTest, KilledWritersLeaveOnlyCommittedTransactions) {
  const char* env = std::getenv("VDB_CRASH_TRIALS");
  const int trials = env != nullptr ? std::max(1, std::atoi(env)) : 200;
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("vidora-crash-" + std::to_string(::getpid()));
  const std::uint32_t runSeed = vidora_test::Seed("CrashLoopTest");
  SCOPED_TRACE("VIDORA_SEED=" + std::to_string(runSeed));
  std::mt19937 rng(runSeed);
  TFigures figures;
  for (int trial = 0; trial < trials; ++trial) {
    const std::uint32_t seed = runSeed + static_cast<std::uint32_t>(trial);
    SCOPED_TRACE("trial seed " + std::to_string(seed));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    ASSERT_NO_FATAL_FAILURE(test::CreateTownsOnDisk(dir, InitialModel()));
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) RunChild(dir, seed);
    std::this_thread::sleep_for(std::chrono::microseconds(rng() % 12000));
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the child ended by itself with " << WEXITSTATUS(status);

    std::int32_t committed = test::ReadProgress(dir);
    const bool logLeft = std::filesystem::exists(dir / "Towns.vdbr");
    TOsWorld world(dir);
    auto t = world.Open();
    ASSERT_NE(t, nullptr) << VdbUtf16ToUtf8(world.LastError.Msg());
    EXPECT_FALSE(std::filesystem::exists(dir / "Towns.vdbr"));
    const auto state = TableState(*t);
    if (state == ModelAfter(seed, committed + 1)) {
      ++figures.CommitBeforeProgress;
      ++committed;
    } else {
      ASSERT_EQ(state, ModelAfter(seed, committed)) << "committed " << committed;
    }
    ASSERT_EQ(test::Problems(t->VerifyTable()), "");
    ++figures.Trials;
    figures.Recoveries += logLeft ? 1 : 0;
    figures.Committed += committed;
  }
  std::filesystem::remove_all(dir);
  if (env != nullptr) {
    std::cout << "crash loop: " << figures.Trials << " trials, " << figures.Committed
              << " committed transactions found, " << figures.Recoveries << " abandoned redo logs rolled back, "
              << figures.CommitBeforeProgress << " kills between a commit and its progress mark\n";
  }
}

}  // namespace
}  // namespace vdb
