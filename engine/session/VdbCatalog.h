// The catalog of an open database: the relations a session has open, each in a slot
// (1..254) with its default accessor ("Session_Default"), the resolution of table names to
// files of the database directory, the rules for opening, trying to open and closing tables
// (closing unneeded ones when the slots run out), the table names of the database, and the
// unlock thread that gives idle table locks back late.
//
// Table names: a bare name lives in the database directory and is tried with ".dat" first and
// ".vdbt" second; a name with an extension is used as it is. File names are matched without
// regard to case; when several files differ only in case, one with the exact spelling wins,
// else the first in code-unit order, so that the choice never depends on directory order.
//
// Results: operations return a slot number, 0 or another result, or a negated engine code
// recorded in the session's last error (the catalog boundary).
//
// Threads: the session's thread uses the catalog. The unlock thread (std::jthread, started by
// Open, stopped and joined by Close before any table is freed) walks the slots under the
// slot lock every 5 ms; registering and freeing slots take the same lock.
#pragma once

#include <array>
#include <condition_variable>
#include <functional>
#include <span>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "locking/VdbLocks.h"
#include "session/VdbAccessor.h"
#include "session/VdbIntegrityRules.h"
#include "tables/VdbBaseTable.h"

namespace vdb {

inline constexpr TVdbRltnIdx kVdbMaxRltnIdx = 254;
inline constexpr std::int32_t kVdbDefaultCacheSize = 40960;
// Interval of the unlock thread's passes.
inline constexpr std::uint32_t kVdbUnlockIntervalMs = 5;

enum TVdbManagementLevel : std::uint8_t { tmlUnmanaged, tmlManaged };

class TVdbCatalog {
 public:
  // `pageManager`, `lastError`, the services and `expressions` must outlive the catalog.
  // `sessionHdl` is the session's handle (1..100), also its client number in the page manager.
  // `expressions` compiles the constraints and computed columns of the tables it opens.
  TVdbCatalog(TVdbPageManager& pageManager, TVdbLastError& lastError, TvuServices services, std::int16_t sessionHdl,
              const IVdbExpressionCompiler* expressions = nullptr);
  // Closes when open.
  ~TVdbCatalog();
  TVdbCatalog(const TVdbCatalog&) = delete;
  TVdbCatalog& operator=(const TVdbCatalog&) = delete;

  // ---- settings (before Open)
  void SetLocation(std::u16string directory);
  const std::u16string& Location() const noexcept { return FLocation; }
  void SetKey(std::u16string key) { FKey = std::move(key); }
  const std::u16string& GetKey() const noexcept { return FKey; }
  bool Exclusive = false;
  bool ReadOnly = false;
  bool SharedReadOnly = false;
  bool DeepFlush = false;
  std::int32_t CacheSize = kVdbDefaultCacheSize;
  std::int16_t Handle() const noexcept { return FSessionHdl; }
  // The session's station id and name, under which its tables join their lock files.
  void SetStation(std::int64_t id, std::u16string name) { FLockFiles.SetStation(id, std::move(name)); }
  // Asked for a table's password when TryOpenTable meets wrong credentials: `buffer` (512
  // characters of "X", ended after 255) receives the key, ended by a 0; a non-zero answer
  // cancels.
  std::function<int(std::span<char16_t> buffer)> PasswordCallback;

  // ---- life cycle
  // Opens the catalog over `dataFs` (the file system of the location, which must outlive the
  // catalog): registers the session with the page manager; a managed database (both
  // "sys_UserTables" and "sys_UserColumns" with the same extension, ".vdbt" or ".dat") opens
  // its two system tables and every table "sys_UserTables" lists; then the unlock thread
  // starts. A failure leaves the catalog closed.
  std::int16_t Open(TvuFileSystem& dataFs);
  // Stops and joins the unlock thread, closes every relation, unregisters. Safe when closed.
  std::int16_t Close();
  bool IsOpen() const noexcept { return FDataFs != nullptr; }
  TVdbManagementLevel ManagementLevel() const noexcept { return FManagementLevel; }
  bool UnlockThreadRunning() const noexcept { return FUnlockThread.joinable(); }

