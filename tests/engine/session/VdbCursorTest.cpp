// Cursor over the settlement table: orders chosen by index name, sort order and access name,
// user ranges from record buffers (also over part of a two-item index), the refusals with
// their status codes, marks with the selection order and its filter slots, filters handed
// over as compiled conditions, filter texts compiled by the engine with their index ranges,
// and the dirty flag.
#include <gtest/gtest.h>

#include "../support/SettlementWorld.h"
#include "WalkBound.h"
#include "session/VdbCursor.h"
#include "base/VdbErrorCodes.h"
#include "base/VdbFormat.h"
#include "sql/VdbCondition.h"
#include "sql/VdbSqlCompiler.h"

namespace vdb {
namespace {

using test::TSettlementRow;

class CursorTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { W = new test::TSettlementWorld(); }
  static void TearDownTestSuite() {
    delete W;
    W = nullptr;
  }
  void SetUp() override {
    ASSERT_EQ(W->Rows.size(), 3155u);
    Cursor = std::make_unique<TVdbCursor>(1, *W->Table, 1, u"cursor", &VdbSqlCompiler());
    ASSERT_EQ(Cursor->Open(), 0);
  }
  void TearDown() override { Cursor.reset(); }

  // First, then Next until the end, which must be reported as "no record". No order shows
  // more than every record of the table.
  std::vector<std::int32_t> WalkAll() {
    std::vector<std::int32_t> seen;
    if (Cursor->First() != 1) return seen;
    testsupport::TWalkBound bound(W->Rows.size(), "the cursor's walk");
    std::int16_t r = 0;
    while (bound.Step()) {
      seen.push_back(Cursor->GetRecordNo());
      if ((r = Cursor->Next()) != 0) break;
    }
    if (r == 0) return seen;  // the bound has reported it
    EXPECT_EQ(r, stsNoRecord);
    return seen;
  }

