// Table definition statements run by a statement: CREATE TABLE with its columns, keys, checks
// and options (ciphers and passwords included), DROP TABLE, and the column definitions of
// VidoraSQL as the engine's column descriptions. Each statement performs its one table
// operation; what fails leaves nothing behind.
//
// Then, over small tables made that way: sub-queries in conditions (EXISTS, IN, ALL/ANY,
// correlated ones) with their NULL and empty cases, sub-query values of UPDATE, and the set
// operations with CORRESPONDING.
#include <gtest/gtest.h>

#include <optional>

#include "../tables/TableTestSupport.h"
#include "base/VdbErrorCodes.h"
#include "session/VdbLocSess.h"
#include "sql/VdbSqlCommand.h"
#include "sql/VdbStatement.h"
#include "types/vuCodePage.h"

namespace vdb {
namespace {

class DdlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    World.Fs.ForcePath(u"/private");
    Session = std::make_unique<TVdbLocalSession>(World.PageManager, World.Fs,
                                                 TvuServices{World.Clock, World.Sleeper, World.Random});
    Session->Initialize(2);
    Session->SetPrivateDir(u"/private");
    ASSERT_EQ(Session->OpenDb(u"/db"), 0) << Msg();
    Stmt = std::make_unique<TVdbStatement>(Session->Catalog(), Session->LastError());
  }
  void TearDown() override {
    Stmt.reset();
    Session.reset();
  }
  // Sets, prepares and executes `text`: the execution's result, or the failing step's.
  std::int32_t Run(std::u16string_view text) {
    if (const std::int16_t r = Stmt->SetText(text); r != 0) return r;
    if (const std::int16_t r = Stmt->Prepare(); r != 0) return r;
    return Stmt->Execute();
  }
  std::string Msg() { return VdbUtf16ToUtf8(Session->LastError().Msg()); }
  TVdbCatalog& Catalog() { return Session->Catalog(); }
  bool FileExists(std::u16string_view path) { return World.Fs.FileExists(std::u16string(path)); }
  // The first result row's texts.
  std::vector<std::string> FirstRow() {
    std::vector<std::string> row;
    TVdbRelation* r = Catalog().GetRelation(Stmt->GetResultRltnIdx());
    if (r == nullptr || r->GetFirstRecordNo() <= 0) return row;
    std::vector<std::uint8_t> rec(static_cast<std::size_t>(r->GetRecordSize()));
    r->ReadRecord(r->GetFirstRecordNo(), rec);
    for (int c = 0; c < r->ColumnDefs().GetCount(); ++c) {
      const TVdbColumnDef& col = r->ColumnDefs().GetColumnDef(c);
      TVdbDataValue v;
      col.DataType()->SetReference(v, rec, static_cast<std::size_t>(col.Position()));
      row.push_back(col.DataType()->IsNull(v) ? "<null>"
                                              : VdbUtf16ToUtf8(col.DataType()->ConvertToString(v, TvuFormats::Invariant())));
    }
    return row;
  }

  test::TTableWorld World;
  std::unique_ptr<TVdbLocalSession> Session;
  std::unique_ptr<TVdbStatement> Stmt;
};

