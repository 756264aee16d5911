// Exported functions of the process and of sessions and databases.
#include <algorithm>
#include <span>

#include "api/VdbApiHandles.h"
#include "base/VdbErrorCodes.h"
#include "tables/VdbBaseTable.h"

using namespace vdb;
using namespace vdb::api;

namespace {

constexpr std::int16_t kEngineVersion = 8102;
constexpr std::int32_t kDefaultServerTimeout = 20000;

// Every system table of a managed database, as it is created.
std::vector<TVdbNewTable> SystemTables(const std::u16string& dir, const std::u16string& key,
                                       TvuEncryptionMethod method) {
  auto column = [](std::u16string name, TVdbColumnType type, std::int32_t length = 0, std::uint32_t options = 0) {
    TVdbNewColumn c;
    c.Name = std::move(name);
    c.ColumnType = type;
    c.Length = length;
    c.Options = options;
    return c;
  };
  TVdbNewTable tables;
  tables.Path = dir + u"/sys_UserTables.vdbt";
  tables.Capacity = 1000;
  tables.Key = key;
  tables.EncryptionMethod = method;
  tables.Columns = {column(u"Name", vctString, 44), column(u"FileName", vctString, 255),
                    column(u"Key", vctString, 40, 16)};
  TVdbNewTable columns;
  columns.Path = dir + u"/sys_UserColumns.vdbt";
  columns.Capacity = 10000;
  columns.Key = key;
  columns.EncryptionMethod = method;
  columns.Columns = {column(u"Table", vctString, 44),         column(u"Name", vctString, 40),
                     column(u"DataType", vctSmallInt),        column(u"Param", vctInteger),
                     column(u"SelectOfLink", vctString, 128), column(u"RangeOrFormula", vctString, 128),
                     column(u"Default", vctString, 128)};
  return {tables, columns};
}

}  // namespace

