// The table cursor: what one table handle of the call interface reads through. It wraps an
// accessor and adds the order kept as an index specification, a user range given as record
// buffers, filters in a pending and an active slot, the user selection of marked records, and
// a dirty flag set by the relation's change notifications; the view (order, range, filter) is
// rebuilt from these when it is opened, when the order changes and on a refresh after changes.
//
// Results are those the call interface passes on: First/Last 1, other moves 0; -11 when there
// is no record; -201 for another failure of a move (the engine error is recorded in the
// relation's last error); -15 invalid access, -16 unknown index, -18 no index for a sort
// order; other operations return the negated engine code.
//
// Filter texts are compiled by the filter compiler the cursor was given (IVdbFilterCompiler,
// implemented where the languages are known); compiled conditions may also be handed over
// directly (SetUserFilter).
//
// Threads: a cursor belongs to one session and is used by one thread at a time.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "session/VdbAccessor.h"

namespace vdb {

enum TVdbFilterKind : std::uint8_t { tfkNone, tfkIncremental, tfkStatic, tfkBookmarks };

// Filter modes (low four bits): kinds and selection edits.
inline constexpr std::uint16_t kVdbFilterStatic = 1;
inline constexpr std::uint16_t kVdbFilterRemoveFromMarks = 3;
inline constexpr std::uint16_t kVdbFilterIntersectMarks = 6;
inline constexpr std::uint16_t kVdbFilterAddToMarks = 7;
inline constexpr std::uint16_t kVdbFilterIncremental = 15;

// Compiles filter texts for cursors. The session floor declares it; the floor that knows the
// languages implements it.
class IVdbFilterCompiler {
 public:
  virtual ~IVdbFilterCompiler() = default;
  // Compiles `text` against `relation`'s columns. `syntax`: 0 VidoraPL, otherwise VidoraSQL;
  // `mode` bits $10 case-insensitive, $20 jokers, $40 the user's formats and native jokers.
  // Raises the compile errors (EVdbEngine).
  virtual std::unique_ptr<IVdbAccessorFilter> CompileFilter(const TVdbRelation& relation, std::u16string_view text,
                                                            int syntax, std::uint16_t mode) const = 0;
};

class TVdbCursor {
 public:
  // Called when a record of the table is deleted: table handle, deleted and moved numbers.
  using TChangeProc = std::function<void(std::int16_t tableHdl, std::int32_t deleted, std::int32_t moved)>;

  // `relation` and `filterCompiler` must outlive the cursor. The accessor's tag is `name`.
  // Without a filter compiler, filter texts are refused (engine error 187).
  TVdbCursor(std::int16_t tableHdl, TVdbRelation& relation, TVdbRltnIdx rltnIdx, std::u16string name,
             const IVdbFilterCompiler* filterCompiler = nullptr);
  virtual ~TVdbCursor() = default;
  TVdbCursor(const TVdbCursor&) = delete;
  TVdbCursor& operator=(const TVdbCursor&) = delete;

  TVdbAccessor& Accessor() noexcept { return *FAccessor; }
  std::int16_t TableHdl() const noexcept { return FTableHdl; }
  TVdbRltnIdx RltnIdx() const noexcept { return FRltnIdx; }
  void SetChangeProc(TChangeProc proc) { FOnChangeProc = std::move(proc); }

  // Builds the view and goes to the first record. 0 or a negated code.
  virtual std::int16_t Open();
  virtual std::int16_t Close();
  // Asks the table for changes by other stations (`checkNet`), marks the buffer stale and
  // rebuilds the view when the relation changed: 1 rebuilt, 0 not needed, or a negated code.
  std::int16_t Refresh(bool checkNet);
  bool DirtyFlag() const noexcept { return FDirtyFlag; }

  // ---- moves
  std::int16_t First();
  std::int16_t Last();
  std::int16_t Next();
  std::int16_t MoveBy(std::int32_t delta);
  // The record number (0 after -1, which goes to BoT); -11 below -1, unreachable or outside
  // range and filter (the old position is kept).
  std::int32_t SetRecordNo(std::int32_t recordNo);
  std::int32_t GetRecordNo() const noexcept { return FAccessor->RecordNo(); }
  std::int32_t GetSequenceNo() { return FAccessor->SequenceNo(); }
  // The sequence number reached, -11 when there is none.
  std::int32_t SetSequenceNo(std::int32_t sequenceNo);
  std::int32_t GetRecordCount() { return FAccessor->RecordCount(); }
  bool IsSequenced() const noexcept { return true; }

  // ---- order
  // Empty name: natural order. Otherwise the index must exist and open (-16).
  std::int16_t SetIndex(std::u16string_view indexName, bool reverse = false);
  // An index whose definition serves `sortOrder` (a temporary one is made when needed); -18.
  std::int16_t SetSortOrder(std::u16string_view sortOrder);
  // "Nummer" natural order, "Markierung" the selection's order (only with `switchMarks`,
  // which moves the selection into the view), or an index name (case-insensitive); -15
  // otherwise. Leaving the selection's order gives the selection back, so marks are never lost.
  std::int16_t SetAccess(std::u16string_view name, bool switchMarks);
  // The index specification of the current order (empty for natural order).
  const std::u16string& Sorting() const noexcept { return FSorting; }

  // ---- user range (index order only, else -15); counts of 0 or less mean all items
  std::int16_t SetUserRange(std::span<const std::uint8_t> lowerRecord, std::span<const std::uint8_t> upperRecord,
                            int fieldCountStart, int fieldCountEnd);
  std::int16_t ClearUserRange();

