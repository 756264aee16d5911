// The heap data file: fixed-size records numbered densely 1..n behind the header. Levels 5
// and 6 read and write (new files are created at level 6, or 5 on request); levels 1 to 4
// open and read. Layouts are in the comment of VdbHeapDataFile.cpp.
//
// Record count. A stored count larger than the storage can hold (a file cut short, or a
// damaged header) is lowered in memory when the file opens, so that no record beyond the end
// is ever read. The header keeps the stored value until a session with write access calls
// StoreRecordCount under its write lock; a read-only open never writes.
//
// Threads: one thread at a time per object (see VdbDataFile.h).
#pragma once

#include "storage/VdbDataFile.h"

namespace vdb {

class TVdbHeapDataFile final : public TVdbDataFile {
 public:
  using TVdbDataFile::TVdbDataFile;

  bool CanDelete() const noexcept override { return false; }
  std::int64_t GetStorageSize() const override;
  std::int32_t GetRecordCount() const override { return FFileSize; }
  std::int64_t IndexNamesPosition() const override;
  std::int64_t IndexNamesSize() const override;
  std::int64_t RecordCountPosition() const override;
  std::int64_t NextRecordIdPosition() const override;

  void Open(bool readOnly, bool exclusive, TvuCryptor& cryptor, TVdbTableDefinition& def) override;
  void NewFile(int level, TvuCryptor& cryptor, const TVdbTableDefinition& def, bool exclusive) override;
  void Close() override;
  void Clear() override;
  void Undo() override;
  void Invalidate() override;

  bool CanAppend() const override { return FFileSize < VDB_MAX_RECORD_COUNT; }
  std::int32_t GetFirstRecordNo() const override { return FFileSize > 0 ? 1 : -errRecordNotFoundResult; }
  std::int32_t GetNextRecordNo(std::int32_t recNo) const override;
  std::int32_t GetPrevRecordNo(std::int32_t recNo) const override;
  std::int32_t GetLastRecordNo() const override { return FFileSize > 0 ? FFileSize : -errRecordNotFoundResult; }
  void ReadRecord(std::int32_t recNo, std::span<std::uint8_t> buffer) override;
  void WriteRecord(std::int32_t recNo, std::span<const std::uint8_t> buffer) override;
  std::int32_t InsertRecord(std::span<const std::uint8_t> buffer) override;
  void DeleteRecord(std::int32_t recNo) override;

  // File position where record 1 starts.
  std::int64_t RecordAreaStart() const noexcept { return FFileOffset; }
  // True when the count read at open (or the last Invalidate/Undo) was larger than the file
  // can hold and was lowered in memory.
  bool RecordCountWasCorrected() const noexcept { return FCountCorrected; }
  // Writes the count in memory to the header. Only for a session with write access that holds
  // the table's write lock; raises 115 on a read-only file.
  void StoreRecordCount();

 private:
  static constexpr std::int32_t errRecordNotFoundResult = 19;
  void ReadNewHeader(TVdbTableDefinition& def);
  void ReadOldHeader(TVdbTableDefinition& def);
  void ParseOldHeader(TVdbTableDefinition& def, std::span<const std::uint8_t> bytes);
  // Reads the stored count and lowers it to what the storage holds.
  void LoadRecordCount();
  void WriteCount();
  void CheckRecNo(std::int32_t recNo) const;
  void SetPageCountFor(std::int64_t bytes);
  // Error path of NewFile: drops the half-written file.
  void DiscardNewFile() noexcept;

  std::int32_t FFileSize = 0;       // record count
  std::int64_t FFileOffset = 0;     // record-area start
  std::int64_t FNextIdPosition = 0;
  bool FCountCorrected = false;
};

}  // namespace vdb
