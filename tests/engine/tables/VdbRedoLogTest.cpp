// The redo log on its own: entries read back last to first with their memo/blob values, wide
// values written as UTF-16 entries, a log held by its writer refused to others, and the
// backward reading stopping at the header.
#include <gtest/gtest.h>

#include "storage/vuMemoryFileSystem.h"
#include "tables/VdbRedoLog.h"

namespace vdb {
namespace {

constexpr std::int32_t kRecordSize = 6;

std::vector<std::uint8_t> Bytes(std::string_view s) { return {s.begin(), s.end()}; }

TEST(RedoLogTest, EntriesAreReadBackLastToFirstWithTheirValues) {
  TvuMemoryFileSystem fs;
  fs.ForcePath(u"/db");
  TVdbRedoLog log(fs, u"/db/T.vdbt", 6, false, kRecordSize);
  EXPECT_EQ(log.FileName(), u"/db/T.vdbr");
  log.NewFile();
  log.LogInsert(7);
  log.LogUpdate(3, Bytes("abcdef"),
                {TVdbBlobData{2, Bytes("memo"), false}, TVdbBlobData{0, Bytes("unused"), false},
                 TVdbBlobData{4, {}, false}, TVdbBlobData{5, Bytes(std::string_view("w\0i\0", 4)), false}},
                {5});
  log.LogDelete(9, Bytes("uvwxyz"), {});
  // Nobody else takes the log while its writer holds it.
  TVdbRedoLog other(fs, u"/db/T.vdbt", 6, false, kRecordSize);
  EXPECT_FALSE(other.Open());
  log.Close();

  ASSERT_TRUE(other.Open());
  ASSERT_TRUE(other.ReadPriorAction());
  EXPECT_EQ(other.LastActionKind(), takDelete);
  EXPECT_EQ(other.LastActionRecordNo(), 9);
  EXPECT_EQ(other.LastActionRecBuffer(), Bytes("uvwxyz"));
  EXPECT_TRUE(other.LastActionBlobs().empty());
  ASSERT_TRUE(other.ReadPriorAction());
  EXPECT_EQ(other.LastActionKind(), takUpdate);
  EXPECT_EQ(other.LastActionRecordNo(), 3);
  EXPECT_EQ(other.LastActionRecBuffer(), Bytes("abcdef"));
  ASSERT_EQ(other.LastActionBlobs().size(), 2u);  // unused and empty entries are not logged
  EXPECT_EQ(other.LastActionBlobs()[0].FieldNo, 2);
  EXPECT_EQ(other.LastActionBlobs()[0].Data, Bytes("memo"));
  EXPECT_EQ(other.LastActionBlobs()[1].FieldNo, 5);
  EXPECT_EQ(other.LastActionBlobs()[1].Data, Bytes(std::string_view("w\0i\0", 4)));
  ASSERT_TRUE(other.ReadPriorAction());
  EXPECT_EQ(other.LastActionKind(), takInsert);
  EXPECT_EQ(other.LastActionRecordNo(), 7);
  EXPECT_FALSE(other.ReadPriorAction());
  other.Erase();
  EXPECT_FALSE(fs.FileExists(u"/db/T.vdbr"));
}

TEST(RedoLogTest, WideValuesAreWrittenAsTextEntries) {
  TvuMemoryFileSystem fs;
  fs.ForcePath(u"/db");
  TVdbRedoLog log(fs, u"/db/T.vdbt", 6, false, kRecordSize);
  log.NewFile();
  log.LogUpdate(1, Bytes("abcdef"), {TVdbBlobData{5, Bytes(std::string_view("w\0", 2)), false}, TVdbBlobData{2, Bytes("m"), false}}, {5});
  log.Close();
  const std::vector<std::uint8_t> bytes = fs.Contents(u"/db/T.vdbr");
  // Header 8, update 5 + 6 + 4, then the wide entry (kind 4) and the byte entry (kind 3).
  ASSERT_EQ(bytes.size(), 8u + 15u + (5u + 2u + 4u) + (5u + 1u + 4u));
  EXPECT_EQ(bytes[23], takWideMemo);
  EXPECT_EQ(bytes[34], takBlob);
}

TEST(RedoLogTest, OldLevelsAndRelationTablesHaveTheirOwnNames) {
  TvuMemoryFileSystem fs;
  EXPECT_EQ(TVdbRedoLog(fs, u"/db/T.dat", 5, false, 1).FileName(), u"/db/T.tra");
  EXPECT_EQ(TVdbRedoLog(fs, u"/db/T.rel", 4, true, 1).FileName(), u"/db/T.rtr");
}

TEST(RedoLogTest, ALogCutShortInItsHeaderHasNothingToUndo) {
  TvuMemoryFileSystem fs;
  fs.ForcePath(u"/db");
  const TvuFileHandle h = fs.CreateFile(u"/db/T.vdbr");
  const std::uint8_t part[] = {0xB0, 0xC0, 0xD0};
  fs.FileWrite(h, 0, part, sizeof part);
  fs.CloseFile(h);
  TVdbRedoLog log(fs, u"/db/T.vdbt", 6, false, kRecordSize);
  ASSERT_TRUE(log.Open());
  EXPECT_FALSE(log.ReadPriorAction());
}

}  // namespace
}  // namespace vdb
