// Several programs on one database, through the call interface: helper processes
// (vdb_lock_helper) append, increment, hold transactions and get killed beside each other
// and beside sessions of this test program. Every table must afterwards hold each committed
// record exactly once, no blank record, and indexes that agree with the data; a reader never
// sees uncommitted records; a writer killed in a transaction leaves exactly the committed
// state; another process's delete moves this program's cursor with its record; the last
// leaver removes the lock and record-move files.
//
// The seed of the kill moments comes from VIDORA_SEED (printed); VDB_MP_KILL_TRIALS raises
// the number of kill trials (the soak script does).
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <thread>

#include "../api/VdbApiTestSupport.h"
#include "TestSeed.h"

extern char** environ;

namespace vdbapi_test {
namespace {

namespace fs = std::filesystem;

pid_t Spawn(const std::vector<std::string>& args) {
  std::vector<std::string> all{VDB_LOCK_HELPER};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  EXPECT_EQ(::posix_spawn(&pid, VDB_LOCK_HELPER, nullptr, nullptr, argv.data(), environ), 0);
  return pid;
}

int Wait(pid_t pid) {
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool StillRunning(pid_t pid) {
  int status = 0;
  return ::waitpid(pid, &status, WNOHANG) == 0;
}

int RunHelper(const std::vector<std::string>& args) { return Wait(Spawn(args)); }

void WaitForFile(const fs::path& p) {
  for (int i = 0; i < 30000 && !fs::exists(p); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_TRUE(fs::exists(p)) << p;
}

// What "verify" printed: the record count and the names with their numbers.
struct TVerified {
  int Status = -1;
  int Records = -1;
  std::vector<std::pair<std::string, int>> Rows;
  int Count(const std::string& prefix) const {
    int n = 0;
    for (const auto& r : Rows) n += r.first.rfind(prefix, 0) == 0 ? 1 : 0;
    return n;
  }
};

class MultiProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Dir = EmptyDatabaseDir(std::string("mp-") + ::testing::UnitTest::GetInstance()->current_test_info()->name());
    ASSERT_EQ(RunHelper({Dir.string(), "create"}), 0);
  }
  std::string P(const char* name) const { return (Dir / name).string(); }
  TVerified Verify() {
    TVerified v;
    const fs::path out = Dir / "verified.txt";
    const std::string cmd = std::string(VDB_LOCK_HELPER) + " " + Dir.string() + " verify > " + out.string();
    v.Status = std::system(cmd.c_str());
    std::ifstream in(out);
    std::string word;
    in >> word >> v.Records;
    std::string name;
    int n = 0;
    while (in >> name >> n) v.Rows.emplace_back(name, n);
    return v;
  }
  void ExpectNoLockFiles() {
    EXPECT_FALSE(fs::exists(Dir / "Shared.vdbl"));
    EXPECT_FALSE(fs::exists(Dir / "Shared.vdbv"));
  }

  fs::path Dir;
};

TEST_F(MultiProcessTest, TwoAppendersKeepEveryRecord) {
  const pid_t a = Spawn({Dir.string(), "append", "A", "300"});
  const pid_t b = Spawn({Dir.string(), "append", "B", "300"});
  EXPECT_EQ(Wait(a), 0);
  EXPECT_EQ(Wait(b), 0);
  const TVerified v = Verify();
  EXPECT_EQ(v.Status, 0);
  EXPECT_EQ(v.Records, 601);
  EXPECT_EQ(v.Count("A-"), 300);
  EXPECT_EQ(v.Count("B-"), 300);
  ExpectNoLockFiles();
}

TEST_F(MultiProcessTest, CounterIncrementsOfTwoProcessesAllCount) {
  const pid_t a = Spawn({Dir.string(), "increment", "150"});
  const pid_t b = Spawn({Dir.string(), "increment", "150", "txn"});
  EXPECT_EQ(Wait(a), 0);
  EXPECT_EQ(Wait(b), 0);
  const TVerified v = Verify();
  EXPECT_EQ(v.Status, 0);
  ASSERT_EQ(v.Records, 1);
  EXPECT_EQ(v.Rows[0].second, 300);
}

TEST_F(MultiProcessTest, TwoProcessesWithTransactionsKeepEveryCommittedRecordOnce) {
  const pid_t a = Spawn({Dir.string(), "append", "A", "100", "txn", "10"});
  const pid_t b = Spawn({Dir.string(), "append", "B", "100", "txn", "7"});
  EXPECT_EQ(Wait(a), 0);
  EXPECT_EQ(Wait(b), 0);
  const TVerified v = Verify();
  EXPECT_EQ(v.Status, 0) << "blank record or index out of step";
  EXPECT_EQ(v.Records, 201);
  EXPECT_EQ(v.Count("A-"), 100);
  EXPECT_EQ(v.Count("B-"), 100);
  // No redo log is left behind.
  for (const auto& e : fs::directory_iterator(Dir)) EXPECT_EQ(e.path().filename().string().find(".vdbr"), std::string::npos);
}

TEST_F(MultiProcessTest, WritersAndReadersWaitForAnOpenTransactionAndSeeOnlyItsOutcome) {
  for (const char* outcome : {"commit", "rollback"}) {
    SCOPED_TRACE(outcome);
    fs::remove(Dir / "ready");
    fs::remove(Dir / "go");
    fs::remove(Dir / "readready");
    fs::remove(Dir / "seen.txt");
    fs::remove(Dir / "readgo");
    // The reader has the table open before the transaction starts; the others open it
    // while the transaction runs (opening waits for a read lock too).
    const pid_t reader = Spawn({Dir.string(), "read", P("readready"), P("readgo"), P("seen.txt")});
    ASSERT_NO_FATAL_FAILURE(WaitForFile(Dir / "readready"));
    const pid_t holder = Spawn({Dir.string(), "hold", outcome, "20", P("ready"), P("go"), outcome});
    ASSERT_NO_FATAL_FAILURE(WaitForFile(Dir / "ready"));
    { std::ofstream(Dir / "readgo") << 1; }
    const pid_t writer = Spawn({Dir.string(), "append", std::string("W") + outcome, "5"});
    const pid_t editor = Spawn({Dir.string(), "increment", "3"});
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    // Nobody got past the transaction's write lock.
    EXPECT_TRUE(StillRunning(reader));
    EXPECT_TRUE(StillRunning(writer));
    EXPECT_TRUE(StillRunning(editor));
    EXPECT_FALSE(fs::exists(Dir / "seen.txt"));
    { std::ofstream(Dir / "go") << 1; }
    EXPECT_EQ(Wait(holder), 0);
    EXPECT_EQ(Wait(reader), 0);
    EXPECT_EQ(Wait(writer), 0);
    EXPECT_EQ(Wait(editor), 0);
    // The reader saw the table before the writer and editor or after them, but never the
    // uncommitted records.
    std::ifstream seen(Dir / "seen.txt");
    std::string word;
    int records = -1;
    seen >> word >> records;
    const bool committed = std::string(outcome) == "commit";
    std::string name;
    int transactionRecords = 0;
    while (seen >> name) transactionRecords += name.rfind(std::string(outcome) + "-", 0) == 0 ? 1 : 0;
    EXPECT_EQ(transactionRecords, committed ? 20 : 0);
  }
  const TVerified v = Verify();
  EXPECT_EQ(v.Status, 0);
  EXPECT_EQ(v.Count("commit-"), 20);
  EXPECT_EQ(v.Count("rollback-"), 0);
  EXPECT_EQ(v.Count("Wcommit-"), 5);
  EXPECT_EQ(v.Count("Wrollback-"), 5);
  ASSERT_FALSE(v.Rows.empty());
  EXPECT_EQ(v.Rows[0].first, "counter");
  EXPECT_EQ(v.Rows[0].second, 6);
  ExpectNoLockFiles();
}


TEST_F(MultiProcessTest, AWriterKilledInATransactionLeavesTheCommittedState) {
  const std::uint32_t seed = vidora_test::Seed("MultiProcessTest.AWriterKilledInATransactionLeavesTheCommittedState");
  SCOPED_TRACE("VIDORA_SEED=" + std::to_string(seed));
  std::mt19937 rng(seed);
  const char* env = std::getenv("VDB_MP_KILL_TRIALS");
  const int trials = env != nullptr ? std::max(1, std::atoi(env)) : 4;
  int committed = 0;
  for (int trial = 0; trial < trials; ++trial) {
    SCOPED_TRACE(trial);
    fs::remove(Dir / "ready");
    // A second process is already waiting for the table when the writer dies, every other
    // trial: it must reclaim the dead session itself.
    const bool waiter = trial % 2 == 1;
    const pid_t victim = Spawn({Dir.string(), "hang", "K" + std::to_string(trial), P("ready")});
    ASSERT_NO_FATAL_FAILURE(WaitForFile(Dir / "ready"));
    pid_t other = 0;
    if (waiter) other = Spawn({Dir.string(), "append", "S" + std::to_string(trial), "3"});
    std::this_thread::sleep_for(std::chrono::milliseconds(rng() % 40));
    ::kill(victim, SIGKILL);
    EXPECT_EQ(Wait(victim), 128 + SIGKILL);
    if (waiter) {
      EXPECT_EQ(Wait(other), 0);
      committed += 3;
    }
    const TVerified v = Verify();
    ASSERT_EQ(v.Status, 0);
    EXPECT_EQ(v.Records, 1 + committed);
    EXPECT_EQ(v.Count("K"), 0);
  }
  if (env != nullptr) std::cout << "kill trials: " << trials << ", committed records: " << committed << std::endl;
  ExpectNoLockFiles();
}

// Four processes with two sessions each do random appends, increments and deletes of their own
// records, half of them in transactions (some rolled back); afterwards the table must match
// the model built from each process's log of committed operations. VDB_MP_STRESS_STEPS sets
// the steps per process (the soak script raises it).
TEST_F(MultiProcessTest, StressOfFourProcessesMatchesTheirCommittedOperations) {
  const std::uint32_t seed = vidora_test::Seed("MultiProcessTest.StressOfFourProcessesMatchesTheirCommittedOperations");
  SCOPED_TRACE("VIDORA_SEED=" + std::to_string(seed));
  const char* env = std::getenv("VDB_MP_STRESS_STEPS");
  const int steps = env != nullptr ? std::max(1, std::atoi(env)) : 60;
  std::vector<pid_t> workers;
  for (int p = 0; p < 4; ++p) {
    const std::string tag = "P" + std::to_string(p);
    workers.push_back(Spawn({Dir.string(), "stress", tag, std::to_string(seed + p), std::to_string(steps),
                             P(("log-" + tag).c_str())}));
  }
  for (pid_t w : workers) EXPECT_EQ(Wait(w), 0);
  std::map<std::string, int> model;  // name → N
  int operations = 0;
  for (int p = 0; p < 4; ++p) {
    std::ifstream log(Dir / ("log-P" + std::to_string(p)));
    std::string op, name;
    while (log >> op >> name) {
      ++operations;
      if (op == "add") {
        EXPECT_TRUE(model.emplace(name, 1).second) << name;
      } else if (op == "inc") {
        ++model.at(name);
      } else if (op == "del") {
        EXPECT_EQ(model.erase(name), 1u) << name;
      }
    }
  }
  const TVerified v = Verify();
  EXPECT_EQ(v.Status, 0) << "blank record or index out of step";
  EXPECT_EQ(v.Records, static_cast<int>(model.size()) + 1);
  std::map<std::string, int> table;
  for (const auto& [name, n] : v.Rows) {
    if (name == "counter") continue;
    EXPECT_TRUE(table.emplace(name, n).second) << "twice: " << name;
  }
  EXPECT_EQ(table, model);
  if (env != nullptr) std::cout << "stress: 4 processes x " << steps << " steps, " << operations << " committed operations, " << model.size() << " records" << std::endl;
  ExpectNoLockFiles();
}

TEST_F(MultiProcessTest, AnotherProcesssDeleteMovesThisCursorWithItsRecord) {
  ASSERT_EQ(RunHelper({Dir.string(), "append", "R", "9"}), 0);
  const int16_t sess = OpenSession(Dir);
  const int16_t rltn = VdbSessOpenTable(sess, W(u"Shared"), W(u""), VDB_RIGHTS_WRITE, false, false);
  ASSERT_GT(rltn, 0);
  const int16_t t = VdbTableCreate(rltn, W(u"Shared"));
  ASSERT_GT(t, 0);
  ASSERT_EQ(VdbTableSetRecNo(t, 10), 10);
  TVdbFieldSpec name{};
  ASSERT_EQ(VdbTableGetFieldSpec(t, 3, &name), 0);
  std::vector<uint8_t> record(static_cast<std::size_t>(VdbTableGetRecordSize(t)));
  ASSERT_EQ(VdbTableGetRecord(t, record.data(), static_cast<int32_t>(record.size())), 0);
  EXPECT_EQ(GetAnsiField(record, name), "R-9");
  // Another program deletes record 5: record 10 moves into its place.
  ASSERT_EQ(RunHelper({Dir.string(), "delete", "5"}), 0);
  EXPECT_EQ(VdbSessRegisterModifications(sess), 1);
  EXPECT_EQ(VdbTableGetRecNo(t), 5);
  ASSERT_EQ(VdbTableGetRecord(t, record.data(), static_cast<int32_t>(record.size())), 0);
  EXPECT_EQ(GetAnsiField(record, name), "R-9");
  EXPECT_EQ(VdbTableGetRecordCount(t), 9);
  EXPECT_EQ(VdbSessRegisterModifications(sess), 0);
  EXPECT_EQ(VdbSessDelete(sess), 0);
  ExpectNoLockFiles();
}

TEST_F(MultiProcessTest, AnIndexAnotherProcessCreatesIsUsedWithoutReopening) {
  // Natural order N = 0, 9, 2, 3, …, 8 after the delete; the new index orders by N.
  ASSERT_EQ(RunHelper({Dir.string(), "append", "R", "9"}), 0);
  ASSERT_EQ(RunHelper({Dir.string(), "delete", "2"}), 0);
  const int16_t sess = OpenSession(Dir);
  const int16_t rltn = VdbSessOpenTable(sess, W(u"Shared"), W(u""), VDB_RIGHTS_WRITE, false, false);
  ASSERT_GT(rltn, 0);
  const int16_t t = VdbTableCreate(rltn, W(u"Shared"));
  ASSERT_GT(t, 0);
  ASSERT_EQ(VdbTableFirst(t), 1);
  ASSERT_EQ(RunHelper({Dir.string(), "index", "NIDX", "N"}), 0);
  // Touching the table catches up with the other program, its new index included.
  EXPECT_EQ(VdbSessRegisterModifications(sess), 1);
  ASSERT_EQ(VdbTableSetIndex(t, W(u"NIDX"), false), 0) << vdb::VdbUtf16ToUtf8(LastError(sess).Msg);
  TVdbFieldSpec n{};
  ASSERT_EQ(VdbTableGetFieldSpec(t, 2, &n), 0);
  std::vector<uint8_t> record(static_cast<std::size_t>(VdbTableGetRecordSize(t)));
  std::vector<int> order;
  for (int r = VdbTableFirst(t); r >= 0; r = VdbTableMoveBy(t, 1)) {
    ASSERT_EQ(VdbTableGetRecord(t, record.data(), static_cast<int32_t>(record.size())), 0);
    order.push_back(record[n.InternalPosition + (n.InternalSize == 5 ? 1 : 0)]);
  }
  EXPECT_EQ(order, (std::vector<int>{0, 2, 3, 4, 5, 6, 7, 8, 9}));
  // This program's appends reach the index the other one made.
  TVdbFieldSpec name{};
  ASSERT_EQ(VdbTableGetFieldSpec(t, 3, &name), 0);
  ASSERT_EQ(VdbTableAppend(t), 0);
  std::vector<uint8_t> fresh(record.size(), 0);
  const std::size_t at = static_cast<std::size_t>(n.InternalPosition);
  if (n.InternalSize == 5) fresh[at] = 1;  // not null
  fresh[at + (n.InternalSize == 5 ? 1 : 0)] = 1;
  SetAnsiField(fresh, name, "here-1");
  ASSERT_EQ(VdbTableSetRecord(t, fresh.data(), static_cast<int32_t>(fresh.size())), 0);
  ASSERT_EQ(VdbTableAppendConfirm(t), 0);
  ASSERT_EQ(VdbTableFirst(t), 1);
  ASSERT_EQ(VdbTableMoveBy(t, 1), 0);
  ASSERT_EQ(VdbTableGetRecord(t, record.data(), static_cast<int32_t>(record.size())), 0);
  EXPECT_EQ(GetAnsiField(record, name), "here-1");
  EXPECT_EQ(VdbSessDelete(sess), 0);
  ExpectNoLockFiles();
  const TVerified v = Verify();
  EXPECT_EQ(v.Status, 0);
  EXPECT_EQ(v.Records, 10);
}

TEST_F(MultiProcessTest, AnotherProcesssEditAndWriteLockAreRefusedWith105And47) {
  ASSERT_EQ(RunHelper({Dir.string(), "append", "R", "5"}), 0);
  const int16_t sess = OpenSession(Dir);
  const int16_t rltn = VdbSessOpenTable(sess, W(u"Shared"), W(u""), VDB_RIGHTS_WRITE, false, false);
  ASSERT_GT(rltn, 0);
  const int16_t t = VdbTableCreate(rltn, W(u"Shared"));
  ASSERT_GT(t, 0);

  const pid_t editor = Spawn({Dir.string(), "editlock", "3", P("edit-ready"), P("edit-go")});
  ASSERT_NO_FATAL_FAILURE(WaitForFile(Dir / "edit-ready"));
  ASSERT_EQ(VdbTableSetRecNo(t, 3), 3);
  EXPECT_EQ(VdbTableEdit(t), VDB_ERR_TABLE_BUSY);
  TLastError e = LastError(sess);
  EXPECT_EQ(e.Code, -105);
  EXPECT_EQ(e.Msg, u"Record is being edited by another user");
  EXPECT_LT(VdbTableDeleteRecord(t), 0);
  EXPECT_EQ(LastError(sess).Code, -105);
  // Another record is free; the one in edit is free once the other program lets it go.
  ASSERT_EQ(VdbTableSetRecNo(t, 4), 4);
  EXPECT_EQ(VdbTableEdit(t), 0);
  EXPECT_EQ(VdbTableEditCancel(t), 0);
  std::ofstream(Dir / "edit-go") << "1";
  EXPECT_EQ(Wait(editor), 0);
  ASSERT_EQ(VdbTableSetRecNo(t, 3), 3);
  EXPECT_EQ(VdbTableEdit(t), 0);
  EXPECT_EQ(VdbTableEditCancel(t), 0);

  const pid_t locker = Spawn({Dir.string(), "writelock", P("lock-ready"), P("lock-go")});
  ASSERT_NO_FATAL_FAILURE(WaitForFile(Dir / "lock-ready"));
  EXPECT_EQ(VdbTableLock(t, VDB_LOCK_READ, 0), VDB_ERR_TABLE_LOCKED);
  EXPECT_EQ(VdbTableLock(t, VDB_LOCK_WRITE, 0), VDB_ERR_TABLE_LOCKED);
  std::ofstream(Dir / "lock-go") << "1";
  EXPECT_EQ(Wait(locker), 0);
  EXPECT_EQ(VdbTableLock(t, VDB_LOCK_WRITE, 1000), 0);
  EXPECT_EQ(VdbTableUnlock(t, VDB_LOCK_WRITE), 0);
  EXPECT_EQ(VdbSessDelete(sess), 0);
  ExpectNoLockFiles();
}

TEST_F(MultiProcessTest, TableLocksOfTwoSessionsAndTheUsageReport) {
  const int16_t s1 = OpenSession(Dir);
  const int16_t s2 = OpenSession(Dir);
  const int16_t r1 = VdbSessOpenTable(s1, W(u"Shared"), W(u""), VDB_RIGHTS_WRITE, false, false);
  const int16_t r2 = VdbSessOpenTable(s2, W(u"Shared"), W(u""), VDB_RIGHTS_WRITE, false, false);
  ASSERT_GT(r1, 0);
  ASSERT_GT(r2, 0);
  const int16_t t1 = VdbTableCreate(r1, W(u"Shared"));
  const int16_t t2 = VdbTableCreate(r2, W(u"Shared"));
  // The other session may still hold the read lock its opening took: wait for it.
  ASSERT_EQ(VdbTableLock(t2, VDB_LOCK_WRITE, 1000), 0);
  EXPECT_EQ(VdbTableLock(t1, VDB_LOCK_READ, 0), VDB_ERR_TABLE_LOCKED);
  auto usage = std::make_unique<TVdbTableUsage>();
  ASSERT_EQ(VdbTableGetUsage(t1, usage.get()), 0);
  EXPECT_EQ(usage->UserCount, 2);
  EXPECT_EQ(usage->WriteCount, 1);
  EXPECT_EQ(usage->ItemCount, 2);
  int writers = 0;
  for (int i = 0; i < usage->ItemCount; ++i) {
    EXPECT_TRUE(usage->UserInfo[i].Active);
    writers += usage->UserInfo[i].Lock == -1 ? 1 : 0;
  }
  EXPECT_EQ(writers, 1);
  EXPECT_EQ(VdbTableUnlock(t2, VDB_LOCK_WRITE), 0);
  // The write lock is given back by the unlock thread shortly after.
  int r = VDB_ERR_TABLE_LOCKED;
  for (int i = 0; i < 2000 && r != 0; ++i) {
    r = VdbTableLock(t1, VDB_LOCK_READ, 0);
    if (r != 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(r, 0);
  EXPECT_EQ(VdbTableUnlock(t1, VDB_LOCK_READ), 0);
  EXPECT_EQ(VdbSessDelete(s1), 0);
  EXPECT_EQ(VdbSessDelete(s2), 0);
  ExpectNoLockFiles();
}

}  // namespace
}  // namespace vdbapi_test
