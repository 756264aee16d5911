// An index file: one index of a table in a file of its own, holding a small header with the
// index definition and one tree of entries (record number + key bytes). Level-6 indexes with
// variable-size keys (a string key column or a string-valued expression) are B+ trees, all
// others classic B-trees.
//
// Header page (page 0; little-endian; the page size is the tree's):
//   classic, version >= 4:  0 i32 magic 0x00E537AF, 4 i16 version, 6 tree header (24 bytes),
//                           30 index definition
//   variable, version 6:    0 i32 magic 0xA66678C9, 4 i16 version, 6 tree header (22 bytes),
//                           28 index definition
//   classic, version <= 3:  0 tree header (14 bytes), 14 index definition
// Index definition from version 4 on, at D:
//   D+0 i32 number of entries        D+4 u8 reserved        D+5 u8 expression index (1)
//   D+6 u8 unique (1)                D+7 i16 key parts (1 for an expression index)
//   column index:     D+9 per part: i16 column number (1-based, bit 15 = descending),
//                     i16 key length in bytes, u8 column type code
//   expression index: D+9 u8 result type code, D+10 i16 key size, D+12 u16 character count c,
//                     D+14 c UTF-16 characters of the expression
//   then i16 entry size
// Version <= 3, at D: 50 bytes of binary sort definition (column index: up to 10 parts of
// 5 bytes as above, then a part with column number 0 whose fifth byte is 0xFF for a unique
// index; expression index: i16 -1, i16 key length, u8 result type, then the expression as a
// length byte and up to 44 8-bit characters), D+50 u8 unique, D+51 i32 entries, D+55 entry
// size (written as i32, read as i16).
//
// Collations: index files store raw keys in collation order, so the order must never change
// under a file. For every named (not built-in) collation of its key parts the file is
// accompanied by a side file "<index file>.collver" recording the collation library's version
// of that collation ("name=version" lines, UTF-8); CollatorVersionsChanged tells the table that
// the index must be rebuilt.
//
// Failures are EVdbEngine exceptions (the table boundary turns them into codes): 37 for a
// missing file, 28 for a header that cannot be read, 4 when the file cannot be made, 95 for a
// damaged tree, 30 for a duplicate key in a unique index.
//
// Threads: an index file object belongs to one table object of one session and is used by one
// thread at a time; sharing between sessions goes through the page manager.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "storage/VdbTreeBase.h"
#include "storage/vuFileSystem.h"

