// The database component: the raise routine's shapes, connecting (with the retry of a
// database that cannot be shared), the rules of its properties while connected, the rights
// word, table opening with its retries and the password callback, transactions.
#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <optional>
#include <vector>

#include "DataSetTestSupport.h"
#include "VdbTable.h"

namespace {

using namespace vdbds;

// The engine, with some answers scripted and some calls recorded.
class TScriptedCalls : public TVdbLibraryCalls {
 public:
  std::int16_t SessGetLastError(std::int16_t s, std::int16_t& code, std::u16string& text) override {
    if (!LastError) return TVdbLibraryCalls::SessGetLastError(s, code, text);
    code = LastError->first;
    text = LastError->second;
    return 0;
  }
  std::int16_t SessOpenDb(std::int16_t s, const std::u16string& location, const std::u16string& user,
                          const std::u16string& password, std::int32_t cache, std::uint32_t attributes) override {
    OpenDbAttributes.push_back(attributes);
    if (!OpenDbResults.empty()) {
      const std::int16_t result = OpenDbResults.front();
      OpenDbResults.pop_front();
      return result;
    }
    return TVdbLibraryCalls::SessOpenDb(s, location, user, password, cache, attributes);
  }
  std::int16_t SessOpenTable(std::int16_t s, const std::u16string& name, const std::u16string& key,
                             std::uint16_t rights, bool withRel, bool force) override {
    OpenTableKeys.push_back(key);
    if (!OpenTableResults.empty()) {
      const std::int16_t result = OpenTableResults.front();
      OpenTableResults.pop_front();
      return result;
    }
    return TVdbLibraryCalls::SessOpenTable(s, name, key, rights, withRel, force);
  }
  std::int16_t SessCloseUnneededTables(std::int16_t s) override {
    ++ClosedUnneeded;
    return TVdbLibraryCalls::SessCloseUnneededTables(s);
  }
  std::int16_t SessDelete(std::int16_t s) override {
    ++Deleted;
    return TVdbLibraryCalls::SessDelete(s);
  }

  std::optional<std::pair<std::int16_t, std::u16string>> LastError;
  std::deque<std::int16_t> OpenDbResults;
  std::vector<std::uint32_t> OpenDbAttributes;
  std::deque<std::int16_t> OpenTableResults;
  std::vector<std::u16string> OpenTableKeys;
  int ClosedUnneeded = 0;
  int Deleted = 0;
};

class DatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dstest::CopySettlementDatabase(Dir.Path());
    Database.SetName(u"VdbDatabase1");
    Database.SetLocation(Dir.Location());
  }
  dstest::TTempDir Dir;
  TScriptedCalls Calls;
  TVdbDatabase Database{Calls};
};

TEST_F(DatabaseTest, RaiseRoutineGivesItsThreeShapesAndPlainHandleErrors) {
  const std::u16string generic = Calls.GetErrorMsg(-100);
  const std::u16string cannotOpen = Calls.GetErrorMsg(-1);
  const std::u16string badHandle = Calls.GetErrorMsg(-101);
  const struct {
    std::int32_t Result;
    std::int16_t Reason;
    std::u16string Expected;
    bool Plain;  // an EDatabaseError, not an engine error
  } cases[] = {
      {-101, 0, u"Doing it: " + badHandle, true},
      {-1, 0, u"Doing it: " + cannotOpen, false},
      {-100, -35, u"Doing it: The reason", false},
      {-1, -35, u"Doing it: " + cannotOpen + u". The reason", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Result);
    Calls.LastError = std::make_pair(c.Reason, std::u16string(u"The reason"));
    try {
      RaiseEngineError(Calls, 1, u"Doing it", c.Result);
    } catch (const EVidoraDBError& e) {
      EXPECT_FALSE(c.Plain);
      EXPECT_EQ(e.Message(), c.Expected);
      EXPECT_EQ(e.VdbError(), c.Result);
      EXPECT_EQ(e.Reason(), c.Reason);
    } catch (const tk::EDatabaseError& e) {
      EXPECT_TRUE(c.Plain);
      EXPECT_EQ(e.Message(), c.Expected);
    }
  }
  EXPECT_EQ(generic.empty(), false);
  // The companion routines: a formatted context, and nothing for a non-negative result.
  Calls.LastError = std::make_pair(std::int16_t{0}, std::u16string());
  try {
    RaiseEngineErrorFmt(Calls, 1, u"Opening table \"%s\"", {u"Irsz"}, -1);
  } catch (const EVidoraDBError& e) {
    EXPECT_EQ(e.Message(), u"Opening table \"Irsz\": " + cannotOpen);
  }
  EXPECT_EQ(CheckEngineResult(Calls, 1, u"x", 7), 7);
}

