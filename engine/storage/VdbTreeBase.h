// The seam between an index file and its tree, and the order of index entries.
//
// An index entry is a 32-bit record number followed by the key: the bytes of the key columns
// as they stand in the record (never case-folded or otherwise transformed). TVdbKeyDesc says
// how a key is made of parts; TVdbIndexOrder compares two entries part by part with the
// column types and collations (the index order), then by record number, so that every entry of
// an index is distinct. TVdbTreeBase is the one interface of the two tree forms (TVdbBTree with
// fixed-size entries, TVdbBPlusTree with variable-size entries in slotted pages).
//
// The Find* calls keep nothing between calls: FindNext/FindPrev take the entry to step from and
// descend from the root, so a step stays correct after the tree changed underneath (another
// cursor inserted or deleted). An ordered walk uses an iterator (TVdbTreeIterator) instead: it
// keeps its path from the root to the current entry and steps along it, and it is valid only
// while the tree's change counter stands where it stood at its last step; after a write, or a
// reread of the tree, the next step descends again from the entry the iterator was on.
//
// Threads: a tree object belongs to one index file object, used by one thread at a time. The
// order objects are immutable after construction and may be shared by threads.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "storage/VdbPageMan.h"
#include "types/VdbData.h"

namespace vdb {

using TVdbBytes = std::span<const std::uint8_t>;

// Bytes of the record number at the start of every index entry.
inline constexpr std::int32_t kVdbRecNoSize = 4;

// One part of a key. For a string column the part is the first KeyLength bytes of the field
// (fixed-size keys; a shorter part keeps the length prefix, whose count is lowered to what
// fits) or only its used bytes (variable-size keys: null byte, prefix, characters; a null value
// is the null byte alone). Every other type stores the whole field (KeyLength = DataSize).
struct TVdbKeyPart {
  const TVdbDataType* Type = nullptr;  // the column's type (its level places the null byte)
  std::int32_t KeyLength = 0;          // bytes of the part in a fixed-size key (its maximum)
  std::int32_t FieldOffset = 0;        // position of the field in the record (BuildKey)
  bool Descending = false;
};

// How the keys of one index are laid out.
struct TVdbKeyDesc {
  std::int16_t Level = 6;  // table level the index is made for
  bool VarSize = false;    // string parts hold only their used bytes (level-6 B+ tree indexes)
  std::vector<TVdbKeyPart> Parts;

  // Sum of the parts' key lengths: the key size of a fixed-size key, the largest possible one
  // of a variable-size key.
  std::int32_t KeySize() const noexcept;
  // Record number + key size: the (largest) entry size.
  std::int32_t EntrySize() const noexcept { return kVdbRecNoSize + KeySize(); }
  // Raises EVdbEngine 98 when a part has no type, a non-string part's length differs from its
  // field size, a string part is longer than its field or too short for its prefix, or
  // variable-size parts are asked below level 6.
  void Validate() const;
  // True when a part is a string: such an index is a B+ tree at level 6.
  bool HasStringPart() const noexcept;
};

// Record number of an entry (signed 32-bit, little-endian).
std::int32_t VdbEntryRecNo(TVdbBytes entry) noexcept;
void VdbSetEntryRecNo(std::span<std::uint8_t> entry, std::int32_t recNo) noexcept;

// The order of entries a tree keeps. Compare returns <0, 0 or >0. It raises EVdbEngine 95
// (index corrupt, naming the index) when an entry cannot be decoded.
class IVdbEntryOrder {
 public:
  virtual ~IVdbEntryOrder() = default;
  virtual int Compare(TVdbBytes a, TVdbBytes b) const = 0;
};

// The index order (the table's IndexLess): keys part by part, then record numbers ascending.
// Strings compare under the collation of their type; every other type with
// TVdbDataType::Compare in the exact total order (vcmIndex), never with the tolerance of
// expressions, which is not transitive. A null value sorts before every value (after them in a
// descending part); two nulls are equal.
class TVdbIndexOrder final : public IVdbEntryOrder {
 public:
  // `desc` is copied; `indexName` names the index in corruption errors.
  TVdbIndexOrder(TVdbKeyDesc desc, std::u16string indexName);
  int Compare(TVdbBytes a, TVdbBytes b) const override;
  // The keys alone (record numbers not compared): 0 means a duplicate key, which a unique
  // index refuses.
  int CompareKeys(TVdbBytes a, TVdbBytes b) const;
  // Bytes of the entry that belong to the key (a variable-size entry may carry fewer than the
  // largest size). Raises 95 when the entry is shorter than its parts say.
  std::size_t UsedEntrySize(TVdbBytes entry) const;
  // Builds the entry of `record` with record number `recNo` into `entry` (resized: EntrySize
  // for fixed keys, the used size for variable-size keys). Raises 135 when a field lies outside
  // the record.
  void BuildEntry(std::span<const std::uint8_t> record, std::int32_t recNo,
                  std::vector<std::uint8_t>& entry) const;
  const TVdbKeyDesc& Desc() const noexcept { return FDesc; }
  const std::u16string& IndexName() const noexcept { return FIndexName; }

