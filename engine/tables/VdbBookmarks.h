// The bookmark list: record numbers walked in bookmark order by an accessor, or kept as a
// cursor's selection of marked records. An unsorted array with holes: deleting only punches a
// hole (a slot holding 0), so that positions of the other entries stay valid while a walk is
// under way; Compress and Sort close the holes.
//
// Threads: a list belongs to one accessor or cursor and is used by one thread at a time.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace vdb {

class TVdbBookmarkList {
 public:
  explicit TVdbBookmarkList(std::int32_t capacity = 0);

  // Live entries / used slots (holes included) / allocated slots.
  std::int32_t Count() const noexcept { return FCount; }
  std::int32_t Size() const noexcept { return static_cast<std::int32_t>(FData.size()); }
  std::int32_t Capacity() const noexcept { return static_cast<std::int32_t>(FData.capacity()); }
  // Slot `index` (0..Size-1); 0 or negative for a hole.
  std::int32_t At(std::int32_t index) const { return FData.at(static_cast<std::size_t>(index)); }

  // Stores `recNo` after the last used slot; a full list doubles its capacity (1024 when 0).
  void Append(std::int32_t recNo);
  // Stores `recNo` at slot `index` (0..Size), shifting the tail.
  void InsertAt(std::int32_t index, std::int32_t recNo);
  // Slot of `recNo`, -1 when absent (always for `recNo` <= 0).
  std::int32_t Find(std::int32_t recNo) const noexcept;
  // Punches a hole at slot `index` (nothing for -1 or a hole) and drops trailing holes.
  void DeleteAt(std::int32_t index);
  void Delete(std::int32_t recNo) { DeleteAt(Find(recNo)); }
  // Deletes `recNo` when present, appends it otherwise.
  void Flip(std::int32_t recNo);
  // Replaces the live entry `from` by `to` (nothing when `from` is absent).
  void Renumber(std::int32_t from, std::int32_t to);

  // Live slots: first/last, and the next/previous after/before slot `index`; -1 when none.
  std::int32_t FindFirst() const noexcept;
  std::int32_t FindLast() const noexcept;
  std::int32_t FindNext(std::int32_t index) const noexcept;
  std::int32_t FindPrev(std::int32_t index) const noexcept;
  // Number of live entries before the entry of `recNo` (0-based sequence), -1 when absent.
  std::int32_t FindSequence(std::int32_t recNo) const noexcept;
  // Slot of the live entry with 0-based sequence `seq`, -1 when the list is shorter.
  std::int32_t SlotOfSequence(std::int32_t seq) const noexcept;

  // Removes the holes.
  void Compress();
  // Compresses and sorts ascending (median-of-three quicksort).
  void Sort();
  void Shrink() { FData.shrink_to_fit(); }
  void CopyFrom(const TVdbBookmarkList& other);
  // Copies the used slots into `buffer` (as many as fit); returns the number of slots.
  std::int32_t WriteTo(std::span<std::int32_t> buffer) const;
  // Count and size 0; the memory is kept.
  void Clear() noexcept;

 private:
  void QuickSort(std::int32_t lo, std::int32_t hi);

  std::int32_t FCount = 0;
  std::vector<std::int32_t> FData;
};

}  // namespace vdb
