// Memo, wide-memo and blob transfer through an accessor: lengths per kind (the blob's type
// word apart, short blobs empty with type 0), chunks read from offsets, transient values
// dropped after reading, pending values written in chunks and released by Cancel.
#include <gtest/gtest.h>

#include "../tables/TableTestSupport.h"
#include "session/VdbAccessor.h"
#include "session/VdbCursor.h"
#include "base/VdbErrorCodes.h"

namespace vdb {
namespace {

enum { fN = 1, fMemo, fWide, fBlob };

class AccessorBlobTest : public ::testing::Test {
 protected:
  void SetUp() override {
    TVdbNewTable def;
    def.Path = u"/db/Blobs";
    def.Capacity = 100;
    def.Columns = {test::Column(u"N", vctInteger, 0, true), test::Column(u"M", vctMemo, 0, true),
                   test::Column(u"W", vctWideMemo, 0, true), test::Column(u"B", vctBlob, 0, true)};
    ASSERT_EQ(World.NewTableObject()->NewTable(def), 0) << VdbUtf16ToUtf8(World.LastError.Msg());
    Table = World.OpenTable(u"/db/Blobs.vdbt");
    struct TRow {
      std::string Memo;
      std::u16string Wide;
      std::vector<std::uint8_t> Blob;
    };
    const TRow rows[] = {{"Kossuth utca 1.", u"Árvíztűrő", {0x34, 0x12, 'a', 'b', 'c'}},
                         {"", u"", {0x07, 0x00}},
                         {"x", u"y", {0x09}}};
    std::vector<std::uint8_t> record(static_cast<std::size_t>(Table->GetRecordSize()));
    for (const auto& r : rows) {
      std::fill(record.begin(), record.end(), std::uint8_t{0});
      test::SetInt(*Table, record, fN - 1, 1);
      test::SetInt(*Table, record, fMemo - 1, Table->MemoFile()->WriteString(0, r.Memo));
      test::SetInt(*Table, record, fWide - 1, Table->BlobFile()->WriteString(0, r.Wide));
      test::SetInt(*Table, record, fBlob - 1, Table->BlobFile()->WriteData(0, r.Blob));
      test::AppendRaw(*Table, record);
    }
  }
  void TearDown() override { Table->Close(); }

  test::TTableWorld World;
  std::unique_ptr<TVdbBaseTable> Table;
};

TEST_F(AccessorBlobTest, LengthsTypesAndChunks) {
  TVdbAccessor a(*Table, u"blob");
  ASSERT_EQ(a.GotoRecord(1), 0);
  struct TCase {
    std::int32_t Record, Field, Length;
    std::uint16_t Type;
  };
  const TCase cases[] = {
      {1, fMemo, 15, 0}, {1, fWide, 18, 0}, {1, fBlob, 3, 0x1234},
      {2, fMemo, 0, 0},  {2, fWide, 0, 0},  {2, fBlob, 0, 7},  // 2 bytes: empty, with its type word
      {3, fBlob, 0, 0},                                      // 1 byte: empty, type 0
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "record " << c.Record << " field " << c.Field);
    ASSERT_EQ(a.GotoRecord(c.Record), 0);
    std::uint16_t type = 99;
    EXPECT_EQ(a.InitGetBlob(c.Field, 0, type), c.Length);
    EXPECT_EQ(type, c.Type);
    a.DoneGetBlob();
    EXPECT_FALSE(a.HasPendingBlob(c.Field)) << "a value loaded for reading is dropped";
  }
  std::uint16_t type = 0;
  EXPECT_EQ(a.InitGetBlob(fN, 0, type), -errBlobFieldExpected);
  EXPECT_EQ(a.InitGetBlob(9, 0, type), -errBlobFieldExpected);

