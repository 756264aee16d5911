// The record write path of the stored table: appends, replaces and deletes keep every index
// and the memo file in step; a delete moves the last record into the gap and every cursor
// follows; refused writes (uniqueness, a failed index move) leave the table as it was;
// transactions roll back through the redo log, whose binary form is pinned here, and a log
// left by a dead writer is replayed when the table is next opened.
#include <gtest/gtest.h>

#include "WriteTestSupport.h"
#include "session/VdbAccessor.h"
#include "base/VdbErrorCodes.h"
#include "storage/VdbTreeBase.h"
#include "base/vuLittleEndian.h"

namespace vdb {
namespace {

using test::TTown;

class TEvents final : public IRelationListener {
 public:
  std::u16string GetTag() const override { return u"events"; }
  void RecordDeleted(std::int32_t d, std::int32_t m) override { Log.push_back("deleted " + std::to_string(d) + " " + std::to_string(m)); }
  void RecordChanged(std::int32_t r) override { Log.push_back("changed " + std::to_string(r)); }
  void RelationChanged() override { Log.push_back("relation changed"); }
  void RelationEmptied() override { Log.push_back("emptied"); }
  void CanRemoveIndex(TVdbIndexNo, bool&) override {}
  void IndexRemoved(TVdbIndexNo) override {}
  bool IsEditing(std::int32_t) const override { return false; }
  std::vector<std::string> Log;
};

class RecordWriteTest : public ::testing::Test {
 protected:
  // Towns "T1".."Tn" with codes 10, 20, ... and notes "note 1".. on the odd ones.
  std::unique_ptr<TVdbBaseTable> MakeTowns(int n, std::uint16_t rights = 0x010F) {
    EXPECT_EQ(World.NewTableObject()->NewTable(test::TownsDefinition(u"/db/Towns")), 0)
        << VdbUtf16ToUtf8(World.LastError.Msg());
    auto t = World.OpenTable(u"/db/Towns.vdbt", rights);
    for (int i = 1; i <= n; ++i) {
      const std::string note = i % 2 == 1 ? "note " + std::to_string(i) : std::string();
      EXPECT_EQ(test::AppendTown(*t, u"T" + VdbUtf8ToUtf16(std::to_string(i)), 10 * i, note), i)
          << VdbUtf16ToUtf8(World.LastError.Msg());
    }
    return t;
  }
  void ExpectSound(TVdbBaseTable& t) { EXPECT_EQ(test::Problems(t.VerifyTable()), ""); }

