// Writing through accessors, cursors and the catalog: Post of an append and of an edit with
// pending memo values, Delete with every other cursor following the moved record, emptying
// through a cursor, and catalog transactions (nesting refused, ending refused while a read
// lock is held, rollback of everything the session changed).
#include <gtest/gtest.h>

#include <algorithm>

#include "../tables/WriteTestSupport.h"
#include "session/VdbCatalog.h"
#include "session/VdbCursor.h"
#include "base/VdbErrorCodes.h"
#include "sql/VdbSqlCompiler.h"

namespace vdb {
namespace {

using test::TTown;

class AccessorWriteTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(World.NewTableObject()->NewTable(test::TownsDefinition(u"/db/Towns")), 0);
    Table = World.OpenTable(u"/db/Towns.vdbt", 0x010F);
    for (int i = 1; i <= 10; ++i) {
      ASSERT_EQ(test::AppendTown(*Table, u"T" + VdbUtf8ToUtf16(std::to_string(i)), 10 * i), i);
    }
  }
  // Puts `text` as the pending value of the note.
  static void SetNote(TVdbAccessor& a, std::string_view text) {
    ASSERT_EQ(a.InitSetBlob(test::tcNote + 1, static_cast<std::int32_t>(text.size())), 0);
    ASSERT_EQ(a.SetBlobChunk(0, std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size())), 0);
    a.DoneSetBlob();
  }

  test::TTableWorld World;
  std::unique_ptr<TVdbBaseTable> Table;
};

TEST_F(AccessorWriteTest, PostStoresAnAppendWithItsNoteAndMakesItCurrent) {
  TVdbAccessor a(*Table, u"a");
  ASSERT_EQ(a.Append(), 0);
  std::vector<std::uint8_t> record = test::TownRecord(*Table, u"New", 110);
  ASSERT_EQ(Table->SetAutoNum(record), 0);
  ASSERT_EQ(a.SetRecord(record), 0);
  SetNote(a, "posted note");
  ASSERT_EQ(a.Post(), 0) << VdbUtf16ToUtf8(World.LastError.Msg());
  EXPECT_EQ(a.EditState(), esBrowse);
  EXPECT_EQ(a.RecordNo(), 11);
  EXPECT_TRUE(a.PendingBlobs().empty());
  EXPECT_EQ(test::TownsState(*Table).back(), (TTown{11, u"New", 110, "posted note"}));
  EXPECT_EQ(a.Post(), -errRecordNotFound);
}

TEST_F(AccessorWriteTest, PostOfAnEditReplacesTheRecordAndEndsItsEditLock) {
  TVdbAccessor a(*Table, u"a");
  ASSERT_EQ(a.SetAccess(Table->GetIndexNo(u"ByCode")), 0);
  ASSERT_EQ(a.GotoRecord(4), 0);
  ASSERT_EQ(a.Edit(), 0);
  std::vector<std::uint8_t> record(static_cast<std::size_t>(Table->GetRecordSize()));
  ASSERT_EQ(a.GetRecord(record), 0);
  test::SetInt(*Table, record, test::tcCode, 5);
  ASSERT_EQ(a.SetRecord(record), 0);
  SetNote(a, "edited");
  ASSERT_EQ(a.Post(), 0) << VdbUtf16ToUtf8(World.LastError.Msg());
  EXPECT_EQ(Table->Locks().CountEditLocks(), 0);
  EXPECT_EQ(a.RecordNo(), 4);
  EXPECT_EQ(test::TownsState(*Table)[3], (TTown{4, u"T4", 5, "edited"}));
  // Now first in code order.
  ASSERT_EQ(a.First(), 0);
  EXPECT_EQ(a.RecordNo(), 4);
}

TEST_F(AccessorWriteTest, RefusedPostKeepsTheEditForCorrection) {
  TVdbAccessor a(*Table, u"a");
  ASSERT_EQ(a.GotoRecord(2), 0);
  ASSERT_EQ(a.Edit(), 0);
  std::vector<std::uint8_t> record(static_cast<std::size_t>(Table->GetRecordSize()));
  ASSERT_EQ(a.GetRecord(record), 0);
  test::SetInt(*Table, record, test::tcCode, 30);  // record 3's code
  ASSERT_EQ(a.SetRecord(record), 0);
  EXPECT_EQ(a.Post(), -errNotUnique);
  EXPECT_EQ(a.EditState(), esEdit);
  test::SetInt(*Table, record, test::tcCode, 31);
  ASSERT_EQ(a.SetRecord(record), 0);
  EXPECT_EQ(a.Post(), 0);
  EXPECT_EQ(test::TownsState(*Table)[1].Code, 31);
}

