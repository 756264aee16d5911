// The stored table: a relation kept in a set of files (data file, one file per index, memo and
// blob files) named by the table's level. It creates its files from definitions (columns,
// candidate keys, checks, foreign keys, user indexes, and the engine's own system indexes),
// opens and sets them up, keeps the index slots, opens indexes on first use and rebuilds an
// automatic index whose file is missing or unreadable (or whose collation now orders text
// differently), reports a lost user index instead, hands out record ids, and makes every lock
// call of the table (through TVdbTableLocks).
//
// Life cycle: construct → SetRights / SetFileName / SetKey → Open(force) → Setup(force) → use
// → Close. NewTable makes the files of a new table on a fresh object and leaves it closed.
// Writing records (VdbBaseTableWrite.cpp): every write keeps data file, indexes and memo/blob
// files in step; a write that fails at any step leaves the table as it was before it.
//
// Threads: see VdbRelation.h. The lock calls may come from any thread; everything else from
// one thread at a time under the table locks.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "storage/VdbBlobFile.h"
#include "storage/VdbDataFile.h"
#include "storage/VdbPageMan.h"
#include "storage/vuCrypt.h"
#include "base/vuServices.h"
#include "tables/VdbRedoLog.h"
#include "tables/VdbRelation.h"
#include "tables/VdbTableExpressions.h"
#include "tables/VdbTableNames.h"

namespace vdb {

// What a stored table gets from its session. All references must outlive the table.
struct TVdbTableEnvironment {
  TVdbPageManager& PageManager;
  // The file system of the table's directory.
  TvuFileSystem& FileSystem;
  // The session owning the table's changes in the page manager (> 0).
  std::int32_t ClientHdl;
  TVdbLastError& LastError;
  TvuServices Services;
  TVdbIsolationLevel IsolationLevel = tilNone;
  // Block size of new blob files.
  std::int32_t BlobBlockSize = kVdbDefaultBlockSize;
  // Compiles constraints and computed columns; none: such tables refuse to write (187).
  const IVdbExpressionCompiler* Expressions = nullptr;
  // Lock files of tables opened neither exclusively nor shared read-only; null: such tables
  // join none (a single session of a single process).
  IVdbLockFileFactory* LockFiles = nullptr;
};

class TVdbBaseTable;

// Referential integrity, installed by the catalog (which knows the other tables). Each call
// raises the rule's engine error. Child side: the record's foreign keys must find parents.
// Parent side: first phases run before the change (restrict rules), second phases after it
// (cascades).
class IVdbIntegrityRules {
 public:
  virtual ~IVdbIntegrityRules() = default;
  // Creation: the parent of `fk` must be open and have a unique index over its columns,
  // whose types take the values of the child's columns (`childColumns`).
  virtual void CheckNewForeignKey(const TVdbColumnDefs& childColumns, const TVdbForeignKeyDef& fk) = 0;
  // Setup: every foreign key of `child` gets its child index, its parent table (opened when
  // needed) and the parent's index over the parent columns.
  virtual void ResolveForeignKeys(TVdbBaseTable& child) = 0;
  virtual void CheckReferences(TVdbRelation& child, std::span<const std::uint8_t> record) = 0;
  virtual void BeforeUpdate(TVdbRelation& parent, std::span<const std::uint8_t> oldRecord,
                            std::span<const std::uint8_t> newRecord) = 0;
  virtual void AfterUpdate(TVdbRelation& parent, std::span<const std::uint8_t> oldRecord,
                           std::span<const std::uint8_t> newRecord) = 0;
  virtual void BeforeDelete(TVdbRelation& parent, std::span<const std::uint8_t> record) = 0;
  virtual void AfterDelete(TVdbRelation& parent, std::span<const std::uint8_t> record) = 0;
};

// A user index given with a new table.
struct TVdbNewIndex {
  std::u16string Name;
  std::u16string Specification;
  bool Unique = false;
};

// Everything a new table is made of.
struct TVdbNewTable {
  std::u16string Path;  // with or without extension
  int Level = VDB_NEW_TABLE_LEVEL;
  std::int32_t Capacity = 10000000;
  std::u16string CollationName;
  std::vector<TVdbNewColumn> Columns;
  TVdbCandidateKeyDefs KeyDefs;
  TVdbCheckDefs CheckDefs;
  TVdbForeignKeyDefs ForeignKeyDefs;
  std::vector<TVdbNewIndex> Indexes;
  TvuEncryptionMethod EncryptionMethod = emNone;
  std::u16string Key;
  // Block size of a new memo file; 0 for the default (kVdbDefaultBlockSize). A table whose
  // memos are short wastes most of a large block on each.
  std::int32_t MemoBlockSize = 0;
};

class TVdbBaseTable final : public TVdbRelation {
 public:
  explicit TVdbBaseTable(TVdbTableEnvironment& env);
  // Closes the files (errors of that close go to the session's last error).
  ~TVdbBaseTable() override;

