// The preview's speed over the national data set (3,155 settlements), on the Liberation faces:
// generating the simple list (report 11) and the full list (report 12) into the page store,
// plain and compressed. Counters: pages per second into the store, the store's bytes per page,
// whether the store moved to its temporary file, and the time until page 1 is on screen (the
// first page stored, read back from the store and painted at the screen's size, as the preview
// does). A second benchmark flips through stored pages: read back and painted.
#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <chrono>
#include <filesystem>

#include "BRMetrics.h"
#include "BRPrntr.h"
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

// A page as the preview paints it at the width of a common window (96 dots per inch).
void Paint(const br::TBRDisplayPage& page, QImage& screen) {
  screen.fill(Qt::white);
  QPainter painter(&screen);
  br::PaintPage(page, painter, 96.0 / 254.0);
}

template <class R>
void BM_PreviewStore(benchmark::State& state) {
  TSettlementTable data;
  R report(data.Table);
  report.ProcessMessages = [] {};
  QImage screen(794, 1123, QImage::Format_RGB32);
  std::int64_t pages = 0;
  double firstPageMs = 0;
  double bytes = 0;
  bool inFile = false;
  for (auto _ : state) {
    br::TBRPrinter printer;
    printer.Compression = state.range(0) != 0;
    const Clock::time_point started = Clock::now();
    printer.OnPageAdded = [&](int count) {
      if (count != 1) return;
      Paint(printer.GetPage(1), screen);
      firstPageMs += std::chrono::duration<double, std::milli>(Clock::now() - started).count();
    };
    report.Generate(printer);
    pages += printer.PageCount();
    bytes = static_cast<double>(printer.Stream()->Size()) / printer.PageCount();
    inFile = printer.Stream()->InFile();
  }
  state.counters["pages"] = benchmark::Counter(static_cast<double>(pages), benchmark::Counter::kAvgIterations);
  state.counters["pages/s"] = benchmark::Counter(static_cast<double>(pages), benchmark::Counter::kIsRate);
  state.counters["first_page_on_screen_ms"] = benchmark::Counter(firstPageMs, benchmark::Counter::kAvgIterations);
  state.counters["bytes/page"] = bytes;
  state.counters["in_temp_file"] = inFile ? 1 : 0;
}

// Paging through a finished store: each page read back (decoded) and painted.
template <class R>
void BM_PageFlip(benchmark::State& state) {
  TSettlementTable data;
  R report(data.Table);
  report.ProcessMessages = [] {};
  br::TBRPrinter printer;
  printer.Compression = state.range(0) != 0;
  report.Generate(printer);
  QImage screen(794, 1123, QImage::Format_RGB32);
  int n = 0;
  for (auto _ : state) {
    Paint(printer.GetPage(n % printer.PageCount() + 1), screen);
    ++n;
  }
  state.counters["pages/s"] = benchmark::Counter(n, benchmark::Counter::kIsRate);
}

BENCHMARK_TEMPLATE(BM_PreviewStore, vidora::TBandReport11)->Name("Store_Report11")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK_TEMPLATE(BM_PreviewStore, vidora::TBandReport12)->Name("Store_Report12")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK_TEMPLATE(BM_PageFlip, vidora::TBandReport11)->Name("PageFlip_Report11")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

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
