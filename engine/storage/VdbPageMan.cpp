// The page manager. See VdbPageMan.h for the states and durability rules. Every entry point
// takes the manager lock; helpers below run with it held. Any thread. The client storages and
// page sites live in VdbClientStorage.cpp.
#include "storage/VdbPageMan.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <typeinfo>
#include <unordered_map>

#include "base/VdbErrorCodes.h"
#include "base/VdbFormat.h"
#include "base/vuLittleEndian.h"
#include "storage/VdbPageManInternal.h"
#include "storage/vuLog.h"

namespace vdb {

using namespace pageman;

// --- EVdbPageManager ---------------------------------------------------------------------

EVdbPageManager::EVdbPageManager(TKind kind, std::u16string operation, std::u16string reason,
                                 std::int32_t osError)
    : FKind(kind),
      FOperation(std::move(operation)),
      FReason(std::move(reason)),
      FMessage(FOperation.empty() ? FReason : FOperation + u": " + FReason),
      FWhat(VdbUtf16ToUtf8(FMessage)),
      FOSError(osError) {}

EVdbEngine EVdbPageManager::ToEngineError(std::u16string_view fileName) const {
  switch (FKind) {
    case TKind::pkRead: return EVdbEngine(errFileRead, fileName);
    case TKind::pkWrite: return EVdbEngine(errFileWrite, fileName);
    default: return EVdbEngine(errCannotOpenFile, fileName);
  }
}

// --- TVdbPageManager ---------------------------------------------------------------------

TVdbPageManager::TVdbPageManager() = default;

TVdbPageManager::~TVdbPageManager() {
  for (auto& st : FStorages) {
    if (st && TvuFileSystem::IsValidHandle(st->FFileHdl)) st->FFileSystem->CloseFile(st->FFileHdl);
  }
}

TVdbPageManager& TVdbPageManager::Instance() {
  static TVdbPageManager instance;
  return instance;
}

void TVdbPageManager::AddFileSystem(std::u16string name, TvuFileSystem& fs) {
  std::lock_guard guard(FCriticalSection);
  for (auto& e : FFileSystems) {
    if (e.Name == name) {
      if (e.FileSystem != &fs) {
        throw EVdbPageManager(EVdbPageManager::TKind::pkUsage, u"Adding file system " + Quoted(name),
                              u"Another file system has this name");
      }
      ++e.RefCount;
      return;
    }
  }
  FFileSystems.push_back({std::move(name), &fs, 1});
}

TvuFileSystem* TVdbPageManager::GetFileSystem(std::u16string_view name) {
  std::lock_guard guard(FCriticalSection);
  for (auto& e : FFileSystems) {
    if (e.Name == name) return e.FileSystem;
  }
  return nullptr;
}

void TVdbPageManager::ReleaseFileSystem(std::u16string_view name) {
  std::lock_guard guard(FCriticalSection);
  for (auto it = FFileSystems.begin(); it != FFileSystems.end(); ++it) {
    if (it->Name == name) {
      if (--it->RefCount <= 0) FFileSystems.erase(it);
      return;
    }
  }
}

void TVdbPageManager::RegisterClient(std::int32_t, std::int32_t cacheSizeKB) {
  std::lock_guard guard(FCriticalSection);
  FCacheLimit += std::int64_t{cacheSizeKB} * 1024;
}

void TVdbPageManager::UnregisterClient(std::int32_t, std::int32_t cacheSizeKB) {
  std::lock_guard guard(FCriticalSection);
  FCacheLimit = std::max<std::int64_t>(0, FCacheLimit - std::int64_t{cacheSizeKB} * 1024);
  ApplyCacheLimit();
}

void TVdbPageManager::SetLog(TvuLog* log) {
  std::lock_guard guard(FCriticalSection);
  FLog = log;
}

std::int64_t TVdbPageManager::CacheLimit() {
  std::lock_guard guard(FCriticalSection);
  return FCacheLimit;
}

std::int64_t TVdbPageManager::CacheSize() {
  std::lock_guard guard(FCriticalSection);
  return FCacheSize;
}

std::size_t TVdbPageManager::CachedBufferCount() {
  std::lock_guard guard(FCriticalSection);
  std::size_t n = 0;
  for (auto& st : FStorages) {
    if (st) n += st->FCachedPages.size();
  }
  return n;
}

std::size_t TVdbPageManager::OpenStorageCount() {
  std::lock_guard guard(FCriticalSection);
  return static_cast<std::size_t>(
      std::count_if(FStorages.begin(), FStorages.end(), [](auto& s) { return s != nullptr; }));
}

void TVdbPageManager::Log(std::int32_t severity, const std::u16string& text) {
  if (FLog) FLog->Write(severity, u"PageManager", text);
}

TVdbStorage& TVdbPageManager::Storage(std::int32_t storageHdl) {
  if (storageHdl < 1 || storageHdl > static_cast<std::int32_t>(FStorages.size()) ||
      !FStorages[static_cast<std::size_t>(storageHdl - 1)]) {
    throw EVdbPageManager(EVdbPageManager::TKind::pkUsage, u"", u"Storage is not open");
  }
  return *FStorages[static_cast<std::size_t>(storageHdl - 1)];
}

std::unique_ptr<std::uint8_t[]> TVdbPageManager::TakeMemory(std::int32_t size) {
  auto& pool = FTileCaches[size];
  if (!pool.empty()) {
    auto memory = std::move(pool.back());
    pool.pop_back();
    return memory;
  }
  auto memory = std::make_unique<std::uint8_t[]>(static_cast<std::size_t>(size));
  FCacheSize += size;
  return memory;
}

void TVdbPageManager::ReserveTiles(TVdbStorage& st, std::int64_t tiles) {
  using K = EVdbPageManager::TKind;
  if (tiles <= st.FTileCount || st.FReadOnly) return;
  TvuFileSystem& fs = *st.FFileSystem;
  std::int64_t size = 0;
  try {
    size = fs.GetFileSize(st.FFileHdl);
  } catch (const EVdbEngine& e) {
    throw EVdbPageManager(K::pkWrite, u"Extending " + Quoted(st.FName), e.Message(), fs.GetLastError());
  }
  const std::int64_t fileTiles = (size + st.FTileSize - 1) / st.FTileSize;
  if (tiles <= fileTiles) return;
  std::vector<std::uint8_t> zero(static_cast<std::size_t>(st.FTileSize), 0);
  if (st.FEncryption) st.FEncryption->EncryptBlock(zero.data(), zero.size());
  st.FUnsynced = true;
  if (st.FReservedFrom < 0) st.FReservedFrom = size;
  for (std::int64_t tile = fileTiles; tile < tiles; ++tile) {
    if (fs.FileWrite(st.FFileHdl, tile * st.FTileSize, zero.data(), st.FTileSize) != st.FTileSize) {
      const std::int32_t error = fs.GetLastError();
      const std::u16string reason = fs.LastErrorText();
      try {
        fs.SetFileSize(st.FFileHdl, size);
      } catch (const EVdbEngine&) {
        // The longer file only holds zero tiles beyond what the storage counts.
      }
      throw EVdbPageManager(K::pkWrite, u"Extending " + Quoted(st.FName), reason, error);
    }
  }
  // Zero tiles now follow the file's own bytes: they belong to the storage as written.
  if (st.FValidTiles >= fileTiles) st.FValidTiles = tiles;
}

void TVdbPageManager::GiveBackReserved(TVdbStorage& st) noexcept {
  if (st.FReservedFrom < 0) return;
  try {
    st.FFileSystem->SetFileSize(st.FFileHdl, st.FReservedFrom);
  } catch (const EVdbEngine&) {
    // The longer file only holds zero tiles beyond what the storage counts.
  }
  st.FReservedFrom = -1;
}

void TVdbPageManager::GiveMemory(std::unique_ptr<std::uint8_t[]> memory, std::int32_t size) {
  FTileCaches[size].push_back(std::move(memory));
}

void TVdbPageManager::ReadBuffer(TVdbStorage& st, TVdbStoragePage& page) {
  TvuFileSystem& fs = *st.FFileSystem;
  const std::int64_t pos = page.FTileNo * st.FTileSize;
  const std::int64_t valid = std::clamp<std::int64_t>(
      (st.FValidTiles - page.FTileNo) * st.FTileSize, 0, page.FMemorySize);
  const std::int64_t got = valid == 0 ? 0 : fs.FileRead(st.FFileHdl, pos, page.FMemory.get(), valid);
  if (got < page.FMemorySize) {
    if (got < valid && fs.GetLastError() != oseHandleEof) {
      throw EVdbPageManager(EVdbPageManager::TKind::pkRead, u"Loading tile",
                            u"Cannot read tile from storage", fs.GetLastError());
    }
    // Beyond the end of the file: a page not yet written reads as zeros.
    std::memset(page.FMemory.get() + got, 0, static_cast<std::size_t>(page.FMemorySize - got));
  }
  if (st.FEncryption) {
    // Only tiles that came whole from the file are enciphered there.
    for (std::int64_t off = 0; off + st.FTileSize <= got; off += st.FTileSize) {
      st.FEncryption->DecryptBlock(page.FMemory.get() + off, static_cast<std::size_t>(st.FTileSize));
    }
  }
  page.FStale = false;
}

TVdbStoragePage& TVdbPageManager::PinBuffer(TVdbStorage& st, std::int64_t key) {
  auto it = st.FCachedPages.find(key);
  if (it != st.FCachedPages.end()) {
    TVdbStoragePage& page = *it->second;
    if (page.FStale) ReadBuffer(st, page);  // raises with the buffer still stale
    ++page.FLocks;
    page.FGeneration = ++FLastGeneration;
    return page;
  }
  auto page = std::make_unique<TVdbStoragePage>();
  page->FMemorySize = st.BufferSize();
  page->FTileNo = key;
  page->FMemory = TakeMemory(page->FMemorySize);
  try {
    ReadBuffer(st, *page);
  } catch (...) {
    GiveMemory(std::move(page->FMemory), page->FMemorySize);
    throw;
  }
  page->FLocks = 1;
  page->FGeneration = ++FLastGeneration;
  TVdbStoragePage& ref = *page;
  st.FCachedPages.emplace(key, std::move(page));
  ApplyCacheLimit();
  return ref;
}

TVdbStoragePage& TVdbPageManager::PinNewBuffer(TVdbStorage& st, std::int64_t key) {
  const bool sharedTile = st.FPageSize < st.FTileSize;
  auto it = st.FCachedPages.find(key);
  const bool cached = it != st.FCachedPages.end();
  // A tile shared with other pages that exist must keep their bytes: read it. A buffer of
  // its own (or one beyond the end) needs no read.
  if (sharedTile && key < st.FTileCount && (!cached || it->second->FStale)) {
    return PinBuffer(st, key);
  }
  if (cached) {
    TVdbStoragePage& page = *it->second;
    if (page.FStale) {
      std::memset(page.FMemory.get(), 0, static_cast<std::size_t>(page.FMemorySize));
      page.FStale = false;
    }
    ++page.FLocks;
    page.FGeneration = ++FLastGeneration;
    return page;
  }
  auto page = std::make_unique<TVdbStoragePage>();
  page->FMemorySize = st.BufferSize();
  page->FTileNo = key;
  page->FMemory = TakeMemory(page->FMemorySize);
  std::memset(page->FMemory.get(), 0, static_cast<std::size_t>(page->FMemorySize));
  page->FLocks = 1;
  page->FGeneration = ++FLastGeneration;
  TVdbStoragePage& ref = *page;
  st.FCachedPages.emplace(key, std::move(page));
  ApplyCacheLimit();
  return ref;
}

void TVdbPageManager::Unpin(TVdbStorage& st, TVdbStoragePage& page) {
  if (--page.FLocks > 0 || !page.FStale) return;
  // A stale buffer nobody holds any more goes back to the pool.
  auto it = st.FCachedPages.find(page.FTileNo);
  if (it != st.FCachedPages.end() && it->second.get() == &page) {
    GiveMemory(std::move(page.FMemory), page.FMemorySize);
    st.FCachedPages.erase(it);
  }
}

void TVdbPageManager::MarkModified(TVdbStorage& st, TVdbStoragePage& page,
                                   std::int32_t clientHdl) {
  page.FClientHdl = clientHdl;
  st.FModified.insert(page.FTileNo);
}

void TVdbPageManager::Drop(TVdbStorage& st, std::int64_t key) {
  auto it = st.FCachedPages.find(key);
  if (it == st.FCachedPages.end()) return;
  TVdbStoragePage& page = *it->second;
  st.FModified.erase(key);
  page.FClientHdl = 0;
  if (page.FLocks > 0) {
    page.FStale = true;
    return;
  }
  GiveMemory(std::move(page.FMemory), page.FMemorySize);
  st.FCachedPages.erase(it);
}

void TVdbPageManager::DropWhere(TVdbStorage& st, bool modifiedOnly, std::int64_t fromKey) {
  std::vector<std::int64_t> keys;
  for (auto& [key, page] : st.FCachedPages) {
    if (key >= fromKey && (!modifiedOnly || page->FClientHdl != 0)) keys.push_back(key);
  }
  for (std::int64_t key : keys) Drop(st, key);
}

void TVdbPageManager::ApplyCacheLimit() {
  const std::int64_t threshold = FCacheLimit * kVdbCacheReducePercent / 100;
  auto trimPools = [&] {
    while (FCacheSize >= threshold) {
      auto largest = FTileCaches.end();
      for (auto it = FTileCaches.begin(); it != FTileCaches.end(); ++it) {
        if (!it->second.empty() &&
            (largest == FTileCaches.end() || it->second.size() > largest->second.size())) {
          largest = it;
        }
      }
      if (largest == FTileCaches.end()) return;
      auto& pool = largest->second;
      const std::size_t keep = pool.size() / 2;
      FCacheSize -= static_cast<std::int64_t>(pool.size() - keep) * largest->first;
      pool.resize(keep);
    }
  };
  if (FCacheLimit == 0) {
    // No budget registered (no session, or the last one left): keep no idle memory.
    for (auto& [size, pool] : FTileCaches) {
      FCacheSize -= static_cast<std::int64_t>(pool.size()) * size;
      pool.clear();
    }
    return;
  }
  if (FCacheSize < threshold) return;
  trimPools();
  if (FCacheSize >= threshold) {
    // Pools alone were not enough: give back clean buffers nobody holds, least recently used
    // first, down to half the limit so that the next allocations do not come straight back.
    std::vector<std::pair<std::uint64_t, std::pair<TVdbStorage*, std::int64_t>>> victims;
    for (auto& st : FStorages) {
      if (!st) continue;
      for (auto& [key, page] : st->FCachedPages) {
        if (page->FClientHdl == 0 && page->FLocks == 0) {
          victims.push_back({page->FGeneration, {st.get(), key}});
        }
      }
    }
    std::sort(victims.begin(), victims.end());
    const std::int64_t target = FCacheLimit / 2;
    for (auto& [generation, where] : victims) {
      if (FCacheSize < target) break;
      auto& pages = where.first->FCachedPages;
      auto it = pages.find(where.second);
      FCacheSize -= it->second->FMemorySize;
      pages.erase(it);
    }
    trimPools();
  }
  if (FCacheSize > FCacheLimit) {
    Log(2, u"Cache size is over limit (" + Number(FCacheLimit) + u") but cannot be reduced");
  }
}

}  // namespace vdb
