#include "sql/VdbCommand.h"

#include <algorithm>
#include <functional>
#include <map>
#include <optional>

#include "base/VdbAscii.h"
#include "base/VdbErrorCodes.h"
#include "base/VdbErrors.h"
#include "session/VdbCatalog.h"
#include "tables/VdbBaseTable.h"
#include "types/VdbCommon.h"
#include "types/vuCodePage.h"

namespace vdb {

namespace {

constexpr int kLevel = 6;

// The table name without directory and extension, as columns are qualified with it.
std::u16string BareName(std::u16string_view name) {
  const std::size_t slash = name.find_last_of(u"/\\");
  if (slash != std::u16string_view::npos) name = name.substr(slash + 1);
  const std::size_t dot = name.rfind(u'.');
  if (dot != std::u16string_view::npos && dot > 0) name = name.substr(0, dot);
  return std::u16string(name);
}

template <class F>
void VisitSubQueries(TVdbSearchCondition& c, const F& visit);

// Calls `visit` for every sub-query of conditions inside `e` (CASE conditions), not for those
// inside the sub-queries themselves.
template <class F>
void VisitSubQueries(TVdbExpression& e, const F& visit) {
  for (auto& t : e.Terms) {
    for (auto& f : t->Factors) {
      if (auto* c = dynamic_cast<TVdbSqlCaseOperation*>(f.get())) {
        for (auto& w : c->WhenConditions) VisitSubQueries(*w, visit);
        for (auto& x : c->ThenExpressions) VisitSubQueries(*x, visit);
        continue;
      }
      auto* sf = dynamic_cast<TVdbSimpleFactor*>(f.get());
      if (sf == nullptr) continue;
      if (sf->Type() == sftExpression) VisitSubQueries(*sf->Expression(), visit);
      if (TVdbFunctionCall* call = sf->FunctionCall())
        for (auto& a : call->Arguments) VisitSubQueries(*a, visit);
    }
  }
}

template <class F>
void VisitSubQueries(TVdbSearchCondition& c, const F& visit) {
  for (auto& t : c.Terms) {
    for (auto& b : t->Factors) {
      if (auto* q = dynamic_cast<TVdbSqlSubQuery*>(b->SubQuery.get())) visit(*q);
      if (b->SearchCondition) VisitSubQueries(*b->SearchCondition, visit);
      for (TVdbExpression* e : {b->ExpressionLeft.get(), b->ExpressionRight.get(), b->ExpressionRightEx.get()})
        if (e != nullptr) VisitSubQueries(*e, visit);
      for (auto& v : b->ValueSet) VisitSubQueries(*v, visit);
    }
  }
}

void RewriteFactor(std::unique_ptr<TVdbFactor>& slot, std::vector<TVdbAggregateCall>* found);

void RewriteBooleanFactor(TVdbBooleanFactor& f, std::vector<TVdbAggregateCall>* found) {
  if (f.SearchCondition) VdbRewriteCondition(*f.SearchCondition, found);
  if (f.ExpressionLeft) VdbRewriteExpression(*f.ExpressionLeft, found);
  if (f.ExpressionRight) VdbRewriteExpression(*f.ExpressionRight, found);
  if (f.ExpressionRightEx) VdbRewriteExpression(*f.ExpressionRightEx, found);
  for (auto& v : f.ValueSet) VdbRewriteExpression(*v, found);
}

void RewriteFactor(std::unique_ptr<TVdbFactor>& slot, std::vector<TVdbAggregateCall>* found) {
  if (auto* c = dynamic_cast<TVdbSqlCaseOperation*>(slot.get())) {
    for (auto& w : c->WhenConditions) VdbRewriteCondition(*w, found);
    for (auto& t : c->ThenExpressions) VdbRewriteExpression(*t, found);
    return;
  }
  auto* sf = dynamic_cast<TVdbSimpleFactor*>(slot.get());
  if (sf == nullptr) return;
  switch (sf->Type()) {
    case sftParameter: {
      auto r = TVdbSimpleFactor::CreateColumnReference(kVdbParamMark + sf->ColumnNameOrLiteral());
      r->Sign = sf->Sign;
      slot = std::move(r);
      return;
    }
    case sftExpression: VdbRewriteExpression(*sf->Expression(), found); return;
    case sftFunction: {
      TVdbFunctionCall* call = sf->FunctionCall();
      if (!VdbIsAggregateName(call->Name)) {
        for (auto& a : call->Arguments) VdbRewriteExpression(*a, found);
        return;
      }
      if (found == nullptr)
        throw EVdbEngine(errNotSupported, {u"the aggregate " + sf->SqlText() + u" outside a select list or HAVING"});
      TVdbAggregateCall a;
      a.Function = VdbUpperAscii(call->Name);
      a.Argument = call->Arguments.empty()
                       ? TVdbExpression::FromFactor(TVdbSimpleFactor::CreateLiteral(u"1", TVdbSimpleFactor::lkInteger))
                       : std::move(call->Arguments[0]);
      // An aggregate inside an aggregate is refused like one outside a select list.
      VdbRewriteExpression(*a.Argument, nullptr);
      auto r = TVdbSimpleFactor::CreateColumnReference(kVdbAggregateMark + vuIntToStr(static_cast<std::int64_t>(found->size())));
      r->Sign = sf->Sign;
      found->push_back(std::move(a));
      slot = std::move(r);
      return;
    }
    default: return;
  }
}

bool ConditionHasAggregate(const TVdbSearchCondition& c);

bool FactorHasAggregate(const TVdbFactor& f) {
  if (const auto* c = dynamic_cast<const TVdbSqlCaseOperation*>(&f)) {
    for (const auto& w : c->WhenConditions)
      if (ConditionHasAggregate(*w)) return true;
    for (const auto& t : c->ThenExpressions)
      if (VdbHasAggregate(*t)) return true;
    return false;
  }
  const auto* sf = dynamic_cast<const TVdbSimpleFactor*>(&f);
  if (sf == nullptr) return false;
  if (sf->Type() == sftExpression) return VdbHasAggregate(*sf->Expression());
  if (const TVdbFunctionCall* call = sf->FunctionCall()) {
    if (VdbIsAggregateName(call->Name)) return true;
    for (const auto& a : call->Arguments)
      if (VdbHasAggregate(*a)) return true;
  }
  return false;
}

bool ConditionHasAggregate(const TVdbSearchCondition& c) {
  for (const auto& t : c.Terms) {
    for (const auto& f : t->Factors) {
      if (f->SearchCondition && ConditionHasAggregate(*f->SearchCondition)) return true;
      for (const TVdbExpression* e : {f->ExpressionLeft.get(), f->ExpressionRight.get(), f->ExpressionRightEx.get()})
        if (e != nullptr && VdbHasAggregate(*e)) return true;
      for (const auto& v : f->ValueSet)
        if (VdbHasAggregate(*v)) return true;
    }
  }
  return false;
}

// The accumulators of one aggregate in one group.
struct TAccumulator {
  std::int64_t Count = 0;
  std::int64_t IntSum = 0;
  double FloatSum = 0;
  TVdbDataValue Extreme;  // MIN/MAX so far; empty: none
};

enum TAggregateKind : std::uint8_t { akCount, akSum, akAvg, akMin, akMax };

struct TAggregate {
  TAggregateKind Kind = akCount;
  std::unique_ptr<TVdbExpression> Argument;
  const TVdbDataType* ArgType = nullptr;
  bool IntegerSum = false;
};

TAggregateKind KindOf(std::u16string_view name) {
  if (name == u"COUNT") return akCount;
  if (name == u"SUM") return akSum;
  if (name == u"AVG") return akAvg;
  if (name == u"MIN") return akMin;
  return akMax;
}

void Accumulate(TAggregate& a, TAccumulator& acc) {
  const TVdbDataValue& v = a.Argument->Calculate();
  const TVdbDataType& t = *a.Argument->DataType();
  if (v.IsEmpty() || t.IsNull(v)) return;
  switch (a.Kind) {
    case akCount: ++acc.Count; break;
    case akSum:
    case akAvg:
      ++acc.Count;
      if (a.IntegerSum) {
        acc.IntSum += t.GetInteger(v);
      } else {
        acc.FloatSum += t.GetDouble(v);
      }
      break;
    case akMin:
    case akMax: {
      ++acc.Count;
      if (acc.Extreme.IsEmpty()) {
        acc.Extreme = VdbOwnedValue(v, t);
        break;
      }
      const int c = VdbCompareValues(v, acc.Extreme, t);
      if ((a.Kind == akMin && c < 0) || (a.Kind == akMax && c > 0)) acc.Extreme = VdbOwnedValue(v, t);
      break;
    }
  }
}

void ReadAccumulator(const TAggregate& a, const TAccumulator& acc, TVdbAggregateSlot& slot) {
  slot.Value.Clear();
  switch (a.Kind) {
    case akCount:
      slot.Type->InitValue(slot.Value);
      slot.Type->SetInteger(slot.Value, acc.Count);
      break;
    case akSum:
      if (acc.Count == 0) break;
      slot.Type->InitValue(slot.Value);
      if (a.IntegerSum) {
        slot.Type->SetInteger(slot.Value, acc.IntSum);
      } else {
        slot.Type->SetDouble(slot.Value, acc.FloatSum);
      }
      break;
    case akAvg:
      if (acc.Count == 0) break;
      slot.Type->InitValue(slot.Value);
      slot.Type->SetDouble(slot.Value, (a.IntegerSum ? static_cast<double>(acc.IntSum) : acc.FloatSum) /
                                           static_cast<double>(acc.Count));
      break;
    case akMin:
    case akMax:
      // The extreme is held in the argument's type, the slot's is its nullable form.
      if (!acc.Extreme.IsEmpty()) {
        slot.Type->InitValue(slot.Value);
        slot.Type->Assign(slot.Value, acc.Extreme, *a.ArgType);
      }
      break;
  }
}

// One select element of a query being evaluated.
struct TElement {
  std::unique_ptr<TVdbExpression> Expression;
  std::u16string Label;
  std::u16string Text;      // SQL text before rewriting
  int BaseRltnPos = -1;     // a plain column: where it comes from
  int BaseFieldNo = -1;
  bool Aggregated = false;
};

// Orders group keys (NULL keys are equal: they form one group).
struct TKeyLess {
  const std::vector<const TVdbDataType*>* Types;
  bool operator()(const std::vector<TVdbDataValue>& a, const std::vector<TVdbDataValue>& b) const {
    for (std::size_t i = 0; i < a.size(); ++i) {
      const int c = VdbCompareValues(a[i], b[i], *(*Types)[i]);
      if (c != 0) return c < 0;
    }
    return false;
  }
};

struct TGroup {
  std::vector<TAccumulator> Accumulators;
  std::vector<std::vector<std::uint8_t>> Records;
  std::vector<std::int32_t> Row;
};

}  // namespace

bool VdbIsAggregateName(std::u16string_view name) {
  const std::u16string n = VdbUpperAscii(name);
  return n == u"COUNT" || n == u"SUM" || n == u"AVG" || n == u"MIN" || n == u"MAX";
}

void VdbRewriteExpression(TVdbExpression& e, std::vector<TVdbAggregateCall>* found) {
  for (auto& t : e.Terms)
    for (auto& f : t->Factors) RewriteFactor(f, found);
}

void VdbRewriteCondition(TVdbSearchCondition& c, std::vector<TVdbAggregateCall>* found) {
  for (auto& t : c.Terms)
    for (auto& f : t->Factors) RewriteBooleanFactor(*f, found);
}

bool VdbHasAggregate(const TVdbExpression& e) {
  for (const auto& t : e.Terms)
    for (const auto& f : t->Factors)
      if (FactorHasAggregate(*f)) return true;
  return false;
}

// ---------------------------------------------------------------------------------------------
// TVdbCommand

TVdbRltnIdx TVdbCommand::OpenRelation(const std::u16string& tableName, bool writable) {
  const TVdbRltnIdx open = FCatalog.FindRltnIdx(tableName);
  if (open > 0) return open;
  const std::int16_t r = FCatalog.TryOpenTable(tableName, u"", kVdbRightsWriteMask, writable);
  if (r < 0) throw EVdbEngine(VDB_INTERNAL_UNWIND);
  return r;
}

// ---------------------------------------------------------------------------------------------
// TVdbQuery

TVdbQuery::TVdbQuery(TVdbCatalog& catalog, std::unique_ptr<TVdbQuerySpec> spec)
    : TVdbCommand(catalog), FSpec(std::move(spec)), FResult(catalog) {}

TVdbQuery::~TVdbQuery() { Unprepare(); }

namespace {

// The tables a query reads, those of its sub-queries included.
void CollectTables(TVdbQuerySpec& q, std::vector<std::u16string>& names) {
  if (q.Select) {
    for (auto& r : q.Select->From) {
      names.push_back(r.TableName);
      if (r.On) VdbCollectSubQueryTables(*r.On, names);
    }
    if (q.Select->Where) VdbCollectSubQueryTables(*q.Select->Where, names);
    if (q.Select->Having) VdbCollectSubQueryTables(*q.Select->Having, names);
    for (auto& e : q.Select->Elements)
      if (e.Expression) VisitSubQueries(*e.Expression, [&](TVdbSqlSubQuery& sub) {
          CollectTables(*VdbQuerySpecOf(*sub.Query), names);
        });
    return;
  }
  if (q.Left) CollectTables(*q.Left, names);
  if (q.Right) CollectTables(*q.Right, names);
}

// The truth of `left op right` for values of two types.
TVdbTruth CompareValues(const TVdbDataValue& left, const TVdbDataType& leftType, const TVdbDataValue& right,
                        const TVdbDataType& rightType, TVdbComparisonOperator op) {
  if (left.IsEmpty() || right.IsEmpty()) return vtUnknown;
  if (op < tcoEqual || op > tcoIn || op == tcoEqualNull)
    throw EVdbEngine(errNotSupported, {u"this comparison with a sub-query"});
  return VdbComparisonTruth(TVdbDataType::Compare(left, right, leftType, rightType), op);
}

// Evaluates the sub-query of EXISTS, IN and the comparisons of a condition. An uncorrelated
// sub-query is evaluated once per preparation; a correlated one (it reads columns of the
// enclosing query) for every row it is asked about.
class TSubQueryEvaluator final : public IVdbSubQueryEvaluator {
 public:
  TSubQueryEvaluator(TVdbCatalog& catalog, TVdbSqlVariableList* variables)
      : FCatalog(catalog), FVariables(variables) {}

