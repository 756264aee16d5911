#include "VdbDataSet.h"

#include "VdbText.h"

#include <algorithm>
#include <cstring>

namespace vdbds {

namespace {

constexpr std::int32_t kNoRecord = -11;
constexpr std::uint16_t kRecInfoSize = 16;

bool IsBlobKind(TVdbDataType type) {
  return type == TVdbDataType::dtMemo || type == TVdbDataType::dtWideMemo || type == TVdbDataType::dtBlob ||
         type == TVdbDataType::dtBytes;
}

}  // namespace

// ---------------------------------------------------------------- buffers

struct TVdbDataSet::TBuffer : tk::TRecordBuffer {
  std::vector<std::uint8_t> Data;
};

TVdbDataSet::TVdbDataSet() { FBlobInfoList.resize(kCacheSlotsStep); }

TVdbDataSet::~TVdbDataSet() = default;

TVdbDataSet::TBuffer& TVdbDataSet::Buf(tk::TRecordBuffer& buffer) const { return static_cast<TBuffer&>(buffer); }
const TVdbDataSet::TBuffer& TVdbDataSet::Buf(const tk::TRecordBuffer& buffer) const {
  return static_cast<const TBuffer&>(buffer);
}
std::uint8_t* TVdbDataSet::Image(tk::TRecordBuffer& buffer) const { return Buf(buffer).Data.data(); }

void TVdbDataSet::ReleaseBlobCache(tk::TRecordBuffer& buffer) noexcept {
  if (Buf(buffer).Data.size() < FRecBufSize || FRecBufSize == 0) return;
  const std::int32_t slot = ReadInt32(buffer, FBlobCacheOfs);
  if (slot >= 0 && static_cast<std::size_t>(slot) < FBlobInfoList.size()) FBlobInfoList[static_cast<std::size_t>(slot)].reset();
  WriteInt32(buffer, FBlobCacheOfs, -1);
}

std::int32_t TVdbDataSet::ReadInt32(const tk::TRecordBuffer& buffer, std::size_t offset) const {
  const auto& data = Buf(buffer).Data;
  std::uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | data[offset + static_cast<std::size_t>(i)];
  return static_cast<std::int32_t>(v);
}

void TVdbDataSet::WriteInt32(tk::TRecordBuffer& buffer, std::size_t offset, std::int32_t value) const {
  auto& data = Buf(buffer).Data;
  auto v = static_cast<std::uint32_t>(value);
  for (int i = 0; i < 4; ++i) {
    data[offset + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v & 0xFF);
    v >>= 8;
  }
}

bool TVdbDataSet::DeletedOf(const tk::TRecordBuffer& buffer) const { return Buf(buffer).Data[FRecInfoOfs + 9u] != 0; }
void TVdbDataSet::SetDeletedOf(tk::TRecordBuffer& buffer, bool value) const {
  Buf(buffer).Data[FRecInfoOfs + 9u] = value ? 1 : 0;
}

std::unique_ptr<tk::TRecordBuffer> TVdbDataSet::AllocRecordBuffer() {
  auto buffer = std::make_unique<TBuffer>();
  buffer->Data.assign(FRecBufSize, 0);
  WriteInt32(*buffer, FBlobCacheOfs, -1);
  WriteInt32(*buffer, FRelationsOfs, -1);
  return buffer;
}

void TVdbDataSet::FreeRecordBuffer(tk::TRecordBuffer& buffer) noexcept { ReleaseBlobCache(buffer); }

void TVdbDataSet::ClearBuffer(tk::TRecordBuffer& buffer) noexcept {
  auto& data = Buf(buffer).Data;
  std::fill(data.begin(), data.begin() + FRecordSize, std::uint8_t{0});
  buffer.CalcValues.clear();
  ReleaseBlobCache(buffer);
  SetSeqNoOf(buffer, -1);
  SetRecNoOf(buffer, -1);
  SetDeletedOf(buffer, false);
  SetInsertedBeforeOf(buffer, 0);
}

tk::TBookmarkFlag TVdbDataSet::GetBookmarkFlag(const tk::TRecordBuffer& buffer) {
  return static_cast<tk::TBookmarkFlag>(Buf(buffer).Data[FRecInfoOfs + 4u]);
}

void TVdbDataSet::SetBookmarkFlag(tk::TRecordBuffer& buffer, tk::TBookmarkFlag flag) {
  Buf(buffer).Data[FRecInfoOfs + 4u] = static_cast<std::uint8_t>(flag);
}

tk::TBookmark TVdbDataSet::GetBookmarkData(const tk::TRecordBuffer& buffer) {
  const auto& data = Buf(buffer).Data;
  const auto first = data.begin() + FRecInfoOfs + 5;
  return tk::TBookmark(first, first + 4);
}

void TVdbDataSet::SetBookmarkData(tk::TRecordBuffer& buffer, const tk::TBookmark& bookmark) {
  std::int32_t recNo = 0;
  if (bookmark.size() == 4)
    recNo = static_cast<std::int32_t>(bookmark[0] | (bookmark[1] << 8) | (bookmark[2] << 16) |
                                      (static_cast<std::uint32_t>(bookmark[3]) << 24));
  SetRecNoOf(buffer, recNo);
}

// ---------------------------------------------------------------- database and cursor

TVdbCalls& TVdbDataSet::Calls() const { return FDatabase ? FDatabase->Calls() : LibraryCalls(); }

std::int16_t TVdbDataSet::SessionHandle() const noexcept { return FDatabase ? FDatabase->Handle() : -1; }

void TVdbDataSet::RaiseError(std::u16string_view context, std::int32_t result) {
  RaiseEngineError(Calls(), SessionHandle(), context, result);
}

std::int32_t TVdbDataSet::Check(std::u16string_view context, std::int32_t result) {
  if (result < 0) RaiseError(context, result);
  return result;
}

TVdbDatabase& TVdbDataSet::Database() {
  if (!FDatabase) FDatabase = &TVdbDatabase::FindForDataSet(FDatabaseName);
  return *FDatabase;
}

void TVdbDataSet::SetDatabaseName(const std::u16string& value) {
  std::u16string name = value;
  if (!name.empty() && name.back() == u'\\') name.pop_back();
  if (name == FDatabaseName) return;
  const bool wasActive = Active();
  Close();
  FDatabase = nullptr;
  FDatabaseName = name;
  if (wasActive) Open();
}

std::u16string TVdbDataSet::Version() {
  const int engine = 8102;
  return tk::FormatText(u"%d.%d.%d/%d.%d.%d", {u"6", u"1", u"8", tk::IntToText(engine / 1000),
                                                tk::IntToText(engine / 100 % 10), tk::IntToText(engine % 100)});
}

void TVdbDataSet::BindCursor(std::int16_t tableHdl) {
  FTableHdl = tableHdl;
  TVdbCalls& calls = Calls();
  FCanModify = calls.TableCanModify(FTableHdl) > 0;
  Check(u"Opening VidoraDB table", calls.TableSetChangeProc(FTableHdl, &TVdbDatabase::ChangeCallback));
  SetBookmarkSize(4);
  FTableLevel = Check(u"Opening VidoraDB table", calls.TableGetRltnVersion(FTableHdl));
  FRecordSize = static_cast<std::uint16_t>(Check(u"Opening VidoraDB table", calls.TableGetRecordSize(FTableHdl)));
  FBlobCacheOfs = FRecordSize;  // calculated values live in the framework's part of the buffer
  FRelationsOfs = static_cast<std::uint16_t>(FBlobCacheOfs + 4);
  FRecInfoOfs = static_cast<std::uint16_t>(FRelationsOfs + 4);
  FRecBufSize = static_cast<std::uint16_t>(FRecInfoOfs + kRecInfoSize);
  for (auto& key : FKeyBuffers) key = AllocRecordBuffer();
  FFilteredRecordCount = -1;
  FFilterUpdated = false;
  FEngineSequenced = calls.TableIsSequenced(FTableHdl) == 1;
  if (!Filter().empty()) GiveFilterToEngine(Filter());
}

std::int16_t TVdbDataSet::ReleaseCursor() noexcept {
  for (auto& key : FKeyBuffers) {
    if (key) ReleaseBlobCache(*key);
    key.reset();
  }
  for (auto& cache : FBlobInfoList) cache.reset();
  FCodePages.clear();
  // The handle is forgotten either way; a failure is reported by the caller.
  const std::int16_t released = FTableHdl > 0 ? Calls().TableDelete(FTableHdl) : 0;
  FTableHdl = 0;
  FFieldDefsVdb.Clear();
  FBlobFieldIndex.clear();
  FBlobFieldCount = 0;
  if (FDatabase) {
    TVdbDatabase* database = FDatabase;
    FDatabase = nullptr;
    database->UnregisterClient(*this);
  }
  return released;
}

// ---------------------------------------------------------------- field definitions

void TVdbDataSet::InternalInitFieldDefs() {
  FFieldDefsVdb.Clear();
  FieldDefs().Clear();
  FBlobFieldIndex.clear();
  FBlobFieldCount = 0;
  TVdbCalls& calls = Calls();
  const std::int16_t count = static_cast<std::int16_t>(Check(u"Reading field definitions", calls.TableGetNumFields(FTableHdl)));
  for (std::int16_t no = 1; no <= count; ++no) {
    TVdbColumnSpec spec;
    Check(u"Reading field definitions", calls.TableGetFieldSpec(FTableHdl, no, spec));
    TVdbFieldDef def;
    def.Name = spec.Name.substr(0, 40);
    def.TypeWord = spec.FldType;
    def.DataTypeVdb = DataTypeOfColumn(spec.FldType);
    def.DataType = FrameworkType(def.DataTypeVdb);
    def.FieldNo = no;
    def.InitialFieldNo = no;
    def.InternalCalcField = (spec.Options & kColumnComputed) != 0;
    def.Nullable = (spec.Options & kColumnNullable) != 0;
    def.Required = def.DataTypeVdb == TVdbDataType::dtAutoInc ? (spec.Options & kColumnNoIndex) != 0 : !def.Nullable;
    def.ReadOnly = def.InternalCalcField || def.DataTypeVdb == TVdbDataType::dtAutoInc;
    def.CodePage = Check(u"Reading field definitions", calls.TableGetFieldCodePage(FTableHdl, no));
    TVdbColumnLayout& layout = def.Layout;
    layout.ColumnType = static_cast<std::int16_t>(spec.FldType & 0xFF);
    layout.Position = spec.InternalPosition;
    layout.Size = spec.InternalSize;
    layout.Options = spec.Options;
    layout.TableLevel = static_cast<std::int16_t>(FTableLevel);
    layout.MaxLength = layout.ColumnType == ctChar ? 1 : spec.Param;
    layout.Precision = spec.Param;
    switch (def.DataTypeVdb) {
      case TVdbDataType::dtString:
      case TVdbDataType::dtWideString:
        def.Size = layout.StringLength();
        def.Specification = spec.SelectOrLink.substr(0, 2000);
        break;
      case TVdbDataType::dtFloat:
      case TVdbDataType::dtTime:
        def.Precision = spec.Param;
        break;
      case TVdbDataType::dtEnum:
        def.Specification = spec.SelectOrLink;
        def.Size = 40;
        break;
      case TVdbDataType::dtAutoInc: {
        std::u16string ids = spec.SelectOrLink;
        std::replace(ids.begin(), ids.end(), u',', u';');
        def.Specification = ids;
        break;
      }
      case TVdbDataType::dtLink:
        def.Size = 255;
        def.Specification = spec.SelectOrLink;
        break;
      case TVdbDataType::dtRelation:
        def.Size = 8192;
        def.Specification = spec.SelectOrLink;
        break;
      case TVdbDataType::dtGuid:
        def.Size = 38;
        break;
      case TVdbDataType::dtBytes:
        def.Size = spec.Param;
        break;
      default:
        break;
    }
    def.CalcExpression = spec.RangeOrFormula.substr(0, 255);
    FBlobFieldIndex.push_back(IsBlobKind(def.DataTypeVdb) ? FBlobFieldCount++ : -1);
    tk::TFieldDef& framework = FieldDefs().Add(def.Name, def.DataType, def.Size, def.Required);
    framework.Precision = def.Precision;
    framework.ReadOnly = def.ReadOnly;
    framework.FieldNo = no;
    FFieldDefsVdb.Add(std::move(def));
  }
}

std::unique_ptr<tk::TField> TVdbDataSet::CreateFieldObject(const tk::TFieldDef& def) {
  switch (def.DataType) {
    case tk::TFieldType::dtString:
      return std::make_unique<TVdbStringField>(def.DataType, def.Size);
    case tk::TFieldType::dtWideString:
      return std::make_unique<TVdbWideStringField>(def.DataType, def.Size);
    case tk::TFieldType::dtLargeInt:
      return std::make_unique<TVdbLargeIntField>();
    case tk::TFieldType::dtBlob:
    case tk::TFieldType::dtMemo:
    case tk::TFieldType::dtWideMemo:
      return std::make_unique<TVdbBlobField>(def.DataType);
    default:
      return tk::TDataSet::CreateFieldObject(def);
  }
}

const TVdbFieldDef& TVdbDataSet::DefOf(const tk::TField& field) const {
  const int index = field.FieldNo() - 1;
  if (index < 0 || index >= FFieldDefsVdb.Count()) tk::DatabaseError(u"Field %s not found", {field.FieldName()});
  return FFieldDefsVdb[index];
}

const TVdbCodePage& TVdbDataSet::CodePageOf(const TVdbFieldDef& def) const {
  auto& slot = const_cast<TVdbDataSet*>(this)->FCodePages[def.CodePage];
  if (!slot) slot = std::make_unique<TVdbCodePage>(def.CodePage);
  return *slot;
}

// ---------------------------------------------------------------- fetching

tk::TGetResult TVdbDataSet::FetchFromEngine(tk::TRecordBuffer& buffer, tk::TGetMode mode) {
  TVdbCalls& calls = Calls();
  std::int32_t result = 0;
  tk::TGetResult endResult = tk::TGetResult::grEOF;
  switch (mode) {
    case tk::TGetMode::gmCurrent:
      result = calls.TableMoveBy(FTableHdl, 0);
      endResult = FOutOfTableState == TOutOfTableState::ootBOT ? tk::TGetResult::grBOF : tk::TGetResult::grEOF;
      break;
    case tk::TGetMode::gmNext:
      result = FOutOfTableState == TOutOfTableState::ootBOT ? calls.TableFirst(FTableHdl) : calls.TableMoveBy(FTableHdl, 1);
      endResult = tk::TGetResult::grEOF;
      break;
    case tk::TGetMode::gmPrior:
      result = FOutOfTableState == TOutOfTableState::ootEOT ? calls.TableLast(FTableHdl) : calls.TableMoveBy(FTableHdl, -1);
      endResult = tk::TGetResult::grBOF;
      break;
  }
  if (result < 0) {
    ClearBuffer(buffer);
    FLastFetchError = result;
    return result == kNoRecord ? endResult : tk::TGetResult::grError;
  }
  FOutOfTableState = TOutOfTableState::ootNone;
  ReadRecordInto(buffer);
  SetSeqNoOf(buffer, 0);
  const std::int32_t recNo = calls.TableGetRecNo(FTableHdl);
  SetRecNoOf(buffer, recNo);
  SetBookmarkFlag(buffer, recNo != 0 ? tk::TBookmarkFlag::bfCurrent : tk::TBookmarkFlag::bfInserted);
  SetDeletedOf(buffer, false);
  SetInsertedBeforeOf(buffer, 0);
  return tk::TGetResult::grOK;
}

void TVdbDataSet::ReadRecordInto(tk::TRecordBuffer& buffer) {
  ReleaseBlobCache(buffer);
  Check(u"Fetching records", Calls().TableGetRecord(FTableHdl, Image(buffer), FRecordSize));
}

tk::TGetResult TVdbDataSet::GetRecord(tk::TRecordBuffer& buffer, tk::TGetMode mode, bool doCheck) {
  const tk::TGetResult result = FetchFromEngine(buffer, mode);
  if (result == tk::TGetResult::grError && doCheck) RaiseError(u"Fetching record", FLastFetchError);
  return result;
}

void TVdbDataSet::InternalFirst() {
  FFilteredRecordCount = -1;
  Calls().TableFirst(FTableHdl);
  FOutOfTableState = TOutOfTableState::ootBOT;
}

void TVdbDataSet::InternalLast() {
  // While inserting, the engine stands on its new record, which lies after the last one.
  if (State() != tk::TDataSetState::dsInsert) Calls().TableLast(FTableHdl);
  FOutOfTableState = TOutOfTableState::ootEOT;
}

void TVdbDataSet::InternalSetToRecord(tk::TRecordBuffer& buffer) {
  TVdbCalls& calls = Calls();
  const std::int32_t recNo = RecNoOf(buffer);
  const std::int32_t current = calls.TableGetRecNo(FTableHdl);
  if (current == recNo) {
    FOutOfTableState = TOutOfTableState::ootNone;
    return;
  }
  if (recNo != 0) {
    // A short relative move is cheaper than a positioning by number in an index order.
    int index = -1;
    for (int i = 0; i <= BufferCount(); ++i)
      if (Buffer(i) == &buffer) index = i;
    const int from = CurrentRecordIndex();
    tk::TRecordBuffer* fromBuffer = Buffer(from);
    if (index >= 0 && from >= 0 && current > 0 && fromBuffer &&
        GetBookmarkFlag(*fromBuffer) == tk::TBookmarkFlag::bfCurrent && RecNoOf(*fromBuffer) == current) {
      if (calls.TableMoveBy(FTableHdl, index - from) >= 0 && calls.TableGetRecNo(FTableHdl) == recNo) {
        FOutOfTableState = TOutOfTableState::ootNone;
        return;
      }
    }
  }
  const std::int32_t reached = calls.TableSetRecNo(FTableHdl, recNo);
  FOutOfTableState = reached == recNo ? TOutOfTableState::ootNone : TOutOfTableState::ootEOT;
}

void TVdbDataSet::SetEngineToRecord(std::int32_t recNo) {
  TVdbCalls& calls = Calls();
  if (calls.TableGetRecNo(FTableHdl) == recNo) return;
  const std::int32_t reached = calls.TableSetRecNo(FTableHdl, recNo);
  if (reached < 0) RaiseError(tk::FormatText(u"Setting to record number %d", {tk::IntToText(recNo)}), reached);
  // -1 goes before the first record and answers 0.
  if (reached != recNo && !(recNo == -1 && reached == 0)) tk::DatabaseError(u"Record %d not found", {tk::IntToText(recNo)});
}

void TVdbDataSet::InternalGotoBookmark(const tk::TBookmark& bookmark) {
  TBuffer scratch;
  scratch.Data.assign(FRecBufSize, 0);
  SetBookmarkData(scratch, bookmark);
  const std::int32_t recNo = RecNoOf(scratch);
  const std::int32_t reached = Calls().TableSetRecNo(FTableHdl, recNo);
  if (reached < 0) RaiseError(u"Going to bookmark", reached);
  if (reached != recNo) tk::DatabaseError(u"Record %d not found", {tk::IntToText(recNo)});
  FOutOfTableState = TOutOfTableState::ootNone;
}

int TVdbDataSet::GetRecordCount() {
  if (!HasRecordFilter()) {
    const std::int32_t count = Calls().TableGetRecordCount(FTableHdl);
    // -1: the engine refuses to count a large filtered view; the caller sees "unknown".
    if (count < -1) RaiseError(u"Fetching records", count);
    return count;
  }
  if (FFilteredRecordCount != -1) return FFilteredRecordCount;
  TVdbCalls& calls = Calls();
  const std::int32_t recNo = calls.TableGetRecNo(FTableHdl);
  const TOutOfTableState state = FOutOfTableState;
  std::unique_ptr<tk::TRecordBuffer> scratch = AllocRecordBuffer();
  int count = 0;
  FOutOfTableState = TOutOfTableState::ootBOT;
  try {
    while (FetchRecord(*scratch, tk::TGetMode::gmNext, false) == tk::TGetResult::grOK) ++count;
  } catch (...) {
    ReleaseBlobCache(*scratch);
    calls.TableSetRecNo(FTableHdl, std::max(recNo, 0));
    FOutOfTableState = state;
    throw;
  }
  ReleaseBlobCache(*scratch);
  calls.TableSetRecNo(FTableHdl, std::max(recNo, 0));
  FOutOfTableState = state;
  FFilteredRecordCount = count;
  return count;
}

bool TVdbDataSet::IsSequenced() {
  if (FTableHdl <= 0) return true;
  FEngineSequenced = Calls().TableIsSequenced(FTableHdl) == 1;
  return !HasRecordFilter() && FEngineSequenced;
}

int TVdbDataSet::GetRecNo() {
  if (IsEmpty() || State() == tk::TDataSetState::dsInsert || !IsSequenced()) return 0;
  tk::TRecordBuffer* active = ActiveBuffer();
  if (!active || GetBookmarkFlag(*active) != tk::TBookmarkFlag::bfCurrent) return 0;
  UpdateCursorPos();
  const std::int32_t sequence = Calls().TableGetSequenceNo(FTableHdl);
  return sequence > 0 ? sequence : 0;
}

std::int32_t TVdbDataSet::RecordNo() {
  CheckActive();
  tk::TRecordBuffer* active = ActiveBuffer();
  if (!active || IsEmpty()) return 0;
  return RecNoOf(*active);
}

void TVdbDataSet::RecordDeleted(std::int32_t deleted, std::int32_t moved) noexcept {
  // Called from inside an engine call: no engine call here.
  const bool sequenced = FEngineSequenced;
  auto mark = [&](tk::TRecordBuffer* buffer) {
    if (!buffer || Buf(*buffer).Data.size() < FRecBufSize) return;
    const std::int32_t recNo = RecNoOf(*buffer);
    if (recNo == deleted && !DeletedOf(*buffer)) {
      SetDeletedOf(*buffer, true);
    } else if (moved != 0 && recNo == moved) {
      SetRecNoOf(*buffer, deleted);
      if (!sequenced) SetSeqNoOf(*buffer, deleted);
    }
  };
  for (int i = 0; i <= BufferCount(); ++i) mark(Buffer(i));
}

void TVdbDataSet::RefreshIfChanged() {
  const std::int16_t changed = static_cast<std::int16_t>(Check(u"Fetching records", Calls().TableRefresh(FTableHdl, true)));
  if (changed != 1 || State() != tk::TDataSetState::dsBrowse) return;
  // The window is re-read around the record shown (or, when it is gone, what took its place).
  CursorPosChanged();
  UpdateCursorPos();
  Resync({});
}

void TVdbDataSet::InternalRefresh() { Check(u"Fetching records", Calls().TableRefresh(FTableHdl, true)); }

void TVdbDataSet::InternalScrolled() {
  // A walk with its controls disabled (a report) shows nothing meanwhile and is not re-read
  // under its feet; the next move the user sees brings the changes.
  if (State() == tk::TDataSetState::dsBrowse && !ControlsDisabled()) RefreshIfChanged();
}

void TVdbDataSet::CatchUpBeforeChange(std::u16string_view context) {
  tk::TRecordBuffer& active = *ActiveBuffer();
  if (!DeletedOf(active)) Check(context, Calls().TableRefresh(FTableHdl, true));
  if (DeletedOf(active)) tk::DatabaseError(u"This record has been deleted");
}

void TVdbDataSet::PositionOnActive(std::u16string_view context) {
  tk::TRecordBuffer& active = *ActiveBuffer();
  // Positioning takes a table lock, and with it the engine may deliver another session's
  // delete: the buffer is then marked deleted or renumbered, and the number just used named
  // another record. Positioning again on the new number settles it.
  std::int32_t reached = 0;
  for (int attempt = 0; attempt < 3; ++attempt) {
    const std::int32_t recNo = RecNoOf(active);
    reached = Calls().TableSetRecNo(FTableHdl, recNo);
    if (DeletedOf(active)) tk::DatabaseError(u"This record has been deleted");
    if (RecNoOf(active) == recNo) break;
  }
  if (reached < 0) RaiseError(context, reached);
}

// ---------------------------------------------------------------- edit cycle

void TVdbDataSet::InternalInitRecord(tk::TRecordBuffer& buffer) { ClearBuffer(buffer); }

void TVdbDataSet::InternalEdit() {
  tk::TRecordBuffer& active = *ActiveBuffer();
  CatchUpBeforeChange(u"Entering record");
  PositionOnActive(u"Entering record");
  TVdbCalls& calls = Calls();
  Check(u"Entering record", calls.TableEdit(FTableHdl));
  // Another program deleted the record between the check and the edit lock: the engine's
  // catching up while locking marked the buffer.
  if (DeletedOf(active)) {
    // What the user must hear is the delete; ending an edit of a vanished record adds nothing.
    static_cast<void>(calls.TableEditCancel(FTableHdl));
    tk::DatabaseError(u"This record has been deleted");
  }
  // The record as stored now: another program's posted change is where the edit starts.
  ReadRecordInto(active);
}

void TVdbDataSet::InternalInsert() {
  tk::TRecordBuffer& active = *ActiveBuffer();
  const bool before = GetBookmarkFlag(active) == tk::TBookmarkFlag::bfInserted;
  const std::int32_t insertedBefore = before ? RecNoOf(active) : 0;
  const std::u16string context = tk::FormatText(u"Inserting record into dataset %s", {Name});
  Check(context, Calls().TableAppend(FTableHdl));
  // The engine's new record brings its default and automatic values.
  ReleaseBlobCache(active);
  const std::int16_t read = Calls().TableGetRecord(FTableHdl, Image(active), FRecordSize);
  if (read < 0 && read != kNoRecord) RaiseError(u"Fetching records", read);
  SetRecNoOf(active, 0);
  SetSeqNoOf(active, 0);
  SetDeletedOf(active, false);
  SetInsertedBeforeOf(active, insertedBefore);
  GetCalcFields(active);
}

void TVdbDataSet::WriteRecord(tk::TRecordBuffer& buffer) {
  TVdbCalls& calls = Calls();
  TBlobCache* cache = FindCache(buffer);
  // Fixed binaries live in the record image itself.
  if (cache) {
    for (int i = 0; i < FFieldDefsVdb.Count(); ++i) {
      const TVdbFieldDef& def = FFieldDefsVdb[i];
      const int blob = FBlobFieldIndex[static_cast<std::size_t>(i)];
      if (def.DataTypeVdb != TVdbDataType::dtBytes || blob < 0) continue;
      TBlobEntry& entry = (*cache)[static_cast<std::size_t>(blob)];
      if (entry.Modified) WriteColumn(def.Layout, Image(buffer), CodePageOf(def), tk::TFieldValue(entry.Data));
    }
  }
  Check(tk::FormatText(u"Writing record to dataset %s", {Name}), calls.TableSetRecord(FTableHdl, Image(buffer), FRecordSize));
  if (!cache) return;
  for (int i = 0; i < FFieldDefsVdb.Count(); ++i) {
    const TVdbFieldDef& def = FFieldDefsVdb[i];
    const int blob = FBlobFieldIndex[static_cast<std::size_t>(i)];
    if (blob < 0 || def.DataTypeVdb == TVdbDataType::dtBytes) continue;
    const TBlobEntry& entry = (*cache)[static_cast<std::size_t>(blob)];
    if (!entry.Modified) continue;
    if (def.DataTypeVdb == TVdbDataType::dtWideMemo && entry.Data.size() % 2 != 0)
      tk::DatabaseError(u"Wide memo \"%s\" is invalid, must have even number of bytes.", {def.Name});
    Check(u"Writing blob", calls.TableSetBlob(FTableHdl, static_cast<std::int16_t>(def.FieldNo), entry.Data.data(),
                                              static_cast<std::int32_t>(entry.Data.size())));
  }
}

void TVdbDataSet::InternalPost() {
  tk::TRecordBuffer& active = *ActiveBuffer();
  TVdbCalls& calls = Calls();
  if (State() == tk::TDataSetState::dsEdit) {
    const std::u16string context = tk::FormatText(u"Writing record to dataset %s", {Name});
    const std::int32_t recNo = RecNoOf(active);
    if (calls.TableGetRecNo(FTableHdl) != recNo) {
      const std::int32_t reached = calls.TableSetRecNo(FTableHdl, recNo);
      if (reached < 0) RaiseError(context, reached);
    }
    WriteRecord(active);
    Check(context, calls.TableEditConfirm(FTableHdl));
  } else {
    WriteRecord(active);
    Check(tk::FormatText(u"Appending record to dataset %s", {Name}), calls.TableAppendConfirm(FTableHdl));
    FOutOfTableState = TOutOfTableState::ootNone;
  }
  FFilteredRecordCount = -1;
}

void TVdbDataSet::InternalCancel() {
  TVdbCalls& calls = Calls();
  if (State() == tk::TDataSetState::dsEdit) {
    Check(u"Cancelling record", calls.TableEditCancel(FTableHdl));
    return;
  }
  if (State() != tk::TDataSetState::dsInsert) return;
  tk::TRecordBuffer& active = *ActiveBuffer();
  Check(u"Cancelling Record", calls.TableAppendCancel(FTableHdl));
  FOutOfTableState = TOutOfTableState::ootNone;
  const tk::TBookmarkFlag flag = GetBookmarkFlag(active);
  const std::int32_t before = InsertedBeforeOf(active);
  if (flag != tk::TBookmarkFlag::bfBOF && flag != tk::TBookmarkFlag::bfEOF && before != 0) {
    const std::int32_t reached = calls.TableSetRecNo(FTableHdl, before);
    if (reached < 0) RaiseError(u"Going to bookmark", reached);
  } else if (calls.TableLast(FTableHdl) < 0) {
    FOutOfTableState = TOutOfTableState::ootEOT;
  }
}

void TVdbDataSet::InternalDelete() {
  if (!GetCanModify()) tk::DatabaseError(u"Cannot modify a read-only dataset");
  TVdbCalls& calls = Calls();
  CatchUpBeforeChange(u"Deleting record");
  if (State() == tk::TDataSetState::dsEdit) Check(u"Cancelling record", calls.TableEditCancel(FTableHdl));
  // The record shown is made current by its number right before: a delete must reach the
  // record the user sees and nothing the cursor still remembers from an earlier delete.
  PositionOnActive(u"Deleting record");
  Check(u"Deleting record", calls.TableDeleteRecord(FTableHdl));
  FFilteredRecordCount = -1;
  if (calls.TableGetRecordCount(FTableHdl) == 0) FOutOfTableState = TOutOfTableState::ootEOT;
}

// ---------------------------------------------------------------- field values

bool TVdbDataSet::GetFieldData(const tk::TField& field, const tk::TRecordBuffer& buffer, tk::TFieldValue& value) {
  const TVdbFieldDef& def = DefOf(field);
  const std::uint8_t* image = Buf(buffer).Data.data();
  if (IsBlobKind(def.DataTypeVdb)) {
    const TBlobCache* cache = FindCache(buffer);
    const int blob = FBlobFieldIndex[static_cast<std::size_t>(def.FieldNo - 1)];
    if (cache) {
      const TBlobEntry& entry = (*cache)[static_cast<std::size_t>(blob)];
      if (entry.Loaded || entry.Modified) return !entry.Data.empty();
    }
    tk::TFieldValue stored;
    return ReadColumn(def.Layout, image, CodePageOf(def), stored) &&
           (def.DataTypeVdb != TVdbDataType::dtBytes || !std::get<tk::TBytes>(stored).empty());
  }
  switch (def.DataTypeVdb) {
    case TVdbDataType::dtUnknown:
    case TVdbDataType::dtRelation:
      return false;
    case TVdbDataType::dtEnum: {
      tk::TFieldValue ordinal;
      if (!ReadColumn(def.Layout, image, CodePageOf(def), ordinal)) return false;
      const auto names = Split(def.Specification, u',');
      const auto index = static_cast<std::size_t>(std::get<std::int64_t>(ordinal) - 1);
      if (index >= names.size()) return false;
      value = names[index].substr(0, static_cast<std::size_t>(def.Size));
      return true;
    }
    case TVdbDataType::dtLink: {
      tk::TFieldValue id;
      if (!ReadColumn(def.Layout, image, CodePageOf(def), id)) return false;
      value = u"(" + tk::IntToText(std::get<std::int64_t>(id)) + u")";
      return true;
    }
    default:
      return ReadColumn(def.Layout, image, CodePageOf(def), value);
  }
}

void TVdbDataSet::SetFieldData(const tk::TField& field, tk::TRecordBuffer& buffer, const tk::TFieldValue& value) {
  try {
    WriteFieldValue(field, buffer, value);
  } catch (const tk::EDatabaseError& e) {
    TVdbWriteFieldAction action = TVdbWriteFieldAction::wfaRaise;
    if (OnWriteFieldError) OnWriteFieldError(*this, field, e, action);
    if (action == TVdbWriteFieldAction::wfaRaise) throw;
    if (action == TVdbWriteFieldAction::wfaAbort) tk::Abort();
  }
}

void TVdbDataSet::WriteFieldValue(const tk::TField& field, tk::TRecordBuffer& buffer, const tk::TFieldValue& value) {
  const TVdbFieldDef& def = DefOf(field);
  if (def.InternalCalcField) return;
  if (IsBlobKind(def.DataTypeVdb)) {
    TBlobCache& cache = CacheOf(buffer);
    TBlobEntry& entry = cache[static_cast<std::size_t>(FBlobFieldIndex[static_cast<std::size_t>(def.FieldNo - 1)])];
    const auto* bytes = std::get_if<tk::TBytes>(&value);
    entry.Data = bytes ? *bytes : tk::TBytes();
    entry.Loaded = entry.Modified = true;
    return;
  }
  switch (def.DataTypeVdb) {
    case TVdbDataType::dtEnum: {
      const auto* name = std::get_if<std::u16string>(&value);
      if (!name || name->empty()) {
        WriteColumn(def.Layout, Image(buffer), CodePageOf(def), tk::TFieldValue());
        return;
      }
      const std::int16_t ordinal = Calls().TableGetEnumValue(FTableHdl, static_cast<std::int16_t>(def.FieldNo), *name);
      if (ordinal <= 0) tk::DatabaseError(u"'%s' is not a valid enumeration value for this field", {*name});
      WriteColumn(def.Layout, Image(buffer), CodePageOf(def), tk::TFieldValue(std::int64_t{ordinal}));
      return;
    }
    case TVdbDataType::dtLink:
    case TVdbDataType::dtRelation: {
      const auto* text = std::get_if<std::u16string>(&value);
      if (!text || text->empty()) {
        WriteColumn(def.Layout, Image(buffer), CodePageOf(def), tk::TFieldValue());
        return;
      }
      tk::DatabaseError(u"\"%s\" is no valid entry for field \"%s\"", {*text, field.DisplayLabel()});
    }
    case TVdbDataType::dtUnknown:
      return;
    default:
      WriteColumn(def.Layout, Image(buffer), CodePageOf(def), value);
  }
}

std::u16string TVdbDataSet::MemoBytesToText(const tk::TField& field, const tk::TBytes& bytes) {
  if (field.DataType() != tk::TFieldType::dtMemo || field.FieldNo() <= 0) return tk::TDataSet::MemoBytesToText(field, bytes);
  return CodePageOf(DefOf(field)).Decode(bytes.data(), bytes.size());
}

tk::TBytes TVdbDataSet::MemoTextToBytes(const tk::TField& field, std::u16string_view text) {
  if (field.DataType() != tk::TFieldType::dtMemo || field.FieldNo() <= 0) return tk::TDataSet::MemoTextToBytes(field, text);
  return CodePageOf(DefOf(field)).Encode(text);
}

// ---------------------------------------------------------------- filter

void TVdbDataSet::GiveFilterToEngine(const std::u16string& text) {
  TVdbCalls& calls = Calls();
  std::uint16_t mode = FFilterMethod == TVdbFilterMethod::tfeIncremental ? 0x4F : 0x41;
  if (FFilterOptions & foCaseInsensitive) mode += 0x10;
  if (!(FFilterOptions & foNoPartialCompare)) mode += 0x20;
  // What the engine holds now: restored when the new text is refused.
  const bool wasOn = Filtered() && FFilterUpdated && !Filter().empty();
  const std::u16string old = Filter();
  if (Filtered()) calls.TableActivateFilter(FTableHdl, false);
  const std::int16_t result = calls.TableSetSQLFilter(FTableHdl, text, mode, true);
  if (result < 0) {
    try {
      RaiseError(u"Setting filter", result);
    } catch (...) {
      if (wasOn) {
        calls.TableSetSQLFilter(FTableHdl, old, mode, true);
        calls.TableActivateFilter(FTableHdl, true);
      }
      throw;
    }
  }
  if (Filtered() && !text.empty()) Check(u"Setting filter", calls.TableActivateFilter(FTableHdl, true));
  FFilterUpdated = true;
}

void TVdbDataSet::SetFilter(const std::u16string& value) {
  if (value == Filter()) return;
  if (Active()) {
    CheckBrowseMode();
    if (Filtered())
      GiveFilterToEngine(value);
    else
      FFilterUpdated = false;
  } else {
    FFilterUpdated = false;
  }
  tk::TDataSet::SetFilter(value);
}

void TVdbDataSet::SetFiltered(bool value) {
  if (!Active()) {
    tk::TDataSet::SetFiltered(value);
    return;
  }
  CheckBrowseMode();
  if (value == Filtered()) return;
  TVdbCalls& calls = Calls();
  if (value) {
    FFilteredRecordCount = -1;
    if (!FFilterUpdated) GiveFilterToEngine(Filter());
    Check(u"Setting filter", calls.TableActivateFilter(FTableHdl, true));
  } else {
    Check(u"Setting filter", calls.TableActivateFilter(FTableHdl, false));
  }
  tk::TDataSet::SetFiltered(value);
}

void TVdbDataSet::SetFilterOptions(TFilterOptions value) {
  if (value == FFilterOptions) return;
  FFilterOptions = value;
  if (!Active()) return;
  if (Filtered())
    GiveFilterToEngine(Filter());
  else
    FFilterUpdated = false;
}

void TVdbDataSet::SetFilterMethod(TVdbFilterMethod value) {
  if (value == FFilterMethod) return;
  FFilterMethod = value;
  if (Active()) FFilterUpdated = false;
}

// ---------------------------------------------------------------- key buffers

std::vector<std::uint8_t>& TVdbDataSet::KeyImage(TKeyIndex index) {
  return Buf(*FKeyBuffers[static_cast<int>(index)]).Data;
}

void TVdbDataSet::ClearKeyBuffer(TKeyIndex index) {
  tk::TRecordBuffer& key = *FKeyBuffers[static_cast<int>(index)];
  ClearBuffer(key);
}

void TVdbDataSet::FillKey(TKeyIndex index, const std::vector<int>& fieldNos, const TVdbKeyValues& values) {
  if (values.size() > fieldNos.size())
    tk::DatabaseError(u"Active index has only %d fields", {tk::IntToText(static_cast<std::int64_t>(fieldNos.size()))});
  tk::TRecordBuffer& key = *FKeyBuffers[static_cast<int>(index)];
  for (std::size_t i = 0; i < values.size(); ++i) {
    const TVdbFieldDef& def = FFieldDefsVdb[fieldNos[i] - 1];
    const std::unique_ptr<tk::TField> converter = tk::CreateField(def.DataType, def.Size);
    tk::TField* field = FindField(def.Name);
    // A text longer than its column searches by the part the column can hold.
    const bool text = def.DataTypeVdb == TVdbDataType::dtString || def.DataTypeVdb == TVdbDataType::dtWideString;
    const tk::TFieldValue value =
        text ? tk::TFieldValue(values[i]) : (field ? *field : *converter).Coerce(tk::TFieldValue(values[i]));
    if (def.DataTypeVdb == TVdbDataType::dtEnum || def.DataTypeVdb == TVdbDataType::dtLink) {
      tk::TField& target = field ? *field : *converter;
      SetFieldData(target, key, value);
    } else {
      WriteColumn(def.Layout, Image(key), CodePageOf(def), value);
    }
  }
}

}  // namespace vdbds
