// Randomised model tests of the index trees: sequences of inserts, deletes, searches and steps
// in both directions against a sorted model, over a table of configurations (both tree kinds,
// tiny pages that force splits and merges, fixed and variable keys, duplicates, descending
// parts, nulls, exact float order, old file versions). The seed is printed; set VIDORA_SEED to
// replay a run.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <iterator>
#include <cstdlib>
#include <iostream>
#include <limits>
#include <random>

#include "IndexTestSupport.h"
#include "TestSeed.h"
#include "storage/VdbBPlusTree.h"
#include "storage/VdbBTree.h"

namespace vdb::test {
namespace {

const TVdbDataType* Int(bool nullable, int level) { return TVdbDataType::GetDataType(vctInteger, nullable, level); }
const TVdbDataType* Small(bool nullable, int level) { return TVdbDataType::GetDataType(vctSmallInt, nullable, level); }
const TVdbDataType* Flt(bool nullable, int level) { return TVdbDataType::GetFloatType(vctFloat, nullable, 0, level); }
const TVdbDataType* Str(int len, bool nullable, const char16_t* coll, int level) {
  return TVdbDataType::GetStringType(vctString, nullable, len, coll, level);
}
const TVdbDataType* Wide(int len, bool nullable, const char16_t* coll, int level) {
  return TVdbDataType::GetStringType(vctWideString, nullable, len, coll, level);
}

struct TConfig {
  const char* Name;
  std::int16_t Version;
  bool VarSize;
  std::int32_t PageSize;
  TVdbKeyDesc (*Keys)();
};

TVdbKeyPart Part(const TVdbDataType* t, bool desc = false, std::int32_t keyLength = 0) {
  TVdbKeyPart p;
  p.Type = t;
  p.Descending = desc;
  p.KeyLength = keyLength;
  return p;
}

const TConfig kConfigs[] = {
    {"btree_int_tiny", 6, false, 256, [] { return TIndexHarness::Keys(6, false, {Part(Int(true, 6))}); }},
    {"btree_int_normal", 6, false, 4096, [] { return TIndexHarness::Keys(6, false, {Part(Int(false, 6))}); }},
    {"btree_v4_desc_two_parts", 4, false, 256,
     [] { return TIndexHarness::Keys(4, false, {Part(Small(true, 4), true), Part(Int(false, 4))}); }},
    {"btree_v3_int", 3, false, 256, [] { return TIndexHarness::Keys(3, false, {Part(Int(true, 3))}); }},
    {"btree_float_exact", 6, false, 256, [] { return TIndexHarness::Keys(6, false, {Part(Flt(true, 6))}); }},
    {"btree_v5_truncated_string", 5, false, 512,
     [] {
       return TIndexHarness::Keys(5, false, {Part(Str(30, true, u"Hungarian", 5), false, 12), Part(Int(false, 5), true)});
     }},
    {"bplus_string_tiny", 6, true, 256,
     [] { return TIndexHarness::Keys(6, true, {Part(Str(20, true, u"Hungarian", 6))}); }},
    {"bplus_string_int_desc", 6, true, 512,
     [] { return TIndexHarness::Keys(6, true, {Part(Str(40, false, u"", 6)), Part(Int(true, 6), true)}); }},
    {"bplus_wide_tiny", 6, true, 256,
     [] { return TIndexHarness::Keys(6, true, {Part(Wide(12, true, u"Hungarian", 6))}); }},
    {"bplus_string_normal", 6, true, 4096,
     [] { return TIndexHarness::Keys(6, true, {Part(Str(60, false, u"Hungarian", 6))}); }},
    {"bplus_string_desc", 6, true, 256,
     [] { return TIndexHarness::Keys(6, true, {Part(Str(16, true, u"Hungarian", 6), true)}); }},
};

std::uint32_t SeedFor(const char* name) { return vidora_test::Seed(name); }

// Random values from small domains, so that equal keys are common.
class TValueGen {
 public:
  explicit TValueGen(std::uint32_t seed) : FRng(seed) {}
  std::mt19937& Rng() { return FRng; }
  int Uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(FRng); }

