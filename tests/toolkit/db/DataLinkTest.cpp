// What data links hear: notifications counted with a spy link, the nesting counter of
// DisableControls, the write-back of field links and the lifetime of sources and links.
#include <gtest/gtest.h>

#include <memory>

#include "MemFixture.h"

namespace {

using Log = std::vector<std::string>;

class DataLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testdb::FillNumbered(DS, 10);
    Source.SetDataSet(&DS);
    Link.SetDataSource(&Source);
    Link.SetBufferCount(4);
  }

  tk::TMemDataSet DS;
  tk::TDataSource Source;
  testdb::TSpyLink Link;
};

TEST_F(DataLinkTest, EachOperationSendsItsNotifications) {
  struct TCase {
    const char* Name;
    std::function<void()> Run;
    Log Expected;
  };
  const std::vector<TCase> cases = {
      {"open", [&] { DS.Open(); }, {"active"}},
      {"next inside the window", [&] { DS.Next(); }, {"check", "scrolled 0"}},
      {"next past the window scrolls one row", [&] { DS.MoveBy(3); }, {"check", "scrolled 1"}},
      {"prior back into the window", [&] { DS.Prior(); }, {"check", "scrolled 0"}},
      {"edit", [&] { DS.Edit(); }, {"check", "editing", "record"}},
      {"field change", [&] { DS.FieldByName(u"NAME").SetAsString(u"x"); }, {"record NAME"}},
      {"post", [&] { DS.Post(); }, {"update", "check", "browsing", "changed"}},
      {"last", [&] { DS.Last(); }, {"check", "changed"}},
      {"insert", [&] { DS.Insert(); }, {"check", "editing", "changed"}},
      {"cancel", [&] { DS.Cancel(); }, {"check", "browsing", "changed"}},
      {"delete", [&] { DS.Delete(); }, {"check", "changed"}},
      {"refresh", [&] { DS.Refresh(); }, {"check", "changed"}},
      {"close", [&] { DS.Close(); }, {"inactive"}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Name);
    Link.Clear();
    c.Run();
    EXPECT_EQ(Link.Log, c.Expected);
  }
}

TEST_F(DataLinkTest, DisabledControlsHearOneRefreshWhenEnabledAgain) {
  DS.Open();
  Link.Clear();
  DS.DisableControls();
  DS.DisableControls();
  DS.MoveBy(5);
  DS.Edit();
  DS.FieldByName(u"NAME").SetAsString(u"quiet");
  DS.Post();
  DS.Last();
  DS.EnableControls();
  EXPECT_TRUE(Link.Log.empty());  // still nested once
  DS.EnableControls();
  EXPECT_EQ(Link.Log, Log{"changed"});
  Link.Clear();
  DS.EnableControls();  // unbalanced: no effect
  EXPECT_TRUE(Link.Log.empty());

  // Closed and reopened while disabled: the fields may be new, so a layout change.
  DS.DisableControls();
  DS.Close();
  DS.Open();
  DS.EnableControls();
  EXPECT_EQ(Link.Log, Log{"layout"});

  // Closed while disabled and left closed: the controls go inactive.
  Link.Clear();
  DS.DisableControls();
  DS.Close();
  DS.EnableControls();
  EXPECT_EQ(Link.Log, Log{"inactive"});
}

TEST_F(DataLinkTest, PendingControlEditsAreWrittenBeforeTheRecordIsLeft) {
  DS.Open();
  Link.OnUpdate = [&] { DS.FieldByName(u"NAME").SetAsString(u"from the control"); };
  DS.Edit();
  Link.Clear();
  DS.Next();  // writes the control's text, then posts because it changed something
  EXPECT_EQ(Link.Log, (Log{"check", "update", "update", "check", "browsing", "changed", "scrolled 0"}));
  EXPECT_EQ(DS.Row(0)[1], tk::TFieldValue(std::u16string(u"from the control")));
}

TEST_F(DataLinkTest, FieldLinkFollowsItsFieldAndWritesBack) {
  tk::TFieldDataLink field;
  int shown = 0, editing = 0;
  std::u16string control;
  field.OnDataChange = [&] {
    ++shown;
    control = field.Field() ? field.Field()->AsString() : u"";
  };
  field.OnEditingChange = [&] { ++editing; };
  field.OnUpdateData = [&] { field.Field()->SetAsString(control); };
  field.SetFieldName(u"NAME");
  field.SetDataSource(&Source);
  EXPECT_EQ(field.Field(), nullptr);
  DS.Open();
  ASSERT_NE(field.Field(), nullptr);
  EXPECT_EQ(control, u"Name 1");
  DS.Next();
  EXPECT_EQ(control, u"Name 2");

  // Other fields' changes are not this link's business.
  DS.Edit();
  shown = 0;
  DS.FieldByName(u"ID").SetAsInteger(22);
  EXPECT_EQ(shown, 0);

  // The control's edit goes back at post; its own write does not echo back into it.
  ASSERT_TRUE(field.Edit());
  control = u"typed";
  field.Modified();
  shown = 0;
  DS.Post();
  EXPECT_EQ(DS.Row(1)[1], tk::TFieldValue(std::u16string(u"typed")));
  EXPECT_EQ(editing, 2);
  EXPECT_FALSE(field.IsModified());

  // A read-only field cannot be edited through the link.
  DS.FieldByName(u"NAME").SetReadOnly(true);
  EXPECT_FALSE(field.Edit());
  EXPECT_EQ(DS.State(), tk::TDataSetState::dsBrowse);
  DS.Close();
  EXPECT_EQ(field.Field(), nullptr);
}

