// The query dataset over the settlement database: a grouping statement opened without an
// explicit prepare (one record per group, fields named by the result's columns, the result
// read after the statement is gone), parameters, ExecSQL with RowsAffected, a syntax error's
// row and column, the texts of its failures, and closing on a change of the text.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "DataSetTestSupport.h"
#include "VdbQuery.h"
#include "db/TDataSource.h"

using namespace vdbds;

namespace {

class QueryFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    Database.SetName(u"VdbDatabase1");
    Database.SetLocation(dstest::SettlementDatabase().u16string());
    Query.Name = u"Query1";
    Query.SetDatabaseName(u"VdbDatabase1");
    Query.RequestLive = false;
  }
  TVdbDatabase Database;
  TVdbQuery Query;
};

TEST_F(QueryFixture, GroupingQueryHasOneRecordPerGroupAndTheResultsColumnNames) {
  Query.SetSQL({u"SELECT RANG,  COUNT(RANG), SUM(TERULET), SUM(NEPESS), SUM(LAKAS)", u"FROM Irsz", u"WHERE RANG <> ''",
                u"GROUP BY RANG"});
  Query.SetFiltered(true);
  Query.Open();
  EXPECT_FALSE(Query.Prepared()) << "an opening without Prepare unprepares again";
  EXPECT_EQ(Query.RecordCount(), 5);
  std::map<std::u16string, std::int64_t> counts;
  std::int64_t people = 0;
  for (Query.First(); !Query.Eof(); Query.Next()) {
    counts[Query.FieldByName(u"RANG").AsString()] = Query.FieldByName(u"COUNT([RANG])").AsInteger();
    people += Query.FieldByName(u"SUM([NEPESS])").AsInteger();
  }
  std::map<std::u16string, std::int64_t> expected;
  for (const auto& row : dstest::ReadSettlements())
    if (!row[dstest::scRANG].empty()) ++expected[row[dstest::scRANG]];
  EXPECT_EQ(counts, expected);
  EXPECT_EQ(people, 9584627);
  Query.Close();
  EXPECT_FALSE(Query.Active());
}

TEST_F(QueryFixture, ParametersAndAChangedTextCloses) {
  Query.SetSQLW(u"SELECT TELEP FROM Irsz WHERE IRSZ = :code");
  ASSERT_EQ(Query.Params().size(), 1u);
  // The postal code column of the register's table holds text.
  Query.ParamByName(u"code").DataType = tk::TFieldType::dtString;
  Query.ParamByName(u"code").SetValue(std::u16string(u"8127"));
  Query.Prepare();
  EXPECT_TRUE(Query.Prepared());
  Query.Open();
  EXPECT_EQ(Query.FieldByName(u"TELEP").AsString(), u"Aba");
  Query.Close();
  Query.ParamByName(u"code").SetValue(std::u16string(u"5241"));
  Query.Open();
  EXPECT_EQ(Query.FieldByName(u"TELEP").AsString(), u"Abádszalók");
  Query.SetSQLW(u"SELECT TELEP FROM Irsz WHERE IRSZ = :code AND TELEP <> ''");
  EXPECT_FALSE(Query.Active()) << "a new text closes the query";
  EXPECT_FALSE(Query.Prepared());
  EXPECT_EQ(Query.ParamByName(u"code").Value, tk::TFieldValue(std::u16string(u"5241"))) << "values carried over by name";
  EXPECT_THROW(Query.ParamByName(u"nope"), tk::EDatabaseError);
}

TEST_F(QueryFixture, SyntaxErrorTellsRowAndColumnAndQuotesTheRowUpToIt) {
  Query.SetSQL({u"SELECT RANG", u"FROM Irsz WHERE"});
  try {
    Query.Open();
    FAIL() << "opened";
  } catch (const EVidoraSQLError& e) {
    EXPECT_EQ(e.ErrorRow, 2);
    EXPECT_EQ(e.ErrorCol, 16);
    EXPECT_EQ(e.VdbError(), -59);
    const std::string text = e.what();
    EXPECT_NE(text.find("The SQL command has an error at row 2, column 16: \r\nFROM Irsz WHERE\r\n"), std::string::npos)
        << text;
  }
  EXPECT_FALSE(Query.Active());
}

