// The relation: anything the engine reads rows from through a cursor (a stored table, an alias
// of another relation, a query result). TVdbRelation is the contract every relation keeps: its
// columns and rights, the numbering of its indexes, the lock calls, reading records by number,
// the listeners (cursors) that watch it, and the keyed services every cursor uses: finding an
// index by name or by definition, building keys from records, completing partial keys into
// range bounds, testing ranges and locating the first record at or after a key.
//
// Results. Operations named after a status return 0 or a positive result, or a negated engine
// error code recorded in the session's last error (the table boundary). Helpers documented as
// raising throw EVdbEngine and are for the engine's own layers, which have their own boundary.
//
// Threads: a relation may be shared by several sessions' threads; the lock calls serialise
// themselves (see VdbTableLocks.h). Every other operation runs under a table lock taken by the
// caller or by the operation itself, on one thread at a time. Listeners are told synchronously
// on the thread that made the change.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "base/VdbBoundary.h"
#include "base/VdbLastError.h"
#include "storage/VdbIndexFile.h"
#include "tables/VdbIndexKeys.h"
#include "tables/VdbTableLocks.h"
#include "types/VdbDefinitions.h"

namespace vdb {

using TVdbRltnIdx = std::int16_t;
using TVdbIndexNo = std::int16_t;  // -1 (stored as 255) means none; 0..49
using TVdbSortNo = std::int16_t;   // 0..49 an index, 100 natural order, 101 bookmarks, -1 none
inline constexpr TVdbIndexNo kVdbNoIndex = -1;
inline constexpr TVdbSortNo kVdbNaturalOrder = 100;
inline constexpr TVdbSortNo kVdbBookmarkOrder = 101;

// Rights word of a relation, fixed when it is opened.
inline constexpr std::uint16_t kVdbRightsWriteMask = 0x000F;
inline constexpr std::uint16_t kVdbRightModify = 0x0001;
inline constexpr std::uint16_t kVdbRightDeleteIndex = 0x0008;
inline constexpr std::uint16_t kVdbRightExclusive = 0x0100;
inline constexpr std::uint16_t kVdbRightDeepFlush = 0x0200;
inline constexpr std::uint16_t kVdbRightSharedReadOnly = 0x0400;
// A table being created is held exclusively with every write right.
inline constexpr std::uint16_t kVdbRightsNewTable = 0x010F;

// Index find options.
enum TVdbIndexFindOption : std::uint8_t {
  tifoExact = 1,           // the definition must equal the request, not merely cover it
  tifoNoOpen = 2,          // do not open index files while searching
  tifoCreate = 4,          // create a temporary index when none fits
  tifoNoReverse = 8,       // a reversed index does not count
  tifoIncludeSpecial = 16  // the natural order counts when it covers the request
};
using TVdbIndexFindOptions = std::uint8_t;

// A cursor (or alias) watching a relation. The relation does not own its listeners: a listener
// removes itself (RemoveAccessor) before it is destroyed.
class IRelationListener {
 public:
  virtual ~IRelationListener() = default;
  virtual std::u16string GetTag() const = 0;
  // The record formerly at `movedRecordNo` now lives at `deletedRecordNo` (0: nothing moved).
  virtual void RecordDeleted(std::int32_t deletedRecordNo, std::int32_t movedRecordNo) = 0;
  virtual void RecordChanged(std::int32_t recordNo) = 0;
  // Many records changed; cached records are stale.
  virtual void RelationChanged() = 0;
  virtual void RelationEmptied() = 0;
  // A listener that reads in `indexNo` clears `allowed`.
  virtual void CanRemoveIndex(TVdbIndexNo indexNo, bool& allowed) = 0;
  // Falls back to natural order for `indexNo`; a higher index number moves down by one.
  virtual void IndexRemoved(TVdbIndexNo indexNo) = 0;
  virtual bool IsEditing(std::int32_t recordNo) const = 0;
};

// A memo, wide-memo or blob value held in memory until it is stored with its record: the
// stored bytes (memo: 8-bit text; wide memo: UTF-16LE; blob: the type word and the data).
// Field number 0 marks an unused entry.
struct TVdbBlobData {
  std::int32_t FieldNo = 0;  // 1-based
  std::vector<std::uint8_t> Data;
  bool Transient = false;  // loaded for reading only; dropped by DoneGetBlob
};
using TVdbBlobDataList = std::vector<TVdbBlobData>;

// Decides whether a record found by a locate is valid for the cursor (range, filter).
using TVdbRecordValidator = std::function<bool(std::int32_t recordNo)>;

class TVdbRelation : public IVdbLockOwner {
 public:
  explicit TVdbRelation(TVdbLastError& lastError) : FLastError(lastError) {}
  ~TVdbRelation() override = default;
  TVdbRelation(const TVdbRelation&) = delete;
  TVdbRelation& operator=(const TVdbRelation&) = delete;