  TKeyValue Value(const TVdbDataType& t) {
    TKeyValue v;
    if (t.Nullable() && Uniform(0, 9) == 0) {
      v.Null = true;
      return v;
    }
    switch (t.ColumnType()) {
      case vctFloat: {
        static const double kFloats[] = {-std::numeric_limits<double>::infinity(), -1.5, -0.0, 0.0, 1.0,
                                         1.0000000000000002, 2.0, 2.0000000000000004, 1e300,
                                         std::numeric_limits<double>::infinity(),
                                         std::numeric_limits<double>::quiet_NaN()};
        v.Float = kFloats[Uniform(0, 10)];
        break;
      }
      case vctString: {
        // Hungarian letters in code page 1250: á é ö ő ü ű and the digraph letters.
        static const char kAlphabet[] = "aAcsSzZe \xE1\xE9\xF6\xF5\xFC\xFBgy";
        const auto& s = static_cast<const TVdbStringType&>(t);
        const int len = Uniform(0, 9) == 0 ? Uniform(0, s.MaxLength()) : Uniform(0, 4);
        for (int i = 0; i < len; ++i) v.Ansi.push_back(kAlphabet[Uniform(0, sizeof(kAlphabet) - 2)]);
        break;
      }
      case vctWideString: {
        static const char16_t kAlphabet[] = u"aAcsSz \u00E1\u0151\u0171\u00FC";
        const auto& s = static_cast<const TVdbStringType&>(t);
        const int len = Uniform(0, 9) == 0 ? Uniform(0, s.MaxLength()) : Uniform(0, 4);
        for (int i = 0; i < len; ++i) v.Wide.push_back(kAlphabet[Uniform(0, 10)]);
        break;
      }
      default:
        v.Int = Uniform(-6, 6);
    }
    return v;
  }
  TRow Row(const TVdbKeyDesc& keys, std::int32_t recNo) {
    TRow r;
    r.RecNo = recNo;
    for (const auto& p : keys.Parts) r.Values.push_back(Value(*p.Type));
    return r;
  }

