// The table dataset of VidoraDB: one table opened through the call interface, its order by an
// index or by columns, key search and ranges. GUI thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "VdbDataSet.h"

namespace vdbds {

class TVdbTable : public TVdbDataSet {
 public:
  TVdbTable();
  ~TVdbTable() override;

  const std::u16string& TableName() const noexcept { return FTableName; }
  void SetTableName(const std::u16string& value);
  std::u16string Password;
  bool ReadOnly() const noexcept { return FReadOnly; }
  void SetReadOnly(bool value);
  bool Exclusive = false;
  TVdbFlushMode FlushMode = TVdbFlushMode::tfmDefault;
  TVdbTableOpenMode OpenMode = TVdbTableOpenMode::tomDefault;
  std::int32_t Capacity = 10000000;

  // --- order
  const std::u16string& IndexName() const noexcept { return FIndexName; }
  // Selects an index (the current record stays current); raises "The index %s does not
  // exist" for an unknown one. Clears IndexFieldNames.
  void SetIndexName(const std::u16string& value);
  // Selects the order by columns ("IRSZ;TELEP"), through an index serving them (a temporary
  // one when none does). Clears IndexName.
  const std::u16string& IndexFieldNames() const noexcept { return FIndexFieldNames; }
  void SetIndexFieldNames(const std::u16string& value);

  // --- key search
  void SetKey();
  void EditKey();
  // Exact search by the lookup buffer; true when found (the record is then current).
  bool GotoKey();
  // Nearest search: the first record whose key is equal or greater; the last record when
  // every key is smaller.
  void GotoNearest();
  bool FindKey(const TVdbKeyValues& values);
  void FindNearest(const TVdbKeyValues& values);

  // --- ranges
  void SetRangeStart();
  void SetRangeEnd();
  void EditRangeStart();
  void EditRangeEnd();
  void ApplyRange();
  void SetRange(const TVdbKeyValues& start, const TVdbKeyValues& end);
  void CancelRange();

  // Removes every record of the table; a closed table stays closed.
  void EmptyTable();

 protected:
  void InternalOpen() override;
  void InternalClose() override;
  tk::TRecordBuffer* KeyBuffer() override;
  void InternalPostKey(bool apply) override;

 private:
  void SelectIndex(bool keepRecord);
  void SelectSortOrder(bool keepRecord);
  void KeepRecordInNewOrder();
  // The index the searches use: IndexName, or the engine's index for IndexFieldNames.
  std::u16string ActiveIndexName();
  std::vector<int> IndexFieldNos();
  void ApplyRangeCounts(std::int16_t startCount, std::int16_t endCount);
  void BeginKeyEdit(TKeyIndex index, bool clear);
  bool LocateKey(bool exact, std::int16_t itemCount);

  std::u16string FTableName;
  std::u16string FIndexName;
  std::u16string FIndexFieldNames;
  int FRangeStartCount = 0;
  int FRangeEndCount = 0;
};

}  // namespace vdbds
