// The record write path of the stored table: append, replace, delete and emptying with index
// and memo/blob maintenance, the redo log of transactions, rollback and crash recovery.
//
// Order of a write: upgrade lock → checks → write lock → redo entry → memo/blob values →
// indexes and data file → (outside a transaction) flush and log erased → listeners → locks
// released.
//
// Durability. A write outside a transaction is its own transaction: its undo entry goes to a
// redo log of its own, every page it changed is handed to the operating system (and in the
// secure flush mode forced to the device, the log first) before the call returns, and only
// then is the log erased. A process killed at any moment leaves either the whole change,
// or a log that the next opening uses to undo the part that reached the files. The delayed
// release of the table lock keeps the lock, never the data. A transaction's pages reach the
// files at its commit (or earlier, when a lock is given up early), always after its log. Every step that
// fails undoes the steps before it, so a failed write leaves the table as it was; memo/blob
// chains a record no longer needs are freed only after the record no longer refers to them.
//
// A delete that moves the last record into the gap is logged as the delete of the last
// record followed by an update of the gap (the deleted record). Each of the two is undone on
// its own and only when it is still to be undone, so a crash between any two writes of the
// move can be rolled back; undone backwards, the gap gets its record back before the moved
// record is appended again, so no state of the replay holds one record twice (which a unique
// index would refuse).
#include <algorithm>
#include <cstring>

#include "base/VdbErrorCodes.h"
#include "storage/VdbHeapDataFile.h"
#include "storage/VdbTreeBase.h"
#include "tables/VdbBaseTable.h"

namespace vdb {

namespace {

constexpr std::uint16_t kRightReplace = 0x0002;
// Packed date of 1 January of year 1.
constexpr std::int64_t kFirstDate = 545;

enum class TLockKind { lkUpgrade, lkWrite };

// Holds a table lock for one write; released on every way out.
class TWriteLockScope {
 public:
  TWriteLockScope(TVdbRelation& r, TLockKind kind) : FRelation(r), FKind(kind) {
    CheckInternal(kind == TLockKind::lkUpgrade ? r.BeginUpgrade(true) : r.BeginWrite(true));
  }
  ~TWriteLockScope() {
    if (FKind == TLockKind::lkUpgrade) {
      static_cast<void>(FRelation.EndUpgrade());
    } else {
      static_cast<void>(FRelation.EndWrite());
    }
  }
  TWriteLockScope(const TWriteLockScope&) = delete;
  TWriteLockScope& operator=(const TWriteLockScope&) = delete;

 private:
  TVdbRelation& FRelation;
  TLockKind FKind;
};

std::u16string NumberText(std::int64_t n) { return VdbUtf8ToUtf16(std::to_string(n)); }

const TVdbBlobData* FindBlob(const TVdbBlobDataList& blobs, std::int32_t fieldNo) {
  for (const TVdbBlobData& b : blobs) {
    if (b.FieldNo == fieldNo) return &b;
  }
  return nullptr;
}

}  // namespace

// ---- locks

std::int16_t TVdbBaseTable::BeginWrite(bool wait) {
  const std::int16_t r = FLocks.BeginWrite(wait);
  if (r < 0 || FRedoLog || FRollingBack || FTemporary || FEnv.IsolationLevel == tilNone) return r;
  const std::int16_t started = Guard([&] { StartRedoLog(); });
  if (started < 0) {
    static_cast<void>(FLocks.EndWrite());
    return started;
  }
  return r;
}

void TVdbBaseTable::StartRedoLog() {
  auto log = std::make_unique<TVdbRedoLog>(FEnv.FileSystem, FFileName, FLevel, FIsRelFile, GetRecordSize(),
                                           (FRights & kVdbRightDeepFlush) != 0);
  log->NewFile();
  FRedoLog = std::move(log);
}

// ---- writes outside a transaction

class TVdbBaseTable::TOwnTransaction {
 public:
  // Write lock held; starts a log unless a transaction (or a rollback) has one already.
  explicit TOwnTransaction(TVdbBaseTable& t) : FTable(t), FOwned(t.BeginOwnTransaction()) {}
  ~TOwnTransaction() {
    if (FOwned) FTable.AbandonOwnTransaction();
  }
  TOwnTransaction(const TOwnTransaction&) = delete;
  TOwnTransaction& operator=(const TOwnTransaction&) = delete;
  // The change is complete: it reaches the files, then its log goes. Raises 3.
  void Commit() {
    if (!FOwned) return;
    FOwned = false;
    FTable.CommitOwnTransaction();
  }