 private:
  // Size of part `part` starting at `p` with `avail` bytes left.
  std::size_t PartSize(const TVdbKeyPart& part, const std::uint8_t* p, std::size_t avail) const;
  int ComparePart(const TVdbKeyPart& part, const std::uint8_t* a, std::size_t aSize,
                  const std::uint8_t* b, std::size_t bSize) const;
  [[noreturn]] void Corrupt() const;

  TVdbKeyDesc FDesc;
  std::u16string FIndexName;
};

// A sorted, random-access list of entries for building a tree bottom-up.
class IVdbEntryList {
 public:
  virtual ~IVdbEntryList() = default;
  virtual std::size_t Count() const = 0;
  virtual TVdbBytes Entry(std::size_t index) const = 0;
};

// Collects entries and sorts them in the index order: one byte arena plus offsets, so that a
// million small entries cost little more than their bytes.
class TVdbEntrySorter final : public IVdbEntryList {
 public:
  explicit TVdbEntrySorter(const IVdbEntryOrder& order) : FOrder(order) {}
  void Add(TVdbBytes entry);
  // Sorts; raises EVdbEngine 4 naming `indexName` when two entries are equal (the same
  // record twice).
  void Sort(std::u16string_view indexName);
  std::size_t Count() const override { return FOffsets.size(); }
  TVdbBytes Entry(std::size_t index) const override;
  std::size_t ByteCount() const noexcept { return FArena.size(); }

 private:
  const IVdbEntryOrder& FOrder;
  std::vector<std::uint8_t> FArena;
  std::vector<std::uint64_t> FOffsets;  // start of each entry in the arena
  std::vector<std::uint64_t> FEnds;     // end of each entry
};

// What a tree's own integrity check found.
struct TVdbTreeCheckResult {
  std::int64_t ItemCount = 0;      // entries reached by the walk
  std::int64_t Unordered = 0;      // neighbours (or separators) out of order
  std::vector<std::u16string> Problems;  // every structural fault, in words
  bool Ok() const noexcept { return Unordered == 0 && Problems.empty(); }
};

class TVdbTreeBase;

// A walk through a tree in entry order that keeps its path between steps. The Seek* and
// First/Last calls position it (false: no such entry, the iterator is then unpositioned); Next
// and Prev step from the current entry (false at the end: unpositioned). Entry() is the current
// entry while positioned. When the tree changed since the last call, Next and Prev find their
// way again from the current entry, with the results FindNext/FindPrev give.
class TVdbTreeIterator {
 public:
  explicit TVdbTreeIterator(TVdbTreeBase& tree) : FTree(tree) {}
  virtual ~TVdbTreeIterator() = default;
  TVdbTreeIterator(const TVdbTreeIterator&) = delete;
  TVdbTreeIterator& operator=(const TVdbTreeIterator&) = delete;

  // The first entry not less than `key` / greater than `key` / the last entry less than `key`.
  bool SeekLower(TVdbBytes key);
  bool SeekUpper(TVdbBytes key);
  bool SeekBefore(TVdbBytes key);
  bool First();
  bool Last();
  bool Next();
  bool Prev();
  bool Positioned() const noexcept { return FPositioned; }
  // Whether the iterator stands on an entry byte for byte equal to `entry`, with the tree
  // unchanged since (a step from there needs no descent).
  bool StandsOn(TVdbBytes entry) const;
  // The current entry; empty when unpositioned.
  TVdbBytes Entry() const noexcept { return FPositioned ? TVdbBytes(FEntry) : TVdbBytes(); }

 protected:
  enum class TSeek { skLower, skUpper, skBefore, skFirst, skLast };
  // The tree's own walk: a descent that keeps the path and stops on the entry `seek` names,
  // and one step along the kept path. Each copies the entry reached into `entry`.
  virtual bool DoSeek(TSeek seek, TVdbBytes key, std::vector<std::uint8_t>& entry) = 0;
  virtual bool DoStep(bool forward, std::vector<std::uint8_t>& entry) = 0;

 private:
  bool Settle(bool reached);
  template <class F>
  bool Run(F&& walk);
  bool Current() const noexcept;

  TVdbTreeBase& FTree;
  std::vector<std::uint8_t> FEntry;
  std::uint64_t FChangeCount = 0;
  bool FPositioned = false;
};

// Progress of a bulk build: (done, total).
using TVdbProgressFunc = std::function<void(std::int64_t, std::int64_t)>;

// The tree interface. Positions are given by entries: a search key is an entry whose record
// number decides among equal keys (0 for "before every record of this key", 0x7FFFFFFF for
// "after them"). Every Find* copies the entry found into `found` (resized) and returns false,
// leaving `found` alone, when there is none. Failures raise EVdbEngine: 95 for a damaged tree
// (bad page numbers, counts or offsets), 2/3 for read/write failures of the file, 11 when the
// tree would outgrow its page numbers.
class TVdbTreeBase {
 public:
  // `storage` (open) and `order` must outlive the tree. The tree header lies at byte `offset`
  // of page 0; `version` is the table level the file is made for.
  TVdbTreeBase(TVdbClientStorage& storage, const IVdbEntryOrder& order, std::int32_t offset,
               std::int16_t version);
  virtual ~TVdbTreeBase() = default;
  TVdbTreeBase(const TVdbTreeBase&) = delete;
  TVdbTreeBase& operator=(const TVdbTreeBase&) = delete;