  test::TTableWorld World;
};

TEST_F(RecordWriteTest, NewRecordDatesStartAtTheFirstDayUnlessNullable) {
  TVdbNewTable def;
  def.Path = u"/db/Dates";
  def.Columns = {test::Column(u"Day", vctDate), test::Column(u"Stamp", vctTimeStamp),
                 test::Column(u"Maybe", vctDate, 0, true), test::Column(u"MaybeStamp", vctTimeStamp, 0, true)};
  ASSERT_EQ(World.NewTableObject()->NewTable(def), 0) << VdbUtf16ToUtf8(World.LastError.Msg());
  auto t = World.OpenTable(u"/db/Dates.vdbt");
  std::vector<std::uint8_t> record(static_cast<std::size_t>(t->GetRecordSize()), 0xAB);
  t->InitRecord(record, false);
  auto value = [&](int col) {
    const TVdbColumnDef& c = t->ColumnDefs().GetColumnDef(col);
    TVdbDataValue v;
    c.DataType()->SetReference(v, record, static_cast<std::size_t>(c.Position()));
    return std::pair(c.DataType(), v);
  };
  auto [dayType, day] = value(0);
  EXPECT_EQ(dayType->GetDate(day), 545);
  auto [stampType, stamp] = value(1);
  EXPECT_EQ(stampType->GetTimeStamp(stamp), (TVdbTimeStamp{545, 0}));
  for (int col : {2, 3}) {
    auto [type, v] = value(col);
    EXPECT_TRUE(type->IsNull(v)) << col;
  }
}

TEST_F(RecordWriteTest, AppendStoresRecordIndexEntriesAndNote) {
  auto t = MakeTowns(3);
  const auto state = test::TownsState(*t);
  ASSERT_EQ(state.size(), 3u);
  EXPECT_EQ(state[0], (TTown{1, u"T1", 10, "note 1"}));
  EXPECT_EQ(state[1], (TTown{2, u"T2", 20, ""}));
  EXPECT_EQ(test::IndexRecNos(*t, t->GetIndexNo(u"ByCode")), (std::vector<std::int32_t>{1, 2, 3}));
  ExpectSound(*t);
}

TEST_F(RecordWriteTest, DeleteMovesTheLastRecordIntoTheGapAndEveryCursorFollows) {
  auto t = MakeTowns(10);
  TEvents events;
  t->AddAccessor(events);
  TVdbAccessor onTen(*t, u"a");
  TVdbAccessor onFive(*t, u"b");
  ASSERT_EQ(onTen.GotoRecord(10), 0);
  ASSERT_EQ(onFive.SetAccess(t->GetIndexNo(u"ByCode")), 0);
  ASSERT_EQ(onFive.GotoRecord(5), 0);
  const TTown tenth = test::TownsState(*t)[9];

  std::vector<std::uint8_t> record(static_cast<std::size_t>(t->GetRecordSize()));
  ASSERT_EQ(t->ReadRecord(3, record), 0);
  ASSERT_EQ(t->DeleteRecord(record, 3), 0) << VdbUtf16ToUtf8(World.LastError.Msg());

  EXPECT_EQ(t->GetRecordCount(), 9);
  EXPECT_EQ(test::TownsState(*t)[2], tenth);
  EXPECT_EQ(events.Log.back(), "deleted 3 10");
  EXPECT_EQ(onTen.RecordNo(), 3);
  EXPECT_EQ(onFive.RecordNo(), 5);
  // In code order the former record 10 (code 100) is still last, now as record 3.
  EXPECT_EQ(test::IndexRecNos(*t, t->GetIndexNo(u"ByCode")), (std::vector<std::int32_t>{1, 2, 4, 5, 6, 7, 8, 9, 3}));
  ExpectSound(*t);

  ASSERT_EQ(t->ReadRecord(9, record), 0);
  ASSERT_EQ(t->DeleteRecord(record, 9), 0);
  EXPECT_EQ(events.Log.back(), "deleted 9 0");
  EXPECT_EQ(t->GetRecordCount(), 8);
  ExpectSound(*t);
  t->RemoveAccessor(events);
}

TEST_F(RecordWriteTest, DeleteOutsideTheTableChangesNothing) {
  auto t = MakeTowns(2);
  std::vector<std::uint8_t> record(static_cast<std::size_t>(t->GetRecordSize()));
  for (std::int32_t recNo : {0, 3, -1}) {
    EXPECT_EQ(t->DeleteRecord(record, recNo), -errRecordNotFound) << recNo;
  }
  EXPECT_EQ(t->GetRecordCount(), 2);
}

TEST_F(RecordWriteTest, UniquenessViolationLeavesTableAndIndexesUnchanged) {
  auto t = MakeTowns(8);
  const auto before = test::TownsState(*t);
  const TVdbIndexNo byName = t->GetIndexNo(u"ByName");
  const TVdbIndexNo byCode = t->GetIndexNo(u"ByCode");
  const auto nameOrder = test::IndexRecNos(*t, byName);
  const auto codeOrder = test::IndexRecNos(*t, byCode);

  // An append whose code equals record 7's; then record 2 changed to record 7's code.
  EXPECT_EQ(test::AppendTown(*t, u"Aaa", 70, "a note"), -errNotUnique);
  EXPECT_EQ(World.LastError.Code(), errNotUnique);
  std::vector<std::uint8_t> record(static_cast<std::size_t>(t->GetRecordSize()));
  ASSERT_EQ(t->ReadRecord(2, record), 0);
  std::vector<std::uint8_t> changed = record;
  test::SetInt(*t, changed, test::tcCode, 70);
  test::SetText(*t, changed, test::tcName, u"Zzz");
  EXPECT_EQ(t->ReplaceRecord(changed, record, test::NoteBlob("x"), 2), -errNotUnique);

  EXPECT_EQ(test::TownsState(*t), before);
  EXPECT_EQ(test::IndexRecNos(*t, byName), nameOrder);
  EXPECT_EQ(test::IndexRecNos(*t, byCode), codeOrder);
  ExpectSound(*t);
}

TEST_F(RecordWriteTest, ReplaceMovesChangedKeysAndKeepsOrFreesNotes) {
  auto t = MakeTowns(4);
  std::vector<std::uint8_t> record(static_cast<std::size_t>(t->GetRecordSize()));
  ASSERT_EQ(t->ReadRecord(1, record), 0);
  std::vector<std::uint8_t> changed = record;
  test::SetInt(*t, changed, test::tcCode, 55);
  // No new note: the stored one is kept.
  ASSERT_EQ(t->ReplaceRecord(changed, record, {}, 1), 0) << VdbUtf16ToUtf8(World.LastError.Msg());
  EXPECT_EQ(test::TownsState(*t)[0], (TTown{1, u"T1", 55, "note 1"}));
  EXPECT_EQ(test::IndexRecNos(*t, t->GetIndexNo(u"ByCode")), (std::vector<std::int32_t>{2, 3, 4, 1}));
  // A new note replaces it, an empty one clears it.
  ASSERT_EQ(t->ReadRecord(1, record), 0);
  ASSERT_EQ(t->ReplaceRecord(record, record, test::NoteBlob("line 1\r\nline 2"), 1), 0);
  EXPECT_EQ(test::TownsState(*t)[0].Note, "line 1\r\nline 2");
  ASSERT_EQ(t->ReadRecord(1, record), 0);
  ASSERT_EQ(t->ReplaceRecord(record, record, {TVdbBlobData{test::tcNote + 1, {}, false}}, 1), 0);
  EXPECT_EQ(test::TownsState(*t)[0].Note, "");
  ExpectSound(*t);
}

TEST_F(RecordWriteTest, ReplaceWhoseIndexMoveFailsRestoresTheOldRecord) {
  auto t = MakeTowns(3);
  const auto before = test::TownsState(*t);
  const TVdbIndexNo byName = t->GetIndexNo(u"ByName");
  std::vector<std::uint8_t> record(static_cast<std::size_t>(t->GetRecordSize()));
  ASSERT_EQ(t->ReadRecord(2, record), 0);
  std::vector<std::uint8_t> changed = record;
  test::SetText(*t, changed, test::tcName, u"Blocked");
  test::SetInt(*t, changed, test::tcCode, 25);
  // The name index already holds the very entry the move would insert.
  std::vector<std::uint8_t> entry;
  entry.resize(static_cast<std::size_t>(t->GetIndexKeys(byName).BuildEntry(changed, 2, entry)));
  ASSERT_EQ(t->GetIndexFile(byName).Add_Index(entry), 0);
  // On the file: a failed write drops every unwritten change of the files.
  t->Flush(true);

  EXPECT_EQ(t->ReplaceRecord(changed, record, {}, 2), -errIndexInsert);
  ASSERT_EQ(t->GetIndexFile(byName).Loesche_Index(entry), 0);
  EXPECT_EQ(test::TownsState(*t), before);
  EXPECT_EQ(test::IndexRecNos(*t, t->GetIndexNo(u"ByCode")), (std::vector<std::int32_t>{1, 2, 3}));
  ExpectSound(*t);
}

TEST_F(RecordWriteTest, ReplaceNeedsTheEditRightAndAnExistingRecord) {
  auto t = MakeTowns(1);
  std::vector<std::uint8_t> record(static_cast<std::size_t>(t->GetRecordSize()));
  ASSERT_EQ(t->ReadRecord(1, record), 0);
  EXPECT_EQ(t->ReplaceRecord(record, record, {}, 2), -errRecordNotFound);
  t->SetRights(0x0101);
  EXPECT_EQ(t->ReplaceRecord(record, record, {}, 1), -errNoWritePermission);
}

TEST_F(RecordWriteTest, EmptyingReturnsTheCountAndClearsEverything) {
  auto t = MakeTowns(5);
  TEvents events;
  t->AddAccessor(events);
  EXPECT_EQ(t->ClearDat(), 5);
  EXPECT_EQ(t->GetRecordCount(), 0);
  EXPECT_EQ(events.Log.back(), "emptied");
  EXPECT_TRUE(test::IndexRecNos(*t, t->GetIndexNo(u"ByCode")).empty());
  ExpectSound(*t);
  EXPECT_EQ(test::AppendTown(*t, u"New", 10, "again"), 1);
  EXPECT_EQ(test::TownsState(*t)[0], (TTown{1, u"New", 10, "again"}));
  t->RemoveAccessor(events);
}

TEST_F(RecordWriteTest, AppendOfARecordCarryingAnotherRecordsNoteStoresACopy) {
  auto t = MakeTowns(1);
  std::vector<std::uint8_t> record(static_cast<std::size_t>(t->GetRecordSize()));
  ASSERT_EQ(t->ReadRecord(1, record), 0);
  std::vector<std::uint8_t> copy = record;
  test::SetInt(*t, copy, test::tcCode, 11);
  ASSERT_EQ(t->SetAutoNum(copy), 0);
  ASSERT_EQ(t->AppendRecord(copy, {}), 2);
  // Deleting the original must not take the copy's note with it.
  ASSERT_EQ(t->DeleteRecord(record, 1), 0);
  EXPECT_EQ(test::TownsState(*t)[0].Note, "note 1");
  ExpectSound(*t);
}

TEST_F(RecordWriteTest, CheckConstraintsRefuseRecordsTheyRejectAndNothingIsWritten) {
  TVdbNewTable definition = test::TownsDefinition(u"/db/Checked");
  definition.CheckDefs.Add(std::make_unique<TVdbCheckDef>(u"", u"CODE > 0"));
  definition.CheckDefs.Add(std::make_unique<TVdbCheckDef>(u"", u"CODE <> 13 OR NAME = 'B'"));
  ASSERT_EQ(World.NewTableObject()->NewTable(definition), 0) << VdbUtf16ToUtf8(World.LastError.Msg());
  auto t = World.OpenTable(u"/db/Checked.vdbt");
  EXPECT_EQ(test::AppendTown(*t, u"A", 0, "n"), -errConstraintViolated);
  EXPECT_EQ(World.LastError.Msg(), u"The record violates a constraint: \"CODE > 0\"");
  EXPECT_EQ(test::AppendTown(*t, u"A", 13, "n"), -errConstraintViolated);
  EXPECT_EQ(t->GetRecordCount(), 0);
  EXPECT_EQ(test::IndexRecNos(*t, t->GetIndexNo(u"ByCode")).size(), 0u);
  EXPECT_EQ(t->MemoFile()->LastBlock(), 0);
  EXPECT_EQ(test::AppendTown(*t, u"B", 13, "n"), 1);
  EXPECT_EQ(test::AppendTown(*t, u"A", 1, "n"), 2);
  // A change that breaks a constraint is refused and the stored record stays.
  std::vector<std::uint8_t> record(static_cast<std::size_t>(t->GetRecordSize()));
  ASSERT_EQ(t->ReadRecord(2, record), 0);
  std::vector<std::uint8_t> changed = record;
  test::SetInt(*t, changed, test::tcCode, -5);
  EXPECT_EQ(t->ReplaceRecord(changed, record, {}, 2), -errConstraintViolated);
  ASSERT_EQ(t->ReadRecord(2, changed), 0);
  EXPECT_EQ(test::GetInt(*t, changed, test::tcCode), 1);
  ExpectSound(*t);
}

TEST_F(RecordWriteTest, VidoraPlCheckConstraintsRefuseWritesNamingTheLanguage) {
  TVdbNewTable definition = test::TownsDefinition(u"/db/Scripted");
  definition.CheckDefs.Add(std::make_unique<TVdbCheckDef>(u"", u"@CODE > 0"));
  ASSERT_EQ(World.NewTableObject()->NewTable(definition), 0) << VdbUtf16ToUtf8(World.LastError.Msg());
  auto t = World.OpenTable(u"/db/Scripted.vdbt");
  EXPECT_EQ(t->GetRecordCount(), 0) << "the table opens and reads";
  EXPECT_EQ(test::AppendTown(*t, u"A", 5, "n"), -errNotSupported);
  EXPECT_NE(World.LastError.Msg().find(u"VidoraPL"), std::u16string::npos) << VdbUtf16ToUtf8(World.LastError.Msg());
  EXPECT_EQ(t->GetRecordCount(), 0);
}

TEST_F(RecordWriteTest, ComputedColumnsAreWrittenOnAppendAndOnChange) {
  TVdbNewTable definition = test::TownsDefinition(u"/db/Computed");
  TVdbNewColumn twice = test::Column(u"TWICE", vctInteger, 0, true);
  twice.Calculation = u"CODE * 2";
  twice.Options = coComputed;
  TVdbNewColumn first = test::Column(u"FIRSTCODE", vctInteger, 0, true);
  first.Calculation = u"CODE + 1000";
  first.Options = coComputed | coAppendOnly;
  definition.Columns.push_back(twice);
  definition.Columns.push_back(first);
  ASSERT_EQ(World.NewTableObject()->NewTable(definition), 0) << VdbUtf16ToUtf8(World.LastError.Msg());
  auto t = World.OpenTable(u"/db/Computed.vdbt");
  const int cTwice = 4, cFirst = 5;
  ASSERT_EQ(test::AppendTown(*t, u"A", 21, "n"), 1) << VdbUtf16ToUtf8(World.LastError.Msg());
  std::vector<std::uint8_t> record(static_cast<std::size_t>(t->GetRecordSize()));
  ASSERT_EQ(t->ReadRecord(1, record), 0);
  EXPECT_EQ(test::GetInt(*t, record, cTwice), 42);
  EXPECT_EQ(test::GetInt(*t, record, cFirst), 1021);
  // A change recomputes the column for every write; the append-only one keeps its value.
  std::vector<std::uint8_t> changed = record;
  test::SetInt(*t, changed, test::tcCode, 5);
  test::SetInt(*t, changed, cTwice, 999);
  ASSERT_EQ(t->ReplaceRecord(changed, record, {}, 1), 0);
  ASSERT_EQ(t->ReadRecord(1, record), 0);
  EXPECT_EQ(test::GetInt(*t, record, cTwice), 10);
  EXPECT_EQ(test::GetInt(*t, record, cFirst), 1021);
  ExpectSound(*t);
}

TEST_F(RecordWriteTest, DefaultValuesAndScriptCalculationsStillRefuseWrites) {
  for (const char16_t* text : {u"7", u"@CODE * 2"}) {
    SCOPED_TRACE(VdbUtf16ToUtf8(text));
    const std::u16string path = text[0] == u'@' ? u"/db/ScriptCalc" : u"/db/Defaulted";
    TVdbNewTable definition = test::TownsDefinition(path);
    TVdbNewColumn extra = test::Column(u"EXTRA", vctInteger, 0, true);
    extra.Calculation = text;
    extra.Options = text[0] == u'@' ? coComputed : 0;
    definition.Columns.push_back(extra);
    ASSERT_EQ(World.NewTableObject()->NewTable(definition), 0) << VdbUtf16ToUtf8(World.LastError.Msg());
    auto t = World.OpenTable(path + u".vdbt");
    const std::int32_t r = test::AppendTown(*t, u"A", 1, "n");
    EXPECT_EQ(r, -errNotSupported);
    EXPECT_EQ(t->GetRecordCount(), 0);
    const std::u16string msg = World.LastError.Msg();
    EXPECT_TRUE(msg.find(u"default values") != std::u16string::npos || msg.find(u"VidoraPL") != std::u16string::npos)
        << VdbUtf16ToUtf8(msg);
  }
}

// ---- transactions at table level (the session's isolation level switched by hand)

class TableTransactionTest : public RecordWriteTest {
 protected:
  void Begin() { World.Env.IsolationLevel = tilReadCommited; }
  void End() { World.Env.IsolationLevel = tilNone; }
};

TEST_F(TableTransactionTest, RollbackRestoresAppendReplaceAndDeleteWithNotes) {
  auto t = MakeTowns(6);
  const auto before = test::TownsState(*t);
  Begin();
  ASSERT_EQ(test::AppendTown(*t, u"New", 99, "fresh note"), 7);
  EXPECT_TRUE(t->HasRedoLog());
  std::vector<std::uint8_t> record(static_cast<std::size_t>(t->GetRecordSize()));
  ASSERT_EQ(t->ReadRecord(1, record), 0);
  std::vector<std::uint8_t> changed = record;
  test::SetInt(*t, changed, test::tcCode, 1000);
  ASSERT_EQ(t->ReplaceRecord(changed, record, test::NoteBlob("changed note"), 1), 0);
  for (std::int32_t recNo : {3, 2, 5}) {  // moves 7, 6 and then none
    ASSERT_EQ(t->ReadRecord(recNo, record), 0);
    ASSERT_EQ(t->DeleteRecord(record, recNo), 0) << recNo;
  }
  ASSERT_NE(test::TownsState(*t), before);
  End();
  ASSERT_EQ(t->UndoModifications(), 0) << VdbUtf16ToUtf8(World.LastError.Msg());
  EXPECT_FALSE(t->HasRedoLog());
  EXPECT_FALSE(World.Fs.FileExists(u"/db/Towns.vdbr"));
  EXPECT_EQ(test::TownsState(*t), before);
  EXPECT_EQ(test::IndexRecNos(*t, t->GetIndexNo(u"ByCode")), (std::vector<std::int32_t>{1, 2, 3, 4, 5, 6}));
  ExpectSound(*t);
}

TEST_F(TableTransactionTest, RollbackRestoresTheNoteOfAReplaceThatStartedTheTransaction) {
  auto t = MakeTowns(3);
  const auto before = test::TownsState(*t);
  Begin();
  std::vector<std::uint8_t> record(static_cast<std::size_t>(t->GetRecordSize()));
  ASSERT_EQ(t->ReadRecord(1, record), 0);
  ASSERT_EQ(t->ReplaceRecord(record, record, test::NoteBlob("replaced"), 1), 0);
  End();
  ASSERT_EQ(t->UndoModifications(), 0);
  EXPECT_EQ(test::TownsState(*t), before);
  ExpectSound(*t);
}

TEST_F(TableTransactionTest, CommitKeepsTheChangesAndErasesTheLog) {
  auto t = MakeTowns(2);
  Begin();
  ASSERT_EQ(test::AppendTown(*t, u"New", 99, "kept"), 3);
  End();
  ASSERT_EQ(t->CommitModifications(), 0);
  EXPECT_FALSE(World.Fs.FileExists(u"/db/Towns.vdbr"));
  EXPECT_EQ(t->UndoModifications(), 0);
  EXPECT_EQ(test::TownsState(*t).back(), (TTown{3, u"New", 99, "kept"}));
}

TEST_F(TableTransactionTest, EmptyingIsRolledBackToo) {
  auto t = MakeTowns(4);
  const auto before = test::TownsState(*t);
  Begin();
  EXPECT_EQ(t->ClearDat(), 4);
  End();
  ASSERT_EQ(t->UndoModifications(), 0);
  EXPECT_EQ(test::TownsState(*t), before);
  ExpectSound(*t);
}

TEST_F(TableTransactionTest, RedoLogHasItsBinaryForm) {
  auto t = MakeTowns(3);
  Begin();
  std::vector<std::uint8_t> record(static_cast<std::size_t>(t->GetRecordSize()));
  ASSERT_EQ(test::AppendTown(*t, u"New", 99), 4);
  ASSERT_EQ(t->ReadRecord(4, record), 0);
  const std::vector<std::uint8_t> appended = record;
  ASSERT_EQ(t->ReadRecord(1, record), 0);
  const std::vector<std::uint8_t> first = record;
  ASSERT_EQ(t->DeleteRecord(record, 1), 0);  // moves record 4 into slot 1
  const std::int32_t size = t->GetRecordSize();
  End();
  t.reset();  // the writer gives its log up

  const TvuFileHandle h = World.Fs.OpenFile(u"/db/Towns.vdbr", fmOpenRead | fmShareDenyNone);
  ASSERT_TRUE(TvuFileSystem::IsValidHandle(h));
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(World.Fs.GetFileSize(h)));
  World.Fs.FileRead(h, 0, bytes.data(), static_cast<std::int64_t>(bytes.size()));
  World.Fs.CloseFile(h);
  // Header, insert 4, delete 4 (the moved record), update 1 (the deleted record, its note).
  const std::string note = "note 1";
  const std::size_t expected = 8 + 9 + (5 + size + 4) + (5 + size + 4) + (5 + note.size() + 4);
  ASSERT_EQ(bytes.size(), expected);
  EXPECT_EQ((std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 8)),
            (std::vector<std::uint8_t>{0xB0, 0xC0, 0xD0, 0xE0, 0, 0, 0, 0}));
  std::size_t p = 8;
  EXPECT_EQ(bytes[p], 0);
  EXPECT_EQ(vuGetU32(&bytes[p + 1]), 4u);
  EXPECT_EQ(vuGetU32(&bytes[p + 5]), 5u);
  p += 9;
  EXPECT_EQ(bytes[p], 2);
  EXPECT_EQ(vuGetU32(&bytes[p + 1]), 4u);
  EXPECT_TRUE(std::equal(appended.begin(), appended.end(), bytes.begin() + static_cast<std::ptrdiff_t>(p + 5)));
  EXPECT_EQ(vuGetU32(&bytes[p + 5 + size]), static_cast<std::uint32_t>(5 + size));
  p += 5 + size + 4;
  EXPECT_EQ(bytes[p], 1);
  EXPECT_EQ(vuGetU32(&bytes[p + 1]), 1u);
  EXPECT_TRUE(std::equal(first.begin(), first.end(), bytes.begin() + static_cast<std::ptrdiff_t>(p + 5)));
  EXPECT_EQ(vuGetU32(&bytes[p + 5 + size]), static_cast<std::uint32_t>(5 + size));
  p += 5 + size + 4;
  EXPECT_EQ(bytes[p], 3);
  EXPECT_EQ(vuGetU32(&bytes[p + 1]), static_cast<std::uint32_t>(test::tcNote + 1));
  EXPECT_EQ(std::string(bytes.begin() + static_cast<std::ptrdiff_t>(p + 5),
                        bytes.begin() + static_cast<std::ptrdiff_t>(p + 5 + note.size())),
            note);
  EXPECT_EQ(vuGetU32(&bytes[p + 5 + note.size()]), static_cast<std::uint32_t>(5 + note.size()));
  // Replayed by the next opening: the three records as they were.
  auto reopened = World.OpenTable(u"/db/Towns.vdbt");
  EXPECT_EQ(reopened->GetRecordCount(), 3);
  EXPECT_EQ(test::TownsState(*reopened)[0].Note, note);
  ExpectSound(*reopened);
}

