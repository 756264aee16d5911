// The file-system seam of the engine. Every table, index, memo, blob, lock and log file is
// reached through a TvuFileSystem: integer handles, explicit 64-bit positions, byte-range
// locks and directory enumeration. Implementations: TvuOSFileSystem (POSIX, vuOSFileSystem.h),
// TvuMemoryFileSystem (vuMemoryFileSystem.h, for temporary data and fast tests) and
// TvuFileSystemWrapper below, a forwarding base from which a test double overrides a single
// operation to inject a fault.
//
// Errors. Operations that return a handle, a count or a boolean report failure through their
// result and leave the reason as the calling thread's last error (GetLastError/LastErrorText),
// like the operating system's own last error. Operations without a result channel
// (GetFileSize, SetFileSize) raise EVdbEngine. Three kinds of failure stay apart:
//   "someone else holds it"  oseSharingViolation, oseLockViolation (vuIsBusyError): expected
//                            in multi-user operation, never an error to log;
//   "the bytes are wrong"    oseDataCorrupt;
//   "the call failed"        every other code (oseIoFailure for plain I/O errors).
//
// Threads: a file system is shared by all storages of a database and may be called from any
// thread at the same time; the last error belongs to the calling thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vdb {

using TvuFileHandle = std::int32_t;
inline constexpr TvuFileHandle kvuInvalidHandle = -1;

// Open modes: access in the low two bits, sharing in bits 4..6. Callers store and pass these
// numbers (the lock file opens with 66, a redo log with 18): never renumber.
inline constexpr std::uint32_t fmOpenRead = 0x00;
inline constexpr std::uint32_t fmOpenWrite = 0x01;
inline constexpr std::uint32_t fmOpenReadWrite = 0x02;
inline constexpr std::uint32_t fmAccessMask = 0x03;
inline constexpr std::uint32_t fmShareCompat = 0x00;
inline constexpr std::uint32_t fmShareExclusive = 0x10;
inline constexpr std::uint32_t fmShareDenyWrite = 0x20;
inline constexpr std::uint32_t fmShareDenyRead = 0x30;
inline constexpr std::uint32_t fmShareDenyNone = 0x40;
inline constexpr std::uint32_t fmShareMask = 0xF0;
// The stream adapters' "create the file" mode.
inline constexpr std::uint32_t fmCreate = 0xFF00;

// Attribute bit of a directory in an enumeration entry and in FindFirstFile's filter.
inline constexpr std::int32_t faDirectory = 0x10;

// The engine's operating-system error numbers (the numbering callers and messages use; part
// of recorded diagnostics: never renumber). Codes below 1000 have an operating-system text;
// codes from 1000 on belong to a file system.
inline constexpr std::int32_t oseNone = 0;
inline constexpr std::int32_t oseFileNotFound = 2;
inline constexpr std::int32_t osePathNotFound = 3;
inline constexpr std::int32_t oseTooManyOpenFiles = 4;
inline constexpr std::int32_t oseAccessDenied = 5;
inline constexpr std::int32_t oseInvalidHandle = 6;
inline constexpr std::int32_t oseNotEnoughMemory = 8;
inline constexpr std::int32_t oseNotSameDevice = 17;
inline constexpr std::int32_t oseWriteProtect = 19;
inline constexpr std::int32_t oseDataCorrupt = 23;
inline constexpr std::int32_t oseIoFailure = 31;
inline constexpr std::int32_t oseSharingViolation = 32;
inline constexpr std::int32_t oseLockViolation = 33;
inline constexpr std::int32_t oseHandleEof = 38;
inline constexpr std::int32_t oseNotSupported = 50;
inline constexpr std::int32_t oseInvalidParameter = 87;
inline constexpr std::int32_t oseDiskFull = 112;
inline constexpr std::int32_t oseDirNotEmpty = 145;
inline constexpr std::int32_t oseAlreadyExists = 183;
inline constexpr std::int32_t oseNameTooLong = 206;
inline constexpr std::int32_t oseFileTooLarge = 223;
inline constexpr std::int32_t oseNoLockingSupport = 1000;

// A failure: the engine's number and the text that explains it.
struct TvuOSError {
  std::int32_t Code = oseNone;
  std::u16string Text;
};

// The one place where errno becomes an engine operating-system error. The text is the C
// library's message in the "C" locale (the process runs in a Hungarian locale).
TvuOSError vuOSErrorFromErrno(int errnum);

// True for "someone else holds it": a refused share mode or byte lock. Not an error to log.
constexpr bool vuIsBusyError(std::int32_t code) noexcept {
  return code == oseSharingViolation || code == oseLockViolation;
}

