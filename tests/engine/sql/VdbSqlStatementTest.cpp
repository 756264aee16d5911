// The statement grammar: queries with labels, joins, grouping and set operations, several
// statements in one text, data changes and definitions, the trees they give, the text they
// render back to, and the errors with their codes and positions.
#include <gtest/gtest.h>

#include "base/VdbErrorCodes.h"
#include "base/VdbFormat.h"
#include "sql/VdbSqlCommand.h"
#include "sql/VdbSqlParser.h"

namespace vdb {
namespace {

std::string U8(const std::u16string& s) { return VdbUtf16ToUtf8(s); }

std::unique_ptr<TVdbSqlCommand> ParseOne(std::u16string_view text) {
  auto all = VdbParseSqlStatements(text);
  EXPECT_EQ(all.size(), 1u) << U8(std::u16string(text));
  return all.empty() ? nullptr : std::move(all.front());
}

template <class T>
std::unique_ptr<T> ParseAs(std::u16string_view text) {
  auto c = ParseOne(text);
  auto* t = dynamic_cast<T*>(c.get());
  EXPECT_NE(t, nullptr) << U8(std::u16string(text));
  if (!t) return nullptr;
  c.release();
  return std::unique_ptr<T>(t);
}

struct TParseError {
  std::int16_t Code = 0;
  std::u16string Message, Line;
  std::int32_t Row = 0, Column = 0;
};

TParseError ParseError(std::u16string_view text) {
  try {
    VdbParseSqlStatements(text);
  } catch (const ESqlParser& e) {
    return {e.Code(), e.Message(), e.Line(), e.LineNo(), e.CharNo()};
  }
  ADD_FAILURE() << "no error for " << U8(std::u16string(text));
  return {};
}

TEST(SqlStatementTest, StatisticsStatementHasFiveUnlabelledElementsOneTableOneGroup) {
  auto q = ParseAs<TVdbSqlQuery>(
      u"SELECT RANG,  COUNT(RANG), SUM(TERULET), SUM(NEPESS), SUM(LAKAS) FROM Irsz WHERE RANG <> '' GROUP BY RANG");
  ASSERT_TRUE(q);
  TVdbSqlSelectExpression* s = q->SingleSelect();
  ASSERT_NE(s, nullptr);
  ASSERT_EQ(s->SelectElements.size(), 5u);
  EXPECT_EQ(s->LabelList, std::vector<std::u16string>(5));
  ASSERT_EQ(s->TableReferences.size(), 1u);
  EXPECT_EQ(s->TableReferences[0]->TableName, u"Irsz");
  EXPECT_EQ(s->TableReferences[0]->TableAlias, u"Irsz");
  ASSERT_TRUE(s->SearchCondition);
  EXPECT_EQ(s->SearchCondition->SqlText(), u"[RANG] <> ''");
  ASSERT_EQ(s->GroupByExpressions.size(), 1u);
  EXPECT_EQ(s->GroupByExpressions[0]->SqlText(), u"[RANG]");
  EXPECT_TRUE(s->HasAggregates());
  const TFunctionId ids[] = {sftNone, sftCount, sftSum, sftSum, sftSum};
  for (std::size_t i = 0; i < 5; ++i) {
    auto* f = dynamic_cast<TVdbSimpleFactor*>(s->SelectElements[i].ScalarExpression->SingleFactor());
    ASSERT_NE(f, nullptr);
    if (i == 0) {
      EXPECT_TRUE(f->IsColumnName());
    } else {
      ASSERT_NE(f->FunctionCall(), nullptr);
      EXPECT_EQ(f->FunctionCall()->Id, ids[i]);
      EXPECT_TRUE(f->FunctionCall()->IsAggregate());
    }
  }
}

TEST(SqlStatementTest, StatementsAreSeparatedBySemicolonsAndATrailingOneAddsNone) {
  struct TCase {
    const char16_t* Text;
    std::size_t Count;
  };
  const TCase cases[] = {
      {u"SELECT * FROM Irsz; SELECT * FROM Irsz_tmp", 2},
      {u"SELECT * FROM Irsz; SELECT * FROM Irsz_tmp;", 2},
      {u"SELECT * FROM Irsz;\n  \n", 1},
      {u"DELETE FROM t; INSERT INTO t VALUES (1); UPDATE t SET a = 2", 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(U8(c.Text));
    auto all = VdbParseSqlStatements(c.Text);
    EXPECT_EQ(all.size(), c.Count);
  }
  auto two = VdbParseSqlStatements(u"SELECT * FROM Irsz; SELECT * FROM Irsz_tmp;");
  EXPECT_EQ(two[0]->SqlText, u"SELECT * FROM Irsz");
  EXPECT_EQ(two[1]->SqlText, u"SELECT * FROM Irsz_tmp");
  auto* star = dynamic_cast<TVdbSqlQuery&>(*two[1]).SingleSelect();
  ASSERT_EQ(star->SelectElements.size(), 1u);
  EXPECT_TRUE(star->SelectElements[0].IsAsterisk());
  EXPECT_TRUE(star->SelectElements[0].TableName.empty());
}

TEST(SqlStatementTest, LabelsWithAndWithoutAsAndBrackets) {
  struct TCase {
    const char16_t* Text;
    std::vector<std::u16string> Labels;
  };
  const TCase cases[] = {
      {u"SELECT a b FROM t", {u"b"}},
      {u"SELECT a AS [Nice name] FROM t", {u"Nice name"}},
      {u"SELECT a AS b, c \"Lakó népesség\", d FROM t", {u"b", u"Lakó népesség", u""}},
      {u"SELECT a + 1 AS x.y FROM t", {u"x.y"}},
      {u"SELECT COUNT(*) n FROM t", {u"n"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(U8(c.Text));
    auto q = ParseAs<TVdbSqlQuery>(c.Text);
    ASSERT_TRUE(q);
    EXPECT_EQ(q->SingleSelect()->LabelList, c.Labels);
  }
}

TEST(SqlStatementTest, TableAsteriskIsBacktrackedWhenNoAsteriskFollows) {
  auto q = ParseAs<TVdbSqlQuery>(u"SELECT i.*, i.TELEP, t.NEPESS * 2 FROM Irsz i, Irsz_tmp AS t");
  auto* s = q->SingleSelect();
  ASSERT_EQ(s->SelectElements.size(), 3u);
  EXPECT_TRUE(s->SelectElements[0].IsAsterisk());
  EXPECT_EQ(s->SelectElements[0].TableName, u"i");
  EXPECT_EQ(s->SelectElements[1].ScalarExpression->SqlText(), u"[i.TELEP]");
  EXPECT_EQ(s->SelectElements[2].ScalarExpression->SqlText(), u"[t.NEPESS]*2");
  EXPECT_EQ(s->TableReferences[0]->TableAlias, u"i");
  EXPECT_EQ(s->TableReferences[1]->TableAlias, u"t");
}

TEST(SqlStatementTest, JoinsNestToTheLeft) {
  auto q = ParseAs<TVdbSqlQuery>(
      u"SELECT * FROM a JOIN b ON a.x = b.x LEFT OUTER JOIN c ON c.y = b.y CROSS JOIN d FULL JOIN (e INNER JOIN f "
      u"ON e.z = f.z) ON e.z = a.x");
  auto* s = q->SingleSelect();
  ASSERT_EQ(s->TableReferences.size(), 1u);
  const TVdbSqlTableReference* r = s->TableReferences[0].get();
  ASSERT_TRUE(r->IsJoinedTable);
  EXPECT_EQ(r->JoinType, tjtFullOuterJoin);
  EXPECT_TRUE(r->Right->IsJoinedTable);
  EXPECT_EQ(r->Right->JoinType, tjtInnerJoin);
  EXPECT_EQ(r->Left->JoinType, tjtCrossJoin);
  EXPECT_FALSE(r->Left->SearchCondition);
  EXPECT_EQ(r->Left->Left->JoinType, tjtLeftOuterJoin);
  EXPECT_EQ(r->Left->Left->Left->JoinType, tjtInnerJoin);
  EXPECT_EQ(r->Left->Left->Left->Left->TableName, u"a");
  std::vector<std::u16string> tables;
  r->GetTableList(tables);
  EXPECT_EQ(tables, (std::vector<std::u16string>{u"a", u"b", u"c", u"d", u"e", u"f"}));
  EXPECT_TRUE(r->ContainsTableName(u"E"));
  EXPECT_FALSE(r->ContainsTableName(u"g"));
}

TEST(SqlStatementTest, SetOperationsTopDistinctAndOrder) {
  auto q = ParseAs<TVdbSqlQuery>(
      u"SELECT TOP 10 DISTINCT a FROM t UNION ALL CORRESPONDING BY (t.a, b) TABLE u INTERSECT (SELECT a FROM v) "
      u"EXCEPT SELECT a FROM w ORDER BY 1 DESC, t.a ASC, b DESCENDING");
  ASSERT_TRUE(q);
  EXPECT_FALSE(q->IsPrimitiveQuery());
  const TVdbSqlTableExpression& e = *q->TableExpression;
  EXPECT_TRUE(e.IsUnion);
  EXPECT_TRUE(e.Options.All);
  EXPECT_TRUE(e.Options.Corresponding);
  EXPECT_EQ(e.Options.CorrespondingFields, (std::vector<std::u16string>{u"t.a", u"b"}));
  auto* first = dynamic_cast<TVdbSqlSelectExpression*>(e.TableTerm->TablePrimitive.get());
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->TopCount, 10);
  EXPECT_TRUE(first->Distinct);
  const TVdbSqlTableExpression& right = *e.TableExpression;
  EXPECT_FALSE(right.IsUnion);
  auto* table = dynamic_cast<TVdbSqlTableSimplePrimitive*>(right.TableTerm->TablePrimitive.get());
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->TableName, u"u");
  ASSERT_TRUE(right.TableTerm->TableTerm);
  ASSERT_EQ(q->SortSpecificationList.size(), 3u);
  EXPECT_EQ(q->SortSpecificationList[0], (TVdbSqlSortSpecification{u"1", false}));
  EXPECT_EQ(q->SortSpecificationList[1], (TVdbSqlSortSpecification{u"t.a", true}));
  EXPECT_EQ(q->SortSpecificationList[2], (TVdbSqlSortSpecification{u"b", false}));
}

TEST(SqlStatementTest, SubQueriesInConditions) {
  auto q = ParseAs<TVdbSqlQuery>(
      u"SELECT * FROM t WHERE EXISTS (SELECT * FROM u) AND a IN (SELECT b FROM v) AND c >= ANY (SELECT c FROM w) "
      u"AND d IN (1, 2)");
  const auto& factors = q->SingleSelect()->SearchCondition->Terms[0]->Factors;
  ASSERT_EQ(factors.size(), 4u);
  EXPECT_EQ(factors[0]->ComparisonOperator, tcoExists);
  EXPECT_FALSE(factors[0]->ExpressionLeft);
  auto* exists = dynamic_cast<TVdbSqlSubQuery*>(factors[0]->SubQuery.get());
  ASSERT_NE(exists, nullptr);
  EXPECT_TRUE(exists->Query->IsPrimitiveQuery());
  EXPECT_EQ(factors[1]->ComparisonOperator, tcoIn);
  EXPECT_TRUE(factors[1]->SubQuery);
  EXPECT_TRUE(factors[1]->ValueSet.empty());
  EXPECT_EQ(factors[2]->ComparisonOperator, tcoGreaterOrEqual);
  EXPECT_EQ(factors[2]->Quantifier, tqAny);
  EXPECT_FALSE(factors[3]->SubQuery);
  EXPECT_EQ(factors[3]->ValueSet.size(), 2u);
  // Without an evaluator from the statement layer a sub-query refuses to be prepared.
  TVdbPrepareContext context;
  try {
    factors[0]->Prepare(context);
    ADD_FAILURE() << "a sub-query prepared without an evaluator";
  } catch (const EVdbEngine& e) {
    EXPECT_EQ(e.Code(), errNotSupported);
  }
}

TEST(SqlStatementTest, DataChangeStatements) {
  auto ins = ParseAs<TVdbSqlInsertCommand>(u"INSERT INTO Irsz (IRSZ, TELEP) VALUES ('1011', :name)");
  EXPECT_EQ(ins->TableName, u"Irsz");
  EXPECT_EQ(ins->Columns, (std::vector<std::u16string>{u"IRSZ", u"TELEP"}));
  ASSERT_EQ(ins->Values.size(), 2u);
  EXPECT_TRUE(ins->Values[1]->SingleFactor()->IsParam());
  auto sel = ParseAs<TVdbSqlInsertCommand>(u"INSERT INTO t SELECT * FROM u WHERE a > 1");
  ASSERT_TRUE(sel->SourceQuery);
  EXPECT_TRUE(sel->Values.empty());
  auto upd = ParseAs<TVdbSqlUpdateCommand>(u"UPDATE t SET a = (a + 1) * 2, b = (SELECT MAX(b) FROM u) WHERE c IS NULL");
  ASSERT_EQ(upd->Columns.size(), 2u);
  ASSERT_TRUE(upd->Expressions[0]);
  EXPECT_FALSE(upd->SubQueries[0]);
  EXPECT_FALSE(upd->Expressions[1]);
  ASSERT_TRUE(upd->SubQueries[1]);
  EXPECT_TRUE(upd->SearchCondition);
  auto del = ParseAs<TVdbSqlDeleteCommand>(u"DELETE FROM t");
  EXPECT_EQ(del->TableName, u"t");
  EXPECT_FALSE(del->SearchCondition);
}

TEST(SqlStatementTest, TableDefinitions) {
  auto c = ParseAs<TVdbSqlCreateTableCommand>(
      u"CREATE TABLE t ENCRYPTION Blowfish PASSWORD 'secret' LEVEL 5 COLLATE hu ("
      u"id AUTOINC('a', 2) UNIQUE, name VARCHAR(40) COLLATE hu NOT NULL, f FLOAT, d DOUBLE PRECISION(8), "
      u"tm TIME(2), e ENUM(red green, blue), l LINK(other), n INTEGER DEFAULT 5, c INTEGER SET n * 2, "
      u"CONSTRAINT pk PRIMARY KEY (id), UNIQUE (name), CHECK (n > 0), "
      u"FOREIGN KEY (l) REFERENCES other (id) ON DELETE CASCADE ON UPDATE NO ACTION)");
  ASSERT_TRUE(c);
  EXPECT_EQ(c->Level(), 5);
  EXPECT_EQ(c->SecurityLevel(), 5);
  EXPECT_EQ(c->Key(), u"secret");
  EXPECT_EQ(c->Language(), u"hu");
  ASSERT_EQ(c->ColumnDefinitions.size(), 9u);
  const auto& id = *c->ColumnDefinitions[0];
  EXPECT_EQ(id.SqlType(), sqlAutoInc);
  EXPECT_EQ(id.Type.StringParam, u"a");
  EXPECT_EQ(id.Type.Precision, 2);
  EXPECT_FALSE(id.MayBeNull);
  EXPECT_TRUE(id.AutoIncUnique);
  EXPECT_EQ(c->ColumnDefinitions[1]->Type, (TVdbSqlTypeSpec{sqlVarChar, 40, 0, u"hu"}));
  EXPECT_FALSE(c->ColumnDefinitions[1]->MayBeNull);
  EXPECT_EQ(c->ColumnDefinitions[2]->Type, (TVdbSqlTypeSpec{sqlDouble, 0, 4, u""}));
  EXPECT_EQ(c->ColumnDefinitions[3]->Type.Precision, 8);
  EXPECT_EQ(c->ColumnDefinitions[4]->Type, (TVdbSqlTypeSpec{sqlTime, 0, 2, u""}));
  EXPECT_EQ(c->ColumnDefinitions[5]->Type.StringParam, u"red,green,blue");
  EXPECT_EQ(c->ColumnDefinitions[6]->Type.StringParam, u"other");
  EXPECT_TRUE(c->ColumnDefinitions[7]->ExpressionIsDefault);
  EXPECT_FALSE(c->ColumnDefinitions[8]->ExpressionIsDefault);
  ASSERT_EQ(c->Constraints.CandidateKeys.size(), 2u);
  EXPECT_EQ(c->Constraints.CandidateKeys[0], (TVdbSqlCandidateKey{u"pk", true, {u"id"}}));
  ASSERT_EQ(c->Constraints.ForeignKeys.size(), 1u);
  EXPECT_EQ(c->Constraints.ForeignKeys[0].DeleteAction, traCascade);
  EXPECT_EQ(c->Constraints.ForeignKeys[0].UpdateAction, traNone);
  EXPECT_EQ(c->Constraints.CheckConstraints.size(), 1u);

  auto plain = ParseAs<TVdbSqlCreateTableCommand>(u"CREATE TABLE t (a INTEGER)");
  EXPECT_EQ(plain->Level(), 6);
  EXPECT_EQ(plain->SecurityLevel(), 0);

  auto a = ParseAs<TVdbSqlAlterTableCommand>(
      u"ALTER TABLE t LEVEL 6 ADD COLUMN x INTEGER, DROP y DROP CONSTRAINT c1, MODIFY COLUMN z CHAR(5), "
      u"RENAME q TO r, ADD CONSTRAINT u1 UNIQUE (x)");
  ASSERT_TRUE(a);
  EXPECT_EQ(a->ColumnNames, (std::vector<std::u16string>{u"", u"y", u"z", u"q"}));
  EXPECT_EQ(a->ColumnAlterations, (std::vector<TVdbSqlAlterKind>{sakAddColumn, sakDropColumn, sakModifyColumn,
                                                                  sakRenameColumn}));
  EXPECT_EQ(a->ColumnDefinitions[0]->ColumnName, u"x");
  EXPECT_FALSE(a->ColumnDefinitions[1]);
  EXPECT_EQ(a->ColumnDefinitions[3]->ColumnName, u"r");
  EXPECT_EQ(a->ColumnDefinitions[3]->SqlType(), sqlNone);
  EXPECT_EQ(a->DeletedConstraintNames, std::vector<std::u16string>{u"c1"});
  EXPECT_EQ(a->Constraints.CandidateKeys.size(), 1u);
}

TEST(SqlStatementTest, IndexAndFullTextStatements) {
  auto ci = ParseAs<TVdbSqlCreateIndexCommand>(u"CREATE UNIQUE INDEX ix ON t (a DESC b, c)");
  EXPECT_TRUE(ci->Unique);
  EXPECT_EQ(ci->SortSpecifications.size(), 3u);
  auto ft = ParseAs<TVdbSqlCreateFulltextIndexCommand>(
      u"CREATE FULLTEXTINDEX fx ON t (a, b) DICTIONARY dict CREATE UPDATE SEPARATORS ' ,.'");
  EXPECT_EQ(ft->FieldNames.size(), 2u);
  EXPECT_TRUE(ft->CreateDictionary);
  EXPECT_TRUE(ft->UpdateDictionary);
  EXPECT_EQ(ft->Separators, std::u16string(u" ,."));
  auto dt = ParseAs<TVdbSqlDropCommand>(u"DROP TABLE t");
  EXPECT_TRUE(dt->IndexName.empty());
  auto di = ParseAs<TVdbSqlDropCommand>(u"DROP INDEX t.ix");
  EXPECT_EQ(di->IndexName, u"ix");
  auto df = ParseAs<TVdbSqlDropCommand>(u"DROP FULLTEXTINDEX t.fx");
  EXPECT_TRUE(df->IsFulltext);
  auto ui = ParseAs<TVdbSqlUpdateIndexCommand>(u"UPDATE INDEX t.*");
  EXPECT_EQ(ui->IndexName, u"*");
  auto uf = ParseAs<TVdbSqlUpdateIndexCommand>(u"UPDATE FULLTEXTINDEX t.fx");
  EXPECT_TRUE(uf->IsFulltext);
}

// A condition read on its own (a filter) has no groups to aggregate; queries inside it do.
TEST(SqlStatementTest, AggregatesBelongToQueries) {
  auto condition = [](std::u16string_view text) {
    TSqlParser p;
    p.SetStatementText(std::u16string(text));
    p.InitParsing();
    auto c = p.ParseCondition();
    p.ParseEnd();
    return c;
  };
  try {
    condition(u"NEPESS > 0 AND COUNT(*) > 1");
    ADD_FAILURE() << "an aggregate in a filter";
  } catch (const ESqlParser& e) {
    EXPECT_EQ(e.Code(), errSyntaxError);
    EXPECT_EQ(e.CharNo(), 16);
    EXPECT_EQ(e.Message(), u"Syntax error in expression \"COUNT\"");
  }
  EXPECT_NO_THROW(condition(u"EXISTS (SELECT COUNT(*) FROM t HAVING SUM(a) > 1) AND UPPER(s) = 'A'"));
  EXPECT_THROW(condition(u"EXISTS (SELECT a FROM t) AND MAX(a) > 1"), ESqlParser);
}

TEST(SqlStatementTest, ParameterValuesAndClassFunctions) {
  TSqlParser p;
  p.SetStatementText(u"24.12.2013");
  auto date = p.ParseParameter();
  ASSERT_TRUE(date->IsLiteral());
  EXPECT_EQ(dynamic_cast<TVdbSimpleFactor&>(*date).LiteralKind(), TVdbSimpleFactor::lkDate);
  p.SetStatementText(u"-2.5");
  EXPECT_EQ(p.ParseParameter()->SqlText(), u"-2.5");
  p.SetStatementText(u"'a' 'b'");
  EXPECT_THROW(p.ParseParameter(), ESqlParser);
  EXPECT_EQ(TSqlParser::FindFunction(sftCount), 6);
  EXPECT_EQ(TSqlParser::FindFunction(sftMaxN), -1);
  EXPECT_EQ(TSqlParser::GetSqlTypeName(sqlVarWChar), u"VARWCHAR");
  EXPECT_EQ(TSqlParser::GetVdbType(sqlAutoInc), vctRecordId);
  EXPECT_EQ(TSqlParser::GetVdbType(sqlDouble), vctFloat);
  EXPECT_EQ(VdbSqlEncryptionMethod(u"rijndael"), 6);
  EXPECT_EQ(VdbSqlEncryptionMethod(u"Twofish"), -1);
}

TEST(SqlStatementTest, ErrorsCarryCodeRowColumnAndLine) {
  struct TCase {
    const char16_t* Text;
    std::int16_t Code;
    std::int32_t Row, Column;
    const char16_t* Message;
  };
  const TCase cases[] = {
      {u"SELECT TOP x FROM t", errSyntaxError, 1, 12, u"Syntax error in expression \"x\""},
      {u"SELECT TOP 0 a FROM t", errSyntaxError, 1, 12, u"Syntax error in expression \"0\""},
      {u"INSERT INTO t (a) VALUES (1, 2)", errTooManyValues, 1, 30,
       u"The value list contains more items the the column list"},
      {u"CREATE TABLE t ENCRYPTION Blowfish (a INTEGER)", errUnexpectedToken, 1, 36,
       u"\"PASSWORD\" expected but \"(\" found"},
      {u"CREATE TABLE t PASSWORD 'x' (a INTEGER)", errUnexpectedToken, 1, 29,
       u"\"ENCRYPTION\" expected but \"(\" found"},
      {u"CREATE TABLE t ENCRYPTION None PASSWORD 'x' (a INTEGER)", errUnexpectedToken, 1, 45, nullptr},
      {u"CREATE TABLE t (a INTEGER) LEVEL 5", errUnexpectedToken, 1, 28,
       u"\"<end of statement>\" expected but \"LEVEL\" found"},
      {u"CREATE TABLE t ENCRYPTION Twofish PASSWORD 'x' (a INTEGER)", errUnknownIdentifier, 1, 27,
       u"Unknown identifier \"Twofish\""},
      {u"CREATE TABLE t (a NUMBERS)", errUnexpectedToken, 1, 19, u"\"<data type>\" expected but \"NUMBERS\" found"},
      {u"CREATE TABLE t (a VARCHAR)", errUnexpectedToken, 1, 26, nullptr},
      {u"INSERT INTO t (a + 1) VALUES (1)", errUnexpectedToken, 1, 18,
       u"\"<name of table, index, column etc.>\" expected but \"+\" found"},
      {u"SELECT a FROM t\nWHERE a = 1\n  ORDER a", errUnexpectedToken, 3, 9, u"\"BY\" expected but \"a\" found"},
      {u"SELECT a FROM t WHERE", errUnexpectedToken, 1, 22, nullptr},
      {u"SELECT * FROM t; x", errUnexpectedToken, 1, 18, u"\"SELECT\" expected but \"x\" found"},
      {u"SELECT * FROM t x y", errUnexpectedToken, 1, 19, nullptr},
      {u"SELECT EXTRACT(CENTURY FROM d) FROM t", errUnknownIdentifier, 1, 16, u"Unknown identifier \"CENTURY\""},
      {u"SELECT CURRENTRECORDID(1) FROM t", errSyntaxError, 1, 24, nullptr},
      {u"CREATE TABLE t (f INTEGER, FOREIGN KEY (f) REFERENCES p ON DELETE SET NULL)", errUnexpectedToken, 1, 67,
       u"\"CASCADE\" expected but \"SET\" found"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(U8(c.Text));
    const TParseError e = ParseError(c.Text);
    EXPECT_EQ(e.Code, c.Code) << U8(e.Message);
    EXPECT_EQ(e.Row, c.Row);
    EXPECT_EQ(e.Column, c.Column);
    if (c.Message) EXPECT_EQ(e.Message, c.Message);
  }
  const TParseError multi = ParseError(u"SELECT a FROM t\nWHERE a = 1\n  ORDER a");
  EXPECT_EQ(multi.Line, u"  ORDER a");
}

// Each text parses, renders, and the rendered text parses back into an equal tree; copies are
// equal too.
TEST(SqlStatementTest, RenderedStatementsParseBackIntoEqualTrees) {
  const char16_t* texts[] = {
      u"SELECT RANG, COUNT(RANG), SUM(TERULET), SUM(NEPESS), SUM(LAKAS) FROM Irsz WHERE RANG <> '' GROUP BY RANG",
      u"SELECT * FROM Irsz",
      u"SELECT TOP 5 DISTINCT a AS [x y], b c, t.* FROM t, u AS v WHERE a > :p HAVING COUNT(*) > 1",
      u"SELECT a FROM t JOIN u ON t.a = u.a LEFT JOIN w ON w.b = t.b CROSS JOIN z",
      u"SELECT a FROM t RIGHT OUTER JOIN (u FULL JOIN w ON u.x = w.x) ON t.a = u.a",
      u"SELECT a FROM t UNION SELECT b FROM u EXCEPT ALL CORRESPONDING SELECT c FROM v ORDER BY 1 DESC, a",
      u"SELECT a FROM t INTERSECT ALL CORRESPONDING BY (a, t.b) (SELECT a FROM u UNION TABLE w)",
      u"SELECT SUBSTRING(s FROM 2), SUBSTRING(s FROM 0 FOR 2), TRIM(LEADING 'x' FROM s), TRIM(s), LTRIM(s) FROM t",
      u"SELECT EXTRACT(WEEKDAY FROM d), CAST(a AS VARCHAR(10)), CURRENTRECORDID(t), CURRENT_DATE, NOW FROM t",
      u"SELECT STR(1234.5, 10, 2, ',', ' ', '.'), ROUND(a, -2), Pos('a', s), NewGuid, Year(d) FROM t",
      u"SELECT CASE WHEN a = 1 THEN 'x' ELSE 'y' END, -a, DATE'2013-12-24' FROM [c:\\data\\Irsz.dat]",
      u"SELECT a FROM t WHERE EXISTS (SELECT * FROM u WHERE u.a = t.a) AND b IN (SELECT b FROM v ORDER BY b) OR "
      u"c > ALL (SELECT c FROM w) OR NOT d = SOME (SELECT d FROM x UNION SELECT e FROM y)",
      u"UPDATE t SET a = 1 WHERE NOT EXISTS (SELECT * FROM u)",
      u"INSERT INTO t (a, b) VALUES (1, 'x')",
      u"INSERT INTO t VALUES (NULL, TRUE, 2.5)",
      u"INSERT INTO t SELECT a FROM u",
      u"UPDATE t SET a = a + 1, b = (SELECT MAX(b) FROM u) WHERE a IN (1, 2, 3)",
      u"DELETE FROM t WHERE a BETWEEN 1 AND 5",
      u"DELETE FROM \"odd]name\" WHERE \"a\"\"b\" = 1",
      u"CREATE TABLE t (a INTEGER NOT NULL, b VARCHAR(20) COLLATE hu DEFAULT 'x', c DOUBLE, d TIME, "
      u"e AUTOINC, f ENUM(x, y), g LINK(u), h BOOLEAN, i DATE, j TIMESTAMP, k LONGVARCHAR, l LONGVARBINARY, "
      u"m WCHAR(3), n VARWCHAR(4), o LONGVARWCHAR, p BIGINT, q SMALLINT, r BYTE, s GUID, u RELATION(w), "
      u"v CHAR(2), x INTEGER SET a * 2, PRIMARY KEY (a), CONSTRAINT uq UNIQUE (b, c), CHECK (a > 0), "
      u"CONSTRAINT fk FOREIGN KEY (g) REFERENCES u (id) ON DELETE CASCADE)",
      u"CREATE TABLE t LEVEL 4 COLLATE hu ENCRYPTION AES PASSWORD 'k' (a INTEGER)",
      u"ALTER TABLE t ENCRYPTION Fast PASSWORD 'p' ADD a INTEGER, DROP COLUMN b, MODIFY c CHAR(2), "
      u"RENAME d TO e, DROP CONSTRAINT x, ADD CONSTRAINT y CHECK (a < 5)",
      u"ALTER TABLE t LEVEL 6",
      u"CREATE INDEX ix ON t (a, b DESC)",
      u"CREATE UNIQUE INDEX ix ON t (t.a)",
      u"CREATE FULLTEXTINDEX fx ON t (a) DICTIONARY d",
      u"CREATE FULLTEXTINDEX fx ON t (a, b) DICTIONARY d CREATE UPDATE ' ;'",
      u"DROP TABLE t",
      u"DROP INDEX t.ix",
      u"DROP FULLTEXTINDEX t.fx",
      u"UPDATE INDEX t.*",
      u"UPDATE INDEX t.ix",
      u"UPDATE FULLTEXTINDEX t.fx",
  };
  for (const char16_t* text : texts) {
    SCOPED_TRACE(U8(text));
    auto c = ParseOne(text);
    ASSERT_TRUE(c);
    const std::u16string rendered = c->GetSqlText();
    SCOPED_TRACE(U8(rendered));
    auto again = ParseOne(rendered);
    ASSERT_TRUE(again);
    EXPECT_TRUE(c->IsSyntacticallyEqual(*again));
    EXPECT_EQ(again->GetSqlText(), rendered);
    EXPECT_TRUE(c->CreateCopy()->IsSyntacticallyEqual(*c));
  }
}

}  // namespace
}  // namespace vdb
