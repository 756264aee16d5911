#include "tables/VdbRedoLog.h"

#include <algorithm>
#include <cstring>

#include "base/VdbErrorCodes.h"
#include "base/VdbErrors.h"
#include "base/vuLittleEndian.h"
#include "tables/VdbTableNames.h"

namespace vdb {

namespace {

constexpr std::int64_t kKindAndNumber = 5;

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  std::uint8_t b[4];
  vuPutU32(b, v);
  out.insert(out.end(), b, b + 4);
}

}  // namespace

TVdbRedoLog::TVdbRedoLog(TvuFileSystem& fs, std::u16string dataFile, int tableLevel, bool isRel,
                         std::int32_t recordSize, bool secure)
    : FFileSystem(fs), FRecordSize(recordSize), FSecure(secure) {
  // The name follows the data file's extension, which already marks a relation table.
  static_cast<void>(isRel);
  FFileName = TVdbTableFileNames(std::move(dataFile), tableLevel).RedoLogFile();
}

TVdbRedoLog::~TVdbRedoLog() { Close(); }

void TVdbRedoLog::NewFile() {
  Close();
  FLogFile = FFileSystem.CreateFile(FFileName);
  if (FLogFile == kvuInvalidHandle) RaiseEngineError(errFileWrite, {FFileName});
  FPosition = 0;
  FDirectorySynced = false;
  std::vector<std::uint8_t> header(kVdbRedoMagic, kVdbRedoMagic + 4);
  PutU32(header, 0);
  try {
    Append(header);
  } catch (const EVdbEngine&) {
    Close();
    static_cast<void>(FFileSystem.DeleteFile(FFileName));
    throw;
  }
}

bool TVdbRedoLog::Open() {
  Close();
  if (!FFileSystem.FileExists(FFileName)) return false;
  FLogFile = FFileSystem.OpenFile(FFileName, kVdbRedoOpenMode);
  if (FLogFile == kvuInvalidHandle) {
    // A writer that still lives holds its log exclusively: its transaction is not ours to undo.
    if (vuIsBusyError(FFileSystem.GetLastError())) return false;
    if (!FFileSystem.FileExists(FFileName)) return false;
    RaiseEngineError(errFileRead, {FFileName});
  }
  std::int64_t size = 0;
  try {
    size = FFileSystem.GetFileSize(FLogFile);
  } catch (const EVdbEngine&) {
    Close();
    throw;
  }
  std::uint8_t header[kVdbRedoHeaderSize] = {};
  if (size < kVdbRedoHeaderSize ||
      FFileSystem.FileRead(FLogFile, 0, header, kVdbRedoHeaderSize) != kVdbRedoHeaderSize ||
      std::memcmp(header, kVdbRedoMagic, 4) != 0) {
    // The writer died before the header was complete: nothing was changed under this log.
    FPosition = size < kVdbRedoHeaderSize ? 0 : kVdbRedoHeaderSize;
    return true;
  }
  FPosition = FindValidEnd(size);
  // A write stopped by the writer's death ends at a page boundary of the file, or leaves
  // bytes behind the last complete entry.
  FMayBeTorn = FPosition != size || size % 512 == 0;
  return true;
}

void TVdbRedoLog::Close() noexcept {
  if (FLogFile == kvuInvalidHandle) return;
  static_cast<void>(FFileSystem.CloseFile(FLogFile));
  FLogFile = kvuInvalidHandle;
}

void TVdbRedoLog::Erase() {
  if (FLogFile != kvuInvalidHandle) {
    // Emptied while still held: between closing and deleting, another session could take the
    // log for abandoned and undo changes that are committed.
    try {
      FFileSystem.SetFileSize(FLogFile, 0);
    } catch (const EVdbEngine&) {
      Close();
      throw;
    }
    if (FSecure && !FFileSystem.FlushFile(FLogFile)) {
      Close();
      RaiseEngineError(errFileWrite, {FFileName});
    }
  }
  Close();
  FPosition = 0;
  FUnsynced = false;
  if (FFileSystem.FileExists(FFileName) && !FFileSystem.DeleteFile(FFileName)) {
    RaiseEngineError(errFileWrite, {FFileName});
  }
}

void TVdbRedoLog::Append(const std::vector<std::uint8_t>& bytes) {
  if (FLogFile == kvuInvalidHandle) RaiseEngineError(errFileWrite, {FFileName});
  const auto n = static_cast<std::int64_t>(bytes.size());
  FUnsynced = true;
  if (FFileSystem.FileWrite(FLogFile, FPosition, bytes.data(), n) != n) {
    // Never leave a torn entry behind a live writer: the next entry starts where this one did.
    try {
      FFileSystem.SetFileSize(FLogFile, FPosition);
    } catch (const EVdbEngine&) {
      // The reader finds the last complete entry by itself.
    }
    RaiseEngineError(errFileWrite, {FFileName});
  }
  FPosition += n;
}

void TVdbRedoLog::Sync() {
  if (!FSecure || !FUnsynced) return;
  if (FLogFile == kvuInvalidHandle || !FFileSystem.FlushFile(FLogFile)) RaiseEngineError(errFileWrite, {FFileName});
  if (!FDirectorySynced) {
    if (!FFileSystem.FlushDirectoryOf(FFileName)) RaiseEngineError(errFileWrite, {FFileName});
    FDirectorySynced = true;
  }
  FUnsynced = false;
}

void TVdbRedoLog::LogInsert(std::int32_t recordNo) {
  std::vector<std::uint8_t> bytes;
  bytes.push_back(takInsert);
  PutU32(bytes, static_cast<std::uint32_t>(recordNo));
  PutU32(bytes, static_cast<std::uint32_t>(kKindAndNumber));
  Append(bytes);
}

