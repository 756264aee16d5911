#include "session/VdbCursor.h"

#include <algorithm>
#include <vector>

#include "base/VdbErrorCodes.h"
#include "tables/VdbBaseTable.h"

namespace vdb {

namespace {

// The cursor keeps ownership of its conditions; the accessor gets a borrowed view, because a
// view rebuild resets the accessor (which frees its filter) while the condition stays in force.
class TBorrowedFilter final : public IVdbAccessorFilter {
 public:
  explicit TBorrowedFilter(IVdbAccessorFilter& condition) : FCondition(condition) {}
  bool Accepts(TVdbAccessor& accessor) override { return FCondition.Accepts(accessor); }

 private:
  IVdbAccessorFilter& FCondition;
};

void Check(std::int32_t status) {
  if (status < 0) throw EVdbEngine(VDB_INTERNAL_UNWIND);
}

bool SameTextIgnoringCase(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char16_t x, char16_t y) {
           auto low = [](char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; };
           return low(x) == low(y);
         });
}

constexpr std::int16_t kNoRecord = -errRecordNotFound;

// The 4-byte reference word of a memo or blob field, read as signed: the pending mark -1 is
// not a block number, so the value types (which hold block numbers) do not take it.
std::int32_t ReferenceOf(const TVdbDataValue& v) {
  const auto f = v.Field();
  if (f.size() < 4) return 0;
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(f[0]) | (static_cast<std::uint32_t>(f[1]) << 8) |
                                   (static_cast<std::uint32_t>(f[2]) << 16) | (static_cast<std::uint32_t>(f[3]) << 24));
}

void SetReferenceOf(TVdbDataValue& v, std::int32_t ref) {
  const auto f = v.Field();
  if (f.size() < 4) return;
  const auto u = static_cast<std::uint32_t>(ref);
  for (int i = 0; i < 4; ++i) f[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(u >> (8 * i));
}

}  // namespace

TVdbCursor::TVdbCursor(std::int16_t tableHdl, TVdbRelation& relation, TVdbRltnIdx rltnIdx, std::u16string name,
                       const IVdbFilterCompiler* filterCompiler)
    : FTableHdl(tableHdl),
      FRelation(relation),
      FFilterCompiler(filterCompiler),
      FRltnIdx(rltnIdx),
      FAccessor(std::make_unique<TVdbAccessor>(relation, std::move(name))) {
  FAccessor->OnRecordDeleted = [this](std::int32_t deleted, std::int32_t moved) {
    FUserBookmarks.Delete(deleted);
    if (moved > 0) FUserBookmarks.Renumber(moved, deleted);
    FDirtyFlag = true;
    if (FOnChangeProc) FOnChangeProc(FTableHdl, deleted, moved);
  };
  FAccessor->OnRelationChanged = [this] { FDirtyFlag = true; };
  FAccessor->OnRelationEmptied = [this] { FUserBookmarks.Clear(); };
}

std::int16_t TVdbCursor::MoveResult(std::int16_t r, std::int16_t success) {
  if (r == 0) return success;
  return r == kNoRecord ? stsNoRecord : stsTableReadError;
}

std::int16_t TVdbCursor::Open() {
  return Guard([&] { RebuildView(); });
}

std::int16_t TVdbCursor::Close() {
  FAccessor->Reset();
  return 0;
}

std::int16_t TVdbCursor::Refresh(bool checkNet) {
  return Guard([&]() -> std::int16_t {
    if (checkNet) {
      if (auto* table = dynamic_cast<TVdbBaseTable*>(&FRelation)) {
        const std::int16_t r = table->CheckUpdate();
        Check(r);
        if (r > 0) FDirtyFlag = true;
      }
    }
    FAccessor->InvalidateRecBuf();
    if (!FDirtyFlag) return 0;
    RebuildView();
    return 1;
  });
}

// ---- view