  static inline test::TSettlementWorld* W = nullptr;
  std::unique_ptr<TVdbCursor> Cursor;
};

TEST_F(CursorTest, OpensInNaturalOrderAndSwitchesByIndexAndAccessName) {
  EXPECT_EQ(Cursor->GetRecordNo(), 1);
  EXPECT_TRUE(Cursor->Sorting().empty());
  EXPECT_EQ(Cursor->GetRecordCount(), 3155);

  ASSERT_EQ(Cursor->SetIndex(u"TELEP"), 0);
  EXPECT_EQ(Cursor->Sorting(), u"TELEP");
  EXPECT_EQ(Cursor->GetRecordNo(), 1) << "the current record stays current";
  EXPECT_EQ(WalkAll(), W->IndexOrder(W->Table->GetIndexNo(u"TELEP")));

  struct TAccessCase {
    std::u16string Name;
    bool SwitchMarks;
    std::int16_t Result;
    TVdbAccessType Type;
  };
  const TAccessCase cases[] = {{u"nummer", false, 0, tatRecordNo},      {u"irsz", false, 0, tatIndex},
                               {u"NUMMER", false, 0, tatRecordNo},      {u"Markierung", false, stsInvalidAccess, tatRecordNo},
                               {u"no such index", false, stsInvalidAccess, tatRecordNo}, {u"Telep", true, 0, tatIndex}};
  for (const auto& c : cases) {
    SCOPED_TRACE(VdbUtf16ToUtf8(c.Name));
    EXPECT_EQ(Cursor->SetAccess(c.Name, c.SwitchMarks), c.Result);
    EXPECT_EQ(Cursor->Accessor().AccessType(), c.Type);
  }
  EXPECT_EQ(Cursor->SetIndex(u"NOSUCH"), stsNoSuchIndex);
  EXPECT_EQ(Cursor->SetIndex(u""), 0);
  EXPECT_EQ(Cursor->Accessor().AccessType(), tatRecordNo);
}

TEST_F(CursorTest, SortOrderFindsTheIndexOrRefuses) {
  ASSERT_EQ(Cursor->SetSortOrder(u"IRSZ"), 0);
  EXPECT_EQ(Cursor->Accessor().CurrentIndexNo(), W->Table->GetIndexNo(u"IRSZ"));
  EXPECT_EQ(Cursor->SetSortOrder(u"NOCOLUMN"), stsInvalidIndexDefinition);
}

TEST_F(CursorTest, MoveResultsAndRecordNumbers) {
  ASSERT_EQ(Cursor->SetIndex(u"IRSZ"), 0);
  const auto order = W->IndexOrder(W->Table->GetIndexNo(u"IRSZ"));
  EXPECT_EQ(Cursor->First(), 1);
  EXPECT_EQ(Cursor->GetRecordNo(), order.front());
  EXPECT_EQ(Cursor->Last(), 1);
  EXPECT_EQ(Cursor->GetRecordNo(), order.back());
  EXPECT_EQ(Cursor->Next(), stsNoRecord);
  EXPECT_EQ(Cursor->MoveBy(-3), 0);
  EXPECT_EQ(Cursor->GetRecordNo(), order[order.size() - 4]);
  EXPECT_EQ(Cursor->SetRecordNo(-2), stsNoRecord);
  EXPECT_EQ(Cursor->SetRecordNo(4000), stsNoRecord);
  EXPECT_EQ(Cursor->GetRecordNo(), order[order.size() - 4]) << "a refused record number keeps the position";
  EXPECT_EQ(Cursor->SetRecordNo(17), 17);
  EXPECT_EQ(Cursor->SetRecordNo(-1), 0);
  EXPECT_EQ(Cursor->GetRecordNo(), -1);
  EXPECT_EQ(Cursor->SetSequenceNo(100), 100);
  EXPECT_EQ(Cursor->GetRecordNo(), order[99]);
  EXPECT_EQ(Cursor->GetSequenceNo(), 100);
}

TEST_F(CursorTest, UserRangeFromRecordBuffers) {
  auto lower = W->EmptyRecord();
  auto upper = W->EmptyRecord();
  test::SetInt(*W->Table, lower, test::cIrsz, 2000);
  test::SetInt(*W->Table, upper, test::cIrsz, 2999);
  EXPECT_EQ(Cursor->SetUserRange(lower, upper, 0, 0), stsInvalidAccess) << "natural order has no user range";

  ASSERT_EQ(Cursor->SetIndex(u"IRSZ"), 0);
  ASSERT_EQ(Cursor->SetUserRange(lower, upper, 0, 0), 0);
  const auto model = W->IndexOrder(W->Table->GetIndexNo(u"IRSZ"),
                                   W->Where([](const TSettlementRow& r) { return r.Irsz >= 2000 && r.Irsz <= 2999; }));
  EXPECT_EQ(Cursor->GetRecordNo(), model.front()) << "setting the range goes to its first record";
  EXPECT_EQ(Cursor->GetRecordCount(), static_cast<std::int32_t>(model.size()));
  EXPECT_EQ(WalkAll(), model);
  // The range survives a refresh that rebuilds the view.
  W->Table->NotifyRelationChanged();
  EXPECT_TRUE(Cursor->DirtyFlag());
  EXPECT_EQ(Cursor->Refresh(false), 1);
  EXPECT_FALSE(Cursor->DirtyFlag());
  EXPECT_EQ(Cursor->Refresh(false), 0);
  EXPECT_EQ(Cursor->GetRecordCount(), static_cast<std::int32_t>(model.size()));
  ASSERT_EQ(Cursor->ClearUserRange(), 0);
  EXPECT_EQ(Cursor->GetRecordCount(), 3155);
}

TEST_F(CursorTest, KeySearchAssemblesTheKeyFromARecordImage) {
  const auto baranya = W->Where([](const TSettlementRow& r) { return r.Megye == u"Baranya"; });
  ASSERT_FALSE(baranya.empty());
  const auto order = W->IndexOrder(W->Table->GetIndexNo(u"MEGYE_IRSZ"), baranya);
  auto key = W->EmptyRecord();
  test::SetText(*W->Table, key, test::cMegye, u"Baranya");
  test::SetInt(*W->Table, key, test::cIrsz, 99999);
  // By the county alone the county's first record; by both items the postal code lies beyond
  // the county's, so an exact search finds nothing and keeps the position.
  bool exact = true;
  EXPECT_EQ(Cursor->LocateRecord(u"MEGYE_IRSZ", key, 1, exact), order.front());
  EXPECT_TRUE(exact);
  EXPECT_EQ(Cursor->GetRecordNo(), order.front());
  exact = true;
  EXPECT_EQ(Cursor->LocateRecord(u"MEGYE_IRSZ", key, 0, exact), 0);
  EXPECT_EQ(Cursor->GetRecordNo(), order.front());
  exact = false;
  const std::int32_t next = Cursor->LocateRecord(u"MEGYE_IRSZ", key, 256, exact);
  EXPECT_GT(next, 0) << "the first record of the next county";
  EXPECT_FALSE(exact);
  EXPECT_EQ(Cursor->LocateRecord(u"NOSUCH", key, 0, exact), stsNoSuchIndex);
  EXPECT_EQ(Cursor->LocateRecord(u"MEGYE_IRSZ", std::span(key).first(key.size() - 1), 0, exact), stsBufferTooSmall);
  EXPECT_EQ(Cursor->GetRecordNo(), next) << "a refused search moves nothing";
}

TEST_F(CursorTest, UserRangeOverTheFirstItemOfATwoItemIndex) {
  ASSERT_EQ(Cursor->SetIndex(u"MEGYE_IRSZ"), 0);
  auto lower = W->EmptyRecord();
  auto upper = W->EmptyRecord();
  test::SetText(*W->Table, lower, test::cMegye, u"Baranya");
  test::SetInt(*W->Table, lower, test::cIrsz, 9999);
  test::SetText(*W->Table, upper, test::cMegye, u"Baranya");
  test::SetInt(*W->Table, upper, test::cIrsz, 0);
  const auto baranya = W->Where([](const TSettlementRow& r) { return r.Megye == u"Baranya"; });
  ASSERT_FALSE(baranya.empty());
  // With one item per bound the postal codes in the buffers do not limit.
  ASSERT_EQ(Cursor->SetUserRange(lower, upper, 1, 1), 0);
  EXPECT_EQ(Cursor->GetRecordCount(), static_cast<std::int32_t>(baranya.size()));
  EXPECT_EQ(WalkAll(), W->IndexOrder(W->Table->GetIndexNo(u"MEGYE_IRSZ"), baranya));
  // With both items the lower bound (Baranya, 9999) lies above the upper (Baranya, 0).
  ASSERT_EQ(Cursor->SetUserRange(lower, upper, 0, 0), 0);
  EXPECT_EQ(Cursor->GetRecordCount(), 0);
  EXPECT_EQ(Cursor->First(), stsNoRecord);
}

TEST_F(CursorTest, MarksSelectionOrderAndFilterSlots) {
  EXPECT_EQ(Cursor->AddMark(0), -errRecordNotFound);
  EXPECT_EQ(Cursor->AddMark(3156), -errRecordNotFound);
  EXPECT_EQ(Cursor->GotoMark(1, true), stsNoRecord) << "an empty selection";
  for (const std::int32_t r : {900, 12, 3000}) ASSERT_EQ(Cursor->AddMark(r), 0);
  Cursor->ToggleMark(12);
  Cursor->ToggleMark(44);
  EXPECT_TRUE(Cursor->IsMarked(44));
  EXPECT_FALSE(Cursor->IsMarked(12));
  EXPECT_FALSE(Cursor->IsMarked(0));
  EXPECT_EQ(Cursor->CountMarks(), 3);
  EXPECT_EQ(Cursor->UserFilterKind(), tfkBookmarks);

  // GotoMark walks the cursor's own order (natural here) to the next marked record.
  ASSERT_EQ(Cursor->SetRecordNo(1), 1);
  EXPECT_EQ(Cursor->GotoMark(1, false), 1);
  EXPECT_EQ(Cursor->GetRecordNo(), 44);
  EXPECT_EQ(Cursor->GotoMark(1, false), 1);
  EXPECT_EQ(Cursor->GetRecordNo(), 900);
  EXPECT_EQ(Cursor->GotoMark(-1, true), 1);
  EXPECT_EQ(Cursor->GetRecordNo(), 3000);
  EXPECT_EQ(Cursor->GotoMark(1, false), stsNoRecord);
  EXPECT_EQ(Cursor->GetRecordNo(), 3000) << "no further mark: the position stays";

  // The selection as a filter: walked in its own order; deactivating and activating again
  // restores it.
  const std::vector<std::int32_t> selection = {900, 3000, 44};
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    ASSERT_EQ(Cursor->ActivateFilter(), 0);
    EXPECT_EQ(Cursor->ActiveFilterKind(), tfkBookmarks);
    EXPECT_EQ(Cursor->GetRecordCount(), 3);
    EXPECT_EQ(WalkAll(), selection);
    ASSERT_EQ(Cursor->DeactivateFilter(), 0);
    EXPECT_EQ(Cursor->ActiveFilterKind(), tfkNone);
    EXPECT_EQ(Cursor->GetRecordCount(), 3155);
    EXPECT_EQ(Cursor->CountMarks(), 3);
  }

