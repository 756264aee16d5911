#include "session/VdbAccessPath.h"

#include <algorithm>
#include <cstdlib>

#include "base/VdbErrorCodes.h"
#include "session/VdbAccessorInternal.h"
#include "storage/VdbTreeBase.h"
#include "tables/VdbBaseTable.h"

namespace vdb {

using namespace accessor;

// ---- natural order: record numbers, bounded by the record numbers of the range's entries

class TVdbNaturalPath final : public IVdbAccessPath {
 public:
  bool First(TVdbAccessor& a) const override {
    const std::int32_t count = a.FRelation.GetRecordCount();
    if (count == 0) return false;
    const std::int32_t rec =
        TVdbAccessor::BoundActive(a.FLower) ? VdbEntryRecNo(a.FLower) : a.FRelation.GetFirstRecordNo();
    if (rec < 1 || rec > count || !a.NaturalInRange(rec)) return false;
    a.SetPosition(rec);
    return true;
  }

  bool Last(TVdbAccessor& a) const override {
    if (a.FRelation.GetRecordCount() == 0) return false;
    std::int32_t rec = a.FRelation.GetLastRecordNo();
    if (TVdbAccessor::BoundActive(a.FUpper)) rec = std::min(rec, VdbEntryRecNo(a.FUpper));
    if (rec < 1 || !a.NaturalInRange(rec)) return false;
    a.SetPosition(rec);
    return true;
  }

  bool Step(TVdbAccessor& a, bool forward) const override {
    const std::int32_t rec =
        forward ? a.FRelation.GetNextRecordNo(a.FRecordNo) : a.FRelation.GetPrevRecordNo(a.FRecordNo);
    if (rec < 1 || (forward && rec > a.FRelation.GetRecordCount()) || !a.NaturalInRange(rec)) return false;
    a.SetPosition(rec);
    return true;
  }

  std::int32_t GotoSequenceNo(TVdbAccessor& a, std::int32_t sequenceNo) const override {
    const std::int32_t count = Count(a);
    if (sequenceNo < 1 || sequenceNo > count) return kNoRecord;
    const std::int32_t lowest = a.NaturalLowest();
    const std::int32_t rec = a.FReverse ? lowest + count - sequenceNo : lowest + sequenceNo - 1;
    a.SetPosition(rec);
    a.FSequenceNo = sequenceNo;
    return rec;
  }

  bool HoldsCurrent(TVdbAccessor& a) const override { return a.NaturalInRange(a.FRecordNo); }

  std::int32_t ForwardSequenceNo(TVdbAccessor& a) const override {
    return a.NaturalInRange(a.FRecordNo) ? a.FRecordNo - a.NaturalLowest() + 1 : -2;
  }

  std::int32_t Count(TVdbAccessor& a) const override {
    std::int32_t hi = a.FRelation.GetRecordCount();
    if (TVdbAccessor::BoundActive(a.FUpper)) hi = std::min(hi, VdbEntryRecNo(a.FUpper));
    return std::max(hi - a.NaturalLowest() + 1, 0);
  }

  void AfterCurrentDeleted(TVdbAccessor& a, std::int32_t deleted, std::int32_t) const override {
    const std::int32_t count = a.FRelation.GetRecordCount();
    if (count <= 0) {
      a.ToBoT();
    } else {
      a.SetPosition(std::min(deleted, count));
      a.FSequenceNo = -1;
    }
  }
};

// ---- bookmark order: the slots of the accessor's bookmark list

class TVdbBookmarkPath final : public IVdbAccessPath {
 public:
  bool First(TVdbAccessor& a) const override {
    if (a.FRelation.GetRecordCount() == 0) return false;
    return PlaceOnSlot(a, a.FBookmarks.FindFirst());
  }

  bool Last(TVdbAccessor& a) const override {
    if (a.FRelation.GetRecordCount() == 0) return false;
    return PlaceOnSlot(a, a.FBookmarks.FindLast());
  }

  bool Step(TVdbAccessor& a, bool forward) const override {
    TVdbBookmarkList& list = a.FBookmarks;
    std::int32_t slot = a.FBookmarkSlot;
    if (slot < 0 || slot >= list.Size() || list.At(slot) != a.FRecordNo) slot = list.Find(a.FRecordNo);
    if (slot < 0) {
      slot = forward ? list.FindFirst() : list.FindLast();
    } else {
      slot = forward ? list.FindNext(slot) : list.FindPrev(slot);
    }
    return PlaceOnSlot(a, slot);
  }