TEST(SqlColumnDefinition, BecomesTheEngineColumnItDescribes) {
  struct TCase {
    const char16_t* Definition;
    TVdbColumnType Type;
    bool Nullable;
    std::int32_t Length = 0;
    std::u16string Extra = {};  // collation, items, linked table or record-id index
    std::int32_t Number = 0;    // scale, precision or first id
  } cases[] = {
      {u"A INTEGER", vctInteger, true},
      {u"A SMALLINT NOT NULL", vctSmallInt, false},
      {u"A BIGINT", vctBigInt, true},
      {u"A BYTE", vctByte, true},
      {u"A BOOLEAN NOT NULL", vctBoolean, false},
      {u"A CHAR(30)", vctString, true, 30},
      {u"A VARCHAR(40) COLLATE Hungarian NOT NULL", vctString, false, 40, u"Hungarian"},
      {u"A VARWCHAR(12)", vctWideString, true, 12},
      {u"A DOUBLE PRECISION(2)", vctFloat, true, 0, u"", 2},
      {u"A DOUBLE", vctFloat, true, 0, u"", 4},
      {u"A TIME(3)", vctTime, true, 0, u"", 3},
      {u"A DATE", vctDate, true},
      {u"A TIMESTAMP", vctTimeStamp, true},
      {u"A LONGVARCHAR", vctMemo, true},
      {u"A LONGVARWCHAR", vctWideMemo, true},
      {u"A LONGVARBINARY", vctBlob, true},
      {u"A GUID", vctGuid, true},
      {u"A ENUM('falu', 'város', 'megyei jogú város')", vctEnum, true, 0, u"falu,város,megyei jogú város"},
      {u"A AUTOINC('ID', 100)", vctRecordId, false, 0, u"ID", 100},
      {u"A AUTOINC", vctRecordId, false, 0, u"", 1},
      {u"A LINK(Irsz)", vctLink, true, 0, u"Irsz"},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(VdbUtf16ToUtf8(c.Definition));
    auto commands = VdbParseSqlStatements(u"CREATE TABLE T (" + std::u16string(c.Definition) + u")");
    ASSERT_EQ(commands.size(), 1u);
    const auto& create = static_cast<const TVdbSqlCreateTableCommand&>(*commands[0]);
    const TVdbNewColumn col = create.ColumnDefinitions.at(0)->CreateColumnDef();
    EXPECT_EQ(col.Name, u"A");
    EXPECT_EQ(col.ColumnType, c.Type);
    EXPECT_EQ(col.Nullable, c.Nullable);
    EXPECT_EQ(col.Length, c.Length);
    switch (c.Type) {
      case vctString:
      case vctWideString: EXPECT_EQ(col.CollationName, c.Extra); break;
      case vctEnum: EXPECT_EQ(col.EnumNames, c.Extra); break;
      case vctLink: EXPECT_EQ(col.LinkedTable, c.Extra); break;
      case vctRecordId:
        EXPECT_EQ(col.IndexSpec, c.Extra);
        EXPECT_EQ(col.StartValue, c.Number);
        break;
      case vctFloat: EXPECT_EQ(col.Scale, c.Number); break;
      case vctTime: EXPECT_EQ(col.Precision, c.Number); break;
      default: break;
    }
  }
  // DEFAULT is the initial value, SET a value computed on every change.
  auto commands = VdbParseSqlStatements(u"CREATE TABLE T (A INTEGER DEFAULT 5, B INTEGER SET A * 2)");
  const auto& create = static_cast<const TVdbSqlCreateTableCommand&>(*commands[0]);
  const TVdbNewColumn a = create.ColumnDefinitions[0]->CreateColumnDef();
  const TVdbNewColumn b = create.ColumnDefinitions[1]->CreateColumnDef();
  EXPECT_EQ(a.Calculation, u"5");
  EXPECT_EQ(a.Options & coComputed, 0u);
  EXPECT_FALSE(b.Calculation.empty());
  EXPECT_NE(b.Options & coComputed, 0u);
}

