// The accessor: one position in one relation. It holds the order the relation is walked in
// (natural record order, one index, or a bookmark list), an optional range and filter, the
// current record (read lazily), the work record of an edit or append, and it follows the
// relation's changes as one of its listeners.
//
// Positions: -1 before the first record (BoT), 0 the pending new record of an append, a
// positive value a record number. Sequence numbers are 1-based positions in the current order
// under the range (the filter is not taken into account: a filtered walk counts the records it
// skips), -1 when not known yet (computed on demand), -2 when there is none.
//
// Results: the public operations are boundaries. They return 0 (or the result they name) on
// success and a negated engine code on failure, recorded in the relation's last error; -19
// ("Record not found") also means that there is no further record in the requested direction.
//
// Threads: an accessor belongs to one session and is used by one thread at a time; the
// relation's listener calls arrive on the thread that changed the relation.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "base/vuServices.h"
#include "tables/VdbBookmarks.h"
#include "tables/VdbRelation.h"

namespace vdb {

class IVdbAccessPath;
class TVdbAccessor;

enum TVdbAccessType : std::uint8_t { tatNone, tatRecordNo, tatBookmarks, tatIndex };
enum TVdbEditState : std::uint8_t { esBrowse, esAppend, esEdit };
// What TakeOver copies beyond the position: nothing, or also the edit, order, range and
// bookmarks (copied, or taken so that the source keeps an empty list).
enum TVdbTakeOverMode : std::uint8_t { tomPosition, tomCopy, tomMove };

// A filter condition compiled against a relation. Conditions come from the expression layer;
// this seam is all the accessor asks of them.
class IVdbAccessorFilter {
 public:
  virtual ~IVdbAccessorFilter() = default;
  // Whether the accessor's current record passes: true only for a TRUE result (FALSE and
  // UNKNOWN reject). Raises EVdbEngine when the evaluation fails.
  virtual bool Accepts(TVdbAccessor& accessor) = 0;
  // An index of `relation` whose key range [lower, upper] holds every record the condition can
  // accept, so that a walk may read that range only; kVdbNoIndex when there is none.
  virtual TVdbIndexNo BestIndexAndBounds(TVdbRelation&, std::vector<std::uint8_t>&, std::vector<std::uint8_t>&) {
    return kVdbNoIndex;
  }
};

// How Edit waits for a record's edit lock: retried every 100 ms until `TimeoutMs` passed.
struct TVdbEditWait {
  IvuClock& Clock;
  IvuSleeper& Sleeper;
  std::int32_t TimeoutMs = 0;
};

// Everything Push saves: order, bounds, current key and position.
struct TVdbAccessorState {
  TVdbAccessType AccessType = tatRecordNo;
  TVdbIndexNo IndexNo = kVdbNoIndex;
  bool Reverse = false;
  bool RecBufUpdated = false;
  std::int32_t SequenceNo = -1;
  std::int32_t RecordNo = -1;
  std::vector<std::uint8_t> Lower, Upper, CurrentKey;
};

class TVdbAccessor final : public IRelationListener {
 public:
  // Registers itself as a listener of `relation`, which must outlive the accessor. Starts at
  // BoT in natural order.
  TVdbAccessor(TVdbRelation& relation, std::u16string tag);
  // A fresh accessor on the same relation (BoT, natural order).
  static std::unique_ptr<TVdbAccessor> CreateClone(const TVdbAccessor& source);
  ~TVdbAccessor() override;
  TVdbAccessor(const TVdbAccessor&) = delete;
  TVdbAccessor& operator=(const TVdbAccessor&) = delete;

  TVdbRelation& Relation() const noexcept { return FRelation; }

  // ---- order
  // `accessId`: 100 natural order, 101 bookmark order, otherwise an index number (the index
  // is opened; 95 when it is lost, 36 for a free slot). Clears the range. In natural order the
  // sequence number follows the record number; in bookmark order the accessor moves to the
  // first bookmark when the current record is not in the list (BoT when the list is empty).
  std::int16_t SetAccess(TVdbSortNo accessId, bool reverse = false);
  // tatRecordNo or index -1 → natural, tatBookmarks or index 254 → bookmarks, else the index.
  std::int16_t SetAccess(TVdbAccessType type, TVdbIndexNo indexNo, bool reverse);
  TVdbAccessType AccessType() const noexcept { return FAccessType; }
  TVdbIndexNo CurrentIndexNo() const noexcept { return FIndexNo; }
  bool Reverse() const noexcept { return FReverse; }
  // Key size of the current order: 4 bytes for natural and bookmark order (record number).
  std::int32_t IndexInfoSize() const;
  std::span<const std::uint8_t> CurrentIndexInfo() const noexcept { return FCurrentKey; }

