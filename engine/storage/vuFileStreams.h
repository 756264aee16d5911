// The two stream views of a file reached through a TvuFileSystem:
//
// TvuFileSystemStream — a plain positioned stream (read, write, seek) with byte-range locks;
// it raises engine errors. The lock file uses it.
//
// TvuFileSystemVdbStream — the engine's older stream interface TVdbStream: every operation
// returns 0 or a negated stream error code, reads and writes are positioned, a closed or
// failed handle is reopened lazily, whole-file locking is counted and retried, and blocks can
// be enciphered on the way to the file without touching the caller's buffer. The
// record-move file and the redo log use it. A read or write that fails for any reason but a
// lock closes the handle, and with it the whole-file lock (the count starts again at 0).
//
// Threads: a stream object is used by one thread at a time; its file system may be shared.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/VdbErrors.h"
#include "storage/VdbEncryption.h"
#include "storage/vuFileSystem.h"
#include "base/vuServices.h"

namespace vdb {

// Failures of TvuFileSystemStream's constructor. Each carries the file system's error code.
class EvuFileStreamError : public EVdbEngine {
 public:
  EvuFileStreamError(std::int16_t code, std::u16string message, std::int32_t osError);
  std::int32_t OSError() const noexcept { return FOSError; }

 private:
  std::int32_t FOSError;
};
// "Cannot create file \"%s\". %s" (engine error 3).
class EFCreateError : public EvuFileStreamError {
 public:
  using EvuFileStreamError::EvuFileStreamError;
};
// The same, when the file system says the file exists (oseAlreadyExists).
class EvuFileAlreadyExistsError : public EFCreateError {
 public:
  using EFCreateError::EFCreateError;
};
// "Cannot open file \"%s\". %s" (engine error 1).
class EFOpenError : public EvuFileStreamError {
 public:
  using EvuFileStreamError::EvuFileStreamError;
};
// The same, when the file system says the file is missing (oseFileNotFound).
class EvuFileNotFoundError : public EFOpenError {
 public:
  using EFOpenError::EFOpenError;
};

enum class TvuSeekOrigin { soBeginning, soCurrent, soEnd };

class TvuFileSystemStream {
 public:
  // `mode` fmCreate creates (or truncates) the file; any other mode opens it. Raises
  // EFCreateError/EvuFileAlreadyExistsError or EFOpenError/EvuFileNotFoundError with the
  // expanded file name and the file system's message. `fs` must outlive the stream.
  TvuFileSystemStream(std::u16string fileName, std::uint32_t mode, TvuFileSystem& fs);
  // Takes over an open handle (closed by the destructor).
  static std::unique_ptr<TvuFileSystemStream> CreateFromHandle(TvuFileHandle handle,
                                                               TvuFileSystem& fs);
  // Closes the handle; its locks go with it.
  ~TvuFileSystemStream();
  TvuFileSystemStream(const TvuFileSystemStream&) = delete;
  TvuFileSystemStream& operator=(const TvuFileSystemStream&) = delete;

  // Read/Write at the position, which moves by the bytes moved. They return the count;
  // fewer than asked means end of file (read) or failure (the file system's last error).
  std::int64_t Read(void* buffer, std::int64_t count);
  std::int64_t Write(const void* buffer, std::int64_t count);
  // All or nothing: raise EVdbEngine 2 (read) or 3 (write) naming the file otherwise.
  void ReadBuffer(void* buffer, std::int64_t count);
  void WriteBuffer(const void* buffer, std::int64_t count);
  // Returns the new position.
  std::int64_t Seek(std::int64_t offset, TvuSeekOrigin origin);
  std::int64_t Position() const noexcept { return FPosition; }
  std::int64_t Size();
  // Shrinks the file (never grows it).
  void SetSize(std::int64_t size);

  // Locks [startPos, startPos + length). False when refused (busy) or failed; the file
  // system's last error says which.
  bool LockRange(std::int64_t startPos, std::int64_t length, bool forWrite);
  bool UnlockRange(std::int64_t startPos, std::int64_t length, bool forWrite);
  // Whether another opening holds a lock in the range; this opening's own locks stay.
  // Raises EVdbEngine 110 ("Locking error") when the probe itself fails.
  bool IsRangeLocked(std::int64_t startPos, std::int64_t length);

  TvuFileHandle Handle() const noexcept { return FHandle; }
  const std::u16string& FileName() const noexcept { return FFileName; }

 private:
  TvuFileSystemStream(TvuFileHandle handle, TvuFileSystem& fs);

