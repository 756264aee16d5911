// One keystroke of the incremental search as the maintenance window runs it: FindNearest on
// the name index of the settlement table, which repositions the cursor and refills the grid's
// window of records (a data link wanting as many records as the grid shows rows), and the
// grid reading the name of every row it paints. Measured on the national data set (3,155
// records) and on 1,000,000 generated records; the tables are built once into the build
// directory and reused by later runs.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "SettlementImport.h"
#include "VdbTable.h"
#include "VdbDatabase.h"
#include "db/TDataSource.h"

namespace {

namespace fs = std::filesystem;

constexpr int kGridRows = 12;

fs::path DataSet() { return fs::path(VIDORA_SETTLEMENTS_CSV); }

// The database directory for `records` records (0: the data set itself), built when missing.
fs::path Database(std::int64_t records) {
  const fs::path dir = fs::path(VIDORA_BENCH_DATA) / ("settlements-" + std::to_string(records));
  if (!fs::exists(dir / "Irsz.vdbt")) {
    fs::remove_all(dir);
    if (records == 0)
      vidora::tools::ImportSettlements(DataSet(), dir);
    else
      vidora::tools::GenerateSettlements(records, DataSet(), dir);
  }
  return dir;
}

// The grid's side of the window: it wants kGridRows records and reads each row's name.
class TGridLink : public tk::TDataLink {
 public:
  std::size_t Paint() {
    std::size_t chars = 0;
    const int active = ActiveRecord();
    for (int row = 0; row < RecordCount(); ++row) {
      SetActiveRecord(row);
      chars += DataSet()->FieldByName(u"TELEP").AsString().size();
    }
    SetActiveRecord(active);
    return chars;
  }
};

struct TSettlementWindow {
  explicit TSettlementWindow(const fs::path& dir) {
    Database.SetName(u"BenchDb");
    Database.SetDatabaseName(u"BenchDb");
    Database.SetDatabaseType(vdbds::TVdbDatabaseType::dbtDirectory);
    Database.SetLocation(dir.u16string());
    Table.SetDatabaseName(u"BenchDb");
    Table.SetTableName(u"Irsz");
    Table.SetIndexName(u"TELEP");
    Source.SetDataSet(&Table);
    Grid.SetDataSource(&Source);
    Grid.SetBufferCount(kGridRows);
    Table.Open();
  }
  ~TSettlementWindow() { Table.Close(); }

  vdbds::TVdbDatabase Database;
  vdbds::TVdbTable Table;
  tk::TDataSource Source;
  TGridLink Grid;
};

// What a user types: growing prefixes of names spread over the alphabet, in Hungarian.
const std::vector<std::u16string>& Keystrokes() {
  static const std::vector<std::u16string> typed = [] {
    std::vector<std::u16string> t;
    for (const std::u16string name : {u"Budapest", u"Csabacsűd", u"Debrecen", u"Győr", u"Kecskemét", u"Miskolc",
                                      u"Nyíregyháza", u"Pécs", u"Szeged", u"Tihany", u"Zsámbék", u"Ágfalva"})
      for (std::size_t n = 1; n <= name.size(); ++n) t.push_back(name.substr(0, n));
    return t;
  }();
  return typed;
}

void BM_Keystroke(benchmark::State& state) {
  TSettlementWindow window(Database(state.range(0)));
  const auto& typed = Keystrokes();
  std::size_t i = 0;
  for (auto _ : state) {
    window.Table.FindNearest({typed[i]});
    benchmark::DoNotOptimize(window.Grid.Paint());
    i = (i + 1) % typed.size();
  }
  state.counters["records"] = window.Table.RecordCount();
}

}  // namespace

// 0: the national data set (3,155 records).
BENCHMARK(BM_Keystroke)->Arg(0)->Arg(1000000)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK_MAIN();