TVdbIndexNo TVdbCursor::SortIndexNo() {
  if (FSorting.empty()) return kVdbNoIndex;
  const std::int16_t byName = FSortIndexName.empty() ? std::int16_t{-1} : FRelation.GetIndexNo(FSortIndexName);
  if (byName >= 0) return byName;
  // The index was renumbered or dropped: look for one with exactly the kept specification.
  bool reverse = false;
  const std::int16_t found = FRelation.FindIndex(FSorting, tifoExact, true, reverse);
  Check(found);
  if (found == kVdbNaturalOrder) return kVdbNoIndex;
  FSortIndexName = FRelation.GetIndexName(found);
  return found;
}

void TVdbCursor::ApplyOrder() {
  const TVdbIndexNo indexNo = SortIndexNo();
  Check(FAccessor->SetAccess(indexNo < 0 ? kVdbNaturalOrder : indexNo, FSortReverse));
  if (indexNo >= 0 && (!FUserRangeLower.empty() || !FUserRangeUpper.empty())) {
    Check(FAccessor->SetRange(indexNo, std::span<const std::uint8_t>(FUserRangeLower),
                              std::span<const std::uint8_t>(FUserRangeUpper)));
  }
}

void TVdbCursor::CollectMatches(IVdbAccessorFilter& condition, bool sorted, TVdbBookmarkList& list) {
  list.Clear();
  TVdbAccessor walker(FRelation, FAccessor->GetTag());
  if (sorted) {
    const TVdbIndexNo indexNo = SortIndexNo();
    Check(walker.SetAccess(indexNo < 0 ? kVdbNaturalOrder : indexNo, FSortReverse));
  }
  // A condition that rates an index reads only that index's key range; its matches are put
  // in record-number order, as a walk in natural order would have found them.
  std::vector<std::uint8_t> lower, upper;
  const TVdbIndexNo best = condition.BestIndexAndBounds(FRelation, lower, upper);
  const bool inRange = best >= 0 && (!sorted || best == SortIndexNo());
  if (inRange) Check(walker.SetAccess(best, sorted && FSortReverse));
  if (inRange) Check(walker.SetRange(best, lower, upper));
  walker.SetFilter(std::make_unique<TBorrowedFilter>(condition));
  if (FRelation.BeginRead(true) < 0) throw EVdbEngine(VDB_INTERNAL_UNWIND);
  std::int16_t r = 0;
  for (r = walker.First(); r == 0; r = walker.Next()) list.Append(walker.RecordNo());
  static_cast<void>(FRelation.EndRead());
  if (r != kNoRecord) Check(r);
  if (inRange && !sorted) list.Sort();
}

void TVdbCursor::RebuildView() {
  const std::int32_t before = FAccessor->RecordNo();
  // A selection in force lives in the accessor's list, which the reset clears.
  TVdbBookmarkList kept;
  const bool keepList = FActiveFilterKind == tfkBookmarks || FMarksInView;
  if (keepList) FAccessor->ExchangeBookmarks(kept);
  FAccessor->Reset();
  if (FUserFilterKind == tfkStatic && FUserCondition) CollectMatches(*FUserCondition, false, FUserBookmarks);
  if (FActiveFilterKind == tfkStatic && FActiveCondition) {
    TVdbBookmarkList matches;
    CollectMatches(*FActiveCondition, true, matches);
    FAccessor->SetBookmarks(matches);
    Check(FAccessor->SetAccess(kVdbBookmarkOrder, false));
  } else if (keepList) {
    FAccessor->ExchangeBookmarks(kept);
    Check(FAccessor->SetAccess(kVdbBookmarkOrder, false));
  } else {
    ApplyOrder();
    if (FActiveFilterKind == tfkIncremental && FActiveCondition) {
      FAccessor->SetFilter(std::make_unique<TBorrowedFilter>(*FActiveCondition));
    }
  }
  FDirtyFlag = false;
  if (before > 0 && FAccessor->GotoRecord(before) == 0 && FAccessor->IsValidRecord()) return;
  const std::int16_t r = FAccessor->First();
  if (r == kNoRecord) {
    FAccessor->ToBoT();
  } else {
    Check(r);
  }
}

// ---- moves

