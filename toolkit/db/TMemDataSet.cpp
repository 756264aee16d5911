#include "db/TMemDataSet.h"

#include <algorithm>
#include <cstring>

namespace tk {

namespace {

struct TMemBuffer : TRecordBuffer {
  std::int64_t Id = 0;  // the row; for a new record, the row it was inserted before
  TBookmarkFlag Flag = TBookmarkFlag::bfCurrent;
  std::vector<TFieldValue> Values;
};

TMemBuffer& Mem(TRecordBuffer& buffer) { return static_cast<TMemBuffer&>(buffer); }
const TMemBuffer& Mem(const TRecordBuffer& buffer) { return static_cast<const TMemBuffer&>(buffer); }

// A stream over the content of one blob value in a record buffer.
class TMemBlobStream : public TStream {
 public:
  TMemBlobStream(TFieldValue& value, bool write) : FValue(value) {
    if (write) FValue = TBytes();  // writing replaces the content
  }
  std::size_t Read(void* buffer, std::size_t count) override {
    const auto* bytes = std::get_if<TBytes>(&FValue);
    if (!bytes || FPosition >= bytes->size()) return 0;
    count = std::min(count, bytes->size() - FPosition);
    std::memcpy(buffer, bytes->data() + FPosition, count);
    FPosition += count;
    return count;
  }
  std::size_t Write(const void* buffer, std::size_t count) override {
    if (!std::holds_alternative<TBytes>(FValue)) FValue = TBytes();
    TBytes& bytes = std::get<TBytes>(FValue);
    if (bytes.size() < FPosition + count) bytes.resize(FPosition + count);
    if (count > 0) std::memcpy(bytes.data() + FPosition, buffer, count);
    FPosition += count;
    return count;
  }
  std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override {
    const auto* bytes = std::get_if<TBytes>(&FValue);
    const auto size = static_cast<std::int64_t>(bytes ? bytes->size() : 0);
    std::int64_t base = 0;
    if (origin == TSeekOrigin::soCurrent) base = static_cast<std::int64_t>(FPosition);
    if (origin == TSeekOrigin::soEnd) base = size;
    FPosition = static_cast<std::size_t>(std::max<std::int64_t>(0, base + offset));
    return static_cast<std::int64_t>(FPosition);
  }

