// Cursor and relation functions of the exported call interface: columns and their
// descriptions, orders and access names, filters without a condition compiler, ranges, marks,
// table and index names with the caller's buffer lengths, table creation from field
// specifications, functions of subsystems the engine leaves out, and callbacks that must
// not unwind into the engine.
#include <gtest/gtest.h>

#include <stdexcept>

#include "VdbApiTestSupport.h"
#include "WalkBound.h"

namespace vdbapi_test {
namespace {

class CursorTest : public SettlementSessionTest {
 protected:
  void SetUp() override {
    SettlementSessionTest::SetUp();
    Table = VdbTableCreate(Rltn, W(u"Irsz"));
    ASSERT_GT(Table, 0);
  }
  std::u16string Access() {
    std::vector<VdbChar> name(64, 0);
    EXPECT_EQ(VdbTableGetAccess(Table, name.data(), 64), 0);
    return FromBuffer(name);
  }
  int16_t Table = 0;
};

TEST_F(CursorTest, ColumnsAreNumberedFromOneAndDescribedBySpecs) {
  ASSERT_EQ(VdbTableGetNumFields(Table), 11);
  TVdbFieldSpec spec{};
  EXPECT_EQ(VdbTableGetFieldSpec(Table, 0, &spec), VDB_ERR_UNKNOWN_COLUMN);
  EXPECT_EQ(VdbTableGetFieldSpec(Table, 12, &spec), VDB_ERR_UNKNOWN_COLUMN);
  EXPECT_EQ(VdbTableGetFieldSpec(Table, -1, &spec), VDB_ERR_UNKNOWN_COLUMN);
  EXPECT_EQ(VdbTableGetDataType(Table, 0), VDB_ERR_UNKNOWN_COLUMN);

  ASSERT_EQ(VdbTableGetFieldSpec(Table, 2, &spec), 0);
  EXPECT_EQ(spec.No, 2);
  EXPECT_EQ(FromBuffer(std::vector<VdbChar>(spec.Name, spec.Name + 41)), u"TELEP");
  EXPECT_EQ(spec.FldType, VDB_TYPE_STRING);
  EXPECT_EQ(spec.Param, 40);
  EXPECT_EQ(FromBuffer(std::vector<VdbChar>(spec.SelectOrLink, spec.SelectOrLink + 2001)), u"Hungarian");

  // Positions are dense and end at the record size.
  int32_t end = 0;
  for (int16_t no = 1; no <= 11; ++no) {
    ASSERT_EQ(VdbTableGetFieldSpec(Table, no, &spec), 0);
    EXPECT_EQ(spec.InternalPosition, end) << no;
    end = spec.InternalPosition + spec.InternalSize;
  }
  EXPECT_EQ(end, VdbTableGetRecordSize(Table));
  EXPECT_EQ(spec.FldType, VDB_TYPE_MEMO);
  EXPECT_EQ(VdbTableGetDataType(Table, 11), VDB_TYPE_MEMO);
  EXPECT_EQ(VdbTableGetRltnVersion(Table), 6);
}

TEST_F(CursorTest, FieldNumbersByCaseSensitiveName) {
  EXPECT_EQ(VdbTableGetFieldNo(Table, W(u"IRSZ")), 1);
  EXPECT_EQ(VdbTableGetFieldNo(Table, W(u"EGYEB")), 11);
  EXPECT_EQ(VdbTableGetFieldNo(Table, W(u"irsz")), VDB_ERR_UNKNOWN_COLUMN);
  EXPECT_EQ(VdbTableGetFieldNo(Table, W(u"Irsz.IRSZ")), 0);
  EXPECT_EQ(VdbTableGetFieldNo(Table, nullptr), VDB_ERR_UNKNOWN_COLUMN);
}

TEST_F(CursorTest, BlankFilterTextRemovesTheConditionFaultyTextsAreRefused) {
  for (const char16_t* blank : {u"", u"   ", u" \t "}) {
    for (const bool background : {false, true}) {
      EXPECT_EQ(VdbTableSetSQLFilter(Table, W(blank), VDB_FILTER_INCREMENTAL, background), 0);
    }
  }
  EXPECT_EQ(VdbTableSetSQLFilter(Table, nullptr, VDB_FILTER_STATIC, false), 0);
  const int32_t all = VdbTableGetRecordCount(Table);
  EXPECT_GT(all, 3000);
  EXPECT_EQ(VdbTableSetSQLFilter(Table, W(u"RANG = 'város' Xor TELEP = 'x'"), VDB_FILTER_INCREMENTAL, false),
            VDB_ERR_INVALID_CONDITION);
  EXPECT_EQ(LastError(Sess).Code, -25) << "the reason is recorded";
  EXPECT_EQ(VdbTableGetRecordCount(Table), all) << "a refused filter changes nothing";
  EXPECT_EQ(VdbTableSetSQLFilter(Table, W(u"RANG = 'város'"), VDB_FILTER_STATIC, false), 0);
  const int32_t towns = VdbTableGetRecordCount(Table);
  EXPECT_GT(towns, 100);
  EXPECT_LT(towns, all);
  EXPECT_EQ(VdbTableLocateRec3(Table, W(u"TELEP = 'Aba'"), 0), VDB_ERR_INVALID_CONDITION);
}

TEST_F(CursorTest, MarksBecomeTheViewWhenTheFilterIsActivated) {
  EXPECT_EQ(VdbTableAddMark(Table, 5), 0);
  EXPECT_EQ(VdbTableAddMark(Table, 7), 0);
  EXPECT_EQ(VdbTableAddMark(Table, 999999), VDB_ERR_NO_RECORD);
  EXPECT_EQ(VdbTableIsMarked(Table, 5), 1);
  EXPECT_EQ(VdbTableIsMarked(Table, 6), 0);
  // A blank pending filter keeps the marks: they are a selection, not a condition.
  EXPECT_EQ(VdbTableSetSQLFilter(Table, W(u" "), VDB_FILTER_STATIC, true), 0);
  ASSERT_EQ(VdbTableActivateFilter(Table, true), 0);
  EXPECT_EQ(VdbTableGetRecordCount(Table), 2);
  EXPECT_EQ(VdbTableFirst(Table), 1);
  EXPECT_EQ(VdbTableGetRecNo(Table), 5);
  ASSERT_EQ(VdbTableActivateFilter(Table, false), 0);
  EXPECT_GT(VdbTableGetRecordCount(Table), 3000);
  EXPECT_EQ(VdbTableUnmark(Table), 0);
  EXPECT_EQ(VdbTableIsMarked(Table, 5), 0);
}

TEST_F(CursorTest, OrdersAndTheirAccessNames) {
  EXPECT_EQ(Access(), u"Nummer");
  ASSERT_EQ(VdbTableSetIndex(Table, W(u"IRSZ"), false), 0);
  EXPECT_EQ(Access(), u"IRSZ");
  ASSERT_EQ(VdbTableSetSortOrder(Table, W(u"TELEP")), 0);
  EXPECT_EQ(Access(), u"TELEP");
  ASSERT_EQ(VdbTableSetIndex(Table, W(u""), false), 0);
  EXPECT_EQ(Access(), u"Nummer");
  EXPECT_EQ(VdbTableFirst(Table), 1);
  EXPECT_EQ(VdbTableGetRecNo(Table), 1);
  EXPECT_EQ(VdbTableMoveBy(Table, 2), 0);
  EXPECT_EQ(VdbTableGetRecNo(Table), 3);
  EXPECT_EQ(VdbTableSetRecNo(Table, 10), 10);
  EXPECT_EQ(VdbTableSetRecNo(Table, 999999), VDB_ERR_NO_RECORD);
  EXPECT_EQ(VdbTableGetRecNo(Table), 10) << "the position is kept";
  EXPECT_EQ(VdbTableSetRecNo(Table, 0), 0);
  EXPECT_EQ(VdbTableGetRecNo(Table), -1) << "before the first record";
  EXPECT_EQ(VdbTableLast(Table), 1);
  EXPECT_EQ(VdbTableGetRecNo(Table), VdbTableGetRecordCount(Table));
  EXPECT_EQ(VdbTableMoveBy(Table, 1), VDB_ERR_NO_RECORD);
  EXPECT_EQ(VdbTableIsSequenced(Table), 1);
}

TEST_F(CursorTest, RangeOverTheCurrentIndexFromRecordImages) {
  const int16_t size = VdbTableGetRecordSize(Table);
  std::vector<uint8_t> lower(static_cast<std::size_t>(size), 0), upper(lower);
  TVdbFieldSpec telep{};
  ASSERT_EQ(VdbTableGetFieldSpec(Table, 2, &telep), 0);
  SetAnsiField(lower, telep, "Buda");
  SetAnsiField(upper, telep, "Budapest");
  EXPECT_EQ(VdbTableSetRange(Table, lower.data(), upper.data(), size, 0, 0), VDB_ERR_INVALID_ACCESS)
      << "natural order has no keys";
  ASSERT_EQ(VdbTableSetIndex(Table, W(u"TELEP"), false), 0);
  EXPECT_EQ(VdbTableSetRange(Table, lower.data(), upper.data(), size - 1, 0, 0), VDB_ERR_BUFFER_TOO_SMALL);
  ASSERT_EQ(VdbTableSetRange(Table, lower.data(), upper.data(), size, 0, 0), 0);
  const int32_t inRange = VdbTableGetRecordCount(Table);
  EXPECT_GE(inRange, 2);
  EXPECT_LT(inRange, 20);
  ASSERT_EQ(VdbTableLast(Table), 1);
  std::vector<uint8_t> record(lower.size());
  ASSERT_EQ(VdbTableGetRecord(Table, record.data(), size), 0);
  EXPECT_EQ(GetAnsiField(record, telep), "Budapest");
  ASSERT_EQ(VdbTableClearRange(Table), 0);
  EXPECT_GT(VdbTableGetRecordCount(Table), 3000);
}

TEST_F(CursorTest, TableAndIndexNamesWithTheCallersLengths) {
  std::vector<VdbChar> buffer(64, 0x7777);
  EXPECT_EQ(VdbSessGetTableNames(Sess, buffer.data(), 0), 4) << "the length of the whole list";
  EXPECT_EQ(buffer[0], 0x7777) << "MaxLen 0 writes nothing";
  EXPECT_EQ(VdbSessGetTableNames(Sess, buffer.data(), 3), 4);
  EXPECT_EQ(FromBuffer(buffer), u"Ir");
  EXPECT_EQ(VdbSessGetTableNames(Sess, buffer.data(), 64), 4);
  EXPECT_EQ(FromBuffer(buffer), u"Irsz");
  EXPECT_EQ(VdbSessExistsTable(Sess, W(u"Irsz")), 1);
  EXPECT_EQ(VdbSessExistsTable(Sess, W(u"Nincs")), 0);

  std::fill(buffer.begin(), buffer.end(), 0x7777);
  const int32_t length = VdbRltnGetIndexNames(Rltn, buffer.data(), 64);
  const std::u16string names = FromBuffer(buffer);
  EXPECT_EQ(static_cast<int32_t>(names.size()), length);
  for (const char16_t* index : {u"TELEP", u"IRSZ", u"MEGYE_IRSZ"}) EXPECT_NE(names.find(index), std::u16string::npos);
  EXPECT_EQ(VdbRltnGetIndexDesc(Rltn, W(u"MEGYE_IRSZ"), buffer.data(), 64, true, false), 0);
  EXPECT_EQ(FromBuffer(buffer), u"MEGYE, IRSZ");
  EXPECT_EQ(VdbRltnGetIndexDesc(Rltn, W(u"NINCS"), buffer.data(), 64, true, false), VDB_ERR_NO_INDEX);
  EXPECT_EQ(VdbRltnGetRealIndexName(Rltn, W(u"telep"), buffer.data(), 64), 0);
  EXPECT_EQ(FromBuffer(buffer), u"TELEP");
  EXPECT_EQ(VdbRltnGetName(Rltn, buffer.data(), 64, false), 0);
  EXPECT_EQ(FromBuffer(buffer), u"Irsz");

  TVdbTableInfo info{};
  ASSERT_EQ(VdbRltnGetTableInfo(Rltn, &info), 0);
  EXPECT_EQ(info.Level, 6);
  EXPECT_EQ(FromBuffer(std::vector<VdbChar>(info.Language, info.Language + 41)), u"Hungarian");
  TVdbRltnInfo rinfo{};
  ASSERT_EQ(VdbRltnGetInfo(Rltn, &rinfo), 0);
  EXPECT_EQ(rinfo.nFields, 11);
  EXPECT_EQ(rinfo.RecSize, VdbTableGetRecordSize(Table));
  EXPECT_TRUE(rinfo.MemoOkay);
  EXPECT_GT(rinfo.TotalSize, rinfo.FSize);
}

TEST_F(CursorTest, FunctionsOfLeftOutSubsystemsSayNotSupported) {
  EXPECT_EQ(VdbRltnCreateFullTextIndex(Rltn, W(u"FT"), W(u"TELEP")), VDB_ERR_NOT_SUPPORTED);
  EXPECT_EQ(LastError(Sess).Code, -187);
  EXPECT_EQ(VdbTableSetWordFilter(Table, W(u"Buda"), 1, false), VDB_ERR_NOT_SUPPORTED);
  EXPECT_EQ(VdbTableExportToVdb(Table, W(u"/tmp/x"), W(u""), W(u""), nullptr), VDB_ERR_NOT_SUPPORTED);
  EXPECT_EQ(VdbSessBackupDatabase(Sess, VDB_DB_DIRECTORY, W(u"/tmp/x")), VDB_ERR_NOT_SUPPORTED);
  EXPECT_EQ(VdbSessIsSingleFile(Sess), 0);
  TVdbDatabaseInfo db{};
  EXPECT_EQ(VdbSessGetDbInfo(Sess, &db), 0);
  EXPECT_EQ(db.ManagementLevel, VDB_UNMANAGED);
  EXPECT_EQ(VdbSessGetDbInfo(Sess, nullptr), VDB_ERR_BUFFER_TOO_SMALL);
}

TEST_F(CursorTest, TableCheckHandsOutItsFindingsAsATemporaryRelation) {
  const int32_t records = VdbRltnRecordCount(Rltn);
  ASSERT_GT(records, 0);
  const TVdbResult result = VdbSessCheckTable(Sess, Rltn);
  ASSERT_GT(result, 0);
  EXPECT_NE(result, Rltn);
  EXPECT_EQ(VdbRltnRecordCount(result), 0);  // the settlement table is sound
  const int16_t findings = VdbTableCreate(result, W(u"Findings"));
  ASSERT_GT(findings, 0);
  ASSERT_EQ(VdbTableGetNumFields(findings), 1);
  TVdbFieldSpec spec{};
  ASSERT_EQ(VdbTableGetFieldSpec(findings, 1, &spec), 0);
  EXPECT_EQ(FromBuffer(std::vector<VdbChar>(spec.Name, spec.Name + 41)), u"Finding");
  EXPECT_EQ(spec.FldType, VDB_TYPE_WIDESTRING);
  EXPECT_EQ(VdbTableFirst(findings), VDB_ERR_NO_RECORD);
  EXPECT_EQ(VdbTableDelete(findings), 0);
  const TVdbResult closed = VdbRltnClose(result);
  EXPECT_TRUE(closed == 0 || closed == VDB_ERR_INVALID_RLTN_HANDLE) << closed;
  // The checked table stays open and usable; bad handles change nothing.
  EXPECT_EQ(VdbRltnRecordCount(Rltn), records);
  EXPECT_EQ(VdbSessCheckTable(Sess, 0), VDB_ERR_INVALID_RLTN_HANDLE);
  EXPECT_EQ(VdbSessCheckTable(static_cast<int16_t>(Sess + 1), Rltn), VDB_ERR_INVALID_RLTN_HANDLE);
}

TEST_F(CursorTest, TableLocksAreCountedAndAnUnmatchedUnlockChangesNothing) {
  EXPECT_EQ(VdbTableLock(Table, VDB_LOCK_READ, 0), 0);
  EXPECT_EQ(VdbTableUnlock(Table, VDB_LOCK_READ), 0);
  EXPECT_EQ(VdbTableUnlock(Table, VDB_LOCK_READ), 0);
  EXPECT_EQ(VdbTableLock(Table, VDB_LOCK_WRITE, 1), 0);
  TVdbTableUsage* usage = new TVdbTableUsage();
  EXPECT_EQ(VdbTableGetUsage(Table, usage), 0);
  EXPECT_GE(usage->UserCount, 1);
  delete usage;
  EXPECT_EQ(VdbTableUnlock(Table, VDB_LOCK_WRITE), 0);
  // A session never turns its own read lock into a write lock: refused, not waited for.
  ASSERT_EQ(VdbTableLock(Table, VDB_LOCK_READ, 0), 0);
  EXPECT_EQ(VdbTableLock(Table, VDB_LOCK_WRITE, 1), VDB_ERR_TABLE_LOCKED);
  EXPECT_EQ(VdbTableUnlock(Table, VDB_LOCK_READ), 0);
  EXPECT_EQ(VdbTableLock(Table, VDB_LOCK_WRITE, 0), 0);
  EXPECT_EQ(VdbTableUnlock(Table, VDB_LOCK_WRITE), 0);
}

// ---- tables made from field specifications, and callbacks

class CreatedTableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Dir = EmptyDatabaseDir("created");
    Sess = OpenSession(Dir);
  }
  void TearDown() override { EXPECT_EQ(VdbSessDelete(Sess), 0); }
  int16_t Create(const char16_t* name, const char16_t* password, int16_t encryption) {
    const TVdbFieldSpec fields[] = {FieldSpec(1, u"NAME", VDB_TYPE_STRING, 30), FieldSpec(2, u"N", VDB_TYPE_INTEGER),
                                    FieldSpec(3, u"NOTE", VDB_TYPE_MEMO)};
    TVdbKeySpec key{};
    key.IsPrimaryKey = true;
    const std::u16string keyName = u"PK", keyFields = u"NAME";
    std::copy(keyName.begin(), keyName.end(), key.Name);
    std::copy(keyFields.begin(), keyFields.end(), key.Fields);
    TVdbTableInfo info{};
    const std::u16string n(name);
    std::copy(n.begin(), n.end(), info.FileName);
    info.EncryptionMethod = encryption;
    return VdbSessCreateTable(Sess, &info, W(password), 3, fields, 1, &key, 0, nullptr, 0, nullptr);
  }
  std::filesystem::path Dir;
  int16_t Sess = 0;
};

