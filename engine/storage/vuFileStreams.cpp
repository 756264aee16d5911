// Stream views of a file. One thread per stream object.
#include "storage/vuFileStreams.h"

#include <algorithm>
#include <cstring>

#include "base/VdbErrorCodes.h"

namespace vdb {

EvuFileStreamError::EvuFileStreamError(std::int16_t code, std::u16string message,
                                       std::int32_t osError)
    : EVdbEngine(ReadyMessage{}, code, std::move(message)), FOSError(osError) {}

// --- TvuFileSystemStream ----------------------------------------------------------------

TvuFileSystemStream::TvuFileSystemStream(std::u16string fileName, std::uint32_t mode,
                                         TvuFileSystem& fs)
    : FFileName(std::move(fileName)), FFileSystem(fs) {
  const bool create = mode == fmCreate;
  FHandle = create ? fs.CreateFile(FFileName) : fs.OpenFile(FFileName, mode);
  if (TvuFileSystem::IsValidHandle(FHandle)) return;
  const std::int32_t os = fs.GetLastError();
  const std::u16string text = fs.LastErrorText();
  const std::u16string expanded = fs.ExpandFileName(FFileName);
  if (create) {
    std::u16string msg = u"Cannot create file \"" + expanded + u"\". " + text;
    if (os == oseAlreadyExists) throw EvuFileAlreadyExistsError(errFileWrite, std::move(msg), os);
    throw EFCreateError(errFileWrite, std::move(msg), os);
  }
  std::u16string msg = u"Cannot open file \"" + expanded + u"\". " + text;
  if (os == oseFileNotFound) throw EvuFileNotFoundError(errCannotOpenFile, std::move(msg), os);
  throw EFOpenError(errCannotOpenFile, std::move(msg), os);
}

TvuFileSystemStream::TvuFileSystemStream(TvuFileHandle handle, TvuFileSystem& fs)
    : FHandle(handle), FFileSystem(fs) {}

std::unique_ptr<TvuFileSystemStream> TvuFileSystemStream::CreateFromHandle(
    TvuFileHandle handle, TvuFileSystem& fs) {
  return std::unique_ptr<TvuFileSystemStream>(new TvuFileSystemStream(handle, fs));
}

TvuFileSystemStream::~TvuFileSystemStream() {
  if (TvuFileSystem::IsValidHandle(FHandle)) FFileSystem.CloseFile(FHandle);
}

std::int64_t TvuFileSystemStream::Read(void* buffer, std::int64_t count) {
  const std::int64_t got = FFileSystem.FileRead(FHandle, FPosition, buffer, count);
  FPosition += got;
  return got;
}

std::int64_t TvuFileSystemStream::Write(const void* buffer, std::int64_t count) {
  const std::int64_t done = FFileSystem.FileWrite(FHandle, FPosition, buffer, count);
  FPosition += done;
  return done;
}

void TvuFileSystemStream::ReadBuffer(void* buffer, std::int64_t count) {
  if (Read(buffer, count) != count) throw EVdbEngine(errFileRead, {FFileName});
}

void TvuFileSystemStream::WriteBuffer(const void* buffer, std::int64_t count) {
  if (Write(buffer, count) != count) throw EVdbEngine(errFileWrite, {FFileName});
}

std::int64_t TvuFileSystemStream::Seek(std::int64_t offset, TvuSeekOrigin origin) {
  switch (origin) {
    case TvuSeekOrigin::soBeginning: FPosition = offset; break;
    case TvuSeekOrigin::soCurrent: FPosition += offset; break;
    case TvuSeekOrigin::soEnd: FPosition = Size() + offset; break;
  }
  return FPosition;
}

std::int64_t TvuFileSystemStream::Size() { return FFileSystem.GetFileSize(FHandle); }

void TvuFileSystemStream::SetSize(std::int64_t size) { FFileSystem.SetFileSize(FHandle, size); }

bool TvuFileSystemStream::LockRange(std::int64_t startPos, std::int64_t length, bool forWrite) {
  return FFileSystem.LockFile(FHandle, startPos, startPos + length, forWrite);
}

bool TvuFileSystemStream::UnlockRange(std::int64_t startPos, std::int64_t length,
                                      bool forWrite) {
  return FFileSystem.UnlockFile(FHandle, startPos, startPos + length, forWrite);
}

bool TvuFileSystemStream::IsRangeLocked(std::int64_t startPos, std::int64_t length) {
  switch (FFileSystem.TestLock(FHandle, startPos, startPos + length)) {
    case TvuLockProbe::lpFree: return false;
    case TvuLockProbe::lpHeld: return true;
    default: break;
  }
  throw EVdbEngine::CreateMsg(errLocking, u"Locking error: " + FFileSystem.LastErrorText());
}

// --- TvuFileSystemVdbStream --------------------------------------------------------------

TvuFileSystemVdbStream::TvuFileSystemVdbStream(TvuFileSystem& fs, TvuServices services)
    : FFileSystem(fs), FServices(services) {}

TvuFileSystemVdbStream::~TvuFileSystemVdbStream() { DropHandle(); }

void TvuFileSystemVdbStream::DropHandle() {
  if (TvuFileSystem::IsValidHandle(FHandle)) FFileSystem.CloseFile(FHandle);
  FHandle = kvuInvalidHandle;
  // The whole-file lock went with the handle.
  FLockCount = 0;
}

bool TvuFileSystemVdbStream::EnsureOpen() {
  if (TvuFileSystem::IsValidHandle(FHandle)) return true;
  if (!FFileName.empty()) FHandle = FFileSystem.OpenFile(FFileName, FFileMode);
  if (TvuFileSystem::IsValidHandle(FHandle)) return true;
  SetError(vseOpenFailed);
  return false;
}

std::int16_t TvuFileSystemVdbStream::Reset(std::u16string_view name, std::uint32_t access) {
  DropHandle();
  FFileName = name;
  FFileMode = access;
  FError = vseNone;
  return EnsureOpen() ? 0 : -vseOpenFailed;
}

std::int16_t TvuFileSystemVdbStream::Rewrite(std::u16string_view name, std::uint32_t access,
                                             std::uint32_t) {
  DropHandle();
  FFileName = name;
  FFileMode = access;
  FError = vseNone;
  const TvuFileHandle h = FFileSystem.CreateFile(name);
  if (!TvuFileSystem::IsValidHandle(h)) return SetError(vseWriteFailed);
  if (!FFileSystem.CloseFile(h)) return SetError(vseWriteFailed);
  return EnsureOpen() ? 0 : -vseOpenFailed;
}

std::int16_t TvuFileSystemVdbStream::Close() {
  DropHandle();
  FFileName.clear();
  return 0;
}

std::int16_t TvuFileSystemVdbStream::ReadNBytes(std::int64_t ab, std::int32_t n, void* v,
                                                bool encrypted) {
  if (!EnsureOpen()) return -vseOpenFailed;
  if (FFileSystem.FileRead(FHandle, ab, v, n) != n) {
    if (FFileSystem.GetLastError() == oseLockViolation) return SetError(vseLockViolation);
    DropHandle();
    return SetError(vseReadFailed);
  }
  if (encrypted && FEncryption && n > 0) {
    FEncryption->DecryptBlock(static_cast<std::uint8_t*>(v), static_cast<std::size_t>(n));
  }
  return 0;
}

std::int16_t TvuFileSystemVdbStream::WriteNBytes(std::int64_t ab, std::int32_t n, const void* v,
                                                 bool encrypted) {
  if (!EnsureOpen()) return -vseOpenFailed;
  const void* out = v;
  if (encrypted && FEncryption && n > 0) {
    FEncryptBuffer.assign(static_cast<const std::uint8_t*>(v),
                          static_cast<const std::uint8_t*>(v) + n);
    FEncryption->EncryptBlock(FEncryptBuffer.data(), FEncryptBuffer.size());
    out = FEncryptBuffer.data();
  }
  if (FFileSystem.FileWrite(FHandle, ab, out, n) != n) {
    if (FFileSystem.GetLastError() == oseLockViolation) return SetError(vseLockViolation);
    DropHandle();
    return SetError(vseWriteFailed);
  }
  return 0;
}

std::int16_t TvuFileSystemVdbStream::TestNBytes(std::int64_t ab, std::int32_t n, void* v) {
  if (!EnsureOpen()) return -vseOpenFailed;
  if (FFileSystem.FileRead(FHandle, ab, v, n) != n) return SetError(vseReadFailed);
  return 0;
}

std::int64_t TvuFileSystemVdbStream::Size() {
  if (!EnsureOpen()) return -vseOpenFailed;
  try {
    return FFileSystem.GetFileSize(FHandle);
  } catch (const EVdbEngine&) {
    // The status interface has no exception channel: the failure becomes its code.
    return SetError(vseReadFailed);
  }
}

std::int16_t TvuFileSystemVdbStream::Cut(std::int64_t pos) {
  if (!EnsureOpen()) return -vseOpenFailed;
  try {
    FFileSystem.SetFileSize(FHandle, pos);
  } catch (const EVdbEngine&) {
    return SetError(vseWriteFailed);
  }
  return 0;
}

std::int16_t TvuFileSystemVdbStream::Erase() {
  const std::u16string name = FFileName;
  Close();
  if (!name.empty() && !FFileSystem.DeleteFile(name)) return SetError(vseWriteFailed);
  return 0;
}

std::int16_t TvuFileSystemVdbStream::Lock() {
  if (FLockCount > 0) {
    ++FLockCount;
    return 0;
  }
  if (!EnsureOpen()) return -vseOpenFailed;
  const std::uint32_t access = FFileMode & fmAccessMask;
  const bool forWrite = access == fmOpenWrite || access == fmOpenReadWrite;
  for (int attempt = 1;; ++attempt) {
    if (FFileSystem.LockFile(FHandle, kvuWholeFileLockStart, kvuWholeFileLockEnd, forWrite)) {
      FLockCount = 1;
      return 0;
    }
    if (!vuIsBusyError(FFileSystem.GetLastError())) return SetError(vseLockFailed);
    if (attempt >= kvuWholeFileLockAttempts) return SetError(vseLockViolation);
    FServices.Sleeper.SleepMs(kvuWholeFileLockPauseMs +
                              FServices.Random.NextBelow(kvuWholeFileLockPauseSpreadMs));
  }
}

std::int16_t TvuFileSystemVdbStream::Unlock() {
  if (FLockCount <= 0) return 0;
  if (--FLockCount > 0) return 0;
  const std::uint32_t access = FFileMode & fmAccessMask;
  if (!FFileSystem.UnlockFile(FHandle, kvuWholeFileLockStart, kvuWholeFileLockEnd,
                              access != fmOpenRead)) {
    return SetError(vseLockFailed);
  }
  return 0;
}

bool TvuFileSystemVdbStream::LockRange(std::int64_t startPos, std::int64_t length,
                                       bool forWrite) {
  if (!EnsureOpen()) return false;
  if (FFileSystem.LockFile(FHandle, startPos, startPos + length, forWrite)) return true;
  SetError(vuIsBusyError(FFileSystem.GetLastError()) ? vseLockViolation : vseLockFailed);
  return false;
}

std::int16_t TvuFileSystemVdbStream::UnlockRange(std::int64_t startPos, std::int64_t length,
                                                 bool forWrite) {
  if (!EnsureOpen()) return -vseOpenFailed;
  if (!FFileSystem.UnlockFile(FHandle, startPos, startPos + length, forWrite)) {
    return SetError(vseLockFailed);
  }
  return 0;
}

bool TvuFileSystemVdbStream::IsRangeLocked(std::int64_t startPos, std::int64_t length) {
  // "Cannot tell" must not read as "free": a dead-session check would reclaim a live slot.
  if (!EnsureOpen()) {
    throw EVdbEngine::CreateMsg(errLocking, u"Locking error: " + FFileSystem.LastErrorText());
  }
  switch (FFileSystem.TestLock(FHandle, startPos, startPos + length)) {
    case TvuLockProbe::lpFree: return false;
    case TvuLockProbe::lpHeld: return true;
    default: break;
  }
  throw EVdbEngine::CreateMsg(errLocking, u"Locking error: " + FFileSystem.LastErrorText());
}

}  // namespace vdb
