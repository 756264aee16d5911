// Handle families of the exported call interface: session slots, table handles with slot
// reuse, statements, relation handles of every slot of every session, and what invalid,
// freed and remote handles get.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <thread>

#include "VdbApiTestSupport.h"

namespace vdbapi_test {
namespace {

// ---- invalid handles of every family

struct TInvalidCase {
  const char* Name;
  int16_t Handle;
};

class InvalidHandleTest : public ::testing::TestWithParam<TInvalidCase> {};

TEST_P(InvalidHandleTest, EachFamilyAnswersItsOwnCode) {
  const int16_t h = GetParam().Handle;
  std::vector<VdbChar> buffer(16, 0x7777);
  EXPECT_EQ(VdbTableFirst(h), VDB_ERR_INVALID_TABLE_HANDLE);
  EXPECT_EQ(VdbTableGetRecord(h, buffer.data(), 32), VDB_ERR_INVALID_TABLE_HANDLE);
  EXPECT_EQ(VdbTableGetRecordCount(h), VDB_ERR_INVALID_TABLE_HANDLE);
  EXPECT_EQ(VdbTableDelete(h), VDB_ERR_INVALID_TABLE_HANDLE);
  EXPECT_EQ(VdbStmtPrepare(h, 0), VDB_ERR_INVALID_STMT_HANDLE);
  EXPECT_EQ(VdbStmtDelete(h), VDB_ERR_INVALID_STMT_HANDLE);
  EXPECT_EQ(VdbRltnRecordCount(h), VDB_ERR_INVALID_RLTN_HANDLE);
  EXPECT_EQ(VdbTableCreate(h, W(u"x")), VDB_ERR_INVALID_RLTN_HANDLE);
  EXPECT_EQ(VdbSessCloseDb(h), VDB_ERR_INVALID_SESSION_HANDLE);
  EXPECT_EQ(VdbSessGetTableNames(h, buffer.data(), 16), VDB_ERR_INVALID_SESSION_HANDLE);
  EXPECT_EQ(buffer[0], 0x7777) << "nothing is written for an invalid handle";
}

// 300 would name a remote session's table or statement; there are none to serve it.
INSTANTIATE_TEST_SUITE_P(Handles, InvalidHandleTest,
                         ::testing::Values(TInvalidCase{"zero", 0}, TInvalidCase{"negative", -1},
                                           TInvalidCase{"remote", 300}, TInvalidCase{"largest", 32767}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(VdbApiSessionTest, ServerLocationsAndSessionHandlesOutsideTheList) {
  EXPECT_EQ(VdbCreateSession(W(u"server@host")), VDB_ERR_INVALID_SESSION_HANDLE);
  EXPECT_EQ(VdbSessDelete(101), VDB_ERR_INVALID_SESSION_HANDLE);
  EXPECT_EQ(VdbSessOpenDb(101, W(u""), W(u""), W(u""), 0, 0), VDB_ERR_INVALID_SESSION_HANDLE);
}

TEST(VdbApiSessionTest, HundredSessionsThenAFreedSlotIsReused) {
  std::vector<int16_t> sessions;
  for (int i = 0; i < 100; ++i) {
    const int16_t s = VdbCreateSession(W(u""));
    ASSERT_GT(s, 0) << i;
    sessions.push_back(s);
  }
  EXPECT_EQ(VdbCreateSession(W(u"")), VDB_ERR_CREATE_SESSION);
  const int16_t freed = sessions[41];
  ASSERT_EQ(VdbSessDelete(freed), 0);
  EXPECT_EQ(VdbSessDelete(freed), VDB_ERR_INVALID_SESSION_HANDLE);
  EXPECT_EQ(VdbSessSetLogLevel(freed, 0), VDB_ERR_INVALID_SESSION_HANDLE);
  EXPECT_EQ(VdbCreateSession(W(u"")), freed);
  for (int16_t s : sessions) EXPECT_EQ(VdbSessDelete(s), 0);
}

TEST(VdbApiSessionTest, DataCallsNeedAnOpenDatabaseButErrorsOfOpeningAreReadable) {
  const int16_t s = VdbCreateSession(W(u""));
  ASSERT_GT(s, 0);
  std::vector<VdbChar> names(64, 0);
  EXPECT_EQ(VdbSessGetTableNames(s, names.data(), 64), VDB_ERR_INVALID_SESSION_HANDLE);
  EXPECT_EQ(VdbSessOpenTable(s, W(u"Irsz"), W(u""), 0, false, false), VDB_ERR_INVALID_SESSION_HANDLE);
  const std::u16string missing = U16(ScratchDir() / "no-such-database" / "deeper");
  EXPECT_EQ(VdbSessOpenDb(s, W(missing), W(u""), W(u""), 0, 0), VDB_ERR_DATABASE_NOT_FOUND);
  EXPECT_NE(LastError(s).Code, 0) << "the engine error behind it is recorded";
  EXPECT_EQ(VdbSessDelete(s), 0);
}

TEST(VdbApiSessionTest, StationNumbersAreNeverZero) {
  const int16_t s = VdbCreateSession(W(u""));
  ASSERT_GT(s, 0);
  for (int i = 0; i < 200; ++i) {
    TVdbNetParams p;
    ASSERT_EQ(VdbSessGetDefaultNetParams(s, &p), 0);
    EXPECT_GE(p.StationNo, 1u);
    EXPECT_LE(p.StationNo, 0x7FFFFFFEu);
    EXPECT_EQ(FromBuffer(std::vector<VdbChar>(p.StationName, p.StationName + 41)), u"Undefined");
    EXPECT_EQ(FromBuffer(std::vector<VdbChar>(p.NetDirs, p.NetDirs + 256)), u"AUTO");
    EXPECT_EQ(p.ServerTimeout, 20000);
  }
  // The station number names the session's log files: a proposal of 0 leaves it as it was.
  const std::filesystem::path privateDir = EmptyDatabaseDir("station-private");
  TVdbNetParams p;
  ASSERT_EQ(VdbSessGetDefaultNetParams(s, &p), 0);
  p.StationNo = 4242;
  const std::u16string dir = U16(privateDir);
  std::copy(dir.begin(), dir.end(), p.PrivateDir);
  p.PrivateDir[dir.size()] = 0;
  ASSERT_EQ(VdbSessSetNetParams(s, &p), 0);
  p.StationNo = 0;
  ASSERT_EQ(VdbSessSetNetParams(s, &p), 0);
  ASSERT_EQ(VdbSessSetLogLevel(s, 1), 0) << vdb::VdbUtf16ToUtf8(LastError(s).Msg);
  EXPECT_TRUE(std::filesystem::exists(privateDir / "VdbLog4242_01.txt"));
  EXPECT_EQ(VdbSessSetLogLevel(s, 0), 0);
  EXPECT_EQ(VdbSessDelete(s), 0);
}

// ---- table handles

class TableHandleTest : public SettlementSessionTest {};

TEST_F(TableHandleTest, The256thCursorIsRefusedAndAFreedNumberIsGivenOutAgain) {
  std::vector<int16_t> tables;
  for (int i = 0; i < 255; ++i) {
    const int16_t t = VdbTableCreate(Rltn, W(u"Irsz"));
    ASSERT_EQ(t, i + 1) << "lowest free slot first";
    tables.push_back(t);
  }
  EXPECT_EQ(VdbTableCreate(Rltn, W(u"Irsz")), VDB_ERR_OUT_OF_MEMORY);
  ASSERT_EQ(VdbTableDelete(17), 0);
  EXPECT_EQ(VdbTableFirst(17), VDB_ERR_INVALID_TABLE_HANDLE) << "a freed handle";
  EXPECT_EQ(VdbTableDelete(17), VDB_ERR_INVALID_TABLE_HANDLE);
  EXPECT_EQ(VdbTableCreate(Rltn, W(u"Irsz")), 17);
  EXPECT_EQ(VdbTableFirst(17), 1);
  // Closing the database frees every handle of the session.
  ASSERT_EQ(VdbSessCloseDb(Sess), 0);
  EXPECT_EQ(VdbTableFirst(255), VDB_ERR_INVALID_TABLE_HANDLE);
  EXPECT_EQ(VdbRltnRecordCount(Rltn), VDB_ERR_INVALID_RLTN_HANDLE);
}

TEST_F(TableHandleTest, RelationInUseIsNotClosedAndThenClosesWhenFree) {
  const int16_t t = VdbTableCreate(Rltn, W(u"Irsz"));
  ASSERT_GT(t, 0);
  EXPECT_EQ(VdbTableGetRltnHdl(t), Rltn);
  EXPECT_EQ(VdbRltnClose(Rltn), VDB_ERR_DELETE_TABLE);
  EXPECT_GT(VdbRltnRecordCount(Rltn), 3000);
  ASSERT_EQ(VdbTableDelete(t), 0);
  EXPECT_EQ(VdbRltnClose(Rltn), 0);
  EXPECT_EQ(VdbRltnRecordCount(Rltn), VDB_ERR_INVALID_RLTN_HANDLE);
}

TEST_F(TableHandleTest, OpeningATableTwiceFailsWithTheEngineErrorRecorded) {
  EXPECT_EQ(VdbSessOpenTable(Sess, W(u"Irsz"), W(u""), VDB_RIGHTS_WRITE, false, false), VDB_ERR_CANNOT_OPEN_TABLE);
  EXPECT_EQ(LastError(Sess).Code, -35);
  EXPECT_EQ(VdbSessFindRltnHdl(Sess, W(u"irsz")), Rltn);
  EXPECT_EQ(VdbSessFindRltnHdl(Sess, W(u"Nincs")), 0);
  EXPECT_EQ(VdbSessOpenTable(Sess, W(u"Nincs"), W(u""), VDB_RIGHTS_WRITE, false, false), VDB_ERR_CANNOT_OPEN_TABLE);
  EXPECT_EQ(LastError(Sess).Code, -37);
}

TEST(VdbApiConcurrencyTest, TwoThreadsCreatingCursorsNeverShareAHandle) {
  // Each thread works in a session of its own, as a caller must; the handle array is shared.
  const int16_t sessA = OpenSession(SettlementDir());
  const int16_t sessB = OpenSession(SettlementDir());
  const int16_t rltnA = VdbSessOpenTable(sessA, W(u"Irsz"), W(u""), VDB_RIGHTS_WRITE, false, false);
  const int16_t rltnB = VdbSessOpenTable(sessB, W(u"Irsz"), W(u""), VDB_RIGHTS_WRITE, false, false);
  ASSERT_GT(rltnA, 0);
  ASSERT_GT(rltnB, 0);
  std::vector<int16_t> handlesA, handlesB;
  auto make = [](int16_t rltn, std::vector<int16_t>& out) {
    for (int i = 0; i < 120; ++i) out.push_back(VdbTableCreate(rltn, W(u"Irsz")));
  };
  std::thread a(make, rltnA, std::ref(handlesA));
  std::thread b(make, rltnB, std::ref(handlesB));
  a.join();
  b.join();
  std::set<int16_t> all;
  for (int16_t h : handlesA) EXPECT_EQ(VdbTableGetRltnHdl(h), rltnA);
  for (int16_t h : handlesB) EXPECT_EQ(VdbTableGetRltnHdl(h), rltnB);
  all.insert(handlesA.begin(), handlesA.end());
  all.insert(handlesB.begin(), handlesB.end());
  EXPECT_EQ(all.size(), 240u);
  EXPECT_TRUE(std::all_of(all.begin(), all.end(), [](int16_t h) { return h >= 1 && h <= 255; }));
  EXPECT_EQ(VdbSessDelete(sessA), 0);
  for (int16_t h : handlesA) EXPECT_EQ(VdbTableFirst(h), VDB_ERR_INVALID_TABLE_HANDLE);
  for (int16_t h : handlesB) EXPECT_EQ(VdbTableFirst(h), 1);
  EXPECT_EQ(VdbSessDelete(sessB), 0);
}

// ---- relation handles of the last session

TVdbFieldSpec IntegerField(const char16_t* name) {
  TVdbFieldSpec f{};
  f.No = 1;
  std::u16string n(name);
  std::copy(n.begin(), n.end(), f.Name);
  f.FldType = VDB_TYPE_INTEGER;
  return f;
}

TEST(VdbApiRelationHandleTest, EverySlotOfTheLastSessionIsAValidHandle) {
  // Session 100 holds relation handles up to 99 * 256 + 254; its 70th table lies beyond slot 64.
  const std::filesystem::path dir = EmptyDatabaseDir("many-tables");
  std::vector<int16_t> others;
  for (int i = 0; i < 99; ++i) others.push_back(VdbCreateSession(W(u"")));
  const int16_t last = OpenSession(dir);
  ASSERT_EQ(last, 100);
  const TVdbFieldSpec field = IntegerField(u"N");
  int16_t rltn = 0;
  for (int i = 1; i <= 70; ++i) {
    TVdbTableInfo info{};
    const std::u16string name = u"T" + vdb::VdbUtf8ToUtf16(std::to_string(i));
    std::copy(name.begin(), name.end(), info.FileName);
    ASSERT_EQ(VdbSessCreateTable(last, &info, W(u""), 1, &field, 0, nullptr, 0, nullptr, 0, nullptr), 0)
        << i << ": " << vdb::VdbUtf16ToUtf8(LastError(last).Msg);
    rltn = VdbSessOpenTable(last, W(name), W(u""), VDB_RIGHTS_WRITE, false, false);
    ASSERT_EQ(rltn, 99 * 256 + i);
  }
  EXPECT_EQ(VdbRltnRecordCount(rltn), 0);
  std::vector<VdbChar> name(16, 0);
  EXPECT_EQ(VdbRltnGetName(rltn, name.data(), 16, false), 0);
  EXPECT_EQ(FromBuffer(name), u"T70");
  const int16_t t = VdbTableCreate(rltn, W(u"T70"));
  EXPECT_GT(t, 0);
  EXPECT_EQ(VdbTableGetRltnHdl(t), rltn);
  EXPECT_EQ(VdbRltnRecordCount(99 * 256 + 71), VDB_ERR_INVALID_RLTN_HANDLE) << "a free slot";
  EXPECT_EQ(VdbRltnRecordCount(99 * 256 + 255), VDB_ERR_INVALID_RLTN_HANDLE) << "no slot 255";
  EXPECT_EQ(VdbSessDelete(last), 0);
  for (int16_t s : others) EXPECT_EQ(VdbSessDelete(s), 0);
}

// ---- statements

TEST_F(TableHandleTest, StatementFailuresAreNegativeStatuses) {
  const int16_t st = VdbSessCreateStatement(Sess);
  ASSERT_GT(st, 0);
  EXPECT_EQ(VdbStmtExecute(st), -46) << "not prepared";
  EXPECT_EQ(VdbStmtSetSqlText(st, W(u"SELECT RANG, COUNT(*) FROM Irsz\nGROUP BY")), VDB_ERR_SQL_SYNTAX);
  int32_t row = -1, col = -1;
  EXPECT_EQ(VdbStmtGetErrorPos(st, &row, &col), 0);
  EXPECT_EQ(row, 2);
  EXPECT_EQ(col, 9);
  EXPECT_EQ(VdbStmtSetSqlText(st, W(u"SELECT RANG, COUNT(*) FROM Irsz WHERE RANG = :P GROUP BY RANG")), 0);
  EXPECT_EQ(VdbStmtAddParam(st, W(u"P"), VDB_TYPE_STRING, 10), 0);
  EXPECT_EQ(VdbStmtAddParam(st, W(u"p"), VDB_TYPE_STRING, 10), -43) << "a second parameter of one name";
  EXPECT_EQ(VdbStmtSetParam(st, W(u"P"), W(u"abc"), 3), 0);
  EXPECT_EQ(VdbStmtSetParam(st, W(u"Q"), W(u"abc"), 3), -43) << "an unknown name";
  EXPECT_EQ(LastError(Sess).Code, -50);
  EXPECT_EQ(VdbStmtClearParams(st), 0);
  EXPECT_EQ(VdbStmtCreateResultTableHdl(st), 0) << "no result yet";
  EXPECT_EQ(VdbStmtSetSqlText(st, W(u"SELECT NOPE FROM Irsz")), 0);
  EXPECT_EQ(VdbStmtPrepare(st, 0), 0);
  EXPECT_EQ(VdbStmtExecute(st), -60);
  EXPECT_EQ(LastError(Sess).Code, -50) << "the unknown column is the recorded error";
  EXPECT_EQ(VdbStmtSetSqlText(st, W(u"SELECT * FROM Nowhere")), 0);
  EXPECT_EQ(VdbStmtPrepare(st, 0), VDB_ERR_NOT_PREPARED);
  EXPECT_EQ(VdbStmtUnprepare(st), 0);
  EXPECT_EQ(VdbStmtDelete(st), 0);
  EXPECT_EQ(VdbStmtPrepare(st, 0), VDB_ERR_INVALID_STMT_HANDLE);
  // Closing the database frees the statements of the session.
  const int16_t kept = VdbSessCreateStatement(Sess);
  ASSERT_GT(kept, 0);
  ASSERT_EQ(VdbSessCloseDb(Sess), 0);
  EXPECT_EQ(VdbStmtSetSqlText(kept, W(u"x")), VDB_ERR_INVALID_STMT_HANDLE);
  EXPECT_EQ(VdbSessCreateStatement(Sess), VDB_ERR_INVALID_SESSION_HANDLE);
}

}  // namespace
}  // namespace vdbapi_test