 private:
  TFieldValue& FValue;
  std::size_t FPosition = 0;
};

}  // namespace

TMemDataSet::~TMemDataSet() { CloseForDestruction(); }

void TMemDataSet::AppendRow(std::vector<TFieldValue> values) {
  values.resize(static_cast<std::size_t>(FColumns.Count()));
  FRows.push_back({FNextId++, std::move(values)});
  if (FIndexValid) FIndex[FRows.back().Id] = RowCount() - 1;
}

int TMemDataSet::IndexOf(std::int64_t id) const {
  if (!FIndexValid) {
    FIndex.clear();
    FIndex.reserve(FRows.size());
    for (std::size_t i = 0; i < FRows.size(); ++i) FIndex[FRows[i].Id] = static_cast<int>(i);
    FIndexValid = true;
  }
  const auto it = FIndex.find(id);
  return it == FIndex.end() ? -1 : it->second;
}

std::int64_t TMemDataSet::IdOf(const TBookmark& bookmark) {
  std::int64_t id = 0;
  if (bookmark.size() == sizeof id) std::memcpy(&id, bookmark.data(), sizeof id);
  return id;
}

void TMemDataSet::CheckFilterText(const std::u16string& filter, bool filtered) const {
  if (filtered && !filter.empty()) DatabaseError(u"This dataset cannot filter by a filter text");
}

void TMemDataSet::SetFilter(const std::u16string& value) {
  CheckFilterText(value, Filtered());
  TDataSet::SetFilter(value);
}

void TMemDataSet::SetFiltered(bool value) {
  CheckFilterText(Filter(), value);
  TDataSet::SetFiltered(value);
}

std::unique_ptr<TRecordBuffer> TMemDataSet::AllocRecordBuffer() { return std::make_unique<TMemBuffer>(); }

void TMemDataSet::InternalOpen() {
  CheckFilterText(Filter(), Filtered());
  SetBookmarkSize(sizeof(std::int64_t));
  FCursor = -1;
}

void TMemDataSet::InternalInitFieldDefs() {
  for (int i = 0; i < FColumns.Count(); ++i) {
    TFieldDef def = FColumns[i];
    def.FieldNo = i + 1;
    TFieldDef& added = FieldDefs().Add(def.Name, def.DataType, def.Size, def.Required);
    added.Precision = def.Precision;
    added.ReadOnly = def.ReadOnly;
  }
}

TGetResult TMemDataSet::GetRecord(TRecordBuffer& buffer, TGetMode mode, bool) {
  const int count = RowCount();
  switch (mode) {
    case TGetMode::gmNext:
      FCursor = std::min(FCursor + 1, count);
      if (FCursor >= count) return TGetResult::grEOF;
      break;
    case TGetMode::gmPrior:
      FCursor = std::max(std::min(FCursor, count) - 1, -1);
      if (FCursor < 0) return TGetResult::grBOF;
      break;
    case TGetMode::gmCurrent:
      if (FCursor < 0) return TGetResult::grBOF;
      if (FCursor >= count) return TGetResult::grEOF;
      break;
  }
  TMemBuffer& mem = Mem(buffer);
  const TRow& row = FRows[static_cast<std::size_t>(FCursor)];
  mem.Id = row.Id;
  mem.Flag = TBookmarkFlag::bfCurrent;
  mem.Values = row.Values;
  return TGetResult::grOK;
}

void TMemDataSet::InternalSetToRecord(TRecordBuffer& buffer) {
  const int index = IndexOf(Mem(buffer).Id);
  FCursor = index >= 0 ? index : RowCount();
}

TBookmarkFlag TMemDataSet::GetBookmarkFlag(const TRecordBuffer& buffer) { return Mem(buffer).Flag; }

void TMemDataSet::SetBookmarkFlag(TRecordBuffer& buffer, TBookmarkFlag flag) { Mem(buffer).Flag = flag; }

TBookmark TMemDataSet::GetBookmarkData(const TRecordBuffer& buffer) {
  TBookmark bookmark(sizeof(std::int64_t));
  std::memcpy(bookmark.data(), &Mem(buffer).Id, sizeof(std::int64_t));
  return bookmark;
}

void TMemDataSet::SetBookmarkData(TRecordBuffer& buffer, const TBookmark& bookmark) { Mem(buffer).Id = IdOf(bookmark); }

void TMemDataSet::InternalGotoBookmark(const TBookmark& bookmark) {
  const int index = IndexOf(IdOf(bookmark));
  if (index < 0) DatabaseError(u"Record not found");
  FCursor = index;
}

bool TMemDataSet::BookmarkValid(const TBookmark& bookmark) {
  return bookmark.size() == sizeof(std::int64_t) && IndexOf(IdOf(bookmark)) >= 0;
}

int TMemDataSet::CompareBookmarks(const TBookmark& a, const TBookmark& b) {
  const int ia = a.empty() ? -2 : IndexOf(IdOf(a));
  const int ib = b.empty() ? -2 : IndexOf(IdOf(b));
  return ia < ib ? -1 : ia > ib ? 1 : 0;
}

void TMemDataSet::InternalInitRecord(TRecordBuffer& buffer) {
  TMemBuffer& mem = Mem(buffer);
  mem.Id = 0;
  mem.Flag = TBookmarkFlag::bfInserted;
  mem.Values.assign(static_cast<std::size_t>(FColumns.Count()), TFieldValue());
}

void TMemDataSet::InternalPost() {
  TMemBuffer& mem = Mem(*ActiveBuffer());
  if (State() == TDataSetState::dsEdit) {
    const int index = IndexOf(mem.Id);
    if (index < 0) DatabaseError(u"This record has been deleted");
    FRows[static_cast<std::size_t>(index)].Values = mem.Values;
    FCursor = index;
    return;
  }
  int index = RowCount();
  if (mem.Flag == TBookmarkFlag::bfInserted) {
    const int before = IndexOf(mem.Id);
    if (before >= 0) index = before;
  }
  FRows.insert(FRows.begin() + index, TRow{FNextId++, mem.Values});
  FIndexValid = false;
  FCursor = index;
}

void TMemDataSet::InternalDelete() {
  if (FCursor < 0 || FCursor >= RowCount()) DatabaseError(u"Record not found");
  FRows.erase(FRows.begin() + FCursor);
  FIndexValid = false;
}

bool TMemDataSet::GetFieldData(const TField& field, const TRecordBuffer& buffer, TFieldValue& value) {
  const auto& values = Mem(buffer).Values;
  const auto column = static_cast<std::size_t>(field.FieldNo() - 1);
  if (column >= values.size()) return false;
  if (field.IsBlob()) {
    const auto* bytes = std::get_if<TBytes>(&values[column]);
    return bytes && !bytes->empty();
  }
  value = values[column];
  return !std::holds_alternative<std::monostate>(value);
}

void TMemDataSet::SetFieldData(const TField& field, TRecordBuffer& buffer, const TFieldValue& value) {
  auto& values = Mem(buffer).Values;
  const auto column = static_cast<std::size_t>(field.FieldNo() - 1);
  if (column >= values.size()) DatabaseError(u"Field '%s' not found", {field.FieldName()});
  values[column] = value;
}

std::unique_ptr<TStream> TMemDataSet::CreateBlobStream(const TField& field, TRecordBuffer& buffer,
                                                       TBlobStreamMode mode) {
  auto& values = Mem(buffer).Values;
  const auto column = static_cast<std::size_t>(field.FieldNo() - 1);
  if (column >= values.size()) DatabaseError(u"Field '%s' not found", {field.FieldName()});
  return std::make_unique<TMemBlobStream>(values[column], mode != TBlobStreamMode::bmRead);
}

int TMemDataSet::GetRecordCount() {
  if (!HasRecordFilter()) return RowCount();
  TMemBuffer scratch;
  int count = 0;
  for (const TRow& row : FRows) {
    scratch.Id = row.Id;
    scratch.Values = row.Values;
    GetCalcFields(scratch);
    if (FilterRecord(scratch)) ++count;
  }
  return count;
}

int TMemDataSet::GetRecNo() {
  if (!IsSequenced() || IsEmpty() || State() == TDataSetState::dsInsert) return 0;
  const TMemBuffer& mem = Mem(*ActiveBuffer());
  if (mem.Flag != TBookmarkFlag::bfCurrent) return 0;
  return IndexOf(mem.Id) + 1;
}

void TMemDataSet::InternalSetRecNo(int value) {
  if (!IsSequenced()) {
    TDataSet::InternalSetRecNo(value);
    return;
  }
  if (RowCount() == 0) return;
  const int index = std::clamp(value, 1, RowCount()) - 1;
  MoveToCursorRecord([&] { FCursor = index; });
}

}  // namespace tk
