// Accessor walks over the settlement table: natural, TELEP and IRSZ order, forwards and
// backwards (also reversed orders), under ranges, with record counts and sequence numbers
// checked against a model built from the index entries; sequence jumps from every starting
// point; filters (including one that fails), the bookmark list and state saving.
#include <gtest/gtest.h>

#include <numeric>

#include "../support/SettlementWorld.h"
#include "WalkBound.h"
#include "session/VdbAccessor.h"
#include "base/VdbErrorCodes.h"

namespace vdb {
namespace {

using test::TSettlementRow;

class AccessorTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { W = new test::TSettlementWorld(); }
  static void TearDownTestSuite() {
    delete W;
    W = nullptr;
  }
  void SetUp() override {
    ASSERT_EQ(W->Rows.size(), 3155u);
    Telep = W->Table->GetIndexNo(u"TELEP");
    Irsz = W->Table->GetIndexNo(u"IRSZ");
    ASSERT_GE(Telep, 0);
    ASSERT_GE(Irsz, 0);
  }

  // Walks with First/Next (or Last/Prior), checking the cached sequence number and the one
  // computed afresh at every stop.
  static std::vector<std::int32_t> Walk(TVdbAccessor& a, bool backwards, std::int32_t expectedCount) {
    std::vector<std::int32_t> seen;
    testsupport::TWalkBound bound(static_cast<std::size_t>(expectedCount), backwards ? "the walk backwards" : "the walk forwards");
    std::int16_t r = backwards ? a.Last() : a.First();
    while (r == 0 && bound.Step()) {
      if (!seen.empty() && a.RecordNo() == seen.back()) {
        ADD_FAILURE() << "the cursor did not move from record " << a.RecordNo();
        return seen;
      }
      seen.push_back(a.RecordNo());
      const std::int32_t expectedSeq =
          backwards ? expectedCount - static_cast<std::int32_t>(seen.size()) + 1 : static_cast<std::int32_t>(seen.size());
      EXPECT_EQ(a.SequenceNo(), expectedSeq) << "cached, at record " << a.RecordNo();
      if (seen.size() % 97 == 1) {
        // Forget the sequence number and let the accessor compute it from the position.
        const std::int32_t rec = a.RecordNo();
        a.GotoRecord(-1);
        EXPECT_EQ(a.GotoRecord(rec), 0);
        EXPECT_EQ(a.SequenceNo(), expectedSeq) << "computed, at record " << rec;
      }
      r = backwards ? a.Prior() : a.Next();
    }
    if (r == 0) return seen;  // the bound has reported it
    EXPECT_EQ(r, -errRecordNotFound);
    return seen;
  }

  static std::vector<std::int32_t> Reversed(std::vector<std::int32_t> v) {
    std::reverse(v.begin(), v.end());
    return v;
  }

