// A full scan of the settlement table under each encryption method against the plain table:
// open the table with its key, read every record and its note, close. The tables are made
// once by the import (national data set, and 100,000 generated records) under
// build/bench/bench-data. Each run reports its time per scan and "vs_plain", its time divided
// by the plain table's on the same data (measured in the same process).
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>

#include "SettlementImport.h"
#include "base/VdbFormat.h"
#include "base/VdbLastError.h"
#include "base/vuServices.h"
#include "storage/VdbPageMan.h"
#include "storage/vuOSFileSystem.h"
#include "tables/VdbBaseTable.h"

namespace {

namespace fs = std::filesystem;
using namespace vdb;

constexpr char16_t kKey[] = u"Benchmark jelsz\u00f3";
constexpr std::int32_t kCacheKB = 40960;

const char* MethodName(TvuEncryptionMethod m) {
  switch (m) {
    case emProtection: return "protection";
    case emFast: return "fast";
    case emBlowfish: return "blowfish";
    case emRijndael: return "rijndael";
    default: return "none";
  }
}

fs::path Database(TvuEncryptionMethod method, std::int64_t records) {
  const fs::path dir = fs::path(VIDORA_BENCH_DATA) /
                       ("encrypted-" + std::string(MethodName(method)) + "-" + std::to_string(records));
  if (!fs::exists(dir / "Irsz.vdbt")) {
    fs::remove_all(dir);
    const vidora::tools::TSettlementEncryption encryption{method, method == emNone ? u"" : kKey};
    if (records == 0)
      vidora::tools::ImportSettlements(fs::path(VIDORA_SETTLEMENTS_CSV), dir, encryption);
    else
      vidora::tools::GenerateSettlements(records, fs::path(VIDORA_SETTLEMENTS_CSV), dir, encryption);
  }
  return dir;
}

// One full scan: every record and the bytes of its note. Returns a checksum so that nothing
// is optimised away.
std::int64_t Scan(const fs::path& dir, TvuEncryptionMethod method) {
  TvuOSFileSystem fileSystem;
  TVdbPageManager pageManager;
  TVdbLastError lastError;
  pageManager.RegisterClient(1, kCacheKB);
  TVdbTableEnvironment env{pageManager, fileSystem, 1, lastError, vuDefaultServices()};
  std::int64_t sum = 0;
  {
    TVdbBaseTable table(env);
    table.SetRights(0x0100);
    table.SetFileName(VdbUtf8ToUtf16((dir / "Irsz.vdbt").string()));
    table.SetKey(method == emNone ? u"" : kKey);
    if (table.Open(false) != 0 || table.Setup(false) != 0) {
      throw std::runtime_error("cannot open " + dir.string() + ": " + VdbUtf16ToUtf8(lastError.Msg()));
    }
    const int note = table.ColumnDefs().GetCount();  // EGYEB is the last column (1-based)
    std::vector<std::uint8_t> record(static_cast<std::size_t>(table.GetRecordSize()));
    const std::int32_t count = table.GetRecordCount();
    for (std::int32_t r = 1; r <= count; ++r) {
      table.ReadRecord(r, record);
      sum += record[0] + static_cast<std::int64_t>(table.ReadBlobValue(record, note).size());
    }
    table.Close();
  }
  pageManager.UnregisterClient(1, kCacheKB);
  return sum;
}

// Seconds per scan of the plain table of `records`, measured once per process.
double PlainSeconds(std::int64_t records) {
  static std::map<std::int64_t, double> measured;
  auto it = measured.find(records);
  if (it != measured.end()) return it->second;
  const fs::path dir = Database(emNone, records);
  Scan(dir, emNone);  // warm the file cache as the benchmark loop does
  const int runs = records == 0 ? 30 : 3;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < runs; ++i) benchmark::DoNotOptimize(Scan(dir, emNone));
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  return measured[records] = took.count() / runs;
}

void BM_FullScan(benchmark::State& state) {
  const auto method = static_cast<TvuEncryptionMethod>(state.range(0));
  const std::int64_t records = state.range(1);
  const fs::path dir = Database(method, records);
  const double plain = PlainSeconds(records);
  Scan(dir, method);
  const auto start = std::chrono::steady_clock::now();
  for (auto _ : state) benchmark::DoNotOptimize(Scan(dir, method));
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  state.SetLabel(std::string(MethodName(method)) + (records == 0 ? ", 3,155 settlements" : ", generated"));
  state.counters["vs_plain"] = took.count() / static_cast<double>(state.iterations()) / plain;
}

void Methods(benchmark::internal::Benchmark* b) {
  for (std::int64_t records : {std::int64_t{0}, std::int64_t{100000}}) {
    for (TvuEncryptionMethod m : {emNone, emProtection, emFast, emBlowfish, emRijndael}) b->Args({m, records});
  }
}
BENCHMARK(BM_FullScan)->Apply(Methods)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
