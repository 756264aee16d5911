// The B+ data file: records as the items of a B+ tree keyed by record id. Its tree lives in
// the B+ tree unit; until that unit exists this class refuses to open or create a file with
// engine error 187 ("This feature is not supported: B+ data files"), so a B+ table is never
// mistaken for a damaged heap file.
//
// Threads: one thread at a time per object (see VdbDataFile.h).
#pragma once

#include "storage/VdbDataFile.h"

namespace vdb {

class TVdbBPlusDataFile final : public TVdbDataFile {
 public:
  using TVdbDataFile::TVdbDataFile;

  bool CanDelete() const noexcept override { return true; }
  std::int64_t GetStorageSize() const override { return 0; }
  std::int32_t GetRecordCount() const override { return 0; }
  // Header positions (stored on disk: never renumber).
  std::int64_t IndexNamesPosition() const override { return 33; }
  std::int64_t IndexNamesSize() const override { return 4502; }
  std::int64_t RecordCountPosition() const override { return -1; }
  std::int64_t NextRecordIdPosition() const override { return 6; }

  // Both raise 187.
  void Open(bool readOnly, bool exclusive, TvuCryptor& cryptor, TVdbTableDefinition& def) override;
  void NewFile(int level, TvuCryptor& cryptor, const TVdbTableDefinition& def, bool exclusive) override;

  void Clear() override { Refuse(); }
  bool CanAppend() const override { return false; }
  std::int32_t GetFirstRecordNo() const override { return -19; }
  std::int32_t GetNextRecordNo(std::int32_t) const override { return -19; }
  std::int32_t GetPrevRecordNo(std::int32_t) const override { return -19; }
  std::int32_t GetLastRecordNo() const override { return -19; }
  void ReadRecord(std::int32_t, std::span<std::uint8_t>) override { Refuse(); }
  void WriteRecord(std::int32_t, std::span<const std::uint8_t>) override { Refuse(); }
  std::int32_t InsertRecord(std::span<const std::uint8_t>) override { Refuse(); }
  void DeleteRecord(std::int32_t) override { Refuse(); }

 private:
  [[noreturn]] static void Refuse();
};

}  // namespace vdb