 private:
  TVdbBaseTable& FTable;
  bool FOwned;
};

bool TVdbBaseTable::BeginOwnTransaction() {
  if (FRedoLog || FRollingBack || FTemporary) return false;
  StartRedoLog();
  return true;
}

void TVdbBaseTable::CommitOwnTransaction() {
  try {
    Flush(false);
  } catch (const EVdbEngine& e) {
    RepairFailedFlush(std::move(FRedoLog), e.Code());
    throw;
  }
  std::unique_ptr<TVdbRedoLog> log = std::move(FRedoLog);
  log->Erase();
}

void TVdbBaseTable::AbandonOwnTransaction() noexcept {
  // Nothing of a write outside a transaction reaches the files before its commit, so the
  // files hold the state before it: the cache drops what the failed write left there (a
  // half-split index page as well as what its own undo steps restored).
  std::unique_ptr<TVdbRedoLog> log = std::move(FRedoLog);
  try {
    UndoFiles();
  } catch (const EVdbEngine& e) {
    log->Close();
    FLocks.SetBroken(e.Code());
    return;
  }
  try {
    log->Erase();
  } catch (const EVdbEngine&) {
    // The write's own failure is reported; a log left behind describes a change that never
    // reached the files, and undoing it restores what they hold.
  }
}

void TVdbBaseTable::UndoFiles() {
  FDataFile->Undo();
  if (FMemo) FMemo->Undo();
  if (FBlob) FBlob->Undo();
  for (TIndexSlot& s : FIndexes) {
    if (s.InUse() && s.File->IsOpen()) s.File->Undo();
  }
}

void TVdbBaseTable::RepairFailedFlush(std::unique_ptr<TVdbRedoLog> log, std::int16_t code) noexcept {
  if (!log) {
    FLocks.SetBroken(code);
    return;
  }
  try {
    log->Sync();
    UndoFiles();
    RecoverRecords(*log);
    RecoverIndexes(*log);
  } catch (...) {
    log->Close();
    FLocks.SetBroken(code);
  }
}

// ---- memo and blob values

std::vector<TVdbBaseTable::TBlobField> TVdbBaseTable::BlobFields() const {
  std::vector<TBlobField> fields;
  for (int c = 0; c < FColumnDefs.GetCount(); ++c) {
    const TVdbColumnType t = FColumnDefs.GetColumnDef(c).ColumnType();
    if (t == vctMemo || t == vctWideMemo || t == vctBlob) fields.push_back({c + 1, t});
  }
  return fields;
}

std::vector<std::int32_t> TVdbBaseTable::WideFields() const {
  std::vector<std::int32_t> wide;
  for (const TBlobField& f : BlobFields()) {
    if (f.Type == vctWideMemo) wide.push_back(f.FieldNo);
  }
  return wide;
}

std::int32_t TVdbBaseTable::GetBlockRef(std::span<const std::uint8_t> record, std::int32_t fieldNo) const {
  const TVdbColumnDef& col = FColumnDefs.GetColumnDef(fieldNo - 1);
  std::vector<std::uint8_t> copy(record.begin(), record.end());
  TVdbDataValue v;
  col.DataType()->SetReference(v, copy, static_cast<std::size_t>(col.Position()));
  if (col.DataType()->IsNull(v)) return 0;
  const auto block = static_cast<std::int32_t>(col.DataType()->GetInteger(v));
  return block > 0 ? block : 0;
}

void TVdbBaseTable::SetBlockRef(std::span<std::uint8_t> record, std::int32_t fieldNo, std::int32_t block) const {
  const TVdbColumnDef& col = FColumnDefs.GetColumnDef(fieldNo - 1);
  TVdbDataValue v;
  col.DataType()->SetReference(v, record, static_cast<std::size_t>(col.Position()));
  if (block > 0) {
    col.DataType()->SetInteger(v, block);
  } else {
    col.DataType()->SetNull(v);
  }
}

std::int32_t TVdbBaseTable::WriteFreshChain(const TBlobField& f, std::span<const std::uint8_t> data) {
  if (data.empty()) return 0;
  if (f.Type == vctMemo) {
    if (!FMemo) RaiseEngineError(errMemoFileOpen, {FileNames().MemoFile()});
    return FMemo->WriteString(0, std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
  }
  if (!FBlob) RaiseEngineError(errBlobFileOpen, {FileNames().BlobFile()});
  return FBlob->WriteData(0, data);
}

void TVdbBaseTable::FreeChainOf(const TBlobField& f, std::int32_t block) {
  if (block <= 0) return;
  if (f.Type == vctMemo) {
    if (!FMemo) RaiseEngineError(errMemoFileOpen, {FileNames().MemoFile()});
    FMemo->FreeChain(block);
  } else {
    if (!FBlob) RaiseEngineError(errBlobFileOpen, {FileNames().BlobFile()});
    FBlob->FreeChain(block);
  }
}

void TVdbBaseTable::FreeChainsQuietly(const std::vector<std::pair<TBlobField, std::int32_t>>& chains) noexcept {
  for (const auto& [field, block] : chains) {
    try {
      FreeChainOf(field, block);
    } catch (const EVdbEngine&) {
      // Undoing a failed write: the write's own error is the one reported; a chain that
      // cannot be freed stays allocated and unreferenced, which the check reports.
    }
  }
}

std::vector<std::uint8_t> TVdbBaseTable::ReadBlobValue(std::span<const std::uint8_t> record, std::int32_t fieldNo) {
  const std::int32_t block = GetBlockRef(record, fieldNo);
  if (block <= 0) return {};
  if (FColumnDefs.GetColumnDef(fieldNo - 1).ColumnType() == vctMemo) {
    if (!FMemo) RaiseEngineError(errMemoFileOpen, {FileNames().MemoFile()});
    const std::string text = FMemo->ReadMemo(block);
    return {text.begin(), text.end()};
  }
  if (!FBlob) RaiseEngineError(errBlobFileOpen, {FileNames().BlobFile()});
  return FBlob->ReadData(block);
}

TVdbBlobDataList TVdbBaseTable::CollectBlobs(std::span<const std::uint8_t> record) {
  TVdbBlobDataList list;
  for (const TBlobField& f : BlobFields()) {
    std::vector<std::uint8_t> data = ReadBlobValue(record, f.FieldNo);
    if (!data.empty()) list.push_back(TVdbBlobData{f.FieldNo, std::move(data), false});
  }
  return list;
}

std::vector<std::pair<TVdbBaseTable::TBlobField, std::int32_t>> TVdbBaseTable::StoreValues(
    std::span<std::uint8_t> record, const TVdbBlobDataList& blobs, const std::uint8_t* keepFrom) {
  std::vector<std::pair<TBlobField, std::int32_t>> made;
  try {
    for (const TBlobField& f : BlobFields()) {
      std::int32_t block = 0;
      if (const TVdbBlobData* given = FindBlob(blobs, f.FieldNo)) {
        block = WriteFreshChain(f, given->Data);
      } else {
        const std::int32_t ref = GetBlockRef(record, f.FieldNo);
        if (ref == 0) continue;
        const bool owned =
            keepFrom != nullptr &&
            GetBlockRef(std::span<const std::uint8_t>(keepFrom, static_cast<std::size_t>(GetRecordSize())), f.FieldNo) ==
                ref;
        if (owned) continue;
        // A reference the record does not own would let two records share one chain.
        block = WriteFreshChain(f, ReadBlobValue(record, f.FieldNo));
      }
      if (block > 0) made.emplace_back(f, block);
      SetBlockRef(record, f.FieldNo, block);
    }
  } catch (const EVdbEngine&) {
    FreeChainsQuietly(made);
    throw;
  }
  return made;
}

void TVdbBaseTable::WriteMemoString(std::span<std::uint8_t> record, std::int32_t fieldNo, std::string_view text) {
  if (!FMemo) RaiseEngineError(errMemoFileOpen, {FileNames().MemoFile()});
  SetBlockRef(record, fieldNo, FMemo->WriteString(GetBlockRef(record, fieldNo), text));
}

void TVdbBaseTable::WriteBlobData(std::span<std::uint8_t> record, std::int32_t fieldNo,
                                  std::span<const std::uint8_t> data) {
  if (!FBlob) RaiseEngineError(errBlobFileOpen, {FileNames().BlobFile()});
  SetBlockRef(record, fieldNo, FBlob->WriteData(GetBlockRef(record, fieldNo), data));
}

void TVdbBaseTable::WriteBlobDataWide(std::span<std::uint8_t> record, std::int32_t fieldNo,
                                      std::u16string_view text) {
  if (!FBlob) RaiseEngineError(errBlobFileOpen, {FileNames().BlobFile()});
  SetBlockRef(record, fieldNo, FBlob->WriteString(GetBlockRef(record, fieldNo), text));
}

// ---- records and indexes

void TVdbBaseTable::InitRecord(std::span<std::uint8_t> recBuffer, bool preset) {
  std::fill(recBuffer.begin(), recBuffer.end(), std::uint8_t{0});
  for (int c = 0; c < FColumnDefs.GetCount(); ++c) {
    const TVdbColumnDef& col = FColumnDefs.GetColumnDef(c);
    if (col.Nullable() || (col.ColumnType() != vctDate && col.ColumnType() != vctTimeStamp)) continue;
    TVdbDataValue v;
    col.DataType()->SetReference(v, recBuffer, static_cast<std::size_t>(col.Position()));
    if (col.ColumnType() == vctDate) {
      col.DataType()->SetDate(v, static_cast<TVdbPackedDate>(kFirstDate));
    } else {
      col.DataType()->SetTimeStamp(v, TVdbTimeStamp{static_cast<TVdbPackedDate>(kFirstDate), 0});
    }
  }
  if (preset && HasRecordId()) CheckInternal(SetAutoNum(recBuffer));
  if (preset) ApplyCalculations(recBuffer, clpInitialization | clpAppending | clpUpdating);
}

void TVdbBaseTable::ApplyCalculations(std::span<std::uint8_t> record, TVdbCalculationPurposes purposes) {
  for (const TColumnCalculation& c : FColumnCalculations) {
    if ((c.Purposes & purposes) != 0) c.Calculation->Apply(record, FColumnDefs.GetColumnDef(c.Column));
  }
}

std::vector<std::uint8_t> TVdbBaseTable::ReadStored(std::int32_t recNo) {
  std::vector<std::uint8_t> record(static_cast<std::size_t>(GetRecordSize()), 0);
  FDataFile->ReadRecord(recNo, std::span<std::uint8_t>(record).first(FDataFile->RecordSize()));
  return record;
}

void TVdbBaseTable::AddRecordToIndexes(std::span<const std::uint8_t> record, std::int32_t recNo) {
  std::vector<std::uint8_t> entry;
  TVdbIndexNo done = 0;
  try {
    for (; done <= FLastIndexNo; ++done) {
      TVdbIndexKeys& keys = GetIndexKeys(done);
      const std::int32_t size = keys.BuildEntry(record, recNo, entry);
      GetIndexFile(done).Add_Index(std::span<const std::uint8_t>(entry).first(static_cast<std::size_t>(size)));
    }
  } catch (const EVdbEngine& e) {
    for (TVdbIndexNo i = 0; i < done; ++i) {
      try {
        const std::int32_t size = GetIndexKeys(i).BuildEntry(record, recNo, entry);
        GetIndexFile(i).Loesche_Index(std::span<const std::uint8_t>(entry).first(static_cast<std::size_t>(size)));
      } catch (const EVdbEngine&) {
        // The refusal is what the caller hears about; the check reports a leftover entry.
      }
    }
    if (e.Code() == errNotUnique || e.Code() == errIndexInsert) throw;
    RaiseEngineError(errIndexInsert, {GetIndexName(done)});
  }
}

void TVdbBaseTable::RemoveRecordFromIndexes(std::span<const std::uint8_t> record, std::int32_t recNo) {
  std::vector<std::uint8_t> entry;
  TVdbIndexNo done = 0;
  try {
    for (; done <= FLastIndexNo; ++done) {
      const std::int32_t size = GetIndexKeys(done).BuildEntry(record, recNo, entry);
      if (GetIndexFile(done).Loesche_Index(std::span<const std::uint8_t>(entry).first(static_cast<std::size_t>(size))) !=
          0) {
        RaiseEngineError(errIndexDelete, {GetIndexName(done)});
      }
    }
  } catch (const EVdbEngine& e) {
    for (TVdbIndexNo i = 0; i < done; ++i) {
      try {
        const std::int32_t size = GetIndexKeys(i).BuildEntry(record, recNo, entry);
        GetIndexFile(i).Add_Index(std::span<const std::uint8_t>(entry).first(static_cast<std::size_t>(size)));
      } catch (const EVdbEngine&) {
        // See AddRecordToIndexes.
      }
    }
    if (e.Code() == errIndexDelete) throw;
    RaiseEngineError(errIndexDelete, {GetIndexName(done)});
  }
}

void TVdbBaseTable::ReplaceRecordToIndexes(std::span<const std::uint8_t> record,
                                           std::span<const std::uint8_t> origRecord, std::int32_t recNo) {
  struct TMove {
    TVdbIndexNo Index;
    std::vector<std::uint8_t> Old, New;
    bool Deleted = false, Inserted = false;
  };
  std::vector<TMove> moves;
  std::vector<std::uint8_t> oldEntry, newEntry;
  for (TVdbIndexNo i = 0; i <= FLastIndexNo; ++i) {
    TVdbIndexKeys& keys = GetIndexKeys(i);
    oldEntry.resize(static_cast<std::size_t>(keys.BuildEntry(origRecord, recNo, oldEntry)));
    newEntry.resize(static_cast<std::size_t>(keys.BuildEntry(record, recNo, newEntry)));
    if (oldEntry == newEntry) continue;
    moves.push_back(TMove{i, oldEntry, newEntry});
  }
  std::int16_t failure = 0;
  std::u16string failedIndex;
  for (TMove& m : moves) {
    TVdbIndexFile& file = GetIndexFile(m.Index);
    try {
      if (file.Loesche_Index(m.Old) != 0) {
        failure = errIndexDelete;
      } else {
        m.Deleted = true;
        file.Add_Index(m.New);
        m.Inserted = true;
      }
    } catch (const EVdbEngine&) {
      failure = m.Deleted ? errIndexInsert : errIndexDelete;
    }
    if (failure != 0) {
      failedIndex = GetIndexName(m.Index);
      break;
    }
  }
  if (failure == 0) return;
  for (TMove& m : moves) {
    try {
      TVdbIndexFile& file = GetIndexFile(m.Index);
      if (m.Inserted) file.Loesche_Index(m.New);
      if (m.Deleted) file.Add_Index(m.Old);
    } catch (const EVdbEngine&) {
      // The index move's own failure is reported; the check reports what stayed behind.
    }
  }
  RaiseEngineError(failure, {failedIndex});
}

void TVdbBaseTable::CheckUnique(std::span<const std::uint8_t> record, std::int32_t recNo) {
  std::vector<std::uint8_t> entry, key;
  for (TVdbIndexNo i = 0; i <= FLastIndexNo; ++i) {
    const TIndexSlot& s = Slot(i);
    const bool mustBeUnique = s.Primary || (s.Def && s.Def->IsUnique) || (s.File->IsOpen() && s.File->GetMustBeUnique());
    if (!mustBeUnique) continue;
    try {
      CheckIndexOpen(i);
    } catch (const EVdbEngine&) {
      RaiseEngineError(errIndexCorrupt, {s.Name});
    }
    TVdbIndexKeys& keys = GetIndexKeys(i);
    entry.resize(static_cast<std::size_t>(keys.BuildEntry(record, recNo, entry)));
    key = entry;
    VdbSetEntryRecNo(key, 0);
    if (GetIndexFile(i).Suche_Index(key) != 0) continue;
    if (keys.IsSameKey(key, entry) && VdbEntryRecNo(key) != recNo) {
      const TVdbSortDef* def = GetIndexDef(i);
      RaiseEngineError(errNotUnique, {def ? def->CalcSpecification(FColumnDefs, true, false, 0, false) : s.Name});
    }
  }
}

void TVdbBaseTable::CheckRecordRules(std::span<const std::uint8_t> record) {
  // Check constraints and computed columns need compiled conditions; without them the write
  // is refused (187) rather than stored unchecked.
  RequireRecordWriteSupport();
  for (const auto& check : FCheckConditions) {
    if (!check->Holds(record)) RaiseEngineError(errConstraintViolated, {check->Text()});
  }
  if (FForeignKeyDefs.GetCount() > 0) {
    if (FIntegrity == nullptr) RaiseEngineError(errNotSupported, {u"referential integrity (table \"" + GetName() + u"\")"});
    FIntegrity->CheckReferences(*this, record);
  }
}

// ---- the three changes

std::int32_t TVdbBaseTable::InsertLocked(std::span<std::uint8_t> record, const TVdbBlobDataList& blobs,
                                         const std::uint8_t* keepFrom, bool indexes) {
  if (!FDataFile->CanAppend()) RaiseEngineError(errCapacityReached, {GetName()});
  const std::int32_t recNo = FDataFile->GetRecordCount() + 1;
  const auto made = StoreValues(record, blobs, keepFrom);
  try {
    if (indexes) AddRecordToIndexes(record, recNo);
    try {
      const std::int32_t stored = FDataFile->InsertRecord(record);
      if (stored != recNo) RaiseEngineError(errFileWrite, {FFileName});
    } catch (const EVdbEngine&) {
      if (indexes) {
        try {
          RemoveRecordFromIndexes(record, recNo);
        } catch (const EVdbEngine&) {
          // The insert's failure is reported; the check finds what stayed.
        }
      }
      throw;
    }
  } catch (const EVdbEngine&) {
    FreeChainsQuietly(made);
    throw;
  }
  return recNo;
}

void TVdbBaseTable::ReplaceLocked(std::int32_t recNo, std::span<std::uint8_t> record, const TVdbBlobDataList& blobs,
                                  bool indexes, bool freeBlocks) {
  const std::vector<std::uint8_t> old = ReadStored(recNo);
  const auto made = StoreValues(record, blobs, old.data());
  try {
    FDataFile->WriteRecord(recNo, record);
    if (indexes) {
      try {
        ReplaceRecordToIndexes(record, old, recNo);
      } catch (const EVdbEngine&) {
        FDataFile->WriteRecord(recNo, old);
        throw;
      }
    }
  } catch (const EVdbEngine&) {
    FreeChainsQuietly(made);
    throw;
  }
  if (!freeBlocks) return;
  // The new record is written: chains only the old one used can go now.
  for (const TBlobField& f : BlobFields()) {
    const std::int32_t before = GetBlockRef(old, f.FieldNo);
    if (before != 0 && before != GetBlockRef(record, f.FieldNo)) FreeChainOf(f, before);
  }
}

std::int32_t TVdbBaseTable::DeleteLocked(std::int32_t recNo, bool indexes, bool freeBlocks) {
  const std::int32_t last = FDataFile->GetRecordCount();
  const std::vector<std::uint8_t> deleted = ReadStored(recNo);
  const bool move = recNo < last && !FDataFile->CanDelete();
  std::vector<std::uint8_t> moved;
  if (indexes) RemoveRecordFromIndexes(deleted, recNo);
  try {
    if (move) {
      moved = ReadStored(last);
      if (indexes) ReplaceRecordToIndexesMoving(moved, last, recNo);
      try {
        FDataFile->WriteRecord(recNo, moved);
        FDataFile->DeleteRecord(last);
      } catch (const EVdbEngine&) {
        FDataFile->WriteRecord(recNo, deleted);
        if (indexes) {
          try {
            ReplaceRecordToIndexesMoving(moved, recNo, last);
          } catch (const EVdbEngine&) {
            // The delete's own failure is reported.
          }
        }
        throw;
      }
    } else {
      FDataFile->DeleteRecord(recNo);
    }
  } catch (const EVdbEngine&) {
    if (indexes) {
      try {
        AddRecordToIndexes(deleted, recNo);
      } catch (const EVdbEngine&) {
        // The delete's own failure is reported.
      }
    }
    throw;
  }
  if (freeBlocks) {
    // The record is gone: its chains can be freed now.
    for (const TBlobField& f : BlobFields()) FreeChainOf(f, GetBlockRef(deleted, f.FieldNo));
  }
  return move ? last : 0;
}

void TVdbBaseTable::ReplaceRecordToIndexesMoving(std::span<const std::uint8_t> record, std::int32_t fromRecNo,
                                                 std::int32_t toRecNo) {
  std::vector<std::uint8_t> from, to;
  TVdbIndexNo done = 0;
  try {
    for (; done <= FLastIndexNo; ++done) {
      TVdbIndexKeys& keys = GetIndexKeys(done);
      from.resize(static_cast<std::size_t>(keys.BuildEntry(record, fromRecNo, from)));
      to.resize(static_cast<std::size_t>(keys.BuildEntry(record, toRecNo, to)));
      TVdbIndexFile& file = GetIndexFile(done);
      if (file.Loesche_Index(from) != 0) RaiseEngineError(errIndexDelete, {GetIndexName(done)});
      try {
        file.Add_Index(to);
      } catch (const EVdbEngine&) {
        file.Add_Index(from);
        RaiseEngineError(errIndexInsert, {GetIndexName(done)});
      }
    }
  } catch (const EVdbEngine&) {
    for (TVdbIndexNo i = 0; i < done; ++i) {
      try {
        TVdbIndexKeys& keys = GetIndexKeys(i);
        from.resize(static_cast<std::size_t>(keys.BuildEntry(record, fromRecNo, from)));
        to.resize(static_cast<std::size_t>(keys.BuildEntry(record, toRecNo, to)));
        GetIndexFile(i).Loesche_Index(to);
        GetIndexFile(i).Add_Index(from);
      } catch (const EVdbEngine&) {
        // See AddRecordToIndexes.
      }
    }
    throw;
  }
}

// ---- public writes

std::int32_t TVdbBaseTable::AppendRecord(std::span<std::uint8_t> recBuffer, const TVdbBlobDataList& blobs) {
  return Guard([&]() -> std::int32_t {
    if (!GetActive()) RaiseEngineError(errFileNotFoundOrDenied, {FFileName});
    if ((FRights & kVdbRightModify) == 0) RaiseEngineError(errPermissionDenied);
    if (recBuffer.size() < static_cast<std::size_t>(GetRecordSize())) RaiseEngineError(errInvalidParameterValue);
    std::span<std::uint8_t> record = recBuffer.first(static_cast<std::size_t>(GetRecordSize()));
    TWriteLockScope upgrade(*this, TLockKind::lkUpgrade);
    if (!FDataFile->CanAppend()) RaiseEngineError(errCapacityReached, {GetName()});
    if (!FRollingBack) {
      ApplyCalculations(record, clpAppending | clpUpdating);
      CheckUnique(record, FDataFile->GetRecordCount() + 1);
      CheckRecordRules(record);
    }
    TWriteLockScope write(*this, TLockKind::lkWrite);
    TOwnTransaction own(*this);
    // The undo entry is written before anything it undoes can reach the files.
    if (FRedoLog && !FRollingBack) FRedoLog->LogInsert(FDataFile->GetRecordCount() + 1);
    const std::int32_t recNo = InsertLocked(record, blobs, nullptr, true);
    own.Commit();
    NotifyRelationChanged();
    return recNo;
  });
}

std::size_t TVdbBaseTable::MovesSeenMark() {
  // Nobody can be carrying a number over the moves while the table counts no lock.
  if (FLocks.CountReadLocks() == 0 && FLocks.CountUpgradeLocks() == 0 && FLocks.CountWriteLocks() == 0) {
    FMovesSeen.clear();
  }
  return FMovesSeen.size();
}

std::int32_t TVdbBaseTable::FollowMoves(std::int32_t recNo, std::size_t from) const {
  for (std::size_t i = from; i < FMovesSeen.size(); ++i) {
    const TVdbRecordMove& m = FMovesSeen[i];
    if (recNo == m.To) return 0;  // deleted by the other session
    if (recNo == m.From) recNo = m.To;
  }
  return recNo;
}

std::int16_t TVdbBaseTable::ReplaceRecord(std::span<std::uint8_t> recBuffer, std::span<const std::uint8_t> origRecBuffer,
                                          const TVdbBlobDataList& blobs, std::int32_t recNo) {
  static_cast<void>(origRecBuffer);
  return Guard([&] {
    if (!GetActive()) RaiseEngineError(errFileNotFoundOrDenied, {FFileName});
    if ((FRights & kRightReplace) == 0) RaiseEngineError(errNoWritePermission, {GetName()});
    if (recBuffer.size() < static_cast<std::size_t>(GetRecordSize())) RaiseEngineError(errInvalidParameterValue);
    std::span<std::uint8_t> record = recBuffer.first(static_cast<std::size_t>(GetRecordSize()));
    const std::size_t movesBefore = MovesSeenMark();
    TWriteLockScope upgrade(*this, TLockKind::lkUpgrade);
    recNo = FollowMoves(recNo, movesBefore);
    if (recNo < 1 || recNo > FDataFile->GetRecordCount()) RaiseEngineError(errRecordNotFound, {NumberText(recNo)});
    const std::vector<std::uint8_t> old = ReadStored(recNo);
    if (!FRollingBack) {
      ApplyCalculations(record, clpUpdating);
      CheckUnique(record, recNo);
      CheckRecordRules(record);
      if (FIntegrity) FIntegrity->BeforeUpdate(*this, old, record);
    }
    {
      // The first write lock of a transaction starts the log: only then is it known.
      TWriteLockScope write(*this, TLockKind::lkWrite);
      TOwnTransaction own(*this);
      if (FRedoLog && !FRollingBack) FRedoLog->LogUpdate(recNo, old, CollectBlobs(old), WideFields());
      ReplaceLocked(recNo, record, blobs, true, true);
      own.Commit();
      NotifyRecordChanged(recNo);
    }
    if (!FRollingBack && FIntegrity) FIntegrity->AfterUpdate(*this, old, record);
  });
}

std::int16_t TVdbBaseTable::DeleteRecord(std::span<const std::uint8_t> recBuffer, std::int32_t recNo) {
  static_cast<void>(recBuffer);
  return Guard([&] {
    if (!GetActive()) RaiseEngineError(errFileNotFoundOrDenied, {FFileName});
    const std::size_t movesBefore = MovesSeenMark();
    TWriteLockScope upgrade(*this, TLockKind::lkUpgrade);
    recNo = FollowMoves(recNo, movesBefore);
    if (recNo < 1 || recNo > FDataFile->GetRecordCount()) RaiseEngineError(errRecordNotFound, {NumberText(recNo)});
    CheckInternal(CheckEdit(recNo, nullptr));
    CheckInternal(EndEdit(recNo));
    const std::vector<std::uint8_t> deleted = ReadStored(recNo);
    if (!FRollingBack && FIntegrity) FIntegrity->BeforeDelete(*this, deleted);
    std::int32_t moved = 0;
    {
      TWriteLockScope write(*this, TLockKind::lkWrite);
      TOwnTransaction own(*this);
      if (FRedoLog && !FRollingBack) {
        const std::int32_t last = FDataFile->GetRecordCount();
        if (recNo < last && !FDataFile->CanDelete()) {
          // The move is logged as its two halves; see the file comment.
          const std::vector<std::uint8_t> lastRecord = ReadStored(last);
          const TVdbBlobDataList deletedBlobs = CollectBlobs(deleted);
          const TVdbBlobDataList lastBlobs = CollectBlobs(lastRecord);
          FRedoLog->LogDelete(last, lastRecord, lastBlobs, WideFields());
          FRedoLog->LogUpdate(recNo, deleted, deletedBlobs, WideFields());
        } else {
          FRedoLog->LogDelete(recNo, deleted, CollectBlobs(deleted), WideFields());
        }
      }
      moved = DeleteLocked(recNo, true, true);
      own.Commit();
      NotifyRecordDeleted(recNo, moved);
      // Other sessions learn the renumbering at their next lock; a transaction's moves only
      // once it commits (a rollback restores the numbering they would describe).
      const TVdbRecordMove move{recNo, moved > 0 ? moved : recNo};
      if (FEnv.IsolationLevel != tilNone) {
        FPendingMoves.push_back(move);
      } else {
        FLocks.AddRecordMove(move.From, move.To);
      }
      // This station's edit lock follows the moved record.
      if (moved > 0) SwitchEdit(moved, recNo);
    }
    if (!FRollingBack && FIntegrity) FIntegrity->AfterDelete(*this, deleted);
  });
}

std::int32_t TVdbBaseTable::ClearDat() {
  return Guard([&]() -> std::int32_t {
    if (!GetActive()) RaiseEngineError(errFileNotFoundOrDenied, {FFileName});
    // Every index must be there to be emptied with the records, or nothing is emptied.
    RequireRecordWriteSupport();
    TWriteLockScope write(*this, TLockKind::lkWrite);
    for (TVdbIndexNo i = 0; i <= FLastIndexNo; ++i) CheckIndexOpen(i);
    const std::int32_t count = FDataFile->GetRecordCount();
    if (FRedoLog && !FRollingBack) {
      // Logged as deletes of the last record, so that a rollback appends them in order again.
      for (std::int32_t r = count; r >= 1; --r) {
        const std::vector<std::uint8_t> record = ReadStored(r);
        FRedoLog->LogDelete(r, record, CollectBlobs(record), WideFields());
      }
    }
    FDataFile->Clear();
    if (HasRecordId()) FDataFile->SetNextRecordId(1);
    if (FMemo) FMemo->Empty();
    if (FBlob) FBlob->Empty();
    for (TVdbIndexNo i = 0; i <= FLastIndexNo; ++i) GetIndexFile(i).Clear_Index();
    Flush(true);
    NotifyRelationEmptied();
    return count;
  });
}

// ---- transactions

std::int16_t TVdbBaseTable::CommitModifications() {
  return Guard([&] {
    if (!FRedoLog) return;
    // The changes are on the files (and on the device with the deep-flush right) before the
    // log that could undo them goes.
    Flush(true);
    FRedoLog->Erase();
    FRedoLog.reset();
    std::vector<TVdbRecordMove> moves = std::move(FPendingMoves);
    FPendingMoves.clear();
    for (const TVdbRecordMove& m : moves) FLocks.AddRecordMove(m.From, m.To);
  });
}

std::int16_t TVdbBaseTable::UndoModifications() {
  return Guard([&] {
    FPendingMoves.clear();
    if (!FRedoLog) return;
    std::unique_ptr<TVdbRedoLog> log = std::move(FRedoLog);
    FRollingBack = true;
    try {
      TWriteLockScope write(*this, TLockKind::lkWrite);
      ReplayRedoLog(*log, false);
      Flush(true);
    } catch (const EVdbEngine&) {
      FRollingBack = false;
      // Kept on disk: the next opening of the table finishes the rollback.
      log->Close();
      throw;
    }
    FRollingBack = false;
    log->Erase();
  });
}

void TVdbBaseTable::ReplayRedoLog(TVdbRedoLog& log, bool recovering) {
  // Each entry is undone by restoring what the change found: an insert of record r found r - 1
  // records; an update of r found the logged record in slot r; a delete of r (always the last
  // record: a moved delete is logged as its two halves) found r records, the last one logged.
  // Restoring that state instead of reversing the change is what makes the replay right
  // whatever part of the transaction reached the files before a crash.
  const bool live = !recovering;
  std::vector<std::uint8_t> record;
  const auto dropLast = [&] {
    const std::int32_t last = FDataFile->GetRecordCount();
    DeleteLocked(last, live, live);
    if (live) NotifyRecordDeleted(last, 0);
  };
  // An entry and its memo/blob values are written in one go; a writer killed in the middle of
  // that write can leave the record entry without the values after it (the write stopped at a
  // page boundary). The change was never made then, and the entry is dropped: restoring it
  // would bring the record back without its note.
  const auto blobs = BlobFields();
  const auto valuesComplete = [&] {
    const std::vector<std::uint8_t>& logged = log.LastActionRecBuffer();
    for (const TBlobField& f : blobs) {
      if (GetBlockRef(logged, f.FieldNo) == 0) continue;
      if (FindBlob(log.LastActionBlobs(), f.FieldNo) == nullptr) return false;
    }
    return true;
  };
  bool tail = recovering && log.MayBeTorn();
  while (log.ReadPriorAction()) {
    const std::int32_t recNo = log.LastActionRecordNo();
    if (recNo < 1) RaiseEngineError(errFileRead, {log.FileName()});
    const bool tornTail = tail && log.LastActionKind() != takInsert && !valuesComplete();
    tail = false;
    if (tornTail) continue;
    switch (log.LastActionKind()) {
      case takInsert:
        while (FDataFile->GetRecordCount() >= recNo) dropLast();
        break;
      case takUpdate:
        if (recNo <= FDataFile->GetRecordCount()) {
          record = log.LastActionRecBuffer();
          for (const TBlobField& f : BlobFields()) SetBlockRef(record, f.FieldNo, 0);
          ReplaceLocked(recNo, record, log.LastActionBlobs(), live, live);
          if (live) NotifyRecordChanged(recNo);
        }
        break;
      case takDelete: {
        while (FDataFile->GetRecordCount() > recNo) dropLast();
        record = log.LastActionRecBuffer();
        for (const TBlobField& f : BlobFields()) SetBlockRef(record, f.FieldNo, 0);
        const std::int32_t count = FDataFile->GetRecordCount();
        if (count == recNo) {
          ReplaceLocked(recNo, record, log.LastActionBlobs(), live, live);
        } else if (count == recNo - 1) {
          InsertLocked(record, log.LastActionBlobs(), nullptr, live);
        } else if (live) {
          // Records before the deleted one are missing: this log does not belong to the table.
          RaiseEngineError(errFileRead, {log.FileName()});
        }
        // After a crash, inserts logged before this delete may never have reached the files;
        // the record they made is then not to be restored either.
        break;
      }
      default:
        break;
    }
  }
  if (live) NotifyRelationChanged();
}

std::int16_t TVdbBaseTable::RecoverAbandonedLog() {
  return Guard([&]() -> std::int16_t {
    if (!GetActive() || GetReadOnly() || FRedoLog) return 0;
    TVdbRedoLog log(FEnv.FileSystem, FFileName, FLevel, FIsRelFile, GetRecordSize());
    if (!log.Exists() || !log.Open()) return 0;
    RecoverRecords(log);
    RecoverIndexes(log);
    return 1;
  });
}

void TVdbBaseTable::RecoverRecords(TVdbRedoLog& log) {
  // Set before the write lock, so that the lock does not start a log of its own over this one.
  FRollingBack = true;
  try {
    TWriteLockScope write(*this, TLockKind::lkWrite);
    // Chains freed before the crash may be listed in a half-written free list: new values of
    // the replay take fresh blocks, and the free lists are rebuilt from the records after.
    if (FMemo) FMemo->ForgetFreeList();
    if (FBlob) FBlob->ForgetFreeList();
    ReplayRedoLog(log, true);
    if (auto* heap = dynamic_cast<TVdbHeapDataFile*>(FDataFile.get())) heap->StoreRecordCount();
    RebuildBlobFreeLists();
    Flush(true);
  } catch (const EVdbEngine&) {
    FRollingBack = false;
    throw;
  }
  FRollingBack = false;
}

void TVdbBaseTable::RecoverIndexes(TVdbRedoLog& log) {
  FRollingBack = true;
  try {
    TWriteLockScope write(*this, TLockKind::lkWrite);
    for (TVdbIndexNo i = 0; i <= FLastIndexNo; ++i) {
      if (!Slot(i).Unsupported) BuildIndexFile(i, 0, {});
    }
    Flush(true);
  } catch (const EVdbEngine&) {
    FRollingBack = false;
    throw;
  }
  FRollingBack = false;
  log.Erase();
  NotifyRelationChanged();
}

void TVdbBaseTable::RebuildBlobFreeLists() {
  if (!FMemo && !FBlob) return;
  std::vector<std::int32_t> memoHeads, blobHeads;
  const auto fields = BlobFields();
  for (std::int32_t r = 1; r <= FDataFile->GetRecordCount(); ++r) {
    const std::vector<std::uint8_t> record = ReadStored(r);
    for (const TBlobField& f : fields) {
      const std::int32_t block = GetBlockRef(record, f.FieldNo);
      if (block > 0) (f.Type == vctMemo ? memoHeads : blobHeads).push_back(block);
    }
  }
  if (FMemo) FMemo->RebuildFreeList(memoHeads);
  if (FBlob) FBlob->RebuildFreeList(blobHeads);
}

// ---- checking

std::vector<std::u16string> TVdbBaseTable::VerifyTable() {
  std::vector<std::u16string> problems;
  const std::int16_t r = Guard([&] {
    TWriteLockScope upgrade(*this, TLockKind::lkUpgrade);
    const std::int32_t count = FDataFile->GetRecordCount();
    std::vector<std::uint8_t> entry, found;
    std::vector<TVdbChainRef> memoChains, blobChains;
    const auto fields = BlobFields();
    for (TVdbIndexNo i = 0; i <= FLastIndexNo; ++i) {
      if (Slot(i).Unsupported) continue;
      TVdbIndexFile& file = GetIndexFile(i);
      if (file.GetItemCount() != count) {
        problems.push_back(u"Index " + GetIndexName(i) + u": " + NumberText(file.GetItemCount()) + u" entries for " +
                           NumberText(count) + u" records");
      }
      for (const TVdbIndexProblem& p : file.Check(count)) {
        if (p.Severity >= 2) problems.push_back(u"Index " + GetIndexName(i) + u": " + p.Text);
      }
    }
    for (std::int32_t recNo = 1; recNo <= count; ++recNo) {
      const std::vector<std::uint8_t> record = ReadStored(recNo);
      for (TVdbIndexNo i = 0; i <= FLastIndexNo; ++i) {
        if (Slot(i).Unsupported) continue;
        entry.resize(static_cast<std::size_t>(GetIndexKeys(i).BuildEntry(record, recNo, entry)));
        found = entry;
        if (GetIndexFile(i).Suche_Index(found) != 0 || found != entry) {
          problems.push_back(u"Index " + GetIndexName(i) + u": no entry for record " + NumberText(recNo));
        }
      }
      for (const TBlobField& f : fields) {
        const std::int32_t block = GetBlockRef(record, f.FieldNo);
        const std::u16string name = FColumnDefs.GetColumnDef(f.FieldNo - 1).Name();
        (f.Type == vctMemo ? memoChains : blobChains).push_back(TVdbChainRef{recNo, name, block});
      }
    }
    if (FMemo) {
      for (auto& p : FMemo->Check(memoChains)) problems.push_back(std::move(p));
    }
    if (FBlob) {
      for (auto& p : FBlob->Check(blobChains)) problems.push_back(std::move(p));
    }
  });
  if (r < 0) problems.push_back(u"Check failed with engine error " + NumberText(-r));
  return problems;
}

}  // namespace vdb