  ASSERT_EQ(a.GotoRecord(1), 0);
  ASSERT_EQ(a.InitGetBlob(fBlob, 0, type), 3);
  std::vector<std::uint8_t> chunk(2);
  EXPECT_EQ(a.GetBlobChunk(1, chunk), 2);
  EXPECT_EQ(chunk, (std::vector<std::uint8_t>{'b', 'c'})) << "offsets count after the type word";
  EXPECT_EQ(a.GetBlobChunk(3, chunk), 0);
  a.DoneGetBlob();
  ASSERT_EQ(a.InitGetBlob(fWide, 0, type), 18);
  EXPECT_EQ(a.GetBlobChunk(3, chunk), 2);
  EXPECT_EQ(chunk, (std::vector<std::uint8_t>{0x72, 0x00})) << "a wide memo's odd start is rounded down: 'r'";
  a.DoneGetBlob();
  EXPECT_EQ(a.GetBlobChunk(0, chunk), -errRecordNotFound) << "no transfer running";
}

TEST_F(AccessorBlobTest, PendingValuesAreWrittenInChunksAndReleasedByCancel) {
  TVdbAccessor a(*Table, u"blob");
  ASSERT_EQ(a.GotoRecord(1), 0);
  ASSERT_EQ(a.Append(), 0);
  ASSERT_EQ(a.InitSetBlob(fBlob, 6), 0);
  const std::vector<std::uint8_t> head{0x01, 0x00, 'x'};
  const std::vector<std::uint8_t> tail{'y', 'z', '!'};
  EXPECT_EQ(a.SetBlobChunk(0, head), 0);
  EXPECT_EQ(a.SetBlobChunk(3, tail), 0);
  EXPECT_EQ(a.SetBlobChunk(4, tail), -errRecordNotFound) << "beyond the announced size";
  a.DoneSetBlob();
  EXPECT_TRUE(a.HasPendingBlob(fBlob));
  // Reading gives the pending value, not the stored one.
  std::uint16_t type = 0;
  EXPECT_EQ(a.InitGetBlob(fBlob, 0, type), 4);
  EXPECT_EQ(type, 1);
  a.DoneGetBlob();
  EXPECT_TRUE(a.HasPendingBlob(fBlob)) << "a written value survives a read";
  ASSERT_EQ(a.Cancel(), 0);
  EXPECT_FALSE(a.HasPendingBlob(fBlob));
  EXPECT_EQ(a.RecordNo(), 1);
}

TEST_F(AccessorBlobTest, CursorRecordsMarkPendingValuesAndDropTheMarks) {
  TVdbCursor cursor(1, *Table, 1, u"cursor");
  ASSERT_EQ(cursor.Open(), 0);
  std::vector<std::uint8_t> record(static_cast<std::size_t>(Table->GetRecordSize()));
  ASSERT_EQ(cursor.GetRecord(record), 0);
  EXPECT_GT(test::GetInt(*Table, record, fBlob - 1), 0) << "browsing: the stored reference";
  EXPECT_EQ(cursor.SetRecord(record), -errRecordNotFound) << "nothing is edited";

  ASSERT_EQ(cursor.Accessor().Append(), 0);
  ASSERT_EQ(cursor.Accessor().InitSetBlob(fBlob, 2), 0);
  cursor.Accessor().DoneSetBlob();
  ASSERT_EQ(cursor.GetRecord(record), 0);
  EXPECT_EQ(test::GetInt(*Table, record, fBlob - 1), 0xFFFFFFFF) << "pending: the reference word -1";
  EXPECT_EQ(test::GetInt(*Table, record, fMemo - 1), 0) << "empty, nothing pending";
  ASSERT_EQ(cursor.SetRecord(record), 0);
  std::vector<std::uint8_t> work(record.size());
  ASSERT_EQ(cursor.Accessor().GetRecord(work), 0);
  EXPECT_EQ(test::GetInt(*Table, work, fBlob - 1), 0) << "the mark is not stored";
  EXPECT_TRUE(cursor.Accessor().HasPendingBlob(fBlob));
  ASSERT_EQ(cursor.Accessor().Cancel(), 0);
}

}  // namespace
}  // namespace vdb
