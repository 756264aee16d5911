// Query execution over the real settlements: grouping with aggregates (the five statistics
// statements checked against sums computed from the data set itself), result column naming,
// the GROUP BY rule, DISTINCT, HAVING, TOP, ORDER BY, joins, set operations, parameters, the
// writing commands, and the statement's status codes and table locks.
//
// Statements are built from their parts with the expression parser, so that these tests do
// not depend on the statement grammar.
#include <gtest/gtest.h>

#include <map>
#include <optional>

#include "../support/SettlementWorld.h"
#include "base/VdbErrorCodes.h"
#include "session/VdbLocSess.h"
#include "sql/VdbSqlParser.h"
#include "sql/VdbStatement.h"

namespace vdb {
namespace {

using test::ReadSettlements;

std::unique_ptr<TVdbExpression> Expr(std::u16string_view text) {
  TSqlParser p;
  p.SetStatementText(std::u16string(text));
  p.InitParsing();
  auto e = p.ParseExpression();
  p.ParseEnd();
  return e;
}

std::unique_ptr<TVdbSearchCondition> Cond(std::u16string_view text) {
  TSqlParser p;
  p.SetStatementText(std::u16string(text));
  p.InitParsing();
  auto c = p.ParseCondition();
  p.ParseEnd();
  c->Optimize();
  return c;
}

// A SELECT built from its parts.
struct TSelect {
  std::unique_ptr<TVdbQuerySpec> Spec = std::make_unique<TVdbQuerySpec>();
  TSelect() { Spec->Select = std::make_unique<TVdbSelectSpec>(); }
  TVdbSelectSpec& S() { return *Spec->Select; }
  TSelect& Col(std::u16string_view e, std::u16string label = {}) {
    S().Elements.push_back({Expr(e), std::move(label)});
    return *this;
  }
  TSelect& Star(std::u16string table = {}) {
    TVdbSelectElementSpec el;
    el.Star = true;
    el.StarTable = std::move(table);
    S().Elements.push_back(std::move(el));
    return *this;
  }
  TSelect& From(std::u16string table, std::u16string alias = {}, TVdbPlanJoin join = pjFirst,
                std::u16string_view on = {}) {
    TVdbTableRefSpec r;
    r.TableName = std::move(table);
    r.Alias = std::move(alias);
    r.Join = join;
    if (!on.empty()) r.On = Cond(on);
    S().From.push_back(std::move(r));
    return *this;
  }
  TSelect& Where(std::u16string_view c) {
    S().Where = Cond(c);
    return *this;
  }
  TSelect& GroupBy(std::u16string_view e) {
    S().GroupBy.push_back(Expr(e));
    return *this;
  }
  TSelect& Having(std::u16string_view c) {
    S().Having = Cond(c);
    return *this;
  }
  TSelect& OrderBy(std::u16string n, bool asc = true) {
    Spec->OrderBy.push_back({std::move(n), asc});
    return *this;
  }
  TSelect& Distinct() {
    S().Distinct = true;
    return *this;
  }
  TSelect& Top(int n) {
    S().Top = n;
    return *this;
  }
  std::unique_ptr<TVdbQuerySpec> Take() { return std::move(Spec); }
};

// The statistics statement of one grouping column.
TSelect Statistics(std::u16string_view g, bool where) {
  TSelect s;
  s.Col(g).Col(u"COUNT(" + std::u16string(g) + u")").Col(u"SUM(TERULET)").Col(u"SUM(NEPESS)").Col(u"SUM(LAKAS)");
  s.From(u"Irsz");
  if (where) s.Where(std::u16string(g) + u" <> ''");
  s.GroupBy(g);
  return s;
}

// The database of the settlement table, opened by a session of its own.
class QueryTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    World = new test::TSettlementWorld();
    World->Table->Close();
    World->Table.reset();
    World->World.Fs.ForcePath(u"/private");
  }
  static void TearDownTestSuite() {
    delete World;
    World = nullptr;
  }
  void SetUp() override {
    Session = std::make_unique<TVdbLocalSession>(World->World.PageManager, World->World.Fs,
                                                 TvuServices{World->World.Clock, World->World.Sleeper, World->World.Random});
    Session->Initialize(2);
    Session->SetPrivateDir(u"/private");
    ASSERT_EQ(Session->OpenDb(u"/db"), 0) << VdbUtf16ToUtf8(Session->LastError().Msg());
    Stmt = std::make_unique<TVdbStatement>(Session->Catalog(), Session->LastError());
  }
  void TearDown() override {
    Stmt.reset();
    Session.reset();
  }

