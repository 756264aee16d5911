// Exported functions of table cursors: creation, order, moves, locating, ranges, filters,
// records, writing, memos and blobs, marks and locks.
#include <algorithm>
#include <cstring>
#include <span>

#include "api/VdbApiHandles.h"
#include "base/VdbErrorCodes.h"
#include "tables/VdbBaseTable.h"

using namespace vdb;
using namespace vdb::api;

namespace {

TVdbRelation& RelationOf(TVdbCursor& c) { return c.Accessor().Relation(); }

TVdbBaseTable& StoredTable(TVdbCursor& c) {
  auto* table = dynamic_cast<TVdbBaseTable*>(&RelationOf(c));
  if (table == nullptr) {
    RaiseEngineError(errNotSupported, {u"this operation on relation \"" + RelationOf(c).GetName() + u"\""});
  }
  return *table;
}

// The column `fieldNo` (1-based) of the cursor's relation, null outside 1..count.
const TVdbColumnDef* ColumnOf(TVdbCursor& c, std::int32_t fieldNo) {
  const TVdbColumnDefs& cols = RelationOf(c).ColumnDefs();
  if (fieldNo < 1 || fieldNo > cols.GetCount()) return nullptr;
  return &cols.GetColumnDef(fieldNo - 1);
}

bool IsBlobColumn(const TVdbColumnDef& col) {
  const TVdbColumnType t = col.ColumnType();
  return t == vctMemo || t == vctWideMemo || t == vctBlob;
}

// A negative status of the cursor or accessor with its error recorded → `status`.
std::int32_t Or(std::int32_t r, std::int16_t status) { return r < 0 ? status : r; }

// Writing results of the accessor as statuses.
std::int16_t WriteStatus(std::int16_t r, std::int16_t otherwise) {
  if (r >= 0) return 0;
  switch (-r) {
    case errPermissionDenied:
    case errNoWritePermission:
      return stsTableReadOnly;
    case errRecordLocked:
      return stsTableNotAccessible;
    case errNotUnique:
      return stsNotUnique;
    default:
      return otherwise;
  }
}

std::u16string CurrentAccessName(TVdbCursor& c) {
  TVdbAccessor& a = c.Accessor();
  switch (a.AccessType()) {
    case tatBookmarks:
      return u"Markierung";
    case tatIndex:
      return RelationOf(c).GetIndexName(a.CurrentIndexNo());
    default:
      return u"Nummer";
  }
}

void FillFieldSpec(const TVdbColumnDef& col, std::int16_t fieldNo, TVdbFieldSpec& spec) {
  spec = TVdbFieldSpec{};
  spec.No = fieldNo;
  CopyToArray(col.Name(), spec.Name);
  spec.Options = static_cast<uint8_t>(col.Options() & 0xFF);
  CopyToArray(col.CalculationSource(), spec.RangeOrFormula);
  spec.FldType = col.ColumnType();
  spec.InternalPosition = static_cast<uint16_t>(col.Position());
  spec.InternalSize = col.Size();
  std::u16string select;
  if (auto* text = dynamic_cast<const TVdbStringType*>(col.DataType())) {
    if (!text->IsMemo()) spec.Param = text->MaxLength();
    select = text->CollationName();
  } else if (auto* binary = dynamic_cast<const TVdbBinaryType*>(col.DataType()); binary && !binary->IsBlob()) {
    spec.Param = binary->MaxLength();
  }
  if (auto* number = dynamic_cast<const TVdbNumberColumnDef*>(&col)) spec.Param = number->Scale();
  if (auto* time = dynamic_cast<const TVdbTimeColumnDef*>(&col)) spec.Param = time->Precision();
  if (auto* e = dynamic_cast<const TVdbEnumColumnDef*>(&col)) {
    std::vector<std::u16string> names;
    for (const TVdbEnumItem& item : e->Items()) names.push_back(item.Name);
    select = VdbJoinColumnList(names);
    select.erase(std::remove(select.begin(), select.end(), u' '), select.end());
  }
  if (auto* id = dynamic_cast<const TVdbRecordIdColumnDef*>(&col)) select = id->IndexSpec();
  if (auto* link = dynamic_cast<const TVdbAdlColumnDef*>(&col)) select = link->LinkedTable();
  CopyToArray(select, spec.SelectOrLink);
}

TVdbResult NotSupported(int16_t tableHdl, const char16_t* name) {
  return CallTable<TVdbResult>(
      tableHdl, [&](TApiTable&, TVdbCursor&) -> TVdbResult { RaiseNotSupported(name); }, kNotSupportedFailure);
}

// A condition text the engine cannot compile: the cursor records why (25 with the parser's
// message for a syntax error, the type or name error otherwise), and the call answers -44.
constexpr TVdbApiFailure kConditionFailure{stsInvalidSearchCondition, stsInternalError, nullptr};

}  // namespace