TEST_F(AccessorWriteTest, DeleteThroughOneCursorMovesTheOtherFromTheLastRecord) {
  TVdbCursor deleter(1, *Table, 1, u"deleter");
  TVdbCursor watcher(2, *Table, 1, u"watcher");
  ASSERT_EQ(deleter.Open(), 0);
  ASSERT_EQ(watcher.Open(), 0);
  std::vector<std::string> told;
  watcher.SetChangeProc([&](std::int16_t hdl, std::int32_t d, std::int32_t m) {
    told.push_back(std::to_string(hdl) + ":" + std::to_string(d) + "<-" + std::to_string(m));
  });
  ASSERT_EQ(watcher.SetRecordNo(10), 10);
  ASSERT_EQ(deleter.SetRecordNo(3), 3);
  ASSERT_EQ(deleter.Delete(), 0) << VdbUtf16ToUtf8(World.LastError.Msg());
  EXPECT_EQ(watcher.GetRecordNo(), 3);
  std::vector<std::uint8_t> record(static_cast<std::size_t>(Table->GetRecordSize()));
  ASSERT_EQ(watcher.GetRecord(record), 0);
  EXPECT_EQ(test::GetText(*Table, record, test::tcName), u"T10");
  EXPECT_EQ(Table->GetRecordCount(), 9);
  // The deleting cursor stays on the number, which now holds the moved record.
  EXPECT_EQ(deleter.GetRecordNo(), 3);
  // Deleting the last record moves nothing.
  ASSERT_EQ(watcher.SetRecordNo(9), 9);
  ASSERT_EQ(watcher.Delete(), 0);
  EXPECT_EQ(Table->GetRecordCount(), 8);
  EXPECT_EQ(test::Problems(Table->VerifyTable()), "");
  ASSERT_EQ(deleter.Close(), 0);
  ASSERT_EQ(watcher.Close(), 0);
}

TEST_F(AccessorWriteTest, DeletesInARowTakeTheRecordsTheCursorLandsOn) {
  TVdbAccessor deleter(*Table, u"deleter");
  TVdbAccessor other(*Table, u"other");
  ASSERT_EQ(deleter.SetAccess(Table->GetIndexNo(u"ByCode")), 0);
  ASSERT_EQ(deleter.GotoRecord(4), 0);
  ASSERT_EQ(other.GotoRecord(4), 0);
  ASSERT_EQ(deleter.Delete(), 0);
  ASSERT_EQ(deleter.Delete(), 0) << VdbUtf16ToUtf8(World.LastError.Msg());
  ASSERT_EQ(deleter.Delete(), 0) << VdbUtf16ToUtf8(World.LastError.Msg());
  EXPECT_EQ(Table->GetRecordCount(), 7);
  // Codes 40, 50 and 60 went, in code order.
  std::vector<std::int64_t> codes;
  for (const TTown& town : test::TownsState(*Table)) codes.push_back(town.Code);
  std::sort(codes.begin(), codes.end());
  EXPECT_EQ(codes, (std::vector<std::int64_t>{10, 20, 30, 70, 80, 90, 100}));
  // Another cursor whose record went is still told so.
  EXPECT_EQ(other.Delete(), -errRecordNotFound);
  EXPECT_EQ(test::Problems(Table->VerifyTable()), "");
}

TEST_F(AccessorWriteTest, DeleteOfARecordAnotherCursorEditsIsRefused) {
  TVdbAccessor editor(*Table, u"editor");
  TVdbAccessor deleter(*Table, u"deleter");
  ASSERT_EQ(editor.GotoRecord(5), 0);
  ASSERT_EQ(editor.Edit(), 0);
  ASSERT_EQ(deleter.GotoRecord(5), 0);
  EXPECT_EQ(deleter.Delete(), -errRecordLocked);
  EXPECT_EQ(deleter.RecordNo(), 5);
  EXPECT_EQ(Table->GetRecordCount(), 10);
  ASSERT_EQ(editor.Cancel(), 0);
}

TEST_F(AccessorWriteTest, EmptyThroughACursorGivesTheFormerCount) {
  TVdbCursor c(1, *Table, 1, u"c");
  ASSERT_EQ(c.Open(), 0);
  EXPECT_EQ(c.Empty(), 10);
  EXPECT_EQ(Table->GetRecordCount(), 0);
  EXPECT_EQ(c.First(), -11);
  ASSERT_EQ(c.Close(), 0);
}

