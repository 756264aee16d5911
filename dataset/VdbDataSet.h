// Dataset components of VidoraDB: the database component and the table dataset.
// The table dataset does not reach the engine yet: it opens and closes, keeps its
// settings, and reports an empty table, so the windows built on it already work.
// GUI thread only.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "db/TDataSet.h"

namespace vdbds {

enum class TVdbDatabaseType { dbtDirectory, dbtContainer };
enum class TVdbTableFlushMode { tfmDefault, tfmDirect, tfmDeep };

// One database connection, found by its DatabaseName from the datasets.
class TVdbDatabase {
 public:
  std::u16string DatabaseName;
  TVdbDatabaseType DatabaseType = TVdbDatabaseType::dbtDirectory;
  bool Exclusive = false;
  bool ReadOnly = false;
  TVdbTableFlushMode FlushMode = TVdbTableFlushMode::tfmDefault;
  std::int32_t IndexPageSize = 4096;
  std::int32_t BlobBlockSize = 512;
  // The directory of the table files.
  std::u16string Location;
};

// A key value for the search operations, given as text as the windows type it.
using TVdbKeyValues = std::vector<std::u16string>;

class TVdbTable : public tk::TDataSet {
 public:
  TVdbTable() = default;
  ~TVdbTable() override;

  std::u16string DatabaseName;
  std::u16string TableName;

  const std::u16string& IndexName() const noexcept { return FIndexName; }
  void SetIndexName(const std::u16string& value) { FIndexName = value; }

  // Moves to the first record whose key is equal to or greater than the values.
  void FindNearest(const TVdbKeyValues& values);
  // Moves to the record with exactly this key; false when there is none.
  bool FindKey(const TVdbKeyValues& values);
  // Removes every record of the table (the table must be closed).
  void EmptyTable();

 protected:
  std::unique_ptr<tk::TRecordBuffer> AllocRecordBuffer() override;
  void InternalOpen() override;
  void InternalClose() override;
  void InternalInitFieldDefs() override;
  tk::TGetResult GetRecord(tk::TRecordBuffer& buffer, tk::TGetMode mode, bool doCheck) override;
  void InternalFirst() override {}
  void InternalLast() override {}
  void InternalSetToRecord(tk::TRecordBuffer&) override {}
  tk::TBookmarkFlag GetBookmarkFlag(const tk::TRecordBuffer& buffer) override;
  void SetBookmarkFlag(tk::TRecordBuffer& buffer, tk::TBookmarkFlag flag) override;
  tk::TBookmark GetBookmarkData(const tk::TRecordBuffer& buffer) override;
  void SetBookmarkData(tk::TRecordBuffer& buffer, const tk::TBookmark& bookmark) override;
  void InternalGotoBookmark(const tk::TBookmark& bookmark) override;
  void InternalInitRecord(tk::TRecordBuffer&) override {}
  void InternalPost() override;
  void InternalDelete() override;
  bool GetFieldData(const tk::TField& field, const tk::TRecordBuffer& buffer, tk::TFieldValue& value) override;
  void SetFieldData(const tk::TField& field, tk::TRecordBuffer& buffer, const tk::TFieldValue& value) override;
  std::unique_ptr<tk::TStream> CreateBlobStream(const tk::TField& field, tk::TRecordBuffer& buffer,
                                                tk::TBlobStreamMode mode) override;
  int GetRecordCount() override { return 0; }

 private:
  std::u16string FIndexName;
};

}  // namespace vdbds
