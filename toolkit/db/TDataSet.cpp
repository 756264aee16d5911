#include "db/TDataSet.h"

#include <algorithm>
#include <iostream>

namespace tk {

namespace {

bool IsEditMode(TDataSetState state) {
  return state == TDataSetState::dsEdit || state == TDataSetState::dsInsert;
}

constexpr std::u16string_view kNotEditing = u"Dataset not in edit or insert mode";

}  // namespace

// Enters a temporary state (calculating, filtering) without telling controls, and returns
// to the previous state, modified mark included, however the handler ends.
class TTempState {
 public:
  TTempState(TDataSet& dataSet, TDataSetState state, TRecordBuffer*& slot, TRecordBuffer& buffer)
      : FDataSet(dataSet), FState(dataSet.FState), FModified(dataSet.FModified), FSlot(slot), FOld(slot) {
    dataSet.FState = state;
    ++dataSet.FDisableCount;
    slot = &buffer;
  }
  ~TTempState() {
    FSlot = FOld;
    --FDataSet.FDisableCount;
    FDataSet.FState = FState;
    FDataSet.FModified = FModified;
  }
  TTempState(const TTempState&) = delete;
  TTempState& operator=(const TTempState&) = delete;

 private:
  TDataSet& FDataSet;
  TDataSetState FState;
  bool FModified;
  TRecordBuffer*& FSlot;
  TRecordBuffer* FOld;
};

TDataSet::~TDataSet() {
  // Controls of the sources go inactive; the sources outlive us without a dataset.
  for (TDataSource* source : std::vector<TDataSource*>(FDataSources)) source->SetDataSet(nullptr);
  FBuffers.clear();
}

void TDataSet::CloseForDestruction() noexcept {
  // Owners close datasets themselves where an error can still be shown; a failure left for
  // this point has no window to go to, so it is written to the error stream, never lost and
  // never allowed to end the program.
  if (!Active()) return;
  try {
    if (IsEditMode(FState)) {
      UpdateCursorPos();
      InternalCancel();
    }
    FState = TDataSetState::dsInactive;
    DataEvent(TDataEvent::deUpdateState);
    CloseCursor();
  } catch (const std::exception& e) {
    FState = TDataSetState::dsInactive;
    std::cerr << "Closing a dataset on destruction failed: " << e.what() << '\n';
  } catch (...) {
    FState = TDataSetState::dsInactive;
    std::cerr << "Closing a dataset on destruction failed\n";
  }
}

// ---------------------------------------------------------------- opening and closing

void TDataSet::Open() {
  if (Active()) return;
  DoEvent(BeforeOpen);
  try {
    FFieldDefs.Clear();
    InternalOpen();
    InternalInitFieldDefs();
    if (FFields.empty()) CreateFields();
    BindFields();
    FBuffers.clear();
    FBufferCount = LinksBufferCount();
    for (int i = 0; i <= FBufferCount; ++i) FBuffers.push_back(AllocRecordBuffer());
    ClearBuffers();
    GetNextRecords();
    FBOF = true;
  } catch (...) {
    CloseCursor();
    throw;
  }
  SetState(TDataSetState::dsBrowse);
  DoEvent(AfterOpen);
  if (!IsEmpty()) DoEvent(AfterScroll);
}

void TDataSet::Close() {
  if (!Active()) return;
  if (FState != TDataSetState::dsBrowse) Cancel();
  DoEvent(BeforeClose);
  SetState(TDataSetState::dsInactive);
  FreeBuffers();
  try {
    InternalClose();
  } catch (...) {
    DestroyDefaultFields();
    throw;
  }
  DestroyDefaultFields();
  DoEvent(AfterClose);
}

void TDataSet::CloseCursor() noexcept {
  FreeBuffers();
  try {
    InternalClose();
  } catch (...) {
    // Only reached after a failed opening or on destruction, where the first error is the
    // one reported (or there is nobody to report to): the cursor is dropped either way.
  }
  DestroyDefaultFields();
}

void TDataSet::FreeBuffers() noexcept {
  for (auto& buffer : FBuffers)
    if (buffer) FreeRecordBuffer(*buffer);
  FBuffers.clear();
  FRecordCount = 0;
  FActiveRecord = 0;
  FCurrentRecord = -1;
  FBOF = FEOF = true;
}

void TDataSet::CheckActive() const {
  if (!Active()) DatabaseError(u"Cannot perform this operation on a closed dataset");
}

bool TDataSet::CanModify() const { return Active() && const_cast<TDataSet*>(this)->GetCanModify(); }

void TDataSet::CheckCanModify() {
  if (!GetCanModify()) DatabaseError(u"Cannot modify a read-only dataset");
}

// ---------------------------------------------------------------- fields

TField* TDataSet::FindField(std::u16string_view name) const noexcept {
  auto same = [name](const std::u16string& other) {
    if (other.size() != name.size()) return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
      char16_t a = name[i], b = other[i];
      if (a >= u'a' && a <= u'z') a = static_cast<char16_t>(a - 32);
      if (b >= u'a' && b <= u'z') b = static_cast<char16_t>(b - 32);
      if (a != b) return false;
    }
    return true;
  };
  for (const auto& field : FFields)
    if (same(field->FieldName())) return field.get();
  return nullptr;
}