std::int16_t TVdbCursor::First() { return MoveResult(FAccessor->First(), 1); }
std::int16_t TVdbCursor::Last() { return MoveResult(FAccessor->Last(), 1); }
std::int16_t TVdbCursor::Next() { return MoveResult(FAccessor->Next(), 0); }
std::int16_t TVdbCursor::MoveBy(std::int32_t delta) { return MoveResult(FAccessor->MoveBy(delta), 0); }

std::int32_t TVdbCursor::SetRecordNo(std::int32_t recordNo) {
  if (recordNo < -1) return stsNoRecord;
  if (recordNo == -1) {
    FAccessor->ToBoT();
    return 0;
  }
  const TVdbAccessorState saved = FAccessor->SaveState();
  const std::int16_t valid = Guard([&]() -> std::int16_t {
    return FAccessor->GotoRecord(recordNo) == 0 && FAccessor->IsValidRecord() ? 1 : 0;
  });
  if (valid != 1) {
    FAccessor->RestoreState(saved);
    return stsNoRecord;
  }
  return recordNo;
}

std::int32_t TVdbCursor::SetSequenceNo(std::int32_t sequenceNo) {
  const std::int32_t r = FAccessor->GotoSequenceNo(sequenceNo);
  if (r < 0) return stsNoRecord;
  const std::int32_t seq = FAccessor->SequenceNo();
  return seq < 0 ? stsNoRecord : seq;
}

// ---- order

std::int16_t TVdbCursor::SetIndex(std::u16string_view indexName, bool reverse) {
  std::u16string sorting;
  std::u16string realName;
  if (!indexName.empty()) {
    const std::int16_t indexNo = FRelation.GetIndexNo(indexName);
    if (indexNo < 0 || !FRelation.CheckIndexOpen(indexNo, false)) return stsNoSuchIndex;
    const TVdbSortDef* def = FRelation.GetIndexDef(indexNo);
    if (def == nullptr) return stsNoSuchIndex;
    realName = FRelation.GetIndexName(indexNo);
    const std::int16_t r = Guard([&] { sorting = def->CalcSpecification(FRelation.ColumnDefs(), true, reverse, 0, false); });
    if (r < 0) return r;
  }
  if (sorting == FSorting && realName == FSortIndexName && reverse == FSortReverse && !FMarksInView) return 0;
  // A user range is made of keys of the old order and means nothing in the new one.
  if (realName != FSortIndexName) {
    FUserRangeLower.clear();
    FUserRangeUpper.clear();
  }
  FSorting = std::move(sorting);
  FSortIndexName = std::move(realName);
  FSortReverse = reverse && !FSorting.empty();
  if (FMarksInView) {
    FAccessor->ExchangeBookmarks(FUserBookmarks);
    FMarksInView = false;
  }
  return Guard([&] { RebuildView(); });
}

std::int16_t TVdbCursor::SetSortOrder(std::u16string_view sortOrder) {
  bool reverse = false;
  const TVdbSortNo found = FRelation.FindIndex(sortOrder, tifoCreate, reverse);
  if (found < 0) return stsInvalidIndexDefinition;
  if (found == kVdbNaturalOrder) return SetIndex(u"", false);
  const std::int16_t r = SetIndex(FRelation.GetIndexName(found), reverse);
  return r == stsNoSuchIndex ? stsInvalidIndexDefinition : r;
}

std::int16_t TVdbCursor::SetAccess(std::u16string_view name, bool switchMarks) {
  if (SameTextIgnoringCase(name, u"Nummer")) return SetIndex(u"", false) < 0 ? stsInvalidAccess : 0;
  if (SameTextIgnoringCase(name, u"Markierung")) {
    if (!switchMarks) return stsInvalidAccess;
    if (!FMarksInView) {
      FAccessor->ExchangeBookmarks(FUserBookmarks);
      FUserBookmarks.Clear();
      FMarksInView = true;
    }
    return Guard([&] { RebuildView(); }) < 0 ? stsInvalidAccess : 0;
  }
  for (TVdbIndexNo i = 0; i <= FRelation.GetLastIndexNo(); ++i) {
    const std::u16string indexName = FRelation.GetIndexName(i);
    if (!indexName.empty() && SameTextIgnoringCase(indexName, name)) {
      return SetIndex(indexName, false) < 0 ? stsInvalidAccess : 0;
    }
  }
  return stsInvalidAccess;
}