  // ---- state and definitions
  virtual bool GetActive() const = 0;
  virtual bool GetReadOnly() const { return (FRights & kVdbRightsWriteMask) == 0; }
  virtual bool GetExclusive() const { return (FRights & kVdbRightExclusive) != 0; }
  virtual std::u16string GetFullName() const = 0;
  // The standard name (set when the relation opens).
  virtual std::u16string GetName() const { return FStdName; }
  virtual int GetLevel() const = 0;
  virtual std::int32_t GetRecordSize() const { return FColumnDefs.GetRecordSize(); }
  virtual std::int32_t GetRecordCount() const = 0;
  const TVdbColumnDefs& ColumnDefs() const noexcept { return FColumnDefs; }
  std::uint16_t GetRights() const noexcept { return FRights; }
  void SetRights(std::uint16_t rights) noexcept { FRights = rights; }
  // Column number (0-based) of `name`, or -83 recorded ("data field not found").
  std::int16_t FindColumn(std::u16string_view name);
  // 1-based column number of the record-id column, 0 for none.
  std::uint16_t RecordIdFieldNo() const noexcept { return FRecordIdFieldNo; }
  bool HasRecordId() const noexcept { return FRecordIdFieldNo > 0; }
  bool HasMemo() const noexcept { return FHasMemo; }
  bool HasBlob() const noexcept { return FHasBlob; }
  TVdbRltnIdx GetRltnIdx() const noexcept { return FRltnIdx; }
  void SetRltnIdx(TVdbRltnIdx idx) noexcept { FRltnIdx = idx; }
  TVdbLastError& LastError() const noexcept { return FLastError; }
  // Raises 187 naming what is missing when writing records needs a check constraint, computed
  // column or expression index that was not compiled.
  virtual void RequireRecordWriteSupport() const {}

  // ---- records by number (0 when there is none)
  virtual std::int32_t GetFirstRecordNo() = 0;
  virtual std::int32_t GetNextRecordNo(std::int32_t recNo) = 0;
  virtual std::int32_t GetPrevRecordNo(std::int32_t recNo) = 0;
  virtual std::int32_t GetLastRecordNo() = 0;
  // Copies record `recNo` into `buffer` (RecordSize bytes) under a read lock. 0 or a code.
  virtual std::int16_t ReadRecord(std::int32_t recNo, std::span<std::uint8_t> buffer) = 0;

  // ---- writing records (status results; a relation that cannot be written refuses with 187)
  // AppendRecord: stores `recBuffer` with the values of `blobs` (their block references are
  // written into `recBuffer`) as a new record. The new record number or a negated code.
  virtual std::int32_t AppendRecord(std::span<std::uint8_t> recBuffer, const TVdbBlobDataList& blobs);
  // ReplaceRecord: record `recNo`, read before the change as `origRecBuffer`, becomes
  // `recBuffer` with the values of `blobs`. 0 or a negated code.
  virtual std::int16_t ReplaceRecord(std::span<std::uint8_t> recBuffer, std::span<const std::uint8_t> origRecBuffer,
                                     const TVdbBlobDataList& blobs, std::int32_t recNo);
  // DeleteRecord: removes record `recNo`, whose stored image is `recBuffer`. 0 or a code.
  virtual std::int16_t DeleteRecord(std::span<const std::uint8_t> recBuffer, std::int32_t recNo);
  // ClearDat: empties the relation; the number of records it held, or a negated code.
  virtual std::int32_t ClearDat();

  // ---- lock calls (see VdbTableLocks.h)
  virtual std::int16_t BeginRead(bool wait) = 0;
  virtual std::int16_t BeginUpgrade(bool wait) = 0;
  virtual std::int16_t BeginWrite(bool wait) = 0;
  virtual std::int16_t BeginExclusive() = 0;
  virtual std::int16_t EndRead() = 0;
  virtual std::int16_t EndUpgrade() = 0;
  virtual std::int16_t EndWrite() = 0;
  virtual std::int16_t EndExclusive() = 0;
  virtual std::int16_t CheckEdit(std::int32_t recNo, const IRelationListener* excluded) = 0;
  virtual std::int16_t EndEdit(std::int32_t recNo) = 0;
  virtual void SwitchEdit(std::int32_t fromRecNo, std::int32_t toRecNo) = 0;
  std::int16_t WaitRead() { return BeginRead(true); }
  std::int16_t WaitUpgrade() { return BeginUpgrade(true); }
  std::int16_t WaitWrite() { return BeginWrite(true); }
  std::int16_t CheckRead() { return BeginRead(false); }
  std::int16_t CheckWrite() { return BeginWrite(false); }
  std::int16_t CheckExclusive() { return BeginExclusive(); }

