// The table data file: the table's definition (its header) and its fixed-size records. This
// unit holds the interface every data file implements, the header parts they share (the
// index-name area, the definition block of levels 5 and 6 with its check string and stored
// password) and the byte transfer through the file's page site. TVdbHeapDataFile
// (VdbHeapDataFile.h) stores records densely numbered 1..n; TVdbBPlusDataFile stores them in a
// B+ tree. VdbOpenDataFile chooses the implementation from a file's first bytes.
//
// Everything read from a file is checked before it is used: every size and count of a header
// is compared with the bytes that are really there before anything is allocated from it, so a
// damaged file gives engine error 134 (or 124, 38, 2), never a crash or an unbounded
// allocation.
//
// Threads: a data file object belongs to one table object and is used by one thread at a time.
// The page manager below it serialises access to shared storages.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "storage/VdbFileStorage.h"
#include "storage/VdbPageMan.h"
#include "storage/vuCrypt.h"
#include "types/VdbDefinitions.h"

namespace vdb {

// Magic of heap data files (bytes 64 AA 57 FF) and of B+ data files (bytes E2 5B 31 01).
inline constexpr std::uint32_t kVdbHeapMagic = 0xFF57AA64u;
inline constexpr std::uint32_t kVdbBPlusMagic = 20012002u;
inline constexpr int VDB_MAX_TABLE_LEVEL = 6;
inline constexpr int VDB_MAX_INDEX_NAMES = 50;
inline constexpr int VDB_MAX_INDEX_NAME_LENGTH = 44;
// Records of a heap file are numbered 1..2147483646 at most.
inline constexpr std::int32_t VDB_MAX_RECORD_COUNT = 2147483647;
// Page size of new data files.
inline constexpr std::int32_t VDB_DATA_PAGE_SIZE = 4096;

// Everything a header holds besides records, counts and index names.
struct TVdbTableDefinition {
  std::int32_t Capacity = 10000000;  // expected maximum number of records (> 0)
  std::u16string CollationName;      // empty: the built-in collation
  TVdbTypeDefs Types;
  TVdbColumnDefs ColumnDefs;
  TVdbCheckDefs CheckDefs;
  TVdbCandidateKeyDefs KeyDefs;
  TVdbForeignKeyDefs ForeignKeyDefs;
  // Old headers: 16 bytes of range data per column with a range constraint, kept unchanged.
  std::vector<std::array<std::uint8_t, 16>> RangeData;
  // Old headers of levels 3 and 4: the stored collation code (up to 3 characters).
  std::string OldCollationCode;
};

// A bounded reader over bytes read from a file: every read past the end raises `code`.
class TVdbByteReader {
 public:
  TVdbByteReader(std::span<const std::uint8_t> bytes, std::int16_t code) : FBytes(bytes), FCode(code) {}
  std::uint8_t U8();
  std::int16_t I16();
  std::uint16_t U16();
  std::int32_t I32();
  // 16-bit character count + UTF-16LE code units.
  std::u16string Str16();
  // 16-bit byte count + 8-bit characters.
  std::string Str16A();
  // 1 length byte + up to `capacity` bytes, always consuming 1 + capacity bytes.
  std::string ShortString(std::size_t capacity);
  std::span<const std::uint8_t> Bytes(std::size_t count);
  void Skip(std::size_t count) { Bytes(count); }
  std::size_t Position() const noexcept { return FPos; }
  std::size_t Remaining() const noexcept { return FBytes.size() - FPos; }
  // Raises the reader's code unless `count` items of at least `itemSize` bytes can be there.
  void CheckCount(std::int64_t count, std::size_t itemSize) const;
  [[noreturn]] void Fail() const;

 private:
  std::span<const std::uint8_t> FBytes;
  std::size_t FPos = 0;
  std::int16_t FCode;
};

// A growing little-endian byte writer for headers.
class TVdbByteWriter {
 public:
  void U8(std::uint8_t v) { FBytes.push_back(v); }
  void I16(std::int16_t v);
  void I32(std::int32_t v);
  void Str16(std::u16string_view s);
  // A Str16 padded with zero code units to `chars` characters.
  void Fixed(std::u16string_view s, std::size_t chars);
  void Bytes(std::span<const std::uint8_t> b) { FBytes.insert(FBytes.end(), b.begin(), b.end()); }
  std::vector<std::uint8_t>& Data() noexcept { return FBytes; }

