// The table dataset over the settlement database built by the project's tool: opening,
// order, key searches and ranges, the engine filter, the edit cycle, deletes seen from
// another cursor, emptying, and the memo note through the blob stream.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "DataSetTestSupport.h"
#include "VdbTable.h"
#include "WalkBound.h"

namespace {

using namespace vdbds;

// Counts the engine calls that read memo and blob values.
class TCountingCalls : public TVdbLibraryCalls {
 public:
  std::int32_t TableInitGetBlob(std::int16_t t, std::int16_t fieldNo, std::int32_t maxSize,
                                std::int16_t& blobType) override {
    ++BlobReads;
    return TVdbLibraryCalls::TableInitGetBlob(t, fieldNo, maxSize, blobType);
  }
  int BlobReads = 0;
};

// A database component named VdbDatabase1 on a directory and the settlement table on it,
// named as the data module names them.
class TableFixture : public ::testing::Test {
 protected:
  void Use(const std::u16string& location, TVdbTable& table, const std::u16string& tableName = u"Irsz",
           const std::u16string& indexName = u"TELEP") {
    Database.SetLocation(location);
    table.SetDatabaseName(u"VdbDatabase1");
    table.SetTableName(tableName);
    table.SetIndexName(indexName);
  }
  void SetUp() override {
    Database.SetName(u"VdbDatabase1");
    Table.Name = u"Table1";
  }
  static std::u16string Text(TVdbTable& table, const char16_t* field) { return table.FieldByName(field).AsString(); }
  std::u16string Telep() { return Text(Table, u"TELEP"); }
  std::u16string Irsz() { return Text(Table, u"IRSZ"); }

  TCountingCalls Calls;
  TVdbDatabase Database{Calls};
  TVdbTable Table;
};

// Reads the shared settlement database; nothing is changed.
class SettlementTableTest : public TableFixture {
 protected:
  void SetUp() override {
    TableFixture::SetUp();
    Use(dstest::SettlementDatabase().u16string(), Table);
    Table.Open();
  }
};

// Works on its own copy of the settlement database.
class SettlementCopyTest : public TableFixture {
 protected:
  void SetUp() override {
    TableFixture::SetUp();
    dstest::CopySettlementDatabase(Dir.Path());
    Use(Dir.Location(), Table);
  }
  dstest::TTempDir Dir;
};

TEST_F(SettlementTableTest, OpensIrszInNameOrderWithTheSettlementColumns) {
  EXPECT_EQ(Table.State(), tk::TDataSetState::dsBrowse);
  EXPECT_EQ(Table.RecordCount(), 3155);
  EXPECT_EQ(Table.IndexName(), u"TELEP");
  EXPECT_GT(Table.Handle(), 0);
  EXPECT_TRUE(Database.Connected());
  // The data set lists the settlements in Hungarian order, as the index keeps them.
  const auto rows = dstest::ReadSettlements();
  ASSERT_EQ(rows.size(), 3155u);
  for (std::size_t i = 0; i < 40; ++i, Table.Next()) {
    SCOPED_TRACE(i);
    EXPECT_EQ(Telep(), rows[i][dstest::scTELEP]);
    EXPECT_EQ(Irsz(), rows[i][dstest::scIRSZ]);
  }
  Table.First();
  EXPECT_EQ(Text(Table, u"MEGYE"), rows[0][dstest::scMEGYE]);
  EXPECT_EQ(Table.FieldByName(u"NEPESS").AsInteger(), dstest::ToInt(rows[0][dstest::scNEPESS]));
  EXPECT_EQ(Table.FieldByName(u"TERULET").AsInteger(), dstest::ToInt(rows[0][dstest::scTERULET]));
  EXPECT_EQ(Text(Table, u"EGYEB"), rows[0][dstest::scEGYEB]);
  Table.Last();
  EXPECT_EQ(Telep(), rows.back()[dstest::scTELEP]);
  EXPECT_TRUE(Table.Eof());
}

TEST_F(SettlementTableTest, WalksForwardsAndBackwardsOverTheWholeTable) {
  int forwards = 0;
  testsupport::TWalkBound forwardBound(3155, "the walk forwards");
  for (Table.First(); !Table.Eof() && forwardBound.Step(); Table.Next()) ++forwards;
  int backwards = 0;
  testsupport::TWalkBound backwardBound(3155, "the walk backwards");
  for (Table.Last(); !Table.Bof() && backwardBound.Step(); Table.Prior()) ++backwards;
  EXPECT_EQ(forwards, 3155);
  EXPECT_EQ(backwards, 3155);
}

TEST_F(SettlementTableTest, SequenceNumbersFollowTheOrder) {
  EXPECT_TRUE(Table.IsSequenced());
  EXPECT_EQ(Table.RecNo(), 1);
  Table.MoveBy(9);
  EXPECT_EQ(Table.RecNo(), 10);
  Table.Last();
  EXPECT_EQ(Table.RecNo(), 3155);
  Table.SetRecNo(100);
  EXPECT_EQ(Table.RecNo(), 100);
  // Under an event filter the engine cannot number the records the dataset shows.
  Table.SetOnFilterRecord([](tk::TDataSet&, bool& accept) { accept = true; });
  Table.SetFiltered(true);
  EXPECT_FALSE(Table.IsSequenced());
  EXPECT_EQ(Table.RecNo(), 0);
}

TEST_F(SettlementTableTest, FindNearestPositionsOnTheFirstKeyNotBelowTheText) {
  Table.Last();
  const std::u16string last = Telep();
  Table.First();
  const std::u16string first = Telep();
  const struct {
    std::u16string Text;
    std::u16string Expected;
  } cases[] = {
      {u"", first},            // empty text: the first record of the order
      {u"A", first},           // before all keys
      {u"Zszzz", last},        // after all keys (zs is the last letter): the last record
      {u"Kecskem", u"Kecskemét"},
      {u"Budapest", u"Budapest"},
      {u"Debrecen", u"Debrecen"},
  };
  // The search box takes more characters than the name column holds.
  EXPECT_NO_THROW(Table.FindNearest({u"Hódmezővásárhek" + std::u16string(23, u'z')}));
  EXPECT_EQ(Telep().rfind(u"Hódmezővásárhely", 0), 0u);
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.Text.begin(), c.Text.end()));
    Table.Next();  // from somewhere else
    Table.FindNearest({c.Text});
    EXPECT_EQ(Telep(), c.Expected);
  }
}