TEST_F(CreatedTableTest, FieldSpecsBecomeColumnsThatReadBackTheSame) {
  ASSERT_EQ(Create(u"Uj", u"", VDB_ENC_DEFAULT), 0) << vdb::VdbUtf16ToUtf8(LastError(Sess).Msg);
  EXPECT_EQ(VdbSessExistsTable(Sess, W(u"Uj")), 1);
  EXPECT_EQ(VdbSessFindRltnHdl(Sess, W(u"Uj")), 0) << "closed again after creation";
  const int16_t rltn = VdbSessOpenTable(Sess, W(u"Uj"), W(u""), VDB_RIGHTS_WRITE, false, false);
  ASSERT_GT(rltn, 0);
  const int16_t t = VdbTableCreate(rltn, W(u"Uj"));
  ASSERT_EQ(VdbTableGetNumFields(t), 3);
  TVdbFieldSpec spec{};
  ASSERT_EQ(VdbTableGetFieldSpec(t, 1, &spec), 0);
  EXPECT_EQ(spec.FldType, VDB_TYPE_STRING);
  EXPECT_EQ(spec.Param, 30);
  ASSERT_EQ(VdbTableGetFieldSpec(t, 3, &spec), 0);
  EXPECT_EQ(spec.FldType, VDB_TYPE_MEMO);
  EXPECT_EQ(VdbTableGetRecordCount(t), 0);
  EXPECT_EQ(VdbTableFirst(t), VDB_ERR_NO_RECORD);
  EXPECT_EQ(VdbTableCanModify(t), 1);
  EXPECT_EQ(Create(u"Uj", u"", VDB_ENC_DEFAULT), VDB_ERR_CREATE_TABLE) << "the table exists";
  EXPECT_EQ(VdbTableDelete(t), 0);
  EXPECT_EQ(VdbRltnClose(rltn), 0);
  EXPECT_EQ(VdbSessDeleteTable(Sess, W(u"Uj"), W(u"")), 0) << vdb::VdbUtf16ToUtf8(LastError(Sess).Msg);
  EXPECT_EQ(VdbSessExistsTable(Sess, W(u"Uj")), 0);
}

