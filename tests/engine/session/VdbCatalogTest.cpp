// Catalog: table names resolved to files (extension order, case, ties between spellings),
// opening and refusing tables, slot lookups, the 255th table closing unused ones or failing
// when all are in use, closing rules for tables in use, table names of the database, and the
// unlock thread's life with the catalog.
#include <gtest/gtest.h>

#include "../tables/TableTestSupport.h"
#include "session/VdbCatalog.h"
#include "base/VdbErrorCodes.h"
#include "sql/VdbSqlCompiler.h"

namespace vdb {
namespace {

class CatalogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    World.Fs.ForcePath(u"/db");
    ASSERT_EQ(Catalog.Open(World.Fs), 0);
  }
  void TearDown() override { EXPECT_EQ(Catalog.Close(), 0); }

  void MakeTable(const std::u16string& path, int level = 6) {
    TVdbNewTable t;
    t.Path = path;
    t.Level = level;
    t.Capacity = 100;
    t.Columns = {test::Column(u"N", vctInteger)};
    ASSERT_EQ(World.NewTableObject()->NewTable(t), 0) << VdbUtf16ToUtf8(World.LastError.Msg());
  }
  void Touch(const std::u16string& path) {
    const TvuFileHandle h = World.Fs.CreateFile(path);
    ASSERT_TRUE(TvuFileSystem::IsValidHandle(h));
    World.Fs.CloseFile(h);
  }

  test::TTableWorld World;
  TVdbCatalog Catalog{World.PageManager, World.LastError, TvuServices{World.Clock, World.Sleeper, World.Random}, 2,
                      &VdbSqlCompiler()};
  bool Located = [this] {
    Catalog.SetLocation(u"/db/");
    return true;
  }();
};

