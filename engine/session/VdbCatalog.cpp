#include "session/VdbCatalog.h"

#include <algorithm>
#include <chrono>

#include "base/VdbErrorCodes.h"
#include "tables/VdbTableNames.h"

namespace vdb {

namespace {

void Check(std::int32_t status) {
  if (status < 0) throw EVdbEngine(VDB_INTERNAL_UNWIND);
}

bool StartsWithNoCase(std::u16string_view text, std::u16string_view prefix) {
  return text.size() >= prefix.size() && VdbSameTextNoCase(text.substr(0, prefix.size()), prefix);
}

}  // namespace

TVdbCatalog::TVdbCatalog(TVdbPageManager& pageManager, TVdbLastError& lastError, TvuServices services,
                         std::int16_t sessionHdl, const IVdbExpressionCompiler* expressions)
    : FPageManager(pageManager),
      FLastError(lastError),
      FServices(services),
      FExpressions(expressions),
      FSessionHdl(sessionHdl) {
  // A station of its own until the session names one, so that every table can join.
  const std::uint32_t station = 1 + FServices.Random.NextBelow(0x7FFFFFFE);
  FLockFiles.SetStation(station, VdbUtf8ToUtf16(std::to_string(station)));
}

TVdbCatalog::~TVdbCatalog() { static_cast<void>(Close()); }

void TVdbCatalog::SetLocation(std::u16string directory) {
  while (directory.size() > 1 && directory.back() == u'/') directory.pop_back();
  FLocation = std::move(directory);
}

// ---- life cycle

std::int16_t TVdbCatalog::Open(TvuFileSystem& dataFs) {
  if (IsOpen()) return 0;
  // A file-system object of its own gives this session its own cached view of every file:
  // towards the other sessions of the process it then behaves like another process, and the
  // lock files tell it when to drop what it cached.
  FOwnFs = std::make_unique<TvuFileSystemWrapper>(dataFs);
  FDataFs = FOwnFs.get();
  FEnv = std::make_unique<TVdbTableEnvironment>(
      TVdbTableEnvironment{FPageManager, *FOwnFs, FSessionHdl, FLastError, FServices});
  FEnv->LockFiles = &FLockFiles;
  FEnv->Expressions = FExpressions;
  FPageManager.RegisterClient(FSessionHdl, CacheSize);
  FRegisteredCacheSize = CacheSize;
  FManagementLevel = tmlUnmanaged;
  const std::int16_t r = Guard([&] {
    if (DetectManaged()) OpenManaged();
  });
  if (r < 0) {
    static_cast<void>(Close());
    return r;
  }
  FUnlockThread = std::jthread([this](std::stop_token stop) { UnlockLoop(stop); });
  return 0;
}

bool TVdbCatalog::DetectManaged() const {
  for (const char16_t* ext : {u".vdbt", u".dat"}) {
    if (FindFileNoCase(FullPath(std::u16string(u"sys_UserTables") + ext)) &&
        FindFileNoCase(FullPath(std::u16string(u"sys_UserColumns") + ext))) {
      return true;
    }
  }
  return false;
}

void TVdbCatalog::OpenManaged() {
  const std::int16_t tables = TryOpenTable(u"sys_UserTables", u"", kVdbRightsWriteMask);
  Check(tables);
  Check(TryOpenTable(u"sys_UserColumns", u"", kVdbRightsWriteMask));
  FManagementLevel = tmlManaged;
  for (const std::u16string& name : FirstColumnTexts(tables)) {
    if (!name.empty()) Check(TryOpenTable(name, u"", kVdbRightsWriteMask));
  }
}

std::vector<std::u16string> TVdbCatalog::FirstColumnTexts(TVdbRltnIdx rltnIdx) const {
  std::vector<std::u16string> texts;
  TVdbRelation* relation = GetRelation(rltnIdx);
  if (relation == nullptr || relation->ColumnDefs().GetCount() == 0) return texts;
  const TVdbColumnDef& col = relation->ColumnDefs().GetColumnDef(0);
  TVdbAccessor walker(*relation, u"Session_Default");
  std::int16_t r;
  for (r = walker.First(); r == 0; r = walker.Next()) {
    TVdbDataValue v;
    col.DataType()->SetReference(v, walker.RecordPtrExc(), static_cast<std::size_t>(col.Position()));
    texts.push_back(col.DataType()->IsNull(v) ? std::u16string() : col.DataType()->GetWideString(v));
  }
  if (r != -errRecordNotFound) Check(r);
  return texts;
}

std::int16_t TVdbCatalog::Close() {
  if (!IsOpen()) return 0;
  // The thread visits the tables: it must be gone before the first table is freed.
  StopUnlockThread();
  std::int16_t result = 0;
  for (TVdbRltnIdx i = 1; i <= kVdbMaxRltnIdx; ++i) {
    if (FSlots[static_cast<std::size_t>(i)].Table) {
      const std::int16_t r = CloseRelation(i, true);
      if (r < 0 && result == 0) result = r;
    }
  }
  FPageManager.UnregisterClient(FSessionHdl, FRegisteredCacheSize);
  FManagementLevel = tmlUnmanaged;
  FEnv.reset();
  FDataFs = nullptr;
  // The database key is not needed once its tables are closed; opening again sets it anew.
  VdbWipe(FKey.data(), FKey.size() * sizeof(char16_t));
  FKey.clear();
  FOwnFs.reset();
  return result;
}

// ---- transactions

bool TVdbCatalog::InTransaction() const noexcept { return FEnv != nullptr && FEnv->IsolationLevel != tilNone; }

std::int16_t TVdbCatalog::BeginTransaction() {
  return Guard([&] {
    if (!FEnv) RaiseEngineError(errFileNotFoundOrDenied, {FLocation});
    if (FEnv->IsolationLevel != tilNone) RaiseEngineError(errTransactionRunning);
    // Each table starts its redo log with its first write lock from now on.
    FEnv->IsolationLevel = tilReadCommited;
  });
}

std::int16_t TVdbCatalog::EndTransaction(bool commit) {
  return Guard([&] {
    if (!InTransaction()) return;
    for (TVdbRltnIdx i = 1; i <= kVdbMaxRltnIdx; ++i) {
      TVdbBaseTable* table = FSlots[static_cast<std::size_t>(i)].Table.get();
      if (table == nullptr) continue;
      if (table->Locks().CountReadLocks() > 0 || table->Locks().CountWriteLocks() > 1) {
        RaiseEngineError(errTableHasLocks, {table->GetName()});
      }
    }
    FEnv->IsolationLevel = tilNone;
    std::int16_t result = 0;
    for (TVdbRltnIdx i = 1; i <= kVdbMaxRltnIdx && result >= 0; ++i) {
      TVdbBaseTable* table = FSlots[static_cast<std::size_t>(i)].Table.get();
      if (table == nullptr) continue;
      result = commit ? table->CommitModifications() : table->UndoModifications();
    }
    // The write locks the transaction kept are given up now that the level is back to none.
    for (TVdbRltnIdx i = 1; i <= kVdbMaxRltnIdx; ++i) {
      TVdbBaseTable* table = FSlots[static_cast<std::size_t>(i)].Table.get();
      if (table == nullptr) continue;
      while (table->Locks().CountWriteLocks() > 0) {
        if (table->EndWrite() < 0) break;
      }
    }
    Check(result);
  });
}

void TVdbCatalog::StopUnlockThread() {
  if (!FUnlockThread.joinable()) return;
  FUnlockThread.request_stop();
  FStopSignal.notify_all();
  FUnlockThread.join();
}

// Gives back table locks that stayed idle. A table that refuses keeps its lock; the next pass
// tries again, and nobody waits for this thread, so there is no caller to tell.
void TVdbCatalog::UnlockLoop(std::stop_token stop) {
  while (!stop.stop_requested()) {
    {
      std::unique_lock wait(FStopMutex);
      FStopSignal.wait_for(wait, stop, std::chrono::milliseconds(kVdbUnlockIntervalMs), [] { return false; });
    }
    if (stop.stop_requested()) break;
    std::lock_guard slots(FRelationListSync);
    const std::uint32_t ticks = FServices.Clock.NowMs();
    for (TVdbRltnIdx i = 1; i <= kVdbMaxRltnIdx; ++i) {
      TVdbBaseTable* table = FSlots[static_cast<std::size_t>(i)].Table.get();
      if (table == nullptr) continue;
      try {
        table->Locks().CheckUnlock(ticks);
      } catch (...) {
      }
    }
  }
}

// ---- names

bool TVdbCatalog::IsTableNameEqual(std::u16string_view a, std::u16string_view b) {
  return VdbSameTextNoCase(VdbCalcStdTableName(a), VdbCalcStdTableName(b));
}

std::u16string TVdbCatalog::FullPath(std::u16string_view name) const {
  // Only an absolute directory leaves the database directory as the base: a relative one
  // ("sub/x", "../x") is taken from the database directory, never from the process's
  // working directory.
  if (!name.empty() && name.front() == u'/') return std::u16string(name);
  return FLocation.empty() ? std::u16string(name) : FLocation + u"/" + std::u16string(name);
}

std::optional<std::u16string> TVdbCatalog::FindFileNoCase(const std::u16string& path) const {
  if (FDataFs == nullptr) return std::nullopt;
  if (FDataFs->FileExists(path)) return path;
  const std::u16string dir(VdbExtractDir(path));
  const std::u16string_view file = VdbExtractFileName(path);
  std::vector<std::u16string> matches;
  TvuFindFileRec rec;
  if (FDataFs->FindFirstFile(dir + u"*", 0, rec)) {
    do {
      if (VdbSameTextNoCase(rec.Name, file)) matches.push_back(rec.Name);
    } while (FDataFs->FindNextFile(rec));
    FDataFs->FindFileClose(rec);
  }
  if (matches.empty()) return std::nullopt;
  return dir + *std::min_element(matches.begin(), matches.end());
}

std::u16string TVdbCatalog::ResolveTableFile(std::u16string_view tableName) const {
  const std::u16string full = FullPath(tableName);
  if (!VdbExtractExt(full).empty()) return FindFileNoCase(full).value_or(u"");
  for (const char16_t* ext : {u".dat", u".vdbt"}) {
    if (auto found = FindFileNoCase(full + ext)) return *found;
  }
  return {};
}

bool TVdbCatalog::ExistsTable(std::u16string_view tableName) const {
  const std::u16string full = FullPath(tableName);
  if (!VdbExtractExt(full).empty()) return FindFileNoCase(full).has_value();
  return FindFileNoCase(full + u".vdbt").has_value() || FindFileNoCase(full + u".dat").has_value();
}

std::vector<std::u16string> TVdbCatalog::GetTableNames() const {
  std::vector<std::u16string> names;
  if (FDataFs == nullptr) return names;
  if (FManagementLevel == tmlManaged) return FirstColumnTexts(FindRltnIdx(u"sys_UserTables"));
  TvuFindFileRec rec;
  if (FDataFs->FindFirstFile(FullPath(u"*.*"), 0, rec)) {
    do {
      const std::u16string_view ext = VdbExtractExt(rec.Name);
      const bool tableFile = VdbSameTextNoCase(ext, u".dat") || VdbSameTextNoCase(ext, u".vdbt") ||
                             VdbSameTextNoCase(ext, u".rel");
      if (tableFile && !StartsWithNoCase(rec.Name, u"sys_")) names.push_back(VdbCalcStdTableName(rec.Name));
    } while (FDataFs->FindNextFile(rec));
    FDataFs->FindFileClose(rec);
  }
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  return names;
}

// ---- lookup

TVdbRelation* TVdbCatalog::GetRelation(TVdbRltnIdx rltnIdx) const {
  if (!IsValidRltnIdx(rltnIdx)) return nullptr;
  return FSlots[static_cast<std::size_t>(rltnIdx)].Table.get();
}

TVdbAccessor* TVdbCatalog::GetAccessor(TVdbRltnIdx rltnIdx) const {
  if (!IsValidRltnIdx(rltnIdx)) return nullptr;
  return FSlots[static_cast<std::size_t>(rltnIdx)].Accessor.get();
}

TVdbRltnIdx TVdbCatalog::GetFreeRltnIdx() const {
  for (TVdbRltnIdx i = 1; i <= kVdbMaxRltnIdx; ++i) {
    if (!FSlots[static_cast<std::size_t>(i)].Table) return i;
  }
  return 0;
}

std::int32_t TVdbCatalog::OpenRelationCount() const {
  return static_cast<std::int32_t>(std::count_if(FSlots.begin(), FSlots.end(), [](const TSlot& s) { return s.Table != nullptr; }));
}

TVdbRltnIdx TVdbCatalog::FindRltnIdx(std::u16string_view relationName) const {
  // A relative directory names the same place as the files opened under it.
  const std::u16string full = VdbExtractDir(relationName).empty() ? std::u16string() : FullPath(relationName);
  const std::u16string_view dir = VdbExtractDir(full);
  const std::u16string_view ext = VdbExtractExt(relationName);
  for (TVdbRltnIdx i = 1; i <= kVdbMaxRltnIdx; ++i) {
    const TVdbBaseTable* t = FSlots[static_cast<std::size_t>(i)].Table.get();
    if (t == nullptr || !IsTableNameEqual(t->FileName(), relationName)) continue;
    if (!dir.empty() && !VdbSameTextNoCase(VdbExtractDir(t->FileName()), dir)) continue;
    if (!ext.empty() && !VdbSameTextNoCase(VdbExtractExt(t->FileName()), ext)) continue;
    return i;
  }
  return 0;
}

bool TVdbCatalog::IsInUse(TVdbRltnIdx rltnIdx) const {
  const TVdbRelation* r = GetRelation(rltnIdx);
  return r != nullptr && r->GetCountAccessors() >= 2;
}

void TVdbCatalog::SetTemporary(TVdbRltnIdx rltnIdx, bool temporary) {
  if (!IsValidRltnIdx(rltnIdx)) return;
  TSlot& slot = FSlots[static_cast<std::size_t>(rltnIdx)];
  slot.Temporary = temporary;
  // Temporary tables are not part of transactions: they keep no redo log.
  if (slot.Table) slot.Table->SetTemporary(temporary);
}

// ---- opening

std::int16_t TVdbCatalog::OpenTable(std::u16string_view tableName, std::u16string_view key, std::uint16_t rights,
                                    bool force, bool internal) {
  return Guard([&] { return DoOpenTable(tableName, key, rights, force, internal); });
}

std::int16_t TVdbCatalog::DoOpenTable(std::u16string_view tableName, std::u16string_view key, std::uint16_t rights,
                                      bool force, bool internal) {
  if (!IsOpen()) RaiseEngineError(errFileNotFoundOrDenied, {FLocation});
  TVdbRltnIdx idx = GetFreeRltnIdx();
  if (idx == 0) {
    CloseUnneededTables(false, false);
    idx = GetFreeRltnIdx();
    if (idx == 0) RaiseEngineError(errTooManyTables);
  }
  const std::u16string stdName = VdbCalcStdTableName(tableName);
  for (TVdbRltnIdx i = 1; i <= kVdbMaxRltnIdx; ++i) {
    const TVdbBaseTable* t = FSlots[static_cast<std::size_t>(i)].Table.get();
    if (t != nullptr && IsTableNameEqual(t->FileName(), stdName)) RaiseEngineError(errTableAlreadyOpen, {stdName});
  }
  const std::u16string path = ResolveTableFile(tableName);
  if (path.empty()) RaiseEngineError(errFileNotFoundOrDenied, {std::u16string(tableName)});

  if (!internal) {
    if (ReadOnly) rights &= static_cast<std::uint16_t>(~kVdbRightsWriteMask);
    if (Exclusive) rights |= kVdbRightExclusive;
    // The database's secure flush mode holds for every table of it, however it is opened.
    if (DeepFlush) rights |= kVdbRightDeepFlush;
    if (SharedReadOnly && (rights & kVdbRightsWriteMask) == 0) {
      rights |= kVdbRightSharedReadOnly;
    } else {
      rights &= static_cast<std::uint16_t>(~kVdbRightSharedReadOnly);
    }
  }
  auto table = std::make_unique<TVdbBaseTable>(*FEnv);
  table->SetIntegrityRules(&FIntegrityRules);
  table->SetRights(rights);
  table->SetFileName(path);
  table->SetKey(key.empty() ? FKey : std::u16string(key));
  std::int16_t r = table->Open(force);
  if (r == -errNoWriteAccess && (rights & kVdbRightsWriteMask) != 0) {
    table->SetRights(static_cast<std::uint16_t>(rights & ~kVdbRightsWriteMask));
    r = table->Open(force);
  }
  Check(r);
  table->SetRltnIdx(idx);
  {
    std::lock_guard lock(FRelationListSync);
    TSlot& slot = FSlots[static_cast<std::size_t>(idx)];
    slot.Table = std::move(table);
    slot.Temporary = false;
  }
  TSlot& slot = FSlots[static_cast<std::size_t>(idx)];
  try {
    slot.Accessor = std::make_unique<TVdbAccessor>(*slot.Table, u"Session_Default");
    const std::int16_t setup = slot.Table->Setup(force);
    if (setup < 0 && !force) Check(setup);
    const std::int16_t first = slot.Accessor->First();
    if (first < 0 && first != -errRecordNotFound) Check(first);
  } catch (...) {
    slot.Table->Close();
    FreeRelation(idx);
    throw;
  }
  return idx;
}

std::int16_t TVdbCatalog::TryOpenTable(std::u16string_view tableName, std::u16string_view key, std::uint16_t rights,
                                       bool mustBeWritable) {
  const TVdbRltnIdx open = FindRltnIdx(tableName);
  if (open > 0) return open;
  if (DeepFlush) rights |= kVdbRightDeepFlush;
  std::int16_t r = OpenTable(tableName, key, rights);
  if ((r == -errFileNotFoundOrDenied || r == -errNoWriteAccess) && !mustBeWritable &&
      (rights & kVdbRightsWriteMask) != 0 && ExistsTable(tableName)) {
    r = OpenTable(tableName, key, static_cast<std::uint16_t>(rights & ~kVdbRightsWriteMask));
  }
  while (r == -errInvalidCredentials && PasswordCallback) {
    constexpr std::size_t kBufferSize = 512;
    constexpr std::size_t kKeyEnd = 255;
    std::u16string buffer(kBufferSize, u'X');
    buffer[kKeyEnd] = u'\0';
    if (PasswordCallback(std::span<char16_t>(buffer.data(), buffer.size())) != 0) break;
    std::u16string given(buffer.c_str());
    VdbWipe(buffer.data(), buffer.size() * sizeof(char16_t));
    r = OpenTable(tableName, given, rights);
    VdbWipe(given.data(), given.size() * sizeof(char16_t));
  }
  return r;
}

// ---- temporary tables

std::int16_t TVdbCatalog::CreateAndOpenTempTable(std::u16string_view tableName,
                                                 const std::vector<TVdbNewColumn>& columns) {
  if (!IsOpen()) return FLastError.SetLastError(errFileNotFoundOrDenied, {FLocation});
  std::u16string dir = FPrivateDir.empty() ? FLocation : FPrivateDir;
  while (dir.size() > 1 && dir.back() == u'/') dir.pop_back();
  if (!FDataFs->DirectoryExists(dir) && !FDataFs->ForcePath(dir)) {
    return FLastError.SetLastError(errFileWrite, {dir});
  }
  // Names are drawn at random; a bounded number of draws keeps a directory that refuses
  // every name from looping for ever.
  constexpr int kMaxDraws = 100;
  std::int16_t created = -errFileExists;
  std::u16string path;
  for (int draw = 0; draw < kMaxDraws; ++draw) {
    std::u16string name(tableName);
    name += u'_';
    for (int i = 0; i < 8; ++i) name += static_cast<char16_t>(u'a' + FServices.Random.NextBelow(26));
    path = dir + u"/" + name;
    TVdbNewTable table;
    table.Path = path;
    table.Capacity = 1000000;
    table.Columns = columns;
    created = TVdbBaseTable(*FEnv).NewTable(table);
    if (created != -errFileExists && created != -errTableAlreadyOpen && created != -errFileWrite) break;
  }
  if (created < 0) return created;
  const std::u16string dataFile = VdbDataFileNameFor(path, VDB_NEW_TABLE_LEVEL);
  const std::int16_t slot = OpenTable(dataFile, u"", static_cast<std::uint16_t>(kVdbRightExclusive | 0x0009), false, true);
  if (slot < 0) {
    std::vector<std::u16string> files{dataFile};
    const TVdbTableFileNames names(dataFile, VDB_NEW_TABLE_LEVEL);
    for (const auto& f : {names.MemoFile(), names.BlobFile()}) files.push_back(f);
    for (const auto& f : files) {
      if (FDataFs->FileExists(f)) FDataFs->DeleteFile(f);
    }
    return stsCannotExecuteSql;
  }
  SetTemporary(slot, true);
  return slot;
}

std::int16_t TVdbCatalog::CreateTable(TVdbNewTable table) {
  if (!IsOpen()) return FLastError.SetLastError(errFileNotFoundOrDenied, {FLocation});
  table.Path = FullPath(table.Path);
  {
    TVdbBaseTable created(*FEnv);
    created.SetIntegrityRules(&FIntegrityRules);
    const std::int16_t r = created.NewTable(table);
    if (r < 0) return r;
  }
  const std::int16_t slot = OpenTable(VdbDataFileNameFor(table.Path, table.Level), table.Key, kVdbRightsWriteMask);
  if (slot < 0) return slot;
  return CloseRelation(slot);
}

std::int16_t TVdbCatalog::DeleteTable(std::u16string_view tableName, std::u16string_view key, bool askPassword) {
  if (!IsOpen()) return FLastError.SetLastError(errFileNotFoundOrDenied, {FLocation});
  if (const TVdbRltnIdx open = FindRltnIdx(tableName); open > 0) {
    const std::int16_t r = TryCloseRelation(open);
    if (r < 0) return r;
  }
  constexpr std::uint16_t kRights = kVdbRightsWriteMask | kVdbRightExclusive;
  const std::int16_t slot = askPassword ? TryOpenTable(tableName, key, kRights, true) : OpenTable(tableName, key, kRights);
  if (slot < 0) return slot;
  std::vector<std::u16string> files;
  FSlots[static_cast<std::size_t>(slot)].Table->GetFileNames(files);
  if (const std::int16_t r = CloseRelation(slot); r < 0) return r;
  // An index name read from a damaged or forged data file must not lead the delete anywhere
  // but the table's own directory.
  const std::u16string_view dir = files.empty() ? std::u16string_view() : VdbExtractDir(files.front());
  for (const std::u16string& file : files) {
    if (VdbExtractDir(file) != dir) return FLastError.SetLastError(errFileDelete, {file});
  }
  for (const std::u16string& file : files) {
    if (FDataFs->FileExists(file) && !FDataFs->DeleteFile(file)) return FLastError.SetLastError(errFileDelete, {file});
  }
  return 0;
}

std::u16string TVdbCatalog::CalcTemporaryTableName(std::u16string_view baseName) const {
  std::u16string name(baseName);
  while (FindRltnIdx(name) > 0) {
    name = std::u16string(baseName) + VdbUtf8ToUtf16(std::to_string(FServices.Random.NextBelow(1000000)));
  }
  return name;
}

// ---- closing

void TVdbCatalog::FreeRelation(TVdbRltnIdx rltnIdx) {
  std::unique_ptr<TVdbAccessor> accessor;
  std::unique_ptr<TVdbBaseTable> table;
  {
    std::lock_guard lock(FRelationListSync);
    TSlot& slot = FSlots[static_cast<std::size_t>(rltnIdx)];
    accessor = std::move(slot.Accessor);
    table = std::move(slot.Table);
    slot.Temporary = false;
  }
  accessor.reset();  // it unregisters from the table, which must still exist
}

std::int16_t TVdbCatalog::CloseRelation(TVdbRltnIdx rltnIdx, bool remove) {
  return Guard([&] {
    TVdbBaseTable* table = IsValidRltnIdx(rltnIdx) ? FSlots[static_cast<std::size_t>(rltnIdx)].Table.get() : nullptr;
    if (table == nullptr) RaiseEngineError(errIndexNotFound, {VdbUtf8ToUtf16(std::to_string(rltnIdx))});
    const bool temporary = FSlots[static_cast<std::size_t>(rltnIdx)].Temporary;
    std::vector<std::u16string> files;
    if (temporary) table->GetFileNames(files);
    const std::int16_t closed = table->Close();
    if (temporary) {
      for (const auto& f : files) {
        if (FDataFs->FileExists(f)) FDataFs->DeleteFile(f);
      }
    }
    if (remove || temporary) FreeRelation(rltnIdx);
    Check(closed);
  });
}

std::int16_t TVdbCatalog::TryCloseRelation(TVdbRltnIdx rltnIdx, bool remove) {
  if (IsInUse(rltnIdx)) {
    CloseUnneededTables(true, false);
    if (IsInUse(rltnIdx)) {
      return FLastError.SetLastError(errTableStillAccessed, {GetRelation(rltnIdx)->GetName()});
    }
  }
  return CloseRelation(rltnIdx, remove);
}

std::int32_t TVdbCatalog::CloseUnneededTables(bool temporaryOnly, bool includeSystem) {
  std::int32_t closed = 0;
  for (bool changed = true; changed;) {
    changed = false;
    for (TVdbRltnIdx i = 1; i <= kVdbMaxRltnIdx; ++i) {
      const TSlot& slot = FSlots[static_cast<std::size_t>(i)];
      if (!slot.Table || IsInUse(i)) continue;
      if (temporaryOnly && !slot.Temporary) continue;
      if (!includeSystem && StartsWithNoCase(VdbCalcStdTableName(slot.Table->FileName()), u"sys_")) continue;
      // A table that fails to close is still freed: the slot is what the caller needs, and
      // the failure stays recorded.
      static_cast<void>(CloseRelation(i, true));
      ++closed;
      changed = true;
    }
  }
  return closed;
}

}  // namespace vdb