// The one place where an engine file name (UTF-16) becomes a name for the operating system
// (UTF-8). An unpaired surrogate becomes U+FFFD.
std::string vuNativePath(std::u16string_view path);

// Identity of an open or named file: the same file has the same id whatever name it is
// reached by (hard links, "./x" and "x", letter case on a case-insensitive mount).
struct TvuFileId {
  std::uint64_t Device = 0;
  std::uint64_t Inode = 0;
  friend bool operator==(const TvuFileId&, const TvuFileId&) = default;
};

// Result of probing a byte range for other holders' locks.
enum class TvuLockProbe { lpFree, lpHeld, lpFailed };

// The search record of a directory enumeration: the current entry and the entries still to
// come (taken when the search starts, so deleting files during a search is safe).
struct TvuFindFileRec {
  std::u16string Name;  // file name without directory
  std::int32_t Attr = 0;  // faDirectory for a directory
  struct TEntry {
    std::u16string Name;
    std::int32_t Attr;
  };
  std::vector<TEntry> Pending;
  std::size_t Next = 0;
};

// True when `name` matches the enumeration mask: '*' any run of characters (also none), '?'
// exactly one character, everything else itself (case-sensitive, as names are on Linux).
// A mask ending in ".*" also matches names without an extension, so "*.*" matches every name.
bool vuMatchesMask(std::u16string_view name, std::u16string_view mask);

class TvuFileSystem {
 public:
  TvuFileSystem() = default;
  TvuFileSystem(const TvuFileSystem&) = delete;
  TvuFileSystem& operator=(const TvuFileSystem&) = delete;
  virtual ~TvuFileSystem() = default;

  // The directory relative names are resolved against; empty: names are used as given.
  virtual std::u16string BaseDirectory() const = 0;
  // Bytes per storage page (the page manager's tile size).
  virtual std::int32_t PageSize() const = 0;
  // May be ignored by a file system with a fixed page size.
  virtual void SetPageSize(std::int32_t size) = 0;
  // Stores `code` (and its text; empty: the standard text of the code) as the calling
  // thread's last error.
  virtual void SetLastError(std::int32_t code, std::u16string text = {});
  // Prepares and releases the file system (nothing for the operating system).
  virtual void Open() = 0;
  virtual void Close() = 0;
  virtual bool SupportsExclusiveFiles() const = 0;
  // The calling thread's last error code (oseNone when none) and its text.
  virtual std::int32_t GetLastError() const;
  virtual std::u16string LastErrorText() const;

  // Creates the file or truncates an existing one; the handle reads and writes and denies
  // every other opening while it is open (the file is being rewritten). kvuInvalidHandle on
  // failure; a file another opening holds is left untouched (oseSharingViolation).
  virtual TvuFileHandle CreateFile(std::u16string_view path) = 0;
  // Opens an existing file with the access and share bits of `mode`. When the file system is
  // physically exclusive every opening is exclusive. Share modes are honoured between any
  // two openings, in one process or in two. kvuInvalidHandle on failure (oseFileNotFound,
  // oseSharingViolation, ...).
  virtual TvuFileHandle OpenFile(std::u16string_view path, std::uint32_t mode) = 0;
  // Reads up to `count` bytes at `pos`. Returns the bytes read; fewer than `count` means end
  // of file (last error oseHandleEof) or a failure (last error says which).
  virtual std::int64_t FileRead(TvuFileHandle handle, std::int64_t pos, void* data,
                                std::int64_t count) = 0;
  // Writes `count` bytes at `pos`, growing the file when needed. Returns the bytes written;
  // fewer than `count` means failure (last error).
  virtual std::int64_t FileWrite(TvuFileHandle handle, std::int64_t pos, const void* data,
                                 std::int64_t count) = 0;
  // Size in bytes. Raises EVdbEngine (code 2) on failure.
  virtual std::int64_t GetFileSize(TvuFileHandle handle) = 0;
  // Shrinks the file to `size`; a size at or above the current size changes nothing.
  // Raises EVdbEngine (code 3, "Cannot set end of of file") on failure.
  virtual void SetFileSize(TvuFileHandle handle, std::int64_t size) = 0;
  // Forces the file's data to the device (for the deep-flush right). False on failure.
  virtual bool FlushFile(TvuFileHandle handle) = 0;
  // True when pos ≥ file size. Raises as GetFileSize.
  virtual bool EndOfFile(TvuFileHandle handle, std::int64_t pos);
  // Releases the handle and every lock it holds; other handles' locks on the same file stay.
  // The handle is invalid afterwards even when false (a failure the close reported) returns.
  virtual bool CloseFile(TvuFileHandle handle) = 0;
  // Locks bytes [startPos, endPos) for this opening. Every lock is exclusive against other
  // openings, also those of the same process; locking a range this opening holds again
  // succeeds. False: busy (oseLockViolation) or failed (any other code). The `writeLock` flag
  // is accepted for callers that distinguish, but does not weaken the lock.
  virtual bool LockFile(TvuFileHandle handle, std::int64_t startPos, std::int64_t endPos,
                        bool writeLock) = 0;
  // Releases this opening's locks in [startPos, endPos). False on failure.
  virtual bool UnlockFile(TvuFileHandle handle, std::int64_t startPos, std::int64_t endPos,
                          bool writeLock) = 0;
  // Whether another opening holds a lock in [startPos, endPos). Does not disturb this
  // opening's own locks.
  virtual TvuLockProbe TestLock(TvuFileHandle handle, std::int64_t startPos,
                                std::int64_t endPos) = 0;
  // Identity of a named file / of an open handle; none on failure (last error).
  virtual std::optional<TvuFileId> FileIdOf(std::u16string_view path) = 0;
  virtual std::optional<TvuFileId> HandleFileId(TvuFileHandle handle) = 0;

