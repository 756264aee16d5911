#include "session/VdbIntegrityRules.h"

#include <algorithm>

#include "session/VdbCatalog.h"
#include "base/VdbErrorCodes.h"
#include "storage/VdbTreeBase.h"

namespace vdb {

namespace {

// Holds a lock of one table for the rules' reading or cascading; released on every way out.
class TRuleLock {
 public:
  TRuleLock(TVdbRelation& r, bool write) : FRelation(r), FWrite(write) {
    CheckInternal(write ? r.BeginWrite(true) : r.BeginRead(true));
  }
  ~TRuleLock() {
    if (FWrite) {
      static_cast<void>(FRelation.EndWrite());
    } else {
      static_cast<void>(FRelation.EndRead());
    }
  }
  TRuleLock(const TRuleLock&) = delete;
  TRuleLock& operator=(const TRuleLock&) = delete;

 private:
  TVdbRelation& FRelation;
  bool FWrite;
};

std::u16string StripDollar(std::u16string_view name) {
  return std::u16string(name.starts_with(u'$') ? name.substr(1) : name);
}

// 0-based column numbers of `names`; -1 for a name that is no column.
std::vector<int> ColumnNos(const TVdbRelation& r, const std::vector<std::u16string>& names) {
  std::vector<int> cols;
  for (const std::u16string& name : names) cols.push_back(r.ColumnDefs().Find(StripDollar(name)));
  return cols;
}

bool Usable(const std::vector<int>& cols) {
  return !cols.empty() && std::none_of(cols.begin(), cols.end(), [](int c) { return c < 0; });
}

std::u16string ParentColumnsText(const TVdbForeignKeyDef& fk) {
  return fk.ParentTableName + u"." + VdbJoinColumnList(fk.ParentColumnNames);
}

// The index of `r` whose key is exactly the columns `cols`, in any order (a unique one when
// `uniqueOnly`); unique indexes are preferred. kVdbNoIndex when none can be used.
TVdbIndexNo FindIndexOver(TVdbRelation& r, const std::vector<int>& cols, bool uniqueOnly) {
  std::vector<int> wanted(cols);
  std::sort(wanted.begin(), wanted.end());
  TVdbIndexNo found = kVdbNoIndex;
  for (TVdbIndexNo i = 0; i <= r.GetLastIndexNo(); ++i) {
    try {
      r.CheckIndexOpen(i);
    } catch (const EVdbEngine&) {
      continue;  // a lost index serves nothing; another one may
    }
    const TVdbSortDef* def = r.GetIndexDef(i);
    if (def == nullptr || def->IsCalculated || def->LevelCount() != static_cast<int>(wanted.size())) continue;
    std::vector<int> have;
    for (const TVdbSortItem& item : def->Items) have.push_back(static_cast<int>(item.ColumnNo) - 1);
    std::sort(have.begin(), have.end());
    if (have != wanted) continue;
    const bool unique = def->IsUnique || i == r.PrimaryIndexNo();
    if (unique) return i;
    if (!uniqueOnly && found == kVdbNoIndex) found = i;
  }
  return found;
}

// Writes the values of columns `fromCols` of `from` into columns `toCols` of `to`, converted
// into the target columns' types (nulls stay null). False when a null meets a column that
// cannot be null: no record of the other table can have that key.
bool CopyKey(const TVdbRelation& fromRel, std::span<const std::uint8_t> from, const std::vector<int>& fromCols,
             const TVdbRelation& toRel, std::span<std::uint8_t> to, const std::vector<int>& toCols) {
  std::vector<std::uint8_t> source(from.begin(), from.end());
  for (std::size_t k = 0; k < fromCols.size(); ++k) {
    const TVdbColumnDef& src = fromRel.ColumnDefs().GetColumnDef(fromCols[k]);
    const TVdbColumnDef& dst = toRel.ColumnDefs().GetColumnDef(toCols[k]);
    TVdbDataValue s, d;
    src.DataType()->SetReference(s, source, static_cast<std::size_t>(src.Position()));
    dst.DataType()->SetReference(d, to, static_cast<std::size_t>(dst.Position()));
    if (src.DataType()->IsNull(s)) {
      if (!dst.Nullable()) return false;
      dst.DataType()->SetNull(d);
    } else {
      dst.DataType()->ConvertFrom(d, s, *src.DataType(), true);
    }
  }
  return true;
}

bool AllNull(const TVdbRelation& r, std::span<const std::uint8_t> record, const std::vector<int>& cols) {
  std::vector<std::uint8_t> copy(record.begin(), record.end());
  for (int c : cols) {
    const TVdbColumnDef& col = r.ColumnDefs().GetColumnDef(c);
    TVdbDataValue v;
    col.DataType()->SetReference(v, copy, static_cast<std::size_t>(col.Position()));
    if (!col.DataType()->IsNull(v)) return false;
  }
  return true;
}

// The record number of the first entry of index `indexNo` whose key is that of `keyRecord`;
// 0 when there is none.
std::int32_t FindKey(TVdbRelation& r, TVdbIndexNo indexNo, std::span<const std::uint8_t> keyRecord) {
  TRuleLock read(r, false);
  r.CheckIndexOpen(indexNo);
  TVdbIndexKeys& keys = r.GetIndexKeys(indexNo);
  std::vector<std::uint8_t> entry;
  entry.resize(static_cast<std::size_t>(keys.BuildEntry(keyRecord, 0, entry)));
  std::vector<std::uint8_t> found = entry;
  if (r.GetIndexFile(indexNo).Suche_Index(found) != 0 || !keys.IsSameKey(found, entry)) return 0;
  return VdbEntryRecNo(found);
}

std::vector<std::uint8_t> ReadChild(TVdbBaseTable& child, std::int32_t recNo) {
  std::vector<std::uint8_t> record(static_cast<std::size_t>(child.GetRecordSize()), 0);
  CheckInternal(child.ReadRecord(recNo, record));
  return record;
}

}  // namespace

TVdbBaseTable* TVdbIntegrityRules::FindOpen(std::u16string_view name) const {
  return dynamic_cast<TVdbBaseTable*>(FCatalog.GetRelation(FCatalog.FindRltnIdx(name)));
}

TVdbIntegrityRules::TLink TVdbIntegrityRules::Resolve(TVdbBaseTable& child, const TVdbForeignKeyDef& fk,
                                                      TVdbBaseTable& parent) {
  TLink link;
  link.Child = &child;
  link.Fk = &fk;
  link.Parent = &parent;
  link.ChildCols = ColumnNos(child, fk.ColumnNames);
  if (Usable(link.ChildCols)) link.ChildIndex = FindIndexOver(child, link.ChildCols, false);
  if (link.ChildIndex == kVdbNoIndex) RaiseEngineError(errNoSuitableIndex, {VdbJoinColumnList(fk.ColumnNames)});
  link.ParentCols = ColumnNos(parent, fk.ParentColumnNames);
  if (Usable(link.ParentCols) && link.ParentCols.size() == link.ChildCols.size()) {
    link.ParentIndex = FindIndexOver(parent, link.ParentCols, false);
  }
  if (link.ParentIndex == kVdbNoIndex) RaiseEngineError(errNoSuitableIndex, {ParentColumnsText(fk)});
  return link;
}

std::vector<TVdbIntegrityRules::TLink> TVdbIntegrityRules::ChildrenOf(TVdbRelation& parent) const {
  std::vector<TLink> links;
  auto* parentTable = dynamic_cast<TVdbBaseTable*>(&parent);
  if (parentTable == nullptr) return links;
  for (TVdbRltnIdx i = 1; i <= kVdbMaxRltnIdx; ++i) {
    auto* child = dynamic_cast<TVdbBaseTable*>(FCatalog.GetRelation(i));
    if (child == nullptr) continue;
    const TVdbForeignKeyDefs& fks = child->ForeignKeyDefs();
    for (int f = 0; f < fks.GetCount(); ++f) {
      const TVdbForeignKeyDef& fk = fks.GetNamedDef(f);
      if (FindOpen(fk.ParentTableName) != parentTable) continue;
      links.push_back(Resolve(*child, fk, *parentTable));
    }
  }
  return links;
}

std::int32_t TVdbIntegrityRules::FirstChild(const TLink& link, std::span<const std::uint8_t> parentRecord) {
  std::vector<std::uint8_t> key(static_cast<std::size_t>(link.Child->GetRecordSize()), 0);
  if (!CopyKey(*link.Parent, parentRecord, link.ParentCols, *link.Child, key, link.ChildCols)) return 0;
  return FindKey(*link.Child, link.ChildIndex, key);
}

bool TVdbIntegrityRules::KeyChanged(const TLink& link, std::span<const std::uint8_t> oldRecord,
                                    std::span<const std::uint8_t> newRecord) {
  TVdbIndexKeys& keys = link.Parent->GetIndexKeys(link.ParentIndex);
  std::vector<std::uint8_t> a, b;
  a.resize(static_cast<std::size_t>(keys.BuildEntry(oldRecord, 0, a)));
  b.resize(static_cast<std::size_t>(keys.BuildEntry(newRecord, 0, b)));
  return a != b;
}

// ---- creation and setup

void TVdbIntegrityRules::CheckNewForeignKey(const TVdbColumnDefs& childColumns, const TVdbForeignKeyDef& fk) {
  TVdbBaseTable* parent = FindOpen(fk.ParentTableName);
  if (parent == nullptr) RaiseEngineError(errTableNotFound, {fk.ParentTableName});
  const std::vector<int> cols = ColumnNos(*parent, fk.ParentColumnNames);
  if (!Usable(cols) || cols.size() != fk.ColumnNames.size() || FindIndexOver(*parent, cols, true) == kVdbNoIndex) {
    RaiseEngineError(errNoSuitableIndex, {ParentColumnsText(fk)});
  }
  // Keys are compared in the parent's types: every write would fail on a child value the
  // parent column cannot take.
  for (std::size_t k = 0; k < cols.size(); ++k) {
    const int c = childColumns.Find(StripDollar(fk.ColumnNames[k]));
    if (c < 0) RaiseEngineError(errNoSuitableIndex, {VdbJoinColumnList(fk.ColumnNames)});
    const TVdbDataType& from = *childColumns.GetColumnDef(c).DataType();
    if (!parent->ColumnDefs().GetColumnDef(cols[k]).DataType()->CanConvertFrom(from, false)) {
      RaiseEngineError(errTypeMismatch,
                       {fk.ColumnNames[k] + u" and " + fk.ParentTableName + u"." + fk.ParentColumnNames[k]});
    }
  }
}

void TVdbIntegrityRules::ResolveForeignKeys(TVdbBaseTable& child) {
  const TVdbForeignKeyDefs& fks = child.ForeignKeyDefs();
  for (int f = 0; f < fks.GetCount(); ++f) {
    const TVdbForeignKeyDef& fk = fks.GetNamedDef(f);
    const std::vector<int> cols = ColumnNos(child, fk.ColumnNames);
    if (!Usable(cols)) RaiseEngineError(errNoSuitableIndex, {VdbJoinColumnList(fk.ColumnNames)});
    if (FindIndexOver(child, cols, false) == kVdbNoIndex) {
      // The engine's own index over the columns is gone: a user index takes its place.
      static_cast<void>(child.CreateUserIndex(u"IR_" + fk.Name(), VdbJoinColumnList(fk.ColumnNames), false));
    }
    TVdbBaseTable* parent = FindOpen(fk.ParentTableName);
    if (parent == nullptr) {
      const std::int16_t slot = FCatalog.TryOpenTable(
          fk.ParentTableName, u"", static_cast<std::uint16_t>(child.GetRights() & kVdbRightsWriteMask));
      parent = slot > 0 ? dynamic_cast<TVdbBaseTable*>(FCatalog.GetRelation(slot)) : nullptr;
      if (parent == nullptr) RaiseEngineError(errParentTableNotFound, {fk.ParentTableName});
    }
    Resolve(child, fk, *parent);
  }
}

// ---- child side

void TVdbIntegrityRules::CheckReferences(TVdbRelation& child, std::span<const std::uint8_t> record) {
  auto* table = dynamic_cast<TVdbBaseTable*>(&child);
  if (table == nullptr) return;
  const TVdbForeignKeyDefs& fks = table->ForeignKeyDefs();
  for (int f = 0; f < fks.GetCount(); ++f) {
    const TVdbForeignKeyDef& fk = fks.GetNamedDef(f);
    TVdbBaseTable* parent = FindOpen(fk.ParentTableName);
    if (parent == nullptr) RaiseEngineError(errParentTableNotFound, {fk.ParentTableName});
    const TLink link = Resolve(*table, fk, *parent);
    if (AllNull(*table, record, link.ChildCols)) continue;
    std::vector<std::uint8_t> key(static_cast<std::size_t>(parent->GetRecordSize()), 0);
    if (!CopyKey(*table, record, link.ChildCols, *parent, key, link.ParentCols) ||
        FindKey(*parent, link.ParentIndex, key) == 0) {
      RaiseEngineError(errParentRowMissing, {fk.Name()});
    }
  }
}

// ---- parent side

namespace {

// Set-null and set-default are not carried out: refused before anything changes, naming the
// rule, rather than after the parent's change has been written.
[[noreturn]] void RaiseUnsupportedAction(const TVdbForeignKeyDef& fk, TVdbReferentialAction action) {
  RaiseEngineError(errUnknown, {u"referential action " + VdbUtf8ToUtf16(std::to_string(static_cast<int>(action))) +
                                    u" of integrity rule \"" + fk.Name() + u"\""});
}

}  // namespace

void TVdbIntegrityRules::BeforeDelete(TVdbRelation& parent, std::span<const std::uint8_t> record) {
  for (const TLink& link : ChildrenOf(parent)) {
    const TVdbReferentialAction action = link.Fk->DeleteAction;
    if (action == traCascade || AllNull(parent, record, link.ParentCols)) continue;
    if (FirstChild(link, record) == 0) continue;
    if (action == traNone) RaiseEngineError(errIntegrityViolated, {link.Fk->Name()});
    RaiseUnsupportedAction(*link.Fk, action);
  }
}

void TVdbIntegrityRules::AfterDelete(TVdbRelation& parent, std::span<const std::uint8_t> record) {
  for (const TLink& link : ChildrenOf(parent)) {
    if (link.Fk->DeleteAction != traCascade || AllNull(parent, record, link.ParentCols)) continue;
    TRuleLock write(*link.Child, true);
    // Every pass removes one child; more passes than children means a delete that did not.
    for (std::int32_t passes = link.Child->GetRecordCount();; --passes) {
      const std::int32_t recNo = FirstChild(link, record);
      if (recNo == 0) break;
      if (passes < 0) RaiseEngineError(errIntegrityViolated, {link.Fk->Name()});
      CheckInternal(link.Child->DeleteRecord(ReadChild(*link.Child, recNo), recNo));
    }
  }
}

void TVdbIntegrityRules::BeforeUpdate(TVdbRelation& parent, std::span<const std::uint8_t> oldRecord,
                                      std::span<const std::uint8_t> newRecord) {
  for (const TLink& link : ChildrenOf(parent)) {
    const TVdbReferentialAction action = link.Fk->UpdateAction;
    if (action == traCascade || AllNull(parent, oldRecord, link.ParentCols)) continue;
    if (!KeyChanged(link, oldRecord, newRecord) || FirstChild(link, oldRecord) == 0) continue;
    if (action == traNone) RaiseEngineError(errIntegrityViolated, {link.Fk->Name()});
    RaiseUnsupportedAction(*link.Fk, action);
  }
}

void TVdbIntegrityRules::AfterUpdate(TVdbRelation& parent, std::span<const std::uint8_t> oldRecord,
                                     std::span<const std::uint8_t> newRecord) {
  for (const TLink& link : ChildrenOf(parent)) {
    if (link.Fk->UpdateAction != traCascade || AllNull(parent, oldRecord, link.ParentCols)) continue;
    if (!KeyChanged(link, oldRecord, newRecord)) continue;
    TRuleLock write(*link.Child, true);
    // Every pass moves one child to the new key; see AfterDelete.
    for (std::int32_t passes = link.Child->GetRecordCount();; --passes) {
      const std::int32_t recNo = FirstChild(link, oldRecord);
      if (recNo == 0) break;
      if (passes < 0) RaiseEngineError(errIntegrityViolated, {link.Fk->Name()});
      const std::vector<std::uint8_t> before = ReadChild(*link.Child, recNo);
      std::vector<std::uint8_t> after = before;
      if (!CopyKey(parent, newRecord, link.ParentCols, *link.Child, after, link.ChildCols)) {
        RaiseEngineError(errIntegrityViolated, {link.Fk->Name()});
      }
      CheckInternal(link.Child->ReplaceRecord(after, before, {}, recNo));
    }
  }
}

}  // namespace vdb
