// The page manager: every table, index, memo and blob file is read and written in pages
// through it. It keeps one shared storage per open file, caches the file in tiles, tracks
// modified tiles, writes them back on Flush, and gives each user of a file (a client storage)
// page sites that view single pages with the storage's page size.
//
// Terms. A tile is the file system's page (8192 bytes for the operating system). The page
// size of a storage is chosen by its first client; a page smaller than a tile shares the
// tile with its neighbours, a page larger than a tile spans page size / tile size tiles that
// are cached as one buffer. The cache unit (one buffer) is max(page size, tile size) bytes.
// Page n starts at byte n × page size. The page count is always a whole number of buffers.
//
// States of a cached buffer, and what each guarantees:
//   clean     bytes equal the file's bytes at the time they were read or last written;
//             may be dropped at any moment it is not pinned (cache limit).
//   modified  bytes are newer than the file; listed in the storage's modified list; never
//             dropped except by Undo, Invalidate, SetPageCount below it or the last Close.
//   stale     dropped while a page site still held it: the memory stays valid for that
//             site, but the next LoadPage of any site rereads it from the file first.
// In memory a buffer is always plain; the cipher is applied only on the way to and from
// the file. A storage's file handle is held (with its share mode) from the first Open to the
// last Close.
//
// Durability rules:
//   1. Nothing reaches the file except through Flush, WriteDirect or NewStorage, and the
//      zero tiles of rule 8.
//   2. Flush first cuts the file to tile count × tile size, then writes every modified buffer
//      at its own position, then makes sure the file is that long; afterwards the file holds
//      exactly the cache's view.
//   3. A buffer is marked clean only after its write succeeded; a failed write leaves it and
//      every buffer not yet written modified, plain and cached, so Flush can be repeated.
//   4. Enciphering happens in a scratch copy: cached buffers are never enciphered in place,
//      so other threads reading them and a repeated Flush see plain bytes.
//   5. With deep flush, Flush returns only after the data is on the device (fdatasync); a
//      file nothing was written to since its last sync is not synced again.
//   8. The file grows when the cache first counts a new tile (zero tiles are written then),
//      not at Flush: a full disk fails the change that needed the room, while Flush only
//      overwrites room the file already has. Room reserved and not flushed is cut off again
//      by Undo, Invalidate and the last Close, so that the file then holds exactly what was
//      flushed.
//   6. Close writes nothing: a client flushes before it closes, or its changes are dropped.
//   7. Undo and Invalidate reread the file's length; Undo drops only modified buffers,
//      Invalidate all buffers, so that other processes' changes become visible.
//
// Identity. A storage is one file: two names of the same file (hard links, "./x", letter case
// on a case-insensitive mount) share one storage and one cache, and two different files never
// do. Files are matched by device and inode, not by name, within one file-system object: two
// file-system objects keep separate storages of a file, which then behave towards each other
// like two processes (share modes apply, and the lock file tells each when to Invalidate).
//
// Threads: one manager lock serialises every operation on storages, tiles and the cache;
// any thread may call. A page site is used by one thread at a time; reading through it
// touches only its pinned buffer.
#pragma once

#include <cstdint>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "base/VdbErrors.h"
#include "storage/VdbEncryption.h"
#include "storage/vuFileSystem.h"

namespace vdb {

class TvuLog;
class TVdbClientStorage;
class TVdbStoragePageSite;
struct TVdbStorage;
struct TVdbStoragePage;

// Page-manager failures (not engine errors: the storage classes above translate them with
// ToEngineError, naming their file).
class EVdbPageManager : public std::exception {
 public:
  enum class TKind { pkOpen, pkRead, pkWrite, pkUsage };
  // `operation` says what was being done ("Saving tile"), `reason` what went wrong.
  EVdbPageManager(TKind kind, std::u16string operation, std::u16string reason,
                  std::int32_t osError = oseNone);
  TKind Kind() const noexcept { return FKind; }
  const std::u16string& Operation() const noexcept { return FOperation; }
  const std::u16string& Reason() const noexcept { return FReason; }
  std::int32_t OSError() const noexcept { return FOSError; }
  // "Operation: Reason", or the reason alone when there is no operation.
  const std::u16string& Message() const noexcept { return FMessage; }
  const char* what() const noexcept override { return FWhat.c_str(); }
  // The engine error for this failure on `fileName`: 2 for reading, 3 for writing, 1 for
  // opening and usage errors.
  EVdbEngine ToEngineError(std::u16string_view fileName) const;

