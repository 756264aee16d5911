// Accessor on a small table of plain integers: the edit lock taken by Edit, waited for in
// 100 ms steps until the time-out and refused while another accessor edits the record; the
// write right; and the rule that a filtered count walks only tables below 10000 records.
#include <gtest/gtest.h>

#include "../tables/TableTestSupport.h"
#include "session/VdbAccessor.h"
#include "base/VdbErrorCodes.h"

namespace vdb {
namespace {

class TRejectAll final : public IVdbAccessorFilter {
 public:
  bool Accepts(TVdbAccessor&) override { return false; }
};

class AccessorEditTest : public ::testing::Test {
 protected:
  void Fill(std::int32_t records, std::uint16_t rights = 0x010F) {
    TVdbNewTable def;
    def.Path = u"/db/Ints";
    def.Capacity = 30000;
    def.Columns = {test::Column(u"N", vctInteger)};
    ASSERT_EQ(World.NewTableObject()->NewTable(def), 0) << VdbUtf16ToUtf8(World.LastError.Msg());
    {
      auto t = World.OpenTable(u"/db/Ints.vdbt");
      std::vector<std::uint8_t> record(static_cast<std::size_t>(t->GetRecordSize()));
      for (std::int32_t i = 1; i <= records; ++i) {
        test::SetInt(*t, record, 0, i);
        test::AppendRaw(*t, record);
      }
      t->Close();
    }
    Table = World.OpenTable(u"/db/Ints.vdbt", rights);
  }
  void TearDown() override {
    if (Table) Table->Close();
  }

  test::TTableWorld World;
  std::unique_ptr<TVdbBaseTable> Table;
};

TEST_F(AccessorEditTest, EditTakesTheRecordsLockAndWaitsForIt) {
  Fill(10);
  TVdbAccessor a(*Table, u"a");
  TVdbAccessor b(*Table, u"b");
  EXPECT_EQ(a.Edit(), -errRecordNotFound) << "no current record";
  ASSERT_EQ(a.GotoRecord(5), 0);
  ASSERT_EQ(a.Edit(), 0) << VdbUtf16ToUtf8(World.LastError.Msg());
  EXPECT_EQ(a.EditState(), esEdit);
  EXPECT_TRUE(a.IsEditing(5));
  std::vector<std::uint8_t> work(static_cast<std::size_t>(Table->GetRecordSize()));
  ASSERT_EQ(a.GetRecord(work), 0);
  EXPECT_EQ(test::GetInt(*Table, work, 0), 5) << "the work record is the stored record";

  ASSERT_EQ(b.GotoRecord(5), 0);
  const TVdbEditWait wait{World.Clock, World.Sleeper, 350};
  const std::int16_t refused = b.Edit(&wait);
  EXPECT_LT(refused, 0);
  EXPECT_EQ(b.EditState(), esBrowse);
  EXPECT_EQ(World.Sleeper.Calls(), 4u) << "100 ms steps until 350 ms have passed";

  // Released while b waits: b gets it on the next try.
  World.Sleeper.SetOnSleep([&](std::uint32_t) { static_cast<void>(a.Cancel()); });
  EXPECT_EQ(b.Edit(&wait), 0);
  EXPECT_EQ(a.EditState(), esBrowse);
  EXPECT_TRUE(b.IsEditing(5));
  World.Sleeper.SetOnSleep({});
  EXPECT_EQ(b.Cancel(), 0);
  EXPECT_FALSE(b.IsEditing(5));
}

TEST_F(AccessorEditTest, EditNeedsTheWriteRight) {
  Fill(3, 0x0001);
  TVdbAccessor a(*Table, u"a");
  ASSERT_EQ(a.GotoRecord(1), 0);
  EXPECT_EQ(a.Edit(), -errNoWritePermission);
  EXPECT_NE(World.LastError.Msg().find(u"Ints"), std::u16string::npos);
}

TEST_F(AccessorEditTest, FilteredCountsWalkOnlySmallTables) {
  struct TCase {
    std::int32_t Records;
    std::int32_t Count;
  };
  for (const TCase c : {TCase{50, 0}, TCase{9999, 0}, TCase{10000, -1}, TCase{20000, -1}}) {
    SCOPED_TRACE(c.Records);
    if (Table) Table->Close();
    Table.reset();
    for (const char16_t* f : {u"/db/Ints.vdbt"}) World.Fs.DeleteFile(f);
    Fill(c.Records);
    TVdbAccessor a(*Table, u"count");
    EXPECT_EQ(a.RecordCount(), c.Records);
    a.SetFilter(std::make_unique<TRejectAll>());
    EXPECT_EQ(a.RecordCount(), c.Count);
    EXPECT_EQ(a.First(), -errRecordNotFound);
  }
}

}  // namespace
}  // namespace vdb