  // ---- range
  // Bounds as entries of `indexNo` (-1: natural order, entries carrying a record number);
  // empty = open. Switches to that order first when it is not the current one.
  std::int16_t SetRange(TVdbIndexNo indexNo, std::span<const std::uint8_t> lower, std::span<const std::uint8_t> upper);
  // Bounds as texts with items separated by `separator` (empty text = open bound).
  std::int16_t SetRange(TVdbIndexNo indexNo, std::u16string_view lower, std::u16string_view upper,
                        char16_t separator = u';');
  void GetRange(std::vector<std::uint8_t>& lower, std::vector<std::uint8_t>& upper) const;
  bool HasRange() const noexcept { return BoundActive(FLower) || BoundActive(FUpper); }
  void ClearRange();

  // ---- filter and bookmarks
  // Takes ownership; null removes the filter.
  void SetFilter(std::unique_ptr<IVdbAccessorFilter> filter) { FFilter = std::move(filter); }
  std::unique_ptr<IVdbAccessorFilter> ExchangeFilter(std::unique_ptr<IVdbAccessorFilter> filter);
  bool IsFiltered() const noexcept { return FFilter != nullptr; }
  TVdbBookmarkList& Bookmarks() noexcept { return FBookmarks; }
  // Replaces the list (copied) / swaps it with `other`.
  void SetBookmarks(const TVdbBookmarkList& list);
  void ExchangeBookmarks(TVdbBookmarkList& other);
  // The list changed: positions in it are recomputed on the next move.
  void BookmarksChanged() noexcept;
  // Selections, each walking the relation (or the list) under one read lock; 0 or a negated
  // code. Append: every record for which `condition` holds and (when given) that is valid
  // for `reference` is appended to `list`. Remove: every matching record leaves `list`.
  // Intersect: entries whose record does not match leave `list` (walked from the last).
  std::int16_t AppendBookmarks(IVdbAccessorFilter& condition, TVdbAccessor* reference, TVdbBookmarkList& list);
  std::int16_t RemoveBookmarks(IVdbAccessorFilter& condition, TVdbBookmarkList& list);
  std::int16_t IntersectBookmarks(IVdbAccessorFilter& condition, TVdbBookmarkList& list);
  // Walks `other` from its first record to the first one also valid for this accessor; with
  // `move` this accessor goes there. Whether one was found.
  bool FindFirstCommonRecord(TVdbAccessor& other, bool move);

  // ---- moves (0, -19 at the end, or a negated code)
  std::int16_t First();
  std::int16_t Last();
  std::int16_t Next();
  std::int16_t Prior();
  // Delta times Next (Prior), stopping at the first failure. MoveBy(0) re-validates the
  // position: beyond the record count → BoT; BoT → -19; still inside range and filter → 0;
  // else the next valid record, or the last one when there is none after it.
  std::int16_t MoveBy(std::int32_t delta);
  void ToBoT() noexcept;
  // Makes `recordNo` current without checking range or filter: -1 → BoT; 0 only while an
  // append is pending; -19 below -1 or above the record count.
  std::int16_t GotoRecord(std::int32_t recordNo);
  // The record reached (or a negated code); see the file comment for sequence numbers.
  std::int32_t GotoSequenceNo(std::int32_t sequenceNo);
  // LocateRecord2 of the relation from this accessor: the first record at or after `entry` in
  // `indexNo` that is valid for this accessor becomes current. Returns the record number,
  // 0 when there is none, or a negated code.
  std::int32_t LocateRecord2(TVdbIndexNo indexNo, std::span<const std::uint8_t> entry, int itemCount, bool& exact);
  // Whether the current record / `recordNo` lies in the order, range and filter.
  bool IsValidRecord();
  bool IsValidRecord(std::int32_t recordNo);

  // ---- position
  std::int32_t RecordNo() const noexcept { return FRecordNo; }
  // Computed on demand; -2 when there is none.
  std::int32_t SequenceNo();
  // Records in the order under range and filter; -1 when a count would have to walk a
  // relation of 10000 records or more.
  std::int32_t RecordCount();
  bool IsSequenced() const noexcept { return true; }
  bool RecordDeletedUnderCursor() const noexcept { return FRecordDeleted; }

