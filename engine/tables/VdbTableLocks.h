// The lock calls of a stored table: nesting counters of this table object's read, upgrade,
// write, exclusive and edit locks, the level it holds in the lock file (which may lag behind
// the counters until it is settled), the delayed release by the unlock thread, and the edit
// lock checks cursors make.
//
// The multi-user protocol itself lives behind IVdbTableLockFile. A table opened exclusively or
// shared read-only has no lock file; then every request succeeds at once and only the counters
// move, which is also how every table behaves until the lock file is plugged in.
//
// Results: 0 for success or a negated engine error code that was recorded in the session's
// last error (104 table locked, 103 table in use, 105 record in edit, 110 an End… without its
// Begin…, or a remembered flush failure). Engine exceptions of the lock file pass through.
//
// Threads: any thread of the process. One re-entrant mutex per table object serialises the
// counters, the held level and all calls into the lock file; the unlock thread only tries it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <atomic>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "base/VdbLastError.h"
#include "base/vuServices.h"

namespace vdb {

class TvuFileSystem;

enum TVdbTableLockType : std::uint8_t { tltNone = 0, tltRead = 1, tltUpgrade = 2, tltWrite = 3 };

// Which locks outlive their End… call (tilNone: no transaction).
enum TVdbIsolationLevel : std::uint8_t { tilNone, tilDirtyRead, tilReadCommited, tilRepeatableRead };

// Room for sessions in a usage report; a lock file with more slots reports its first ones.
inline constexpr std::int32_t kVdbUsageEntries = 1000;

// One session slot of a table's lock file as the usage report shows it.
struct TVdbTableUsageEntry {
  std::string StationName;  // 8-bit
  std::int32_t StationId = 0;
  bool Active = false;
  std::int32_t Lock = 0;  // 0 none, 1 read, 2 upgrade, -1 write
  std::int32_t EditRecNo = 0;
};

// Report of the sessions using a table.
struct TVdbTableUsage {
  std::int32_t ItemCount = 0;
  std::int32_t UserCount = 0;
  std::int32_t ReadCount = 0;
  std::int32_t UpgradeCount = 0;
  std::int32_t WriteCount = 0;
  std::int32_t WaitCount = 0;
  std::int32_t WaitWriteCount = 0;
  std::int32_t UpdateCount = 0;
  std::vector<TVdbTableUsageEntry> UserInfo;  // at most kVdbUsageEntries
};

// A renumbering another session's delete caused: record `To` was deleted and now holds the
// record that was `From` (From = To when the last record itself was deleted).
struct TVdbRecordMove {
  std::int32_t To = 0;
  std::int32_t From = 0;
};

// The shared lock file of one table as one table object sees it. Implemented by the locking
// unit; every call may raise EVdbEngine for stream failures.
class IVdbTableLockFile {
 public:
  virtual ~IVdbTableLockFile() = default;
  // Moves this session's table lock from `from` to `to`; `immediate`: one attempt only.
  // False when refused.
  virtual bool LockTable(TVdbTableLockType from, TVdbTableLockType to, bool immediate) = 0;
  // Gives `from` up and keeps the lower level `to`.
  virtual void UnlockTable(TVdbTableLockType from, TVdbTableLockType to) = 0;
  // After a lock was obtained: whether another session changed the table since this one last
  // caught up, or the table has more index names than `knownIndexCount`.
  virtual bool TableChanged(std::int32_t knownIndexCount) = 0;
  virtual bool LockRecord(std::int32_t recNo) = 0;
  virtual void UnlockRecord(std::int32_t recNo) = 0;
  virtual void SwitchRecordLock(std::int32_t fromRecNo, std::int32_t toRecNo) = 0;
  // The record this session has in edit, 0 for none.
  virtual std::int32_t GetLockedRecord() = 0;
  // True when this session is the only one; the header lock then stays taken.
  virtual bool LockExclusive() = 0;
  virtual void UnlockExclusive() = 0;
  virtual void GetLockInfo(TVdbTableUsage& usage) = 0;
  // Whether another session changed the table since this one last caught up.
  virtual bool CheckUpdate() = 0;
  // Adopts the table's change count as caught up and returns the record moves of other
  // sessions not yet seen. Raises 52 for a move with a number below 1.
  virtual std::vector<TVdbRecordMove> CatchUp() = 0;
  // A delete moved record `fromRecNo` into `toRecNo` (write lock held).
  virtual void AddRecordMove(std::int32_t fromRecNo, std::int32_t toRecNo) = 0;
  // The files changed outside a table lock (a dead session's work was rolled back): every
  // other session drops its caches.
  virtual void NoteChange() = 0;
  virtual void WriteIndexCount(std::int16_t indexCount) = 0;
  // Whether another session waits for a table lock. A lock file that cannot tell says yes, so
  // that the early release (which exists for the waiters) still happens.
  virtual bool OthersWaiting() { return true; }
  // Leaves the lock file (the last session deletes it and the record-move file).
  virtual void LogOut() = 0;
};

// Makes the lock file a table joins (see JoinLockFile); installed by the session, which knows
// the locking protocol. `onHijack` runs after dead sessions were reclaimed.
class IVdbLockFileFactory {
 public:
  virtual ~IVdbLockFileFactory() = default;
  // Joins the lock file of the table whose base name (directory and name without extension)
  // is `baseName`. Raises the joining errors (107, 115, 106, 185).
  virtual std::unique_ptr<IVdbTableLockFile> Join(TvuFileSystem& fs, std::u16string_view baseName, int tableLevel,
                                                  bool isRelTable, std::function<void()> onHijack) = 0;
};

// What the lock layer asks of the table that owns it.
class IVdbLockOwner {
 public:
  virtual ~IVdbLockOwner() = default;
  // Writes buffered changes; `resize` also sets the files' final sizes. Called before a held
  // write lock is given up and when exclusive use ends.
  virtual void FlushTable(bool resize) = 0;
  // Another session changed the table: refresh caches and tell the listeners, first of the
  // record moves in order, then of the change.
  virtual void CatchUp(const std::vector<TVdbRecordMove>& moves) = 0;
  // Whether a listener other than `excluded` has `recNo` in edit.
  virtual bool ListenerIsEditing(std::int32_t recNo, const void* excluded) = 0;
  virtual TVdbIsolationLevel IsolationLevel() const = 0;
  // Index names the table knows (for the change check).
  virtual std::int32_t KnownIndexCount() const = 0;
  // The table's name for messages.
  virtual std::u16string LockTableName() const = 0;
};

class TVdbTableLocks {
 public:
  // `owner`, `lastError` and the services must outlive the object.
  TVdbTableLocks(IVdbLockOwner& owner, TVdbLastError& lastError, TvuServices services);
  TVdbTableLocks(const TVdbTableLocks&) = delete;
  TVdbTableLocks& operator=(const TVdbTableLocks&) = delete;