TEST_F(SettlementTableTest, FindKeyFindsExactKeysOnlyAndKeepsThePositionOtherwise) {
  EXPECT_TRUE(Table.FindKey({u"Szeged"}));
  EXPECT_EQ(Telep(), u"Szeged");
  EXPECT_FALSE(Table.FindKey({u"Szege"}));
  EXPECT_EQ(Telep(), u"Szeged");
  EXPECT_THROW(Table.FindKey({u"Szeged", u"x"}), tk::EDatabaseError);  // TELEP has one column
}

// A key search moves inside the scroll: BeforeScroll sees the old record, AfterScroll the found
// one; a BeforeScroll that aborts leaves the dataset and the engine cursor on the old record.
TEST_F(SettlementTableTest, KeySearchesScrollInsideTheirEventsAndAnAbortMovesNothing) {
  std::vector<std::u16string> events;
  bool abort = false;
  Table.BeforeScroll = [&](tk::TDataSet&) {
    events.push_back(u"before " + Telep());
    if (abort) tk::Abort();
  };
  Table.AfterScroll = [&](tk::TDataSet&) { events.push_back(u"after " + Telep()); };
  const struct {
    const char* Name;
    std::function<void()> Search;
  } searches[] = {
      {"FindKey", [&] { Table.FindKey({u"Szeged"}); }},
      {"FindNearest", [&] { Table.FindNearest({u"Szeged"}); }},
      {"GotoKey",
       [&] {
         Table.SetKey();
         Table.FieldByName(u"TELEP").SetAsString(u"Szeged");
         Table.GotoKey();
       }},
  };
  Table.First();
  Table.Next();
  const std::u16string second = Telep();
  for (const auto& search : searches) {
    SCOPED_TRACE(search.Name);
    Table.First();
    const std::u16string first = Telep();
    events.clear();
    search.Search();
    EXPECT_EQ(events, (std::vector<std::u16string>{u"before " + first, u"after Szeged"}));
    EXPECT_EQ(Calls.TableGetRecNo(Table.Handle()), Table.RecordNo());

    Table.First();
    events.clear();
    abort = true;
    EXPECT_THROW(search.Search(), tk::EAbort);
    abort = false;
    EXPECT_EQ(events, std::vector<std::u16string>{u"before " + first});
    EXPECT_EQ(Telep(), first);
    EXPECT_EQ(Calls.TableGetRecNo(Table.Handle()), Table.RecordNo());
    Table.Next();
    EXPECT_EQ(Telep(), second);
  }
}

