#include "tables/VdbBaseTable.h"

#include <algorithm>

#include "base/VdbErrorCodes.h"
#include "tables/VdbIndexHeader.h"
#include "tables/VdbTableExpressions.h"

namespace vdb {

namespace {

// Holds a table lock for one operation; the matching End… runs on every way out.
class TLockScope {
 public:
  enum TKind { lsRead, lsWrite, lsExclusive };
  TLockScope(TVdbRelation& r, TKind kind) : FRelation(r), FKind(kind) {
    const std::int16_t status =
        kind == lsRead ? r.BeginRead(true) : kind == lsWrite ? r.BeginWrite(true) : r.BeginExclusive();
    CheckInternal(status);
  }
  ~TLockScope() {
    if (FKind == lsRead) {
      FRelation.EndRead();
    } else if (FKind == lsWrite) {
      FRelation.EndWrite();
    } else {
      FRelation.EndExclusive();
    }
  }
  TLockScope(const TLockScope&) = delete;
  TLockScope& operator=(const TLockScope&) = delete;

 private:
  TVdbRelation& FRelation;
  TKind FKind;
};

std::int32_t RecNoOrZero(std::int32_t result) { return result > 0 ? result : 0; }

bool IsValidIdentifier(std::u16string_view name) {
  if (name.empty() || name.size() > 40) return false;
  auto letter = [](char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || c == u'_'; };
  if (!letter(name[0])) return false;
  return std::all_of(name.begin(), name.end(), [&](char16_t c) { return letter(c) || (c >= u'0' && c <= u'9'); });
}

std::u16string Numbered(std::u16string_view prefix, std::size_t n) {
  std::u16string s(prefix);
  const std::string digits = std::to_string(n);
  s.append(digits.begin(), digits.end());
  return s;
}

template <class Defs>
void RequireUniqueNames(const Defs& defs) {
  for (int i = 0; i < defs.GetCount(); ++i) {
    for (int j = 0; j < i; ++j) {
      if (VdbSameName(defs.GetNamedDef(i).Name(), defs.GetNamedDef(j).Name())) {
        RaiseEngineError(errDuplicateIdentifier, {defs.GetNamedDef(i).Name()});
      }
    }
  }
}

template <class Defs>
void NameUnnamed(Defs& defs, std::u16string_view prefix) {
  for (int i = 0; i < defs.GetCount(); ++i) {
    if (defs.GetNamedDef(i).Name().empty()) defs.GetNamedDef(i).SetName(Numbered(prefix, static_cast<std::size_t>(i + 1)));
  }
}

}  // namespace

TVdbBaseTable::TVdbBaseTable(TVdbTableEnvironment& env)
    : TVdbRelation(env.LastError), FEnv(env), FLocks(*this, env.LastError, env.Services) {}

TVdbBaseTable::~TVdbBaseTable() { Close(); }

// ---- slots

TVdbBaseTable::TIndexSlot& TVdbBaseTable::Slot(TVdbIndexNo indexNo) {
  if (indexNo < 0 || indexNo > FLastIndexNo || static_cast<std::size_t>(indexNo) >= FIndexes.size() ||
      !FIndexes[static_cast<std::size_t>(indexNo)].InUse()) {
    RaiseEngineError(errIndexNotFound, {Numbered(u"#", static_cast<std::size_t>(std::max<int>(indexNo, 0)))});
  }
  return FIndexes[static_cast<std::size_t>(indexNo)];
}

const TVdbBaseTable::TIndexSlot* TVdbBaseTable::FindSlot(TVdbIndexNo indexNo) const {
  if (indexNo < 0 || static_cast<std::size_t>(indexNo) >= FIndexes.size()) return nullptr;
  const TIndexSlot& s = FIndexes[static_cast<std::size_t>(indexNo)];
  return s.InUse() ? &s : nullptr;
}

TVdbIndexNo TVdbBaseTable::FindSlotByName(std::u16string_view name) const {
  for (std::size_t i = 0; i < FIndexes.size(); ++i) {
    if (FIndexes[i].InUse() && VdbSameName(FIndexes[i].Name, name)) return static_cast<TVdbIndexNo>(i);
  }
  return kVdbNoIndex;
}

std::u16string TVdbBaseTable::GetIndexName(TVdbIndexNo indexNo) const {
  const TIndexSlot* s = FindSlot(indexNo);
  return s ? s->Name : std::u16string();
}

const TVdbSortDef* TVdbBaseTable::GetIndexDef(TVdbIndexNo indexNo) const {
  const TIndexSlot* s = FindSlot(indexNo);
  return s ? s->Def.get() : nullptr;
}

bool TVdbBaseTable::IsIndexLost(TVdbIndexNo indexNo) const {
  const TIndexSlot* s = FindSlot(indexNo);
  return s != nullptr && s->Lost;
}

TVdbIndexKind TVdbBaseTable::GetIndexKind(TVdbIndexNo indexNo) const {
  const TIndexSlot* s = FindSlot(indexNo);
  return s ? s->Kind : tikUnknown;
}

TVdbClientStorage& TVdbBaseTable::NewIndexStorage(TIndexSlot& s) {
  // Level-6 index files are enciphered with the table's key; older ones never are.
  s.Storage = std::make_unique<TVdbClientStorage>(FEnv.PageManager, FLevel >= 6 ? &FCryptor : nullptr,
                                                  FEnv.ClientHdl, FEnv.FileSystem);
  s.Storage->SetName(FileNames().IndexFile(s.Name));
  s.Storage->SetDeepFlush((FRights & kVdbRightDeepFlush) != 0);
  s.File = std::make_unique<TVdbIndexFile>(*s.Storage, FEnv.FileSystem, static_cast<std::int16_t>(FLevel));
  s.File->SetName(s.Name);
  s.File->SetKind(s.Kind);
  return *s.Storage;
}

TVdbIndexNo TVdbBaseTable::InitIndex(std::u16string_view name, const TVdbSortDef* def) {
  const int slots = VdbIndexSlotCount(FLevel);
  if (FIndexes.size() != static_cast<std::size_t>(slots)) FIndexes.resize(static_cast<std::size_t>(slots));
  std::size_t free = 0;
  while (free < FIndexes.size() && FIndexes[free].InUse()) ++free;
  if (free == FIndexes.size()) RaiseEngineError(errTooManyIndexes);
  TIndexSlot& s = FIndexes[free];
  s = TIndexSlot{};
  s.Name = std::u16string(name);
  s.Kind = VdbGetIndexKind(name, FLevel);
  if (def != nullptr) {
    s.Def = def->Clone();
    s.Def->SetName(s.Name);
    if (def->IsCalculated &&
        !(FEnv.Expressions && FEnv.Expressions->CreateIndexCalculation(*this, def->Calculation()))) {
      s.Unsupported = true;
    }
  }
  NewIndexStorage(s);
  FLastIndexNo = std::max<std::int16_t>(FLastIndexNo, static_cast<std::int16_t>(free));
  return static_cast<TVdbIndexNo>(free);
}

void TVdbBaseTable::EnsureKeys(TIndexSlot& s) {
  if (s.Keys) return;
  if (!s.Def) {
    s.Def = std::make_unique<TVdbSortDef>(
        VdbSortDefOf(VdbReadIndexFileDefinition(*s.Storage, s.Name), FColumnDefs, FLevel, s.Name));
  }
  s.Keys = std::make_unique<TVdbIndexKeys>(VdbKeyDescOf(*s.Def, FColumnDefs, FLevel, s.Name), s.Name,
                                           GetRecordSize());
}

void TVdbBaseTable::CloseSlotQuietly(TIndexSlot& s) noexcept {
  if (!s.File || !s.File->IsOpen()) return;
  try {
    s.File->Close();
  } catch (const EVdbEngine&) {
    // The failure that made the index unusable is what the caller hears about.
  }
}

void TVdbBaseTable::CheckIndexOpen(TVdbIndexNo indexNo) {
  TIndexSlot& s = Slot(indexNo);
  if (s.File->IsOpen()) return;
  if (s.Lost) RaiseEngineError(errIndexCorrupt, {s.Name});
  if (s.Unsupported) RaiseEngineError(errNotSupported, {u"expression indexes"});
  TLockScope read(*this, TLockScope::lsRead);
  const bool automatic = s.Kind == tikAdl || s.Kind == tikConstraint;
  try {
    EnsureKeys(s);
    s.File->Open(s.Keys->Desc(), GetReadOnly() && s.Kind != tikTemporary, GetExclusive());
  } catch (const EVdbEngine& e) {
    CloseSlotQuietly(s);
    if (e.Code() == errNotSupported) {
      s.Unsupported = true;
      throw;
    }
    const bool repairable = e.Code() == errFileNotFoundOrDenied || e.Code() == errCannotOpenFile ||
                            e.Code() == errFileRead || e.Code() == errInconsistentIndexDefinition;
    if (!automatic || !repairable || !s.Def) {
      s.Lost = true;
      throw;
    }
    // An automatic index is the engine's own: rebuild it from the records instead of failing.
    if (!s.Keys) s.Keys = std::make_unique<TVdbIndexKeys>(VdbKeyDescOf(*s.Def, FColumnDefs, FLevel, s.Name), s.Name,
                                                          GetRecordSize());
    BuildIndexFile(indexNo, 0, {});
    return;
  }
  // Keys under a named collation are stored in that collation's order: when the collation
  // library orders differently now, the index is rebuilt rather than searched wrongly.
  if (s.File->CollatorVersionsChanged()) BuildIndexFile(indexNo, 0, {});
}

TVdbIndexFile& TVdbBaseTable::GetIndexFile(TVdbIndexNo indexNo) {
  TIndexSlot& s = Slot(indexNo);
  if (!s.File->IsOpen()) CheckIndexOpen(indexNo);
  return *s.File;
}

TVdbIndexKeys& TVdbBaseTable::GetIndexKeys(TVdbIndexNo indexNo) {
  TIndexSlot& s = Slot(indexNo);
  if (!s.Keys) CheckIndexOpen(indexNo);
  return *s.Keys;
}

void TVdbBaseTable::BuildIndexFile(TVdbIndexNo indexNo, std::int32_t capacity, const TVdbProgressFunc& progress) {
  TIndexSlot& s = Slot(indexNo);
  if (capacity < 1) capacity = FCapacity;
  TLockScope read(*this, TLockScope::lsRead);
  try {
    CloseSlotQuietly(s);
    s.Lost = false;
    EnsureKeys(s);
    TVdbIndexDefinition fileDef = VdbFileDefinitionOf(*s.Def);
    fileDef.IsUnique = s.Def->IsUnique || s.Primary;
    s.File->NewStorage(s.Keys->Desc(), fileDef, capacity);
    if (s.Primary) s.File->SetPrimary(true);
    std::vector<std::uint8_t> record(static_cast<std::size_t>(GetRecordSize()));
    std::int32_t recNo = RecNoOrZero(FDataFile->GetFirstRecordNo());
    s.File->BulkInsert(FDataFile->GetRecordCount(), progress, [&](std::vector<std::uint8_t>& item) {
      if (recNo <= 0) return false;
      FDataFile->ReadRecord(recNo, record);
      s.Keys->BuildEntry(record, recNo, item);
      recNo = RecNoOrZero(FDataFile->GetNextRecordNo(recNo));
      return true;
    });
    s.File->Flush();
  } catch (const EVdbEngine&) {
    CloseSlotQuietly(s);
    s.Lost = true;
    throw;
  }
}

std::int16_t TVdbBaseTable::NewIndex(std::u16string_view name, const TVdbSortDef& def, std::int32_t capacity,
                                     const TVdbProgressFunc& progress) {
  return Guard([&]() -> std::int16_t {
    const TVdbIndexKind kind = VdbGetIndexKind(name, FLevel);
    if (kind != tikTemporary && (FRights & kVdbRightDeleteIndex) == 0) RaiseEngineError(errCreateIndexDenied);
    if (std::none_of(FIndexes.begin(), FIndexes.end(), [](const TIndexSlot& s) { return !s.InUse(); }) &&
        FIndexes.size() == static_cast<std::size_t>(VdbIndexSlotCount(FLevel))) {
      DropDroppableIndexes();
      if (std::none_of(FIndexes.begin(), FIndexes.end(), [](const TIndexSlot& s) { return !s.InUse(); })) {
        RaiseEngineError(errTooManyIndexes);
      }
    }
    VdbKeyDescOf(def, FColumnDefs, FLevel, name);  // an inconsistent definition fails here
    if (FindSlotByName(name) >= 0) RaiseEngineError(errIndexAlreadyOpen, {std::u16string(name)});
    const std::u16string fileName = FileNames().IndexFile(name);
    if (FEnv.FileSystem.FileExists(fileName)) RaiseEngineError(errIndexFileExists, {fileName});
    TLockScope write(*this, TLockScope::lsWrite);
    const TVdbIndexNo indexNo = InitIndex(name, &def);
    try {
      BuildIndexFile(indexNo, capacity, progress);
    } catch (const EVdbEngine&) {
      RemoveInd(indexNo, true);
      throw;
    }
    WriteIndNames();
    return indexNo;
  });
}

std::int16_t TVdbBaseTable::CreateUserIndex(std::u16string_view name, std::u16string_view specification, bool unique,
                                            std::int32_t capacity, const TVdbProgressFunc& progress) {
  TVdbSortDef def;
  const std::int16_t status = Guard([&] {
    if (VdbGetIndexKind(name, FLevel) != tikUser || VdbIsReservedIndexName(name)) {
      RaiseEngineError(errInvalidIndexName, {std::u16string(name)});
    }
    def = TVdbSortDef::FromSpecification(specification, FColumnDefs, FLevel);
    def.IsUnique = unique;
    def.SetName(std::u16string(name));
  });
  if (status < 0) return status;
  return NewIndex(name, def, capacity, progress);
}

std::int16_t TVdbBaseTable::CreateTempIndex(const TVdbSortDef& def) {
  std::int16_t result = FLastError.SetLastError(errTooManyIndexes, TVdbFmtArgs{});
  for (int n = 1; n <= 99; ++n) {
    result = NewIndex(VdbTempIndexName(FLevel, GetName(), n), def, FCapacity);
    if (result != -errIndexFileExists && result != -errIndexAlreadyOpen) return result;
  }
  return result;
}

void TVdbBaseTable::RemoveInd(TVdbIndexNo indexNo, bool deleteFile) {
  TIndexSlot& s = Slot(indexNo);
  CloseSlotQuietly(s);
  if (deleteFile && s.Storage) {
    const std::u16string name = s.Storage->Name();
    if (FEnv.FileSystem.FileExists(name) && !FEnv.FileSystem.DeleteFile(name)) {
      RaiseEngineError(errFileDelete, {name});
    }
    const std::u16string side = s.File->CollatorVersionFileName();
    if (FEnv.FileSystem.FileExists(side)) FEnv.FileSystem.DeleteFile(side);
  }
  FIndexes.erase(FIndexes.begin() + indexNo);
  FIndexes.emplace_back();
  --FLastIndexNo;
  for (TVdbIndexNo* role : {&FInrIndexNo, &FIdIndexNo, &FPrimIndexNo}) {
    if (*role == indexNo) {
      *role = kVdbNoIndex;
    } else if (*role > indexNo) {
      --*role;
    }
  }
}

std::int16_t TVdbBaseTable::DeleteIndex(TVdbIndexNo indexNo) {
  return Guard([&] {
    TIndexSlot& s = Slot(indexNo);
    const bool automatic = s.Kind == tikAdl || s.Kind == tikConstraint;
    if (automatic || (s.Kind != tikTemporary && (FRights & kVdbRightDeleteIndex) == 0)) {
      RaiseEngineError(errPermissionDenied);
    }
    if (!CanRemoveIndex(indexNo)) RaiseEngineError(errIndexInUse);
    TLockScope exclusive(*this, TLockScope::lsExclusive);
    RemoveInd(indexNo, true);
    WriteIndNames();
    NotifyIndexRemoved(indexNo);
  });
}

std::int16_t TVdbBaseTable::RegenIndex(const TVdbProgressFunc& progress) {
  return Guard([&] {
    TLockScope exclusive(*this, TLockScope::lsExclusive);
    for (TVdbIndexNo i = 0; i <= FLastIndexNo; ++i) {
      TIndexSlot& s = Slot(i);
      if (s.Unsupported) RaiseEngineError(errNotSupported, {u"expression indexes"});
      BuildIndexFile(i, 0, progress);
    }
  });
}

void TVdbBaseTable::WriteIndNames() {
  if (!Writable() || !FDataFile) return;
  std::vector<std::u16string> names;
  for (const TIndexSlot& s : FIndexes) {
    if (s.InUse()) names.push_back(s.Name);
  }
  const auto count = static_cast<std::int16_t>(names.size());
  FDataFile->SetIndexNames(std::move(names));
  FDataFile->WriteIndexNames();
  // The other sessions learn of the new list through the lock file's header.
  FLocks.WriteIndexCount(count);
}

void TVdbBaseTable::DropDroppableIndexes() {
  for (TVdbIndexNo i = FLastIndexNo; i >= 0; --i) {
    const TIndexSlot* s = FindSlot(i);
    if (s == nullptr) continue;
    const bool automatic = s->Kind == tikAdl || s->Kind == tikConstraint;
    const bool droppable = (s->Kind == tikTemporary && CanRemoveIndex(i)) || (automatic && s->Lost);
    if (!droppable) continue;
    RemoveInd(i, true);
    WriteIndNames();
    NotifyIndexRemoved(i);
  }
}

// ---- system indexes

TVdbSortDef TVdbBaseTable::ColumnsDef(const std::vector<std::u16string>& columns, bool unique) const {
  TVdbSortDef def = TVdbSortDef::FromSpecification(VdbJoinColumnList(columns), FColumnDefs, FLevel);
  def.IsUnique = unique;
  return def;
}

TVdbIndexNo TVdbBaseTable::FindOrInitSystemIndex(std::u16string_view name, const TVdbSortDef& def) {
  TVdbIndexNo found = FindSlotByName(name);
  if (found < 0) {
    bool reverse = false;
    const TVdbSortNo byDef = FindIndex(def, tifoNoOpen | tifoNoReverse, reverse);
    if (byDef >= 0 && byDef < kVdbNaturalOrder) found = byDef;
  }
  if (found < 0) found = InitIndex(name, &def);
  TIndexSlot& s = Slot(found);
  if (!s.Def) s.Def = def.Clone();
  return found;
}

void TVdbBaseTable::InitSystemIndexes() {
  for (int k = 0; k < FKeyDefs.GetCount(); ++k) {
    TVdbCandidateKeyDef& key = FKeyDefs.GetNamedDef(k);
    if (key.Name().empty()) {
      key.SetName(key.IsPrimary() ? std::u16string(kVdbPrimaryIndexName) : VdbUniqueIndexName(k + 1));
    }
    key.IndexDef = ColumnsDef(key.ColumnNames(), true);
    const TVdbIndexNo i = FindOrInitSystemIndex(key.Name(), key.IndexDef);
    TIndexSlot& s = Slot(i);
    s.Def->IsUnique = true;
    if (key.IsPrimary()) {
      s.Primary = true;
      FPrimIndexNo = i;
    }
  }
  if (FRecordIdFieldNo > 0) {
    const TVdbColumnDef& col = FColumnDefs.GetColumnDef(FRecordIdFieldNo - 1);
    FInrIndexNo = FindOrInitSystemIndex(VdbRecordIdIndexName(FLevel, GetName()), ColumnsDef({col.Name()}, true));
    const auto& idCol = static_cast<const TVdbRecordIdColumnDef&>(col);
    if (!idCol.IndexSpec().empty()) {
      TVdbSortDef idDef = TVdbSortDef::FromSpecification(idCol.IndexSpec(), FColumnDefs, FLevel);
      FIdIndexNo = FindOrInitSystemIndex(VdbIdIndexName(FLevel, GetName()), idDef);
    } else {
      FIdIndexNo = FPrimIndexNo >= 0 ? FPrimIndexNo : FInrIndexNo;
    }
  }
  int link = 0;
  for (int c = 0; c < FColumnDefs.GetCount() && link < VDB_MAX_INDEXED_LINKS; ++c) {
    const TVdbColumnDef& col = FColumnDefs.GetColumnDef(c);
    if (col.ColumnType() != vctLink || (col.Options() & coNoIndex) != 0) continue;
    ++link;
    FindOrInitSystemIndex(VdbLinkIndexName(FLevel, GetName(), link), ColumnsDef({col.Name()}, false));
  }
  for (int f = 0; f < FForeignKeyDefs.GetCount(); ++f) {
    const TVdbForeignKeyDef& fk = FForeignKeyDefs.GetNamedDef(f);
    FindOrInitSystemIndex(VdbForeignKeyIndexName(fk.Name()), ColumnsDef(fk.ColumnNames, false));
  }
}

// ---- creating

std::int16_t TVdbBaseTable::NewTable(const TVdbNewTable& table) {
  std::vector<std::u16string> created;
  const std::int16_t status = Guard([&] {
    if (GetActive()) RaiseEngineError(errTableAlreadyOpen, {FFileName});
    FLevel = table.Level >= 1 && table.Level <= VDB_NEW_TABLE_LEVEL ? table.Level : VDB_NEW_TABLE_LEVEL;
    if (table.Columns.empty()) RaiseEngineError(errFeatureNotAtLevel, {table.Path, u"No columns"});
    if (!VdbExtensionFitsLevel(table.Path, FLevel)) RaiseEngineError(errInvalidTableOrIndexName, {table.Path});
    const std::u16string_view file = VdbExtractFileName(table.Path);
    const std::u16string_view base = file.substr(0, file.size() - VdbExtractExt(file).size());
    if (base.empty()) RaiseEngineError(errInvalidTableOrIndexName, {table.Path});
    if (FLevel <= 3 && !base.starts_with(u'~') && !IsValidIdentifier(base)) {
      RaiseEngineError(errInvalidIdentifier, {std::u16string(base)});
    }
    TVdbCollation::Resolve(table.CollationName);  // 138 for an unknown collation
    FCapacity = table.Capacity > 0 ? table.Capacity : 10000000;
    FCollationName = table.CollationName;
    FFileName = VdbDataFileNameFor(table.Path, FLevel);
    FStdName = VdbCalcStdTableName(FFileName);
    FColumnDefs.Clear();
    for (const TVdbNewColumn& column : table.Columns) {
      const TVdbRuleResult rule = VdbCheckNewColumn(FColumnDefs, column, FLevel);
      if (!rule.Ok()) throw EVdbEngine::CreateMsg(rule.Code, rule.Message);
      FColumnDefs.Add(VdbMakeColumnDef(column, FLevel, FCollationName));
    }
    AnalyzeColumns();
    FKeyDefs = table.KeyDefs;
    RequireUniqueNames(FKeyDefs);
    for (int k = 0; k < FKeyDefs.GetCount(); ++k) {
      TVdbCandidateKeyDef& key = FKeyDefs.GetNamedDef(k);
      if (key.IsPrimary() && FLevel >= 6) {
        for (const auto& name : key.ColumnNames()) {
          const int c = FColumnDefs.Find(name.starts_with(u'$') ? std::u16string_view(name).substr(1) : name);
          if (c >= 0) FColumnDefs.GetColumnDef(c).SetNullable(false, FLevel);
        }
      }
      key.IndexDef = ColumnsDef(key.ColumnNames(), true);
    }
    FChecks = table.CheckDefs;
    NameUnnamed(FChecks, u"Check");
    RequireUniqueNames(FChecks);
    FForeignKeyDefs = table.ForeignKeyDefs;
    NameUnnamed(FForeignKeyDefs, u"FK");
    RequireUniqueNames(FForeignKeyDefs);
    for (int f = 0; f < FForeignKeyDefs.GetCount(); ++f) {
      const TVdbForeignKeyDef& fk = FForeignKeyDefs.GetNamedDef(f);
      ColumnsDef(fk.ColumnNames, false);
      // The parent must be open in the catalog; without one there is none to find.
      if (FIntegrity == nullptr) RaiseEngineError(errTableNotFound, {fk.ParentTableName});
      FIntegrity->CheckNewForeignKey(FColumnDefs, fk);
    }
    FCryptor.SetEncryptionMethod(table.EncryptionMethod);
    FCryptor.SetKey(table.Key);
    FRights = kVdbRightsNewTable;

    TVdbTableDefinition def;
    def.Capacity = FCapacity;
    def.CollationName = FCollationName;
    def.ColumnDefs = FColumnDefs;
    def.CheckDefs = FChecks;
    def.KeyDefs = FKeyDefs;
    def.ForeignKeyDefs = FForeignKeyDefs;
    const TVdbTableFileNames names = FileNames();
    if (FEnv.FileSystem.FileExists(FFileName)) RaiseEngineError(errFileExists, {FFileName});
    FDataFile = VdbNewDataFile(FEnv.PageManager, FEnv.FileSystem, FFileName, FEnv.ClientHdl, FLevel, FCryptor, def, true);
    created.push_back(FFileName);
    if (FHasMemo) {
      FMemo = std::make_unique<TVdbMemoFile>(FEnv.PageManager, FEnv.FileSystem, names.MemoFile(), FEnv.ClientHdl,
                                             FLevel, GetName());
      FMemo->SetEncryption(FCryptor.Encryption());
      if (table.MemoBlockSize > 0) FMemo->SetBlockSize(table.MemoBlockSize);
      FMemo->NewFile(true);
      created.push_back(names.MemoFile());
    }
    if (FHasBlob) {
      FBlob = std::make_unique<TVdbBlobFile>(FEnv.PageManager, FEnv.FileSystem, names.BlobFile(), FEnv.ClientHdl,
                                             FLevel, GetName());
      FBlob->SetEncryption(FCryptor.Encryption());
      FBlob->SetBlockSize(FEnv.BlobBlockSize);
      FBlob->NewFile(true);
      created.push_back(names.BlobFile());
    }
    FDataFile->Flush();
    if (FMemo) FMemo->Flush();
    if (FBlob) FBlob->Flush();
    for (const TVdbNewIndex& index : table.Indexes) {
      if (VdbGetIndexKind(index.Name, FLevel) != tikUser || VdbIsReservedIndexName(index.Name)) {
        RaiseEngineError(errInvalidIndexName, {index.Name});
      }
      if (FindSlotByName(index.Name) >= 0) RaiseEngineError(errIndexAlreadyOpen, {index.Name});
      TVdbSortDef indexDef = TVdbSortDef::FromSpecification(index.Specification, FColumnDefs, FLevel);
      indexDef.IsUnique = index.Unique;
      InitIndex(index.Name, &indexDef);
    }
    InitSystemIndexes();
    for (TVdbIndexNo i = 0; i <= FLastIndexNo; ++i) {
      TIndexSlot& s = Slot(i);
      if (s.File->IsOpen()) continue;
      if (FEnv.FileSystem.FileExists(s.Storage->Name())) RaiseEngineError(errIndexFileExists, {s.Storage->Name()});
      created.push_back(s.Storage->Name());
      created.push_back(s.File->CollatorVersionFileName());
      BuildIndexFile(i, FCapacity, {});
    }
    WriteIndNames();
    FDataFile->Flush();
  });
  CloseFiles();
  ClearDefinitions();
  if (status < 0) {
    for (const auto& name : created) {
      if (FEnv.FileSystem.FileExists(name)) FEnv.FileSystem.DeleteFile(name);
    }
  }
  return status;
}

// ---- opening and closing

void TVdbBaseTable::AnalyzeColumns() {
  FRecordIdFieldNo = 0;
  FHasMemo = FHasBlob = false;
  FMissingCalculations.clear();
  FColumnCalculations.clear();
  auto missing = [&](std::u16string what) {
    if (std::find(FMissingCalculations.begin(), FMissingCalculations.end(), what) == FMissingCalculations.end()) {
      FMissingCalculations.push_back(std::move(what));
    }
  };
  for (int c = 0; c < FColumnDefs.GetCount(); ++c) {
    const TVdbColumnDef& col = FColumnDefs.GetColumnDef(c);
    switch (col.ColumnType()) {
      case vctRecordId: FRecordIdFieldNo = static_cast<std::uint16_t>(c + 1); break;
      case vctMemo: FHasMemo = true; break;
      case vctBlob:
      case vctWideMemo: FHasBlob = true; break;
      default: break;
    }
    if (col.CalculationSource().empty()) continue;
    if ((col.Options() & coRangeConstraint) != 0) {
      if (!(FEnv.Expressions && FEnv.Expressions->CreateCheckCondition(*this, col.CalculationSource()))) {
        missing(u"range constraints");
      }
    } else if ((col.Options() & coComputed) == 0) {
      // A default value belongs to the new record a cursor starts, which the table does not
      // initialise: writing stays refused rather than storing records without it.
      missing(u"default values");
    } else if (auto calculation = FEnv.Expressions ? FEnv.Expressions->CreateColumnCalculation(*this, col.CalculationSource())
                                                       : nullptr) {
      FColumnCalculations.push_back({c, col.CalculationPurposes(), std::move(calculation)});
    } else {
      missing((col.Options() & coComputed) != 0 ? u"computed columns" : u"default values");
    }
  }
  FCheckConditions.clear();
  for (int k = 0; k < FChecks.GetCount(); ++k) {
    auto check = FEnv.Expressions ? FEnv.Expressions->CreateCheckCondition(*this, FChecks.GetNamedDef(k).ConditionText())
                                  : nullptr;
    if (!check) missing(u"check constraints");
    else FCheckConditions.push_back(std::move(check));
  }
  FRecBuffer.assign(static_cast<std::size_t>(GetRecordSize()), 0);
}

void TVdbBaseTable::RequireRecordWriteSupport() const {
  std::vector<std::u16string> missing = FMissingCalculations;
  for (const TIndexSlot& s : FIndexes) {
    if (s.InUse() && (s.Unsupported || (s.Def && s.Def->IsCalculated))) {
      missing.push_back(u"expression indexes");
      break;
    }
  }
  if (missing.empty()) return;
  std::u16string text;
  for (const auto& m : missing) text += (text.empty() ? u"" : u", ") + m;
  RaiseEngineError(errNotSupported, {text + u" (table \"" + GetName() + u"\")"});
}

void TVdbBaseTable::OpenFilesLocked(bool force) {
  const bool readOnly = GetReadOnly();
  const bool exclusive = GetExclusive();
  TVdbTableDefinition def;
  FDataFile = VdbOpenDataFile(FEnv.PageManager, FEnv.FileSystem, FFileName, FEnv.ClientHdl, readOnly, exclusive,
                              FCryptor, def);
  const bool deep = (FRights & kVdbRightDeepFlush) != 0;
  FDataFile->SetDeepFlush(deep);
  FLevel = FDataFile->Level();
  FCapacity = def.Capacity;
  FCollationName = def.CollationName;
  FColumnDefs = std::move(def.ColumnDefs);
  FTypes = std::move(def.Types);
  FKeyDefs = std::move(def.KeyDefs);
  FChecks = std::move(def.CheckDefs);
  FForeignKeyDefs = std::move(def.ForeignKeyDefs);
  FIsRelFile = FileNames().IsRelTable();
  AnalyzeColumns();
  const TVdbTableFileNames names = FileNames();
  if (FHasMemo) {
    FMemo = std::make_unique<TVdbMemoFile>(FEnv.PageManager, FEnv.FileSystem, names.MemoFile(), FEnv.ClientHdl,
                                           FLevel, GetName());
    FMemo->SetEncryption(FCryptor.Encryption());
    FMemo->SetDeepFlush(deep);
    try {
      FMemo->Open(readOnly, exclusive);
    } catch (const EVdbEngine&) {
      FMemo.reset();
      if (!force) RaiseEngineError(errMemoFileOpen, {names.MemoFile()});
    }
  }
  if (FHasBlob) {
    FBlob = std::make_unique<TVdbBlobFile>(FEnv.PageManager, FEnv.FileSystem, names.BlobFile(), FEnv.ClientHdl,
                                           FLevel, GetName());
    FBlob->SetEncryption(FCryptor.Encryption());
    FBlob->SetDeepFlush(deep);
    try {
      FBlob->Open(readOnly, exclusive);
    } catch (const EVdbEngine&) {
      FBlob.reset();
      if (!force) RaiseEngineError(errBlobFileOpen, {names.BlobFile()});
    }
  }
}

std::int16_t TVdbBaseTable::Open(bool force) {
  if (GetActive()) return 0;
  FStdName = VdbCalcStdTableName(FFileName);
  const std::int16_t status = Guard([&] {
    if (!FEnv.FileSystem.FileExists(FFileName)) RaiseEngineError(errFileNotFoundOrDenied, {FFileName});
    // Tables opened exclusively or shared read-only join no lock file: the operating
    // system's sharing protects them.
    if (FEnv.LockFiles != nullptr && (FRights & (kVdbRightExclusive | kVdbRightSharedReadOnly)) == 0) {
      const std::u16string_view ext = VdbExtractExt(FFileName);
      const int level = VdbSameTextNoCase(ext, u".vdbt") ? 6 : (VdbSameTextNoCase(ext, u".dat") || VdbSameTextNoCase(ext, u".rel")) ? 2 : 0;
      const bool isRel = VdbSameTextNoCase(ext, u".rel");
      std::u16string base = FFileName.substr(0, FFileName.size() - ext.size());
      FLocks.SetLockFile(FEnv.LockFiles->Join(FEnv.FileSystem, base, level, isRel, [this] { HandleHijack(); }));
    }
    FChecks.Clear();
    FForeignKeyDefs.Clear();
    {
      TLockScope read(*this, TLockScope::lsRead);
      OpenFilesLocked(force);
    }
    FLocks.StartUnlockClock();
  });
  if (status < 0) {
    CloseFiles();
    ClearDefinitions();
    FStdName.clear();
    LeaveLockFile();
  }
  return status;
}

std::int16_t TVdbBaseTable::Setup(bool force) {
  return Guard([&] {
    if (!GetActive()) RaiseEngineError(errFileNotFoundOrDenied, {FFileName});
    const std::u16string_view fullTextExt = FileNames().FullTextExt();
    for (const std::u16string& name : FDataFile->IndexNames()) {
      if (VdbSameTextNoCase(VdbExtractExt(name), fullTextExt)) continue;
      const TVdbIndexKind kind = VdbGetIndexKind(name, FLevel);
      if ((kind == tikUser || kind == tikTemporary) && FindSlotByName(name) < 0) InitIndex(name, nullptr);
    }
    // A transaction whose session died left its changes undone for the next user. Its records
    // are restored before any index is read: an index written half before the crash is
    // rebuilt from them afterwards.
    TVdbRedoLog abandoned(FEnv.FileSystem, FFileName, FLevel, FIsRelFile, GetRecordSize());
    bool recovering = false;
    if (Writable() && abandoned.Exists()) {
      // Only under the write lock: a live writer holds it as long as its log exists, so a log
      // that opens then is truly abandoned (never a log another session is just creating).
      FRollingBack = true;
      const std::int16_t locked = BeginWrite(true);
      FRollingBack = false;
      CheckInternal(locked);
      try {
        recovering = abandoned.Open();
      } catch (const EVdbEngine&) {
        static_cast<void>(EndWrite());
        throw;
      }
      static_cast<void>(EndWrite());
    }
    if (recovering) RecoverRecords(abandoned);
    // An index that cannot be opened is marked lost with its error recorded; the table stays
    // usable through its other indexes.
    for (TVdbIndexNo i = 0; i <= FLastIndexNo; ++i) CheckIndexOpen(i, true);
    InitSystemIndexes();
    for (TVdbIndexNo i = 0; i <= FLastIndexNo; ++i) {
      const TIndexSlot& s = Slot(i);
      if ((s.Kind != tikAdl && s.Kind != tikConstraint) || s.File->IsOpen()) continue;
      const std::int16_t opened = Guard([&] { CheckIndexOpen(i); });
      if (opened >= 0) continue;
      if (i == FIdIndexNo && force && FInrIndexNo >= 0 && FInrIndexNo != i) {
        FIdIndexNo = FInrIndexNo;
        continue;
      }
      CheckInternal(opened);
    }
    if (recovering) RecoverIndexes(abandoned);
    if (!force && FForeignKeyDefs.GetCount() > 0) {
      // Parent tables are found through the catalog; a table opened outside one cannot.
      if (FIntegrity == nullptr) {
        RaiseEngineError(errParentTableNotFound, {FForeignKeyDefs.GetNamedDef(0).ParentTableName});
      }
      FIntegrity->ResolveForeignKeys(*this);
    }
  });
}

void TVdbBaseTable::CloseFiles() noexcept {
  try {
    if (GetActive()) {
      if (GetReadOnly() || FLocks.TryBeginExclusive()) {
        const bool exclusiveTaken = !GetReadOnly();
        try {
          DropDroppableIndexes();
          if (Writable()) Flush(true);
        } catch (const EVdbEngine& e) {
          FLastError.SetLastError(e);
        }
        if (exclusiveTaken) EndExclusive();
      }
    }
    FLocks.ReleaseAll();
    // A flush failure found while the locks were given back belongs to this close.
    if (const std::int16_t code = FLocks.TakeWriteError(); code != 0) FLastError.SetLastError(code, {GetName()});
    if (const std::int16_t code = FLocks.Broken(); code != 0) {
      FLastError.SetLastError(code, {GetName()});
      FLocks.SetBroken(0);
    }
  } catch (const EVdbEngine& e) {
    FLastError.SetLastError(e);
  }
  for (TIndexSlot& s : FIndexes) CloseSlotQuietly(s);
  FIndexes.clear();
  FLastIndexNo = -1;
  FInrIndexNo = FIdIndexNo = FPrimIndexNo = kVdbNoIndex;
  try {
    if (FMemo) FMemo->Close();
    if (FBlob) FBlob->Close();
    if (FDataFile) FDataFile->Close();
  } catch (const EVdbEngine& e) {
    FLastError.SetLastError(e);
  }
  FMemo.reset();
  FBlob.reset();
  FDataFile.reset();
  FCryptor.Reset();
  LeaveLockFile();
}

void TVdbBaseTable::LeaveLockFile() noexcept {
  try {
    std::unique_ptr<IVdbTableLockFile> lockFile = FLocks.TakeLockFile();
    if (lockFile) lockFile->LogOut();
  } catch (const EVdbEngine& e) {
    FLastError.SetLastError(e);
  }
}

void TVdbBaseTable::ClearDefinitions() {
  FColumnDefs.Clear();
  FKeyDefs.Clear();
  FChecks.Clear();
  FForeignKeyDefs.Clear();
  FTypes.Clear();
  FHasMemo = FHasBlob = false;
  FRecordIdFieldNo = 0;
  FMissingCalculations.clear();
  FCheckConditions.clear();
  FColumnCalculations.clear();
}

std::int16_t TVdbBaseTable::Close() {
  const TVdbLastError::TGeneration start = FLastError.Generation();
  CloseFiles();
  ClearDefinitions();
  FRecBuffer.clear();
  return FLastError.Generation() == start ? std::int16_t{0} : static_cast<std::int16_t>(-FLastError.Code());
}

void TVdbBaseTable::Flush(bool) {
  // Every flush writes the files whole and at their final sizes, so a deep flush and a plain
  // one differ only in the storage's own deep-flush right.
  if (!GetActive() || !Writable()) return;
  // Broken by a failed write: the files are left to the redo log on disk.
  if (FLocks.Broken() != 0) return;
  ++FFlushCounter;
  // Write-ahead: the log's entries are on the device before the first page they undo.
  if (FRedoLog) FRedoLog->Sync();
  FDataFile->Flush();
  if (FMemo) FMemo->Flush();
  if (FBlob) FBlob->Flush();
  for (TIndexSlot& s : FIndexes) {
    if (s.InUse() && s.File->IsOpen()) s.File->Flush();
  }
}

void TVdbBaseTable::FlushTable(bool resize) {
  try {
    Flush(resize);
  } catch (const EVdbEngine& e) {
    // Remembered and reported by the next BeginWrite, which is where a writer can react.
    FLocks.SetWriteError(e.Code());
  }
}

void TVdbBaseTable::CatchUp(const std::vector<TVdbRecordMove>& moves) {
  if (!GetActive() || FUpdating) return;
  FUpdating = true;
  struct TDone {
    bool& F;
    ~TDone() { F = false; }
  } done{FUpdating};
  // Another session wrote the files: every cached page and header is reread.
  FDataFile->Invalidate();
  for (TIndexSlot& s : FIndexes) {
    if (s.InUse() && s.File && s.File->IsOpen()) s.File->Update();
  }
  // An index another session created is opened here, without reopening the table.
  if (FDataFile->IsOpen()) {
    FDataFile->ReadIndexNames();
    const std::u16string_view fullTextExt = FileNames().FullTextExt();
    for (const std::u16string& name : FDataFile->IndexNames()) {
      if (VdbSameTextNoCase(VdbExtractExt(name), fullTextExt)) continue;
      const TVdbIndexKind kind = VdbGetIndexKind(name, FLevel);
      if ((kind != tikUser && kind != tikTemporary) || FindSlotByName(name) >= 0) continue;
      // Every slot taken: the index stays unknown here, as it was before it was created.
      if (FIndexes.size() == static_cast<std::size_t>(VdbIndexSlotCount(FLevel)) &&
          std::all_of(FIndexes.begin(), FIndexes.end(), [](const TIndexSlot& s) { return s.InUse(); }))
        break;
      const TVdbIndexNo indexNo = InitIndex(name, nullptr);
      // One that cannot be opened is marked lost with its error recorded, as at opening.
      CheckIndexOpen(indexNo, true);
    }
  }
  if (FMemo) FMemo->Update();
  if (FBlob) FBlob->Update();
  for (const TVdbRecordMove& m : moves) {
    FMovesSeen.push_back(m);
    NotifyRecordDeleted(m.To, m.From);
  }
  NotifyRelationChanged();
}

std::int16_t TVdbBaseTable::CheckUpdate() {
  return Guard([&]() -> std::int16_t { return FLocks.CheckUpdate(); });
}

void TVdbBaseTable::HandleHijack() {
  if (!GetActive() || GetReadOnly()) return;
  FLocks.RunRecovery([&] {
    // The dead session may have written the files: our caches go before its log is read.
    CatchUp({});
    const TVdbIsolationLevel level = FEnv.IsolationLevel;
    FEnv.IsolationLevel = tilNone;
    struct TRestore {
      TVdbTableEnvironment& E;
      TVdbIsolationLevel L;
      ~TRestore() { E.IsolationLevel = L; }
    } restore{FEnv, level};
    CheckInternal(RecoverAbandonedLog());
  });
}

// ---- records

std::int32_t TVdbBaseTable::GetFirstRecordNo() { return FDataFile ? RecNoOrZero(FDataFile->GetFirstRecordNo()) : 0; }
std::int32_t TVdbBaseTable::GetNextRecordNo(std::int32_t recNo) {
  return FDataFile ? RecNoOrZero(FDataFile->GetNextRecordNo(recNo)) : 0;
}
std::int32_t TVdbBaseTable::GetPrevRecordNo(std::int32_t recNo) {
  return FDataFile ? RecNoOrZero(FDataFile->GetPrevRecordNo(recNo)) : 0;
}
std::int32_t TVdbBaseTable::GetLastRecordNo() { return FDataFile ? RecNoOrZero(FDataFile->GetLastRecordNo()) : 0; }

std::int16_t TVdbBaseTable::ReadRecord(std::int32_t recNo, std::span<std::uint8_t> buffer) {
  return Guard([&] {
    if (!FDataFile) RaiseEngineError(errFileNotFoundOrDenied, {FFileName});
    if (buffer.size() < static_cast<std::size_t>(GetRecordSize())) RaiseEngineError(errInvalidParameterValue);
    TLockScope read(*this, TLockScope::lsRead);
    FDataFile->ReadRecord(recNo, buffer.first(static_cast<std::size_t>(FDataFile->RecordSize())));
  });
}

// ---- record ids

std::int16_t TVdbBaseTable::GetRecordId(std::span<const std::uint8_t> buffer, std::int32_t& recordId) const {
  if (FRecordIdFieldNo == 0) {
    recordId = static_cast<std::int32_t>(0x80000000u);
    return -1;
  }
  const TVdbColumnDef& col = FColumnDefs.GetColumnDef(FRecordIdFieldNo - 1);
  TVdbDataValue value;
  col.DataType()->SetReference(value, std::span<std::uint8_t>(const_cast<std::uint8_t*>(buffer.data()), buffer.size()),
                               static_cast<std::size_t>(col.Position()));
  recordId = static_cast<std::int32_t>(col.DataType()->GetInteger(value));
  return 4;
}

void TVdbBaseTable::SetRecordId(std::span<std::uint8_t> buffer, std::int32_t recordId) const {
  if (FRecordIdFieldNo == 0) RaiseEngineError(errNoRecordIdColumn, {GetName()});
  const TVdbColumnDef& col = FColumnDefs.GetColumnDef(FRecordIdFieldNo - 1);
  TVdbDataValue value;
  col.DataType()->SetReference(value, buffer, static_cast<std::size_t>(col.Position()));
  if (recordId < 1 && col.DataType()->Nullable()) {
    col.DataType()->SetNull(value);
  } else {
    col.DataType()->SetInteger(value, std::max(recordId, 0));
  }
}

std::int32_t TVdbBaseTable::FindRecordId(std::int32_t recordId) {
  if (recordId < 1 || FInrIndexNo < 0) return 0;
  const std::int32_t result = Guard([&]() -> std::int32_t {
    std::fill(FRecBuffer.begin(), FRecBuffer.end(), std::uint8_t{0});
    SetRecordId(FRecBuffer, recordId);
    return LocateRecord(FRecBuffer, FInrIndexNo);
  });
  return std::max(result, 0);
}

std::int32_t TVdbBaseTable::ReadRecordId(std::int32_t recNo) {
  return Guard([&]() -> std::int32_t {
    if (FRecordIdFieldNo == 0) RaiseEngineError(errNoRecordIdColumn, {GetName()});
    CheckInternal(ReadRecord(recNo, FRecBuffer));
    std::int32_t id = 0;
    GetRecordId(FRecBuffer, id);
    return id;
  });
}

std::int16_t TVdbBaseTable::SetAutoNum(std::span<std::uint8_t> buffer) {
  return Guard([&] {
    if (FRecordIdFieldNo == 0) RaiseEngineError(errNoRecordIdColumn, {GetName()});
    if ((FRights & kVdbRightModify) == 0) RaiseEngineError(errNoWritePermission, {GetName()});
    TLockScope write(*this, TLockScope::lsWrite);
    SetRecordId(buffer, FDataFile->ObtainNewRecordId());
  });
}

std::int16_t TVdbBaseTable::AdjustRecordId(std::span<const std::uint8_t> buffer) {
  return Guard([&] {
    std::int32_t id = 0;
    if (GetRecordId(buffer, id) < 0) RaiseEngineError(errNoRecordIdColumn, {GetName()});
    TLockScope write(*this, TLockScope::lsWrite);
    if (id >= FDataFile->ReadNextRecordId()) FDataFile->SetNextRecordId(id + 1);
  });
}

std::int16_t TVdbBaseTable::CancelAutoNum(std::int32_t recordId) {
  return Guard([&] {
    TLockScope write(*this, TLockScope::lsWrite);
    FDataFile->RevokeRecordId(recordId);
  });
}

std::int32_t TVdbBaseTable::ReadNextRecordId() {
  return Guard([&]() -> std::int32_t {
    TLockScope read(*this, TLockScope::lsRead);
    return FDataFile->ReadNextRecordId();
  });
}

std::int16_t TVdbBaseTable::SetNextRecordId(std::int32_t value) {
  return Guard([&] {
    TLockScope write(*this, TLockScope::lsWrite);
    FDataFile->SetNextRecordId(value);
  });
}

std::int16_t TVdbBaseTable::RecalcAutoInc() {
  return Guard([&] {
    if (FInrIndexNo < 0) RaiseEngineError(errNoRecordIdColumn, {GetName()});
    TLockScope write(*this, TLockScope::lsWrite);
    std::vector<std::uint8_t> last;
    std::int32_t highest = 0;
    if (GetIndexFile(FInrIndexNo).Letzter_Index(last) == 0) {
      std::fill(FRecBuffer.begin(), FRecBuffer.end(), std::uint8_t{0});
      GetIndexKeys(FInrIndexNo).KeyToRecord(last, FRecBuffer);
      GetRecordId(FRecBuffer, highest);
    }
    FDataFile->SetNextRecordId(highest + 1);
  });
}

void TVdbBaseTable::GetFileNames(std::vector<std::u16string>& list) const {
  const TVdbTableFileNames names = FileNames();
  list.push_back(FFileName);
  for (const TIndexSlot& s : FIndexes) {
    if (s.InUse()) list.push_back(names.IndexFile(s.Name));
  }
  if (FHasMemo) list.push_back(names.MemoFile());
  if (FHasBlob) list.push_back(names.BlobFile());
}

}  // namespace vdb