extern "C" {

// ---- life and notifications

VDBAPI TVdbResult VdbTableCreate(int16_t RltnHdl, const VdbChar* Name) {
  return CallRelation<TVdbResult>(RltnHdl, [&](TApiSession& s, TVdbRelation& r, TVdbRltnIdx idx) -> TVdbResult {
    const std::u16string tag = FromCaller(Name);
    const std::int16_t sessHdl = s.Session.Handle();
    return TApiRegistry::Instance().AddTable(sessHdl, [&](std::int16_t hdl) -> std::unique_ptr<TVdbCursor> {
      auto cursor = std::make_unique<TVdbCursor>(hdl, r, idx, tag, &VdbSqlCompiler());
      if (cursor->Open() < 0) return nullptr;
      return cursor;
    });
  });
}

VDBAPI TVdbResult VdbTableDelete(int16_t TableHdl) {
  return Shield<TVdbResult>(stsInvalidTableHandle, [&]() -> TVdbResult {
    TApiRegistry& registry = TApiRegistry::Instance();
    TApiTable* t = registry.FindTable(TableHdl);
    if (t == nullptr) return stsInvalidTableHandle;
    // A cursor another thread is using is not freed under it.
    TApiTableEntry entry(*t);
    if (!entry.Allowed()) return stsWrongContext;
    const std::int16_t sessHdl = t->SessHdl;
    const TVdbRltnIdx idx = t->Cursor->RltnIdx();
    TApiSession* s = registry.FindSession(sessHdl);
    std::unique_lock<std::recursive_mutex> turn;
    if (s != nullptr) turn = std::unique_lock(s->CallSync);
    entry.Dismiss();
    registry.RemoveTable(TableHdl);
    if (s != nullptr && s->Session.GetIsOpen() && s->Session.Catalog().IsTemporary(idx)) {
      return GuardApiCall(s->Session.LastError(), [&]() -> TVdbResult {
        CheckStatus(s->Session.Catalog().CloseUnneededTables(true, false));
        return 0;
      });
    }
    return 0;
  });
}

VDBAPI TVdbResult VdbTableSetChangeProc(int16_t TableHdl, TVdbTableChangeProc Proc) {
  return CallTable<TVdbResult>(TableHdl, [&](TApiTable& t, TVdbCursor& c) -> TVdbResult {
    t.ChangeProc = Proc;
    if (Proc == nullptr) {
      c.SetChangeProc({});
      return 0;
    }
    const std::int16_t sessHdl = t.SessHdl;
    // The procedure is foreign code called in the middle of a delete: nothing it does may
    // unwind into the engine.
    c.SetChangeProc([Proc, sessHdl](std::int16_t tableHdl, std::int32_t deleted, std::int32_t moved) {
      try {
        Proc(sessHdl, tableHdl, deleted, moved);
      } catch (...) {
      }
    });
    return 0;
  });
}

VDBAPI TVdbResult VdbTableEmpty(int16_t TableHdl) {
  return CallTable<TVdbResult>(TableHdl, [&](TApiTable&, TVdbCursor& c) -> TVdbResult {
    if (RelationOf(c).GetReadOnly()) {
      RaiseEngineError(errNoWritePermission, {RelationOf(c).GetName()});
    }
    CheckStatus(c.Empty());
    return 0;
  });
}

VDBAPI TVdbResult VdbTableSetNextRecordId(int16_t TableHdl, int16_t FieldNo, int32_t RecordId) {
  return CallTable<TVdbResult>(TableHdl, [&](TApiTable&, TVdbCursor& c) -> TVdbResult {
    TVdbBaseTable& table = StoredTable(c);
    if (!table.HasRecordId() || table.RecordIdFieldNo() != FieldNo) return stsNoRecordIdColumn;
    CheckStatus(table.SetNextRecordId(RecordId));
    return 0;
  });
}

VDBAPI TVdbResult VdbTableGetUsage(int16_t TableHdl, ::TVdbTableUsage* TableUsage) {
  return CallTable<TVdbResult>(
      TableHdl,
      [&](TApiTable&, TVdbCursor& c) -> TVdbResult {
        if (TableUsage == nullptr) return stsBufferTooSmall;
        vdb::TVdbTableUsage usage;
        StoredTable(c).Locks().GetUsage(usage);
        *TableUsage = ::TVdbTableUsage{};
        TableUsage->ItemCount = usage.ItemCount;
        TableUsage->UserCount = usage.UserCount;
        TableUsage->ReadCount = usage.ReadCount;
        TableUsage->UpgradeCount = usage.UpgradeCount;
        TableUsage->WriteCount = usage.WriteCount;
        TableUsage->WaitCount = usage.WaitCount;
        TableUsage->WaitWriteCount = usage.WaitWriteCount;
        TableUsage->UpdateCount = usage.UpdateCount;
        const std::size_t shown = std::min<std::size_t>(usage.UserInfo.size(), VDB_USAGE_ENTRIES);
        for (std::size_t i = 0; i < shown; ++i) {
          const vdb::TVdbTableUsageEntry& from = usage.UserInfo[i];
          ::TVdbTableUsageEntry& to = TableUsage->UserInfo[i];
          const std::size_t n = std::min<std::size_t>(from.StationName.size(), VDB_USAGE_STATION_CHARS - 1);
          std::memcpy(to.StationName, from.StationName.data(), n);
          to.StationName[n] = 0;
          to.StationId = from.StationId;
          to.Active = from.Active;
          to.Lock = from.Lock;
          to.Reserved = 0;
          to.EditRecNo = from.EditRecNo;
        }
        return 0;
      },
      kNotSupportedFailure);
}

VDBAPI TVdbResult VdbTableLock(int16_t TableHdl, int16_t LockType, int32_t TimeOut) {
  constexpr TVdbApiFailure kLockFailure{stsTableLocked, stsTableLocked, nullptr};
  return CallTable<TVdbResult>(
      TableHdl,
      [&](TApiTable&, TVdbCursor& c) -> TVdbResult {
        const bool wait = (TimeOut & 0xFFFF) != 0;
        TVdbRelation& r = RelationOf(c);
        const std::int16_t got = LockType == VDB_LOCK_READ ? r.BeginRead(wait) : r.BeginWrite(wait);
        return got < 0 ? stsTableLocked : 0;
      },
      kLockFailure);
}

VDBAPI TVdbResult VdbTableUnlock(int16_t TableHdl, int16_t LockType) {
  return CallTable<TVdbResult>(TableHdl, [&](TApiTable&, TVdbCursor& c) -> TVdbResult {
    TVdbRelation& r = RelationOf(c);
    // Only a lock this session holds is given back, so an unmatched call changes nothing.
    if (auto* table = dynamic_cast<TVdbBaseTable*>(&r)) {
      if (LockType == VDB_LOCK_READ) {
        if (table->Locks().CountReadLocks() > 0) CheckStatus(r.EndRead());
      } else if (table->Locks().CountWriteLocks() > 0) {
        CheckStatus(r.EndWrite());
      }
    }
    return 0;
  });
}

// ---- order

VDBAPI TVdbResult VdbTableSetIndex(int16_t TableHdl, const VdbChar* IndexName, bool Reverse) {
  return CallTable<TVdbResult>(TableHdl, [&](TApiTable&, TVdbCursor& c) -> TVdbResult {
    const std::int16_t r = c.SetIndex(ViewFromCaller(IndexName), Reverse);
    return r == stsNoSuchIndex || r >= 0 ? r : stsEngineError;
  });
}

VDBAPI TVdbResult VdbTableSetSortOrder(int16_t TableHdl, const VdbChar* SortOrder) {
  return CallTable<TVdbResult>(TableHdl, [&](TApiTable&, TVdbCursor& c) -> TVdbResult {
    const std::int16_t r = c.SetSortOrder(ViewFromCaller(SortOrder));
    return r == stsInvalidIndexDefinition || r == stsNoSuchIndex || r >= 0 ? r : stsEngineError;
  });
}

VDBAPI TVdbResult VdbTableGetAccess(int16_t TableHdl, VdbChar* AccessName, int32_t TextLen) {
  return CallTable<TVdbResult>(TableHdl, [&](TApiTable&, TVdbCursor& c) -> TVdbResult {
    CopyToCallerBuffer(CurrentAccessName(c), AccessName, TextLen);
    return 0;
  });
}

// ---- moves

VDBAPI TVdbResult VdbTableFirst(int16_t TableHdl) {
  return CallTable<TVdbResult>(TableHdl, [&](TApiTable&, TVdbCursor& c) -> TVdbResult { return c.First(); });
}

VDBAPI TVdbResult VdbTableLast(int16_t TableHdl) {
  return CallTable<TVdbResult>(TableHdl, [&](TApiTable&, TVdbCursor& c) -> TVdbResult { return c.Last(); });
}

VDBAPI TVdbResult VdbTableMoveBy(int16_t TableHdl, int32_t Delta) {
  return CallTable<TVdbResult>(TableHdl, [&](TApiTable&, TVdbCursor& c) -> TVdbResult { return c.MoveBy(Delta); });
}

VDBAPI int32_t VdbTableSetRecNo(int16_t TableHdl, int32_t RecNo) {
  return CallTable<int32_t>(TableHdl, [&](TApiTable&, TVdbCursor& c) -> int32_t {
    // 0 is the pending new record while appending; otherwise it goes before the first record.
    if (RecNo == 0 && c.Accessor().EditState() != esAppend) return c.SetRecordNo(-1);
    return c.SetRecordNo(RecNo);
  });
}

VDBAPI int32_t VdbTableGetRecNo(int16_t TableHdl) {
  return CallTable<int32_t>(TableHdl, [&](TApiTable&, TVdbCursor& c) -> int32_t {
    const std::int32_t r = c.GetRecordNo();
    return r < 1 && c.Accessor().EditState() != esAppend ? -1 : r;
  });
}

VDBAPI int32_t VdbTableSetSequenceNo(int16_t TableHdl, int32_t SequenceNo) {
  return CallTable<int32_t>(TableHdl,
                            [&](TApiTable&, TVdbCursor& c) -> int32_t { return c.SetSequenceNo(SequenceNo); });
}

VDBAPI int32_t VdbTableGetSequenceNo(int16_t TableHdl) {
  return CallTable<int32_t>(TableHdl, [&](TApiTable&, TVdbCursor& c) -> int32_t {
    const std::int32_t seq = c.GetSequenceNo();
    return seq < 0 ? -1 : seq;
  });
}

VDBAPI TVdbResult VdbTableIsSequenced(int16_t TableHdl) {
  return CallTable<TVdbResult>(TableHdl,
                               [&](TApiTable&, TVdbCursor& c) -> TVdbResult { return c.IsSequenced() ? 1 : 0; });
}

VDBAPI TVdbResult VdbTableRefresh(int16_t TableHdl, bool CheckNet) {
  return CallTable<TVdbResult>(TableHdl, [&](TApiTable&, TVdbCursor& c) -> TVdbResult {
    return static_cast<TVdbResult>(Or(c.Refresh(CheckNet), stsEngineError));
  });
}

// ---- locating

VDBAPI int32_t VdbTableLocateRec2(int16_t TableHdl, const VdbChar* IndexName, const void* RecordBuffer,
                                  int16_t IndexItemCount, bool* ExactMatch) {
  return CallTable<int32_t>(TableHdl, [&](TApiTable&, TVdbCursor& c) -> int32_t {
    // The caller's buffer holds a whole record image; a null one holds none.
    const std::size_t size = RecordBuffer == nullptr ? 0 : static_cast<std::size_t>(RelationOf(c).GetRecordSize());
    bool exact = ExactMatch != nullptr && *ExactMatch;
    const std::int32_t found =
        c.LocateRecord(ViewFromCaller(IndexName), std::span(static_cast<const std::uint8_t*>(RecordBuffer), size),
                       IndexItemCount, exact);
    if (found < 0) return found;
    if (ExactMatch != nullptr) *ExactMatch = exact;
    return found;
  });
}

VDBAPI int32_t VdbTableLocateRec3(int16_t TableHdl, const VdbChar* SearchCondition, int32_t Mode) {
  static_cast<void>(Mode);
  return CallTable<int32_t>(
      TableHdl,
      [&](TApiTable&, TVdbCursor&) -> int32_t {
        RaiseEngineError(errNotSupported,
                         {u"locating a record by the search condition \"" + FromCaller(SearchCondition) + u"\""});
      },
      kConditionFailure);
}

// ---- ranges and filters

VDBAPI TVdbResult VdbTableSetRange(int16_t TableHdl, const void* RangeLower, const void* RangeUpper, int32_t BufferSize,
                                   int16_t FieldCountStart, int16_t FieldCountEnd) {
  return CallTable<TVdbResult>(TableHdl, [&](TApiTable&, TVdbCursor& c) -> TVdbResult {
    const std::int32_t size = RelationOf(c).GetRecordSize();
    if (RangeLower == nullptr || RangeUpper == nullptr || BufferSize < size) return stsBufferTooSmall;
    const auto n = static_cast<std::size_t>(size);
    const std::int16_t r =
        c.SetUserRange(std::span(static_cast<const std::uint8_t*>(RangeLower), n),
                       std::span(static_cast<const std::uint8_t*>(RangeUpper), n), FieldCountStart, FieldCountEnd);
    return r == stsInvalidAccess || r >= 0 ? r : stsEngineError;
  });
}

VDBAPI TVdbResult VdbTableClearRange(int16_t TableHdl) {
  return CallTable<TVdbResult>(TableHdl, [&](TApiTable&, TVdbCursor& c) -> TVdbResult {
    return static_cast<TVdbResult>(Or(c.ClearUserRange(), stsEngineError));
  });
}

VDBAPI TVdbResult VdbTableSetSQLFilter(int16_t TableHdl, const VdbChar* SQLFilter, uint16_t Mode, bool Background) {
  constexpr int kSqlSyntax = 1;
  return CallTable<TVdbResult>(
      TableHdl,
      [&](TApiTable&, TVdbCursor& c) -> TVdbResult {
        return c.SetUserSqlFilter(ViewFromCaller(SQLFilter), kSqlSyntax, Mode, Background) < 0
                   ? stsInvalidSearchCondition
                   : 0;
      },
      kConditionFailure);
}

VDBAPI TVdbResult VdbTableActivateFilter(int16_t TableHdl, bool Active) {
  return CallTable<TVdbResult>(TableHdl, [&](TApiTable&, TVdbCursor& c) -> TVdbResult {
    return static_cast<TVdbResult>(Or(Active ? c.ActivateFilter() : c.DeactivateFilter(), stsEngineError));
  });
}

VDBAPI int32_t VdbTableGetRecordCount(int16_t TableHdl) {
  return CallTable<int32_t>(TableHdl, [&](TApiTable&, TVdbCursor& c) -> int32_t { return c.GetRecordCount(); });
}

VDBAPI TVdbResult VdbTableSetWordFilter(int16_t TableHdl, const VdbChar*, uint16_t, bool) {
  return NotSupported(TableHdl, u"full-text word filter (VdbTableSetWordFilter)");
}

VDBAPI TVdbResult VdbTableMarkFullText(int16_t TableHdl, const VdbChar*, uint16_t) {
  return NotSupported(TableHdl, u"full-text search (VdbTableMarkFullText)");
}

// ---- columns and records

VDBAPI TVdbResult VdbTableGetRecord(int16_t TableHdl, void* Buffer, int32_t RecBufSize) {
  constexpr TVdbApiFailure kReadFailure{stsEngineError, stsEngineError, nullptr};
  return CallTable<TVdbResult>(
      TableHdl,
      [&](TApiTable&, TVdbCursor& c) -> TVdbResult {
        const std::int32_t size = RelationOf(c).GetRecordSize();
        if (Buffer == nullptr || RecBufSize < size) return stsBufferTooSmall;
        const std::int16_t r =
            c.GetRecord(std::span(static_cast<std::uint8_t*>(Buffer), static_cast<std::size_t>(size)));
        return r < 0 ? stsEngineError : 0;
      },
      kReadFailure);
}

VDBAPI TVdbResult VdbTableGetRecordSize(int16_t TableHdl) {
  return CallTable<TVdbResult>(TableHdl, [&](TApiTable&, TVdbCursor& c) -> TVdbResult {
    return static_cast<TVdbResult>(RelationOf(c).GetRecordSize());
  });
}

VDBAPI TVdbResult VdbTableGetNumFields(int16_t TableHdl) {
  return CallTable<TVdbResult>(TableHdl, [&](TApiTable&, TVdbCursor& c) -> TVdbResult {
    return static_cast<TVdbResult>(RelationOf(c).ColumnDefs().GetCount());
  });
}

VDBAPI TVdbResult VdbTableGetFieldSpec(int16_t TableHdl, int16_t FieldNo, TVdbFieldSpec* FieldSpec) {
  return CallTable<TVdbResult>(TableHdl, [&](TApiTable&, TVdbCursor& c) -> TVdbResult {
    const TVdbColumnDef* col = ColumnOf(c, FieldNo);
    if (col == nullptr) return stsUnknownColumn;
    if (FieldSpec == nullptr) return stsBufferTooSmall;
    FillFieldSpec(*col, FieldNo, *FieldSpec);
    return 0;
  });
}

VDBAPI TVdbResult VdbTableGetFieldNo(int16_t TableHdl, const VdbChar* Name) {
  return CallTable<TVdbResult>(TableHdl, [&](TApiTable&, TVdbCursor& c) -> TVdbResult {
    const std::u16string_view name = ViewFromCaller(Name);
    if (name.find(u'.') != std::u16string_view::npos) return 0;
    const TVdbColumnDefs& cols = RelationOf(c).ColumnDefs();
    for (int i = 0; i < cols.GetCount(); ++i) {
      if (cols.GetColumnDef(i).Name() == name) return static_cast<TVdbResult>(i + 1);
    }
    return stsUnknownColumn;
  });
}

VDBAPI TVdbResult VdbTableGetDataType(int16_t TableHdl, int16_t FieldNo) {
  return CallTable<TVdbResult>(TableHdl, [&](TApiTable&, TVdbCursor& c) -> TVdbResult {
    const TVdbColumnDef* col = ColumnOf(c, FieldNo);
    return col == nullptr ? stsUnknownColumn : static_cast<TVdbResult>(col->ColumnType());
  });
}

VDBAPI TVdbResult VdbTableGetFieldCodePage(int16_t TableHdl, int16_t FieldNo) {
  return CallTable<TVdbResult>(TableHdl, [&](TApiTable&, TVdbCursor& c) -> TVdbResult {
    const TVdbColumnDef* col = ColumnOf(c, FieldNo);
    return col == nullptr ? stsUnknownColumn : static_cast<TVdbResult>(c.CodePageOf(*col));
  });
}

VDBAPI TVdbResult VdbTableGetRltnVersion(int16_t TableHdl) {
  return CallTable<TVdbResult>(TableHdl, [&](TApiTable&, TVdbCursor& c) -> TVdbResult {
    return static_cast<TVdbResult>(RelationOf(c).GetLevel());
  });
}

VDBAPI TVdbResult VdbTableGetRltnHdl(int16_t TableHdl) {
  return CallTable<TVdbResult>(TableHdl, [&](TApiTable& t, TVdbCursor& c) -> TVdbResult {
    return static_cast<TVdbResult>((t.SessHdl - 1) * 256 + c.RltnIdx());
  });
}

VDBAPI int32_t VdbTableGetAutoNo(int16_t TableHdl) {
  return CallTable<int32_t>(TableHdl, [&](TApiTable&, TVdbCursor& c) -> int32_t {
    TVdbBaseTable& table = StoredTable(c);
    if (!table.HasRecordId()) return stsNoRecordIdColumn;
    std::int32_t id = 0;
    CheckStatus(table.GetRecordId(c.Accessor().RecordPtrExc(), id));
    return id;
  });
}

VDBAPI TVdbResult VdbTableSetAutoNo(int16_t TableHdl, int32_t AutoNo) {
  return CallTable<TVdbResult>(TableHdl, [&](TApiTable&, TVdbCursor& c) -> TVdbResult {
    TVdbBaseTable& table = StoredTable(c);
    if (!table.HasRecordId()) return stsNoRecordIdColumn;
    if (c.Accessor().EditState() == esBrowse) return stsNotInEditMode;
    table.SetRecordId(c.Accessor().RecordPtrExc(), AutoNo);
    return 0;
  });
}

VDBAPI TVdbResult VdbTableGetEnumValue(int16_t TableHdl, int16_t FieldNo, const VdbChar* Name) {
  return CallTable<TVdbResult>(TableHdl, [&](TApiTable&, TVdbCursor& c) -> TVdbResult {
    const TVdbColumnDef* col = ColumnOf(c, FieldNo);
    if (col == nullptr) return stsUnknownColumn;
    auto* e = dynamic_cast<const TVdbEnumColumnDef*>(col);
    if (e == nullptr) return stsWrongColumnType;
    const std::u16string_view name = ViewFromCaller(Name);
    const auto& items = e->Items();
    for (std::size_t i = 0; i < items.size(); ++i) {
      if (VdbSameName(items[i].Name, name)) return static_cast<TVdbResult>(i + 1);
    }
    return 0;
  });
}

VDBAPI TVdbResult VdbTableGetLinkInfo1(int16_t TableHdl, int16_t, int32_t, VdbChar*, int32_t) {
  return NotSupported(TableHdl, u"link columns (VdbTableGetLinkInfo1)");
}

VDBAPI int32_t VdbTableFindLinkedRecordId(int16_t TableHdl, int16_t, const VdbChar*, int32_t*) {
  return NotSupported(TableHdl, u"link columns (VdbTableFindLinkedRecordId)");
}

VDBAPI TVdbResult VdbTableCompareBookmarks(int16_t TableHdl, const VdbChar* IndexName, int32_t Bookmark1,
                                           int32_t Bookmark2) {
  return CallTable<TVdbResult>(TableHdl, [&](TApiTable&, TVdbCursor& c) -> TVdbResult {
    TVdbRelation& r = RelationOf(c);
    const std::int16_t indexNo = r.GetIndexNo(ViewFromCaller(IndexName));
    if (indexNo < 0 || !r.CheckIndexOpen(indexNo, false)) return stsNoSuchIndex;
    std::vector<std::uint8_t> record(static_cast<std::size_t>(r.GetRecordSize()));
    std::vector<std::uint8_t> a, b;
    CheckStatus(r.ReadRecord(Bookmark1, record));
    r.CalcIndexInfo(record, indexNo, 0, a);
    CheckStatus(r.ReadRecord(Bookmark2, record));
    r.CalcIndexInfo(record, indexNo, 0, b);
    const int cmp = r.GetIndexKeys(indexNo).Order().Compare(a, b);
    return static_cast<TVdbResult>(cmp < 0 ? -1 : cmp > 0 ? 1 : 0);
  });
}

// ---- writing

VDBAPI TVdbResult VdbTableAppend(int16_t TableHdl) {
  return CallTable<TVdbResult>(TableHdl, [&](TApiTable&, TVdbCursor& c) -> TVdbResult {
    return WriteStatus(c.Accessor().Append(), stsCannotWriteRecord);
  });
}

VDBAPI TVdbResult VdbTableAppendDuplicate(int16_t TableHdl) {
  return CallTable<TVdbResult>(TableHdl, [&](TApiTable&, TVdbCursor& c) -> TVdbResult {
    TVdbAccessor& a = c.Accessor();
    if (a.RecordNo() < 1) return stsNoRecord;
    std::vector<std::uint8_t> copy(a.RecordPtrExc().begin(), a.RecordPtrExc().end());
    // The copy must not share the stored memo and blob chains of the original: their values
    // travel as pending values of the new record.
    std::vector<TVdbBlobData> values;
    const TVdbColumnDefs& cols = RelationOf(c).ColumnDefs();
    for (int i = 0; i < cols.GetCount(); ++i) {
      const TVdbColumnDef& col = cols.GetColumnDef(i);
      if (!IsBlobColumn(col)) continue;
      std::uint16_t type = 0;
      const std::int32_t length = CheckStatus(a.InitGetBlob(i + 1, -1, type));
      TVdbBlobData value;
      value.FieldNo = i + 1;
      const bool blob = col.ColumnType() == vctBlob;
      value.Data.resize(static_cast<std::size_t>(length) + (blob && length > 0 ? 2 : 0));
      std::span<std::uint8_t> data(value.Data);
      if (blob && length > 0) {
        data[0] = static_cast<std::uint8_t>(type & 0xFF);
        data[1] = static_cast<std::uint8_t>(type >> 8);
        data = data.subspan(2);
      }
      const std::int32_t got = a.GetBlobChunk(0, data);
      a.DoneGetBlob();
      CheckStatus(got);
      values.push_back(std::move(value));
      TVdbDataValue v;
      col.DataType()->SetReference(v, copy, static_cast<std::size_t>(col.Position()));
      col.DataType()->SetInteger(v, 0);
    }
    TVdbBaseTable* table = dynamic_cast<TVdbBaseTable*>(&RelationOf(c));
    if (table != nullptr && table->HasRecordId()) table->SetRecordId(copy, 0);
    const std::int16_t appended = WriteStatus(a.Append(), stsCannotWriteRecord);
    if (appended < 0) return appended;
    CheckStatus(a.SetRecord(copy));
    for (const TVdbBlobData& value : values) {
      if (value.Data.empty()) continue;
      CheckStatus(a.InitSetBlob(value.FieldNo, static_cast<std::int32_t>(value.Data.size())));
      const std::int16_t set = a.SetBlobChunk(0, value.Data);
      a.DoneSetBlob();
      CheckStatus(set);
    }
    return 0;
  });
}

VDBAPI TVdbResult VdbTableEdit(int16_t TableHdl) {
  return CallTable<TVdbResult>(TableHdl, [&](TApiTable& t, TVdbCursor& c) -> TVdbResult {
    TApiRegistry& registry = TApiRegistry::Instance();
    TApiSession* s = registry.FindSession(t.SessHdl);
    const std::int32_t timeout = s != nullptr ? s->Session.Settings().LockingTimeout : 0;
    const TvuServices services = registry.Services();
    const TVdbEditWait wait{services.Clock, services.Sleeper, timeout};
    const std::int16_t r = c.Accessor().Edit(timeout > 0 ? &wait : nullptr);
    if (r == -errRecordNotFound) return stsNoRecord;
    return WriteStatus(r, stsCannotWriteRecord);
  });
}

VDBAPI TVdbResult VdbTableSetRecord(int16_t TableHdl, const void* Buffer, int32_t RecBufSize) {
  return CallTable<TVdbResult>(TableHdl, [&](TApiTable&, TVdbCursor& c) -> TVdbResult {
    const std::int32_t size = RelationOf(c).GetRecordSize();
    if (Buffer == nullptr || RecBufSize < size) return stsBufferTooSmall;
    if (c.Accessor().EditState() == esBrowse) return stsNotInEditMode;
    const std::int16_t r =
        c.SetRecord(std::span(static_cast<const std::uint8_t*>(Buffer), static_cast<std::size_t>(size)));
    return r < 0 ? stsEngineError : 0;
  });
}

namespace {
TVdbResult Confirm(int16_t TableHdl, TVdbEditState state) {
  return CallTable<TVdbResult>(TableHdl, [&](TApiTable&, TVdbCursor& c) -> TVdbResult {
    if (c.Accessor().EditState() != state) return stsNotInEditMode;
    return WriteStatus(c.Post(), stsCannotWriteRecord);
  });
}
TVdbResult Cancel(int16_t TableHdl, TVdbEditState state) {
  return CallTable<TVdbResult>(TableHdl, [&](TApiTable&, TVdbCursor& c) -> TVdbResult {
    if (c.Accessor().EditState() != state) return stsNotInEditMode;
    return static_cast<TVdbResult>(Or(c.Accessor().Cancel(), stsEngineError));
  });
}
}  // namespace

VDBAPI TVdbResult VdbTableAppendConfirm(int16_t TableHdl) { return Confirm(TableHdl, esAppend); }
VDBAPI TVdbResult VdbTableEditConfirm(int16_t TableHdl) { return Confirm(TableHdl, esEdit); }
VDBAPI TVdbResult VdbTableAppendCancel(int16_t TableHdl) { return Cancel(TableHdl, esAppend); }
VDBAPI TVdbResult VdbTableEditCancel(int16_t TableHdl) { return Cancel(TableHdl, esEdit); }

VDBAPI TVdbResult VdbTableDeleteRecord(int16_t TableHdl) {
  return CallTable<TVdbResult>(TableHdl, [&](TApiTable&, TVdbCursor& c) -> TVdbResult {
    const std::int16_t r = c.Delete();
    if (r == -errPermissionDenied || r == -errNoWritePermission) return stsTableReadOnly;
    return r < 0 ? stsCannotDeleteRecord : 0;
  });
}

VDBAPI TVdbResult VdbTableCanModify(int16_t TableHdl) {
  return CallTable<TVdbResult>(
      TableHdl, [&](TApiTable&, TVdbCursor& c) -> TVdbResult { return RelationOf(c).GetReadOnly() ? 0 : 1; });
}

// ---- memos and blobs

VDBAPI int32_t VdbTableInitGetBlob(int16_t TableHdl, int16_t FieldNo, int32_t MaxSize, int16_t* BlobType) {
  return CallTable<int32_t>(TableHdl, [&](TApiTable& t, TVdbCursor& c) -> int32_t {
    if (t.BlobTransferField != 0) return stsBlobTransferActive;
    const TVdbColumnDef* col = ColumnOf(c, FieldNo);
    if (col == nullptr) return stsUnknownColumn;
    if (!IsBlobColumn(*col)) return stsWrongColumnType;
    std::uint16_t type = 0;
    const std::int32_t length = c.Accessor().InitGetBlob(FieldNo, MaxSize, type);
    if (length < 0) return stsEngineError;
    t.BlobTransferField = FieldNo;
    if (BlobType != nullptr) *BlobType = static_cast<int16_t>(type);
    return length;
  });
}

VDBAPI int32_t VdbTablePerformGetBlob(int16_t TableHdl, void* Buffer, int32_t Size) {
  return CallTable<int32_t>(TableHdl, [&](TApiTable& t, TVdbCursor& c) -> int32_t {
    if (t.BlobTransferField == 0) return stsNoBlobTransfer;
    if (Size > 0 && Buffer == nullptr) return stsBufferTooSmall;
    // The transfer ends here whatever happens, so a failed read does not block the next one.
    t.BlobTransferField = 0;
    TVdbAccessor& a = c.Accessor();
    const std::int32_t copied =
        Size > 0 ? a.GetBlobChunk(0, std::span(static_cast<std::uint8_t*>(Buffer), static_cast<std::size_t>(Size))) : 0;
    a.DoneGetBlob();
    return copied < 0 ? stsEngineError : copied;
  });
}

VDBAPI TVdbResult VdbTableSetBlob(int16_t TableHdl, int16_t FieldNo, const void* Blob, int32_t Size) {
  return CallTable<TVdbResult>(TableHdl, [&](TApiTable&, TVdbCursor& c) -> TVdbResult {
    const TVdbColumnDef* col = ColumnOf(c, FieldNo);
    if (col == nullptr) return stsUnknownColumn;
    if (!IsBlobColumn(*col)) return stsWrongColumnType;
    if (Size < 0 || (Size > 0 && Blob == nullptr)) return stsBufferTooSmall;
    TVdbAccessor& a = c.Accessor();
    if (a.EditState() == esBrowse) return stsNotInEditMode;
    CheckStatus(a.InitSetBlob(FieldNo, Size));
    const std::int16_t set =
        Size > 0 ? a.SetBlobChunk(0, std::span(static_cast<const std::uint8_t*>(Blob), static_cast<std::size_t>(Size)))
                 : std::int16_t{0};
    a.DoneSetBlob();
    CheckStatus(set);
    return 0;
  });
}

// ---- marks

VDBAPI TVdbResult VdbTableAddMark(int16_t TableHdl, int32_t RecNo) {
  return CallTable<TVdbResult>(
      TableHdl, [&](TApiTable&, TVdbCursor& c) -> TVdbResult { return c.AddMark(RecNo) < 0 ? stsNoRecord : 0; });
}

VDBAPI TVdbResult VdbTableRemoveMark(int16_t TableHdl, int32_t RecNo) {
  return CallTable<TVdbResult>(TableHdl, [&](TApiTable&, TVdbCursor& c) -> TVdbResult {
    c.RemoveMark(RecNo);
    return 0;
  });
}

VDBAPI TVdbResult VdbTableIsMarked(int16_t TableHdl, int32_t RecNo) {
  return CallTable<TVdbResult>(TableHdl,
                               [&](TApiTable&, TVdbCursor& c) -> TVdbResult { return c.IsMarked(RecNo) ? 1 : 0; });
}

VDBAPI TVdbResult VdbTableUnmark(int16_t TableHdl) {
  return CallTable<TVdbResult>(TableHdl, [&](TApiTable&, TVdbCursor& c) -> TVdbResult {
    c.ClearMarks();
    return 0;
  });
}

VDBAPI TVdbResult VdbTableGotoMark(int16_t TableHdl, int32_t Delta, bool Restart) {
  return CallTable<TVdbResult>(TableHdl,
                               [&](TApiTable&, TVdbCursor& c) -> TVdbResult { return c.GotoMark(Delta, Restart); });
}

VDBAPI int32_t VdbTableDeleteMarkedRecs(int16_t TableHdl, TVdbProgressProc Prog, bool DoTrans) {
  return CallTable<int32_t>(TableHdl, [&](TApiTable& t, TVdbCursor& c) -> int32_t {
    TApiSession* s = TApiRegistry::Instance().FindSession(t.SessHdl);
    if (s == nullptr) return stsInvalidTableHandle;
    TVdbCatalog& catalog = s->Session.Catalog();
    const bool ownTransaction = DoTrans && !catalog.InTransaction();
    if (ownTransaction && catalog.BeginTransaction() < 0) return stsTransactionFailed;
    const std::int32_t total = c.CountMarks();
    std::int32_t deleted = 0;
    std::int32_t status = 0;
    // Every delete moves the last record into the gap; the cursor renumbers its marks, so the
    // list is read afresh after each one.
    while (c.CountMarks() > 0) {
      const std::int32_t first = c.Marks().FindFirst();
      if (first < 0) break;
      const std::int32_t recNo = c.Marks().At(first);
      if (Prog != nullptr) {
        int32_t answer = 0;
        try {
          answer = Prog(deleted, total);
        } catch (...) {
          answer = 1;
        }
        if (answer == 1) {
          s->Session.LastError().SetLastError(errCanceled, TVdbFmtArgs{});
          status = stsEngineError;
          break;
        }
      }
      if (c.SetRecordNo(recNo) != recNo) {
        c.RemoveMark(recNo);
        continue;
      }
      if (c.Delete() < 0) {
        status = stsCannotDeleteRecord;
        break;
      }
      // The cursor has dropped the deleted record's mark and renumbered the moved one's.
      ++deleted;
    }
    if (ownTransaction && catalog.EndTransaction(status == 0) < 0 && status == 0) status = stsTransactionFailed;
    return status < 0 ? status : deleted;
  });
}

// ---- batch operations, links, export: not served

VDBAPI int32_t VdbTableReplace(int16_t TableHdl, const VdbChar* Selection, const VdbChar*, TVdbProgressProc, bool) {
  return CallTable<int32_t>(
      TableHdl,
      [&](TApiTable&, TVdbCursor&) -> int32_t {
        RaiseEngineError(errNotSupported, {u"replacing values in the records of the search condition \"" +
                                           FromCaller(Selection) + u"\""});
      },
      kConditionFailure);
}

VDBAPI TVdbResult VdbTableCheckReplacement(int16_t TableHdl, const VdbChar* Replacement) {
  return CallTable<TVdbResult>(
      TableHdl,
      [&](TApiTable&, TVdbCursor&) -> TVdbResult {
        RaiseEngineError(errNotSupported, {u"checking the replacement \"" + FromCaller(Replacement) + u"\""});
      },
      kConditionFailure);
}

VDBAPI TVdbResult VdbTableCreateRelTable(int16_t TableHdl, int16_t) {
  return NotSupported(TableHdl, u"relation columns (VdbTableCreateRelTable)");
}

VDBAPI TVdbResult VdbTableChangeRelEntry(int16_t TableHdl, int16_t, int32_t, bool) {
  return NotSupported(TableHdl, u"relation columns (VdbTableChangeRelEntry)");
}

VDBAPI TVdbResult VdbTableAppendLinked(int16_t TableHdl) {
  return NotSupported(TableHdl, u"master/detail links (VdbTableAppendLinked)");
}

VDBAPI TVdbResult VdbTableLink(int16_t TableHdl, int16_t, const VdbChar*, const VdbChar*) {
  return NotSupported(TableHdl, u"master/detail links (VdbTableLink)");
}

VDBAPI int32_t VdbTableExportToVdb(int16_t TableHdl, const VdbChar*, const VdbChar*, const VdbChar*, TVdbProgressProc) {
  return NotSupported(TableHdl, u"export (VdbTableExportToVdb)");
}

}  // extern "C"
