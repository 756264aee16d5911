// Result sets of queries: the result columns (name, type, where the value comes from), rows of
// values, the sorter that orders and de-duplicates rows, and the temporary table a result is
// written into so that cursors read it like any table.
//
// Results are materialised: a row holds copies of its values (and of its memo and blob
// contents), so a record deleted, moved or changed in a base table after the query ran never
// makes a result row show another record.
//
// Naming: a result column is named by its label, else a plain column by the base column's own
// name, else by the expression's SQL text cut to its first 40 characters; clashing names
// (compared without regard to case) get "_1", "_2", ... (the first free number).
//
// Threads: a result belongs to its statement and is used by one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "session/VdbAccessor.h"
#include "types/VdbDefinitions.h"

namespace vdb {

class TVdbCatalog;

inline constexpr std::size_t kVdbMaxResultNameLength = 40;

struct TVdbResultColumn {
  std::u16string Name;
  // The type the row values are held in.
  const TVdbDataType* Type = nullptr;
  // The column of the result table (type, length, collation, nullability).
  TVdbNewColumn Definition;
};

struct TVdbResultRow {
  std::vector<TVdbDataValue> Values;  // owned values; empty = NULL
  TVdbBlobDataList Blobs;             // memo and blob contents, by 1-based column number
};

// An owned copy of `value` (of `type`); an empty value for NULL.
TVdbDataValue VdbOwnedValue(const TVdbDataValue& value, const TVdbDataType& type);

// The definition of a result column of `type` named `name`.
TVdbNewColumn VdbResultColumnDefinition(std::u16string name, const TVdbDataType& type, bool nullable);

// Makes the names unique as described in the file comment.
void VdbMakeUniqueNames(std::vector<std::u16string>& names);

// Orders rows by key columns. NULL sorts first; strings by their type's collation.
class TVdbRowOrder {
 public:
  struct TKey {
    int Column = 0;
    bool Descending = false;
  };
  TVdbRowOrder(const std::vector<TVdbResultColumn>& columns, std::vector<TKey> keys)
      : FColumns(columns), FKeys(std::move(keys)) {}
  // <0, 0, >0.
  int Compare(const TVdbResultRow& a, const TVdbResultRow& b) const;
  bool operator()(const TVdbResultRow& a, const TVdbResultRow& b) const { return Compare(a, b) < 0; }

 private:
  const std::vector<TVdbResultColumn>& FColumns;
  std::vector<TKey> FKeys;
};

// -1, 0 or 1 for two values of one type in the order of indexes (NULL first).
int VdbCompareValues(const TVdbDataValue& a, const TVdbDataValue& b, const TVdbDataType& type);

// Sorts stably by `keys`; with `unique` drops every row equal to the one before it in all
// columns (after sorting by the keys and then by every column).
void VdbSortRows(std::vector<TVdbResultRow>& rows, const std::vector<TVdbResultColumn>& columns,
                 std::vector<TVdbRowOrder::TKey> keys, bool unique);

// A temporary result table of the catalog. While the object holds it, an accessor of its own
// keeps the table in use, so that the catalog's clean-up of unused temporary tables leaves it;
// Release gives that up: the table is closed at once when no cursor reads it, else when the
// last cursor on it is deleted.
class TVdbResultTable {
 public:
  explicit TVdbResultTable(TVdbCatalog& catalog) : FCatalog(catalog) {}
  ~TVdbResultTable();
  TVdbResultTable(const TVdbResultTable&) = delete;
  TVdbResultTable& operator=(const TVdbResultTable&) = delete;

  // Creates the table from "<baseName>_<random>" with the columns; raises on failure.
  void Create(std::u16string_view baseName, const std::vector<TVdbResultColumn>& columns);
  // Appends one row (values in the columns' types); raises on failure.
  void Append(const TVdbResultRow& row, const std::vector<TVdbResultColumn>& columns);
  TVdbRltnIdx RltnIdx() const noexcept { return FRltnIdx; }
  TVdbRelation* Relation() const;
  void Release() noexcept;

 private:
  TVdbCatalog& FCatalog;
  TVdbRltnIdx FRltnIdx = 0;
  std::unique_ptr<TVdbAccessor> FKeeper;
  std::vector<std::uint8_t> FRecord;
};

}  // namespace vdb
