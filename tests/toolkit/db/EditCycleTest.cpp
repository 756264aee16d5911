// The state machine and the order of the before/after events of the edit cycle, the silent
// abort from handlers and the failures that must leave the dataset as it was.
#include <gtest/gtest.h>

#include <memory>

#include "MemFixture.h"

namespace {

using tk::TDataSetState;
using testdb::Range;

// Fails the next FailPosts posts inside the dataset, as a lost connection would.
class TFailingMem : public tk::TMemDataSet {
 public:
  int FailPosts = 0;

 protected:
  void InternalPost() override {
    if (FailPosts > 0) {
      --FailPosts;
      tk::DatabaseError(u"disk full");
    }
    tk::TMemDataSet::InternalPost();
  }
};

class EditCycleTest : public ::testing::Test {
 protected:
  void SetUp() override { Reset(); }

  void Reset() {
    Data = std::make_unique<TFailingMem>();
    testdb::FillNumbered(DS(), 10);
    Hook(DS().BeforeOpen, "BeforeOpen");
    Hook(DS().AfterOpen, "AfterOpen");
    Hook(DS().BeforeClose, "BeforeClose");
    Hook(DS().AfterClose, "AfterClose");
    Hook(DS().BeforeInsert, "BeforeInsert");
    Hook(DS().AfterInsert, "AfterInsert");
    Hook(DS().BeforeEdit, "BeforeEdit");
    Hook(DS().AfterEdit, "AfterEdit");
    Hook(DS().BeforePost, "BeforePost");
    Hook(DS().AfterPost, "AfterPost");
    Hook(DS().BeforeCancel, "BeforeCancel");
    Hook(DS().AfterCancel, "AfterCancel");
    Hook(DS().BeforeDelete, "BeforeDelete");
    Hook(DS().AfterDelete, "AfterDelete");
    Hook(DS().BeforeScroll, "BeforeScroll");
    Hook(DS().AfterScroll, "AfterScroll");
    Hook(DS().OnNewRecord, "OnNewRecord");
    Hook(DS().BeforeRefresh, "BeforeRefresh");
    Hook(DS().AfterRefresh, "AfterRefresh");
  }

  void Hook(tk::TDataSetNotifyEvent& event, const char* name) {
    event = [this, name](tk::TDataSet&) {
      Events.push_back(name);
      if (AbortIn == name) tk::Abort();
    };
  }

  int Id() { return DS().FieldByName(u"ID").AsInteger(); }
  std::vector<int> Ids() {
    std::vector<int> ids;
    for (int i = 0; i < DS().RowCount(); ++i) ids.push_back(static_cast<int>(std::get<std::int64_t>(DS().Row(i)[0])));
    return ids;
  }
  void OpenAt(int id) {
    DS().Open();
    DS().MoveBy(id - 1);
    Events.clear();
  }