  std::u16string FFileName;
  TvuFileHandle FHandle = kvuInvalidHandle;
  std::int64_t FPosition = 0;
  TvuFileSystem& FFileSystem;
};

// Stream error codes of TVdbStream (operations return them negated).
inline constexpr std::int16_t vseNone = 0;
inline constexpr std::int16_t vseOpenFailed = 1;
inline constexpr std::int16_t vseReadFailed = 2;
inline constexpr std::int16_t vseWriteFailed = 3;
inline constexpr std::int16_t vseLockFailed = 6;
inline constexpr std::int16_t vseLockViolation = 9;

// Whole-file lock: the byte locked, and the retry rule (attempts, pause 100 + 0..99 ms).
inline constexpr std::int64_t kvuWholeFileLockStart = 0;
inline constexpr std::int64_t kvuWholeFileLockEnd = 1;
inline constexpr int kvuWholeFileLockAttempts = 1001;
inline constexpr std::uint32_t kvuWholeFileLockPauseMs = 100;
inline constexpr std::uint32_t kvuWholeFileLockPauseSpreadMs = 100;

class TVdbStream {
 public:
  virtual ~TVdbStream() = default;
  // Opens an existing file with open mode `access`.
  virtual std::int16_t Reset(std::u16string_view name, std::uint32_t access) = 0;
  // Creates (truncates) the file, closes it and reopens it with `access`. `rights` is
  // accepted for callers that pass one; new files get 0666 less the umask.
  virtual std::int16_t Rewrite(std::u16string_view name, std::uint32_t access,
                               std::uint32_t rights) = 0;
  virtual std::int16_t Close() = 0;
  // Reads n bytes at `ab`; deciphers them in place when `encrypted` and a cipher is set.
  virtual std::int16_t ReadNBytes(std::int64_t ab, std::int32_t n, void* v, bool encrypted) = 0;
  // Writes n bytes at `ab`; when enciphering, a copy is enciphered and written: the caller's
  // buffer stays plain.
  virtual std::int16_t WriteNBytes(std::int64_t ab, std::int32_t n, const void* v,
                                   bool encrypted) = 0;
  // Reads n bytes at `ab` as a probe: a short read answers -2 but keeps the handle.
  virtual std::int16_t TestNBytes(std::int64_t ab, std::int32_t n, void* v) = 0;
  // Size in bytes, or a negated error code.
  virtual std::int64_t Size() = 0;
  // Shrinks the file to `pos`.
  virtual std::int16_t Cut(std::int64_t pos) = 0;
  // Closes and deletes the file.
  virtual std::int16_t Erase() = 0;
  // Whole-file lock, counted: only the first Lock locks and only the last Unlock unlocks.
  virtual std::int16_t Lock() = 0;
  virtual std::int16_t Unlock() = 0;
  virtual bool LockRange(std::int64_t startPos, std::int64_t length, bool forWrite) = 0;
  virtual std::int16_t UnlockRange(std::int64_t startPos, std::int64_t length,
                                   bool forWrite) = 0;
  // Raises EVdbEngine 110 when it cannot tell (never answers "free" on a failure).
  virtual bool IsRangeLocked(std::int64_t startPos, std::int64_t length) = 0;

  // The last stream error code (0 none).
  std::int16_t Error() const noexcept { return FError; }
  // The table's cipher (not owned; null: none). Must outlive its use by this stream.
  void SetEncryption(TVdbEncryption* encryption) noexcept { FEncryption = encryption; }

 protected:
  // Records `code` and returns it negated.
  std::int16_t SetError(std::int16_t code) noexcept {
    FError = code;
    return static_cast<std::int16_t>(-code);
  }
  std::int16_t FError = vseNone;
  TVdbEncryption* FEncryption = nullptr;
  std::vector<std::uint8_t> FEncryptBuffer;
};

class TvuFileSystemVdbStream : public TVdbStream {
 public:
  // `fs` and the services must outlive the stream. The stream starts closed.
  TvuFileSystemVdbStream(TvuFileSystem& fs, TvuServices services);
  ~TvuFileSystemVdbStream() override;

  std::int16_t Reset(std::u16string_view name, std::uint32_t access) override;
  std::int16_t Rewrite(std::u16string_view name, std::uint32_t access,
                       std::uint32_t rights) override;
  std::int16_t Close() override;
  std::int16_t ReadNBytes(std::int64_t ab, std::int32_t n, void* v, bool encrypted) override;
  std::int16_t WriteNBytes(std::int64_t ab, std::int32_t n, const void* v,
                           bool encrypted) override;
  std::int16_t TestNBytes(std::int64_t ab, std::int32_t n, void* v) override;
  std::int64_t Size() override;
  std::int16_t Cut(std::int64_t pos) override;
  std::int16_t Erase() override;
  std::int16_t Lock() override;
  std::int16_t Unlock() override;
  bool LockRange(std::int64_t startPos, std::int64_t length, bool forWrite) override;
  std::int16_t UnlockRange(std::int64_t startPos, std::int64_t length, bool forWrite) override;
  bool IsRangeLocked(std::int64_t startPos, std::int64_t length) override;

  TvuFileHandle Handle() const noexcept { return FHandle; }
  std::int32_t LockCount() const noexcept { return FLockCount; }

 private:
  // Reopens a closed handle with the remembered name and mode; false (error 1) on failure.
  bool EnsureOpen();
  void DropHandle();

  TvuFileSystem& FFileSystem;
  TvuServices FServices;
  TvuFileHandle FHandle = kvuInvalidHandle;
  std::u16string FFileName;
  std::uint32_t FFileMode = 0;
  std::int32_t FLockCount = 0;
};

}  // namespace vdb