 private:
  std::vector<std::uint8_t> FBytes;
};

class TVdbDataFile {
 public:
  // `fs` and `pageManager` must outlive the object. `clientHdl` (> 0) is the session that owns
  // the changes. `fileName` is the data file's name as the file system resolves it.
  TVdbDataFile(TVdbPageManager& pageManager, TvuFileSystem& fs, std::u16string fileName,
               std::int32_t clientHdl);
  virtual ~TVdbDataFile();
  TVdbDataFile(const TVdbDataFile&) = delete;
  TVdbDataFile& operator=(const TVdbDataFile&) = delete;

  virtual bool CanDelete() const noexcept = 0;
  bool IsOpen() const noexcept { return FStorage.IsOpen(); }
  // Every Flush also forces the file to the device (secure flush mode).
  void SetDeepFlush(bool value) noexcept { FStorage.SetDeepFlush(value); }
  // Bytes the file's content takes (record-area start + count × record size for heap files).
  virtual std::int64_t GetStorageSize() const = 0;
  virtual std::int32_t GetRecordCount() const = 0;
  // Header positions of the index-name area, its size, the stored count and next id.
  virtual std::int64_t IndexNamesPosition() const = 0;
  virtual std::int64_t IndexNamesSize() const = 0;
  virtual std::int64_t RecordCountPosition() const = 0;
  virtual std::int64_t NextRecordIdPosition() const = 0;

  // Opens the file and reads its header into `def` (cleared first) and the index names.
  // `cryptor` (not owned, must outlive the open file) holds the caller's key; its method is
  // set from the header. Raises 124 (not a heap file), 134 (unknown level or corrupt header),
  // 38 (wrong key), 2 (read failure), the page manager's open errors as 1/37. A failure
  // leaves the file closed. A read-only open never writes.
  virtual void Open(bool readOnly, bool exclusive, TvuCryptor& cryptor, TVdbTableDefinition& def) = 0;
  // Creates the file with a complete header and no records and leaves it open for reading
  // and writing. Raises 72 when the file exists, 117 for a refused method, 186 when the
  // cryptor cannot be initialised, 134 for an invalid definition; on a write failure the file
  // is removed and the error (3) raised.
  virtual void NewFile(int level, TvuCryptor& cryptor, const TVdbTableDefinition& def,
                       bool exclusive) = 0;
  // Releases the storage (unflushed changes are dropped). Safe when not open.
  virtual void Close();
  // Sets the count to 0 and cuts the file to its header.
  virtual void Clear() = 0;
  // Writes changes to the file (code 3 on failure).
  virtual void Flush();
  // Discards unwritten changes and rereads the count.
  virtual void Undo();
  // Drops every cached page and rereads the count (other processes' changes become visible).
  virtual void Invalidate();

  virtual bool CanAppend() const = 0;
  // Record navigation: numbers, or -19 beyond the ends and for an empty table.
  virtual std::int32_t GetFirstRecordNo() const = 0;
  virtual std::int32_t GetNextRecordNo(std::int32_t recNo) const = 0;
  virtual std::int32_t GetPrevRecordNo(std::int32_t recNo) const = 0;
  virtual std::int32_t GetLastRecordNo() const = 0;
  // Transfers exactly RecordSize() bytes (the buffer must hold them). Raise 19 for a record
  // number outside the table, 2/3 for storage failures, 115 for writes to a read-only file.
  virtual void ReadRecord(std::int32_t recNo, std::span<std::uint8_t> buffer) = 0;
  virtual void WriteRecord(std::int32_t recNo, std::span<const std::uint8_t> buffer) = 0;
  // Appends; returns the new record number.
  virtual std::int32_t InsertRecord(std::span<const std::uint8_t> buffer) = 0;
  // Heap files remove only the last record (the table moves the last record into a gap
  // first); any other number raises 187.
  virtual void DeleteRecord(std::int32_t recNo) = 0;