  // Writes an empty tree's header into page 0 (which must exist) for `pageSize` (the storage's
  // page size) and entries of up to `entrySize` bytes, then opens it. Raises EVdbEngine 28
  // when the page size cannot hold the entries.
  virtual void New(std::int32_t pageSize, std::int32_t entrySize) = 0;
  // Reads and checks the header. Raises 95 when it is inconsistent with itself or the file.
  virtual void Open() = 0;
  virtual void Close() {
    FOpen = false;
    Changed();
  }
  bool IsOpen() const noexcept { return FOpen; }

  virtual bool FindFirst(std::vector<std::uint8_t>& found) = 0;
  virtual bool FindLast(std::vector<std::uint8_t>& found) = 0;
  // The first entry not less than `key`.
  virtual bool Find(TVdbBytes key, std::vector<std::uint8_t>& found) = 0;
  // The first entry greater than `key` / the last entry less than `key`.
  virtual bool FindNext(TVdbBytes key, std::vector<std::uint8_t>& found) = 0;
  virtual bool FindPrev(TVdbBytes key, std::vector<std::uint8_t>& found) = 0;
  // 1 + the number of entries less than `key` (the sequence number `key` has or would get).
  virtual std::int64_t CalcItemSequenceNo(TVdbBytes key) = 0;
  // Inserts; false (nothing changed) when an equal entry exists.
  virtual bool Insert(TVdbBytes entry) = 0;
  // Deletes the equal entry; false when there is none.
  virtual bool Delete(TVdbBytes entry) = 0;
  // Removes every entry and gives the pages back to the file.
  virtual void Clear() = 0;
  // Builds the tree from sorted, distinct entries. The tree must be empty (raises 4
  // otherwise). `progress` (may be empty) is called as pages are written.
  virtual void BuildFromSorted(const IVdbEntryList& entries, const TVdbProgressFunc& progress) = 0;
  // Walks the whole tree and its free list; never raises for damage, it reports it.
  virtual TVdbTreeCheckResult Check() = 0;

  // An ordered walk over this tree (TVdbTreeIterator); it must not outlive the tree.
  virtual std::unique_ptr<TVdbTreeIterator> NewIterator() = 0;
  // Counts every change of the tree and every (re)reading of it; kept walks compare it.
  std::uint64_t ChangeCount() const noexcept { return FChangeCount; }

  virtual std::int32_t GetHeaderSize() const = 0;
  virtual std::int64_t GetItemCount() = 0;
  virtual std::int32_t GetHeight() const = 0;
  // Pages the tree file holds (header page included).
  virtual std::int64_t GetPageCount() const = 0;
  std::int32_t GetOffset() const noexcept { return FOffset; }
  std::int32_t GetPageSize() const noexcept { return FPageSize; }
  std::int16_t GetVersion() const noexcept { return FVersion; }

 protected:
  // Page access through one page site; pages are copied in and out whole.
  void ReadPageBuf(std::int64_t pageNo, std::vector<std::uint8_t>& buf);
  void WritePageBuf(std::int64_t pageNo, const std::vector<std::uint8_t>& buf, bool fresh);
  // Bytes of page 0 at the tree header.
  void ReadHeaderBytes(std::uint8_t* dest, std::int32_t count);
  void WriteHeaderBytes(const std::uint8_t* source, std::int32_t count);
  // Raises EVdbEngine 95 naming the storage. `what` names the damaged structure at the call
  // site; the message has room for the file name only.
  [[noreturn]] void Corrupt(std::u16string_view what) const;
  // Runs `fn`, turning page-manager failures into the engine errors of the file.
  template <class F>
  auto Guarded(F&& fn) -> decltype(fn()) {
    try {
      return fn();
    } catch (const EVdbPageManager& e) {
      throw e.ToEngineError(FStorage.Name());
    }
  }
  void RequireOpen() const;
  // Called by every operation that writes or rereads the tree: kept walks descend again.
  void Changed() noexcept { ++FChangeCount; }

  TVdbClientStorage& FStorage;
  const IVdbEntryOrder& FOrder;
  std::int32_t FOffset;
  std::int16_t FVersion;
  std::int32_t FPageSize = 0;
  bool FOpen = false;

 private:
  std::uint64_t FChangeCount = 0;
  std::unique_ptr<TVdbStoragePageSite> FSite;
};

}  // namespace vdb