TEST_F(QueryFixture, FailuresOfOpeningAndExecuting) {
  Query.SetSQL({});
  EXPECT_THROW(
      {
        try {
          Query.Open();
        } catch (const tk::EDatabaseError& e) {
          EXPECT_STREQ(e.what(), "The SQL statement contains no text");
          throw;
        }
      },
      tk::EDatabaseError);
  Query.SetSQLW(u"SELECT * FROM Nowhere");
  try {
    Query.Open();
    FAIL() << "opened";
  } catch (const EVidoraDBError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Preparing SQL statement", 0), 0u) << e.what();
  }
  Query.SetSQLW(u"SELECT TELEP, COUNT(*) FROM Irsz GROUP BY RANG");
  try {
    Query.Open();
    FAIL() << "opened";
  } catch (const EVidoraDBError& e) {
    const std::string text = e.what();
    EXPECT_EQ(text.rfind("Opening VidoraDB query", 0), 0u) << text;
    EXPECT_NE(text.find("[TELEP]"), std::string::npos) << text;
  }
  EXPECT_FALSE(Query.Active());
}

TEST(QueryCopyTest, TableDefinitionsRunThroughExecSqlWhichHoldsTheDatabaseMeanwhile) {
  dstest::TTempDir dir;
  dstest::CopySettlementDatabase(dir.Path());
  TVdbDatabase database;
  database.SetName(u"VdbDatabase1");
  database.SetLocation(dir.Location());
  TVdbQuery query;
  query.SetDatabaseName(u"VdbDatabase1");
  query.RequestLive = false;
  query.SetSQLW(u"CREATE TABLE Megyek (NEV VARCHAR(30) NOT NULL, SZEKHELY VARCHAR(40), CONSTRAINT PK PRIMARY KEY (NEV))");
  query.ExecSQL();
  EXPECT_EQ(query.RowsAffected(), 0);
  EXPECT_EQ(database.DataSetCount(), 0) << "registered only while it ran";
  query.SetSQLW(u"INSERT INTO Megyek (NEV) SELECT DISTINCT MEGYE FROM Irsz WHERE MEGYE <> ''");
  query.ExecSQL();
  EXPECT_EQ(query.RowsAffected(), 20);
  // Prepared, it stays registered until it is unprepared.
  query.SetSQLW(u"UPDATE Megyek SET SZEKHELY = :s WHERE NEV = 'Heves'");
  query.ParamByName(u"s").DataType = tk::TFieldType::dtString;
  query.ParamByName(u"s").SetValue(std::u16string(u"Eger"));
  query.Prepare();
  query.ExecSQL();
  EXPECT_EQ(query.RowsAffected(), 1);
  EXPECT_EQ(database.DataSetCount(), 1);
  query.UnPrepare();
  EXPECT_EQ(database.DataSetCount(), 0);
  query.SetSQLW(u"SELECT SZEKHELY FROM Megyek WHERE NEV = 'Heves'");
  query.Open();
  EXPECT_EQ(query.FieldByName(u"SZEKHELY").AsString(), u"Eger");
  query.Close();
  query.SetSQLW(u"DROP TABLE Megyek");
  query.ExecSQL();
  std::vector<std::u16string> names;
  database.GetTableNames(names, false);
  EXPECT_EQ(std::find(names.begin(), names.end(), u"Megyek"), names.end());
}

TEST(QueryCopyTest, ExecSqlCountsTheChangedRowsAndAnUpdateHasNoResultSet) {
  dstest::TTempDir dir;
  dstest::CopySettlementDatabase(dir.Path());
  TVdbDatabase database;
  database.SetName(u"VdbDatabase1");
  database.SetLocation(dir.Location());
  TVdbQuery query;
  query.SetDatabaseName(u"VdbDatabase1");
  query.SetSQLW(u"UPDATE Irsz SET LAKAS = LAKAS + 1 WHERE MEGYE = 'Pest'");
  query.ExecSQL();
  const auto rows = dstest::ReadSettlements();
  const int pest = static_cast<int>(
      std::count_if(rows.begin(), rows.end(), [](const auto& r) { return r[dstest::scMEGYE] == u"Pest"; }));
  EXPECT_EQ(query.RowsAffected(), pest);
  // Opening runs the statement too, and then finds no result to show.
  try {
    query.Open();
    FAIL() << "opened";
  } catch (const tk::EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "UPDATE Irsz SET LAKAS = LAKAS + 1 WHERE MEGYE = 'Pest'");
  }
  EXPECT_FALSE(query.Active());
  query.SetSQLW(u"SELECT SUM(LAKAS) FROM Irsz");
  query.Open();
  EXPECT_EQ(query.Fields(0).AsLargeInt(), 4603906 + 2 * pest);
}