TEST_F(TableTransactionTest, RecoveryRestoresTheStateWhateverPartOfTheTransactionReachedTheFiles) {
  auto t = MakeTowns(12);
  const auto before = test::TownsState(*t);
  t->Flush(true);
  // The files as a crash would leave them: before any change was written, and after the
  // table was written out following each change.
  std::vector<std::unique_ptr<test::TTableWorld>> crashes;
  const auto crash = [&] {
    crashes.push_back(std::make_unique<test::TTableWorld>());
    test::Snapshot(World.Fs, crashes.back()->Fs);
  };
  std::vector<std::uint8_t> record(static_cast<std::size_t>(t->GetRecordSize()));
  const auto remove = [&](std::int32_t recNo) {
    ASSERT_EQ(t->ReadRecord(recNo, record), 0);
    ASSERT_EQ(t->DeleteRecord(record, recNo), 0);
  };
  Begin();
  remove(3);  // moves 12 into 3
  crash();
  t->Flush(true);
  crash();
  ASSERT_EQ(test::AppendTown(*t, u"X", 500, "x note"), 12);
  t->Flush(true);
  crash();
  remove(5);  // moves the new record into 5
  t->Flush(true);
  crash();
  ASSERT_EQ(t->ReadRecord(5, record), 0);
  std::vector<std::uint8_t> changed = record;
  test::SetInt(*t, changed, test::tcCode, 501);
  ASSERT_EQ(t->ReplaceRecord(changed, record, test::NoteBlob("y note"), 5), 0);
  remove(11);  // the last one
  t->Flush(true);
  crash();
  End();
  ASSERT_EQ(t->UndoModifications(), 0);
  EXPECT_EQ(test::TownsState(*t), before);
  for (std::size_t i = 0; i < crashes.size(); ++i) {
    SCOPED_TRACE("crash " + std::to_string(i));
    auto survivor = crashes[i]->OpenTable(u"/db/Towns.vdbt");
    EXPECT_EQ(test::TownsState(*survivor), before);
    EXPECT_FALSE(crashes[i]->Fs.FileExists(u"/db/Towns.vdbr"));
    EXPECT_EQ(test::Problems(survivor->VerifyTable()), "");
  }
}

