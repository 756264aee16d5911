#include "sql/VdbQueryExecPlan.h"

#include <algorithm>

#include "base/VdbErrorCodes.h"
#include "base/VdbErrors.h"
#include "sql/VdbCondition.h"
#include "session/VdbAccessor.h"
#include "tables/VdbBaseTable.h"
#include "types/VdbCommon.h"

namespace vdb {

namespace {

bool IsBlobColumn(TVdbColumnType code) {
  return code == vctMemo || code == vctWideMemo || code == vctBlob || code == vctRelation;
}

}  // namespace

void TVdbQueryExecutionPlan::AddRelation(TRelationEntry entry) {
  if (entry.Alias.empty()) entry.Alias = entry.Name;
  FRelations.push_back(std::move(entry));
}

void TVdbQueryExecutionPlan::Prepare() {
  FRecords.assign(FRelations.size(), {});
  FRow.assign(FRelations.size(), 0);
  for (std::size_t i = 0; i < FRelations.size(); ++i)
    FRecords[i].assign(static_cast<std::size_t>(FRelations[i].Relation->GetRecordSize()), 0);
  TVdbPrepareContext context{this, 0, TvuFormats::Invariant()};
  for (auto& r : FRelations)
    if (r.On) r.On->Prepare(context);
  if (FFilter) FFilter->Prepare(context);
  PlanFilterSteps();
}

namespace {

void MaxPosOfCondition(const TVdbSearchCondition& c, int& maxPos);

void MaxPosOfExpression(const TVdbExpression& e, int& maxPos) {
  for (const auto& t : e.Terms) {
    for (const auto& f : t->Factors) {
      if (const auto* c = dynamic_cast<const TVdbSqlCaseOperation*>(f.get())) {
        for (const auto& w : c->WhenConditions) MaxPosOfCondition(*w, maxPos);
        for (const auto& x : c->ThenExpressions) MaxPosOfExpression(*x, maxPos);
        continue;
      }
      const auto* sf = dynamic_cast<const TVdbSimpleFactor*>(f.get());
      if (sf == nullptr) {
        maxPos = 1 << 20;  // unknown kind: decided at the end
        continue;
      }
      if (sf->Type() == sftColumn && sf->RltnPos() < kVdbParamRltnPos) maxPos = std::max(maxPos, sf->RltnPos());
      if (sf->Type() == sftExpression) MaxPosOfExpression(*sf->Expression(), maxPos);
      if (const TVdbFunctionCall* call = sf->FunctionCall())
        for (const auto& a : call->Arguments) MaxPosOfExpression(*a, maxPos);
    }
  }
}

void MaxPosOfFactor(const TVdbBooleanFactor& f, int& maxPos) {
  // A sub-query may read any relation of this plan: decided when all are bound.
  if (f.SubQuery) maxPos = 1 << 20;
  if (f.SearchCondition) MaxPosOfCondition(*f.SearchCondition, maxPos);
  for (const TVdbExpression* e : {f.ExpressionLeft.get(), f.ExpressionRight.get(), f.ExpressionRightEx.get()})
    if (e != nullptr) MaxPosOfExpression(*e, maxPos);
  for (const auto& v : f.ValueSet) MaxPosOfExpression(*v, maxPos);
}

void MaxPosOfCondition(const TVdbSearchCondition& c, int& maxPos) {
  for (const auto& t : c.Terms)
    for (const auto& f : t->Factors) MaxPosOfFactor(*f, maxPos);
}

}  // namespace

void TVdbQueryExecutionPlan::PlanFilterSteps() {
  FEarlyFilter = false;
  FStepFactors.assign(FRelations.size(), {});
  if (!FFilter || FFilter->Terms.size() != 1 || FRelations.size() < 2) return;
  // Outer joins decide which rows are NULL-extended by the matches they see, so a filter
  // cut before them would change the result.
  for (const auto& r : FRelations)
    if (r.Join != pjFirst && r.Join != pjCross && r.Join != pjInner) return;
  FEarlyFilter = true;
  const int last = static_cast<int>(FRelations.size()) - 1;
  for (auto& f : FFilter->Terms[0]->Factors) {
    int maxPos = 0;
    MaxPosOfFactor(*f, maxPos);
    FStepFactors[static_cast<std::size_t>(std::min(maxPos, last))].push_back(f.get());
  }
}

bool TVdbQueryExecutionPlan::StepHolds(int pos) {
  if (!FEarlyFilter) return pos + 1 < RelationCount() || FilterHolds();
  if (pos + 1 == RelationCount()) ++FRowAccessCount;
  for (TVdbBooleanFactor* f : FStepFactors[static_cast<std::size_t>(pos)])
    if (f->Evaluate() != vtTrue) return false;
  return true;
}

bool TVdbQueryExecutionPlan::FindColumn(std::u16string_view name, int& rltnPos, int& fieldNo,
                                        const TVdbDataType*& type) const {
  if (!name.empty() && name[0] == kVdbParamMark) {
    if (FVariables == nullptr) return false;
    const int i = FVariables->IndexOf(name.substr(1));
    if (i < 0) return false;
    const TVdbSqlVariable& v = const_cast<TVdbSqlVariableList*>(FVariables)->At(i);
    rltnPos = kVdbParamRltnPos;
    fieldNo = i;
    type = v.Type != nullptr ? v.Type : TVdbDataType::GetNullType(6);
    return true;
  }
  if (!name.empty() && name[0] == kVdbAggregateMark) {
    int i = name.size() > 1 ? 0 : -1;
    for (char16_t c : name.substr(1)) i = (c >= u'0' && c <= u'9' && i >= 0) ? i * 10 + (c - u'0') : -1;
    if (i < 0 || i >= static_cast<int>(FAggregates.size())) return false;
    rltnPos = kVdbAggregateRltnPos;
    fieldNo = i;
    type = FAggregates[static_cast<std::size_t>(i)].Type;
    return true;
  }
  if (!FindBaseColumn(name, rltnPos, fieldNo)) {
    if (FOuter == nullptr || !FOuter->FindColumn(name, rltnPos, fieldNo, type)) return false;
    rltnPos += kVdbOuterRltnBase;
    FUsesOuter = true;
    return true;
  }
  const TVdbColumnDef& col =
      FRelations[static_cast<std::size_t>(rltnPos)].Relation->ColumnDefs().GetColumnDef(fieldNo);
  // Memo and blob fields hold a reference in the record, not their value.
  if (IsBlobColumn(col.ColumnType()))
    throw EVdbEngine(errNotSupported, {u"the memo or blob column \"" + col.Name() + u"\" in an expression"});
  type = col.DataType();
  return true;
}

bool TVdbQueryExecutionPlan::FindBaseColumn(std::u16string_view name, int& rltnPos, int& fieldNo) const {
  std::u16string_view qualifier;
  std::u16string_view column = name;
  const std::size_t dot = name.rfind(u'.');
  if (dot != std::u16string_view::npos) {
    qualifier = name.substr(0, dot);
    column = name.substr(dot + 1);
  }
  for (std::size_t pos = 0; pos < FRelations.size(); ++pos) {
    const TRelationEntry& r = FRelations[pos];
    // In a sub-query an aliased table is known by its alias only, so that the table's name
    // can still reach the enclosing query's table of that name.
    if (!qualifier.empty() && !VdbSameName(qualifier, r.Alias) && (FOuter != nullptr || !VdbSameName(qualifier, r.Name)))
      continue;
    const int i = r.Relation->ColumnDefs().Find(column);
    if (i < 0) continue;
    rltnPos = static_cast<int>(pos);
    fieldNo = i;
    return true;
  }
  return false;
}

void TVdbQueryExecutionPlan::ColumnValue(int rltnPos, int fieldNo, TVdbDataValue& value) {
  if (rltnPos == kVdbParamRltnPos) {
    TVdbSqlVariable& v = FVariables->At(fieldNo);
    const TVdbDataType* t = v.Type != nullptr ? v.Type : TVdbDataType::GetNullType(6);
    if (v.IsSet) {
      value = v.Value;
    } else {
      value.Clear();
      t->SetNull(value);
    }
    return;
  }
  if (rltnPos >= kVdbOuterRltnBase) {
    FOuter->ColumnValue(rltnPos - kVdbOuterRltnBase, fieldNo, value);
    return;
  }
  if (rltnPos == kVdbAggregateRltnPos) {
    TVdbAggregateSlot& slot = FAggregates.at(static_cast<std::size_t>(fieldNo));
    if (slot.Value.IsEmpty()) {
      value.Clear();
      slot.Type->SetNull(value);
    } else {
      value = slot.Value;
    }
    return;
  }
  const TRelationEntry& r = FRelations.at(static_cast<std::size_t>(rltnPos));
  const TVdbColumnDef& col = r.Relation->ColumnDefs().GetColumnDef(fieldNo);
  col.DataType()->SetReference(value, FRecords[static_cast<std::size_t>(rltnPos)], static_cast<std::size_t>(col.Position()));
}

void TVdbQueryExecutionPlan::ReadInto(int pos, std::int32_t recNo) {
  const auto p = static_cast<std::size_t>(pos);
  FRow[p] = recNo;
  std::vector<std::uint8_t>& rec = FRecords[p];
  if (recNo > 0) {
    if (FRelations[p].Relation->ReadRecord(recNo, rec) < 0) throw EVdbEngine(VDB_INTERNAL_UNWIND);
    return;
  }
  // The NULL-extended side of an outer join: every column that can hold NULL holds it.
  std::fill(rec.begin(), rec.end(), std::uint8_t{0});
  const TVdbColumnDefs& cols = FRelations[p].Relation->ColumnDefs();
  for (int i = 0; i < cols.GetCount(); ++i) {
    const TVdbColumnDef& col = cols.GetColumnDef(i);
    TVdbDataValue ref;
    col.DataType()->SetReference(ref, rec, static_cast<std::size_t>(col.Position()));
    if (col.Nullable()) col.DataType()->SetNull(ref);
  }
}

std::vector<std::int32_t> TVdbQueryExecutionPlan::AccessOrder(int pos) {
  TVdbRelation& relation = *FRelations[static_cast<std::size_t>(pos)].Relation;
  std::vector<std::int32_t> order;
  bool outer = false;
  for (const auto& r : FRelations) outer = outer || r.Join == pjRightOuter || r.Join == pjFullOuter;
  if (pos == 0 && FFilter && !outer) {
    std::vector<std::uint8_t> lower, upper;
    const TVdbIndexNo best = VdbFindBestIndexAndBounds(*FFilter, relation, lower, upper);
    if (best != kVdbNoIndex) {
      // The index range holds every record the WHERE condition can accept.
      TVdbAccessor walker(relation, u"QueryExecPlan");
      if (walker.SetAccess(best) < 0 || walker.SetRange(best, lower, upper) < 0) throw EVdbEngine(VDB_INTERNAL_UNWIND);
      std::int16_t r = 0;
      for (r = walker.First(); r == 0; r = walker.Next()) order.push_back(walker.RecordNo());
      if (r < 0 && r != -errRecordNotFound) throw EVdbEngine(VDB_INTERNAL_UNWIND);
      return order;
    }
  }
  for (std::int32_t rec = relation.GetFirstRecordNo(); rec > 0; rec = relation.GetNextRecordNo(rec)) order.push_back(rec);
  return order;
}

bool TVdbQueryExecutionPlan::OnHolds(int pos) {
  const auto& on = FRelations[static_cast<std::size_t>(pos)].On;
  return !on || on->Evaluate() == vtTrue;
}

bool TVdbQueryExecutionPlan::FilterHolds() {
  ++FRowAccessCount;
  return !FFilter || FFilter->Evaluate() == vtTrue;
}

void TVdbQueryExecutionPlan::PositionOn(std::span<const std::int32_t> row) {
  for (std::size_t i = 0; i < row.size() && i < FRelations.size(); ++i) ReadInto(static_cast<int>(i), row[i]);
}

void TVdbQueryExecutionPlan::RestoreRecords(const std::vector<std::vector<std::uint8_t>>& records,
                                            const std::vector<std::int32_t>& row) {
  FRecords = records;
  FRow = row;
}

std::vector<std::uint8_t> TVdbQueryExecutionPlan::LoadBlob(int pos, int fieldNo) {
  const auto p = static_cast<std::size_t>(pos);
  if (FRow[p] <= 0) return {};
  auto* table = dynamic_cast<TVdbBaseTable*>(FRelations[p].Relation);
  if (table == nullptr) return {};
  const TVdbColumnDef& col = table->ColumnDefs().GetColumnDef(fieldNo);
  TVdbDataValue ref;
  col.DataType()->SetReference(ref, FRecords[p], static_cast<std::size_t>(col.Position()));
  const auto block = static_cast<std::int32_t>(col.DataType()->IsNull(ref) ? 0 : col.DataType()->GetInteger(ref));
  if (block <= 0) return {};
  if (col.ColumnType() == vctMemo) {
    if (table->MemoFile() == nullptr) return {};
    const std::string text = table->MemoFile()->ReadMemo(block);
    return {text.begin(), text.end()};
  }
  if (table->BlobFile() == nullptr) return {};
  return table->BlobFile()->ReadData(block);
}

void TVdbQueryExecutionPlan::Run(const std::function<bool()>& row) {
  FRowAccessCount = 0;
  const int n = RelationCount();
  if (n == 0) return;
  if (n == 1) {
    for (std::int32_t rec : AccessOrder(0)) {
      ReadInto(0, rec);
      if (!FilterHolds()) continue;
      if (!row()) return;
    }
    return;
  }
  // Combinations of the relations joined so far, built left-deep: each step joins the next
  // relation to every combination of the ones before it.
  std::vector<std::vector<std::int32_t>> combos;
  for (std::int32_t rec : AccessOrder(0)) {
    ReadInto(0, rec);
    if (FEarlyFilter && !StepHolds(0)) continue;
    combos.push_back({rec});
  }
  for (int pos = 1; pos < n; ++pos) {
    const TVdbPlanJoin join = FRelations[static_cast<std::size_t>(pos)].Join;
    const bool last = pos + 1 == n;
    const std::vector<std::int32_t> right = AccessOrder(pos);
    std::vector<bool> rightMatched(right.size(), false);
    std::vector<std::vector<std::int32_t>> next;
    bool stop = false;
    // The last step hands its combinations over as it finds them.
    auto emit = [&](std::vector<std::int32_t>&& c, bool positioned) {
      if (!last) {
        next.push_back(std::move(c));
        return;
      }
      if (!positioned) PositionOn(c);
      if (!StepHolds(pos)) return;
      if (!row()) stop = true;
    };
    for (const auto& left : combos) {
      if (stop) return;
      PositionOn(left);
      bool matched = false;
      for (std::size_t j = 0; j < right.size() && !stop; ++j) {
        ReadInto(pos, right[j]);
        if (!OnHolds(pos)) continue;
        matched = true;
        rightMatched[j] = true;
        if (!last && FEarlyFilter && !StepHolds(pos)) continue;
        auto c = left;
        c.push_back(right[j]);
        emit(std::move(c), true);
      }
      if (!matched && (join == pjLeftOuter || join == pjFullOuter)) {
        auto c = left;
        c.push_back(0);
        emit(std::move(c), false);
      }
    }
    if (join == pjRightOuter || join == pjFullOuter) {
      for (std::size_t j = 0; j < right.size() && !stop; ++j) {
        if (rightMatched[j]) continue;
        std::vector<std::int32_t> c(static_cast<std::size_t>(pos), 0);
        c.push_back(right[j]);
        emit(std::move(c), false);
      }
    }
    if (stop) return;
    combos = std::move(next);
  }
}

}  // namespace vdb
