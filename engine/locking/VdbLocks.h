// The lock file of a stored table, shared by every session (of any process) that opens the
// table neither exclusively nor shared read-only, and the record-move file beside it.
//
// Lock file (".vdbl" level 6, ".rnt" relation tables, ".net" otherwise; little-endian; stored
// on disk and read by every program on the same tables: never change):
//
//   header, 30 bytes at offset 0
//   offset  size  field
//   0       4     Tag           $834BCF55 (bytes 55 CF 4B 83)
//   4       2     Version       7
//   6       8     ChangeCount   +1 each time a session gives up an upgrade or write lock
//   14      2     IndexCount    index names of the table
//   16      2     ReadLocks     sessions holding a read lock
//   18      2     UpgradeLocks  1 while a session holds the upgrade lock
//   20      2     WriteLocks    1 while a session holds the write lock
//   22      2     LockWaiters   sessions waiting for a table lock
//   24      2     WriteWaiters  sessions waiting for the write lock
//   26      2     ItemCount     session slots in the file
//   28      2     SessionCount  sessions joined
//
//   session slot i, 56 bytes at 30 + 56 × i
//   0       8     Id            station id in the low 32 bits; 0 marks a free slot
//   8       41    Name          length byte and up to 40 8-bit characters
//   49      1     TableLock     lock the session holds (0 none, 1 read, 2 upgrade, 3 write)
//   50      1     DesiredLock   lock the session waits for, 0 when not waiting
//   51      4     EditRecNo     record the session has in edit, 0 for none
//   55      1     VitalSign     255 while joined
//
// Byte locks: bytes [0, 4) serialise every read-modify-write of header and slots (the header
// lock); each joined session holds its slot's vital-sign byte, so a slot with an id whose
// byte nobody holds belongs to a dead session and is reclaimed. Slots are therefore written
// 55 bytes at a time; only joining writes all 56.
//
// Record-move file (".vdbv", ".rmv", ".mov"): 8-byte entries appended at the end, ToRecNo
// (the deleted number, which now holds the moved record) then FromRecNo (the moved record's
// former number; equal to ToRecNo when the last record itself was deleted).
//
// Files appear and vanish atomically: a joiner that finds no lock file writes a complete one
// under a temporary name and links it into place without replacing anything; the last leaver
// deletes both files while it holds the header lock, and a joiner checks, holding the header
// lock, that the file it opened is still the one on disk. So two groups of sessions never
// lock two different files, and nobody ever reads a half-written header.
//
// Errors raise EVdbEngine: 115 the lock file cannot be created, 106 other failures while
// joining, 185 wrong tag or version, 109 incompatible locks among living sessions, 52 a
// record move with a number below 1, 2/3 for reads and writes that fail later.
//
// Threads: one object per table object, used under that table's locking mutex. Across
// objects and processes the byte locks are the only coordination.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "base/vuServices.h"
#include "storage/vuFileSystem.h"
#include "tables/VdbTableLocks.h"

namespace vdb {

inline constexpr std::uint32_t kVdbLockFileTag = 0x834BCF55;
inline constexpr std::int16_t kVdbLockFileVersion = 7;
inline constexpr std::int64_t kVdbLockHeaderSize = 30;
inline constexpr std::int64_t kVdbLockSlotSize = 56;
// Bytes of a slot rewritten while its vital-sign byte is locked.
inline constexpr std::int64_t kVdbLockSlotWriteSize = 55;
inline constexpr std::int32_t kVdbLockNameChars = 40;
inline constexpr std::uint8_t kVdbVitalSign = 255;
// Lock file opening: read and write, shared with everyone.
inline constexpr std::uint32_t kVdbLockFileMode = fmOpenReadWrite | fmShareDenyNone;
// Table lock attempts before a waiting request gives up, and how often dead sessions are
// looked for meanwhile.
inline constexpr std::int32_t kVdbLockTableTries = 4000;
inline constexpr std::int32_t kVdbLockDeadCheckEvery = 64;

struct TVdbTableLockData {
  std::uint32_t Tag = kVdbLockFileTag;
  std::int16_t Version = kVdbLockFileVersion;
  std::int64_t ChangeCount = 0;
  std::int16_t IndexCount = 0;
  std::int16_t ReadLocks = 0;
  std::int16_t UpgradeLocks = 0;
  std::int16_t WriteLocks = 0;
  std::int16_t LockWaiters = 0;
  std::int16_t WriteWaiters = 0;
  std::int16_t ItemCount = 0;
  std::int16_t SessionCount = 0;

