// The database component: one connection of the dataset components to one database of the
// engine. It owns the engine session, passes the connection settings, opens the database and
// the tables its datasets ask for, runs transactions and closes everything again.
// Every component is entered in one process-wide list (guarded by a lock) for its lifetime;
// datasets find their database there by name, and the engine's password and record-deleted
// callbacks find their component there by session handle.
// GUI thread; the callbacks arrive on the thread that made the engine call.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "VdbCalls.h"
#include "VdbDbErrors.h"

namespace vdbds {

class TVdbDataSet;
class TVdbDatabase;

enum class TVdbDatabaseType { dbtDirectory, dbtSingleFile };
enum class TVdbFlushMode { tfmDefault, tfmSecure, tfmFast };
enum class TVdbManagementLevel { tmlUnmanaged, tmlManaged };
enum class TVdbEncryptionMethod { temDefault, temNone, temProtection, temClassic, temFastEncrypt, temBlowfish, temRijndael };
enum class TVdbTransIsolation { ttiDirtyRead, ttiReadCommitted, ttiRepeatableRead };

// Access rights for opening a table (bits of the engine's rights word).
enum TVdbAccessRight : unsigned { tarAppend = 1, tarEdit = 2, tarDelete = 4, tarIndex = 8 };
using TVdbAccessRights = unsigned;
constexpr TVdbAccessRights kAllAccessRights = tarAppend | tarEdit | tarDelete | tarIndex;

// Asked for a table's password: set key and retry to try again with it. sender is the
// component when it asks while opening a table itself, none when the engine asks.
using TVdbPasswordEvent =
    std::function<void(TVdbDatabase* sender, const std::u16string& tableName, std::u16string& key, bool& retry)>;
using TVdbDatabaseNotifyEvent = std::function<void(TVdbDatabase&)>;

// A table opened with the connection.
struct TVdbBaseTableDef {
  std::u16string TableName;
  bool UseEditLocks = false;
};

class TVdbDatabase {
 public:
  explicit TVdbDatabase(TVdbCalls& calls = LibraryCalls());
  TVdbDatabase(const TVdbDatabase&) = delete;
  TVdbDatabase& operator=(const TVdbDatabase&) = delete;
  // Closes the connection (errors go to the error stream) and leaves the list.
  ~TVdbDatabase();

  TVdbCalls& Calls() const noexcept { return FCalls; }

  // Component name; setting it also sets an empty DatabaseName.
  const std::u16string& Name() const noexcept { return FName; }
  void SetName(const std::u16string& value);

  // --- connection
  bool Connected() const noexcept { return FSessionHdl > 0; }
  void SetConnected(bool value);
  void Open() { SetConnected(true); }
  void Close() { SetConnected(false); }
  std::int16_t Handle() const noexcept { return FSessionHdl; }
  TVdbDatabaseNotifyEvent BeforeConnect, AfterConnect, BeforeDisconnect, AfterDisconnect;
  TVdbPasswordEvent OnPassword;
  std::vector<TVdbBaseTableDef> TableDefs;

  // --- settings. Name, location and private directory are refused while connected; a real
  // change of type, exclusive, read-only or shared read-only closes the connection first;
  // the engine settings below are passed on at once while connected.
  const std::u16string& DatabaseName() const noexcept { return FDatabaseName; }
  void SetDatabaseName(const std::u16string& value);
  const std::u16string& Location() const noexcept { return FLocation; }
  void SetLocation(const std::u16string& value);
  const std::u16string& PrivateDir() const noexcept { return FPrivateDir; }
  void SetPrivateDir(const std::u16string& value);
  TVdbDatabaseType DatabaseType() const noexcept { return FDatabaseType; }
  void SetDatabaseType(TVdbDatabaseType value);
  bool Exclusive() const noexcept { return FExclusive; }
  void SetExclusive(bool value);
  bool ReadOnly() const noexcept { return FReadOnly; }
  void SetReadOnly(bool value);
  bool SharedReadOnly() const noexcept { return FSharedReadOnly; }
  void SetSharedReadOnly(bool value);
  TVdbFlushMode FlushMode() const noexcept { return FFlushMode; }
  void SetFlushMode(TVdbFlushMode value) noexcept { FFlushMode = value; }
  std::int32_t IndexPageSize() const noexcept { return FIndexPageSize; }
  void SetIndexPageSize(std::int32_t value);
  std::int32_t BlobBlockSize() const noexcept { return FBlobBlockSize; }
  void SetBlobBlockSize(std::int32_t value);
  bool CaseSensitive() const noexcept { return FCaseSensitive; }
  void SetCaseSensitive(bool value);
  bool CaretSwitch() const noexcept { return FCaretSwitch; }
  void SetCaretSwitch(bool value);
  bool AutoCreateIndexes() const noexcept { return FAutoCreateIndexes; }
  void SetAutoCreateIndexes(bool value);
  std::int16_t LogLevel() const noexcept { return FLogLevel; }
  void SetLogLevel(std::int16_t value);
  std::int32_t LockingTimeout = 20000;
  std::int32_t CacheSizeKB = 40960;
  // 0 takes the engine's default at connecting.
  std::int32_t ServerTimeout = 0;
  std::u16string ConnectionName;
  std::u16string UserName;
  std::u16string Password;
  TVdbTransIsolation TransIsolation = TVdbTransIsolation::ttiReadCommitted;
  std::uint32_t ConnectionId() const noexcept { return FConnectionId; }
  TVdbManagementLevel ManagementLevel() const noexcept { return FManagementLevel; }
  TVdbEncryptionMethod EncryptionMethod() const noexcept { return FEncryptionMethod; }
  // Created by a dataset that found no component of its name; frees itself when its last
  // dataset leaves.
  bool Automatic() const noexcept { return FAutomatic; }