  // Runs a query; the result's rows as texts (NULL as "<null>").
  std::vector<std::vector<std::string>> Run(std::unique_ptr<TVdbQuerySpec> spec) {
    Stmt->SetCommand(std::make_unique<TVdbQuery>(Session->Catalog(), std::move(spec)));
    EXPECT_EQ(Stmt->Prepare(), 0) << Msg();
    EXPECT_EQ(Stmt->Execute(), 0) << Msg();
    return Rows();
  }
  std::vector<std::vector<std::string>> Rows() {
    std::vector<std::vector<std::string>> out;
    TVdbRelation* r = Session->Catalog().GetRelation(Stmt->GetResultRltnIdx());
    if (r == nullptr) return out;
    std::vector<std::uint8_t> rec(static_cast<std::size_t>(r->GetRecordSize()));
    for (std::int32_t n = r->GetFirstRecordNo(); n > 0; n = r->GetNextRecordNo(n)) {
      r->ReadRecord(n, rec);
      std::vector<std::string> row;
      for (int c = 0; c < r->ColumnDefs().GetCount(); ++c) {
        const TVdbColumnDef& col = r->ColumnDefs().GetColumnDef(c);
        TVdbDataValue v;
        col.DataType()->SetReference(v, rec, static_cast<std::size_t>(col.Position()));
        row.push_back(col.DataType()->IsNull(v) ? "<null>"
                                                : VdbUtf16ToUtf8(col.DataType()->ConvertToString(v, TvuFormats::Invariant())));
      }
      out.push_back(std::move(row));
    }
    return out;
  }
  std::vector<std::string> Names() {
    std::vector<std::string> out;
    TVdbRelation* r = Session->Catalog().GetRelation(Stmt->GetResultRltnIdx());
    for (int c = 0; r && c < r->ColumnDefs().GetCount(); ++c)
      out.push_back(VdbUtf16ToUtf8(r->ColumnDefs().GetColumnDef(c).Name()));
    return out;
  }
  std::string Msg() { return VdbUtf16ToUtf8(Session->LastError().Msg()); }

  static test::TSettlementWorld* World;
  std::unique_ptr<TVdbLocalSession> Session;
  std::unique_ptr<TVdbStatement> Stmt;
};

test::TSettlementWorld* QueryTest::World = nullptr;

struct TSums {
  std::int64_t Count = 0, Area = 0, People = 0, Homes = 0;
};

// Sums per value of data-set column `col` straight from the CSV (empty values skipped when
// `skipEmpty`).
std::map<std::u16string, TSums> SumsFromCsv(int col, bool skipEmpty) {
  std::map<std::u16string, TSums> out;
  for (const auto& row : ReadSettlements()) {
    const std::u16string& key = row[static_cast<std::size_t>(col)];
    if (skipEmpty && key.empty()) continue;
    TSums& s = out[key];
    if (!key.empty()) ++s.Count;
    s.Area += testsupport::ToInt(row[testsupport::scTERULET]);
    s.People += testsupport::ToInt(row[testsupport::scNEPESS]);
    s.Homes += testsupport::ToInt(row[testsupport::scLAKAS]);
  }
  return out;
}

