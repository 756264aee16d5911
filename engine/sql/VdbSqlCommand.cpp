#include "sql/VdbSqlCommand.h"

#include <array>

#include "base/VdbAscii.h"
#include "base/VdbErrorCodes.h"
#include "base/VdbErrors.h"
#include "expr/VdbTreeNodes.h"
#include "sql/VdbSqlParser.h"

namespace vdb {

namespace {

template <class T>
std::vector<std::unique_ptr<T>> CopyList(const std::vector<std::unique_ptr<T>>& list) {
  std::vector<std::unique_ptr<T>> r;
  r.reserve(list.size());
  for (const auto& p : list) r.push_back(CopyPtr(p));
  return r;
}

std::u16string Names(const std::vector<std::u16string>& names) {
  std::u16string r;
  for (std::size_t i = 0; i < names.size(); ++i) r += (i ? u", " : u"") + VdbSqlName(names[i]);
  return r;
}

std::u16string Number(std::int64_t v) {
  std::u16string r;
  const bool neg = v < 0;
  std::uint64_t u = neg ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
  do {
    r.insert(r.begin(), static_cast<char16_t>(u'0' + u % 10));
    u /= 10;
  } while (u);
  return neg ? u"-" + r : r;
}

struct TEncryptionName {
  std::u16string_view Name;
  int Method;
};

constexpr std::array<TEncryptionName, 8> kEncryptionNames{{
    {u"DEFAULT", 0}, {u"NONE", 1}, {u"PROTECTION", 2}, {u"CLASSIC", 3}, {u"FAST", 4}, {u"BLOWFISH", 5},
    {u"AES", 6}, {u"RIJNDAEL", 6},
}};

std::u16string ConditionText(const std::unique_ptr<TVdbSearchCondition>& c) { return c ? c->SqlText() : u""; }

std::u16string CorrespondingText(const TVdbSqlCorresponding& o) {
  std::u16string r;
  if (o.All) r += u" ALL";
  if (o.Corresponding) {
    r += u" CORRESPONDING";
    if (!o.CorrespondingFields.empty()) r += u" BY (" + Names(o.CorrespondingFields) + u")";
  }
  return r;
}

std::u16string SortText(const TVdbSqlSortSpecificationList& list) {
  std::u16string r;
  for (std::size_t i = 0; i < list.size(); ++i) {
    const auto& s = list[i];
    if (i) r += u", ";
    const bool position = !s.ColumnNameOrIdx.empty() &&
                          s.ColumnNameOrIdx.find_first_not_of(u"0123456789") == std::u16string::npos;
    r += position ? s.ColumnNameOrIdx : VdbSqlName(s.ColumnNameOrIdx);
    if (!s.Asc) r += u" DESC";
  }
  return r;
}

std::u16string OptionsText(const TVdbSqlTableOptions& o) {
  std::u16string r;
  if (o.Level) r += u" LEVEL " + Number(*o.Level);
  if (o.Language) r += u" COLLATE " + VdbSqlName(*o.Language);
  if (o.EncryptionMethod) r += u" ENCRYPTION " + VdbSqlEncryptionName(*o.EncryptionMethod);
  if (o.Key) r += u" PASSWORD " + VdbQuoteSqlString(*o.Key);
  return r;
}

bool EqualChecks(const std::vector<TVdbSqlCheckConstraint>& a, const std::vector<TVdbSqlCheckConstraint>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (a[i].Name != b[i].Name || !EqualPtr(a[i].SearchCondition, b[i].SearchCondition)) return false;
  return true;
}

bool EqualConstraints(const TVdbSqlConstraints& a, const TVdbSqlConstraints& b) {
  return a.CandidateKeys == b.CandidateKeys && a.ForeignKeys == b.ForeignKeys &&
         EqualChecks(a.CheckConstraints, b.CheckConstraints);
}

TVdbSqlConstraints CopyConstraints(const TVdbSqlConstraints& c) {
  TVdbSqlConstraints r;
  r.CandidateKeys = c.CandidateKeys;
  r.ForeignKeys = c.ForeignKeys;
  for (const auto& k : c.CheckConstraints) r.CheckConstraints.push_back({k.Name, CopyPtr(k.SearchCondition)});
  return r;
}

std::u16string ActionText(TVdbReferentialAction a) { return a == traCascade ? u"CASCADE" : u"NO ACTION"; }

// Every constraint as its own definition element.
std::vector<std::u16string> ConstraintTexts(const TVdbSqlConstraints& c) {
  std::vector<std::u16string> r;
  auto named = [](const std::u16string& name) {
    return name.empty() ? std::u16string() : u"CONSTRAINT " + VdbSqlName(name) + u" ";
  };
  for (const auto& k : c.CandidateKeys)
    r.push_back(named(k.Name) + (k.Primary ? u"PRIMARY KEY (" : u"UNIQUE (") + Names(k.Columns) + u")");
  for (const auto& k : c.ForeignKeys) {
    std::u16string t = named(k.Name) + u"FOREIGN KEY (" + Names(k.Columns) + u") REFERENCES " +
                       VdbSqlName(k.ParentTable);
    if (!k.ParentColumns.empty()) t += u" (" + Names(k.ParentColumns) + u")";
    if (k.DeleteAction != traNone) t += u" ON DELETE " + ActionText(k.DeleteAction);
    if (k.UpdateAction != traNone) t += u" ON UPDATE " + ActionText(k.UpdateAction);
    r.push_back(std::move(t));
  }
  for (const auto& k : c.CheckConstraints) r.push_back(named(k.Name) + u"CHECK (" + ConditionText(k.SearchCondition) + u")");
  return r;
}

}  // namespace

// ---- names and types

int VdbSqlEncryptionMethod(std::u16string_view name) {
  const std::u16string upper = VdbUpperAscii(name);
  for (const auto& e : kEncryptionNames)
    if (e.Name == upper) return e.Method;
  return -1;
}

std::u16string VdbSqlEncryptionName(int method) {
  static constexpr std::u16string_view kNames[] = {u"Default", u"None",     u"Protection", u"Classic",
                                                    u"Fast",    u"Blowfish", u"AES"};
  return method >= 0 && method < 7 ? std::u16string(kNames[method]) : std::u16string();
}

// ---- table references

std::unique_ptr<TVdbSqlTableReference> TVdbSqlTableReference::CreateCopy() const {
  auto r = std::make_unique<TVdbSqlTableReference>();
  r->IsJoinedTable = IsJoinedTable;
  r->TableAlias = TableAlias;
  r->InternalName = InternalName;
  r->TableName = TableName;
  r->JoinType = JoinType;
  r->Left = CopyPtr(Left);
  r->Right = CopyPtr(Right);
  r->SearchCondition = CopyPtr(SearchCondition);
  return r;
}

bool TVdbSqlTableReference::IsSyntacticallyEqual(const TVdbSqlTableReference& o) const {
  return IsJoinedTable == o.IsJoinedTable && TableAlias == o.TableAlias && TableName == o.TableName &&
         JoinType == o.JoinType && EqualPtr(Left, o.Left) && EqualPtr(Right, o.Right) &&
         EqualPtr(SearchCondition, o.SearchCondition);
}

std::u16string TVdbSqlTableReference::GetSqlText() const {
  if (!IsJoinedTable) {
    std::u16string r = VdbSqlName(TableName);
    if (TableAlias != TableName) r += u" " + VdbSqlName(TableAlias);
    return r;
  }
  std::u16string r = Left ? Left->GetSqlText() : u"";
  switch (JoinType) {
    case tjtCrossJoin: r += u" CROSS JOIN "; break;
    case tjtLeftOuterJoin: r += u" LEFT OUTER JOIN "; break;
    case tjtRightOuterJoin: r += u" RIGHT OUTER JOIN "; break;
    case tjtFullOuterJoin: r += u" FULL OUTER JOIN "; break;
    default: r += u" INNER JOIN "; break;
  }
  if (Right) r += Right->IsJoinedTable ? u"(" + Right->GetSqlText() + u")" : Right->GetSqlText();
  if (SearchCondition) r += u" ON " + SearchCondition->SqlText();
  return r;
}

void TVdbSqlTableReference::GetTableList(std::vector<std::u16string>& tables) const {
  if (!IsJoinedTable) {
    tables.push_back(TableName);
    return;
  }
  if (Left) Left->GetTableList(tables);
  if (Right) Right->GetTableList(tables);
}

void TVdbSqlTableReference::GetAliasList(std::vector<std::u16string>& aliases) const {
  if (!IsJoinedTable) {
    aliases.push_back(TableAlias);
    return;
  }
  if (Left) Left->GetAliasList(aliases);
  if (Right) Right->GetAliasList(aliases);
}

bool TVdbSqlTableReference::ContainsTableName(std::u16string_view nameOrAlias) const {
  const std::u16string upper = VdbUpperAscii(nameOrAlias);
  if (!IsJoinedTable) return VdbUpperAscii(TableAlias) == upper || VdbUpperAscii(TableName) == upper;
  return (Left && Left->ContainsTableName(nameOrAlias)) || (Right && Right->ContainsTableName(nameOrAlias));
}

// ---- primitives, terms, expressions

std::unique_ptr<TVdbSqlTablePrimitive> TVdbSqlTableSimplePrimitive::CreateCopy() const {
  auto p = std::make_unique<TVdbSqlTableSimplePrimitive>();
  p->InternalName = InternalName;
  p->TableName = TableName;
  p->AliasName = AliasName;
  p->TableExpression = CopyPtr(TableExpression);
  return p;
}

bool TVdbSqlTableSimplePrimitive::IsSyntacticallyEqual(const TVdbSqlTablePrimitive& other) const {
  const auto* o = dynamic_cast<const TVdbSqlTableSimplePrimitive*>(&other);
  return o && TableName == o->TableName && AliasName == o->AliasName && EqualPtr(TableExpression, o->TableExpression);
}

std::u16string TVdbSqlTableSimplePrimitive::GetSqlText() const {
  if (TableExpression) return u"(" + TableExpression->GetSqlText() + u")";
  return u"TABLE " + VdbSqlName(TableName);
}

void TVdbSqlSelectExpression::AddSelectElement(std::unique_ptr<TVdbExpression> expression, std::u16string label) {
  TVdbSqlSelectElement e;
  e.ScalarExpression = std::move(expression);
  SelectElements.push_back(std::move(e));
  LabelList.push_back(std::move(label));
}

bool TVdbSqlSelectExpression::HasAggregates() const {
  bool found = false;
  auto visit = [&](TVdbFunctionCall& call) { found = found || call.IsAggregate(); };
  for (const auto& e : SelectElements)
    if (e.ScalarExpression) VdbVisitFunctionCalls(*e.ScalarExpression, visit);
  if (HavingCondition) VdbVisitFunctionCalls(*HavingCondition, visit);
  return found;
}

std::unique_ptr<TVdbSqlTablePrimitive> TVdbSqlSelectExpression::CreateCopy() const {
  auto s = std::make_unique<TVdbSqlSelectExpression>();
  s->InternalName = InternalName;
  for (const auto& e : SelectElements) {
    TVdbSqlSelectElement c;
    c.TableName = e.TableName;
    c.ScalarExpression = CopyPtr(e.ScalarExpression);
    s->SelectElements.push_back(std::move(c));
  }
  s->LabelList = LabelList;
  s->TableReferences = CopyList(TableReferences);
  s->SearchCondition = CopyPtr(SearchCondition);
  s->GroupByExpressions = CopyList(GroupByExpressions);
  s->HavingCondition = CopyPtr(HavingCondition);
  s->Distinct = Distinct;
  s->TopCount = TopCount;
  return s;
}

bool TVdbSqlSelectExpression::IsSyntacticallyEqual(const TVdbSqlTablePrimitive& other) const {
  const auto* o = dynamic_cast<const TVdbSqlSelectExpression*>(&other);
  if (!o || o->SelectElements.size() != SelectElements.size() || o->LabelList != LabelList ||
      o->Distinct != Distinct || o->TopCount != TopCount)
    return false;
  for (std::size_t i = 0; i < SelectElements.size(); ++i)
    if (SelectElements[i].TableName != o->SelectElements[i].TableName ||
        !EqualPtr(SelectElements[i].ScalarExpression, o->SelectElements[i].ScalarExpression))
      return false;
  return EqualList(TableReferences, o->TableReferences) && EqualPtr(SearchCondition, o->SearchCondition) &&
         EqualList(GroupByExpressions, o->GroupByExpressions) && EqualPtr(HavingCondition, o->HavingCondition);
}

std::u16string TVdbSqlSelectExpression::GetSqlText() const {
  std::u16string r = u"SELECT ";
  if (TopCount > 0) r += u"TOP " + Number(TopCount) + u" ";
  if (Distinct) r += u"DISTINCT ";
  for (std::size_t i = 0; i < SelectElements.size(); ++i) {
    const auto& e = SelectElements[i];
    if (i) r += u", ";
    if (!e.ScalarExpression) {
      r += e.TableName.empty() ? u"*" : VdbSqlName(e.TableName) + u".*";
      continue;
    }
    r += e.ScalarExpression->SqlText();
    if (i < LabelList.size() && !LabelList[i].empty()) r += u" AS " + VdbSqlName(LabelList[i]);
  }
  r += u" FROM ";
  for (std::size_t i = 0; i < TableReferences.size(); ++i) r += (i ? u", " : u"") + TableReferences[i]->GetSqlText();
  if (SearchCondition) r += u" WHERE " + SearchCondition->SqlText();
  if (!GroupByExpressions.empty()) {
    r += u" GROUP BY ";
    for (std::size_t i = 0; i < GroupByExpressions.size(); ++i)
      r += (i ? u", " : u"") + GroupByExpressions[i]->SqlText();
  }
  if (HavingCondition) r += u" HAVING " + HavingCondition->SqlText();
  return r;
}

std::unique_ptr<TVdbSqlTableTerm> TVdbSqlTableTerm::CreateCopy() const {
  auto t = std::make_unique<TVdbSqlTableTerm>();
  t->TablePrimitive = CopyPtr(TablePrimitive);
  t->TableTerm = CopyPtr(TableTerm);
  t->Options = Options;
  return t;
}

bool TVdbSqlTableTerm::IsSyntacticallyEqual(const TVdbSqlTableTerm& o) const {
  return Options == o.Options && EqualPtr(TablePrimitive, o.TablePrimitive) && EqualPtr(TableTerm, o.TableTerm);
}

std::u16string TVdbSqlTableTerm::GetSqlText() const {
  std::u16string r = TablePrimitive ? TablePrimitive->GetSqlText() : u"";
  if (TableTerm) r += u" INTERSECT" + CorrespondingText(Options) + u" " + TableTerm->GetSqlText();
  return r;
}

std::unique_ptr<TVdbSqlTableExpression> TVdbSqlTableExpression::CreateCopy() const {
  auto e = std::make_unique<TVdbSqlTableExpression>();
  e->TableTerm = CopyPtr(TableTerm);
  e->TableExpression = CopyPtr(TableExpression);
  e->IsUnion = IsUnion;
  e->Options = Options;
  return e;
}

bool TVdbSqlTableExpression::IsSyntacticallyEqual(const TVdbSqlTableExpression& o) const {
  return Options == o.Options && (!TableExpression || IsUnion == o.IsUnion) && EqualPtr(TableTerm, o.TableTerm) &&
         EqualPtr(TableExpression, o.TableExpression);
}

std::u16string TVdbSqlTableExpression::GetSqlText() const {
  std::u16string r = TableTerm ? TableTerm->GetSqlText() : u"";
  if (TableExpression)
    r += (IsUnion ? u" UNION" : u" EXCEPT") + CorrespondingText(Options) + u" " + TableExpression->GetSqlText();
  return r;
}

TVdbSqlSelectExpression* TVdbSqlTableExpression::SingleSelect() const noexcept {
  if (TableExpression || !TableTerm || TableTerm->TableTerm) return nullptr;
  return dynamic_cast<TVdbSqlSelectExpression*>(TableTerm->TablePrimitive.get());
}

// ---- query

std::unique_ptr<TVdbSqlQuery> TVdbSqlQuery::CopyQuery() const {
  auto q = std::make_unique<TVdbSqlQuery>();
  q->TableName = TableName;
  q->SqlText = SqlText;
  q->TableExpression = CopyPtr(TableExpression);
  q->SortSpecificationList = SortSpecificationList;
  return q;
}

std::unique_ptr<TVdbSqlCommand> TVdbSqlQuery::CreateCopy() const { return CopyQuery(); }

bool TVdbSqlQuery::IsSyntacticallyEqual(const TVdbSqlCommand& other) const {
  const auto* o = dynamic_cast<const TVdbSqlQuery*>(&other);
  return o && EqualPtr(TableExpression, o->TableExpression) && SortSpecificationList == o->SortSpecificationList;
}

std::u16string TVdbSqlQuery::GetSqlText() const {
  std::u16string r = TableExpression ? TableExpression->GetSqlText() : u"";
  if (!SortSpecificationList.empty()) r += u" ORDER BY " + SortText(SortSpecificationList);
  return r;
}

// ---- data changes

std::unique_ptr<TVdbSqlCommand> TVdbSqlInsertCommand::CreateCopy() const {
  auto c = std::make_unique<TVdbSqlInsertCommand>();
  c->TableName = TableName;
  c->SqlText = SqlText;
  c->Columns = Columns;
  c->Values = CopyList(Values);
  c->SourceQuery = SourceQuery ? SourceQuery->CopyQuery() : nullptr;
  return c;
}

bool TVdbSqlInsertCommand::IsSyntacticallyEqual(const TVdbSqlCommand& other) const {
  const auto* o = dynamic_cast<const TVdbSqlInsertCommand*>(&other);
  return o && TableName == o->TableName && Columns == o->Columns && EqualList(Values, o->Values) &&
         EqualPtr(SourceQuery, o->SourceQuery);
}

std::u16string TVdbSqlInsertCommand::GetSqlText() const {
  std::u16string r = u"INSERT INTO " + VdbSqlName(TableName);
  if (!Columns.empty()) r += u" (" + Names(Columns) + u")";
  if (SourceQuery) return r + u" " + SourceQuery->GetSqlText();
  r += u" VALUES (";
  for (std::size_t i = 0; i < Values.size(); ++i) r += (i ? u", " : u"") + Values[i]->SqlText();
  return r + u")";
}

std::unique_ptr<TVdbSqlCommand> TVdbSqlUpdateCommand::CreateCopy() const {
  auto c = std::make_unique<TVdbSqlUpdateCommand>();
  c->TableName = TableName;
  c->SqlText = SqlText;
  c->Columns = Columns;
  c->Expressions = CopyList(Expressions);
  for (const auto& q : SubQueries) c->SubQueries.push_back(q ? q->CopyQuery() : nullptr);
  c->SearchCondition = CopyPtr(SearchCondition);
  return c;
}

bool TVdbSqlUpdateCommand::IsSyntacticallyEqual(const TVdbSqlCommand& other) const {
  const auto* o = dynamic_cast<const TVdbSqlUpdateCommand*>(&other);
  return o && TableName == o->TableName && Columns == o->Columns && EqualList(Expressions, o->Expressions) &&
         EqualList(SubQueries, o->SubQueries) && EqualPtr(SearchCondition, o->SearchCondition);
}

std::u16string TVdbSqlUpdateCommand::GetSqlText() const {
  std::u16string r = u"UPDATE " + VdbSqlName(TableName) + u" SET ";
  for (std::size_t i = 0; i < Columns.size(); ++i) {
    if (i) r += u", ";
    r += VdbSqlName(Columns[i]) + u" = ";
    if (i < SubQueries.size() && SubQueries[i]) {
      r += u"(" + SubQueries[i]->GetSqlText() + u")";
    } else if (i < Expressions.size() && Expressions[i]) {
      r += Expressions[i]->SqlText();
    }
  }
  if (SearchCondition) r += u" WHERE " + SearchCondition->SqlText();
  return r;
}

std::unique_ptr<TVdbSqlCommand> TVdbSqlDeleteCommand::CreateCopy() const {
  auto c = std::make_unique<TVdbSqlDeleteCommand>();
  c->TableName = TableName;
  c->SqlText = SqlText;
  c->SearchCondition = CopyPtr(SearchCondition);
  return c;
}

bool TVdbSqlDeleteCommand::IsSyntacticallyEqual(const TVdbSqlCommand& other) const {
  const auto* o = dynamic_cast<const TVdbSqlDeleteCommand*>(&other);
  return o && TableName == o->TableName && EqualPtr(SearchCondition, o->SearchCondition);
}

std::u16string TVdbSqlDeleteCommand::GetSqlText() const {
  std::u16string r = u"DELETE FROM " + VdbSqlName(TableName);
  if (SearchCondition) r += u" WHERE " + SearchCondition->SqlText();
  return r;
}

// ---- definitions

TVdbNewColumn TVdbSqlColumnDefinition::CreateColumnDef() const {
  TVdbNewColumn c;
  c.Name = ColumnName;
  c.ColumnType = TSqlParser::GetVdbType(Type.SqlType);
  c.Nullable = MayBeNull && Type.SqlType != sqlAutoInc;
  switch (Type.SqlType) {
    case sqlChar:
    case sqlVarChar:
    case sqlWChar:
    case sqlVarWChar:
      c.Length = Type.Size;
      c.CollationName = Type.StringParam;
      break;
    case sqlDouble: c.Scale = Type.Precision; break;
    case sqlTime: c.Precision = Type.Precision; break;
    case sqlEnum: c.EnumNames = Type.StringParam; break;
    case sqlAutoInc:
      c.StartValue = Type.Precision;
      c.IndexSpec = Type.StringParam;
      c.UniqueIdInfo = AutoIncUnique ? 1 : 0;
      break;
    case sqlLink:
    case sqlRelation: c.LinkedTable = Type.StringParam; break;
    default: break;
  }
  if (Expression) {
    c.Calculation = Expression->SqlText();
    if (!ExpressionIsDefault) c.Options |= coComputed;
  }
  return c;
}

std::unique_ptr<TVdbSqlColumnDefinition> TVdbSqlColumnDefinition::CreateCopy() const {
  auto d = std::make_unique<TVdbSqlColumnDefinition>();
  d->ColumnName = ColumnName;
  d->Type = Type;
  d->MayBeNull = MayBeNull;
  d->AutoIncUnique = AutoIncUnique;
  d->Expression = CopyPtr(Expression);
  d->ExpressionIsDefault = ExpressionIsDefault;
  return d;
}

bool TVdbSqlColumnDefinition::IsSyntacticallyEqual(const TVdbSqlColumnDefinition& o) const {
  return ColumnName == o.ColumnName && Type == o.Type && MayBeNull == o.MayBeNull &&
         AutoIncUnique == o.AutoIncUnique && EqualPtr(Expression, o.Expression) &&
         (!Expression || ExpressionIsDefault == o.ExpressionIsDefault);
}

std::u16string TVdbSqlColumnDefinition::GetSqlText() const {
  std::u16string r = VdbSqlName(ColumnName);
  if (Type.SqlType == sqlNone) return r;
  r += u" " + VdbSqlTypeText(Type);
  if (Type.SqlType == sqlAutoInc) {
    if (AutoIncUnique) r += u" UNIQUE";
  } else if (!MayBeNull) {
    r += u" NOT NULL";
  }
  if (Expression) r += (ExpressionIsDefault ? u" DEFAULT " : u" SET ") + Expression->SqlText();
  return r;
}

std::unique_ptr<TVdbSqlCommand> TVdbSqlCreateTableCommand::CreateCopy() const {
  auto c = std::make_unique<TVdbSqlCreateTableCommand>();
  c->TableName = TableName;
  c->SqlText = SqlText;
  c->Options = Options;
  c->Capacity = Capacity;
  c->ColumnDefinitions = CopyList(ColumnDefinitions);
  c->Constraints = CopyConstraints(Constraints);
  return c;
}

bool TVdbSqlCreateTableCommand::IsSyntacticallyEqual(const TVdbSqlCommand& other) const {
  const auto* o = dynamic_cast<const TVdbSqlCreateTableCommand*>(&other);
  return o && TableName == o->TableName && Options == o->Options && Capacity == o->Capacity &&
         EqualList(ColumnDefinitions, o->ColumnDefinitions) && EqualConstraints(Constraints, o->Constraints);
}

std::u16string TVdbSqlCreateTableCommand::GetSqlText() const {
  std::u16string r = u"CREATE TABLE " + VdbSqlName(TableName) + OptionsText(Options) + u" (";
  bool first = true;
  for (const auto& d : ColumnDefinitions) {
    r += (first ? u"" : u", ") + d->GetSqlText();
    first = false;
  }
  for (const auto& t : ConstraintTexts(Constraints)) {
    r += (first ? u"" : u", ") + t;
    first = false;
  }
  return r + u")";
}

std::unique_ptr<TVdbSqlCommand> TVdbSqlAlterTableCommand::CreateCopy() const {
  auto c = std::make_unique<TVdbSqlAlterTableCommand>();
  c->TableName = TableName;
  c->SqlText = SqlText;
  c->Options = Options;
  c->Capacity = Capacity;
  c->ColumnNames = ColumnNames;
  c->ColumnDefinitions = CopyList(ColumnDefinitions);
  c->DeletedConstraintNames = DeletedConstraintNames;
  c->Constraints = CopyConstraints(Constraints);
  c->ColumnAlterations = ColumnAlterations;
  return c;
}

bool TVdbSqlAlterTableCommand::IsSyntacticallyEqual(const TVdbSqlCommand& other) const {
  const auto* o = dynamic_cast<const TVdbSqlAlterTableCommand*>(&other);
  return o && TableName == o->TableName && Options == o->Options && Capacity == o->Capacity &&
         ColumnNames == o->ColumnNames && ColumnAlterations == o->ColumnAlterations &&
         EqualList(ColumnDefinitions, o->ColumnDefinitions) && DeletedConstraintNames == o->DeletedConstraintNames &&
         EqualConstraints(Constraints, o->Constraints);
}

std::u16string TVdbSqlAlterTableCommand::GetSqlText() const {
  std::u16string r = u"ALTER TABLE " + VdbSqlName(TableName) + OptionsText(Options);
  std::vector<std::u16string> parts;
  for (std::size_t i = 0; i < ColumnNames.size(); ++i) {
    const TVdbSqlAlterKind kind = i < ColumnAlterations.size() ? ColumnAlterations[i]
                                  : !ColumnDefinitions[i]      ? sakDropColumn
                                  : ColumnNames[i].empty()     ? sakAddColumn
                                                               : sakModifyColumn;
    const auto& def = ColumnDefinitions[i];
    switch (kind) {
      case sakAddColumn: parts.push_back(u"ADD COLUMN " + def->GetSqlText()); break;
      case sakDropColumn: parts.push_back(u"DROP COLUMN " + VdbSqlName(ColumnNames[i])); break;
      case sakModifyColumn: parts.push_back(u"MODIFY COLUMN " + def->GetSqlText()); break;
      case sakRenameColumn:
        parts.push_back(u"RENAME COLUMN " + VdbSqlName(ColumnNames[i]) + u" TO " + VdbSqlName(def->ColumnName));
        break;
    }
  }
  for (const auto& n : DeletedConstraintNames) parts.push_back(u"DROP CONSTRAINT " + VdbSqlName(n));
  for (auto& t : ConstraintTexts(Constraints)) parts.push_back(u"ADD " + t);
  for (std::size_t i = 0; i < parts.size(); ++i) r += (i ? u", " : u" ") + parts[i];
  return r;
}

std::unique_ptr<TVdbSqlCommand> TVdbSqlCreateIndexCommand::CreateCopy() const {
  auto c = std::make_unique<TVdbSqlCreateIndexCommand>();
  c->TableName = TableName;
  c->SqlText = SqlText;
  c->IndexName = IndexName;
  c->Unique = Unique;
  c->SortSpecifications = SortSpecifications;
  return c;
}

bool TVdbSqlCreateIndexCommand::IsSyntacticallyEqual(const TVdbSqlCommand& other) const {
  const auto* o = dynamic_cast<const TVdbSqlCreateIndexCommand*>(&other);
  return o && TableName == o->TableName && IndexName == o->IndexName && Unique == o->Unique &&
         SortSpecifications == o->SortSpecifications;
}

std::u16string TVdbSqlCreateIndexCommand::GetSqlText() const {
  return (Unique ? u"CREATE UNIQUE INDEX " : u"CREATE INDEX ") + VdbSqlName(IndexName) + u" ON " +
         VdbSqlName(TableName) + u" (" + SortText(SortSpecifications) + u")";
}

std::unique_ptr<TVdbSqlCommand> TVdbSqlCreateFulltextIndexCommand::CreateCopy() const {
  auto c = std::make_unique<TVdbSqlCreateFulltextIndexCommand>();
  c->TableName = TableName;
  c->SqlText = SqlText;
  c->IndexName = IndexName;
  c->FieldNames = FieldNames;
  c->DictionaryName = DictionaryName;
  c->CreateDictionary = CreateDictionary;
  c->UpdateDictionary = UpdateDictionary;
  c->Separators = Separators;
  return c;
}

bool TVdbSqlCreateFulltextIndexCommand::IsSyntacticallyEqual(const TVdbSqlCommand& other) const {
  const auto* o = dynamic_cast<const TVdbSqlCreateFulltextIndexCommand*>(&other);
  return o && TableName == o->TableName && IndexName == o->IndexName && FieldNames == o->FieldNames &&
         DictionaryName == o->DictionaryName && CreateDictionary == o->CreateDictionary &&
         UpdateDictionary == o->UpdateDictionary && Separators == o->Separators;
}

std::u16string TVdbSqlCreateFulltextIndexCommand::GetSqlText() const {
  std::u16string r = u"CREATE FULLTEXTINDEX " + VdbSqlName(IndexName) + u" ON " + VdbSqlName(TableName) + u" (" +
                     Names(FieldNames) + u") DICTIONARY " + VdbSqlName(DictionaryName);
  if (CreateDictionary) r += u" CREATE";
  if (UpdateDictionary) r += u" UPDATE";
  if (Separators) r += u" SEPARATORS " + VdbQuoteSqlString(*Separators);
  return r;
}

std::unique_ptr<TVdbSqlCommand> TVdbSqlDropCommand::CreateCopy() const {
  auto c = std::make_unique<TVdbSqlDropCommand>();
  c->TableName = TableName;
  c->SqlText = SqlText;
  c->IndexName = IndexName;
  c->IsFulltext = IsFulltext;
  return c;
}

bool TVdbSqlDropCommand::IsSyntacticallyEqual(const TVdbSqlCommand& other) const {
  const auto* o = dynamic_cast<const TVdbSqlDropCommand*>(&other);
  return o && TableName == o->TableName && IndexName == o->IndexName && IsFulltext == o->IsFulltext;
}

std::u16string TVdbSqlDropCommand::GetSqlText() const {
  if (IndexName.empty() && !IsFulltext) return u"DROP TABLE " + VdbSqlName(TableName);
  return (IsFulltext ? u"DROP FULLTEXTINDEX " : u"DROP INDEX ") + VdbSqlName(TableName) + u"." + VdbSqlName(IndexName);
}

std::unique_ptr<TVdbSqlCommand> TVdbSqlUpdateIndexCommand::CreateCopy() const {
  auto c = std::make_unique<TVdbSqlUpdateIndexCommand>();
  c->TableName = TableName;
  c->SqlText = SqlText;
  c->IndexName = IndexName;
  c->IsFulltext = IsFulltext;
  return c;
}

bool TVdbSqlUpdateIndexCommand::IsSyntacticallyEqual(const TVdbSqlCommand& other) const {
  const auto* o = dynamic_cast<const TVdbSqlUpdateIndexCommand*>(&other);
  return o && TableName == o->TableName && IndexName == o->IndexName && IsFulltext == o->IsFulltext;
}

std::u16string TVdbSqlUpdateIndexCommand::GetSqlText() const {
  return (IsFulltext ? u"UPDATE FULLTEXTINDEX " : u"UPDATE INDEX ") + VdbSqlName(TableName) + u"." +
         (IndexName == u"*" && !IsFulltext ? u"*" : VdbSqlName(IndexName));
}

// ---- sub-queries

std::unique_ptr<IVdbSubQuery> TVdbSqlSubQuery::CreateCopy() const {
  return std::make_unique<TVdbSqlSubQuery>(Query ? Query->CopyQuery() : nullptr);
}

bool TVdbSqlSubQuery::IsSyntacticallyEqual(const IVdbSubQuery& other) const {
  const auto* o = dynamic_cast<const TVdbSqlSubQuery*>(&other);
  return o && EqualPtr(Query, o->Query);
}

std::u16string TVdbSqlSubQuery::SqlText() const { return Query ? Query->GetSqlText() : std::u16string(); }

void TVdbSqlSubQuery::Prepare(TVdbPrepareContext& context) {
  if (!Evaluator || !Query) throw EVdbEngine(errNotSupported, {u"a sub-query here"});
  Evaluator->Prepare(*Query, context);
}

TVdbTruth TVdbSqlSubQuery::Test(TVdbComparisonOperator op, TVdbQuantifier quantifier, const TVdbDataValue* left,
                                const TVdbDataType* leftType) {
  if (!Evaluator || !Query) throw EVdbEngine(errNotSupported, {u"a sub-query here"});
  return Evaluator->Test(*Query, op, quantifier, left, leftType);
}

}  // namespace vdb
