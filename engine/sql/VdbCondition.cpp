#include "sql/VdbCondition.h"

#include <algorithm>

#include "base/VdbErrorCodes.h"
#include "base/VdbErrors.h"
#include "sql/VdbSqlParser.h"
#include "types/VdbCommon.h"

namespace vdb {

// ---------------------------------------------------------------------------------------------
// TVdbRecordColumns

bool TVdbRecordColumns::FindColumn(std::u16string_view name, int& rltnPos, int& fieldNo,
                                   const TVdbDataType*& type) const {
  int i = FColumns.Find(name);
  if (i < 0) {
    const std::size_t dot = name.rfind(u'.');
    if (dot != std::u16string_view::npos && VdbSameName(name.substr(0, dot), FTableName))
      i = FColumns.Find(name.substr(dot + 1));
  }
  if (i < 0) return false;
  const TVdbColumnDef& col = FColumns.GetColumnDef(i);
  const TVdbColumnType code = col.ColumnType();
  // Memo and blob fields hold a reference in the record, not their value.
  if (code == vctMemo || code == vctWideMemo || code == vctBlob || code == vctRelation)
    throw EVdbEngine(errNotSupported, {u"the memo or blob column \"" + col.Name() + u"\" in a condition"});
  rltnPos = 0;
  fieldNo = i;
  type = col.DataType();
  return true;
}

void TVdbRecordColumns::ColumnValue(int, int fieldNo, TVdbDataValue& value) {
  const TVdbColumnDef& col = FColumns.GetColumnDef(fieldNo);
  col.DataType()->SetReference(value, FRecord, static_cast<std::size_t>(col.Position()));
}

// ---------------------------------------------------------------------------------------------
// Conditions

std::unique_ptr<TVdbSearchCondition> VdbParseSqlCondition(std::u16string_view text, bool localFormats,
                                                          const TvuFormats& formats) {
  TSqlParser parser;
  parser.SetAllowLocalFormats(localFormats, formats);
  parser.SetStatementText(std::u16string(text));
  try {
    parser.InitParsing();
    auto condition = parser.ParseCondition();
    parser.ParseEnd();
    condition->Optimize();
    return condition;
  } catch (const ESqlParser& e) {
    throw EVdbEngine::CreateMsg(errSyntaxError, e.Message());
  }
}

std::unique_ptr<TVdbCondition> VdbCreateCondition(TVdbExpressionSyntax syntax, std::u16string source) {
  if (syntax == tesVidoraPL) return std::make_unique<TVdbVplCondition>(std::move(source));
  return std::make_unique<TVdbSqlCondition>(std::move(source));
}

void TVdbSqlCondition::Prepare(IVdbColumnSource& columns, TVdbPrepareOptions options, const TvuFormats& formats) {
  FSearchCondition.reset();
  if (FSource.find_first_not_of(u" \t\r\n") == std::u16string::npos) return;
  auto tree = VdbParseSqlCondition(FSource, (options & tpoLocalFormats) != 0, formats);
  TVdbPrepareContext context{&columns, options, formats};
  tree->Prepare(context);
  FSearchCondition = std::move(tree);
}

bool TVdbSqlCondition::Evaluate() {
  if (!FSearchCondition) {
    if (FSource.find_first_not_of(u" \t\r\n") == std::u16string::npos) return true;
    throw EVdbEngine(errInvalidSearchCondition, {FSource});
  }
  return FSearchCondition->Evaluate() == vtTrue;
}

bool TVdbVplCondition::Evaluate() {
  throw EVdbEngine(errNotSupported, {u"the VidoraPL condition \"" + FSource +
                                     u"\" (this engine evaluates VidoraSQL conditions only)"});
}

// ---------------------------------------------------------------------------------------------
// Index rating

namespace {

struct TFieldRating {
  int FieldNo = -1;
  int Rating = 0;
  TVdbExpression* Lower = nullptr;
  TVdbExpression* Upper = nullptr;
};

TVdbComparisonOperator Mirror(TVdbComparisonOperator op) {
  switch (op) {
    case tcoLess: return tcoGreater;
    case tcoLessOrEqual: return tcoGreaterOrEqual;
    case tcoGreater: return tcoLess;
    case tcoGreaterOrEqual: return tcoLessOrEqual;
    case tcoEqual:
    case tcoUnequal:
    case tcoEqualNull: return op;
    default: return tcoNone;
  }
}

TVdbComparisonOperator NegateOp(TVdbComparisonOperator op) {
  switch (op) {
    case tcoIsNull: return tcoIsNotNull;
    case tcoIsNotNull: return tcoIsNull;
    case tcoEqual: return tcoUnequal;
    case tcoUnequal: return tcoEqual;
    case tcoLess: return tcoGreaterOrEqual;
    case tcoGreaterOrEqual: return tcoLess;
    case tcoLessOrEqual: return tcoGreater;
    case tcoGreater: return tcoLessOrEqual;
    default: return tcoNone;
  }
}

// A column of the rated relation (position 0); columns of other relations and internal names
// are no bounds.
int ColumnOf(const TVdbExpression* e) {
  if (!e || !e->IsSingleColumn()) return -1;
  const auto* f = static_cast<const TVdbSimpleFactor*>(e->SingleFactor());
  return f->RltnPos() == 0 ? f->FieldNo() : -1;
}

void Rate(std::vector<TFieldRating>& ratings, int fieldNo, TVdbComparisonOperator op, TVdbExpression* bound) {
  TFieldRating r{fieldNo};
  switch (op) {
    case tcoEqual:
    case tcoEqualNull: r.Rating = 4; r.Lower = r.Upper = bound; break;
    case tcoLess: r.Rating = 1; r.Upper = bound; break;
    case tcoLessOrEqual: r.Rating = 2; r.Upper = bound; break;
    case tcoGreater: r.Rating = 1; r.Lower = bound; break;
    case tcoGreaterOrEqual: r.Rating = 2; r.Lower = bound; break;
    default: return;
  }
  for (auto& e : ratings) {
    if (e.FieldNo != fieldNo) continue;
    if (e.Rating < 4 && ((!e.Lower && r.Lower && !r.Upper) || (!e.Upper && r.Upper && !r.Lower))) {
      if (!e.Lower) e.Lower = r.Lower;
      if (!e.Upper) e.Upper = r.Upper;
      e.Rating = 3;
    } else if (r.Rating > e.Rating) {
      e = r;
    }
    return;
  }
  ratings.push_back(r);
}

// Writes `value` (of `type`) into the field of `col` in `record`.
void PutValue(const TVdbColumnDef& col, std::span<std::uint8_t> record, const TVdbDataValue& value,
              const TVdbDataType& type) {
  TVdbDataValue field;
  col.DataType()->SetReference(field, record, static_cast<std::size_t>(col.Position()));
  if (value.IsEmpty() || type.IsNull(value)) {
    col.DataType()->SetNull(field);
  } else {
    col.DataType()->Assign(field, value, type);
  }
}

}  // namespace

TVdbIndexNo TVdbSqlCondition::FindBestIndexAndBounds(TVdbRelation& relation, std::vector<std::uint8_t>& lower,
                                                     std::vector<std::uint8_t>& upper) {
  if (!FSearchCondition) return kVdbNoIndex;
  return VdbFindBestIndexAndBounds(*FSearchCondition, relation, lower, upper);
}

TVdbIndexNo VdbFindBestIndexAndBounds(TVdbSearchCondition& condition, TVdbRelation& relation,
                                      std::vector<std::uint8_t>& lower, std::vector<std::uint8_t>& upper) {
  // Only an AND chain narrows every record to one range.
  if (condition.Terms.size() != 1) return kVdbNoIndex;
  std::vector<TFieldRating> ratings;
  for (auto& f : condition.Terms[0]->Factors) {
    if (f->SearchCondition) continue;
    TVdbComparisonOperator op = f->IsNot ? NegateOp(f->ComparisonOperator) : f->ComparisonOperator;
    if (f->ComparisonOperator == tcoBetween) {
      const int col = ColumnOf(f->ExpressionLeft.get());
      if (f->IsNot || col < 0 || !f->ExpressionRight->IsConstant() || !f->ExpressionRightEx->IsConstant()) continue;
      Rate(ratings, col, tcoGreaterOrEqual, f->ExpressionRightEx.get());
      Rate(ratings, col, tcoLessOrEqual, f->ExpressionRight.get());
      continue;
    }
    if (op == tcoNone || !f->ExpressionRight) continue;
    const int left = ColumnOf(f->ExpressionLeft.get());
    const int right = ColumnOf(f->ExpressionRight.get());
    if (left >= 0 && f->ExpressionRight->IsConstant()) Rate(ratings, left, op, f->ExpressionRight.get());
    else if (right >= 0 && f->ExpressionLeft->IsConstant()) Rate(ratings, right, Mirror(op), f->ExpressionLeft.get());
  }
  if (ratings.empty()) return kVdbNoIndex;
  std::stable_sort(ratings.begin(), ratings.end(), [](const auto& a, const auto& b) { return a.Rating > b.Rating; });
  auto ratingOf = [&](int fieldNo) -> const TFieldRating* {
    for (const auto& r : ratings)
      if (r.FieldNo == fieldNo) return &r;
    return nullptr;
  };
  const int ideal = 100 * ratings[0].Rating + (ratings.size() > 1 ? 50 * ratings[1].Rating : 0);
  TVdbIndexNo best = kVdbNoIndex;
  int bestScore = 0;
  for (TVdbIndexNo i = relation.GetFirstIndexNo(); i <= relation.GetLastIndexNo(); ++i) {
    if (relation.GetIndexName(i).empty()) continue;
    try {
      relation.CheckIndexOpen(i);
    } catch (const EVdbEngine&) {
      continue;
    }
    const TVdbSortDef* def = relation.GetIndexDef(i);
    if (!def || def->IsCalculated || def->Items.empty() || def->Items[0].Descending) continue;
    int score = 0, weight = 100;
    for (const auto& item : def->Items) {
      if (item.Descending) {
        score = 0;
        break;
      }
      const TFieldRating* r = item.ColumnNo > 0 ? ratingOf(item.ColumnNo - 1) : nullptr;
      if (!r) break;
      score += weight * r->Rating;
      weight /= 2;
    }
    if (score * 2 > ideal && score > bestScore) {
      best = i;
      bestScore = score;
    }
  }
  if (best == kVdbNoIndex) return kVdbNoIndex;
  try {
    const TVdbSortDef& def = *relation.GetIndexDef(best);
    const TVdbColumnDefs& cols = relation.ColumnDefs();
    std::vector<std::uint8_t> lowRec(static_cast<std::size_t>(relation.GetRecordSize()));
    std::vector<std::uint8_t> highRec(lowRec.size());
    int lowLevels = 0, highLevels = 0;
    bool lowOpen = false, highOpen = false;
    for (const auto& item : def.Items) {
      const TFieldRating* r = ratingOf(item.ColumnNo - 1);
      if (!r) break;
      const TVdbColumnDef& col = cols.GetColumnDef(item.ColumnNo - 1);
      if (r->Lower && !lowOpen) {
        PutValue(col, lowRec, r->Lower->Calculate(), *r->Lower->DataType());
        ++lowLevels;
      } else {
        lowOpen = true;
      }
      if (r->Upper && !highOpen) {
        PutValue(col, highRec, r->Upper->Calculate(), *r->Upper->DataType());
        ++highLevels;
      } else {
        highOpen = true;
      }
    }
    relation.CalcIndexInfo(lowRec, best, 1, lower);
    relation.CompleteIndexInfo(lower, best, lowLevels, false);
    relation.CalcIndexInfo(highRec, best, 0x7FFFFFFF, upper);
    relation.CompleteIndexInfo(upper, best, highLevels, true);
  } catch (const EVdbEngine&) {
    // A bound the column cannot hold: the plain walk still finds every record.
    return kVdbNoIndex;
  }
  return best;
}

// ---------------------------------------------------------------------------------------------
// TVdbConditionFilter

TVdbConditionFilter::TVdbConditionFilter(const TVdbRelation& relation, std::u16string text,
                                         TVdbExpressionSyntax syntax, TVdbPrepareOptions options,
                                         const TvuFormats& formats)
    : FColumns(relation.ColumnDefs(), relation.GetName()), FCondition(VdbCreateCondition(syntax, std::move(text))) {
  FCondition->Prepare(FColumns, options, formats);
}

bool TVdbConditionFilter::Accepts(TVdbAccessor& accessor) {
  FColumns.SetRecord(accessor.RecordPtrExc());
  return FCondition->Evaluate();
}

TVdbIndexNo TVdbConditionFilter::BestIndexAndBounds(TVdbRelation& relation, std::vector<std::uint8_t>& lower,
                                                    std::vector<std::uint8_t>& upper) {
  return FCondition->FindBestIndexAndBounds(relation, lower, upper);
}

}  // namespace vdb