  TFailingMem& DS() { return *Data; }
  std::unique_ptr<TFailingMem> Data;
  std::vector<std::string> Events;
  std::string AbortIn;
};

TEST_F(EditCycleTest, OpenAndCloseRunTheirEventsAndStates) {
  EXPECT_EQ(DS().State(), TDataSetState::dsInactive);
  DS().Open();
  EXPECT_EQ(DS().State(), TDataSetState::dsBrowse);
  EXPECT_TRUE(DS().Bof());
  EXPECT_FALSE(DS().Eof());
  EXPECT_EQ(Id(), 1);
  DS().Close();
  EXPECT_EQ(DS().State(), TDataSetState::dsInactive);
  EXPECT_EQ(Events, (std::vector<std::string>{"BeforeOpen", "AfterOpen", "AfterScroll", "BeforeClose", "AfterClose"}));
  // Default fields live only while open.
  EXPECT_EQ(DS().FieldCount(), 0);
  EXPECT_THROW(DS().RecordCount(), tk::EDatabaseError);
}

TEST_F(EditCycleTest, OpeningAnEmptyDataSetSkipsAfterScroll) {
  tk::TMemDataSet empty;
  testdb::FillNumbered(empty, 0);
  std::vector<std::string> events;
  empty.AfterOpen = [&](tk::TDataSet&) { events.push_back("AfterOpen"); };
  empty.AfterScroll = [&](tk::TDataSet&) { events.push_back("AfterScroll"); };
  empty.Open();
  EXPECT_EQ(events, std::vector<std::string>{"AfterOpen"});
  EXPECT_TRUE(empty.IsEmpty());
  EXPECT_TRUE(empty.Bof() && empty.Eof());
  EXPECT_TRUE(empty.FieldByName(u"ID").IsNull());
}

// Each operation from browse state at record 4, its events in order, the state after it and
// the rows of the table afterwards.
struct TCycleCase {
  const char* Name;
  std::function<void(tk::TMemDataSet&)> Run;
  std::vector<std::string> Events;
  TDataSetState State;
  int Current;  // ID of the current record after the operation (0: the new record)
  std::vector<int> Rows;
};

TEST_F(EditCycleTest, OperationsRunTheirEventsInOrder) {
  auto setId = [](tk::TMemDataSet& ds, int id) { ds.FieldByName(u"ID").SetAsInteger(id); };
  std::vector<int> inserted = {1, 2, 3, 99, 4, 5, 6, 7, 8, 9, 10};
  std::vector<int> appended = Range(1, 10);
  appended.push_back(99);
  std::vector<int> edited = {1, 2, 3, 40, 5, 6, 7, 8, 9, 10};
  std::vector<int> deleted = {1, 2, 3, 5, 6, 7, 8, 9, 10};
  const std::vector<TCycleCase> cases = {
      {"insert", [](auto& ds) { ds.Insert(); },
       {"BeforeInsert", "BeforeScroll", "OnNewRecord", "AfterInsert", "AfterScroll"}, TDataSetState::dsInsert, 0, Range(1, 10)},
      {"insert+post", [&](auto& ds) { ds.Insert(); setId(ds, 99); ds.Post(); },
       {"BeforeInsert", "BeforeScroll", "OnNewRecord", "AfterInsert", "AfterScroll", "BeforePost", "AfterPost"},
       TDataSetState::dsBrowse, 99, inserted},
      {"append+post", [&](auto& ds) { ds.Append(); setId(ds, 99); ds.Post(); },
       {"BeforeInsert", "BeforeScroll", "OnNewRecord", "AfterInsert", "AfterScroll", "BeforePost", "AfterPost"},
       TDataSetState::dsBrowse, 99, appended},
      {"insert+cancel", [](auto& ds) { ds.Insert(); ds.Cancel(); },
       {"BeforeInsert", "BeforeScroll", "OnNewRecord", "AfterInsert", "AfterScroll", "BeforeCancel", "BeforeScroll",
        "AfterCancel", "AfterScroll"},
       TDataSetState::dsBrowse, 4, Range(1, 10)},
      {"edit", [](auto& ds) { ds.Edit(); }, {"BeforeEdit", "AfterEdit"}, TDataSetState::dsEdit, 4, Range(1, 10)},
      {"edit+post", [&](auto& ds) { ds.Edit(); setId(ds, 40); ds.Post(); },
       {"BeforeEdit", "AfterEdit", "BeforePost", "AfterPost"}, TDataSetState::dsBrowse, 40, edited},
      {"edit+cancel", [&](auto& ds) { ds.Edit(); setId(ds, 40); ds.Cancel(); },
       {"BeforeEdit", "AfterEdit", "BeforeCancel", "AfterCancel"}, TDataSetState::dsBrowse, 4, Range(1, 10)},
      {"delete", [](auto& ds) { ds.Delete(); },
       {"BeforeDelete", "BeforeScroll", "AfterDelete", "AfterScroll"}, TDataSetState::dsBrowse, 5, deleted},
      {"delete in insert cancels", [](auto& ds) { ds.Insert(); ds.Delete(); },
       {"BeforeInsert", "BeforeScroll", "OnNewRecord", "AfterInsert", "AfterScroll", "BeforeCancel", "BeforeScroll",
        "AfterCancel", "AfterScroll"},
       TDataSetState::dsBrowse, 4, Range(1, 10)},
      {"modified edit, then next posts", [&](auto& ds) { ds.Edit(); setId(ds, 40); ds.Next(); },
       {"BeforeEdit", "AfterEdit", "BeforePost", "AfterPost", "BeforeScroll", "AfterScroll"}, TDataSetState::dsBrowse, 5,
       edited},
      {"unmodified edit, then next cancels", [](auto& ds) { ds.Edit(); ds.Next(); },
       {"BeforeEdit", "AfterEdit", "BeforeCancel", "AfterCancel", "BeforeScroll", "AfterScroll"}, TDataSetState::dsBrowse,
       5, Range(1, 10)},
      {"refresh", [](auto& ds) { ds.Refresh(); }, {"BeforeRefresh", "AfterRefresh"}, TDataSetState::dsBrowse, 4,
       Range(1, 10)},
      {"close in edit cancels", [&](auto& ds) { ds.Edit(); setId(ds, 40); ds.Close(); },
       {"BeforeEdit", "AfterEdit", "BeforeCancel", "AfterCancel", "BeforeClose", "AfterClose"},
       TDataSetState::dsInactive, -1, Range(1, 10)},
  };
  for (const TCycleCase& c : cases) {
    SCOPED_TRACE(c.Name);
    OpenAt(4);
    c.Run(DS());
    EXPECT_EQ(Events, c.Events);
    EXPECT_EQ(DS().State(), c.State);
    if (c.Current == 0) {
      EXPECT_TRUE(DS().FieldByName(u"ID").IsNull());
    } else if (c.Current > 0) {
      EXPECT_EQ(Id(), c.Current);
    }
    EXPECT_EQ(Ids(), c.Rows);
    Reset();
    Events.clear();
  }
}

TEST_F(EditCycleTest, SilentAbortInABeforeHandlerLeavesEverythingAsItWas) {
  struct TAbortCase {
    const char* Handler;
    std::function<void(tk::TMemDataSet&)> Run;
    TDataSetState State;
    std::vector<std::string> Events;
  };
  const std::vector<TAbortCase> cases = {
      {"BeforeDelete", [](auto& ds) { ds.Delete(); }, TDataSetState::dsBrowse, {"BeforeDelete"}},
      {"BeforeEdit", [](auto& ds) { ds.Edit(); }, TDataSetState::dsBrowse, {"BeforeEdit"}},
      {"BeforeInsert", [](auto& ds) { ds.Insert(); }, TDataSetState::dsBrowse, {"BeforeInsert"}},
      {"BeforeScroll", [](auto& ds) { ds.Next(); }, TDataSetState::dsBrowse, {"BeforeScroll"}},
      {"BeforePost",
       [](auto& ds) {
         ds.Edit();
         ds.FieldByName(u"NAME").SetAsString(u"changed");
         ds.Post();
       },
       TDataSetState::dsEdit, {"BeforeEdit", "AfterEdit", "BeforePost"}},
      {"BeforeCancel",
       [](auto& ds) {
         ds.Edit();
         ds.Cancel();
       },
       TDataSetState::dsEdit, {"BeforeEdit", "AfterEdit", "BeforeCancel"}},
  };
  for (const TAbortCase& c : cases) {
    SCOPED_TRACE(c.Handler);
    OpenAt(4);
    AbortIn = c.Handler;
    EXPECT_THROW(c.Run(DS()), tk::EAbort);
    EXPECT_EQ(Events, c.Events);
    EXPECT_EQ(DS().State(), c.State);
    EXPECT_EQ(Id(), 4);
    EXPECT_EQ(Ids(), Range(1, 10));
    AbortIn.clear();
    if (DS().State() != TDataSetState::dsBrowse) DS().Cancel();
    DS().Close();
  }
}

TEST_F(EditCycleTest, DeletingFromAnEmptyDataSetFailsWithoutAsking) {
  tk::TMemDataSet empty;
  testdb::FillNumbered(empty, 0);
  bool asked = false;
  empty.BeforeDelete = [&](tk::TDataSet&) { asked = true; };
  empty.Open();
  EXPECT_THROW(empty.Delete(), tk::EDatabaseError);
  EXPECT_FALSE(asked);
}

TEST_F(EditCycleTest, ReadOnlyDataSetRefusesChangesBeforeAnyHandler) {
  DS().ReadOnly = true;
  OpenAt(2);
  EXPECT_FALSE(DS().CanModify());
  for (auto op : {&tk::TDataSet::Edit, &tk::TDataSet::Insert, &tk::TDataSet::Append, &tk::TDataSet::Delete})
    EXPECT_THROW((DS().*op)(), tk::EDatabaseError);
  EXPECT_TRUE(Events.empty());
  EXPECT_EQ(DS().State(), TDataSetState::dsBrowse);
}

TEST_F(EditCycleTest, FailingNewRecordHandlerGivesUpTheInsert) {
  OpenAt(3);
  DS().OnNewRecord = [](tk::TDataSet&) { tk::DatabaseError(u"no defaults"); };
  EXPECT_THROW(DS().Insert(), tk::EDatabaseError);
  EXPECT_EQ(DS().State(), TDataSetState::dsBrowse);
  EXPECT_EQ(Id(), 3);
  EXPECT_EQ(Ids(), Range(1, 10));
  DS().OnNewRecord = nullptr;
  DS().Next();  // the window is whole again
  EXPECT_EQ(Id(), 4);
}

TEST_F(EditCycleTest, RequiredFieldStopsThePostAndKeepsTheNewRecord) {
  OpenAt(2);
  DS().Insert();
  DS().FieldByName(u"NAME").SetAsString(u"no id");
  EXPECT_THROW(DS().Post(), tk::EDatabaseError);
  EXPECT_EQ(DS().State(), TDataSetState::dsInsert);
  EXPECT_EQ(DS().FieldByName(u"NAME").AsString(), u"no id");
  DS().FieldByName(u"ID").SetAsInteger(77);
  DS().Post();
  EXPECT_EQ(Id(), 77);
  EXPECT_EQ(DS().RowCount(), 11);
  // Clearing a required field in edit mode is refused at once.
  DS().Edit();
  EXPECT_THROW(DS().FieldByName(u"ID").Clear(), tk::EDatabaseError);
  EXPECT_EQ(Id(), 77);
}

TEST_F(EditCycleTest, PostErrorHandlerChoosesFailAbortOrRetry) {
  OpenAt(1);
  DS().Edit();
  DS().FieldByName(u"ID").SetAsInteger(100);
  std::vector<tk::TDataAction> answers;
  int calls = 0;
  DS().OnPostError = [&](tk::TDataSet&, const tk::EDatabaseError& e, tk::TDataAction& action) {
    EXPECT_EQ(e.Message(), u"disk full");
    action = answers.at(static_cast<std::size_t>(calls++));
  };

  DS().FailPosts = 1;
  answers = {tk::TDataAction::daFail};
  EXPECT_THROW(DS().Post(), tk::EDatabaseError);
  EXPECT_EQ(DS().State(), TDataSetState::dsEdit);

  calls = 0;
  DS().FailPosts = 1;
  answers = {tk::TDataAction::daAbort};
  EXPECT_THROW(DS().Post(), tk::EAbort);
  EXPECT_EQ(DS().State(), TDataSetState::dsEdit);
  EXPECT_EQ(Id(), 100);

  calls = 0;
  DS().FailPosts = 2;
  answers = {tk::TDataAction::daRetry, tk::TDataAction::daRetry};
  Events.clear();
  DS().Post();
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(DS().State(), TDataSetState::dsBrowse);
  EXPECT_EQ(Events, (std::vector<std::string>{"BeforePost", "AfterPost"}));
  EXPECT_EQ(Ids().front(), 100);
}

TEST_F(EditCycleTest, CancellingAnInsertReturnsToThePreviousRecordEvenAtTheEdges) {
  for (int start : {1, 5, 10}) {
    SCOPED_TRACE(start);
    OpenAt(start);
    DS().Insert();
    DS().FieldByName(u"ID").SetAsInteger(500);
    DS().Cancel();
    EXPECT_EQ(Id(), start);
    DS().Append();
    DS().Cancel();
    EXPECT_EQ(Id(), 10);  // after an append the last record is current
    DS().Close();
  }
  EXPECT_EQ(Ids(), Range(1, 10));
}

TEST_F(EditCycleTest, InsertingIntoAnEmptyDataSetAndCancellingLeavesItEmpty) {
  tk::TMemDataSet empty;
  testdb::FillNumbered(empty, 0);
  empty.Open();
  empty.Insert();
  EXPECT_FALSE(empty.IsEmpty());
  empty.Cancel();
  EXPECT_TRUE(empty.IsEmpty());
  empty.Insert();
  empty.FieldByName(u"ID").SetAsInteger(1);
  empty.Post();
  EXPECT_EQ(empty.RecordCount(), 1);
  EXPECT_EQ(empty.FieldByName(u"ID").AsInteger(), 1);
}

TEST_F(EditCycleTest, FieldWritesNeedAnEditModeAndRespectReadOnly) {
  OpenAt(1);
  EXPECT_THROW(DS().FieldByName(u"NAME").SetAsString(u"x"), tk::EDatabaseError);
  EXPECT_THROW(DS().Post(), tk::EDatabaseError);  // nothing to post in browse state
  DS().FieldByName(u"NAME").SetReadOnly(true);
  DS().Edit();
  EXPECT_THROW(DS().FieldByName(u"NAME").SetAsString(u"x"), tk::EDatabaseError);
  EXPECT_FALSE(DS().Modified());
  DS().FieldByName(u"ID").SetAsInteger(1);
  EXPECT_TRUE(DS().Modified());
}

}  // namespace