TEST_F(CreatedTableTest, ChecksOfTheDefinitionAreReportedBack) {
  const TVdbFieldSpec fields[] = {FieldSpec(1, u"N", VDB_TYPE_INTEGER)};
  TVdbCheckSpec check{};
  const std::u16string name = u"POSITIVE", condition = u"N > 0";
  std::copy(name.begin(), name.end(), check.Name);
  std::copy(condition.begin(), condition.end(), check.SearchCondition);
  TVdbTableInfo info{};
  const std::u16string n(u"Ellenorzott");
  std::copy(n.begin(), n.end(), info.FileName);
  ASSERT_EQ(VdbSessCreateTable(Sess, &info, W(u""), 1, fields, 0, nullptr, 1, &check, 0, nullptr), 0)
      << vdb::VdbUtf16ToUtf8(LastError(Sess).Msg);
  const int16_t rltn = VdbSessOpenTable(Sess, W(u"Ellenorzott"), W(u""), VDB_RIGHTS_WRITE, false, false);
  ASSERT_GT(rltn, 0);
  ASSERT_EQ(VdbRltnGetCheckCount(rltn), 1);
  TVdbCheckSpec back{};
  ASSERT_EQ(VdbRltnGetCheckSpec(rltn, 1, &back), 0);
  EXPECT_EQ(FromBuffer(std::vector<VdbChar>(back.Name, back.Name + 41)), u"POSITIVE");
  EXPECT_EQ(FromBuffer(std::vector<VdbChar>(back.SearchCondition, back.SearchCondition + 256)), u"N > 0");
  EXPECT_EQ(VdbRltnGetCheckSpec(rltn, 0, &back), VDB_ERR_NOT_SUPPORTED);
  EXPECT_EQ(VdbRltnGetCheckSpec(rltn, 2, &back), VDB_ERR_NOT_SUPPORTED);
  EXPECT_EQ(VdbRltnGetIntegrityRuleCount(rltn), 0);
  TVdbIntegrityRuleSpec rule{};
  EXPECT_EQ(VdbRltnGetIntegrityRuleSpec(rltn, 1, &rule), VDB_ERR_NOT_SUPPORTED);
}

