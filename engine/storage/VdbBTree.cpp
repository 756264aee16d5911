#include "storage/VdbBTree.h"

#include <algorithm>
#include <cstring>

#include "base/VdbErrorCodes.h"
#include "base/vuLittleEndian.h"

namespace vdb {

namespace {

// (base + 1)^exp - 1, saturated far below overflow.
std::int64_t MaxEntries(std::int64_t capacity, std::int32_t height) {
  constexpr std::int64_t kLimit = std::int64_t{1} << 62;
  std::int64_t p = 1;
  for (std::int32_t i = 0; i < height; ++i) {
    if (p > kLimit / (capacity + 1)) return kLimit;
    p *= capacity + 1;
  }
  return p - 1;
}

std::u16string Num(std::int64_t n) {
  std::string s = std::to_string(n);
  return std::u16string(s.begin(), s.end());
}

}  // namespace

std::int64_t TVdbBTree::CalcCapacity(std::int16_t version, std::int32_t pageSize,
                                     std::int32_t entrySize) {
  const std::int32_t itemSize = entrySize + (version >= 4 ? 4 : 2);
  const std::int32_t start = version >= 4 ? kBtPageItems : kBtOldPageItems;
  const std::int64_t capacity = 2 * (((pageSize - start) / itemSize) / 2);
  if (version < 4) return capacity * 65535;
  return std::min<std::int64_t>(capacity * 2147483647LL, 2147483647LL);
}

std::int32_t TVdbBTree::CalcPageSize(std::int16_t version, std::int32_t entrySize,
                                     std::int64_t capacity) {
  const std::int32_t itemSize = entrySize + (version >= 4 ? 4 : 2);
  const std::int32_t start = version >= 4 ? kBtPageItems : kBtOldPageItems;
  const std::int32_t maximum = version >= 4 ? kBtMaxPageSize : kBtOldMaxPageSize;
  std::int32_t pageSize = 4096;
  // A page must hold two items (order 1), else a split has nothing to move up.
  while (pageSize < maximum && pageSize < 2 * itemSize + start) pageSize *= 2;
  while (pageSize < maximum && CalcCapacity(version, pageSize, entrySize) < 2 * capacity) pageSize *= 2;
  return pageSize;
}

// ---- page fields

std::int32_t TVdbBTree::Count(const TBuf& b) const {
  return Wide() ? static_cast<std::int16_t>(vuGetU16(b.data() + 4))
                : static_cast<std::int16_t>(vuGetU16(b.data() + 2));
}

void TVdbBTree::SetCount(TBuf& b, std::int32_t n) const {
  vuPutU16(b.data() + (Wide() ? 4 : 2), static_cast<std::uint16_t>(n));
}

std::uint8_t* TVdbBTree::Item(TBuf& b, std::int32_t i) const {
  return b.data() + ItemStart() + static_cast<std::ptrdiff_t>(i - 1) * FItemSize;
}

const std::uint8_t* TVdbBTree::Item(const TBuf& b, std::int32_t i) const {
  return b.data() + ItemStart() + static_cast<std::ptrdiff_t>(i - 1) * FItemSize;
}

std::int64_t TVdbBTree::Child(const TBuf& b, std::int32_t i) const {
  const std::uint8_t* p = i == 0 ? b.data() : Item(b, i);
  return Wide() ? static_cast<std::int32_t>(vuGetU32(p)) : static_cast<std::int16_t>(vuGetU16(p));
}

void TVdbBTree::SetChild(TBuf& b, std::int32_t i, std::int64_t page) const {
  std::uint8_t* p = i == 0 ? b.data() : Item(b, i);
  if (Wide()) {
    vuPutU32(p, static_cast<std::uint32_t>(page));
  } else {
    vuPutU16(p, static_cast<std::uint16_t>(page));
  }
}

TVdbBytes TVdbBTree::EntryOf(const TBuf& b, std::int32_t i) const {
  return TVdbBytes(Item(b, i) + ChildSize(), static_cast<std::size_t>(FEntrySize));
}

void TVdbBTree::InsertItem(TBuf& b, std::int32_t i, std::int64_t child, TVdbBytes entry) const {
  const std::int32_t n = Count(b);
  const std::size_t need = static_cast<std::size_t>(ItemStart() + (n + 1) * FItemSize);
  if (b.size() < need) b.resize(need, 0);
  std::uint8_t* at = Item(b, i);
  std::memmove(at + FItemSize, at, static_cast<std::size_t>((n - i + 1) * FItemSize));
  SetCount(b, n + 1);
  SetChild(b, i, child);
  std::memcpy(at + ChildSize(), entry.data(), static_cast<std::size_t>(FEntrySize));
}

void TVdbBTree::RemoveItem(TBuf& b, std::int32_t i) const {
  const std::int32_t n = Count(b);
  std::uint8_t* at = Item(b, i);
  std::memmove(at, at + FItemSize, static_cast<std::size_t>((n - i) * FItemSize));
  std::memset(Item(b, n), 0, static_cast<std::size_t>(FItemSize));
  SetCount(b, n - 1);
}

// ---- header

void TVdbBTree::WriteHeader() {
  std::uint8_t h[kBtHeaderSize] = {};
  if (Wide()) {
    vuPutU32(h + kBtHdrPageSize, static_cast<std::uint32_t>(FPageSize));
    vuPutU16(h + kBtHdrKeySize, static_cast<std::uint16_t>(FEntrySize));
    vuPutU16(h + kBtHdrItemSize, static_cast<std::uint16_t>(FItemSize));
    vuPutU16(h + kBtHdrHeight, static_cast<std::uint16_t>(FHeight));
    vuPutU32(h + kBtHdrPageCount, static_cast<std::uint32_t>(FPages));
    vuPutU16(h + kBtHdrOrder, static_cast<std::uint16_t>(FOrder2));
    vuPutU16(h + kBtHdrCapacity, static_cast<std::uint16_t>(2 * FOrder2));
    vuPutU32(h + kBtHdrFreeHead, static_cast<std::uint32_t>(FFreeHead));
    WriteHeaderBytes(h, kBtHeaderSize);
  } else {
    vuPutU16(h + kBtOldHdrPageSize, static_cast<std::uint16_t>(FPageSize));
    vuPutU16(h + kBtOldHdrKeySize, static_cast<std::uint16_t>(FEntrySize));
    vuPutU16(h + kBtOldHdrItemSize, static_cast<std::uint16_t>(FItemSize));
    vuPutU16(h + kBtOldHdrHeight, static_cast<std::uint16_t>(FHeight));
    vuPutU16(h + kBtOldHdrPageCount, static_cast<std::uint16_t>(FPages));
    vuPutU16(h + kBtOldHdrOrder, static_cast<std::uint16_t>(FOrder2));
    vuPutU16(h + kBtOldHdrCapacity, static_cast<std::uint16_t>(2 * FOrder2));
    WriteHeaderBytes(h, kBtOldHeaderSize);
  }
}

void TVdbBTree::New(std::int32_t pageSize, std::int32_t entrySize) {
  Changed();
  const std::int32_t maximum = Wide() ? kBtMaxPageSize : kBtOldMaxPageSize;
  FPageSize = pageSize;
  FEntrySize = entrySize;
  FItemSize = entrySize + ChildSize();
  FOrder2 = entrySize > 0 ? ((pageSize - ItemStart()) / FItemSize) / 2 : 0;
  if (pageSize < kBtMinPageSize || pageSize > maximum || FOrder2 < 1 || FOrder2 > 16383) {
    RaiseEngineError(errInconsistentIndexDefinition, {FStorage.Name()});
  }
  FHeight = 0;
  FPages = 0;
  FFreeHead = 0;
  FItemCount = 0;
  WriteHeader();
  FOpen = true;
}

void TVdbBTree::Open() {
  Changed();
  std::uint8_t h[kBtHeaderSize] = {};
  ReadHeaderBytes(h, GetHeaderSize());
  std::int32_t capacity;
  if (Wide()) {
    FPageSize = static_cast<std::int32_t>(vuGetU32(h + kBtHdrPageSize));
    FEntrySize = static_cast<std::int16_t>(vuGetU16(h + kBtHdrKeySize));
    FItemSize = static_cast<std::int16_t>(vuGetU16(h + kBtHdrItemSize));
    FHeight = static_cast<std::int16_t>(vuGetU16(h + kBtHdrHeight));
    FPages = static_cast<std::int32_t>(vuGetU32(h + kBtHdrPageCount));
    FOrder2 = static_cast<std::int16_t>(vuGetU16(h + kBtHdrOrder));
    capacity = static_cast<std::int16_t>(vuGetU16(h + kBtHdrCapacity));
    FFreeHead = static_cast<std::int32_t>(vuGetU32(h + kBtHdrFreeHead));
  } else {
    FPageSize = vuGetU16(h + kBtOldHdrPageSize);
    FEntrySize = static_cast<std::int16_t>(vuGetU16(h + kBtOldHdrKeySize));
    FItemSize = static_cast<std::int16_t>(vuGetU16(h + kBtOldHdrItemSize));
    FHeight = static_cast<std::int16_t>(vuGetU16(h + kBtOldHdrHeight));
    FPages = static_cast<std::int16_t>(vuGetU16(h + kBtOldHdrPageCount));
    FOrder2 = static_cast<std::int16_t>(vuGetU16(h + kBtOldHdrOrder));
    capacity = static_cast<std::int16_t>(vuGetU16(h + kBtOldHdrCapacity));
    FFreeHead = 0;
  }
  const std::int32_t maximum = Wide() ? kBtMaxPageSize : kBtOldMaxPageSize;
  const std::int64_t filePages = Guarded([&] { return FStorage.GetPageCount(); });
  const bool ok = FPageSize >= kBtMinPageSize && FPageSize <= maximum &&
                  FPageSize == FStorage.GetPageSize() && FEntrySize > kVdbRecNoSize &&
                  FItemSize == FEntrySize + ChildSize() && FOrder2 >= 1 &&
                  FOrder2 == ((FPageSize - ItemStart()) / FItemSize) / 2 && capacity == 2 * FOrder2 &&
                  FPages >= 0 && FPages <= MaxPages() && FPages + 1 <= filePages && FHeight >= 0 &&
                  FHeight <= FPages && FHeight <= 64 && FFreeHead >= 0 && FFreeHead <= FPages &&
                  FFreeHead != 1;
  if (!ok) Corrupt(u"tree header");
  FItemCount = FHeight == 0 ? 0 : -1;
  FOpen = true;
}

// ---- descent

void TVdbBTree::LoadChecked(std::int64_t page, std::int32_t depth, TBuf& b) {
  if (page < 1 || page > FPages || depth < 1 || depth > FHeight) Corrupt(u"page number");
  ReadPageBuf(page, b);
  const std::int32_t n = Count(b);
  if (n < 0 || n > 2 * FOrder2 || (n == 0 && page != 1)) Corrupt(u"item count");
  const bool leaf = depth == FHeight;
  for (std::int32_t i = 0; i <= n; ++i) {
    const std::int64_t c = Child(b, i);
    if (leaf ? c != 0 : (c < 2 || c > FPages)) Corrupt(u"child page number");
  }
}

std::int32_t TVdbBTree::Search(const TBuf& b, TVdbBytes key, bool& equal) const {
  std::int32_t lo = 0, hi = Count(b);  // the answer lies in [lo, hi]
  while (lo < hi) {
    const std::int32_t mid = (lo + hi) / 2;
    if (FOrder.Compare(EntryOf(b, mid + 1), key) < 0) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  equal = lo < Count(b) && FOrder.Compare(EntryOf(b, lo + 1), key) == 0;
  return lo;
}

std::int32_t TVdbBTree::SearchUpper(const TBuf& b, TVdbBytes key) const {
  std::int32_t lo = 0, hi = Count(b);
  while (lo < hi) {
    const std::int32_t mid = (lo + hi) / 2;
    if (FOrder.Compare(EntryOf(b, mid + 1), key) <= 0) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo;
}

bool TVdbBTree::Find(TVdbBytes key, std::vector<std::uint8_t>& found) {
  RequireOpen();
  if (FHeight == 0) return false;
  bool have = false;
  std::int64_t page = 1;
  for (std::int32_t depth = 1;; ++depth) {
    LoadChecked(page, depth, FScratch);
    bool eq;
    const std::int32_t pos = Search(FScratch, key, eq);
    if (pos < Count(FScratch)) {
      const TVdbBytes e = EntryOf(FScratch, pos + 1);
      found.assign(e.begin(), e.end());
      have = true;
      if (eq) return true;
    }
    if (depth == FHeight) return have;
    page = Child(FScratch, pos);
  }
}

bool TVdbBTree::FindNext(TVdbBytes key, std::vector<std::uint8_t>& found) {
  RequireOpen();
  if (FHeight == 0) return false;
  bool have = false;
  std::int64_t page = 1;
  for (std::int32_t depth = 1;; ++depth) {
    LoadChecked(page, depth, FScratch);
    const std::int32_t pos = SearchUpper(FScratch, key);
    if (pos < Count(FScratch)) {
      const TVdbBytes e = EntryOf(FScratch, pos + 1);
      found.assign(e.begin(), e.end());
      have = true;
    }
    if (depth == FHeight) return have;
    page = Child(FScratch, pos);
  }
}

bool TVdbBTree::FindPrev(TVdbBytes key, std::vector<std::uint8_t>& found) {
  RequireOpen();
  if (FHeight == 0) return false;
  bool have = false;
  std::int64_t page = 1;
  for (std::int32_t depth = 1;; ++depth) {
    LoadChecked(page, depth, FScratch);
    bool eq;
    const std::int32_t pos = Search(FScratch, key, eq);
    if (pos > 0) {
      const TVdbBytes e = EntryOf(FScratch, pos);
      found.assign(e.begin(), e.end());
      have = true;
    }
    if (depth == FHeight) return have;
    page = Child(FScratch, pos);
  }
}

// ---- the kept walk

// The path holds the page of every level from the root (level 0) down to the current entry's;
// at the levels above the current one FChild is the child followed. The current entry is item
// FItem (1-based) of the page at level FLevel.
class TVdbBTreeWalk final : public TVdbTreeIterator {
 public:
  explicit TVdbBTreeWalk(TVdbBTree& tree) : TVdbTreeIterator(tree), FTree(tree) {}

 protected:
  bool DoSeek(TSeek seek, TVdbBytes key, std::vector<std::uint8_t>& entry) override {
    FTree.RequireOpen();
    if (FTree.FHeight == 0) return false;
    FPages.resize(static_cast<std::size_t>(FTree.FHeight));
    FChild.assign(static_cast<std::size_t>(FTree.FHeight), 0);
    const bool forward = seek != TSeek::skBefore && seek != TSeek::skLast;
    std::int64_t page = 1;
    for (std::int32_t level = 0;; ++level) {
      TVdbBTree::TBuf& b = Load(page, level);
      const std::int32_t n = FTree.Count(b);
      bool equal = false;
      std::int32_t pos;
      switch (seek) {
        case TSeek::skFirst: pos = 0; break;
        case TSeek::skLast: pos = n; break;
        case TSeek::skUpper: pos = FTree.SearchUpper(b, key); break;
        default: pos = FTree.Search(b, key, equal); break;
      }
      FChild[static_cast<std::size_t>(level)] = pos;
      if (equal && seek == TSeek::skLower) return Place(level, pos + 1, entry);
      if (level == Leaf()) {
        if (forward ? pos < n : pos > 0) return Place(level, forward ? pos + 1 : pos, entry);
        return Climb(forward, entry);
      }
      page = FTree.Child(b, pos);
    }
  }

  bool DoStep(bool forward, std::vector<std::uint8_t>& entry) override {
    const std::size_t at = static_cast<std::size_t>(FLevel);
    if (FLevel < Leaf()) {
      // The neighbour of an inner entry is the nearest entry of the subtree beside it.
      const std::int32_t child = forward ? FItem : FItem - 1;
      FChild[at] = child;
      std::int64_t page = FTree.Child(FPages[at], child);
      for (std::int32_t level = FLevel + 1;; ++level) {
        TVdbBTree::TBuf& b = Load(page, level);
        const std::int32_t n = FTree.Count(b);
        FChild[static_cast<std::size_t>(level)] = forward ? 0 : n;
        if (level == Leaf()) {
          if (n == 0) FTree.Corrupt(u"item count");
          return Place(level, forward ? 1 : n, entry);
        }
        page = FTree.Child(b, forward ? 0 : n);
      }
    }
    const std::int32_t n = FTree.Count(FPages[at]);
    if (forward ? FItem < n : FItem > 1) return Place(FLevel, forward ? FItem + 1 : FItem - 1, entry);
    FChild[at] = forward ? n : 0;
    return Climb(forward, entry);
  }

 private:
  std::int32_t Leaf() const noexcept { return FTree.FHeight - 1; }

  TVdbBTree::TBuf& Load(std::int64_t page, std::int32_t level) {
    TVdbBTree::TBuf& b = FPages[static_cast<std::size_t>(level)];
    FTree.LoadChecked(page, level + 1, b);
    return b;
  }

  bool Place(std::int32_t level, std::int32_t item, std::vector<std::uint8_t>& entry) {
    FLevel = level;
    FItem = item;
    const TVdbBytes e = FTree.EntryOf(FPages[static_cast<std::size_t>(level)], item);
    entry.assign(e.begin(), e.end());
    return true;
  }

  // Out of the subtree at the leaf's level: the entry beside the child followed on the nearest
  // level that has one in that direction.
  bool Climb(bool forward, std::vector<std::uint8_t>& entry) {
    for (std::int32_t level = Leaf() - 1; level >= 0; --level) {
      const std::size_t at = static_cast<std::size_t>(level);
      const std::int32_t child = FChild[at];
      if (forward ? child < FTree.Count(FPages[at]) : child > 0) return Place(level, forward ? child + 1 : child, entry);
    }
    return false;
  }

  TVdbBTree& FTree;
  std::vector<TVdbBTree::TBuf> FPages;
  std::vector<std::int32_t> FChild;
  std::int32_t FLevel = 0;
  std::int32_t FItem = 0;
};

std::unique_ptr<TVdbTreeIterator> TVdbBTree::NewIterator() { return std::make_unique<TVdbBTreeWalk>(*this); }

bool TVdbBTree::FindFirst(std::vector<std::uint8_t>& found) {
  RequireOpen();
  if (FHeight == 0) return false;
  std::int64_t page = 1;
  for (std::int32_t depth = 1;; ++depth) {
    LoadChecked(page, depth, FScratch);
    if (depth == FHeight) break;
    page = Child(FScratch, 0);
  }
  if (Count(FScratch) == 0) return false;
  const TVdbBytes e = EntryOf(FScratch, 1);
  found.assign(e.begin(), e.end());
  return true;
}

bool TVdbBTree::FindLast(std::vector<std::uint8_t>& found) {
  RequireOpen();
  if (FHeight == 0) return false;
  std::int64_t page = 1;
  for (std::int32_t depth = 1;; ++depth) {
    LoadChecked(page, depth, FScratch);
    if (depth == FHeight) break;
    page = Child(FScratch, Count(FScratch));
  }
  const std::int32_t n = Count(FScratch);
  if (n == 0) return false;
  const TVdbBytes e = EntryOf(FScratch, n);
  found.assign(e.begin(), e.end());
  return true;
}

std::int64_t TVdbBTree::CountSubtree(std::int64_t page, std::int32_t depth) {
  TBuf b;
  LoadChecked(page, depth, b);
  const std::int32_t n = Count(b);
  std::int64_t total = n;
  if (depth < FHeight) {
    for (std::int32_t i = 0; i <= n; ++i) total += CountSubtree(Child(b, i), depth + 1);
  }
  return total;
}

std::int64_t TVdbBTree::GetItemCount() {
  RequireOpen();
  if (FItemCount < 0) FItemCount = FHeight == 0 ? 0 : CountSubtree(1, 1);
  return FItemCount;
}

std::int64_t TVdbBTree::CalcItemSequenceNo(TVdbBytes key) {
  RequireOpen();
  if (FHeight == 0) return 1;
  std::int64_t rank = 0;
  std::int64_t page = 1;
  TBuf b;
  for (std::int32_t depth = 1;; ++depth) {
    LoadChecked(page, depth, b);
    bool eq;
    const std::int32_t pos = Search(b, key, eq);
    rank += pos;
    const bool leaf = depth == FHeight;
    if (!leaf) {
      for (std::int32_t j = 0; j < pos; ++j) rank += CountSubtree(Child(b, j), depth + 1);
    }
    if (eq) {
      if (!leaf) rank += CountSubtree(Child(b, pos), depth + 1);
      return rank + 1;
    }
    if (leaf) return rank + 1;
    page = Child(b, pos);
  }
}

// ---- pages

std::int64_t TVdbBTree::AllocPage() {
  if (FFreeHead != 0) {
    const std::int64_t page = FFreeHead;
    TBuf b;
    if (page < 2 || page > FPages) Corrupt(u"free list");
    ReadPageBuf(page, b);
    // A freed page is zero but for its marker: a page with items is in use, and taking it
    // would overwrite live entries.
    const std::int64_t marker = Child(b, 0);
    if (marker > 0 || -marker > FPages || -marker == page || -marker == 1 || Count(b) != 0) {
      Corrupt(u"free list");
    }
    FFreeHead = -marker;
    return page;
  }
  if (FPages + 1 > MaxPages()) RaiseEngineError(errIndexDataTooLarge, {FStorage.Name()});
  return ++FPages;
}

void TVdbBTree::FreePage(std::int64_t page) {
  if (!Wide()) {
    MoveLastPageTo(page);
    return;
  }
  TBuf b(static_cast<std::size_t>(FPageSize), 0);
  SetChild(b, 0, -FFreeHead);
  WritePageBuf(page, b, false);
  FFreeHead = page;
}

void TVdbBTree::MoveLastPageTo(std::int64_t hole) {
  const std::int64_t last = FPages;
  if (hole != last) {
    // The last page's parent is on the search path of its first entry.
    TBuf moved, b;
    ReadPageBuf(last, moved);
    if (Count(moved) < 1) Corrupt(u"moved page");
    std::vector<std::uint8_t> key(EntryOf(moved, 1).begin(), EntryOf(moved, 1).end());
    std::int64_t page = 1;
    bool fixed = false;
    for (std::int32_t depth = 1; depth < FHeight && !fixed; ++depth) {
      LoadChecked(page, depth, b);
      bool eq;
      const std::int32_t pos = Search(b, key, eq);
      if (Child(b, pos) == last) {
        SetChild(b, pos, hole);
        WritePageBuf(page, b, false);
        fixed = true;
      }
      page = Child(b, pos);
    }
    if (!fixed) Corrupt(u"moved page");
    WritePageBuf(hole, moved, false);
    FMovedFrom = last;
    FMovedTo = hole;
  }
  --FPages;
  Guarded([&] { FStorage.SetPageCount(FPages + 1); });
}

// ---- insert

bool TVdbBTree::Insert(TVdbBytes entry) {
  Changed();
  RequireOpen();
  if (static_cast<std::int32_t>(entry.size()) != FEntrySize) {
    RaiseEngineError(errIndexInsert, {FStorage.Name()});
  }
  if (FHeight == 0) {
    if (FPages == 0) FPages = 1;
    TBuf root(static_cast<std::size_t>(FPageSize), 0);
    InsertItem(root, 1, 0, entry);
    WritePageBuf(1, root, true);
    FHeight = 1;
    FItemCount = 1;
    WriteHeader();
    return true;
  }
  std::vector<TStep> path;
  std::vector<TBuf> bufs;
  std::int64_t page = 1;
  for (std::int32_t depth = 1;; ++depth) {
    bufs.emplace_back();
    LoadChecked(page, depth, bufs.back());
    bool eq;
    const std::int32_t pos = Search(bufs.back(), entry, eq);
    if (eq) return false;
    path.push_back({page, pos});
    if (depth == FHeight) break;
    page = Child(bufs.back(), pos);
  }
  std::vector<std::uint8_t> carry(entry.begin(), entry.end());
  std::int64_t carryChild = 0;
  for (std::size_t level = path.size(); level-- > 0;) {
    TBuf& b = bufs[level];
    const std::int32_t pos = path[level].Pos;
    if (Count(b) < 2 * FOrder2) {
      InsertItem(b, pos + 1, carryChild, carry);
      WritePageBuf(path[level].Page, b, false);
      break;
    }
    // Split: the lower `order` items stay, the middle one moves up, the upper ones move out.
    InsertItem(b, pos + 1, carryChild, carry);  // b holds capacity + 1 items now
    const std::int32_t order = FOrder2;
    TBuf right(static_cast<std::size_t>(FPageSize), 0);
    SetChild(right, 0, Child(b, order + 1));
    for (std::int32_t i = order + 2; i <= 2 * order + 1; ++i) {
      InsertItem(right, i - order - 1, Child(b, i), EntryOf(b, i));
    }
    std::vector<std::uint8_t> middle(EntryOf(b, order + 1).begin(), EntryOf(b, order + 1).end());
    TBuf lower(static_cast<std::size_t>(FPageSize), 0);
    SetChild(lower, 0, Child(b, 0));
    for (std::int32_t i = 1; i <= order; ++i) InsertItem(lower, i, Child(b, i), EntryOf(b, i));
    const std::int64_t rightPage = AllocPage();
    WritePageBuf(rightPage, right, true);
    if (path[level].Page == 1) {
      // The root stays on page 1: its lower half moves to a page of its own.
      const std::int64_t leftPage = AllocPage();
      WritePageBuf(leftPage, lower, true);
      TBuf root(static_cast<std::size_t>(FPageSize), 0);
      SetChild(root, 0, leftPage);
      InsertItem(root, 1, rightPage, middle);
      WritePageBuf(1, root, false);
      ++FHeight;
      break;
    }
    WritePageBuf(path[level].Page, lower, false);
    carry = std::move(middle);
    carryChild = rightPage;
  }
  if (FItemCount >= 0) ++FItemCount;
  WriteHeader();
  return true;
}

// ---- delete

bool TVdbBTree::Delete(TVdbBytes entry) {
  Changed();
  RequireOpen();
  if (FHeight == 0 || static_cast<std::int32_t>(entry.size()) != FEntrySize) return false;
  std::vector<TStep> path;
  std::int64_t page = 1;
  TBuf b;
  std::int32_t foundLevel = -1;
  for (std::int32_t depth = 1;; ++depth) {
    LoadChecked(page, depth, b);
    bool eq;
    const std::int32_t pos = Search(b, entry, eq);
    path.push_back({page, pos});
    if (eq) {
      foundLevel = depth - 1;
      break;
    }
    if (depth == FHeight) return false;
    page = Child(b, pos);
  }
  const std::int32_t item = path.back().Pos + 1;
  if (foundLevel + 1 < FHeight) {
    // An inner entry is replaced by its successor, the first entry of its right subtree.
    TBuf inner = b;
    path.back().Pos = item;
    page = Child(inner, item);
    for (std::int32_t depth = foundLevel + 2;; ++depth) {
      LoadChecked(page, depth, b);
      path.push_back({page, 0});
      if (depth == FHeight) break;
      page = Child(b, 0);
    }
    std::memcpy(Item(inner, item) + ChildSize(), EntryOf(b, 1).data(),
                static_cast<std::size_t>(FEntrySize));
    WritePageBuf(path[static_cast<std::size_t>(foundLevel)].Page, inner, false);
    RemoveItem(b, 1);
  } else {
    RemoveItem(b, item);
  }
  WritePageBuf(path.back().Page, b, false);
  if (FItemCount >= 0) --FItemCount;
  if (path.size() == 1) {
    if (Count(b) == 0) FHeight = 0;
  } else {
    Rebalance(path, path.size() - 1);
  }
  WriteHeader();
  return true;
}

void TVdbBTree::Rebalance(std::vector<TStep>& path, std::size_t level) {
  const std::int32_t order = FOrder2;
  for (; level > 0; --level) {
    auto depthOf = [&](std::size_t l) { return static_cast<std::int32_t>(l) + 1; };
    TBuf nb, pb, lb, rb;
    const std::int64_t node = path[level].Page;
    LoadChecked(node, depthOf(level), nb);
    if (Count(nb) >= order) return;
    const std::int64_t parent = path[level - 1].Page;
    LoadChecked(parent, depthOf(level - 1), pb);
    const std::int32_t idx = path[level - 1].Pos;
    if (idx < 0 || idx > Count(pb) || Child(pb, idx) != node || Count(pb) == 0) Corrupt(u"path");
    const bool nodeIsRight = idx > 0;
    const std::int32_t sep = nodeIsRight ? idx : 1;
    const std::int64_t leftPage = nodeIsRight ? Child(pb, idx - 1) : node;
    const std::int64_t rightPage = nodeIsRight ? node : Child(pb, 1);
    LoadChecked(leftPage, depthOf(level), lb);
    LoadChecked(rightPage, depthOf(level), rb);
    const std::int32_t lc = Count(lb), rc = Count(rb);
    if (lc + rc < 2 * order) {
      // Merge: the separator comes down between the two pages' items.
      InsertItem(lb, lc + 1, Child(rb, 0), EntryOf(pb, sep));
      for (std::int32_t i = 1; i <= rc; ++i) InsertItem(lb, lc + 1 + i, Child(rb, i), EntryOf(rb, i));
      RemoveItem(pb, sep);
      if (level - 1 == 0 && Count(pb) == 0) {
        // The root lost its last item: its only child moves into page 1.
        WritePageBuf(1, lb, false);
        --FHeight;
        // Higher page first: below version 4 freeing moves the last page into the hole.
        FreePage(std::max(leftPage, rightPage));
        FreePage(std::min(leftPage, rightPage));
        return;
      }
      WritePageBuf(leftPage, lb, false);
      WritePageBuf(parent, pb, false);
      FMovedFrom = FMovedTo = 0;
      FreePage(rightPage);
      if (FMovedFrom != 0) {
        for (auto& s : path) {
          if (s.Page == FMovedFrom) s.Page = FMovedTo;
        }
      }
      continue;
    }
    // Rotate one item through the parent.
    std::vector<std::uint8_t> sepEntry(EntryOf(pb, sep).begin(), EntryOf(pb, sep).end());
    if (nodeIsRight) {
      InsertItem(rb, 1, Child(rb, 0), sepEntry);
      SetChild(rb, 0, Child(lb, lc));
      std::memcpy(Item(pb, sep) + ChildSize(), EntryOf(lb, lc).data(), static_cast<std::size_t>(FEntrySize));
      RemoveItem(lb, lc);
    } else {
      InsertItem(lb, lc + 1, Child(rb, 0), sepEntry);
      SetChild(rb, 0, Child(rb, 1));
      std::memcpy(Item(pb, sep) + ChildSize(), EntryOf(rb, 1).data(), static_cast<std::size_t>(FEntrySize));
      RemoveItem(rb, 1);
    }
    WritePageBuf(leftPage, lb, false);
    WritePageBuf(rightPage, rb, false);
    WritePageBuf(parent, pb, false);
    return;
  }
}

void TVdbBTree::Clear() {
  Changed();
  RequireOpen();
  FHeight = 0;
  FPages = 0;
  FFreeHead = 0;
  FItemCount = 0;
  WriteHeader();
  Guarded([&] { FStorage.SetPageCount(1); });
}

// ---- bulk build

void TVdbBTree::BuildFromSorted(const IVdbEntryList& entries, const TVdbProgressFunc& progress) {
  Changed();
  RequireOpen();
  if (FHeight != 0) RaiseEngineError(errIndexInsert, {FStorage.Name()});
  const auto n = static_cast<std::int64_t>(entries.Count());
  FPages = 0;
  FFreeHead = 0;
  Guarded([&] { FStorage.SetPageCount(1); });
  if (n == 0) {
    FItemCount = 0;
    WriteHeader();
    return;
  }
  const std::int64_t capacity = 2 * FOrder2;
  std::int32_t height = 1;
  while (MaxEntries(capacity, height) < n) ++height;
  const std::int64_t pagesNeeded = n / FOrder2 + 2;
  if (pagesNeeded > MaxPages()) RaiseEngineError(errIndexDataTooLarge, {FStorage.Name()});
  for (std::size_t i = 0; i < entries.Count(); ++i) {
    if (static_cast<std::int32_t>(entries.Entry(i).size()) != FEntrySize) {
      RaiseEngineError(errIndexInsert, {FStorage.Name()});
    }
  }
  std::int64_t done = 0;
  // Builds the subtree of `h` levels over entries [lo, hi) into page `page`. Children get
  // equal shares, so every page but the root holds at least `order` items.
  auto build = [&](auto&& self, std::int64_t lo, std::int64_t hi, std::int32_t h,
                   std::int64_t page) -> void {
    TBuf b(static_cast<std::size_t>(FPageSize), 0);
    const std::int64_t m = hi - lo;
    if (h == 1) {
      for (std::int64_t i = 0; i < m; ++i) {
        InsertItem(b, static_cast<std::int32_t>(i + 1), 0, entries.Entry(static_cast<std::size_t>(lo + i)));
      }
      WritePageBuf(page, b, true);
      done += m;
      if (progress) progress(done, n);
      return;
    }
    const std::int64_t sub = MaxEntries(capacity, h - 1);
    const std::int64_t children = std::max<std::int64_t>(2, (m + 1 + sub) / (sub + 1));
    const std::int64_t forChildren = m - (children - 1);
    const std::int64_t base = forChildren / children, extra = forChildren % children;
    std::int64_t pos = lo;
    for (std::int64_t c = 0; c < children; ++c) {
      const std::int64_t share = base + (c < extra ? 1 : 0);
      const std::int64_t childPage = AllocPage();
      self(self, pos, pos + share, h - 1, childPage);
      pos += share;
      if (c == 0) {
        SetChild(b, 0, childPage);
      } else {
        SetChild(b, static_cast<std::int32_t>(c), childPage);
      }
      if (c + 1 < children) {
        InsertItem(b, static_cast<std::int32_t>(c + 1), 0, entries.Entry(static_cast<std::size_t>(pos)));
        ++pos;
        ++done;
      }
    }
    WritePageBuf(page, b, true);
  };
  FPages = 1;
  FHeight = height;
  build(build, 0, n, height, 1);
  FItemCount = n;
  WriteHeader();
}

// ---- check

TVdbTreeCheckResult TVdbBTree::Check() {
  TVdbTreeCheckResult r;
  if (!FOpen) {
    r.Problems.push_back(u"Tree is not open");
    return r;
  }
  try {
    std::vector<bool> used(static_cast<std::size_t>(FPages + 1), false);
    std::vector<std::uint8_t> prev;
    bool havePrev = false;
    std::int64_t usedCount = 0;
    auto walk = [&](auto&& self, std::int64_t page, std::int32_t depth) -> void {
      if (page < 1 || page > FPages) {
        r.Problems.push_back(u"Page number " + Num(page) + u" lies outside the tree");
        return;
      }
      if (used[static_cast<std::size_t>(page)]) {
        r.Problems.push_back(u"Page " + Num(page) + u" is reached twice");
        return;
      }
      used[static_cast<std::size_t>(page)] = true;
      ++usedCount;
      TBuf b;
      ReadPageBuf(page, b);
      const std::int32_t n = Count(b);
      if (n < 0 || n > 2 * FOrder2) {
        r.Problems.push_back(u"Page " + Num(page) + u" has a bad item count");
        return;
      }
      if (page != 1 && n < FOrder2) r.Problems.push_back(u"Page " + Num(page) + u" is under-full");
      const bool leaf = depth == FHeight;
      for (std::int32_t i = 0; i <= n; ++i) {
        const std::int64_t child = Child(b, i);
        if (leaf && child != 0) r.Problems.push_back(u"Leaf page " + Num(page) + u" has a child");
        if (!leaf) self(self, child, depth + 1);
        if (i < n) {
          const TVdbBytes e = EntryOf(b, i + 1);
          if (havePrev && FOrder.Compare(prev, e) >= 0) ++r.Unordered;
          prev.assign(e.begin(), e.end());
          havePrev = true;
          ++r.ItemCount;
        }
      }
    };
    if (FHeight > 0) walk(walk, 1, 1);
    // The free list: pages in the tree, not in use, each marked with the next one.
    std::int64_t freeCount = 0;
    for (std::int64_t p = FFreeHead; p != 0;) {
      if (p < 2 || p > FPages || used[static_cast<std::size_t>(p)]) {
        r.Problems.push_back(u"Free list reaches page " + Num(p));
        break;
      }
      used[static_cast<std::size_t>(p)] = true;
      ++freeCount;
      TBuf b;
      ReadPageBuf(p, b);
      const std::int64_t marker = Child(b, 0);
      if (marker > 0) {
        r.Problems.push_back(u"Free page " + Num(p) + u" is not marked free");
        break;
      }
      p = -marker;
    }
    const std::int64_t expectedUsed = FHeight > 0 ? usedCount : (FPages >= 1 ? 1 : 0);
    if (expectedUsed + freeCount != FPages) {
      r.Problems.push_back(u"Pages neither in use nor free: " + Num(FPages - expectedUsed - freeCount));
    }
    if (FItemCount >= 0 && FItemCount != r.ItemCount) {
      r.Problems.push_back(u"Tree holds " + Num(r.ItemCount) + u" entries, expected " + Num(FItemCount));
    }
  } catch (const EVdbEngine& e) {
    r.Problems.push_back(e.Message());
  }
  return r;
}

}  // namespace vdb