// ---- catalog transactions

class CatalogTransactionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(World.NewTableObject()->NewTable(test::TownsDefinition(u"/db/Towns")), 0);
    {
      auto t = World.OpenTable(u"/db/Towns.vdbt");
      for (int i = 1; i <= 5; ++i) ASSERT_EQ(test::AppendTown(*t, u"T" + VdbUtf8ToUtf16(std::to_string(i)), 10 * i, "n"), i);
    }
    ASSERT_EQ(Catalog.Open(World.Fs), 0);
    Slot = Catalog.OpenTable(u"Towns", u"", 0x000F);
    ASSERT_GT(Slot, 0) << VdbUtf16ToUtf8(World.LastError.Msg());
    Table = dynamic_cast<TVdbBaseTable*>(Catalog.GetRelation(Slot));
    ASSERT_NE(Table, nullptr);
  }
  void TearDown() override { EXPECT_EQ(Catalog.Close(), 0); }

  test::TTableWorld World;
  TVdbCatalog Catalog{World.PageManager, World.LastError, TvuServices{World.Clock, World.Sleeper, World.Random}, 2,
                      &VdbSqlCompiler()};
  bool Located = [this] {
    Catalog.SetLocation(u"/db/");
    return true;
  }();
  TVdbRltnIdx Slot = 0;
  TVdbBaseTable* Table = nullptr;
};

TEST_F(CatalogTransactionTest, NestedTransactionIsRefused) {
  ASSERT_EQ(Catalog.BeginTransaction(), 0);
  EXPECT_TRUE(Catalog.InTransaction());
  EXPECT_EQ(Catalog.BeginTransaction(), -errTransactionRunning);
  EXPECT_EQ(Catalog.EndTransaction(true), 0);
  EXPECT_FALSE(Catalog.InTransaction());
  EXPECT_EQ(Catalog.EndTransaction(true), 0);  // none running: nothing happens
}

TEST_F(CatalogTransactionTest, RollbackRestoresEverythingTheSessionChanged) {
  const auto before = test::TownsState(*Table);
  TVdbCursor c(1, *Table, Slot, u"c");
  ASSERT_EQ(c.Open(), 0);
  ASSERT_EQ(Catalog.BeginTransaction(), 0);
  ASSERT_EQ(test::AppendTown(*Table, u"New", 60, "new note"), 6);
  ASSERT_EQ(c.SetRecordNo(2), 2);
  ASSERT_EQ(c.Delete(), 0);
  EXPECT_EQ(c.Empty(), 5);
  ASSERT_EQ(Catalog.EndTransaction(false), 0) << VdbUtf16ToUtf8(World.LastError.Msg());
  EXPECT_EQ(test::TownsState(*Table), before);
  EXPECT_EQ(test::Problems(Table->VerifyTable()), "");
  ASSERT_EQ(c.Close(), 0);
}

TEST_F(CatalogTransactionTest, EndingWhileACursorHoldsAReadLockFailsAndKeepsTheTransaction) {
  ASSERT_EQ(Catalog.BeginTransaction(), 0);
  ASSERT_EQ(test::AppendTown(*Table, u"New", 60), 6);
  ASSERT_EQ(Table->BeginRead(true), 0);
  EXPECT_EQ(Catalog.EndTransaction(true), -errTableHasLocks);
  EXPECT_NE(World.LastError.Msg().find(u"Towns"), std::u16string::npos);
  EXPECT_TRUE(Catalog.InTransaction());
  EXPECT_TRUE(Table->HasRedoLog());
  ASSERT_EQ(Table->EndRead(), 0);
  ASSERT_EQ(Catalog.EndTransaction(false), 0);
  EXPECT_EQ(Table->GetRecordCount(), 5);
}

TEST_F(CatalogTransactionTest, CommitKeepsTheChanges) {
  ASSERT_EQ(Catalog.BeginTransaction(), 0);
  ASSERT_EQ(test::AppendTown(*Table, u"New", 60, "kept"), 6);
  ASSERT_EQ(Catalog.EndTransaction(true), 0);
  EXPECT_FALSE(Table->HasRedoLog());
  EXPECT_FALSE(World.Fs.FileExists(u"/db/Towns.vdbr"));
  EXPECT_EQ(test::TownsState(*Table).back(), (TTown{6, u"New", 60, "kept"}));
}

}  // namespace
}  // namespace vdb