TEST_F(CreatedTableTest, ACreationRefusedByTheEngineSaysCouldNotCreate) {
  TVdbTableInfo info{};
  const std::u16string n(u"Ures");
  std::copy(n.begin(), n.end(), info.FileName);
  EXPECT_EQ(VdbSessCreateTable(Sess, &info, W(u""), 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr),
            VDB_ERR_CREATE_TABLE);
  EXPECT_NE(LastError(Sess).Code, 0);
  EXPECT_EQ(VdbSessCreateTable(Sess, nullptr, W(u""), 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr),
            VDB_ERR_CREATE_TABLE);
  EXPECT_EQ(VdbSessCreateTable(Sess, &info, W(u""), 2, nullptr, 0, nullptr, 0, nullptr, 0, nullptr),
            VDB_ERR_CREATE_TABLE);
}

int16_t gAskedSession = 0;
std::u16string gAskedTable;
int32_t GoodPassword(int16_t sess, const VdbChar* table, VdbChar* key, int32_t maxLen) {
  gAskedSession = sess;
  gAskedTable = reinterpret_cast<const char16_t*>(table);
  const std::u16string secret = u"titok";
  if (maxLen <= static_cast<int32_t>(secret.size())) return 1;
  std::copy(secret.begin(), secret.end(), key);
  key[secret.size()] = 0;
  return 0;
}
int32_t ThrowingPassword(int16_t, const VdbChar*, VdbChar*, int32_t) { throw std::runtime_error("callback failed"); }
int32_t GiveUp(int16_t, const VdbChar*, VdbChar*, int32_t) { return 1; }

