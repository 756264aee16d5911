// The classic B-tree of index files: fixed-size entries kept in pages of equal capacity, the
// root always on page 1, entries in inner pages as well as in leaves.
//
// Tree header (little-endian), at the tree's offset T in page 0:
//   version >= 4 (24 bytes)                      version <= 3 (14 bytes)
//   T+0   i32 page size                          T+0  i16 page size
//   T+4   i16 tree key size (= entry size)       T+2  i16 key size
//   T+6   i16 item size (entry + child number)   T+4  i16 item size
//   T+8   i16 height (0 = empty)                 T+6  i16 height
//   T+10  i32 tree pages n (pages 1..n)          T+8  i16 tree pages
//   T+14  i16 order                              T+10 i16 order
//   T+16  i16 capacity (= 2 x order)             T+12 i16 capacity
//   T+18  i32 head of the free-page list (0 = none)
//   T+22  2 reserved bytes
// Page n lies at byte n x page size. Version >= 4 pages: bytes 0-3 the leftmost child (0 in
// leaves), bytes 4-5 the item count, items from byte 6; item i (1-based) at 6 + (i-1) x item
// size: a 32-bit child (the subtree right of the item; 0 in leaves) then the entry. Version <= 3
// uses 16-bit children and count: child at 0, count at 2, items from 4. Order = ((page size -
// item start) / item size) div 2. A freed page holds the negated number of the next free page
// in its first 4 (version <= 3: 2) bytes.
//
// Version <= 3 headers have no free-list head: a page freed there is filled by moving the last
// page of the file into it (its parent is found by searching for its first entry), so the file
// never keeps unused pages.
//
// Threads: as TVdbTreeBase.
#pragma once

#include "storage/VdbTreeBase.h"

namespace vdb {

// Stored on disk: never renumber.
inline constexpr std::int32_t kBtHdrPageSize = 0;
inline constexpr std::int32_t kBtHdrKeySize = 4;
inline constexpr std::int32_t kBtHdrItemSize = 6;
inline constexpr std::int32_t kBtHdrHeight = 8;
inline constexpr std::int32_t kBtHdrPageCount = 10;
inline constexpr std::int32_t kBtHdrOrder = 14;
inline constexpr std::int32_t kBtHdrCapacity = 16;
inline constexpr std::int32_t kBtHdrFreeHead = 18;
inline constexpr std::int32_t kBtHeaderSize = 24;
inline constexpr std::int32_t kBtOldHdrPageSize = 0;
inline constexpr std::int32_t kBtOldHdrKeySize = 2;
inline constexpr std::int32_t kBtOldHdrItemSize = 4;
inline constexpr std::int32_t kBtOldHdrHeight = 6;
inline constexpr std::int32_t kBtOldHdrPageCount = 8;
inline constexpr std::int32_t kBtOldHdrOrder = 10;
inline constexpr std::int32_t kBtOldHdrCapacity = 12;
inline constexpr std::int32_t kBtOldHeaderSize = 14;
inline constexpr std::int32_t kBtPageItems = 6;     // first item, version >= 4
inline constexpr std::int32_t kBtOldPageItems = 4;  // first item, version <= 3

// Page limits.
inline constexpr std::int32_t kBtMinPageSize = 256;
inline constexpr std::int32_t kBtMaxPageSize = 16 * 1024 * 1024;
inline constexpr std::int32_t kBtOldMaxPageSize = 16 * 1024;
inline constexpr std::int64_t kBtMaxPages = 0x3FFFFFFE;
inline constexpr std::int64_t kBtOldMaxPages = 32766;

class TVdbBTree final : public TVdbTreeBase {
 public:
  using TVdbTreeBase::TVdbTreeBase;

  // The page size for a new index: item size = entry size + child width; start at 4096 and
  // double while a page cannot hold item size + 8 bytes, then while a tree of this page size
  // cannot hold 2 x `capacity` entries (16-bit page numbers below version 4).
  static std::int32_t CalcPageSize(std::int16_t version, std::int32_t entrySize, std::int64_t capacity);
  // Entries a tree of this geometry can hold (capacity x page numbers, at most 2^31 - 1).
  static std::int64_t CalcCapacity(std::int16_t version, std::int32_t pageSize, std::int32_t entrySize);

  void New(std::int32_t pageSize, std::int32_t entrySize) override;
  void Open() override;