// ---- user range

std::int16_t TVdbCursor::SetUserRange(std::span<const std::uint8_t> lowerRecord,
                                      std::span<const std::uint8_t> upperRecord, int fieldCountStart,
                                      int fieldCountEnd) {
  if (FAccessor->AccessType() != tatIndex) return stsInvalidAccess;
  const TVdbIndexNo indexNo = FAccessor->CurrentIndexNo();
  const std::int16_t r = Guard([&] {
    const int items = FRelation.GetIndexKeys(indexNo).ItemCount();
    std::vector<std::uint8_t> lower, upper;
    FRelation.CalcIndexInfo(lowerRecord, indexNo, kVdbLowerBoundRecNo, lower);
    FRelation.CompleteIndexInfo(lower, indexNo, fieldCountStart <= 0 ? items : fieldCountStart, false);
    FRelation.CalcIndexInfo(upperRecord, indexNo, kVdbUpperBoundRecNo, upper);
    FRelation.CompleteIndexInfo(upper, indexNo, fieldCountEnd <= 0 ? items : fieldCountEnd, true);
    FUserRangeLower = std::move(lower);
    FUserRangeUpper = std::move(upper);
    Check(FAccessor->SetRange(indexNo, std::span<const std::uint8_t>(FUserRangeLower),
                              std::span<const std::uint8_t>(FUserRangeUpper)));
  });
  if (r < 0) return stsInvalidAccess;
  const std::int16_t first = FAccessor->First();
  if (first == kNoRecord) FAccessor->ToBoT();
  return first == 0 || first == kNoRecord ? 0 : first;
}

std::int16_t TVdbCursor::ClearUserRange() {
  FUserRangeLower.clear();
  FUserRangeUpper.clear();
  FAccessor->ClearRange();
  return 0;
}

// ---- filters

std::int16_t TVdbCursor::SetUserSqlFilter(std::u16string_view filterExpression, int syntax, std::uint16_t mode,
                                          bool background) {
  // A blank text removes the condition the call addresses: the pending one, or the one in
  // force. A selection of marked records is no condition and stays.
  if (filterExpression.find_first_not_of(u" \t\r\n") == std::u16string_view::npos) {
    return Guard([&] {
      if (background) {
        FUserCondition.reset();
        if (FUserFilterKind != tfkBookmarks) FUserFilterKind = tfkNone;
        return;
      }
      if (FActiveFilterKind != tfkStatic && FActiveFilterKind != tfkIncremental) return;
      FActiveCondition.reset();
      FActiveFilterKind = tfkNone;
      RebuildView();
    });
  }
  std::unique_ptr<IVdbAccessorFilter> condition;
  const std::int16_t compiled = Guard([&] {
    if (!FFilterCompiler) RaiseEngineError(errNotSupported, {u"filter conditions"});
    condition = FFilterCompiler->CompileFilter(FRelation, filterExpression, syntax, mode);
  });
  if (compiled < 0) return compiled;
  return SetUserFilter(std::move(condition), mode, background);
}

