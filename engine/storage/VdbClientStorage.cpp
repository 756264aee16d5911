// The client storage and its page sites: one client's view of a file in the page manager, its
// reads, writes, commits and undo. Every entry point takes the manager lock. Any thread.
#include <algorithm>
#include <cstring>
#include <set>
#include <typeinfo>
#include <unordered_map>

#include "base/VdbErrorCodes.h"
#include "base/VdbFormat.h"
#include "base/vuLittleEndian.h"
#include "storage/VdbPageMan.h"
#include "storage/VdbPageManInternal.h"
#include "storage/vuLog.h"

namespace vdb {

using namespace pageman;

// --- TVdbClientStorage -------------------------------------------------------------------

TVdbClientStorage::TVdbClientStorage(TVdbPageManager& pageManager, const IvuCryptor* cryptor,
                                     std::int32_t clientHdl, TvuFileSystem& fs)
    : FPageManager(pageManager), FCryptor(cryptor), FPageManClientHdl(clientHdl),
      FFileSystem(fs) {}

TVdbClientStorage::~TVdbClientStorage() {
  try {
    Close();
  } catch (const EVdbPageManager& e) {
    std::lock_guard guard(FPageManager.FCriticalSection);
    FPageManager.Log(1, e.Message());
  }
  for (TVdbStoragePageSite* site : FSites) site->FClientStorage = nullptr;
}

TVdbStorage& TVdbClientStorage::OpenStorage() {
  if (FStorageHdl == 0) {
    throw EVdbPageManager(EVdbPageManager::TKind::pkUsage, u"Storage " + Quoted(FName),
                          u"Storage is not open");
  }
  return FPageManager.Storage(FStorageHdl);
}

void TVdbClientStorage::CheckWritable(const char16_t* operation) const {
  if (FReadOnly) {
    throw EVdbPageManager(EVdbPageManager::TKind::pkWrite, operation,
                          u"Storage " + Quoted(FName) + u" is read-only");
  }
}

void TVdbClientStorage::Open(bool readOnly, bool exclusive) {
  using K = EVdbPageManager::TKind;
  if (IsOpen()) throw EVdbPageManager(K::pkUsage, u"Storage " + Quoted(FName), u"Already open");
  const std::int32_t tileSize = FFileSystem.PageSize();
  if (FPageSize != 0 && !ValidPageSize(FPageSize, tileSize)) {
    throw EVdbPageManager(K::pkUsage, u"Opening storage " + Quoted(FName),
                          u"Page size " + Number(FPageSize) + u" does not fit the tile size " +
                              Number(tileSize));
  }
  TVdbPageManager& pm = FPageManager;
  std::lock_guard guard(pm.FCriticalSection);
  const std::u16string cannotOpen = u"Cannot open storage " + Quoted(FName);

  auto findById = [&](const TvuFileId& id) -> std::int32_t {
    for (std::size_t i = 0; i < pm.FStorages.size(); ++i) {
      const auto& st = pm.FStorages[i];
      if (st && st->FFileSystem == &FFileSystem && st->FId == id) {
        return static_cast<std::int32_t>(i + 1);
      }
    }
    return 0;
  };
  auto joinExisting = [&](std::int32_t hdl) {
    TVdbStorage& st = *pm.FStorages[static_cast<std::size_t>(hdl - 1)];
    if (st.FExclusive || exclusive) {
      throw EVdbPMStorageAccessDenied(K::pkOpen, u"",
                                      cannotOpen + u": May not be opened twice if one is exclusive",
                                      oseSharingViolation);
    }
    std::unique_ptr<TVdbEncryption> mine = FCryptor ? FCryptor->CreateEncryption() : nullptr;
    const bool sameKind = (mine == nullptr) == (st.FEncryption == nullptr) &&
                          (!mine || typeid(*mine) == typeid(*st.FEncryption));
    if (!sameKind || (mine && !FCryptor->IsCorrectEncryption(*st.FEncryption))) {
      throw EVdbPMStorageAccessDenied(K::pkOpen, cannotOpen, u"Wrong encryption");
    }
    if (!readOnly && st.FReadOnly) {
      // The storage was opened for reading only: it needs a handle that may write.
      const TvuFileHandle h = FFileSystem.OpenFile(FName, fmOpenReadWrite | fmShareDenyNone);
      if (!TvuFileSystem::IsValidHandle(h)) {
        throw EVdbPMStorageAccessDenied(K::pkOpen, u"", cannotOpen + u": " +
                                        FFileSystem.LastErrorText(), FFileSystem.GetLastError());
      }
      FFileSystem.CloseFile(st.FFileHdl);
      st.FFileHdl = h;
      st.FReadOnly = false;
    }
    ++st.FRefCounter;
    FStorageHdl = hdl;
  };

  std::int32_t existing = 0;
  if (auto id = FFileSystem.FileIdOf(FName)) existing = findById(*id);
  if (existing == 0) {
    const std::uint32_t mode = (readOnly ? fmOpenRead : fmOpenReadWrite) |
                               (exclusive ? fmShareExclusive : fmShareDenyNone);
    const TvuFileHandle h = FFileSystem.OpenFile(FName, mode);
    if (!TvuFileSystem::IsValidHandle(h)) {
      const std::int32_t os = FFileSystem.GetLastError();
      if (os == oseFileNotFound || os == osePathNotFound) {
        throw EVdbPMStorageNotFound(K::pkOpen, u"", u"Storage " + Quoted(FName) + u" not found", os);
      }
      const std::u16string msg = cannotOpen + u": " + FFileSystem.LastErrorText();
      if (vuIsBusyError(os) || os == oseAccessDenied || os == oseWriteProtect) {
        throw EVdbPMStorageAccessDenied(K::pkOpen, u"", msg, os);
      }
      throw EVdbPageManager(K::pkOpen, u"", msg, os);
    }
    const auto id = FFileSystem.HandleFileId(h);
    std::int64_t size = -1;
    if (id) {
      try {
        size = FFileSystem.GetFileSize(h);
      } catch (const EVdbEngine&) {
        size = -1;
      }
    }
    if (!id || size < 0) {
      const std::int32_t os = FFileSystem.GetLastError();
      const std::u16string msg = cannotOpen + u": " + FFileSystem.LastErrorText();
      FFileSystem.CloseFile(h);
      throw EVdbPageManager(K::pkOpen, u"", msg, os);
    }
    existing = findById(*id);
    if (existing != 0) {
      // The name now leads to a file that is already open (it was replaced meanwhile).
      FFileSystem.CloseFile(h);
    } else {
      auto st = std::make_unique<TVdbStorage>();
      st->FName = FName;
      st->FFileSystem = &FFileSystem;
      st->FId = *id;
      st->FReadOnly = readOnly;
      st->FExclusive = exclusive;
      st->FFileHdl = h;
      st->FEncryption = FCryptor ? FCryptor->CreateEncryption() : nullptr;
      st->FTileSize = tileSize;
      st->FTileCount = (size + tileSize - 1) / tileSize;
      st->FValidTiles = st->FTileCount;
      st->FRefCounter = 1;
      auto slot = std::find(pm.FStorages.begin(), pm.FStorages.end(), nullptr);
      if (slot == pm.FStorages.end()) slot = pm.FStorages.insert(slot, nullptr);
      *slot = std::move(st);
      FStorageHdl = static_cast<std::int32_t>(slot - pm.FStorages.begin() + 1);
      pm.Log(3, u"Storage " + Quoted(FName) + u" opened.");
    }
  }
  if (existing != 0) joinExisting(existing);

  TVdbStorage& st = pm.Storage(FStorageHdl);
  if (st.FPageSize == 0) st.FPageSize = FPageSize != 0 ? FPageSize : st.FTileSize;
  FPageSize = st.FPageSize;
  if (st.FPageSize > st.FTileSize) st.FTileCount = st.TilesFor(st.FTileCount * st.FTileSize);
  FReadOnly = readOnly;
  FExclusive = exclusive;
}

void TVdbClientStorage::NewStorage(bool exclusive) {
  using K = EVdbPageManager::TKind;
  if (IsOpen()) throw EVdbPageManager(K::pkUsage, u"Storage " + Quoted(FName), u"Already open");
  {
    std::lock_guard guard(FPageManager.FCriticalSection);
    if (auto id = FFileSystem.FileIdOf(FName)) {
      for (auto& st : FPageManager.FStorages) {
        if (st && st->FFileSystem == &FFileSystem && st->FId == *id) {
          throw EVdbPMStorageAccessDenied(K::pkOpen, u"",
                                          u"Cannot create storage " + Quoted(FName) +
                                              u": it is open", oseSharingViolation);
        }
      }
    }
    const TvuFileHandle h = FFileSystem.CreateFile(FName);
    if (!TvuFileSystem::IsValidHandle(h)) {
      const std::int32_t os = FFileSystem.GetLastError();
      const std::u16string msg =
          u"Cannot create storage " + Quoted(FName) + u": " + FFileSystem.LastErrorText();
      if (vuIsBusyError(os) || os == oseAccessDenied) {
        throw EVdbPMStorageAccessDenied(K::pkOpen, u"", msg, os);
      }
      throw EVdbPageManager(K::pkOpen, u"", msg, os);
    }
    if (!FFileSystem.CloseFile(h)) {
      throw EVdbPageManager(K::pkWrite, u"Creating storage " + Quoted(FName),
                            FFileSystem.LastErrorText(), FFileSystem.GetLastError());
    }
  }
  Open(false, exclusive);
}

void TVdbClientStorage::Close() {
  if (!IsOpen()) return;
  TVdbPageManager& pm = FPageManager;
  std::lock_guard guard(pm.FCriticalSection);
  for (TVdbStoragePageSite* site : FSites) site->UnloadLocked();
  TVdbStorage& st = pm.Storage(FStorageHdl);
  const std::int32_t hdl = FStorageHdl;
  FStorageHdl = 0;
  if (--st.FRefCounter > 0) return;
  for (auto& [key, page] : st.FCachedPages) {
    pm.GiveMemory(std::move(page->FMemory), page->FMemorySize);
  }
  st.FCachedPages.clear();
  pm.GiveBackReserved(st);
  const TvuFileHandle fileHdl = st.FFileHdl;
  TvuFileSystem& fs = *st.FFileSystem;
  const std::u16string name = st.FName;
  pm.FStorages[static_cast<std::size_t>(hdl - 1)].reset();
  pm.ApplyCacheLimit();
  if (!fs.CloseFile(fileHdl)) {
    throw EVdbPageManager(EVdbPageManager::TKind::pkWrite, u"Closing storage " + Quoted(name),
                          fs.LastErrorText(), fs.GetLastError());
  }
}

std::unique_ptr<TVdbStoragePageSite> TVdbClientStorage::CreatePageSite() {
  std::lock_guard guard(FPageManager.FCriticalSection);
  auto site = std::unique_ptr<TVdbStoragePageSite>(new TVdbStoragePageSite(*this));
  FSites.push_back(site.get());
  return site;
}

std::unique_ptr<TVdbClientStorage> TVdbClientStorage::CreateSibling() const {
  auto sibling = std::make_unique<TVdbClientStorage>(FPageManager, FCryptor, FPageManClientHdl,
                                                     FFileSystem);
  sibling->FName = FName;
  sibling->FPageSize = FPageSize;
  return sibling;
}

void TVdbClientStorage::SetPageSize(std::int32_t pageSize) {
  using K = EVdbPageManager::TKind;
  if (!IsOpen()) {
    FPageSize = pageSize;
    return;
  }
  std::lock_guard guard(FPageManager.FCriticalSection);
  TVdbStorage& st = OpenStorage();
  if (pageSize == st.FPageSize) return;
  if (!ValidPageSize(pageSize, st.FTileSize)) {
    throw EVdbPageManager(K::pkUsage, u"Setting the page size of " + Quoted(FName),
                          u"Page size " + Number(pageSize) + u" does not fit the tile size");
  }
  const bool sitesLoaded = std::any_of(FSites.begin(), FSites.end(),
                                       [](auto* s) { return s->IsLoaded(); });
  if (st.FRefCounter > 1 || !st.FModified.empty() || sitesLoaded) {
    throw EVdbPageManager(K::pkUsage, u"Setting the page size of " + Quoted(FName),
                          u"The storage is in use");
  }
  FPageManager.DropWhere(st, false, 0);
  st.FPageSize = pageSize;
  st.FTileCount = st.TilesFor(st.FTileCount * st.FTileSize);
  FPageSize = pageSize;
}

std::int64_t TVdbClientStorage::GetPageCount() {
  std::lock_guard guard(FPageManager.FCriticalSection);
  return OpenStorage().PageCount();
}

void TVdbClientStorage::SetPageCount(std::int64_t pageCount) {
  std::lock_guard guard(FPageManager.FCriticalSection);
  TVdbStorage& st = OpenStorage();
  CheckWritable(u"Setting the page count");
  const std::int64_t tiles = st.TilesFor(std::max<std::int64_t>(0, pageCount) * st.FPageSize);
  if (tiles < st.FTileCount) FPageManager.DropWhere(st, false, tiles);
  FPageManager.ReserveTiles(st, tiles);
  st.FTileCount = tiles;
  st.FValidTiles = std::min(st.FValidTiles, tiles);
}

std::int64_t TVdbClientStorage::GetSize() {
  std::lock_guard guard(FPageManager.FCriticalSection);
  TVdbStorage& st = OpenStorage();
  return st.FTileCount * st.FTileSize;
}

std::int64_t TVdbClientStorage::NewPage() {
  std::lock_guard guard(FPageManager.FCriticalSection);
  TVdbStorage& st = OpenStorage();
  CheckWritable(u"Adding a page");
  const std::int64_t pageNo = st.PageCount();
  FPageManager.ReserveTiles(st, st.TilesFor((pageNo + 1) * st.FPageSize));
  st.FTileCount = st.TilesFor((pageNo + 1) * st.FPageSize);
  return pageNo;
}

void TVdbClientStorage::ReadPage(std::int64_t pageNo, void* dest) {
  auto site = CreatePageSite();
  site->LoadPage(pageNo);
  site->Read(0, dest, FPageSize);
}

void TVdbClientStorage::ReadDirect(std::int64_t pos, void* dest, std::int64_t count) {
  using K = EVdbPageManager::TKind;
  std::lock_guard guard(FPageManager.FCriticalSection);
  TVdbStorage& st = OpenStorage();
  if (st.FEncryption) {
    throw EVdbPageManager(K::pkUsage, u"Reading " + Quoted(FName),
                          u"Direct access is not possible on an enciphered storage");
  }
  auto* out = static_cast<std::uint8_t*>(dest);
  const std::int64_t got = FFileSystem.FileRead(st.FFileHdl, pos, out, count);
  if (got < count) {
    if (FFileSystem.GetLastError() != oseHandleEof) {
      throw EVdbPageManager(K::pkRead, u"Reading " + Quoted(FName), FFileSystem.LastErrorText(),
                            FFileSystem.GetLastError());
    }
    std::memset(out + got, 0, static_cast<std::size_t>(count - got));
  }
  // Cached buffers are at least as new as the file.
  for (auto& [key, page] : st.FCachedPages) {
    if (page->FStale) continue;
    const std::int64_t start = key * st.FTileSize, end = start + page->FMemorySize;
    const std::int64_t from = std::max(start, pos), to = std::min(end, pos + count);
    if (from < to) {
      std::memcpy(out + (from - pos), page->FMemory.get() + (from - start),
                  static_cast<std::size_t>(to - from));
    }
  }
}

void TVdbClientStorage::WriteDirect(std::int64_t pos, const void* source, std::int64_t count) {
  using K = EVdbPageManager::TKind;
  std::lock_guard guard(FPageManager.FCriticalSection);
  TVdbStorage& st = OpenStorage();
  CheckWritable(u"Writing directly");
  if (st.FEncryption) {
    throw EVdbPageManager(K::pkUsage, u"Writing " + Quoted(FName),
                          u"Direct access is not possible on an enciphered storage");
  }
  const auto* in = static_cast<const std::uint8_t*>(source);
  st.FUnsynced = true;
  if (FFileSystem.FileWrite(st.FFileHdl, pos, in, count) != count) {
    throw EVdbPageManager(K::pkWrite, u"Writing " + Quoted(FName), FFileSystem.LastErrorText(),
                          FFileSystem.GetLastError());
  }
  for (auto& [key, page] : st.FCachedPages) {
    const std::int64_t start = key * st.FTileSize, end = start + page->FMemorySize;
    const std::int64_t from = std::max(start, pos), to = std::min(end, pos + count);
    if (from < to) {
      std::memcpy(page->FMemory.get() + (from - start), in + (from - pos),
                  static_cast<std::size_t>(to - from));
    }
  }
  const std::int64_t endTile = (pos + count + st.FTileSize - 1) / st.FTileSize;
  if (pos <= st.FValidTiles * st.FTileSize) st.FValidTiles = std::max(st.FValidTiles, endTile);
  st.FTileCount = std::max(st.FTileCount, st.TilesFor(pos + count));
}

void TVdbClientStorage::Flush() {
  using K = EVdbPageManager::TKind;
  TVdbPageManager& pm = FPageManager;
  std::lock_guard guard(pm.FCriticalSection);
  TVdbStorage& st = OpenStorage();
  if (st.FReadOnly) return;
  TvuFileSystem& fs = *st.FFileSystem;
  const std::int64_t length = st.FTileCount * st.FTileSize;
  auto saveFailed = [&]() {
    return EVdbPageManager(K::pkWrite, u"Saving tile", u"Cannot write tile to storage",
                           fs.GetLastError());
  };
  std::int64_t fileSize;
  try {
    fileSize = fs.GetFileSize(st.FFileHdl);
    if (fileSize > length) fs.SetFileSize(st.FFileHdl, length);
  } catch (const EVdbEngine& e) {
    throw EVdbPageManager(K::pkWrite, u"Saving tile", e.Message(), fs.GetLastError());
  }
  fileSize = std::min(fileSize, length);
  std::vector<std::uint8_t> scratch;
  const std::vector<std::int64_t> keys(st.FModified.begin(), st.FModified.end());
  for (std::int64_t key : keys) {
    TVdbStoragePage& page = *st.FCachedPages.at(key);
    const std::uint8_t* out = page.FMemory.get();
    if (st.FEncryption) {
      scratch.assign(out, out + page.FMemorySize);
      for (std::int32_t off = 0; off < page.FMemorySize; off += st.FTileSize) {
        st.FEncryption->EncryptBlock(scratch.data() + off, static_cast<std::size_t>(st.FTileSize));
      }
      out = scratch.data();
    }
    st.FUnsynced = true;
    if (fs.FileWrite(st.FFileHdl, key * st.FTileSize, out, page.FMemorySize) != page.FMemorySize) {
      throw saveFailed();
    }
    page.FClientHdl = 0;
    st.FModified.erase(key);
  }
  // Tiles added but never written still belong to the file and read as zero pages. A hole
  // beyond the old end reads as zeros without a cipher, so there only the file's length needs
  // the last tile; with a cipher every such tile must hold enciphered zeros, or it would
  // decipher to garbage. Tiles cut off earlier and grown back still hold old bytes: zero them.
  const std::int64_t fileTiles = (fileSize + st.FTileSize - 1) / st.FTileSize;
  std::vector<std::uint8_t> zeroTile;
  for (std::int64_t tile = std::min(fileTiles, st.FValidTiles); tile < st.FTileCount; ++tile) {
    if (std::binary_search(keys.begin(), keys.end(), tile - tile % st.BufferTiles())) continue;
    const bool needed = st.FEncryption || tile < fileTiles || tile == st.FTileCount - 1;
    if (!needed) continue;
    if (zeroTile.empty()) {
      zeroTile.assign(static_cast<std::size_t>(st.FTileSize), 0);
      if (st.FEncryption) st.FEncryption->EncryptBlock(zeroTile.data(), zeroTile.size());
    }
    st.FUnsynced = true;
    if (fs.FileWrite(st.FFileHdl, tile * st.FTileSize, zeroTile.data(), st.FTileSize) !=
        st.FTileSize) {
      throw saveFailed();
    }
  }
  st.FValidTiles = st.FTileCount;
  st.FReservedFrom = -1;
  if (fileSize > length) st.FUnsynced = true;
  if (FDeepFlush && st.FUnsynced) {
    if (!fs.FlushFile(st.FFileHdl)) {
      throw EVdbPageManager(K::pkWrite, u"Saving tile", u"Cannot force the data to the device",
                            fs.GetLastError());
    }
    st.FUnsynced = false;
  }
}

void TVdbClientStorage::Undo() {
  TVdbPageManager& pm = FPageManager;
  std::lock_guard guard(pm.FCriticalSection);
  TVdbStorage& st = OpenStorage();
  pm.DropWhere(st, true, 0);
  pm.GiveBackReserved(st);
  // Clean buffers that were read as zeros beyond a cut not flushed yet: the file's bytes
  // count again.
  pm.DropWhere(st, false, st.FValidTiles - st.FValidTiles % st.BufferTiles());
  const std::int64_t size = st.FFileSystem->GetFileSize(st.FFileHdl);
  st.FTileCount = st.TilesFor(size);
  st.FValidTiles = (size + st.FTileSize - 1) / st.FTileSize;
  pm.DropWhere(st, false, st.FTileCount);
}

void TVdbClientStorage::Invalidate() {
  TVdbPageManager& pm = FPageManager;
  std::lock_guard guard(pm.FCriticalSection);
  TVdbStorage& st = OpenStorage();
  pm.DropWhere(st, false, 0);
  pm.GiveBackReserved(st);
  const std::int64_t size = st.FFileSystem->GetFileSize(st.FFileHdl);
  st.FTileCount = st.TilesFor(size);
  st.FValidTiles = (size + st.FTileSize - 1) / st.FTileSize;
}

std::int32_t TVdbClientStorage::StorageRefCount() {
  std::lock_guard guard(FPageManager.FCriticalSection);
  return OpenStorage().FRefCounter;
}

std::size_t TVdbClientStorage::ModifiedBufferCount() {
  std::lock_guard guard(FPageManager.FCriticalSection);
  return OpenStorage().FModified.size();
}

// --- TVdbStoragePageSite -----------------------------------------------------------------

TVdbStoragePageSite::TVdbStoragePageSite(TVdbClientStorage& client) : FClientStorage(&client) {}

TVdbStoragePageSite::~TVdbStoragePageSite() {
  if (!FClientStorage) return;
  std::lock_guard guard(FClientStorage->FPageManager.FCriticalSection);
  UnloadLocked();
  auto& sites = FClientStorage->FSites;
  sites.erase(std::remove(sites.begin(), sites.end(), this), sites.end());
}

void TVdbStoragePageSite::UnloadLocked() {
  if (!FStorageTile) return;
  TVdbClientStorage& c = *FClientStorage;
  c.FPageManager.Unpin(c.FPageManager.Storage(c.FStorageHdl), *FStorageTile);
  FStorageTile = nullptr;
  FPageMemory = nullptr;
  FPageNo = -1;
}

void TVdbStoragePageSite::UnloadPage() {
  if (!FClientStorage) return;
  std::lock_guard guard(FClientStorage->FPageManager.FCriticalSection);
  UnloadLocked();
}

void TVdbStoragePageSite::Place(TVdbStorage& st, TVdbStoragePage& page, std::int64_t pageNo) {
  FPageNo = pageNo;
  FTileOffset = static_cast<std::int32_t>(pageNo * st.FPageSize - page.FTileNo * st.FTileSize);
  FStorageTile = &page;
  FPageMemory = page.FMemory.get() + FTileOffset;
}

void TVdbStoragePageSite::LoadPage(std::int64_t pageNo) {
  using K = EVdbPageManager::TKind;
  if (!FClientStorage) throw EVdbPageManager(K::pkUsage, u"", u"Page site has no storage");
  TVdbClientStorage& c = *FClientStorage;
  TVdbPageManager& pm = c.FPageManager;
  std::lock_guard guard(pm.FCriticalSection);
  TVdbStorage& st = c.OpenStorage();
  if (pageNo < 0 || pageNo >= st.PageCount()) {
    throw EVdbPageManager(K::pkRead,
                          u"Loading page " + Number(pageNo) + u" of storage " + Quoted(c.FName),
                          u"Page no is invalid");
  }
  if (FStorageTile && FPageNo == pageNo && !FStorageTile->FStale) return;
  const std::int64_t key = st.KeyOfPage(pageNo);
  TVdbStoragePage& page = pm.PinBuffer(st, key);  // pin the new one before letting go
  if (FStorageTile) pm.Unpin(st, *FStorageTile);
  Place(st, page, pageNo);
}

void TVdbStoragePageSite::InitPage(std::int64_t pageNo) {
  using K = EVdbPageManager::TKind;
  if (!FClientStorage) throw EVdbPageManager(K::pkUsage, u"", u"Page site has no storage");
  TVdbClientStorage& c = *FClientStorage;
  TVdbPageManager& pm = c.FPageManager;
  std::lock_guard guard(pm.FCriticalSection);
  TVdbStorage& st = c.OpenStorage();
  c.CheckWritable(u"Initialising a page");
  if (pageNo < 0) {
    throw EVdbPageManager(K::pkUsage,
                          u"Initialising page " + Number(pageNo) + u" of " + Quoted(c.FName),
                          u"Page no is invalid");
  }
  const std::int64_t key = st.KeyOfPage(pageNo);
  pm.ReserveTiles(st, st.TilesFor((pageNo + 1) * st.FPageSize));
  TVdbStoragePage& page = pm.PinNewBuffer(st, key);
  if (FStorageTile) pm.Unpin(st, *FStorageTile);
  st.FTileCount = std::max(st.FTileCount, st.TilesFor((pageNo + 1) * st.FPageSize));
  Place(st, page, pageNo);
  std::memset(FPageMemory, 0, static_cast<std::size_t>(st.FPageSize));
  pm.MarkModified(st, page, c.FPageManClientHdl);
}

void TVdbStoragePageSite::Modify() {
  using K = EVdbPageManager::TKind;
  if (!FStorageTile) throw EVdbPageManager(K::pkUsage, u"Modifying a page", u"No page loaded");
  TVdbClientStorage& c = *FClientStorage;
  std::lock_guard guard(c.FPageManager.FCriticalSection);
  c.CheckWritable(u"Modifying a page");
  c.FPageManager.MarkModified(c.OpenStorage(), *FStorageTile, c.FPageManClientHdl);
}

void TVdbStoragePageSite::Check(std::int32_t offset, std::int32_t count) const {
  using K = EVdbPageManager::TKind;
  if (!FStorageTile) throw EVdbPageManager(K::pkUsage, u"Accessing a page", u"No page loaded");
  if (offset < 0 || count < 0 || std::int64_t{offset} + count > GetPageSize()) {
    throw EVdbPageManager(K::pkUsage, u"Accessing page " + Number(FPageNo),
                          u"Offset " + Number(offset) + u" and count " + Number(count) +
                              u" lie outside the page");
  }
}

std::int8_t TVdbStoragePageSite::ReadInt8(std::int32_t offset) const {
  Check(offset, 1);
  return static_cast<std::int8_t>(FPageMemory[offset]);
}
std::int16_t TVdbStoragePageSite::ReadInt16(std::int32_t offset) const {
  Check(offset, 2);
  return static_cast<std::int16_t>(vuGetU16(FPageMemory + offset));
}
std::int32_t TVdbStoragePageSite::ReadInt32(std::int32_t offset) const {
  Check(offset, 4);
  return static_cast<std::int32_t>(vuGetU32(FPageMemory + offset));
}
std::int64_t TVdbStoragePageSite::ReadInt64(std::int32_t offset) const {
  Check(offset, 8);
  return static_cast<std::int64_t>(vuGetU64(FPageMemory + offset));
}
void TVdbStoragePageSite::WriteInt8(std::int32_t offset, std::int8_t value) {
  Check(offset, 1);
  FPageMemory[offset] = static_cast<std::uint8_t>(value);
  Modify();
}
void TVdbStoragePageSite::WriteInt16(std::int32_t offset, std::int16_t value) {
  Check(offset, 2);
  vuPutU16(FPageMemory + offset, static_cast<std::uint16_t>(value));
  Modify();
}
void TVdbStoragePageSite::WriteInt32(std::int32_t offset, std::int32_t value) {
  Check(offset, 4);
  vuPutU32(FPageMemory + offset, static_cast<std::uint32_t>(value));
  Modify();
}
void TVdbStoragePageSite::WriteInt64(std::int32_t offset, std::int64_t value) {
  Check(offset, 8);
  vuPutU64(FPageMemory + offset, static_cast<std::uint64_t>(value));
  Modify();
}

std::string TVdbStoragePageSite::ReadWPAnsiString(std::int32_t offset) const {
  Check(offset, kVdbWPStringLengthSize);
  const std::int32_t n = vuGetU16(FPageMemory + offset);
  Check(offset + kVdbWPStringLengthSize, n);
  const auto* p = FPageMemory + offset + kVdbWPStringLengthSize;
  return std::string(reinterpret_cast<const char*>(p), static_cast<std::size_t>(n));
}

void TVdbStoragePageSite::WriteWPAnsiString(std::int32_t offset, std::string_view value) {
  const auto n = static_cast<std::int32_t>(std::min<std::size_t>(value.size(), 0xFFFF));
  Check(offset, kVdbWPStringLengthSize + n);
  vuPutU16(FPageMemory + offset, static_cast<std::uint16_t>(n));
  std::memcpy(FPageMemory + offset + kVdbWPStringLengthSize, value.data(),
              static_cast<std::size_t>(n));
  Modify();
}

std::u16string TVdbStoragePageSite::ReadWPWideString(std::int32_t offset) const {
  Check(offset, kVdbWPStringLengthSize);
  const std::int32_t n = vuGetU16(FPageMemory + offset);
  Check(offset + kVdbWPStringLengthSize, 2 * n);
  std::u16string s(static_cast<std::size_t>(n), u'\0');
  for (std::int32_t i = 0; i < n; ++i) {
    s[static_cast<std::size_t>(i)] =
        static_cast<char16_t>(vuGetU16(FPageMemory + offset + kVdbWPStringLengthSize + 2 * i));
  }
  return s;
}

void TVdbStoragePageSite::WriteWPWideString(std::int32_t offset, std::u16string_view value) {
  const auto n = static_cast<std::int32_t>(std::min<std::size_t>(value.size(), 0xFFFF));
  Check(offset, kVdbWPStringLengthSize + 2 * n);
  vuPutU16(FPageMemory + offset, static_cast<std::uint16_t>(n));
  for (std::int32_t i = 0; i < n; ++i) {
    vuPutU16(FPageMemory + offset + kVdbWPStringLengthSize + 2 * i,
             static_cast<std::uint16_t>(value[static_cast<std::size_t>(i)]));
  }
  Modify();
}

void TVdbStoragePageSite::Read(std::int32_t offset, void* dest, std::int32_t count) const {
  Check(offset, count);
  std::memcpy(dest, FPageMemory + offset, static_cast<std::size_t>(count));
}

void TVdbStoragePageSite::Write(std::int32_t offset, const void* source, std::int32_t count) {
  Check(offset, count);
  std::memmove(FPageMemory + offset, source, static_cast<std::size_t>(count));
  Modify();
}

void TVdbStoragePageSite::CopyTo(std::int32_t offsetFrom, TVdbStoragePageSite& dest,
                                 std::int32_t count, std::int32_t offsetTo) const {
  Check(offsetFrom, count);
  dest.Write(offsetTo, FPageMemory + offsetFrom, count);
}

void TVdbStoragePageSite::CopyFrom(const TVdbStoragePageSite& source, std::int32_t offsetFrom,
                                   std::int32_t count, std::int32_t offsetTo) {
  source.Check(offsetFrom, count);
  Write(offsetTo, source.FPageMemory + offsetFrom, count);
}

void TVdbStoragePageSite::Copy(std::int32_t offsetFrom, std::int32_t count,
                               std::int32_t offsetTo) {
  Check(offsetFrom, count);
  Write(offsetTo, FPageMemory + offsetFrom, count);
}

const std::uint8_t* TVdbStoragePageSite::GetMemory() const {
  Check(0, 0);
  return FPageMemory;
}

std::uint8_t* TVdbStoragePageSite::GetAddress(std::int32_t offset) {
  Check(offset, 0);
  return FPageMemory + offset;
}

std::unique_ptr<TVdbStoragePageSite> TVdbStoragePageSite::CreateSibling() const {
  using K = EVdbPageManager::TKind;
  if (!FClientStorage) throw EVdbPageManager(K::pkUsage, u"", u"Page site has no storage");
  return FClientStorage->CreatePageSite();
}

}  // namespace vdb