TEST_F(QueryTest, StatisticsStatementsAddUpToTheDataSet) {
  struct TCase {
    std::u16string Column;
    int CsvColumn;
    bool Where;
  } cases[] = {{u"RANG", testsupport::scRANG, true},
               {u"REGIO", testsupport::scREGIO, true},
               {u"MEGYE", testsupport::scMEGYE, true},
               {u"KISTERS", testsupport::scKISTERS, true},
               {u"TELK", testsupport::scTELK, false}};
  for (auto& c : cases) {
    SCOPED_TRACE(VdbUtf16ToUtf8(c.Column));
    const auto rows = Run(Statistics(c.Column, c.Where).Take());
    const std::string g = VdbUtf16ToUtf8(c.Column);
    EXPECT_EQ(Names(), (std::vector<std::string>{g, "COUNT([" + g + "])", "SUM([TERULET])", "SUM([NEPESS])", "SUM([LAKAS])"}));
    const auto expected = SumsFromCsv(c.CsvColumn, c.Where);
    ASSERT_EQ(rows.size(), expected.size()) << "one row per distinct value, NULL keys in one group";
    std::map<std::string, std::vector<std::string>> byKey;
    for (const auto& r : rows) byKey[r[0] == "<null>" ? "" : r[0]] = r;
    for (const auto& [key, s] : expected) {
      const auto it = byKey.find(VdbUtf16ToUtf8(key));
      ASSERT_NE(it, byKey.end()) << VdbUtf16ToUtf8(key);
      EXPECT_EQ(it->second[1], std::to_string(s.Count)) << VdbUtf16ToUtf8(key);
      EXPECT_EQ(std::stod(it->second[2]), static_cast<double>(s.Area));
      EXPECT_EQ(it->second[3], std::to_string(s.People));
      EXPECT_EQ(it->second[4], std::to_string(s.Homes));
    }
  }
}

TEST_F(QueryTest, TotalsOfTheWholeTable) {
  TSelect s;
  s.Col(u"COUNT(*)").Col(u"SUM(NEPESS)").Col(u"SUM(TERULET)").Col(u"SUM(LAKAS)").From(u"Irsz");
  const auto rows = Run(s.Take());
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][0], "3155");
  EXPECT_EQ(rows[0][1], "9584627");
  EXPECT_EQ(std::stod(rows[0][2]), 9302400.0);
  EXPECT_EQ(rows[0][3], "4603906");
}

TEST_F(QueryTest, GroupsComeOutInAscendingKeyOrder) {
  const auto rows = Run(Statistics(u"MEGYE", true).Take());
  TVdbRelation* r = Session->Catalog().GetRelation(Stmt->GetResultRltnIdx());
  const TVdbColumnDef& col = r->ColumnDefs().GetColumnDef(0);
  std::vector<std::uint8_t> a(static_cast<std::size_t>(r->GetRecordSize())), b(a.size());
  for (std::int32_t n = 2; n <= r->GetRecordCount(); ++n) {
    r->ReadRecord(n - 1, a);
    r->ReadRecord(n, b);
    TVdbDataValue va, vb;
    col.DataType()->SetReference(va, a, static_cast<std::size_t>(col.Position()));
    col.DataType()->SetReference(vb, b, static_cast<std::size_t>(col.Position()));
    EXPECT_EQ(TVdbDataType::Compare(va, vb, *col.DataType(), *col.DataType(), 0, vcmIndex), vcrLess) << rows[static_cast<std::size_t>(n - 1)][0];
  }
  EXPECT_EQ(rows.size(), 20u) << "19 counties and the capital";
}