std::int16_t TVdbCursor::SetUserFilter(std::unique_ptr<IVdbAccessorFilter> condition, std::uint16_t mode,
                                       bool background) {
  return Guard([&] {
    if (!condition) RaiseEngineError(errNotSupported, {u"an empty filter condition"});
    switch (mode & 0x0F) {
      case kVdbFilterStatic:
        if (background) {
          FUserCondition = std::move(condition);
          FUserFilterKind = tfkStatic;
          CollectMatches(*FUserCondition, false, FUserBookmarks);
        } else {
          FActiveCondition = std::move(condition);
          FActiveFilterKind = tfkStatic;
          RebuildView();
        }
        return;
      case kVdbFilterIncremental:
        if (background) {
          FUserCondition = std::move(condition);
          FUserFilterKind = tfkIncremental;
        } else {
          FActiveCondition = std::move(condition);
          FActiveFilterKind = tfkIncremental;
          RebuildView();
        }
        return;
      case kVdbFilterRemoveFromMarks:
      case kVdbFilterIntersectMarks:
      case kVdbFilterAddToMarks: {
        if (FUserFilterKind == tfkIncremental && FUserCondition) {
          CollectMatches(*FUserCondition, false, FUserBookmarks);
        }
        FUserCondition.reset();
        FUserFilterKind = tfkBookmarks;
        TVdbBookmarkList matches;
        CollectMatches(*condition, false, matches);
        const std::uint16_t edit = mode & 0x0F;
        if (edit == kVdbFilterRemoveFromMarks) {
          for (std::int32_t i = matches.FindFirst(); i >= 0; i = matches.FindNext(i)) FUserBookmarks.Delete(matches.At(i));
        } else if (edit == kVdbFilterIntersectMarks) {
          for (std::int32_t i = FUserBookmarks.FindLast(); i >= 0; i = FUserBookmarks.FindPrev(i)) {
            if (matches.Find(FUserBookmarks.At(i)) < 0) FUserBookmarks.DeleteAt(i);
          }
        } else {
          for (std::int32_t i = matches.FindFirst(); i >= 0; i = matches.FindNext(i)) {
            const std::int32_t rec = matches.At(i);
            if (FUserBookmarks.Find(rec) < 0 && FAccessor->IsValidRecord(rec)) FUserBookmarks.Append(rec);
          }
        }
        return;
      }
      default:
        RaiseEngineError(errNotSupported, {u"filter mode " + VdbUtf8ToUtf16(std::to_string(mode))});
    }
  });
}

std::int16_t TVdbCursor::ActivateFilter() {
  return Guard([&] {
    if (FMarksInView) {
      FAccessor->ExchangeBookmarks(FUserBookmarks);
      FMarksInView = false;
    }
    switch (FUserFilterKind) {
      case tfkIncremental:
      case tfkStatic:
        FActiveCondition = std::move(FUserCondition);
        FActiveFilterKind = FUserFilterKind;
        break;
      case tfkBookmarks: {
        FActiveCondition.reset();
        FActiveFilterKind = tfkBookmarks;
        TVdbBookmarkList list;
        list.CopyFrom(FUserBookmarks);
        FAccessor->ExchangeBookmarks(list);
        break;
      }
      case tfkNone:
        FActiveCondition.reset();
        FActiveFilterKind = tfkNone;
        break;
    }
    FUserCondition.reset();
    FUserFilterKind = tfkNone;
    FUserBookmarks.Clear();
    RebuildView();
  });
}

std::int16_t TVdbCursor::DeactivateFilter() {
  return Guard([&] {
    if (FActiveFilterKind == tfkBookmarks) {
      TVdbBookmarkList list;
      FAccessor->ExchangeBookmarks(list);
      FUserBookmarks.CopyFrom(list);
    }
    if (FActiveFilterKind != tfkNone) {
      FUserCondition = std::move(FActiveCondition);
      FUserFilterKind = FActiveFilterKind;
    }
    FActiveFilterKind = tfkNone;
    FActiveCondition.reset();
    RebuildView();
  });
}

// ---- records

template <class F>
void TVdbCursor::ForEachBlobField(std::span<std::uint8_t> record, F&& f) const {
  const TVdbColumnDefs& cols = FRelation.ColumnDefs();
  for (int i = 0; i < cols.GetCount(); ++i) {
    const TVdbColumnDef& col = cols.GetColumnDef(i);
    const TVdbColumnType type = col.DataType()->ColumnType();
    if (type != vctMemo && type != vctWideMemo && type != vctBlob) continue;
    TVdbDataValue v;
    col.DataType()->SetReference(v, record, static_cast<std::size_t>(col.Position()));
    f(i + 1, *col.DataType(), v);
  }
}

