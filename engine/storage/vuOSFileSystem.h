// The operating-system file system: POSIX files of a directory database.
//
// Handles are file descriptors, all opened with O_CLOEXEC (programs started while tables are
// open must not inherit them); new files get mode 0666 less the umask. Reads and writes are
// pread/pwrite loops that retry short counts and EINTR.
//
// Byte-range locks are Linux open-file-description locks: they belong to the opening, so two
// openings of one file in one process conflict like two processes do, and closing an
// unrelated descriptor of the same file keeps them. Share modes are emulated with a sentinel
// lock on one byte at kvuShareSentinel, far beyond any data: shared openings read-lock it,
// exclusive ones write-lock it, so a second opening is refused exactly when one of the two is
// exclusive. Deny-read and deny-write count as exclusive (the stricter reading). Because
// POSIX ties write locks to write access, descriptors are opened read/write whenever the
// permissions allow and the requested access is enforced here; a file that may only be read
// gets read locks, which exclude writers but not other readers.
//
// Threads: any thread; the handle table has its own lock.
#pragma once

#include <mutex>
#include <unordered_map>

#include "storage/vuFileSystem.h"

namespace vdb {

// Offset of the share-mode sentinel byte (2^62).
inline constexpr std::int64_t kvuShareSentinel = std::int64_t{1} << 62;
// Tile size of the operating-system file system.
inline constexpr std::int32_t kvuOSPageSize = 8192;

class TvuOSFileSystem : public TvuFileSystem {
 public:
  // `baseDirectory`: relative names are resolved against it (a trailing '/' is dropped);
  // empty: names are used as given. Absolute names are always used as given.
  explicit TvuOSFileSystem(std::u16string baseDirectory = {});
  ~TvuOSFileSystem() override;

  std::u16string BaseDirectory() const override { return FBaseDirectory; }
  std::int32_t PageSize() const override { return kvuOSPageSize; }
  void SetPageSize(std::int32_t) override {}  // fixed
  void Open() override {}
  void Close() override {}
  bool SupportsExclusiveFiles() const override { return true; }

  TvuFileHandle CreateFile(std::u16string_view path) override;
  TvuFileHandle OpenFile(std::u16string_view path, std::uint32_t mode) override;
  std::int64_t FileRead(TvuFileHandle handle, std::int64_t pos, void* data,
                        std::int64_t count) override;
  std::int64_t FileWrite(TvuFileHandle handle, std::int64_t pos, const void* data,
                         std::int64_t count) override;
  std::int64_t GetFileSize(TvuFileHandle handle) override;
  void SetFileSize(TvuFileHandle handle, std::int64_t size) override;
  bool FlushFile(TvuFileHandle handle) override;
  bool FlushDirectoryOf(std::u16string_view filePath) override;
  bool CloseFile(TvuFileHandle handle) override;
  bool LockFile(TvuFileHandle handle, std::int64_t startPos, std::int64_t endPos,
                bool writeLock) override;
  bool UnlockFile(TvuFileHandle handle, std::int64_t startPos, std::int64_t endPos,
                  bool writeLock) override;
  TvuLockProbe TestLock(TvuFileHandle handle, std::int64_t startPos,
                        std::int64_t endPos) override;
  std::optional<TvuFileId> FileIdOf(std::u16string_view path) override;
  std::optional<TvuFileId> HandleFileId(TvuFileHandle handle) override;
  bool CreateDir(std::u16string_view dirPath) override;
  bool RemoveDir(std::u16string_view dirPath) override;
  bool DeleteFile(std::u16string_view fileName) override;
  std::int32_t Clear() override { return 0; }
  bool RenameFile(std::u16string_view oldName, std::u16string_view newName) override;
  std::u16string ExpandFileName(std::u16string_view fileName) override;
  bool ForcePath(std::u16string_view dirPath) override;

 protected:
  bool ListDirectory(std::u16string_view dir,
                     std::vector<TvuFindFileRec::TEntry>& out) override;

 private:
  struct THandleInfo {
    bool CanWrite;    // the access the caller asked for
    bool FdWritable;  // the descriptor's own access (write locks need it)
    std::u16string Path;
  };
  // Base directory + '/' + path for relative names, as UTF-8.
  std::string Resolve(std::u16string_view path) const;
  bool Lookup(TvuFileHandle handle, THandleInfo& info);
  // Opens `native` with the sentinel lock for `exclusive`; kvuInvalidHandle on failure.
  TvuFileHandle OpenDescriptor(const std::string& native, std::u16string_view path,
                               bool wantWrite, bool exclusive, bool create);
  bool SetLock(TvuFileHandle handle, short type, std::int64_t startPos, std::int64_t endPos);

  std::u16string FBaseDirectory;
  std::mutex FHandlesLock;
  std::unordered_map<TvuFileHandle, THandleInfo> FHandles;
};

}  // namespace vdb
