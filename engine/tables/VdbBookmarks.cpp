#include "tables/VdbBookmarks.h"

#include <algorithm>

namespace vdb {

TVdbBookmarkList::TVdbBookmarkList(std::int32_t capacity) {
  if (capacity > 0) FData.reserve(static_cast<std::size_t>(capacity));
}

void TVdbBookmarkList::Append(std::int32_t recNo) {
  if (FData.size() == FData.capacity()) FData.reserve(FData.capacity() == 0 ? 1024 : FData.capacity() * 2);
  FData.push_back(recNo);
  if (recNo > 0) ++FCount;
}

void TVdbBookmarkList::InsertAt(std::int32_t index, std::int32_t recNo) {
  const auto at = static_cast<std::size_t>(std::clamp<std::int32_t>(index, 0, Size()));
  if (FData.size() == FData.capacity()) FData.reserve(FData.capacity() == 0 ? 1024 : FData.capacity() * 2);
  FData.insert(FData.begin() + static_cast<std::ptrdiff_t>(at), recNo);
  if (recNo > 0) ++FCount;
}

std::int32_t TVdbBookmarkList::Find(std::int32_t recNo) const noexcept {
  if (recNo <= 0) return -1;
  const auto it = std::find(FData.begin(), FData.end(), recNo);
  return it == FData.end() ? -1 : static_cast<std::int32_t>(it - FData.begin());
}

void TVdbBookmarkList::DeleteAt(std::int32_t index) {
  if (index < 0 || index >= Size() || FData[static_cast<std::size_t>(index)] <= 0) return;
  FData[static_cast<std::size_t>(index)] = 0;
  --FCount;
  while (!FData.empty() && FData.back() <= 0) FData.pop_back();
}

void TVdbBookmarkList::Flip(std::int32_t recNo) {
  const std::int32_t at = Find(recNo);
  if (at >= 0) {
    DeleteAt(at);
  } else if (recNo > 0) {
    Append(recNo);
  }
}

void TVdbBookmarkList::Renumber(std::int32_t from, std::int32_t to) {
  const std::int32_t at = Find(from);
  if (at < 0) return;
  if (to <= 0) {
    DeleteAt(at);
  } else {
    FData[static_cast<std::size_t>(at)] = to;
  }
}

std::int32_t TVdbBookmarkList::FindFirst() const noexcept { return FindNext(-1); }
std::int32_t TVdbBookmarkList::FindLast() const noexcept { return FindPrev(Size()); }

std::int32_t TVdbBookmarkList::FindNext(std::int32_t index) const noexcept {
  for (std::int32_t i = std::max(index + 1, 0); i < Size(); ++i) {
    if (FData[static_cast<std::size_t>(i)] > 0) return i;
  }
  return -1;
}

std::int32_t TVdbBookmarkList::FindPrev(std::int32_t index) const noexcept {
  for (std::int32_t i = std::min(index, Size()) - 1; i >= 0; --i) {
    if (FData[static_cast<std::size_t>(i)] > 0) return i;
  }
  return -1;
}

std::int32_t TVdbBookmarkList::FindSequence(std::int32_t recNo) const noexcept {
  if (recNo <= 0) return -1;
  std::int32_t seq = 0;
  for (const std::int32_t r : FData) {
    if (r == recNo) return seq;
    if (r > 0) ++seq;
  }
  return -1;
}

std::int32_t TVdbBookmarkList::SlotOfSequence(std::int32_t seq) const noexcept {
  if (seq < 0) return -1;
  for (std::int32_t i = 0; i < Size(); ++i) {
    if (FData[static_cast<std::size_t>(i)] > 0 && seq-- == 0) return i;
  }
  return -1;
}

void TVdbBookmarkList::Compress() {
  std::erase_if(FData, [](std::int32_t r) { return r <= 0; });
  FCount = Size();
}

void TVdbBookmarkList::Sort() {
  Compress();
  QuickSort(0, Size() - 1);
}

// Median-of-three pivot keeps already sorted lists (the usual case after a walk in record
// order) from degrading to quadratic time; the smaller side recurses, so the depth stays
// logarithmic.
void TVdbBookmarkList::QuickSort(std::int32_t lo, std::int32_t hi) {
  while (lo < hi) {
    auto at = [this](std::int32_t i) -> std::int32_t& { return FData[static_cast<std::size_t>(i)]; };
    const std::int32_t mid = lo + (hi - lo) / 2;
    if (at(mid) < at(lo)) std::swap(at(mid), at(lo));
    if (at(hi) < at(lo)) std::swap(at(hi), at(lo));
    if (at(hi) < at(mid)) std::swap(at(hi), at(mid));
    const std::int32_t pivot = at(mid);
    std::int32_t i = lo;
    std::int32_t j = hi;
    while (i <= j) {
      while (at(i) < pivot) ++i;
      while (at(j) > pivot) --j;
      if (i <= j) std::swap(at(i++), at(j--));
    }
    if (j - lo < hi - i) {
      QuickSort(lo, j);
      lo = i;
    } else {
      QuickSort(i, hi);
      hi = j;
    }
  }
}

void TVdbBookmarkList::CopyFrom(const TVdbBookmarkList& other) {
  FData = other.FData;
  FCount = other.FCount;
}

std::int32_t TVdbBookmarkList::WriteTo(std::span<std::int32_t> buffer) const {
  const std::size_t n = std::min(buffer.size(), FData.size());
  std::copy_n(FData.begin(), n, buffer.begin());
  return Size();
}

void TVdbBookmarkList::Clear() noexcept {
  FData.clear();
  FCount = 0;
}

}  // namespace vdb
