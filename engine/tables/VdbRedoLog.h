// The redo log of one stored table in a transaction: what the table looked like before each
// append, replace and delete of the transaction, so that the changes can be undone in reverse
// order, explicitly (rollback) or after a crash, the next time the table is opened.
//
// File format (little-endian, written sequentially, read backwards; stored on disk: never
// renumber):
//
//   offset  size  content
//   0       4     magic, the bytes B0 C0 D0 E0
//   4       4     0 (a length of 0 stops the backward reading)
//   8       ...   entries
//
// Every entry ends with a 4-byte length L = the entry's bytes before that length field:
//   insert  kind 0 (1 byte), record number (4)                           L = 5
//   update  kind 1, record number, the record before the change (record size bytes),
//           L = 5 + record size; then one blob entry per memo/blob value of that record
//   delete  kind 2, record number, the deleted record, L; then its blob entries
//   blob    kind 3 (bytes) or 4 (UTF-16 text, 2 bytes a character), field number (4), the
//           data, L = 5 + data length
//
// States and guarantees:
//   closed   no file handle; the object may name a log left on disk by a dead writer.
//   writing  (NewFile) the file is held open with exclusive sharing by the writing session,
//            so no other opener (recovery of another session) can take it while the writer
//            lives; every Log… call has its entry handed to the operating system when it
//            returns (a killed writer leaves it behind).
//   reading  (Open) an abandoned log was taken exclusively; ReadPriorAction walks it back.
//
// Durability rules:
//   1. An entry is written before the change it undoes is made (the caller logs first and
//      changes afterwards). Entries are forced to the device once per group, by Sync, which
//      the table calls before the first changed page of a group reaches its files: one
//      sync for many entries, as a rollback journal does. Only a secure log (the table's
//      secure flush mode) syncs at all; a new secure log also syncs its directory the first
//      time, so that the file is found after a power loss.
//   2. A failed write cuts the file back to the last complete entry, so the log never ends in
//      a torn entry while its writer lives; a log cut short by a crash is read from the last
//      position whose entries chain back to offset 8 (a torn tail describes a change that
//      was never made; a record entry whose memo/blob values were cut off with it is
//      such a tail too, MayBeTorn tells when that can be).
//   3. Erase of a secure log is on the device when it returns: the file is cut to nothing
//      and synced before it is deleted, so a log that comes back after a power loss is
//      empty and undoes nothing that was committed.
//
// Errors raise EVdbEngine: 3 when the log cannot be written or created, 2 when it cannot be
// read.
//
// Threads: one table object, one thread at a time.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "storage/vuFileSystem.h"
#include "tables/VdbRelation.h"

namespace vdb {

enum TVdbTableActionKind : std::uint8_t { takInsert = 0, takUpdate = 1, takDelete = 2, takBlob = 3, takWideMemo = 4 };

// Stored on disk: never renumber.
inline constexpr std::uint8_t kVdbRedoMagic[4] = {0xB0, 0xC0, 0xD0, 0xE0};
inline constexpr std::int64_t kVdbRedoHeaderSize = 8;
inline constexpr std::int64_t kVdbRedoLengthSize = 4;
// Open mode of a redo log: read and write, exclusive.
inline constexpr std::uint32_t kVdbRedoOpenMode = fmOpenReadWrite | fmShareExclusive;

class TVdbRedoLog {
 public:
  // The log of the table whose data file is `dataFile` (the name follows the level and the
  // relation-table form). `fs` must outlive the object.
  TVdbRedoLog(TvuFileSystem& fs, std::u16string dataFile, int tableLevel, bool isRel, std::int32_t recordSize,
              bool secure = false);
  ~TVdbRedoLog();
  TVdbRedoLog(const TVdbRedoLog&) = delete;
  TVdbRedoLog& operator=(const TVdbRedoLog&) = delete;

  const std::u16string& FileName() const noexcept { return FFileName; }
  bool IsOpen() const noexcept { return FLogFile != kvuInvalidHandle; }
  bool Exists() const { return FFileSystem.FileExists(FFileName); }

  // Creates the file (replacing an abandoned one), writes the header and flushes it; the log
  // is then held for writing. Raises 3.
  void NewFile();
  // Takes an existing log for reading backwards from its end. False when there is none or
  // its writer still holds it (a live transaction of another session). Raises 2 when it
  // opens but cannot be read.
  bool Open();
  void Close() noexcept;
  // Closes and deletes the file. Raises 3 when it cannot be deleted.
  void Erase();
  // Forces the entries written since the last Sync to the device (secure logs only; the
  // first time also the directory). Raises 3.
  void Sync();
  // Entries written and not yet synced.
  bool Unsynced() const noexcept { return FUnsynced; }
  // Whether the log holds no entry (only its header).
  bool Empty() const noexcept { return FPosition <= kVdbRedoHeaderSize; }

  // Logging (writing state only); `blobs` are the memo, wide-memo and blob values of
  // `record` (entries with field number 0 or no data are left out); `wideFields` tells which
  // field numbers hold UTF-16 text.
  void LogInsert(std::int32_t recordNo);
  void LogUpdate(std::int32_t recordNo, std::span<const std::uint8_t> record, const TVdbBlobDataList& blobs,
                 const std::vector<std::int32_t>& wideFields = {});
  void LogDelete(std::int32_t recordNo, std::span<const std::uint8_t> record, const TVdbBlobDataList& blobs,
                 const std::vector<std::int32_t>& wideFields = {});

  // Steps back over the previous record entry (collecting the blob entries after it). False
  // at the start of the log.
  bool ReadPriorAction();
  TVdbTableActionKind LastActionKind() const noexcept { return FLastActionKind; }
  std::int32_t LastActionRecordNo() const noexcept { return FLastActionRecordNo; }
  const std::vector<std::uint8_t>& LastActionRecBuffer() const noexcept { return FLastActionRecBuffer; }
  const TVdbBlobDataList& LastActionBlobs() const noexcept { return FLastActionBlobs; }
  std::int64_t Position() const noexcept { return FPosition; }
  // After Open: the last write may have been cut short by its writer's death, so the last
  // entry may lack values that were to follow it.
  bool MayBeTorn() const noexcept { return FMayBeTorn; }

 private:
  void LogRecord(TVdbTableActionKind kind, std::int32_t recordNo, std::span<const std::uint8_t> record,
                 const TVdbBlobDataList& blobs, const std::vector<std::int32_t>& wideFields);
  // Appends `bytes` at FPosition; on failure cuts back and raises 3.
  void Append(const std::vector<std::uint8_t>& bytes);
  void ReadAt(std::int64_t pos, void* data, std::int64_t count);
  // Whether the entry whose length field ends at `end` is plausible; its start in `start`.
  bool EntryBefore(std::int64_t end, std::int64_t size, std::int64_t& start);
  // The last position up to `size` from which the entries chain back to the header.
  std::int64_t FindValidEnd(std::int64_t size);

  TvuFileSystem& FFileSystem;
  std::u16string FFileName;
  TvuFileHandle FLogFile = kvuInvalidHandle;
  std::int32_t FRecordSize;
  std::int64_t FPosition = 0;
  bool FSecure = false;
  bool FUnsynced = false;
  bool FDirectorySynced = false;
  bool FMayBeTorn = false;
  TVdbTableActionKind FLastActionKind = takInsert;
  std::int32_t FLastActionRecordNo = 0;
  std::vector<std::uint8_t> FLastActionRecBuffer;
  TVdbBlobDataList FLastActionBlobs;
};

}  // namespace vdb