  // "Markierung" with switching moves the selection into the view and back out.
  ASSERT_EQ(Cursor->SetAccess(u"Markierung", true), 0);
  EXPECT_EQ(Cursor->Accessor().AccessType(), tatBookmarks);
  EXPECT_EQ(Cursor->CountMarks(), 0);
  EXPECT_EQ(WalkAll(), selection);
  ASSERT_EQ(Cursor->SetAccess(u"IRSZ", true), 0);
  EXPECT_EQ(Cursor->CountMarks(), 3);
  std::vector<std::int32_t> slots(8, -7);
  const std::int32_t used = Cursor->GetMarks(slots);
  ASSERT_GE(used, 3);
  std::vector<std::int32_t> live;
  for (std::int32_t i = 0; i < used; ++i) {
    if (slots[static_cast<std::size_t>(i)] > 0) live.push_back(slots[static_cast<std::size_t>(i)]);
  }
  EXPECT_EQ(live, selection);
}

class TPostalFilter final : public IVdbAccessorFilter {
 public:
  TPostalFilter(TVdbBaseTable& t, std::int64_t from, std::int64_t to) : FTable(t), FFrom(from), FTo(to) {}
  bool Accepts(TVdbAccessor& a) override {
    const auto rec = a.RecordPtrExc();
    std::vector<std::uint8_t> copy(rec.begin(), rec.end());
    const std::int64_t v = test::GetInt(FTable, copy, test::cIrsz);
    return v >= FFrom && v <= FTo;
  }

