#include "VdbDatabase.h"

#include <algorithm>
#include <iostream>
#include <mutex>

#include "VdbDataSet.h"

namespace vdbds {

namespace {

// The process-wide list of database components. Recursive: a password handler called
// under the lock may look a database up itself.
struct TDatabaseList {
  std::recursive_mutex Lock;
  std::vector<TVdbDatabase*> Items;
};

TDatabaseList& Databases() {
  static TDatabaseList list;
  return list;
}

constexpr std::int16_t kStatusTooManyTables = -2;
constexpr std::int16_t kStatusWrongPassword = -12;
constexpr std::int16_t kStatusDatabaseNotFound = -58;
constexpr std::size_t kMaxKeyChars = 80;
constexpr std::size_t kMaxPathChars = 255;

std::u16string Cut(const std::u16string& text, std::size_t chars) { return text.substr(0, chars); }

// The directory part of a table name ("" when it has none), with its separator.
std::u16string DirectoryOf(const std::u16string& tableName) {
  const auto slash = tableName.find_last_of(u"/\\");
  return slash == std::u16string::npos ? std::u16string() : tableName.substr(0, slash + 1);
}

}  // namespace

bool SameDatabaseName(std::u16string_view a, std::u16string_view b) noexcept {
  if (a.size() != b.size()) return false;
  auto upper = [](char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - 32) : c; };
  for (std::size_t i = 0; i < a.size(); ++i)
    if (upper(a[i]) != upper(b[i])) return false;
  return true;
}

TVdbDatabase::TVdbDatabase(TVdbCalls& calls) : FCalls(calls) {
  std::lock_guard lock(Databases().Lock);
  Databases().Items.push_back(this);
}

TVdbDatabase::~TVdbDatabase() {
  try {
    CloseIfConnected();
  } catch (const std::exception& e) {
    // A destructor has no window to report to; the session is gone either way.
    std::cerr << "Closing a database on destruction failed: " << e.what() << '\n';
  }
  std::lock_guard lock(Databases().Lock);
  std::erase(Databases().Items, this);
}

void TVdbDatabase::SetName(const std::u16string& value) {
  FName = value;
  if (FDatabaseName.empty()) FDatabaseName = value;
}

void TVdbDatabase::CheckConnected() const {
  if (!Connected()) tk::DatabaseError(u"Cannot perform this action on a disconnected database");
}

void TVdbDatabase::Check(std::u16string_view context, std::int32_t result) {
  CheckEngineResult(FCalls, FSessionHdl, context, result);
}

// ---------------------------------------------------------------- settings

void TVdbDatabase::SetDatabaseName(const std::u16string& value) {
  if (value == FDatabaseName) return;
  if (Connected()) tk::DatabaseError(u"Cannot change the database name when connected");
  FDatabaseName = value;
}

void TVdbDatabase::SetLocation(const std::u16string& value) {
  if (value == FLocation) return;
  if (Connected()) tk::DatabaseError(u"Cannot change location while database is open");
  FLocation = value;
}

void TVdbDatabase::SetPrivateDir(const std::u16string& value) {
  if (value == FPrivateDir) return;
  if (Connected()) tk::DatabaseError(u"Cannot change private directory while database is open");
  FPrivateDir = value;
}

void TVdbDatabase::CloseIfConnected() {
  if (Connected()) SetConnected(false);
}

void TVdbDatabase::SetDatabaseType(TVdbDatabaseType value) {
  if (value == FDatabaseType) return;
  CloseIfConnected();
  FDatabaseType = value;
}

void TVdbDatabase::SetExclusive(bool value) {
  if (value == FExclusive) return;
  CloseIfConnected();
  FExclusive = value;
}

void TVdbDatabase::SetReadOnly(bool value) {
  if (value == FReadOnly) return;
  CloseIfConnected();
  FReadOnly = value;
}

void TVdbDatabase::SetSharedReadOnly(bool value) {
  if (value == FSharedReadOnly) return;
  CloseIfConnected();
  FSharedReadOnly = value;
}

