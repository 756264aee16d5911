#include "locking/VdbLocks.h"

#include <unistd.h>

#include <algorithm>

#include "base/VdbErrorCodes.h"
#include "base/VdbErrors.h"
#include "base/VdbFormat.h"
#include "base/vuLittleEndian.h"
#include "tables/VdbTableNames.h"

namespace vdb {

namespace {

constexpr std::uint32_t kPauseBaseMs = 2;
constexpr std::uint32_t kPauseSpreadMs = 5;
// Entries of the record-move file.
constexpr std::int64_t kMoveEntrySize = 8;
// How often a joiner tries again when the lock file vanished under it.
constexpr int kJoinAttempts = 1000;

std::int64_t SlotPos(std::int32_t slot) { return kVdbLockHeaderSize + kVdbLockSlotSize * slot; }

std::string ToEightBit(std::u16string_view text) {
  std::string out;
  for (char16_t c : text) {
    if (out.size() >= static_cast<std::size_t>(kVdbLockNameChars)) break;
    out.push_back(c < 256 ? static_cast<char>(c) : '?');
  }
  return out;
}

std::u16string NumberText(std::int64_t n) { return VdbUtf8ToUtf16(std::to_string(n)); }

}  // namespace

// ---- layouts

std::array<std::uint8_t, kVdbLockHeaderSize> TVdbTableLockData::Encode() const {
  std::array<std::uint8_t, kVdbLockHeaderSize> b{};
  vuPutU32(&b[0], Tag);
  vuPutU16(&b[4], static_cast<std::uint16_t>(Version));
  vuPutU64(&b[6], static_cast<std::uint64_t>(ChangeCount));
  const std::int16_t fields[] = {IndexCount,   ReadLocks,    UpgradeLocks, WriteLocks,
                                 LockWaiters,  WriteWaiters, ItemCount,    SessionCount};
  for (std::size_t i = 0; i < std::size(fields); ++i) vuPutU16(&b[14 + 2 * i], static_cast<std::uint16_t>(fields[i]));
  return b;
}

TVdbTableLockData TVdbTableLockData::Decode(const std::uint8_t* b) {
  TVdbTableLockData d;
  d.Tag = vuGetU32(b);
  d.Version = static_cast<std::int16_t>(vuGetU16(b + 4));
  d.ChangeCount = static_cast<std::int64_t>(vuGetU64(b + 6));
  std::int16_t* fields[] = {&d.IndexCount,  &d.ReadLocks,    &d.UpgradeLocks, &d.WriteLocks,
                            &d.LockWaiters, &d.WriteWaiters, &d.ItemCount,    &d.SessionCount};
  for (std::size_t i = 0; i < std::size(fields); ++i) *fields[i] = static_cast<std::int16_t>(vuGetU16(b + 14 + 2 * i));
  return d;
}

std::array<std::uint8_t, kVdbLockSlotSize> TVdbSessionLockData::Encode() const {
  std::array<std::uint8_t, kVdbLockSlotSize> b{};
  vuPutU64(&b[0], static_cast<std::uint64_t>(Id));
  const std::size_t n = std::min<std::size_t>(Name.size(), kVdbLockNameChars);
  b[8] = static_cast<std::uint8_t>(n);
  std::copy_n(Name.begin(), n, b.begin() + 9);
  b[49] = static_cast<std::uint8_t>(TableLock);
  b[50] = static_cast<std::uint8_t>(DesiredLock);
  vuPutU32(&b[51], static_cast<std::uint32_t>(EditRecNo));
  b[55] = VitalSign;
  return b;
}

TVdbSessionLockData TVdbSessionLockData::Decode(const std::uint8_t* b) {
  TVdbSessionLockData d;
  d.Id = static_cast<std::int64_t>(vuGetU64(b));
  const std::size_t n = std::min<std::size_t>(b[8], kVdbLockNameChars);
  d.Name.assign(reinterpret_cast<const char*>(b + 9), n);
  d.TableLock = static_cast<TVdbTableLockType>(std::min<std::uint8_t>(b[49], tltWrite));
  d.DesiredLock = static_cast<TVdbTableLockType>(std::min<std::uint8_t>(b[50], tltWrite));
  d.EditRecNo = static_cast<std::int32_t>(vuGetU32(b + 51));
  d.VitalSign = b[55];
  return d;
}

std::u16string VdbLockFileName(std::u16string_view baseName, int tableLevel, bool isRelTable) {
  return std::u16string(baseName) + (tableLevel >= 6 ? u".vdbl" : isRelTable ? u".rnt" : u".net");
}

std::u16string VdbMoveFileName(std::u16string_view baseName, int tableLevel, bool isRelTable) {
  return std::u16string(baseName) + (tableLevel >= 6 ? u".vdbv" : isRelTable ? u".rmv" : u".mov");
}

// ---- the header lock

class TVdbLockFile::TEntered {
 public:
  explicit TEntered(TVdbLockFile& f) : FFile(f) { f.EnterLockFile(); }
  ~TEntered() { FFile.LeaveLockFile(); }
  TEntered(const TEntered&) = delete;
  TEntered& operator=(const TEntered&) = delete;