TEST_F(SettlementTableTest, SwitchingTheIndexKeepsTheSameSettlementCurrent) {
  Table.FindNearest({u"Kecskemét"});
  ASSERT_EQ(Telep(), u"Kecskemét");
  const std::u16string postalCode = Irsz();
  Table.SetIndexName(u"IRSZ");
  EXPECT_EQ(Telep(), u"Kecskemét");
  EXPECT_EQ(Irsz(), postalCode);
  // Neighbours now come in postal-code order.
  Table.Next();
  EXPECT_GE(Irsz(), postalCode);
  Table.Prior();
  Table.SetIndexName(u"TELEP");
  EXPECT_EQ(Telep(), u"Kecskemét");
  Table.Next();
  EXPECT_GT(Telep(), u"Kecskemét");
}

TEST_F(SettlementTableTest, UnknownIndexIsRefusedAndTheOrderStays) {
  Table.FindNearest({u"Győr"});
  try {
    Table.SetIndexName(u"NOSUCH");
    FAIL() << "no error";
  } catch (const tk::EDatabaseError& e) {
    EXPECT_EQ(e.Message(), u"The index NOSUCH does not exist");
  }
  EXPECT_EQ(Table.IndexName(), u"TELEP");
  EXPECT_EQ(Telep(), u"Győr");
}

TEST_F(SettlementTableTest, IndexFieldNamesOrderByColumnsAndReplaceTheIndexName) {
  Table.FindNearest({u"Baja"});
  ASSERT_EQ(Telep(), u"Baja");
  Table.SetIndexFieldNames(u"IRSZ");
  EXPECT_TRUE(Table.IndexName().empty());
  EXPECT_EQ(Telep(), u"Baja") << "the record stays current";
  Table.FindNearest({u"6000"});
  EXPECT_GE(Irsz(), u"6000");
  Table.Prior();
  EXPECT_LT(Irsz(), u"6000");
  Table.SetIndexName(u"TELEP");
  EXPECT_TRUE(Table.IndexFieldNames().empty());
  Table.First();
  EXPECT_EQ(Telep(), u"Aba");
}

TEST_F(SettlementTableTest, IndexNameExtensionIsStripped) {
  Table.SetIndexName(u"IRSZ.VDBI");
  EXPECT_EQ(Table.IndexName(), u"IRSZ");
  Table.First();
  const std::u16string lowest = Irsz();
  Table.Next();
  EXPECT_GE(Irsz(), lowest);
}

TEST_F(SettlementTableTest, RangeShowsOnlyTheKeysBetweenItsBounds) {
  Table.SetIndexName(u"IRSZ");
  Table.SetRange({u"6000"}, {u"6099"});
  int count = 0;
  testsupport::TWalkBound bound(static_cast<std::size_t>(Table.RecordCount()), "the walk over the range");
  for (Table.First(); !Table.Eof() && bound.Step(); Table.Next(), ++count) {
    EXPECT_GE(Irsz(), u"6000");
    EXPECT_LE(Irsz(), u"6099");
  }
  EXPECT_GT(count, 0);
  EXPECT_EQ(Table.RecordCount(), count);
  Table.CancelRange();
  EXPECT_EQ(Table.RecordCount(), 3155);
}