TField& TDataSet::FieldByName(std::u16string_view name) const {
  TField* field = FindField(name);
  if (!field) DatabaseError(u"Field '%s' not found", {name});
  return *field;
}

TField& TDataSet::AddField(std::unique_ptr<TField> field, const std::u16string& name, TFieldKind kind) {
  if (Active()) DatabaseError(u"Cannot perform this operation on an open dataset");
  if (FindField(name)) DatabaseError(u"Duplicate field name '%s'", {name});
  field->SetFieldName(name);
  field->SetFieldKind(kind);
  field->FDataSet = this;
  FFields.push_back(std::move(field));
  return *FFields.back();
}

void TDataSet::CreateFields() {
  for (int i = 0; i < FFieldDefs.Count(); ++i) {
    const TFieldDef& def = FFieldDefs[i];
    std::unique_ptr<TField> field = CreateFieldObject(def);
    field->SetFieldName(def.Name);
    field->SetRequired(def.Required);
    field->SetReadOnly(def.ReadOnly || def.DataType == TFieldType::dtAutoInc);
    field->SetPrecision(def.Precision);
    field->FDataSet = this;
    field->FDefault = true;
    FFields.push_back(std::move(field));
  }
}

void TDataSet::BindFields() {
  FCalcFieldCount = 0;
  for (const auto& field : FFields) {
    field->FDataSet = this;
    if (field->FieldKind() == TFieldKind::fkCalculated) {
      field->FFieldNo = 0;
      field->FCalcIndex = FCalcFieldCount++;
      continue;
    }
    const TFieldDef* def = FFieldDefs.Find(field->FieldName());
    if (!def) DatabaseError(u"Field '%s' not found", {field->FieldName()});
    if (def->DataType != field->DataType())
      DatabaseError(u"Type mismatch for field '%s'", {field->FieldName()});
    field->FFieldNo = def->FieldNo;
    field->FCalcIndex = -1;
    if (field->FSize == 0) field->FSize = def->Size;
  }
}

void TDataSet::DestroyDefaultFields() noexcept {
  std::erase_if(FFields, [](const std::unique_ptr<TField>& f) { return f->FDefault; });
  for (const auto& field : FFields) field->FFieldNo = 0;
}

TRecordBuffer* TDataSet::ActiveBuffer() const noexcept {
  if (FBuffers.empty()) return nullptr;
  return FBuffers[static_cast<std::size_t>(FActiveRecord)].get();
}

TRecordBuffer* TDataSet::Buffer(int index) const noexcept {
  if (index < 0 || static_cast<std::size_t>(index) >= FBuffers.size()) return nullptr;
  return FBuffers[static_cast<std::size_t>(index)].get();
}

TRecordBuffer* TDataSet::StateBuffer() const {
  switch (FState) {
    case TDataSetState::dsBrowse:
      return IsEmpty() ? nullptr : ActiveBuffer();
    case TDataSetState::dsEdit:
    case TDataSetState::dsInsert:
      return ActiveBuffer();
    case TDataSetState::dsSetKey:
      return const_cast<TDataSet*>(this)->KeyBuffer();
    case TDataSetState::dsCalcFields:
      return FCalcBuffer;
    case TDataSetState::dsFilter:
      return FFilterBuffer;
    case TDataSetState::dsInactive:
      break;
  }
  return nullptr;
}