  // ---- state
  void Push();
  void Pop();
  TVdbAccessorState SaveState() const;
  void RestoreState(const TVdbAccessorState& state);
  // Natural order, BoT, no filter, no bookmarks.
  void Reset();
  // Copies position, sequence number, current record and pending values from `source`, an
  // accessor of the same relation (else 187); see TVdbTakeOverMode for the rest.
  std::int16_t TakeOver(TVdbAccessor& source, TVdbTakeOverMode mode);

  // ---- record buffers
  // The current record (read when stale; an empty record at BoT), or the work record while it
  // is current. Raises the read error.
  std::span<std::uint8_t> RecordPtrExc();
  void InvalidateRecBuf() noexcept { FRecBufUpdated = false; }
  // Copies the current record into `buffer` (RecordSize bytes). 0 or a negated code.
  std::int16_t GetRecord(std::span<std::uint8_t> buffer);
  // Copies `buffer` into the work record; -19 when nothing is being edited or appended.
  std::int16_t SetRecord(std::span<const std::uint8_t> buffer);

  // ---- memo and blob transfer (fields numbered from 1)
  // Starts reading field `fieldNo`: a value not pending yet is loaded from the stored record.
  // Returns the length in bytes (memo: 8-bit characters; wide memo: 2 bytes a character;
  // blob: without its leading 2-byte type word, which goes to `blobType`; a blob shorter than
  // 2 bytes is empty with type 0), or a negated code: 168 for a field of another type.
  std::int32_t InitGetBlob(std::int32_t fieldNo, std::int32_t maxSize, std::uint16_t& blobType);
  // Copies up to `data.size()` bytes from offset `start` of the value being read (a wide
  // memo's start rounded down to even). Returns the bytes copied, or -19 when no transfer runs.
  std::int32_t GetBlobChunk(std::int32_t start, std::span<std::uint8_t> data);
  void DoneGetBlob();
  // Starts writing field `fieldNo` with a pending value of `size` stored bytes (zeroed).
  std::int16_t InitSetBlob(std::int32_t fieldNo, std::int32_t size);
  // Writes `data` at `start` of the pending value; -19 when no writing transfer runs or the
  // bytes do not fit.
  std::int16_t SetBlobChunk(std::int32_t start, std::span<const std::uint8_t> data);
  void DoneSetBlob();
  bool HasPendingBlob(std::int32_t fieldNo) const;
  const std::vector<TVdbBlobData>& PendingBlobs() const noexcept { return FPendingBlobs; }
  // Drops every pending value (after posting or cancelling).
  void ReleasePendingBlobs() noexcept;

  // ---- editing (the stored side belongs to the write path)
  TVdbEditState EditState() const noexcept { return FEditState; }
  std::int32_t WorkRecordNo() const noexcept { return FWorkRecordNo; }
  // Starts an append: the work record is initialised empty and becomes current (position 0).
  // 34 without write right $0001.
  std::int16_t Append();
  // Starts editing the current record: takes its edit lock (under a read lock; with `wait`
  // retried every 100 ms until the time-out, else tried once), re-reads the record and copies
  // it into the work record. 160 without write right $0002 (naming the table), 19 without a
  // current record, the lock's refusal (105) when it stays taken.
  std::int16_t Edit(const TVdbEditWait* wait = nullptr);
  // Ends an append or edit without storing: the append returns to the saved position.
  std::int16_t Cancel();
  // Stores the work record through the relation with the pending memo, wide-memo and blob
  // values: an append adds it, an edit replaces the edited record and ends its edit lock.
  // The stored record becomes current and the pending values are released. On failure the
  // edit (or append) stays as it was, so the caller may correct it and post again or cancel.
  // -19 when nothing is being edited or appended; otherwise 0 or the write's negated code.
  std::int16_t Post();
  // Deletes the current record (the table moves its last record into the gap; every accessor
  // follows through the relation's notification). A pending edit or append is cancelled
  // first. 19 without a current record or when it was deleted under the accessor, 105 while
  // another cursor edits it, else the write's code; on failure the accessor stays on it.
  std::int16_t Delete();

