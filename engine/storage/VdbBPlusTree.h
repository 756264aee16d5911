// The B+ tree of level-6 indexes with variable-size keys: items of any size up to the index's
// entry size in slotted pages; every entry lives in a leaf, inner pages hold separator keys.
//
// Tree header (22 bytes, little-endian, at the tree's offset in page 0):
//   +0   i32 pages in use (1 after creation: the header page)
//   +4   i16 height (0 = empty)
//   +6   i32 root page (0 while empty)
//   +10  i32 head of the free-page list (0 = none)
//   +14  i32 page size
//   +18  i32 number of items
// Slotted page: the last two bytes hold the item count; below them the slot directory grows
// towards the start, the 16-bit value at page size - 2 - 2k being the end offset of item k
// (k = 1, 2, ...); item k runs from the end of item k - 1 (item 1: the item-area start).
//   leaf:  bytes 0-3 previous leaf, 4-7 next leaf (0 = none), items from byte 8 (the entry)
//   inner: bytes 0-3 leftmost child, items from byte 4; an item is a separator key followed by
//          the 32-bit child right of it
// A free page holds the next free page's number in its first 4 bytes.
//
// Splits cut a page at the first item whose end reaches half of its item bytes; the new page
// goes right of the old one and its first key (leaves) or the cut item (inner pages) moves up.
// After a delete a leaf under 30 % of the page (an inner page under 50 %) merges with its right
// neighbour under the same parent or, failing that, with its left one, when the items fit;
// items are never borrowed. New pages come from the free list before the file grows; a freed
// last page shortens the file instead.
//
// Threads: as TVdbTreeBase.
#pragma once

#include "storage/VdbTreeBase.h"

namespace vdb {

// Stored on disk: never renumber.
inline constexpr std::int32_t kBpHdrPageCount = 0;
inline constexpr std::int32_t kBpHdrHeight = 4;
inline constexpr std::int32_t kBpHdrRoot = 6;
inline constexpr std::int32_t kBpHdrFreeHead = 10;
inline constexpr std::int32_t kBpHdrPageSize = 14;
inline constexpr std::int32_t kBpHdrItemCount = 18;
inline constexpr std::int32_t kBpHeaderSize = 22;
inline constexpr std::int32_t kBpLeafPrev = 0;
inline constexpr std::int32_t kBpLeafNext = 4;
inline constexpr std::int32_t kBpLeafItems = 8;
inline constexpr std::int32_t kBpInnerLeftChild = 0;
inline constexpr std::int32_t kBpInnerItems = 4;

inline constexpr std::int32_t kBpMinPageSize = 256;
inline constexpr std::int32_t kBpMaxPageSize = 65536;  // slot offsets are 16-bit
inline constexpr std::int64_t kBpMaxPages = 0x3FFFFFFE;
// Merge thresholds, in per cent of the page size.
inline constexpr std::int32_t kBpLeafMergePercent = 30;
inline constexpr std::int32_t kBpInnerMergePercent = 50;

class TVdbBPlusTree final : public TVdbTreeBase {
 public:
  using TVdbTreeBase::TVdbTreeBase;

  // Whether a page of `pageSize` takes entries of up to `maxEntrySize` bytes: an inner page
  // must hold four of the largest separators, so that every split leaves both halves filled.
  static bool PageSizeFits(std::int32_t pageSize, std::int32_t maxEntrySize);
  // 4096, doubled while it does not fit `maxEntrySize` (up to the maximum page size).
  static std::int32_t CalcPageSize(std::int32_t maxEntrySize);

  // Raises 28 when the page size does not fit `entrySize` (the largest entry).
  void New(std::int32_t pageSize, std::int32_t entrySize) override;
  void Open() override;
  // The largest entry Insert accepts (the index's entry size); set after Open. Raises 28 when
  // the page size does not fit it.
  void SetMaxEntrySize(std::int32_t size);

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
  // Keeps the descent's pages and steps along them; leaves follow one another through the
  // parents on the kept path.
  std::unique_ptr<TVdbTreeIterator> NewIterator() override;