bool TDataSet::GetFieldValue(const TField& field, TFieldValue& value) {
  value = TFieldValue();
  TRecordBuffer* buffer = StateBuffer();
  if (!buffer) return false;
  if (field.FieldKind() == TFieldKind::fkCalculated) {
    const auto index = static_cast<std::size_t>(field.FCalcIndex);
    if (field.FCalcIndex < 0 || index >= buffer->CalcValues.size()) return false;
    value = buffer->CalcValues[index];
  } else {
    if (field.FieldNo() <= 0) return false;
    if (GetFieldData(field, *buffer, value)) return true;
    value = TFieldValue();
    return false;
  }
  return !std::holds_alternative<std::monostate>(value);
}

void TDataSet::SetFieldValue(TField& field, const TFieldValue& value) {
  const bool calculated = field.FieldKind() == TFieldKind::fkCalculated;
  switch (FState) {
    case TDataSetState::dsEdit:
    case TDataSetState::dsInsert:
    case TDataSetState::dsSetKey:
    case TDataSetState::dsFilter:
      if (calculated) DatabaseError(u"Field '%s' cannot be modified", {field.DisplayLabel()});
      break;
    case TDataSetState::dsCalcFields:
      if (!calculated) DatabaseError(kNotEditing);
      break;
    default:
      DatabaseError(kNotEditing);
  }
  const TFieldValue stored = field.Coerce(value);
  if (!calculated) {
    if (field.ReadOnly() && FState != TDataSetState::dsSetKey && FState != TDataSetState::dsFilter)
      DatabaseError(u"Field '%s' cannot be modified", {field.DisplayLabel()});
    if (field.Required() && IsEditMode(FState) && std::holds_alternative<std::monostate>(stored))
      DatabaseError(u"Field '%s' must have a value", {field.DisplayLabel()});
  }
  if (field.OnValidate) field.OnValidate(field, stored);
  TRecordBuffer* buffer = StateBuffer();
  if (!buffer) DatabaseError(kNotEditing);
  if (calculated) {
    if (buffer->CalcValues.size() < static_cast<std::size_t>(FCalcFieldCount))
      buffer->CalcValues.resize(static_cast<std::size_t>(FCalcFieldCount));
    buffer->CalcValues[static_cast<std::size_t>(field.FCalcIndex)] = stored;
    return;
  }
  SetFieldData(field, *buffer, stored);
  if (FState != TDataSetState::dsFilter) {
    DataEvent(TDataEvent::deFieldChange, &field);
    if (field.OnChange) field.OnChange(field);
  }
}

std::unique_ptr<TStream> TDataSet::OpenBlobStream(TField& field, TBlobStreamMode mode) {
  if (mode != TBlobStreamMode::bmRead) {
    if (!IsEditMode(FState)) DatabaseError(kNotEditing);
    if (field.ReadOnly()) DatabaseError(u"Field '%s' cannot be modified", {field.DisplayLabel()});
  }
  TRecordBuffer* buffer = StateBuffer();
  if (!buffer || field.FieldNo() <= 0) return nullptr;
  return CreateBlobStream(field, *buffer, mode);
}

void TDataSet::BlobWritten(TField& field) {
  if (!IsEditMode(FState)) return;
  DataEvent(TDataEvent::deFieldChange, &field);
  if (field.OnChange) field.OnChange(field);
}