extern "C" {

VDBAPI TVdbResult VdbGetVersion(void) { return kEngineVersion; }

VDBAPI TVdbResult VdbGetTableLevel(void) { return VDB_NEW_TABLE_LEVEL; }

VDBAPI TVdbResult VdbCreateSession(const VdbChar* Location) {
  return Shield<TVdbResult>(stsCannotCreateSession, [&]() -> TVdbResult {
    // A location naming a server would need the remote client, which this engine does not have.
    if (ViewFromCaller(Location).find(u'@') != std::u16string_view::npos) return stsInvalidSessionHandle;
    return TApiRegistry::Instance().AddSession();
  });
}

VDBAPI TVdbResult VdbSessDelete(int16_t SessHdl) {
  return Shield<TVdbResult>(stsInvalidSessionHandle, [&]() -> TVdbResult {
    TApiRegistry& registry = TApiRegistry::Instance();
    if (registry.FindSession(SessHdl) == nullptr) return stsInvalidSessionHandle;
    registry.RemoveSession(SessHdl);
    return 0;
  });
}

VDBAPI TVdbResult VdbSessCreateDatabase(int16_t SessHdl, int16_t DbType, const VdbChar* DbName, int16_t ManagementLevel,
                                        int16_t SecurityLevel, const VdbChar* Key) {
  return CallSession<TVdbResult>(SessHdl, false, [&](TApiSession& s) -> TVdbResult {
    if (s.Session.GetIsOpen()) throw std::logic_error("Session must not be open to create a new database.");
    TvuFileSystem& fs = TApiRegistry::Instance().FileSystem();
    std::u16string dir = FromCaller(DbName);
    while (dir.size() > 1 && dir.back() == u'/') dir.pop_back();
    if (DbType == VDB_DB_SINGLE_FILE) {
      s.Session.LastError().SetLastError(errNotSupported, {u"single-file database \"" + dir + u"\""});
      return stsCannotCreateFile;
    }
    if (dir.empty() || (!fs.DirectoryExists(dir) && !fs.ForcePath(dir))) {
      s.Session.LastError().SetLastError(errCreateFileDenied, {dir});
      return stsCannotCreateFile;
    }
    if (ManagementLevel != VDB_MANAGED) return 0;
    TVdbTableEnvironment env{TApiRegistry::Instance().PageManager(), fs, SessHdl, s.Session.LastError(),
                             TApiRegistry::Instance().Services()};
    env.Expressions = &VdbSqlCompiler();
    for (const TVdbNewTable& t :
         SystemTables(dir, FromCaller(Key), EncryptionOfCaller(SecurityLevel, !FromCaller(Key).empty()))) {
      TVdbBaseTable table(env);
      if (table.NewTable(t) < 0) return stsCannotCreateFile;
    }
    return 0;
  });
}

VDBAPI TVdbResult VdbSessDeleteDatabase(int16_t SessHdl, const VdbChar* DbName, const VdbChar* Key) {
  static_cast<void>(DbName);
  static_cast<void>(Key);
  return CallSession<TVdbResult>(
      SessHdl, false, [&](TApiSession&) -> TVdbResult { RaiseNotSupported(u"VdbSessDeleteDatabase"); },
      kNotSupportedFailure);
}

VDBAPI TVdbResult VdbSessOpenDb(int16_t SessHdl, const VdbChar* Location, const VdbChar* UserName,
                                const VdbChar* Password, int32_t CacheSize, uint32_t Attributes) {
  static_cast<void>(UserName);
  constexpr TVdbApiFailure kOpenFailure{stsCannotCreateSession, stsCannotCreateSession, nullptr};
  return CallSession<TVdbResult>(
      SessHdl, false,
      [&](TApiSession& s) -> TVdbResult {
        if (s.Session.GetIsOpen()) return 0;
        TVdbCatalog& catalog = s.Session.Catalog();
        catalog.SetKey(FromCaller(Password));
        if (CacheSize > 0) catalog.CacheSize = CacheSize;
        catalog.ReadOnly = (Attributes & VDB_OPEN_READONLY) != 0;
        catalog.Exclusive = (Attributes & VDB_OPEN_EXCLUSIVE) != 0;
        catalog.DeepFlush = (Attributes & VDB_OPEN_DEEP_FLUSH) != 0;
        catalog.SharedReadOnly = (Attributes & VDB_OPEN_SHARED_READONLY) != 0;
        const std::u16string location = FromCaller(Location);
        s.OpeningTable.clear();
        if (s.Session.OpenDb(location) >= 0) return 0;
        TvuFileSystem& fs = TApiRegistry::Instance().FileSystem();
        const bool exists = location.empty() || fs.DirectoryExists(location) || fs.FileExists(location);
        return exists ? stsCannotCreateSession : stsDatabaseNotFound;
      },
      kOpenFailure);
}

VDBAPI TVdbResult VdbSessCloseDb(int16_t SessHdl) {
  return CallSession<TVdbResult>(SessHdl, false, [&](TApiSession& s) -> TVdbResult {
    TApiRegistry::Instance().RemoveStatementsOfSession(SessHdl);
    TApiRegistry::Instance().RemoveTablesOfSession(SessHdl);
    CheckStatus(s.Session.CloseDb());
    return 0;
  });
}

VDBAPI TVdbResult VdbSessIsSingleFile(int16_t SessHdl) {
  // Single-file containers are not served: an open database is always a directory.
  return CallSession<TVdbResult>(SessHdl, true, [&](TApiSession&) -> TVdbResult { return 0; });
}

VDBAPI TVdbResult VdbSessGetDbInfo(int16_t SessHdl, TVdbDatabaseInfo* DbInfo) {
  return CallSession<TVdbResult>(SessHdl, true, [&](TApiSession& s) -> TVdbResult {
    if (DbInfo == nullptr) return stsBufferTooSmall;
    DbInfo->ManagementLevel = s.Session.Catalog().ManagementLevel() == tmlManaged ? VDB_MANAGED : VDB_UNMANAGED;
    // A managed database is enciphered as its system tables are; a directory of tables has
    // no method of its own.
    DbInfo->EncryptionMethod = VDB_ENC_NONE;
    TVdbCatalog& catalog = s.Session.Catalog();
    if (catalog.ManagementLevel() == tmlManaged) {
      if (const auto* sys = dynamic_cast<const TVdbBaseTable*>(catalog.GetRelation(catalog.FindRltnIdx(u"sys_UserTables")))) {
        DbInfo->EncryptionMethod = VdbEncryptionCode(sys->EncryptionMethod());
      }
    }
    return 0;
  });
}

VDBAPI TVdbResult VdbSessGetDefaultNetParams(int16_t SessHdl, TVdbNetParams* NetParams) {
  return CallSession<TVdbResult>(SessHdl, false, [&](TApiSession&) -> TVdbResult {
    if (NetParams == nullptr) return stsBufferTooSmall;
    *NetParams = TVdbNetParams{};
    CopyToArray(u"AUTO", NetParams->NetDirs);
    CopyToArray(u"Undefined", NetParams->StationName);
    // Station 0 means "no station" to the lock file, so numbers are drawn from 1.
    NetParams->StationNo = 1 + TApiRegistry::Instance().Services().Random.NextBelow(kMaxStationNo);
    NetParams->ServerTimeout = kDefaultServerTimeout;
    return 0;
  });
}

VDBAPI TVdbResult VdbSessSetNetParams(int16_t SessHdl, const TVdbNetParams* NetParams) {
  return CallSession<TVdbResult>(SessHdl, false, [&](TApiSession& s) -> TVdbResult {
    if (NetParams == nullptr) return stsBufferTooSmall;
    TVdbSessionSettings& settings = s.Session.Settings();
    if (NetParams->StationNo >= 1 && NetParams->StationNo <= kMaxStationNo) {
      settings.Station = NetParams->StationNo;
      s.ConnectionId = NetParams->StationNo;
    }
    // An empty name keeps the one the session has (its station number by default).
    if (std::u16string name = FromArray(NetParams->StationName); !name.empty()) settings.IDName = std::move(name);
    s.ReadOnlyDirs = FromArray(NetParams->ReadOnlyDirs);
    s.NetDirs = FromArray(NetParams->NetDirs);
    const std::u16string privateDir = FromArray(NetParams->PrivateDir);
    if (!privateDir.empty()) {
      s.Session.SetPrivateDir(privateDir);
      TvuFileSystem& fs = TApiRegistry::Instance().FileSystem();
      // A private directory that cannot be made now is made, or reported, when first needed.
      if (!fs.DirectoryExists(privateDir)) static_cast<void>(fs.ForcePath(privateDir));
    }
    return 0;
  });
}

VDBAPI TVdbResult VdbSessSetSettings(int16_t SessHdl, bool CaseSensitive, bool CaretSwitch, bool AutoCreateIndexes,
                                     int32_t LockingTimeout) {
  return CallSession<TVdbResult>(SessHdl, false, [&](TApiSession& s) -> TVdbResult {
    TVdbSessionSettings& settings = s.Session.Settings();
    settings.CaseSensitive = CaseSensitive;
    settings.AutoCreateIndexes = AutoCreateIndexes;
    settings.LockingTimeout = std::max<std::int32_t>(LockingTimeout, 0);
    s.CaretSwitch = CaretSwitch;
    return 0;
  });
}

VDBAPI TVdbResult VdbSessSetSystemSettings(int16_t SessHdl, int32_t IndPageSize, int32_t BlobBlockSize) {
  return CallSession<TVdbResult>(SessHdl, false, [&](TApiSession& s) -> TVdbResult {
    if (IndPageSize > 0) s.Session.Settings().DefIndPageSize = IndPageSize;
    if (BlobBlockSize > 0) s.Session.Settings().DefBlobBlockSize = BlobBlockSize;
    return 0;
  });
}

VDBAPI TVdbResult VdbSessSetLogLevel(int16_t SessHdl, int16_t Level) {
  return CallSession<TVdbResult>(SessHdl, false, [&](TApiSession& s) -> TVdbResult {
    CheckStatus(s.Session.SetLogLevel(Level));
    return 0;
  });
}

VDBAPI TVdbResult VdbSessSetPasswordCallback(int16_t SessHdl, TVdbPasswordCallback Callback) {
  return CallSession<TVdbResult>(SessHdl, false, [&](TApiSession& s) -> TVdbResult {
    s.PasswordCallback = Callback;
    return 0;
  });
}

VDBAPI TVdbResult VdbSessGetIsolationLevel(int16_t SessHdl) {
  return CallSession<TVdbResult>(SessHdl, false, [&](TApiSession& s) -> TVdbResult {
    if (s.Session.GetIsOpen() && s.Session.Catalog().InTransaction() &&
        s.Session.Settings().IsolationLevel == tilNone) {
      return VDB_ISOLATION_READ_COMMITTED;
    }
    return static_cast<TVdbResult>(s.Session.Settings().IsolationLevel);
  });
}

VDBAPI TVdbResult VdbSessGetLastError(int16_t SessHdl, int32_t* ErrCode, VdbChar* ErrMsg, int32_t MaxLen) {
  // Errors of opening must be readable, so the database need not be open.
  return CallSession<TVdbResult>(SessHdl, false, [&](TApiSession& s) -> TVdbResult {
    if (ErrCode != nullptr) *ErrCode = -s.Session.LastError().Code();
    CopyToCallerBuffer(s.Session.LastError().Msg(), ErrMsg, MaxLen);
    return 0;
  });
}

VDBAPI int32_t VdbSessGetLastErrorPos(int16_t SessHdl, VdbChar* ErrMsg, int32_t MaxLen) {
  return CallSession<int32_t>(SessHdl, false, [&](TApiSession& s) -> int32_t {
    CopyToCallerBuffer(s.Session.LastError().Line(), ErrMsg, MaxLen);
    return s.Session.LastError().Pos();
  });
}

namespace {
constexpr TVdbApiFailure kTransactionFailure{stsTransactionFailed, stsInternalError, nullptr};

TVdbResult EndTransaction(int16_t SessHdl, bool commit) {
  return CallSession<TVdbResult>(
      SessHdl, true,
      [&](TApiSession& s) -> TVdbResult {
        return s.Session.Catalog().EndTransaction(commit) < 0 ? stsTransactionFailed : 0;
      },
      kTransactionFailure);
}
}  // namespace

VDBAPI TVdbResult VdbSessBeginTransaction(int16_t SessHdl) {
  return CallSession<TVdbResult>(
      SessHdl, true,
      [&](TApiSession& s) -> TVdbResult {
        return s.Session.Catalog().BeginTransaction() < 0 ? stsTransactionFailed : 0;
      },
      kTransactionFailure);
}

VDBAPI TVdbResult VdbSessEndTransaction(int16_t SessHdl) { return EndTransaction(SessHdl, true); }

VDBAPI TVdbResult VdbSessCancelTransaction(int16_t SessHdl) { return EndTransaction(SessHdl, false); }

VDBAPI TVdbResult VdbSessCompressDatabase(int16_t SessHdl) {
  return CallSession<TVdbResult>(
      SessHdl, true, [&](TApiSession&) -> TVdbResult { RaiseNotSupported(u"VdbSessCompressDatabase"); },
      kNotSupportedFailure);
}

VDBAPI TVdbResult VdbSessBackupDatabase(int16_t SessHdl, int16_t DbType, const VdbChar* BackupPath) {
  static_cast<void>(DbType);
  static_cast<void>(BackupPath);
  return CallSession<TVdbResult>(
      SessHdl, true, [&](TApiSession&) -> TVdbResult { RaiseNotSupported(u"VdbSessBackupDatabase"); },
      kNotSupportedFailure);
}

VDBAPI int32_t VdbSessTokenize(int16_t SessHdl, const VdbChar* Text, uint8_t* Tokens, int32_t MaxLen) {
  static_cast<void>(Text);
  static_cast<void>(Tokens);
  static_cast<void>(MaxLen);
  return CallSession<int32_t>(
      SessHdl, false, [&](TApiSession&) -> int32_t { RaiseNotSupported(u"VdbSessTokenize"); }, kNotSupportedFailure);
}

VDBAPI int32_t VdbSessTokenizeSelection(int16_t SessHdl, const VdbChar* Text, int32_t SelStart, int32_t SelLength,
                                        uint8_t* Tokens, int32_t MaxLen) {
  static_cast<void>(Text);
  static_cast<void>(SelStart);
  static_cast<void>(SelLength);
  static_cast<void>(Tokens);
  static_cast<void>(MaxLen);
  return CallSession<int32_t>(
      SessHdl, false, [&](TApiSession&) -> int32_t { RaiseNotSupported(u"VdbSessTokenizeSelection"); },
      kNotSupportedFailure);
}

VDBAPI TVdbResult VdbSessRegisterModifications(int16_t SessHdl) {
  return CallSession<TVdbResult>(SessHdl, true, [&](TApiSession& s) -> TVdbResult {
    TVdbResult changed = 0;
    for (TVdbRltnIdx idx = 1; idx <= kVdbMaxRltnIdx; ++idx) {
      if (auto* table = dynamic_cast<TVdbBaseTable*>(s.Session.Catalog().GetRelation(idx))) {
        if (CheckStatus(table->CheckUpdate()) > 0) changed = 1;
      }
    }
    return changed;
  });
}

VDBAPI TVdbResult VdbSessCreateStatement(int16_t SessHdl) {
  return CallSession<TVdbResult>(
      SessHdl, true, [&](TApiSession& s) -> TVdbResult { return TApiRegistry::Instance().AddStatement(SessHdl, s.Session); });
}

}  // extern "C"