  std::int32_t GetHeaderSize() const override { return kBpHeaderSize; }
  std::int64_t GetItemCount() override { return FItemCount; }
  std::int32_t GetHeight() const override { return FHeight; }
  std::int64_t GetPageCount() const override { return FPageCount; }
  std::int64_t GetRoot() const noexcept { return FRoot; }
  std::int64_t GetFreeHead() const noexcept { return FFreeHead; }
  bool IsEmpty() const noexcept { return FRoot == 0; }

 private:
  friend class TVdbBPlusWalk;
  using TItem = std::vector<std::uint8_t>;
  struct TPage {
    std::int64_t No = 0;
    bool Leaf = true;
    std::int64_t Link0 = 0;  // leaf: previous leaf; inner: leftmost child
    std::int64_t Link1 = 0;  // leaf: next leaf
    std::vector<TItem> Items;
  };
  // A page read for searching: its bytes and the end of each item, no copy per item.
  struct TView {
    std::int64_t No = 0;
    bool Leaf = true;
    std::int64_t Link0 = 0;
    std::int64_t Link1 = 0;
    std::int32_t Start = 0;  // where item 1 begins
    std::vector<std::uint8_t> Raw;
    std::vector<std::uint16_t> Ends;
  };
  enum class TSeek { skLower, skUpper, skFirst, skLast };

  static std::size_t Count(const TPage& p) noexcept { return p.Items.size(); }
  static std::size_t Count(const TView& p) noexcept { return p.Ends.size(); }
  static TVdbBytes Item(const TPage& p, std::size_t i) noexcept { return p.Items[i]; }
  static TVdbBytes Item(const TView& p, std::size_t i) noexcept {
    const std::uint16_t start = i == 0 ? static_cast<std::uint16_t>(p.Start) : p.Ends[i - 1];
    return TVdbBytes(p.Raw.data() + start, static_cast<std::size_t>(p.Ends[i] - start));
  }

  std::int32_t ItemStart(bool leaf) const noexcept { return leaf ? kBpLeafItems : kBpInnerItems; }
  std::int64_t Used(const TPage& p) const;
  template <class P>
  static std::int64_t ChildOf(const P& p, std::size_t i);  // 0 = leftmost
  template <class P>
  static TVdbBytes KeyOf(const P& p, std::size_t i);  // the entry or separator key
  // Loads page `no` for depth `depth` (1 = root) and checks page number, slots, item sizes
  // and child page numbers.
  void Load(std::int64_t no, std::int32_t depth, TView& p);
  void Load(std::int64_t no, std::int32_t depth, TPage& p);
  static void ToPage(const TView& v, TPage& p);
  // Inserts `item` as item `pos` of the leaf `p` in its own bytes and writes the page; false
  // (nothing changed) when it does not fit.
  bool InsertInPlace(TView& p, std::size_t pos, TVdbBytes item);
  // Removes item `pos` of the leaf `p` in its own bytes and writes the page; false (nothing
  // changed) when the leaf would need a merge (or, as the `root`, would become empty).
  bool DeleteInPlace(TView& p, std::size_t pos, bool root);
  void Store(const TPage& p, bool fresh);
  std::int64_t AllocPage();
  void ReleasePage(std::int64_t no);
  void WriteHeader();
  // Descends to the leaf for `key` (or the first/last leaf), filling the path and the child
  // index taken at each inner level.
  template <class P>
  void Descend(TVdbBytes key, TSeek seek, std::vector<P>& path, std::vector<std::size_t>& idx);
  // Moves the path to the next/previous leaf; false at the end.
  template <class P>
  bool StepLeaf(std::vector<P>& path, std::vector<std::size_t>& idx, bool forward);
  template <class P>
  std::size_t LowerBound(const P& leaf, TVdbBytes key) const;
  template <class P>
  std::size_t UpperBound(const P& page, TVdbBytes key) const;
  bool TryMerge(TPage& left, TPage& right, TPage& parent, std::size_t sepIndex);
  std::int64_t CountSubtree(std::int64_t no, std::int32_t depth);
  bool Seek(TVdbBytes key, TSeek seek, bool forward, std::vector<std::uint8_t>& found);

  std::int64_t FPageCount = 0;
  std::int32_t FHeight = 0;
  std::int64_t FRoot = 0;
  std::int64_t FFreeHead = 0;
  std::int64_t FItemCount = 0;
  std::int32_t FMaxEntrySize = 0;  // 0: only the page geometry limits an entry
};

}  // namespace vdb