  void Prepare(TVdbSqlQuery& query, TVdbPrepareContext& context) override {
    FQuery = std::make_unique<TVdbQuery>(FCatalog, VdbQuerySpecOf(query));
    FQuery->SetOuter(context.Columns);
    FQuery->Prepare(FVariables != nullptr ? *FVariables : FNoVariables);
    FText = query.GetSqlText();
    FRows.reset();
  }

  TVdbTruth Test(TVdbSqlQuery&, TVdbComparisonOperator op, TVdbQuantifier quantifier, const TVdbDataValue* left,
                 const TVdbDataType* leftType) override {
    if (!FRows || FQuery->IsCorrelated()) FRows = FQuery->Evaluate();
    const TVdbRowSet& set = *FRows;
    if (left == nullptr) return set.Rows.empty() ? vtFalse : vtTrue;  // EXISTS
    if (set.Columns.size() != 1)
      throw EVdbEngine(errInvalidSearchCondition, {u"the sub-query (" + FText + u") must give one column"});
    const TVdbDataType& rightType = *set.Columns[0].Type;
    if (quantifier == tqNone && op != tcoIn) {
      if (set.Rows.size() > 1)
        throw EVdbEngine(errInvalidSearchCondition, {u"the sub-query (" + FText + u") gives more than one row"});
      if (set.Rows.empty()) return vtUnknown;
      return CompareValues(*left, *leftType, set.Rows[0].Values[0], rightType, op);
    }
    // IN is = ANY; ALL holds over no rows, ANY does not.
    const bool all = quantifier == tqAll;
    TVdbTruth result = all ? vtTrue : vtFalse;
    for (const auto& row : set.Rows) {
      const TVdbTruth t = CompareValues(*left, *leftType, row.Values[0], rightType, op);
      if (t == (all ? vtFalse : vtTrue)) return t;
      if (t == vtUnknown) result = vtUnknown;
    }
    return result;
  }