TEST_F(CreatedTableTest, PasswordCallbackGivesTheKeyAndCannotUnwindIntoTheEngine) {
  ASSERT_EQ(Create(u"Titkos", u"titok", VDB_ENC_PROTECTION), 0) << vdb::VdbUtf16ToUtf8(LastError(Sess).Msg);
  EXPECT_EQ(VdbSessOpenTable(Sess, W(u"Titkos"), W(u"rossz"), VDB_RIGHTS_WRITE, false, false), VDB_ERR_WRONG_PASSWORD);
  ASSERT_EQ(VdbSessSetPasswordCallback(Sess, &GiveUp), 0);
  EXPECT_EQ(VdbSessOpenTable(Sess, W(u"Titkos"), W(u""), VDB_RIGHTS_WRITE, false, false), VDB_ERR_WRONG_PASSWORD);
  ASSERT_EQ(VdbSessSetPasswordCallback(Sess, &ThrowingPassword), 0);
  EXPECT_EQ(VdbSessOpenTable(Sess, W(u"Titkos"), W(u""), VDB_RIGHTS_WRITE, false, false), VDB_ERR_WRONG_PASSWORD);
  ASSERT_EQ(VdbSessSetPasswordCallback(Sess, &GoodPassword), 0);
  EXPECT_GT(VdbSessOpenTable(Sess, W(u"Titkos"), W(u""), VDB_RIGHTS_WRITE, false, false), 0);
  EXPECT_EQ(gAskedSession, Sess);
  EXPECT_EQ(gAskedTable, u"Titkos");
  ASSERT_EQ(VdbRltnClose(VdbSessFindRltnHdl(Sess, W(u"Titkos"))), 0);
  EXPECT_EQ(VdbSessDeleteTable(Sess, W(u"Titkos"), W(u"rossz")), VDB_ERR_WRONG_PASSWORD);
  EXPECT_EQ(VdbSessExistsTable(Sess, W(u"Titkos")), 1);
  EXPECT_EQ(VdbSessDeleteTable(Sess, W(u"Titkos"), W(u"titok")), 0);
  EXPECT_EQ(VdbSessExistsTable(Sess, W(u"Titkos")), 0);
}