  std::int32_t GotoSequenceNo(TVdbAccessor& a, std::int32_t sequenceNo) const override {
    const std::int32_t count = a.FBookmarks.Count();
    if (sequenceNo < 1 || sequenceNo > count) return kNoRecord;
    PlaceOnSlot(a, a.FBookmarks.SlotOfSequence(a.FReverse ? count - sequenceNo : sequenceNo - 1));
    a.FSequenceNo = sequenceNo;
    return a.FRecordNo;
  }

  bool HoldsCurrent(TVdbAccessor& a) const override { return a.FBookmarks.Find(a.FRecordNo) >= 0; }

  std::int32_t ForwardSequenceNo(TVdbAccessor& a) const override {
    const std::int32_t seq = a.FBookmarks.FindSequence(a.FRecordNo);
    return seq < 0 ? -2 : seq + 1;
  }

  std::int32_t Count(TVdbAccessor& a) const override { return a.FBookmarks.Count(); }

  void AfterCurrentDeleted(TVdbAccessor& a, std::int32_t deleted, std::int32_t moved) const override {
    const std::int32_t slot = a.FBookmarks.Find(deleted);
    std::int32_t to = slot < 0 ? -1 : a.FBookmarks.FindNext(slot);
    if (to < 0 && slot >= 0) to = a.FBookmarks.FindPrev(slot);
    if (to < 0) {
      a.ToBoT();
      return;
    }
    const std::int32_t rec = a.FBookmarks.At(to);
    // The record that moves into the gap keeps its place in the list under its new number.
    a.SetPosition(rec == moved ? deleted : rec);
    a.FSequenceNo = -1;
  }

 private:
  static bool PlaceOnSlot(TVdbAccessor& a, std::int32_t slot) {
    if (slot < 0) return false;
    a.SetPosition(a.FBookmarks.At(slot));
    a.FBookmarkSlot = slot;
    return true;
  }
};

// ---- index order: the entries of one index, bounded by the range's entries

class TVdbIndexPath final : public IVdbAccessPath {
 public:
  bool First(TVdbAccessor& a) const override {
    if (a.FRelation.GetRecordCount() == 0) return false;
    TReadLock lock(a.FRelation);
    std::vector<std::uint8_t> key;
    std::int16_t r;
    if (TVdbAccessor::BoundActive(a.FLower)) {
      key = a.FLower;
      r = a.IndexFile().Suche_Index(key);
    } else {
      r = a.IndexFile().Erster_Index(key);
    }
    if (r != 0 || !a.IndexKeyInRange(key)) return false;
    a.PlaceOnEntry(std::move(key));
    return true;
  }

  bool Last(TVdbAccessor& a) const override {
    if (a.FRelation.GetRecordCount() == 0) return false;
    TReadLock lock(a.FRelation);
    std::vector<std::uint8_t> key;
    std::int16_t r;
    if (TVdbAccessor::BoundActive(a.FUpper)) {
      key = a.FUpper;
      r = a.IndexFile().Suche_Index(key);
      if (r != 0) r = a.IndexFile().Letzter_Index(key);
      if (r == 0 && !a.IndexKeyInRange(key)) r = a.IndexFile().Vorheriger_Index(key);
    } else {
      r = a.IndexFile().Letzter_Index(key);
    }
    if (r != 0 || !a.IndexKeyInRange(key)) return false;
    a.PlaceOnEntry(std::move(key));
    return true;
  }

  bool Step(TVdbAccessor& a, bool forward) const override {
    if (a.FCurrentKey.empty()) a.ComputeCurrentKey();
    TReadLock lock(a.FRelation);
    std::vector<std::uint8_t> key = a.FCurrentKey;
    const int r = forward ? a.IndexFile().Naechster_Index(key) : a.IndexFile().Vorheriger_Index(key);
    if (r != 0 || !a.IndexKeyInRange(key)) return false;
    a.PlaceOnEntry(std::move(key));
    return true;
  }

