// LIKE over texts that make a naive matcher backtrack: many '%' jokers before a character the
// text lacks (no match) or has only at its end (a match). The goal: a pattern of ten jokers
// against a 90-character text stays far below two seconds; longer texts and more jokers show
// how the cost grows.
#include <benchmark/benchmark.h>

#include <string>

#include "types/VdbData.h"

namespace {

using namespace vdb;

void Like(benchmark::State& state, bool match) {
  const auto length = static_cast<std::size_t>(state.range(0));
  const auto jokers = static_cast<int>(state.range(1));
  const auto& type = static_cast<const TVdbStringType&>(*TVdbDataType::GetStringType(vctWideString, true, 10000, u"", 6));
  const auto* patternType = TVdbDataType::GetStringType(vctWideString, true, 200, u"", 0);
  std::u16string pattern;
  for (int i = 0; i < jokers; ++i) pattern += u"%a";
  pattern += u"%b";
  TVdbDataValue value, p;
  type.SetWideString(value, std::u16string(length, u'a') + (match ? u"b" : u""));
  patternType->SetWideString(p, pattern);
  for (auto _ : state) {
    const bool matched = type.Matches(value, p, *patternType, u'%', u'_', u'\\');
    if (matched != match) state.SkipWithError("wrong LIKE result");
    benchmark::DoNotOptimize(matched);
  }
}

void BM_LikeManyJokersNoMatch(benchmark::State& state) { Like(state, false); }
void BM_LikeManyJokersMatch(benchmark::State& state) { Like(state, true); }

BENCHMARK(BM_LikeManyJokersNoMatch)->Args({90, 10})->Args({1000, 10})->Args({1000, 50})->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LikeManyJokersMatch)->Args({90, 10})->Args({1000, 10})->Args({1000, 50})->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
