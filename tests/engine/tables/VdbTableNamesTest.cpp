// File names of a table per level, standard names, index kinds and the engine's own index
// names, as tables of cases.
#include <gtest/gtest.h>

#include "base/VdbFormat.h"
#include "tables/VdbTableNames.h"

namespace vdb {
namespace {

std::string U8(std::u16string_view s) { return VdbUtf16ToUtf8(s); }

struct TFileSetCase {
  int Level;
  std::u16string DataFile;
  std::u16string Memo, Blob, Lock, Move, Redo;
  std::u16string UserIndex;     // file of index "byname"
  std::u16string RelTable;      // relation table of column "C"
  bool IsRel;
};

TEST(VdbTableNamesTest, FileSetOfEachLevel) {
  const std::vector<TFileSetCase> cases = {
      {6, u"/d/ORDERS.vdbt", u"/d/ORDERS.vdbm", u"/d/ORDERS.vdbb", u"/d/ORDERS.vdbl", u"/d/ORDERS.vdbv",
       u"/d/ORDERS.vdbr", u"/d/ORDERS!byname.vdbi", u"/d/ORDERS!rel_C.vdbt", false},
      {5, u"/d/ORDERS.dat", u"/d/ORDERS.mmo", u"/d/ORDERS.blb", u"/d/ORDERS.net", u"/d/ORDERS.mov",
       u"/d/ORDERS.tra", u"/d/ORDERS!byname.ind", u"/d/C.rel", false},
      {4, u"/d/ORDERS.dat", u"/d/ORDERS.mmo", u"/d/ORDERS.blb", u"/d/ORDERS.net", u"/d/ORDERS.mov",
       u"/d/ORDERS.tra", u"/d/ORDERS!byname.ind", u"/d/C.rel", false},
      {3, u"/d/ORDERS.dat", u"/d/ORDERS.mmo", u"/d/ORDERS.blb", u"/d/ORDERS.net", u"/d/ORDERS.mov",
       u"/d/ORDERS.tra", u"/d/byname.ind", u"/d/C.rel", false},
      {2, u"/d/~tmp1.dat", u"/d/~tmp1.mmo", u"/d/~tmp1.blb", u"/d/~tmp1.net", u"/d/~tmp1.mov", u"/d/~tmp1.tra",
       u"/d/byname.$$i", u"/d/C.rel", false},
      {5, u"/d/x.rel", u"/d/x.mmo", u"/d/x.blb", u"/d/x.rnt", u"/d/x.rmv", u"/d/x.rtr", u"/d/x!byname.ind",
       u"/d/C.rel", true},
      {6, u"/d/T!rel_C.vdbt", u"/d/T!rel_C.vdbm", u"/d/T!rel_C.vdbb", u"/d/T!rel_C.vdbl", u"/d/T!rel_C.vdbv",
       u"/d/T!rel_C.vdbr", u"/d/T!rel_C!byname.vdbi", u"/d/T!rel_C!rel_C.vdbt", true},
      {1, u"rel/ORDERS.dat", u"rel/ORDERS.mmo", u"rel/ORDERS.blb", u"rel/ORDERS.net", u"rel/ORDERS.mov",
       u"rel/ORDERS.tra", u"rel/byname.ind", u"rel/C.rel", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(U8(c.DataFile) + " level " + std::to_string(c.Level));
    const TVdbTableFileNames n(c.DataFile, c.Level);
    EXPECT_EQ(U8(n.MemoFile()), U8(c.Memo));
    EXPECT_EQ(U8(n.BlobFile()), U8(c.Blob));
    EXPECT_EQ(U8(n.LockFile()), U8(c.Lock));
    EXPECT_EQ(U8(n.MoveFile()), U8(c.Move));
    EXPECT_EQ(U8(n.RedoLogFile()), U8(c.Redo));
    EXPECT_EQ(U8(n.IndexFile(u"byname")), U8(c.UserIndex));
    EXPECT_EQ(U8(n.RelationTableFile(u"C")), U8(c.RelTable));
    EXPECT_EQ(n.IsRelTable(), c.IsRel);
    EXPECT_EQ(n.FullTextExt(), c.Level >= 6 ? u".vdbf" : u".ift");
  }
}

TEST(VdbTableNamesTest, SystemIndexFilesOfOldAndNewLevels) {
  // A table with a record-id column and two link columns.
  const TVdbTableFileNames old(u"/d/ORDERS.dat", 3);
  EXPECT_EQ(U8(old.IndexFile(VdbRecordIdIndexName(3, u"ORDERS"))), "/d/ORDERS.inr");
  EXPECT_EQ(U8(old.IndexFile(VdbIdIndexName(3, u"ORDERS"))), "/d/ORDERS.id");
  EXPECT_EQ(U8(old.IndexFile(VdbLinkIndexName(3, u"ORDERS", 1))), "/d/ORDERS.in1");
  EXPECT_EQ(U8(old.IndexFile(VdbLinkIndexName(3, u"ORDERS", 2))), "/d/ORDERS.in2");
  const TVdbTableFileNames now(u"/d/ORDERS.vdbt", 6);
  EXPECT_EQ(U8(now.IndexFile(VdbRecordIdIndexName(6, u"ORDERS"))), "/d/ORDERS!sys_Inr.vdbi");
  EXPECT_EQ(U8(now.IndexFile(VdbIdIndexName(6, u"ORDERS"))), "/d/ORDERS!sys_Id.vdbi");
  EXPECT_EQ(U8(now.IndexFile(VdbLinkIndexName(6, u"ORDERS", 2))), "/d/ORDERS!sys_In2.vdbi");
  // Old system names keep the first 40 characters of the table's name.
  const std::u16string longName(45, u'N');
  EXPECT_EQ(VdbRecordIdIndexName(2, longName), std::u16string(40, u'N') + u".inr");
  EXPECT_EQ(VdbTempIndexName(6, u"ORDERS", 7), u"tmp007");
  EXPECT_EQ(VdbTempIndexName(2, u"ORDERS", 7), u"ORDERS.$07");
  EXPECT_EQ(VdbUniqueIndexName(2), u"sys_Unique2");
  EXPECT_EQ(VdbForeignKeyIndexName(u"FK1"), u"sys_FKFK1");
  EXPECT_EQ(VdbReferentialIndexName(u"R"), u"IR_R");
}

TEST(VdbTableNamesTest, StandardNamesAndDataFileNames) {
  const std::vector<std::pair<std::u16string, std::u16string>> std = {
      {u"/d/x.rel", u"x.rel"}, {u"/d/x.dat", u"x"}, {u"x.DAT", u"x"},     {u"/a/b/Irsz.vdbt", u"Irsz"},
      {u"Irsz.VDBT", u"Irsz"}, {u"x.txt", u"x.txt"}, {u"x", u"x"},         {u"/d/T!rel_C.vdbt", u"T!rel_C"}};
  for (const auto& [path, expected] : std) EXPECT_EQ(U8(VdbCalcStdTableName(path)), U8(expected)) << U8(path);

  EXPECT_EQ(VdbDataFileNameFor(u"/d/Irsz", 6), u"/d/Irsz.vdbt");
  EXPECT_EQ(VdbDataFileNameFor(u"/d/Irsz", 3), u"/d/Irsz.dat");
  EXPECT_EQ(VdbDataFileNameFor(u"/d/Irsz.rel", 5), u"/d/Irsz.rel");
  EXPECT_TRUE(VdbExtensionFitsLevel(u"a.vdbt", 6));
  EXPECT_TRUE(VdbExtensionFitsLevel(u"a", 6));
  EXPECT_FALSE(VdbExtensionFitsLevel(u"a.dat", 6));
  EXPECT_TRUE(VdbExtensionFitsLevel(u"a.rel", 2));
  EXPECT_FALSE(VdbExtensionFitsLevel(u"a.vdbt", 5));
}

TEST(VdbTableNamesTest, IndexKindFromName) {
  struct TCase {
    std::u16string Name;
    int Level;
    TVdbIndexKind Kind;
  };
  const std::vector<TCase> cases = {
      {u"TELEP", 6, tikUser},         {u"byname.ind", 6, tikUser},     {u"sys_Id", 6, tikAdl},
      {u"SYS_INR", 6, tikAdl},        {u"sys_In3", 6, tikAdl},         {u"sys_In0", 6, tikConstraint},
      {u"sys_In", 6, tikConstraint},  {u"sys_Primary", 6, tikConstraint}, {u"sys_Unique1", 5, tikConstraint},
      {u"sys_FKx", 4, tikConstraint}, {u"tmp001", 6, tikTemporary},    {u"TMP001", 6, tikUser},
      {u"byname", 3, tikUser},        {u"byname.ind", 2, tikUser},     {u"byname.$$i", 1, tikUser},
      {u"ORDERS.$07", 3, tikTemporary}, {u"ORDERS.inr", 3, tikAdl},    {u"ORDERS.id", 2, tikAdl},
      {u"ORDERS.in9", 3, tikAdl},     {u"ORDERS.in0", 3, tikUnknown},  {u"x.abc", 3, tikUnknown},
  };
  for (const auto& c : cases) EXPECT_EQ(VdbGetIndexKind(c.Name, c.Level), c.Kind) << U8(c.Name) << " " << c.Level;
  EXPECT_TRUE(VdbIsReservedIndexName(u"sysx"));
  EXPECT_TRUE(VdbIsReservedIndexName(u"TMPIDX1"));
  EXPECT_FALSE(VdbIsReservedIndexName(u"tmp001"));
  EXPECT_EQ(VdbIndexSlotCount(6), 50);
  EXPECT_EQ(VdbIndexSlotCount(4), 50);
  EXPECT_EQ(VdbIndexSlotCount(3), 15);
}

}  // namespace
}  // namespace vdb