  // ---- filters
  // Puts a compiled condition in place by `mode` (see the kind constants) and `background`
  // (pending instead of active). 0 or a negated code.
  std::int16_t SetUserFilter(std::unique_ptr<IVdbAccessorFilter> condition, std::uint16_t mode, bool background);
  // Compiles the text (a compile error is returned as its negated code, 25 for a syntax
  // error) and puts it in place as SetUserFilter does. A blank text removes the pending
  // condition (`background`) or the one in force, and returns 0.
  std::int16_t SetUserSqlFilter(std::u16string_view filterExpression, int syntax, std::uint16_t mode, bool background);
  std::int16_t ActivateFilter();
  std::int16_t DeactivateFilter();
  TVdbFilterKind ActiveFilterKind() const noexcept { return FActiveFilterKind; }
  TVdbFilterKind UserFilterKind() const noexcept { return FUserFilterKind; }

  // ---- marks (the user selection)
  // 1 <= recNo <= record count, else engine error 19.
  std::int16_t AddMark(std::int32_t recNo);
  void RemoveMark(std::int32_t recNo) { FUserBookmarks.Delete(recNo); }
  void ToggleMark(std::int32_t recNo) { FUserBookmarks.Flip(recNo); }
  bool IsMarked(std::int32_t recNo) const noexcept { return recNo > 0 && FUserBookmarks.Find(recNo) >= 0; }
  void ClearMarks() noexcept { FUserBookmarks.Clear(); }
  // Writes the slots into `buffer`; returns the number of slots.
  std::int32_t GetMarks(std::span<std::int32_t> buffer) const { return FUserBookmarks.WriteTo(buffer); }
  std::int32_t CountMarks() const noexcept { return FUserBookmarks.Count(); }
  // Moves to the next (previous for a negative delta; first/last with `restart`) marked
  // record: 1, or -11 when there is none; -31 when the read lock fails.
  std::int16_t GotoMark(std::int32_t delta, bool restart);
  const TVdbBookmarkList& Marks() const noexcept { return FUserBookmarks; }

  // ---- key search
  // Goes to the first record whose key in index `indexName` is at or after the key of
  // `record` (a record image of the relation's size) over `itemCount` items (clamped; 0 or
  // less: all); items beyond the count take no part. `exact` on entry: only an equal key will
  // do; on return: whether the key found equals the one given. The record number (now
  // current), 0 when there is none (the position is kept), -16 for an unknown or closed
  // index, -103 for a record smaller than the relation's, -100 for a failed search (the
  // engine error recorded). Errors of the key itself are raised.
  std::int32_t LocateRecord(std::u16string_view indexName, std::span<const std::uint8_t> record, int itemCount,
                            bool& exact);

  // ---- columns
  // Code page of the 8-bit text of `column` (one of the relation's): a string or memo
  // column's collation's; for any other column the table's collation's, the built-in code
  // page for a relation that has none. The engine's table is the only one there is.
  std::uint16_t CodePageOf(const TVdbColumnDef& column) const;

  // ---- records
  // Copies the current record. While editing or appending, a memo, wide-memo or blob field
  // with an empty stored reference but a pending value reads as pending (reference -1).
  std::int16_t GetRecord(std::span<std::uint8_t> buffer);
  // Copies `buffer` into the work record; memo, wide-memo and blob references below 0 become
  // empty (the pending values stay with the accessor). -19 when nothing is edited.
  std::int16_t SetRecord(std::span<const std::uint8_t> buffer);

  // ---- writing
  // Stores the appended or edited work record with its pending memo and blob values (see
  // TVdbAccessor::Post); the stored record becomes current. 0 or a negated code.
  std::int16_t Post();
  // Deletes the current record. 0 or a negated code.
  std::int16_t Delete();
  // Empties the table: the number of records it held, or a negated code.
  std::int32_t Empty();

 private:
  template <class F>
  auto Guard(F&& op) {
    return GuardEngineCall(FRelation.LastError(), std::forward<F>(op));
  }
  static std::int16_t MoveResult(std::int16_t r, std::int16_t success);
  // Raising forms used inside Guard.
  void RebuildView();
  void ApplyOrder();
  // Every record (in the current sort order when `sorted`) for which `condition` holds.
  void CollectMatches(IVdbAccessorFilter& condition, bool sorted, TVdbBookmarkList& list);
  TVdbIndexNo SortIndexNo();
  // Calls `f(column number from 1, value bound to the field in `record`)` for every memo,
  // wide-memo and blob column.
  template <class F>
  void ForEachBlobField(std::span<std::uint8_t> record, F&& f) const;

  std::int16_t FTableHdl;
  TVdbRelation& FRelation;
  const IVdbFilterCompiler* FFilterCompiler;
  TVdbRltnIdx FRltnIdx;
  std::unique_ptr<TVdbAccessor> FAccessor;
  TChangeProc FOnChangeProc;
  bool FDirtyFlag = false;
  std::u16string FSorting;
  std::u16string FSortIndexName;
  bool FSortReverse = false;
  TVdbFilterKind FActiveFilterKind = tfkNone;
  std::unique_ptr<IVdbAccessorFilter> FActiveCondition;
  TVdbFilterKind FUserFilterKind = tfkNone;
  std::unique_ptr<IVdbAccessorFilter> FUserCondition;
  TVdbBookmarkList FUserBookmarks{10000};
  std::vector<std::uint8_t> FUserRangeLower, FUserRangeUpper;
  bool FMarksInView = false;  // the selection was switched into the view by SetAccess
};

}  // namespace vdb