TEST_F(TableTransactionTest, LogOfADeadWriterIsReplayedWhenTheTableOpensAgain) {
  auto t = MakeTowns(5);
  const auto before = test::TownsState(*t);
  Begin();
  ASSERT_EQ(test::AppendTown(*t, u"New", 99, "gone again"), 6);
  std::vector<std::uint8_t> record(static_cast<std::size_t>(t->GetRecordSize()));
  ASSERT_EQ(t->ReadRecord(2, record), 0);
  ASSERT_EQ(t->DeleteRecord(record, 2), 0);
  End();
  // The session ends without committing: its files are flushed and its log stays behind.
  t.reset();
  ASSERT_TRUE(World.Fs.FileExists(u"/db/Towns.vdbr"));
  auto reopened = World.OpenTable(u"/db/Towns.vdbt");
  EXPECT_FALSE(World.Fs.FileExists(u"/db/Towns.vdbr"));
  EXPECT_EQ(test::TownsState(*reopened), before);
  ExpectSound(*reopened);
}

TEST_F(TableTransactionTest, TableOpenedInsideATransactionRecoversAnAbandonedLogFirst) {
  auto t = MakeTowns(3);
  const auto before = test::TownsState(*t);
  Begin();
  ASSERT_EQ(test::AppendTown(*t, u"Gone", 99, "gone"), 4);
  t.reset();
  // Still in a transaction: the opening's own write locks must not start a log over it.
  auto reopened = World.OpenTable(u"/db/Towns.vdbt");
  EXPECT_EQ(test::TownsState(*reopened), before);
  ASSERT_EQ(test::AppendTown(*reopened, u"Kept", 98), 4);
  End();
  ASSERT_EQ(reopened->CommitModifications(), 0);
  EXPECT_EQ(test::TownsState(*reopened).back().Name, u"Kept");
  ExpectSound(*reopened);
}

