#include "VdbDataSet.h"

namespace vdbds {

namespace {
// The one buffer kind of the empty table: nothing is ever read into it.
struct TEmptyBuffer : tk::TRecordBuffer {
  tk::TBookmarkFlag Flag = tk::TBookmarkFlag::bfCurrent;
};
}  // namespace

TVdbTable::~TVdbTable() { CloseForDestruction(); }

void TVdbTable::FindNearest(const TVdbKeyValues&) {
  CheckActive();
  CheckBrowseMode();
}

bool TVdbTable::FindKey(const TVdbKeyValues&) {
  CheckActive();
  CheckBrowseMode();
  return false;
}

void TVdbTable::EmptyTable() {}

std::unique_ptr<tk::TRecordBuffer> TVdbTable::AllocRecordBuffer() { return std::make_unique<TEmptyBuffer>(); }

void TVdbTable::InternalOpen() { SetBookmarkSize(4); }
void TVdbTable::InternalClose() {}
void TVdbTable::InternalInitFieldDefs() {}

tk::TGetResult TVdbTable::GetRecord(tk::TRecordBuffer&, tk::TGetMode mode, bool) {
  return mode == tk::TGetMode::gmPrior ? tk::TGetResult::grBOF : tk::TGetResult::grEOF;
}

tk::TBookmarkFlag TVdbTable::GetBookmarkFlag(const tk::TRecordBuffer& buffer) {
  return static_cast<const TEmptyBuffer&>(buffer).Flag;
}

void TVdbTable::SetBookmarkFlag(tk::TRecordBuffer& buffer, tk::TBookmarkFlag flag) {
  static_cast<TEmptyBuffer&>(buffer).Flag = flag;
}

tk::TBookmark TVdbTable::GetBookmarkData(const tk::TRecordBuffer&) { return tk::TBookmark(4, 0); }
void TVdbTable::SetBookmarkData(tk::TRecordBuffer&, const tk::TBookmark&) {}

void TVdbTable::InternalGotoBookmark(const tk::TBookmark&) { tk::DatabaseError(u"Record not found"); }

void TVdbTable::InternalPost() {
  tk::DatabaseError(u"Writing record to dataset %s: the table is not connected to the engine", {TableName});
}

void TVdbTable::InternalDelete() { tk::DatabaseError(u"Record not found"); }

bool TVdbTable::GetFieldData(const tk::TField&, const tk::TRecordBuffer&, tk::TFieldValue&) { return false; }

void TVdbTable::SetFieldData(const tk::TField& field, tk::TRecordBuffer&, const tk::TFieldValue&) {
  tk::DatabaseError(u"Field '%s' not found", {field.FieldName()});
}

std::unique_ptr<tk::TStream> TVdbTable::CreateBlobStream(const tk::TField& field, tk::TRecordBuffer&,
                                                         tk::TBlobStreamMode) {
  tk::DatabaseError(u"Field '%s' not found", {field.FieldName()});
}

}  // namespace vdbds