TEST_F(DatabaseTest, ConnectingOpensTheSessionAndReadsTheEnginesSettings) {
  Database.SetConnected(true);
  EXPECT_TRUE(Database.Connected());
  EXPECT_GT(Database.Handle(), 0);
  EXPECT_EQ(Database.ServerTimeout, 20000) << "0 takes the engine's default";
  EXPECT_NE(Database.ConnectionId(), 0u);
  EXPECT_EQ(Database.DatabaseType(), TVdbDatabaseType::dbtDirectory);
  ASSERT_EQ(Calls.OpenDbAttributes.size(), 1u);
  EXPECT_EQ(Calls.OpenDbAttributes[0], 0u);
  std::vector<std::u16string> names;
  Database.GetTableNames(names, false);
  EXPECT_EQ(names, (std::vector<std::u16string>{u"Irsz", u"Irsz_tmp"}));
  Database.GetTableNames(names, true);
  EXPECT_TRUE(names.empty());
  Database.SetConnected(false);
  EXPECT_EQ(Database.Handle(), 0);
}

TEST_F(DatabaseTest, ADatabaseThatCannotBeSharedOpensReadOnlyAndExclusive) {
  Calls.OpenDbResults = {-58};
  Database.SetConnected(true);
  EXPECT_TRUE(Database.Connected());
  EXPECT_TRUE(Database.ReadOnly());
  EXPECT_TRUE(Database.Exclusive());
  EXPECT_EQ(Calls.OpenDbAttributes, (std::vector<std::uint32_t>{0u, 3u}));
}

TEST_F(DatabaseTest, FailedOpeningLeavesNoSessionAndNamesTheLocation) {
  Database.SetReadOnly(true);  // no second attempt
  Calls.OpenDbResults = {-58};
  try {
    Database.SetConnected(true);
    FAIL() << "no error";
  } catch (const EVidoraDBError& e) {
    EXPECT_EQ(e.Message().rfind(u"Opening database \"" + Dir.Location() + u"\": ", 0), 0u);
    EXPECT_EQ(e.VdbError(), -58);
  }
  EXPECT_FALSE(Database.Connected());
  EXPECT_EQ(Database.Handle(), 0);
  EXPECT_EQ(Calls.Deleted, 1);
  EXPECT_EQ(Calls.OpenDbAttributes.size(), 1u);
}

TEST_F(DatabaseTest, SecondComponentOfTheSameNameCannotConnect) {
  Database.SetConnected(true);
  TVdbDatabase second;
  second.SetName(u"Second");
  second.SetDatabaseName(u"VDBDATABASE1");
  second.SetLocation(Dir.Location());
  try {
    second.SetConnected(true);
    FAIL() << "no error";
  } catch (const tk::EDatabaseError& e) {
    EXPECT_EQ(e.Message(), u"Duplicate database name: \"Second\"");
  }
  EXPECT_FALSE(second.Connected());
}

TEST_F(DatabaseTest, PropertiesFollowTheirRulesWhileConnected) {
  Database.SetConnected(true);
  const struct {
    std::function<void()> Change;
    std::u16string Message;
  } refused[] = {
      {[&] { Database.SetDatabaseName(u"Other"); }, u"Cannot change the database name when connected"},
      {[&] { Database.SetLocation(u"/tmp"); }, u"Cannot change location while database is open"},
      {[&] { Database.SetPrivateDir(u"/tmp"); }, u"Cannot change private directory while database is open"},
  };
  for (const auto& c : refused) {
    try {
      c.Change();
      ADD_FAILURE() << "no error";
    } catch (const tk::EDatabaseError& e) {
      EXPECT_EQ(e.Message(), c.Message);
    }
    EXPECT_TRUE(Database.Connected());
  }
  Database.SetExclusive(false);  // the same value keeps the connection
  EXPECT_TRUE(Database.Connected());
  Database.SetIndexPageSize(8192);  // passed on at once
  Database.SetCaseSensitive(true);
  Database.SetLogLevel(0);
  EXPECT_TRUE(Database.Connected());
  Database.SetExclusive(true);  // a real change closes
  EXPECT_FALSE(Database.Connected());
  EXPECT_TRUE(Database.Exclusive());
}

TEST_F(DatabaseTest, OperationsNeedAConnection) {
  for (const auto& operation : std::vector<std::function<void()>>{[&] { Database.StartTransaction(); },
                                                                  [&] { Database.Commit(); },
                                                                  [&] { Database.CloseCachedTables(); }}) {
    try {
      operation();
      ADD_FAILURE() << "no error";
    } catch (const tk::EDatabaseError& e) {
      EXPECT_EQ(e.Message(), u"Cannot perform this action on a disconnected database");
    }
  }
  EXPECT_FALSE(Database.InTransaction());
}

