// What the durability contract costs, beside SQLite with the matching synchronous setting
// (rollback journal in DELETE mode): the default flush mode against synchronous=OFF (nothing
// forced to the device; a killed process loses nothing), the secure flush mode against
// synchronous=FULL (a power loss loses nothing). Three loads on a table of a record id, a
// name, a unique code and a note, with indexes on name and code:
//   - appends without a transaction (each its own transaction), per second;
//   - single-row transactions (begin, append, commit);
//   - a bulk load of 3155 rows (the settlement count) in one transaction.
// The files live in a temporary directory of the real file system.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "storage/vuOSFileSystem.h"
#include "tables/VdbBaseTable.h"
#include "sql/VdbSqlCompiler.h"

namespace {

using namespace vdb;

constexpr int kBulkRows = 3155;

std::filesystem::path FreshDir(const std::string& name) {
  const auto dir = std::filesystem::temp_directory_path() / ("vidora-bench-" + std::to_string(::getpid())) / name;
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  return dir;
}

TVdbNewColumn Column(std::u16string name, TVdbColumnType type, std::int32_t length = 0, bool nullable = false) {
  TVdbNewColumn c;
  c.Name = std::move(name);
  c.ColumnType = type;
  c.Length = length;
  c.Nullable = nullable;
  return c;
}

// A towns table of the engine in `dir`, opened with the rights of a flush mode.
class TEngineTowns {
 public:
  TEngineTowns(const std::filesystem::path& dir, bool secure) : FFs(VdbUtf8ToUtf16(dir.string())) {
    FPageManager.RegisterClient(1, 65536);
    TVdbNewTable def;
    def.Path = u"Towns";
    def.Capacity = 100000;
    def.Columns = {Column(u"ID", vctRecordId), Column(u"NAME", vctString, 30), Column(u"CODE", vctInteger),
                   Column(u"NOTE", vctMemo, 0, true)};
    def.Indexes = {{u"ByName", u"NAME", false}, {u"ByCode", u"CODE", true}};
    if (TVdbBaseTable(FEnv).NewTable(def) != 0) throw std::runtime_error("create");
    FTable = std::make_unique<TVdbBaseTable>(FEnv);
    FTable->SetRights(secure ? 0x030F : 0x010F);
    FTable->SetFileName(u"Towns.vdbt");
    if (FTable->Open(false) != 0 || FTable->Setup(false) != 0) throw std::runtime_error("open");
    FRecord.resize(static_cast<std::size_t>(FTable->GetRecordSize()));
  }
  ~TEngineTowns() {
    FTable.reset();
    FPageManager.UnregisterClient(1, 65536);
  }
  void Append(std::int64_t i) {
    std::fill(FRecord.begin(), FRecord.end(), std::uint8_t{0});
    Set(1, u"Town " + VdbUtf8ToUtf16(std::to_string(i)), 0);
    Set(2, {}, i);
    const std::string note = "A note of town " + std::to_string(i);
    if (FTable->SetAutoNum(FRecord) != 0 ||
        FTable->AppendRecord(FRecord, {TVdbBlobData{4, std::vector<std::uint8_t>(note.begin(), note.end()), false}}) < 0) {
      throw std::runtime_error("append");
    }
  }
  void Begin() { FEnv.IsolationLevel = tilReadCommited; }
  void Commit() {
    FEnv.IsolationLevel = tilNone;
    if (FTable->CommitModifications() != 0) throw std::runtime_error("commit");
  }

