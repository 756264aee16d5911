// SQL queries through the query dataset against SQLite on the same rows: the rank statistics
// statement (GROUP BY with COUNT and SUMs), COUNT(*), and a point SELECT by postal code. On
// the national data set (3,155 records) and on 1,000,000 generated records; the ratio is
// engine time / SQLite time per run (SQLite holds the rows in memory with an index on the
// postal code, as the engine's table has one).
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "SettlementImport.h"
#include "VdbDatabase.h"
#include "VdbQuery.h"
#include "VdbTable.h"

namespace {

namespace fs = std::filesystem;

struct TCase {
  const char16_t* Engine;
  const char* Sqlite;
};

const TCase kCases[] = {
    {u"SELECT RANG,  COUNT(RANG), SUM(TERULET), SUM(NEPESS), SUM(LAKAS) FROM Irsz WHERE RANG <> '' GROUP BY RANG",
     "SELECT RANG, COUNT(RANG), SUM(TERULET), SUM(NEPESS), SUM(LAKAS) FROM Irsz WHERE RANG <> '' GROUP BY RANG"},
    {u"SELECT COUNT(*) FROM Irsz", "SELECT COUNT(*) FROM Irsz"},
    {u"SELECT * FROM Irsz WHERE IRSZ = '8127'", "SELECT * FROM Irsz WHERE IRSZ = '8127'"},
};

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

std::string Utf8(const std::u16string& s) {
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

struct TWorld {
  explicit TWorld(const fs::path& dir) {
    Database.SetName(u"QueryBenchDb");
    Database.SetLocation(dir.u16string());
    Table.SetDatabaseName(u"QueryBenchDb");
    Table.SetTableName(u"Irsz");
    Table.Open();
    Query.SetDatabaseName(u"QueryBenchDb");
    Query.RequestLive = false;
    sqlite3_open(":memory:", &Db);
    sqlite3_exec(Db, "CREATE TABLE Irsz (IRSZ TEXT, TELEP TEXT, RANG TEXT, TERULET REAL, NEPESS INTEGER, LAKAS INTEGER)",
                 nullptr, nullptr, nullptr);
    sqlite3_exec(Db, "BEGIN", nullptr, nullptr, nullptr);
    sqlite3_stmt* insert = nullptr;
    sqlite3_prepare_v2(Db, "INSERT INTO Irsz VALUES (?, ?, ?, ?, ?, ?)", -1, &insert, nullptr);
    for (Table.First(); !Table.Eof(); Table.Next()) {
      int i = 1;
      for (const char16_t* f : {u"IRSZ", u"TELEP", u"RANG"}) {
        const std::string v = Utf8(Table.FieldByName(f).AsString());
        sqlite3_bind_text(insert, i++, v.c_str(), -1, SQLITE_TRANSIENT);
      }
      sqlite3_bind_double(insert, i++, Table.FieldByName(u"TERULET").AsFloat());
      sqlite3_bind_int64(insert, i++, Table.FieldByName(u"NEPESS").AsLargeInt());
      sqlite3_bind_int64(insert, i++, Table.FieldByName(u"LAKAS").AsLargeInt());
      sqlite3_step(insert);
      sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    sqlite3_exec(Db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_exec(Db, "CREATE INDEX IRSZ ON Irsz (IRSZ)", nullptr, nullptr, nullptr);
  }
  ~TWorld() {
    sqlite3_close(Db);
    Table.Close();
  }
  vdbds::TVdbDatabase Database;
  vdbds::TVdbTable Table;
  vdbds::TVdbQuery Query;
  sqlite3* Db = nullptr;
};

std::int64_t EngineRun(vdbds::TVdbQuery& q, const char16_t* sql) {
  q.Close();
  q.SetSQLW(sql);
  q.Open();
  std::int64_t rows = 0;
  for (q.First(); !q.Eof(); q.Next()) ++rows;
  return rows;
}

std::int64_t SqliteRun(sqlite3* db, const char* sql) {
  sqlite3_stmt* st = nullptr;
  sqlite3_prepare_v2(db, sql, -1, &st, nullptr);
  std::int64_t rows = 0;
  while (sqlite3_step(st) == SQLITE_ROW) ++rows;
  sqlite3_finalize(st);
  return rows;
}

// The tables of the last run; closed before the program ends, while the engine library is
// still whole (a static closing after it would meet a library already torn down).
std::unique_ptr<TWorld> world;
std::int64_t worldRecords = -1;

void BM_Query(benchmark::State& state) {
  if (worldRecords != state.range(0)) {
    world.reset();
    world = std::make_unique<TWorld>(Database(state.range(0)));
    worldRecords = state.range(0);
  }
  const TCase& c = kCases[state.range(1)];
  double engineSeconds = 0, sqliteSeconds = 0;
  std::int64_t rows = 0, liteRows = 0;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    rows = EngineRun(world->Query, c.Engine);
    auto t1 = std::chrono::steady_clock::now();
    liteRows = SqliteRun(world->Db, c.Sqlite);
    auto t2 = std::chrono::steady_clock::now();
    engineSeconds += std::chrono::duration<double>(t1 - t0).count();
    sqliteSeconds += std::chrono::duration<double>(t2 - t1).count();
  }
  world->Query.Close();
  state.counters["rows"] = static_cast<double>(rows);
  state.counters["sqlite_rows"] = static_cast<double>(liteRows);
  state.counters["engine_ms"] = engineSeconds * 1000 / static_cast<double>(state.iterations());
  state.counters["sqlite_ms"] = sqliteSeconds * 1000 / static_cast<double>(state.iterations());
  state.counters["ratio"] = sqliteSeconds > 0 ? engineSeconds / sqliteSeconds : 0;
}

}  // namespace

// First argument 0: the national data set (3,155 records); second: statistics, COUNT(*), point.
BENCHMARK(BM_Query)
    ->ArgsProduct({{0, 1000000}, {0, 1, 2}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);
int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  world.reset();
  benchmark::Shutdown();
  return 0;
}