  std::array<std::uint8_t, kVdbLockHeaderSize> Encode() const;
  static TVdbTableLockData Decode(const std::uint8_t* bytes);
};

struct TVdbSessionLockData {
  std::int64_t Id = 0;
  std::string Name;  // 8-bit, at most 40 characters
  TVdbTableLockType TableLock = tltNone;
  TVdbTableLockType DesiredLock = tltNone;
  std::int32_t EditRecNo = 0;
  std::uint8_t VitalSign = 0;

  std::array<std::uint8_t, kVdbLockSlotSize> Encode() const;
  static TVdbSessionLockData Decode(const std::uint8_t* bytes);
};

// File names of a table's lock and record-move files from its base name (directory and name
// without extension).
std::u16string VdbLockFileName(std::u16string_view baseName, int tableLevel, bool isRelTable);
std::u16string VdbMoveFileName(std::u16string_view baseName, int tableLevel, bool isRelTable);

class TVdbLockFile final : public IVdbTableLockFile {
 public:
  // `fs` and the services must outlive the object. No file is touched before LogIn.
  TVdbLockFile(TvuFileSystem& fs, TvuServices services);
  // Leaves when joined; a failure to leave is lost here (call LogOut to see it).
  ~TVdbLockFile() override;
  TVdbLockFile(const TVdbLockFile&) = delete;
  TVdbLockFile& operator=(const TVdbLockFile&) = delete;

  void SetSessionId(std::int64_t id) noexcept { FSessionId = id; }
  std::int64_t SessionId() const noexcept { return FSessionId; }
  void SetSessionName(std::u16string name) { FSessionName = std::move(name); }
  const std::u16string& SessionName() const noexcept { return FSessionName; }
  // Called after dead sessions' slots were reclaimed, with the header lock held.
  void SetOnHijack(std::function<void()> handler) { FOnHijack = std::move(handler); }

  // Joins (creating the files when missing) and leaves. LogIn raises 107 for session id 0,
  // 115, 106 or 185; LogOut deletes both files when it was the last session.
  void LogIn(std::u16string_view baseFileName, int tableLevel, bool isRelTable);
  void LogOut() override;
  bool Joined() const noexcept { return FSessionDataPos >= 0; }
  std::int32_t SlotNo() const noexcept { return FSessionDataPos; }
  const std::u16string& LockFileName() const noexcept { return FLockFileName; }
  const std::u16string& MoveFileName() const noexcept { return FMoveFileName; }

  // ---- IVdbTableLockFile
  bool LockTable(TVdbTableLockType from, TVdbTableLockType to, bool immediate) override;
  void UnlockTable(TVdbTableLockType from, TVdbTableLockType to) override;
  bool TableChanged(std::int32_t knownIndexCount) override;
  bool LockRecord(std::int32_t recNo) override;
  void UnlockRecord(std::int32_t recNo) override;
  void SwitchRecordLock(std::int32_t fromRecNo, std::int32_t toRecNo) override;
  std::int32_t GetLockedRecord() override;
  bool LockExclusive() override;
  void UnlockExclusive() override;
  void GetLockInfo(TVdbTableUsage& usage) override;
  bool CheckUpdate() override;
  std::vector<TVdbRecordMove> CatchUp() override;
  void AddRecordMove(std::int32_t fromRecNo, std::int32_t toRecNo) override;
  void NoteChange() override;
  void WriteIndexCount(std::int16_t indexCount) override;
  // Reads the header's waiter count (under the header lock).
  bool OthersWaiting() override;