// Ranges over part of a two-item order: the start and the end each bound as many leading
// items as values are given.
TEST_F(SettlementCopyTest, RangeOverTwoItemsBoundsEachEndByItsOwnValues) {
  Table.Open();
  Table.SetIndexFieldNames(u"MEGYE;IRSZ");
  std::vector<std::pair<std::u16string, std::u16string>> baranya;  // postal code, name
  for (const auto& row : dstest::ReadSettlements())
    if (row[dstest::scMEGYE] == u"Baranya") baranya.emplace_back(row[dstest::scIRSZ], row[dstest::scTELEP]);
  std::sort(baranya.begin(), baranya.end());
  const struct {
    const char* Name;
    TVdbKeyValues Start, End;
    std::u16string Low, High;  // the postal codes the range keeps
  } cases[] = {
      {"county and code to county", {u"Baranya", u"7600"}, {u"Baranya"}, u"7600", u"9999"},
      {"county to county and code", {u"Baranya"}, {u"Baranya", u"7600"}, u"0000", u"7600"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    std::vector<std::pair<std::u16string, std::u16string>> model;
    for (const auto& r : baranya)
      if (r.first >= c.Low && r.first <= c.High) model.push_back(r);
    ASSERT_GT(model.size(), 1u);
    ASSERT_LT(model.size(), baranya.size());
    Table.SetRange(c.Start, c.End);
    EXPECT_EQ(Table.RecordCount(), static_cast<int>(model.size()));
    // Among settlements sharing a postal code the order is not fixed: the name must be one of them.
    auto namesOf = [&](const std::u16string& code) {
      std::vector<std::u16string> names;
      for (const auto& r : model)
        if (r.first == code) names.push_back(r.second);
      return names;
    };
    auto expectAt = [&](const std::pair<std::u16string, std::u16string>& expected) {
      EXPECT_EQ(Text(Table, u"MEGYE"), u"Baranya");
      EXPECT_EQ(Irsz(), expected.first);
      const auto names = namesOf(expected.first);
      EXPECT_NE(std::find(names.begin(), names.end(), Telep()), names.end()) << tk::NarrowForDiagnostics(Telep());
    };
    Table.First();
    expectAt(model.front());
    Table.Last();
    expectAt(model.back());
    Table.CancelRange();
    EXPECT_EQ(Table.RecordCount(), 3155);
  }
}

TEST_F(SettlementTableTest, SetKeyEditsTheLookupBufferAndGotoKeySearchesIt) {
  Table.SetKey();
  EXPECT_EQ(Table.State(), tk::TDataSetState::dsSetKey);
  Table.FieldByName(u"TELEP").SetAsString(u"Pécs");
  EXPECT_TRUE(Table.GotoKey());
  EXPECT_EQ(Table.State(), tk::TDataSetState::dsBrowse);
  EXPECT_EQ(Telep(), u"Pécs");
  Table.SetKey();
  Table.FieldByName(u"TELEP").SetAsString(u"Pécsa");
  Table.GotoNearest();
  EXPECT_GT(Telep(), u"Pécs");
}

TEST_F(SettlementTableTest, TheNoteIsReadOnceAndThenFromTheBuffersCache) {
  Table.FindNearest({u"Aba"});
  const int before = Calls.BlobReads;
  const std::u16string note = Text(Table, u"EGYEB");
  EXPECT_FALSE(note.empty());
  EXPECT_EQ(Text(Table, u"EGYEB"), note);
  EXPECT_EQ(Calls.BlobReads, before + 1);
  // A refilled buffer reads again.
  Table.Refresh();
  EXPECT_EQ(Text(Table, u"EGYEB"), note);
  EXPECT_EQ(Calls.BlobReads, before + 2);
}

TEST_F(SettlementTableTest, FieldDefinitionsDescribeTheColumns) {
  const TVdbFieldDefs& defs = Table.FieldDefsVdb();
  ASSERT_EQ(defs.Count(), 11);
  const TVdbFieldDef& telep = defs.FieldByName(u"telep");
  EXPECT_EQ(telep.DataTypeVdb, TVdbDataType::dtString);
  EXPECT_EQ(telep.Size, 30);
  EXPECT_EQ(defs.FieldByName(u"EGYEB").DataTypeVdb, TVdbDataType::dtMemo);
  EXPECT_EQ(Table.FieldByName(u"TELK").Size(), 20);
  try {
    defs.FieldByName(u"NOSUCH");
    FAIL() << "no error";
  } catch (const tk::EDatabaseError& e) {
    EXPECT_EQ(e.Message(), u"Field NOSUCH not found");
  }
  // The record buffer: the image, two cache slots and the record information.
  EXPECT_EQ(Table.RecBufSize(), Table.RecordSize() + 24);
}

TEST_F(SettlementTableTest, FailedFilterTextKeepsTheOldConditionAndTheFilteredState) {
  Table.SetFiltered(true);
  ASSERT_TRUE(Table.Filtered());
  const int all = Table.RecordCount();
  try {
    Table.SetFilter(u"TELEP = 'Aba' Xor TELEP = 'Abda'");
    FAIL() << "no error";
  } catch (const tk::EDatabaseError& e) {
    EXPECT_EQ(e.Message().rfind(u"Setting filter: ", 0), 0u) << tk::NarrowForDiagnostics(e.Message());
  }
  EXPECT_TRUE(Table.Filtered());
  EXPECT_TRUE(Table.Filter().empty());
  EXPECT_EQ(Table.RecordCount(), all);
  EXPECT_EQ(Table.State(), tk::TDataSetState::dsBrowse);
}

TEST_F(SettlementTableTest, PendingFaultyFilterIsRefusedWhenSwitchedOn) {
  Table.SetFilter(u"TELEP = 'Aba' Xor TELEP = 'Abda'");
  EXPECT_FALSE(Table.FilterGiven());
  EXPECT_THROW(Table.SetFiltered(true), tk::EDatabaseError);
  EXPECT_FALSE(Table.Filtered());
  EXPECT_TRUE(Table.Active());
  EXPECT_EQ(Table.RecordCount(), 3155);
}

TEST_F(SettlementTableTest, EventFilterCountsTheAcceptedRecords) {
  Table.SetOnFilterRecord([](tk::TDataSet& ds, bool& accept) {
    accept = ds.FieldByName(u"MEGYE").AsString() == u"Csongrád-Csanád";
  });
  Table.SetFiltered(true);
  const int count = Table.RecordCount();
  EXPECT_GT(count, 0);
  EXPECT_LT(count, 3155);
  int walked = 0;
  testsupport::TWalkBound bound(static_cast<std::size_t>(count), "the filtered walk");
  for (Table.First(); !Table.Eof() && bound.Step(); Table.Next()) ++walked;
  EXPECT_EQ(walked, count);
}

// Accepts every filter text without giving it to the engine, and records the modes.
class TFilterCalls : public TVdbLibraryCalls {
 public:
  std::int16_t TableSetSQLFilter(std::int16_t, const std::u16string& filter, std::uint16_t mode,
                                 bool background) override {
    Given.emplace_back(filter, mode);
    EXPECT_TRUE(background) << "texts are given as pending filters";
    return 0;
  }
  std::vector<std::pair<std::u16string, std::uint16_t>> Given;
};

TEST(FilterTextTest, TextIsGivenWhenFilteringAndCarriesTheModeByte) {
  TFilterCalls calls;
  TVdbDatabase database(calls);
  database.SetName(u"Filtering");
  database.SetLocation(dstest::SettlementDatabase().u16string());
  TVdbTable table;
  table.SetDatabaseName(u"Filtering");
  table.SetTableName(u"Irsz");
  table.SetFilter(u"TELEP = 'Aba'");
  table.Open();
  ASSERT_EQ(calls.Given.size(), 1u) << "a text set while closed is given at opening";
  EXPECT_EQ(calls.Given[0].second, 0x61);
  EXPECT_TRUE(table.FilterGiven());

  table.SetFilter(u"TELEP = 'Abda'");
  EXPECT_FALSE(table.FilterGiven()) << "pending while not filtered";
  EXPECT_EQ(calls.Given.size(), 1u);
  table.SetFiltered(true);
  EXPECT_TRUE(table.FilterGiven());
  ASSERT_EQ(calls.Given.size(), 2u);
  EXPECT_EQ(calls.Given[1].first, u"TELEP = 'Abda'");

  const struct {
    TFilterOptions Options;
    TVdbFilterMethod Method;
    std::uint16_t Mode;
  } cases[] = {
      {foCaseInsensitive, TVdbFilterMethod::tfeDefault, 0x71},
      {foNoPartialCompare, TVdbFilterMethod::tfeDefault, 0x41},
      {foCaseInsensitive | foNoPartialCompare, TVdbFilterMethod::tfeStatic, 0x51},
      {0, TVdbFilterMethod::tfeIncremental, 0x6F},
      {foNoPartialCompare, TVdbFilterMethod::tfeIncremental, 0x4F},
  };
  for (const auto& c : cases) {
    table.SetFilterMethod(c.Method);
    table.SetFilterOptions(c.Options == 0 ? TFilterOptions{foNoPartialCompare} : TFilterOptions{0});  // a real change
    table.SetFilterOptions(c.Options);
    EXPECT_EQ(calls.Given.back().second, c.Mode) << std::hex << c.Mode;
  }
  table.SetFiltered(false);
  table.SetFilterOptions(0);
  EXPECT_FALSE(table.FilterGiven()) << "an option change while not filtered leaves the text pending";
}

TEST_F(TableFixture, MissingTableRaisesOpeningTableWithTheEnginesMessage) {
  dstest::TTempDir empty;
  Use(empty.Location(), Table);
  try {
    Table.Open();
    FAIL() << "no error";
  } catch (const EVidoraDBError& e) {
    const std::u16string prefix = u"Opening table \"Irsz\": " + Calls.GetErrorMsg(e.VdbError());
    EXPECT_EQ(e.Message().rfind(prefix, 0), 0u) << tk::NarrowForDiagnostics(e.Message());
    EXPECT_LT(e.VdbError(), 0);
    EXPECT_NE(e.Reason(), 0);
  }
  EXPECT_FALSE(Table.Active());
  EXPECT_EQ(Table.Handle(), 0);
}

TEST_F(TableFixture, TableWithoutNameIsRefused) {
  Use(dstest::SettlementDatabase().u16string(), Table, u"");
  try {
    Table.Open();
    FAIL() << "no error";
  } catch (const tk::EDatabaseError& e) {
    EXPECT_EQ(e.Message(), u"No table name defined for \"Table1\".");
  }
  EXPECT_FALSE(Table.Active());
}

TEST_F(TableFixture, DatasetWithoutComponentMakesAnAutomaticDatabaseOnTheDirectory) {
  TVdbTable table;
  table.SetDatabaseName(dstest::SettlementDatabase().u16string() + u"\\");
  table.SetTableName(u"Irsz");
  table.Open();
  EXPECT_TRUE(table.Database().Automatic());
  EXPECT_EQ(table.Database().Location(), dstest::SettlementDatabase().u16string());
  EXPECT_EQ(table.RecordCount(), 3155);
  table.Close();
}

TEST_F(TableFixture, TwoComponentsOfOneNameAreNotUnique) {
  TVdbDatabase twin;
  twin.SetDatabaseName(u"vdbdatabase1");
  Use(dstest::SettlementDatabase().u16string(), Table);
  try {
    Table.Open();
    FAIL() << "no error";
  } catch (const tk::EDatabaseError& e) {
    EXPECT_EQ(e.Message(), u"Database name \"VdbDatabase1\" is not unique");
  }
}

// ---------------------------------------------------------------- changing data

TEST_F(SettlementCopyTest, CancellingAnInsertReturnsToThePreviousRecord) {
  Table.Open();
  Table.FindNearest({u"Miskolc"});
  ASSERT_EQ(Telep(), u"Miskolc");
  Table.Insert();
  EXPECT_EQ(Table.State(), tk::TDataSetState::dsInsert);
  Table.FieldByName(u"TELEP").SetAsString(u"Próba");
  Table.Cancel();
  EXPECT_EQ(Table.State(), tk::TDataSetState::dsBrowse);
  EXPECT_EQ(Telep(), u"Miskolc");
  EXPECT_EQ(Table.RecordCount(), 3155);
}

TEST_F(SettlementCopyTest, PostedInsertAndEditAreStoredAndFoundAgain) {
  Table.Open();
  Table.Append();
  for (const char16_t* name : {u"TELK", u"RANG", u"REGIO", u"MEGYE", u"KISTERS"})
    Table.FieldByName(name).SetAsString(u"");
  Table.FieldByName(u"IRSZ").SetAsString(u"9999");
  Table.FieldByName(u"TELEP").SetAsString(u"Őrszentmiklós-Új");
  Table.FieldByName(u"NEPESS").SetAsInteger(12);
  Table.Post();
  EXPECT_EQ(Table.RecordCount(), 3156);
  EXPECT_EQ(Telep(), u"Őrszentmiklós-Új");
  ASSERT_TRUE(Table.FindKey({u"Őrszentmiklós-Új"}));
  EXPECT_EQ(Irsz(), u"9999");
  EXPECT_TRUE(Table.FieldByName(u"TELK").AsString().empty());
  EXPECT_FALSE(Table.FieldByName(u"TELK").IsNull()) << "an empty text is stored empty, not null";

  Table.Edit();
  Table.FieldByName(u"NEPESS").SetAsInteger(13);
  Table.Post();
  Table.Close();
  Table.Open();
  ASSERT_TRUE(Table.FindKey({u"Őrszentmiklós-Új"}));
  EXPECT_EQ(Table.FieldByName(u"NEPESS").AsInteger(), 13);
}

TEST_F(SettlementCopyTest, ANoteOf100KBRoundTripsThroughTheBlobStream) {
  Table.Open();
  Table.FindNearest({u"Szeged"});
  std::u16string note;
  // Memo files keep line breaks as CR LF in the text they give back.
  for (int i = 0; note.size() < 100 * 1024; ++i) note += u"Árvíztűrő tükörfúrógép " + tk::IntToText(i) + u"\r\n";
  Table.Edit();
  Table.FieldByName(u"EGYEB").SetAsString(note);
  Table.Post();
  Table.Close();
  Table.Open();
  Table.FindNearest({u"Szeged"});
  const int before = Calls.BlobReads;
  EXPECT_EQ(Text(Table, u"EGYEB"), note);
  EXPECT_EQ(Text(Table, u"EGYEB"), note);
  EXPECT_EQ(Calls.BlobReads, before + 1);
}

TEST_F(SettlementCopyTest, EmptyWriteStreamStoresAnEmptyNote) {
  Table.Open();
  Table.FindNearest({u"Aba"});
  Table.Edit();
  {
    auto stream = Table.OpenBlobStream(Table.FieldByName(u"EGYEB"), tk::TBlobStreamMode::bmWrite);
    ASSERT_NE(stream, nullptr);
  }
  Table.Post();
  Table.Refresh();
  EXPECT_TRUE(Text(Table, u"EGYEB").empty());
}

TEST_F(SettlementCopyTest, EditingARecordAnotherCursorDeletedIsRefused) {
  Table.Open();
  Table.FindNearest({u"Tata"});
  ASSERT_EQ(Telep(), u"Tata");
  TVdbTable other;
  other.SetDatabaseName(u"VdbDatabase1");
  other.SetTableName(u"Irsz");
  other.SetIndexName(u"TELEP");
  other.Open();
  ASSERT_TRUE(other.FindKey({u"Tata"}));
  other.Delete();
  try {
    Table.Edit();
    FAIL() << "no error";
  } catch (const tk::EDatabaseError& e) {
    EXPECT_EQ(e.Message(), u"This record has been deleted");
  }
  EXPECT_EQ(Table.State(), tk::TDataSetState::dsBrowse);
  EXPECT_THROW(Table.Delete(), tk::EDatabaseError);
  Table.Refresh();
  EXPECT_EQ(Table.RecordCount(), 3154);
  EXPECT_FALSE(Table.FindKey({u"Tata"}));
}

TEST_F(SettlementCopyTest, RecordMovedIntoADeletedNumberIsRenumberedInTheBuffers) {
  Use(Dir.Location(), Table, u"Irsz", u"");  // natural order: record numbers are positions
  Table.Open();
  Table.Last();
  const std::int32_t last = Table.RecordNo();
  const std::u16string lastName = Telep();
  ASSERT_EQ(last, 3155);
  TVdbTable other;
  other.SetDatabaseName(u"VdbDatabase1");
  other.SetTableName(u"Irsz");
  other.Open();
  ASSERT_EQ(other.RecordNo(), 1);
  other.Delete();  // the last record moves into number 1
  EXPECT_EQ(Table.RecordNo(), 1);
  EXPECT_EQ(Telep(), lastName);
  Table.Edit();
  Table.FieldByName(u"NEPESS").SetAsInteger(4321);
  Table.Post();
  EXPECT_EQ(Telep(), lastName);
  Table.First();
  EXPECT_EQ(Telep(), lastName);
  EXPECT_EQ(Table.FieldByName(u"NEPESS").AsInteger(), 4321);
}

TEST_F(SettlementCopyTest, ScratchTableFillsFromEmptyAndEmptiesByDeleting) {
  TVdbTable scratch;
  scratch.Name = u"Table2";
  scratch.SetDatabaseName(u"VdbDatabase1");
  scratch.SetTableName(u"Irsz_tmp");
  Database.SetLocation(Dir.Location());
  scratch.Open();
  EXPECT_TRUE(scratch.IsEmpty());
  for (const char16_t* name : {u"Szeged", u"Pécs"}) {
    scratch.Insert();  // into an empty table, then before the current record
    scratch.FieldByName(u"IRSZ").SetAsString(u"6720");
    scratch.FieldByName(u"TELEP").SetAsString(name);
    scratch.Post();
    EXPECT_EQ(scratch.FieldByName(u"TELEP").AsString(), name);
  }
  EXPECT_EQ(scratch.RecordCount(), 2);
  scratch.Delete();
  EXPECT_EQ(scratch.RecordCount(), 1);
  EXPECT_FALSE(scratch.IsEmpty());
  scratch.Delete();
  EXPECT_TRUE(scratch.IsEmpty());
  EXPECT_TRUE(scratch.Eof());
  EXPECT_TRUE(scratch.Bof());
  EXPECT_THROW(scratch.Delete(), tk::EDatabaseError);
}

TEST_F(SettlementCopyTest, DeletesInNameOrderMoveToTheFollowingSettlement) {
  Table.Open();
  Table.FindNearest({u"Aba"});
  Table.Next();
  const std::u16string second = Telep();
  Table.Next();
  const std::u16string third = Telep();
  Table.First();
  Table.Delete();
  EXPECT_EQ(Telep(), second);
  Table.Delete();
  EXPECT_EQ(Telep(), third);
  EXPECT_EQ(Table.RecordCount(), 3153);
  EXPECT_FALSE(Table.FindKey({u"Aba"}));
  EXPECT_FALSE(Table.FindKey({second}));
}

TEST_F(SettlementCopyTest, EmptyTableOnAClosedTableLeavesItClosedAndEmpty) {
  TVdbTable scratch;
  scratch.Name = u"Table2";
  scratch.SetDatabaseName(u"VdbDatabase1");
  scratch.SetTableName(u"Irsz_tmp");
  Database.SetLocation(Dir.Location());
  scratch.Open();
  scratch.Append();
  scratch.FieldByName(u"IRSZ").SetAsString(u"1011");
  scratch.FieldByName(u"TELEP").SetAsString(u"Budapest");
  scratch.Post();
  EXPECT_EQ(scratch.RecordCount(), 1);
  scratch.Close();
  scratch.EmptyTable();
  EXPECT_FALSE(scratch.Active());
  scratch.Open();
  EXPECT_EQ(scratch.RecordCount(), 0);
  EXPECT_TRUE(scratch.IsEmpty());
}

}  // namespace