  // ---- before opening
  void SetFileName(std::u16string path) { FFileName = std::move(path); }
  const std::u16string& FileName() const noexcept { return FFileName; }
  void SetKey(std::u16string key) { FCryptor.SetKey(key); }
  // The table's encryption method (read from the data file once it is open).
  TvuEncryptionMethod EncryptionMethod() const noexcept { return FCryptor.EncryptionMethod(); }

  // ---- life cycle (status results)
  // Creates the files of the table described by `table` and leaves the object closed: data
  // file, memo and blob files when needed, the given user indexes and the system indexes
  // (all empty), and the index-name list. Codes: 117 no columns, 58 extension or name does
  // not fit the level, 173 invalid name for levels 1..3, 138 unknown collation, 71 duplicate
  // key/check/foreign-key name, 88 foreign-key parent not open (always without integrity
  // rules, which know the open tables), 6 no unique parent index over a foreign key's parent
  // columns, the column rules' codes, and the file errors. A failure removes the files made
  // so far.
  std::int16_t NewTable(const TVdbNewTable& table);
  // Opens the data, memo and blob files. `force`: a memo or blob file that cannot be opened
  // is left out instead of failing. 37 when the data file is missing. A failure leaves nothing
  // open.
  std::int16_t Open(bool force);
  // Registers and opens the indexes named in the data file, finds or makes the system
  // indexes and rebuilds missing automatic ones. A user index that cannot be opened is
  // marked lost (its error recorded) and the table stays usable. Unless `force`, the
  // integrity rules resolve the foreign keys (184 parent not found or not openable, 6 no
  // index); without integrity rules a table with foreign keys fails with 184.
  std::int16_t Setup(bool force);
  // Drops droppable indexes (temporary ones no listener reads in, lost automatic ones),
  // flushes, releases every lock and closes every file. Safe when not open.
  std::int16_t Close();
  bool GetActive() const override { return FDataFile != nullptr && FDataFile->IsOpen(); }

  // ---- TVdbRelation
  std::u16string GetFullName() const override { return FFileName; }
  int GetLevel() const override { return FLevel; }
  std::int32_t GetRecordCount() const override { return FDataFile ? FDataFile->GetRecordCount() : 0; }
  std::u16string GetDirectory() const { return FileNames().Directory(); }
  bool IsRelFile() const noexcept { return FIsRelFile; }
  std::int32_t GetCapacity() const noexcept { return FCapacity; }
  const std::u16string& CollationName() const noexcept { return FCollationName; }
  // The check constraints and foreign keys as the table defines them.
  const TVdbCheckDefs& CheckDefs() const noexcept { return FChecks; }
  const TVdbForeignKeyDefs& ForeignKeyDefs() const noexcept { return FForeignKeyDefs; }
  void RequireRecordWriteSupport() const override;

  std::int32_t GetFirstRecordNo() override;
  std::int32_t GetNextRecordNo(std::int32_t recNo) override;
  std::int32_t GetPrevRecordNo(std::int32_t recNo) override;
  std::int32_t GetLastRecordNo() override;
  std::int16_t ReadRecord(std::int32_t recNo, std::span<std::uint8_t> buffer) override;

  std::int16_t BeginRead(bool wait) override { return FLocks.BeginRead(wait); }
  std::int16_t BeginUpgrade(bool wait) override { return FLocks.BeginUpgrade(wait); }
  // In a transaction the first write lock also starts the table's redo log.
  std::int16_t BeginWrite(bool wait) override;
  std::int16_t BeginExclusive() override { return FLocks.BeginExclusive(); }
  std::int16_t EndRead() override { return FLocks.EndRead(); }
  std::int16_t EndUpgrade() override { return FLocks.EndUpgrade(); }
  std::int16_t EndWrite() override { return FLocks.EndWrite(); }
  std::int16_t EndExclusive() override { return FLocks.EndExclusive(); }
  std::int16_t CheckEdit(std::int32_t recNo, const IRelationListener* excluded) override {
    return FLocks.CheckEdit(recNo, excluded);
  }
  std::int16_t EndEdit(std::int32_t recNo) override { return FLocks.EndEdit(recNo); }
  void SwitchEdit(std::int32_t fromRecNo, std::int32_t toRecNo) override { FLocks.SwitchEdit(fromRecNo, toRecNo); }
  TVdbTableLocks& Locks() noexcept { return FLocks; }
  // 1 when another session changed the table (and it was refreshed), else 0.
  std::int16_t CheckUpdate();