  // ---- indexes
  TVdbIndexNo GetFirstIndexNo() const noexcept { return 0; }
  TVdbIndexNo GetLastIndexNo() const noexcept { return FLastIndexNo; }
  std::int16_t GetIndexCount() const noexcept { return static_cast<std::int16_t>(FLastIndexNo + 1); }
  TVdbIndexNo PrimaryIndexNo() const noexcept { return FPrimIndexNo; }
  TVdbIndexNo RecordIdIndexNo() const noexcept { return FInrIndexNo; }
  TVdbIndexNo IdIndexNo() const noexcept { return FIdIndexNo; }
  // Name of the index in slot `indexNo`; empty for a free slot.
  virtual std::u16string GetIndexName(TVdbIndexNo indexNo) const = 0;
  // The definition of slot `indexNo`, null when the slot is free or the definition is not
  // known yet (it is read from the index file when the index opens).
  virtual const TVdbSortDef* GetIndexDef(TVdbIndexNo indexNo) const = 0;
  // Opens index `indexNo` when needed (rebuilding an automatic one that is missing). Raises
  // 95 for a lost index, 36 for a free slot, or the failure (the index is then lost).
  virtual void CheckIndexOpen(TVdbIndexNo indexNo) = 0;
  // The same as a boolean; false records the error.
  bool CheckIndexOpen(TVdbIndexNo indexNo, bool checkSize);
  // The index file and the keys of an open index (after CheckIndexOpen). Valid until the
  // index is removed or the relation closes.
  virtual TVdbIndexFile& GetIndexFile(TVdbIndexNo indexNo) = 0;
  virtual TVdbIndexKeys& GetIndexKeys(TVdbIndexNo indexNo) = 0;
  // Name of the index that stands for `indexName` (a record-id, id or primary name gives the
  // index in that role); unchanged for other names; empty when there is none.
  virtual std::u16string GetRealIndexName(std::u16string_view indexName) const;
  // Index number for a name, or -36 recorded ("Index \"%s\" was not found or is invalid").
  std::int16_t GetIndexNo(std::u16string_view indexName);
  // Index (or natural order 100) whose definition serves `def`, -1 when none; `reverse` tells
  // that it serves it backwards. With tifoCreate a temporary index may be made.
  virtual TVdbSortNo FindIndex(const TVdbSortDef& def, TVdbIndexFindOptions options, bool& reverse);
  // The same for an index specification text; -1 when none (no error recorded) or the text
  // is not a valid specification (recorded).
  TVdbSortNo FindIndex(std::u16string_view sortOrder, TVdbIndexFindOptions options, bool& reverse);
  // As above but with error 6 ("No suitable index found for \"%s\"") recorded and -6 returned
  // when `check` is set and nothing fits.
  std::int16_t FindIndex(std::u16string_view sortOrder, TVdbIndexFindOptions options, bool check, bool& reverse);
  // The natural order's definition; none for a stored table (which has no ordering columns).
  virtual const TVdbSortDef* GetNativeSortDef() const { return nullptr; }
  // Creates a temporary index for `def` ("tmp%.3d"); its number, or a negated code recorded.
  virtual std::int16_t CreateTempIndex(const TVdbSortDef& def) = 0;

  // ---- keys (raise on failure; the index must be open)
  // CalcIndexInfo: the entry of `record` in index `indexNo`; returns its size.
  std::int32_t CalcIndexInfo(std::span<const std::uint8_t> record, TVdbIndexNo indexNo, std::int32_t recNo,
                             std::vector<std::uint8_t>& entry);
  // CompleteIndexInfo: items after the first `levelCount` become the smallest or largest
  // values for a lower (`upper` false) or upper bound.
  void CompleteIndexInfo(std::vector<std::uint8_t>& entry, TVdbIndexNo indexNo, int levelCount, bool upper);
  // FindSortKeyDiff: leading items the two keys share.
  int FindSortKeyDiff(TVdbIndexNo indexNo, std::span<const std::uint8_t> a, std::span<const std::uint8_t> b);
  // TestFilterRange: 0 inside, 1 outside; 0 as well when the index cannot be opened.
  int TestFilterRange(TVdbIndexNo indexNo, std::span<const std::uint8_t> lower, std::span<const std::uint8_t> upper,
                      std::span<const std::uint8_t> test);