TEST_F(DataLinkTest, AutoEditAndDisabledSourcesControlTheLinks) {
  DS.Open();
  Source.AutoEdit = false;
  EXPECT_FALSE(Link.Edit());
  EXPECT_EQ(DS.State(), tk::TDataSetState::dsBrowse);
  Source.AutoEdit = true;
  EXPECT_TRUE(Link.Edit());
  DS.Cancel();

  Link.Clear();
  Source.SetEnabled(false);
  EXPECT_FALSE(Link.Active());
  DS.Next();
  EXPECT_EQ(Link.Log, Log{"inactive"});
  Source.SetEnabled(true);
  EXPECT_TRUE(Link.Active());
}

TEST_F(DataLinkTest, SourcesAndLinksMayGoFirstInEitherOrder) {
  {
    auto ds = std::make_unique<tk::TMemDataSet>();
    testdb::FillNumbered(*ds, 3);
    tk::TDataSource source;
    source.SetDataSet(ds.get());
    testdb::TSpyLink link;
    link.SetDataSource(&source);
    ds->Open();
    ds.reset();  // the dataset goes first
    EXPECT_FALSE(link.Active());
    EXPECT_EQ(source.DataSet(), nullptr);
  }
  {
    tk::TMemDataSet ds;
    testdb::FillNumbered(ds, 3);
    auto source = std::make_unique<tk::TDataSource>();
    source->SetDataSet(&ds);
    testdb::TSpyLink link;
    link.SetDataSource(source.get());
    ds.Open();
    source.reset();  // the source goes first
    EXPECT_FALSE(link.Active());
    EXPECT_EQ(link.DataSource(), nullptr);
    ds.Next();  // nobody left to tell
  }
  {
    tk::TMemDataSet ds;
    testdb::FillNumbered(ds, 3);
    tk::TDataSource source;
    source.SetDataSet(&ds);
    auto link = std::make_unique<testdb::TSpyLink>();
    link->SetDataSource(&source);
    ds.Open();
    link.reset();  // the link goes first
    ds.Next();
  }
}

TEST_F(DataLinkTest, StateChangeAndDataChangeReachTheSourceHandlers) {
  std::vector<tk::TDataSetState> states;
  int dataChanges = 0;
  Source.OnStateChange = [&](tk::TDataSource& s) { states.push_back(s.State()); };
  Source.OnDataChange = [&](tk::TDataSource&, tk::TField*) { ++dataChanges; };
  DS.Open();
  DS.Edit();
  DS.Cancel();
  DS.Next();
  DS.Close();
  EXPECT_EQ(states, (std::vector<tk::TDataSetState>{tk::TDataSetState::dsBrowse, tk::TDataSetState::dsEdit,
                                                    tk::TDataSetState::dsBrowse, tk::TDataSetState::dsInactive}));
  EXPECT_EQ(dataChanges, 3);  // edit (record), cancel (window), next (scroll)
}

}  // namespace

namespace {

// A dataset with one key buffer, edited in set-key state as a table's search key is.
class TKeyedMem : public tk::TMemDataSet {
 public:
  void SetKey() { BeginSetKey(); }
  std::vector<tk::TFieldValue> AppliedKey;
  int Applied = 0, Dropped = 0;

 protected:
  std::unique_ptr<tk::TRecordBuffer> AllocRecordBuffer() override {
    auto buffer = tk::TMemDataSet::AllocRecordBuffer();
    if (!FKey) {
      FKey = tk::TMemDataSet::AllocRecordBuffer();
      InternalInitRecord(*FKey);
    }
    return buffer;
  }
  tk::TRecordBuffer* KeyBuffer() override { return FKey.get(); }
  void InternalPostKey(bool apply) override {
    (apply ? Applied : Dropped)++;
    if (apply) AppliedKey = {FieldByName(u"ID").Value(), FieldByName(u"NAME").Value()};
  }

 private:
  std::unique_ptr<tk::TRecordBuffer> FKey;
};

TEST(SetKeyStateTest, FieldsEditTheKeyBufferAndTheRecordStaysAlone) {
  TKeyedMem ds;
  testdb::FillNumbered(ds, 5);
  tk::TDataSource source;
  source.SetDataSet(&ds);
  testdb::TSpyLink link;
  link.SetBufferCount(3);
  link.SetDataSource(&source);
  ds.Open();
  ds.MoveBy(2);
  ds.SetKey();
  EXPECT_EQ(ds.State(), tk::TDataSetState::dsSetKey);
  EXPECT_EQ(link.RecordCount(), 1);  // controls show the key only
  EXPECT_TRUE(ds.FieldByName(u"ID").IsNull());
  ds.FieldByName(u"NAME").SetReadOnly(true);  // read-only fields still take key values
  ds.FieldByName(u"NAME").SetAsString(u"Name 4");
  ds.FieldByName(u"ID").SetAsInteger(4);
  ds.Post();
  EXPECT_EQ(ds.State(), tk::TDataSetState::dsBrowse);
  EXPECT_EQ(ds.Applied, 1);
  EXPECT_EQ(ds.AppliedKey[1], tk::TFieldValue(std::u16string(u"Name 4")));
  EXPECT_EQ(ds.FieldByName(u"ID").AsInteger(), 3);  // the record did not change
  EXPECT_EQ(std::get<std::int64_t>(ds.Row(2)[0]), 3);
  ds.SetKey();
  ds.Cancel();
  EXPECT_EQ(ds.Dropped, 1);
  // Leaving set-key state by navigation applies the key first.
  ds.SetKey();
  ds.Next();
  EXPECT_EQ(ds.Applied, 2);
  EXPECT_EQ(ds.FieldByName(u"ID").AsInteger(), 4);
}

}  // namespace
