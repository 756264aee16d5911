// SQL statements through the exported call interface, as the query dataset uses them: the
// statistics statement prepared, executed and read through a result cursor that outlives the
// statement, and UPDATE returning its count.
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

}  // namespace
}  // namespace vdbapi_test