  // StringToIndex: the entry of index `indexNo` for `text`, its items separated by
  // `separator` (see TVdbIndexKeys::FromText), with record number `recNo`. 0, -28 when the
  // index cannot be opened, or the conversion's negated code.
  std::int16_t StringToIndex(TVdbIndexNo indexNo, std::u16string_view text, std::int32_t recNo, char16_t separator,
                             std::vector<std::uint8_t>& entry);
  // CalcRangeInfo: a range bound from text. In an index (`indexNo` >= 0) the key of the text
  // with record number 1 (`first`) or $7FFFFFFF; in natural order (`indexNo` -1) the text is
  // the record number the bound carries (46 when it is not a number). 0 or a negated code.
  std::int16_t CalcRangeInfo(TVdbIndexNo indexNo, std::u16string_view text, char16_t separator, bool first,
                             std::vector<std::uint8_t>& entry);

  // ---- locating (status results)
  // LocateRecord2 without the cursor's position: under a read lock, the first entry of index
  // `indexNo` not below `entry` (callers give record number 0 to land on the first equal
  // key) whose record `valid` accepts (all when empty). With `exact` true on entry only a key
  // whose first `itemCount` items equal the given ones counts; otherwise `exact` is set to
  // whether they do. Returns the record number, 0 when there is none, or a negated code.
  std::int32_t LocateRecord2(TVdbIndexNo indexNo, std::span<const std::uint8_t> entry, int itemCount, bool& exact,
                             const TVdbRecordValidator& valid = {});
  // LocateRecord: the record whose key in `indexNo` equals the key of `record`; 0 when none.
  std::int32_t LocateRecord(std::span<const std::uint8_t> record, TVdbIndexNo indexNo);

  // ---- listeners
  void AddAccessor(IRelationListener& listener);
  void RemoveAccessor(IRelationListener& listener);
  std::int32_t GetCountAccessors() const noexcept { return static_cast<std::int32_t>(FClientAccessors.size()); }
  IRelationListener& GetClientAccessor(std::int32_t idx) const { return *FClientAccessors.at(static_cast<std::size_t>(idx)); }
  // False: notifications are held back (counted); the last True sends RelationChanged.
  void EnableNotifications(bool enabled);
  bool NotificationsEnabled() const noexcept { return FNotificationDisableCount == 0; }
  // Tell every listener (nothing while notifications are disabled, except index removal).
  void NotifyRecordDeleted(std::int32_t deletedRecordNo, std::int32_t movedRecordNo);
  void NotifyRecordChanged(std::int32_t recordNo);
  void NotifyRelationChanged();
  void NotifyRelationEmptied();
  // Whether every listener allows removing `indexNo`.
  bool CanRemoveIndex(TVdbIndexNo indexNo);
  virtual void NotifyIndexRemoved(TVdbIndexNo indexNo);

  // ---- IVdbLockOwner
  bool ListenerIsEditing(std::int32_t recNo, const void* excluded) override;
  std::int32_t KnownIndexCount() const override { return GetIndexCount(); }
  std::u16string LockTableName() const override { return GetName(); }

 protected:
  // Runs `op` at the table boundary: an engine exception is recorded and its negated code
  // returned.
  template <class F>
  auto Guard(F&& op) {
    return GuardEngineCall(FLastError, std::forward<F>(op));
  }
  // The scratch entry of locate operations (work info 1), shared by every cursor of the
  // relation: a locate copies its key before it searches.
  std::vector<std::uint8_t>& WorkEntry() { return FWorkEntry; }

  TVdbLastError& FLastError;
  std::u16string FStdName;
  TVdbColumnDefs FColumnDefs;
  std::uint16_t FRights = 0;
  std::uint16_t FRecordIdFieldNo = 0;
  bool FHasMemo = false;
  bool FHasBlob = false;
  TVdbIndexNo FInrIndexNo = kVdbNoIndex;
  TVdbIndexNo FIdIndexNo = kVdbNoIndex;
  TVdbIndexNo FPrimIndexNo = kVdbNoIndex;
  std::int16_t FLastIndexNo = -1;
  TVdbRltnIdx FRltnIdx = 0;
  std::vector<std::uint8_t> FRecBuffer;

 private:
  std::int32_t FNotificationDisableCount = 0;
  std::vector<IRelationListener*> FClientAccessors;
  std::vector<std::uint8_t> FWorkEntry;
};

}  // namespace vdb