  // The lock file (null: none). Set while no lock is counted.
  void SetLockFile(std::unique_ptr<IVdbTableLockFile> lockFile);
  IVdbTableLockFile* LockFile() const noexcept { return FLockFile.get(); }
  // Closing: hands the lock file over to be left (every lock released before).
  std::unique_ptr<IVdbTableLockFile> TakeLockFile();

  // Table locks. A Begin… that returns 0 must be matched by its End…. `wait`: wait for other
  // sessions instead of one attempt. A read lock counted by this object is never converted:
  // BeginUpgrade and BeginWrite then fail with 104.
  std::int16_t BeginRead(bool wait);
  std::int16_t BeginUpgrade(bool wait);
  std::int16_t BeginWrite(bool wait);
  std::int16_t BeginExclusive();
  // BeginExclusive for closing: false (nothing recorded) while other sessions use the table.
  bool TryBeginExclusive();
  std::int16_t EndRead();
  std::int16_t EndUpgrade();
  std::int16_t EndWrite();
  std::int16_t EndExclusive();

  // Edit locks: at most one record per table object. CheckEdit refuses (105) a record another
  // listener edits, and a second record while one is held.
  std::int16_t CheckEdit(std::int32_t recNo, const void* excludedListener);
  std::int16_t EndEdit(std::int32_t recNo);
  void SwitchEdit(std::int32_t fromRecNo, std::int32_t toRecNo);
  void ActivateEditLocks(bool value) { FUseEditLocks = value; }
  bool UseEditLocks() const noexcept { return FUseEditLocks; }