 private:
  std::mt19937 FRng;
};

struct TModelRow {
  TRow Row;
  std::vector<std::uint8_t> Entry;
};

class IndexModelTest : public ::testing::TestWithParam<TConfig> {};

TEST_P(IndexModelTest, RandomOperationsMatchTheModel) {
  const TConfig& cfg = GetParam();
  const std::uint32_t seed = SeedFor(cfg.Name);
  SCOPED_TRACE(::testing::Message() << "config " << cfg.Name << " VIDORA_SEED=" << seed);
  TValueGen gen(seed);
  TIndexHarness h(cfg.Version);
  const TVdbKeyDesc keys = cfg.Keys();
  h.Create(keys, cfg.PageSize);
  ASSERT_EQ(h.FIndex->IsVariableSize(), cfg.VarSize);

  std::vector<TModelRow> model;
  auto lower = [&](const TRow& key) {
    return std::lower_bound(model.begin(), model.end(), key, [&](const TModelRow& m, const TRow& k) {
      return ModelCompare(keys, m.Row, k) < 0;
    });
  };
  int verifications = 0;
  auto verify = [&](int step) {
    SCOPED_TRACE(::testing::Message() << "after step " << step);
    const TVdbTreeCheckResult tc = h.FIndex->Tree().Check();
    EXPECT_TRUE(tc.Ok()) << (tc.Problems.empty() ? "unordered" : std::string(tc.Problems[0].begin(), tc.Problems[0].end()));
    // The index check walks the index once more; every few rounds is enough.
    if (verifications++ % 4 == 0) {
      EXPECT_TRUE(h.FIndex->Check(static_cast<std::int64_t>(model.size())).empty());
    }
    const auto walked = h.Walk();
    ASSERT_EQ(walked.size(), model.size());
    for (std::size_t i = 0; i < model.size(); ++i) ASSERT_EQ(walked[i], model[i].Entry) << "position " << i;
    EXPECT_EQ(h.FIndex->GetItemCount(), static_cast<std::int64_t>(model.size()));
  };

  constexpr int kSteps = 2400;
  std::vector<std::uint8_t> walkAt;  // where the kept walk stands (empty: not started)
  std::int32_t nextRecNo = 1;
  int maxHeight = 0;
  for (int step = 0; step < kSteps; ++step) {
    const bool growing = step < kSteps * 55 / 100;
    const int op = gen.Uniform(0, 99);
    const int insertShare = growing ? 60 : 22;
    if (op < insertShare || model.empty()) {
      TModelRow m{gen.Row(keys, nextRecNo++), {}};
      m.Entry = h.Entry(m.Row);
      ASSERT_EQ(h.FIndex->Add_Index(m.Entry), 0);
      model.insert(lower(m.Row), std::move(m));
    } else if (op < insertShare + 25) {
      const auto at = model.begin() + gen.Uniform(0, static_cast<int>(model.size()) - 1);
      ASSERT_EQ(h.FIndex->Loesche_Index(at->Entry), 0);
      model.erase(at);
    } else if (op < insertShare + 28) {
      const TRow absent = gen.Row(keys, nextRecNo + 1000000);
      EXPECT_EQ(h.FIndex->Loesche_Index(h.Entry(absent)), 1);
    } else if (op < insertShare + 40) {
      static const std::int32_t kRecNos[] = {0, INT32_MIN, INT32_MAX, 7};
      TRow key = gen.Row(keys, kRecNos[gen.Uniform(0, 3)]);
      std::vector<std::uint8_t> buf = h.Entry(key);
      const auto it = lower(key);
      const std::int64_t seqNo = h.FIndex->CalcItemSequenceNo(buf);
      EXPECT_EQ(seqNo, static_cast<std::int64_t>(it - model.begin()) + 1);
      if (it == model.end()) {
        EXPECT_EQ(h.FIndex->Suche_Index(buf), 1);
      } else {
        ASSERT_EQ(h.FIndex->Suche_Index(buf), 0);
        EXPECT_EQ(buf, it->Entry);
      }
    } else if (op < insertShare + 52) {
      const auto i = static_cast<std::size_t>(gen.Uniform(0, static_cast<int>(model.size()) - 1));
      std::vector<std::uint8_t> next = model[i].Entry, prev = model[i].Entry;
      if (i + 1 < model.size()) {
        ASSERT_EQ(h.FIndex->Naechster_Index(next), 0);
        EXPECT_EQ(next, model[i + 1].Entry);
      } else {
        EXPECT_EQ(h.FIndex->Naechster_Index(next), 1);
      }
      if (i > 0) {
        ASSERT_EQ(h.FIndex->Vorheriger_Index(prev), 0);
        EXPECT_EQ(prev, model[i - 1].Entry);
      } else {
        EXPECT_EQ(h.FIndex->Vorheriger_Index(prev), 1);
      }
    } else if (op < insertShare + 62) {
      // A walk kept across the other operations: each step goes on from the entry the last one
      // reached, along the kept path or, after writes, by a new descent; the entry it stands on
      // may have been deleted meanwhile.
      const bool forward = gen.Uniform(0, 1) == 0;
      if (walkAt.empty() || gen.Uniform(0, 9) == 0) {
        ASSERT_EQ(forward ? h.FIndex->Erster_Index(walkAt) : h.FIndex->Letzter_Index(walkAt), 0);
        EXPECT_EQ(walkAt, forward ? model.front().Entry : model.back().Entry);
      }
      const TVdbIndexOrder& order = h.FIndex->Order();
      for (int k = gen.Uniform(1, 6); k > 0; --k) {
        // The model's neighbour of walkAt in the walk's direction.
        const auto after = std::upper_bound(model.begin(), model.end(), walkAt,
                                            [&](const std::vector<std::uint8_t>& e, const TModelRow& m) {
                                              return order.Compare(e, m.Entry) < 0;
                                            });
        const auto before = std::lower_bound(model.begin(), model.end(), walkAt,
                                             [&](const TModelRow& m, const std::vector<std::uint8_t>& e) {
                                               return order.Compare(m.Entry, e) < 0;
                                             });
        std::vector<std::uint8_t> step = walkAt;
        if (forward ? after == model.end() : before == model.begin()) {
          EXPECT_EQ(forward ? h.FIndex->Naechster_Index(step) : h.FIndex->Vorheriger_Index(step), 1);
          walkAt.clear();
          break;
        }
        ASSERT_EQ(forward ? h.FIndex->Naechster_Index(step) : h.FIndex->Vorheriger_Index(step), 0);
        EXPECT_EQ(step, forward ? after->Entry : std::prev(before)->Entry);
        walkAt = step;
      }
    } else {
      std::vector<std::uint8_t> e;
      ASSERT_EQ(h.FIndex->Erster_Index(e), 0);
      EXPECT_EQ(e, model.front().Entry);
      ASSERT_EQ(h.FIndex->Letzter_Index(e), 0);
      EXPECT_EQ(e, model.back().Entry);
    }
    maxHeight = std::max(maxHeight, h.FIndex->Tree().GetHeight());
    // Tiny pages change shape often: compare often. Normal pages less, to keep the run short.
    const int every = cfg.PageSize <= 512 ? 40 : 160;
    if (step % every == every - 1) {
      verify(step);
      if (HasFatalFailure() || HasFailure()) return;
    }
  }
  // The runs are long enough to split pages and, with the smallest pages, to grow three levels.
  if (cfg.PageSize == 256) {
    EXPECT_GE(maxHeight, 3);
  } else {
    EXPECT_GE(maxHeight, 2);
  }
  h.Reopen();
  verify(kSteps);
  // Deleting everything leaves an empty tree that still works.
  for (const auto& m : model) ASSERT_EQ(h.FIndex->Loesche_Index(m.Entry), 0);
  model.clear();
  verify(kSteps + 1);
  EXPECT_EQ(h.FIndex->Tree().GetHeight(), 0);
}

INSTANTIATE_TEST_SUITE_P(Configurations, IndexModelTest, ::testing::ValuesIn(kConfigs),
                         [](const auto& info) { return std::string(info.param.Name); });

}  // namespace
}  // namespace vdb::test
