// Bulk builds of index files with a million keys: a variable-size B+ tree over names under
// the Hungarian collation (the settlement name index) and a classic B-tree over integers.
// Reports the file size against the key bytes stored. The ordered walks step through every
// entry of such an index, forwards and backwards, as a cursor in index order does.
#include <benchmark/benchmark.h>

#include <chrono>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "storage/VdbIndexFile.h"
#include "storage/VdbPageMan.h"
#include "storage/vuMemoryFileSystem.h"
#include "types/VdbData.h"

namespace {

using namespace vdb;

constexpr std::int64_t kKeys = 1000000;

// Names made of Hungarian syllables (code page 1250), many of them repeated.
std::string RandomName(std::mt19937& rng) {
  static const char* const kSyllables[] = {"Ba", "ko", "nya", "sz\xE9", "cs", "\xF6r", "v\xE1r", "hal", "ma",
                                           "gy", "\xFAj", "fa", "lu", "t\xF3", "pus", "zta", "egy", "h\xE1z"};
  std::string s;
  const int n = 2 + static_cast<int>(rng() % 4);
  for (int i = 0; i < n; ++i) s += kSyllables[rng() % (sizeof(kSyllables) / sizeof(kSyllables[0]))];
  return s;
}

void BuildIndex(benchmark::State& state, bool strings) {
  std::mt19937 rng(42);
  const TVdbDataType* type = strings
                                 ? TVdbDataType::GetStringType(vctString, false, 40, u"Hungarian", 6)
                                 : TVdbDataType::GetDataType(vctInteger, false, 6);
  TVdbKeyDesc keys;
  keys.Level = 6;
  keys.VarSize = strings;
  TVdbKeyPart part;
  part.Type = type;
  part.KeyLength = static_cast<std::int32_t>(type->DataSize());
  keys.Parts.push_back(part);
  TVdbIndexDefinition def;
  def.Parts.push_back({1, static_cast<std::int16_t>(part.KeyLength), static_cast<std::uint8_t>(type->ColumnType()), false});
  def.EntrySize = keys.EntrySize();

  // The records, made once; entries are built from them inside the timed build.
  std::vector<std::vector<std::uint8_t>> records(static_cast<std::size_t>(kKeys),
                                                 std::vector<std::uint8_t>(type->DataSize(), 0));
  for (auto& record : records) {
    TVdbDataValue v;
    type->SetReference(v, record, 0);
    if (strings) {
      type->SetAnsiString(v, RandomName(rng));
    } else {
      type->SetInteger(v, static_cast<std::int64_t>(rng() % 2000000000));
    }
  }

  std::int64_t fileBytes = 0, keyBytes = 0;
  double seconds = 0;
  for (auto _ : state) {
    state.PauseTiming();
    TvuMemoryFileSystem fs(8192);
    TVdbPageManager pm;
    pm.RegisterClient(1, 1 << 20);
    TVdbClientStorage storage(pm, nullptr, 1, fs);
    storage.SetName(u"bench.vdbx");
    TVdbIndexFile index(storage, fs, 6);
    index.NewStorage(keys, def, kKeys);
    state.ResumeTiming();
    const auto start = std::chrono::steady_clock::now();
    std::size_t next = 0;
    keyBytes = 0;
    index.BulkInsert(kKeys, {}, [&](std::vector<std::uint8_t>& item) {
      if (next == records.size()) return false;
      index.Order().BuildEntry(records[next], static_cast<std::int32_t>(next + 1), item);
      keyBytes += static_cast<std::int64_t>(item.size());
      ++next;
      return true;
    });
    index.Flush();
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.PauseTiming();
    fileBytes = storage.GetSize();
    if (!index.Tree().Check().Ok()) state.SkipWithError("the built tree fails its check");
    index.Close();
    state.ResumeTiming();
  }
  state.counters["file_MB"] = static_cast<double>(fileBytes) / 1e6;
  state.counters["entry_MB"] = static_cast<double>(keyBytes) / 1e6;
  state.counters["file_per_entry_bytes"] = static_cast<double>(fileBytes) / static_cast<double>(kKeys);
  state.counters["overhead"] = static_cast<double>(fileBytes) / static_cast<double>(keyBytes);
  state.counters["build_s"] = seconds;
}

// Looking a name up and stepping through the next 20 entries of the million-key name index,
// as the search box of the maintenance window does.
void BM_LookupNameIndex(benchmark::State& state) {
  std::mt19937 rng(7);
  const TVdbDataType* type = TVdbDataType::GetStringType(vctString, false, 40, u"Hungarian", 6);
  TVdbKeyDesc keys;
  keys.VarSize = true;
  TVdbKeyPart part;
  part.Type = type;
  part.KeyLength = static_cast<std::int32_t>(type->DataSize());
  keys.Parts.push_back(part);
  TVdbIndexDefinition def;
  def.Parts.push_back({1, static_cast<std::int16_t>(part.KeyLength), static_cast<std::uint8_t>(vctString), false});
  def.EntrySize = keys.EntrySize();
  TvuMemoryFileSystem fs(8192);
  TVdbPageManager pm;
  pm.RegisterClient(1, 1 << 20);
  TVdbClientStorage storage(pm, nullptr, 1, fs);
  storage.SetName(u"lookup.vdbx");
  TVdbIndexFile index(storage, fs, 6);
  index.NewStorage(keys, def, kKeys);
  std::vector<std::uint8_t> record(type->DataSize(), 0);
  auto entryOf = [&](const std::string& name, std::int32_t recNo, std::vector<std::uint8_t>& item) {
    TVdbDataValue v;
    type->SetReference(v, record, 0);
    type->SetAnsiString(v, name);
    index.Order().BuildEntry(record, recNo, item);
  };
  std::int64_t n = 0;
  index.BulkInsert(kKeys, {}, [&](std::vector<std::uint8_t>& item) {
    if (n == kKeys) return false;
    entryOf(RandomName(rng), static_cast<std::int32_t>(++n), item);
    return true;
  });
  std::vector<std::uint8_t> key;
  for (auto _ : state) {
    entryOf(RandomName(rng).substr(0, 3), 0, key);
    if (index.Suche_Index(key) == 0) {
      for (int i = 0; i < 20 && index.Naechster_Index(key) == 0; ++i) {
      }
    }
    benchmark::DoNotOptimize(key.data());
  }
  state.SetItemsProcessed(state.iterations() * 21);
  index.Close();
}

// Every entry of a million-key index in order, one step at a time from the entry before, as a
// cursor in index order reads it (names: the B+ tree; integers: the B-tree).
void WalkIndex(benchmark::State& state, bool strings, bool forward) {
  std::mt19937 rng(42);
  const TVdbDataType* type = strings
                                 ? TVdbDataType::GetStringType(vctString, false, 40, u"Hungarian", 6)
                                 : TVdbDataType::GetDataType(vctInteger, false, 6);
  TVdbKeyDesc keys;
  keys.Level = 6;
  keys.VarSize = strings;
  TVdbKeyPart part;
  part.Type = type;
  part.KeyLength = static_cast<std::int32_t>(type->DataSize());
  keys.Parts.push_back(part);
  TVdbIndexDefinition def;
  def.Parts.push_back({1, static_cast<std::int16_t>(part.KeyLength), static_cast<std::uint8_t>(type->ColumnType()), false});
  def.EntrySize = keys.EntrySize();
  TvuMemoryFileSystem fs(8192);
  TVdbPageManager pm;
  pm.RegisterClient(1, 1 << 20);
  TVdbClientStorage storage(pm, nullptr, 1, fs);
  storage.SetName(u"walk.vdbx");
  TVdbIndexFile index(storage, fs, 6);
  index.NewStorage(keys, def, kKeys);
  std::vector<std::uint8_t> record(type->DataSize(), 0);
  std::int64_t n = 0;
  index.BulkInsert(kKeys, {}, [&](std::vector<std::uint8_t>& item) {
    if (n == kKeys) return false;
    TVdbDataValue v;
    type->SetReference(v, record, 0);
    if (strings) {
      type->SetAnsiString(v, RandomName(rng));
    } else {
      type->SetInteger(v, static_cast<std::int64_t>(rng() % 2000000000));
    }
    index.Order().BuildEntry(record, static_cast<std::int32_t>(++n), item);
    return true;
  });
  index.Flush();
  std::int64_t steps = 0;
  std::vector<std::uint8_t> key;
  for (auto _ : state) {
    steps = 0;
    if ((forward ? index.Erster_Index(key) : index.Letzter_Index(key)) == 0) {
      ++steps;
      while ((forward ? index.Naechster_Index(key) : index.Vorheriger_Index(key)) == 0) ++steps;
    }
    benchmark::DoNotOptimize(key.data());
  }
  if (steps != kKeys) state.SkipWithError("the walk did not reach every entry");
  state.SetItemsProcessed(state.iterations() * steps);
  index.Close();
}

void BM_WalkNameIndexForward(benchmark::State& state) { WalkIndex(state, true, true); }
void BM_WalkNameIndexBackward(benchmark::State& state) { WalkIndex(state, true, false); }
void BM_WalkIntegerIndexForward(benchmark::State& state) { WalkIndex(state, false, true); }
void BM_WalkIntegerIndexBackward(benchmark::State& state) { WalkIndex(state, false, false); }

void BM_BulkBuildNameIndex(benchmark::State& state) { BuildIndex(state, true); }
void BM_BulkBuildIntegerIndex(benchmark::State& state) { BuildIndex(state, false); }

BENCHMARK(BM_BulkBuildNameIndex)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BulkBuildIntegerIndex)->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LookupNameIndex)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WalkNameIndexForward)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WalkNameIndexBackward)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WalkIntegerIndexForward)->Iterations(3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WalkIntegerIndexBackward)->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