TEST_F(QueryTest, EdgeCasesOfGroupingAndNaming) {
  {
    TSelect s;
    s.Col(u"COUNT(*)").From(u"Irsz").Where(u"1 = 2");
    EXPECT_EQ(Run(s.Take()), (std::vector<std::vector<std::string>>{{"0"}})) << "one row without GROUP BY";
  }
  {
    TSelect s;
    s.Col(u"RANG").Col(u"COUNT(*)").From(u"Irsz").Where(u"1 = 2").GroupBy(u"RANG");
    EXPECT_TRUE(Run(s.Take()).empty()) << "no rows with GROUP BY";
  }
  {
    TSelect s;
    s.Col(u"SUM(NEPESS)").Col(u"AVG(NEPESS)").Col(u"MIN(TELEP)").Col(u"MAX(IRSZ)").From(u"Irsz").Where(u"1 = 2");
    EXPECT_EQ(Run(s.Take()), (std::vector<std::vector<std::string>>{{"<null>", "<null>", "<null>", "<null>"}}));
  }
  {
    TSelect s;
    s.Col(u"RANG", u"R").Col(u"COUNT(RANG)", u"N").From(u"Irsz").GroupBy(u"RANG");
    Run(s.Take());
    EXPECT_EQ(Names(), (std::vector<std::string>{"R", "N"}));
  }
  {
    TSelect s;
    s.Col(u"RANG").Col(u"RANG").Col(u"Rang").From(u"Irsz").Where(u"IRSZ = 8127");
    EXPECT_EQ(Run(s.Take()), (std::vector<std::vector<std::string>>{{"város", "város", "város"}}));
    EXPECT_EQ(Names(), (std::vector<std::string>{"RANG", "RANG_1", "RANG_2"}));
  }
  {
    // The GROUP BY rule names the element that breaks it.
    TSelect s;
    s.Col(u"TELEP").Col(u"COUNT(*)").From(u"Irsz").GroupBy(u"RANG");
    Stmt->SetCommand(std::make_unique<TVdbQuery>(Session->Catalog(), s.Take()));
    ASSERT_EQ(Stmt->Prepare(), 0);
    EXPECT_EQ(Stmt->Execute(), kVdbStmtFailed);
    EXPECT_EQ(Session->LastError().Code(), errGroupByRule);
    EXPECT_NE(Msg().find("[TELEP]"), std::string::npos) << Msg();
  }
  {
    TSelect s;
    s.Col(u"Rang").Col(u"COUNT(RANG)").From(u"Irsz").Where(u"RANG <> ''").GroupBy(u"RANG");
    EXPECT_EQ(Run(s.Take()).size(), 5u) << "Rang and RANG are the same text without regard to case";
  }
  {
    // The settlements without a telephone area form one group.
    TSelect s;
    s.Col(u"TELK").Col(u"COUNT(*)").From(u"Irsz").GroupBy(u"TELK");
    const auto rows = Run(s.Take());
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows[0], (std::vector<std::string>{"<null>", "17"}));
  }
}

