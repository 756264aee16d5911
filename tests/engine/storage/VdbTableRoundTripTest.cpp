// The settlement table on disk: every column type it needs, 3,155 records with their notes in
// the memo file, written, closed, reopened and read back value for value.
#include <gtest/gtest.h>


#include "DataFileTestSupport.h"
#include "SettlementsCsv.h"
#include "StorageTestSupport.h"
#include "storage/VdbBlobFile.h"
#include "storage/vuOSFileSystem.h"
#include "types/vuCodePage.h"

namespace vdb {
namespace {

using testsupport::ReadSettlements;
using testsupport::SettlementsCsv;
using testsupport::ToInt;

enum TCol { cIrsz, cTelep, cTelk, cRang, cRegio, cMegye, cKisters, cTerulet, cNepess, cLakas, cEgyeb, cCount };

TEST(VdbTableRoundTripTest, SettlementTableSurvivesCloseAndReopen) {
  const auto rows = ReadSettlements();
  ASSERT_EQ(rows.size(), 3155u) << SettlementsCsv();
  for (const auto& r : rows) ASSERT_EQ(r.size(), static_cast<std::size_t>(cCount));

  test::TTempDir dir;
  TvuOSFileSystem fs;
  TVdbPageManager pageManager;
  pageManager.RegisterClient(1, 4096);
  const std::u16string dataName = dir.File("Irsz.vdbt");
  const std::u16string memoName = dir.File("Irsz.vdbm");
  const std::u16string hu = u"Hungarian";
  TVdbTableDefinition def = test::MakeDefinition(
      {{u"IRSZ", vctInteger},
       {u"TELEP", vctString, false, 40},
       {u"TELK", vctSmallInt, true},
       {u"RANG", vctString, true, 30},
       {u"REGIO", vctString, true, 30},
       {u"MEGYE", vctString, true, 30},
       {u"KISTERS", vctString, true, 30},
       {u"TERULET", vctFloat, true},
       {u"NEPESS", vctInteger, true},
       {u"LAKAS", vctInteger, true},
       {u"EGYEB", vctMemo, true}},
      6, hu);
  def.Capacity = 5000;
  const auto& telep = static_cast<const TVdbStringType&>(*def.ColumnDefs.GetColumnDef(cTelep).DataType());
  ASSERT_EQ(telep.CodePage(), 1250);

  {
    TvuCryptor none;
    TVdbHeapDataFile data(pageManager, fs, dataName, 1);
    data.NewFile(6, none, def, true);
    TVdbMemoFile memo(pageManager, fs, memoName, 1, 6, u"Irsz");
    memo.NewFile(true);
    std::vector<std::uint8_t> record(data.RecordSize());
    TVdbDataValue value;
    for (const auto& row : rows) {
      std::fill(record.begin(), record.end(), std::uint8_t{0});
      for (int c = 0; c < cCount; ++c) {
        const TVdbColumnDef& col = def.ColumnDefs.GetColumnDef(c);
        const TVdbDataType& type = *col.DataType();
        type.SetReference(value, record, static_cast<std::size_t>(col.Position()));
        const std::u16string& text = row[static_cast<std::size_t>(c)];
        if (c == cEgyeb) {
          const auto bytes = TvuCodePage::FromUnicode(1250, text);
          type.SetInteger(value, memo.WriteString(0, bytes));
        } else if (text.empty()) {
          type.SetNull(value);
        } else if (type.IsString()) {
          type.SetWideString(value, text);
        } else if (c == cTerulet) {
          type.SetDouble(value, static_cast<double>(ToInt(text)));
        } else {
          type.SetInteger(value, ToInt(text));
        }
      }
      data.InsertRecord(record);
    }
    data.Flush();
    memo.Flush();
    data.Close();
    memo.Close();
  }

  TvuCryptor none;
  TVdbTableDefinition read;
  TVdbHeapDataFile data(pageManager, fs, dataName, 1);
  data.Open(true, false, none, read);
  TVdbMemoFile memo(pageManager, fs, memoName, 1, 6, u"Irsz");
  memo.Open(true, false);
  ASSERT_EQ(data.GetRecordCount(), 3155);
  EXPECT_FALSE(data.RecordCountWasCorrected());
  EXPECT_EQ(read.CollationName, hu);
  EXPECT_EQ(read.Capacity, 5000);
  ASSERT_EQ(read.ColumnDefs.GetCount(), cCount);
  for (int c = 0; c < cCount; ++c) {
    const auto& a = def.ColumnDefs.GetColumnDef(c);
    const auto& b = read.ColumnDefs.GetColumnDef(c);
    EXPECT_EQ(a.Name(), b.Name());
    EXPECT_EQ(a.DataType(), b.DataType()) << c;  // the same shared type object
    EXPECT_EQ(a.Position(), b.Position());
    EXPECT_EQ(a.Options(), b.Options());
  }
  std::vector<std::uint8_t> record(data.RecordSize());
  TVdbDataValue value;
  for (std::int32_t r = 1; r <= 3155; ++r) {
    data.ReadRecord(r, record);
    const auto& row = rows[static_cast<std::size_t>(r - 1)];
    for (int c = 0; c < cCount; ++c) {
      const TVdbColumnDef& col = read.ColumnDefs.GetColumnDef(c);
      const TVdbDataType& type = *col.DataType();
      type.SetReference(value, record, static_cast<std::size_t>(col.Position()));
      const std::u16string& text = row[static_cast<std::size_t>(c)];
      std::u16string got;
      if (c == cEgyeb) {
        got = TvuCodePage::ToUnicode(1250, memo.ReadMemo(static_cast<std::int32_t>(type.GetInteger(value))));
      } else if (type.IsNull(value)) {
        got.clear();
      } else if (type.IsString()) {
        got = type.GetWideString(value);
      } else if (c == cTerulet) {
        EXPECT_EQ(type.GetDouble(value), static_cast<double>(ToInt(text)));
        got = text;
      } else {
        const std::string digits = std::to_string(type.GetInteger(value));
        got = std::u16string(digits.begin(), digits.end());
      }
      ASSERT_EQ(got, text) << "record " << r << " column " << c;
    }
  }
  pageManager.UnregisterClient(1, 4096);
}

}  // namespace
}  // namespace vdb