TEST_F(DdlTest, CreateTableMakesATableThatStatementsThenUse) {
  ASSERT_EQ(Run(u"CREATE TABLE Town (ID AUTOINC, NAME VARCHAR(40) NOT NULL, POP INTEGER, "
                u"AREA DOUBLE PRECISION(2), FOUNDED DATE, NOTE LONGVARCHAR, CONSTRAINT PK_NAME PRIMARY KEY (NAME))"),
            0)
      << Msg();
  EXPECT_TRUE(FileExists(u"/db/Town.vdbt"));
  EXPECT_EQ(Catalog().FindRltnIdx(u"Town"), 0) << "created, not left open";

  ASSERT_EQ(Run(u"INSERT INTO Town (NAME, AREA, FOUNDED, NOTE) VALUES ('Eger', 92.5, DATE '1004-01-01', 'érseki város')"), 1)
      << Msg();
  ASSERT_EQ(Run(u"INSERT INTO Town (NAME, POP) VALUES ('Gyula', 29000)"), 1) << Msg();
  ASSERT_EQ(Run(u"SELECT NAME, POP, AREA * 2 FROM Town WHERE NAME = 'Eger'"), 0) << Msg();
  EXPECT_EQ(FirstRow(), (std::vector<std::string>{"Eger", "<null>", "185"}));

  const TVdbRltnIdx idx = Catalog().FindRltnIdx(u"Town");
  ASSERT_GT(idx, 0);
  const TVdbColumnDefs& cols = Catalog().GetRelation(idx)->ColumnDefs();
  ASSERT_EQ(cols.GetCount(), 6);
  {
    // The note went into the memo file in the column's code page and reads back whole.
    TVdbAccessor reader(*Catalog().GetRelation(idx), u"Reader");
    ASSERT_EQ(reader.GotoRecord(1), 0);
    std::uint16_t blobType = 0;
    const std::int32_t n = reader.InitGetBlob(6, 1000, blobType);
    std::string bytes(static_cast<std::size_t>(std::max(n, 0)), '\0');
    reader.GetBlobChunk(0, std::span(reinterpret_cast<std::uint8_t*>(bytes.data()), bytes.size()));
    reader.DoneGetBlob();
    const auto& memo = static_cast<const TVdbStringType&>(*cols.GetColumnDef(5).DataType());
    EXPECT_EQ(TvuCodePage::ToUnicode(memo.Collation().CodePage(), bytes), u"érseki város");
  }
  EXPECT_EQ(cols.GetColumnDef(0).ColumnType(), vctRecordId);
  EXPECT_FALSE(cols.GetColumnDef(1).Nullable());
  EXPECT_TRUE(cols.GetColumnDef(2).Nullable());
  EXPECT_EQ(cols.GetColumnDef(5).ColumnType(), vctMemo);

  // The primary key is enforced.
  EXPECT_EQ(Run(u"INSERT INTO Town (NAME) VALUES ('Gyula')"), kVdbStmtFailed);
  EXPECT_EQ(Session->LastError().Code(), errNotUnique) << Msg();
  ASSERT_EQ(Run(u"SELECT COUNT(*) FROM Town"), 0);
  EXPECT_EQ(FirstRow(), (std::vector<std::string>{"2"}));

  // Defaults, computed columns and checks become the table's own definitions.
  ASSERT_EQ(Run(u"CREATE TABLE Rules (A INTEGER DEFAULT 5, B INTEGER SET A * 2, CONSTRAINT POSITIVE CHECK (A >= 0))"), 0)
      << Msg();
  const std::int16_t slot = Catalog().OpenTable(u"Rules", u"", kVdbRightsWriteMask);
  ASSERT_GT(slot, 0) << Msg();
  const auto& rules = dynamic_cast<const TVdbBaseTable&>(*Catalog().GetRelation(slot));
  EXPECT_EQ(rules.ColumnDefs().GetColumnDef(0).CalculationSource(), u"5");
  EXPECT_EQ(rules.ColumnDefs().GetColumnDef(0).Options() & coComputed, 0u);
  EXPECT_NE(rules.ColumnDefs().GetColumnDef(1).Options() & coComputed, 0u);
  ASSERT_EQ(rules.CheckDefs().GetCount(), 1);
  EXPECT_EQ(rules.CheckDefs().GetNamedDef(0).Name(), u"POSITIVE");
}