void TVdbDatabase::SetIndexPageSize(std::int32_t value) {
  FIndexPageSize = value;
  if (Connected()) Check(u"Setting system settings", FCalls.SessSetSystemSettings(FSessionHdl, FIndexPageSize, FBlobBlockSize));
}

void TVdbDatabase::SetBlobBlockSize(std::int32_t value) {
  FBlobBlockSize = value;
  if (Connected()) Check(u"Setting system settings", FCalls.SessSetSystemSettings(FSessionHdl, FIndexPageSize, FBlobBlockSize));
}

void TVdbDatabase::PassSettings() {
  Check(u"Setting database settings",
        FCalls.SessSetSettings(FSessionHdl, FCaseSensitive, FCaretSwitch, FAutoCreateIndexes, LockingTimeout));
}

void TVdbDatabase::SetCaseSensitive(bool value) {
  FCaseSensitive = value;
  if (Connected()) PassSettings();
}

void TVdbDatabase::SetCaretSwitch(bool value) {
  FCaretSwitch = value;
  if (Connected()) PassSettings();
}

void TVdbDatabase::SetAutoCreateIndexes(bool value) {
  FAutoCreateIndexes = value;
  if (Connected()) PassSettings();
}

void TVdbDatabase::SetLogLevel(std::int16_t value) {
  FLogLevel = value;
  if (Connected()) Check(u"Setting log level", FCalls.SessSetLogLevel(FSessionHdl, FLogLevel));
}

// ---------------------------------------------------------------- connecting

void TVdbDatabase::SetConnected(bool value) {
  if (value == Connected()) return;
  if (value) {
    if (BeforeConnect) BeforeConnect(*this);
    DoConnect();
    if (AfterConnect) AfterConnect(*this);
  } else {
    if (BeforeDisconnect) BeforeDisconnect(*this);
    DoDisconnect();
    if (AfterDisconnect) AfterDisconnect(*this);
  }
}

void TVdbDatabase::DoConnect() {
  {
    std::lock_guard lock(Databases().Lock);
    for (const TVdbDatabase* other : Databases().Items)
      if (other != this && other->Connected() && SameDatabaseName(other->FDatabaseName, FDatabaseName))
        tk::DatabaseError(u"Duplicate database name: \"%s\"", {FName.empty() ? FDatabaseName : FName});
  }
  const std::int16_t session = FCalls.CreateSession(FLocation);
  if (session < 0) RaiseEngineErrorFmt(FCalls, -1, u"Connecting to database \"%s\"", {FLocation}, session);
  FSessionHdl = session;
  try {
    ConnectSession();
  } catch (...) {
    // A failed connection leaves no session behind.
    FCalls.SessDelete(FSessionHdl);
    FSessionHdl = 0;
    throw;
  }
}