TEST_F(QueryTest, DistinctHavingTopAndOrder) {
  const auto all = Run(Statistics(u"RANG", true).Take());
  {
    TSelect s;
    s.Col(u"RANG").From(u"Irsz").Distinct();
    const auto rows = Run(s.Take());
    ASSERT_EQ(rows.size(), all.size()) << "every rank once";
    for (std::size_t i = 0; i < all.size(); ++i) EXPECT_EQ(rows[i][0], all[i][0]);
  }
  {
    // An aggregate in a condition is read by the statement grammar only.
    ASSERT_EQ(Stmt->SetText(u"SELECT MEGYE, COUNT(MEGYE) FROM Irsz WHERE MEGYE <> '' GROUP BY MEGYE "
                            u"HAVING COUNT(MEGYE) > 200"),
              0)
        << Msg();
    ASSERT_EQ(Stmt->Prepare(), 0) << Msg();
    ASSERT_EQ(Stmt->Execute(), 0) << Msg();
    const auto rows = Rows();
    const auto sums = SumsFromCsv(testsupport::scMEGYE, true);
    std::size_t big = 0;
    for (const auto& [k, v] : sums) big += v.Count > 200 ? 1 : 0;
    EXPECT_EQ(rows.size(), big);
    for (const auto& r : rows) EXPECT_GT(std::stoi(r[1]), 200);
  }
  {
    const auto megye = Run(Statistics(u"MEGYE", true).Take());
    TSelect s;
    s.Col(u"MEGYE").Col(u"COUNT(MEGYE)").From(u"Irsz").Where(u"MEGYE <> ''").GroupBy(u"MEGYE").Top(3);
    const auto rows = Run(s.Take());
    ASSERT_EQ(rows.size(), 3u);
    for (int i = 0; i < 3; ++i) EXPECT_EQ(rows[static_cast<std::size_t>(i)][0], megye[static_cast<std::size_t>(i)][0]);
  }
  {
    TSelect s;
    s.Col(u"MEGYE").Col(u"SUM(NEPESS)", u"P").From(u"Irsz").Where(u"MEGYE <> ''").GroupBy(u"MEGYE").OrderBy(u"P", false).Top(2);
    const auto rows = Run(s.Take());
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][0], "Budapest");
    EXPECT_EQ(rows[1][0], "Pest");
  }
  {
    TSelect s;
    s.Col(u"IRSZ").Col(u"TELEP").From(u"Irsz").Where(u"IRSZ >= 8000 AND IRSZ < 8010").OrderBy(u"1", false);
    const auto rows = Run(s.Take());
    ASSERT_FALSE(rows.empty());
    for (std::size_t i = 1; i < rows.size(); ++i) EXPECT_GE(std::stoi(rows[i - 1][0]), std::stoi(rows[i][0]));
  }
}

TEST_F(QueryTest, PointSelectAndStarCopiesEveryColumnWithTheNote) {
  TSelect s;
  s.Star().From(u"Irsz").Where(u"IRSZ = 5241");
  const auto rows = Run(s.Take());
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(Names().front(), "IRSZ");
  EXPECT_EQ(rows[0][1], "Abádszalók");
  EXPECT_EQ(rows[0][2], "59");
  // The note lives in the memo file of the result table.
  TVdbRelation* r = Session->Catalog().GetRelation(Stmt->GetResultRltnIdx());
  TVdbAccessor a(*r, u"test");
  ASSERT_EQ(a.First(), 0);
  std::uint16_t type = 0;
  const std::int32_t n = a.InitGetBlob(11, 0, type);
  EXPECT_EQ(n, 0) << "the settlement world writes no notes";
  a.DoneGetBlob();
}