  virtual bool CreateDir(std::u16string_view dirPath) = 0;
  virtual bool RemoveDir(std::u16string_view dirPath) = 0;
  // Starts an enumeration: `path` is a directory and a mask ("dir/*.vdbt"). Files always
  // match; directories only when `attr` has faDirectory; "." and ".." never. False when
  // nothing matches (oseFileNotFound) or the directory cannot be read (osePathNotFound or
  // another code).
  virtual bool FindFirstFile(std::u16string_view path, std::int32_t attr,
                             TvuFindFileRec& rec);
  // Moves to the next entry; false at the end.
  virtual bool FindNextFile(TvuFindFileRec& rec);
  virtual void FindFileClose(TvuFindFileRec& rec);
  virtual bool DeleteFile(std::u16string_view fileName) = 0;
  // Removes all content of a container file system; 0 for the operating system.
  virtual std::int32_t Clear() = 0;
  // Renames; refuses (oseAlreadyExists) when `newName` exists, never replacing it.
  virtual bool RenameFile(std::u16string_view oldName, std::u16string_view newName) = 0;
  // The full path as this file system sees it.
  virtual std::u16string ExpandFileName(std::u16string_view fileName) = 0;
  // Creates the directory and its missing parents; true when it exists afterwards.
  virtual bool ForcePath(std::u16string_view dirPath) = 0;
  // Forces the directory holding `filePath` to the device, so that a file created, renamed
  // or deleted there stays so after a power loss. True where there is nothing to force.
  virtual bool FlushDirectoryOf(std::u16string_view filePath) {
    static_cast<void>(filePath);
    return true;
  }

  // Helpers built on the operations above.
  bool FileExists(std::u16string_view fileName);
  bool DirectoryExists(std::u16string_view dirName);
  // Copies the file's bytes; false on failure (last error). An existing target is replaced.
  bool CopyFile(std::u16string_view source, std::u16string_view target);
  // Copies the directory tree `srcDirName` of `source` (another file system, e.g. to move a
  // database between the directory and the single-file form) into `dstDirName` here,
  // creating directories as needed. False at the first failure (last error).
  bool CopyFrom(TvuFileSystem& source, std::u16string_view srcDirName,
                std::u16string_view dstDirName);
  // "No locking support" for 1000, "Unknown reason" for other codes from 1000 on, the
  // operating system's text otherwise (the thread's own text when `code` is its last error).
  std::u16string GetErrorMessage(std::int32_t code) const;
  static bool IsValidHandle(TvuFileHandle handle) noexcept { return handle >= 0; }

  bool PhysicallyExclusive() const noexcept { return FPhysicallyExclusive; }
  // Makes every later opening exclusive (the database was opened exclusively).
  void SetPhysicallyExclusive(bool value) noexcept { FPhysicallyExclusive = value; }

 protected:
  // Lists `dir` (a name this file system understands) as (name, attr) pairs, without "."
  // and "..". False when it cannot be read (last error set).
  virtual bool ListDirectory(std::u16string_view dir, std::vector<TvuFindFileRec::TEntry>& out);
  // Stores the error as the thread's last error and returns false, for one-line failures.
  bool Fail(std::int32_t code, std::u16string text = {});
  bool FailErrno(int errnum);

 private:
  static bool CopyBetween(TvuFileSystem& from, std::u16string_view source, TvuFileSystem& to,
                          std::u16string_view target);

