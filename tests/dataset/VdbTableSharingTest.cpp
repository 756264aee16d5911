// Two database components on one directory: two engine sessions with catalogs of their own,
// which meet in the tables' lock files exactly as two programs do. A change posted through
// one is shown by the other when it moves, refreshes or edits; a record the other has in edit
// or has deleted is refused with the engine's message, never overwritten silently.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <set>
#include <string>
#include <thread>

#include "DataSetTestSupport.h"
#include "VdbTable.h"

namespace {

using namespace vdbds;

// A link that keeps a window of rows, as a grid does.
class TWindowLink : public tk::TDataLink {
 public:
  explicit TWindowLink(int rows) { SetBufferCount(rows); }
};

class TSharingFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    dstest::CopySettlementDatabase(Dir.Path());
    Bind(DatabaseA, u"DatabaseA", TableA, u"TableA");
    Bind(DatabaseB, u"DatabaseB", TableB, u"TableB");
    SourceA.SetDataSet(&TableA);
    LinkA.SetDataSource(&SourceA);
    TableA.Open();
    TableB.Open();
  }
  void TearDown() override {
    TableA.Close();
    TableB.Close();
  }
  void Bind(TVdbDatabase& database, const std::u16string& name, TVdbTable& table, const std::u16string& tableName) {
    database.SetName(name);
    database.SetLocation(Dir.Location());
    // A refused edit lock is retried until the time-out: short here, the outcome is the same.
    database.LockingTimeout = 300;
    table.Name = tableName;
    table.SetDatabaseName(name);
    table.SetTableName(u"Irsz");
    table.SetIndexName(u"TELEP");
  }
  // A writer keeps its table lock about 10 ms past its last use, and the others see its change
  // once it gives the lock back: wait for that in the lock file's header (upgrade and write
  // lock counts at offsets 18 and 20).
  void WaitForTheWriterToLetGo() {
    for (int i = 0; i < 5000; ++i) {
      std::ifstream in(Dir.Path() / "Irsz.vdbl", std::ios::binary);
      char header[30] = {};
      if (in.read(header, sizeof header) && header[18] == 0 && header[19] == 0 && header[20] == 0 && header[21] == 0)
        return;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    FAIL() << "the writer kept its lock";
  }
  static std::int64_t Population(TVdbTable& table) { return table.FieldByName(u"NEPESS").AsInteger(); }
  static std::u16string Name(TVdbTable& table) { return table.FieldByName(u"TELEP").AsString(); }
  static void SetPopulation(TVdbTable& table, std::int64_t value) {
    table.Edit();
    table.FieldByName(u"NEPESS").SetAsInteger(value);
    table.Post();
  }
  static std::u16string ErrorOf(const std::function<void()>& action) {
    try {
      action();
    } catch (const tk::EDatabaseError& e) {
      return e.Message();
    }
    return u"(no error)";
  }
  // Every settlement name of the table once, and the number of records.
  static std::multiset<std::u16string> Names(TVdbTable& table) {
    std::multiset<std::u16string> names;
    for (table.First(); !table.Eof(); table.Next()) names.insert(Name(table));
    return names;
  }

  dstest::TTempDir Dir;
  TVdbDatabase DatabaseA, DatabaseB;
  TVdbTable TableA, TableB;
  tk::TDataSource SourceA;
  TWindowLink LinkA{12};
};

TEST_F(TSharingFixture, APopulationPostedByOneIsShownByTheOtherAfterItMovesOrRefreshes) {
  ASSERT_TRUE(TableA.FindKey({u"Tata"}));
  const std::int64_t before = Population(TableA);
  ASSERT_TRUE(TableB.FindKey({u"Tata"}));
  SetPopulation(TableB, before + 1000);
  WaitForTheWriterToLetGo();

  // Tata stays in A's window while A steps away and back: the step brings the change.
  TableA.Next();
  TableA.Prior();
  ASSERT_EQ(Name(TableA), u"Tata");
  EXPECT_EQ(Population(TableA), before + 1000);

  SetPopulation(TableB, before + 2000);
  TableA.Refresh();
  EXPECT_EQ(Name(TableA), u"Tata");
  EXPECT_EQ(Population(TableA), before + 2000);
}