TEST_F(CreatedTableTest, EveryMethodOpensWithItsKeyOnlyAndReportsItself) {
  struct TCase {
    const char16_t* Name;
    int16_t Method;
    const char16_t* Key;
    int16_t Reported;
  };
  const TCase cases[] = {
      {u"Vedett", VDB_ENC_PROTECTION, u"titok", VDB_ENC_PROTECTION},
      {u"Gyors", VDB_ENC_FAST, u"titok", VDB_ENC_FAST},
      {u"Hal", VDB_ENC_BLOWFISH, u"titok", VDB_ENC_BLOWFISH},
      {u"Aes", VDB_ENC_RIJNDAEL, u"titok", VDB_ENC_RIJNDAEL},
      {u"Alap", VDB_ENC_DEFAULT, u"titok", VDB_ENC_BLOWFISH},
      {u"Nyilt", VDB_ENC_DEFAULT, u"", VDB_ENC_NONE},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(vdb::VdbUtf16ToUtf8(c.Name));
    ASSERT_EQ(Create(c.Name, c.Key, c.Method), 0) << vdb::VdbUtf16ToUtf8(LastError(Sess).Msg);
    if (c.Reported != VDB_ENC_NONE) {
      EXPECT_EQ(VdbSessOpenTable(Sess, W(c.Name), W(u"Titok"), VDB_RIGHTS_WRITE, false, false), VDB_ERR_WRONG_PASSWORD);
      EXPECT_EQ(LastError(Sess).Code, -38);
    }
    const int16_t rltn = VdbSessOpenTable(Sess, W(c.Name), W(c.Key), VDB_RIGHTS_WRITE, false, false);
    ASSERT_GT(rltn, 0) << vdb::VdbUtf16ToUtf8(LastError(Sess).Msg);
    TVdbTableInfo info{};
    ASSERT_EQ(VdbRltnGetTableInfo(rltn, &info), 0);
    EXPECT_EQ(info.EncryptionMethod, c.Reported);
    EXPECT_EQ(VdbRltnClose(rltn), 0);
  }
  // Classic encryption belongs to old table levels only.
  EXPECT_EQ(Create(u"Klasszikus", u"titok;12", VDB_ENC_CLASSIC), VDB_ERR_CREATE_TABLE);
  EXPECT_EQ(LastError(Sess).Code, -117);
}

int32_t gProgressCalls = 0;
int32_t CancelAtOnce(int32_t, int32_t) {
  ++gProgressCalls;
  return 1;
}
int32_t ThrowingProgress(int32_t, int32_t) { throw std::runtime_error("progress failed"); }

TEST(VdbApiProgressTest, ACanceledOrFailingProgressProcedureEndsTheRebuildAsCanceled) {
  // A copy of the settlement database of its own: a canceled rebuild may leave its indexes
  // to be rebuilt again.
  const std::filesystem::path dir = ScratchDir() / "progress";
  std::filesystem::remove_all(dir);
  std::filesystem::copy(SettlementDir(), dir);
  const int16_t sess = OpenSession(dir);
  const int16_t rltn = VdbSessOpenTable(sess, W(u"Irsz"), W(u""), VDB_RIGHTS_WRITE | VDB_RIGHT_EXCLUSIVE, false, false);
  ASSERT_GT(rltn, 0) << vdb::VdbUtf16ToUtf8(LastError(sess).Msg);
  EXPECT_EQ(VdbRltnRefreshIndex(rltn, W(u"NINCS"), nullptr), VDB_ERR_NO_INDEX);
  for (TVdbProgressProc proc : {&CancelAtOnce, &ThrowingProgress}) {
    gProgressCalls = 0;
    EXPECT_LT(VdbRltnRefreshIndex(rltn, W(u"TELEP"), proc), 0);
    EXPECT_EQ(LastError(sess).Code, -114) << "Operation canceled";
  }
  EXPECT_EQ(VdbRltnRefreshIndex(rltn, W(u""), nullptr), 0) << vdb::VdbUtf16ToUtf8(LastError(sess).Msg);
  const int16_t t = VdbTableCreate(rltn, W(u"Irsz"));
  ASSERT_EQ(VdbTableSetIndex(t, W(u"TELEP"), false), 0);
  EXPECT_GT(VdbTableGetRecordCount(t), 3000);
  EXPECT_EQ(VdbSessDelete(sess), 0);
}

}  // namespace
}  // namespace vdbapi_test