 private:
  void Set(int col, std::u16string_view text, std::int64_t n) {
    const TVdbColumnDef& c = FTable->ColumnDefs().GetColumnDef(col);
    TVdbDataValue v;
    c.DataType()->SetReference(v, FRecord, static_cast<std::size_t>(c.Position()));
    if (col == 1) {
      c.DataType()->SetWideString(v, text);
    } else {
      c.DataType()->SetInteger(v, n);
    }
  }
  TvuOSFileSystem FFs;
  TVdbPageManager FPageManager;
  TVdbLastError FLastError;
  TvuMonotonicClock FClock;
  TvuSystemSleeper FSleeper;
  TvuSystemRandom FRandom;
  TVdbTableEnvironment FEnv{FPageManager, FFs, 1, FLastError, TvuServices{FClock, FSleeper, FRandom},
                            tilNone, kVdbDefaultBlockSize, &VdbSqlCompiler()};
  std::unique_ptr<TVdbBaseTable> FTable;
  std::vector<std::uint8_t> FRecord;
};

// The same table in SQLite.
class TSqliteTowns {
 public:
  TSqliteTowns(const std::filesystem::path& dir, bool full) {
    if (sqlite3_open((dir / "towns.db").c_str(), &FDb) != SQLITE_OK) throw std::runtime_error("sqlite open");
    Exec("PRAGMA journal_mode=DELETE");
    Exec(full ? "PRAGMA synchronous=FULL" : "PRAGMA synchronous=OFF");
    Exec("CREATE TABLE towns(id INTEGER PRIMARY KEY, name TEXT, code INTEGER UNIQUE, note TEXT)");
    Exec("CREATE INDEX by_name ON towns(name)");
    sqlite3_prepare_v2(FDb, "INSERT INTO towns(name, code, note) VALUES(?, ?, ?)", -1, &FInsert, nullptr);
  }
  ~TSqliteTowns() {
    sqlite3_finalize(FInsert);
    sqlite3_close(FDb);
  }
  void Append(std::int64_t i) {
    const std::string name = "Town " + std::to_string(i), note = "A note of town " + std::to_string(i);
    sqlite3_bind_text(FInsert, 1, name.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(FInsert, 2, i);
    sqlite3_bind_text(FInsert, 3, note.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(FInsert) != SQLITE_DONE) throw std::runtime_error("sqlite insert");
    sqlite3_reset(FInsert);
  }
  void Begin() { Exec("BEGIN"); }
  void Commit() { Exec("COMMIT"); }

 private:
  void Exec(const char* sql) {
    if (sqlite3_exec(FDb, sql, nullptr, nullptr, nullptr) != SQLITE_OK) throw std::runtime_error(sqlite3_errmsg(FDb));
  }
  sqlite3* FDb = nullptr;
  sqlite3_stmt* FInsert = nullptr;
};

template <class TTowns>
void AppendsWithoutTransaction(benchmark::State& state) {
  const bool secure = state.range(0) != 0;
  TTowns towns(FreshDir("appends"), secure);
  std::int64_t i = 0;
  for (auto _ : state) towns.Append(++i);
  state.SetItemsProcessed(i);
}

template <class TTowns>
void SingleRowTransactions(benchmark::State& state) {
  const bool secure = state.range(0) != 0;
  TTowns towns(FreshDir("single"), secure);
  std::int64_t i = 0;
  for (auto _ : state) {
    for (int k = 0; k < 1000; ++k) {
      towns.Begin();
      towns.Append(++i);
      towns.Commit();
    }
  }
  state.SetItemsProcessed(i);
}

template <class TTowns>
void BulkLoadInOneTransaction(benchmark::State& state) {
  const bool secure = state.range(0) != 0;
  std::int64_t rows = 0;
  for (auto _ : state) {
    state.PauseTiming();
    auto towns = std::make_unique<TTowns>(FreshDir("bulk"), secure);
    state.ResumeTiming();
    towns->Begin();
    for (int k = 1; k <= kBulkRows; ++k) towns->Append(k);
    towns->Commit();
    rows += kBulkRows;
    state.PauseTiming();
    towns.reset();
    state.ResumeTiming();
  }
  state.SetItemsProcessed(rows);
}

// Argument 0: default flush mode / synchronous=OFF; 1: secure flush mode / synchronous=FULL.
BENCHMARK(AppendsWithoutTransaction<TEngineTowns>)->Arg(0)->Arg(1)->MinTime(2.0);
BENCHMARK(AppendsWithoutTransaction<TSqliteTowns>)->Arg(0)->Arg(1)->MinTime(2.0);
BENCHMARK(SingleRowTransactions<TEngineTowns>)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(SingleRowTransactions<TSqliteTowns>)->Arg(0)->Arg(1)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BulkLoadInOneTransaction<TEngineTowns>)->Arg(0)->Arg(1)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BulkLoadInOneTransaction<TSqliteTowns>)->Arg(0)->Arg(1)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