std::int32_t TVdbCursor::LocateRecord(std::u16string_view indexName, std::span<const std::uint8_t> record,
                                      int itemCount, bool& exact) {
  const TVdbIndexNo indexNo = FRelation.GetIndexNo(indexName);
  if (indexNo < 0 || !FRelation.CheckIndexOpen(indexNo, false)) return stsNoSuchIndex;
  if (record.size() < static_cast<std::size_t>(FRelation.GetRecordSize())) return stsBufferTooSmall;
  const int items = FRelation.GetIndexKeys(indexNo).ItemCount();
  const int count = itemCount < 1 ? items : std::min(itemCount, items);
  std::vector<std::uint8_t> entry;
  FRelation.CalcIndexInfo(record.first(static_cast<std::size_t>(FRelation.GetRecordSize())), indexNo, 0, entry);
  // Items beyond the count take no part: the search starts before every value they may have.
  if (count < items) FRelation.CompleteIndexInfo(entry, indexNo, count, false);
  const std::int32_t found = FAccessor->LocateRecord2(indexNo, entry, count, exact);
  return found < 0 ? stsEngineError : found;
}

std::uint16_t TVdbCursor::CodePageOf(const TVdbColumnDef& column) const {
  if (const auto* text = dynamic_cast<const TVdbAnsiStringType*>(column.DataType())) return text->CodePage();
  const auto* table = dynamic_cast<const TVdbBaseTable*>(&FRelation);
  return table != nullptr ? TVdbCollation::Resolve(table->CollationName()).CodePage() : VDB_BUILTIN_CODE_PAGE;
}

std::int16_t TVdbCursor::GetRecord(std::span<std::uint8_t> buffer) {
  const std::int16_t r = FAccessor->GetRecord(buffer);
  if (r < 0 || FAccessor->EditState() == esBrowse) return r;
  return Guard([&] {
    ForEachBlobField(buffer, [&](std::int32_t fieldNo, const TVdbDataType& type, TVdbDataValue& v) {
      if ((type.IsNull(v) || ReferenceOf(v) == 0) && FAccessor->HasPendingBlob(fieldNo)) SetReferenceOf(v, -1);
    });
  });
}

std::int16_t TVdbCursor::SetRecord(std::span<const std::uint8_t> buffer) {
  std::vector<std::uint8_t> copy(buffer.begin(), buffer.end());
  const std::int16_t r = Guard([&] {
    ForEachBlobField(copy, [&](std::int32_t, const TVdbDataType& type, TVdbDataValue& v) {
      if (!type.IsNull(v) && ReferenceOf(v) < 0) SetReferenceOf(v, 0);
    });
  });
  if (r < 0) return r;
  return FAccessor->SetRecord(copy);
}

// ---- writing

std::int16_t TVdbCursor::Post() { return FAccessor->Post(); }

std::int16_t TVdbCursor::Delete() { return FAccessor->Delete(); }

std::int32_t TVdbCursor::Empty() { return FRelation.ClearDat(); }

// ---- marks

std::int16_t TVdbCursor::AddMark(std::int32_t recNo) {
  return Guard([&] {
    if (recNo < 1 || recNo > FRelation.GetRecordCount()) {
      RaiseEngineError(errRecordNotFound, {VdbUtf8ToUtf16(std::to_string(recNo))});
    }
    if (FUserFilterKind != tfkBookmarks) {
      FUserCondition.reset();
      FUserFilterKind = tfkBookmarks;
    }
    if (FUserBookmarks.Find(recNo) < 0) FUserBookmarks.Append(recNo);
  });
}

std::int16_t TVdbCursor::GotoMark(std::int32_t delta, bool restart) {
  if (FUserBookmarks.Count() == 0) return stsNoRecord;
  if (FRelation.BeginRead(true) < 0) return stsTableNotAccessible;
  const TVdbAccessorState saved = FAccessor->SaveState();
  const bool forward = delta >= 0;
  std::int16_t r = restart ? (forward ? FAccessor->First() : FAccessor->Last())
                           : (forward ? FAccessor->Next() : FAccessor->Prior());
  while (r == 0 && !IsMarked(FAccessor->RecordNo())) r = forward ? FAccessor->Next() : FAccessor->Prior();
  static_cast<void>(FRelation.EndRead());
  if (r == 0) return 1;
  FAccessor->RestoreState(saved);
  return r == kNoRecord ? stsNoRecord : stsTableReadError;
}

}  // namespace vdb
