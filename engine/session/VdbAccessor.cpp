// The accessor: order, range, filter and bookmarks, the moves over them, positions and counts,
// and its listeners. Record buffers, memo and blob transfer and editing live in
// VdbAccessorEdit.cpp.
#include "session/VdbAccessor.h"

#include <algorithm>
#include <cstdlib>

#include "base/VdbErrorCodes.h"
#include "session/VdbAccessPath.h"
#include "session/VdbAccessorInternal.h"
#include "storage/VdbTreeBase.h"
#include "tables/VdbBaseTable.h"

namespace vdb {

using namespace accessor;

TVdbAccessor::TVdbAccessor(TVdbRelation& relation, std::u16string tag)
    : FRelation(relation),
      FTag(std::move(tag)),
      FCurrentRecBuf(static_cast<std::size_t>(std::max(relation.GetRecordSize(), 0))),
      FWorkRecBuf(FCurrentRecBuf.size()) {
  FRelation.AddAccessor(*this);
}

std::unique_ptr<TVdbAccessor> TVdbAccessor::CreateClone(const TVdbAccessor& source) {
  return std::make_unique<TVdbAccessor>(source.FRelation, source.FTag);
}

TVdbAccessor::~TVdbAccessor() { FRelation.RemoveAccessor(*this); }

// ---- order

bool TVdbAccessor::BoundActive(const std::vector<std::uint8_t>& b) noexcept {
  return b.size() >= 4 && VdbEntryRecNo(b) != 0;
}

std::int32_t TVdbAccessor::IndexInfoSize() const {
  if (FAccessType == tatIndex) return FRelation.GetIndexKeys(FIndexNo).EntrySize();
  return 4;
}

void TVdbAccessor::ResizeKeys() {
  FLower.clear();
  FUpper.clear();
  FCurrentKey.clear();
}

std::int16_t TVdbAccessor::SetAccess(TVdbSortNo accessId, bool reverse) {
  return Guard([&] { SetAccessRaw(accessId, reverse); });
}

std::int16_t TVdbAccessor::SetAccess(TVdbAccessType type, TVdbIndexNo indexNo, bool reverse) {
  if (type == tatRecordNo || indexNo == kVdbNoIndex) return SetAccess(kVdbNaturalOrder, reverse);
  if (type == tatBookmarks || indexNo == 254) return SetAccess(kVdbBookmarkOrder, reverse);
  return SetAccess(static_cast<TVdbSortNo>(indexNo), reverse);
}

void TVdbAccessor::SetAccessRaw(TVdbSortNo accessId, bool reverse) {
  if (accessId == kVdbNaturalOrder) {
    ResizeKeys();
    FAccessType = tatRecordNo;
    FIndexNo = kVdbNoIndex;
    FReverse = reverse;
    FSequenceNo = -1;
    return;
  }
  if (accessId == kVdbBookmarkOrder) {
    ResizeKeys();
    FAccessType = tatBookmarks;
    FIndexNo = kVdbNoIndex;
    FReverse = reverse;
    FSequenceNo = -1;
    FBookmarkSlot = FBookmarks.Find(FRecordNo);
    if (FBookmarkSlot < 0) {
      const std::int32_t slot = reverse ? FBookmarks.FindLast() : FBookmarks.FindFirst();
      if (slot < 0) {
        ToBoT();
      } else {
        SetPosition(FBookmarks.At(slot));
        FBookmarkSlot = slot;
        FSequenceNo = 1;
      }
    }
    return;
  }
  if (accessId < 0 || accessId > FRelation.GetLastIndexNo()) {
    RaiseEngineError(errIndexNotFound, {u"#" + VdbUtf8ToUtf16(std::to_string(accessId))});
  }
  FRelation.CheckIndexOpen(static_cast<TVdbIndexNo>(accessId));
  ResizeKeys();
  FAccessType = tatIndex;
  FIndexNo = static_cast<TVdbIndexNo>(accessId);
  FReverse = reverse;
  FSequenceNo = -1;
  if (FRecordNo > 0) ComputeCurrentKey();
}

TVdbIndexFile& TVdbAccessor::IndexFile() const { return FRelation.GetIndexFile(FIndexNo); }

const IVdbAccessPath& TVdbAccessor::Path() const noexcept { return VdbAccessPathOf(FAccessType); }

void TVdbAccessor::ComputeCurrentKey() {
  FRecBufUpdated = false;
  static_cast<void>(RecordPtrExc());
}

// ---- range

std::int16_t TVdbAccessor::SetRange(TVdbIndexNo indexNo, std::span<const std::uint8_t> lower,
                                    std::span<const std::uint8_t> upper) {
  return Guard([&] {
    const TVdbSortNo target = indexNo < 0 ? kVdbNaturalOrder : indexNo;
    const bool same = indexNo < 0 ? FAccessType == tatRecordNo : (FAccessType == tatIndex && FIndexNo == indexNo);
    if (!same) SetAccessRaw(target, FReverse);
    FLower.assign(lower.begin(), lower.end());
    FUpper.assign(upper.begin(), upper.end());
    FSequenceNo = -1;
  });
}

std::int16_t TVdbAccessor::SetRange(TVdbIndexNo indexNo, std::u16string_view lower, std::u16string_view upper,
                                    char16_t separator) {
  std::vector<std::uint8_t> lo, up;
  if (!lower.empty()) {
    const std::int16_t r = FRelation.CalcRangeInfo(indexNo, lower, separator, true, lo);
    if (r < 0) return r;
  }
  if (!upper.empty()) {
    const std::int16_t r = FRelation.CalcRangeInfo(indexNo, upper, separator, false, up);
    if (r < 0) return r;
  }
  return SetRange(indexNo, lo, up);
}

void TVdbAccessor::GetRange(std::vector<std::uint8_t>& lower, std::vector<std::uint8_t>& upper) const {
  lower = FLower;
  upper = FUpper;
}

void TVdbAccessor::ClearRange() {
  FLower.clear();
  FUpper.clear();
  FSequenceNo = -1;
}

// ---- filter and bookmarks

std::unique_ptr<IVdbAccessorFilter> TVdbAccessor::ExchangeFilter(std::unique_ptr<IVdbAccessorFilter> filter) {
  std::swap(filter, FFilter);
  return filter;
}

void TVdbAccessor::SetBookmarks(const TVdbBookmarkList& list) {
  FBookmarks.CopyFrom(list);
  BookmarksChanged();
}

void TVdbAccessor::ExchangeBookmarks(TVdbBookmarkList& other) {
  std::swap(FBookmarks, other);
  BookmarksChanged();
}

void TVdbAccessor::BookmarksChanged() noexcept {
  FBookmarkSlot = -1;
  if (FAccessType == tatBookmarks) FSequenceNo = -1;
}

// ---- selections

template <class F>
void TVdbAccessor::ForEachMatch(IVdbAccessorFilter& condition, F&& f) {
  TReadLock lock(FRelation);
  TVdbAccessor walker(FRelation, FTag);
  const std::int32_t count = FRelation.GetRecordCount();
  for (std::int32_t rec = FRelation.GetFirstRecordNo(); rec >= 1 && rec <= count; rec = FRelation.GetNextRecordNo(rec)) {
    Check(walker.GotoRecord(rec));
    if (condition.Accepts(walker)) f(rec);
  }
}

std::int16_t TVdbAccessor::AppendBookmarks(IVdbAccessorFilter& condition, TVdbAccessor* reference,
                                           TVdbBookmarkList& list) {
  return Guard([&] {
    ForEachMatch(condition, [&](std::int32_t rec) {
      if (reference == nullptr || reference->IsValidRecord(rec)) list.Append(rec);
    });
  });
}

std::int16_t TVdbAccessor::RemoveBookmarks(IVdbAccessorFilter& condition, TVdbBookmarkList& list) {
  return Guard([&] { ForEachMatch(condition, [&](std::int32_t rec) { list.Delete(rec); }); });
}

std::int16_t TVdbAccessor::IntersectBookmarks(IVdbAccessorFilter& condition, TVdbBookmarkList& list) {
  return Guard([&] {
    TReadLock lock(FRelation);
    TVdbAccessor walker(FRelation, FTag);
    for (std::int32_t i = list.FindLast(); i >= 0; i = list.FindPrev(i)) {
      const std::int32_t rec = list.At(i);
      if (walker.GotoRecord(rec) != 0 || !condition.Accepts(walker)) list.DeleteAt(i);
    }
  });
}

bool TVdbAccessor::FindFirstCommonRecord(TVdbAccessor& other, bool move) {
  for (std::int16_t r = other.First(); r == 0; r = other.Next()) {
    const std::int32_t rec = other.RecordNo();
    if (IsValidRecord(rec)) {
      if (move) static_cast<void>(GotoRecord(rec));
      return true;
    }
  }
  return false;
}

// ---- raw moves

void TVdbAccessor::SetPosition(std::int32_t recNo) noexcept {
  FRecordNo = recNo;
  FRecBufUpdated = false;
  FRecordDeleted = false;
}

std::int32_t TVdbAccessor::NaturalLowest() const noexcept {
  return BoundActive(FLower) ? std::max(VdbEntryRecNo(FLower), 1) : 1;
}

bool TVdbAccessor::NaturalInRange(std::int32_t recNo) const noexcept {
  if (BoundActive(FLower) && recNo < VdbEntryRecNo(FLower)) return false;
  if (BoundActive(FUpper) && recNo > VdbEntryRecNo(FUpper)) return false;
  return true;
}

bool TVdbAccessor::IndexKeyInRange(std::span<const std::uint8_t> key) const {
  if (!HasRange()) return true;
  return FRelation.GetIndexKeys(FIndexNo).TestRange(FLower, FUpper, key) == 0;
}

bool TVdbAccessor::RawFirst() { return Path().First(*this); }

bool TVdbAccessor::RawLast() { return Path().Last(*this); }

void TVdbAccessor::PlaceOnEntry(std::vector<std::uint8_t>&& entry) {
  // An entry naming no record (0 stands for the pending new record) is damage.
  const std::int32_t recNo = VdbEntryRecNo(entry);
  if (recNo < 1 || recNo > FRelation.GetRecordCount()) RaiseEngineError(errIndexCorrupt, {IndexFile().GetName()});
  SetPosition(recNo);
  FCurrentKey = std::move(entry);
  const std::vector<std::uint8_t> fromIndex = FCurrentKey;
  static_cast<void>(RecordPtrExc());
  // Byte for byte: on malformed entries the order need not be consistent, and a walk that
  // trusted it could come back to a record it has passed.
  const TVdbIndexOrder& order = IndexFile().Order();
  const std::size_t used = order.UsedEntrySize(fromIndex);
  if (used != order.UsedEntrySize(FCurrentKey) || used > fromIndex.size() || used > FCurrentKey.size() ||
      !std::equal(fromIndex.begin(), fromIndex.begin() + static_cast<std::ptrdiff_t>(used), FCurrentKey.begin())) {
    RaiseEngineError(errIndexCorrupt, {IndexFile().GetName()});
  }
}

bool TVdbAccessor::RawNext() { return RawStep(true); }

bool TVdbAccessor::RawPrior() { return RawStep(false); }

// One record on in the current order (back for !forward), ignoring the filter.
bool TVdbAccessor::RawStep(bool forward) { return Path().Step(*this, forward); }

// ---- filtered moves

bool TVdbAccessor::Accepted() { return FFilter == nullptr || FFilter->Accepts(*this); }

bool TVdbAccessor::DoFirst() {
  if (!(FReverse ? RawLast() : RawFirst())) return false;
  FSequenceNo = 1;
  while (!Accepted()) {
    if (!(FReverse ? RawPrior() : RawNext())) return false;
    ++FSequenceNo;
  }
  return true;
}

bool TVdbAccessor::DoLast() {
  if (!(FReverse ? RawFirst() : RawLast())) return false;
  FSequenceNo = RawCount();
  while (!Accepted()) {
    if (!(FReverse ? RawNext() : RawPrior())) return false;
    if (FSequenceNo > 0) --FSequenceNo;
  }
  return true;
}

// A step that finds nothing leaves the position where it was, so that the caller stays on
// the last record it showed.
bool TVdbAccessor::DoStep(bool forward) {
  if (FRecordNo < 0) return forward && DoFirst();
  // The pending new record of an append lies after the last record.
  if (FRecordNo == 0) return !forward && DoLast();
  const TVdbAccessorState before = SaveState();
  const bool rawForward = forward != FReverse;
  for (;;) {
    if (!(rawForward ? RawNext() : RawPrior())) {
      RestoreState(before);
      if (forward && FWorkRecordNo == 0) {
        SetPosition(0);
        FSequenceNo = -2;
        return true;
      }
      return false;
    }
    if (FSequenceNo > 0) FSequenceNo += forward ? 1 : -1;
    if (Accepted()) return true;
  }
}

std::int16_t TVdbAccessor::First() {
  return Guard([&]() -> std::int16_t { return DoFirst() ? 0 : kNoRecord; });
}

std::int16_t TVdbAccessor::Last() {
  return Guard([&]() -> std::int16_t { return DoLast() ? 0 : kNoRecord; });
}

std::int16_t TVdbAccessor::Next() {
  return Guard([&]() -> std::int16_t { return DoStep(true) ? 0 : kNoRecord; });
}

std::int16_t TVdbAccessor::Prior() {
  return Guard([&]() -> std::int16_t { return DoStep(false) ? 0 : kNoRecord; });
}

std::int16_t TVdbAccessor::MoveBy(std::int32_t delta) {
  if (delta > 0) {
    for (std::int32_t i = 0; i < delta; ++i) {
      if (const std::int16_t r = Next(); r != 0) return r;
    }
    return 0;
  }
  if (delta < 0) {
    for (std::int32_t i = 0; i > delta; --i) {
      if (const std::int16_t r = Prior(); r != 0) return r;
    }
    return 0;
  }
  if (FRecordNo > FRelation.GetRecordCount()) ToBoT();
  if (FRecordNo < 0) return kNoRecord;
  const std::int16_t valid = Guard([&]() -> std::int16_t { return IsValidRecord() ? 1 : 0; });
  if (valid < 0) return valid;
  if (valid == 1) return 0;
  const std::int16_t r = MoveBy(1);
  return r == kNoRecord ? Last() : r;
}

void TVdbAccessor::ToBoT() noexcept {
  SetPosition(-1);
  FSequenceNo = -1;
  FCurrentKey.clear();
  FBookmarkSlot = -1;
}

std::int16_t TVdbAccessor::GotoRecord(std::int32_t recordNo) {
  return Guard([&]() -> std::int16_t {
    if (recordNo < -1 || recordNo > FRelation.GetRecordCount()) return kNoRecord;
    if (recordNo == -1) {
      ToBoT();
      return 0;
    }
    if (recordNo == 0) {
      if (FWorkRecordNo != 0) return kNoRecord;
      SetPosition(0);
      FSequenceNo = -2;
      return 0;
    }
    if (recordNo == FRecordNo) {
      FRecordDeleted = false;
      return 0;
    }
    SetPosition(recordNo);
    FSequenceNo = -1;
    FBookmarkSlot = -1;
    if (FAccessType == tatIndex) ComputeCurrentKey();
    return 0;
  });
}

std::int32_t TVdbAccessor::GotoSequenceNo(std::int32_t sequenceNo) {
  return Guard([&]() -> std::int32_t { return DoGotoSequenceNo(sequenceNo); });
}

std::int32_t TVdbAccessor::DoGotoSequenceNo(std::int32_t sequenceNo) {
  return Path().GotoSequenceNo(*this, sequenceNo);
}

std::int32_t TVdbAccessor::LocateRecord2(TVdbIndexNo indexNo, std::span<const std::uint8_t> entry, int itemCount,
                                         bool& exact) {
  const std::int32_t found = FRelation.LocateRecord2(indexNo, entry, itemCount, exact,
                                                     [this](std::int32_t recNo) { return IsValidRecord(recNo); });
  if (found > 0) {
    const std::int16_t r = GotoRecord(found);
    if (r < 0) return r;
  }
  return found;
}

bool TVdbAccessor::IsValidRecord() {
  if (FRecordNo < 0) return false;
  if (FRecordNo == 0) return FWorkRecordNo == 0;
  if (FRecordNo > FRelation.GetRecordCount()) return false;
  if (!Path().HoldsCurrent(*this)) return false;
  return Accepted();
}

bool TVdbAccessor::IsValidRecord(std::int32_t recordNo) {
  if (recordNo < 0 || recordNo > FRelation.GetRecordCount()) return false;
  const TVdbAccessorState saved = SaveState();
  bool valid = false;
  try {
    if (GotoRecord(recordNo) == 0) valid = IsValidRecord();
  } catch (...) {
    RestoreState(saved);
    throw;
  }
  RestoreState(saved);
  return valid;
}

// ---- position and counts

std::int32_t TVdbAccessor::ForwardSequenceNo() {
  if (FRecordNo <= 0) return -2;
  return Path().ForwardSequenceNo(*this);
}

std::int32_t TVdbAccessor::SequenceNo() {
  if (FSequenceNo != -1) return FSequenceNo;
  const std::int32_t seq = Guard([&]() -> std::int32_t {
    const std::int32_t forward = ForwardSequenceNo();
    if (forward < 1 || !FReverse) return forward;
    const std::int32_t count = RawCount();
    return count < 0 ? -2 : count - forward + 1;
  });
  FSequenceNo = seq < 0 ? -2 : seq;
  return FSequenceNo;
}

std::int32_t TVdbAccessor::RawCount() { return Path().Count(*this); }

std::int32_t TVdbAccessor::CountByWalking() {
  if (FRelation.GetRecordCount() >= kCountWalkLimit) return -1;
  TReadLock lock(FRelation);
  const TVdbAccessorState saved = SaveState();
  std::int32_t count = 0;
  try {
    if (DoFirst()) {
      do {
        ++count;
      } while (DoStep(true));
    }
  } catch (...) {
    RestoreState(saved);
    throw;
  }
  RestoreState(saved);
  return count;
}

std::int32_t TVdbAccessor::RecordCount() {
  return Guard([&]() -> std::int32_t {
    if (FAccessType == tatNone) return 0;
    if (FFilter) return CountByWalking();
    return RawCount();
  });
}

// ---- state

TVdbAccessorState TVdbAccessor::SaveState() const {
  TVdbAccessorState s;
  s.AccessType = FAccessType;
  s.IndexNo = FIndexNo;
  s.Reverse = FReverse;
  s.RecBufUpdated = FRecBufUpdated;
  s.SequenceNo = FSequenceNo;
  s.RecordNo = FRecordNo;
  s.Lower = FLower;
  s.Upper = FUpper;
  s.CurrentKey = FCurrentKey;
  return s;
}

void TVdbAccessor::RestoreState(const TVdbAccessorState& s) {
  const bool moved = s.RecordNo != FRecordNo;
  FAccessType = s.AccessType;
  FIndexNo = s.IndexNo;
  FReverse = s.Reverse;
  FSequenceNo = s.SequenceNo;
  FRecordNo = s.RecordNo;
  FLower = s.Lower;
  FUpper = s.Upper;
  FCurrentKey = s.CurrentKey;
  FBookmarkSlot = -1;
  // The buffer still holds the saved record only when the position did not change meanwhile.
  FRecBufUpdated = s.RecBufUpdated && !moved && FRecBufUpdated;
}

void TVdbAccessor::Push() { FStack.push_back(SaveState()); }

void TVdbAccessor::Pop() {
  if (FStack.empty()) return;
  RestoreState(FStack.back());
  FStack.pop_back();
  FRecBufUpdated = false;
}

void TVdbAccessor::Reset() {
  ResizeKeys();
  FAccessType = tatRecordNo;
  FIndexNo = kVdbNoIndex;
  FReverse = false;
  ToBoT();
  FFilter.reset();
  FBookmarks.Clear();
}

std::int16_t TVdbAccessor::TakeOver(TVdbAccessor& source, TVdbTakeOverMode mode) {
  return Guard([&] {
    if (&source.FRelation != &FRelation) RaiseEngineError(errNotSupported, {u"taking over an accessor of another relation"});
    if (&source == this) return;
    if (mode != tomPosition) {
      FAccessType = source.FAccessType;
      FIndexNo = source.FIndexNo;
      FReverse = source.FReverse;
      FLower = source.FLower;
      FUpper = source.FUpper;
      FCurrentKey = source.FCurrentKey;
      FWorkRecordNo = source.FWorkRecordNo;
      FWorkRecBuf = source.FWorkRecBuf;
      FSavedRecordNo = source.FSavedRecordNo;
      FEditState = source.FEditState;
      if (mode == tomMove) {
        FBookmarks = std::move(source.FBookmarks);
        source.FBookmarks = TVdbBookmarkList(1000);
        source.BookmarksChanged();
      } else {
        FBookmarks.CopyFrom(source.FBookmarks);
      }
      BookmarksChanged();
    }
    FRecordNo = source.FRecordNo;
    FSequenceNo = source.FSequenceNo;
    FCurrentRecBuf = source.FCurrentRecBuf;
    FRecBufUpdated = source.FRecBufUpdated;
    FRecordDeleted = source.FRecordDeleted;
    FPendingBlobs = source.FPendingBlobs;
    if (mode == tomPosition) {
      // The same record sits elsewhere in another order or range.
      const bool sameOrder = FAccessType == source.FAccessType && FIndexNo == source.FIndexNo &&
                             FReverse == source.FReverse && FLower == source.FLower && FUpper == source.FUpper;
      if (!sameOrder) FSequenceNo = -1;
      if (FAccessType == tatIndex && FRecordNo > 0) ComputeCurrentKey();
    }
  });
}

// ---- listener calls

// The relation tells us on the writer's thread; a failure to reposition must not break the
// writer's operation, so it is recorded and the accessor goes to BoT.
void TVdbAccessor::RecordDeleted(std::int32_t deletedRecordNo, std::int32_t movedRecordNo) {
  if (FRecordNo == deletedRecordNo && deletedRecordNo > 0) {
    const std::int16_t r = Guard([&] {
      Path().AfterCurrentDeleted(*this, deletedRecordNo, movedRecordNo);
    });
    if (r < 0) ToBoT();
    FRecordDeleted = true;
  }
  if (movedRecordNo > 0) {
    if (FRecordNo == movedRecordNo) {
      FRecordNo = deletedRecordNo;
      if (FCurrentKey.size() >= 4) VdbSetEntryRecNo(FCurrentKey, deletedRecordNo);
    }
    if (FWorkRecordNo == movedRecordNo) FWorkRecordNo = deletedRecordNo;
    if (FSavedRecordNo == movedRecordNo) FSavedRecordNo = deletedRecordNo;
  }
  FBookmarks.Delete(deletedRecordNo);
  if (movedRecordNo > 0) FBookmarks.Renumber(movedRecordNo, deletedRecordNo);
  FBookmarkSlot = -1;
  FRecBufUpdated = false;
  if (OnRecordDeleted) OnRecordDeleted(deletedRecordNo, movedRecordNo);
}

void TVdbAccessor::RecordChanged(std::int32_t recordNo) {
  if (recordNo == FRecordNo) FRecBufUpdated = false;
  if (OnRelationChanged) OnRelationChanged();
}

void TVdbAccessor::RelationChanged() {
  FRecBufUpdated = false;
  if (OnRelationChanged) OnRelationChanged();
}

void TVdbAccessor::RelationEmptied() {
  if (OnRelationEmptied) OnRelationEmptied();
  ToBoT();
  FBookmarks.Clear();
}

void TVdbAccessor::CanRemoveIndex(TVdbIndexNo indexNo, bool& allowed) {
  if (FAccessType == tatIndex && FIndexNo == indexNo) allowed = false;
}

void TVdbAccessor::IndexRemoved(TVdbIndexNo indexNo) {
  if (FAccessType != tatIndex) return;
  if (FIndexNo == indexNo) {
    ResizeKeys();
    FAccessType = tatRecordNo;
    FIndexNo = kVdbNoIndex;
    FSequenceNo = -1;
  } else if (FIndexNo > indexNo) {
    --FIndexNo;
  }
}

bool TVdbAccessor::IsEditing(std::int32_t recordNo) const { return FEditState == esEdit && FWorkRecordNo == recordNo; }

}  // namespace vdb
