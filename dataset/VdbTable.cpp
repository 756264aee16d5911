#include "VdbTable.h"

#include <algorithm>

#include "VdbText.h"

namespace vdbds {

namespace {

constexpr std::int32_t kNoIndex = VDB_ERR_NO_INDEX;
constexpr std::int16_t kAllItems = VDB_ALL_INDEX_ITEMS;

}  // namespace

// ---------------------------------------------------------------- TVdbTable

TVdbTable::TVdbTable() = default;

TVdbTable::~TVdbTable() { CloseForDestruction(); }

void TVdbTable::SetTableName(const std::u16string& value) {
  if (value == FTableName) return;
  if (Active()) tk::DatabaseError(u"Cannot perform this operation on an open dataset");
  FTableName = value;
}

void TVdbTable::SetReadOnly(bool value) {
  if (value == FReadOnly) return;
  if (Active()) tk::DatabaseError(u"Cannot perform this operation on an open dataset");
  FReadOnly = value;
}

void TVdbTable::InternalOpen() {
  TVdbDatabase& database = Database();
  database.RegisterClient(*this);
  if (FTableName.empty()) tk::DatabaseError(u"No table name defined for \"%s\".", {Name});
  const bool force = OpenMode == TVdbTableOpenMode::tomForce;
  std::int16_t rltn = database.OpenTableResult(
      FTableName, Password, database.TableRights(Exclusive, FReadOnly ? 0 : kAllAccessRights, FlushMode), force);
  if (rltn == VDB_ERR_CANNOT_OPEN_TABLE && !FReadOnly && !database.ReadOnly())
    rltn = database.OpenTableResult(FTableName, Password, database.TableRights(Exclusive, 0, FlushMode), force);
  const std::u16string opening = tk::FormatText(u"Opening table \"%s\"", {FTableName});
  if (rltn < 1) RaiseError(opening, rltn < 0 ? rltn : VDB_ERR_CANNOT_OPEN_TABLE);
  TVdbCalls& calls = Calls();
  const std::int16_t table = calls.TableCreate(rltn, FTableName);
  if (table <= 0)
    RaiseError(tk::FormatText(u"Opening VidoraDB table %s", {FTableName}), table < 0 ? table : VDB_ERR_CANNOT_OPEN_TABLE);
  BindCursor(table);
  if (!FIndexFieldNames.empty())
    SelectSortOrder(false);
  else if (!FIndexName.empty())
    SelectIndex(false);
  calls.TableFirst(Handle());
  SetOutOfTableState(TOutOfTableState::ootBOT);
}

void TVdbTable::InternalClose() {
  const std::int16_t released = ReleaseCursor();
  if (released < 0) RaiseError(tk::FormatText(u"Closing table %s", {FTableName}), released);
}

void TVdbTable::SetIndexName(const std::u16string& value) {
  if (value == FIndexName) return;
  if (!Active()) {
    FIndexName = value;
    FIndexFieldNames.clear();
    return;
  }
  CheckBrowseMode();
  const std::u16string old = FIndexName;
  const std::u16string oldFields = FIndexFieldNames;
  FIndexName = value;
  FIndexFieldNames.clear();
  try {
    SelectIndex(true);
  } catch (...) {
    // The engine kept the old order.
    FIndexName = old;
    FIndexFieldNames = oldFields;
    throw;
  }
}

void TVdbTable::SetIndexFieldNames(const std::u16string& value) {
  if (value == FIndexFieldNames) return;
  if (!Active()) {
    FIndexFieldNames = value;
    FIndexName.clear();
    return;
  }
  CheckBrowseMode();
  const std::u16string old = FIndexFieldNames;
  const std::u16string oldName = FIndexName;
  FIndexFieldNames = value;
  FIndexName.clear();
  try {
    SelectSortOrder(true);
  } catch (...) {
    FIndexFieldNames = old;
    FIndexName = oldName;
    throw;
  }
}

void TVdbTable::SelectSortOrder(bool keepRecord) {
  // The engine reads column lists separated by commas.
  std::u16string order = FIndexFieldNames;
  std::replace(order.begin(), order.end(), u';', u',');
  const std::int16_t result = order.empty() ? Calls().TableSetIndex(Handle(), u"", false)
                                            : Calls().TableSetSortOrder(Handle(), order);
  if (result < 0) RaiseError(u"Setting index field names", result);
  if (keepRecord) KeepRecordInNewOrder();
}

void TVdbTable::KeepRecordInNewOrder() {
  if (State() != tk::TDataSetState::dsBrowse) return;
  CursorPosChanged();
  UpdateCursorPos();
  Resync({false, true});
}

std::u16string TVdbTable::ActiveIndexName() {
  if (!FIndexName.empty() || FIndexFieldNames.empty()) return FIndexName;
  std::u16string access;
  Check(u"Setting index field names", Calls().TableGetAccess(Handle(), access));
  return access;
}

void TVdbTable::SelectIndex(bool keepRecord) {
  std::u16string name = FIndexName;
  for (std::u16string_view extension : {std::u16string_view(u".ind"), std::u16string_view(u".vdbi")})
    if (name.size() > extension.size() &&
        EqualsIgnoringCase(std::u16string_view(name).substr(name.size() - extension.size()), extension))
      name.resize(name.size() - extension.size());
  FIndexName = name;
  const std::int16_t result = Calls().TableSetIndex(Handle(), name, false);
  if (result == kNoIndex) tk::DatabaseError(u"The index %s does not exist", {name});
  if (result != 0) RaiseError(tk::FormatText(u"The index %s does not exist", {name}), result < 0 ? result : -100);
  // The same record stays current under the new order.
  if (keepRecord) KeepRecordInNewOrder();
}

std::vector<int> TVdbTable::IndexFieldNos() {
  const std::u16string index = ActiveIndexName();
  if (index.empty() || index == u"Nummer" || index == u"Markierung")
    tk::DatabaseError(u"This operation requires an active index.");
  TVdbCalls& calls = Calls();
  const std::int16_t rltn = calls.TableGetRltnHdl(Handle());
  std::u16string desc;
  std::int16_t result = calls.RltnGetIndexDesc(rltn, index, desc, true, false);
  if (result < 0) {
    std::u16string real;
    if (calls.RltnGetRealIndexName(rltn, index, real) >= 0) result = calls.RltnGetIndexDesc(rltn, real, desc, true, false);
  }
  if (result < 0) tk::DatabaseError(u"The index %s does not exist", {index});
  std::vector<int> fieldNos;
  if (!desc.empty() && desc.front() == u'(') tk::DatabaseError(u"This operation requires an active index.");
  for (std::u16string part : Split(desc, u',')) {
    if (!part.empty() && part.front() == u'-') part.erase(0, 1);
    if (part.size() > 3 && part.compare(0, 2, u"${") == 0 && part.back() == u'}') part = part.substr(2, part.size() - 3);
    if (!part.empty() && part.front() == u'$') part.erase(0, 1);
    const auto colon = part.find(u':');
    if (colon != std::u16string::npos) part.resize(colon);
    part = Trim(part);
    const TVdbFieldDef* def = FieldDefsVdb().Find(part);
    if (!def) tk::DatabaseError(u"Field %s not found", {part});
    fieldNos.push_back(def->FieldNo);
  }
  if (fieldNos.empty()) tk::DatabaseError(u"This operation requires an active index.");
  return fieldNos;
}

tk::TRecordBuffer* TVdbTable::KeyBuffer() { return KeyRecordBuffer(FCurrentKeyIndex); }

void TVdbTable::InternalPostKey(bool) {
  // Buffers edited in set-key state bound the range over all their index items.
  if (FCurrentKeyIndex == TKeyIndex::kiRangeStart) FRangeStartCount = 0;
  if (FCurrentKeyIndex == TKeyIndex::kiRangeEnd) FRangeEndCount = 0;
}

void TVdbTable::BeginKeyEdit(TKeyIndex index, bool clear) {
  CheckBrowseMode();
  FCurrentKeyIndex = index;
  if (clear) ClearKeyBuffer(index);
  BeginSetKey();
}

void TVdbTable::SetKey() { BeginKeyEdit(TKeyIndex::kiLookup, true); }
void TVdbTable::EditKey() { BeginKeyEdit(TKeyIndex::kiLookup, false); }
void TVdbTable::SetRangeStart() { BeginKeyEdit(TKeyIndex::kiRangeStart, true); }
void TVdbTable::SetRangeEnd() { BeginKeyEdit(TKeyIndex::kiRangeEnd, true); }
void TVdbTable::EditRangeStart() { BeginKeyEdit(TKeyIndex::kiRangeStart, false); }
void TVdbTable::EditRangeEnd() { BeginKeyEdit(TKeyIndex::kiRangeEnd, false); }

bool TVdbTable::LocateKey(bool exact, std::int16_t itemCount) {
  const std::int32_t before = Calls().TableGetRecNo(Handle());
  bool exactFlag = exact;
  const std::int32_t found =
      Calls().TableLocateRec2(Handle(), ActiveIndexName(), KeyImage(TKeyIndex::kiLookup).data(), itemCount, exactFlag);
  if (found < 0) RaiseError(exact ? u"Searching record by key" : u"Searching nearest record", found);
  if (found < 1) return false;
  // The search moved the engine cursor; the move to the found record belongs inside the scroll,
  // so the engine goes back first: a BeforeScroll that aborts leaves engine and dataset on the
  // record shown.
  SetEngineToRecord(before);
  MoveToCursorRecord([&] {
    SetEngineToRecord(found);
    SetOutOfTableState(TOutOfTableState::ootNone);
  });
  return true;
}

bool TVdbTable::GotoKey() {
  CheckBrowseMode();
  if (FIndexName.empty()) tk::DatabaseError(u"GotoKey needs an active index");
  return LocateKey(true, kAllItems);
}

void TVdbTable::GotoNearest() {
  CheckBrowseMode();
  if (FIndexName.empty() && FIndexFieldNames.empty()) tk::DatabaseError(u"This operation requires an active index.");
  // Every key smaller than the one searched: the last record is the nearest.
  if (!LocateKey(false, kAllItems)) Last();
}

bool TVdbTable::FindKey(const TVdbKeyValues& values) {
  CheckBrowseMode();
  const std::vector<int> fieldNos = IndexFieldNos();
  ClearKeyBuffer(TKeyIndex::kiLookup);
  FillKey(TKeyIndex::kiLookup, fieldNos, values);
  return LocateKey(true, static_cast<std::int16_t>(values.size()));
}

void TVdbTable::FindNearest(const TVdbKeyValues& values) {
  CheckBrowseMode();
  const std::vector<int> fieldNos = IndexFieldNos();
  ClearKeyBuffer(TKeyIndex::kiLookup);
  FillKey(TKeyIndex::kiLookup, fieldNos, values);
  GotoNearest();
}

void TVdbTable::ApplyRangeCounts(std::int16_t startCount, std::int16_t endCount) {
  const std::int16_t result =
      Calls().TableSetRange(Handle(), KeyImage(TKeyIndex::kiRangeStart).data(), KeyImage(TKeyIndex::kiRangeEnd).data(),
                            RecordSize(), startCount, endCount);
  if (result < 0) RaiseError(u"Setting range", result);
  First();
}

void TVdbTable::ApplyRange() {
  CheckBrowseMode();
  ApplyRangeCounts(static_cast<std::int16_t>(FRangeStartCount), static_cast<std::int16_t>(FRangeEndCount));
}

void TVdbTable::SetRange(const TVdbKeyValues& start, const TVdbKeyValues& end) {
  CheckBrowseMode();
  const std::vector<int> fieldNos = IndexFieldNos();
  ClearKeyBuffer(TKeyIndex::kiRangeStart);
  ClearKeyBuffer(TKeyIndex::kiRangeEnd);
  FillKey(TKeyIndex::kiRangeStart, fieldNos, start);
  FillKey(TKeyIndex::kiRangeEnd, fieldNos, end);
  FRangeStartCount = static_cast<int>(start.size());
  FRangeEndCount = static_cast<int>(end.size());
  ApplyRangeCounts(static_cast<std::int16_t>(FRangeStartCount), static_cast<std::int16_t>(FRangeEndCount));
}

void TVdbTable::CancelRange() {
  CheckBrowseMode();
  Check(u"Setting range", Calls().TableClearRange(Handle()));
  CursorPosChanged();
  UpdateCursorPos();
  Resync({false, true});
}

void TVdbTable::EmptyTable() {
  const bool wasOpen = Active();
  if (!wasOpen) Open();
  try {
    CheckBrowseMode();
    const std::int16_t result = Calls().TableEmpty(Handle());
    if (result < 0) RaiseError(tk::FormatText(u"Emptying table %s", {FTableName}), result);
    First();
  } catch (...) {
    if (!wasOpen) Close();
    throw;
  }
  if (!wasOpen) Close();
}

}  // namespace vdbds
