#include "tables/VdbRelation.h"

#include <algorithm>

#include "base/VdbErrorCodes.h"
#include "tables/VdbTableNames.h"

namespace vdb {

namespace {

// Ends the read lock of a locate on every way out.
class TReadScope {
 public:
  explicit TReadScope(TVdbRelation& r) : FRelation(r) { CheckInternal(FRelation.BeginRead(true)); }
  ~TReadScope() { FRelation.EndRead(); }
  TReadScope(const TReadScope&) = delete;
  TReadScope& operator=(const TReadScope&) = delete;

 private:
  TVdbRelation& FRelation;
};

}  // namespace

std::int16_t TVdbRelation::FindColumn(std::u16string_view name) {
  const int i = FColumnDefs.Find(name);
  if (i < 0) return FLastError.SetLastError(errDataFieldNotFound, {std::u16string(name)});
  return static_cast<std::int16_t>(i);
}

bool TVdbRelation::CheckIndexOpen(TVdbIndexNo indexNo, bool) {
  return Guard([&] { CheckIndexOpen(indexNo); }) == 0;
}

std::u16string TVdbRelation::GetRealIndexName(std::u16string_view indexName) const {
  const int level = GetLevel();
  auto nameOf = [&](TVdbIndexNo no) { return no < 0 ? std::u16string() : GetIndexName(no); };
  if (level >= 4 && VdbSameTextNoCase(indexName, kVdbPrimaryIndexName)) return nameOf(FPrimIndexNo);
  if (VdbGetIndexKind(indexName, level) != tikAdl) return std::u16string(indexName);
  if (VdbSameName(indexName, VdbIdIndexName(level, GetName()))) return nameOf(FIdIndexNo);
  if (VdbSameName(indexName, VdbRecordIdIndexName(level, GetName()))) return nameOf(FInrIndexNo);
  for (TVdbIndexNo i = 0; i <= FLastIndexNo; ++i) {
    if (VdbSameName(GetIndexName(i), indexName)) return GetIndexName(i);
  }
  return {};
}

std::int32_t TVdbRelation::AppendRecord(std::span<std::uint8_t>, const TVdbBlobDataList&) {
  return Guard([&]() -> std::int32_t { RaiseEngineError(errNotSupported, {GetName()}); });
}

std::int16_t TVdbRelation::ReplaceRecord(std::span<std::uint8_t>, std::span<const std::uint8_t>,
                                         const TVdbBlobDataList&, std::int32_t) {
  return Guard([&] { RaiseEngineError(errNotSupported, {GetName()}); });
}

std::int16_t TVdbRelation::DeleteRecord(std::span<const std::uint8_t>, std::int32_t) {
  return Guard([&] { RaiseEngineError(errNotSupported, {GetName()}); });
}

std::int32_t TVdbRelation::ClearDat() {
  return Guard([&]() -> std::int32_t { RaiseEngineError(errNotSupported, {GetName()}); });
}

std::int16_t TVdbRelation::GetIndexNo(std::u16string_view indexName) {
  const int level = GetLevel();
  TVdbIndexNo found = kVdbNoIndex;
  if (level >= 4 && VdbSameTextNoCase(indexName, kVdbPrimaryIndexName)) {
    found = FPrimIndexNo;
  } else if (FIdIndexNo >= 0 && VdbSameName(indexName, VdbIdIndexName(level, GetName()))) {
    found = FIdIndexNo;
  } else if (FInrIndexNo >= 0 && VdbSameName(indexName, VdbRecordIdIndexName(level, GetName()))) {
    found = FInrIndexNo;
  } else {
    std::u16string name(indexName);
    if (level < 4 && VdbExtractExt(name).empty()) name += u".ind";
    for (TVdbIndexNo i = 0; i <= FLastIndexNo && found < 0; ++i) {
      const std::u16string slot = GetIndexName(i);
      if (!slot.empty() && (VdbSameName(slot, name) || VdbSameName(slot, indexName))) found = i;
    }
  }
  if (found < 0) return FLastError.SetLastError(errIndexNotFound, {std::u16string(indexName)});
  return found;
}

TVdbSortNo TVdbRelation::FindIndex(const TVdbSortDef& def, TVdbIndexFindOptions options, bool& reverse) {
  reverse = false;
  const bool allowReverse = (options & tifoNoReverse) == 0;
  if ((options & tifoIncludeSpecial) != 0) {
    if (const TVdbSortDef* natural = GetNativeSortDef(); natural && natural->Covers(def, allowReverse, reverse)) {
      return kVdbNaturalOrder;
    }
  }
  for (TVdbIndexNo i = 0; i <= FLastIndexNo; ++i) {
    if (GetIndexName(i).empty()) continue;
    if ((options & tifoNoOpen) == 0 && !CheckIndexOpen(i, false)) continue;
    const TVdbSortDef* known = GetIndexDef(i);
    if (known == nullptr) continue;
    bool flipped = false;
    if (!known->Covers(def, allowReverse, flipped)) continue;
    if ((options & tifoExact) != 0 && known->Items.size() != def.Items.size()) continue;
    reverse = flipped;
    return i;
  }
  if ((options & tifoCreate) != 0 && !GetReadOnly() && GetRecordCount() >= 0) {
    const std::int16_t created = CreateTempIndex(def);
    if (created >= 0) return created;
  }
  return -1;
}

TVdbSortNo TVdbRelation::FindIndex(std::u16string_view sortOrder, TVdbIndexFindOptions options, bool& reverse) {
  reverse = false;
  TVdbSortNo result = -1;
  const std::int16_t status = Guard([&] {
    const TVdbSortDef def = TVdbSortDef::FromSpecification(sortOrder, FColumnDefs, GetLevel());
    result = FindIndex(def, options, reverse);
  });
  return status < 0 ? TVdbSortNo{-1} : result;
}

std::int16_t TVdbRelation::FindIndex(std::u16string_view sortOrder, TVdbIndexFindOptions options, bool check,
                                     bool& reverse) {
  const TVdbSortNo found = FindIndex(sortOrder, options, reverse);
  if (found >= 0 || !check) return found;
  return FLastError.SetLastError(errNoSuitableIndex, {std::u16string(sortOrder)});
}

std::int32_t TVdbRelation::CalcIndexInfo(std::span<const std::uint8_t> record, TVdbIndexNo indexNo, std::int32_t recNo,
                                         std::vector<std::uint8_t>& entry) {
  CheckIndexOpen(indexNo);
  return GetIndexKeys(indexNo).BuildEntry(record, recNo, entry);
}

void TVdbRelation::CompleteIndexInfo(std::vector<std::uint8_t>& entry, TVdbIndexNo indexNo, int levelCount,
                                     bool upper) {
  CheckIndexOpen(indexNo);
  GetIndexKeys(indexNo).Complete(entry, levelCount, upper);
}

int TVdbRelation::FindSortKeyDiff(TVdbIndexNo indexNo, std::span<const std::uint8_t> a,
                                  std::span<const std::uint8_t> b) {
  CheckIndexOpen(indexNo);
  return GetIndexKeys(indexNo).LeadingEqualItems(a, b);
}

int TVdbRelation::TestFilterRange(TVdbIndexNo indexNo, std::span<const std::uint8_t> lower,
                                  std::span<const std::uint8_t> upper, std::span<const std::uint8_t> test) {
  if (!CheckIndexOpen(indexNo, false)) return 0;
  return GetIndexKeys(indexNo).TestRange(lower, upper, test);
}

std::int16_t TVdbRelation::StringToIndex(TVdbIndexNo indexNo, std::u16string_view text, std::int32_t recNo,
                                         char16_t separator, std::vector<std::uint8_t>& entry) {
  if (!CheckIndexOpen(indexNo, false)) return FLastError.SetLastError(errInconsistentIndexDefinition, {GetIndexName(indexNo)});
  return Guard([&] {
    std::vector<std::u16string> parts;
    if (!text.empty()) {
      std::size_t start = 0;
      for (;;) {
        const std::size_t end = text.find(separator, start);
        parts.emplace_back(text.substr(start, end == std::u16string_view::npos ? std::u16string_view::npos : end - start));
        if (end == std::u16string_view::npos) break;
        start = end + 1;
      }
    }
    GetIndexKeys(indexNo).FromText(parts, recNo, entry);
  });
}

std::int16_t TVdbRelation::CalcRangeInfo(TVdbIndexNo indexNo, std::u16string_view text, char16_t separator, bool first,
                                         std::vector<std::uint8_t>& entry) {
  if (indexNo >= 0) {
    return StringToIndex(indexNo, text, first ? kVdbLowerBoundRecNo : kVdbUpperBoundRecNo, separator, entry);
  }
  std::int64_t recNo = 0;
  bool digits = !text.empty() && text.size() <= 10;
  for (char16_t c : text) {
    if (c < u'0' || c > u'9') {
      digits = false;
      break;
    }
    recNo = recNo * 10 + (c - u'0');
  }
  if (!digits || recNo > 0x7FFFFFFF) return FLastError.SetLastError(errInvalidNumber, {std::u16string(text)});
  entry.assign(static_cast<std::size_t>(kVdbRecNoSize), 0);
  VdbSetEntryRecNo(entry, static_cast<std::int32_t>(recNo));
  return 0;
}

std::int32_t TVdbRelation::LocateRecord2(TVdbIndexNo indexNo, std::span<const std::uint8_t> entry, int itemCount,
                                         bool& exact, const TVdbRecordValidator& valid) {
  return Guard([&]() -> std::int32_t {
    CheckIndexOpen(indexNo);
    TReadScope read(*this);
    TVdbIndexFile& file = GetIndexFile(indexNo);
    const TVdbIndexKeys& keys = GetIndexKeys(indexNo);
    // The index's work entry is shared by every cursor: copy the key before searching.
    const std::vector<std::uint8_t> given(entry.begin(), entry.end());
    std::vector<std::uint8_t>& found = WorkEntry();
    found = given;
    found.resize(std::max(found.size(), static_cast<std::size_t>(keys.EntrySize())), 0);
    if (file.Suche_Index(found) != 0) return 0;
    const bool requested = exact;
    const int wanted = std::clamp(itemCount, 0, keys.ItemCount());
    for (;;) {
      const bool same = keys.LeadingEqualItems(found, given) >= wanted;
      if (requested && !same) return 0;
      const std::int32_t recNo = VdbEntryRecNo(found);
      if (!valid || valid(recNo)) {
        if (!requested) exact = same;
        return recNo;
      }
      if (file.Naechster_Index(found) != 0) return 0;
    }
  });
}

std::int32_t TVdbRelation::LocateRecord(std::span<const std::uint8_t> record, TVdbIndexNo indexNo) {
  return Guard([&]() -> std::int32_t {
    CheckIndexOpen(indexNo);
    TReadScope read(*this);
    std::vector<std::uint8_t> key;
    CalcIndexInfo(record, indexNo, 0, key);
    std::vector<std::uint8_t>& found = WorkEntry();
    found = key;
    if (GetIndexFile(indexNo).Suche_Index(found) != 0) return 0;
    return GetIndexKeys(indexNo).IsSameKey(found, key) ? VdbEntryRecNo(found) : 0;
  });
}

// ---- listeners

void TVdbRelation::AddAccessor(IRelationListener& listener) {
  if (std::find(FClientAccessors.begin(), FClientAccessors.end(), &listener) == FClientAccessors.end()) {
    FClientAccessors.push_back(&listener);
  }
}

void TVdbRelation::RemoveAccessor(IRelationListener& listener) {
  std::erase(FClientAccessors, &listener);
}

void TVdbRelation::EnableNotifications(bool enabled) {
  if (!enabled) {
    ++FNotificationDisableCount;
    return;
  }
  if (FNotificationDisableCount == 0) return;
  if (--FNotificationDisableCount == 0) NotifyRelationChanged();
}

// Listeners may remove themselves while being told, so each notification walks a copy.
void TVdbRelation::NotifyRecordDeleted(std::int32_t deletedRecordNo, std::int32_t movedRecordNo) {
  if (FNotificationDisableCount > 0) return;
  for (IRelationListener* l : std::vector<IRelationListener*>(FClientAccessors)) l->RecordDeleted(deletedRecordNo, movedRecordNo);
}

void TVdbRelation::NotifyRecordChanged(std::int32_t recordNo) {
  if (FNotificationDisableCount > 0) return;
  for (IRelationListener* l : std::vector<IRelationListener*>(FClientAccessors)) l->RecordChanged(recordNo);
}

void TVdbRelation::NotifyRelationChanged() {
  if (FNotificationDisableCount > 0) return;
  for (IRelationListener* l : std::vector<IRelationListener*>(FClientAccessors)) l->RelationChanged();
}

void TVdbRelation::NotifyRelationEmptied() {
  if (FNotificationDisableCount > 0) return;
  for (IRelationListener* l : std::vector<IRelationListener*>(FClientAccessors)) l->RelationEmptied();
}

bool TVdbRelation::CanRemoveIndex(TVdbIndexNo indexNo) {
  bool allowed = true;
  for (IRelationListener* l : std::vector<IRelationListener*>(FClientAccessors)) l->CanRemoveIndex(indexNo, allowed);
  return allowed;
}

void TVdbRelation::NotifyIndexRemoved(TVdbIndexNo indexNo) {
  for (IRelationListener* l : std::vector<IRelationListener*>(FClientAccessors)) l->IndexRemoved(indexNo);
}

bool TVdbRelation::ListenerIsEditing(std::int32_t recNo, const void* excluded) {
  return std::any_of(FClientAccessors.begin(), FClientAccessors.end(), [&](const IRelationListener* l) {
    return static_cast<const void*>(l) != excluded && l->IsEditing(recNo);
  });
}

}  // namespace vdb
