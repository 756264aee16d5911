// Helpers of the data, memo and blob file tests: an in-memory file system with its own page
// manager, table definitions made from column descriptions, and byte patching of stored
// files. Test thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/VdbErrors.h"
#include "storage/VdbDataFile.h"
#include "storage/VdbHeapDataFile.h"
#include "storage/vuMemoryFileSystem.h"
#include "base/vuLittleEndian.h"

namespace vdb::test {

struct TColumnSpec {
  std::u16string Name;
  TVdbColumnType Type;
  bool Nullable = false;
  std::int32_t Length = 0;
  std::u16string Collation = {};
};

inline TVdbTableDefinition MakeDefinition(const std::vector<TColumnSpec>& specs, int level = 6,
                                          std::u16string tableCollation = {}) {
  TVdbTableDefinition def;
  def.CollationName = std::move(tableCollation);
  for (const auto& s : specs) {
    TVdbNewColumn c;
    c.Name = s.Name;
    c.ColumnType = s.Type;
    c.Nullable = s.Nullable;
    c.Length = s.Length;
    c.CollationName = s.Collation;
    def.ColumnDefs.Add(VdbMakeColumnDef(c, level, def.CollationName));
  }
  return def;
}

// The engine error code `f` raises, or 0 when it returns.
inline int EngineCode(const std::function<void()>& f) {
  try {
    f();
  } catch (const EVdbEngine& e) {
    return e.Code();
  }
  return 0;
}

// A memory file system with a page manager of its own, as one session sees them.
class TStorageWorld {
 public:
  TStorageWorld() { PageManager.RegisterClient(1, 8192); }
  ~TStorageWorld() { PageManager.UnregisterClient(1, 8192); }

  std::unique_ptr<TVdbHeapDataFile> HeapFile(const std::u16string& name = u"/T.vdbt") {
    return std::make_unique<TVdbHeapDataFile>(PageManager, Fs, name, 1);
  }
  std::vector<std::uint8_t> Bytes(const std::u16string& name) { return Fs.Contents(name); }
  // Replaces a file's bytes (the file must not be open).
  void Store(const std::u16string& name, const std::vector<std::uint8_t>& bytes) {
    const TvuFileHandle h = Fs.CreateFile(name);
    if (!TvuFileSystem::IsValidHandle(h)) {
      ADD_FAILURE() << "cannot replace a file that is still open";
      return;
    }
    if (!bytes.empty()) Fs.FileWrite(h, 0, bytes.data(), static_cast<std::int64_t>(bytes.size()));
    Fs.CloseFile(h);
  }
  void Patch32(const std::u16string& name, std::size_t offset, std::uint32_t value) {
    auto bytes = Bytes(name);
    vuPutU32(bytes.data() + offset, value);
    Store(name, bytes);
  }

  TvuMemoryFileSystem Fs;
  TVdbPageManager PageManager;
};

}  // namespace vdb::test
