// The statement grammar of TSqlParser: queries with set operations, INSERT, UPDATE, DELETE,
// CREATE/ALTER/DROP TABLE, the index statements and the full-text statements (parsed only).
// Built on the scanner and the condition and expression rules of VdbSqlParser.cpp; the first
// token of a statement decides its kind.
#include <algorithm>
#include <utility>

#include "base/VdbAscii.h"
#include "base/VdbErrorCodes.h"
#include "sql/VdbSqlCommand.h"
#include "sql/VdbSqlParser.h"

namespace vdb {

namespace {

}  // namespace

// ---- helpers

bool TSqlParser::IsName() const noexcept {
  return FLastTokenType == sqltIdentifier || FLastTokenType == sqltReference || FLastTokenType == sqltString;
}

std::u16string TSqlParser::ParseName() {
  if (!IsName()) RaiseExpected(TokenDisplayName(sqltReference));
  std::u16string name = FLastTokenString;
  NextToken();
  return name;
}

std::vector<std::u16string> TSqlParser::ParseNameList() {
  Expect(sqltLeftParenthesis);
  std::vector<std::u16string> names;
  names.push_back(ParseName());
  while (FLastTokenType == sqltComma) {
    NextToken();
    names.push_back(ParseName());
  }
  Expect(sqltRightParenthesis);
  return names;
}

std::int64_t TSqlParser::ParseInteger() {
  if (FLastTokenType != sqltNumber || FLastTokenString.empty() || FLastTokenString.size() > 18 ||
      FLastTokenString.find_first_not_of(u"0123456789") != std::u16string::npos)
    RaiseError(errSyntaxError, {FLastTokenString});
  std::int64_t v = 0;
  for (char16_t c : FLastTokenString) v = v * 10 + (c - u'0');
  NextToken();
  return v;
}

// ---- statements

std::unique_ptr<TVdbSqlCommand> TSqlParser::ParseFirstStatement() {
  InitParsing();
  return ParseStatement();
}

std::unique_ptr<TVdbSqlCommand> TSqlParser::ParseNextStatement() {
  if (FLastTokenType == sqltEndOfStatement) return nullptr;
  return ParseStatement();
}

std::unique_ptr<TVdbSqlCommand> TSqlParser::ParseStatement() {
  const std::size_t start = FLastTokenPos;
  std::unique_ptr<TVdbSqlCommand> command;
  switch (FLastTokenType) {
    case sqltAlter: command = ParseAlter(); break;
    case sqltCreate: command = ParseCreate(); break;
    case sqltDelete: command = ParseDelete(); break;
    case sqltDrop: command = ParseDrop(); break;
    case sqltInsert: command = ParseInsert(); break;
    case sqltUpdate: command = ParseUpdate(); break;
    default: command = ParseQuery(); break;
  }
  const std::size_t end = std::min(FLastTokenPos, FStatementText.size());
  command->SqlText = FStatementText.substr(start, end > start ? end - start : 0);
  while (!command->SqlText.empty() && (command->SqlText.back() == u' ' || command->SqlText.back() == u'\n' ||
                                       command->SqlText.back() == u'\r' || command->SqlText.back() == u'\t'))
    command->SqlText.pop_back();
  if (FLastTokenType == sqltSemicolon) {
    NextToken();
  } else if (FLastTokenType != sqltEndOfStatement) {
    RaiseExpected(TokenDisplayName(sqltEndOfStatement));
  }
  return command;
}

// ---- queries

std::unique_ptr<TVdbSqlQuery> TSqlParser::ParseQuery() {
  auto q = std::make_unique<TVdbSqlQuery>();
  q->TableExpression = ParseTableExpression();
  if (FLastTokenType == sqltOrder) {
    NextToken();
    Expect(sqltBy);
    q->SortSpecificationList.push_back(ParseSortSpecification());
    while (FLastTokenType == sqltComma) {
      NextToken();
      q->SortSpecificationList.push_back(ParseSortSpecification());
    }
  }
  return q;
}

TVdbSqlSortSpecification TSqlParser::ParseSortSpecification() {
  TVdbSqlSortSpecification s;
  if (FLastTokenType == sqltNumber) {
    // A select-list position.
    if (FLastTokenString.find_first_not_of(u"0123456789") != std::u16string::npos)
      RaiseError(errSyntaxError, {FLastTokenString});
    s.ColumnNameOrIdx = FLastTokenString;
    NextToken();
  } else {
    if (FLastTokenType != sqltIdentifier && FLastTokenType != sqltReference)
      RaiseExpected(TokenDisplayName(sqltReference));
    s.ColumnNameOrIdx = FLastTokenString;
    NextToken();
    if (FLastTokenType == sqltDot) {
      NextToken();
      if (FLastTokenType != sqltIdentifier && FLastTokenType != sqltReference)
        RaiseExpected(TokenDisplayName(sqltReference));
      s.ColumnNameOrIdx += u"." + FLastTokenString;
      NextToken();
    }
  }
  if (FLastTokenType == sqltDesc) {
    s.Asc = false;
    NextToken();
  }
  if (FLastTokenType == sqltAsc) NextToken();
  return s;
}

void TSqlParser::ParseCorresponding(TVdbSqlCorresponding& options) {
  if (FLastTokenType == sqltAll) {
    options.All = true;
    NextToken();
  }
  if (FLastTokenType == sqltCorresponding) {
    options.Corresponding = true;
    NextToken();
    if (FLastTokenType == sqltBy) {
      NextToken();
      Expect(sqltLeftParenthesis);
      for (;;) {
        if (FLastTokenType != sqltIdentifier && FLastTokenType != sqltReference)
          RaiseExpected(TokenDisplayName(sqltReference));
        std::u16string name = FLastTokenString;
        NextToken();
        if (FLastTokenType == sqltDot) {
          NextToken();
          if (FLastTokenType != sqltIdentifier && FLastTokenType != sqltReference)
            RaiseExpected(TokenDisplayName(sqltReference));
          name += u"." + FLastTokenString;
          NextToken();
        }
        options.CorrespondingFields.push_back(std::move(name));
        if (FLastTokenType != sqltComma) break;
        NextToken();
      }
      Expect(sqltRightParenthesis);
    }
  }
}

std::unique_ptr<TVdbSqlTableExpression> TSqlParser::ParseTableExpression() {
  auto e = std::make_unique<TVdbSqlTableExpression>();
  e->TableTerm = ParseTableTerm();
  if (FLastTokenType == sqltUnion || FLastTokenType == sqltExcept) {
    e->IsUnion = FLastTokenType == sqltUnion;
    NextToken();
    ParseCorresponding(e->Options);
    e->TableExpression = ParseTableExpression();
  }
  return e;
}

std::unique_ptr<TVdbSqlTableTerm> TSqlParser::ParseTableTerm() {
  auto t = std::make_unique<TVdbSqlTableTerm>();
  t->TablePrimitive = ParseTablePrimitive();
  if (FLastTokenType == sqltIntersect) {
    NextToken();
    ParseCorresponding(t->Options);
    t->TableTerm = ParseTableTerm();
  }
  return t;
}

std::unique_ptr<TVdbSqlTablePrimitive> TSqlParser::ParseTablePrimitive() {
  switch (FLastTokenType) {
    case sqltLeftParenthesis: {
      NextToken();
      auto p = std::make_unique<TVdbSqlTableSimplePrimitive>();
      p->TableExpression = ParseTableExpression();
      Expect(sqltRightParenthesis);
      return p;
    }
    case sqltTable: {
      NextToken();
      auto p = std::make_unique<TVdbSqlTableSimplePrimitive>();
      p->TableName = ParseName();
      p->AliasName = p->TableName;
      return p;
    }
    case sqltSelect: return ParseSelectExpression();
    default: RaiseExpected(u"SELECT");
  }
}

std::unique_ptr<TVdbSqlSelectExpression> TSqlParser::ParseSelectExpression() {
  struct TRestore {
    bool& Flag;
    bool Old;
    ~TRestore() { Flag = Old; }
  } restore{FAllowAggregates, FAllowAggregates};
  FAllowAggregates = true;
  return ParseSelectBody();
}

std::unique_ptr<TVdbSqlSelectExpression> TSqlParser::ParseSelectBody() {
  auto s = std::make_unique<TVdbSqlSelectExpression>();
  Expect(sqltSelect);
  if (FLastTokenType == sqltTop) {
    NextToken();
    // An integer literal; TOP 0 would read as "no TOP" and return every row.
    const bool digits = FLastTokenType == sqltNumber && !FLastTokenString.empty() &&
                        FLastTokenString.find_first_not_of(u"0123456789") == std::u16string::npos &&
                        FLastTokenString.find_first_not_of(u'0') != std::u16string::npos;
    if (!digits) RaiseError(errSyntaxError, {FLastTokenString});
    s->TopCount = ParseInteger();
  }
  if (FLastTokenType == sqltDistinct) {
    s->Distinct = true;
    NextToken();
  }
  if (FLastTokenType == sqltAsterisk) {
    NextToken();
    s->SelectElements.emplace_back();
    s->LabelList.emplace_back();
  } else {
    for (;;) {
      bool done = false;
      if (FLastTokenType == sqltIdentifier || FLastTokenType == sqltReference) {
        // name.* selects every column of that table; anything else is an expression.
        SavePosition();
        const std::u16string table = FLastTokenString;
        NextToken();
        if (FLastTokenType == sqltDot) {
          NextToken();
          if (FLastTokenType == sqltAsterisk) {
            NextToken();
            TVdbSqlSelectElement e;
            e.TableName = table;
            s->SelectElements.push_back(std::move(e));
            s->LabelList.emplace_back();
            done = true;
          }
        }
        if (!done) RestorePosition();
      }
      if (!done) {
        auto expression = ParseExpression();
        std::u16string label;
        const bool as = FLastTokenType == sqltAs;
        if (as) NextToken();
        if (FLastTokenType == sqltIdentifier || FLastTokenType == sqltReference ||
            (as && FLastTokenType == sqltString)) {
          label = FLastTokenString;
          NextToken();
          while (FLastTokenType == sqltDot) {
            NextToken();
            if (FLastTokenType != sqltIdentifier && FLastTokenType != sqltReference)
              RaiseExpected(TokenDisplayName(sqltIdentifier));
            label += u"." + FLastTokenString;
            NextToken();
          }
        } else if (as) {
          RaiseExpected(TokenDisplayName(sqltIdentifier));
        }
        s->AddSelectElement(std::move(expression), std::move(label));
      }
      if (FLastTokenType != sqltComma) break;
      NextToken();
    }
  }
  Expect(sqltFrom);
  s->TableReferences.push_back(ParseTableReference());
  while (FLastTokenType == sqltComma) {
    NextToken();
    s->TableReferences.push_back(ParseTableReference());
  }
  if (FLastTokenType == sqltWhere) {
    NextToken();
    s->SearchCondition = ParseSearchCondition();
  }
  if (FLastTokenType == sqltGroup) {
    NextToken();
    Expect(sqltBy);
    s->GroupByExpressions.push_back(ParseExpression());
    while (FLastTokenType == sqltComma) {
      NextToken();
      s->GroupByExpressions.push_back(ParseExpression());
    }
  }
  if (FLastTokenType == sqltHaving) {
    NextToken();
    s->HavingCondition = ParseSearchCondition();
  }
  return s;
}

std::unique_ptr<TVdbSqlTableReference> TSqlParser::ParseTablePrimary() {
  if (FLastTokenType == sqltLeftParenthesis) {
    NextToken();
    auto inner = ParseTableReference();
    Expect(sqltRightParenthesis);
    return inner;
  }
  auto r = std::make_unique<TVdbSqlTableReference>();
  r->TableName = ParseName();
  const bool as = FLastTokenType == sqltAs;
  if (as) NextToken();
  if (FLastTokenType == sqltIdentifier || FLastTokenType == sqltReference) {
    r->TableAlias = FLastTokenString;
    NextToken();
  } else if (as) {
    RaiseExpected(TokenDisplayName(sqltIdentifier));
  } else {
    r->TableAlias = r->TableName;
  }
  return r;
}

std::unique_ptr<TVdbSqlTableReference> TSqlParser::ParseTableReference() {
  auto left = ParseTablePrimary();
  for (;;) {
    TVdbJoinType type;
    switch (FLastTokenType) {
      case sqltCross:
        NextToken();
        Expect(sqltJoin);
        type = tjtCrossJoin;
        break;
      case sqltJoin:
        NextToken();
        type = tjtInnerJoin;
        break;
      case sqltInner:
        NextToken();
        Expect(sqltJoin);
        type = tjtInnerJoin;
        break;
      case sqltLeft:
      case sqltRight:
      case sqltFull:
        type = FLastTokenType == sqltLeft    ? tjtLeftOuterJoin
               : FLastTokenType == sqltRight ? tjtRightOuterJoin
                                             : tjtFullOuterJoin;
        NextToken();
        if (FLastTokenType == sqltOuter) NextToken();
        Expect(sqltJoin);
        break;
      default: return left;
    }
    auto join = std::make_unique<TVdbSqlTableReference>();
    join->IsJoinedTable = true;
    join->JoinType = type;
    join->Left = std::move(left);
    join->Right = ParseTablePrimary();
    if (type != tjtCrossJoin) {
      Expect(sqltOn);
      join->SearchCondition = ParseSearchCondition();
      join->SearchCondition->Optimize();
    }
    left = std::move(join);
  }
}

// ---- data changes

std::unique_ptr<TVdbSqlCommand> TSqlParser::ParseInsert() {
  auto c = std::make_unique<TVdbSqlInsertCommand>();
  NextToken();
  Expect(sqltInto);
  c->TableName = ParseName();
  if (FLastTokenType == sqltLeftParenthesis) {
    NextToken();
    for (;;) {
      if (FLastTokenType != sqltIdentifier && FLastTokenType != sqltReference)
        RaiseExpected(TokenDisplayName(sqltReference));
      c->Columns.push_back(FLastTokenString);
      NextToken();
      // A plain column name, no expression.
      if (FLastTokenType != sqltComma && FLastTokenType != sqltRightParenthesis)
        RaiseExpected(TokenDisplayName(sqltReference));
      if (FLastTokenType != sqltComma) break;
      NextToken();
    }
    Expect(sqltRightParenthesis);
  }
  if (FLastTokenType == sqltValues) {
    NextToken();
    const bool inList = FInList;
    Expect(sqltLeftParenthesis);
    FInList = true;
    for (;;) {
      if (!c->Columns.empty() && c->Values.size() >= c->Columns.size()) RaiseError(errTooManyValues);
      c->Values.push_back(ParseExpression());
      if (FLastTokenType != sqltComma) break;
      NextToken();
    }
    FInList = inList;
    Expect(sqltRightParenthesis);
  } else {
    c->SourceQuery = ParseQuery();
  }
  return c;
}

std::unique_ptr<TVdbSqlCommand> TSqlParser::ParseUpdate() {
  NextToken();
  if (FLastTokenType == sqltIndex || FLastTokenType == sqltFulltextIndex) {
    auto c = std::make_unique<TVdbSqlUpdateIndexCommand>();
    c->IsFulltext = FLastTokenType == sqltFulltextIndex;
    NextToken();
    c->TableName = ParseName();
    Expect(sqltDot);
    if (!c->IsFulltext && FLastTokenType == sqltAsterisk) {
      c->IndexName = u"*";
      NextToken();
    } else {
      c->IndexName = ParseName();
    }
    return c;
  }
  auto c = std::make_unique<TVdbSqlUpdateCommand>();
  c->TableName = ParseName();
  Expect(sqltSet);
  for (;;) {
    if (FLastTokenType != sqltIdentifier && FLastTokenType != sqltReference)
      RaiseExpected(TokenDisplayName(sqltReference));
    c->Columns.push_back(FLastTokenString);
    NextToken();
    Expect(sqltEqual);
    bool subQuery = false;
    if (FLastTokenType == sqltLeftParenthesis) {
      SavePosition();
      NextToken();
      subQuery = FLastTokenType == sqltSelect;
      if (!subQuery) RestorePosition();
    }
    if (subQuery) {
      c->SubQueries.push_back(ParseQuery());
      c->Expressions.push_back(nullptr);
      Expect(sqltRightParenthesis);
    } else {
      c->Expressions.push_back(ParseExpression());
      c->SubQueries.push_back(nullptr);
    }
    if (FLastTokenType != sqltComma) break;
    NextToken();
  }
  if (FLastTokenType == sqltWhere) {
    NextToken();
    c->SearchCondition = ParseSearchCondition();
  }
  return c;
}

std::unique_ptr<TVdbSqlCommand> TSqlParser::ParseDelete() {
  auto c = std::make_unique<TVdbSqlDeleteCommand>();
  NextToken();
  Expect(sqltFrom);
  c->TableName = ParseName();
  if (FLastTokenType == sqltWhere) {
    NextToken();
    c->SearchCondition = ParseSearchCondition();
  }
  return c;
}

// ---- definitions

std::unique_ptr<TVdbSqlCommand> TSqlParser::ParseDrop() {
  auto c = std::make_unique<TVdbSqlDropCommand>();
  NextToken();
  switch (FLastTokenType) {
    case sqltTable:
      NextToken();
      c->TableName = ParseName();
      return c;
    case sqltIndex:
    case sqltFulltextIndex:
      c->IsFulltext = FLastTokenType == sqltFulltextIndex;
      NextToken();
      c->TableName = ParseName();
      Expect(sqltDot);
      c->IndexName = ParseName();
      return c;
    default: RaiseExpected(u"TABLE");
  }
}

void TSqlParser::ParseTableOptions(TVdbSqlTableOptions& options) {
  for (;;) {
    switch (FLastTokenType) {
      case sqltCollate:
        NextToken();
        options.Language = ParseName();
        break;
      case sqltEncryption: {
        NextToken();
        if (!IsName()) RaiseExpected(TokenDisplayName(sqltReference));
        const int method = VdbSqlEncryptionMethod(FLastTokenString);
        if (method < 0) RaiseError(errUnknownIdentifier, {FLastTokenString});
        options.EncryptionMethod = method;
        NextToken();
        break;
      }
      case sqltLevel:
        NextToken();
        if (FLastTokenType != sqltNumber) RaiseExpected(TokenDisplayName(sqltNumber));
        options.Level = static_cast<std::int32_t>(std::min<std::int64_t>(ParseInteger(), INT32_MAX));
        break;
      case sqltPassword:
        NextToken();
        if (FLastTokenType != sqltString) RaiseExpected(TokenDisplayName(sqltString));
        options.Key = FLastTokenString;
        NextToken();
        break;
      default: {
        // Methods from Classic on encrypt with a key; the others have none to take.
        const int method = options.EncryptionMethod.value_or(-1);
        if (method >= 3 && !options.Key) RaiseExpected(u"PASSWORD");
        if (method < 3 && options.Key) RaiseExpected(u"ENCRYPTION");
        return;
      }
    }
  }
}

void TSqlParser::ParseDataType(TVdbSqlTypeSpec& type) {
  const TVdbSqlType sqlType = FLastTokenType == sqltIdentifier ? VdbSqlTypeByName(FLastTokenString) : sqlNone;
  if (sqlType == sqlNone) RaiseExpected(TokenDisplayName(sqltDataType));
  type = TVdbSqlTypeSpec{};
  type.SqlType = sqlType;
  NextToken();
  switch (sqlType) {
    case sqlDouble:
      type.Precision = 4;
      if (FLastTokenType == sqltPrecision) NextToken();
      if (FLastTokenType == sqltLeftParenthesis) {
        NextToken();
        type.Precision = static_cast<std::int32_t>(std::min<std::int64_t>(ParseInteger(), INT32_MAX));
        Expect(sqltRightParenthesis);
      }
      break;
    case sqlChar:
    case sqlVarChar:
    case sqlWChar:
    case sqlVarWChar:
      Expect(sqltLeftParenthesis);
      type.Size = static_cast<std::int32_t>(std::min<std::int64_t>(ParseInteger(), INT32_MAX));
      Expect(sqltRightParenthesis);
      if (FLastTokenType == sqltCollate) {
        NextToken();
        type.StringParam = ParseName();
      }
      break;
    case sqlTime:
      if (FLastTokenType == sqltLeftParenthesis) {
        NextToken();
        type.Precision = static_cast<std::int32_t>(std::min<std::int64_t>(ParseInteger(), INT32_MAX));
        Expect(sqltRightParenthesis);
      }
      break;
    case sqlAutoInc:
      type.Precision = 1;
      if (FLastTokenType == sqltLeftParenthesis) {
        NextToken();
        if (FLastTokenType == sqltString) {
          type.StringParam = FLastTokenString;
          NextToken();
          if (FLastTokenType == sqltComma) NextToken();
        }
        if (FLastTokenType == sqltNumber)
          type.Precision = static_cast<std::int32_t>(std::min<std::int64_t>(ParseInteger(), INT32_MAX));
        Expect(sqltRightParenthesis);
      }
      break;
    case sqlLink:
    case sqlRelation:
      Expect(sqltLeftParenthesis);
      type.StringParam = ParseName();
      Expect(sqltRightParenthesis);
      break;
    case sqlEnum:
      Expect(sqltLeftParenthesis);
      type.StringParam = ParseName();
      while (FLastTokenType != sqltRightParenthesis) {
        if (FLastTokenType == sqltComma) NextToken();
        type.StringParam += u"," + ParseName();
      }
      NextToken();
      break;
    default: break;
  }
}

std::unique_ptr<TVdbSqlColumnDefinition> TSqlParser::ParseColumnDefinition() {
  auto d = std::make_unique<TVdbSqlColumnDefinition>();
  d->ColumnName = ParseName();
  ParseDataType(d->Type);
  auto notNull = [&] {
    if (FLastTokenType != sqltNot) return;
    NextToken();
    Expect(sqltNull);
    d->MayBeNull = false;
  };
  if (d->Type.SqlType == sqlAutoInc) {
    d->MayBeNull = false;
    notNull();
    if (FLastTokenType == sqltUnique) {
      d->AutoIncUnique = true;
      NextToken();
    }
  } else {
    notNull();
  }
  if (FLastTokenType == sqltDefault || FLastTokenType == sqltSet) {
    d->ExpressionIsDefault = FLastTokenType == sqltDefault;
    NextToken();
    d->Expression = ParseExpression();
    if (d->Type.SqlType != sqlAutoInc && d->MayBeNull) notNull();
  }
  return d;
}

// A constraint element; false when the current token starts none (a column definition follows).
bool TSqlParser::ParseConstraint(TVdbSqlConstraints& constraints, std::u16string name) {
  switch (FLastTokenType) {
    case sqltCheck: {
      NextToken();
      Expect(sqltLeftParenthesis);
      TVdbSqlCheckConstraint c;
      c.Name = std::move(name);
      c.SearchCondition = ParseSearchCondition();
      Expect(sqltRightParenthesis);
      constraints.CheckConstraints.push_back(std::move(c));
      return true;
    }
    case sqltPrimary:
    case sqltUnique: {
      TVdbSqlCandidateKey k;
      k.Name = std::move(name);
      k.Primary = FLastTokenType == sqltPrimary;
      NextToken();
      if (k.Primary) Expect(sqltKey);
      k.Columns = ParseNameList();
      constraints.CandidateKeys.push_back(std::move(k));
      return true;
    }
    case sqltForeign: {
      TVdbSqlForeignKey k;
      k.Name = std::move(name);
      NextToken();
      Expect(sqltKey);
      k.Columns = ParseNameList();
      Expect(sqltReferences);
      k.ParentTable = ParseName();
      if (FLastTokenType == sqltLeftParenthesis) k.ParentColumns = ParseNameList();
      while (FLastTokenType == sqltOn) {
        NextToken();
        if (FLastTokenType != sqltDelete && FLastTokenType != sqltUpdate) RaiseExpected(u"DELETE");
        const bool onDelete = FLastTokenType == sqltDelete;
        NextToken();
        TVdbReferentialAction action;
        if (FLastTokenType == sqltCascade) {
          action = traCascade;
          NextToken();
        } else if (FLastTokenType == sqltNo) {
          NextToken();
          Expect(sqltAction);
          action = traNone;
        } else {
          RaiseExpected(u"CASCADE");
        }
        (onDelete ? k.DeleteAction : k.UpdateAction) = action;
      }
      constraints.ForeignKeys.push_back(std::move(k));
      return true;
    }
    default: return false;
  }
}

std::unique_ptr<TVdbSqlCommand> TSqlParser::ParseCreate() {
  NextToken();
  if (FLastTokenType == sqltTable) {
    NextToken();
    auto c = std::make_unique<TVdbSqlCreateTableCommand>();
    c->TableName = ParseName();
    ParseTableOptions(c->Options);
    Expect(sqltLeftParenthesis);
    for (;;) {
      std::u16string constraintName;
      bool named = false;
      if (FLastTokenType == sqltConstraint) {
        NextToken();
        constraintName = ParseName();
        named = true;
      }
      if (!ParseConstraint(c->Constraints, constraintName)) {
        if (named) RaiseExpected(u"CHECK");
        c->ColumnDefinitions.push_back(ParseColumnDefinition());
      }
      if (FLastTokenType != sqltComma) break;
      NextToken();
    }
    Expect(sqltRightParenthesis);
    return c;
  }
  if (FLastTokenType == sqltFulltextIndex) {
    NextToken();
    auto c = std::make_unique<TVdbSqlCreateFulltextIndexCommand>();
    c->IndexName = ParseName();
    Expect(sqltOn);
    c->TableName = ParseName();
    c->FieldNames = ParseNameList();
    Expect(sqltDictionary);
    c->DictionaryName = ParseName();
    if (FLastTokenType == sqltCreate) {
      c->CreateDictionary = true;
      NextToken();
    }
    if (FLastTokenType == sqltUpdate) {
      c->UpdateDictionary = true;
      NextToken();
    }
    if (FLastTokenType == sqltIdentifier && VdbUpperAscii(FLastTokenString) == u"SEPARATORS") NextToken();
    if (FLastTokenType == sqltString) {
      c->Separators = FLastTokenString;
      NextToken();
    }
    return c;
  }
  auto c = std::make_unique<TVdbSqlCreateIndexCommand>();
  if (FLastTokenType == sqltUnique) {
    c->Unique = true;
    NextToken();
  }
  if (FLastTokenType != sqltIndex) RaiseExpected(c->Unique ? u"INDEX" : u"TABLE");
  NextToken();
  c->IndexName = ParseName();
  Expect(sqltOn);
  c->TableName = ParseName();
  Expect(sqltLeftParenthesis);
  c->SortSpecifications.push_back(ParseSortSpecification());
  while (FLastTokenType != sqltRightParenthesis) {
    if (FLastTokenType == sqltComma) NextToken();
    c->SortSpecifications.push_back(ParseSortSpecification());
  }
  NextToken();
  return c;
}

std::unique_ptr<TVdbSqlCommand> TSqlParser::ParseAlter() {
  NextToken();
  Expect(sqltTable);
  auto c = std::make_unique<TVdbSqlAlterTableCommand>();
  c->TableName = ParseName();
  ParseTableOptions(c->Options);
  auto add = [&](TVdbSqlAlterKind kind, std::u16string name, std::unique_ptr<TVdbSqlColumnDefinition> def) {
    c->ColumnAlterations.push_back(kind);
    c->ColumnNames.push_back(std::move(name));
    c->ColumnDefinitions.push_back(std::move(def));
  };
  for (;;) {
    switch (FLastTokenType) {
      case sqltAdd: {
        NextToken();
        std::u16string constraintName;
        bool named = false;
        if (FLastTokenType == sqltConstraint) {
          NextToken();
          constraintName = ParseName();
          named = true;
        }
        if (ParseConstraint(c->Constraints, constraintName)) break;
        if (named) RaiseExpected(u"CHECK");
        if (FLastTokenType == sqltColumn) NextToken();
        add(sakAddColumn, {}, ParseColumnDefinition());
        break;
      }
      case sqltDrop:
        NextToken();
        if (FLastTokenType == sqltConstraint) {
          NextToken();
          c->DeletedConstraintNames.push_back(ParseName());
          break;
        }
        if (FLastTokenType == sqltColumn) NextToken();
        add(sakDropColumn, ParseName(), nullptr);
        break;
      case sqltModify: {
        NextToken();
        if (FLastTokenType == sqltColumn) NextToken();
        auto def = ParseColumnDefinition();
        std::u16string name = def->ColumnName;
        add(sakModifyColumn, std::move(name), std::move(def));
        break;
      }
      case sqltRename: {
        NextToken();
        if (FLastTokenType == sqltColumn) NextToken();
        std::u16string name = ParseName();
        Expect(sqltTo);
        auto def = std::make_unique<TVdbSqlColumnDefinition>();
        def->ColumnName = ParseName();
        add(sakRenameColumn, std::move(name), std::move(def));
        break;
      }
      default: return c;
    }
    if (FLastTokenType == sqltComma) {
      NextToken();
      if (FLastTokenType != sqltAdd && FLastTokenType != sqltDrop && FLastTokenType != sqltModify &&
          FLastTokenType != sqltRename)
        RaiseExpected(u"ADD");
    }
  }
}

std::vector<std::unique_ptr<TVdbSqlCommand>> VdbParseSqlStatements(std::u16string_view text) {
  TSqlParser parser;
  parser.SetStatementText(std::u16string(text));
  std::vector<std::unique_ptr<TVdbSqlCommand>> commands;
  for (auto c = parser.ParseFirstStatement(); c; c = parser.ParseNextStatement()) commands.push_back(std::move(c));
  return commands;
}

}  // namespace vdb
