// SQL statements through the exported call interface, as the query dataset uses them: the
// statistics statement prepared, executed and read through a result cursor that outlives the
// statement, UPDATE returning its count, and the table definition statements (an enciphered
// table made by CREATE TABLE opens with its password only).
#include <gtest/gtest.h>

#include "VdbApiTestSupport.h"

namespace vdbapi_test {
namespace {

class StatementTest : public SettlementSessionTest {
 protected:
  int16_t Prepared(const std::u16string& text) {
    const int16_t st = VdbSessCreateStatement(Sess);
    EXPECT_GT(st, 0);
    EXPECT_EQ(VdbStmtSetSqlText(st, W(text)), 0) << vdb::VdbUtf16ToUtf8(LastError(Sess).Msg);
    EXPECT_EQ(VdbStmtPrepare(st, 0), 0) << vdb::VdbUtf16ToUtf8(LastError(Sess).Msg);
    return st;
  }
};

TEST_F(StatementTest, ResultCursorOutlivesTheStatementThatMadeIt) {
  const int16_t st = Prepared(u"SELECT RANG,  COUNT(RANG), SUM(TERULET), SUM(NEPESS), SUM(LAKAS)\r\nFROM Irsz\r\n"
                              u"WHERE RANG <> ''\r\nGROUP BY RANG");
  ASSERT_EQ(VdbStmtExecute(st), 0) << vdb::VdbUtf16ToUtf8(LastError(Sess).Msg);
  const int16_t result = VdbStmtCreateResultTableHdl(st);
  ASSERT_GT(result, 0);
  // What an opening without an explicit prepare does: unprepare and free the statement at
  // once; the cursor goes on reading its result.
  ASSERT_EQ(VdbStmtUnprepare(st), 0);
  ASSERT_EQ(VdbStmtDelete(st), 0);
  EXPECT_EQ(VdbTableGetRecordCount(result), 5);
  EXPECT_EQ(VdbTableGetNumFields(result), 5);
  EXPECT_EQ(VdbTableGetFieldNo(result, W(u"COUNT([RANG])")), 2);
  EXPECT_EQ(VdbTableGetFieldNo(result, W(u"SUM([LAKAS])")), 5);
  TVdbFieldSpec count{};
  ASSERT_EQ(VdbTableGetFieldSpec(result, 2, &count), 0);
  std::vector<uint8_t> record(static_cast<std::size_t>(VdbTableGetRecordSize(result)));
  int64_t total = 0;
  for (int32_t r = VdbTableFirst(result); r == 1; r = VdbTableMoveBy(result, 1) == 0 ? 1 : 0) {
    ASSERT_EQ(VdbTableGetRecord(result, record.data(), static_cast<int32_t>(record.size())), 0);
    int32_t n = 0;
    std::memcpy(&n, record.data() + count.InternalPosition + (count.InternalSize - 4), 4);
    total += n;
  }
  EXPECT_EQ(total, 3155);
  EXPECT_EQ(VdbTableDelete(result), 0);
}

TEST_F(StatementTest, UpdateReturnsItsCount) {
  const int16_t st = Prepared(u"UPDATE Irsz SET NEPESS = NEPESS + 1 WHERE RANG = 'megyei jogú város'");
  EXPECT_EQ(VdbStmtExecute(st), 25);
  EXPECT_EQ(VdbStmtCreateResultTableHdl(st), 0) << "an UPDATE has no result table";
  ASSERT_EQ(VdbStmtSetSqlText(st, W(u"UPDATE Irsz SET NEPESS = NEPESS - 1 WHERE RANG = 'megyei jogú város'")), 0);
  ASSERT_EQ(VdbStmtPrepare(st, 0), 0);
  EXPECT_EQ(VdbStmtExecute(st), 25);
  EXPECT_EQ(VdbStmtDelete(st), 0);
}

TEST_F(StatementTest, CreateTableWithAPasswordAndDropTable) {
  const int16_t st = Prepared(u"CREATE TABLE Titok ENCRYPTION AES PASSWORD 'Hollókő' (NEV VARCHAR(30), LAKOS INTEGER)");
  ASSERT_EQ(VdbStmtExecute(st), 0) << vdb::VdbUtf16ToUtf8(LastError(Sess).Msg);
  EXPECT_EQ(VdbSessExistsTable(Sess, W(u"Titok")), 1);
  EXPECT_EQ(VdbSessOpenTable(Sess, W(u"Titok"), W(u""), VDB_RIGHTS_WRITE, false, false), VDB_ERR_WRONG_PASSWORD);
  EXPECT_EQ(VdbSessOpenTable(Sess, W(u"Titok"), W(u"Hollókö"), VDB_RIGHTS_WRITE, false, false), VDB_ERR_WRONG_PASSWORD);
  const int16_t rltn = VdbSessOpenTable(Sess, W(u"Titok"), W(u"Hollókő"), VDB_RIGHTS_WRITE, false, false);
  ASSERT_GT(rltn, 0);
  ASSERT_EQ(VdbStmtSetSqlText(st, W(u"INSERT INTO Titok VALUES ('Hollókő', 364)")), 0);
  ASSERT_EQ(VdbStmtPrepare(st, 0), 0);
  EXPECT_EQ(VdbStmtExecute(st), 1) << vdb::VdbUtf16ToUtf8(LastError(Sess).Msg);
  EXPECT_EQ(VdbRltnRecordCount(rltn), 1);
  ASSERT_EQ(VdbStmtUnprepare(st), 0);
  // Open with its key, the table is dropped through the open relation.
  ASSERT_EQ(VdbStmtSetSqlText(st, W(u"DROP TABLE Titok")), 0);
  ASSERT_EQ(VdbStmtPrepare(st, 0), 0);
  EXPECT_LT(VdbStmtExecute(st), 0) << "refused: the open relation is closed first, then the key is asked for again";
  EXPECT_EQ(VdbSessExistsTable(Sess, W(u"Titok")), 1);
  EXPECT_EQ(VdbStmtDelete(st), 0);
  EXPECT_EQ(VdbSessDeleteTable(Sess, W(u"Titok"), W(u"Hollókő")), 0);
  EXPECT_EQ(VdbSessExistsTable(Sess, W(u"Titok")), 0);
}

}  // namespace
}  // namespace vdbapi_test