TEST_F(TSharingFixture, EditingARecordTheOtherChangedStartsFromItsChangeAndKeepsIt) {
  ASSERT_TRUE(TableA.FindKey({u"Tata"}));
  const std::int64_t dwellings = TableA.FieldByName(u"LAKAS").AsInteger();
  ASSERT_TRUE(TableB.FindKey({u"Tata"}));
  SetPopulation(TableB, 4242);

  TableA.Edit();
  EXPECT_EQ(Population(TableA), 4242);  // the record as stored now, not as A showed it
  TableA.FieldByName(u"LAKAS").SetAsInteger(dwellings + 1);
  TableA.Post();

  TableB.Refresh();
  ASSERT_EQ(Name(TableB), u"Tata");
  EXPECT_EQ(Population(TableB), 4242);
  EXPECT_EQ(TableB.FieldByName(u"LAKAS").AsInteger(), dwellings + 1);
}

TEST_F(TSharingFixture, ARecordTheOtherHasInEditIsRefusedWithTheEnginesMessage) {
  ASSERT_TRUE(TableA.FindKey({u"Tata"}));
  ASSERT_TRUE(TableB.FindKey({u"Tata"}));
  TableB.Edit();

  const std::u16string edit = ErrorOf([&] { TableA.Edit(); });
  EXPECT_NE(edit.find(u"Record is being edited by another user"), std::u16string::npos) << tk::Utf16ToUtf8(edit);
  EXPECT_EQ(TableA.State(), tk::TDataSetState::dsBrowse);
  const std::u16string del = ErrorOf([&] { TableA.Delete(); });
  EXPECT_NE(del.find(u"Record is being edited by another user"), std::u16string::npos) << tk::Utf16ToUtf8(del);

  TableB.FieldByName(u"NEPESS").SetAsInteger(777);
  TableB.Post();
  // The lock ends with the post: A edits the record B stored.
  TableA.Edit();
  EXPECT_EQ(Population(TableA), 777);
  TableA.Cancel();
  EXPECT_EQ(TableA.RecordCount(), 3155);
}

TEST_F(TSharingFixture, ARecordTheOtherDeletedIsRefusedAndVanishesAtTheNextRefresh) {
  ASSERT_TRUE(TableA.FindKey({u"Tata"}));
  ASSERT_TRUE(TableB.FindKey({u"Tata"}));
  TableB.Delete();

  EXPECT_EQ(ErrorOf([&] { TableA.Edit(); }), u"This record has been deleted");
  EXPECT_EQ(TableA.State(), tk::TDataSetState::dsBrowse);
  EXPECT_EQ(ErrorOf([&] { TableA.Delete(); }), u"This record has been deleted");

  TableA.Refresh();
  EXPECT_NE(Name(TableA), u"Tata");
  EXPECT_EQ(TableA.RecordCount(), 3154);
  EXPECT_FALSE(TableA.FindKey({u"Tata"}));
  // Nothing of the table was damaged or doubled on the way.
  const std::multiset<std::u16string> names = Names(TableA);
  EXPECT_EQ(names.size(), 3154u);
  EXPECT_EQ(names.count(u"Tata"), 0u);
  EXPECT_EQ(names, Names(TableB));
}

TEST_F(TSharingFixture, AnEditPostedAfterTheOtherMovedItsRecordReachesThatRecord) {
  // Natural order: the other's delete of record 1 moves the last record into number 1.
  TableA.Close();
  TableA.SetIndexName(u"");
  TableA.Open();
  TableA.Last();
  const std::u16string lastName = Name(TableA);
  TableA.Edit();
  TableA.FieldByName(u"NEPESS").SetAsInteger(98765);

  TableB.SetIndexName(u"");
  TableB.First();
  ASSERT_NE(Name(TableB), lastName);
  const std::u16string deleted = Name(TableB);
  TableB.Delete();

  TableA.Post();
  EXPECT_EQ(Name(TableA), lastName);
  EXPECT_EQ(Population(TableA), 98765);
  TableB.Refresh();
  const std::multiset<std::u16string> names = Names(TableB);
  EXPECT_EQ(names.size(), 3154u);
  EXPECT_EQ(names.count(deleted), 0u);
  EXPECT_EQ(names.count(lastName), 1u);
  TableB.SetIndexName(u"TELEP");
  ASSERT_TRUE(TableB.FindKey({lastName}));
  EXPECT_EQ(Population(TableB), 98765);
}

}  // namespace