void TVdbDatabase::ConnectSession() {
  const std::u16string connecting = tk::FormatText(u"Connecting to database \"%s\"", {FLocation});
  TVdbNetParamsRec params;
  Check(connecting, FCalls.SessGetDefaultNetParams(FSessionHdl, params));
  params.NetDirs.clear();
  params.PrivateDir = Cut(FPrivateDir, kMaxPathChars);
  params.StationName = Cut(ConnectionName, kMaxPathChars);
  FConnectionId = params.StationNo;
  if (ServerTimeout != 0)
    params.ServerTimeout = ServerTimeout;
  else
    ServerTimeout = params.ServerTimeout;
  Check(connecting, FCalls.SessSetNetParams(FSessionHdl, params));
  Check(connecting, FCalls.SessSetPasswordCallback(FSessionHdl, &TVdbDatabase::PasswordCallback));
  Check(connecting, FCalls.SessSetSystemSettings(FSessionHdl, FIndexPageSize, FBlobBlockSize));

  std::uint32_t attributes = 0;
  if (FReadOnly) attributes |= VDB_OPEN_READONLY;
  if (FExclusive) attributes |= VDB_OPEN_EXCLUSIVE;
  if (FFlushMode == TVdbFlushMode::tfmSecure) attributes |= VDB_OPEN_DEEP_FLUSH;
  if (FSharedReadOnly) attributes |= VDB_OPEN_SHARED_READONLY;
  std::int16_t result = FCalls.SessOpenDb(FSessionHdl, FLocation, UserName, Password, CacheSizeKB, attributes);
  if (result == kStatusDatabaseNotFound && !FReadOnly && !FExclusive) {
    // A database that cannot be shared may still open for this program alone, read-only.
    result = FCalls.SessOpenDb(FSessionHdl, FLocation, UserName, Password, CacheSizeKB,
                               attributes | VDB_OPEN_READONLY | VDB_OPEN_EXCLUSIVE);
    if (result == 0) FReadOnly = FExclusive = true;
  }
  // The reason is read before the session goes (the caller deletes it).
  if (result != 0) RaiseEngineErrorFmt(FCalls, FSessionHdl, u"Opening database \"%s\"", {FLocation}, result < 0 ? result : -100);

  std::int16_t management = 0, encryption = 0;
  Check(connecting, FCalls.SessGetDbInfo(FSessionHdl, management, encryption));
  FManagementLevel = management == VDB_MANAGED ? TVdbManagementLevel::tmlManaged : TVdbManagementLevel::tmlUnmanaged;
  FEncryptionMethod = encryption >= 0 && encryption <= 6 ? static_cast<TVdbEncryptionMethod>(encryption)
                                                        : TVdbEncryptionMethod::temDefault;
  PassSettings();
  Check(u"Setting log level", FCalls.SessSetLogLevel(FSessionHdl, FLogLevel));
  FDatabaseType = FCalls.SessIsSingleFile(FSessionHdl) == 1 ? TVdbDatabaseType::dbtSingleFile
                                                            : TVdbDatabaseType::dbtDirectory;
  OpenTableDefs();
}

void TVdbDatabase::OpenTableDefs() {
  for (const TVdbBaseTableDef& def : TableDefs) {
    const std::int16_t rltn = OpenTableResult(def.TableName, Password, TableRights(false, kAllAccessRights,
                                                                                   TVdbFlushMode::tfmDefault), false);
    if (rltn <= 0) RaiseEngineErrorFmt(FCalls, FSessionHdl, u"Opening table \"%s\"", {def.TableName}, rltn < 0 ? rltn : -1);
    Check(u"Setting table properties", FCalls.RltnActivateEditLocks(rltn, def.UseEditLocks));
  }
}

void TVdbDatabase::DoDisconnect() {
  CloseDataSets();
  const std::int16_t session = FSessionHdl;
  const std::int16_t closed = FCalls.SessCloseDb(session);
  FCalls.SessDelete(session);
  FSessionHdl = 0;
  // The session is gone; a failed close is still reported, without a reason to read.
  if (closed < 0) RaiseEngineError(FCalls, -1, u"Closing database", closed);
}

// ---------------------------------------------------------------- tables

std::uint16_t TVdbDatabase::TableRights(bool exclusive, TVdbAccessRights rights,
                                        TVdbFlushMode flushMode) const noexcept {
  std::uint16_t word = (rights & tarAppend) ? 0xF8F1 : 0xF8F0;
  if (rights & tarEdit) word += 2;
  if (rights & tarDelete) word += 4;
  if (rights & tarIndex) word += 8;
  if (exclusive || FExclusive) word += VDB_RIGHT_EXCLUSIVE;
  if (flushMode == TVdbFlushMode::tfmSecure ||
      (flushMode == TVdbFlushMode::tfmDefault && FFlushMode == TVdbFlushMode::tfmSecure))
    word += VDB_RIGHT_DEEP_FLUSH;
  return word;
}

std::int16_t TVdbDatabase::OpenTableResult(const std::u16string& tableName, std::u16string key, std::uint16_t rights,
                                           bool force) {
  CheckConnected();
  const std::int16_t open = FCalls.SessFindRltnHdl(FSessionHdl, tableName);
  if (open > 0) return open;
  bool closedUnneeded = false;
  std::int16_t result = 0;
  for (;;) {
    result = FCalls.SessOpenTable(FSessionHdl, tableName, key, rights, true, force);
    if (result == kStatusTooManyTables && !closedUnneeded) {
      closedUnneeded = true;
      Check(u"Closing tables", FCalls.SessCloseUnneededTables(FSessionHdl));
      continue;
    }
    if (result == kStatusWrongPassword) {
      key.clear();
      if (!OnPassword) break;
      bool retry = false;
      OnPassword(this, tableName, key, retry);
      if (retry) continue;
    }
    break;
  }
  if (result > 0) OpenLinkedTables(tableName, key, rights);
  return result;
}