 private:
  TVdbBaseTable& FTable;
  std::int64_t FFrom, FTo;
};

TEST_F(CursorTest, IncrementalAndStaticFiltersInTheirSlots) {
  ASSERT_EQ(Cursor->SetIndex(u"IRSZ"), 0);
  const auto model = W->IndexOrder(W->Table->GetIndexNo(u"IRSZ"),
                                   W->Where([](const TSettlementRow& r) { return r.Irsz >= 7000 && r.Irsz <= 7199; }));
  struct TFilterCase {
    const char* Name;
    std::uint16_t Mode;
    TVdbFilterKind Kind;
  };
  for (const TFilterCase& c : {TFilterCase{"incremental", kVdbFilterIncremental, tfkIncremental},
                               TFilterCase{"static", kVdbFilterStatic, tfkStatic}}) {
    SCOPED_TRACE(c.Name);
    // Pending first: nothing changes until it is activated.
    ASSERT_EQ(Cursor->SetUserFilter(std::make_unique<TPostalFilter>(*W->Table, 7000, 7199), c.Mode, true), 0);
    EXPECT_EQ(Cursor->UserFilterKind(), c.Kind);
    EXPECT_EQ(Cursor->GetRecordCount(), 3155);
    ASSERT_EQ(Cursor->ActivateFilter(), 0);
    EXPECT_EQ(Cursor->ActiveFilterKind(), c.Kind);
    EXPECT_EQ(Cursor->UserFilterKind(), tfkNone);
    EXPECT_EQ(Cursor->GetRecordCount(), static_cast<std::int32_t>(model.size()));
    EXPECT_EQ(WalkAll(), model) << "a static filter's list is sorted by the cursor's index";
    ASSERT_EQ(Cursor->DeactivateFilter(), 0);
    EXPECT_EQ(Cursor->GetRecordCount(), 3155);
    ASSERT_EQ(Cursor->ActivateFilter(), 0);
    EXPECT_EQ(WalkAll(), model) << "activating again restores the same filter";
    ASSERT_EQ(Cursor->DeactivateFilter(), 0);
  }

  // Selection edits: add 7000-7199, keep only 7100-7999, remove 7150-7160.
  Cursor->ClearMarks();
  ASSERT_EQ(Cursor->SetUserFilter(std::make_unique<TPostalFilter>(*W->Table, 7000, 7199), kVdbFilterAddToMarks, false), 0);
  ASSERT_EQ(Cursor->SetUserFilter(std::make_unique<TPostalFilter>(*W->Table, 7100, 7999), kVdbFilterIntersectMarks, false), 0);
  ASSERT_EQ(Cursor->SetUserFilter(std::make_unique<TPostalFilter>(*W->Table, 7150, 7160), kVdbFilterRemoveFromMarks, false), 0);
  const auto kept = W->Where([](const TSettlementRow& r) { return r.Irsz >= 7100 && r.Irsz <= 7199 && !(r.Irsz >= 7150 && r.Irsz <= 7160); });
  EXPECT_EQ(Cursor->CountMarks(), static_cast<std::int32_t>(kept.size()));
  for (const auto& r : kept) EXPECT_TRUE(Cursor->IsMarked(r.RecNo)) << r.RecNo;
}

