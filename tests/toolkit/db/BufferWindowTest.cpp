// The record-buffer window: what a link of a given size sees after scrolling, jumping,
// inserting, cancelling and deleting, and a random walk compared with a plain model.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "MemFixture.h"

namespace {

using testdb::Range;
using testdb::Window;

class BufferWindowTest : public ::testing::Test {
 protected:
  void Open(int rows, int window) {
    testdb::FillNumbered(DS, rows);
    Source.SetDataSet(&DS);
    Link.SetDataSource(&Source);
    Link.SetBufferCount(window);
    DS.Open();
  }
  int Id() { return DS.FieldByName(u"ID").AsInteger(); }

  tk::TMemDataSet DS;
  tk::TDataSource Source;
  testdb::TSpyLink Link;
};

TEST_F(BufferWindowTest, ScrollingFillsAndShiftsTheWindow) {
  Open(20, 5);
  EXPECT_EQ(Window(Link, DS), Range(1, 5));
  EXPECT_EQ(Link.ActiveRecord(), 0);
  for (int i = 0; i < 7; ++i) DS.Next();
  EXPECT_EQ(Id(), 8);
  EXPECT_EQ(Window(Link, DS), Range(4, 8));
  EXPECT_EQ(Link.ActiveRecord(), 4);
  DS.MoveBy(-6);
  EXPECT_EQ(Id(), 2);
  EXPECT_EQ(Window(Link, DS), Range(2, 6));
  EXPECT_EQ(Link.ActiveRecord(), 0);

  DS.Last();
  EXPECT_TRUE(DS.Eof());
  EXPECT_EQ(Window(Link, DS), Range(16, 20));
  EXPECT_EQ(Link.ActiveRecord(), 4);
  EXPECT_EQ(DS.MoveBy(3), 0);  // nothing after the last

  EXPECT_EQ(DS.MoveBy(-100), -19);
  EXPECT_TRUE(DS.Bof());
  EXPECT_EQ(Window(Link, DS), Range(1, 5));
  EXPECT_EQ(DS.RecNo(), 1);
}

TEST_F(BufferWindowTest, JumpsResyncCentredOnTheRecord) {
  Open(20, 5);
  DS.SetRecNo(10);
  EXPECT_EQ(Id(), 10);
  EXPECT_EQ(Window(Link, DS), Range(8, 12));
  EXPECT_EQ(Link.ActiveRecord(), 2);

  DS.Last();
  DS.Prior();
  const tk::TBookmark nineteen = DS.GetBookmark();
  DS.First();
  DS.GotoBookmark(nineteen);
  EXPECT_EQ(Id(), 19);
  // Centred as far as the end allows.
  EXPECT_EQ(Window(Link, DS), Range(16, 20));
  EXPECT_EQ(Link.ActiveRecord(), 3);
  EXPECT_TRUE(DS.BookmarkValid(nineteen));
  DS.Delete();
  EXPECT_FALSE(DS.BookmarkValid(nineteen));
  EXPECT_THROW(DS.GotoBookmark(nineteen), tk::EDatabaseError);
  EXPECT_EQ(Id(), 20);
}

TEST_F(BufferWindowTest, InsertShowsTheNewRowInPlaceAndCancelRestoresTheWindow) {
  Open(20, 5);
  DS.MoveBy(9);  // record 10, window 6..10
  ASSERT_EQ(Window(Link, DS), Range(6, 10));
  DS.Prior();  // record 9 on the fourth row
  DS.Insert();
  EXPECT_EQ(Link.ActiveRecord(), 3);
  EXPECT_EQ(Link.RecordCount(), 5);
  EXPECT_TRUE(DS.FieldByName(u"ID").IsNull());
  DS.Cancel();
  EXPECT_EQ(Id(), 9);
  EXPECT_EQ(Window(Link, DS), Range(6, 10));
  EXPECT_EQ(Link.ActiveRecord(), 3);

  DS.Insert();
  DS.FieldByName(u"ID").SetAsInteger(85);
  DS.Post();
  EXPECT_EQ(Id(), 85);
  EXPECT_EQ(Window(Link, DS), (std::vector<int>{6, 7, 8, 85, 9}));
  EXPECT_EQ(DS.RecNo(), 9);
  DS.Delete();
  EXPECT_EQ(Id(), 9);
  EXPECT_EQ(Window(Link, DS), Range(6, 10));
}

TEST_F(BufferWindowTest, ChangingTheWindowSizeKeepsTheCurrentRecord) {
  Open(30, 4);
  DS.MoveBy(14);  // record 15
  for (int size : {10, 3, 1, 7, 30, 2}) {
    SCOPED_TRACE(size);
    Link.SetBufferCount(size);
    EXPECT_EQ(Id(), 15);
    const std::vector<int> window = Window(Link, DS);
    EXPECT_EQ(static_cast<int>(window.size()), size == 30 ? 30 : size);
    EXPECT_EQ(window.at(static_cast<std::size_t>(Link.ActiveRecord())), 15);
    for (std::size_t i = 1; i < window.size(); ++i) EXPECT_EQ(window[i], window[i - 1] + 1);
  }
}

TEST_F(BufferWindowTest, TwoLinksOfDifferentSizesBothContainTheCurrentRecord) {
  Open(50, 10);
  testdb::TSpyLink small;
  small.SetBufferCount(3);
  small.SetDataSource(&Source);
  for (int step : {5, 9, -2, 20, -30, 7, 7, -1}) {
    DS.MoveBy(step);
    const std::vector<int> big = Window(Link, DS), little = Window(small, DS);
    EXPECT_EQ(big.at(static_cast<std::size_t>(Link.ActiveRecord())), Id());
    EXPECT_EQ(little.at(static_cast<std::size_t>(small.ActiveRecord())), Id());
    EXPECT_TRUE(std::search(big.begin(), big.end(), little.begin(), little.end()) != big.end());
  }
}

TEST_F(BufferWindowTest, FilterEventHidesRecordsFromWindowCountAndNavigation) {
  Open(20, 4);
  DS.SetFiltered(true);
  DS.SetOnFilterRecord([](tk::TDataSet& ds, bool& accept) { accept = ds.FieldByName(u"ID").AsInteger() % 3 == 0; });
  EXPECT_EQ(DS.RecordCount(), 6);
  EXPECT_FALSE(DS.IsSequenced());
  EXPECT_EQ(Window(Link, DS), (std::vector<int>{3, 6, 9, 12}));
  DS.Last();
  EXPECT_EQ(Window(Link, DS), (std::vector<int>{9, 12, 15, 18}));
  // A changed record that no longer passes leaves the view after posting.
  DS.Edit();
  DS.FieldByName(u"ID").SetAsInteger(19);
  DS.Post();
  EXPECT_EQ(DS.RecordCount(), 5);
  EXPECT_EQ(Id(), 15);
  DS.SetFiltered(false);
  EXPECT_EQ(DS.RecordCount(), 20);
  EXPECT_EQ(Id(), 1);
}

// A random walk over the dataset, compared after each step with a vector and a position;
// parameters: window size, and whether a filter event hides every third ID.
class BufferWindowRandomTest : public ::testing::TestWithParam<std::tuple<int, bool>> {};

TEST_P(BufferWindowRandomTest, WindowAlwaysMatchesTheModel) {
  const auto [window, filtered] = GetParam();
  const unsigned seed = 20261210u + static_cast<unsigned>(window) * 2 + (filtered ? 1 : 0);
  SCOPED_TRACE("seed " + std::to_string(seed) + ", window " + std::to_string(window) +
               (filtered ? ", filtered" : ""));
  std::mt19937 random(seed);
  tk::TMemDataSet ds;
  testdb::FillNumbered(ds, 40);
  auto passes = [filtered](int id) { return !filtered || id % 3 != 0; };
  if (filtered) {
    ds.SetOnFilterRecord([&](tk::TDataSet& d, bool& accept) { accept = passes(d.FieldByName(u"ID").AsInteger()); });
    ds.SetFiltered(true);
  }
  tk::TDataSource source;
  source.SetDataSet(&ds);
  testdb::TSpyLink link;
  link.SetDataSource(&source);
  link.SetBufferCount(window);
  ds.Open();
  std::vector<int> model;
  for (int id = 1; id <= 40; ++id)
    if (passes(id)) model.push_back(id);
  int position = 0, nextId = 1000;  // new IDs all pass: 1000, 1003, ... are not multiples of 3
  auto id = [&] { return ds.FieldByName(u"ID").AsInteger(); };
  for (int step = 0; step < 400; ++step) {
    const int op = static_cast<int>(random() % 10);
    const int n = static_cast<int>(model.size());
    SCOPED_TRACE("step " + std::to_string(step) + " op " + std::to_string(op));
    switch (op) {
      case 0: {
        const int by = static_cast<int>(random() % 15) - 7;
        ds.MoveBy(by);
        position = std::clamp(position + by, 0, n - 1);
        break;
      }
      case 1: ds.First(); position = 0; break;
      case 2: ds.Last(); position = n - 1; break;
      case 3: {
        const int recNo = 1 + static_cast<int>(random() % static_cast<unsigned>(n));
        ds.SetRecNo(recNo);
        position = recNo - 1;
        break;
      }
      case 4:
        ds.Insert();
        ds.FieldByName(u"ID").SetAsInteger(nextId);
        ds.Post();
        model.insert(model.begin() + position, nextId);
        nextId += 3;
        break;
      case 5:
        ds.Append();
        ds.FieldByName(u"ID").SetAsInteger(nextId);
        ds.Post();
        model.push_back(nextId);
        nextId += 3;
        position = static_cast<int>(model.size()) - 1;
        break;
      case 6:
        if (n > 5) {
          ds.Delete();
          model.erase(model.begin() + position);
          position = std::min(position, static_cast<int>(model.size()) - 1);
        }
        break;
      case 7:
        ds.Insert();
        ds.Cancel();
        break;
      case 8:
        link.SetBufferCount(1 + static_cast<int>(random() % static_cast<unsigned>(2 * window)));
        break;
      case 9:
        ds.Edit();
        ds.FieldByName(u"NAME").SetAsString(u"changed");
        if (random() % 2) {
          ds.Post();
        } else {
          ds.Cancel();
        }
        break;
    }
    ASSERT_EQ(id(), model[static_cast<std::size_t>(position)]);
    if (!filtered) {
      ASSERT_EQ(ds.RecNo(), position + 1);
    }
    ASSERT_EQ(ds.RecordCount(), static_cast<int>(model.size()));
    const std::vector<int> seen = Window(link, ds);
    ASSERT_EQ(seen.at(static_cast<std::size_t>(link.ActiveRecord())), id());
    ASSERT_EQ(static_cast<int>(seen.size()), std::min(link.BufferCount(), static_cast<int>(model.size())));
    const auto at = std::search(model.begin(), model.end(), seen.begin(), seen.end());
    ASSERT_TRUE(at != model.end()) << "window is not a run of consecutive records";
  }
}

INSTANTIATE_TEST_SUITE_P(Windows, BufferWindowRandomTest,
                         ::testing::Combine(::testing::Values(1, 2, 5, 13), ::testing::Bool()));

// Fails the Nth record fetch, as a lost connection would: whichever operation meets it raises
// the error, and afterwards the dataset still works and its window is whole again.
class TFlakyMem : public tk::TMemDataSet {
 public:
  int FailAt = 0;  // 0: never
  int Fetches = 0;