 private:
  TVdbLockFile& FFile;
};

TVdbLockFile::TVdbLockFile(TvuFileSystem& fs, TvuServices services) : FFileSystem(fs), FServices(services) {}

TVdbLockFile::~TVdbLockFile() {
  try {
    LogOut();
  } catch (const EVdbEngine&) {
  }
  CloseFiles();
}

void TVdbLockFile::RaiseIo(std::int16_t code, const std::u16string& file) { RaiseEngineError(code, {file}); }

void TVdbLockFile::Pause() {
  FServices.Sleeper.SleepMs(kPauseBaseMs + FServices.Random.NextBelow(kPauseSpreadMs));
}

void TVdbLockFile::EnterLockFile() {
  if (FEntered <= 0) {
    FEntered = 0;
    // Waiting for the header lock has no limit: a session in exclusive use holds it.
    while (!FFileSystem.LockFile(FNetFile, 0, 4, true)) {
      if (!vuIsBusyError(FFileSystem.GetLastError())) RaiseIo(errFileRead, FLockFileName);
      Pause();
    }
    try {
      ReadHeader();
      if (FSessionDataPos >= 0) FSessionLockData = ReadSlot(FSessionDataPos);
    } catch (...) {
      FFileSystem.UnlockFile(FNetFile, 0, 4, true);
      throw;
    }
  }
  ++FEntered;
}

void TVdbLockFile::LeaveLockFile() noexcept {
  if (FEntered <= 0) FEntered = 0;
  else --FEntered;
  if (FEntered == 0 && FNetFile != kvuInvalidHandle) FFileSystem.UnlockFile(FNetFile, 0, 4, true);
}

void TVdbLockFile::ReadHeader() {
  std::uint8_t b[kVdbLockHeaderSize] = {};
  if (FFileSystem.FileRead(FNetFile, 0, b, kVdbLockHeaderSize) != kVdbLockHeaderSize) RaiseIo(errFileRead, FLockFileName);
  FTableLockData = TVdbTableLockData::Decode(b);
}

void TVdbLockFile::WriteHeader() {
  const auto b = FTableLockData.Encode();
  if (FFileSystem.FileWrite(FNetFile, 0, b.data(), kVdbLockHeaderSize) != kVdbLockHeaderSize) {
    RaiseIo(errFileWrite, FLockFileName);
  }
}

TVdbSessionLockData TVdbLockFile::ReadSlot(std::int32_t slot) {
  std::uint8_t b[kVdbLockSlotSize] = {};
  // The vital-sign byte may be locked by its owner: only the first 55 bytes are read.
  if (FFileSystem.FileRead(FNetFile, SlotPos(slot), b, kVdbLockSlotWriteSize) != kVdbLockSlotWriteSize) {
    RaiseIo(errFileRead, FLockFileName);
  }
  return TVdbSessionLockData::Decode(b);
}

void TVdbLockFile::WriteSlot(std::int32_t slot, const TVdbSessionLockData& data, bool whole) {
  const auto b = data.Encode();
  const std::int64_t size = whole ? kVdbLockSlotSize : kVdbLockSlotWriteSize;
  if (FFileSystem.FileWrite(FNetFile, SlotPos(slot), b.data(), size) != size) RaiseIo(errFileWrite, FLockFileName);
}

// ---- joining and leaving

bool TVdbLockFile::CreateAtomically(const std::u16string& name, const std::uint8_t* content, std::int64_t size) {
  const std::u16string temp = name + u"." + NumberText(::getpid()) + u"." +
                              NumberText(FServices.Random.NextBelow(1000000000)) + u".tmp";
  const TvuFileHandle h = FFileSystem.CreateFile(temp);
  if (!TvuFileSystem::IsValidHandle(h)) {
    if (!FFileSystem.DirectoryExists(std::u16string(VdbExtractDir(name)))) {
      FFileSystem.ForcePath(std::u16string(VdbExtractDir(name)));
      const TvuFileHandle again = FFileSystem.CreateFile(temp);
      if (TvuFileSystem::IsValidHandle(again)) {
        FFileSystem.CloseFile(again);
        FFileSystem.DeleteFile(temp);
        return CreateAtomically(name, content, size);
      }
    }
    RaiseEngineError(errNoWriteAccess, {name});
  }
  const bool written = size == 0 || FFileSystem.FileWrite(h, 0, content, size) == size;
  FFileSystem.CloseFile(h);
  if (!written) {
    FFileSystem.DeleteFile(temp);
    RaiseEngineError(errNoWriteAccess, {name});
  }
  const bool linked = FFileSystem.RenameFile(temp, name);
  const std::int32_t err = FFileSystem.GetLastError();
  if (!linked) {
    FFileSystem.DeleteFile(temp);
    if (err != oseAlreadyExists) RaiseEngineError(errNoWriteAccess, {name});
  }
  return linked;
}

bool TVdbLockFile::OpenOrCreateLockFile() {
  FNetFile = FFileSystem.OpenFile(FLockFileName, kVdbLockFileMode);
  if (TvuFileSystem::IsValidHandle(FNetFile)) return true;
  const std::int32_t err = FFileSystem.GetLastError();
  if (err != oseFileNotFound && err != osePathNotFound) RaiseEngineError(errLogin, TVdbFmtArgs{});
  // A complete header appears under the final name in one step: a racing joiner either
  // finds no file or a whole one, and nobody truncates a file somebody joined.
  const auto header = TVdbTableLockData{}.Encode();
  CreateAtomically(FLockFileName, header.data(), kVdbLockHeaderSize);
  return false;
}

void TVdbLockFile::OpenMoveFile() {
  for (int attempt = 0; attempt < kJoinAttempts; ++attempt) {
    FMovFile = FFileSystem.OpenFile(FMoveFileName, kVdbLockFileMode);
    if (TvuFileSystem::IsValidHandle(FMovFile)) return;
    const std::int32_t err = FFileSystem.GetLastError();
    if (err != oseFileNotFound && err != osePathNotFound) break;
    CreateAtomically(FMoveFileName, nullptr, 0);
  }
  RaiseEngineError(errLogin, TVdbFmtArgs{});
}

void TVdbLockFile::CloseFiles() noexcept {
  if (FMovFile != kvuInvalidHandle) FFileSystem.CloseFile(FMovFile);
  if (FNetFile != kvuInvalidHandle) FFileSystem.CloseFile(FNetFile);
  FMovFile = FNetFile = kvuInvalidHandle;
  FEntered = 0;
}

void TVdbLockFile::LogIn(std::u16string_view baseFileName, int tableLevel, bool isRelTable) {
  if (Joined()) return;
  if (FSessionId == 0) RaiseEngineError(errInvalidConnectionId, TVdbFmtArgs{});
  FLockFileName = VdbLockFileName(baseFileName, tableLevel, isRelTable);
  FMoveFileName = VdbMoveFileName(baseFileName, tableLevel, isRelTable);
  try {
    for (int attempt = 0;; ++attempt) {
      if (attempt >= kJoinAttempts) RaiseEngineError(errLogin, TVdbFmtArgs{});
      if (!OpenOrCreateLockFile()) continue;
      EnterLockFile();
      // The last leaver of another group may have deleted the file between our opening and
      // our header lock: join only the file that is on disk.
      const auto mine = FFileSystem.HandleFileId(FNetFile);
      const auto onDisk = FFileSystem.FileIdOf(FLockFileName);
      if (!mine || !onDisk || !(*mine == *onDisk)) {
        LeaveLockFile();
        CloseFiles();
        continue;
      }
      break;
    }
    TEntered adopt(*this);
    LeaveLockFile();  // the scope above now owns the header lock taken in the loop
    if (FTableLockData.Tag != kVdbLockFileTag || FTableLockData.Version != kVdbLockFileVersion) {
      RaiseEngineError(errInvalidLockFile, {FLockFileName});
    }
    CheckSessions();
    std::int32_t slot = -1;
    for (std::int32_t i = 0; i < FTableLockData.ItemCount; ++i) {
      if (ReadSlot(i).Id == 0) {
        slot = i;
        break;
      }
    }
    if (slot < 0) {
      slot = FTableLockData.ItemCount;
      ++FTableLockData.ItemCount;
    }
    FSessionLockData = TVdbSessionLockData{};
    FSessionLockData.Id = static_cast<std::int64_t>(static_cast<std::uint32_t>(FSessionId));
    FSessionLockData.Name = ToEightBit(FSessionName);
    FSessionLockData.VitalSign = kVdbVitalSign;
    WriteSlot(slot, FSessionLockData, true);
    ++FTableLockData.SessionCount;
    WriteHeader();
    if (!FFileSystem.LockFile(FNetFile, SlotPos(slot) + kVdbLockSlotWriteSize, SlotPos(slot) + kVdbLockSlotSize, true)) {
      // Undo the slot: without its vital sign it would be taken for a dead session.
      WriteSlot(slot, TVdbSessionLockData{});
      --FTableLockData.SessionCount;
      WriteHeader();
      RaiseEngineError(errLogin, TVdbFmtArgs{});
    }
    FSessionDataPos = slot;
    FTableLock = tltNone;
    FChangeCount = 0;
    // Created under the header lock, so that a last leaver cannot delete it in between.
    OpenMoveFile();
    FMovePos = FFileSystem.GetFileSize(FMovFile);
  } catch (const EVdbEngine& e) {
    if (FSessionDataPos < 0) CloseFiles();
    if (e.Code() == errInvalidLockFile || e.Code() == errNoWriteAccess || e.Code() == errInvalidConnectionId) throw;
    if (e.Code() == errLogin) throw;
    RaiseEngineError(errLogin, TVdbFmtArgs{});
  }
}

void TVdbLockFile::LogOut() {
  if (FNetFile == kvuInvalidHandle) return;
  if (FSessionDataPos < 0) {
    CloseFiles();
    return;
  }
  bool last = false;
  {
    TEntered entered(*this);
    const std::int32_t slot = FSessionDataPos;
    FFileSystem.UnlockFile(FNetFile, SlotPos(slot) + kVdbLockSlotWriteSize, SlotPos(slot) + kVdbLockSlotSize, true);
    FSessionDataPos = -1;
    WriteSlot(slot, TVdbSessionLockData{});
    --FTableLockData.SessionCount;
    WriteHeader();
    CheckSessions();
    last = FTableLockData.SessionCount <= 0;
    if (last) {
      // Deleted while the header lock is held: a joiner waiting for it finds its file gone
      // from the directory and starts over with a new one.
      FFileSystem.DeleteFile(FMoveFileName);
      FFileSystem.DeleteFile(FLockFileName);
    }
  }
  FTableLock = tltNone;
  CloseFiles();
}

// ---- dead sessions

bool TVdbLockFile::CheckSessionsNow() {
  TEntered entered(*this);
  return CheckSessions();
}

bool TVdbLockFile::CheckSessions() {
  std::int16_t reads = 0, upgrades = 0, writes = 0, waiters = 0, writeWaiters = 0, sessions = 0;
  bool reclaimed = false;
  bool changed = false;
  const std::int64_t fileSize = FFileSystem.GetFileSize(FNetFile);
  for (std::int32_t i = 0; i < FTableLockData.ItemCount; ++i) {
    if (fileSize < SlotPos(i + 1)) {
      FTableLockData.ItemCount = static_cast<std::int16_t>(std::max<std::int64_t>(0, (fileSize - kVdbLockHeaderSize) / kVdbLockSlotSize));
      FFileSystem.SetFileSize(FNetFile, SlotPos(FTableLockData.ItemCount));
      changed = true;
      break;
    }
    const TVdbSessionLockData s = ReadSlot(i);
    if (s.Id == 0) continue;
    bool alive = i == FSessionDataPos;
    if (!alive) {
      const TvuLockProbe probe = FFileSystem.TestLock(FNetFile, SlotPos(i) + kVdbLockSlotWriteSize, SlotPos(i) + kVdbLockSlotSize);
      if (probe == TvuLockProbe::lpFailed) RaiseIo(errFileRead, FLockFileName);
      alive = probe == TvuLockProbe::lpHeld;
    }
    if (alive) {
      ++sessions;
      if (s.DesiredLock != tltNone) ++waiters;
      if (s.DesiredLock == tltWrite) ++writeWaiters;
      switch (s.TableLock) {
        case tltNone:
          break;
        case tltRead:
          if (writes > 0) RaiseEngineError(errNetwork, TVdbFmtArgs{});
          ++reads;
          break;
        case tltUpgrade:
          if (upgrades > 0 || writes > 0) RaiseEngineError(errNetwork, TVdbFmtArgs{});
          upgrades = 1;
          break;
        case tltWrite:
          if (reads > 0 || upgrades > 0 || writes > 0) RaiseEngineError(errNetwork, TVdbFmtArgs{});
          writes = 1;
          break;
      }
      continue;
    }
    // A dead writer may have changed the files: every session must drop its caches.
    if (s.TableLock == tltUpgrade || s.TableLock == tltWrite) {
      ++FTableLockData.ChangeCount;
      changed = true;
    }
    WriteSlot(i, TVdbSessionLockData{});
    reclaimed = true;
  }
  if (reads != FTableLockData.ReadLocks || upgrades != FTableLockData.UpgradeLocks ||
      writes != FTableLockData.WriteLocks || waiters != FTableLockData.LockWaiters ||
      writeWaiters != FTableLockData.WriteWaiters || sessions != FTableLockData.SessionCount) {
    FTableLockData.ReadLocks = reads;
    FTableLockData.UpgradeLocks = upgrades;
    FTableLockData.WriteLocks = writes;
    FTableLockData.LockWaiters = waiters;
    FTableLockData.WriteWaiters = writeWaiters;
    FTableLockData.SessionCount = sessions;
    changed = true;
  }
  if (changed) WriteHeader();
  if (reclaimed && FOnHijack) FOnHijack();
  return reclaimed;
}

// ---- table locks

bool TVdbLockFile::TryLockTable(TVdbTableLockType from, TVdbTableLockType to) {
  TVdbTableLockData& h = FTableLockData;
  switch (to) {
    case tltRead:
      if (from != tltNone || h.WriteLocks > 0 || h.WriteWaiters > 0) return false;
      ++h.ReadLocks;
      break;
    case tltUpgrade:
      if (from == tltRead) {
        if (h.UpgradeLocks + h.WriteLocks != 0) return false;
        --h.ReadLocks;
      } else if (from != tltNone) {
        return false;
      }
      if (h.UpgradeLocks > 0 || h.WriteLocks > 0) {
        if (from == tltRead) ++h.ReadLocks;
        return false;
      }
      h.UpgradeLocks = 1;
      break;
    case tltWrite:
      if (from == tltRead || from == tltUpgrade) {
        if (h.ReadLocks + h.UpgradeLocks + h.WriteLocks > 1) return false;
        GiveUp(from);
      } else if (from != tltNone) {
        return false;
      }
      if (h.ReadLocks > 0 || h.UpgradeLocks > 0 || h.WriteLocks > 0) return false;
      h.WriteLocks = 1;
      break;
    default:
      return false;
  }
  FSessionLockData.TableLock = to;
  return true;
}

void TVdbLockFile::GiveUp(TVdbTableLockType level) {
  switch (level) {
    case tltRead:
      if (FTableLockData.ReadLocks > 0) --FTableLockData.ReadLocks;
      break;
    case tltUpgrade:
    case tltWrite:
      (level == tltUpgrade ? FTableLockData.UpgradeLocks : FTableLockData.WriteLocks) = 0;
      ++FTableLockData.ChangeCount;
      // Our own change is not another session's.
      FChangeCount = FTableLockData.ChangeCount;
      break;
    default:
      break;
  }
  FSessionLockData.TableLock = tltNone;
}

bool TVdbLockFile::LockTable(TVdbTableLockType from, TVdbTableLockType to, bool immediate) {
  if (!Joined()) return false;
  TEntered entered(*this);
  bool granted = TryLockTable(from, to);
  if (granted) {
    WriteOwnSlot();
    WriteHeader();
  } else if (!immediate) {
    FSessionLockData.DesiredLock = to;
    WriteOwnSlot();
    ++FTableLockData.LockWaiters;
    if (to == tltWrite) ++FTableLockData.WriteWaiters;
    WriteHeader();
    // The waiter marks come off again however the wait ends.
    struct TUnwait {
      TVdbLockFile& F;
      TVdbTableLockType To;
      bool& Granted;
      ~TUnwait() {
        try {
          F.FSessionLockData.DesiredLock = tltNone;
          F.WriteOwnSlot();
          if (F.FTableLockData.LockWaiters > 0) --F.FTableLockData.LockWaiters;
          if (To == tltWrite && F.FTableLockData.WriteWaiters > 0) --F.FTableLockData.WriteWaiters;
          F.WriteHeader();
        } catch (const EVdbEngine&) {
        }
      }
    } unwait{*this, to, granted};
    for (std::int32_t attempt = 1; attempt <= kVdbLockTableTries && !granted; ++attempt) {
      LeaveLockFile();
      Pause();
      EnterLockFile();
      // A dead session's locks would hold everybody up until the tries are spent: look for
      // dead sessions now and then while waiting.
      if (attempt % kVdbLockDeadCheckEvery == 0) CheckSessions();
      granted = TryLockTable(from, to);
    }
    if (!granted && CheckSessions()) granted = TryLockTable(from, to);
  }
  if (granted) FTableLock = to;
  return granted;
}

void TVdbLockFile::UnlockTable(TVdbTableLockType from, TVdbTableLockType to) {
  if (!Joined()) return;
  TEntered entered(*this);
  GiveUp(from);
  switch (to) {
    case tltRead:
      ++FTableLockData.ReadLocks;
      break;
    case tltUpgrade:
      FTableLockData.UpgradeLocks = 1;
      break;
    default:
      break;
  }
  FSessionLockData.TableLock = to;
  WriteOwnSlot();
  WriteHeader();
  FTableLock = to;
}

bool TVdbLockFile::TableChanged(std::int32_t knownIndexCount) {
  return FTableLockData.ChangeCount > FChangeCount || FTableLockData.IndexCount > knownIndexCount;
}

bool TVdbLockFile::CheckUpdate() {
  if (!Joined()) return false;
  TEntered entered(*this);
  return FTableLockData.ChangeCount > FChangeCount;
}

void TVdbLockFile::NoteChange() {
  if (!Joined()) return;
  TEntered entered(*this);
  ++FTableLockData.ChangeCount;
  WriteHeader();
}

void TVdbLockFile::WriteIndexCount(std::int16_t indexCount) {
  if (!Joined()) return;
  TEntered entered(*this);
  FTableLockData.IndexCount = indexCount;
  WriteHeader();
}

std::vector<TVdbRecordMove> TVdbLockFile::CatchUp() {
  std::vector<TVdbRecordMove> moves;
  if (!Joined()) return moves;
  FChangeCount = std::max(FChangeCount, FTableLockData.ChangeCount);
  std::int32_t from = 0, to = 0;
  while (ReadRecordMove(from, to)) {
    if (from < 1 || to < 1) RaiseEngineError(errUnknown, {u"record move " + NumberText(from) + u" to " + NumberText(to)});
    moves.push_back(TVdbRecordMove{to, from});
  }
  return moves;
}

// ---- record moves

void TVdbLockFile::AddRecordMove(std::int32_t fromRecNo, std::int32_t toRecNo) {
  if (FMovFile == kvuInvalidHandle) return;
  std::uint8_t b[kMoveEntrySize];
  vuPutU32(b, static_cast<std::uint32_t>(toRecNo));
  vuPutU32(b + 4, static_cast<std::uint32_t>(fromRecNo));
  const std::int64_t end = FFileSystem.GetFileSize(FMovFile);
  if (FFileSystem.FileWrite(FMovFile, end, b, kMoveEntrySize) != kMoveEntrySize) RaiseIo(errFileWrite, FMoveFileName);
  FMovePos = end + kMoveEntrySize;
}

bool TVdbLockFile::ReadRecordMove(std::int32_t& fromRecNo, std::int32_t& toRecNo) {
  if (FMovFile == kvuInvalidHandle) return false;
  if (FMovePos + kMoveEntrySize > FFileSystem.GetFileSize(FMovFile)) return false;
  std::uint8_t b[kMoveEntrySize];
  if (FFileSystem.FileRead(FMovFile, FMovePos, b, kMoveEntrySize) != kMoveEntrySize) RaiseIo(errFileRead, FMoveFileName);
  toRecNo = static_cast<std::int32_t>(vuGetU32(b));
  fromRecNo = static_cast<std::int32_t>(vuGetU32(b + 4));
  FMovePos += kMoveEntrySize;
  return true;
}

// ---- edit locks

bool TVdbLockFile::TryLockRecord(std::int32_t recNo) {
  if (FTableLockData.WriteLocks > 0 && FTableLock != tltWrite) return false;
  for (std::int32_t i = 0; i < FTableLockData.ItemCount; ++i) {
    if (i == FSessionDataPos) continue;
    if (ReadSlot(i).EditRecNo == recNo) return false;
  }
  FSessionLockData.EditRecNo = recNo;
  WriteOwnSlot();
  return true;
}

bool TVdbLockFile::LockRecord(std::int32_t recNo) {
  if (!Joined()) return true;
  TEntered entered(*this);
  if (TryLockRecord(recNo)) return true;
  LeaveLockFile();
  Pause();
  EnterLockFile();
  if (TryLockRecord(recNo)) return true;
  return CheckSessions() && TryLockRecord(recNo);
}

void TVdbLockFile::UnlockRecord(std::int32_t) {
  if (!Joined()) return;
  TEntered entered(*this);
  FSessionLockData.EditRecNo = 0;
  WriteOwnSlot();
}

void TVdbLockFile::SwitchRecordLock(std::int32_t fromRecNo, std::int32_t toRecNo) {
  if (!Joined()) return;
  TEntered entered(*this);
  for (std::int32_t i = 0; i < FTableLockData.ItemCount; ++i) {
    TVdbSessionLockData s = i == FSessionDataPos ? FSessionLockData : ReadSlot(i);
    if (s.Id == 0 || s.EditRecNo != fromRecNo) continue;
    s.EditRecNo = toRecNo;
    WriteSlot(i, s);
    if (i == FSessionDataPos) FSessionLockData = s;
  }
}

std::int32_t TVdbLockFile::GetLockedRecord() {
  if (!Joined()) return 0;
  TEntered entered(*this);
  return FSessionLockData.EditRecNo;
}

// ---- exclusive use

bool TVdbLockFile::LockExclusive() {
  if (!Joined()) return true;
  EnterLockFile();
  bool only = false;
  try {
    CheckSessions();
    only = FTableLockData.SessionCount == 1;
  } catch (const EVdbEngine&) {
    only = false;
  }
  if (!only) LeaveLockFile();
  return only;
}

void TVdbLockFile::UnlockExclusive() {
  if (!Joined()) return;
  LeaveLockFile();
}

bool TVdbLockFile::OthersWaiting() {
  if (!Joined()) return false;
  TEntered entered(*this);
  return FTableLockData.LockWaiters > 0;
}

// ---- usage

void TVdbLockFile::GetLockInfo(TVdbTableUsage& usage) {
  usage = TVdbTableUsage{};
  if (!Joined()) return;
  TEntered entered(*this);
  const TVdbTableLockData& h = FTableLockData;
  usage.ItemCount = h.ItemCount;
  usage.UserCount = h.SessionCount;
  usage.ReadCount = h.ReadLocks;
  usage.UpgradeCount = h.UpgradeLocks;
  usage.WriteCount = h.WriteLocks;
  usage.WaitCount = h.LockWaiters;
  usage.WaitWriteCount = h.WriteWaiters;
  usage.UpdateCount = static_cast<std::int32_t>(h.ChangeCount);
  // Room for the first sessions only; the counts above cover all of them.
  const std::int32_t shown = std::min<std::int32_t>(h.ItemCount, kVdbUsageEntries);
  for (std::int32_t i = 0; i < shown; ++i) {
    const TVdbSessionLockData s = i == FSessionDataPos ? FSessionLockData : ReadSlot(i);
    TVdbTableUsageEntry e;
    e.StationName = s.Name;
    e.StationId = static_cast<std::int32_t>(static_cast<std::uint32_t>(s.Id));
    e.Active = s.Id != 0;
    e.Lock = s.TableLock == tltWrite ? -1 : static_cast<std::int32_t>(s.TableLock);
    e.EditRecNo = s.EditRecNo;
    usage.UserInfo.push_back(std::move(e));
  }
}

}  // namespace vdb

namespace vdb {

void TVdbLockFileFactory::SetStation(std::int64_t id, std::u16string name) {
  FStationId = id;
  FStationName = std::move(name);
}

std::unique_ptr<IVdbTableLockFile> TVdbLockFileFactory::Join(TvuFileSystem& fs, std::u16string_view baseName,
                                                             int tableLevel, bool isRelTable,
                                                             std::function<void()> onHijack) {
  if (FStationId == 0) RaiseEngineError(errInvalidConnectionId, TVdbFmtArgs{});
  if (FStationName.empty()) FStationName = u"Conn" + NumberText(1 + FServices.Random.NextBelow(999));
  auto file = std::make_unique<TVdbLockFile>(fs, FServices);
  file->SetSessionId(FStationId);
  file->SetSessionName(FStationName);
  file->SetOnHijack(std::move(onHijack));
  file->LogIn(baseName, tableLevel, isRelTable);
  return file;
}

}  // namespace vdb