TEST_F(QueryTest, JoinsAndSetOperations) {
  {
    // Settlements sharing a postal code with another settlement.
    TSelect s;
    s.Col(u"a.IRSZ").Col(u"a.TELEP").Col(u"b.TELEP", u"OTHER")
        .From(u"Irsz", u"a")
        .From(u"Irsz", u"b", pjInner, u"a.IRSZ = b.IRSZ AND a.TELEP <> b.TELEP")
        .Where(u"a.IRSZ < 2100");
    const auto rows = Run(s.Take());
    std::map<std::u16string, int> perCode;
    for (const auto& row : ReadSettlements())
      if (testsupport::ToInt(row[testsupport::scIRSZ]) < 2100) ++perCode[row[testsupport::scIRSZ]];
    std::size_t pairs = 0;
    for (const auto& [k, n] : perCode) pairs += static_cast<std::size_t>(n * (n - 1));
    EXPECT_EQ(rows.size(), pairs);
    EXPECT_EQ(Names(), (std::vector<std::string>{"IRSZ", "TELEP", "OTHER"}));
  }
  {
    // LEFT OUTER JOIN keeps every settlement of the left side.
    TSelect s;
    s.Col(u"a.TELEP").Col(u"b.TELEP")
        .From(u"Irsz", u"a")
        .From(u"Irsz", u"b", pjLeftOuter, u"a.IRSZ = b.IRSZ AND a.TELEP <> b.TELEP")
        .Where(u"a.IRSZ = 8127");
    const auto rows = Run(s.Take());
    ASSERT_GE(rows.size(), 1u);
    EXPECT_EQ(rows[0][0], "Aba");
  }
  auto countyQuery = [](std::u16string_view county) {
    auto q = std::make_unique<TVdbQuerySpec>();
    q->Select = std::make_unique<TVdbSelectSpec>();
    q->Select->Elements.push_back({Expr(u"RANG"), {}});
    q->Select->From.push_back({u"Irsz", {}, pjFirst, nullptr});
    q->Select->Where = Cond(u"MEGYE = '" + std::u16string(county) + u"' AND RANG <> ''");
    return q;
  };
  auto setOp = [&](TVdbSetOperation op, bool all) {
    auto q = std::make_unique<TVdbQuerySpec>();
    q->Operation = op;
    q->All = all;
    q->Left = countyQuery(u"Pest");
    q->Right = countyQuery(u"Zala");
    return q;
  };
  const auto unionRows = Run(setOp(tsoUnion, false));
  EXPECT_EQ(unionRows.size(), 4u) << "község, megyei jogú város, nagyközség, város";
  const auto unionAll = Run(setOp(tsoUnion, true));
  std::size_t pestZala = 0;
  for (const auto& row : ReadSettlements())
    if ((row[testsupport::scMEGYE] == u"Pest" || row[testsupport::scMEGYE] == u"Zala") && !row[testsupport::scRANG].empty())
      ++pestZala;
  EXPECT_EQ(unionAll.size(), pestZala);
  EXPECT_EQ(Run(setOp(tsoIntersect, false)).size(), 4u);
  EXPECT_TRUE(Run(setOp(tsoExcept, false)).empty());
}

TEST_F(QueryTest, StatementStatusesAndParameters) {
  // Unprepared: -46, nothing touched.
  TSelect s;
  s.Col(u"TELEP").From(u"Irsz").Where(u"IRSZ = :code");
  Stmt->SetCommand(std::make_unique<TVdbQuery>(Session->Catalog(), s.Take()));
  EXPECT_EQ(Stmt->Execute(), kVdbStmtNotPrepared);
  ASSERT_EQ(Stmt->AddParameter(u"code", vctInteger, 0), 0);
  EXPECT_EQ(Stmt->AddParameter(u"CODE", vctInteger, 0), kVdbStmtDuplicateParameter);
  ASSERT_EQ(Stmt->Prepare(), 0) << Msg();
  ASSERT_EQ(Stmt->SetParamValue(u"code", u"5241", 4), 0);
  ASSERT_EQ(Stmt->Execute(), 0) << Msg();
  EXPECT_EQ(Rows(), (std::vector<std::vector<std::string>>{{"Abádszalók"}}));
  ASSERT_EQ(Stmt->SetParamValue(u"code", u"8127", 4), 0);
  ASSERT_EQ(Stmt->Execute(), 0);
  EXPECT_EQ(Rows(), (std::vector<std::vector<std::string>>{{"Aba"}})) << "executed again with the new value";
  EXPECT_GT(Stmt->SetParamValue(u"code", u"abc", 3), 0) << "a conversion failure";
  EXPECT_EQ(Stmt->SetParamValue(u"nope", u"1", 1), kVdbStmtConversion);
  EXPECT_EQ(Session->LastError().Code(), errUnknownIdentifier);
  Stmt->ClearParams();
  ASSERT_EQ(Stmt->Execute(), 0);
  EXPECT_TRUE(Rows().empty()) << "an empty parameter is NULL";

  TVdbStatement dateStmt(Session->Catalog(), Session->LastError());
  ASSERT_EQ(dateStmt.AddParameter(u"p", vctDate, 0), 0);
  EXPECT_EQ(dateStmt.SetParamValue(u"p", u"2013-12-24", 10), 0) << Msg();
  EXPECT_GT(dateStmt.SetParamValue(u"p", u"abc", 3), 0);
}