namespace vdb {

// Stored on disk: never renumber.
inline constexpr std::uint32_t kIdxMagicClassic = 0x00E537AF;
inline constexpr std::uint32_t kIdxMagicVariable = 0xA66678C9;
inline constexpr std::int32_t kIdxMagicOffset = 0;
inline constexpr std::int32_t kIdxVersionOffset = 4;
inline constexpr std::int32_t kIdxTreeOffset = 6;
inline constexpr std::int32_t kIdxOldTreeOffset = 0;
inline constexpr std::int32_t kIdxDefEntries = 0;
inline constexpr std::int32_t kIdxDefReserved = 4;
inline constexpr std::int32_t kIdxDefIsExpression = 5;
inline constexpr std::int32_t kIdxDefUnique = 6;
inline constexpr std::int32_t kIdxDefPartCount = 7;
inline constexpr std::int32_t kIdxDefParts = 9;
inline constexpr std::int32_t kIdxDefPartSize = 5;
inline constexpr std::int32_t kIdxDefExprType = 9;
inline constexpr std::int32_t kIdxDefExprKeySize = 10;
inline constexpr std::int32_t kIdxDefExprLength = 12;
inline constexpr std::int32_t kIdxDefExprChars = 14;
inline constexpr std::int32_t kIdxOldDefVector = 0;
inline constexpr std::int32_t kIdxOldDefVectorSize = 50;
inline constexpr std::int32_t kIdxOldDefUnique = 50;
inline constexpr std::int32_t kIdxOldDefEntries = 51;
inline constexpr std::int32_t kIdxOldDefEntrySize = 55;
inline constexpr std::int32_t kIdxOldMaxParts = 10;
inline constexpr std::int32_t kIdxOldMaxExprChars = 44;
inline constexpr std::int32_t kIdxMaxParts = 256;
inline constexpr std::uint16_t kIdxDescendingBit = 0x8000;

// Page size with which the header page is first read.
inline constexpr std::int32_t kIdxFirstReadPageSize = 4096;

enum TVdbIndexKind : std::uint8_t { tikUnknown, tikUser, tikTemporary, tikAdl, tikConstraint };

// The index definition as the file stores it.
struct TVdbIndexPartDef {
  std::int16_t ColumnNo = 0;  // 1-based
  std::int16_t KeyLength = 0;
  std::uint8_t ColumnType = 0;
  bool Descending = false;
  friend bool operator==(const TVdbIndexPartDef&, const TVdbIndexPartDef&) = default;
};

struct TVdbIndexDefinition {
  bool IsCalculated = false;  // an expression index
  bool IsUnique = false;
  std::vector<TVdbIndexPartDef> Parts;  // column index
  std::uint8_t ResultType = 0;          // expression index: result type code,
  std::int16_t KeySize = 0;             // key size
  std::u16string Expression;            // and the expression text
  std::int32_t EntrySize = 0;           // record number + key
  friend bool operator==(const TVdbIndexDefinition&, const TVdbIndexDefinition&) = default;
};

// One finding of the integrity check: severity 1 = warning, 2 = error.
struct TVdbIndexProblem {
  std::int32_t Severity = 2;
  std::u16string Text;
};

class TVdbIndexFile {
 public:
  // `storage` (not open; its name is the index file's name) and `fs` (the file system of the
  // storage, for the collation side file) must outlive the object. `version` is the table level
  // the index is made for; an existing file's own header decides once it is opened.
  TVdbIndexFile(TVdbClientStorage& storage, TvuFileSystem& fs, std::int16_t version);
  ~TVdbIndexFile();
  TVdbIndexFile(const TVdbIndexFile&) = delete;
  TVdbIndexFile& operator=(const TVdbIndexFile&) = delete;

  // Creates the file with an empty tree: a B+ tree when the version is 6 and `keys` are of
  // variable size, else a classic B-tree. `pageSize` 0 picks the page size for `capacity`
  // entries. Records the collator versions. Raises 61 for too many key parts, 4 when the file
  // or its header cannot be made (page too small for the definition or the entries).
  void NewStorage(const TVdbKeyDesc& keys, const TVdbIndexDefinition& def, std::int64_t capacity,
                  std::int32_t pageSize = 0);
  // Opens the file; `keys` must describe its entries. Raises 37 when the file is missing,
  // 28 when the header is unreadable or does not match `keys` (the storage is closed and the
  // index marked lost in both cases).
  void Open(const TVdbKeyDesc& keys, bool readOnly = false, bool exclusive = false);
  // Releases the file; unflushed changes are dropped (flush first).
  void Close();
  void Flush();
  // Drops unflushed changes and rereads the header.
  void Undo();
  // Drops every cached page and rereads the header, so that changes another process flushed
  // become visible (called after taking the table's lock). Unflushed changes are lost.
  void Update();
  bool IsOpen() const noexcept { return FTree != nullptr; }
  bool IsLost() const noexcept { return FLost; }

  // Entry operations. Entries are record number + key (TVdbIndexOrder::BuildEntry). Results:
  // 0 = done / found (the entry found is copied into `key`), 1 = nothing (more) found.
  // Add_Index raises 4 when the same entry exists and 30 when a unique index has the key.
  std::int16_t Add_Index(TVdbBytes item);
  // 1 when the entry is not in the index.
  std::int16_t Loesche_Index(TVdbBytes item);
  // The first entry not less than `key`.
  std::int16_t Suche_Index(std::vector<std::uint8_t>& key);
  std::int16_t Erster_Index(std::vector<std::uint8_t>& key);
  std::int16_t Letzter_Index(std::vector<std::uint8_t>& key);
  // The entry after / before `key`.
  std::int16_t Naechster_Index(std::vector<std::uint8_t>& key);
  std::int16_t Vorheriger_Index(std::vector<std::uint8_t>& key);
  std::int16_t Clear_Index();
  // 1-based position `key` has or would get.
  std::int64_t CalcItemSequenceNo(TVdbBytes key);