 private:
  TVdbCatalog& FCatalog;
  TVdbSqlVariableList* FVariables;
  TVdbSqlVariableList FNoVariables;
  std::unique_ptr<TVdbQuery> FQuery;
  std::u16string FText;
  std::optional<TVdbRowSet> FRows;
};

// Gives every sub-query inside the tree an evaluator of this statement.
void InstallSubQueries(TVdbSearchCondition& c, TVdbCatalog& catalog, TVdbSqlVariableList* variables) {
  VisitSubQueries(c, [&](TVdbSqlSubQuery& q) { q.Evaluator = std::make_unique<TSubQueryEvaluator>(catalog, variables); });
}
void InstallSubQueries(TVdbExpression& e, TVdbCatalog& catalog, TVdbSqlVariableList* variables) {
  VisitSubQueries(e, [&](TVdbSqlSubQuery& q) { q.Evaluator = std::make_unique<TSubQueryEvaluator>(catalog, variables); });
}

}  // namespace

void VdbCollectSubQueryTables(TVdbSearchCondition& c, std::vector<std::u16string>& names) {
  VisitSubQueries(c, [&](TVdbSqlSubQuery& sub) { CollectTables(*VdbQuerySpecOf(*sub.Query), names); });
}

void TVdbQuery::Prepare(TVdbSqlVariableList& variables) {
  FVariables = &variables;
  FReadRelations.clear();
  std::vector<std::u16string> names;
  CollectTables(*FSpec, names);
  for (const auto& n : names) {
    const TVdbRltnIdx idx = OpenRelation(n, false);
    if (std::find(FReadRelations.begin(), FReadRelations.end(), idx) == FReadRelations.end())
      FReadRelations.push_back(idx);
  }
}

void TVdbQuery::GetTouchedRelations(TVdbTouchedRelations& touched) const {
  for (TVdbRltnIdx idx : FReadRelations) touched.Read.push_back(idx);
  if (FResult.RltnIdx() > 0) touched.Managed.push_back(FResult.RltnIdx());
}

std::u16string TVdbQuery::ResultBaseName() const {
  if (!FSpec->Select) return u"SetOpResult";
  const TVdbSelectSpec& s = *FSpec->Select;
  bool aggregates = false;
  for (const auto& e : s.Elements) aggregates = aggregates || (e.Expression && VdbHasAggregate(*e.Expression));
  return (aggregates || s.Distinct || !s.GroupBy.empty()) ? u"GroupResultSet" : u"SimpleResultSet";
}

std::int32_t TVdbQuery::Execute() {
  TVdbRowSet set = Evaluate();
  FResult.Release();
  FResult.Create(ResultBaseName(), set.Columns);
  for (const auto& row : set.Rows) FResult.Append(row, set.Columns);
  return 0;
}

void TVdbQuery::Unprepare() { FResult.Release(); }

TVdbRltnIdx TVdbQuery::ResultRltnIdx() const { return FResult.RltnIdx(); }

TVdbRowSet TVdbQuery::Evaluate() { return EvaluateQuery(*FSpec); }

namespace {

// The result columns' positions for ORDER BY: a 1-based position, a result column name, or
// Table.Column of a plain column.
std::vector<TVdbRowOrder::TKey> SortKeys(const std::vector<TVdbSortSpec>& orderBy,
                                         const std::vector<TVdbResultColumn>& columns,
                                         const std::vector<std::u16string>* baseNames) {
  std::vector<TVdbRowOrder::TKey> keys;
  for (const auto& s : orderBy) {
    int found = -1;
    const std::u16string& n = s.ColumnNameOrIdx;
    if (!n.empty() && std::all_of(n.begin(), n.end(), [](char16_t c) { return c >= u'0' && c <= u'9'; })) {
      int pos = 0;
      for (char16_t c : n) pos = pos * 10 + (c - u'0');
      if (pos >= 1 && pos <= static_cast<int>(columns.size())) found = pos - 1;
    }
    for (int i = 0; found < 0 && i < static_cast<int>(columns.size()); ++i)
      if (VdbSameName(columns[static_cast<std::size_t>(i)].Name, n)) found = i;
    for (int i = 0; found < 0 && baseNames && i < static_cast<int>(baseNames->size()); ++i)
      if (!(*baseNames)[static_cast<std::size_t>(i)].empty() && VdbSameName((*baseNames)[static_cast<std::size_t>(i)], n))
        found = i;
    if (found < 0) {
      const std::size_t dot = n.rfind(u'.');
      if (dot != std::u16string::npos) {
        const std::u16string_view col = std::u16string_view(n).substr(dot + 1);
        for (int i = 0; found < 0 && i < static_cast<int>(columns.size()); ++i)
          if (VdbSameName(columns[static_cast<std::size_t>(i)].Name, col)) found = i;
      }
    }
    if (found < 0) throw EVdbEngine(errUnknownIdentifier, {n});
    keys.push_back({found, !s.Asc});
  }
  return keys;
}

}  // namespace

namespace {

// The position of result column `name` (Table.Column: the column part), -1 when none.
int FindResultColumn(const TVdbRowSet& set, std::u16string_view name) {
  const std::size_t dot = name.rfind(u'.');
  if (dot != std::u16string_view::npos) name = name.substr(dot + 1);
  for (std::size_t i = 0; i < set.Columns.size(); ++i)
    if (VdbSameName(set.Columns[i].Name, name)) return static_cast<int>(i);
  return -1;
}

// Keeps the columns `keep` of `set` in that order, memo and blob contents with them.
void ProjectColumns(TVdbRowSet& set, const std::vector<int>& keep) {
  std::vector<TVdbResultColumn> columns;
  for (int k : keep) columns.push_back(set.Columns[static_cast<std::size_t>(k)]);
  for (auto& row : set.Rows) {
    TVdbResultRow out;
    for (int k : keep) out.Values.push_back(std::move(row.Values[static_cast<std::size_t>(k)]));
    for (auto& b : row.Blobs) {
      const auto at = std::find(keep.begin(), keep.end(), b.FieldNo - 1);
      if (at == keep.end()) continue;
      b.FieldNo = static_cast<std::int32_t>(at - keep.begin()) + 1;
      out.Blobs.push_back(std::move(b));
    }
    row = std::move(out);
  }
  set.Columns = std::move(columns);
}

// CORRESPONDING: both operands cut to the columns they have in common (or to BY's list).
void MakeCorresponding(const TVdbQuerySpec& spec, TVdbRowSet& left, TVdbRowSet& right) {
  std::vector<int> l, r;
  if (spec.CorrespondingBy.empty()) {
    for (std::size_t i = 0; i < left.Columns.size(); ++i) {
      const int j = FindResultColumn(right, left.Columns[i].Name);
      if (j < 0) continue;
      l.push_back(static_cast<int>(i));
      r.push_back(j);
    }
    if (l.empty()) throw EVdbEngine(errInvalidSearchCondition, {u"CORRESPONDING: the operands have no column name in common"});
  } else {
    for (const auto& name : spec.CorrespondingBy) {
      const int i = FindResultColumn(left, name), j = FindResultColumn(right, name);
      if (i < 0 || j < 0) throw EVdbEngine(errUnknownIdentifier, {name});
      l.push_back(i);
      r.push_back(j);
    }
  }
  ProjectColumns(left, l);
  ProjectColumns(right, r);
}

}  // namespace

TVdbRowSet TVdbQuery::EvaluateQuery(TVdbQuerySpec& spec) {
  if (spec.Select) return EvaluateSelect(*spec.Select, spec.OrderBy);
  TVdbRowSet left = EvaluateQuery(*spec.Left);
  TVdbRowSet right = EvaluateQuery(*spec.Right);
  if (spec.Corresponding) MakeCorresponding(spec, left, right);
  if (left.Columns.size() != right.Columns.size())
    throw EVdbEngine(errNotSupported, {u"a set operation over operands of different column counts"});
  // Both operands in the left one's types.
  for (auto& row : right.Rows) {
    for (std::size_t c = 0; c < row.Values.size(); ++c) {
      const TVdbDataType& to = *left.Columns[c].Type;
      const TVdbDataType& from = *right.Columns[c].Type;
      if (&to == &from || row.Values[c].IsEmpty()) continue;
      TVdbDataValue v;
      to.InitValue(v);
      to.Assign(v, row.Values[c], from);
      row.Values[c] = v;
    }
  }
  TVdbRowSet out;
  out.Columns = left.Columns;
  for (auto& c : out.Columns) c.Definition.Nullable = true;
  std::vector<TVdbRowOrder::TKey> all;
  for (int c = 0; c < static_cast<int>(out.Columns.size()); ++c) all.push_back({c, false});
  const TVdbRowOrder order(out.Columns, all);
  if (spec.Operation == tsoUnion) {
    out.Rows = std::move(left.Rows);
    for (auto& r : right.Rows) out.Rows.push_back(std::move(r));
    if (!spec.All) VdbSortRows(out.Rows, out.Columns, {}, true);
  } else {
    // Rows of the left operand looked up in the sorted right one; ALL counts duplicates.
    std::stable_sort(right.Rows.begin(), right.Rows.end(), order);
    if (!spec.All) VdbSortRows(left.Rows, out.Columns, {}, true);
    std::vector<bool> used(right.Rows.size(), false);
    for (auto& row : left.Rows) {
      auto range = std::equal_range(right.Rows.begin(), right.Rows.end(), row, order);
      bool present = range.first != range.second;
      if (spec.All && present) {
        present = false;
        for (auto it = range.first; it != range.second; ++it) {
          const auto k = static_cast<std::size_t>(it - right.Rows.begin());
          if (used[k]) continue;
          used[k] = true;
          present = true;
          break;
        }
      }
      if ((spec.Operation == tsoIntersect) == present) out.Rows.push_back(std::move(row));
    }
  }
  if (!spec.OrderBy.empty()) {
    const auto keys = SortKeys(spec.OrderBy, out.Columns, nullptr);
    std::stable_sort(out.Rows.begin(), out.Rows.end(), TVdbRowOrder(out.Columns, keys));
  }
  return out;
}

TVdbRowSet TVdbQuery::EvaluateSelect(TVdbSelectSpec& s, const std::vector<TVdbSortSpec>& orderBy) {
  TVdbQueryExecutionPlan plan;
  plan.SetVariables(FVariables);
  plan.SetOuter(FOuter);
  // However the evaluation ends, whether it read the enclosing query is known afterwards.
  struct TCorrelation {
    bool& Correlated;
    const TVdbQueryExecutionPlan& Plan;
    ~TCorrelation() { Correlated = Correlated || Plan.UsesOuter(); }
  } correlation{FCorrelated, plan};
  for (const auto& ref : s.From) {
    TVdbQueryExecutionPlan::TRelationEntry e;
    const TVdbRltnIdx idx = OpenRelation(ref.TableName, false);
    e.Relation = FCatalog.GetRelation(idx);
    e.Name = BareName(ref.TableName);
    e.Alias = ref.Alias.empty() ? e.Name : BareName(ref.Alias);
    e.Join = ref.Join;
    if (ref.On) {
      e.On = ref.On->CreateCopy();
      VdbRewriteCondition(*e.On, nullptr);
      InstallSubQueries(*e.On, FCatalog, FVariables);
    }
    plan.AddRelation(std::move(e));
  }

  // The select list, * and Table.* expanded to the columns of the FROM tables in order.
  std::vector<TElement> elements;
  for (const auto& el : s.Elements) {
    if (!el.Star) {
      TElement e;
      e.Expression = el.Expression->CreateCopy();
      e.Label = el.Label;
      e.Text = el.Expression->SqlText();
      elements.push_back(std::move(e));
      continue;
    }
    bool any = false;
    for (int pos = 0; pos < plan.RelationCount(); ++pos) {
      const auto& r = plan.Relation(pos);
      if (!el.StarTable.empty() && !VdbSameName(BareName(el.StarTable), r.Alias) &&
          !VdbSameName(BareName(el.StarTable), r.Name))
        continue;
      any = true;
      const TVdbColumnDefs& cols = r.Relation->ColumnDefs();
      for (int i = 0; i < cols.GetCount(); ++i) {
        TElement e;
        e.Expression = TVdbExpression::FromFactor(TVdbSimpleFactor::CreateColumnReference(r.Alias + u"." + cols.GetColumnDef(i).Name()));
        e.Text = e.Expression->SqlText();
        e.BaseRltnPos = pos;
        e.BaseFieldNo = i;
        elements.push_back(std::move(e));
      }
    }
    if (!any) throw EVdbEngine(errUnknownIdentifier, {el.StarTable + u".*"});
  }

  bool hasAggregates = false;
  for (auto& e : elements) {
    e.Aggregated = VdbHasAggregate(*e.Expression);
    hasAggregates = hasAggregates || e.Aggregated;
  }
  if (s.Having && ConditionHasAggregate(*s.Having)) hasAggregates = true;
  const bool grouping = hasAggregates || !s.GroupBy.empty() || s.Distinct;
  const bool combined = plan.RelationCount() > 1;

  // Every select element that is not aggregated must be one of the GROUP BY expressions.
  if (hasAggregates) {
    for (const auto& e : elements) {
      if (e.Aggregated) continue;
      bool listed = false;
      for (const auto& g : s.GroupBy) listed = listed || VdbSameName(g->SqlText(), e.Text);
      if (!listed) throw EVdbEngine(errGroupByRule, {e.Text});
    }
  }

  // Plain columns are copied from their record, memo and blob columns included.
  for (auto& e : elements) {
    if (e.BaseRltnPos >= 0 || !e.Expression->IsSingleColumn()) continue;
    const auto* f = static_cast<const TVdbSimpleFactor*>(e.Expression->SingleFactor());
    if (f->Sign != sfsNone) continue;
    int pos = -1, field = -1;
    if (plan.FindBaseColumn(f->ColumnNameOrLiteral(), pos, field)) {
      e.BaseRltnPos = pos;
      e.BaseFieldNo = field;
    }
  }

  // Trees rewritten: parameters and aggregates become internal names of the plan.
  std::vector<TVdbAggregateCall> calls;
  for (auto& e : elements) {
    VdbRewriteExpression(*e.Expression, &calls);
    InstallSubQueries(*e.Expression, FCatalog, FVariables);
  }
  std::unique_ptr<TVdbSearchCondition> having;
  if (s.Having) {
    having = s.Having->CreateCopy();
    VdbRewriteCondition(*having, &calls);
    InstallSubQueries(*having, FCatalog, FVariables);
  }
  if (s.Where) {
    auto where = s.Where->CreateCopy();
    VdbRewriteCondition(*where, nullptr);
    InstallSubQueries(*where, FCatalog, FVariables);
    plan.SetFilter(std::move(where));
  }
  std::vector<std::unique_ptr<TVdbExpression>> groupBy;
  for (const auto& g : s.GroupBy) {
    groupBy.push_back(g->CreateCopy());
    VdbRewriteExpression(*groupBy.back(), nullptr);
  }

  plan.Prepare();
  TVdbPrepareContext context{&plan, 0, TvuFormats::Invariant()};
  std::vector<TAggregate> aggregates;
  plan.AggregateSlots().assign(calls.size(), {});
  for (std::size_t i = 0; i < calls.size(); ++i) {
    TAggregate a;
    a.Kind = KindOf(calls[i].Function);
    a.Argument = std::move(calls[i].Argument);
    a.Argument->Prepare(context);
    a.ArgType = a.Argument->DataType();
    TVdbAggregateSlot& slot = plan.AggregateSlots()[i];
    switch (a.Kind) {
      case akCount: slot.Type = TVdbDataType::GetDataType(vctInteger, false, kLevel); break;
      case akSum:
        if (a.ArgType->IsInteger()) {
          a.IntegerSum = true;
          slot.Type = TVdbDataType::GetDataType(vctBigInt, true, kLevel);
        } else if (a.ArgType->ColumnType() == vctFloat) {
          slot.Type = a.ArgType->GetNullableType(true);
        } else {
          throw EVdbEngine(errTypeMismatch, {u"SUM"});
        }
        break;
      case akAvg:
        if (!a.ArgType->IsNumeric()) throw EVdbEngine(errTypeMismatch, {u"AVG"});
        a.IntegerSum = a.ArgType->IsInteger();
        slot.Type = TVdbDataType::GetFloatType(vctFloat, true, 0, kLevel);
        break;
      case akMin:
      case akMax: slot.Type = a.ArgType->GetNullableType(true); break;
    }
    aggregates.push_back(std::move(a));
  }
  for (auto& e : elements)
    if (e.BaseRltnPos < 0) e.Expression->Prepare(context);
  if (having) having->Prepare(context);
  std::vector<const TVdbDataType*> keyTypes;
  for (auto& g : groupBy) {
    g->Prepare(context);
    keyTypes.push_back(g->DataType());
  }

  // The result schema.
  TVdbRowSet out;
  std::vector<std::u16string> names;
  std::vector<std::u16string> baseNames;
  for (const auto& e : elements) {
    TVdbResultColumn c;
    bool nullable = true;
    if (e.BaseRltnPos >= 0) {
      const TVdbColumnDef& col = plan.Relation(e.BaseRltnPos).Relation->ColumnDefs().GetColumnDef(e.BaseFieldNo);
      c.Type = col.DataType();
      nullable = (grouping || combined) ? true : col.Nullable();
      names.push_back(e.Label.empty() ? col.Name() : e.Label);
      baseNames.push_back(plan.Relation(e.BaseRltnPos).Alias + u"." + col.Name());
    } else {
      c.Type = e.Expression->DataType();
      nullable = c.Type->Nullable() || grouping || combined;
      names.push_back(e.Label.empty() ? e.Text : e.Label);
      baseNames.emplace_back();
    }
    c.Definition = VdbResultColumnDefinition(u"", *c.Type, nullable);
    out.Columns.push_back(std::move(c));
  }
  VdbMakeUniqueNames(names);
  for (std::size_t i = 0; i < names.size(); ++i) {
    out.Columns[i].Name = names[i];
    out.Columns[i].Definition.Name = names[i];
  }
  // COUNT is never NULL.
  for (std::size_t i = 0; i < elements.size(); ++i) {
    if (elements[i].BaseRltnPos < 0 && !out.Columns[i].Type->Nullable() && hasAggregates)
      out.Columns[i].Definition.Nullable = out.Columns[i].Type->Nullable();
  }

  // One result row from the current records (and the aggregate slots).
  auto makeRow = [&]() {
    TVdbResultRow row;
    for (std::size_t i = 0; i < elements.size(); ++i) {
      const TElement& e = elements[i];
      if (e.BaseRltnPos >= 0) {
        const TVdbColumnDef& col = plan.Relation(e.BaseRltnPos).Relation->ColumnDefs().GetColumnDef(e.BaseFieldNo);
        const TVdbColumnType code = col.ColumnType();
        if (code == vctMemo || code == vctWideMemo || code == vctBlob) {
          row.Values.emplace_back();
          auto bytes = plan.LoadBlob(e.BaseRltnPos, e.BaseFieldNo);
          if (!bytes.empty()) row.Blobs.push_back({static_cast<std::int32_t>(i + 1), std::move(bytes), false});
          continue;
        }
        TVdbDataValue ref;
        auto& rec = const_cast<std::vector<std::uint8_t>&>(plan.Records()[static_cast<std::size_t>(e.BaseRltnPos)]);
        col.DataType()->SetReference(ref, rec, static_cast<std::size_t>(col.Position()));
        row.Values.push_back(VdbOwnedValue(ref, *col.DataType()));
      } else {
        row.Values.push_back(VdbOwnedValue(e.Expression->Calculate(), *e.Expression->DataType()));
      }
    }
    return row;
  };

  const std::vector<TVdbRowOrder::TKey> keys = SortKeys(orderBy, out.Columns, &baseNames);
  const auto top = static_cast<std::size_t>(s.Top);

  if (!grouping) {
    const bool stopEarly = top > 0 && orderBy.empty();
    plan.Run([&]() {
      out.Rows.push_back(makeRow());
      return !(stopEarly && out.Rows.size() >= top);
    });
    if (!keys.empty()) std::stable_sort(out.Rows.begin(), out.Rows.end(), TVdbRowOrder(out.Columns, keys));
    if (top > 0 && out.Rows.size() > top) out.Rows.resize(top);
    return out;
  }

  if (!hasAggregates && s.GroupBy.empty()) {
    // DISTINCT alone: every row, duplicates dropped.
    plan.Run([&]() {
      out.Rows.push_back(makeRow());
      return true;
    });
    VdbSortRows(out.Rows, out.Columns, keys, true);
    if (top > 0 && out.Rows.size() > top) out.Rows.resize(top);
    return out;
  }

  // Groups in key order; a group keeps its last row for the non-aggregated elements.
  std::vector<TGroup> groups;
  std::map<std::vector<TVdbDataValue>, std::size_t, TKeyLess> index(TKeyLess{&keyTypes});
  plan.Run([&]() {
    std::vector<TVdbDataValue> key;
    key.reserve(groupBy.size());
    for (auto& g : groupBy) key.push_back(VdbOwnedValue(g->Calculate(), *g->DataType()));
    auto it = index.find(key);
    if (it == index.end()) {
      it = index.emplace(std::move(key), groups.size()).first;
      groups.emplace_back();
      groups.back().Accumulators.resize(aggregates.size());
    }
    TGroup& g = groups[it->second];
    for (std::size_t i = 0; i < aggregates.size(); ++i) Accumulate(aggregates[i], g.Accumulators[i]);
    g.Records = plan.Records();
    g.Row = plan.CurrentRow();
    return true;
  });
  // Without GROUP BY the whole input is one group, also when it is empty.
  if (s.GroupBy.empty() && groups.empty()) {
    TGroup g;
    g.Accumulators.resize(aggregates.size());
    g.Records = plan.Records();
    g.Row.assign(static_cast<std::size_t>(plan.RelationCount()), 0);
    groups.push_back(std::move(g));
    index.emplace(std::vector<TVdbDataValue>{}, 0);
  }
  std::size_t emitted = 0;
  for (const auto& [key, gi] : index) {
    TGroup& g = groups[gi];
    plan.RestoreRecords(g.Records, g.Row);
    for (std::size_t i = 0; i < aggregates.size(); ++i)
      ReadAccumulator(aggregates[i], g.Accumulators[i], plan.AggregateSlots()[i]);
    if (having && having->Evaluate() != vtTrue) continue;
    out.Rows.push_back(makeRow());
    ++emitted;
    if (hasAggregates && top > 0 && orderBy.empty() && emitted >= top) break;
  }
  if (hasAggregates) {
    // Read through an index on ORDER BY, else on the first result column.
    std::vector<TVdbRowOrder::TKey> order = keys;
    if (order.empty() && !out.Columns.empty()) order.push_back({0, false});
    std::stable_sort(out.Rows.begin(), out.Rows.end(), TVdbRowOrder(out.Columns, order));
    if (top > 0 && out.Rows.size() > top) out.Rows.resize(top);
  } else {
    VdbSortRows(out.Rows, out.Columns, keys, true);
    if (top > 0 && out.Rows.size() > top) out.Rows.resize(top);
  }
  return out;
}

// ---------------------------------------------------------------------------------------------
// Writing commands

namespace {

// Evaluates `e` (prepared against `plan`) and stores it into column `fieldNo` of `record`.
void AssignColumn(const TVdbColumnDefs& cols, int fieldNo, std::span<std::uint8_t> record, const TVdbDataValue& v,
                  const TVdbDataType& type) {
  const TVdbColumnDef& col = cols.GetColumnDef(fieldNo);
  TVdbDataValue ref;
  col.DataType()->SetReference(ref, record, static_cast<std::size_t>(col.Position()));
  if (v.IsEmpty() || type.IsNull(v)) {
    if (!col.Nullable()) throw EVdbEngine(errNullNotAllowed, {col.Name()});
    col.DataType()->SetNull(ref);
    return;
  }
  col.DataType()->Assign(ref, v, type);
}

void Check(std::int32_t r) {
  if (r < 0) throw EVdbEngine(VDB_INTERNAL_UNWIND);
}

bool IsBlobColumn(const TVdbColumnDef& col) {
  const TVdbColumnType code = col.ColumnType();
  return code == vctMemo || code == vctWideMemo || code == vctBlob;
}

// A memo (in the column's code page) or wide memo (UTF-16LE) gets the text of `v` as the
// pending value of its field; NULL empties it. Blob columns take no SQL value.
void AssignBlobColumn(TVdbAccessor& target, const TVdbColumnDef& col, int fieldNo, const TVdbDataValue& v,
                      const TVdbDataType& type) {
  std::vector<std::uint8_t> bytes;
  if (!v.IsEmpty() && !type.IsNull(v)) {
    if (col.ColumnType() == vctBlob)
      throw EVdbEngine(errNotSupported, {u"an SQL value for the blob column \"" + col.Name() + u"\""});
    const std::u16string text = type.GetWideString(v);
    if (col.ColumnType() == vctMemo) {
      const auto& memo = static_cast<const TVdbStringType&>(*col.DataType());
      const std::string ansi = TvuCodePage::FromUnicode(memo.Collation().CodePage(), text);
      bytes.assign(ansi.begin(), ansi.end());
    } else {
      for (char16_t c : text) {
        bytes.push_back(static_cast<std::uint8_t>(c & 0xFF));
        bytes.push_back(static_cast<std::uint8_t>(c >> 8));
      }
    }
  }
  Check(target.InitSetBlob(fieldNo + 1, static_cast<std::int32_t>(bytes.size())));
  if (!bytes.empty()) Check(target.SetBlobChunk(0, bytes));
  target.DoneSetBlob();
}

// Writes value i of `values` (of type `types[i]`) into column `targets[i]` of the record the
// accessor holds appended or in edit, then posts it; any failure cancels the record. An
// appended record of a stored table starts as the table makes new records (its record id
// drawn, its dates valid).
void WriteRecord(TVdbAccessor& target, const TVdbColumnDefs& cols, std::vector<std::uint8_t>& record,
                 const std::vector<int>& targets, const std::vector<TVdbDataValue>& values,
                 const std::vector<const TVdbDataType*>& types) {
  try {
    Check(target.GetRecord(record));
    if (target.EditState() == esAppend)
      if (auto* table = dynamic_cast<TVdbBaseTable*>(&target.Relation())) table->InitRecord(record, true);
    for (std::size_t i = 0; i < values.size() && i < targets.size(); ++i)
      if (!IsBlobColumn(cols.GetColumnDef(targets[i]))) AssignColumn(cols, targets[i], record, values[i], *types[i]);
    Check(target.SetRecord(record));
    for (std::size_t i = 0; i < values.size() && i < targets.size(); ++i)
      if (IsBlobColumn(cols.GetColumnDef(targets[i])))
        AssignBlobColumn(target, cols.GetColumnDef(targets[i]), targets[i], values[i], *types[i]);
    Check(target.Post());
  } catch (...) {
    static_cast<void>(target.Cancel());
    throw;
  }
}

}  // namespace

TVdbInsertCommand::TVdbInsertCommand(TVdbCatalog& catalog, std::unique_ptr<TVdbInsertSpec> spec)
    : TVdbCommand(catalog), FSpec(std::move(spec)) {}

void TVdbInsertCommand::Prepare(TVdbSqlVariableList& variables) {
  FVariables = &variables;
  FTarget = OpenRelation(FSpec->TableName, true);
  TVdbRelation& r = *FCatalog.GetRelation(FTarget);
  for (const auto& c : FSpec->Columns)
    if (r.ColumnDefs().Find(c) < 0) throw EVdbEngine(errUnknownIdentifier, {c});
  if (FSpec->Source) {
    FSource = std::make_unique<TVdbQuery>(FCatalog, std::move(FSpec->Source));
    FSource->Prepare(variables);
  }
}

void TVdbInsertCommand::GetTouchedRelations(TVdbTouchedRelations& touched) const {
  touched.Write.push_back(FTarget);
  if (FSource) FSource->GetTouchedRelations(touched);
}

std::int32_t TVdbInsertCommand::Execute() {
  TVdbRelation& r = *FCatalog.GetRelation(FTarget);
  const TVdbColumnDefs& cols = r.ColumnDefs();
  std::vector<int> targets;
  if (FSpec->Columns.empty()) {
    for (int i = 0; i < cols.GetCount(); ++i) targets.push_back(i);
  } else {
    for (const auto& c : FSpec->Columns) targets.push_back(cols.Find(c));
  }
  std::vector<TVdbResultRow> rows;
  std::vector<const TVdbDataType*> types;
  if (FSource) {
    TVdbRowSet set = FSource->Evaluate();
    for (const auto& c : set.Columns) types.push_back(c.Type);
    rows = std::move(set.Rows);
  } else {
    TVdbQueryExecutionPlan plan;
    plan.SetVariables(FVariables);
    TVdbPrepareContext context{&plan, 0, TvuFormats::Invariant()};
    TVdbResultRow row;
    for (auto& v : FSpec->Values) {
      auto e = v->CreateCopy();
      VdbRewriteExpression(*e, nullptr);
      e->Prepare(context);
      row.Values.push_back(VdbOwnedValue(e->Calculate(), *e->DataType()));
      types.push_back(e->DataType());
    }
    rows.push_back(std::move(row));
  }
  std::int32_t count = 0;
  TVdbAccessor target(r, u"InsertCommand_Target");
  std::vector<std::uint8_t> record(static_cast<std::size_t>(r.GetRecordSize()));
  for (const auto& row : rows) {
    Check(target.Append());
    WriteRecord(target, cols, record, targets, row.Values, types);
    ++count;
  }
  return count;
}

TVdbUpdateCommand::TVdbUpdateCommand(TVdbCatalog& catalog, std::unique_ptr<TVdbUpdateSpec> spec)
    : TVdbCommand(catalog), FSpec(std::move(spec)) {}

namespace {

// Opens the tables `names` lists for reading, each once, leaving out `except`.
std::vector<TVdbRltnIdx> OpenForReading(const std::vector<std::u16string>& names, TVdbRltnIdx except,
                                        const std::function<TVdbRltnIdx(const std::u16string&)>& open) {
  std::vector<TVdbRltnIdx> out;
  for (const auto& n : names) {
    const TVdbRltnIdx idx = open(n);
    if (idx != except && std::find(out.begin(), out.end(), idx) == out.end()) out.push_back(idx);
  }
  return out;
}

// The value of a sub-query used as a value: the first column of its only row, NULL (empty)
// when it gives no row.
TVdbDataValue ScalarValue(TVdbQuery& q, const TVdbDataType*& type) {
  TVdbRowSet set = q.Evaluate();
  const std::u16string text = u"(" + q.Spec().SqlText + u")";
  if (set.Columns.size() != 1) throw EVdbEngine(errValueOutOfRange, {text + u" must give one column"});
  if (set.Rows.size() > 1) throw EVdbEngine(errValueOutOfRange, {text + u" gives more than one row"});
  type = set.Columns[0].Type;
  if (set.Rows.empty()) return {};
  return std::move(set.Rows[0].Values[0]);
}

}  // namespace

void TVdbUpdateCommand::Prepare(TVdbSqlVariableList& variables) {
  FVariables = &variables;
  FTarget = OpenRelation(FSpec->TableName, true);
  TVdbRelation& r = *FCatalog.GetRelation(FTarget);
  for (const auto& c : FSpec->Columns)
    if (r.ColumnDefs().Find(c) < 0) throw EVdbEngine(errUnknownIdentifier, {c});
  std::vector<std::u16string> names;
  if (FSpec->Where) VdbCollectSubQueryTables(*FSpec->Where, names);
  for (const auto& q : FSpec->SubQueries)
    if (q) {
      auto spec = VdbQuerySpecOf(*q);
      CollectTables(*spec, names);
    }
  FReadRelations = OpenForReading(names, FTarget, [&](const std::u16string& n) { return OpenRelation(n, false); });
}

void TVdbUpdateCommand::GetTouchedRelations(TVdbTouchedRelations& touched) const {
  touched.Write.push_back(FTarget);
  for (TVdbRltnIdx idx : FReadRelations) touched.Read.push_back(idx);
}

std::int32_t TVdbUpdateCommand::Execute() {
  TVdbRelation& r = *FCatalog.GetRelation(FTarget);
  const TVdbColumnDefs& cols = r.ColumnDefs();
  // The matching records are collected first, then visited: a change never makes a record
  // match twice or hides one from the walk.
  TVdbQueryExecutionPlan plan;
  plan.SetVariables(FVariables);
  TVdbQueryExecutionPlan::TRelationEntry entry;
  entry.Relation = &r;
  entry.Name = BareName(FSpec->TableName);
  plan.AddRelation(std::move(entry));
  if (FSpec->Where) {
    auto where = FSpec->Where->CreateCopy();
    VdbRewriteCondition(*where, nullptr);
    InstallSubQueries(*where, FCatalog, FVariables);
    plan.SetFilter(std::move(where));
  }
  plan.Prepare();
  std::vector<std::int32_t> matches;
  plan.Run([&]() {
    matches.push_back(plan.CurrentRow()[0]);
    return true;
  });
  TVdbPrepareContext context{&plan, 0, TvuFormats::Invariant()};
  const std::size_t n = FSpec->Columns.size();
  std::vector<std::unique_ptr<TVdbExpression>> values(n);
  std::vector<std::unique_ptr<TVdbQuery>> subQueries(n);
  std::vector<int> targets;
  std::vector<const TVdbDataType*> types(n, nullptr);
  for (std::size_t i = 0; i < n; ++i) {
    targets.push_back(cols.Find(FSpec->Columns[i]));
    if (FSpec->Expressions[i]) {
      values[i] = FSpec->Expressions[i]->CreateCopy();
      VdbRewriteExpression(*values[i], nullptr);
      InstallSubQueries(*values[i], FCatalog, FVariables);
      values[i]->Prepare(context);
      types[i] = values[i]->DataType();
    } else {
      // A sub-query reads the target's current record for its outer references.
      subQueries[i] = std::make_unique<TVdbQuery>(FCatalog, VdbQuerySpecOf(*FSpec->SubQueries[i]));
      subQueries[i]->SetOuter(&plan);
      subQueries[i]->Prepare(*FVariables);
    }
  }
  // Every new value is computed before the first record changes, so that sub-queries over
  // the target read it as it was (an uncorrelated one once).
  std::vector<std::vector<TVdbDataValue>> newValues;
  newValues.reserve(matches.size());
  std::vector<std::optional<TVdbDataValue>> once(n);
  for (std::int32_t recNo : matches) {
    plan.PositionOn(std::span<const std::int32_t>(&recNo, 1));
    std::vector<TVdbDataValue> computed(n);
    for (std::size_t i = 0; i < n; ++i) {
      if (values[i]) {
        computed[i] = VdbOwnedValue(values[i]->Calculate(), *types[i]);
      } else if (once[i]) {
        computed[i] = *once[i];
      } else {
        computed[i] = ScalarValue(*subQueries[i], types[i]);
        if (!subQueries[i]->IsCorrelated()) once[i] = computed[i];
      }
    }
    newValues.push_back(std::move(computed));
  }
  TVdbAccessor target(r, u"UpdateCommand_Target");
  std::vector<std::uint8_t> record(static_cast<std::size_t>(r.GetRecordSize()));
  std::int32_t count = 0;
  for (std::size_t k = 0; k < matches.size(); ++k) {
    Check(target.GotoRecord(matches[k]));
    Check(target.Edit());
    WriteRecord(target, cols, record, targets, newValues[k], types);
    ++count;
  }
  return count;
}

TVdbDeleteCommand::TVdbDeleteCommand(TVdbCatalog& catalog, std::unique_ptr<TVdbDeleteSpec> spec)
    : TVdbCommand(catalog), FSpec(std::move(spec)) {}

void TVdbDeleteCommand::Prepare(TVdbSqlVariableList& variables) {
  FVariables = &variables;
  FTarget = OpenRelation(FSpec->TableName, true);
  std::vector<std::u16string> names;
  if (FSpec->Where) VdbCollectSubQueryTables(*FSpec->Where, names);
  FReadRelations = OpenForReading(names, FTarget, [&](const std::u16string& n) { return OpenRelation(n, false); });
}

void TVdbDeleteCommand::GetTouchedRelations(TVdbTouchedRelations& touched) const {
  touched.Write.push_back(FTarget);
  for (TVdbRltnIdx idx : FReadRelations) touched.Read.push_back(idx);
}

std::int32_t TVdbDeleteCommand::Execute() {
  TVdbRelation& r = *FCatalog.GetRelation(FTarget);
  if (!FSpec->Where) {
    const std::int32_t n = r.ClearDat();
    Check(n);
    return n;
  }
  TVdbQueryExecutionPlan plan;
  plan.SetVariables(FVariables);
  TVdbQueryExecutionPlan::TRelationEntry entry;
  entry.Relation = &r;
  entry.Name = BareName(FSpec->TableName);
  plan.AddRelation(std::move(entry));
  auto where = FSpec->Where->CreateCopy();
  VdbRewriteCondition(*where, nullptr);
  InstallSubQueries(*where, FCatalog, FVariables);
  plan.SetFilter(std::move(where));
  plan.Prepare();
  std::vector<std::int32_t> matches;
  plan.Run([&]() {
    matches.push_back(plan.CurrentRow()[0]);
    return true;
  });
  // Deleting moves the last record into the gap: from the highest number down, every record
  // still to be deleted keeps its number.
  std::sort(matches.begin(), matches.end(), std::greater<>());
  TVdbAccessor target(r, u"DeleteCommand_Target");
  std::int32_t count = 0;
  for (std::int32_t recNo : matches) {
    Check(target.GotoRecord(recNo));
    Check(target.Delete());
    ++count;
  }
  return count;
}

// ---------------------------------------------------------------------------------------------
// TVdbDdlCommand

namespace {

// The cipher of a table option: Default enciphers with the default cipher when a password is
// given; Classic is the level-5 classic method (refused at level 6 by the table).
TvuEncryptionMethod EncryptionOf(int sqlMethod, bool hasKey) {
  switch (sqlMethod) {
    case 1: return emNone;
    case 2: return emProtection;
    case 3: return emClassic5;
    case 4: return emFast;
    case 5: return emBlowfish;
    case 6: return emRijndael;
    default: return hasKey ? emBlowfish : emNone;
  }
}

bool IsTableOperation(const TVdbSqlCommand& c) {
  if (c.Kind() == sckCreateIndex) return true;
  if (c.Kind() == sckDrop) {
    const auto& d = static_cast<const TVdbSqlDropCommand&>(c);
    return !d.IsFulltext && !d.IndexName.empty();
  }
  return c.Kind() == sckUpdateIndex && !static_cast<const TVdbSqlUpdateIndexCommand&>(c).IsFulltext;
}

}  // namespace

TVdbNewTable VdbNewTableOf(const TVdbSqlCreateTableCommand& c) {
  TVdbNewTable t;
  t.Path = c.TableName;
  t.Level = c.Level();
  if (c.Capacity > 0) t.Capacity = c.Capacity;
  t.CollationName = c.Language();
  t.Key = c.Key();
  t.EncryptionMethod = EncryptionOf(c.SecurityLevel(), !t.Key.empty());
  for (const auto& d : c.ColumnDefinitions) t.Columns.push_back(d->CreateColumnDef());
  for (const auto& k : c.Constraints.CandidateKeys)
    t.KeyDefs.Add(std::make_unique<TVdbCandidateKeyDef>(k.Name, k.Primary, k.Columns));
  for (const auto& k : c.Constraints.CheckConstraints)
    t.CheckDefs.Add(std::make_unique<TVdbCheckDef>(k.Name, k.SearchCondition->SqlText()));
  for (const auto& k : c.Constraints.ForeignKeys) {
    auto fk = std::make_unique<TVdbForeignKeyDef>(k.Name);
    fk->ColumnNames = k.Columns;
    fk->ParentTableName = k.ParentTable;
    fk->ParentColumnNames = k.ParentColumns;
    fk->UpdateAction = k.UpdateAction;
    fk->DeleteAction = k.DeleteAction;
    t.ForeignKeyDefs.Add(std::move(fk));
  }
  return t;
}

void TVdbDdlCommand::Prepare(TVdbSqlVariableList&) {
  FTarget = 0;
  if (IsTableOperation(*FCommand)) {
    FTarget = OpenRelation(FCommand->TableName, true);
    return;
  }
  if (FCommand->Kind() == sckCreateTable) return;
  if (FCommand->Kind() == sckDrop && !static_cast<const TVdbSqlDropCommand&>(*FCommand).IsFulltext) return;
  // Statements this engine does not run are refused before anything is touched.
  throw EVdbEngine(errNotSupported, {u"the statement " + FCommand->GetSqlText()});
}

void TVdbDdlCommand::GetTouchedRelations(TVdbTouchedRelations& touched) const {
  if (FTarget > 0) touched.Write.push_back(FTarget);
}

std::int32_t TVdbDdlCommand::Execute() {
  if (FCommand->Kind() == sckCreateTable) {
    Check(FCatalog.CreateTable(VdbNewTableOf(static_cast<const TVdbSqlCreateTableCommand&>(*FCommand))));
    return 0;
  }
  if (FCommand->Kind() == sckDrop && FTarget == 0) {
    // The database's key first; an enciphered table of another key asks the password callback.
    Check(FCatalog.DeleteTable(FCommand->TableName, FCatalog.GetKey(), true));
    return 0;
  }
  auto* table = dynamic_cast<TVdbBaseTable*>(FCatalog.GetRelation(FTarget));
  if (table == nullptr) throw EVdbEngine(errNotSupported, {u"the statement " + FCommand->GetSqlText()});
  switch (FCommand->Kind()) {
    case sckCreateIndex: {
      const auto& c = static_cast<const TVdbSqlCreateIndexCommand&>(*FCommand);
      // The index description: columns separated by commas, a descending one marked by "-".
      std::u16string desc;
      for (const auto& s : c.SortSpecifications) {
        if (!desc.empty()) desc += u", ";
        if (!s.Asc) desc += u"-";
        desc += s.ColumnNameOrIdx;
      }
      Check(table->CreateUserIndex(c.IndexName, desc, c.Unique));
      return 0;
    }
    case sckDrop: {
      const auto& c = static_cast<const TVdbSqlDropCommand&>(*FCommand);
      const std::int16_t indexNo = table->GetIndexNo(c.IndexName);
      Check(indexNo);
      Check(table->DeleteIndex(indexNo));
      return 0;
    }
    case sckUpdateIndex: {
      const auto& c = static_cast<const TVdbSqlUpdateIndexCommand&>(*FCommand);
      if (c.IndexName != u"*") Check(table->GetIndexNo(c.IndexName));
      // One index cannot be rebuilt on its own: rebuilding all of them includes it.
      Check(table->RegenIndex());
      return 0;
    }
    default: throw EVdbEngine(errNotSupported, {u"the statement " + FCommand->GetSqlText()});
  }
}

// ---------------------------------------------------------------------------------------------
// From the syntax tree

namespace {

std::unique_ptr<TVdbQuerySpec> FromTableExpression(const TVdbSqlTableExpression& e);

TVdbPlanJoin PlanJoin(TVdbJoinType t) {
  switch (t) {
    case tjtCrossJoin: return pjCross;
    case tjtInnerJoin: return pjInner;
    case tjtLeftOuterJoin: return pjLeftOuter;
    case tjtRightOuterJoin: return pjRightOuter;
    case tjtFullOuterJoin: return pjFullOuter;
    default: return pjCross;
  }
}

// A FROM reference as relations in plan order: joins nest to the left, so the right side of
// each join is one table whose join type and ON condition it carries.
void Flatten(const TVdbSqlTableReference& ref, TVdbPlanJoin join, std::vector<TVdbTableRefSpec>& out) {
  if (!ref.IsJoinedTable) {
    TVdbTableRefSpec r;
    r.TableName = ref.TableName;
    r.Alias = ref.TableAlias;
    r.Join = out.empty() ? pjFirst : join;
    out.push_back(std::move(r));
    return;
  }
  Flatten(*ref.Left, join, out);
  const std::size_t first = out.size();
  Flatten(*ref.Right, PlanJoin(ref.JoinType), out);
  if (ref.Right->IsJoinedTable && ref.JoinType != tjtInnerJoin && ref.JoinType != tjtCrossJoin)
    throw EVdbEngine(errNotSupported, {u"an outer join with a parenthesised join on its right side"});
  out[first].Join = PlanJoin(ref.JoinType);
  if (ref.SearchCondition) {
    auto on = ref.SearchCondition->CreateCopy();
    if (out[first].On) on = out[first].On->AppendFactor(*on);
    out[first].On = std::move(on);
    // An ON condition may read every relation joined so far: it is tested when the last of
    // them is bound.
    if (first + 1 < out.size()) {
      out.back().On = out.back().On ? out.back().On->AppendFactor(*out[first].On) : std::move(out[first].On);
      out[first].On.reset();
    }
  }
}

std::unique_ptr<TVdbSelectSpec> FromSelect(const TVdbSqlSelectExpression& s) {
  auto out = std::make_unique<TVdbSelectSpec>();
  for (std::size_t i = 0; i < s.SelectElements.size(); ++i) {
    const TVdbSqlSelectElement& e = s.SelectElements[i];
    TVdbSelectElementSpec el;
    if (e.IsAsterisk()) {
      el.Star = true;
      el.StarTable = e.TableName;
    } else {
      el.Expression = e.ScalarExpression->CreateCopy();
    }
    if (i < s.LabelList.size()) el.Label = s.LabelList[i];
    out->Elements.push_back(std::move(el));
  }
  for (const auto& ref : s.TableReferences) Flatten(*ref, pjCross, out->From);
  if (s.SearchCondition) out->Where = s.SearchCondition->CreateCopy();
  for (const auto& g : s.GroupByExpressions) out->GroupBy.push_back(g->CreateCopy());
  if (s.HavingCondition) out->Having = s.HavingCondition->CreateCopy();
  out->Distinct = s.Distinct;
  out->Top = static_cast<std::int32_t>(std::min<std::int64_t>(s.TopCount, 0x7FFFFFFF));
  return out;
}

std::unique_ptr<TVdbQuerySpec> FromPrimitive(const TVdbSqlTablePrimitive& p) {
  if (const auto* s = dynamic_cast<const TVdbSqlSelectExpression*>(&p)) {
    auto q = std::make_unique<TVdbQuerySpec>();
    q->Select = FromSelect(*s);
    return q;
  }
  const auto& simple = dynamic_cast<const TVdbSqlTableSimplePrimitive&>(p);
  if (simple.TableExpression) return FromTableExpression(*simple.TableExpression);
  // TABLE name: every column of the table.
  auto q = std::make_unique<TVdbQuerySpec>();
  q->Select = std::make_unique<TVdbSelectSpec>();
  TVdbSelectElementSpec star;
  star.Star = true;
  q->Select->Elements.push_back(std::move(star));
  TVdbTableRefSpec r;
  r.TableName = simple.TableName;
  r.Alias = simple.AliasName;
  q->Select->From.push_back(std::move(r));
  return q;
}

void SetCorresponding(TVdbQuerySpec& q, const TVdbSqlCorresponding& o) {
  q.All = o.All;
  q.Corresponding = o.Corresponding;
  q.CorrespondingBy = o.CorrespondingFields;
}

std::unique_ptr<TVdbQuerySpec> FromTableTerm(const TVdbSqlTableTerm& t) {
  auto left = FromPrimitive(*t.TablePrimitive);
  if (!t.TableTerm) return left;
  auto q = std::make_unique<TVdbQuerySpec>();
  q->Operation = tsoIntersect;
  SetCorresponding(*q, t.Options);
  q->Left = std::move(left);
  q->Right = FromTableTerm(*t.TableTerm);
  return q;
}

std::unique_ptr<TVdbQuerySpec> FromTableExpression(const TVdbSqlTableExpression& e) {
  auto left = FromTableTerm(*e.TableTerm);
  if (!e.TableExpression) return left;
  auto q = std::make_unique<TVdbQuerySpec>();
  q->Operation = e.IsUnion ? tsoUnion : tsoExcept;
  SetCorresponding(*q, e.Options);
  q->Left = std::move(left);
  q->Right = FromTableExpression(*e.TableExpression);
  return q;
}

}  // namespace

std::unique_ptr<TVdbQuerySpec> VdbQuerySpecOf(const TVdbSqlQuery& query) {
  auto q = FromTableExpression(*query.TableExpression);
  for (const auto& s : query.SortSpecificationList) q->OrderBy.push_back({s.ColumnNameOrIdx, s.Asc});
  q->SqlText = query.SqlText;
  return q;
}

std::unique_ptr<TVdbCommand> VdbCreateCommand(TVdbCatalog& catalog, const TVdbSqlCommand& command) {
  switch (command.Kind()) {
    case sckQuery:
      return std::make_unique<TVdbQuery>(catalog, VdbQuerySpecOf(static_cast<const TVdbSqlQuery&>(command)));
    case sckInsert: {
      const auto& c = static_cast<const TVdbSqlInsertCommand&>(command);
      auto spec = std::make_unique<TVdbInsertSpec>();
      spec->TableName = c.TableName;
      spec->Columns = c.Columns;
      for (const auto& v : c.Values) spec->Values.push_back(v->CreateCopy());
      if (c.SourceQuery) spec->Source = VdbQuerySpecOf(*c.SourceQuery);
      return std::make_unique<TVdbInsertCommand>(catalog, std::move(spec));
    }
    case sckUpdate: {
      const auto& c = static_cast<const TVdbSqlUpdateCommand&>(command);
      auto spec = std::make_unique<TVdbUpdateSpec>();
      spec->TableName = c.TableName;
      spec->Columns = c.Columns;
      for (std::size_t i = 0; i < c.Columns.size(); ++i) {
        const bool expression = i < c.Expressions.size() && c.Expressions[i];
        spec->Expressions.push_back(expression ? c.Expressions[i]->CreateCopy() : nullptr);
        if (expression) {
          spec->SubQueries.emplace_back();
        } else {
          spec->SubQueries.emplace_back(static_cast<TVdbSqlQuery*>(c.SubQueries.at(i)->CreateCopy().release()));
        }
      }
      if (c.SearchCondition) spec->Where = c.SearchCondition->CreateCopy();
      return std::make_unique<TVdbUpdateCommand>(catalog, std::move(spec));
    }
    case sckDelete: {
      const auto& c = static_cast<const TVdbSqlDeleteCommand&>(command);
      auto spec = std::make_unique<TVdbDeleteSpec>();
      spec->TableName = c.TableName;
      if (c.SearchCondition) spec->Where = c.SearchCondition->CreateCopy();
      return std::make_unique<TVdbDeleteCommand>(catalog, std::move(spec));
    }
    default: return std::make_unique<TVdbDdlCommand>(catalog, command.CreateCopy());
  }
}

}  // namespace vdb
