#include "storage/VdbBPlusTree.h"

#include <algorithm>
#include <cstring>

#include "base/VdbErrorCodes.h"
#include "base/vuLittleEndian.h"

namespace vdb {

namespace {

std::u16string Num(std::int64_t n) {
  std::string s = std::to_string(n);
  return std::u16string(s.begin(), s.end());
}

constexpr std::int32_t kChildSize = 4;
constexpr std::int32_t kSlotSize = 2;

}  // namespace

bool TVdbBPlusTree::PageSizeFits(std::int32_t pageSize, std::int32_t maxEntrySize) {
  if (pageSize < kBpMinPageSize || pageSize > kBpMaxPageSize || maxEntrySize <= kVdbRecNoSize) return false;
  const std::int64_t room = std::int64_t{pageSize} - kBpLeafItems - kSlotSize;
  return room >= 4 * (std::int64_t{maxEntrySize} + kChildSize + kSlotSize);
}

std::int32_t TVdbBPlusTree::CalcPageSize(std::int32_t maxEntrySize) {
  std::int32_t pageSize = 4096;
  while (pageSize < kBpMaxPageSize && !PageSizeFits(pageSize, maxEntrySize)) pageSize *= 2;
  return pageSize;
}

// ---- header

void TVdbBPlusTree::WriteHeader() {
  std::uint8_t h[kBpHeaderSize] = {};
  vuPutU32(h + kBpHdrPageCount, static_cast<std::uint32_t>(FPageCount));
  vuPutU16(h + kBpHdrHeight, static_cast<std::uint16_t>(FHeight));
  vuPutU32(h + kBpHdrRoot, static_cast<std::uint32_t>(FRoot));
  vuPutU32(h + kBpHdrFreeHead, static_cast<std::uint32_t>(FFreeHead));
  vuPutU32(h + kBpHdrPageSize, static_cast<std::uint32_t>(FPageSize));
  vuPutU32(h + kBpHdrItemCount, static_cast<std::uint32_t>(FItemCount));
  WriteHeaderBytes(h, kBpHeaderSize);
}

void TVdbBPlusTree::New(std::int32_t pageSize, std::int32_t entrySize) {
  Changed();
  if (!PageSizeFits(pageSize, entrySize)) RaiseEngineError(errInconsistentIndexDefinition, {FStorage.Name()});
  FPageSize = pageSize;
  FMaxEntrySize = entrySize;
  FPageCount = 1;
  FHeight = 0;
  FRoot = 0;
  FFreeHead = 0;
  FItemCount = 0;
  WriteHeader();
  FOpen = true;
}

void TVdbBPlusTree::Open() {
  Changed();
  std::uint8_t h[kBpHeaderSize] = {};
  ReadHeaderBytes(h, kBpHeaderSize);
  FPageCount = static_cast<std::int32_t>(vuGetU32(h + kBpHdrPageCount));
  FHeight = static_cast<std::int16_t>(vuGetU16(h + kBpHdrHeight));
  FRoot = static_cast<std::int32_t>(vuGetU32(h + kBpHdrRoot));
  FFreeHead = static_cast<std::int32_t>(vuGetU32(h + kBpHdrFreeHead));
  FPageSize = static_cast<std::int32_t>(vuGetU32(h + kBpHdrPageSize));
  FItemCount = static_cast<std::int32_t>(vuGetU32(h + kBpHdrItemCount));
  const std::int64_t filePages = Guarded([&] { return FStorage.GetPageCount(); });
  const bool ok = FPageSize >= kBpMinPageSize && FPageSize <= kBpMaxPageSize &&
                  FPageSize == FStorage.GetPageSize() && FPageCount >= 1 &&
                  FPageCount <= kBpMaxPages && FPageCount <= filePages && FHeight >= 0 &&
                  FHeight <= 64 && FHeight < FPageCount && FRoot >= 0 && FRoot < FPageCount &&
                  (FRoot == 0) == (FHeight == 0) && FFreeHead >= 0 && FFreeHead < FPageCount &&
                  FItemCount >= 0 && (FItemCount == 0 || FRoot != 0);
  if (!ok) Corrupt(u"tree header");
  FOpen = true;
}

void TVdbBPlusTree::SetMaxEntrySize(std::int32_t size) {
  if (!PageSizeFits(FPageSize, size)) RaiseEngineError(errInconsistentIndexDefinition, {FStorage.Name()});
  FMaxEntrySize = size;
}

// ---- pages

std::int64_t TVdbBPlusTree::Used(const TPage& p) const {
  std::int64_t used = ItemStart(p.Leaf) + kSlotSize;
  for (const auto& item : p.Items) used += static_cast<std::int64_t>(item.size()) + kSlotSize;
  return used;
}

template <class P>
std::int64_t TVdbBPlusTree::ChildOf(const P& p, std::size_t i) {
  if (i == 0) return p.Link0;
  const TVdbBytes item = Item(p, i - 1);
  return static_cast<std::int32_t>(vuGetU32(item.data() + item.size() - kChildSize));
}

template <class P>
TVdbBytes TVdbBPlusTree::KeyOf(const P& p, std::size_t i) {
  const TVdbBytes item = Item(p, i);
  return item.first(item.size() - (p.Leaf ? 0 : kChildSize));
}

void TVdbBPlusTree::Load(std::int64_t no, std::int32_t depth, TPage& p) {
  TView v;
  Load(no, depth, v);
  ToPage(v, p);
}

void TVdbBPlusTree::ToPage(const TView& v, TPage& p) {
  p.No = v.No;
  p.Leaf = v.Leaf;
  p.Link0 = v.Link0;
  p.Link1 = v.Link1;
  p.Items.clear();
  p.Items.reserve(v.Ends.size());
  for (std::size_t i = 0; i < v.Ends.size(); ++i) p.Items.emplace_back(Item(v, i).begin(), Item(v, i).end());
}

void TVdbBPlusTree::Load(std::int64_t no, std::int32_t depth, TView& p) {
  if (no < 1 || no >= FPageCount || depth < 1 || depth > FHeight) Corrupt(u"page number");
  std::vector<std::uint8_t>& b = p.Raw;
  ReadPageBuf(no, b);
  p.No = no;
  p.Leaf = depth == FHeight;
  p.Ends.clear();
  const std::int32_t start = ItemStart(p.Leaf);
  p.Start = start;
  const std::int32_t count = vuGetU16(b.data() + FPageSize - kSlotSize);
  const std::int32_t slotsStart = FPageSize - kSlotSize - kSlotSize * count;
  if (slotsStart < start) Corrupt(u"item count");
  const std::int32_t minimum = p.Leaf ? kVdbRecNoSize + 1 : kVdbRecNoSize + 1 + kChildSize;
  std::int32_t prevEnd = start;
  p.Ends.reserve(static_cast<std::size_t>(count));
  for (std::int32_t k = 1; k <= count; ++k) {
    const std::int32_t end = vuGetU16(b.data() + FPageSize - kSlotSize - kSlotSize * k);
    if (end - prevEnd < minimum || end > slotsStart) Corrupt(u"slot");
    p.Ends.push_back(static_cast<std::uint16_t>(end));
    prevEnd = end;
  }
  if (p.Leaf) {
    p.Link0 = static_cast<std::int32_t>(vuGetU32(b.data() + kBpLeafPrev));
    p.Link1 = static_cast<std::int32_t>(vuGetU32(b.data() + kBpLeafNext));
  } else {
    p.Link0 = static_cast<std::int32_t>(vuGetU32(b.data() + kBpInnerLeftChild));
    p.Link1 = 0;
    for (std::size_t i = 0; i <= p.Ends.size(); ++i) {
      const std::int64_t c = ChildOf(p, i);
      if (c < 1 || c >= FPageCount || c == no) Corrupt(u"child page number");
    }
  }
}

bool TVdbBPlusTree::InsertInPlace(TView& p, std::size_t pos, TVdbBytes item) {
  const std::size_t count = Count(p);
  const std::int32_t size = static_cast<std::int32_t>(item.size());
  const std::int32_t end = count == 0 ? p.Start : p.Ends.back();
  // The same rule as Store's: items, their slots and the count must fit the page.
  if (end + size + kSlotSize * static_cast<std::int32_t>(count + 1) + kSlotSize > FPageSize) return false;
  std::uint8_t* b = p.Raw.data();
  const std::int32_t at = pos == 0 ? p.Start : p.Ends[pos - 1];
  std::memmove(b + at + size, b + at, static_cast<std::size_t>(end - at));
  std::memcpy(b + at, item.data(), item.size());
  p.Ends.insert(p.Ends.begin() + static_cast<std::ptrdiff_t>(pos), static_cast<std::uint16_t>(at));
  for (std::size_t k = pos; k <= count; ++k) p.Ends[k] = static_cast<std::uint16_t>(p.Ends[k] + size);
  // The slot directory grows by one slot into the free space (zero, as Store leaves it).
  for (std::size_t k = pos; k <= count; ++k) {
    vuPutU16(b + FPageSize - kSlotSize - kSlotSize * static_cast<std::int32_t>(k + 1), p.Ends[k]);
  }
  vuPutU16(b + FPageSize - kSlotSize, static_cast<std::uint16_t>(count + 1));
  WritePageBuf(p.No, p.Raw, false);
  return true;
}

bool TVdbBPlusTree::DeleteInPlace(TView& p, std::size_t pos, bool root) {
  const std::size_t count = Count(p);
  if (root ? count <= 1 : false) return false;  // an emptied root leaves the tree
  const std::int32_t at = pos == 0 ? p.Start : p.Ends[pos - 1];
  const std::int32_t size = p.Ends[pos] - at;
  const std::int32_t end = p.Ends.back();
  // Used bytes after the removal, counted as Store counts them; a leaf that falls under the
  // merge threshold takes the general way.
  const std::int64_t used = end - size + kSlotSize * static_cast<std::int64_t>(count - 1) + kSlotSize;
  if (!root && used * 100 / FPageSize < kBpLeafMergePercent) return false;
  std::uint8_t* b = p.Raw.data();
  std::memmove(b + at, b + at + size, static_cast<std::size_t>(end - at - size));
  // Freed item bytes and the freed slot become zero, as Store leaves unused bytes.
  std::memset(b + end - size, 0, static_cast<std::size_t>(size));
  p.Ends.erase(p.Ends.begin() + static_cast<std::ptrdiff_t>(pos));
  for (std::size_t k = pos; k + 1 < count; ++k) {
    p.Ends[k] = static_cast<std::uint16_t>(p.Ends[k] - size);
    vuPutU16(b + FPageSize - kSlotSize - kSlotSize * static_cast<std::int32_t>(k + 1), p.Ends[k]);
  }
  vuPutU16(b + FPageSize - kSlotSize - kSlotSize * static_cast<std::int32_t>(count), 0);
  vuPutU16(b + FPageSize - kSlotSize, static_cast<std::uint16_t>(count - 1));
  WritePageBuf(p.No, p.Raw, false);
  return true;
}

void TVdbBPlusTree::Store(const TPage& p, bool fresh) {
  if (Used(p) > FPageSize) RaiseEngineError(errPageFull);
  std::vector<std::uint8_t> b(static_cast<std::size_t>(FPageSize), 0);
  if (p.Leaf) {
    vuPutU32(b.data() + kBpLeafPrev, static_cast<std::uint32_t>(p.Link0));
    vuPutU32(b.data() + kBpLeafNext, static_cast<std::uint32_t>(p.Link1));
  } else {
    vuPutU32(b.data() + kBpInnerLeftChild, static_cast<std::uint32_t>(p.Link0));
  }
  std::int32_t pos = ItemStart(p.Leaf);
  for (std::size_t k = 0; k < p.Items.size(); ++k) {
    std::memcpy(b.data() + pos, p.Items[k].data(), p.Items[k].size());
    pos += static_cast<std::int32_t>(p.Items[k].size());
    vuPutU16(b.data() + FPageSize - kSlotSize - kSlotSize * static_cast<std::int32_t>(k + 1),
             static_cast<std::uint16_t>(pos));
  }
  vuPutU16(b.data() + FPageSize - kSlotSize, static_cast<std::uint16_t>(p.Items.size()));
  WritePageBuf(p.No, b, fresh);
}

std::int64_t TVdbBPlusTree::AllocPage() {
  if (FFreeHead != 0) {
    // Freed pages are taken first, so that deleting and inserting does not grow the file.
    const std::int64_t no = FFreeHead;
    if (no < 1 || no >= FPageCount) Corrupt(u"free list");
    std::vector<std::uint8_t> b;
    ReadPageBuf(no, b);
    // A freed page is zero but for its link: a page with items is in use, and taking it
    // would overwrite live entries.
    const std::int64_t next = static_cast<std::int32_t>(vuGetU32(b.data()));
    if (next < 0 || next >= FPageCount || next == no || vuGetU16(b.data() + FPageSize - kSlotSize) != 0) {
      Corrupt(u"free list");
    }
    FFreeHead = next;
    return no;
  }
  if (FPageCount + 1 > kBpMaxPages) RaiseEngineError(errIndexDataTooLarge, {FStorage.Name()});
  return FPageCount++;
}

void TVdbBPlusTree::ReleasePage(std::int64_t no) {
  if (no == FPageCount - 1) {
    --FPageCount;
    Guarded([&] { FStorage.SetPageCount(FPageCount); });
    return;
  }
  std::vector<std::uint8_t> b(static_cast<std::size_t>(FPageSize), 0);
  vuPutU32(b.data(), static_cast<std::uint32_t>(FFreeHead));
  WritePageBuf(no, b, false);
  FFreeHead = no;
}

// ---- search

template <class P>
std::size_t TVdbBPlusTree::LowerBound(const P& leaf, TVdbBytes key) const {
  std::size_t lo = 0, hi = Count(leaf);
  while (lo < hi) {
    const std::size_t mid = (lo + hi) / 2;
    if (FOrder.Compare(KeyOf(leaf, mid), key) < 0) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo;
}

template <class P>
std::size_t TVdbBPlusTree::UpperBound(const P& page, TVdbBytes key) const {
  std::size_t lo = 0, hi = Count(page);
  while (lo < hi) {
    const std::size_t mid = (lo + hi) / 2;
    if (FOrder.Compare(KeyOf(page, mid), key) <= 0) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo;
}

template <class P>
void TVdbBPlusTree::Descend(TVdbBytes key, TSeek seek, std::vector<P>& path,
                            std::vector<std::size_t>& idx) {
  path.assign(static_cast<std::size_t>(FHeight), P{});
  idx.assign(static_cast<std::size_t>(FHeight), 0);
  std::int64_t no = FRoot;
  for (std::int32_t depth = 1; depth <= FHeight; ++depth) {
    P& p = path[static_cast<std::size_t>(depth - 1)];
    Load(no, depth, p);
    if (p.Leaf) break;
    std::size_t c = 0;
    switch (seek) {
      case TSeek::skFirst: c = 0; break;
      case TSeek::skLast: c = Count(p); break;
      default: c = UpperBound(p, key); break;  // separators <= key lead right
    }
    idx[static_cast<std::size_t>(depth - 1)] = c;
    no = ChildOf(p, c);
  }
}

template <class P>
bool TVdbBPlusTree::StepLeaf(std::vector<P>& path, std::vector<std::size_t>& idx, bool forward) {
  std::size_t level = path.size() - 1;
  while (level-- > 0) {
    const std::size_t n = Count(path[level]);
    if (forward ? idx[level] < n : idx[level] > 0) {
      idx[level] += forward ? 1 : std::size_t(-1);
      std::int64_t no = ChildOf(path[level], idx[level]);
      for (std::size_t l = level + 1; l < path.size(); ++l) {
        Load(no, static_cast<std::int32_t>(l + 1), path[l]);
        if (path[l].Leaf) break;
        idx[l] = forward ? 0 : Count(path[l]);
        no = ChildOf(path[l], idx[l]);
      }
      return true;
    }
  }
  return false;
}

bool TVdbBPlusTree::Seek(TVdbBytes key, TSeek seek, bool forward, std::vector<std::uint8_t>& found) {
  RequireOpen();
  if (FRoot == 0) return false;
  std::vector<TView> path;
  std::vector<std::size_t> idx;
  Descend(key, seek, path, idx);
  const TView* leaf = &path.back();
  std::size_t pos;
  switch (seek) {
    case TSeek::skFirst: pos = 0; break;
    case TSeek::skLast: pos = Count(*leaf); break;
    case TSeek::skUpper: pos = UpperBound(*leaf, key); break;
    default: pos = LowerBound(*leaf, key); break;
  }
  // Every step loads a new page; a damaged tree cannot make this run longer than its pages.
  for (std::int64_t steps = 0; steps <= FPageCount; ++steps) {
    leaf = &path.back();
    if (forward && pos < Count(*leaf)) {
      const TVdbBytes item = Item(*leaf, pos);
      found.assign(item.begin(), item.end());
      return true;
    }
    if (!forward && pos > 0) {
      const TVdbBytes item = Item(*leaf, pos - 1);
      found.assign(item.begin(), item.end());
      return true;
    }
    if (!StepLeaf(path, idx, forward)) return false;
    pos = forward ? 0 : Count(path.back());
  }
  Corrupt(u"leaf walk");
}

// ---- the kept walk

class TVdbBPlusWalk final : public TVdbTreeIterator {
 public:
  explicit TVdbBPlusWalk(TVdbBPlusTree& tree) : TVdbTreeIterator(tree), FTree(tree) {}

 protected:
  bool DoSeek(TSeek seek, TVdbBytes key, std::vector<std::uint8_t>& entry) override {
    FTree.RequireOpen();
    if (FTree.FRoot == 0) return false;
    using TTreeSeek = TVdbBPlusTree::TSeek;
    const TTreeSeek descent = seek == TSeek::skFirst   ? TTreeSeek::skFirst
                              : seek == TSeek::skLast  ? TTreeSeek::skLast
                              : seek == TSeek::skUpper ? TTreeSeek::skUpper
                                                       : TTreeSeek::skLower;
    FTree.Descend(key, descent, FPath, FIdx);
    const TVdbBPlusTree::TView& leaf = FPath.back();
    switch (seek) {
      case TSeek::skFirst: return Settle(true, 0, entry);
      case TSeek::skLast: return Settle(false, TVdbBPlusTree::Count(leaf), entry);
      case TSeek::skUpper: return Settle(true, FTree.UpperBound(leaf, key), entry);
      case TSeek::skLower: return Settle(true, FTree.LowerBound(leaf, key), entry);
      case TSeek::skBefore: return Settle(false, FTree.LowerBound(leaf, key), entry);
    }
    return false;
  }

  bool DoStep(bool forward, std::vector<std::uint8_t>& entry) override {
    return Settle(forward, forward ? FPos + 1 : FPos, entry);
  }

 private:
  // The item at `gap` (forward) or before it (backward) in the kept leaf, else in the next
  // leaf with items in that direction.
  bool Settle(bool forward, std::size_t gap, std::vector<std::uint8_t>& entry) {
    // Every step loads a new page; a damaged tree cannot make this run longer than its pages.
    for (std::int64_t steps = 0; steps <= FTree.FPageCount; ++steps) {
      const TVdbBPlusTree::TView& leaf = FPath.back();
      if (forward ? gap < TVdbBPlusTree::Count(leaf) : gap > 0) {
        FPos = forward ? gap : gap - 1;
        const TVdbBytes item = TVdbBPlusTree::Item(leaf, FPos);
        entry.assign(item.begin(), item.end());
        return true;
      }
      if (!FTree.StepLeaf(FPath, FIdx, forward)) return false;
      gap = forward ? 0 : TVdbBPlusTree::Count(FPath.back());
    }
    FTree.Corrupt(u"leaf walk");
  }

  TVdbBPlusTree& FTree;
  std::vector<TVdbBPlusTree::TView> FPath;
  std::vector<std::size_t> FIdx;
  std::size_t FPos = 0;
};

std::unique_ptr<TVdbTreeIterator> TVdbBPlusTree::NewIterator() { return std::make_unique<TVdbBPlusWalk>(*this); }

bool TVdbBPlusTree::FindFirst(std::vector<std::uint8_t>& found) { return Seek({}, TSeek::skFirst, true, found); }
bool TVdbBPlusTree::FindLast(std::vector<std::uint8_t>& found) { return Seek({}, TSeek::skLast, false, found); }
bool TVdbBPlusTree::Find(TVdbBytes key, std::vector<std::uint8_t>& found) {
  return Seek(key, TSeek::skLower, true, found);
}
bool TVdbBPlusTree::FindNext(TVdbBytes key, std::vector<std::uint8_t>& found) {
  return Seek(key, TSeek::skUpper, true, found);
}
bool TVdbBPlusTree::FindPrev(TVdbBytes key, std::vector<std::uint8_t>& found) {
  return Seek(key, TSeek::skLower, false, found);
}

std::int64_t TVdbBPlusTree::CountSubtree(std::int64_t no, std::int32_t depth) {
  TView p;
  Load(no, depth, p);
  if (p.Leaf) return static_cast<std::int64_t>(Count(p));
  std::int64_t total = 0;
  for (std::size_t i = 0; i <= Count(p); ++i) total += CountSubtree(ChildOf(p, i), depth + 1);
  return total;
}

std::int64_t TVdbBPlusTree::CalcItemSequenceNo(TVdbBytes key) {
  RequireOpen();
  if (FRoot == 0) return 1;
  std::vector<TView> path;
  std::vector<std::size_t> idx;
  Descend(key, TSeek::skLower, path, idx);
  std::int64_t rank = 0;
  for (std::size_t l = 0; l + 1 < path.size(); ++l) {
    for (std::size_t c = 0; c < idx[l]; ++c) {
      rank += CountSubtree(ChildOf(path[l], c), static_cast<std::int32_t>(l + 2));
    }
  }
  return rank + static_cast<std::int64_t>(LowerBound(path.back(), key)) + 1;
}

// ---- insert

bool TVdbBPlusTree::Insert(TVdbBytes entry) {
  Changed();
  RequireOpen();
  const auto size = static_cast<std::int32_t>(entry.size());
  if (size <= kVdbRecNoSize || (FMaxEntrySize > 0 && size > FMaxEntrySize) || !PageSizeFits(FPageSize, size)) {
    RaiseEngineError(errIndexInsert, {FStorage.Name()});
  }
  if (FRoot == 0) {
    TPage leaf;
    leaf.No = AllocPage();
    leaf.Items.emplace_back(entry.begin(), entry.end());
    Store(leaf, true);
    FRoot = leaf.No;
    FHeight = 1;
    FItemCount = 1;
    WriteHeader();
    return true;
  }
  // The descent reads the pages in place; only a split needs them as lists of items.
  std::vector<TView> views;
  std::vector<std::size_t> idx;
  Descend(entry, TSeek::skLower, views, idx);
  const std::size_t pos = LowerBound(views.back(), entry);
  if (pos < Count(views.back()) && FOrder.Compare(KeyOf(views.back(), pos), entry) == 0) return false;
  if (InsertInPlace(views.back(), pos, entry)) {
    ++FItemCount;
    WriteHeader();
    return true;
  }
  std::vector<TPage> path(views.size());
  for (std::size_t l = 0; l < views.size(); ++l) ToPage(views[l], path[l]);
  TPage& leaf = path.back();
  leaf.Items.insert(leaf.Items.begin() + static_cast<std::ptrdiff_t>(pos), TItem(entry.begin(), entry.end()));
  for (std::size_t level = path.size() - 1;; --level) {
    TPage& page = path[level];
    if (Used(page) <= FPageSize) {
      Store(page, false);
      break;
    }
    // Split at the first item whose end reaches half of the item bytes.
    std::int64_t total = 0;
    for (const auto& item : page.Items) total += static_cast<std::int64_t>(item.size());
    std::size_t cut = 0;
    for (std::int64_t end = 0; cut < page.Items.size(); ++cut) {
      end += static_cast<std::int64_t>(page.Items[cut].size());
      if (2 * end >= total) break;
    }
    const std::size_t n = page.Items.size();
    if (n < (page.Leaf ? 2u : 3u)) RaiseEngineError(errPageFull);
    cut = std::clamp<std::size_t>(cut, 1, page.Leaf ? n - 1 : n - 2);
    TPage right;
    right.No = AllocPage();
    right.Leaf = page.Leaf;
    TItem up;
    if (page.Leaf) {
      right.Items.assign(page.Items.begin() + static_cast<std::ptrdiff_t>(cut), page.Items.end());
      right.Link0 = page.No;
      right.Link1 = page.Link1;
      if (page.Link1 != 0) {
        TPage next;
        Load(page.Link1, FHeight, next);
        next.Link0 = right.No;
        Store(next, false);
      }
      page.Link1 = right.No;
      up = right.Items.front();
    } else {
      const TItem& middle = page.Items[cut];
      right.Link0 = static_cast<std::int32_t>(vuGetU32(middle.data() + middle.size() - kChildSize));
      right.Items.assign(page.Items.begin() + static_cast<std::ptrdiff_t>(cut + 1), page.Items.end());
      up.assign(middle.begin(), middle.end() - kChildSize);
    }
    page.Items.resize(cut);
    up.resize(up.size() + kChildSize);
    vuPutU32(up.data() + up.size() - kChildSize, static_cast<std::uint32_t>(right.No));
    Store(page, false);
    Store(right, true);
    if (level == 0) {
      TPage root;
      root.No = AllocPage();
      root.Leaf = false;
      root.Link0 = page.No;
      root.Items.push_back(std::move(up));
      Store(root, true);
      FRoot = root.No;
      ++FHeight;
      break;
    }
    TPage& parent = path[level - 1];
    parent.Items.insert(parent.Items.begin() + static_cast<std::ptrdiff_t>(idx[level - 1]), std::move(up));
  }
  ++FItemCount;
  WriteHeader();
  return true;
}

// ---- delete

bool TVdbBPlusTree::TryMerge(TPage& left, TPage& right, TPage& parent, std::size_t sepIndex) {
  TPage merged = left;
  if (left.Leaf) {
    merged.Items.insert(merged.Items.end(), right.Items.begin(), right.Items.end());
    merged.Link1 = right.Link1;
  } else {
    TItem down = parent.Items[sepIndex];
    vuPutU32(down.data() + down.size() - kChildSize, static_cast<std::uint32_t>(right.Link0));
    merged.Items.push_back(std::move(down));
    merged.Items.insert(merged.Items.end(), right.Items.begin(), right.Items.end());
  }
  if (Used(merged) > FPageSize) return false;
  if (left.Leaf && right.Link1 != 0) {
    TPage next;
    Load(right.Link1, FHeight, next);
    next.Link0 = left.No;
    Store(next, false);
  }
  left = std::move(merged);
  Store(left, false);
  parent.Items.erase(parent.Items.begin() + static_cast<std::ptrdiff_t>(sepIndex));
  ReleasePage(right.No);
  return true;
}

bool TVdbBPlusTree::Delete(TVdbBytes entry) {
  Changed();
  RequireOpen();
  if (FRoot == 0) return false;
  // As Insert: the pages are read in place, and only a merge needs them as lists of items.
  std::vector<TView> views;
  std::vector<std::size_t> idx;
  Descend(entry, TSeek::skLower, views, idx);
  const std::size_t pos = LowerBound(views.back(), entry);
  if (pos >= Count(views.back()) || FOrder.Compare(KeyOf(views.back(), pos), entry) != 0) return false;
  if (DeleteInPlace(views.back(), pos, views.size() == 1)) {
    --FItemCount;
    WriteHeader();
    return true;
  }
  std::vector<TPage> path(views.size());
  for (std::size_t l = 0; l < views.size(); ++l) ToPage(views[l], path[l]);
  TPage& leaf = path.back();
  leaf.Items.erase(leaf.Items.begin() + static_cast<std::ptrdiff_t>(pos));
  --FItemCount;
  if (path.size() == 1 && leaf.Items.empty()) {
    ReleasePage(leaf.No);
    FRoot = 0;
    FHeight = 0;
    WriteHeader();
    return true;
  }
  Store(leaf, false);
  for (std::size_t level = path.size() - 1; level > 0; --level) {
    TPage& page = path[level];
    const std::int32_t percent = page.Leaf ? kBpLeafMergePercent : kBpInnerMergePercent;
    if (Used(page) * 100 / FPageSize >= percent) break;
    TPage& parent = path[level - 1];
    const std::size_t c = idx[level - 1];
    bool merged = false;
    if (c < parent.Items.size()) {
      TPage right;
      Load(ChildOf(parent, c + 1), static_cast<std::int32_t>(level + 1), right);
      merged = TryMerge(page, right, parent, c);
    }
    if (!merged && c > 0) {
      TPage left;
      Load(ChildOf(parent, c - 1), static_cast<std::int32_t>(level + 1), left);
      merged = TryMerge(left, page, parent, c - 1);
    }
    if (!merged) break;
    if (level - 1 == 0 && parent.Items.empty()) {
      // An inner root without items gives way to its only child.
      FRoot = parent.Link0;
      --FHeight;
      ReleasePage(parent.No);
      break;
    }
    Store(parent, false);
  }
  WriteHeader();
  return true;
}

void TVdbBPlusTree::Clear() {
  Changed();
  RequireOpen();
  FPageCount = 1;
  FHeight = 0;
  FRoot = 0;
  FFreeHead = 0;
  FItemCount = 0;
  WriteHeader();
  Guarded([&] { FStorage.SetPageCount(1); });
}

// ---- bulk build

void TVdbBPlusTree::BuildFromSorted(const IVdbEntryList& entries, const TVdbProgressFunc& progress) {
  Changed();
  RequireOpen();
  if (FRoot != 0) RaiseEngineError(errIndexInsert, {FStorage.Name()});
  FPageCount = 1;
  FFreeHead = 0;
  FItemCount = 0;
  Guarded([&] { FStorage.SetPageCount(1); });
  const std::size_t n = entries.Count();
  struct TChild {
    TItem FirstKey;
    std::int64_t No;
  };
  std::vector<TChild> level;
  // Leaves, filled in order and chained; a leaf is written once the next one has a number.
  TPage leaf;
  leaf.No = 0;
  std::int64_t used = kBpLeafItems + kSlotSize;
  for (std::size_t i = 0; i < n; ++i) {
    const TVdbBytes e = entries.Entry(i);
    const auto size = static_cast<std::int32_t>(e.size());
    if (size <= kVdbRecNoSize || (FMaxEntrySize > 0 && size > FMaxEntrySize) || !PageSizeFits(FPageSize, size)) {
      RaiseEngineError(errIndexInsert, {FStorage.Name()});
    }
    if (leaf.No == 0 || used + size + kSlotSize > FPageSize) {
      const std::int64_t no = AllocPage();
      if (leaf.No != 0) {
        leaf.Link1 = no;
        Store(leaf, true);
        if (progress) progress(static_cast<std::int64_t>(i), static_cast<std::int64_t>(n));
      }
      const std::int64_t prev = leaf.No;
      leaf = TPage{};
      leaf.No = no;
      leaf.Link0 = prev;
      used = kBpLeafItems + kSlotSize;
      level.push_back({TItem(e.begin(), e.end()), no});
    }
    leaf.Items.emplace_back(e.begin(), e.end());
    used += size + kSlotSize;
  }
  if (leaf.No != 0) Store(leaf, true);
  std::int32_t height = level.empty() ? 0 : 1;
  // Inner levels: each page takes children while their separators fit; the child that does
  // not fit starts the next page and its first key moves up a level.
  while (level.size() > 1) {
    std::vector<TChild> upper;
    TPage page;
    page.Leaf = false;
    for (std::size_t i = 0; i < level.size(); ++i) {
      TItem item = level[i].FirstKey;
      item.resize(item.size() + kChildSize);
      vuPutU32(item.data() + item.size() - kChildSize, static_cast<std::uint32_t>(level[i].No));
      if (i > 0 && Used(page) + static_cast<std::int64_t>(item.size()) + kSlotSize <= FPageSize) {
        page.Items.push_back(std::move(item));
        continue;
      }
      if (i > 0) Store(page, true);
      page = TPage{};
      page.Leaf = false;
      page.No = AllocPage();
      page.Link0 = level[i].No;
      upper.push_back({level[i].FirstKey, page.No});
    }
    Store(page, true);
    level.swap(upper);
    ++height;
  }
  FHeight = height;
  FRoot = level.empty() ? 0 : level.front().No;
  FItemCount = static_cast<std::int64_t>(n);
  WriteHeader();
  if (progress) progress(static_cast<std::int64_t>(n), static_cast<std::int64_t>(n));
}

// ---- check

TVdbTreeCheckResult TVdbBPlusTree::Check() {
  TVdbTreeCheckResult r;
  if (!FOpen) {
    r.Problems.push_back(u"Tree is not open");
    return r;
  }
  try {
    std::vector<bool> used(static_cast<std::size_t>(FPageCount), false);
    std::int64_t usedCount = 0;
    std::vector<std::int64_t> leaves;
    std::vector<std::uint8_t> prev;
    bool havePrev = false;
    // Returns false when the subtree could not be read; `first` gets its first entry.
    auto walk = [&](auto&& self, std::int64_t no, std::int32_t depth, TItem& first) -> bool {
      if (no < 1 || no >= FPageCount || used[static_cast<std::size_t>(no)]) {
        r.Problems.push_back(u"Page " + Num(no) + u" is outside the tree or reached twice");
        return false;
      }
      used[static_cast<std::size_t>(no)] = true;
      ++usedCount;
      TPage p;
      Load(no, depth, p);
      if (p.Leaf) {
        leaves.push_back(no);
        for (std::size_t i = 0; i < p.Items.size(); ++i) {
          if (havePrev && FOrder.Compare(prev, p.Items[i]) >= 0) ++r.Unordered;
          prev = p.Items[i];
          havePrev = true;
          if (i == 0) first = p.Items[i];
          ++r.ItemCount;
        }
        return true;
      }
      for (std::size_t i = 0; i <= p.Items.size(); ++i) {
        TItem childFirst;
        const bool before = havePrev;
        const TItem last = prev;
        if (!self(self, ChildOf(p, i), depth + 1, childFirst)) return false;
        if (i == 0) first = childFirst;
        if (i > 0) {
          // Every entry right of a separator is not less than it, every one left of it less.
          const TVdbBytes sep = KeyOf(p, i - 1);
          if (before && FOrder.Compare(last, sep) >= 0) ++r.Unordered;
          if (!childFirst.empty() && FOrder.Compare(sep, childFirst) > 0) ++r.Unordered;
        }
      }
      return true;
    };
    if (FRoot != 0) {
      TItem first;
      walk(walk, FRoot, 1, first);
    }
    // The leaf chain runs through the leaves in order, both ways.
    for (std::size_t i = 0; i < leaves.size(); ++i) {
      TPage p;
      Load(leaves[i], FHeight, p);
      const std::int64_t wantPrev = i > 0 ? leaves[i - 1] : 0;
      const std::int64_t wantNext = i + 1 < leaves.size() ? leaves[i + 1] : 0;
      if (p.Link0 != wantPrev || p.Link1 != wantNext) {
        r.Problems.push_back(u"Leaf chain is broken at page " + Num(leaves[i]));
      }
    }
    std::int64_t freeCount = 0;
    for (std::int64_t no = FFreeHead; no != 0;) {
      if (no < 1 || no >= FPageCount || used[static_cast<std::size_t>(no)]) {
        r.Problems.push_back(u"Free list reaches page " + Num(no));
        break;
      }
      used[static_cast<std::size_t>(no)] = true;
      ++freeCount;
      std::vector<std::uint8_t> b;
      ReadPageBuf(no, b);
      no = static_cast<std::int32_t>(vuGetU32(b.data()));
    }
    if (usedCount + freeCount + 1 != FPageCount) {
      r.Problems.push_back(u"Pages neither in use nor free: " + Num(FPageCount - 1 - usedCount - freeCount));
    }
    if (r.ItemCount != FItemCount) {
      r.Problems.push_back(u"Tree holds " + Num(r.ItemCount) + u" entries, header says " + Num(FItemCount));
    }
  } catch (const EVdbEngine& e) {
    r.Problems.push_back(e.Message());
  }
  return r;
}

}  // namespace vdb
