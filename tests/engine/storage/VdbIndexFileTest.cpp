// Index files: key order, tree edges (root split on page 1, height growth and shrink, searches
// before and after all entries), reuse of freed pages, header forms of every level, damaged
// headers and pages, bulk builds, uniqueness and the collator-version side file.
#include <gtest/gtest.h>

#include <climits>
#include <random>

#include "IndexTestSupport.h"
#include "base/VdbErrorCodes.h"
#include "storage/VdbBPlusTree.h"
#include "storage/VdbBTree.h"
#include "base/vuLittleEndian.h"

namespace vdb::test {
namespace {

const TVdbDataType* Int(bool nullable, int level = 6) { return TVdbDataType::GetDataType(vctInteger, nullable, level); }
const TVdbDataType* Str(int len, bool nullable, const char16_t* coll = u"Hungarian", int level = 6) {
  return TVdbDataType::GetStringType(vctString, nullable, len, coll, level);
}

TVdbKeyPart Part(const TVdbDataType* t, bool desc = false, std::int32_t keyLength = 0) {
  TVdbKeyPart p;
  p.Type = t;
  p.Descending = desc;
  p.KeyLength = keyLength;
  return p;
}

TRow IntRow(std::int32_t recNo, std::int64_t v, bool null = false) {
  TRow r;
  r.RecNo = recNo;
  TKeyValue k;
  k.Int = v;
  k.Null = null;
  r.Values.push_back(k);
  return r;
}

TRow StrRow(std::int32_t recNo, std::string s, bool null = false) {
  TRow r;
  r.RecNo = recNo;
  TKeyValue k;
  k.Ansi = std::move(s);
  k.Null = null;
  r.Values.push_back(k);
  return r;
}

std::int16_t CodeOf(const std::function<void()>& fn) {
  try {
    fn();
  } catch (const EVdbEngine& e) {
    return e.Code();
  }
  return 0;
}

// ---- key order

TEST(IndexOrder, EqualKeysAreOrderedByRecordNumberAndNullsByDirection) {
  for (bool desc : {false, true}) {
    TIndexHarness h(6);
    h.Create(TIndexHarness::Keys(6, false, {Part(Int(true), desc)}), 4096);
    const TVdbIndexOrder& order = h.FIndex->Order();
    const auto a = h.Entry(IntRow(9, 5)), b = h.Entry(IntRow(3, 5)), n = h.Entry(IntRow(1, 0, true));
    EXPECT_EQ(order.CompareKeys(a, b), 0);
    EXPECT_GT(order.Compare(a, b), 0) << "record number decides among equal keys";
    // A null sorts before every value ascending, after them descending.
    EXPECT_EQ(order.Compare(n, a) < 0, !desc);
    EXPECT_EQ(order.CompareKeys(n, h.Entry(IntRow(2, 0, true))), 0) << "two nulls are equal";
  }
}

// The key order reads integers straight from the key bytes; it must agree with the value
// types' own index order for every integer type, width, null-byte position and sign.
TEST(IndexOrder, IntegerKeysAgreeWithTheTypesIndexOrder) {
  const TVdbColumnType codes[] = {vctSmallInt, vctByte, vctBoolean, vctInteger, vctBigInt, vctLink, vctRecordId};
  std::mt19937_64 rng(5);
  for (TVdbColumnType code : codes) {
    for (int level : {3, 4, 6}) {
      for (bool nullable : {false, true}) {
        const TVdbDataType* t = TVdbDataType::GetDataType(code, nullable, level);
        SCOPED_TRACE(::testing::Message() << "type " << code << " level " << level << " nullable " << nullable);
        TIndexHarness h(static_cast<std::int16_t>(level));
        h.Create(TIndexHarness::Keys(static_cast<std::int16_t>(level), false, {Part(t)}), 4096);
        // The range of the type without its null value (a nullable type's minimum is null).
        const TVdbDataType* plain = t->GetNullableType(false);
        TVdbDataValue lo, hi;
        plain->GetMinimum(lo);
        plain->GetMaximum(hi);
        const std::int64_t minimum = plain->GetInteger(lo), maximum = plain->GetInteger(hi);
        for (int i = 0; i < 200; ++i) {
          auto pick = [&] {
            const std::uint64_t span = static_cast<std::uint64_t>(maximum) - static_cast<std::uint64_t>(minimum);
            const std::uint64_t r = span == UINT64_MAX ? rng() : rng() % (span + 1);
            TKeyValue v;
            v.Null = t->Nullable() && rng() % 8 == 0;
            v.Int = static_cast<std::int64_t>(static_cast<std::uint64_t>(minimum) + r);
            return TRow{1, {v}};
          };
          TRow a = pick(), b = pick();
          const auto ea = h.Entry(a), eb = h.Entry(b);
          std::vector<std::uint8_t> ra(ea.begin() + 4, ea.end()), rb(eb.begin() + 4, eb.end());
          TVdbDataValue va, vb;
          t->SetReference(va, ra, 0);
          t->SetReference(vb, rb, 0);
          const int expected = TVdbDataType::Compare(va, vb, *t, *t, 0, vcmIndex) - vcrEqual;
          const int got = h.FIndex->Order().CompareKeys(ea, eb);
          ASSERT_EQ((got > 0) - (got < 0), expected) << a.Values[0].Int << " vs " << b.Values[0].Int;
        }
      }
    }
  }
}

TEST(IndexOrder, FloatsUseTheExactOrderNotTheExpressionTolerance) {
  TIndexHarness h(6);
  h.Create(TIndexHarness::Keys(6, false, {Part(TVdbDataType::GetFloatType(vctFloat, false, 0, 6))}), 4096);
  auto entry = [&](std::int32_t recNo, double d) {
    TRow r;
    r.RecNo = recNo;
    TKeyValue k;
    k.Float = d;
    r.Values.push_back(k);
    return h.Entry(r);
  };
  const TVdbIndexOrder& order = h.FIndex->Order();
  EXPECT_LT(order.CompareKeys(entry(2, 2.0), entry(1, 2.0000000000000004)), 0);
  EXPECT_EQ(order.CompareKeys(entry(1, -0.0), entry(2, 0.0)), 0);
  EXPECT_GT(order.CompareKeys(entry(1, std::nan("")), entry(2, 1e308)), 0);
}

TEST(IndexOrder, HungarianPairsInFixedAndVariableKeys) {
  struct TPair {
    const char* Less;
    const char* Greater;
  };
  // Code page 1250: á = E1.
  const TPair pairs[] = {{"Cukor", "Cs\xE1kv\xE1r"}, {"kasz\xE1s", "kassza"}, {"megy", "meggy"}, {"", "a"}};
  for (bool var : {false, true}) {
    TIndexHarness h(6);
    h.Create(TIndexHarness::Keys(6, var, {Part(Str(20, true))}), 4096);
    for (const auto& p : pairs) {
      EXPECT_LT(h.FIndex->Order().CompareKeys(h.Entry(StrRow(2, p.Less)), h.Entry(StrRow(1, p.Greater))), 0)
          << p.Less << " < " << p.Greater << (var ? " variable" : " fixed");
    }
  }
}

TEST(IndexOrder, KeyPartShorterThanItsStringFieldLowersTheCount) {
  TIndexHarness h(6);
  // String(20) nullable at level 6: null byte, 1-byte prefix, 20 characters; the key keeps 6 bytes.
  h.Create(TIndexHarness::Keys(6, false, {Part(Str(20, true), false, 6)}), 4096);
  const auto e = h.Entry(StrRow(1, "abcdefghij"));
  ASSERT_EQ(e.size(), 4u + 6u);
  EXPECT_EQ(e[4], 1) << "null byte first";
  EXPECT_EQ(e[5], 4) << "count lowered to the characters that fit";
  EXPECT_EQ(std::string(e.begin() + 6, e.end()), "abcd");
  // Keys equal in their kept characters are duplicates.
  EXPECT_EQ(h.FIndex->Order().CompareKeys(e, h.Entry(StrRow(2, "abcdXYZ"))), 0);
}

TEST(IndexOrder, VariableKeysHoldOnlyTheUsedBytes) {
  TIndexHarness h(6);
  h.Create(TIndexHarness::Keys(6, true, {Part(Str(40, true))}), 4096);
  const auto e = h.Entry(StrRow(1, "abc"));
  EXPECT_EQ(e, (std::vector<std::uint8_t>{1, 0, 0, 0, 1, 3, 'a', 'b', 'c'}));
  EXPECT_EQ(h.Entry(StrRow(1, "", true)), (std::vector<std::uint8_t>{1, 0, 0, 0, 0})) << "a null is its null byte";
  EXPECT_EQ(h.FIndex->GetIndSize(), 4 + 1 + 1 + 40);
}

// ---- tree edges

TEST(BTreeEdges, RootSplitKeepsPageOneAndHeightGrowsAndShrinks) {
  TIndexHarness h(6);
  // Entry 8 bytes, item 12: order (250 / 12) / 2 = 10, capacity 20.
  h.Create(TIndexHarness::Keys(6, false, {Part(Int(false))}), 256);
  auto& tree = static_cast<TVdbBTree&>(h.FIndex->Tree());
  ASSERT_EQ(tree.GetCapacity(), 20);
  for (int i = 1; i <= 20; ++i) ASSERT_EQ(h.FIndex->Add_Index(h.Entry(IntRow(i, i))), 0);
  EXPECT_EQ(tree.GetHeight(), 1);
  EXPECT_EQ(tree.GetPageCount(), 2);
  ASSERT_EQ(h.FIndex->Add_Index(h.Entry(IntRow(21, 21))), 0);
  EXPECT_EQ(tree.GetHeight(), 2);
  EXPECT_EQ(tree.GetPageCount(), 4);
  h.FIndex->Flush();
  std::vector<std::uint8_t> bytes = h.FileBytes();
  const std::uint8_t* root = bytes.data() + 256;
  EXPECT_EQ(vuGetU16(root + 4), 1) << "the root on page 1 holds the middle item";
  EXPECT_NE(vuGetU32(root + 0), 0u);
  EXPECT_NE(vuGetU32(root + 6), 0u);
  EXPECT_EQ(vuGetU32(root + 10), 11u) << "entry 11 moved up (record number)";
  for (int i = 22; i <= 600; ++i) ASSERT_EQ(h.FIndex->Add_Index(h.Entry(IntRow(i, i))), 0);
  EXPECT_EQ(tree.GetHeight(), 3);
  const std::int64_t pages = tree.GetPageCount();
  for (int i = 600; i >= 6; --i) ASSERT_EQ(h.FIndex->Loesche_Index(h.Entry(IntRow(i, i))), 0);
  EXPECT_EQ(tree.GetHeight(), 1) << "merges bring the content back into page 1";
  EXPECT_NE(tree.GetFreeHead(), 0);
  EXPECT_TRUE(tree.Check().Ok());
  for (int i = 6; i <= 600; ++i) ASSERT_EQ(h.FIndex->Add_Index(h.Entry(IntRow(i, i))), 0);
  EXPECT_LE(tree.GetPageCount(), pages) << "freed pages are used again";
  EXPECT_TRUE(tree.Check().Ok());
}

TEST(BPlusTreeEdges, RootSplitsAndInnerRootGivesWayWhenEmptied) {
  TIndexHarness h(6);
  h.Create(TIndexHarness::Keys(6, true, {Part(Str(20, false))}), 256);
  auto& tree = static_cast<TVdbBPlusTree&>(h.FIndex->Tree());
  EXPECT_EQ(tree.GetRoot(), 0);
  EXPECT_EQ(tree.GetPageCount(), 1);
  std::vector<std::vector<std::uint8_t>> entries;
  for (int i = 0; i < 300; ++i) {
    entries.push_back(h.Entry(StrRow(i + 1, "k" + std::to_string(1000 + i))));
    ASSERT_EQ(h.FIndex->Add_Index(entries.back()), 0);
    if (i == 0) {
      EXPECT_EQ(tree.GetHeight(), 1);
    }
  }
  EXPECT_GE(tree.GetHeight(), 3);
  EXPECT_TRUE(tree.Check().Ok());
  for (const auto& e : entries) ASSERT_EQ(h.FIndex->Loesche_Index(e), 0);
  EXPECT_EQ(tree.GetHeight(), 0);
  EXPECT_EQ(tree.GetRoot(), 0);
  EXPECT_TRUE(tree.Check().Ok());
}

struct TKindCase {
  const char* Name;
  bool Var;
};
const TKindCase kKinds[] = {{"classic", false}, {"bplus", true}};

class IndexKinds : public ::testing::TestWithParam<TKindCase> {
 protected:
  TVdbKeyDesc Keys() const { return TIndexHarness::Keys(6, GetParam().Var, {Part(Str(12, true))}); }
};

TEST_P(IndexKinds, SearchBeforeAllAfterAllAndOnAnEmptyIndex) {
  TIndexHarness h(6);
  h.Create(Keys(), 256);
  std::vector<std::uint8_t> e = h.Entry(StrRow(0, "m"));
  EXPECT_EQ(h.FIndex->Suche_Index(e), 1);
  EXPECT_EQ(h.FIndex->Erster_Index(e), 1);
  EXPECT_EQ(h.FIndex->Letzter_Index(e), 1);
  EXPECT_EQ(h.FIndex->Naechster_Index(e), 1);
  EXPECT_EQ(h.FIndex->Vorheriger_Index(e), 1);
  EXPECT_EQ(h.FIndex->CalcItemSequenceNo(e), 1);
  for (int i = 0; i < 200; ++i) h.FIndex->Add_Index(h.Entry(StrRow(i + 1, "k" + std::to_string(100 + i))));
  const auto first = h.Entry(StrRow(1, "k100")), last = h.Entry(StrRow(200, "k299"));
  std::vector<std::uint8_t> before = h.Entry(StrRow(0, "a"));
  ASSERT_EQ(h.FIndex->Suche_Index(before), 0);
  EXPECT_EQ(before, first);
  std::vector<std::uint8_t> nullKey = h.Entry(StrRow(0, "", true));
  ASSERT_EQ(h.FIndex->Suche_Index(nullKey), 0) << "null sorts before every value";
  EXPECT_EQ(nullKey, first);
  std::vector<std::uint8_t> after = h.Entry(StrRow(0, "z"));
  EXPECT_EQ(h.FIndex->Suche_Index(after), 1);
  EXPECT_EQ(h.FIndex->CalcItemSequenceNo(after), 201);
  std::vector<std::uint8_t> step = first;
  EXPECT_EQ(h.FIndex->Vorheriger_Index(step), 1);
  step = last;
  EXPECT_EQ(h.FIndex->Naechster_Index(step), 1);
  // Record number 0 finds the first of equal keys, the largest one steps past them all.
  std::vector<std::uint8_t> exact = h.Entry(StrRow(0, "k150"));
  ASSERT_EQ(h.FIndex->Suche_Index(exact), 0);
  EXPECT_EQ(VdbEntryRecNo(exact), 51);
  std::vector<std::uint8_t> past = h.Entry(StrRow(INT32_MAX, "k150"));
  ASSERT_EQ(h.FIndex->Suche_Index(past), 0);
  EXPECT_EQ(VdbEntryRecNo(past), 52);
}

// Freed pages must be taken again before the file grows: delete and insert churn keeps the
// file at its size.
TEST_P(IndexKinds, ChurnReusesFreedPages) {
  TIndexHarness h(6);
  h.Create(Keys(), 256);
  std::mt19937 rng(7);
  std::vector<std::vector<std::uint8_t>> live;
  std::int32_t recNo = 1;
  auto add = [&](int n) {
    for (int i = 0; i < n; ++i) {
      live.push_back(h.Entry(StrRow(recNo++, "v" + std::to_string(rng() % 5000))));
      ASSERT_EQ(h.FIndex->Add_Index(live.back()), 0);
    }
  };
  auto removeHalf = [&] {
    std::shuffle(live.begin(), live.end(), rng);
    for (std::size_t i = 0; i < live.size() / 2; ++i) ASSERT_EQ(h.FIndex->Loesche_Index(live[i]), 0);
    live.erase(live.begin(), live.begin() + static_cast<std::ptrdiff_t>(live.size() / 2));
  };
  add(1200);
  removeHalf();
  add(600);
  const std::int64_t baseline = h.FIndex->Tree().GetPageCount();
  for (int round = 0; round < 12; ++round) {
    removeHalf();
    add(600);
  }
  EXPECT_LE(h.FIndex->Tree().GetPageCount(), baseline + baseline / 5);
  EXPECT_TRUE(h.FIndex->Tree().Check().Ok());
  // One more split after deletes takes its page from the free list.
  removeHalf();
  const std::int64_t before = h.FIndex->Tree().GetPageCount();
  add(40);
  EXPECT_LE(h.FIndex->Tree().GetPageCount(), before);
}

// A child page number that points back up the tree, outside the file or nowhere stops the
// descent with the damaged-index error instead of looping or reading outside the file.
TEST_P(IndexKinds, CorruptChildPageNumberRaisesTheDamagedIndexError) {
  const std::uint32_t badChildren[] = {0, 1, 5000, 0x7FFFFFFF, 0xFFFFFFFF};
  for (std::uint32_t bad : badChildren) {
    SCOPED_TRACE(::testing::Message() << "child " << bad);
    TIndexHarness h(6);
    h.Create(Keys(), 256);
    for (int i = 0; i < 300; ++i) h.FIndex->Add_Index(h.Entry(StrRow(i + 1, "k" + std::to_string(1000 + i))));
    h.FIndex->Flush();
    std::int64_t rootPage = 1;
    if (GetParam().Var) rootPage = static_cast<TVdbBPlusTree&>(h.FIndex->Tree()).GetRoot();
    h.Release();
    std::vector<std::uint8_t> bytes = h.FileBytes();
    const std::uint32_t value = bad == 1 ? static_cast<std::uint32_t>(rootPage) : bad;
    vuPutU32(bytes.data() + rootPage * 256, value);  // the leftmost child of the root
    h.PutFileBytes(bytes);
    h.FIndex->Open(h.FKeys);
    std::vector<std::uint8_t> e = h.Entry(StrRow(0, "a"));
    EXPECT_EQ(CodeOf([&] { h.FIndex->Suche_Index(e); }), errIndexCorrupt);
    EXPECT_EQ(CodeOf([&] { h.FIndex->Erster_Index(e); }), errIndexCorrupt);
    EXPECT_EQ(CodeOf([&] { h.FIndex->Add_Index(h.Entry(StrRow(999, "a"))); }), errIndexCorrupt);
    EXPECT_EQ(CodeOf([&] { h.FIndex->Loesche_Index(h.Entry(StrRow(1, "k1000"))); }), errIndexCorrupt);
    EXPECT_EQ(CodeOf([&] { h.FIndex->CalcItemSequenceNo(h.Entry(StrRow(1, "k1299"))); }), errIndexCorrupt);
    EXPECT_FALSE(h.FIndex->Tree().Check().Ok());
    EXPECT_FALSE(h.FIndex->Check(300).empty());
  }
}

// A free list that leads to a page in use stops with the damaged-index error instead of
// handing out the page a second time.
TEST_P(IndexKinds, FreeListReachingAPageInUseRaisesTheDamagedIndexError) {
  TIndexHarness h(6);
  h.Create(Keys(), 256);
  for (int i = 0; i < 300; ++i) h.FIndex->Add_Index(h.Entry(StrRow(i + 1, "k" + std::to_string(1000 + i))));
  h.FIndex->Flush();
  const std::int64_t root = GetParam().Var ? static_cast<TVdbBPlusTree&>(h.FIndex->Tree()).GetRoot() : 1;
  h.Release();
  std::vector<std::uint8_t> bytes = h.FileBytes();
  // The free-list head names a page in use: the B+ root, or the classic tree's leftmost leaf
  // (its marker field, the leftmost child, is 0 like that of a free page).
  std::uint32_t inUse = static_cast<std::uint32_t>(root);
  if (!GetParam().Var) {
    while (vuGetU32(bytes.data() + inUse * 256) != 0) inUse = vuGetU32(bytes.data() + inUse * 256);
  }
  vuPutU32(bytes.data() + 6 + (GetParam().Var ? kBpHdrFreeHead : kBtHdrFreeHead), inUse);
  h.PutFileBytes(bytes);
  h.FIndex->Open(h.FKeys);
  std::int16_t code = 0;
  std::size_t added = 0;
  for (int i = 0; i < 400 && code == 0; ++i) {
    code = CodeOf([&] { h.FIndex->Add_Index(h.Entry(StrRow(5000 + i, "k" + std::to_string(1000 + i % 300)))); });
    if (code == 0) ++added;
  }
  EXPECT_EQ(code, errIndexCorrupt) << "a split needed a page and met the damaged free list";
  // The page in use was not handed out: every entry is still there.
  std::vector<std::vector<std::uint8_t>> walked;
  EXPECT_EQ(CodeOf([&] { walked = h.Walk(); }), 0);
  EXPECT_EQ(walked.size(), 300 + added);
}

// Bulk build: progress at 0, every 1000 and at the end; a correct tree; the same content as
// inserting one by one.
TEST_P(IndexKinds, BulkInsertBuildsAValidTreeAndReportsProgress) {
  TIndexHarness h(6);
  h.Create(Keys(), 256);
  std::mt19937 rng(3);
  std::vector<std::vector<std::uint8_t>> entries;
  for (int i = 0; i < 2500; ++i) entries.push_back(h.Entry(StrRow(i + 1, "b" + std::to_string(rng() % 3000))));
  std::vector<std::pair<std::int64_t, std::int64_t>> calls;
  std::size_t next = 0;
  h.FIndex->BulkInsert(
      2500, [&](std::int64_t done, std::int64_t total) { calls.emplace_back(done, total); },
      [&](std::vector<std::uint8_t>& item) {
        if (next == entries.size()) return false;
        item = entries[next++];
        return true;
      });
  const std::vector<std::pair<std::int64_t, std::int64_t>> expected = {{0, 2500}, {1000, 2500}, {2000, 2500}, {2500, 2500}};
  EXPECT_EQ(calls, expected);
  EXPECT_EQ(h.FIndex->GetItemCount(), 2500);
  EXPECT_TRUE(h.FIndex->Tree().Check().Ok());
  EXPECT_TRUE(h.FIndex->Check(2500).empty());
  EXPECT_GE(h.FIndex->Tree().GetHeight(), 3);
  std::sort(entries.begin(), entries.end(),
            [&](const auto& a, const auto& b) { return h.FIndex->Order().Compare(a, b) < 0; });
  EXPECT_EQ(h.Walk(), entries);
  // A bulk insert into a filled index adds one by one.
  std::vector<std::vector<std::uint8_t>> more = {h.Entry(StrRow(5000, "a")), h.Entry(StrRow(5001, "zz"))};
  next = 0;
  h.FIndex->BulkInsert(2, {}, [&](std::vector<std::uint8_t>& item) {
    if (next == more.size()) return false;
    item = more[next++];
    return true;
  });
  EXPECT_EQ(h.FIndex->GetItemCount(), 2502);
  EXPECT_TRUE(h.FIndex->Check(2502).empty());
  // Inserts and deletes keep working on a bulk-built tree.
  for (std::size_t i = 0; i < entries.size(); i += 2) ASSERT_EQ(h.FIndex->Loesche_Index(entries[i]), 0);
  EXPECT_TRUE(h.FIndex->Tree().Check().Ok());
}

TEST_P(IndexKinds, UniqueIndexRefusesDuplicateKeysAndEveryIndexRefusesTheSameEntry) {
  TIndexHarness h(6);
  h.Create(Keys(), 4096, true);
  ASSERT_EQ(h.FIndex->Add_Index(h.Entry(StrRow(1, "Cukor"))), 0);
  EXPECT_EQ(CodeOf([&] { h.FIndex->Add_Index(h.Entry(StrRow(2, "Cukor"))); }), errNotUnique);
  EXPECT_EQ(CodeOf([&] { h.FIndex->Add_Index(h.Entry(StrRow(2, "cukor"))); }), errNotUnique)
      << "the collation ignores case";
  EXPECT_EQ(h.FIndex->GetItemCount(), 1);
  TIndexHarness plain(6);
  plain.Create(Keys(), 4096);
  ASSERT_EQ(plain.FIndex->Add_Index(plain.Entry(StrRow(1, "Cukor"))), 0);
  ASSERT_EQ(plain.FIndex->Add_Index(plain.Entry(StrRow(2, "Cukor"))), 0);
  EXPECT_EQ(CodeOf([&] { plain.FIndex->Add_Index(plain.Entry(StrRow(2, "Cukor"))); }), errIndexInsert);
  std::size_t next = 0;
  TIndexHarness bulk(6);
  bulk.Create(Keys(), 4096, true);
  EXPECT_EQ(CodeOf([&] {
              bulk.FIndex->BulkInsert(2, {}, [&](std::vector<std::uint8_t>& item) {
                if (next == 2) return false;
                item = bulk.Entry(StrRow(static_cast<std::int32_t>(++next), "Cukor"));
                return true;
              });
            }),
            errNotUnique);
}

INSTANTIATE_TEST_SUITE_P(Kinds, IndexKinds, ::testing::ValuesIn(kKinds),
                         [](const auto& info) { return std::string(info.param.Name); });

// ---- header forms

struct TFormCase {
  const char* Name;
  std::int16_t Version;
  bool Var;
  bool Expression;
};

TEST(IndexHeaderForms, EveryFormKeepsItsDefinitionAndEntriesAcrossReopening) {
  const TFormCase cases[] = {{"v3", 3, false, false}, {"v4", 4, false, false},          {"v5", 5, false, false},
                             {"v6", 6, false, false}, {"v6_variable", 6, true, false},  {"v3_expr", 3, false, true},
                             {"v6_expr", 6, false, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TIndexHarness h(c.Version);
    const TVdbDataType* type = c.Var ? Str(10, false, u"", c.Version) : Int(c.Version >= 4, c.Version);
    TVdbKeyDesc keys = TIndexHarness::Keys(c.Version, c.Var, {Part(type, !c.Expression)});
    TVdbIndexDefinition def = TIndexHarness::Definition(keys, true);
    if (c.Expression) {
      keys.Parts[0].Descending = false;
      def.Parts.clear();
      def.IsCalculated = true;
      def.ResultType = static_cast<std::uint8_t>(type->ColumnType());
      def.KeySize = static_cast<std::int16_t>(keys.Parts[0].KeyLength);
      def.Expression = u"ROUND(AREA / 100)";
    }
    h.FKeys = keys;
    h.FIndex->NewStorage(keys, def, 1000, 512);
    for (int i = 0; i < 60; ++i) {
      TRow r = c.Var ? StrRow(i + 1, "s" + std::to_string(i)) : IntRow(i + 1, i);
      ASSERT_EQ(h.FIndex->Add_Index(h.Entry(r)), 0);
    }
    const auto walked = h.Walk();
    h.Reopen();
    EXPECT_EQ(h.FIndex->GetDefinition(), def);
    EXPECT_EQ(h.FIndex->GetVersion(), c.Version);
    EXPECT_EQ(h.FIndex->GetItemCount(), 60);
    EXPECT_EQ(h.FIndex->GetIndSize(), keys.EntrySize());
    EXPECT_EQ(h.FIndex->IsVariableSize(), c.Var);
    EXPECT_EQ(h.Walk(), walked);
    const std::vector<std::uint8_t> bytes = h.FileBytes();
    if (c.Version >= 4) {
      EXPECT_EQ(vuGetU32(bytes.data()), c.Var ? kIdxMagicVariable : kIdxMagicClassic);
      EXPECT_EQ(vuGetU16(bytes.data() + 4), static_cast<std::uint16_t>(c.Version));
      EXPECT_EQ(vuGetU32(bytes.data() + 6 + (c.Var ? kBpHdrPageSize : kBtHdrPageSize)), 512u);
      EXPECT_EQ(vuGetU32(bytes.data() + (c.Var ? 28 : 30)), 60u) << "entry count at the definition";
    } else {
      EXPECT_EQ(vuGetU16(bytes.data()), 512u);
      EXPECT_EQ(vuGetU32(bytes.data() + 14 + kIdxOldDefEntries), 60u);
    }
  }
}

TEST(IndexHeaderForms, PageSizeRules) {
  EXPECT_EQ(TVdbBTree::CalcPageSize(6, 8, 1000), 4096);
  EXPECT_EQ(TVdbBTree::CalcPageSize(6, 3000, 10), 8192) << "two items per page at least";
  EXPECT_EQ(TVdbBTree::CalcPageSize(3, 8, 1000000), 4096);
  EXPECT_EQ(TVdbBTree::CalcPageSize(3, 200, 1000000), 8192) << "16-bit page numbers need larger pages";
  EXPECT_EQ(TVdbBTree::CalcCapacity(3, 4096, 8), 408 * 65535);
  EXPECT_EQ(TVdbBTree::CalcCapacity(6, 4096, 8), 2147483647);
  EXPECT_EQ(TVdbBPlusTree::CalcPageSize(26), 4096);
  EXPECT_EQ(TVdbBPlusTree::CalcPageSize(2000), 8192);
  EXPECT_TRUE(TVdbBPlusTree::PageSizeFits(256, 26));
  EXPECT_FALSE(TVdbBPlusTree::PageSizeFits(256, 60));
  TIndexHarness h(6);
  EXPECT_EQ(CodeOf([&] { h.Create(TIndexHarness::Keys(6, true, {Part(Str(100, false))}), 256); }), errIndexInsert);
  TIndexHarness old(3);
  std::vector<TVdbKeyPart> parts(11, Part(Int(false, 3)));
  EXPECT_EQ(CodeOf([&] { old.Create(TIndexHarness::Keys(3, false, parts), 4096); }), errTooManyIndexLevels);
}

// ---- damaged files

struct TDamage {
  const char* Name;
  bool Var;
  std::int32_t Offset;  // -1: truncate the file to `Value` bytes
  std::uint32_t Value;
  int Width;
};

TEST(IndexCorruption, DamagedHeadersGiveInconsistentDefinition) {
  const TDamage damages[] = {
      {"classic magic", false, 0, 0x12345678, 4},
      {"classic version", false, 4, 99, 2},
      {"classic page size", false, 6 + kBtHdrPageSize, 1000, 4},
      {"classic page size zero", false, 6 + kBtHdrPageSize, 0, 4},
      {"classic entry size", false, 6 + kBtHdrKeySize, 77, 2},
      {"classic order", false, 6 + kBtHdrOrder, 77, 2},
      {"classic height", false, 6 + kBtHdrHeight, 300, 2},
      {"classic page count", false, 6 + kBtHdrPageCount, 0x7FFFFFF0, 4},
      {"classic free head", false, 6 + kBtHdrFreeHead, 9999, 4},
      {"classic part count", false, 30 + kIdxDefPartCount, 999, 2},
      {"classic part type", false, 30 + kIdxDefParts + 4, vctSmallInt, 1},
      {"classic entry size of definition", false, 30 + kIdxDefParts + 5, 77, 2},
      {"classic empty", false, -1, 0, 0},
      {"variable magic", true, 0, 0x00E537AF, 4},
      {"variable version", true, 4, 5, 2},
      {"variable page size", true, 6 + kBpHdrPageSize, 0x10000000, 4},
      {"variable root", true, 6 + kBpHdrRoot, 0x7FFFFFFF, 4},
      {"variable height", true, 6 + kBpHdrHeight, 0, 2},
      {"variable page count", true, 6 + kBpHdrPageCount, 0, 4},
      {"variable free head", true, 6 + kBpHdrFreeHead, 0xFFFFFFFF, 4},
      {"variable expression length", true, 28 + kIdxDefIsExpression, 1, 1},
  };
  for (const auto& d : damages) {
    SCOPED_TRACE(d.Name);
    TIndexHarness h(6);
    h.Create(TIndexHarness::Keys(6, d.Var, {Part(d.Var ? Str(12, true) : Int(true))}), 256);
    for (int i = 0; i < 100; ++i) {
      h.FIndex->Add_Index(h.Entry(d.Var ? StrRow(i + 1, std::to_string(i)) : IntRow(i + 1, i)));
    }
    h.FIndex->Flush();
    h.Release();
    std::vector<std::uint8_t> bytes = h.FileBytes();
    if (d.Offset < 0) {
      bytes.resize(d.Value);
    } else if (d.Width == 1) {
      bytes[static_cast<std::size_t>(d.Offset)] = static_cast<std::uint8_t>(d.Value);
    } else if (d.Width == 2) {
      vuPutU16(bytes.data() + d.Offset, static_cast<std::uint16_t>(d.Value));
    } else {
      vuPutU32(bytes.data() + d.Offset, d.Value);
    }
    h.PutFileBytes(bytes);
    EXPECT_EQ(CodeOf([&] { h.FIndex->Open(h.FKeys); }), errInconsistentIndexDefinition);
    EXPECT_TRUE(h.FIndex->IsLost());
    EXPECT_FALSE(h.FStorage->IsOpen());
  }
}

// A file cut short keeps its header; the missing pages read as zeros, which the trees reject
// on first use.
TEST_P(IndexKinds, TruncatedFilesAreReportedDamaged) {
  for (std::size_t size : {100u, 300u, 700u, 2000u}) {
    SCOPED_TRACE(::testing::Message() << "size " << size);
    TIndexHarness h(6);
    h.Create(Keys(), 256);
    for (int i = 0; i < 100; ++i) h.FIndex->Add_Index(h.Entry(StrRow(i + 1, std::to_string(i))));
    h.FIndex->Flush();
    h.Release();
    std::vector<std::uint8_t> bytes = h.FileBytes();
    bytes.resize(size);
    h.PutFileBytes(bytes);
    const std::int16_t code = CodeOf([&] { h.FIndex->Open(h.FKeys); });
    if (code != 0) {
      EXPECT_EQ(code, errInconsistentIndexDefinition);
      continue;
    }
    EXPECT_FALSE(h.FIndex->Check(100).empty());
  }
}

TEST(IndexCorruption, MissingFileIsReportedAndMarkedLost) {
  TIndexHarness h(6);
  h.FKeys = TIndexHarness::Keys(6, false, {Part(Int(true))});
  EXPECT_EQ(CodeOf([&] { h.FIndex->Open(h.FKeys); }), errFileNotFoundOrDenied);
  EXPECT_TRUE(h.FIndex->IsLost());
  EXPECT_EQ(h.FIndex->Check(0).front().Text, u"Index cannot be found");
}

// Random bytes flipped anywhere in the file: every operation either works or raises an engine
// error; nothing crashes, hangs or trips the sanitizers.
TEST_P(IndexKinds, RandomlyDamagedFilesNeverCrash) {
  TIndexHarness h(6);
  h.Create(Keys(), 256);
  for (int i = 0; i < 250; ++i) h.FIndex->Add_Index(h.Entry(StrRow(i + 1, "k" + std::to_string(i % 97))));
  h.FIndex->Flush();
  h.Release();
  const std::vector<std::uint8_t> pristine = h.FileBytes();
  std::mt19937 rng(11);
  int opened = 0;
  for (int round = 0; round < 100; ++round) {
    std::vector<std::uint8_t> bytes = pristine;
    const int flips = 1 + static_cast<int>(rng() % 4);
    for (int f = 0; f < flips; ++f) bytes[rng() % bytes.size()] ^= static_cast<std::uint8_t>(1 + rng() % 255);
    h.PutFileBytes(bytes);
    try {
      h.FIndex->Open(h.FKeys);
    } catch (const EVdbEngine&) {
      continue;
    }
    ++opened;
    auto guarded = [](const std::function<void()>& fn) {
      try {
        fn();
      } catch (const EVdbEngine&) {
      }
    };
    guarded([&] {
      std::vector<std::uint8_t> e;
      int n = 0;
      for (auto r = h.FIndex->Erster_Index(e); r == 0 && n < 1000; r = h.FIndex->Naechster_Index(e)) ++n;
    });
    guarded([&] {
      std::vector<std::uint8_t> e;
      int n = 0;
      for (auto r = h.FIndex->Letzter_Index(e); r == 0 && n < 1000; r = h.FIndex->Vorheriger_Index(e)) ++n;
    });
    guarded([&] { h.FIndex->Check(250); });
    for (int i = 0; i < 12; ++i) {
      guarded([&] { h.FIndex->Add_Index(h.Entry(StrRow(1000 + i, "n" + std::to_string(i)))); });
      guarded([&] { h.FIndex->Loesche_Index(h.Entry(StrRow(i + 1, "k" + std::to_string(i % 97)))); });
    }
    guarded([&] { h.FIndex->Tree().Check(); });
    h.Release();
  }
  EXPECT_GT(opened, 0);
}

TEST_P(IndexKinds, UndoDropsUnflushedEntriesAndUpdateSeesAnotherWritersEntries) {
  TIndexHarness h(6);
  h.Create(Keys(), 256);
  for (int i = 0; i < 50; ++i) h.FIndex->Add_Index(h.Entry(StrRow(i + 1, "a" + std::to_string(i))));
  h.FIndex->Flush();
  const auto flushed = h.Walk();
  for (int i = 50; i < 400; ++i) h.FIndex->Add_Index(h.Entry(StrRow(i + 1, "a" + std::to_string(i))));
  h.FIndex->Undo();
  EXPECT_EQ(h.FIndex->GetItemCount(), 50);
  EXPECT_EQ(h.Walk(), flushed);
  EXPECT_TRUE(h.FIndex->Tree().Check().Ok());

  // A second table object on the same file.
  TVdbClientStorage otherStorage(h.FPm, nullptr, 2, h.FFs);
  otherStorage.SetName(h.FStorage->Name());
  TVdbIndexFile other(otherStorage, h.FFs, 6);
  other.Open(h.FKeys);
  for (int i = 50; i < 120; ++i) h.FIndex->Add_Index(h.Entry(StrRow(i + 1, "a" + std::to_string(i))));
  h.FIndex->Flush();
  EXPECT_EQ(other.GetItemCount(), 50);
  other.Update();
  EXPECT_EQ(other.GetItemCount(), 120);
  EXPECT_TRUE(other.Check(120).empty());
  other.Close();
}

// ---- collator versions

TEST(IndexCollatorVersions, NamedCollationsAreRecordedBesideTheFile) {
  TIndexHarness h(6);
  h.Create(TIndexHarness::Keys(6, true, {Part(Str(20, false, u"Hungarian"))}), 4096);
  const std::u16string side = h.FIndex->CollatorVersionFileName();
  ASSERT_TRUE(h.FFs.FileExists(side));
  const std::vector<std::uint8_t> text = h.FFs.Contents(side);
  EXPECT_EQ(std::string(text.begin(), text.end()),
            "Hungarian=" + TVdbCollation::Resolve(u"Hungarian").CollatorVersion() + "\n");
  EXPECT_FALSE(h.FIndex->CollatorVersionsChanged());
  const TvuFileHandle f = h.FFs.CreateFile(side);
  h.FFs.FileWrite(f, 0, "Hungarian=0.0\n", 14);
  h.FFs.CloseFile(f);
  EXPECT_TRUE(h.FIndex->CollatorVersionsChanged()) << "another library version ordered the file";
  h.FIndex->RecordCollatorVersions();
  EXPECT_FALSE(h.FIndex->CollatorVersionsChanged());
  h.FFs.DeleteFile(side);
  EXPECT_TRUE(h.FIndex->CollatorVersionsChanged()) << "an unknown version means rebuild";

  TIndexHarness builtIn(6, u"b.vdbx");
  builtIn.Create(TIndexHarness::Keys(6, true, {Part(Str(20, false, u""))}), 4096);
  EXPECT_FALSE(builtIn.FFs.FileExists(builtIn.FIndex->CollatorVersionFileName()));
  EXPECT_FALSE(builtIn.FIndex->CollatorVersionsChanged());
}

}  // namespace
}  // namespace vdb::test