TEST_F(DdlTest, AFailedCreateTableLeavesNothingBehind) {
  struct TCase {
    const char16_t* Text;
    std::int16_t Code;
  } cases[] = {
      {u"CREATE TABLE Bad (A INTEGER, a VARCHAR(4))", errDuplicateIdentifier},
      {u"CREATE TABLE Bad (A CHAR(0))", errZeroFieldSize},
      {u"CREATE TABLE Bad COLLATE Klingon (A INTEGER)", errUnknownCollation},
      {u"CREATE TABLE Bad LEVEL 6 ENCRYPTION Classic PASSWORD '1234' (A INTEGER)", errFeatureNotAtLevel},
      {u"CREATE TABLE Bad (A INTEGER, CONSTRAINT K PRIMARY KEY (B))", 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(VdbUtf16ToUtf8(c.Text));
    EXPECT_EQ(Run(c.Text), kVdbStmtFailed);
    if (c.Code != 0) {
      EXPECT_EQ(Session->LastError().Code(), c.Code) << Msg();
    }
    EXPECT_FALSE(FileExists(u"/db/Bad.vdbt"));
    EXPECT_FALSE(Catalog().ExistsTable(u"Bad"));
  }
  // A table that exists already is not overwritten.
  ASSERT_EQ(Run(u"CREATE TABLE Twice (A INTEGER)"), 0) << Msg();
  ASSERT_EQ(Run(u"INSERT INTO Twice VALUES (7)"), 1) << Msg();
  EXPECT_EQ(Run(u"CREATE TABLE Twice (B VARCHAR(3))"), kVdbStmtFailed);
  ASSERT_EQ(Run(u"SELECT A FROM Twice"), 0) << Msg();
  EXPECT_EQ(FirstRow(), (std::vector<std::string>{"7"}));
}

TEST_F(DdlTest, DropTableDeletesItsFilesButNotWhileACursorReadsIt) {
  ASSERT_EQ(Run(u"CREATE TABLE Gone (A INTEGER, B LONGVARCHAR)"), 0) << Msg();
  ASSERT_EQ(Run(u"CREATE INDEX GONE_A ON Gone (A)"), 0) << Msg();
  ASSERT_EQ(Run(u"INSERT INTO Gone VALUES (1, 'x')"), 1) << Msg();
  const TVdbRltnIdx idx = Catalog().FindRltnIdx(u"Gone");
  ASSERT_GT(idx, 0);
  std::vector<std::u16string> files;
  dynamic_cast<TVdbBaseTable&>(*Catalog().GetRelation(idx)).GetFileNames(files);
  ASSERT_GE(files.size(), 3u) << "data, memo and index files";
  {
    // A cursor of its own reads the table: the drop is refused and the table stays whole.
    TVdbAccessor reader(*Catalog().GetRelation(idx), u"Reader");
    EXPECT_EQ(Run(u"DROP TABLE Gone"), kVdbStmtFailed);
    EXPECT_EQ(Session->LastError().Code(), errTableStillAccessed) << Msg();
    for (const auto& f : files) EXPECT_TRUE(FileExists(f)) << VdbUtf16ToUtf8(f);
  }
  EXPECT_EQ(Run(u"DROP TABLE Gone"), 0) << Msg();
  for (const auto& f : files) EXPECT_FALSE(FileExists(f)) << VdbUtf16ToUtf8(f);
  EXPECT_FALSE(Catalog().ExistsTable(u"Gone"));
  EXPECT_EQ(Run(u"DROP TABLE Gone"), kVdbStmtFailed);
  EXPECT_EQ(Run(u"SELECT * FROM Gone"), -errFileNotFoundOrDenied) << "prepare refuses a missing table";
}

TEST_F(DdlTest, AnEncipheredTableOpensOnlyWithItsPassword) {
  for (const char16_t* method : {u"Blowfish", u"AES", u"Rijndael", u"Fast"}) {
    SCOPED_TRACE(VdbUtf16ToUtf8(method));
    ASSERT_EQ(Run(u"CREATE TABLE Secret ENCRYPTION " + std::u16string(method) +
                  u" PASSWORD 'Tokaji 1999' (NAME VARCHAR(20), NOTE VARCHAR(20))"),
              0)
        << Msg();
    EXPECT_EQ(Catalog().OpenTable(u"Secret", u"", kVdbRightsWriteMask), -errInvalidCredentials);
    EXPECT_EQ(Catalog().OpenTable(u"Secret", u"Tokaji 1998", kVdbRightsWriteMask), -errInvalidCredentials);
    const std::int16_t slot = Catalog().OpenTable(u"Secret", u"Tokaji 1999", kVdbRightsWriteMask);
    ASSERT_GT(slot, 0) << Msg();
    // Opened with its key, the statements use it like any other table.
    ASSERT_EQ(Run(u"INSERT INTO Secret VALUES ('Mád', 'aszú')"), 1) << Msg();
    ASSERT_EQ(Run(u"SELECT NOTE FROM Secret"), 0) << Msg();
    EXPECT_EQ(FirstRow(), (std::vector<std::string>{"aszú"}));
    Stmt->Unprepare();
    ASSERT_EQ(Catalog().CloseRelation(slot), 0);
    // Dropping it needs the key too: refused without, and the callback's key opens it.
    EXPECT_EQ(Run(u"DROP TABLE Secret"), kVdbStmtFailed);
    EXPECT_EQ(Session->LastError().Code(), errInvalidCredentials);
    EXPECT_TRUE(Catalog().ExistsTable(u"Secret"));
    Catalog().PasswordCallback = [](std::span<char16_t> buffer) {
      const std::u16string_view key = u"Tokaji 1999";
      std::copy(key.begin(), key.end(), buffer.begin());
      buffer[key.size()] = u'\0';
      return 0;
    };
    EXPECT_EQ(Run(u"DROP TABLE Secret"), 0) << Msg();
    Catalog().PasswordCallback = nullptr;
    EXPECT_FALSE(Catalog().ExistsTable(u"Secret"));
  }
}

TEST_F(DdlTest, WhatNeedsARestructureIsRefusedBeforeAnythingIsTouched) {
  ASSERT_EQ(Run(u"CREATE TABLE Kept (A INTEGER)"), 0) << Msg();
  for (const char16_t* text : {u"ALTER TABLE Kept ADD B INTEGER", u"ALTER TABLE Kept DROP A",
                               u"CREATE FULLTEXTINDEX F ON Kept (A) DICTIONARY D"}) {
    SCOPED_TRACE(VdbUtf16ToUtf8(text));
    ASSERT_EQ(Stmt->SetText(text), 0) << Msg();
    EXPECT_LT(Stmt->Prepare(), 0);
    EXPECT_EQ(Session->LastError().Code(), errNotSupported);
  }
  ASSERT_EQ(Run(u"SELECT * FROM Kept"), 0) << Msg();
  EXPECT_EQ(Catalog().GetRelation(Stmt->GetResultRltnIdx())->ColumnDefs().GetCount(), 1);
}

// Two small tables: towns with their county, and counties with a seat and a population limit.
class SmallTablesTest : public DdlTest {
 protected:
  void SetUp() override {
    DdlTest::SetUp();
    for (const char16_t* text :
         {u"CREATE TABLE Town (NAME VARCHAR(20), COUNTY VARCHAR(20), POP INTEGER)",
          u"CREATE TABLE County (CNAME VARCHAR(20), SEAT VARCHAR(20), LIMIT_ INTEGER)",
          u"INSERT INTO Town VALUES ('Eger', 'Heves', 52000); INSERT INTO Town VALUES ('Gyöngyös', 'Heves', 29000);"
          u"INSERT INTO Town VALUES ('Hatvan', 'Heves', 20000); INSERT INTO Town VALUES ('Pécs', 'Baranya', 140000);"
          u"INSERT INTO Town VALUES ('Mohács', 'Baranya', 17000); INSERT INTO Town VALUES ('Sehol', NULL, NULL)",
          u"INSERT INTO County VALUES ('Heves', 'Eger', 25000); INSERT INTO County VALUES ('Baranya', 'Pécs', NULL);"
          u"INSERT INTO County VALUES ('Zala', 'Zalaegerszeg', 1000)"}) {
      ASSERT_GE(Run(text), 0) << Msg();
    }
  }
  // Every row of the result, sorted, each as its texts joined by "|".
  std::vector<std::string> Sorted(std::u16string_view text) {
    std::vector<std::string> out;
    if (Run(text) != 0) {
      ADD_FAILURE() << VdbUtf16ToUtf8(text) << ": " << Msg();
      return out;
    }
    TVdbRelation* r = Catalog().GetRelation(Stmt->GetResultRltnIdx());
    std::vector<std::uint8_t> rec(static_cast<std::size_t>(r->GetRecordSize()));
    for (std::int32_t n = r->GetFirstRecordNo(); n > 0; n = r->GetNextRecordNo(n)) {
      r->ReadRecord(n, rec);
      std::string row;
      for (int c = 0; c < r->ColumnDefs().GetCount(); ++c) {
        const TVdbColumnDef& col = r->ColumnDefs().GetColumnDef(c);
        TVdbDataValue v;
        col.DataType()->SetReference(v, rec, static_cast<std::size_t>(col.Position()));
        if (c > 0) row += "|";
        row += col.DataType()->IsNull(v) ? "<null>" : VdbUtf16ToUtf8(col.DataType()->ConvertToString(v, TvuFormats::Invariant()));
      }
      out.push_back(row);
    }
    std::sort(out.begin(), out.end());
    return out;
  }
};

TEST_F(SmallTablesTest, SubQueriesInConditions) {
  using V = std::vector<std::string>;
  struct TCase {
    const char16_t* Text;
    V Rows;
  } cases[] = {
      // Uncorrelated.
      {u"SELECT NAME FROM Town WHERE NAME IN (SELECT SEAT FROM County)", V{"Eger", "Pécs"}},
      {u"SELECT NAME FROM Town WHERE COUNTY NOT IN (SELECT CNAME FROM County WHERE CNAME <> 'Heves')",
       V{"Eger", "Gyöngyös", "Hatvan"}},
      // A NULL among the values makes NOT IN unknown for every row that matches none.
      {u"SELECT NAME FROM Town WHERE POP NOT IN (SELECT LIMIT_ FROM County)", V{}},
      {u"SELECT NAME FROM Town WHERE POP > ALL (SELECT POP FROM Town WHERE COUNTY = 'Heves')", V{"Pécs"}},
      {u"SELECT NAME FROM Town WHERE POP >= ANY (SELECT POP FROM Town WHERE COUNTY = 'Baranya')",
       V{"Eger", "Gyöngyös", "Hatvan", "Mohács", "Pécs"}},
      // Over no rows ALL holds and ANY does not.
      {u"SELECT COUNT(*) FROM Town WHERE POP < ALL (SELECT POP FROM Town WHERE 1 = 2)", V{"6"}},
      {u"SELECT COUNT(*) FROM Town WHERE POP < ANY (SELECT POP FROM Town WHERE 1 = 2)", V{"0"}},
      {u"SELECT COUNT(*) FROM Town WHERE EXISTS (SELECT * FROM County WHERE CNAME = 'Zala')", V{"6"}},
      {u"SELECT COUNT(*) FROM Town WHERE NOT EXISTS (SELECT * FROM County WHERE CNAME = 'Vas')", V{"6"}},
      // Correlated: the inner query reads the outer row, by table name or by alias.
      {u"SELECT CNAME FROM County WHERE EXISTS (SELECT * FROM Town WHERE Town.COUNTY = County.CNAME)",
       V{"Baranya", "Heves"}},
      {u"SELECT c.CNAME FROM County c WHERE NOT EXISTS (SELECT * FROM Town t WHERE t.COUNTY = c.CNAME)", V{"Zala"}},
      {u"SELECT t.NAME FROM Town t WHERE t.POP > ALL (SELECT u.POP FROM Town u WHERE u.COUNTY = t.COUNTY AND u.NAME <> t.NAME)",
       V{"Eger", "Pécs", "Sehol"}},
      {u"SELECT t.NAME FROM Town t WHERE t.POP < ANY (SELECT c.LIMIT_ FROM County c WHERE c.CNAME = t.COUNTY)",
       V{"Hatvan"}},
      // Nested: a correlated query inside a correlated query reads both enclosing rows.
      {u"SELECT c.CNAME FROM County c WHERE EXISTS (SELECT * FROM Town t WHERE t.COUNTY = c.CNAME AND "
       u"EXISTS (SELECT * FROM Town u WHERE u.COUNTY = c.CNAME AND u.POP > t.POP * 5))",
       V{"Baranya"}},
      // In a join and under grouping.
      {u"SELECT t.COUNTY, COUNT(*) FROM Town t JOIN County c ON c.CNAME = t.COUNTY "
       u"WHERE t.NAME NOT IN (SELECT SEAT FROM County) GROUP BY t.COUNTY",
       V{"Baranya|1", "Heves|2"}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(VdbUtf16ToUtf8(c.Text));
    EXPECT_EQ(Sorted(c.Text), c.Rows);
  }
  // A sub-query must give one column.
  EXPECT_EQ(Run(u"SELECT NAME FROM Town WHERE NAME IN (SELECT SEAT, CNAME FROM County)"), kVdbStmtFailed);
  EXPECT_EQ(Session->LastError().Code(), errInvalidSearchCondition) << Msg();
}

TEST_F(SmallTablesTest, UpdateTakesSubQueryValuesFromTheTableAsItWas) {
  // Uncorrelated: one value for every record.
  EXPECT_EQ(Run(u"UPDATE County SET LIMIT_ = (SELECT MAX(POP) FROM Town) WHERE CNAME = 'Zala'"), 1) << Msg();
  EXPECT_EQ(Sorted(u"SELECT LIMIT_ FROM County WHERE CNAME = 'Zala'"), (std::vector<std::string>{"140000"}));
  // Correlated: each county's own sum; a county without towns gets the NULL sum of no rows.
  EXPECT_EQ(Run(u"UPDATE County SET LIMIT_ = (SELECT SUM(POP) FROM Town WHERE Town.COUNTY = County.CNAME)"), 3) << Msg();
  EXPECT_EQ(Sorted(u"SELECT CNAME, LIMIT_ FROM County"),
            (std::vector<std::string>{"Baranya|157000", "Heves|101000", "Zala|<null>"}));
  // Every value is computed before the first change: a rank by population, read from the
  // table that is being changed, comes out as it would from an unchanged table.
  EXPECT_EQ(Run(u"UPDATE Town SET POP = (SELECT COUNT(*) FROM Town u WHERE u.POP > Town.POP) WHERE POP IS NOT NULL"), 5)
      << Msg();
  EXPECT_EQ(Sorted(u"SELECT NAME, POP FROM Town WHERE POP IS NOT NULL"),
            (std::vector<std::string>{"Eger|1", "Gyöngyös|2", "Hatvan|3", "Mohács|4", "Pécs|0"}));
  // Mixed with a plain expression; a sub-query of more than one row is refused and changes
  // nothing.
  EXPECT_EQ(Run(u"UPDATE Town SET POP = POP + 10, NAME = (SELECT SEAT FROM County WHERE CNAME = 'Zala') WHERE NAME = 'Pécs'"), 1)
      << Msg();
  EXPECT_EQ(Sorted(u"SELECT NAME, POP FROM Town WHERE COUNTY = 'Baranya'"),
            (std::vector<std::string>{"Mohács|4", "Zalaegerszeg|10"}));
  EXPECT_EQ(Run(u"UPDATE Town SET NAME = (SELECT SEAT FROM County) WHERE COUNTY = 'Heves'"), kVdbStmtFailed);
  EXPECT_EQ(Session->LastError().Code(), errValueOutOfRange) << Msg();
  EXPECT_EQ(Sorted(u"SELECT NAME FROM Town WHERE COUNTY = 'Heves'"), (std::vector<std::string>{"Eger", "Gyöngyös", "Hatvan"}));
  // DELETE with a correlated sub-query.
  EXPECT_EQ(Run(u"DELETE FROM County WHERE NOT EXISTS (SELECT * FROM Town WHERE Town.COUNTY = County.CNAME)"), 1) << Msg();
  EXPECT_EQ(Sorted(u"SELECT CNAME FROM County"), (std::vector<std::string>{"Baranya", "Heves"}));
}

TEST_F(SmallTablesTest, SetOperationsWithCorresponding) {
  using V = std::vector<std::string>;
  struct TCase {
    const char16_t* Text;
    V Rows;
  } cases[] = {
      // The columns both operands name, in the left operand's order, whatever their position.
      {u"SELECT NAME, COUNTY FROM Town WHERE POP > 50000 UNION CORRESPONDING SELECT SEAT AS NAME, CNAME AS COUNTY, LIMIT_ FROM County",
       V{"Eger|Heves", "Pécs|Baranya", "Zalaegerszeg|Zala"}},
      {u"SELECT COUNTY, NAME FROM Town INTERSECT CORRESPONDING SELECT SEAT AS NAME, CNAME AS COUNTY FROM County",
       V{"Baranya|Pécs", "Heves|Eger"}},
      {u"SELECT NAME, POP FROM Town WHERE COUNTY = 'Heves' EXCEPT CORRESPONDING BY (NAME) SELECT SEAT AS NAME FROM County",
       V{"Gyöngyös", "Hatvan"}},
      {u"SELECT COUNTY FROM Town UNION ALL CORRESPONDING BY (Town.COUNTY) SELECT CNAME AS COUNTY FROM County WHERE CNAME = 'Zala'",
       V{"<null>", "Baranya", "Baranya", "Heves", "Heves", "Heves", "Zala"}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(VdbUtf16ToUtf8(c.Text));
    EXPECT_EQ(Sorted(c.Text), c.Rows);
  }
  EXPECT_EQ(Run(u"SELECT NAME FROM Town UNION CORRESPONDING SELECT CNAME FROM County"), kVdbStmtFailed);
  EXPECT_EQ(Session->LastError().Code(), errInvalidSearchCondition) << Msg();
  EXPECT_EQ(Run(u"SELECT NAME FROM Town UNION CORRESPONDING BY (SEAT) SELECT SEAT FROM County"), kVdbStmtFailed);
  EXPECT_EQ(Session->LastError().Code(), errUnknownIdentifier) << Msg();
}

}  // namespace
}  // namespace vdb
