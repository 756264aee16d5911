// A file system held in memory: named entries under one root, for temporary data and for
// fast tests of everything built on TvuFileSystem.
//
// It behaves like the operating-system file system where the engine depends on it: share
// modes between openings (exclusive refuses and is refused by any other opening), byte locks
// owned by the opening (exclusive against other openings, kept when an unrelated opening of
// the same file closes), shrink-only SetFileSize, rename that never replaces, a deleted file
// that stays usable through handles still open, parents that must exist.
//
// Threads: any thread; one lock guards all entries and handles.
#pragma once

#include <map>
#include <memory>
#include <mutex>

#include "storage/vuFileSystem.h"

namespace vdb {

class TvuMemoryFileSystem : public TvuFileSystem {
 public:
  // `pageSize`: the tile size it reports (settable, unlike the operating system's).
  explicit TvuMemoryFileSystem(std::int32_t pageSize = 8192, std::u16string baseDirectory = {});

  std::u16string BaseDirectory() const override { return FBaseDirectory; }
  std::int32_t PageSize() const override { return FPageSize; }
  void SetPageSize(std::int32_t size) override { FPageSize = size; }
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
  // Removes every entry (open handles keep their files).
  std::int32_t Clear() override;
  bool RenameFile(std::u16string_view oldName, std::u16string_view newName) override;
  std::u16string ExpandFileName(std::u16string_view fileName) override { return Key(fileName); }
  bool ForcePath(std::u16string_view dirPath) override;

  // Test access: the bytes of a named file (empty when missing) and the number of handles.
  std::vector<std::uint8_t> Contents(std::u16string_view path);
  std::size_t OpenHandleCount();

 protected:
  bool ListDirectory(std::u16string_view dir,
                     std::vector<TvuFindFileRec::TEntry>& out) override;

 private:
  struct TLockRange {
    TvuFileHandle Owner;
    std::int64_t Start, End;
  };
  struct TNode {
    bool IsDir = false;
    std::uint64_t Id = 0;
    std::vector<std::uint8_t> Data;
    std::vector<TLockRange> Locks;
  };
  struct TOpenFile {
    std::shared_ptr<TNode> Node;
    bool CanWrite;
    bool Exclusive;
    std::u16string Path;
  };

  // The normalised absolute name ("/a/b"); "/" is the root.
  std::u16string Key(std::u16string_view path) const;
  static std::u16string ParentOf(const std::u16string& key);
  bool ParentIsDir(const std::u16string& key);
  TOpenFile* Find(TvuFileHandle handle);
  TvuFileHandle AddHandle(std::shared_ptr<TNode> node, bool canWrite, bool exclusive,
                          std::u16string_view path);
  // True when another opening of `node` conflicts with a new one of kind `exclusive`.
  bool ShareConflict(const TNode& node, bool exclusive) const;

  std::int32_t FPageSize;
  std::u16string FBaseDirectory;
  std::mutex FLock;
  std::map<std::u16string, std::shared_ptr<TNode>> FEntries;
  std::map<TvuFileHandle, TOpenFile> FOpen;
  TvuFileHandle FNextHandle = 1;
  std::uint64_t FNextId = 1;
};

}  // namespace vdb
