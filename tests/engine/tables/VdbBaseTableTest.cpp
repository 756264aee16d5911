// The stored table around its files: creation rules, system indexes rebuilt when their file is
// gone, user indexes reported lost, index slots and their limits, temporary indexes and the
// listeners that keep them, record ids, notifications, and the refusal to write what cannot
// be computed yet.
#include <gtest/gtest.h>

#include <unistd.h>

#include "TableTestSupport.h"
#include "WalkBound.h"
#include "base/VdbErrorCodes.h"
#include "storage/vuOSFileSystem.h"
#include "sql/VdbSqlCompiler.h"

namespace vdb {
namespace {

using test::Column;

class TListener final : public IRelationListener {
 public:
  std::u16string GetTag() const override { return u"test"; }
  void RecordDeleted(std::int32_t d, std::int32_t m) override { Events.push_back("deleted " + std::to_string(d) + " " + std::to_string(m)); }
  void RecordChanged(std::int32_t r) override { Events.push_back("changed " + std::to_string(r)); }
  void RelationChanged() override { Events.push_back("relation changed"); }
  void RelationEmptied() override { Events.push_back("emptied"); }
  void CanRemoveIndex(TVdbIndexNo indexNo, bool& allowed) override {
    if (indexNo == ReadingIndex) allowed = false;
  }
  void IndexRemoved(TVdbIndexNo indexNo) override { Events.push_back("index removed " + std::to_string(indexNo)); }
  bool IsEditing(std::int32_t) const override { return false; }

  TVdbIndexNo ReadingIndex = -1;
  std::vector<std::string> Events;
};

// People: an id column (record id), a name and an age; a user index on the name.
TVdbNewTable PeopleTable(const std::u16string& path = u"/db/People") {
  TVdbNewTable newTable;
  newTable.Path = path;
  newTable.CollationName = u"Hungarian";
  newTable.Columns = {Column(u"ID", vctRecordId), Column(u"NAME", vctString, 30), Column(u"AGE", vctInteger, 0, true)};
  newTable.Indexes = {{u"ByName", u"NAME", false}};
  return newTable;
}

class BaseTableTest : public ::testing::Test {
 protected:
  // Creates People with `names`, their ids drawn from the table, and rebuilds the indexes.
  std::unique_ptr<TVdbBaseTable> MakePeople(const std::vector<std::u16string>& names) {
    auto creator = World.NewTableObject();
    EXPECT_EQ(creator->NewTable(PeopleTable()), 0) << VdbUtf16ToUtf8(World.LastError.Msg());
    auto t = World.OpenTable(u"/db/People.vdbt");
    std::vector<std::uint8_t> record(static_cast<std::size_t>(t->GetRecordSize()));
    for (const auto& name : names) {
      std::fill(record.begin(), record.end(), std::uint8_t{0});
      EXPECT_EQ(t->SetAutoNum(record), 0);
      test::SetText(*t, record, 1, name);
      test::SetNullField(*t, record, 2);
      test::AppendRaw(*t, record);
    }
    EXPECT_EQ(t->RegenIndex(), 0) << VdbUtf16ToUtf8(World.LastError.Msg());
    return t;
  }

