// Keys of one index of a relation: how an index definition lays its key out over the
// relation's record image, building an entry (record number + key) from a record, putting a
// key's values back into a record, completing a partial key into a lower or upper range bound,
// counting equal leading items and testing whether an entry lies inside a range.
//
// Range bounds are whole entries: a lower bound carries record number 1 and an upper bound
// $7FFFFFFF, so that under the index order (equal keys ordered by record number) every record
// whose key equals a bound lies inside the range. A bound whose record number is 0 does not
// limit.
//
// Threads: a TVdbIndexKeys object is immutable after construction apart from its scratch
// record; it belongs to one relation and is used by one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "storage/VdbIndexFile.h"
#include "types/VdbDefinitions.h"

namespace vdb {

inline constexpr std::int32_t kVdbLowerBoundRecNo = 1;
inline constexpr std::int32_t kVdbUpperBoundRecNo = 0x7FFFFFFF;
// Item count that means every item of a key.
inline constexpr int kVdbAllKeyItems = 256;

// The key layout of a column index over `columns` for a table of `level`. Raises 28 naming
// `indexName` when an item names no column, its type differs from the column's, or its key
// length does not fit the field; 187 for an expression index (its keys are not calculated).
TVdbKeyDesc VdbKeyDescOf(const TVdbSortDef& def, const TVdbColumnDefs& columns, int level,
                         std::u16string_view indexName);
// The definition as an index file stores it, and back. VdbSortDefOf raises 28 (naming
// `indexName`) for a column number outside `columns`.
TVdbIndexDefinition VdbFileDefinitionOf(const TVdbSortDef& def);
TVdbSortDef VdbSortDefOf(const TVdbIndexDefinition& fileDef, const TVdbColumnDefs& columns, int level,
                         std::u16string_view indexName);

// Writes the smallest or the largest value of `type` into the field at `offset` of `record`:
// the smallest is null for a nullable type, else the type's minimum (the empty text for
// strings, minus infinity for floats); the largest is the type's maximum (for strings a text of
// the field's full length that sorts after every other text under the type's collation, for
// floats a NaN, which the index order puts after every number).
void VdbSetExtremeValue(const TVdbDataType& type, std::span<std::uint8_t> record, std::size_t offset,
                        bool maximum);

class TVdbIndexKeys {
 public:
  // `desc` is validated (98 for a broken layout); `recordSize` sizes the scratch record.
  TVdbIndexKeys(TVdbKeyDesc desc, std::u16string indexName, std::int32_t recordSize);

  const TVdbIndexOrder& Order() const noexcept { return *FOrders.back(); }
  const TVdbKeyDesc& Desc() const noexcept { return Order().Desc(); }
  int ItemCount() const noexcept { return static_cast<int>(Desc().Parts.size()); }
  // Largest entry size (record number + key).
  std::int32_t EntrySize() const noexcept { return Desc().EntrySize(); }

  // The entry of `record` with `recNo` (CalcIndexInfo). Returns the entry's size.
  std::int32_t BuildEntry(std::span<const std::uint8_t> record, std::int32_t recNo,
                          std::vector<std::uint8_t>& entry) const;
  // Puts the key values of `entry` back into their fields of `record` (other bytes unchanged).
  // Raises 95 when the entry is shorter than its parts say.
  void KeyToRecord(std::span<const std::uint8_t> entry, std::span<std::uint8_t> record) const;
  // CompleteIndexInfo: every item after the first `levelCount` becomes its type's smallest
  // value (ascending item of a lower bound, descending item of an upper bound) or largest value
  // (the other two cases); the record number is kept.
  void Complete(std::vector<std::uint8_t>& entry, int levelCount, bool upper);
  // StringToIndex: the entry with record number `recNo` whose items are `parts` converted from
  // text into each item's type (the engine's invariant text forms). An item without a part
  // becomes its type's largest value when it is ascending and `recNo` is $7FFFFFFF or it is
  // descending and `recNo` is 1, its smallest value otherwise. Raises the conversion errors.
  void FromText(const std::vector<std::u16string>& parts, std::int32_t recNo, std::vector<std::uint8_t>& entry);
  // FindSortKeyDiff: how many leading items of the two keys are equal.
  int LeadingEqualItems(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) const;
  // Keys without record numbers / whole entries.
  bool IsSameKey(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) const;
  bool IsSameEntry(std::span<const std::uint8_t> a, std::span<const std::uint8_t> b) const;
  // TestFilterRange: 0 when `test` lies inside [lower, upper], 1 when it lies below `lower` or
  // above `upper`. An empty bound or one with record number 0 does not limit.
  int TestRange(std::span<const std::uint8_t> lower, std::span<const std::uint8_t> upper,
                std::span<const std::uint8_t> test) const;

 private:
  // Bytes of part `part` at `p` in an entry (its used size for variable-size parts).
  std::size_t PartSize(const TVdbKeyPart& part, const std::uint8_t* p, std::size_t avail) const;

  std::u16string FIndexName;
  // FOrders[n - 1] compares the first n items; the last one is the index order.
  std::vector<std::unique_ptr<TVdbIndexOrder>> FOrders;
  std::vector<std::uint8_t> FScratch;
};

}  // namespace vdb