  std::int32_t GotoSequenceNo(TVdbAccessor& a, std::int32_t sequenceNo) const override {
    TReadLock lock(a.FRelation);
    const std::int32_t count = Count(a);
    if (sequenceNo <= 1) return a.DoFirst() ? a.FRecordNo : kNoRecord;
    if (count >= 0 && sequenceNo >= count) return a.DoLast() ? a.FRecordNo : kNoRecord;
    // The cheapest of three starting points: first, last, or here when known.
    const std::int32_t fromFirst = sequenceNo - 1;
    const std::int32_t fromLast = count >= 0 ? sequenceNo - count : fromFirst + 1;
    std::int32_t steps;
    const std::int32_t here = a.FRecordNo > 0 ? a.SequenceNo() : -2;
    const std::int32_t best = std::min(std::abs(fromFirst), std::abs(fromLast));
    if (here > 0 && std::abs(sequenceNo - here) < best) {
      steps = sequenceNo - here;
    } else if (std::abs(fromFirst) <= std::abs(fromLast)) {
      if (!a.DoFirst()) return kNoRecord;
      steps = fromFirst;
    } else {
      if (!a.DoLast()) return kNoRecord;
      steps = fromLast;
    }
    for (; steps > 0; --steps) {
      if (!a.DoStep(true)) return kNoRecord;
    }
    for (; steps < 0; ++steps) {
      if (!a.DoStep(false)) return kNoRecord;
    }
    return a.FRecordNo;
  }

  bool HoldsCurrent(TVdbAccessor& a) const override {
    if (a.FCurrentKey.empty()) a.ComputeCurrentKey();
    return a.IndexKeyInRange(a.FCurrentKey);
  }

  std::int32_t ForwardSequenceNo(TVdbAccessor& a) const override {
    if (a.FCurrentKey.empty()) a.ComputeCurrentKey();
    if (!a.IndexKeyInRange(a.FCurrentKey)) return -2;
    TReadLock lock(a.FRelation);
    const std::int64_t rank = a.IndexFile().CalcItemSequenceNo(a.FCurrentKey);
    const std::int64_t base = TVdbAccessor::BoundActive(a.FLower) ? a.IndexFile().CalcItemSequenceNo(a.FLower) : 1;
    const std::int64_t seq = rank - base + 1;
    return seq > 0 ? static_cast<std::int32_t>(seq) : -2;
  }

  // Counting under a range uses the ranks of the bounds in the tree, so that it is exact and
  // cheap for tables of any size.
  std::int32_t Count(TVdbAccessor& a) const override {
    TReadLock lock(a.FRelation);
    TVdbIndexFile& file = a.IndexFile();
    if (!a.HasRange()) return static_cast<std::int32_t>(file.GetItemCount());
    const std::int64_t lo = TVdbAccessor::BoundActive(a.FLower) ? file.CalcItemSequenceNo(a.FLower) : 1;
    const std::int64_t hi =
        TVdbAccessor::BoundActive(a.FUpper) ? file.CalcItemSequenceNo(a.FUpper) : file.GetItemCount() + 1;
    return static_cast<std::int32_t>(std::max<std::int64_t>(hi - lo, 0));
  }

  void AfterCurrentDeleted(TVdbAccessor& a, std::int32_t, std::int32_t) const override {
    TReadLock lock(a.FRelation);
    std::vector<std::uint8_t> key = a.FCurrentKey;
    if (!key.empty() && a.IndexFile().Suche_Index(key) == 0 && a.IndexKeyInRange(key)) {
      a.FCurrentKey = std::move(key);
      a.SetPosition(VdbEntryRecNo(a.FCurrentKey));
      a.FSequenceNo = -1;
    } else if (!a.DoLast()) {
      a.ToBoT();
    }
  }
};

// ---- no order: no records

class TVdbNoPath final : public IVdbAccessPath {
 public:
  bool First(TVdbAccessor&) const override { return false; }
  bool Last(TVdbAccessor&) const override { return false; }
  bool Step(TVdbAccessor&, bool) const override { return false; }
  std::int32_t GotoSequenceNo(TVdbAccessor&, std::int32_t) const override { return kNoRecord; }
  bool HoldsCurrent(TVdbAccessor&) const override { return false; }
  std::int32_t ForwardSequenceNo(TVdbAccessor&) const override { return -2; }
  std::int32_t Count(TVdbAccessor&) const override { return 0; }
  void AfterCurrentDeleted(TVdbAccessor& a, std::int32_t, std::int32_t) const override { a.ToBoT(); }
};

const IVdbAccessPath& VdbAccessPathOf(TVdbAccessType type) noexcept {
  static const TVdbNaturalPath natural;
  static const TVdbBookmarkPath bookmarks;
  static const TVdbIndexPath index;
  static const TVdbNoPath none;
  switch (type) {
    case tatRecordNo: return natural;
    case tatBookmarks: return bookmarks;
    case tatIndex: return index;
    case tatNone: break;
  }
  return none;
}

}  // namespace vdb