TEST_F(CatalogTest, ResolvesTableNamesToFiles) {
  for (const char16_t* f : {u"/db/Irsz.dat", u"/db/Irsz.vdbt", u"/db/Only.vdbt", u"/db/Mixed.VDBT", u"/db/twin.vdbt",
                            u"/db/TWIN.vdbt", u"/db/Twin.vdbt", u"/db/pair.dat", u"/db/PAIR.dat", u"/db/sys_UserTables.vdbt",
                            u"/db/Links.rel", u"/db/notes.txt"}) {
    Touch(f);
  }
  struct TCase {
    std::u16string Name;
    std::u16string File;
  };
  const TCase cases[] = {
      {u"Irsz", u"/db/Irsz.dat"},          // ".dat" before ".vdbt"
      {u"Irsz.vdbt", u"/db/Irsz.vdbt"},    // an extension is used as it is
      {u"only", u"/db/Only.vdbt"},         // case-insensitive
      {u"Mixed", u"/db/Mixed.VDBT"},
      {u"Twin", u"/db/Twin.vdbt"},         // the exact spelling wins
      {u"tWIN", u"/db/TWIN.vdbt"},         // else the first in code-unit order
      {u"PAIR", u"/db/PAIR.dat"},
      {u"Pair", u"/db/PAIR.dat"},
      {u"/db/only.vdbt", u"/db/Only.vdbt"},  // with a directory
      {u"Missing", u""},
      {u"Irsz.txt", u""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(VdbUtf16ToUtf8(Catalog.ResolveTableFile(c.Name)), VdbUtf16ToUtf8(c.File)) << VdbUtf16ToUtf8(c.Name);
  }
  EXPECT_TRUE(Catalog.ExistsTable(u"Only"));
  EXPECT_TRUE(Catalog.ExistsTable(u"pair"));
  EXPECT_FALSE(Catalog.ExistsTable(u"Missing"));
  EXPECT_EQ(Catalog.GetTableNames(),
            (std::vector<std::u16string>{u"Irsz", u"Links.rel", u"Mixed", u"Only", u"PAIR", u"TWIN", u"Twin", u"pair", u"twin"}));
  EXPECT_TRUE(TVdbCatalog::IsTableNameEqual(u"/x/IRSZ.vdbt", u"irsz"));
  EXPECT_FALSE(TVdbCatalog::IsTableNameEqual(u"Irsz.rel", u"Irsz"));
}

TEST_F(CatalogTest, OpensFindsAndRefusesTables) {
  MakeTable(u"/db/Irsz");
  MakeTable(u"/db/Other");
  const std::int16_t irsz = Catalog.OpenTable(u"irsz", u"", 0x000F);
  ASSERT_GT(irsz, 0) << VdbUtf16ToUtf8(World.LastError.Msg());
  EXPECT_EQ(irsz, 1);
  EXPECT_EQ(Catalog.GetAccessor(irsz)->GetTag(), u"Session_Default");
  EXPECT_EQ(Catalog.GetRelation(irsz)->GetRltnIdx(), irsz);
  EXPECT_EQ(Catalog.OpenTable(u"IRSZ.vdbt", u"", 0x000F), -errTableAlreadyOpen);
  EXPECT_NE(World.LastError.Msg().find(u"IRSZ"), std::u16string::npos);
  EXPECT_EQ(Catalog.OpenTable(u"Nowhere", u"", 0x000F), -errFileNotFoundOrDenied);
  EXPECT_EQ(Catalog.OpenRelationCount(), 1) << "a refused table leaves no slot taken";
  EXPECT_EQ(Catalog.TryOpenTable(u"Irsz", u"", 0x000F), irsz) << "an open table gives its slot";
  const std::int16_t other = Catalog.TryOpenTable(u"Other", u"", 0x000F);
  EXPECT_EQ(other, 2);

  struct TFind {
    std::u16string Name;
    TVdbRltnIdx Slot;
  };
  for (const auto& f : {TFind{u"Irsz", 1}, TFind{u"irsz.VDBT", 1}, TFind{u"/db/IRSZ", 1}, TFind{u"/other/Irsz", 0},
                        TFind{u"Irsz.dat", 0}, TFind{u"OTHER", 2}, TFind{u"Third", 0}}) {
    EXPECT_EQ(Catalog.FindRltnIdx(f.Name), f.Slot) << VdbUtf16ToUtf8(f.Name);
  }
  EXPECT_EQ(Catalog.CalcRltnHdl(3), 256 + 3);
  EXPECT_EQ(TVdbCatalog::GetRltnIdx(256 + 3), 3);

  // In use while a cursor watches it besides the default accessor.
  {
    TVdbAccessor cursor(*Catalog.GetRelation(irsz), u"cursor");
    EXPECT_TRUE(Catalog.IsInUse(irsz));
    EXPECT_EQ(Catalog.TryCloseRelation(irsz), -errTableStillAccessed);
    EXPECT_TRUE(Catalog.IsActiveRltnIdx(irsz));
  }
  EXPECT_EQ(Catalog.TryCloseRelation(irsz), 0);
  EXPECT_FALSE(Catalog.IsActiveRltnIdx(irsz));
  EXPECT_EQ(Catalog.GetFreeRltnIdx(), 1);
}

TEST_F(CatalogTest, The255thTableClosesUnusedTablesOrFails) {
  std::vector<std::u16string> names;
  for (int i = 0; i <= kVdbMaxRltnIdx; ++i) {
    names.push_back(u"T" + VdbUtf8ToUtf16(std::to_string(i)));
    MakeTable(u"/db/" + names.back());
  }
  MakeTable(u"/db/sys_Keep");
  // All slots taken, the system table among them; one watched by a cursor.
  ASSERT_EQ(Catalog.OpenTable(u"sys_Keep", u"", 0x000F), 1);
  for (int i = 0; i < kVdbMaxRltnIdx - 1; ++i) ASSERT_GT(Catalog.OpenTable(names[static_cast<std::size_t>(i)], u"", 0x000F), 0);
  ASSERT_EQ(Catalog.GetFreeRltnIdx(), 0);
  auto watched = std::make_unique<TVdbAccessor>(*Catalog.GetRelation(2), u"cursor");
  const std::int16_t slot = Catalog.OpenTable(names[kVdbMaxRltnIdx - 1], u"", 0x000F);
  ASSERT_GT(slot, 0) << VdbUtf16ToUtf8(World.LastError.Msg());
  EXPECT_EQ(Catalog.OpenRelationCount(), 3) << "the system table, the watched one and the new one";
  EXPECT_GT(Catalog.FindRltnIdx(u"sys_Keep"), 0);
  EXPECT_EQ(Catalog.FindRltnIdx(names[0]), 2);
  watched.reset();

  // Every slot in use: nothing can be closed.
  std::vector<std::unique_ptr<TVdbAccessor>> cursors;
  std::size_t next = 1;
  for (TVdbRltnIdx i = 1; i <= kVdbMaxRltnIdx; ++i) {
    if (!Catalog.IsActiveRltnIdx(i)) {
      ASSERT_EQ(Catalog.OpenTable(names[next++], u"", 0x000F), i);
    }
  }
  for (TVdbRltnIdx i = 1; i <= kVdbMaxRltnIdx; ++i) cursors.push_back(std::make_unique<TVdbAccessor>(*Catalog.GetRelation(i), u"c"));
  EXPECT_EQ(Catalog.OpenTable(u"T254", u"", 0x000F), -errTooManyTables);
  EXPECT_EQ(Catalog.OpenRelationCount(), kVdbMaxRltnIdx);
  cursors.clear();
  EXPECT_EQ(Catalog.CloseUnneededTables(false, false), kVdbMaxRltnIdx - 1);
  EXPECT_EQ(Catalog.CloseUnneededTables(false, true), 1);
}

TEST_F(CatalogTest, TemporaryTablesLiveInThePrivateDirectoryUntilClosed) {
  World.Fs.ForcePath(u"/private");
  Catalog.SetPrivateDir(u"/private/");
  const std::int16_t slot = Catalog.CreateAndOpenTempTable(u"Scratch", {test::Column(u"N", vctInteger)});
  ASSERT_GT(slot, 0) << VdbUtf16ToUtf8(World.LastError.Msg());
  EXPECT_TRUE(Catalog.IsTemporary(slot));
  const TVdbRelation& t = *Catalog.GetRelation(slot);
  const std::u16string file = static_cast<const TVdbBaseTable&>(t).FileName();
  EXPECT_EQ(file.substr(0, 17), u"/private/Scratch_");
  ASSERT_EQ(file.size(), 17u + 8u + 5u) << VdbUtf16ToUtf8(file);
  for (std::size_t i = 17; i < 25; ++i) EXPECT_TRUE(file[i] >= u'a' && file[i] <= u'z');
  EXPECT_TRUE(t.GetExclusive());
  EXPECT_TRUE(World.Fs.FileExists(file));
  // A second one gets a name of its own.
  const std::int16_t second = Catalog.CreateAndOpenTempTable(u"Scratch", {test::Column(u"N", vctInteger)});
  ASSERT_GT(second, 0);
  EXPECT_NE(static_cast<const TVdbBaseTable&>(*Catalog.GetRelation(second)).FileName(), file);
  // Unneeded temporary tables go first; closing deletes the files.
  EXPECT_EQ(Catalog.CloseUnneededTables(true, false), 2);
  EXPECT_FALSE(World.Fs.FileExists(file));
  EXPECT_EQ(Catalog.CalcTemporaryTableName(u"Work"), u"Work");
}

TEST_F(CatalogTest, ManagedDatabasesOpenTheirListedTables) {
  ASSERT_EQ(Catalog.Close(), 0);
  auto makeSystem = [&](const std::u16string& path, int level) {
    TVdbNewTable t;
    t.Path = path;
    t.Level = level;
    t.Capacity = 100;
    t.Columns = {test::Column(u"Name", vctString, 44), test::Column(u"FileName", vctString, 255)};
    ASSERT_EQ(World.NewTableObject()->NewTable(t), 0) << VdbUtf16ToUtf8(World.LastError.Msg());
  };
  // One system table in each form: not managed.
  makeSystem(u"/db/sys_UserTables", 6);
  makeSystem(u"/db/sys_UserColumns", 5);
  ASSERT_EQ(Catalog.Open(World.Fs), 0);
  EXPECT_EQ(Catalog.ManagementLevel(), tmlUnmanaged);
  EXPECT_EQ(Catalog.OpenRelationCount(), 0);
  ASSERT_EQ(Catalog.Close(), 0);

  makeSystem(u"/db/sys_UserColumns", 6);
  MakeTable(u"/db/Irsz");
  MakeTable(u"/db/Other");
  {
    auto list = World.OpenTable(u"/db/sys_UserTables.vdbt");
    std::vector<std::uint8_t> record(static_cast<std::size_t>(list->GetRecordSize()));
    for (const char16_t* name : {u"Irsz", u"Other"}) {
      std::fill(record.begin(), record.end(), std::uint8_t{0});
      test::SetText(*list, record, 0, name);
      test::AppendRaw(*list, record);
    }
    list->Close();
  }
  ASSERT_EQ(Catalog.Open(World.Fs), 0) << VdbUtf16ToUtf8(World.LastError.Msg());
  EXPECT_EQ(Catalog.ManagementLevel(), tmlManaged);
  EXPECT_EQ(Catalog.OpenRelationCount(), 4);
  EXPECT_GT(Catalog.FindRltnIdx(u"Irsz"), 0);
  EXPECT_GT(Catalog.FindRltnIdx(u"Other"), 0);
  EXPECT_EQ(Catalog.GetTableNames(), (std::vector<std::u16string>{u"Irsz", u"Other"}));
}

TEST_F(CatalogTest, WrongCredentialsAskThePasswordCallback) {
  TVdbNewTable t;
  t.Path = u"/db/Secret";
  t.Capacity = 100;
  t.Columns = {test::Column(u"N", vctInteger)};
  t.EncryptionMethod = emProtection;
  t.Key = u"open sesame";
  ASSERT_EQ(World.NewTableObject()->NewTable(t), 0) << VdbUtf16ToUtf8(World.LastError.Msg());
  EXPECT_EQ(Catalog.TryOpenTable(u"Secret", u"", 0x000F), -errInvalidCredentials) << "no callback";

  std::vector<std::u16string> answers{u"guess", u"open sesame"};
  int asked = 0;
  Catalog.PasswordCallback = [&](std::span<char16_t> buffer) {
    EXPECT_EQ(buffer.size(), 512u);
    EXPECT_EQ(buffer[0], u'X');
    EXPECT_EQ(buffer[255], u'\0');
    const std::u16string& a = answers[static_cast<std::size_t>(asked++)];
    std::copy(a.begin(), a.end(), buffer.begin());
    buffer[a.size()] = u'\0';
    return 0;
  };
  EXPECT_GT(Catalog.TryOpenTable(u"Secret", u"", 0x000F), 0) << VdbUtf16ToUtf8(World.LastError.Msg());
  EXPECT_EQ(asked, 2);
  ASSERT_EQ(Catalog.CloseRelation(Catalog.FindRltnIdx(u"Secret")), 0);

  Catalog.PasswordCallback = [&](std::span<char16_t>) { return 1; };
  EXPECT_EQ(Catalog.TryOpenTable(u"Secret", u"", 0x000F), -errInvalidCredentials) << "cancelled";
}

TEST_F(CatalogTest, UnlockThreadLivesWithTheOpenCatalog) {
  EXPECT_TRUE(Catalog.UnlockThreadRunning());
  MakeTable(u"/db/Irsz");
  ASSERT_GT(Catalog.OpenTable(u"Irsz", u"", 0x000F), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));  // let it make passes over the table
  EXPECT_EQ(Catalog.Close(), 0);
  EXPECT_FALSE(Catalog.UnlockThreadRunning());
  EXPECT_EQ(Catalog.OpenRelationCount(), 0);
  EXPECT_EQ(Catalog.OpenTable(u"Irsz", u"", 0x000F), -errFileNotFoundOrDenied) << "a closed catalog opens nothing";
  ASSERT_EQ(Catalog.Open(World.Fs), 0);
  EXPECT_TRUE(Catalog.UnlockThreadRunning());
}

}  // namespace
}  // namespace vdb