void TVdbDatabase::OpenLinkedTables(const std::u16string& tableName, const std::u16string& key, std::uint16_t rights) {
  const std::int16_t rltn = FCalls.SessFindRltnHdl(FSessionHdl, tableName);
  if (rltn <= 0) return;
  const std::int16_t cursor = FCalls.TableCreate(rltn, u"CheckRelationOpen_Temp");
  if (cursor <= 0) return;
  std::vector<std::u16string> linked;
  const std::int16_t count = FCalls.TableGetNumFields(cursor);
  for (std::int16_t no = 1; no <= count; ++no) {
    TVdbColumnSpec spec;
    if (FCalls.TableGetFieldSpec(cursor, no, spec) < 0) continue;
    const std::int16_t type = spec.FldType & 0xFF;
    if ((type == VDB_TYPE_LINK || type == VDB_TYPE_RELATION) && !spec.SelectOrLink.empty() && spec.SelectOrLink != u"@")
      linked.push_back(DirectoryOf(tableName) + spec.SelectOrLink);
  }
  FCalls.TableDelete(cursor);
  for (const std::u16string& name : linked)
    if (FCalls.SessFindRltnHdl(FSessionHdl, name) <= 0) OpenTableResult(name, key, rights, false);
}

std::int16_t TVdbDatabase::OpenTable(const std::u16string& tableName, const std::u16string& key, bool exclusive,
                                     TVdbAccessRights rights, TVdbFlushMode flushMode) {
  CheckConnected();
  const std::int16_t result = OpenTableResult(tableName, key, TableRights(exclusive, rights, flushMode), false);
  if (result <= 0) RaiseEngineErrorFmt(FCalls, FSessionHdl, u"Opening table \"%s\"", {tableName}, result < 0 ? result : -1);
  return result;
}

void TVdbDatabase::CloseCachedTables() {
  CheckConnected();
  Check(u"Closing tables", FCalls.SessCloseUnneededTables(FSessionHdl));
}

void TVdbDatabase::AddTable(const std::u16string& tablePath) {
  CheckConnected();
  Check(u"Adding table", FCalls.SessAddTable(FSessionHdl, tablePath));
}

void TVdbDatabase::RemoveTable(const std::u16string& tableName) {
  CheckConnected();
  Check(u"Removing table", FCalls.SessRemoveTable(FSessionHdl, tableName));
}

void TVdbDatabase::GetTableNames(std::vector<std::u16string>& list, bool systemTables) {
  list.clear();
  if (systemTables) return;
  const bool wasConnected = Connected();
  SetConnected(true);
  std::u16string names;
  const std::int32_t result = FCalls.SessGetTableNames(FSessionHdl, names, 4096);
  if (!wasConnected) SetConnected(false);
  if (result < 0) RaiseEngineError(FCalls, FSessionHdl, u"Reading table names", result);
  std::size_t start = 0;
  while (start < names.size()) {
    std::size_t end = names.find(u';', start);
    if (end == std::u16string::npos) end = names.size();
    if (end > start) list.push_back(names.substr(start, end - start));
    start = end + 1;
  }
}

// ---------------------------------------------------------------- transactions

void TVdbDatabase::StartTransaction() {
  CheckConnected();
  Check(u"Starting transaction", FCalls.SessBeginTransaction(FSessionHdl));
}

void TVdbDatabase::Commit() {
  CheckConnected();
  Check(u"Committing transaction", FCalls.SessEndTransaction(FSessionHdl));
}

void TVdbDatabase::Rollback() {
  CheckConnected();
  Check(u"Rolling-back transaction", FCalls.SessCancelTransaction(FSessionHdl));
}