  test::TTableWorld World;
};

TEST_F(BaseTableTest, NewTableMakesItsFileSetAndSystemIndexes) {
  auto t = MakePeople({u"Anna", u"Béla"});
  EXPECT_EQ(t->GetLevel(), 6);
  EXPECT_TRUE(t->HasRecordId());
  ASSERT_GE(t->RecordIdIndexNo(), 0);
  EXPECT_EQ(t->GetIndexName(t->RecordIdIndexNo()), u"sys_Inr");
  EXPECT_EQ(t->IdIndexNo(), t->RecordIdIndexNo());  // no id expression, no primary key
  std::vector<std::u16string> files;
  t->GetFileNames(files);
  EXPECT_EQ(files, (std::vector<std::u16string>{u"/db/People.vdbt", u"/db/People!ByName.vdbi",
                                                u"/db/People!sys_Inr.vdbi"}));
  for (const auto& f : files) EXPECT_TRUE(World.Fs.FileExists(f)) << VdbUtf16ToUtf8(f);
  EXPECT_EQ(t->FindRecordId(1), 1);
  EXPECT_EQ(t->FindRecordId(2), 2);
  EXPECT_EQ(t->FindRecordId(3), 0);
  EXPECT_EQ(t->FindRecordId(0), 0);
  EXPECT_EQ(t->ReadRecordId(2), 2);
  EXPECT_EQ(t->GetRealIndexName(u"sys_Id"), u"sys_Inr");
  EXPECT_EQ(t->GetIndexNo(u"sys_Inr"), t->RecordIdIndexNo());
  EXPECT_EQ(t->GetIndexNo(u"BYNAME"), t->GetIndexNo(u"ByName"));
  EXPECT_EQ(t->GetIndexNo(u"nope"), -errIndexNotFound);
  EXPECT_EQ(World.LastError.Msg(), u"Index \"nope\" was not found or is invalid");
}

TEST_F(BaseTableTest, LocateNearestAndExactName) {
  struct TCase {
    std::vector<std::u16string> Names;
    bool ExactAsked;
    std::u16string Found;  // empty: nothing found
    bool Exact;
  };
  const std::vector<TCase> cases = {
      {{u"Budakeszi", u"Budapesti"}, false, u"Budapesti", false},
      {{u"Budakeszi", u"Budapesti", u"Budapest"}, false, u"Budapest", true},
      {{u"Budakeszi"}, false, u"", false},
      {{u"Budakeszi", u"Budapesti"}, true, u"", true},
      {{u"Budapesti", u"Budapest", u"budapest"}, true, u"Budapest", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Names.size());
    auto t = MakePeople(c.Names);
    const TVdbIndexNo byName = t->GetIndexNo(u"ByName");
    std::vector<std::uint8_t> buffer(static_cast<std::size_t>(t->GetRecordSize()), 0);
    test::SetText(*t, buffer, 1, u"Budapest");
    std::vector<std::uint8_t> key;
    t->CalcIndexInfo(buffer, byName, 0, key);
    bool exact = c.ExactAsked;
    const std::int32_t found = t->LocateRecord2(byName, key, kVdbAllKeyItems, exact);
    if (c.Found.empty()) {
      EXPECT_EQ(found, 0);
    } else {
      ASSERT_GT(found, 0);
      ASSERT_EQ(t->ReadRecord(found, buffer), 0);
      EXPECT_EQ(test::GetText(*t, buffer, 1), c.Found);
    }
    EXPECT_EQ(exact, c.Exact);
    t->Close();
    for (const char16_t* f : {u"/db/People.vdbt", u"/db/People!ByName.vdbi", u"/db/People!ByName.vdbi.collver",
                              u"/db/People!sys_Inr.vdbi"}) {
      World.Fs.DeleteFile(f);
    }
  }
}

TEST_F(BaseTableTest, LevelFiveTableKeepsItsIndexesInOldFiles) {
  TVdbNewTable newTable = PeopleTable(u"/db/Old");
  newTable.Level = 5;
  newTable.Columns[1].Nullable = true;
  ASSERT_EQ(World.NewTableObject()->NewTable(newTable), 0) << VdbUtf16ToUtf8(World.LastError.Msg());
  EXPECT_TRUE(World.Fs.FileExists(u"/db/Old.dat"));
  EXPECT_TRUE(World.Fs.FileExists(u"/db/Old!ByName.ind"));
  EXPECT_TRUE(World.Fs.FileExists(u"/db/Old!sys_Inr.ind"));
  auto t = World.OpenTable(u"/db/Old.dat");
  std::vector<std::uint8_t> record(static_cast<std::size_t>(t->GetRecordSize()), 0);
  for (std::u16string name : {u"Zala", u"Abony", u""}) {
    std::fill(record.begin(), record.end(), std::uint8_t{0});
    ASSERT_EQ(t->SetAutoNum(record), 0);
    if (name.empty()) {
      test::SetNullField(*t, record, 1);
    } else {
      test::SetText(*t, record, 1, name);
    }
    test::AppendRaw(*t, record);
  }
  ASSERT_EQ(t->RegenIndex(), 0);
  const TVdbIndexNo byName = t->GetIndexNo(u"ByName");
  EXPECT_FALSE(t->GetIndexFile(byName).IsVariableSize());
  std::vector<std::uint8_t> entry;
  std::vector<std::int32_t> order;
  testsupport::TWalkBound bound(3, "the walk over the name index");
  for (auto r = t->GetIndexFile(byName).Erster_Index(entry); r == 0 && bound.Step();
       r = t->GetIndexFile(byName).Naechster_Index(entry)) {
    order.push_back(VdbEntryRecNo(entry));
  }
  EXPECT_EQ(order, (std::vector<std::int32_t>{3, 2, 1}));  // null first, then Abony, Zala
  EXPECT_EQ(t->FindRecordId(2), 2);
}

TEST_F(BaseTableTest, DeletedSystemIndexIsRebuiltOnFirstUse) {
  MakePeople({u"Anna", u"Béla", u"Cecil"})->Close();
  ASSERT_TRUE(World.Fs.DeleteFile(u"/db/People!sys_Inr.vdbi"));
  auto t = World.OpenTable(u"/db/People.vdbt");
  EXPECT_TRUE(World.Fs.FileExists(u"/db/People!sys_Inr.vdbi"));
  EXPECT_FALSE(t->IsIndexLost(t->RecordIdIndexNo()));
  EXPECT_EQ(t->FindRecordId(3), 3);
  EXPECT_EQ(t->GetIndexFile(t->RecordIdIndexNo()).GetItemCount(), 3);
}

TEST_F(BaseTableTest, DamagedSystemIndexIsRebuiltEvenReadOnly) {
  MakePeople({u"Anna", u"Béla"})->Close();
  std::vector<std::uint8_t> junk(64, 0x5A);
  const TvuFileHandle h = World.Fs.CreateFile(u"/db/People!sys_Inr.vdbi");
  World.Fs.FileWrite(h, 0, junk.data(), 64);
  World.Fs.CloseFile(h);
  auto t = World.OpenTable(u"/db/People.vdbt", 0x0000);
  EXPECT_EQ(t->FindRecordId(2), 2);
}

TEST_F(BaseTableTest, DeletedUserIndexIsReportedLost) {
  MakePeople({u"Anna", u"Béla"})->Close();
  ASSERT_TRUE(World.Fs.DeleteFile(u"/db/People!ByName.vdbi"));
  auto t = World.NewTableObject();
  t->SetRights(0x010F);
  t->SetFileName(u"/db/People.vdbt");
  ASSERT_EQ(t->Open(false), 0);
  ASSERT_EQ(t->Setup(false), 0);  // the table stays usable
  EXPECT_EQ(World.LastError.Code(), errFileNotFoundOrDenied);
  const std::int16_t byName = t->GetIndexNo(u"ByName");
  ASSERT_GE(byName, 0);
  EXPECT_TRUE(t->IsIndexLost(byName));
  EXPECT_FALSE(World.Fs.FileExists(u"/db/People!ByName.vdbi"));  // never rebuilt behind the user's back
  EXPECT_FALSE(t->CheckIndexOpen(byName, true));
  EXPECT_EQ(World.LastError.Code(), errIndexCorrupt);
  bool exact = false;
  std::vector<std::uint8_t> key(64, 0);
  EXPECT_EQ(t->LocateRecord2(byName, key, kVdbAllKeyItems, exact), -errIndexCorrupt);
  EXPECT_EQ(t->FindRecordId(2), 2);  // the other indexes still work
  // A lost user index is not dropped at closing: the user decides.
  ASSERT_EQ(t->Close(), 0);
  auto again = World.NewTableObject();
  again->SetRights(0x010F);
  again->SetFileName(u"/db/People.vdbt");
  ASSERT_EQ(again->Open(false), 0);
  ASSERT_EQ(again->Setup(false), 0);
  EXPECT_GE(again->GetIndexNo(u"ByName"), 0);
  EXPECT_EQ(again->DeleteIndex(again->GetIndexNo(u"ByName")), 0);
}

TEST_F(BaseTableTest, DamagedUserIndexIsLostWithItsDefinitionError) {
  MakePeople({u"Anna", u"Béla"})->Close();
  std::vector<std::uint8_t> junk(4096, 0x5A);
  const TvuFileHandle h = World.Fs.CreateFile(u"/db/People!ByName.vdbi");
  World.Fs.FileWrite(h, 0, junk.data(), static_cast<std::int64_t>(junk.size()));
  World.Fs.CloseFile(h);
  auto t = World.OpenTable(u"/db/People.vdbt");
  EXPECT_EQ(World.LastError.Code(), errInconsistentIndexDefinition);
  const std::int16_t byName = t->GetIndexNo(u"ByName");
  ASSERT_GE(byName, 0);
  EXPECT_TRUE(t->IsIndexLost(byName));
  EXPECT_EQ(World.Fs.Contents(u"/db/People!ByName.vdbi"), junk);  // left for the user to inspect
  bool reverse = false;
  EXPECT_EQ(t->FindIndex(u"NAME", 0, reverse), -1);  // a lost index serves no order
}

TEST_F(BaseTableTest, EveryOperationGivesItsLocksBack) {
  auto t = MakePeople({u"Anna", u"Béla", u"Cecil"});
  auto expectNoLocks = [&](const char* after) {
    EXPECT_EQ(t->Locks().CountReadLocks(), 0) << after;
    EXPECT_EQ(t->Locks().CountUpgradeLocks(), 0) << after;
    EXPECT_EQ(t->Locks().CountWriteLocks(), 0) << after;
    EXPECT_EQ(t->Locks().CountExclusiveLocks(), 0) << after;
  };
  expectNoLocks("creation");
  std::vector<std::uint8_t> record(static_cast<std::size_t>(t->GetRecordSize()), 0);
  EXPECT_EQ(t->ReadRecord(2, record), 0);
  EXPECT_EQ(t->ReadRecord(9, record), -errRecordNotFound);
  expectNoLocks("reads");
  const TVdbIndexNo byName = t->GetIndexNo(u"ByName");
  std::vector<std::uint8_t> key;
  t->CalcIndexInfo(record, byName, 0, key);
  bool exact = false;
  EXPECT_EQ(t->LocateRecord2(byName, key, kVdbAllKeyItems, exact), 2);
  // A validator that fails (as a filter may) ends the locate with its error.
  EXPECT_EQ(t->LocateRecord2(byName, key, kVdbAllKeyItems, exact,
                             [](std::int32_t) -> bool { RaiseEngineError(errDivisionByZero); }),
            -errDivisionByZero);
  EXPECT_EQ(t->LocateRecord(record, byName), 2);
  expectNoLocks("locates");
  EXPECT_GE(t->CreateUserIndex(u"ByAge", u"AGE", false), 0);
  EXPECT_EQ(t->CreateUserIndex(u"ByAge", u"AGE", false), -errIndexAlreadyOpen);
  EXPECT_EQ(t->DeleteIndex(t->GetIndexNo(u"ByAge")), 0);
  EXPECT_EQ(t->SetAutoNum(record), 0);
  EXPECT_EQ(t->RecalcAutoInc(), 0);
  EXPECT_EQ(t->RegenIndex(), 0);
  expectNoLocks("index and id operations");
  // A table that counts a read lock refuses the write lock of an index build.
  ASSERT_EQ(t->BeginRead(true), 0);
  EXPECT_EQ(t->CreateUserIndex(u"ByAge", u"AGE", false), -errTableLocked);
  EXPECT_FALSE(World.Fs.FileExists(u"/db/People!ByAge.vdbi"));
  EXPECT_EQ(t->EndRead(), 0);
  expectNoLocks("refused build");
}

TEST_F(BaseTableTest, CreationRules) {
  struct TCase {
    std::u16string Path;
    int Level;
    bool Columns;
    std::int16_t Result;
  };
  const std::vector<TCase> cases = {
      {u"/db/a.dat", 6, true, -errInvalidTableOrIndexName},
      {u"/db/a.vdbt", 5, true, -errInvalidTableOrIndexName},
      {u"/db/b", 6, false, -errFeatureNotAtLevel},
      {u"/db/1bad", 3, true, -errInvalidIdentifier},
      {u"/db/~tmp1.dat", 3, true, -errNotSupported},  // old levels are read, never made
      {u"/db/old.dat", 5, true, 0},
      {u"/db/nine", 9, true, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(VdbUtf16ToUtf8(c.Path));
    TVdbNewTable newTable;
    newTable.Path = c.Path;
    newTable.Level = c.Level;
    if (c.Columns) newTable.Columns = {Column(u"N", vctInteger)};
    auto t = World.NewTableObject();
    EXPECT_EQ(t->NewTable(newTable), c.Result) << VdbUtf16ToUtf8(World.LastError.Msg());
  }
  // Level 9 became level 6.
  auto nine = World.OpenTable(u"/db/nine.vdbt");
  EXPECT_EQ(nine->GetLevel(), 6);
  EXPECT_EQ(World.OpenTable(u"/db/old.dat")->GetLevel(), 5);
  // An unknown collation, and a table that exists already (its files stay as they were).
  TVdbNewTable newTable;
  newTable.Path = u"/db/c";
  newTable.Columns = {Column(u"N", vctInteger)};
  newTable.CollationName = u"Klingon";
  EXPECT_EQ(World.NewTableObject()->NewTable(newTable), -errUnknownCollation);
  EXPECT_FALSE(World.Fs.FileExists(u"/db/c.vdbt"));
  newTable.CollationName.clear();
  newTable.Path = u"/db/nine";
  const auto before = World.Fs.Contents(u"/db/nine.vdbt");
  nine->Close();
  EXPECT_EQ(World.NewTableObject()->NewTable(newTable), -errFileExists);
  EXPECT_EQ(World.Fs.Contents(u"/db/nine.vdbt"), before);
  // Duplicate key names.
  newTable.Path = u"/db/d";
  newTable.KeyDefs.Add(std::make_unique<TVdbCandidateKeyDef>(u"K", false, std::vector<std::u16string>{u"N"}));
  newTable.KeyDefs.Add(std::make_unique<TVdbCandidateKeyDef>(u"k", false, std::vector<std::u16string>{u"N"}));
  EXPECT_EQ(World.NewTableObject()->NewTable(newTable), -errDuplicateIdentifier);
  EXPECT_FALSE(World.Fs.FileExists(u"/db/d.vdbt"));
}

TEST_F(BaseTableTest, FailedIndexCreationLeavesNothingBehind) {
  TVdbNewTable newTable = PeopleTable();
  newTable.Indexes.push_back({u"sys_Mine", u"NAME", false});
  EXPECT_EQ(World.NewTableObject()->NewTable(newTable), -errInvalidIndexName);
  EXPECT_FALSE(World.Fs.FileExists(u"/db/People.vdbt"));
  EXPECT_FALSE(World.Fs.FileExists(u"/db/People!ByName.vdbi"));
}

TEST_F(BaseTableTest, PrimaryKeyIndexStandsForTheIdIndex) {
  TVdbNewTable newTable = PeopleTable();
  newTable.Indexes.clear();
  newTable.KeyDefs.Add(std::make_unique<TVdbCandidateKeyDef>(u"", true, std::vector<std::u16string>{u"NAME"}));
  ASSERT_EQ(World.NewTableObject()->NewTable(newTable), 0) << VdbUtf16ToUtf8(World.LastError.Msg());
  auto t = World.OpenTable(u"/db/People.vdbt");
  ASSERT_GE(t->PrimaryIndexNo(), 0);
  EXPECT_EQ(t->GetIndexName(t->PrimaryIndexNo()), u"sys_Primary");
  EXPECT_EQ(t->IdIndexNo(), t->PrimaryIndexNo());
  EXPECT_EQ(t->GetRealIndexName(u"sys_Id"), u"sys_Primary");
  EXPECT_EQ(t->GetIndexNo(u"SYS_PRIMARY"), t->PrimaryIndexNo());
  EXPECT_TRUE(t->GetIndexFile(t->PrimaryIndexNo()).GetMustBeUnique());
  // The primary key's columns became non-nullable at level 6.
  EXPECT_FALSE(t->ColumnDefs().GetColumnDef(1).Nullable());
}

TEST_F(BaseTableTest, PrimaryKeyReusesAnIndexWithItsDefinition) {
  TVdbNewTable newTable = PeopleTable(u"/db/Keyed");
  newTable.KeyDefs.Add(std::make_unique<TVdbCandidateKeyDef>(u"", true, std::vector<std::u16string>{u"NAME"}));
  ASSERT_EQ(World.NewTableObject()->NewTable(newTable), 0) << VdbUtf16ToUtf8(World.LastError.Msg());
  EXPECT_FALSE(World.Fs.FileExists(u"/db/Keyed!sys_Primary.vdbi"));
  auto t = World.OpenTable(u"/db/Keyed.vdbt");
  EXPECT_EQ(t->GetIndexName(t->PrimaryIndexNo()), u"ByName");
  EXPECT_EQ(t->GetRealIndexName(u"sys_Id"), u"ByName");
  EXPECT_EQ(t->GetRealIndexName(u"sys_Primary"), u"ByName");
}

TEST_F(BaseTableTest, IndexSlotsRunOutAtFiftyOnLevelSix) {
  auto t = MakePeople({u"Anna"});
  // Two slots are taken (ByName, sys_Inr): 48 more fit.
  for (int i = 0; i < 48; ++i) {
    ASSERT_GE(t->CreateUserIndex(u"I" + std::u16string(1, static_cast<char16_t>(u'A' + i % 26)) +
                                     std::u16string(1, static_cast<char16_t>(u'a' + i / 26)),
                                 u"AGE", false),
              0)
        << i << VdbUtf16ToUtf8(World.LastError.Msg());
  }
  EXPECT_EQ(t->GetIndexCount(), 50);
  EXPECT_EQ(t->CreateUserIndex(u"Last", u"AGE", false), -errTooManyIndexes);
  EXPECT_FALSE(World.Fs.FileExists(u"/db/People!Last.vdbi"));
}

TEST_F(BaseTableTest, UserIndexNamesAndRights) {
  auto t = MakePeople({u"Anna"});
  EXPECT_EQ(t->CreateUserIndex(u"sysThing", u"AGE", false), -errInvalidIndexName);
  EXPECT_EQ(t->CreateUserIndex(u"tmpIdx1", u"AGE", false), -errInvalidIndexName);
  EXPECT_EQ(t->CreateUserIndex(u"ByName", u"AGE", false), -errIndexAlreadyOpen);
  const TvuFileHandle h = World.Fs.CreateFile(u"/db/People!Stray.vdbi");
  World.Fs.CloseFile(h);
  EXPECT_EQ(t->CreateUserIndex(u"Stray", u"AGE", false), -errIndexFileExists);
  EXPECT_EQ(t->CreateUserIndex(u"Bad", u"NOSUCH", false), -errInvalidIndexSpec);
  EXPECT_EQ(t->DeleteIndex(t->RecordIdIndexNo()), -errPermissionDenied);
  t->SetRights(0x0007);
  EXPECT_EQ(t->CreateUserIndex(u"ByAge", u"AGE", false), -errCreateIndexDenied);
  EXPECT_EQ(t->DeleteIndex(t->GetIndexNo(u"ByName")), -errPermissionDenied);
}

TEST_F(BaseTableTest, UniqueIndexRefusesDuplicatesAndLeavesNoFile) {
  auto t = MakePeople({u"Anna", u"anna"});
  EXPECT_EQ(t->CreateUserIndex(u"U", u"NAME", true), -errNotUnique);
  EXPECT_FALSE(World.Fs.FileExists(u"/db/People!U.vdbi"));
  EXPECT_EQ(t->GetIndexNo(u"U"), -errIndexNotFound);
  EXPECT_GE(t->CreateUserIndex(u"U", u"NAME, ID", true), 0);
}

TEST_F(BaseTableTest, TemporaryIndexesServeSortOrdersAndAreDroppedAtClosing) {
  auto t = MakePeople({u"Cecil", u"Anna", u"Béla"});
  bool reverse = false;
  EXPECT_EQ(t->FindIndex(u"NAME", 0, reverse), t->GetIndexNo(u"ByName"));
  EXPECT_EQ(t->FindIndex(u"-NAME", 0, reverse), t->GetIndexNo(u"ByName"));
  EXPECT_TRUE(reverse);
  EXPECT_EQ(t->FindIndex(u"-NAME", tifoNoReverse, reverse), -1);
  EXPECT_EQ(t->FindIndex(u"AGE", 0, true, reverse), -errNoSuitableIndex);
  const TVdbSortNo temp = t->FindIndex(u"AGE, NAME", tifoCreate, reverse);
  ASSERT_GE(temp, 0);
  EXPECT_EQ(t->GetIndexName(temp), u"tmp001");
  EXPECT_EQ(t->GetIndexKind(temp), tikTemporary);
  EXPECT_EQ(t->GetIndexFile(temp).GetItemCount(), 3);
  // Asked again, the same index answers; a covered prefix too.
  EXPECT_EQ(t->FindIndex(u"AGE, NAME", tifoCreate, reverse), temp);
  EXPECT_EQ(t->FindIndex(u"AGE", tifoCreate, reverse), temp);
  EXPECT_EQ(t->FindIndex(u"AGE", tifoCreate | tifoExact, reverse), temp + 1);
  EXPECT_EQ(t->GetIndexName(temp + 1), u"tmp002");

  TListener reader;
  reader.ReadingIndex = temp;
  t->AddAccessor(reader);
  ASSERT_EQ(t->Close(), 0);
  EXPECT_TRUE(World.Fs.FileExists(u"/db/People!tmp001.vdbi"));   // still read by a cursor
  EXPECT_FALSE(World.Fs.FileExists(u"/db/People!tmp002.vdbi"));  // dropped
  t->RemoveAccessor(reader);
  t = World.OpenTable(u"/db/People.vdbt");
  EXPECT_GE(t->GetIndexNo(u"tmp001"), 0);
  EXPECT_EQ(t->GetIndexNo(u"tmp002"), -errIndexNotFound);
}

TEST_F(BaseTableTest, RemovingAnIndexRenumbersAndTellsListeners) {
  auto t = MakePeople({u"Anna"});
  const std::int16_t byAge = t->CreateUserIndex(u"ByAge", u"AGE", false);
  ASSERT_GE(byAge, 0);
  TListener reader;
  t->AddAccessor(reader);
  reader.ReadingIndex = t->GetIndexNo(u"ByName");
  EXPECT_EQ(t->DeleteIndex(reader.ReadingIndex), -errIndexInUse);
  reader.ReadingIndex = -1;
  const TVdbIndexNo byName = t->GetIndexNo(u"ByName");
  const TVdbIndexNo inr = t->RecordIdIndexNo();
  ASSERT_EQ(t->DeleteIndex(byName), 0);
  EXPECT_EQ(reader.Events, std::vector<std::string>{"index removed " + std::to_string(byName)});
  EXPECT_EQ(t->RecordIdIndexNo(), inr > byName ? inr - 1 : inr);
  EXPECT_EQ(t->GetIndexName(t->RecordIdIndexNo()), u"sys_Inr");
  EXPECT_FALSE(World.Fs.FileExists(u"/db/People!ByName.vdbi"));
  EXPECT_EQ(t->FindRecordId(1), 1);
  t->RemoveAccessor(reader);
  ASSERT_EQ(t->Close(), 0);
  t = World.OpenTable(u"/db/People.vdbt");
  EXPECT_EQ(t->GetIndexNo(u"ByName"), -errIndexNotFound);
  EXPECT_GE(t->GetIndexNo(u"ByAge"), 0);
}

TEST_F(BaseTableTest, RecordIds) {
  auto t = MakePeople({u"Anna", u"Béla"});
  std::vector<std::uint8_t> record(static_cast<std::size_t>(t->GetRecordSize()), 0);
  EXPECT_EQ(t->ReadNextRecordId(), 3);
  ASSERT_EQ(t->SetNextRecordId(10), 0);
  test::SetInt(*t, record, 0, 500);
  ASSERT_EQ(t->AdjustRecordId(record), 0);
  EXPECT_EQ(t->ReadNextRecordId(), 501);
  test::SetInt(*t, record, 0, 5);
  ASSERT_EQ(t->AdjustRecordId(record), 0);
  EXPECT_EQ(t->ReadNextRecordId(), 501);
  ASSERT_EQ(t->SetAutoNum(record), 0);
  std::int32_t id = 0;
  EXPECT_EQ(t->GetRecordId(record, id), 4);
  EXPECT_EQ(id, 501);
  ASSERT_EQ(t->CancelAutoNum(501), 0);
  EXPECT_EQ(t->ReadNextRecordId(), 501);
  ASSERT_EQ(t->RecalcAutoInc(), 0);
  EXPECT_EQ(t->ReadNextRecordId(), 3);
  t->SetRights(0x0100);
  EXPECT_EQ(t->SetAutoNum(record), -errNoWritePermission);
}

TEST_F(BaseTableTest, TableWithoutRecordId) {
  TVdbNewTable newTable;
  newTable.Path = u"/db/Plain";
  newTable.Columns = {Column(u"N", vctInteger)};
  ASSERT_EQ(World.NewTableObject()->NewTable(newTable), 0);
  auto t = World.OpenTable(u"/db/Plain.vdbt");
  std::vector<std::uint8_t> record(static_cast<std::size_t>(t->GetRecordSize()), 0);
  std::int32_t id = 7;
  EXPECT_EQ(t->GetRecordId(record, id), -1);
  EXPECT_EQ(static_cast<std::uint32_t>(id), 0x80000000u);
  EXPECT_EQ(t->SetAutoNum(record), -errNoRecordIdColumn);
  EXPECT_EQ(t->ReadRecordId(1), -errNoRecordIdColumn);
  EXPECT_EQ(t->FindRecordId(1), 0);
  EXPECT_EQ(t->GetRealIndexName(u"sys_Id"), u"");
  EXPECT_EQ(t->GetFirstRecordNo(), 0);
  EXPECT_EQ(t->GetLastRecordNo(), 0);
  EXPECT_EQ(t->ReadRecord(1, record), -errRecordNotFound);
}

TEST_F(BaseTableTest, NotificationsAreHeldBackWhileDisabled) {
  auto t = MakePeople({u"Anna"});
  TListener a, b;
  t->AddAccessor(a);
  t->AddAccessor(b);
  t->AddAccessor(a);  // once only
  EXPECT_EQ(t->GetCountAccessors(), 2);
  t->NotifyRecordChanged(1);
  t->EnableNotifications(false);
  t->EnableNotifications(false);
  t->NotifyRecordDeleted(1, 2);
  t->EnableNotifications(true);
  EXPECT_EQ(a.Events, std::vector<std::string>{"changed 1"});
  t->EnableNotifications(true);
  t->EnableNotifications(true);  // never below zero
  EXPECT_EQ(a.Events, (std::vector<std::string>{"changed 1", "relation changed"}));
  EXPECT_EQ(b.Events, a.Events);
  t->NotifyRelationChanged();
  EXPECT_EQ(a.Events.size(), 3u);
  t->RemoveAccessor(a);
  t->RemoveAccessor(b);
}

TEST_F(BaseTableTest, WritingIsRefusedWhenConstraintsCannotBeCompiled) {
  auto plain = MakePeople({u"Anna"});
  EXPECT_NO_THROW(plain->RequireRecordWriteSupport());
  plain->Close();
  TVdbNewTable newTable = PeopleTable(u"/db/Checked");
  // A check that names no column of the table cannot be compiled.
  newTable.CheckDefs.Add(std::make_unique<TVdbCheckDef>(u"", u"AGE >= 0 AND NOPE > 1"));
  ASSERT_EQ(World.NewTableObject()->NewTable(newTable), 0) << VdbUtf16ToUtf8(World.LastError.Msg());
  auto t = World.OpenTable(u"/db/Checked.vdbt");
  try {
    t->RequireRecordWriteSupport();
    ADD_FAILURE() << "writing allowed";
  } catch (const EVdbEngine& e) {
    EXPECT_EQ(e.Code(), errNotSupported);
    EXPECT_NE(e.Message().find(u"check constraints"), std::u16string::npos);
  }
  // Reading works as usual.
  EXPECT_EQ(t->GetRecordCount(), 0);
  EXPECT_GE(t->GetIndexNo(u"ByName"), 0);
}

TEST_F(BaseTableTest, OpenFailures) {
  auto t = World.NewTableObject();
  t->SetFileName(u"/db/Missing.vdbt");
  EXPECT_EQ(t->Open(false), -errFileNotFoundOrDenied);
  EXPECT_FALSE(t->GetActive());
  // A memo column whose memo file is gone: refused, or opened without it under force.
  TVdbNewTable newTable;
  newTable.Path = u"/db/Notes";
  newTable.Columns = {Column(u"N", vctInteger), Column(u"M", vctMemo, 0, true)};
  ASSERT_EQ(World.NewTableObject()->NewTable(newTable), 0);
  ASSERT_TRUE(World.Fs.DeleteFile(u"/db/Notes.vdbm"));
  auto notes = World.NewTableObject();
  notes->SetFileName(u"/db/Notes.vdbt");
  EXPECT_EQ(notes->Open(false), -errMemoFileOpen);
  EXPECT_FALSE(notes->GetActive());
  EXPECT_EQ(notes->Open(true), 0);
  EXPECT_TRUE(notes->GetActive());
  EXPECT_EQ(notes->MemoFile(), nullptr);
}

TEST(BaseTableOnDiskTest, TableOnTheOperatingSystemsFiles) {
  const std::filesystem::path dir =
      std::filesystem::temp_directory_path() / ("vidora-tables-" + std::to_string(::getpid()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  const std::u16string base = VdbUtf8ToUtf16(dir.string()) + u"/";
  {
    TvuOSFileSystem fs;
    TVdbPageManager pm;
    pm.RegisterClient(1, 4096);
    TVdbLastError lastError;
    TvuFakeClock clock;
    TvuFakeSleeper sleeper{clock};
    TvuFakeRandom random;
    TVdbTableEnvironment env{pm, fs, 1, lastError, TvuServices{clock, sleeper, random},
                             tilNone, kVdbDefaultBlockSize, &VdbSqlCompiler()};
    {
      TVdbBaseTable creator(env);
      ASSERT_EQ(creator.NewTable(PeopleTable(base + u"People")), 0) << VdbUtf16ToUtf8(lastError.Msg());
    }
    {
      TVdbBaseTable t(env);
      t.SetRights(0x010F);
      t.SetFileName(base + u"People.vdbt");
      ASSERT_EQ(t.Open(false), 0);
      ASSERT_EQ(t.Setup(false), 0);
      std::vector<std::uint8_t> record(static_cast<std::size_t>(t.GetRecordSize()));
      for (std::u16string name : {u"Őrbottyán", u"Ócsa", u"Orosháza"}) {
        std::fill(record.begin(), record.end(), std::uint8_t{0});
        ASSERT_EQ(t.SetAutoNum(record), 0);
        test::SetText(t, record, 1, name);
        test::AppendRaw(t, record);
      }
      ASSERT_EQ(t.RegenIndex(), 0);
    }
    ASSERT_TRUE(std::filesystem::remove(dir / "People!sys_Inr.vdbi"));
    {
      TVdbBaseTable t(env);
      t.SetRights(0x0000);
      t.SetFileName(base + u"People.vdbt");
      ASSERT_EQ(t.Open(false), 0);
      ASSERT_EQ(t.Setup(false), 0) << VdbUtf16ToUtf8(lastError.Msg());
      EXPECT_EQ(t.FindRecordId(3), 3);
      const TVdbIndexNo byName = t.GetIndexNo(u"ByName");
      std::vector<std::uint8_t> entry;
      std::vector<std::u16string> names;
      std::vector<std::uint8_t> record(static_cast<std::size_t>(t.GetRecordSize()));
      testsupport::TWalkBound bound(3, "the walk over the name index");
      for (auto r = t.GetIndexFile(byName).Erster_Index(entry); r == 0 && bound.Step();
           r = t.GetIndexFile(byName).Naechster_Index(entry)) {
        ASSERT_EQ(t.ReadRecord(VdbEntryRecNo(entry), record), 0);
        names.push_back(test::GetText(t, record, 1));
      }
      // The names come in Hungarian order, read back from files on disk.
      EXPECT_EQ(names.size(), 3u);
      for (std::size_t i = 1; i < names.size(); ++i) {
        EXPECT_LE(TVdbCollation::Resolve(u"Hungarian").CompareWide(names[i - 1], names[i]), 0);
      }
    }
    EXPECT_TRUE(std::filesystem::exists(dir / "People!sys_Inr.vdbi"));
    pm.UnregisterClient(1, 4096);
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
}  // namespace vdb