  std::u16string GetIndexName(TVdbIndexNo indexNo) const override;
  const TVdbSortDef* GetIndexDef(TVdbIndexNo indexNo) const override;
  void CheckIndexOpen(TVdbIndexNo indexNo) override;
  using TVdbRelation::CheckIndexOpen;
  TVdbIndexFile& GetIndexFile(TVdbIndexNo indexNo) override;
  TVdbIndexKeys& GetIndexKeys(TVdbIndexNo indexNo) override;
  std::int16_t CreateTempIndex(const TVdbSortDef& def) override;
  // Whether index `indexNo` failed to open or rebuild and is not used until the table closes.
  bool IsIndexLost(TVdbIndexNo indexNo) const;
  TVdbIndexKind GetIndexKind(TVdbIndexNo indexNo) const;

  // ---- indexes (status results)
  // Builds a new index from the records; its number, or 149 (no right $0008 for a
  // non-temporary index), 67 (no free slot), 23 (name registered), 22 (file exists), 28 or
  // 98 (definition), 30 (not unique). A failure leaves no file and no slot.
  std::int16_t NewIndex(std::u16string_view name, const TVdbSortDef& def, std::int32_t capacity = 0,
                        const TVdbProgressFunc& progress = {});
  // NewIndex for a user index given by specification text; 176 for a name that is not a
  // user index name.
  std::int16_t CreateUserIndex(std::u16string_view name, std::u16string_view specification, bool unique,
                               std::int32_t capacity = 0, const TVdbProgressFunc& progress = {});
  // Removes index `indexNo` and its file. 34 for an automatic index or a non-temporary one
  // without right $0008, 116 when a listener reads in it. Higher index numbers move down.
  std::int16_t DeleteIndex(TVdbIndexNo indexNo);
  // Rebuilds every index from the records, under the exclusive lock.
  std::int16_t RegenIndex(const TVdbProgressFunc& progress = {});

  // ---- record ids
  // Copies the record id of `buffer`; -1 and $80000000 without a record-id column.
  std::int16_t GetRecordId(std::span<const std::uint8_t> buffer, std::int32_t& recordId) const;
  // Stores `recordId` (below 1: the empty id). Raises 64 without a record-id column.
  void SetRecordId(std::span<std::uint8_t> buffer, std::int32_t recordId) const;
  // The record number holding `recordId`, 0 when none (or below 1, or no record-id index).
  std::int32_t FindRecordId(std::int32_t recordId);
  // The id of record `recNo`, or a negated code (64 without a record-id column).
  std::int32_t ReadRecordId(std::int32_t recNo);
  // Draws a new id into `buffer` under a write lock. 64 without a record-id column, 160
  // without write right $0001.
  std::int16_t SetAutoNum(std::span<std::uint8_t> buffer);
  // An id at or above the next id moves the next id beyond it.
  std::int16_t AdjustRecordId(std::span<const std::uint8_t> buffer);
  // Gives a drawn id back (only the last one drawn is reused).
  std::int16_t CancelAutoNum(std::int32_t recordId);
  std::int32_t ReadNextRecordId();
  std::int16_t SetNextRecordId(std::int32_t value);
  // The next id becomes the highest id in the record-id index plus 1.
  std::int16_t RecalcAutoInc();

  // The data file, index, full-text, memo and blob files in that order.
  void GetFileNames(std::vector<std::u16string>& list) const;
  TVdbTableFileNames FileNames() const { return TVdbTableFileNames(FFileName, FLevel); }
  // For the write path and tests: the open data, memo and blob files (null when absent).
  TVdbDataFile* DataFile() const noexcept { return FDataFile.get(); }
  TVdbMemoFile* MemoFile() const noexcept { return FMemo.get(); }
  TVdbBlobFile* BlobFile() const noexcept { return FBlob.get(); }
  // Writes buffered changes of every file (deep: also the files' final sizes). Raises 3.
  void Flush(bool resize);