 private:
  TKind FKind;
  std::u16string FOperation, FReason, FMessage;
  std::string FWhat;
  std::int32_t FOSError;
};
// The file of a storage does not exist.
class EVdbPMStorageNotFound : public EVdbPageManager {
 public:
  using EVdbPageManager::EVdbPageManager;
};
// The file exists but may not be opened as asked (share mode, permissions, exclusive twice).
class EVdbPMStorageAccessDenied : public EVdbPageManager {
 public:
  using EVdbPageManager::EVdbPageManager;
};

// The share of the cache limit at which the manager starts to give memory back, in percent.
inline constexpr std::int64_t kVdbCacheReducePercent = 70;

class TVdbPageManager {
 public:
  TVdbPageManager();
  // Every client storage must be closed before; remaining files are closed.
  ~TVdbPageManager();
  TVdbPageManager(const TVdbPageManager&) = delete;
  TVdbPageManager& operator=(const TVdbPageManager&) = delete;

  // The process-wide manager, made on first use and kept until the process ends.
  static TVdbPageManager& Instance();

  // Named file systems shared by the sessions: Add registers (or counts one more user of)
  // `fs` under `name`; Get finds it (null when unknown); Release counts a user off and
  // forgets the name at zero. The file system must outlive its registration.
  void AddFileSystem(std::u16string name, TvuFileSystem& fs);
  TvuFileSystem* GetFileSystem(std::u16string_view name);
  void ReleaseFileSystem(std::u16string_view name);

  // Cache budget: each client adds cacheSizeKB × 1024 bytes to the limit; unregistering
  // subtracts the same (never below 0) and gives memory back when over the limit.
  void RegisterClient(std::int32_t clientHdl, std::int32_t cacheSizeKB);
  void UnregisterClient(std::int32_t clientHdl, std::int32_t cacheSizeKB);
  // The diagnostic log (not owned; null: none). Must outlive its use.
  void SetLog(TvuLog* log);

  // Diagnostics: the limit, the bytes of tile memory allocated (cached and pooled), the
  // number of cached buffers, and the storages open.
  std::int64_t CacheLimit();
  std::int64_t CacheSize();
  std::size_t CachedBufferCount();
  std::size_t OpenStorageCount();

 private:
  friend class TVdbClientStorage;
  friend class TVdbStoragePageSite;

  struct TFileSystemEntry {
    std::u16string Name;
    TvuFileSystem* FileSystem;
    std::int32_t RefCount;
  };

  // All private operations expect FLock to be held.
  TVdbStorage& Storage(std::int32_t storageHdl);
  // The cached buffer that starts at tile `key`, read when missing or stale; pinned once.
  TVdbStoragePage& PinBuffer(TVdbStorage& st, std::int64_t key);
  // A buffer for a new page at `key`: read when it holds other pages of the file, else zero.
  TVdbStoragePage& PinNewBuffer(TVdbStorage& st, std::int64_t key);
  void Unpin(TVdbStorage& st, TVdbStoragePage& page);
  void ReadBuffer(TVdbStorage& st, TVdbStoragePage& page);
  void MarkModified(TVdbStorage& st, TVdbStoragePage& page, std::int32_t clientHdl);
  // Makes the file at least `tiles` tiles long before the cache counts them, writing zero
  // tiles, so that a full disk or a file size limit fails the change that needs the room
  // instead of a later flush. Raises EVdbPageManager (pkWrite); the file keeps its old length.
  void ReserveTiles(TVdbStorage& st, std::int64_t tiles);
  // Cuts off the zero tiles reserved since the last Flush (Undo, Invalidate, last Close).
  void GiveBackReserved(TVdbStorage& st) noexcept;
  // Drops the buffer: to the pool, or marked stale while pinned.
  void Drop(TVdbStorage& st, std::int64_t key);
  void DropWhere(TVdbStorage& st, bool modifiedOnly, std::int64_t fromKey);
  std::unique_ptr<std::uint8_t[]> TakeMemory(std::int32_t size);
  void GiveMemory(std::unique_ptr<std::uint8_t[]> memory, std::int32_t size);
  void ApplyCacheLimit();
  void Log(std::int32_t severity, const std::u16string& text);