  // ---- opening and closing
  // The slot of the opened table, or: 94 no free slot even after closing unneeded tables,
  // 35 a table with that standard name is open, 37 no such table file, or the table's own
  // opening and setup errors (a failure leaves the slot free). Unless `force`, the parent
  // tables of the table's foreign keys are opened too (184 when one cannot be, 6 when an index
  // over a foreign key's columns is missing).
  std::int16_t OpenTable(std::u16string_view tableName, std::u16string_view key, std::uint16_t rights,
                         bool force = false, bool internal = false);
  // The slot of the table when it is open; otherwise OpenTable (with the deep-flush right
  // when the catalog asks for it), retried read-only when the file is missing or not
  // writable and `mustBeWritable` is false, and retried with the key the password callback
  // gives while the credentials are wrong (38).
  std::int16_t TryOpenTable(std::u16string_view tableName, std::u16string_view key, std::uint16_t rights,
                            bool mustBeWritable = false);
  // Closes the relation of `rltnIdx` (a temporary table is deleted with its files); with
  // `remove` the slot becomes free. 0 or a negated code.
  std::int16_t CloseRelation(TVdbRltnIdx rltnIdx, bool remove = true);
  // As CloseRelation, but refuses (175 naming the table) while the relation is in use, after
  // closing unneeded temporary tables once.
  std::int16_t TryCloseRelation(TVdbRltnIdx rltnIdx, bool remove = true);
  // Repeats until nothing changes: every relation not in use (only temporary ones with
  // `temporaryOnly`; "sys_" tables only with `includeSystem`) is closed and removed.
  // Returns the number closed.
  std::int32_t CloseUnneededTables(bool temporaryOnly, bool includeSystem);
  // In use: two or more accessors (the default one and a cursor) watch the relation.
  bool IsInUse(TVdbRltnIdx rltnIdx) const;
  void SetTemporary(TVdbRltnIdx rltnIdx, bool temporary);

  // ---- creating and deleting tables
  // Creates the table `table` describes (a relative path is taken from the database
  // directory) with the catalog's integrity rules, then opens it once with every write right
  // and the table's key and closes it again, so that a table nobody could open is reported
  // now. 0 or a negated code.
  std::int16_t CreateTable(TVdbNewTable table);
  // Deletes the files of the table: an open relation of it is closed first (175 while in
  // use), then the table is opened exclusively with `key`, which checks the key (38) and that
  // no one else uses it; with `askPassword` the password callback is asked while the key is
  // wrong. Only files beside the data file are deleted. 0 or a negated code.
  std::int16_t DeleteTable(std::u16string_view tableName, std::u16string_view key, bool askPassword = false);

  // ---- temporary tables
  // The directory of temporary tables (the session's private directory).
  void SetPrivateDir(std::u16string dir) { FPrivateDir = std::move(dir); }
  // Creates "<tableName>_<8 random lower-case letters>" in the private directory with
  // `columns` (drawing a new name while the name is taken or the file cannot be written) and
  // opens it exclusively (rights $0109) as a temporary table, which is deleted with its
  // files when it is closed. The slot, the creation's negated code, or -60 when the new
  // table cannot be opened (its files are removed again).
  std::int16_t CreateAndOpenTempTable(std::u16string_view tableName, const std::vector<TVdbNewColumn>& columns);
  // `baseName`, or while a table of that name is open `baseName` followed by a random number.
  std::u16string CalcTemporaryTableName(std::u16string_view baseName) const;
  bool IsTemporary(TVdbRltnIdx rltnIdx) const noexcept {
    return IsValidRltnIdx(rltnIdx) && FSlots[static_cast<std::size_t>(rltnIdx)].Temporary;
  }

  // ---- referential integrity
  // The rules every table this catalog opens is given; a table created for this catalog is
  // given them too, so that its foreign keys find their parents among the open tables.
  // Second phases (cascades) run after the parent's change was written: when one fails, its
  // error is returned but the parent's change stays; inside a transaction the caller rolls
  // the whole change back.
  IVdbIntegrityRules& IntegrityRules() noexcept { return FIntegrityRules; }

  // ---- transactions
  // Starts a transaction of the session: 183 while one runs. Every stored table the session
  // writes from now on keeps a redo log of its changes until the transaction ends.
  std::int16_t BeginTransaction();
  // Ends the transaction: nothing happens without one; 170 (naming the table) while a table
  // holds a read lock or more than one write lock of the session, and the transaction stays.
  // Otherwise every table commits (`commit`) or rolls its changes back, then gives up its
  // write lock. 0 or the first table's negated code.
  std::int16_t EndTransaction(bool commit);
  bool InTransaction() const noexcept;