  // --- operations (each needs a connection)
  void StartTransaction();
  void Commit();
  void Rollback();
  // False when not connected.
  bool InTransaction();
  // Opens a table with the connection's rules (retries, password, linked tables); its
  // relation handle. Raises "Opening table \"name\"" on failure.
  std::int16_t OpenTable(const std::u16string& tableName, const std::u16string& key, bool exclusive,
                         TVdbAccessRights rights, TVdbFlushMode flushMode);
  void CloseCachedTables();
  void AddTable(const std::u16string& tablePath);
  void RemoveTable(const std::u16string& tableName);
  // The table names of the database (connecting for the duration when needed); with
  // systemTables only clears the list.
  void GetTableNames(std::vector<std::u16string>& list, bool systemTables);
  // Closes every registered dataset, last first.
  void CloseDataSets();
  // Re-reads the datasets whose tables another station changed.
  void RefreshDataSets();

  // --- used by datasets
  // The rights word for opening a table.
  std::uint16_t TableRights(bool exclusive, TVdbAccessRights rights, TVdbFlushMode flushMode) const noexcept;
  // Opens a table (see OpenTable) and returns the engine's result instead of raising.
  std::int16_t OpenTableResult(const std::u16string& tableName, std::u16string key, std::uint16_t rights, bool force);
  void RegisterClient(TVdbDataSet& dataSet);
  // An automatic database deletes itself when its last dataset leaves: do not touch the
  // component after this call.
  void UnregisterClient(TVdbDataSet& dataSet) noexcept;
  int DataSetCount() const noexcept { return static_cast<int>(FDataSets.size()); }
  TVdbDataSet& DataSets(int index) const { return *FDataSets.at(static_cast<std::size_t>(index)); }
  // The component a dataset of that name uses: the listed one whose DatabaseName equals the
  // name ignoring case, else a new automatic one on that location. Raises "Database name
  // \"%s\" is not unique" when several match. The component is connected.
  static TVdbDatabase& FindForDataSet(const std::u16string& databaseName);
  void CheckConnected() const;
  // What the engine calls when a table of session sessHdl needs a password: the listed
  // component of that session asks its OnPassword handler (without sender); 0 with the key
  // written when the handler retries, 1 to give up.
  static std::int32_t PasswordCallback(std::int16_t sessHdl, const VdbChar* tableName, VdbChar* key,
                                       std::int32_t keyMaxLen);

 private:
  void DoConnect();
  void DoDisconnect();
  void ConnectSession();
  void OpenTableDefs();
  void OpenLinkedTables(const std::u16string& tableName, const std::u16string& key, std::uint16_t rights);
  void PassSettings();
  void CloseIfConnected();
  void Check(std::u16string_view context, std::int32_t result);

  friend class TVdbDataSet;
  static void ChangeCallback(std::int16_t sessHdl, std::int16_t tableHdl, std::int32_t deleted, std::int32_t moved);

  TVdbCalls& FCalls;
  std::int16_t FSessionHdl = 0;
  bool FAutomatic = false;
  std::u16string FName;
  std::uint32_t FConnectionId = 0;
  std::u16string FPrivateDir;
  std::u16string FDatabaseName;
  std::u16string FLocation;
  bool FExclusive = false;
  bool FReadOnly = false;
  bool FCaseSensitive = false;
  bool FCaretSwitch = false;
  bool FAutoCreateIndexes = true;
  TVdbFlushMode FFlushMode = TVdbFlushMode::tfmDefault;
  bool FSharedReadOnly = false;
  TVdbDatabaseType FDatabaseType = TVdbDatabaseType::dbtDirectory;
  TVdbManagementLevel FManagementLevel = TVdbManagementLevel::tmlUnmanaged;
  TVdbEncryptionMethod FEncryptionMethod = TVdbEncryptionMethod::temDefault;
  std::int32_t FBlobBlockSize = 512;
  std::int32_t FIndexPageSize = 4096;
  std::int16_t FLogLevel = 0;
  std::vector<TVdbDataSet*> FDataSets;
};

// Names compare as the components compare them: ASCII letters without regard to case.
bool SameDatabaseName(std::u16string_view a, std::u16string_view b) noexcept;

}  // namespace vdbds