  // Called by the unlock thread: gives the held level back once 10 ms have passed since the
  // last End… call. Never waits for a busy table.
  void CheckUnlock(std::uint32_t ticks);
  // Gives the held level down to what the counters need (flushing first when a write lock is
  // given up).
  void Settle();
  // Opening and closing: starts / stops the delayed release.
  void StartUnlockClock();
  // Closing: ends every edit lock and releases every counted lock, then settles to none.
  void ReleaseAll();
  // A failed flush found outside a call (the unlock thread's release, an early release) is
  // reported by the next Begin… of any kind, once, naming the table.
  void SetWriteError(std::int16_t code);
  // The remembered flush failure, cleared; 0 for none.
  std::int16_t TakeWriteError();
  // A failed write left the files in a state only the redo log on disk can repair: every
  // later Begin… fails with `code` until the table is opened again (0 clears it).
  void SetBroken(std::int16_t code);
  std::int16_t Broken() const noexcept { return FBroken; }

  // Another session changed the table: refreshes it (under a read lock) and returns 1, else
  // 0 (always 0 without a lock file).
  std::int16_t CheckUpdate();
  // A delete of this session moved `fromRecNo` into `toRecNo`: other sessions are told at
  // their next lock.
  void AddRecordMove(std::int32_t fromRecNo, std::int32_t toRecNo);
  // The table's index list was rewritten with `indexCount` names: sessions that know fewer
  // re-read the list when they next catch up.
  void WriteIndexCount(std::int16_t indexCount);
  // Runs `recovery` (the rollback of a dead session's work, called back from inside a lock
  // file operation, header lock held) with every lock request granted by the counters alone;
  // counters and held level are as before afterwards, and the other sessions are told that
  // the table changed.
  void RunRecovery(const std::function<void()>& recovery);

  std::int32_t CountReadLocks() const noexcept { return FReadLocks; }
  std::int32_t CountUpgradeLocks() const noexcept { return FUpgradeLocks; }
  std::int32_t CountWriteLocks() const noexcept { return FWriteLocks; }
  std::int32_t CountExclusiveLocks() const noexcept { return FExclusiveLocks; }
  std::int32_t CountEditLocks() const noexcept { return FEditLocks; }
  TVdbTableLockType HeldLevel() const noexcept { return FUnlockAction; }
  bool UnlockActive() const noexcept { return FUnlockActive; }
  // Sessions using the table; 0 without a lock file.
  std::int32_t NetUsers();
  // Without a lock file: one user and nothing else.
  void GetUsage(TVdbTableUsage& usage);

 private:
  std::int16_t Fail(std::int16_t code);
  // The failure a Begin… must report before anything else (broken table, remembered flush
  // failure), recorded; 0 for none. Locking mutex held.
  std::int16_t PendingFailure();
  TVdbTableLockType NeededLevel() const noexcept;
  void SettleLocked();
  // The 1-in-3000 early release after an End….
  void MaybeReleaseEarly(bool flushWhileHeld, std::int32_t counter);
  // Whether lock requests go to the lock file (not during a recovery).
  bool UsesLockFile() const noexcept { return FLockFile != nullptr && !FRecovering; }
  // The table was changed by another session: the owner catches up. `counter` was just
  // raised by the Begin… that found the change and drops again when catching up fails.
  void CatchUpLocked(std::int32_t& counter);

  IVdbLockOwner& FOwner;
  TVdbLastError& FLastError;
  TvuServices FServices;
  std::unique_ptr<IVdbTableLockFile> FLockFile;
  std::recursive_mutex FLockingMutex;
  std::int32_t FLockingMutexCounter = 0;
  std::int32_t FEditLocks = 0;
  std::int32_t FReadLocks = 0;
  std::int32_t FUpgradeLocks = 0;
  std::int32_t FWriteLocks = 0;
  std::int32_t FExclusiveLocks = 0;
  std::int32_t FEditRecNo = 0;
  // Written under the locking mutex but read first without it by the unlock thread, which
  // only takes the mutex when there is something to settle.
  std::atomic<TVdbTableLockType> FUnlockAction = tltNone;
  std::atomic<bool> FUnlockActive = false;
  std::atomic<std::uint32_t> FUnlockTime = 0;
  std::int16_t FWriteError = 0;
  std::int16_t FBroken = 0;
  bool FUseEditLocks = true;
  bool FRecovering = false;
};

}  // namespace vdb