TEST_F(DatabaseTest, TransactionStateFollowsStartAndCommit) {
  Database.SetConnected(true);
  Database.StartTransaction();
  EXPECT_TRUE(Database.InTransaction());
  Database.Commit();
  EXPECT_FALSE(Database.InTransaction());
  Database.StartTransaction();
  Database.Rollback();
  EXPECT_FALSE(Database.InTransaction());
}

TEST_F(DatabaseTest, RightsWordForOpeningATable) {
  const struct {
    bool Exclusive;
    TVdbAccessRights Rights;
    TVdbFlushMode Flush;
    TVdbFlushMode DatabaseFlush;
    bool DatabaseExclusive;
    std::uint16_t Expected;
  } cases[] = {
      {false, 0, TVdbFlushMode::tfmDefault, TVdbFlushMode::tfmDefault, false, 0xF8F0},
      {false, kAllAccessRights, TVdbFlushMode::tfmDefault, TVdbFlushMode::tfmDefault, false, 0xF8FF},
      {false, tarAppend | tarDelete, TVdbFlushMode::tfmDefault, TVdbFlushMode::tfmDefault, false, 0xF8F5},
      {true, tarEdit, TVdbFlushMode::tfmDefault, TVdbFlushMode::tfmDefault, false, 0xF9F2},
      {false, tarIndex, TVdbFlushMode::tfmDefault, TVdbFlushMode::tfmDefault, true, 0xF9F8},
      {false, 0, TVdbFlushMode::tfmSecure, TVdbFlushMode::tfmDefault, false, 0xFAF0},
      {false, 0, TVdbFlushMode::tfmDefault, TVdbFlushMode::tfmSecure, false, 0xFAF0},
      {false, 0, TVdbFlushMode::tfmFast, TVdbFlushMode::tfmSecure, false, 0xF8F0},
  };
  for (const auto& c : cases) {
    TVdbDatabase db;
    db.SetFlushMode(c.DatabaseFlush);
    db.SetExclusive(c.DatabaseExclusive);
    EXPECT_EQ(db.TableRights(c.Exclusive, c.Rights, c.Flush), c.Expected) << std::hex << c.Expected;
  }
}

TEST_F(DatabaseTest, TooManyTablesClosesUnneededOnesAndTriesOnceMore) {
  Database.SetConnected(true);
  Calls.OpenTableResults = {-2, -2};
  EXPECT_EQ(Database.OpenTableResult(u"Irsz", u"", 0xF8FF, false), -2);
  EXPECT_EQ(Calls.ClosedUnneeded, 1);
  Calls.OpenTableResults = {-2};
  EXPECT_GT(Database.OpenTable(u"Irsz", u"", false, kAllAccessRights, TVdbFlushMode::tfmDefault), 0);
}

TEST_F(DatabaseTest, WrongKeyAsksThePasswordHandlerUntilItStops) {
  Database.SetConnected(true);
  std::vector<std::u16string> asked;
  Database.OnPassword = [&](TVdbDatabase* sender, const std::u16string& table, std::u16string& key, bool& retry) {
    EXPECT_EQ(sender, &Database);
    asked.push_back(table);
    key = u"secret" + tk::IntToText(static_cast<std::int64_t>(asked.size()));
    retry = asked.size() < 2;
  };
  Calls.OpenTableResults = {-12, -12};
  EXPECT_EQ(Database.OpenTableResult(u"Irsz", u"first", 0xF8FF, false), -12);
  EXPECT_EQ(asked, (std::vector<std::u16string>{u"Irsz", u"Irsz"}));
  EXPECT_EQ(Calls.OpenTableKeys, (std::vector<std::u16string>{u"first", u"secret1"}));
  // Without a handler the first refusal ends it.
  Database.OnPassword = nullptr;
  Calls.OpenTableResults = {-12};
  try {
    Database.OpenTable(u"Irsz", u"k", false, kAllAccessRights, TVdbFlushMode::tfmDefault);
    FAIL() << "no error";
  } catch (const EVidoraDBError& e) {
    EXPECT_EQ(e.Message().rfind(u"Opening table \"Irsz\": " + Calls.GetErrorMsg(-12), 0), 0u);
  }
}