bool TVdbDatabase::InTransaction() {
  if (!Connected()) return false;
  const std::int16_t level = FCalls.SessGetIsolationLevel(FSessionHdl);
  Check(u"Checking transaction state", level);
  return level != VDB_ISOLATION_NONE;
}

// ---------------------------------------------------------------- datasets

void TVdbDatabase::RegisterClient(TVdbDataSet& dataSet) {
  std::lock_guard lock(Databases().Lock);
  if (std::find(FDataSets.begin(), FDataSets.end(), &dataSet) == FDataSets.end()) FDataSets.push_back(&dataSet);
}

void TVdbDatabase::UnregisterClient(TVdbDataSet& dataSet) noexcept {
  bool release = false;
  {
    std::lock_guard lock(Databases().Lock);
    std::erase(FDataSets, &dataSet);
    release = FAutomatic && FDataSets.empty();
  }
  if (release) delete this;
}

void TVdbDatabase::CloseDataSets() {
  // Closing unregisters the dataset, so the list shrinks from its end.
  for (std::size_t i = FDataSets.size(); i > 0; --i) {
    if (i > FDataSets.size()) continue;
    FDataSets[i - 1]->Close();
  }
}

void TVdbDatabase::RefreshDataSets() {
  CheckConnected();
  Check(u"Refreshing datasets", FCalls.SessRegisterModifications(FSessionHdl));
  for (TVdbDataSet* dataSet : std::vector<TVdbDataSet*>(FDataSets))
    if (dataSet->Active()) dataSet->RefreshIfChanged();
}

TVdbDatabase& TVdbDatabase::FindForDataSet(const std::u16string& databaseName) {
  TVdbDatabase* found = nullptr;
  {
    std::lock_guard lock(Databases().Lock);
    for (TVdbDatabase* db : Databases().Items) {
      if (!SameDatabaseName(db->FDatabaseName, databaseName)) continue;
      if (found) tk::DatabaseError(u"Database name \"%s\" is not unique", {databaseName});
      found = db;
    }
  }
  if (!found) {
    found = new TVdbDatabase();
    found->FAutomatic = true;
    found->FDatabaseName = databaseName;
    found->FLocation = databaseName;
  }
  try {
    found->SetConnected(true);
  } catch (...) {
    // An automatic component nobody uses yet would be lost.
    if (found->FAutomatic && found->FDataSets.empty()) delete found;
    throw;
  }
  return *found;
}

// ---------------------------------------------------------------- engine callbacks

std::int32_t TVdbDatabase::PasswordCallback(std::int16_t sessHdl, const VdbChar* tableName, VdbChar* key,
                                            std::int32_t keyMaxLen) {
  try {
    std::lock_guard lock(Databases().Lock);
    for (TVdbDatabase* db : Databases().Items) {
      if (db->FSessionHdl != sessHdl) continue;
      if (!db->OnPassword) return 1;
      std::u16string name;
      for (const VdbChar* p = tableName; p && *p; ++p) name += static_cast<char16_t>(*p);
      std::u16string given;
      bool retry = false;
      db->OnPassword(nullptr, name, given, retry);
      if (!retry) return 1;
      if (key && keyMaxLen > 0) {
        const std::size_t n = std::min({given.size(), kMaxKeyChars, static_cast<std::size_t>(keyMaxLen - 1)});
        std::copy_n(given.data(), n, key);
        key[n] = 0;
      }
      return 0;
    }
  } catch (...) {
    // The engine must never see an exception of ours: a failing handler gives up.
  }
  return 1;
}

void TVdbDatabase::ChangeCallback(std::int16_t sessHdl, std::int16_t tableHdl, std::int32_t deleted,
                                  std::int32_t moved) {
  try {
    std::lock_guard lock(Databases().Lock);
    for (TVdbDatabase* db : Databases().Items) {
      if (db->FSessionHdl != sessHdl) continue;
      for (TVdbDataSet* dataSet : db->FDataSets)
        if (dataSet->Handle() == tableHdl) dataSet->RecordDeleted(deleted, moved);
    }
  } catch (...) {
    // Marking buffers does not fail; nothing may unwind into the engine.
  }
}

}  // namespace vdbds