TEST_F(TableTransactionTest, LogOfALiveWriterIsLeftAlone) {
  auto t = MakeTowns(3, 0x000F);
  Begin();
  ASSERT_EQ(test::AppendTown(*t, u"Live", 99), 4);
  t->Flush(true);
  // Another session opens the table meanwhile: the writer still holds its log.
  TVdbLastError otherError;
  TVdbTableEnvironment otherEnv{World.PageManager, World.Fs, 2, otherError, World.Env.Services, tilNone,
                                kVdbDefaultBlockSize, World.Env.Expressions};
  World.PageManager.RegisterClient(2, 65536);
  {
    TVdbBaseTable other(otherEnv);
    other.SetRights(0x000F);
    other.SetFileName(u"/db/Towns.vdbt");
    ASSERT_EQ(other.Open(false), 0) << VdbUtf16ToUtf8(otherError.Msg());
    ASSERT_EQ(other.Setup(false), 0) << VdbUtf16ToUtf8(otherError.Msg());
    EXPECT_TRUE(World.Fs.FileExists(u"/db/Towns.vdbr"));
    EXPECT_EQ(other.GetRecordCount(), 4);
  }
  World.PageManager.UnregisterClient(2, 65536);
  End();
  ASSERT_EQ(t->CommitModifications(), 0);
  EXPECT_EQ(test::TownsState(*t).back().Name, u"Live");
}

TEST_F(TableTransactionTest, TornTailOfALogIsIgnored) {
  auto t = MakeTowns(3);
  const auto before = test::TownsState(*t);
  Begin();
  ASSERT_EQ(test::AppendTown(*t, u"New", 99), 4);
  End();
  t.reset();
  // A crash in the middle of the next entry's write left part of it behind.
  const TvuFileHandle h = World.Fs.OpenFile(u"/db/Towns.vdbr", fmOpenReadWrite | fmShareDenyNone);
  ASSERT_TRUE(TvuFileSystem::IsValidHandle(h));
  const std::uint8_t torn[] = {1, 2, 0, 0, 0, 7, 7};
  World.Fs.FileWrite(h, World.Fs.GetFileSize(h), torn, sizeof torn);
  World.Fs.CloseFile(h);
  auto reopened = World.OpenTable(u"/db/Towns.vdbt");
  EXPECT_EQ(test::TownsState(*reopened), before);
  ExpectSound(*reopened);
}

}  // namespace
}  // namespace vdb