 protected:
  tk::TGetResult GetRecord(tk::TRecordBuffer& buffer, tk::TGetMode mode, bool doCheck) override {
    if (++Fetches == FailAt) tk::DatabaseError(u"Fetching record");
    return tk::TMemDataSet::GetRecord(buffer, mode, doCheck);
  }
};

TEST(BufferWindowFaultTest, AFailedFetchAnywhereLeavesAUsableDataSet) {
  const std::vector<std::function<void(tk::TDataSet&)>> script = {
      [](tk::TDataSet& ds) { ds.Open(); },
      [](tk::TDataSet& ds) { ds.MoveBy(7); },
      [](tk::TDataSet& ds) { ds.Last(); },
      [](tk::TDataSet& ds) { ds.SetRecNo(20); },
      [](tk::TDataSet& ds) {
        ds.Insert();
        ds.FieldByName(u"ID").SetAsInteger(500);
        ds.Post();
      },
      [](tk::TDataSet& ds) { ds.Delete(); },
      [](tk::TDataSet& ds) { ds.MoveBy(-9); },
      [](tk::TDataSet& ds) {
        ds.Append();
        ds.Cancel();
      },
      [](tk::TDataSet& ds) { ds.Refresh(); },
  };
  int failures = 0;
  for (int failAt = 1;; ++failAt) {
    SCOPED_TRACE("fetch " + std::to_string(failAt));
    TFlakyMem ds;
    testdb::FillNumbered(ds, 40);
    tk::TDataSource source;
    source.SetDataSet(&ds);
    testdb::TSpyLink link;
    link.SetBufferCount(6);
    link.SetDataSource(&source);
    ds.FailAt = failAt;
    bool failed = false;
    for (const auto& step : script) {
      try {
        step(ds);
      } catch (const tk::EDatabaseError& e) {
        EXPECT_EQ(e.Message(), u"Fetching record");
        failed = true;
        break;
      }
    }
    if (!failed) break;  // the script needs fewer fetches than this: every point was hit
    ++failures;
    ds.FailAt = 0;
    // Right after the failure the window is readable and holds the active record.
    if (ds.Active() && link.RecordCount() > 0) {
      EXPECT_NO_THROW(Window(link, ds));
      EXPECT_LT(link.ActiveRecord(), link.RecordCount());
    }
    if (!ds.Active()) {
      EXPECT_FALSE(link.Active());
      ds.Open();
    }
    if (ds.State() != tk::TDataSetState::dsBrowse) ds.Cancel();
    ds.First();
    ds.MoveBy(3);
    const std::vector<int> seen = Window(link, ds);
    ASSERT_EQ(seen.size(), 6u);
    EXPECT_EQ(seen.at(static_cast<std::size_t>(link.ActiveRecord())), ds.FieldByName(u"ID").AsInteger());
    for (std::size_t i = 1; i < seen.size(); ++i)
      if (seen[i - 1] != 500 && seen[i] != 500) {
        EXPECT_EQ(seen[i], seen[i - 1] + 1);
      }
  }
  EXPECT_GT(failures, 20);
}

}  // namespace