TEST_F(QueryTest, ResultTableOutlivesTheStatementWhileACursorReadsIt) {
  Run(Statistics(u"RANG", true).Take());
  const TVdbRltnIdx idx = Stmt->GetResultRltnIdx();
  ASSERT_GT(idx, 0);
  {
    TVdbAccessor reader(*Session->Catalog().GetRelation(idx), u"ResultTable");
    Stmt->Unprepare();
    ASSERT_NE(Session->Catalog().GetRelation(idx), nullptr) << "kept while read";
    ASSERT_EQ(reader.First(), 0);
    EXPECT_EQ(reader.Relation().GetRecordCount(), 5);
  }
  Session->Catalog().CloseUnneededTables(true, false);
  EXPECT_EQ(Session->Catalog().GetRelation(idx), nullptr) << "freed after the last reader";
}

TEST_F(QueryTest, WritingCommandsAndLocks) {
  // A copy of the table to change: INSERT … query into a table made for it.
  // UPDATE returns its count; DELETE removes the matching records.
  auto update = std::make_unique<TVdbUpdateSpec>();
  update->TableName = u"Irsz";
  update->Columns = {u"NEPESS"};
  update->Expressions.push_back(Expr(u"NEPESS + 1"));
  update->Where = Cond(u"RANG = 'főváros' OR IRSZ = 8127");
  Stmt->SetCommand(std::make_unique<TVdbUpdateCommand>(Session->Catalog(), std::move(update)));
  ASSERT_EQ(Stmt->Prepare(), 0) << Msg();
  EXPECT_EQ(Stmt->Execute(), 2) << Msg();
  {
    TSelect s;
    s.Col(u"NEPESS").From(u"Irsz").Where(u"IRSZ = 8127");
    EXPECT_EQ(Run(s.Take()), (std::vector<std::vector<std::string>>{{"4397"}}));
  }
  auto back = std::make_unique<TVdbUpdateSpec>();
  back->TableName = u"Irsz";
  back->Columns = {u"NEPESS"};
  back->Expressions.push_back(Expr(u"NEPESS - 1"));
  back->Where = Cond(u"RANG = 'főváros' OR IRSZ = 8127");
  Stmt->SetCommand(std::make_unique<TVdbUpdateCommand>(Session->Catalog(), std::move(back)));
  ASSERT_EQ(Stmt->Prepare(), 0);
  EXPECT_EQ(Stmt->Execute(), 2);
}