  // Pulls entries from `getItem` until it returns false and adds them, calling
  // `progress(0, count)` first, after every 1000 entries and `progress(count, count)` at the
  // end. An empty index is built bottom-up from the sorted entries; otherwise they are added
  // one by one.
  void BulkInsert(std::int64_t count, const TVdbProgressFunc& progress,
                  const std::function<bool(std::vector<std::uint8_t>&)>& getItem);

  // The integrity check for a table of `recordCount` records.
  std::vector<TVdbIndexProblem> Check(std::int64_t recordCount);

  // Whether a named collation of the key parts now orders differently than when the file was
  // built (its version differs or was never recorded).
  bool CollatorVersionsChanged() const;
  // Records the current versions (after a rebuild).
  void RecordCollatorVersions() const;
  std::u16string CollatorVersionFileName() const { return FStorage.Name() + u".collver"; }

  std::int64_t GetItemCount() const noexcept { return FItemCount; }
  std::int16_t GetVersion() const noexcept { return FVersion; }
  std::int32_t GetIndSize() const noexcept { return FDef.EntrySize; }
  const TVdbIndexDefinition& GetDefinition() const noexcept { return FDef; }
  bool GetUnique() const noexcept { return FDef.IsUnique; }
  bool GetMustBeUnique() const noexcept { return FDef.IsUnique || FIsPrimary; }
  // Writes the unique flag into the header.
  void SetUnique(bool value);
  void SetPrimary(bool value);
  void SetKind(TVdbIndexKind kind) noexcept { FKind = kind; }
  TVdbIndexKind GetKind() const noexcept { return FKind; }
  bool GetIsAutomatic() const noexcept { return FKind == tikAdl || FKind == tikConstraint; }
  bool GetCalculated() const noexcept { return FDef.IsCalculated; }
  void SetName(std::u16string name) { FName = std::move(name); }
  const std::u16string& GetName() const noexcept { return FName; }
  bool IsVariableSize() const noexcept { return FVariable; }
  // Page size a new index of this object's version and `keys` gets for `capacity` entries.
  std::int32_t CalcPageSizeForCapacity(const TVdbKeyDesc& keys, std::int64_t capacity) const;
  // The tree and the order (for diagnostics and tests; valid while open).
  TVdbTreeBase& Tree() const { return *FTree; }
  const TVdbIndexOrder& Order() const { return *FOrder; }

  // Decodes the definition stored on page 0 of an index file whose form its magic number
  // gives (old files count as version 3); `itemCount` receives the stored entry count. For a
  // table that knows an index only by name and must learn its key layout before opening it.
  // Raises 28 naming `name` when the page is too short or the definition inconsistent.
  static TVdbIndexDefinition ReadStoredDefinition(const std::vector<std::uint8_t>& page, std::u16string_view name,
                                                  std::int64_t& itemCount);

 private:
  static std::int32_t DefOffsetFor(std::int16_t version, bool variable);
  static TVdbIndexDefinition DecodeDefinition(const std::vector<std::uint8_t>& page, std::int16_t version,
                                              bool variable, std::u16string_view name, std::int64_t& itemCount);
  std::int32_t DefOffset() const;
  std::int32_t EntryCountOffset() const;
  // Encodes the definition; empty when it does not fit.
  std::vector<std::uint8_t> EncodeDefinition() const;
  void WriteItemCount();
  void ReadHeader();
  void MakeTree(const TVdbKeyDesc& keys, bool variable);
  void CheckKeysMatch(const TVdbKeyDesc& keys) const;
  std::vector<std::uint8_t> Trimmed(TVdbBytes item) const;
  TVdbTreeIterator& Walk();
  void RequireOpen() const;
  std::vector<std::pair<std::u16string, std::string>> CurrentCollatorVersions() const;

  TVdbClientStorage& FStorage;
  TvuFileSystem& FFileSystem;
  std::int16_t FVersion;
  TVdbIndexKind FKind = tikUser;
  TVdbIndexDefinition FDef;
  std::u16string FName;
  bool FIsPrimary = false;
  bool FVariable = false;
  bool FLost = false;
  std::int64_t FItemCount = 0;
  std::unique_ptr<TVdbIndexOrder> FOrder;
  std::unique_ptr<TVdbTreeBase> FTree;
  // The walk the searches and steps keep (made on first use; reset with the tree).
  std::unique_ptr<TVdbTreeIterator> FWalk;
};

}  // namespace vdb
