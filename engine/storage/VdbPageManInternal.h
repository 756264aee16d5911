// The page manager's shared records: one cached buffer, one open file, and the small helpers
// of its messages. Internal to engine/storage; guarded by the manager lock.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>

#include "base/VdbFormat.h"
#include "storage/VdbPageMan.h"

namespace vdb {

// One cached buffer: one tile, or the tiles of one page larger than a tile.
struct TVdbStoragePage {
  std::unique_ptr<std::uint8_t[]> FMemory;
  std::int32_t FMemorySize = 0;
  std::int32_t FClientHdl = 0;  // 0 clean, > 0 modified by that client
  std::int64_t FTileNo = 0;     // first tile
  std::int32_t FLocks = 0;      // pins by page sites
  bool FStale = false;
  std::uint64_t FGeneration = 0;  // last use, for dropping the least recently used
};

// One open file shared by its client storages.
struct TVdbStorage {
  std::u16string FName;
  TvuFileSystem* FFileSystem = nullptr;
  TvuFileId FId;
  bool FReadOnly = false;
  bool FExclusive = false;
  TvuFileHandle FFileHdl = kvuInvalidHandle;
  std::unique_ptr<TVdbEncryption> FEncryption;
  std::int32_t FTileSize = 0;
  std::int64_t FTileCount = 0;
  // Tiles at the start of the file whose bytes belong to the storage. Tiles beyond it (cut
  // off by SetPageCount and not flushed yet) still hold old bytes in the file; a page that
  // grows back into them must read as zeros, not as those old bytes.
  std::int64_t FValidTiles = 0;
  std::int32_t FPageSize = 0;  // 0 until the first client sets it
  std::int32_t FRefCounter = 0;
  // Bytes were written since the file was last forced to the device.
  bool FUnsynced = false;
  // The file's length before zero tiles were reserved for changes not flushed yet (-1: none
  // reserved): Undo, Invalidate and the last Close give that room back.
  std::int64_t FReservedFrom = -1;
  std::unordered_map<std::int64_t, std::unique_ptr<TVdbStoragePage>> FCachedPages;
  std::set<std::int64_t> FModified;  // keys of modified buffers, in file order

  std::int32_t BufferTiles() const { return std::max(1, FPageSize / FTileSize); }
  std::int32_t BufferSize() const { return BufferTiles() * FTileSize; }
  // Key (first tile) of the buffer holding byte `pos`.
  std::int64_t KeyOfPos(std::int64_t pos) const {
    const std::int64_t tile = pos / FTileSize;
    return tile - tile % BufferTiles();
  }
  std::int64_t KeyOfPage(std::int64_t pageNo) const { return KeyOfPos(pageNo * FPageSize); }
  std::int64_t PageCount() const { return FTileCount * FTileSize / FPageSize; }
  // Tiles needed for `bytes`, rounded up to whole buffers.
  std::int64_t TilesFor(std::int64_t bytes) const {
    const std::int64_t unit = BufferSize();
    return (bytes + unit - 1) / unit * BufferTiles();
  }
};

namespace pageman {

inline std::u16string Quoted(std::u16string_view name) { return u"\"" + std::u16string(name) + u"\""; }

inline std::u16string Number(std::int64_t n) { return VdbUtf8ToUtf16(std::to_string(n)); }

inline bool ValidPageSize(std::int32_t pageSize, std::int32_t tileSize) {
  return pageSize > 0 && tileSize > 0 &&
         (pageSize % tileSize == 0 || tileSize % pageSize == 0);
}

}  // namespace pageman

}  // namespace vdb