std::u16string TDataSet::MemoBytesToText(const TField& field, const TBytes& bytes) {
  if (field.DataType() == TFieldType::dtWideMemo) {
    std::u16string out(bytes.size() / 2, u'\0');
    for (std::size_t i = 0; i < out.size(); ++i)
      out[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return out;
  }
  return Utf8ToUtf16(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

TBytes TDataSet::MemoTextToBytes(const TField& field, std::u16string_view text) {
  TBytes bytes;
  if (field.DataType() == TFieldType::dtWideMemo) {
    bytes.reserve(text.size() * 2);
    for (char16_t c : text) {
      bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
      bytes.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    return bytes;
  }
  const std::string utf8 = Utf16ToUtf8(text);
  return TBytes(utf8.begin(), utf8.end());
}

void TDataSet::GetCalcFields(TRecordBuffer& buffer) {
  buffer.CalcValues.assign(static_cast<std::size_t>(FCalcFieldCount), TFieldValue());
  if (FCalcFieldCount == 0 || !OnCalcFields) return;
  TTempState temp(*this, TDataSetState::dsCalcFields, FCalcBuffer, buffer);
  OnCalcFields(*this);
}

void TDataSet::CalculateFieldsOfActive() {
  if (TRecordBuffer* buffer = ActiveBuffer()) GetCalcFields(*buffer);
}

bool TDataSet::FilterRecord(TRecordBuffer& buffer) {
  if (!FOnFilterRecord) return true;
  bool accept = true;
  TTempState temp(*this, TDataSetState::dsFilter, FFilterBuffer, buffer);
  FOnFilterRecord(*this, accept);
  return accept;
}

TGetResult TDataSet::FetchRecord(TRecordBuffer& buffer, TGetMode mode, bool doCheck) {
  for (;;) {
    const TGetResult result = GetRecord(buffer, mode, doCheck);
    if (result != TGetResult::grOK) return result;
    GetCalcFields(buffer);
    if (!HasRecordFilter() || FilterRecord(buffer)) return TGetResult::grOK;
    if (mode == TGetMode::gmCurrent) return TGetResult::grError;
  }
}

// ---------------------------------------------------------------- buffer window

void TDataSet::ClearBuffers() noexcept {
  FRecordCount = 0;
  FActiveRecord = 0;
  FCurrentRecord = -1;
  FBOF = FEOF = true;
}

void TDataSet::ActivateBuffers() noexcept {
  FRecordCount = 1;
  FActiveRecord = 0;
  FCurrentRecord = 0;
  FBOF = FEOF = false;
}

void TDataSet::MoveBuffer(int from, int to) {
  if (from == to) return;
  auto first = FBuffers.begin();
  if (from < to)
    std::rotate(first + from, first + from + 1, first + to + 1);
  else
    std::rotate(first + to, first + from, first + from + 1);
}

void TDataSet::SetCurrentRecord(int index) {
  if (FCurrentRecord == index) return;
  TRecordBuffer& buffer = *FBuffers[static_cast<std::size_t>(index)];
  switch (GetBookmarkFlag(buffer)) {
    case TBookmarkFlag::bfCurrent:
    case TBookmarkFlag::bfInserted:
      InternalSetToRecord(buffer);
      break;
    case TBookmarkFlag::bfBOF:
      InternalFirst();
      break;
    case TBookmarkFlag::bfEOF:
      InternalLast();
      break;
  }
  FCurrentRecord = index;
}

void TDataSet::UpdateCursorPos() {
  if (FRecordCount > 0) SetCurrentRecord(FActiveRecord);
}

bool TDataSet::GetNextRecord() {
  TGetMode mode = TGetMode::gmNext;
  if (FRecordCount > 0) {
    SetCurrentRecord(FRecordCount - 1);
    // A new record stands where the record it was inserted before is: that one comes next.
    if (GetBookmarkFlag(*FBuffers[static_cast<std::size_t>(FRecordCount - 1)]) == TBookmarkFlag::bfInserted)
      mode = TGetMode::gmCurrent;
  }
  if (FetchRecord(*FBuffers[static_cast<std::size_t>(FRecordCount)], mode, true) != TGetResult::grOK) {
    CursorPosChanged();
    return false;
  }
  if (FRecordCount == 0)
    ActivateBuffers();
  else if (FRecordCount < FBufferCount)
    ++FRecordCount;
  else
    MoveBuffer(0, FRecordCount);
  FCurrentRecord = FRecordCount - 1;
  return true;
}

bool TDataSet::GetPriorRecord() {
  if (FRecordCount > 0) SetCurrentRecord(0);
  if (FetchRecord(*FBuffers[static_cast<std::size_t>(FRecordCount)], TGetMode::gmPrior, true) != TGetResult::grOK) {
    CursorPosChanged();
    return false;
  }
  if (FRecordCount == 0) {
    ActivateBuffers();
  } else {
    MoveBuffer(FRecordCount, 0);
    if (FRecordCount < FBufferCount) {
      ++FRecordCount;
      ++FActiveRecord;
    }
  }
  FCurrentRecord = 0;
  return true;
}

int TDataSet::GetNextRecords() {
  int count = 0;
  while (FRecordCount < FBufferCount && GetNextRecord()) ++count;
  return count;
}

int TDataSet::GetPriorRecords() {
  int count = 0;
  while (FRecordCount < FBufferCount && GetPriorRecord()) ++count;
  return count;
}

void TDataSet::Resync(TResyncMode mode) {
  TRecordBuffer& scratch = *FBuffers[static_cast<std::size_t>(FRecordCount)];
  if (mode.Exact) {
    CursorPosChanged();
    if (FetchRecord(scratch, TGetMode::gmCurrent, true) != TGetResult::grOK) DatabaseError(u"Record not found");
  } else if (FetchRecord(scratch, TGetMode::gmCurrent, false) != TGetResult::grOK &&
             FetchRecord(scratch, TGetMode::gmNext, false) != TGetResult::grOK &&
             FetchRecord(scratch, TGetMode::gmPrior, false) != TGetResult::grOK) {
    ClearBuffers();
    DataEvent(TDataEvent::deDataSetChange);
    return;
  }
  int count = mode.Center ? (FBufferCount - 1) / 2 : FActiveRecord;
  MoveBuffer(FRecordCount, 0);
  ActivateBuffers();
  try {
    while (count > 0 && GetPriorRecord()) --count;
    GetNextRecords();
    GetPriorRecords();
  } catch (...) {
    DataEvent(TDataEvent::deDataSetChange);
    throw;
  }
  DataEvent(TDataEvent::deDataSetChange);
}

void TDataSet::SetActiveRecordIndex(int index) {
  if (index < 0 || index >= std::max(FRecordCount, 1)) DatabaseError(u"Record index out of range");
  FActiveRecord = index;
}

int TDataSet::LinksBufferCount() const noexcept {
  int count = 1;
  for (TDataSource* source : FDataSources)
    for (TDataLink* link : source->FLinks) count = std::max(count, link->BufferCount());
  return count;
}

void TDataSet::UpdateBufferCount() { SetBufferCount(LinksBufferCount()); }

void TDataSet::SetBufferCount(int value) {
  value = std::max(1, value);
  if (value == FBufferCount) return;
  if (!Active() || FBuffers.empty()) {
    FBufferCount = value;
    return;
  }
  int shift = 0;
  if (value < FBufferCount) {
    // Keep the active record and the records before it that fit.
    const int first = std::max(0, FActiveRecord - value + 1);
    std::rotate(FBuffers.begin(), FBuffers.begin() + first, FBuffers.end());
    FActiveRecord -= first;
    FRecordCount = std::min(FRecordCount - first, value);
    if (FCurrentRecord >= 0) FCurrentRecord -= first;
    if (FCurrentRecord < 0 || FCurrentRecord >= FRecordCount) CursorPosChanged();
    for (std::size_t i = static_cast<std::size_t>(value) + 1; i < FBuffers.size(); ++i) FreeRecordBuffer(*FBuffers[i]);
    FBuffers.resize(static_cast<std::size_t>(value) + 1);
    FBufferCount = value;
    shift = -first;
  } else {
    while (FBuffers.size() < static_cast<std::size_t>(value) + 1) FBuffers.push_back(AllocRecordBuffer());
    FBufferCount = value;
    if (FRecordCount > 0) {
      GetNextRecords();
      shift = GetPriorRecords();
    }
  }
  for (TDataSource* source : FDataSources)
    for (TDataLink* link : source->FLinks) link->FFirstRecord = std::max(0, link->FFirstRecord + shift);
  DataEvent(TDataEvent::deDataSetChange);
}

// ---------------------------------------------------------------- navigation

void TDataSet::First() {
  CheckBrowseMode();
  DoEvent(BeforeScroll);
  ClearBuffers();
  try {
    InternalFirst();
    GetNextRecord();
    GetNextRecords();
  } catch (...) {
    FBOF = true;
    DataEvent(TDataEvent::deDataSetChange);
    throw;
  }
  FBOF = true;
  DataEvent(TDataEvent::deDataSetChange);
  InternalScrolled();
  DoEvent(AfterScroll);
}

void TDataSet::Last() {
  CheckBrowseMode();
  DoEvent(BeforeScroll);
  ClearBuffers();
  try {
    InternalLast();
    GetPriorRecord();
    GetPriorRecords();
  } catch (...) {
    FEOF = true;
    DataEvent(TDataEvent::deDataSetChange);
    throw;
  }
  FEOF = true;
  DataEvent(TDataEvent::deDataSetChange);
  InternalScrolled();
  DoEvent(AfterScroll);
}

int TDataSet::MoveBy(int distance) {
  CheckBrowseMode();
  int moved = 0;
  if ((distance > 0 && FEOF) || (distance < 0 && FBOF) || distance == 0) return 0;
  DoEvent(BeforeScroll);
  FBOF = FEOF = false;
  int shift = 0;  // how far the buffers' indices moved (links follow it)
  try {
    while (distance > 0) {
      if (FActiveRecord < FRecordCount - 1) {
        ++FActiveRecord;
      } else {
        const bool full = FRecordCount == FBufferCount;
        if (!GetNextRecord()) {
          FEOF = true;
          break;
        }
        if (full) --shift;
        FActiveRecord = FRecordCount - 1;
      }
      --distance;
      ++moved;
    }
    while (distance < 0) {
      if (FActiveRecord > 0) {
        --FActiveRecord;
      } else {
        if (!GetPriorRecord()) {
          FBOF = true;
          break;
        }
        ++shift;
        FActiveRecord = 0;
      }
      ++distance;
      --moved;
    }
  } catch (...) {
    DataEvent(TDataEvent::deDataSetScroll, nullptr, shift);
    throw;
  }
  DataEvent(TDataEvent::deDataSetScroll, nullptr, shift);
  InternalScrolled();
  DoEvent(AfterScroll);
  return moved;
}

int TDataSet::RecordCount() {
  CheckActive();
  return GetRecordCount();
}

int TDataSet::RecNo() {
  CheckActive();
  return GetRecNo();
}

void TDataSet::SetRecNo(int value) {
  CheckActive();
  InternalSetRecNo(value);
}

void TDataSet::InternalSetRecNo(int value) {
  const int current = RecNo();
  if (current > 0) {
    MoveBy(value - current);
    return;
  }
  // Without a sequence number of the current record, count from the first.
  First();
  MoveBy(value - 1);
}

void TDataSet::Refresh() {
  CheckBrowseMode();
  DoEvent(BeforeRefresh);
  UpdateCursorPos();
  InternalRefresh();
  Resync({});
  DoEvent(AfterRefresh);
}

// ---------------------------------------------------------------- bookmarks

TBookmark TDataSet::GetBookmark() {
  if (!Active() || IsEmpty() || FState == TDataSetState::dsSetKey) return {};
  const TRecordBuffer& buffer = *ActiveBuffer();
  if (GetBookmarkFlag(buffer) != TBookmarkFlag::bfCurrent) return {};
  return GetBookmarkData(buffer);
}

void TDataSet::GotoBookmark(const TBookmark& bookmark) {
  if (bookmark.empty()) return;
  MoveToCursorRecord([&] { InternalGotoBookmark(bookmark); });
}

void TDataSet::MoveToCursorRecord(const std::function<void()>& positionCursor) {
  CheckBrowseMode();
  DoEvent(BeforeScroll);
  positionCursor();
  Resync({true, true});
  InternalScrolled();
  DoEvent(AfterScroll);
}

bool TDataSet::BookmarkValid(const TBookmark&) { return false; }

int TDataSet::CompareBookmarks(const TBookmark& a, const TBookmark& b) {
  if (a == b) return 0;
  return a < b ? -1 : 1;
}

// ---------------------------------------------------------------- edit cycle

void TDataSet::CheckOperation(void (TDataSet::*operation)(), const TDataSetErrorEvent& onError) {
  for (;;) {
    try {
      UpdateCursorPos();
      (this->*operation)();
      return;
    } catch (const EDatabaseError& e) {
      TDataAction action = TDataAction::daFail;
      if (onError) onError(*this, e, action);
      if (action == TDataAction::daFail) throw;
      if (action == TDataAction::daAbort) Abort();
    }
  }
}

void TDataSet::Edit() {
  if (IsEditMode(FState)) return;
  if (FRecordCount == 0) {
    Insert();
    return;
  }
  CheckBrowseMode();
  CheckCanModify();
  DoEvent(BeforeEdit);
  CheckOperation(&TDataSet::InternalEdit, OnEditError);
  GetCalcFields(*ActiveBuffer());
  SetState(TDataSetState::dsEdit);
  DataEvent(TDataEvent::deRecordChange);
  DoEvent(AfterEdit);
}

void TDataSet::BeginInsertAppend() {
  CheckBrowseMode();
  CheckCanModify();
  DoEvent(BeforeInsert);
  DoEvent(BeforeScroll);
}

void TDataSet::EndInsertAppend() {
  SetState(TDataSetState::dsInsert);
  try {
    DoEvent(OnNewRecord);
  } catch (...) {
    // The new record is given up as a whole: the derived dataset's insert is undone too.
    UpdateCursorPos();
    InternalCancel();
    SetState(TDataSetState::dsBrowse);
    Resync({});
    throw;
  }
  FModified = false;
  DataEvent(TDataEvent::deDataSetChange);
  DoEvent(AfterInsert);
  DoEvent(AfterScroll);
}

void TDataSet::Insert() {
  BeginInsertAppend();
  const bool wasEmpty = FRecordCount == 0;
  const TBookmark before = wasEmpty ? TBookmark() : GetBookmarkData(*ActiveBuffer());
  MoveBuffer(FRecordCount, FActiveRecord);
  CursorPosChanged();
  TRecordBuffer& buffer = *ActiveBuffer();
  InternalInitRecord(buffer);
  GetCalcFields(buffer);
  if (wasEmpty) {
    SetBookmarkFlag(buffer, TBookmarkFlag::bfBOF);
  } else {
    SetBookmarkData(buffer, before);
    SetBookmarkFlag(buffer, TBookmarkFlag::bfInserted);
  }
  if (FRecordCount < FBufferCount) ++FRecordCount;
  FBOF = FEOF = false;
  try {
    UpdateCursorPos();
    InternalInsert();
  } catch (...) {
    // Back to the record the insert started from, as if nothing happened.
    UpdateCursorPos();
    Resync({});
    throw;
  }
  EndInsertAppend();
}

void TDataSet::Append() {
  BeginInsertAppend();
  ClearBuffers();
  TRecordBuffer& buffer = *FBuffers[0];
  InternalInitRecord(buffer);
  GetCalcFields(buffer);
  SetBookmarkFlag(buffer, TBookmarkFlag::bfEOF);
  FRecordCount = 1;
  FBOF = false;
  try {
    GetPriorRecords();
    UpdateCursorPos();
    InternalInsert();
  } catch (...) {
    InternalLast();
    CursorPosChanged();
    Resync({});
    throw;
  }
  EndInsertAppend();
}

void TDataSet::CheckRequiredFields() {
  for (const auto& field : FFields)
    if (field->FieldKind() == TFieldKind::fkData && field->Required() && !field->ReadOnly() && field->IsNull())
      DatabaseError(u"Field '%s' must have a value", {field->DisplayLabel()});
}

void TDataSet::Post() {
  UpdateRecord();
  switch (FState) {
    case TDataSetState::dsEdit:
    case TDataSetState::dsInsert:
      DataEvent(TDataEvent::deCheckBrowseMode);
      DoEvent(BeforePost);
      CheckRequiredFields();
      CheckOperation(&TDataSet::InternalPost, OnPostError);
      SetState(TDataSetState::dsBrowse);
      Resync({});
      DoEvent(AfterPost);
      break;
    case TDataSetState::dsSetKey:
      InternalPostKey(true);
      SetState(TDataSetState::dsBrowse);
      DataEvent(TDataEvent::deDataSetChange);
      break;
    default:
      break;
  }
}

void TDataSet::Cancel() {
  switch (FState) {
    case TDataSetState::dsEdit:
    case TDataSetState::dsInsert: {
      DataEvent(TDataEvent::deCheckBrowseMode);
      DoEvent(BeforeCancel);
      const bool scrolls = FState == TDataSetState::dsInsert;
      if (scrolls) DoEvent(BeforeScroll);
      UpdateCursorPos();
      InternalCancel();
      SetState(TDataSetState::dsBrowse);
      Resync({});
      DoEvent(AfterCancel);
      if (scrolls) DoEvent(AfterScroll);
      break;
    }
    case TDataSetState::dsSetKey:
      InternalPostKey(false);
      SetState(TDataSetState::dsBrowse);
      DataEvent(TDataEvent::deDataSetChange);
      break;
    default:
      break;
  }
}

void TDataSet::Delete() {
  CheckActive();
  if (FState == TDataSetState::dsInsert || FState == TDataSetState::dsSetKey) {
    Cancel();
    return;
  }
  if (FRecordCount == 0) DatabaseError(u"Cannot perform this operation on an empty dataset");
  CheckCanModify();
  DataEvent(TDataEvent::deCheckBrowseMode);
  DoEvent(BeforeDelete);
  DoEvent(BeforeScroll);
  CheckOperation(&TDataSet::InternalDelete, OnDeleteError);
  SetState(TDataSetState::dsBrowse);
  Resync({});
  DoEvent(AfterDelete);
  DoEvent(AfterScroll);
}

void TDataSet::CheckBrowseMode() {
  CheckActive();
  DataEvent(TDataEvent::deCheckBrowseMode);
  switch (FState) {
    case TDataSetState::dsEdit:
    case TDataSetState::dsInsert:
      UpdateRecord();
      if (FModified)
        Post();
      else
        Cancel();
      break;
    case TDataSetState::dsSetKey:
      Post();
      break;
    default:
      break;
  }
}

void TDataSet::UpdateRecord() {
  if (!IsEditMode(FState) && FState != TDataSetState::dsSetKey) DatabaseError(kNotEditing);
  DataEvent(TDataEvent::deUpdateRecord);
}

void TDataSet::BeginSetKey() {
  CheckBrowseMode();
  SetState(TDataSetState::dsSetKey);
  DataEvent(TDataEvent::deDataSetChange);
}

// ---------------------------------------------------------------- filter

void TDataSet::SetFilter(const std::u16string& value) {
  if (value == FFilter) return;
  if (Active()) CheckBrowseMode();
  FFilter = value;
  if (Active() && FFiltered) First();
}

void TDataSet::SetFiltered(bool value) {
  if (value == FFiltered) return;
  if (Active()) CheckBrowseMode();
  FFiltered = value;
  if (Active()) First();
}

void TDataSet::SetOnFilterRecord(TFilterRecordEvent handler) {
  if (Active()) CheckBrowseMode();
  FOnFilterRecord = std::move(handler);
  if (Active() && FFiltered) First();
}

// ---------------------------------------------------------------- notifications

void TDataSet::SetState(TDataSetState value) {
  if (FState == value) return;
  FState = value;
  FModified = false;
  DataEvent(TDataEvent::deUpdateState);
}

void TDataSet::DataEvent(TDataEvent event, TField* field, int info) {
  if (event == TDataEvent::deFieldChange && IsEditMode(FState)) {
    if (field && field->FieldKind() == TFieldKind::fkData) FModified = true;
    if (AutoCalcFields && FCalcFieldCount > 0) CalculateFieldsOfActive();
  }
  if (FDisableCount == 0) {
    for (TDataSource* source : std::vector<TDataSource*>(FDataSources))
      if (std::find(FDataSources.begin(), FDataSources.end(), source) != FDataSources.end())
        source->DataEvent(event, field, info);
  } else if ((event == TDataEvent::deUpdateState && FState == TDataSetState::dsInactive) ||
             event == TDataEvent::deLayoutChange) {
    FEnableEvent = TDataEvent::deLayoutChange;
  }
}

void TDataSet::DisableControls() noexcept {
  if (FDisableCount == 0) {
    FDisableState = FState;
    FEnableEvent = TDataEvent::deDataSetChange;
  }
  ++FDisableCount;
}

void TDataSet::EnableControls() {
  if (FDisableCount == 0) return;
  if (--FDisableCount > 0) return;
  if (FDisableState != FState) DataEvent(TDataEvent::deUpdateState);
  if (FDisableState != TDataSetState::dsInactive && FState != TDataSetState::dsInactive) DataEvent(FEnableEvent);
}

void TDataSet::AddDataSource(TDataSource& source) { FDataSources.push_back(&source); }

void TDataSet::RemoveDataSource(TDataSource& source) noexcept { std::erase(FDataSources, &source); }

}  // namespace tk