TEST_F(QueryFixture, AMasterDataSourceGivesParametersTheirValuesAndReopensTheQuery) {
  TVdbQuery master;
  master.Name = u"Counties";
  master.SetDatabaseName(u"VdbDatabase1");
  master.RequestLive = false;
  master.SetSQLW(u"SELECT DISTINCT MEGYE FROM Irsz WHERE MEGYE <> '' ORDER BY MEGYE");
  tk::TDataSource masterSource;
  masterSource.SetDataSet(&master);
  Query.SetSQLW(u"SELECT COUNT(*) AS N FROM Irsz WHERE MEGYE = :MEGYE");
  Query.SetDataSource(&masterSource);
  EXPECT_EQ(Query.DataSource(), &masterSource);

  std::map<std::u16string, std::int64_t> expected;
  for (const auto& row : dstest::ReadSettlements())
    if (!row[dstest::scMEGYE].empty()) ++expected[row[dstest::scMEGYE]];
  master.Open();
  Query.Open();
  std::map<std::u16string, std::int64_t> seen;
  int moves = 0;
  for (master.First(); !master.Eof(); master.Next(), ++moves) {
    ASSERT_TRUE(Query.Active());
    seen[master.FieldByName(u"MEGYE").AsString()] = Query.FieldByName(u"N").AsInteger();
  }
  EXPECT_EQ(seen, expected) << "the query followed every record of the master";
  EXPECT_FALSE(Query.ParamByName(u"MEGYE").Bound) << "the master's values are taken, not kept as given";
  // A value given to the parameter wins over the master's field.
  Query.ParamByName(u"MEGYE").SetValue(std::u16string(u"Zala"));
  master.First();
  EXPECT_EQ(Query.FieldByName(u"N").AsInteger(), expected[u"Zala"]);

  // A source whose dataset is the query itself, or a query linked back to this one, is refused.
  tk::TDataSource own;
  own.SetDataSet(&Query);
  EXPECT_THROW(Query.SetDataSource(&own), tk::EDatabaseError);
  try {
    master.SetDataSource(&own);
    FAIL() << "linked in a circle";
  } catch (const tk::EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "DataSource property of query Counties refers to a data source that is itself linked to Counties");
  }
  EXPECT_EQ(master.DataSource(), nullptr);
  Query.Close();
  master.Close();
}

TEST(QueryParamTextTest, ValuesAsTheStatementReadsThem) {
  struct TCase {
    tk::TFieldType Type;
    tk::TFieldValue Value;
    std::u16string Text;
    std::int32_t Length;
  } cases[] = {
      {tk::TFieldType::dtInteger, std::monostate{}, u"", -1},
      {tk::TFieldType::dtInteger, std::int64_t{-42}, u"-42", 3},
      {tk::TFieldType::dtFloat, 2.0, u"2", 1},
      {tk::TFieldType::dtFloat, 0.1, u"0.1", 3},
      {tk::TFieldType::dtFloat, 1234.5678, u"1234.5678", 9},
      {tk::TFieldType::dtBoolean, true, u"true", 4},
      {tk::TFieldType::dtString, std::u16string(u"Győr"), u"Győr", 4},
      {tk::TFieldType::dtDate, std::int64_t{735226}, u"24.12.2013", 10},
      // Milliseconds in three digits, so that 7 ms reads back as 7 ms.
      {tk::TFieldType::dtTime, std::int64_t{(13 * 3600 + 5 * 60 + 9) * 1000 + 7}, u"13:05:09.007", 12},
      {tk::TFieldType::dtTime, std::int64_t{5}, u"00:00:00.005", 12},
      {tk::TFieldType::dtTime, std::int64_t{999}, u"00:00:00.999", 12},
  };
  for (const auto& c : cases) {
    TVdbQueryParam p;
    p.Name = u"p";
    p.DataType = c.Type;
    p.Value = c.Value;
    std::int32_t length = 0;
    EXPECT_EQ(VdbParamText(p, length), c.Text);
    EXPECT_EQ(length, c.Length);
  }
  EXPECT_EQ(VdbParseParamNames(u"SELECT ':no' FROM t WHERE a = :a AND [x:y] = :b OR c = :a -- :c"),
            (std::vector<std::u16string>{u"a", u"b"}));
}

}  // namespace