TEST_F(CursorTest, FilterTextsAreCompiledAgainstTheTableColumns) {
  // A faulty text is refused with the parser's message and leaves the view alone.
  EXPECT_EQ(Cursor->SetUserSqlFilter(u"IRSZ > 2000 Xor TELEP = 'x'", 1, kVdbFilterIncremental, false), -errSyntaxError);
  EXPECT_EQ(W->World.LastError.Code(), errSyntaxError);
  EXPECT_EQ(W->World.LastError.Msg(), u"\"<end of statement>\" expected but \"Xor\" found");
  EXPECT_EQ(Cursor->ActiveFilterKind(), tfkNone);
  EXPECT_EQ(Cursor->GetRecordCount(), 3155);
  EXPECT_EQ(Cursor->SetUserSqlFilter(u"NOPE = 1", 1, kVdbFilterIncremental, false), -errUnknownIdentifier);

  const auto expected = W->Where([](const TSettlementRow& r) { return r.Irsz > 2000 && r.Megye == u"Pest"; });
  ASSERT_FALSE(expected.empty());
  std::vector<std::int32_t> want;
  for (const auto& r : expected) want.push_back(r.RecNo);
  // Incremental: the accessor tests every record it passes; a table below 10000 records is
  // counted by walking it.
  ASSERT_EQ(Cursor->SetUserSqlFilter(u"IRSZ > '2000' AND MEGYE = 'Pest'", 1, kVdbFilterIncremental | 0x60, false), 0);
  EXPECT_EQ(Cursor->ActiveFilterKind(), tfkIncremental);
  EXPECT_EQ(WalkAll(), want);
  EXPECT_EQ(Cursor->GetRecordCount(), static_cast<std::int32_t>(want.size()));
  // Static, given in the background and then activated: the matches become the view, counted.
  ASSERT_EQ(Cursor->SetUserSqlFilter(u"", 1, kVdbFilterIncremental, false), 0);
  ASSERT_EQ(Cursor->SetUserSqlFilter(u"MEGYE = 'Pest' AND IRSZ > 2000", 1, kVdbFilterStatic | 0x60, true), 0);
  EXPECT_EQ(Cursor->GetRecordCount(), 3155) << "pending until activated";
  ASSERT_EQ(Cursor->ActivateFilter(), 0);
  EXPECT_EQ(Cursor->ActiveFilterKind(), tfkStatic);
  EXPECT_EQ(Cursor->GetRecordCount(), static_cast<std::int32_t>(want.size()));
  EXPECT_EQ(WalkAll(), want);
  // In an index order the static view follows the index; the condition's own index range
  // (MEGYE_IRSZ) serves the natural order, the TELEP order walks its index.
  ASSERT_EQ(Cursor->SetIndex(u"TELEP"), 0);
  std::vector<std::int32_t> byName;
  for (std::int32_t rec : W->IndexOrder(W->Table->GetIndexNo(u"TELEP")))
    if (std::find(want.begin(), want.end(), rec) != want.end()) byName.push_back(rec);
  EXPECT_EQ(WalkAll(), byName);
  ASSERT_EQ(Cursor->DeactivateFilter(), 0);
  EXPECT_EQ(Cursor->GetRecordCount(), 3155);
  ASSERT_EQ(Cursor->ActivateFilter(), 0);
  EXPECT_EQ(Cursor->GetRecordCount(), static_cast<std::int32_t>(want.size())) << "activating again restores it";

  // An empty text on a numeric column is null: no record passes, and nothing fails.
  ASSERT_EQ(Cursor->SetUserSqlFilter(u"IRSZ = ''", 1, kVdbFilterStatic | 0x60, false), 0);
  EXPECT_EQ(Cursor->GetRecordCount(), 0);
  EXPECT_EQ(Cursor->First(), stsNoRecord);
}