  // ---- lookup
  // The first open relation (slots 1..254) whose name is the same table as `relationName`
  // (standard names equal, and directory and extension when the name gives them); 0 none.
  TVdbRltnIdx FindRltnIdx(std::u16string_view relationName) const;
  TVdbRelation* GetRelation(TVdbRltnIdx rltnIdx) const;
  TVdbAccessor* GetAccessor(TVdbRltnIdx rltnIdx) const;
  static bool IsValidRltnIdx(TVdbRltnIdx rltnIdx) noexcept { return rltnIdx >= 1 && rltnIdx <= kVdbMaxRltnIdx; }
  bool IsActiveRltnIdx(TVdbRltnIdx rltnIdx) const { return GetRelation(rltnIdx) != nullptr; }
  // Lowest free slot, 0 when none.
  TVdbRltnIdx GetFreeRltnIdx() const;
  std::int32_t CalcRltnHdl(TVdbRltnIdx rltnIdx) const noexcept { return (FSessionHdl - 1) * 256 + rltnIdx; }
  static TVdbRltnIdx GetRltnIdx(std::int32_t rltnHdl) noexcept { return static_cast<TVdbRltnIdx>(rltnHdl % 256); }
  std::int32_t OpenRelationCount() const;
  // Standard names compared without case.
  static bool IsTableNameEqual(std::u16string_view a, std::u16string_view b);
  // The data file a table name stands for (see the file comment); empty when none exists.
  std::u16string ResolveTableFile(std::u16string_view tableName) const;
  // Whether the table exists (".vdbt" tried before ".dat" for a bare name).
  bool ExistsTable(std::u16string_view tableName) const;
  // Standard names of the database's tables. Unmanaged: files ending ".dat", ".vdbt" or
  // ".rel" whose names do not begin "sys_", sorted, each once. Managed: the first column of
  // every row of "sys_UserTables", in its order.
  std::vector<std::u16string> GetTableNames() const;

 private:
  struct TSlot {
    std::unique_ptr<TVdbBaseTable> Table;
    std::unique_ptr<TVdbAccessor> Accessor;  // destroyed before the table
    bool Temporary = false;
  };
  template <class F>
  auto Guard(F&& op) {
    return GuardEngineCall(FLastError, std::forward<F>(op));
  }
  std::int16_t DoOpenTable(std::u16string_view tableName, std::u16string_view key, std::uint16_t rights, bool force,
                           bool internal);
  void FreeRelation(TVdbRltnIdx rltnIdx);
  std::u16string FullPath(std::u16string_view name) const;
  bool DetectManaged() const;
  void OpenManaged();
  // The first column's text of every record of the relation in slot `rltnIdx`.
  std::vector<std::u16string> FirstColumnTexts(TVdbRltnIdx rltnIdx) const;
  // The existing file whose name equals `path`'s without case (see the file comment).
  std::optional<std::u16string> FindFileNoCase(const std::u16string& path) const;
  void UnlockLoop(std::stop_token stop);
  void StopUnlockThread();

  TVdbPageManager& FPageManager;
  TVdbLastError& FLastError;
  TvuServices FServices;
  const IVdbExpressionCompiler* FExpressions;
  std::int16_t FSessionHdl;
  std::u16string FLocation;
  std::u16string FKey;
  std::u16string FPrivateDir;
  std::unique_ptr<TvuFileSystemWrapper> FOwnFs;
  TvuFileSystem* FDataFs = nullptr;
  std::int32_t FRegisteredCacheSize = 0;
  TVdbManagementLevel FManagementLevel = tmlUnmanaged;
  TVdbLockFileFactory FLockFiles{FServices};
  std::unique_ptr<TVdbTableEnvironment> FEnv;
  TVdbIntegrityRules FIntegrityRules{*this};
  std::array<TSlot, kVdbMaxRltnIdx + 1> FSlots;  // entry 0 unused
  mutable std::mutex FRelationListSync;
  std::mutex FStopMutex;
  std::condition_variable_any FStopSignal;
  std::jthread FUnlockThread;
};

}  // namespace vdb