  std::mutex FCriticalSection;
  std::vector<TFileSystemEntry> FFileSystems;
  std::vector<std::unique_ptr<TVdbStorage>> FStorages;  // handle = index + 1; null: free
  std::map<std::int32_t, std::vector<std::unique_ptr<std::uint8_t[]>>> FTileCaches;
  std::uint64_t FLastGeneration = 0;
  TvuLog* FLog = nullptr;
  std::int64_t FCacheLimit = 0;
  std::int64_t FCacheSize = 0;
};

// One user's view of a file (e.g. the data file of one table object).
class TVdbClientStorage {
 public:
  // `cryptor` (not owned, may be null: no encryption) and `fs` must outlive the client.
  // `clientHdl` (> 0) owns the modifications made through this client (the session).
  TVdbClientStorage(TVdbPageManager& pageManager, const IvuCryptor* cryptor,
                    std::int32_t clientHdl, TvuFileSystem& fs);
  // Closes; a close failure goes to the manager's log, as a destructor cannot raise.
  ~TVdbClientStorage();
  TVdbClientStorage(const TVdbClientStorage&) = delete;
  TVdbClientStorage& operator=(const TVdbClientStorage&) = delete;

  // The file name, as the file system resolves it. Set before Open.
  void SetName(std::u16string name) { FName = std::move(name); }
  const std::u16string& Name() const noexcept { return FName; }

  // Opens the file's storage, sharing it with other clients of the same file.
  // Raises EVdbPMStorageNotFound (no such file), EVdbPMStorageAccessDenied (exclusive twice,
  // share mode, permissions), EVdbPageManager ("Wrong encryption", bad page size, ...).
  void Open(bool readOnly, bool exclusive);
  // Creates (or empties) the file and opens it for reading and writing. Refused when the
  // file is open in this manager or elsewhere.
  void NewStorage(bool exclusive);
  // Releases this client's view; the last client's close drops the cache (unflushed changes
  // too) and closes the file. Raises EVdbPageManager when closing the file fails (the
  // storage is released anyway). Page sites of this client are unloaded.
  void Close();
  bool IsOpen() const noexcept { return FStorageHdl != 0; }

  // A page site on this client (unloaded). It must not outlive the client.
  std::unique_ptr<TVdbStoragePageSite> CreatePageSite();
  // A new, unopened client with the same manager, cryptor, session, file system, name and
  // requested page size.
  std::unique_ptr<TVdbClientStorage> CreateSibling() const;

  std::int32_t GetPageSize() const noexcept { return FPageSize; }
  // Before Open: the page size asked for (the storage's own wins when it has one). While
  // open: changes the storage's page size; only for a sole client without modified buffers
  // or loaded sites. A page size must divide the tile size or be a multiple of it.
  void SetPageSize(std::int32_t pageSize);
  std::int64_t GetPageCount();
  // Grows or shrinks the storage to hold `pageCount` pages (rounded up to whole buffers);
  // buffers beyond the new end are dropped.
  void SetPageCount(std::int64_t pageCount);
  // tile count × tile size: the file's length after the next Flush.
  std::int64_t GetSize();
  // Appends a page and returns its number.
  std::int64_t NewPage();
  // Copies page `pageNo` (through the cache) into `dest` (page size bytes).
  void ReadPage(std::int64_t pageNo, void* dest);
  // Bytes at a file position, bypassing the cache but consistent with it: reading sees
  // cached changes, writing updates cached copies. Not for enciphered storages.
  void ReadDirect(std::int64_t pos, void* dest, std::int64_t count);
  void WriteDirect(std::int64_t pos, const void* source, std::int64_t count);
  // See the durability rules above. Flush raises EVdbPageManager (kind pkWrite) on failure.
  void Flush();
  void Undo();
  void Invalidate();

  bool GetReadOnly() const noexcept { return FReadOnly; }
  bool GetExclusive() const noexcept { return FExclusive; }
  // Deep flush (the table right): Flush also forces the data to the device.
  void SetDeepFlush(bool value) noexcept { FDeepFlush = value; }
  bool GetDeepFlush() const noexcept { return FDeepFlush; }
  // Diagnostics: the storage's handle and how many clients share it; modified buffers.
  std::int32_t StorageHandle() const noexcept { return FStorageHdl; }
  std::int32_t StorageRefCount();
  std::size_t ModifiedBufferCount();

 private:
  friend class TVdbStoragePageSite;
  TVdbStorage& OpenStorage();  // FStorageHdl's storage; raises when not open
  void CheckWritable(const char16_t* operation) const;