  // The index names of the header.
  const std::vector<std::u16string>& IndexNames() const noexcept { return FIndexNames; }
  void SetIndexNames(std::vector<std::u16string> names) { FIndexNames = std::move(names); }
  // Loads / stores IndexNames() in the header's index-name area. Writing more names than the
  // area has slots raises 67 and a name too long for a slot 176; nothing is written then.
  virtual void ReadIndexNames();
  virtual void WriteIndexNames();
  // Removes name `indexNo` (1-based) and writes the list.
  void DeleteIndexName(int indexNo);

  // Record ids, kept in the header. ObtainNewRecordId reads the stored next id (not a copy in
  // memory), stores it incremented and returns the value read. RevokeRecordId gives `id`
  // back when it was the last one handed out.
  std::int32_t ObtainNewRecordId();
  void RevokeRecordId(std::int32_t id);
  void SetNextRecordId(std::int32_t id);
  std::int32_t ReadNextRecordId();
  void WriteNextRecordId(std::int32_t id);
  TvuFileSystem& GetFileSystem() const noexcept { return FFileSystem; }

  int Level() const noexcept { return FLevel; }
  std::uint16_t RecordSize() const noexcept { return FRecordSize; }
  // Byte position of the record-id column in a record; -1 without one.
  std::int64_t RecordIdPosition() const noexcept { return FRecordIdPosition; }
  const std::u16string& FileName() const noexcept { return FFileName; }
  bool ReadOnly() const noexcept { return FStorage.ReadOnly(); }
  // The table's name: the file name without directory and extension.
  std::u16string TableName() const;

 protected:
  // Bytes at a file position through the page site, across page boundaries. Reading outside
  // the storage or a failing read raises 2; a failing write raises 3. Writing beyond the end
  // grows the storage.
  void ReadBytes(std::int64_t pos, void* dest, std::int64_t count);
  void WriteBytes(std::int64_t pos, const void* source, std::int64_t count);
  // The storage's size in bytes (whole tiles).
  std::int64_t StorageBytes() const;
  void CheckWritable() const;
  [[noreturn]] void Corrupt() const;

  // The definition block of levels 5 and 6 (without its length field).
  std::vector<std::uint8_t> BuildDefinitionBlock(int level, TvuCryptor& cryptor,
                                                 const TVdbTableDefinition& def) const;
  // Reads a deciphered definition block; checks the check string and the stored password
  // (38), every count and size (134). Returns the stored record size.
  std::int32_t ParseDefinitionBlock(std::span<const std::uint8_t> block, int level, TvuCryptor& cryptor,
                                    TVdbTableDefinition& def);
  // Validates a column list read from a file and sets FRecordSize / FRecordIdPosition.
  void AcceptColumns(const TVdbTableDefinition& def, std::int64_t storedColumns, std::int64_t storedRecordSize);

  TvuFileSystem& FFileSystem;
  std::u16string FFileName;
  // Pages of VDB_DATA_PAGE_SIZE bytes.
  TVdbFileStorage FStorage;
  TvuCryptor* FCryptor = nullptr;
  std::int16_t FLevel = 6;
  std::vector<std::u16string> FIndexNames;
  std::int32_t FNextRecordId = 1;
  std::uint16_t FRecordSize = 0;
  std::int64_t FRecordIdPosition = -1;
};

// Opens a data file of any kind: reads the magic and returns the heap or B+ implementation,
// opened. Raises as TVdbDataFile::Open.
std::unique_ptr<TVdbDataFile> VdbOpenDataFile(TVdbPageManager& pageManager, TvuFileSystem& fs,
                                              std::u16string fileName, std::int32_t clientHdl, bool readOnly,
                                              bool exclusive, TvuCryptor& cryptor, TVdbTableDefinition& def);

// Creates a data file for a new table: a B+ data file for a level-6 table whose first column
// is a record id named "_XXX" and whose records are at most 16384 bytes, a heap file for every
// other table. Raises as TVdbDataFile::NewFile (187 while B+ data files are not available).
std::unique_ptr<TVdbDataFile> VdbNewDataFile(TVdbPageManager& pageManager, TvuFileSystem& fs,
                                             std::u16string fileName, std::int32_t clientHdl, int level,
                                             TvuCryptor& cryptor, const TVdbTableDefinition& def, bool exclusive);

}  // namespace vdb