  bool FindFirst(std::vector<std::uint8_t>& found) override;
  bool FindLast(std::vector<std::uint8_t>& found) override;
  bool Find(TVdbBytes key, std::vector<std::uint8_t>& found) override;
  bool FindNext(TVdbBytes key, std::vector<std::uint8_t>& found) override;
  bool FindPrev(TVdbBytes key, std::vector<std::uint8_t>& found) override;
  std::int64_t CalcItemSequenceNo(TVdbBytes key) override;
  bool Insert(TVdbBytes entry) override;
  bool Delete(TVdbBytes entry) override;
  void Clear() override;
  void BuildFromSorted(const IVdbEntryList& entries, const TVdbProgressFunc& progress) override;
  TVdbTreeCheckResult Check() override;
  // Keeps the page of every level of the descent and steps along them in entry order (entries
  // of inner pages between the subtrees around them).
  std::unique_ptr<TVdbTreeIterator> NewIterator() override;

  std::int32_t GetHeaderSize() const override { return Wide() ? kBtHeaderSize : kBtOldHeaderSize; }
  // Counted once by a walk after opening, then kept up to date.
  std::int64_t GetItemCount() override;
  std::int32_t GetHeight() const override { return FHeight; }
  std::int64_t GetPageCount() const override { return FPages + 1; }
  std::int32_t GetEntrySize() const noexcept { return FEntrySize; }
  std::int32_t GetOrder() const noexcept { return FOrder2; }
  std::int32_t GetCapacity() const noexcept { return 2 * FOrder2; }
  std::int64_t GetFreeHead() const noexcept { return FFreeHead; }

 private:
  friend class TVdbBTreeWalk;
  using TBuf = std::vector<std::uint8_t>;
  struct TStep {
    std::int64_t Page;
    std::int32_t Pos;  // items less than the key in this page (the child followed)
  };

  bool Wide() const noexcept { return FVersion >= 4; }
  std::int32_t ChildSize() const noexcept { return Wide() ? 4 : 2; }
  std::int32_t ItemStart() const noexcept { return Wide() ? kBtPageItems : kBtOldPageItems; }
  std::int64_t MaxPages() const noexcept { return Wide() ? kBtMaxPages : kBtOldMaxPages; }

  // Page fields. Items are numbered from 1; child 0 is the leftmost.
  std::int32_t Count(const TBuf& b) const;
  void SetCount(TBuf& b, std::int32_t n) const;
  std::int64_t Child(const TBuf& b, std::int32_t i) const;
  void SetChild(TBuf& b, std::int32_t i, std::int64_t page) const;
  std::uint8_t* Item(TBuf& b, std::int32_t i) const;
  const std::uint8_t* Item(const TBuf& b, std::int32_t i) const;
  TVdbBytes EntryOf(const TBuf& b, std::int32_t i) const;
  // Inserts an item (child after the entry, entry bytes) before item `i`.
  void InsertItem(TBuf& b, std::int32_t i, std::int64_t child, TVdbBytes entry) const;
  void RemoveItem(TBuf& b, std::int32_t i) const;

  // Loads page `page` for a descent at `depth` (1 = root) and checks it: a page number inside
  // the file, a count the page holds, children present in inner pages and absent in leaves.
  void LoadChecked(std::int64_t page, std::int32_t depth, TBuf& b);
  // Items of `b` less than `key`, and whether the next one equals it.
  std::int32_t Search(const TBuf& b, TVdbBytes key, bool& equal) const;
  std::int32_t SearchUpper(const TBuf& b, TVdbBytes key) const;
  std::int64_t AllocPage();
  void FreePage(std::int64_t page);
  void WriteHeader();
  std::int64_t CountSubtree(std::int64_t page, std::int32_t depth);
  // After a delete: fixes the page at path[level] that fell below the order.
  void Rebalance(std::vector<TStep>& path, std::size_t level);
  // Version <= 3: moves the last page into `hole` and fixes the reference to it.
  void MoveLastPageTo(std::int64_t hole);

  std::int32_t FEntrySize = 0;
  std::int32_t FItemSize = 0;
  std::int32_t FHeight = 0;
  std::int64_t FPages = 0;
  std::int32_t FOrder2 = 0;  // the tree's order (named to keep apart from the entry order)
  std::int64_t FFreeHead = 0;
  std::int64_t FItemCount = -1;  // -1: not counted yet
  std::int64_t FMovedFrom = 0;   // the last page move below version 4 (0: none)
  std::int64_t FMovedTo = 0;
  TBuf FScratch;
};

}  // namespace vdb
