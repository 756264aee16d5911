// An in-memory dataset: rows kept in a vector, for tests and as the reference implementation
// of the record-level interface of TDataSet. Columns are defined before opening; rows may
// be loaded directly (AppendRow) or through the edit cycle. Bookmarks are row identities
// that survive inserts and deletes. Filter texts are not understood: filtering is by
// OnFilterRecord only, and a filter text with Filtered on is refused. GUI thread only.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "db/TDataSet.h"

namespace tk {

class TMemDataSet : public TDataSet {
 public:
  TMemDataSet() = default;
  ~TMemDataSet() override;

  // The columns the dataset reports at opening (change them while closed).
  TFieldDefs& Columns() noexcept { return FColumns; }
  // Adds a row at the end without events, values in column order (missing ones null). An
  // open dataset shows it after the next re-read (Refresh, First, Last...).
  void AppendRow(std::vector<TFieldValue> values);
  int RowCount() const noexcept { return static_cast<int>(FRows.size()); }
  const std::vector<TFieldValue>& Row(int index) const { return FRows.at(static_cast<std::size_t>(index)).Values; }
  // Refuses every change (the edit cycle raises "Cannot modify a read-only dataset").
  bool ReadOnly = false;

  bool IsSequenced() override { return !HasRecordFilter(); }
  bool BookmarkValid(const TBookmark& bookmark) override;
  int CompareBookmarks(const TBookmark& a, const TBookmark& b) override;
  void SetFilter(const std::u16string& value) override;
  void SetFiltered(bool value) override;

 protected:
  std::unique_ptr<TRecordBuffer> AllocRecordBuffer() override;
  void InternalOpen() override;
  void InternalClose() override {}
  void InternalInitFieldDefs() override;
  TGetResult GetRecord(TRecordBuffer& buffer, TGetMode mode, bool doCheck) override;
  void InternalFirst() override { FCursor = -1; }
  void InternalLast() override { FCursor = RowCount(); }
  void InternalSetToRecord(TRecordBuffer& buffer) override;
  TBookmarkFlag GetBookmarkFlag(const TRecordBuffer& buffer) override;
  void SetBookmarkFlag(TRecordBuffer& buffer, TBookmarkFlag flag) override;
  TBookmark GetBookmarkData(const TRecordBuffer& buffer) override;
  void SetBookmarkData(TRecordBuffer& buffer, const TBookmark& bookmark) override;
  void InternalGotoBookmark(const TBookmark& bookmark) override;
  void InternalInitRecord(TRecordBuffer& buffer) override;
  void InternalPost() override;
  void InternalDelete() override;
  bool GetFieldData(const TField& field, const TRecordBuffer& buffer, TFieldValue& value) override;
  void SetFieldData(const TField& field, TRecordBuffer& buffer, const TFieldValue& value) override;
  std::unique_ptr<TStream> CreateBlobStream(const TField& field, TRecordBuffer& buffer, TBlobStreamMode mode) override;
  int GetRecordCount() override;
  int GetRecNo() override;
  void InternalSetRecNo(int value) override;
  bool GetCanModify() override { return !ReadOnly; }

 private:
  struct TRow {
    std::int64_t Id = 0;
    std::vector<TFieldValue> Values;
  };
  int IndexOf(std::int64_t id) const;
  static std::int64_t IdOf(const TBookmark& bookmark);
  void CheckFilterText(const std::u16string& filter, bool filtered) const;

  TFieldDefs FColumns;
  std::vector<TRow> FRows;
  std::int64_t FNextId = 1;
  int FCursor = -1;  // row index; -1 before the first row, RowCount() after the last
  mutable std::unordered_map<std::int64_t, int> FIndex;
  mutable bool FIndexValid = false;
};

}  // namespace tk