  // ---- listener calls (owner's hooks)
  std::function<void(std::int32_t deleted, std::int32_t moved)> OnRecordDeleted;
  std::function<void()> OnRelationChanged;
  std::function<void()> OnRelationEmptied;

  // ---- IRelationListener
  std::u16string GetTag() const override { return FTag; }
  void RecordDeleted(std::int32_t deletedRecordNo, std::int32_t movedRecordNo) override;
  void RecordChanged(std::int32_t recordNo) override;
  void RelationChanged() override;
  void RelationEmptied() override;
  void CanRemoveIndex(TVdbIndexNo indexNo, bool& allowed) override;
  void IndexRemoved(TVdbIndexNo indexNo) override;
  bool IsEditing(std::int32_t recordNo) const override;

 private:
  // The access paths move this accessor over its own state.
  friend class TVdbNaturalPath;
  friend class TVdbBookmarkPath;
  friend class TVdbIndexPath;
  friend class TVdbNoPath;

  template <class F>
  auto Guard(F&& op) {
    return GuardEngineCall(FRelation.LastError(), std::forward<F>(op));
  }
  static bool BoundActive(const std::vector<std::uint8_t>& b) noexcept;
  void SetAccessRaw(TVdbSortNo accessId, bool reverse);
  void ResizeKeys();
  TVdbIndexFile& IndexFile() const;
  // The key of the current record in the current index (reads the record).
  void ComputeCurrentKey();
  void SetPosition(std::int32_t recNo) noexcept;
  // The path of the current order (VdbAccessPath.h).
  const IVdbAccessPath& Path() const noexcept;
  // Raw moves in the forward sense of the order: true when a record was reached.
  bool RawFirst();
  bool RawLast();
  bool RawNext();
  bool RawPrior();
  bool RawStep(bool forward);
  // Makes the record of index entry `entry` current (read lock held). The record's own key
  // must be the entry's (95 otherwise): a walk that went on from a key the record does not
  // have could run in circles over a damaged file.
  void PlaceOnEntry(std::vector<std::uint8_t>&& entry);
  bool IndexKeyInRange(std::span<const std::uint8_t> key) const;
  bool NaturalInRange(std::int32_t recNo) const noexcept;
  bool Accepted();
  // Filtered moves that raise; false when no record is left.
  bool DoFirst();
  bool DoLast();
  bool DoStep(bool forward);
  // Records of the order under the range, filter not counted; -1 when unknown.
  std::int32_t RawCount();
  std::int32_t CountByWalking();
  // Forward sequence of the current position (ignoring the direction).
  std::int32_t ForwardSequenceNo();
  std::int32_t NaturalLowest() const noexcept;
  std::int32_t DoGotoSequenceNo(std::int32_t sequenceNo);
  TVdbBlobData* FindPending(std::int32_t fieldNo);
  // Calls `f(record number)` for every record of the relation in natural order for which
  // `condition` holds, reading through a walker accessor of the same relation.
  template <class F>
  void ForEachMatch(IVdbAccessorFilter& condition, F&& f);
  // The stored bytes of memo, wide-memo or blob field `fieldNo` of the current record.
  std::vector<std::uint8_t> LoadStoredBlob(std::int32_t fieldNo);

  TVdbRelation& FRelation;
  std::u16string FTag;
  TVdbAccessType FAccessType = tatRecordNo;
  TVdbIndexNo FIndexNo = kVdbNoIndex;
  bool FReverse = false;
  std::unique_ptr<IVdbAccessorFilter> FFilter;
  TVdbBookmarkList FBookmarks{1000};
  std::int32_t FBookmarkSlot = -1;  // slot of the current record in FBookmarks, when known
  std::vector<std::uint8_t> FLower, FUpper, FCurrentKey;
  std::int32_t FRecordNo = -1;
  std::int32_t FSequenceNo = -1;
  bool FRecBufUpdated = false;
  std::vector<std::uint8_t> FCurrentRecBuf;
  std::int32_t FWorkRecordNo = -1;
  std::vector<std::uint8_t> FWorkRecBuf;
  std::int32_t FSavedRecordNo = -1;
  TVdbEditState FEditState = esBrowse;
  bool FRecordDeleted = false;
  std::vector<TVdbAccessorState> FStack;
  std::vector<TVdbBlobData> FPendingBlobs;
  std::int32_t FBlobTransferFieldNo = 0;
  bool FBlobTransferWriting = false;
};

}  // namespace vdb
