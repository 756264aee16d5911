// The cost of sharing a table: one session's lock and unlock of a table (through the call
// interface, where the held lock is reused, and one round trip through the lock file itself),
// and a read walk of a whole table opened exclusively against the same walk while a second
// process holds the table open, so that every lock goes through the lock file.
#include <benchmark/benchmark.h>

#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "base/VdbFormat.h"
#include "locking/VdbLocks.h"
#include "storage/vuOSFileSystem.h"
#include "vidoradb/vdbapi.h"

namespace {

namespace fs = std::filesystem;

constexpr int kRecords = 20000;

const VdbChar* W(const std::u16string& s) { return reinterpret_cast<const VdbChar*>(s.c_str()); }
std::u16string U16(const std::string& s) { return vdb::VdbUtf8ToUtf16(s); }

const fs::path& BenchDir() {
  static const fs::path dir = [] {
    fs::path d = fs::temp_directory_path() / ("vidora-lock-bench-" + std::to_string(::getpid()));
    fs::remove_all(d);
    fs::create_directories(d);
    return d;
  }();
  return dir;
}

int16_t OpenSession(uint32_t attributes) {
  const int16_t sess = VdbCreateSession(W(u""));
  TVdbNetParams params;
  VdbSessGetDefaultNetParams(sess, &params);
  const std::u16string priv = U16((BenchDir() / ("private-" + std::to_string(::getpid()))).string());
  std::memcpy(params.PrivateDir, priv.c_str(), (priv.size() + 1) * sizeof(VdbChar));
  VdbSessSetNetParams(sess, &params);
  if (VdbSessOpenDb(sess, W(U16(BenchDir().string())), W(u""), W(u""), 0, attributes) != 0) std::abort();
  return sess;
}

int16_t OpenCursor(int16_t sess) {
  const int16_t rltn = VdbSessOpenTable(sess, W(u"Walk"), W(u""), VDB_RIGHTS_WRITE, false, false);
  if (rltn <= 0) std::abort();
  return VdbTableCreate(rltn, W(u"Walk"));
}

// The table "Walk" of kRecords records (written once, exclusively).
void EnsureTable() {
  static bool done = false;
  if (done) return;
  done = true;
  const int16_t sess = OpenSession(VDB_OPEN_EXCLUSIVE);
  TVdbFieldSpec fields[2] = {};
  fields[0].No = 1;
  fields[0].Name[0] = 'N';
  fields[0].FldType = VDB_TYPE_INTEGER;
  fields[1].No = 2;
  fields[1].Name[0] = 'S';
  fields[1].FldType = VDB_TYPE_STRING;
  fields[1].Param = 30;
  TVdbTableInfo info{};
  const std::u16string name = u"Walk";
  std::copy(name.begin(), name.end(), info.FileName);
  if (VdbSessCreateTable(sess, &info, W(u""), 2, fields, 0, nullptr, 0, nullptr, 0, nullptr) != 0) std::abort();
  const int16_t t = OpenCursor(sess);
  std::vector<uint8_t> record(static_cast<std::size_t>(VdbTableGetRecordSize(t)), 0);
  VdbSessBeginTransaction(sess);
  for (int i = 0; i < kRecords; ++i) {
    VdbTableAppend(t);
    std::memcpy(record.data() + 1, &i, 4);
    VdbTableSetRecord(t, record.data(), static_cast<int32_t>(record.size()));
    if (VdbTableAppendConfirm(t) < 0) std::abort();
  }
  VdbSessEndTransaction(sess);
  VdbSessDelete(sess);
}

// A second process that keeps the table open until the returned pipe is closed.
struct TSecondProcess {
  pid_t Pid = -1;
  int Go = -1;
  TSecondProcess() {
    int ready[2], go[2];
    if (::pipe(ready) != 0 || ::pipe(go) != 0) std::abort();
    Pid = ::fork();
    if (Pid == 0) {
      ::close(ready[0]);
      ::close(go[1]);
      const int16_t sess = OpenSession(0);
      OpenCursor(sess);
      char c = 1;
      if (::write(ready[1], &c, 1) != 1) ::_exit(2);
      while (::read(go[0], &c, 1) > 0) {
      }
      VdbSessDelete(sess);
      ::_exit(0);
    }
    ::close(ready[1]);
    ::close(go[0]);
    char c;
    if (::read(ready[0], &c, 1) != 1) std::abort();
    ::close(ready[0]);
    Go = go[1];
  }
  ~TSecondProcess() {
    ::close(Go);
    int status;
    ::waitpid(Pid, &status, 0);
  }
};

void Walk(benchmark::State& state, bool shared) {
  EnsureTable();
  std::unique_ptr<TSecondProcess> second;
  if (shared) second = std::make_unique<TSecondProcess>();
  const int16_t sess = OpenSession(shared ? 0 : VDB_OPEN_EXCLUSIVE);
  const int16_t t = OpenCursor(sess);
  std::vector<uint8_t> record(static_cast<std::size_t>(VdbTableGetRecordSize(t)));
  for (auto _ : state) {
    int n = 0;
    for (int r = VdbTableFirst(t); r >= 0; r = VdbTableMoveBy(t, 1)) {
      VdbTableGetRecord(t, record.data(), static_cast<int32_t>(record.size()));
      ++n;
    }
    if (n != kRecords) state.SkipWithError("walk lost records");
  }
  state.SetItemsProcessed(state.iterations() * kRecords);
  VdbSessDelete(sess);
}

void BM_ReadWalkExclusive(benchmark::State& state) { Walk(state, false); }
void BM_ReadWalkShared(benchmark::State& state) { Walk(state, true); }

// A read lock and its unlock through the call interface; the lock level held from the last
// call is reused, so this is the cost a session pays per operation.
void BM_TableLockUnlockShared(benchmark::State& state) {
  EnsureTable();
  TSecondProcess second;
  const int16_t sess = OpenSession(0);
  const int16_t t = OpenCursor(sess);
  for (auto _ : state) {
    if (VdbTableLock(t, VDB_LOCK_READ, 0) != 0) state.SkipWithError("refused");
    VdbTableUnlock(t, VDB_LOCK_READ);
  }
  VdbSessDelete(sess);
}

// One round trip through the lock file: header lock, header read, slot and header written,
// twice (lock and unlock).
void BM_LockFileRoundTrip(benchmark::State& state) {
  vdb::TvuOSFileSystem fsys(U16(BenchDir().string()));
  vdb::TVdbLockFile a(fsys, vdb::vuDefaultServices());
  vdb::TVdbLockFile b(fsys, vdb::vuDefaultServices());
  a.SetSessionId(1);
  b.SetSessionId(2);
  a.LogIn(u"RoundTrip", 6, false);
  b.LogIn(u"RoundTrip", 6, false);
  for (auto _ : state) {
    if (!a.LockTable(vdb::tltNone, vdb::tltRead, true)) state.SkipWithError("refused");
    a.UnlockTable(vdb::tltRead, vdb::tltNone);
  }
}

BENCHMARK(BM_ReadWalkExclusive)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadWalkShared)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TableLockUnlockShared);
BENCHMARK(BM_LockFileRoundTrip);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ec;
  fs::remove_all(BenchDir(), ec);
  return 0;
}
