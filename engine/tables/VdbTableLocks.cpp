#include "tables/VdbTableLocks.h"

#include "base/VdbErrorCodes.h"

namespace vdb {

namespace {

// Releases happen now and then even for a session that never pauses, when others wait.
constexpr std::uint32_t kEarlyReleaseChance = 3000;
constexpr std::uint32_t kEarlyReleaseSleepMs = 5;
constexpr std::uint32_t kUnlockDelayMs = 10;
constexpr std::uint32_t kUnlockRetrySleepMs = 5;

}  // namespace

// Holds the locking mutex and counts its nesting.
class TLockingScope {
 public:
  TLockingScope(std::recursive_mutex& m, std::int32_t& counter) : FLock(m), FCounter(counter) { ++FCounter; }
  ~TLockingScope() { --FCounter; }
  TLockingScope(const TLockingScope&) = delete;
  TLockingScope& operator=(const TLockingScope&) = delete;

 private:
  std::lock_guard<std::recursive_mutex> FLock;
  std::int32_t& FCounter;
};

TVdbTableLocks::TVdbTableLocks(IVdbLockOwner& owner, TVdbLastError& lastError, TvuServices services)
    : FOwner(owner), FLastError(lastError), FServices(services) {}

void TVdbTableLocks::SetLockFile(std::unique_ptr<IVdbTableLockFile> lockFile) {
  TLockingScope scope(FLockingMutex, FLockingMutexCounter);
  FLockFile = std::move(lockFile);
}

std::unique_ptr<IVdbTableLockFile> TVdbTableLocks::TakeLockFile() {
  TLockingScope scope(FLockingMutex, FLockingMutexCounter);
  return std::move(FLockFile);
}

std::int16_t TVdbTableLocks::Fail(std::int16_t code) {
  if (code == errTableInUse) return FLastError.SetLastError(code, {FOwner.LockTableName()});
  return FLastError.SetLastError(code, TVdbFmtArgs{});
}

void TVdbTableLocks::SetWriteError(std::int16_t code) {
  TLockingScope scope(FLockingMutex, FLockingMutexCounter);
  if (FWriteError == 0) FWriteError = code;
}

std::int16_t TVdbTableLocks::TakeWriteError() {
  TLockingScope scope(FLockingMutex, FLockingMutexCounter);
  const std::int16_t code = FWriteError;
  FWriteError = 0;
  return code;
}

void TVdbTableLocks::SetBroken(std::int16_t code) {
  TLockingScope scope(FLockingMutex, FLockingMutexCounter);
  FBroken = code;
}

std::int16_t TVdbTableLocks::PendingFailure() {
  if (FBroken != 0) return FLastError.SetLastError(FBroken, {FOwner.LockTableName()});
  if (FWriteError != 0) {
    const std::int16_t code = FWriteError;
    FWriteError = 0;
    return FLastError.SetLastError(code, {FOwner.LockTableName()});
  }
  return 0;
}

TVdbTableLockType TVdbTableLocks::NeededLevel() const noexcept {
  if (FWriteLocks >= 1) return tltWrite;
  if (FUpgradeLocks >= 1) return tltUpgrade;
  if (FReadLocks >= 1) return tltRead;
  return tltNone;
}

void TVdbTableLocks::SettleLocked() {
  if (FRecovering) return;
  const TVdbTableLockType needed = NeededLevel();
  if (FUnlockAction == tltWrite && needed < tltWrite) FOwner.FlushTable(true);
  if (needed < FUnlockAction && FLockFile) FLockFile->UnlockTable(FUnlockAction, needed);
  FUnlockAction = needed;
}

void TVdbTableLocks::Settle() {
  TLockingScope scope(FLockingMutex, FLockingMutexCounter);
  SettleLocked();
}

std::int16_t TVdbTableLocks::BeginRead(bool wait) {
  TLockingScope scope(FLockingMutex, FLockingMutexCounter);
  if (const std::int16_t failure = PendingFailure(); failure < 0) return failure;
  bool changed = false;
  if (FReadLocks == 0 && FUpgradeLocks == 0 && FWriteLocks == 0 && FUnlockAction == tltNone) {
    if (UsesLockFile()) {
      if (!FLockFile->LockTable(tltNone, tltRead, !wait)) return Fail(errTableLocked);
      changed = FLockFile->TableChanged(FOwner.KnownIndexCount());
    }
    FUnlockAction = tltRead;
  }
  ++FReadLocks;
  if (changed) CatchUpLocked(FReadLocks);
  return 0;
}

std::int16_t TVdbTableLocks::BeginUpgrade(bool wait) {
  TLockingScope scope(FLockingMutex, FLockingMutexCounter);
  if (const std::int16_t failure = PendingFailure(); failure < 0) return failure;
  if (FReadLocks > 0 && FUpgradeLocks == 0 && FWriteLocks == 0) return Fail(errTableLocked);
  bool changed = false;
  if (FUpgradeLocks == 0 && FWriteLocks == 0 && FUnlockAction <= tltRead) {
    if (UsesLockFile()) {
      bool granted = false;
      if (FUnlockAction == tltRead) {
        granted = FLockFile->LockTable(tltRead, tltUpgrade, true);
        if (!granted) SettleLocked();
      }
      // A request without waiting makes one attempt, like BeginWrite(false).
      if (!granted) granted = FLockFile->LockTable(FUnlockAction, tltUpgrade, !wait);
      if (!granted) return Fail(errTableLocked);
      changed = FLockFile->TableChanged(FOwner.KnownIndexCount());
    }
    FUnlockAction = tltUpgrade;
  }
  ++FUpgradeLocks;
  if (changed) CatchUpLocked(FUpgradeLocks);
  return 0;
}

std::int16_t TVdbTableLocks::BeginWrite(bool wait) {
  TLockingScope scope(FLockingMutex, FLockingMutexCounter);
  if (const std::int16_t failure = PendingFailure(); failure < 0) return failure;
  if (FReadLocks > 0 && FUpgradeLocks == 0 && FWriteLocks == 0) return Fail(errTableLocked);
  bool changed = false;
  if (FWriteLocks == 0 && FUnlockAction != tltWrite) {
    if (UsesLockFile()) {
      bool granted = false;
      if (FUnlockAction == tltRead) {
        granted = FLockFile->LockTable(tltRead, tltWrite, true);
        if (!granted) SettleLocked();
      }
      if (!granted) granted = FLockFile->LockTable(FUnlockAction, tltWrite, !wait);
      if (!granted) return Fail(errTableLocked);
      changed = FLockFile->TableChanged(FOwner.KnownIndexCount());
    }
    FUnlockAction = tltWrite;
  }
  ++FWriteLocks;
  if (changed) CatchUpLocked(FWriteLocks);
  return 0;
}

std::int16_t TVdbTableLocks::BeginExclusive() {
  TLockingScope scope(FLockingMutex, FLockingMutexCounter);
  if (FExclusiveLocks == 0) {
    bool changed = false;
    if (UsesLockFile()) {
      if (!FLockFile->LockExclusive()) return Fail(errTableInUse);
      changed = FLockFile->TableChanged(FOwner.KnownIndexCount());
    }
    FUnlockActive = false;
    SettleLocked();
    ++FExclusiveLocks;
    if (changed) CatchUpLocked(FExclusiveLocks);
    return 0;
  }
  ++FExclusiveLocks;
  return 0;
}

bool TVdbTableLocks::TryBeginExclusive() {
  TLockingScope scope(FLockingMutex, FLockingMutexCounter);
  if (FExclusiveLocks > 0) return BeginExclusive() == 0;
  // Other sessions using the table are no failure at closing: the changes of this one
  // reached the files when its write lock was given up.
  bool changed = false;
  if (UsesLockFile()) {
    if (!FLockFile->LockExclusive()) return false;
    changed = FLockFile->TableChanged(FOwner.KnownIndexCount());
  }
  FUnlockActive = false;
  SettleLocked();
  ++FExclusiveLocks;
  if (changed) CatchUpLocked(FExclusiveLocks);
  return true;
}

void TVdbTableLocks::CatchUpLocked(std::int32_t& counter) {
  try {
    FOwner.CatchUp(FLockFile->CatchUp());
  } catch (...) {
    --counter;
    try {
      SettleLocked();
    } catch (...) {
    }
    throw;
  }
}

std::int16_t TVdbTableLocks::CheckUpdate() {
  TLockingScope scope(FLockingMutex, FLockingMutexCounter);
  if (!UsesLockFile() || !FLockFile->CheckUpdate()) return 0;
  if (FUnlockAction == tltNone) {
    // Taking the lock finds the change and catches up.
    if (const std::int16_t r = BeginRead(true); r < 0) return r;
    return EndRead() < 0 ? std::int16_t{-errLocking} : std::int16_t{1};
  }
  std::int32_t none = 1;
  CatchUpLocked(none);
  return 1;
}

void TVdbTableLocks::AddRecordMove(std::int32_t fromRecNo, std::int32_t toRecNo) {
  TLockingScope scope(FLockingMutex, FLockingMutexCounter);
  if (FLockFile) FLockFile->AddRecordMove(fromRecNo, toRecNo);
}

void TVdbTableLocks::WriteIndexCount(std::int16_t indexCount) {
  TLockingScope scope(FLockingMutex, FLockingMutexCounter);
  if (UsesLockFile()) FLockFile->WriteIndexCount(indexCount);
}

void TVdbTableLocks::RunRecovery(const std::function<void()>& recovery) {
  TLockingScope scope(FLockingMutex, FLockingMutexCounter);
  const std::int32_t reads = FReadLocks, upgrades = FUpgradeLocks, writes = FWriteLocks;
  const TVdbTableLockType held = FUnlockAction;
  const bool wasRecovering = FRecovering;
  FRecovering = true;
  struct TRestore {
    TVdbTableLocks& T;
    std::int32_t R, U, W;
    TVdbTableLockType H;
    bool Was;
    ~TRestore() {
      T.FReadLocks = R;
      T.FUpgradeLocks = U;
      T.FWriteLocks = W;
      T.FUnlockAction = H;
      T.FRecovering = Was;
    }
  } restore{*this, reads, upgrades, writes, held, wasRecovering};
  recovery();
  if (FLockFile) FLockFile->NoteChange();
}

void TVdbTableLocks::MaybeReleaseEarly(bool flushWhileHeld, std::int32_t counter) {
  if (FRecovering) return;
  if (FServices.Random.NextBelow(kEarlyReleaseChance) != 0) return;
  if (flushWhileHeld && counter > 0) {
    FOwner.FlushTable(false);
    return;
  }
  // The release and its pause are for the sessions that wait: alone (or without a lock
  // file, which means no other session) the pause would only slow this one down.
  if (!FLockFile || !FLockFile->OthersWaiting()) return;
  SettleLocked();
  FServices.Sleeper.SleepMs(kEarlyReleaseSleepMs);
}

std::int16_t TVdbTableLocks::EndRead() {
  TLockingScope scope(FLockingMutex, FLockingMutexCounter);
  if (FReadLocks <= 0) return Fail(errLocking);
  FUnlockTime = FServices.Clock.NowMs();
  if (UsesLockFile() && FReadLocks == 1 && FWriteLocks == 0 && FOwner.IsolationLevel() == tilRepeatableRead) return 0;
  --FReadLocks;
  MaybeReleaseEarly(false, FReadLocks);
  return 0;
}

std::int16_t TVdbTableLocks::EndUpgrade() {
  TLockingScope scope(FLockingMutex, FLockingMutexCounter);
  if (FUpgradeLocks <= 0) return Fail(errLocking);
  FUnlockTime = FServices.Clock.NowMs();
  if (UsesLockFile() && FUpgradeLocks == 1 && FWriteLocks == 0 && FOwner.IsolationLevel() == tilRepeatableRead) {
    FUpgradeLocks = 0;
    ++FReadLocks;
    return 0;
  }
  --FUpgradeLocks;
  MaybeReleaseEarly(true, FUpgradeLocks);
  return 0;
}

std::int16_t TVdbTableLocks::EndWrite() {
  TLockingScope scope(FLockingMutex, FLockingMutexCounter);
  if (FWriteLocks <= 0) return Fail(errLocking);
  FUnlockTime = FServices.Clock.NowMs();
  if (UsesLockFile() && FWriteLocks == 1) {
    const TVdbIsolationLevel level = FOwner.IsolationLevel();
    if (level == tilDirtyRead) {
      FWriteLocks = 0;
      ++FReadLocks;
      return 0;
    }
    if (level == tilReadCommited || level == tilRepeatableRead) return 0;
  }
  --FWriteLocks;
  MaybeReleaseEarly(true, FWriteLocks);
  return 0;
}

std::int16_t TVdbTableLocks::EndExclusive() {
  TLockingScope scope(FLockingMutex, FLockingMutexCounter);
  if (FExclusiveLocks <= 0) return Fail(errLocking);
  if (FExclusiveLocks == 1) {
    // The counter drops even when the flush fails: the exclusive use is over either way.
    struct TDrop {
      TVdbTableLocks& T;
      ~TDrop() {
        T.FExclusiveLocks = 0;
        T.FUnlockActive = true;
        T.FUnlockTime = T.FServices.Clock.NowMs();
      }
    } drop{*this};
    FOwner.FlushTable(true);
    if (FLockFile) FLockFile->UnlockExclusive();
    return 0;
  }
  --FExclusiveLocks;
  return 0;
}

std::int16_t TVdbTableLocks::CheckEdit(std::int32_t recNo, const void* excludedListener) {
  if (!FUseEditLocks) {
    TLockingScope scope(FLockingMutex, FLockingMutexCounter);
    ++FEditLocks;
    return 0;
  }
  if (FOwner.ListenerIsEditing(recNo, excludedListener)) return Fail(errRecordLocked);
  TLockingScope scope(FLockingMutex, FLockingMutexCounter);
  if (FEditLocks > 0) {
    // The lock file keeps one edited record per session. A table without one (exclusive or
    // shared read-only) is out of every other session's reach: a further record is granted.
    if (FLockFile && FLockFile->GetLockedRecord() != recNo) return Fail(errRecordLocked);
  } else if (FLockFile && !FLockFile->LockRecord(recNo)) {
    return Fail(errRecordLocked);
  }
  FEditRecNo = recNo;
  ++FEditLocks;
  return 0;
}

std::int16_t TVdbTableLocks::EndEdit(std::int32_t recNo) {
  TLockingScope scope(FLockingMutex, FLockingMutexCounter);
  if (FEditLocks <= 0) return 0;
  if (FEditLocks == 1 && FUseEditLocks && FLockFile) FLockFile->UnlockRecord(recNo);
  if (--FEditLocks == 0) FEditRecNo = 0;
  return 0;
}

void TVdbTableLocks::SwitchEdit(std::int32_t fromRecNo, std::int32_t toRecNo) {
  TLockingScope scope(FLockingMutex, FLockingMutexCounter);
  if (FLockFile) FLockFile->SwitchRecordLock(fromRecNo, toRecNo);
  if (FEditRecNo == fromRecNo) FEditRecNo = toRecNo;
}

void TVdbTableLocks::CheckUnlock(std::uint32_t ticks) {
  if (!FUnlockActive || FUnlockAction == tltNone) return;
  if (!vuTickBefore(ticks, FUnlockTime) && vuElapsedMs(FUnlockTime, ticks) < kUnlockDelayMs) return;
  for (int attempt = 0; attempt < 3; ++attempt) {
    if (attempt > 0) FServices.Sleeper.SleepMs(kUnlockRetrySleepMs);
    if (FLockingMutex.try_lock()) {
      std::lock_guard<std::recursive_mutex> adopt(FLockingMutex, std::adopt_lock);
      ++FLockingMutexCounter;
      struct TCount {
        std::int32_t& C;
        ~TCount() { --C; }
      } count{FLockingMutexCounter};
      SettleLocked();
      return;
    }
  }
}

void TVdbTableLocks::StartUnlockClock() {
  TLockingScope scope(FLockingMutex, FLockingMutexCounter);
  FUnlockTime = FServices.Clock.NowMs();
  FUnlockActive = true;
}

void TVdbTableLocks::ReleaseAll() {
  TLockingScope scope(FLockingMutex, FLockingMutexCounter);
  while (FEditLocks > 0) {
    const std::int32_t recNo = FLockFile ? FLockFile->GetLockedRecord() : FEditRecNo;
    EndEdit(recNo);
  }
  // Closing gives everything up whatever the isolation level says.
  if (FExclusiveLocks > 0) {
    FExclusiveLocks = 1;
    EndExclusive();
  }
  FWriteLocks = 0;
  FUpgradeLocks = 0;
  FReadLocks = 0;
  SettleLocked();
  FUnlockActive = false;
}

std::int32_t TVdbTableLocks::NetUsers() {
  if (!FLockFile) return 0;
  TVdbTableUsage usage;
  GetUsage(usage);
  return usage.UserCount;
}

void TVdbTableLocks::GetUsage(TVdbTableUsage& usage) {
  TLockingScope scope(FLockingMutex, FLockingMutexCounter);
  usage = TVdbTableUsage{};
  if (FLockFile) {
    FLockFile->GetLockInfo(usage);
    return;
  }
  usage.UserCount = 1;
}

}  // namespace vdb