void TVdbRedoLog::LogUpdate(std::int32_t recordNo, std::span<const std::uint8_t> record, const TVdbBlobDataList& blobs,
                            const std::vector<std::int32_t>& wideFields) {
  LogRecord(takUpdate, recordNo, record, blobs, wideFields);
}

void TVdbRedoLog::LogDelete(std::int32_t recordNo, std::span<const std::uint8_t> record, const TVdbBlobDataList& blobs,
                            const std::vector<std::int32_t>& wideFields) {
  LogRecord(takDelete, recordNo, record, blobs, wideFields);
}

void TVdbRedoLog::LogRecord(TVdbTableActionKind kind, std::int32_t recordNo, std::span<const std::uint8_t> record,
                            const TVdbBlobDataList& blobs, const std::vector<std::int32_t>& wideFields) {
  if (record.size() < static_cast<std::size_t>(FRecordSize)) RaiseEngineError(errInvalidParameterValue, {u"record"});
  // The record entry and its blob entries go out in one write, so that a crash leaves either
  // all of them or a tail the reader drops.
  std::vector<std::uint8_t> bytes;
  bytes.push_back(kind);
  PutU32(bytes, static_cast<std::uint32_t>(recordNo));
  bytes.insert(bytes.end(), record.begin(), record.begin() + FRecordSize);
  PutU32(bytes, static_cast<std::uint32_t>(kKindAndNumber + FRecordSize));
  for (const TVdbBlobData& b : blobs) {
    if (b.FieldNo <= 0 || b.Data.empty()) continue;
    const bool wide = std::find(wideFields.begin(), wideFields.end(), b.FieldNo) != wideFields.end();
    bytes.push_back(wide ? takWideMemo : takBlob);
    PutU32(bytes, static_cast<std::uint32_t>(b.FieldNo));
    bytes.insert(bytes.end(), b.Data.begin(), b.Data.end());
    PutU32(bytes, static_cast<std::uint32_t>(kKindAndNumber + static_cast<std::int64_t>(b.Data.size())));
  }
  Append(bytes);
}

void TVdbRedoLog::ReadAt(std::int64_t pos, void* data, std::int64_t count) {
  if (FLogFile == kvuInvalidHandle || FFileSystem.FileRead(FLogFile, pos, data, count) != count) {
    RaiseEngineError(errFileRead, {FFileName});
  }
}

bool TVdbRedoLog::EntryBefore(std::int64_t end, std::int64_t size, std::int64_t& start) {
  if (end < kVdbRedoHeaderSize + kVdbRedoLengthSize || end > size) return false;
  std::uint8_t b[4];
  ReadAt(end - kVdbRedoLengthSize, b, 4);
  const std::int64_t length = vuGetU32(b);
  if (length < kKindAndNumber) return false;
  start = end - kVdbRedoLengthSize - length;
  if (start < kVdbRedoHeaderSize) return false;
  std::uint8_t kind = 0;
  ReadAt(start, &kind, 1);
  switch (kind) {
    case takInsert:
      return length == kKindAndNumber;
    case takUpdate:
    case takDelete:
      return length == kKindAndNumber + FRecordSize;
    case takBlob:
    case takWideMemo:
      return true;
    default:
      return false;
  }
}

std::int64_t TVdbRedoLog::FindValidEnd(std::int64_t size) {
  // Entries are small and the log is read once, so trying every end from the file's end
  // downwards costs little and only happens after a crash in the middle of a write.
  for (std::int64_t end = size; end > kVdbRedoHeaderSize; --end) {
    std::int64_t pos = end;
    std::int64_t start = 0;
    while (pos > kVdbRedoHeaderSize && EntryBefore(pos, size, start)) pos = start;
    if (pos == kVdbRedoHeaderSize) return end;
  }
  return kVdbRedoHeaderSize;
}

bool TVdbRedoLog::ReadPriorAction() {
  FLastActionBlobs.clear();
  for (;;) {
    if (FPosition < kVdbRedoHeaderSize + kVdbRedoLengthSize) return false;
    std::uint8_t b[4];
    ReadAt(FPosition - kVdbRedoLengthSize, b, 4);
    const std::int64_t length = vuGetU32(b);
    if (length < 1) return false;
    const std::int64_t start = FPosition - kVdbRedoLengthSize - length;
    if (start < kVdbRedoHeaderSize || length < kKindAndNumber) RaiseEngineError(errFileRead, {FFileName});
    std::vector<std::uint8_t> entry(static_cast<std::size_t>(length));
    ReadAt(start, entry.data(), length);
    FPosition = start;
    const auto kind = static_cast<TVdbTableActionKind>(entry[0]);
    const auto number = static_cast<std::int32_t>(vuGetU32(entry.data() + 1));
    switch (kind) {
      case takBlob:
      case takWideMemo:
        FLastActionBlobs.insert(FLastActionBlobs.begin(),
                                TVdbBlobData{number, std::vector<std::uint8_t>(entry.begin() + kKindAndNumber, entry.end()),
                                             false});
        continue;
      case takInsert:
        if (length != kKindAndNumber) RaiseEngineError(errFileRead, {FFileName});
        FLastActionRecBuffer.clear();
        break;
      case takUpdate:
      case takDelete:
        if (length != kKindAndNumber + FRecordSize) RaiseEngineError(errFileRead, {FFileName});
        FLastActionRecBuffer.assign(entry.begin() + kKindAndNumber, entry.end());
        break;
      default:
        RaiseEngineError(errFileRead, {FFileName});
    }
    FLastActionKind = kind;
    FLastActionRecordNo = number;
    return true;
  }
}

}  // namespace vdb