TEST_F(DatabaseTest, EnginePasswordCallbackAsksTheComponentOfTheSession) {
  Database.SetConnected(true);
  VdbChar key[100] = {};
  const VdbChar name[] = {'I', 'r', 's', 'z', 0};
  // No handler: give up.
  EXPECT_EQ(TVdbDatabase::PasswordCallback(Database.Handle(), name, key, 100), 1);
  std::u16string table;
  Database.OnPassword = [&](TVdbDatabase* sender, const std::u16string& t, std::u16string& k, bool& retry) {
    EXPECT_EQ(sender, nullptr);
    table = t;
    k = std::u16string(90, u'x');
    retry = true;
  };
  EXPECT_EQ(TVdbDatabase::PasswordCallback(Database.Handle(), name, key, 100), 0);
  EXPECT_EQ(table, u"Irsz");
  EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(key)), std::u16string(80, u'x')) << "at most 80";
  // Another session's question is not ours.
  EXPECT_EQ(TVdbDatabase::PasswordCallback(static_cast<std::int16_t>(Database.Handle() + 50), name, key, 100), 1);
}

TEST_F(DatabaseTest, TableDefsAreOpenedWithTheConnection) {
  Database.TableDefs = {{u"Irsz", true}, {u"Irsz_tmp", false}};
  Database.SetConnected(true);
  EXPECT_GT(Calls.SessFindRltnHdl(Database.Handle(), u"Irsz"), 0);
  EXPECT_GT(Calls.SessFindRltnHdl(Database.Handle(), u"Irsz_tmp"), 0);
  // A missing one fails the connection, which leaves no session behind.
  Database.SetConnected(false);
  Database.TableDefs = {{u"Nincs", false}};
  try {
    Database.SetConnected(true);
    FAIL() << "no error";
  } catch (const EVidoraDBError& e) {
    EXPECT_EQ(e.Message().rfind(u"Opening table \"Nincs\": ", 0), 0u);
  }
  EXPECT_FALSE(Database.Connected());
}

TEST_F(DatabaseTest, RefreshingDatasetsRereadsTheirRecords) {
  TVdbTable table;
  table.SetDatabaseName(u"VdbDatabase1");
  table.SetTableName(u"Irsz");
  table.SetIndexName(u"TELEP");
  table.Open();
  table.FindNearest({u"Eger"});
  EXPECT_NO_THROW(Database.RefreshDataSets());
  EXPECT_EQ(table.FieldByName(u"TELEP").AsString(), u"Eger");
}

// Describes the first column of the table checked after opening as a link to Irsz_tmp.
class TLinkingCalls : public TVdbLibraryCalls {
 public:
  std::int16_t TableCreate(std::int16_t r, const std::u16string& name) override {
    const std::int16_t handle = TVdbLibraryCalls::TableCreate(r, name);
    if (name == u"CheckRelationOpen_Temp") CheckCursor = handle;
    return handle;
  }
  std::int16_t TableGetFieldSpec(std::int16_t t, std::int16_t fieldNo, TVdbColumnSpec& spec) override {
    const std::int16_t result = TVdbLibraryCalls::TableGetFieldSpec(t, fieldNo, spec);
    if (t == CheckCursor && fieldNo == 1) {
      spec.FldType = VDB_TYPE_LINK;
      spec.SelectOrLink = u"Irsz_tmp";
    }
    return result;
  }
  std::int16_t CheckCursor = 0;
};

TEST_F(DatabaseTest, LinkedTablesAreOpenedWithTheirTable) {
  TLinkingCalls calls;
  TVdbDatabase database(calls);
  database.SetName(u"Linking");
  database.SetLocation(Dir.Location());
  database.SetConnected(true);
  EXPECT_GT(database.OpenTable(u"Irsz", u"", false, kAllAccessRights, TVdbFlushMode::tfmDefault), 0);
  EXPECT_GT(calls.CheckCursor, 0);
  EXPECT_GT(calls.SessFindRltnHdl(database.Handle(), u"Irsz_tmp"), 0);
  EXPECT_EQ(calls.TableDelete(calls.CheckCursor), VDB_ERR_INVALID_TABLE_HANDLE) << "the check cursor is gone";
}

TEST_F(DatabaseTest, DisconnectingClosesTheDatasets) {
  TVdbTable a, b;
  for (TVdbTable* t : {&a, &b}) {
    t->SetDatabaseName(u"VdbDatabase1");
    t->SetTableName(u"Irsz");
    t->Open();
  }
  EXPECT_EQ(Database.DataSetCount(), 2);
  Database.SetConnected(false);
  EXPECT_FALSE(a.Active());
  EXPECT_FALSE(b.Active());
  EXPECT_EQ(Database.DataSetCount(), 0);
}

}  // namespace