  // ---- writing (status results: 0, a record number, or a negated engine code)
  // AppendRecord: upgrade lock, capacity (171), uniqueness (30, 95), check constraints,
  // references, write lock, then memo/blob values, index entries and the data record. The
  // record's memo/blob references are set in `recBuffer` (a reference without a value in
  // `blobs` is stored as a copy, never shared).
  std::int32_t AppendRecord(std::span<std::uint8_t> recBuffer, const TVdbBlobDataList& blobs) override;
  // ReplaceRecord: 160 without write right $0002, 19 outside the table. The stored record is
  // the old state (`origRecBuffer` is the caller's copy and is not trusted for keys or memo
  // references). Old memo/blob blocks are freed only after the new record is written. A
  // failed index move restores the old record and gives -4 (insertion) or -5 (deletion).
  std::int16_t ReplaceRecord(std::span<std::uint8_t> recBuffer, std::span<const std::uint8_t> origRecBuffer,
                             const TVdbBlobDataList& blobs, std::int32_t recNo) override;
  // DeleteRecord: 19 outside the table, 105 when a cursor edits the record. The last record
  // moves into the gap (its index entries and edit lock follow); the listeners hear
  // RecordDeleted(recNo, former number or 0). Memo/blob blocks are freed after the record is
  // gone.
  std::int16_t DeleteRecord(std::span<const std::uint8_t> recBuffer, std::int32_t recNo) override;
  // ClearDat: empties data, memo, blob and index files; the former record count.
  std::int32_t ClearDat() override;
  // InitRecord: zeroes the record; non-nullable dates become 1 January of year 1; with
  // `preset` a new record id is drawn. Raises.
  void InitRecord(std::span<std::uint8_t> recBuffer, bool preset);
  // Index maintenance (raising; write lock held): adds the entries of `record` as `recNo` to
  // every index, removing those made when one refuses (4, or 30 from a unique index).
  void AddRecordToIndexes(std::span<const std::uint8_t> record, std::int32_t recNo);
  // Moves the entries whose key differs between `origRecord` and `record`; on failure every
  // index is as before and 4 or 5 is raised.
  void ReplaceRecordToIndexes(std::span<const std::uint8_t> record, std::span<const std::uint8_t> origRecord,
                              std::int32_t recNo);
  // Store a value (an empty one frees the old chain) and put its reference into the record
  // (fields numbered from 1). Raising.
  void WriteMemoString(std::span<std::uint8_t> record, std::int32_t fieldNo, std::string_view text);
  void WriteBlobData(std::span<std::uint8_t> record, std::int32_t fieldNo, std::span<const std::uint8_t> data);
  void WriteBlobDataWide(std::span<std::uint8_t> record, std::int32_t fieldNo, std::u16string_view text);
  // The stored bytes of memo, wide-memo or blob field `fieldNo` of `record` (empty for none).
  std::vector<std::uint8_t> ReadBlobValue(std::span<const std::uint8_t> record, std::int32_t fieldNo);

  // ---- transactions
  // Rolls back the changes the redo log records (nothing without one) and erases it. A
  // replay that fails keeps the log, so that the next opening finishes the rollback.
  std::int16_t UndoModifications();
  // Makes the transaction's changes durable (flushed, on the device with the deep-flush
  // right), then erases the redo log.
  std::int16_t CommitModifications();
  bool HasRedoLog() const noexcept { return FRedoLog != nullptr; }
  bool RollingBack() const noexcept { return FRollingBack; }
  // Temporary tables keep no redo log.
  void SetTemporary(bool value) noexcept { FTemporary = value; }
  // Rolls back a redo log whose writer is dead (its exclusive opening can be taken); then
  // every index is rebuilt and unreferenced memo/blob blocks are returned to the free lists.
  // Runs when the table is set up. 1 when a log was replayed, 0 when none, or a code.
  std::int16_t RecoverAbandonedLog();
  // Without rules a table with foreign keys refuses every write (187), so that nothing is
  // stored unchecked; a parent's rules live in the catalog that knows its children.
  void SetIntegrityRules(IVdbIntegrityRules* rules) noexcept { FIntegrity = rules; }

  // ---- checking
  // Every problem found: index entry counts against the record count, each record's entry in
  // each index, each index file's own check, memo and blob chains and free lists.
  std::vector<std::u16string> VerifyTable();

  // ---- IVdbLockOwner
  void FlushTable(bool resize) override;
  void CatchUp(const std::vector<TVdbRecordMove>& moves) override;
  // Dead sessions were reclaimed: a transaction one of them left unfinished is rolled back
  // (only a redo log its writer no longer holds opens).
  void HandleHijack();
  TVdbIsolationLevel IsolationLevel() const override { return FEnv.IsolationLevel; }

