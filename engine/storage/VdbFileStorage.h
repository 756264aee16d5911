// The page storage of one named table file (a data, memo or blob file): the client storage,
// its page site, and the translation of page-manager failures into the engine errors such a
// file reports, each naming the file. The file classes keep their formats; this class keeps
// what opening, creating, closing and flushing a storage means for all of them.
//
// Threads: belongs to one file object and is used by one thread at a time; the page manager
// below serialises access to shared storages.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "base/VdbErrors.h"
#include "storage/VdbPageMan.h"

namespace vdb {

class TVdbFileStorage {
 public:
  // `pageManager` and `fs` must outlive the object; `clientHdl` (> 0) is the session that
  // owns the changes. `fileName` is the file's name as the file system resolves it.
  TVdbFileStorage(TVdbPageManager& pageManager, TvuFileSystem& fs, std::u16string fileName,
                  std::int32_t clientHdl);
  // Closes quietly: a destructor cannot raise.
  ~TVdbFileStorage();
  TVdbFileStorage(const TVdbFileStorage&) = delete;
  TVdbFileStorage& operator=(const TVdbFileStorage&) = delete;

  // Opens the existing file with pages of `pageSize` bytes (a storage already held is closed
  // first, without translation). A missing or refused file raises 37, any other page-manager
  // failure its own engine error (1, 2 or 3); the storage is dropped then.
  void Open(std::int32_t pageSize, bool readOnly, bool exclusive);
  // Creates the file for reading and writing; a page-manager failure raises 141 and drops
  // the storage.
  void Create(std::int32_t pageSize, bool exclusive);
  // Releases the page site, then the storage (unflushed changes are dropped). The storage is
  // gone even when closing fails, which raises 10. Safe when not open.
  void Close();
  // The same without raising, for error paths that report an earlier error.
  void CloseQuietly() noexcept;
  // Releases the page site and the storage without closing it here: the client storage
  // closes itself and logs a failure to the page manager's log.
  void Drop() noexcept;
  // Writes changes to the file; nothing when not open or read-only. Raises 3 on failure.
  // With deep flush the file is also forced to the device when something was written.
  void Flush();
  // Deep flush for this storage and every storage it opens or creates later.
  void SetDeepFlush(bool value) noexcept;

  // Runs the page operation `op` and returns its result; a page-manager failure raises
  // engine error `code` naming the file.
  template <class TOp>
  decltype(auto) Guarded(std::int16_t code, TOp&& op) const {
    return Guarded(code, std::forward<TOp>(op), [] {});
  }
  // The same, running `onFailure` (the caller's repair) before raising.
  template <class TOp, class TRepair>
  decltype(auto) Guarded(std::int16_t code, TOp&& op, TRepair&& onFailure) const {
    try {
      return op();
    } catch (const EVdbPageManager&) {
      onFailure();
      RaiseEngineError(code, {FFileName});
    }
  }

  bool IsOpen() const noexcept { return FStorage && FStorage->IsOpen(); }
  // As the storage was last opened or created (kept after Close).
  bool ReadOnly() const noexcept { return FReadOnly; }
  const std::u16string& FileName() const noexcept { return FFileName; }
  // The client storage and its page site; only while a storage is held (after a successful
  // Open or Create, before Close).
  TVdbClientStorage& Client() const noexcept { return *FStorage; }
  TVdbStoragePageSite& Page() const noexcept { return *FPage; }
  // True while a client storage is held, open or not.
  bool HasClient() const noexcept { return FStorage != nullptr; }

 private:
  std::unique_ptr<TVdbClientStorage> NewClient(std::int32_t pageSize) const;

  TVdbPageManager& FPageManager;
  TvuFileSystem& FFileSystem;
  std::u16string FFileName;
  std::int32_t FClientHdl;
  std::unique_ptr<TVdbClientStorage> FStorage;
  std::unique_ptr<TVdbStoragePageSite> FPage;
  bool FReadOnly = false;
  bool FDeepFlush = false;
};

}  // namespace vdb