  static inline test::TSettlementWorld* W = nullptr;
  TVdbIndexNo Telep = -1;
  TVdbIndexNo Irsz = -1;
};

struct TOrderCase {
  const char* Name;
  std::u16string Index;  // empty: natural order
  bool Reverse;
};

TEST_F(AccessorTest, WalksEveryOrderBothWaysWithCountsAndSequenceNumbers) {
  const TOrderCase cases[] = {{"natural", u"", false}, {"natural reversed", u"", true}, {"TELEP", u"TELEP", false},
                              {"TELEP reversed", u"TELEP", true}, {"IRSZ", u"IRSZ", false}, {"IRSZ reversed", u"IRSZ", true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TVdbAccessor a(*W->Table, u"walk");
    std::vector<std::int32_t> model;
    if (c.Index.empty()) {
      model.resize(W->Rows.size());
      std::iota(model.begin(), model.end(), 1);
      ASSERT_EQ(a.SetAccess(kVdbNaturalOrder, c.Reverse), 0);
    } else {
      const TVdbIndexNo idx = W->Table->GetIndexNo(c.Index);
      model = W->IndexOrder(idx);
      ASSERT_EQ(a.SetAccess(idx, c.Reverse), 0);
    }
    if (c.Reverse) model = Reversed(model);
    const auto n = static_cast<std::int32_t>(model.size());
    EXPECT_EQ(a.RecordCount(), n);
    EXPECT_EQ(Walk(a, false, n), model);
    EXPECT_EQ(Walk(a, true, n), Reversed(model));
  }
}

TEST_F(AccessorTest, RangesLimitWalksCountsAndSequenceNumbers) {
  struct TRangeCase {
    const char* Name;
    std::u16string Index;
    std::u16string Lower, Upper;
    bool Reverse;
    std::function<bool(const TSettlementRow&)> In;
  };
  const TRangeCase cases[] = {
      {"postal codes 2000-2999", u"IRSZ", u"2000", u"2999", false, [](const TSettlementRow& r) { return r.Irsz >= 2000 && r.Irsz <= 2999; }},
      {"postal codes 2000-2999 reversed", u"IRSZ", u"2000", u"2999", true, [](const TSettlementRow& r) { return r.Irsz >= 2000 && r.Irsz <= 2999; }},
      {"postal codes from 9000", u"IRSZ", u"9000", u"", false, [](const TSettlementRow& r) { return r.Irsz >= 9000; }},
      {"postal codes up to 1100", u"IRSZ", u"", u"1100", false, [](const TSettlementRow& r) { return r.Irsz <= 1100; }},
      {"an empty range", u"IRSZ", u"2999", u"2000", false, [](const TSettlementRow&) { return false; }},
      {"one postal code", u"IRSZ", u"8127", u"8127", false, [](const TSettlementRow& r) { return r.Irsz == 8127; }},
      {"records 100-250", u"", u"100", u"250", false, [](const TSettlementRow& r) { return r.RecNo >= 100 && r.RecNo <= 250; }},
      {"records 100-250 reversed", u"", u"100", u"250", true, [](const TSettlementRow& r) { return r.RecNo >= 100 && r.RecNo <= 250; }},
      {"records from 3100", u"", u"3100", u"", false, [](const TSettlementRow& r) { return r.RecNo >= 3100; }},
      {"records beyond the table", u"", u"4000", u"5000", false, [](const TSettlementRow&) { return false; }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    TVdbAccessor a(*W->Table, u"range");
    const TVdbIndexNo idx = c.Index.empty() ? kVdbNoIndex : W->Table->GetIndexNo(c.Index);
    ASSERT_EQ(a.SetAccess(idx < 0 ? kVdbNaturalOrder : idx, c.Reverse), 0);
    ASSERT_EQ(a.SetRange(idx, c.Lower, c.Upper), 0) << VdbUtf16ToUtf8(W->World.LastError.Msg());
    EXPECT_TRUE(a.HasRange());
    const auto rows = W->Where(c.In);
    std::vector<std::int32_t> model;
    if (idx < 0) {
      for (const auto& r : rows) model.push_back(r.RecNo);
    } else {
      model = W->IndexOrder(idx, rows);
    }
    if (c.Reverse) model = Reversed(model);
    const auto n = static_cast<std::int32_t>(model.size());
    EXPECT_EQ(a.RecordCount(), n);
    EXPECT_EQ(Walk(a, false, n), model);
    EXPECT_EQ(Walk(a, true, n), Reversed(model));
    a.ClearRange();
    EXPECT_FALSE(a.HasRange());
    EXPECT_EQ(a.RecordCount(), 3155);
  }
}

TEST_F(AccessorTest, GotoSequenceNoReachesThePositionFromEveryStart) {
  const auto model = W->IndexOrder(Telep);
  const auto n = static_cast<std::int32_t>(model.size());
  TVdbAccessor a(*W->Table, u"seq");
  ASSERT_EQ(a.SetAccess(Telep, false), 0);
  // From the first, from the last, from a known current position, backwards from it.
  const std::int32_t targets[] = {1, 5, n - 3, n, 60, 62, 58, 1500, 1499, 2, n - 1};
  for (const std::int32_t seq : targets) {
    SCOPED_TRACE(seq);
    EXPECT_EQ(a.GotoSequenceNo(seq), model[static_cast<std::size_t>(seq - 1)]);
    EXPECT_EQ(a.SequenceNo(), seq);
  }
  // At or beyond the count: the last record; below 1: the first.
  EXPECT_EQ(a.GotoSequenceNo(n + 10), model.back());
  EXPECT_EQ(a.GotoSequenceNo(0), model.front());

  // Natural order under a range: the positions count from the range's first record.
  TVdbAccessor b(*W->Table, u"seq");
  ASSERT_EQ(b.SetRange(kVdbNoIndex, u"100", u"199"), 0);
  EXPECT_EQ(b.GotoSequenceNo(1), 100);
  EXPECT_EQ(b.GotoSequenceNo(100), 199);
  EXPECT_EQ(b.GotoSequenceNo(101), -errRecordNotFound);
  EXPECT_EQ(b.GotoSequenceNo(0), -errRecordNotFound);
}

TEST_F(AccessorTest, DirectPositioningAndRevalidation) {
  TVdbAccessor a(*W->Table, u"goto");
  ASSERT_EQ(a.SetAccess(Irsz, false), 0);
  EXPECT_EQ(a.GotoRecord(-2), -errRecordNotFound);
  EXPECT_EQ(a.GotoRecord(3156), -errRecordNotFound);
  EXPECT_EQ(a.GotoRecord(0), -errRecordNotFound) << "0 only while an append is pending";
  EXPECT_EQ(a.GotoRecord(1), 0);
  EXPECT_EQ(a.RecordNo(), 1);
  // Record 1 is Aba, 8127: outside a range of 2000-2999, which GotoRecord does not check.
  ASSERT_EQ(a.SetRange(Irsz, u"2000", u"2999"), 0);
  ASSERT_EQ(a.GotoRecord(1), 0);
  EXPECT_FALSE(a.IsValidRecord());
  // MoveBy(0) moves on to the first valid record after it: none after 8127, so the last.
  const auto inRange = W->IndexOrder(Irsz, W->Where([](const TSettlementRow& r) { return r.Irsz >= 2000 && r.Irsz <= 2999; }));
  EXPECT_EQ(a.MoveBy(0), 0);
  EXPECT_EQ(a.RecordNo(), inRange.back());
  EXPECT_EQ(a.MoveBy(0), 0) << "a valid record stays";
  EXPECT_EQ(a.RecordNo(), inRange.back());
  ASSERT_EQ(a.First(), 0);
  EXPECT_EQ(a.MoveBy(10), 0);
  EXPECT_EQ(a.RecordNo(), inRange[10]);
  EXPECT_EQ(a.MoveBy(-4), 0);
  EXPECT_EQ(a.RecordNo(), inRange[6]);
  EXPECT_EQ(a.MoveBy(-7), -errRecordNotFound);
  EXPECT_EQ(a.RecordNo(), inRange[0]) << "a failed step stays on the last record reached";
  a.ToBoT();
  EXPECT_EQ(a.MoveBy(0), -errRecordNotFound);
  EXPECT_EQ(a.Prior(), -errRecordNotFound);
  EXPECT_EQ(a.Next(), 0) << "Next from BoT is the first record";
  EXPECT_EQ(a.RecordNo(), inRange[0]);
}

// A filter for tests: a predicate over the current record; it can be told to fail on one record.
class TPredicateFilter final : public IVdbAccessorFilter {
 public:
  TPredicateFilter(TVdbBaseTable& table, std::function<bool(std::int64_t irsz)> pred, std::int32_t failOn = 0)
      : FTable(table), FPred(std::move(pred)), FFailOn(failOn) {}
  bool Accepts(TVdbAccessor& a) override {
    if (a.RecordNo() == FFailOn) throw EVdbEngine(errNotSupported, {u"test failure"});
    const auto rec = a.RecordPtrExc();
    std::vector<std::uint8_t> copy(rec.begin(), rec.end());
    return FPred(test::GetInt(FTable, copy, test::cIrsz));
  }

 private:
  TVdbBaseTable& FTable;
  std::function<bool(std::int64_t)> FPred;
  std::int32_t FFailOn;
};

TEST_F(AccessorTest, FiltersSkipRecordsAndCountByWalking) {
  auto pred = [](std::int64_t irsz) { return irsz % 7 == 0; };
  const auto model = W->IndexOrder(Irsz, W->Where([&](const TSettlementRow& r) { return pred(r.Irsz); }));
  TVdbAccessor a(*W->Table, u"filter");
  ASSERT_EQ(a.SetAccess(Irsz, false), 0);
  a.SetFilter(std::make_unique<TPredicateFilter>(*W->Table, pred));
  EXPECT_TRUE(a.IsFiltered());
  EXPECT_EQ(a.RecordCount(), static_cast<std::int32_t>(model.size()));
  std::vector<std::int32_t> seen;
  testsupport::TWalkBound forwards(model.size(), "the filtered walk forwards");
  for (std::int16_t r = a.First(); r == 0 && forwards.Step(); r = a.Next()) seen.push_back(a.RecordNo());
  EXPECT_EQ(seen, model);
  seen.clear();
  testsupport::TWalkBound backwards(model.size(), "the filtered walk backwards");
  for (std::int16_t r = a.Last(); r == 0 && backwards.Step(); r = a.Prior()) seen.push_back(a.RecordNo());
  EXPECT_EQ(seen, Reversed(model));

  // Nothing matches: -19, count 0.
  TVdbAccessor none(*W->Table, u"filter");
  none.SetFilter(std::make_unique<TPredicateFilter>(*W->Table, [](std::int64_t) { return false; }));
  EXPECT_EQ(none.First(), -errRecordNotFound);
  EXPECT_EQ(none.RecordCount(), 0);

  // A failing evaluation ends the move with its code, on the record that raised it.
  TVdbAccessor failing(*W->Table, u"filter");
  failing.SetFilter(std::make_unique<TPredicateFilter>(*W->Table, [](std::int64_t) { return false; }, 17));
  EXPECT_EQ(failing.First(), -errNotSupported);
  EXPECT_EQ(failing.RecordNo(), 17);
  EXPECT_EQ(W->World.LastError.Code(), errNotSupported);
  EXPECT_EQ(failing.RecordCount(), -errNotSupported);
}

TEST_F(AccessorTest, SelectionsFromConditions) {
  auto in = [](std::int64_t lo, std::int64_t hi) { return [=](std::int64_t v) { return v >= lo && v <= hi; }; };
  TVdbAccessor a(*W->Table, u"select");
  TVdbBookmarkList list;
  TPredicateFilter first(*W->Table, in(3000, 3999));
  ASSERT_EQ(a.AppendBookmarks(first, nullptr, list), 0);
  const auto model = W->Where([](const TSettlementRow& r) { return r.Irsz >= 3000 && r.Irsz <= 3999; });
  ASSERT_EQ(list.Count(), static_cast<std::int32_t>(model.size()));
  for (std::size_t i = 0; i < model.size(); ++i) EXPECT_EQ(list.At(static_cast<std::int32_t>(i)), model[i].RecNo);

  TPredicateFilter low(*W->Table, in(3000, 3499));
  ASSERT_EQ(a.IntersectBookmarks(low, list), 0);
  TPredicateFilter some(*W->Table, in(3100, 3199));
  ASSERT_EQ(a.RemoveBookmarks(some, list), 0);
  const auto kept = W->Where([](const TSettlementRow& r) { return r.Irsz >= 3000 && r.Irsz <= 3499 && !(r.Irsz >= 3100 && r.Irsz <= 3199); });
  EXPECT_EQ(list.Count(), static_cast<std::int32_t>(kept.size()));
  for (const auto& r : kept) EXPECT_GE(list.Find(r.RecNo), 0);

  // Only records valid for a reference accessor (here: its range) are appended.
  TVdbAccessor reference(*W->Table, u"ref");
  ASSERT_EQ(reference.SetRange(kVdbNoIndex, u"1", u"1000"), 0);
  TVdbBookmarkList limited;
  ASSERT_EQ(a.AppendBookmarks(first, &reference, limited), 0);
  for (std::int32_t i = limited.FindFirst(); i >= 0; i = limited.FindNext(i)) EXPECT_LE(limited.At(i), 1000);
  // The first record of one accessor that the other accepts.
  TVdbAccessor byCode(*W->Table, u"byCode");
  ASSERT_EQ(byCode.SetRange(Irsz, u"3000", u"3999"), 0);
  EXPECT_TRUE(reference.FindFirstCommonRecord(byCode, true));
  EXPECT_LE(reference.RecordNo(), 1000);
  EXPECT_GE(reference.RecordNo(), 1);
}

TEST_F(AccessorTest, BookmarkOrderWalksTheListAndSkipsHoles) {
  TVdbAccessor a(*W->Table, u"marks");
  TVdbBookmarkList list;
  for (const std::int32_t r : {500, 3, 3155, 42, 7}) list.Append(r);
  list.Delete(42);
  a.SetBookmarks(list);
  ASSERT_EQ(a.SetAccess(kVdbBookmarkOrder, false), 0);
  EXPECT_EQ(a.RecordNo(), 500) << "not in the list: the first bookmark";
  EXPECT_EQ(a.RecordCount(), 4);
  std::vector<std::int32_t> seen;
  testsupport::TWalkBound bound(4, "the walk over the bookmarks");
  for (std::int16_t r = a.First(); r == 0 && bound.Step(); r = a.Next()) {
    seen.push_back(a.RecordNo());
    EXPECT_EQ(a.SequenceNo(), static_cast<std::int32_t>(seen.size()));
  }
  EXPECT_EQ(seen, (std::vector<std::int32_t>{500, 3, 3155, 7}));
  EXPECT_EQ(a.GotoSequenceNo(3), 3155);
  EXPECT_EQ(a.GotoSequenceNo(5), -errRecordNotFound);
  ASSERT_EQ(a.GotoRecord(42), 0);
  EXPECT_FALSE(a.IsValidRecord()) << "a record not in the list";
  EXPECT_EQ(a.SequenceNo(), -2);

  TVdbAccessor empty(*W->Table, u"marks");
  ASSERT_EQ(empty.SetAccess(kVdbBookmarkOrder, false), 0);
  EXPECT_EQ(empty.RecordNo(), -1);
  EXPECT_EQ(empty.First(), -errRecordNotFound);
}

TEST_F(AccessorTest, PushAndPopRestoreOrderRangeAndPosition) {
  TVdbAccessor a(*W->Table, u"state");
  ASSERT_EQ(a.SetRange(Irsz, u"2000", u"2999"), 0);
  ASSERT_EQ(a.First(), 0);
  ASSERT_EQ(a.Next(), 0);
  const std::int32_t rec = a.RecordNo();
  a.Push();
  ASSERT_EQ(a.SetAccess(kVdbNaturalOrder, false), 0);
  ASSERT_EQ(a.Last(), 0);
  EXPECT_FALSE(a.HasRange());
  a.Pop();
  EXPECT_EQ(a.AccessType(), tatIndex);
  EXPECT_EQ(a.CurrentIndexNo(), Irsz);
  EXPECT_TRUE(a.HasRange());
  EXPECT_EQ(a.RecordNo(), rec);
  EXPECT_EQ(a.SequenceNo(), 2);
  ASSERT_EQ(a.Next(), 0);
  EXPECT_EQ(a.SequenceNo(), 3);
}

TEST_F(AccessorTest, TakeOverCopiesOrMovesState) {
  TVdbAccessor source(*W->Table, u"source");
  ASSERT_EQ(source.SetRange(Irsz, u"2000", u"2999"), 0);
  ASSERT_EQ(source.First(), 0);
  ASSERT_EQ(source.Next(), 0);
  source.Bookmarks().Append(7);
  source.BookmarksChanged();

  TVdbAccessor plain(*W->Table, u"plain");
  ASSERT_EQ(plain.SetAccess(Telep, false), 0);
  ASSERT_EQ(plain.TakeOver(source, tomPosition), 0);
  EXPECT_EQ(plain.RecordNo(), source.RecordNo());
  EXPECT_EQ(plain.CurrentIndexNo(), Telep) << "the order stays";
  EXPECT_FALSE(plain.HasRange());
  const auto byName = W->IndexOrder(Telep);
  const auto at = std::find(byName.begin(), byName.end(), source.RecordNo()) - byName.begin();
  EXPECT_EQ(plain.SequenceNo(), at + 1) << "the sequence number of its own order";
  ASSERT_EQ(plain.Next(), 0) << "and walks on in its own order";
  EXPECT_EQ(plain.RecordNo(), byName[static_cast<std::size_t>(at + 1)]);

  TVdbAccessor copy(*W->Table, u"copy");
  ASSERT_EQ(copy.TakeOver(source, tomCopy), 0);
  EXPECT_EQ(copy.CurrentIndexNo(), Irsz);
  EXPECT_TRUE(copy.HasRange());
  EXPECT_EQ(copy.SequenceNo(), 2);
  EXPECT_EQ(copy.Bookmarks().Count(), 1);
  EXPECT_EQ(source.Bookmarks().Count(), 1);

  TVdbAccessor moved(*W->Table, u"moved");
  ASSERT_EQ(moved.TakeOver(source, tomMove), 0);
  EXPECT_EQ(moved.Bookmarks().Count(), 1);
  EXPECT_EQ(source.Bookmarks().Count(), 0);
  ASSERT_EQ(moved.Next(), 0);
  EXPECT_EQ(moved.SequenceNo(), 3);
}

TEST_F(AccessorTest, OrderErrorsAndAppendPosition) {
  TVdbAccessor a(*W->Table, u"errors");
  EXPECT_EQ(a.SetAccess(TVdbSortNo{40}, false), -errIndexNotFound);
  EXPECT_EQ(a.AccessType(), tatRecordNo) << "a refused order leaves the old one";
  ASSERT_EQ(a.GotoRecord(10), 0);
  ASSERT_EQ(a.Append(), 0);
  EXPECT_EQ(a.EditState(), esAppend);
  EXPECT_EQ(a.RecordNo(), 0);
  EXPECT_EQ(a.SequenceNo(), -2);
  EXPECT_EQ(a.GotoRecord(0), 0) << "the pending new record can be reached";
  EXPECT_TRUE(a.IsValidRecord());
  EXPECT_EQ(a.Next(), -errRecordNotFound) << "the new record lies after the last one";
  EXPECT_EQ(a.Prior(), 0);
  EXPECT_EQ(a.RecordNo(), 3155);
  EXPECT_EQ(a.Next(), 0) << "running off the end while appending reaches the new record";
  EXPECT_EQ(a.RecordNo(), 0);
  ASSERT_EQ(a.Cancel(), 0);
  EXPECT_EQ(a.EditState(), esBrowse);
  EXPECT_EQ(a.RecordNo(), 10) << "cancel returns to where the append started";
}

// The reactions to a delete, told directly as the write path will tell them: the record at
// `moved` (the last one) now lives at `deleted`.
TEST_F(AccessorTest, ReactsToDeletesByRenumberingTheMovedRecord) {
  // Bookmark order on the deleted record: the next bookmark, which is the moved record under
  // its new number; the list drops the deleted entry and renumbers the moved one.
  TVdbAccessor a(*W->Table, u"listener");
  TVdbBookmarkList list;
  for (const std::int32_t r : {5, 3155, 9}) list.Append(r);
  a.SetBookmarks(list);
  ASSERT_EQ(a.SetAccess(kVdbBookmarkOrder, false), 0);
  ASSERT_EQ(a.First(), 0);
  std::vector<std::pair<std::int32_t, std::int32_t>> told;
  a.OnRecordDeleted = [&](std::int32_t d, std::int32_t m) { told.emplace_back(d, m); };
  a.RecordDeleted(5, 3155);
  EXPECT_EQ(a.RecordNo(), 5);
  EXPECT_TRUE(a.RecordDeletedUnderCursor());
  EXPECT_EQ(a.Bookmarks().Count(), 2);
  EXPECT_EQ(a.Bookmarks().Find(3155), -1);
  EXPECT_EQ(a.Next(), 0);
  EXPECT_EQ(a.RecordNo(), 9);
  EXPECT_EQ(told, (std::vector<std::pair<std::int32_t, std::int32_t>>{{5, 3155}}));
  // Deleting the last bookmarked record moves to the previous one.
  a.RecordDeleted(9, 0);
  EXPECT_EQ(a.RecordNo(), 5);

  // Another accessor sitting on the moved record follows it to its new number.
  TVdbAccessor b(*W->Table, u"listener");
  ASSERT_EQ(b.GotoRecord(3155), 0);
  b.RecordDeleted(12, 3155);
  EXPECT_EQ(b.RecordNo(), 12);
  EXPECT_FALSE(b.RecordDeletedUnderCursor());

  // An index removed under an accessor: its own index falls back to natural order, a higher
  // number moves down.
  TVdbAccessor c(*W->Table, u"listener");
  ASSERT_EQ(c.SetAccess(Irsz, false), 0);
  bool allowed = true;
  c.CanRemoveIndex(Irsz, allowed);
  EXPECT_FALSE(allowed);
  c.IndexRemoved(static_cast<TVdbIndexNo>(Irsz - 1));
  EXPECT_EQ(c.CurrentIndexNo(), Irsz - 1);
  c.IndexRemoved(static_cast<TVdbIndexNo>(Irsz - 1));
  EXPECT_EQ(c.AccessType(), tatRecordNo);
  // Emptied: BoT and no bookmarks.
  a.RelationEmptied();
  EXPECT_EQ(a.RecordNo(), -1);
  EXPECT_EQ(a.Bookmarks().Count(), 0);
}

TEST(BookmarkListTest, HolesCountsSequencesAndSorting) {
  TVdbBookmarkList l;
  EXPECT_EQ(l.Capacity(), 0);
  for (std::int32_t r = 10; r >= 1; --r) l.Append(r);
  EXPECT_EQ(l.Capacity(), 1024);
  EXPECT_EQ(l.Find(0), -1);
  EXPECT_EQ(l.Find(-3), -1);
  l.Delete(8);
  l.Delete(1);  // the last slot: trailing holes are dropped
  EXPECT_EQ(l.Count(), 8);
  EXPECT_EQ(l.Size(), 9);
  EXPECT_EQ(l.FindSequence(7), 2) << "10, 9, (hole), 7";
  EXPECT_EQ(l.FindSequence(8), -1);
  l.Flip(8);
  l.Flip(10);
  EXPECT_EQ(l.Count(), 8);
  EXPECT_EQ(l.At(l.FindLast()), 8);
  EXPECT_EQ(l.At(l.FindFirst()), 9);
  l.Sort();
  EXPECT_EQ(l.Size(), 8);
  std::vector<std::int32_t> out(8);
  EXPECT_EQ(l.WriteTo(out), 8);
  EXPECT_EQ(out, (std::vector<std::int32_t>{2, 3, 4, 5, 6, 7, 8, 9}));
  for (std::int32_t i = 0; i < 3000; ++i) l.Append((i * 7919) % 5003 + 1);
  l.Sort();
  for (std::int32_t i = 1; i < l.Size(); ++i) ASSERT_LE(l.At(i - 1), l.At(i));
  l.Clear();
  EXPECT_EQ(l.Count(), 0);
  EXPECT_EQ(l.FindFirst(), -1);
}

}  // namespace
}  // namespace vdb