TEST_F(CursorTest, ConditionsRateAnIndexAndItsKeyRange) {
  const TVdbRelation& rel = *W->Table;
  struct TCase {
    const char16_t* Text;
    const char16_t* Index;  // null: none
  };
  const TCase cases[] = {
      {u"MEGYE = 'Pest' AND IRSZ > 2000", u"MEGYE_IRSZ"},
      {u"IRSZ BETWEEN 2000 AND 2100", u"IRSZ"},
      {u"2000 <= IRSZ", u"IRSZ"},
      {u"TELEP = 'Pécs'", u"TELEP"},
      {u"MEGYE = 'Pest' OR IRSZ > 2000", nullptr},
      {u"NEPESS > 1000", nullptr},
      {u"NOT IRSZ = 2000", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(VdbUtf16ToUtf8(c.Text));
    TVdbConditionFilter f(rel, c.Text, tesVidoraSQL, 0, TvuFormats::Invariant());
    std::vector<std::uint8_t> lower, upper;
    const TVdbIndexNo idx = f.BestIndexAndBounds(*W->Table, lower, upper);
    if (!c.Index) {
      EXPECT_EQ(idx, kVdbNoIndex);
      continue;
    }
    ASSERT_EQ(idx, W->Table->GetIndexNo(c.Index));
    // The range holds exactly the records the condition accepts, plus perhaps others it rejects.
    TVdbAccessor a(*W->Table, u"range");
    ASSERT_EQ(a.SetAccess(idx), 0);
    ASSERT_EQ(a.SetRange(idx, lower, upper), 0);
    std::int32_t inRange = 0, accepted = 0;
    for (std::int16_t r = a.First(); r == 0; r = a.Next()) {
      ++inRange;
      accepted += f.Accepts(a) ? 1 : 0;
    }
    TVdbAccessor all(*W->Table, u"all");
    std::int32_t total = 0;
    for (std::int16_t r = all.First(); r == 0; r = all.Next()) total += f.Accepts(all) ? 1 : 0;
    EXPECT_EQ(accepted, total);
    EXPECT_GT(total, 0);
    EXPECT_LT(inRange, 3155);
  }
}

}  // namespace
}  // namespace vdb