TEST_F(QueryTest, StatementTexts) {
  // The statistics statement as the rank window writes it.
  ASSERT_EQ(Stmt->SetText(u"SELECT RANG,  COUNT(RANG), SUM(TERULET), SUM(NEPESS), SUM(LAKAS)\r\nFROM Irsz\r\n"
                          u"WHERE RANG <> ''\r\nGROUP BY RANG"),
            0)
      << Msg();
  ASSERT_EQ(Stmt->Prepare(), 0) << Msg();
  ASSERT_EQ(Stmt->Execute(), 0) << Msg();
  EXPECT_EQ(Rows().size(), 5u);
  EXPECT_EQ(Names(), (std::vector<std::string>{"RANG", "COUNT([RANG])", "SUM([TERULET])", "SUM([NEPESS])", "SUM([LAKAS])"}));

  struct TCase {
    std::u16string Text;
    std::vector<std::vector<std::string>> Rows;
  } cases[] = {
      {u"SELECT COUNT(*) FROM Irsz WHERE 1 = 2", {{"0"}}},
      {u"SELECT TOP 2 IRSZ, TELEP FROM Irsz WHERE IRSZ >= 8000 ORDER BY IRSZ", {{"8000", "Székesfehérvár"}, {"8041", "Csór"}}},
      {u"SELECT IRSZ FROM Irsz WHERE TELEP = 'Aba'", {{"8127"}}},
      {u"SELECT COUNT(*) AS N FROM Irsz a JOIN Irsz b ON a.IRSZ = b.IRSZ WHERE a.TELEP = 'Aba'", {{"1"}}},
      {u"SELECT RANG FROM Irsz WHERE MEGYE = 'Budapest' UNION SELECT RANG FROM Irsz WHERE IRSZ = 8127", {{"főváros"}, {"város"}}},
      {u"SELECT DISTINCT RANG FROM Irsz WHERE MEGYE = 'Pest' AND RANG <> 'község' ORDER BY RANG DESC",
       {{"város"}, {"nagyközség"}, {"megyei jogú város"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(VdbUtf16ToUtf8(c.Text));
    ASSERT_EQ(Stmt->SetText(c.Text), 0) << Msg();
    ASSERT_EQ(Stmt->Prepare(), 0) << Msg();
    ASSERT_EQ(Stmt->Execute(), 0) << Msg();
    EXPECT_EQ(Rows(), c.Rows);
  }

  // A syntax error in the second statement keeps the first and tells where.
  EXPECT_EQ(Stmt->SetText(u"SELECT * FROM Irsz;\nSELECT TOP x FROM Irsz"), kVdbStmtSyntaxError);
  EXPECT_EQ(Stmt->CommandCount(), 1);
  EXPECT_EQ(Stmt->LastErrorRow(), 2);
  EXPECT_EQ(Stmt->LastErrorCol(), 12);

  // Several statements: the result is the sum, the result relation the last query's.
  ASSERT_EQ(Stmt->SetText(u"UPDATE Irsz SET LAKAS = LAKAS + 1 WHERE MEGYE = 'Budapest'; "
                          u"UPDATE Irsz SET LAKAS = LAKAS - 1 WHERE MEGYE = 'Budapest'"),
            0);
  ASSERT_EQ(Stmt->Prepare(), 0) << Msg();
  EXPECT_EQ(Stmt->Execute(), 2) << Msg();
  EXPECT_EQ(Stmt->GetResultRltnIdx(), 0);

  // Index definitions each perform their one engine operation.
  for (const char16_t* text : {u"CREATE INDEX RANG_X ON Irsz (RANG, IRSZ DESC)", u"UPDATE INDEX Irsz.RANG_X"}) {
    ASSERT_EQ(Stmt->SetText(text), 0) << Msg();
    ASSERT_EQ(Stmt->Prepare(), 0) << Msg();
    EXPECT_EQ(Stmt->Execute(), 0) << Msg();
  }
  EXPECT_GE(Session->Catalog().GetRelation(Session->Catalog().FindRltnIdx(u"Irsz"))->GetIndexNo(u"RANG_X"), 0);
  ASSERT_EQ(Stmt->SetText(u"SELECT COUNT(*) FROM Irsz WHERE RANG = 'város'"), 0);
  ASSERT_EQ(Stmt->Prepare(), 0);
  ASSERT_EQ(Stmt->Execute(), 0);
  EXPECT_EQ(Rows(), (std::vector<std::vector<std::string>>{{"322"}})) << "read through the new index's range";
  ASSERT_EQ(Stmt->SetText(u"DROP INDEX Irsz.RANG_X"), 0);
  ASSERT_EQ(Stmt->Prepare(), 0);
  EXPECT_EQ(Stmt->Execute(), 0) << Msg();
  // What this engine does not run is refused before anything is touched.
  ASSERT_EQ(Stmt->SetText(u"ALTER TABLE Irsz ADD T1 INTEGER"), 0);
  EXPECT_LT(Stmt->Prepare(), 0);
  EXPECT_EQ(Session->LastError().Code(), errNotSupported);
}

}  // namespace
}  // namespace vdb