  TVdbPageManager& FPageManager;
  const IvuCryptor* FCryptor;
  std::int32_t FPageManClientHdl;
  TvuFileSystem& FFileSystem;
  std::u16string FName;
  std::int32_t FPageSize = 0;
  std::int32_t FStorageHdl = 0;
  bool FReadOnly = false;
  bool FExclusive = false;
  bool FDeepFlush = false;
  std::vector<TVdbStoragePageSite*> FSites;
};

// Length-prefixed strings inside a page (stored on disk: never change):
//   offset 0, 2 bytes: length n (unsigned little-endian; characters for wide strings)
//   offset 2, n bytes (8-bit string) or 2n bytes (UTF-16LE wide string)
inline constexpr std::int32_t kVdbWPStringLengthSize = 2;

// A cursor onto one page of a client storage. Offsets are bytes within the page; every
// access is checked against the page size (EVdbPageManager, kind pkUsage). Numbers are
// little-endian. Pointers from GetMemory/GetAddress stay valid until the site unloads or
// loads another page.
class TVdbStoragePageSite {
 public:
  ~TVdbStoragePageSite();
  TVdbStoragePageSite(const TVdbStoragePageSite&) = delete;
  TVdbStoragePageSite& operator=(const TVdbStoragePageSite&) = delete;

  // Makes page `pageNo` current, reading it when needed. Raises "Page no is invalid" for a
  // page outside 0..page count − 1, "Cannot read tile from storage" when reading fails.
  void LoadPage(std::int64_t pageNo);
  // Makes page `pageNo` current as a new, zeroed page (growing the storage when it lies
  // beyond the end) and marks it modified. Neighbour pages in the same tile keep their bytes.
  void InitPage(std::int64_t pageNo);
  void UnloadPage();
  bool IsLoaded() const noexcept { return FStorageTile != nullptr; }
  std::int64_t PageNo() const noexcept { return FPageNo; }
  // Marks the current page's buffer modified by this site's client.
  void Modify();

  std::int8_t ReadInt8(std::int32_t offset) const;
  std::int16_t ReadInt16(std::int32_t offset) const;
  std::int32_t ReadInt32(std::int32_t offset) const;
  std::int64_t ReadInt64(std::int32_t offset) const;
  void WriteInt8(std::int32_t offset, std::int8_t value);
  void WriteInt16(std::int32_t offset, std::int16_t value);
  void WriteInt32(std::int32_t offset, std::int32_t value);
  void WriteInt64(std::int32_t offset, std::int64_t value);
  std::string ReadWPAnsiString(std::int32_t offset) const;
  void WriteWPAnsiString(std::int32_t offset, std::string_view value);
  std::u16string ReadWPWideString(std::int32_t offset) const;
  void WriteWPWideString(std::int32_t offset, std::u16string_view value);
  // Bytes of this page to and from a caller's buffer.
  void Read(std::int32_t offset, void* dest, std::int32_t count) const;
  void Write(std::int32_t offset, const void* source, std::int32_t count);
  // `count` bytes from this page at `offsetFrom` into `dest`'s page at `offsetTo`.
  void CopyTo(std::int32_t offsetFrom, TVdbStoragePageSite& dest, std::int32_t count,
              std::int32_t offsetTo) const;
  // `count` bytes from `source`'s page at `offsetFrom` into this page at `offsetTo`.
  void CopyFrom(const TVdbStoragePageSite& source, std::int32_t offsetFrom, std::int32_t count,
                std::int32_t offsetTo);
  // Moves bytes inside this page (the ranges may overlap).
  void Copy(std::int32_t offsetFrom, std::int32_t count, std::int32_t offsetTo);

  const std::uint8_t* GetMemory() const;
  // Writable pointer at `offset`; the caller calls Modify after writing through it.
  std::uint8_t* GetAddress(std::int32_t offset);
  std::int32_t GetPageSize() const noexcept { return FClientStorage ? FClientStorage->FPageSize : 0; }
  // Another (unloaded) site on the same client.
  std::unique_ptr<TVdbStoragePageSite> CreateSibling() const;

 private:
  friend class TVdbClientStorage;
  explicit TVdbStoragePageSite(TVdbClientStorage& client);
  void Check(std::int32_t offset, std::int32_t count) const;
  void Place(TVdbStorage& st, TVdbStoragePage& page, std::int64_t pageNo);
  void UnloadLocked();

  TVdbClientStorage* FClientStorage;
  std::int64_t FPageNo = -1;
  std::int32_t FTileOffset = 0;
  TVdbStoragePage* FStorageTile = nullptr;
  std::uint8_t* FPageMemory = nullptr;
};

}  // namespace vdb