  bool FPhysicallyExclusive = false;
};

// Forwards every operation to a target file system. A test double derives from it and
// overrides the one operation it wants to break. The target must outlive the wrapper.
class TvuFileSystemWrapper : public TvuFileSystem {
 public:
  explicit TvuFileSystemWrapper(TvuFileSystem& target) : FTarget(target) {}
  TvuFileSystem& Target() const noexcept { return FTarget; }

  std::u16string BaseDirectory() const override { return FTarget.BaseDirectory(); }
  std::int32_t PageSize() const override { return FTarget.PageSize(); }
  void SetPageSize(std::int32_t size) override { FTarget.SetPageSize(size); }
  void SetLastError(std::int32_t code, std::u16string text = {}) override {
    FTarget.SetLastError(code, std::move(text));
  }
  void Open() override { FTarget.Open(); }
  void Close() override { FTarget.Close(); }
  bool SupportsExclusiveFiles() const override { return FTarget.SupportsExclusiveFiles(); }
  std::int32_t GetLastError() const override { return FTarget.GetLastError(); }
  std::u16string LastErrorText() const override { return FTarget.LastErrorText(); }
  TvuFileHandle CreateFile(std::u16string_view path) override { return FTarget.CreateFile(path); }
  TvuFileHandle OpenFile(std::u16string_view path, std::uint32_t mode) override {
    return FTarget.OpenFile(path, PhysicallyExclusive() ? ExclusiveMode(mode) : mode);
  }
  std::int64_t FileRead(TvuFileHandle h, std::int64_t pos, void* data,
                        std::int64_t count) override {
    return FTarget.FileRead(h, pos, data, count);
  }
  std::int64_t FileWrite(TvuFileHandle h, std::int64_t pos, const void* data,
                         std::int64_t count) override {
    return FTarget.FileWrite(h, pos, data, count);
  }
  std::int64_t GetFileSize(TvuFileHandle h) override { return FTarget.GetFileSize(h); }
  void SetFileSize(TvuFileHandle h, std::int64_t size) override { FTarget.SetFileSize(h, size); }
  bool FlushFile(TvuFileHandle h) override { return FTarget.FlushFile(h); }
  bool EndOfFile(TvuFileHandle h, std::int64_t pos) override { return FTarget.EndOfFile(h, pos); }
  bool CloseFile(TvuFileHandle h) override { return FTarget.CloseFile(h); }
  bool LockFile(TvuFileHandle h, std::int64_t s, std::int64_t e, bool w) override {
    return FTarget.LockFile(h, s, e, w);
  }
  bool UnlockFile(TvuFileHandle h, std::int64_t s, std::int64_t e, bool w) override {
    return FTarget.UnlockFile(h, s, e, w);
  }
  TvuLockProbe TestLock(TvuFileHandle h, std::int64_t s, std::int64_t e) override {
    return FTarget.TestLock(h, s, e);
  }
  std::optional<TvuFileId> FileIdOf(std::u16string_view path) override {
    return FTarget.FileIdOf(path);
  }
  std::optional<TvuFileId> HandleFileId(TvuFileHandle h) override {
    return FTarget.HandleFileId(h);
  }
  bool CreateDir(std::u16string_view p) override { return FTarget.CreateDir(p); }
  bool RemoveDir(std::u16string_view p) override { return FTarget.RemoveDir(p); }
  bool FindFirstFile(std::u16string_view p, std::int32_t a, TvuFindFileRec& r) override {
    return FTarget.FindFirstFile(p, a, r);
  }
  bool FindNextFile(TvuFindFileRec& r) override { return FTarget.FindNextFile(r); }
  void FindFileClose(TvuFindFileRec& r) override { FTarget.FindFileClose(r); }
  bool DeleteFile(std::u16string_view n) override { return FTarget.DeleteFile(n); }
  std::int32_t Clear() override { return FTarget.Clear(); }
  bool RenameFile(std::u16string_view o, std::u16string_view n) override {
    return FTarget.RenameFile(o, n);
  }
  std::u16string ExpandFileName(std::u16string_view n) override {
    return FTarget.ExpandFileName(n);
  }
  bool ForcePath(std::u16string_view p) override { return FTarget.ForcePath(p); }
  bool FlushDirectoryOf(std::u16string_view p) override { return FTarget.FlushDirectoryOf(p); }

  // The mode with its share bits replaced by exclusive.
  static std::uint32_t ExclusiveMode(std::uint32_t mode) noexcept {
    return (mode & ~fmShareMask) | fmShareExclusive;
  }

 private:
  TvuFileSystem& FTarget;
};

}  // namespace vdb
