// Generating the listing reports over the national data set (3,155 settlements) into the
// in-memory page list, on the Liberation faces as the program lays them out: the simple list
// (report 11, 66 pages) and the full list (report 12, a page per settlement). Counters: pages
// per second and the time until the first page is stored (what a user waits for before the
// preview shows something). The tables are built once into the build directory.
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <chrono>
#include <filesystem>
#include <memory>

#include "SettlementImport.h"
#include "Unit11.h"
#include "Unit12.h"
#include "VdbTable.h"
#include "VdbDatabase.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

fs::path Database() {
  const fs::path dir = fs::path(VIDORA_BENCH_DATA) / "settlements-0";
  if (!fs::exists(dir / "Irsz.vdbt")) {
    fs::remove_all(dir);
    vidora::tools::ImportSettlements(fs::path(VIDORA_SETTLEMENTS_CSV), dir);
  }
  return dir;
}

struct TSettlementTable {
  TSettlementTable() {
    Database.SetName(u"BenchDb");
    Database.SetDatabaseName(u"BenchDb");
    Database.SetDatabaseType(vdbds::TVdbDatabaseType::dbtDirectory);
    Database.SetLocation(::Database().u16string());
    Table.Name = u"Table1";
    Table.SetDatabaseName(u"BenchDb");
    Table.SetTableName(u"Irsz");
    Table.SetIndexName(u"TELEP");
    Table.Open();
  }
  ~TSettlementTable() { Table.Close(); }
  vdbds::TVdbDatabase Database;
  vdbds::TVdbTable Table;
};

template <class R>
void BM_Report(benchmark::State& state) {
  TSettlementTable data;
  R report(data.Table);
  report.ProcessMessages = [] {};
  Clock::time_point started;
  double firstPageMs = 0;
  bool first = false;
  report.Pages().OnPageAdded = [&](int) {
    if (first) return;
    first = true;
    firstPageMs += std::chrono::duration<double, std::milli>(Clock::now() - started).count();
  };
  std::int64_t pages = 0;
  for (auto _ : state) {
    first = false;
    started = Clock::now();
    report.Prepare();
    pages += report.Pages().PageCount();
  }
  state.counters["pages"] = benchmark::Counter(static_cast<double>(pages), benchmark::Counter::kAvgIterations);
  state.counters["pages/s"] = benchmark::Counter(static_cast<double>(pages), benchmark::Counter::kIsRate);
  state.counters["first_page_ms"] = benchmark::Counter(firstPageMs, benchmark::Counter::kAvgIterations);
}

BENCHMARK_TEMPLATE(BM_Report, vidora::TBandReport11)->Name("Report11_SimpleList")->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_Report, vidora::TBandReport12)->Name("Report12_FullList")->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  // The fonts need a GUI application; no window is shown.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
