// A filtered walk of the settlement table, MEGYE = 'Pest' And NEPESS > 1000, as the windows
// run it: the filter switched on (compiled, matches collected in the name order) and every
// passing record read with its name; against SQLite's SELECT ... WHERE of the same condition
// stepping the same rows held in memory. Measured on the national data set (3,155 records)
// and on 1,000,000 generated records; the ratio is engine time / SQLite time per run.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <string>

#include "SettlementImport.h"
#include "VdbTable.h"
#include "VdbDatabase.h"

namespace {

namespace fs = std::filesystem;

constexpr char16_t kCondition[] = u"MEGYE = 'Pest' And NEPESS > 1000";

fs::path Database(std::int64_t records) {
  const fs::path dir = fs::path(VIDORA_BENCH_DATA) / ("settlements-" + std::to_string(records));
  if (!fs::exists(dir / "Irsz.vdbt")) {
    fs::remove_all(dir);
    if (records == 0)
      vidora::tools::ImportSettlements(fs::path(VIDORA_SETTLEMENTS_CSV), dir);
    else
      vidora::tools::GenerateSettlements(records, fs::path(VIDORA_SETTLEMENTS_CSV), dir);
  }
  return dir;
}

struct TEngineTable {
  explicit TEngineTable(const fs::path& dir) {
    Database.SetName(u"FilterBenchDb");
    Database.SetDatabaseName(u"FilterBenchDb");
    Database.SetDatabaseType(vdbds::TVdbDatabaseType::dbtDirectory);
    Database.SetLocation(dir.u16string());
    Table.SetDatabaseName(u"FilterBenchDb");
    Table.SetTableName(u"Irsz");
    Table.SetIndexName(u"TELEP");
    Table.Open();
  }
  ~TEngineTable() { Table.Close(); }
  vdbds::TVdbDatabase Database;
  vdbds::TVdbTable Table;
};

// The same rows in an SQLite database in memory, copied once through an unfiltered walk.
struct TSqliteTable {
  explicit TSqliteTable(vdbds::TVdbTable& source) {
    sqlite3_open(":memory:", &Db);
    sqlite3_exec(Db, "CREATE TABLE Irsz (IRSZ TEXT, TELEP TEXT, MEGYE TEXT, NEPESS INTEGER)", nullptr, nullptr, nullptr);
    sqlite3_exec(Db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(Db, "INSERT INTO Irsz VALUES (?, ?, ?, ?)", -1, &insert, nullptr);
    for (source.First(); !source.Eof(); source.Next()) {
      const std::string irsz = ToUtf8(source.FieldByName(u"IRSZ").AsString());
      const std::string telep = ToUtf8(source.FieldByName(u"TELEP").AsString());
      const std::string megye = ToUtf8(source.FieldByName(u"MEGYE").AsString());
      sqlite3_bind_text(insert, 1, irsz.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(insert, 2, telep.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(insert, 3, megye.c_str(), -1, SQLITE_TRANSIENT);
      if (source.FieldByName(u"NEPESS").IsNull())
        sqlite3_bind_null(insert, 4);
      else
        sqlite3_bind_int64(insert, 4, source.FieldByName(u"NEPESS").AsInteger());
      sqlite3_step(insert);
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    sqlite3_exec(Db, "COMMIT", nullptr, nullptr, nullptr);
  }
  ~TSqliteTable() { sqlite3_close(Db); }
  static std::string ToUtf8(const std::u16string& s) {
    std::string r;
    for (char16_t c : s) {
      if (c < 0x80) {
        r += static_cast<char>(c);
      } else if (c < 0x800) {
        r += static_cast<char>(0xC0 | (c >> 6));
        r += static_cast<char>(0x80 | (c & 0x3F));
      } else {
        r += static_cast<char>(0xE0 | (c >> 12));
        r += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        r += static_cast<char>(0x80 | (c & 0x3F));
      }
    }
    return r;
  }
  sqlite3* Db = nullptr;
};

std::int64_t EngineWalk(vdbds::TVdbTable& table) {
  table.SetFiltered(false);
  table.SetFilter(kCondition);
  table.SetFiltered(true);
  std::int64_t chars = 0;
  for (table.First(); !table.Eof(); table.Next()) chars += table.FieldByName(u"TELEP").AsString().size();
  return chars;
}

std::int64_t SqliteWalk(sqlite3* db) {
  sqlite3_stmt* select = nullptr;
  sqlite3_prepare_v2(db, "SELECT TELEP FROM Irsz WHERE MEGYE = 'Pest' AND NEPESS > 1000 ORDER BY TELEP", -1, &select,
                     nullptr);
  std::int64_t chars = 0;
  while (sqlite3_step(select) == SQLITE_ROW) chars += sqlite3_column_bytes(select, 0);
  sqlite3_finalize(select);
  return chars;
}

void BM_FilteredWalk(benchmark::State& state) {
  TEngineTable engine(Database(state.range(0)));
  TSqliteTable lite(engine.Table);
  double engineSeconds = 0, sqliteSeconds = 0;
  std::int64_t matches = 0;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(EngineWalk(engine.Table));
    auto t1 = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(SqliteWalk(lite.Db));
    auto t2 = std::chrono::steady_clock::now();
    engineSeconds += std::chrono::duration<double>(t1 - t0).count();
    sqliteSeconds += std::chrono::duration<double>(t2 - t1).count();
    matches = engine.Table.RecordCount();
  }
  state.counters["matches"] = static_cast<double>(matches);
  state.counters["engine_ms"] = engineSeconds * 1000 / static_cast<double>(state.iterations());
  state.counters["sqlite_ms"] = sqliteSeconds * 1000 / static_cast<double>(state.iterations());
  state.counters["ratio"] = sqliteSeconds > 0 ? engineSeconds / sqliteSeconds : 0;
}

}  // namespace

// 0: the national data set (3,155 records).
BENCHMARK(BM_FilteredWalk)->Arg(0)->Arg(1000000)->Unit(benchmark::kMillisecond)->Iterations(5);
BENCHMARK_MAIN();