 private:
  struct TIndexSlot {
    std::u16string Name;
    TVdbIndexKind Kind = tikUnknown;
    std::unique_ptr<TVdbSortDef> Def;
    std::unique_ptr<TVdbClientStorage> Storage;
    std::unique_ptr<TVdbIndexFile> File;
    std::unique_ptr<TVdbIndexKeys> Keys;
    bool Lost = false;
    bool Unsupported = false;  // needs a calculation the table's compiler does not give
    bool Primary = false;
    bool InUse() const noexcept { return !Name.empty(); }
  };

  TIndexSlot& Slot(TVdbIndexNo indexNo);
  const TIndexSlot* FindSlot(TVdbIndexNo indexNo) const;
  TVdbIndexNo FindSlotByName(std::u16string_view name) const;
  // InitIndex: the lowest free slot for `name` with `def` (null: read from the file). 67.
  TVdbIndexNo InitIndex(std::u16string_view name, const TVdbSortDef* def);
  void EnsureKeys(TIndexSlot& s);
  // Builds the index file of slot `indexNo` from the records (ErzeugeIndexFile).
  void BuildIndexFile(TVdbIndexNo indexNo, std::int32_t capacity, const TVdbProgressFunc& progress);
  void CloseSlotQuietly(TIndexSlot& s) noexcept;
  // Frees slot `indexNo`, moving higher slots down; `deleteFile` removes its file.
  void RemoveInd(TVdbIndexNo indexNo, bool deleteFile);
  void WriteIndNames();
  void InitSystemIndexes();
  TVdbIndexNo FindOrInitSystemIndex(std::u16string_view name, const TVdbSortDef& def);
  TVdbSortDef ColumnsDef(const std::vector<std::u16string>& columns, bool unique) const;
  void AnalyzeColumns();
  // ClearDefinitions: columns, keys, checks, foreign keys and what was derived from them.
  void ClearDefinitions();
  void OpenFilesLocked(bool force);
  void CloseFiles() noexcept;
  // Leaves the table's lock file (the last session deletes it); errors go to the last error.
  void LeaveLockFile() noexcept;
  void DropDroppableIndexes();
  bool Writable() const noexcept { return !GetReadOnly(); }
  TVdbClientStorage& NewIndexStorage(TIndexSlot& s);

  // ---- write path helpers (VdbBaseTableWrite.cpp; raising, write lock held)
  struct TBlobField {
    std::int32_t FieldNo;
    TVdbColumnType Type;
  };
  std::vector<TBlobField> BlobFields() const;
  std::vector<std::int32_t> WideFields() const;
  std::int32_t GetBlockRef(std::span<const std::uint8_t> record, std::int32_t fieldNo) const;
  void SetBlockRef(std::span<std::uint8_t> record, std::int32_t fieldNo, std::int32_t block) const;
  // Writes `data` as a new chain of the field's file; 0 for no data.
  std::int32_t WriteFreshChain(const TBlobField& f, std::span<const std::uint8_t> data);
  void FreeChainOf(const TBlobField& f, std::int32_t block);
  // Gives every memo/blob field of `record` its stored value: from `blobs` when given there,
  // else kept when `keepFrom` has the same reference, else copied into a new chain. Returns
  // the chains made (freed again by the caller when the write fails).
  std::vector<std::pair<TBlobField, std::int32_t>> StoreValues(std::span<std::uint8_t> record,
                                                               const TVdbBlobDataList& blobs,
                                                               const std::uint8_t* keepFrom);
  void FreeChainsQuietly(const std::vector<std::pair<TBlobField, std::int32_t>>& chains) noexcept;
  TVdbBlobDataList CollectBlobs(std::span<const std::uint8_t> record);
  void CheckUnique(std::span<const std::uint8_t> record, std::int32_t recNo);
  void CheckRecordRules(std::span<const std::uint8_t> record);
  void RemoveRecordFromIndexes(std::span<const std::uint8_t> record, std::int32_t recNo);
  std::vector<std::uint8_t> ReadStored(std::int32_t recNo);
  // The three changes without checks or logging; `indexes` false leaves the indexes alone
  // (crash recovery rebuilds them), `freeBlocks` false never frees a memo/blob chain.
  std::int32_t InsertLocked(std::span<std::uint8_t> record, const TVdbBlobDataList& blobs, const std::uint8_t* keepFrom,
                            bool indexes);
  void ReplaceLocked(std::int32_t recNo, std::span<std::uint8_t> record, const TVdbBlobDataList& blobs, bool indexes,
                     bool freeBlocks);
  // Deletes `recNo` (moving the last record into the gap); returns the former number of the
  // moved record, 0 when none moved.
  std::int32_t DeleteLocked(std::int32_t recNo, bool indexes, bool freeBlocks);
  // Moves the entries of `record` from `fromRecNo` to `toRecNo` in every index (4 or 5).
  void ReplaceRecordToIndexesMoving(std::span<const std::uint8_t> record, std::int32_t fromRecNo,
                                    std::int32_t toRecNo);
  void StartRedoLog();
  // A write outside a transaction is its own transaction (see VdbBaseTableWrite.cpp).
  class TOwnTransaction;
  bool BeginOwnTransaction();
  void CommitOwnTransaction();
  void AbandonOwnTransaction() noexcept;
  // Drops every unwritten change of the data, memo, blob and index files and rereads their
  // state from the files. Raises.
  void UndoFiles();
  // A flush failed half-way: the files hold part of a change. Drops what the cache holds
  // beyond the files and rolls the change back from its redo log; when that fails too the
  // log stays on disk for the next opening and the table refuses every call until then.
  void RepairFailedFlush(std::unique_ptr<TVdbRedoLog> log, std::int16_t code) noexcept;
  // Replays the redo log backwards; `recovering`: after a crash (see RecoverAbandonedLog).
  void ReplayRedoLog(TVdbRedoLog& log, bool recovering);
  void RebuildBlobFreeLists();
  // Crash recovery in two steps around the opening of the indexes (whose files may hold a
  // half-written state): the records and memo/blob values first, then every index rebuilt
  // from the recovered records and the log erased.
  void RecoverRecords(TVdbRedoLog& log);
  void RecoverIndexes(TVdbRedoLog& log);