// ---- writing through the call interface

namespace vdbapi_test {
namespace {

struct TChange {
  int16_t Sess, Table;
  int32_t Deleted, Moved;
};
std::vector<TChange> gChanges;
void RecordChange(int16_t sess, int16_t table, int32_t deleted, int32_t moved) {
  gChanges.push_back({sess, table, deleted, moved});
}
void ThrowingChange(int16_t, int16_t, int32_t, int32_t) { throw std::runtime_error("change procedure failed"); }

class WritingTest : public CreatedTableTest {
 protected:
  void SetUp() override {
    CreatedTableTest::SetUp();
    ASSERT_EQ(Create(u"Uj", u"", VDB_ENC_DEFAULT), 0) << vdb::VdbUtf16ToUtf8(LastError(Sess).Msg);
    Rltn = VdbSessOpenTable(Sess, W(u"Uj"), W(u""), VDB_RIGHTS_WRITE, false, false);
    ASSERT_GT(Rltn, 0);
    Table = VdbTableCreate(Rltn, W(u"Uj"));
    ASSERT_GT(Table, 0);
    ASSERT_EQ(VdbTableGetFieldSpec(Table, 1, &Name), 0);
    ASSERT_EQ(VdbTableGetFieldSpec(Table, 2, &N), 0);
    Record.assign(static_cast<std::size_t>(VdbTableGetRecordSize(Table)), 0);
  }
  void Fill(const std::string& name, int32_t n) {
    ASSERT_EQ(VdbTableGetRecord(Table, Record.data(), static_cast<int32_t>(Record.size())), 0);
    SetAnsiField(Record, Name, name);
    uint8_t* field = Record.data() + N.InternalPosition;
    if (N.InternalSize == 5) *field++ = 1;
    std::memcpy(field, &n, sizeof n);
    ASSERT_EQ(VdbTableSetRecord(Table, Record.data(), static_cast<int32_t>(Record.size())), 0);
  }
  int16_t Add(const std::string& name, int32_t n, const std::string& note) {
    EXPECT_EQ(VdbTableAppend(Table), 0);
    Fill(name, n);
    if (!note.empty()) {
      EXPECT_EQ(VdbTableSetBlob(Table, 3, note.data(), static_cast<int32_t>(note.size())), 0);
    }
    return VdbTableAppendConfirm(Table);
  }
  std::string Current() {
    EXPECT_EQ(VdbTableGetRecord(Table, Record.data(), static_cast<int32_t>(Record.size())), 0);
    return GetAnsiField(Record, Name);
  }
  std::string Note() {
    int16_t type = 0;
    const int32_t length = VdbTableInitGetBlob(Table, 3, -1, &type);
    if (length < 0) return "<" + std::to_string(length) + ">";
    std::string text(static_cast<std::size_t>(length), '\0');
    EXPECT_EQ(VdbTablePerformGetBlob(Table, text.data(), length), length);
    return text;
  }
  int16_t Rltn = 0, Table = 0;
  TVdbFieldSpec Name{}, N{};
  std::vector<uint8_t> Record;
};

TEST_F(WritingTest, AppendEditAndDeleteWithTheirStatuses) {
  EXPECT_EQ(VdbTableAppendConfirm(Table), VDB_ERR_NOT_IN_EDIT_MODE);
  EXPECT_EQ(VdbTableEditCancel(Table), VDB_ERR_NOT_IN_EDIT_MODE);
  EXPECT_EQ(VdbTableSetRecord(Table, Record.data(), static_cast<int32_t>(Record.size())), VDB_ERR_NOT_IN_EDIT_MODE);
  EXPECT_EQ(VdbTableSetBlob(Table, 3, "x", 1), VDB_ERR_NOT_IN_EDIT_MODE);
  EXPECT_EQ(VdbTableEdit(Table), VDB_ERR_NO_RECORD) << "no current record";
  ASSERT_EQ(Add("Elso", 1, "első jegyzet"), 0) << vdb::VdbUtf16ToUtf8(LastError(Sess).Msg);
  ASSERT_EQ(Add("Masodik", 2, ""), 0);
  EXPECT_EQ(VdbTableGetRecordCount(Table), 2);
  EXPECT_EQ(Add("Elso", 3, ""), VDB_ERR_NOT_UNIQUE) << "the primary key";
  EXPECT_EQ(VdbTableAppendCancel(Table), 0);
  EXPECT_EQ(VdbTableGetRecordCount(Table), 2);

  ASSERT_EQ(VdbTableSetRecNo(Table, 1), 1);
  EXPECT_EQ(Note(), "első jegyzet");
  ASSERT_EQ(VdbTableEdit(Table), 0);
  EXPECT_EQ(VdbTableAppendConfirm(Table), VDB_ERR_NOT_IN_EDIT_MODE) << "editing, not appending";
  Fill("Elso", 10);
  ASSERT_EQ(VdbTableEditConfirm(Table), 0);
  EXPECT_EQ(Current(), "Elso");

  gChanges.clear();
  ASSERT_EQ(VdbTableSetChangeProc(Table, &RecordChange), 0);
  ASSERT_EQ(VdbTableSetRecNo(Table, 1), 1);
  ASSERT_EQ(VdbTableDeleteRecord(Table), 0);
  EXPECT_EQ(VdbTableGetRecordCount(Table), 1);
  ASSERT_EQ(gChanges.size(), 1u);
  EXPECT_EQ(gChanges[0].Sess, Sess);
  EXPECT_EQ(gChanges[0].Table, Table);
  EXPECT_EQ(gChanges[0].Deleted, 1);
  EXPECT_EQ(gChanges[0].Moved, 2) << "the last record moved into the gap";
  ASSERT_EQ(VdbTableSetChangeProc(Table, &ThrowingChange), 0);
  ASSERT_EQ(VdbTableFirst(Table), 1);
  EXPECT_EQ(VdbTableDeleteRecord(Table), 0) << "a failing procedure does not fail the delete";
  EXPECT_EQ(VdbTableGetRecordCount(Table), 0);
}

TEST_F(WritingTest, ADuplicateOwnsACopyOfTheNote) {
  ASSERT_EQ(Add("Elso", 1, "közös jegyzet"), 0);
  ASSERT_EQ(VdbTableFirst(Table), 1);
  ASSERT_EQ(VdbTableAppendDuplicate(Table), 0);
  Fill("Masolat", 2);
  ASSERT_EQ(VdbTableAppendConfirm(Table), 0) << vdb::VdbUtf16ToUtf8(LastError(Sess).Msg);
  ASSERT_EQ(VdbTableSetRecNo(Table, 2), 2);
  EXPECT_EQ(Current(), "Masolat");
  EXPECT_EQ(Note(), "közös jegyzet");
  // Changing the original's note leaves the copy's alone.
  ASSERT_EQ(VdbTableSetRecNo(Table, 1), 1);
  ASSERT_EQ(VdbTableEdit(Table), 0);
  ASSERT_EQ(VdbTableSetBlob(Table, 3, "új", 3), 0);
  ASSERT_EQ(VdbTableEditConfirm(Table), 0);
  ASSERT_EQ(VdbTableSetRecNo(Table, 2), 2);
  EXPECT_EQ(Note(), "közös jegyzet");
}

TEST_F(WritingTest, TransactionsCommitOrRollBackAndCannotNest) {
  ASSERT_EQ(VdbSessBeginTransaction(Sess), 0) << vdb::VdbUtf16ToUtf8(LastError(Sess).Msg);
  EXPECT_EQ(VdbSessBeginTransaction(Sess), VDB_ERR_TRANSACTION);
  ASSERT_EQ(Add("Elso", 1, ""), 0);
  ASSERT_EQ(VdbSessCancelTransaction(Sess), 0) << vdb::VdbUtf16ToUtf8(LastError(Sess).Msg);
  EXPECT_EQ(VdbRltnRecordCount(Rltn), 0);
  ASSERT_EQ(VdbSessBeginTransaction(Sess), 0);
  ASSERT_EQ(Add("Elso", 1, ""), 0);
  ASSERT_EQ(VdbSessEndTransaction(Sess), 0);
  EXPECT_EQ(VdbRltnRecordCount(Rltn), 1);
  ASSERT_EQ(VdbTableEmpty(Table), 0);
  EXPECT_EQ(VdbRltnRecordCount(Rltn), 0);
}

TEST_F(WritingTest, MarkedRecordsAreDeletedTogether) {
  for (int i = 1; i <= 5; ++i) ASSERT_EQ(Add("N" + std::to_string(i), i, ""), 0);
  ASSERT_EQ(VdbTableAddMark(Table, 1), 0);
  ASSERT_EQ(VdbTableAddMark(Table, 4), 0);
  ASSERT_EQ(VdbTableAddMark(Table, 5), 0);
  EXPECT_EQ(VdbTableDeleteMarkedRecs(Table, nullptr, true), 3) << vdb::VdbUtf16ToUtf8(LastError(Sess).Msg);
  EXPECT_EQ(VdbTableGetRecordCount(Table), 2);
  std::vector<std::string> left;
  testsupport::TWalkBound bound(2, "the walk over the records left");
  for (int16_t r = VdbTableFirst(Table); (r == 1 || (r == 0 && !left.empty())) && bound.Step();
       r = VdbTableMoveBy(Table, 1)) {
    left.push_back(Current());
  }
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"N2", "N3"}));
}

int32_t CancelAtOnceToo(int32_t, int32_t) { return 1; }

TEST_F(WritingTest, ACanceledMarkedDeleteRollsItsTransactionBack) {
  for (int i = 1; i <= 3; ++i) ASSERT_EQ(Add("N" + std::to_string(i), i, ""), 0);
  ASSERT_EQ(VdbTableAddMark(Table, 2), 0);
  EXPECT_EQ(VdbTableDeleteMarkedRecs(Table, &CancelAtOnceToo, true), VDB_ERR_ENGINE);
  EXPECT_EQ(LastError(Sess).Code, -114);
  EXPECT_EQ(VdbTableGetRecordCount(Table), 3);
  EXPECT_EQ(VdbSessBeginTransaction(Sess), 0) << "no transaction was left running";
  EXPECT_EQ(VdbSessEndTransaction(Sess), 0);
}

}  // namespace
}  // namespace vdbapi_test