  // One record move not yet read (advancing the read position); false at the end.
  bool ReadRecordMove(std::int32_t& fromRecNo, std::int32_t& toRecNo);
  // Reclaims dead sessions' slots and corrects the header counts, entering the lock file for
  // the call. True when a slot was reclaimed.
  bool CheckSessionsNow();

  std::int64_t SessionChangeCount() const noexcept { return FChangeCount; }
  std::int64_t TableChangeCount() const noexcept { return FTableLockData.ChangeCount; }
  std::int16_t TableIndexCount() const noexcept { return FTableLockData.IndexCount; }
  std::int32_t TableRecordCount() const noexcept { return 0; }
  TVdbTableLockType TableLock() const noexcept { return FTableLock; }
  std::int16_t SessionCount() const noexcept { return FTableLockData.SessionCount; }
  // The header as last read.
  const TVdbTableLockData& Header() const noexcept { return FTableLockData; }

 private:
  void EnterLockFile();
  void LeaveLockFile() noexcept;
  // Holds the header lock for a scope.
  class TEntered;
  void ReadHeader();
  void WriteHeader();
  TVdbSessionLockData ReadSlot(std::int32_t slot);
  void WriteSlot(std::int32_t slot, const TVdbSessionLockData& data, bool whole = false);
  void WriteOwnSlot() { WriteSlot(FSessionDataPos, FSessionLockData); }
  bool CheckSessions();
  bool TryLockTable(TVdbTableLockType from, TVdbTableLockType to);
  void GiveUp(TVdbTableLockType level);
  bool TryLockRecord(std::int32_t recNo);
  void Pause();
  // Opens the lock file, creating it atomically when missing. False when it vanished before
  // it could be opened (the caller tries again).
  bool OpenOrCreateLockFile();
  // Creates `name` with `content` under a temporary name and links it into place; false when
  // the name exists already.
  bool CreateAtomically(const std::u16string& name, const std::uint8_t* content, std::int64_t size);
  void OpenMoveFile();
  void CloseFiles() noexcept;
  [[noreturn]] void RaiseIo(std::int16_t code, const std::u16string& file);

  TvuFileSystem& FFileSystem;
  TvuServices FServices;
  std::int64_t FSessionId = 0;
  std::u16string FSessionName;
  std::u16string FLockFileName;
  std::u16string FMoveFileName;
  TvuFileHandle FNetFile = kvuInvalidHandle;
  TvuFileHandle FMovFile = kvuInvalidHandle;
  std::int64_t FChangeCount = 0;
  TVdbTableLockData FTableLockData;
  TVdbTableLockType FTableLock = tltNone;
  std::int32_t FSessionDataPos = -1;
  TVdbSessionLockData FSessionLockData;
  std::int64_t FMovePos = 0;
  std::int16_t FEntered = 0;
  std::function<void()> FOnHijack;
};

}  // namespace vdb

namespace vdb {

// The lock files of one session's tables: every table joins its own TVdbLockFile with the
// session's station id and name.
class TVdbLockFileFactory final : public IVdbLockFileFactory {
 public:
  explicit TVdbLockFileFactory(TvuServices services) : FServices(services) {}
  // Station id 0 makes every Join fail with 107; an empty name becomes "Conn" and a random
  // number 1..999.
  void SetStation(std::int64_t id, std::u16string name);
  std::unique_ptr<IVdbTableLockFile> Join(TvuFileSystem& fs, std::u16string_view baseName, int tableLevel,
                                          bool isRelTable, std::function<void()> onHijack) override;

 private:
  TvuServices FServices;
  std::int64_t FStationId = 0;
  std::u16string FStationName;
};

}  // namespace vdb