  TVdbTableEnvironment& FEnv;
  std::u16string FFileName;
  int FLevel = VDB_NEW_TABLE_LEVEL;
  std::int32_t FCapacity = 10000000;
  std::u16string FCollationName;
  TvuCryptor FCryptor;
  TVdbTypeDefs FTypes;
  TVdbCandidateKeyDefs FKeyDefs;
  TVdbCheckDefs FChecks;
  TVdbForeignKeyDefs FForeignKeyDefs;
  std::unique_ptr<TVdbDataFile> FDataFile;
  std::unique_ptr<TVdbMemoFile> FMemo;
  std::unique_ptr<TVdbBlobFile> FBlob;
  std::vector<TIndexSlot> FIndexes;
  TVdbTableLocks FLocks;
  bool FIsRelFile = false;
  std::uint32_t FFlushCounter = 0;
  std::unique_ptr<TVdbRedoLog> FRedoLog;
  // A record number a caller took before the write's lock was taken is carried over the
  // moves other sessions' deletes made meanwhile (caught up while taking the lock); 0 when
  // its record was deleted. FMovesSeen lists the moves caught up since the table last
  // counted no lock.
  std::size_t MovesSeenMark();
  std::int32_t FollowMoves(std::int32_t recNo, std::size_t from) const;
  std::vector<TVdbRecordMove> FMovesSeen;
  // Record moves of the running transaction, published to other sessions at its commit.
  std::vector<TVdbRecordMove> FPendingMoves;
  bool FRollingBack = false;
  bool FTemporary = false;
  // CatchUp is running (it reads under the table's lock and may be reached again).
  bool FUpdating = false;
  IVdbIntegrityRules* FIntegrity = nullptr;
  // Kinds of texts that writing needs compiled but that the table's compiler did not compile.
  std::vector<std::u16string> FMissingCalculations;
  // The compiled check constraints, evaluated on every write.
  std::vector<std::unique_ptr<IVdbCondition>> FCheckConditions;
  // Default values and computed columns: column number, purposes and the compiled expression.
  struct TColumnCalculation {
    int Column = 0;
    TVdbCalculationPurposes Purposes = 0;
    std::unique_ptr<IVdbCalculation> Calculation;
  };
  std::vector<TColumnCalculation> FColumnCalculations;
  // Writes the value of every calculation serving one of `purposes` into `record`.
  void ApplyCalculations(std::span<std::uint8_t> record, TVdbCalculationPurposes purposes);
};

}  // namespace vdb
