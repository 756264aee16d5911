// The settlement database builder: the data set becomes Irsz (every row, its sums, its two
// indexes in order) and an empty Irsz_tmp; a value that does not fit stops the import naming
// line and column and leaves no table file; existing tables are never replaced; generated
// tables have distinct numbered names.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>

#include "SettlementImport.h"
#include "SettlementsCsv.h"
#include "StagingDirectory.h"
#include "ToolTestSupport.h"
#include "types/VdbCollation.h"

namespace vidora::tools {
namespace {

namespace fs = std::filesystem;
using test::TOpenTable;
using test::TScratchDir;

// Figures of the data set as its README states them.
constexpr std::int32_t kDataSetRows = 3155;
constexpr std::int64_t kDataSetNepess = 9584627;
constexpr std::int64_t kDataSetTerulet = 9302400;
constexpr std::int64_t kDataSetLakas = 4603906;

const std::vector<std::string> kTableNames = {"Irsz", "Irsz_tmp"};
const std::string kHeader = "IRSZ,TELEP,TELK,RANG,REGIO,MEGYE,KISTERS,TERULET,NEPESS,LAKAS,EGYEB\r\n";
const std::string kGoodRows =
    "8127,Aba,,város,Közép-Dunántúl,Fejér,Székesfehérvári,8805,4396,1562,KSH kód: 17376.\r\n"
    "5241,Abádszalók,59,város,Észak-Alföld,Jász-Nagykun-Szolnok,Kunhegyesi,13223,3799,2017,\"Note, quoted\"\r\n";

int Hungarian(const std::u16string& a, const std::u16string& b) {
  return vdb::TVdbCollation::Resolve(u"Hungarian")
      .CompareAnsi(vdb::TvuCodePage::FromUnicode(1250, a), vdb::TvuCodePage::FromUnicode(1250, b));
}

// ---- the data set, imported once for the suite

class DataSetImportTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    Dir = new TScratchDir("dataset");
    Rows = new std::vector<std::vector<std::u16string>>(testsupport::ReadSettlements());
    Summary = new TSettlementImportSummary(ImportSettlements(testsupport::SettlementsCsv(), Dir->Path));
  }
  static void TearDownTestSuite() {
    delete Summary;
    delete Rows;
    delete Dir;
  }
  void SetUp() override { ASSERT_EQ(Rows->size(), static_cast<std::size_t>(kDataSetRows)); }

  static TScratchDir* Dir;
  static std::vector<std::vector<std::u16string>>* Rows;
  static TSettlementImportSummary* Summary;
};

TScratchDir* DataSetImportTest::Dir = nullptr;
std::vector<std::vector<std::u16string>>* DataSetImportTest::Rows = nullptr;
TSettlementImportSummary* DataSetImportTest::Summary = nullptr;

TEST_F(DataSetImportTest, PlacesBothTablesAndNothingElse) {
  EXPECT_EQ(Dir->Entries(), (std::vector<std::string>{"Irsz!IRSZ.vdbi", "Irsz!IRSZ.vdbi.collver", "Irsz!TELEP.vdbi",
                                                      "Irsz!TELEP.vdbi.collver", "Irsz.vdbm", "Irsz.vdbt",
                                                      "Irsz_tmp.vdbm", "Irsz_tmp.vdbt"}));
  EXPECT_EQ(Summary->Files.size(), 8u);
  // Data files are placed last: a table is found by its data file only when it is complete.
  ASSERT_GE(Summary->Files.size(), 2u);
  EXPECT_EQ(Summary->Files[Summary->Files.size() - 2].extension(), ".vdbt");
  EXPECT_EQ(Summary->Files.back().extension(), ".vdbt");
}

TEST_F(DataSetImportTest, RecordCountAndSumsMatchTheDataSet) {
  TOpenTable t(Dir->Path / "Irsz.vdbt");
  ASSERT_TRUE(t.Opened);
  EXPECT_EQ(t.Table->GetLevel(), 6);
  EXPECT_EQ(t.Table->CollationName(), u"Hungarian");
  ASSERT_EQ(t.Table->GetRecordCount(), kDataSetRows);
  std::int64_t nepess = 0, terulet = 0, lakas = 0;
  for (std::int32_t r = 1; r <= kDataSetRows; ++r) {
    t.Read(r);
    nepess += t.Number("NEPESS").value_or(0);
    terulet += t.Number("TERULET").value_or(0);
    lakas += t.Number("LAKAS").value_or(0);
  }
  EXPECT_EQ(nepess, kDataSetNepess);
  EXPECT_EQ(terulet, kDataSetTerulet);
  EXPECT_EQ(lakas, kDataSetLakas);
  EXPECT_EQ(Summary->Totals.Records, kDataSetRows);
  EXPECT_EQ(Summary->Totals.Nepess, kDataSetNepess);
  EXPECT_EQ(Summary->Totals.Terulet, kDataSetTerulet);
  EXPECT_EQ(Summary->Totals.Lakas, kDataSetLakas);
}

TEST_F(DataSetImportTest, EveryValueReadsBackAsInTheCsv) {
  TOpenTable t(Dir->Path / "Irsz.vdbt");
  ASSERT_TRUE(t.Opened);
  const char* texts[] = {"IRSZ", "TELEP", "TELK", "RANG", "REGIO", "MEGYE", "KISTERS"};
  const char* numbers[] = {"TERULET", "NEPESS", "LAKAS"};
  int emptyTelk = 0;
  for (std::int32_t r = 1; r <= kDataSetRows; ++r) {
    const auto& row = (*Rows)[static_cast<std::size_t>(r - 1)];
    t.Read(r);
    for (int c = 0; c < 7; ++c) {
      const std::optional<std::u16string> v = t.Text(texts[c]);
      if (row[c].empty()) {
        EXPECT_FALSE(v.has_value()) << "record " << r << " " << texts[c];
        if (c == 2) ++emptyTelk;
      } else {
        EXPECT_EQ(v.value_or(u"<null>"), row[c]) << "record " << r << " " << texts[c];
      }
    }
    for (int c = 0; c < 3; ++c) {
      EXPECT_EQ(t.Number(numbers[c]), testsupport::ToInt(row[7 + c])) << "record " << r << " " << numbers[c];
    }
    EXPECT_EQ(t.Text("EGYEB").value_or(u""), row[10]) << "record " << r;
  }
  EXPECT_EQ(emptyTelk, 17);  // as the data set's README counts them
}

TEST_F(DataSetImportTest, NoteBlocksFitTheNotes) {
  // The block size stands at byte 8 of the note file's first block.
  std::ifstream memo(Dir->Path / "Irsz.vdbm", std::ios::binary);
  ASSERT_TRUE(memo);
  unsigned char head[12] = {};
  memo.read(reinterpret_cast<char*>(head), sizeof head);
  const std::int32_t blockSize = head[8] | head[9] << 8 | head[10] << 16 | head[11] << 24;
  std::size_t longest = 0;
  for (const auto& row : *Rows) longest = std::max(longest, row[10].size());
  EXPECT_LT(blockSize, 4096) << "the notes are short";
  EXPECT_GE(static_cast<std::size_t>(blockSize), longest + 5) << "the longest note fits one block";
  EXPECT_LT(blockSize, static_cast<std::int32_t>(2 * (longest + 5))) << "the smallest power of two that fits";
}

TEST(SettlementNoteBlockSizeTest, SmallestPowerOfTwoHoldingTheLongestNote) {
  struct TCase {
    std::size_t Longest;  // characters of the longest note (0: no notes)
    std::int32_t Expected;
  };
  // A block holds its link (4 bytes), the note and its terminator.
  for (const TCase& c : {TCase{0, 64}, TCase{59, 64}, TCase{60, 128}, TCase{251, 256}, TCase{252, 512},
                         TCase{4091, 4096}, TCase{10000, 4096}}) {
    std::vector<TSettlementRow> rows(3);
    rows[1].Values[scEgyeb] = std::u16string(c.Longest, u'a');
    rows[2].Values[scEgyeb] = u"short";
    EXPECT_EQ(SettlementNoteBlockSize(rows), c.Expected) << c.Longest;
  }
}

TEST_F(DataSetImportTest, NameIndexOrdersTheNamesInHungarian) {
  TOpenTable t(Dir->Path / "Irsz.vdbt");
  ASSERT_TRUE(t.Opened);
  const std::vector<std::int32_t> walk = t.IndexWalk("TELEP");
  ASSERT_EQ(walk.size(), static_cast<std::size_t>(kDataSetRows));
  EXPECT_EQ(std::set<std::int32_t>(walk.begin(), walk.end()).size(), walk.size());
  for (std::size_t i = 1; i < walk.size(); ++i) {
    const auto& before = (*Rows)[static_cast<std::size_t>(walk[i - 1] - 1)][scTelep];
    const auto& after = (*Rows)[static_cast<std::size_t>(walk[i] - 1)][scTelep];
    ASSERT_LT(Hungarian(before, after), 0) << vdb::VdbUtf16ToUtf8(before) << " / " << vdb::VdbUtf16ToUtf8(after);
  }
  // Pinned pairs of real names by the Hungarian alphabet: digraphs are letters of their own
  // (c < cs, g < gy, n < ny, s < sz, z < zs), accented vowels follow their base vowel group
  // (o, ó < ö, ő), a doubled digraph counts twice (Selyeb < Sellye), case does not count.
  std::map<std::u16string, std::size_t> rank;
  for (std::size_t i = 0; i < walk.size(); ++i) rank[(*Rows)[static_cast<std::size_t>(walk[i] - 1)][scTelep]] = i;
  const std::vector<std::pair<std::u16string, std::u16string>> pairs = {
      {u"Cégénydányád", u"Csabacsűd"}, {u"Cserkeszőlő", u"Csurgó"},   {u"Gödöllő", u"Gyál"},
      {u"Győr", u"Gyula"},             {u"Nőtincs", u"Nyíregyháza"},     {u"Szurdokpüspöki", u"Tab"},
      {u"Ózd", u"Öcsöd"},              {u"Orosháza", u"Őrbottyán"},   {u"Zirc", u"Zsámbék"},
      {u"Selyeb", u"Sellye"},          {u"Budakeszi", u"Budapest"},   {u"Sárvár", u"Sásd"},
  };
  for (const auto& [a, b] : pairs) {
    ASSERT_TRUE(rank.count(a) && rank.count(b)) << vdb::VdbUtf16ToUtf8(a) << " / " << vdb::VdbUtf16ToUtf8(b);
    EXPECT_LT(rank[a], rank[b]) << vdb::VdbUtf16ToUtf8(a) << " / " << vdb::VdbUtf16ToUtf8(b);
  }
}

TEST_F(DataSetImportTest, PostalCodeIndexOrdersTheCodes) {
  TOpenTable t(Dir->Path / "Irsz.vdbt");
  ASSERT_TRUE(t.Opened);
  const std::vector<std::int32_t> walk = t.IndexWalk("IRSZ");
  ASSERT_EQ(walk.size(), static_cast<std::size_t>(kDataSetRows));
  for (std::size_t i = 1; i < walk.size(); ++i) {
    const auto& before = (*Rows)[static_cast<std::size_t>(walk[i - 1] - 1)][scIrsz];
    const auto& after = (*Rows)[static_cast<std::size_t>(walk[i] - 1)][scIrsz];
    ASSERT_LE(before, after) << i;
  }
  EXPECT_EQ((*Rows)[static_cast<std::size_t>(walk.front() - 1)][scIrsz], u"1011");  // Budapest
}

TEST_F(DataSetImportTest, ScratchTableIsEmptyWithTheSameColumnsAndNoIndex) {
  TOpenTable settlements(Dir->Path / "Irsz.vdbt");
  TOpenTable scratch(Dir->Path / "Irsz_tmp.vdbt");
  ASSERT_TRUE(settlements.Opened && scratch.Opened);
  EXPECT_EQ(scratch.Table->GetRecordCount(), 0);
  EXPECT_EQ(scratch.Table->GetIndexCount(), 0);
  EXPECT_EQ(settlements.Table->GetIndexCount(), 2);
  const auto& a = settlements.Table->ColumnDefs();
  const auto& b = scratch.Table->ColumnDefs();
  ASSERT_EQ(a.GetCount(), 11);
  ASSERT_EQ(b.GetCount(), a.GetCount());
  for (int i = 0; i < a.GetCount(); ++i) {
    EXPECT_EQ(b.GetColumnDef(i).Name(), a.GetColumnDef(i).Name());
    EXPECT_EQ(b.GetColumnDef(i).DataType()->SqlName(), a.GetColumnDef(i).DataType()->SqlName());
    EXPECT_EQ(a.GetColumnDef(i).Name(), vdb::VdbUtf8ToUtf16(kSettlementColumnNames[static_cast<std::size_t>(i)]));
  }
}

// ---- refusals

class ImportRefusalTest : public ::testing::Test {
 protected:
  // Imports `csv` into a fresh "db" directory; expects a refusal and returns it.
  std::optional<ESettlementImport> Refusal(const std::string& csv) {
    const fs::path file = Dir.Write("in.csv", csv);
    try {
      ImportSettlements(file, Dir.Path / "db");
    } catch (const ESettlementImport& e) {
      return e;
    }
    ADD_FAILURE() << "the import succeeded";
    return std::nullopt;
  }
  TScratchDir Dir;
};

TEST_F(ImportRefusalTest, ValueThatDoesNotFitNamesLineAndColumnAndLeavesNoTable) {
  struct TCase {
    const char* Name;
    std::string Row;
    std::string Column;
    std::string MessagePart;
  };
  const std::string rest = "város,Közép-Dunántúl,Fejér,Székesfehérvári,";
  const std::vector<TCase> cases = {
      {"name too long", "1000,Jászfelsőszentgyörgyjászfelső12,," + rest + "1,2,3,", "TELEP", "31 characters, more than the 30"},
      {"county too long", "1000,X,,község,R,Szabolcs-Szatmár-Bereg,K,1,2,3,", "MEGYE", "22 characters, more than the 20"},
      {"postal code too long", "10000,X,,község,R,M,K,1,2,3,", "IRSZ", "5 characters, more than the 4"},
      {"population not a number", "1000,X,,község,R,M,K,1,12a,3,", "NEPESS", "\"12a\" is not a whole number"},
      {"area with decimals", "1000,X,,község,R,M,K,1.5,2,3,", "TERULET", "\"1.5\" is not a whole number"},
      {"negative dwellings", "1000,X,,község,R,M,K,1,2,-3,", "LAKAS", "\"-3\" is not a whole number"},
      {"number with blanks", "1000,X,,község,R,M,K, 1,2,3,", "TERULET", "is not a whole number"},
      {"number too large", "1000,X,,község,R,M,K,1,2147483648,3,", "NEPESS", "too large"},
      {"no postal code", ",X,,község,R,M,K,1,2,3,", "IRSZ", "a value is required"},
      {"no name", "1000,,,község,R,M,K,1,2,3,", "TELEP", "a value is required"},
      {"character outside the code page", "1000,Мосонь,,község,R,M,K,1,2,3,", "TELEP", "cannot hold: U+041C"},
      {"note outside the code page", "1000,X,,község,R,M,K,1,2,3,Kód: 中", "EGYEB", "cannot hold: U+4E2D"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    const auto e = Refusal(kHeader + kGoodRows + c.Row + "\r\n");
    ASSERT_TRUE(e.has_value());
    EXPECT_EQ(e->Line(), 4);
    EXPECT_EQ(e->Column(), c.Column);
    const std::string what = e->what();
    EXPECT_TRUE(what.starts_with("line 4, column " + c.Column + ": ")) << what;
    EXPECT_NE(what.find(c.MessagePart), std::string::npos) << what;
    // Neither table, nor the staging directory, nor the directory made for them is left.
    EXPECT_TRUE(TableFilesIn(Dir.Path / "db", kTableNames).empty());
    EXPECT_FALSE(fs::exists(Dir.Path / "db"));
  }
}

TEST_F(ImportRefusalTest, ExistingDirectoryStaysWithItsOtherFiles) {
  fs::create_directories(Dir.Path / "db");
  Dir.Write("db/Leírás.pdf", "manual");
  const auto e = Refusal(kHeader + kGoodRows + "1000,X,,község,R,M,K,1,2,x,\r\n");
  ASSERT_TRUE(e.has_value());
  EXPECT_EQ(e->Column(), "LAKAS");
  EXPECT_EQ(Dir.Entries("db"), (std::vector<std::string>{"Leírás.pdf"}));
}

TEST_F(ImportRefusalTest, ValuesAtTheirLimitsAreAccepted) {
  const std::string row = "9999,Jászfelsőszentgyörgyjászfelső1,12345678901234567890,község,R,Borsod-Abaúj-Zemplén,K,0,2147483647,0,\r\n";
  const fs::path file = Dir.Write("in.csv", kHeader + row);
  const auto summary = ImportSettlements(file, Dir.Path / "db");
  EXPECT_EQ(summary.Totals.Records, 1);
  TOpenTable t(Dir.Path / "db" / "Irsz.vdbt");
  ASSERT_TRUE(t.Opened);
  t.Read(1);
  EXPECT_EQ(t.Text("IRSZ"), u"9999");
  EXPECT_EQ(t.Text("TELEP"), u"Jászfelsőszentgyörgyjászfelső1");
  EXPECT_EQ(t.Text("TELK"), u"12345678901234567890");
  EXPECT_EQ(t.Number("NEPESS"), 2147483647);
  EXPECT_EQ(t.Number("TERULET"), 0);
  EXPECT_FALSE(t.Text("EGYEB").has_value());
}

TEST_F(ImportRefusalTest, ExistingTablesAreNeverReplaced) {
  // Any file of either table, in any letter case, stops the import before anything is made.
  for (const char* existing : {"Irsz.vdbt", "irsz.VDBT", "Irsz_tmp.vdbt", "IRSZ!TELEP.vdbi", "Irsz.vdbm"}) {
    SCOPED_TRACE(existing);
    TScratchDir dir(existing);
    dir.Write(existing, "keep me");
    const fs::path csv = dir.Write("in.csv", kHeader + kGoodRows);
    try {
      ImportSettlements(csv, dir.Path);
      ADD_FAILURE() << "the import succeeded";
    } catch (const ESettlementImport& e) {
      EXPECT_NE(std::string(e.what()).find("never overwritten"), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find(existing), std::string::npos) << e.what();
    }
    std::vector<std::string> expected = {existing, "in.csv"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(dir.Entries(), expected);
    std::ifstream in(dir.Path / existing);
    std::string content;
    std::getline(in, content);
    EXPECT_EQ(content, "keep me");
  }
}

TEST_F(ImportRefusalTest, OtherTablesBesideAreKept) {
  Dir.Write("Irszx.vdbt", "other");
  Dir.Write("Telep.vdbt", "other");
  const fs::path csv = Dir.Write("in.csv", kHeader + kGoodRows);
  const auto summary = ImportSettlements(csv, Dir.Path);
  EXPECT_EQ(summary.Totals.Records, 2);
  EXPECT_EQ(TableFilesIn(Dir.Path, kTableNames).size(), 8u);
  EXPECT_TRUE(fs::exists(Dir.Path / "Irszx.vdbt"));
}

// ---- moving the finished files into place

TEST(StagingDirectoryTest, MovesDataFilesLastAndUndoesAFailedMove) {
  TScratchDir dir;
  {
    TStagingDirectory staging(dir.Path / "db");
    std::ofstream(staging.Path() / "T.vdbt") << "data";
    std::ofstream(staging.Path() / "T!A.vdbi") << "index";
    std::ofstream(staging.Path() / "T.vdbm") << "memo";
    const auto moved = staging.Commit(".vdbt");
    ASSERT_EQ(moved.size(), 3u);
    EXPECT_EQ(moved.back().filename(), "T.vdbt");
  }
  EXPECT_EQ(dir.Entries("db"), (std::vector<std::string>{"T!A.vdbi", "T.vdbm", "T.vdbt"}));

  // A file of the same name appears in the target before the move: nothing is replaced and
  // what was moved goes back.
  TScratchDir other("conflict");
  std::ofstream(other.Path / "U.vdbt") << "theirs";
  {
    TStagingDirectory staging(other.Path);
    std::ofstream(staging.Path() / "U.vdbt") << "ours";
    std::ofstream(staging.Path() / "U.vdbm") << "ours";
    EXPECT_THROW(staging.Commit(".vdbt"), ESettlementImport);
  }
  EXPECT_EQ(other.Entries(), (std::vector<std::string>{"U.vdbt"}));
  std::ifstream in(other.Path / "U.vdbt");
  std::string content;
  std::getline(in, content);
  EXPECT_EQ(content, "theirs");
}

// ---- generated tables

TEST(GenerateSettlementsTest, NumberedNamesAreDistinctAndOrdered) {
  TScratchDir dir;
  const std::int64_t count = 7000;  // more than two rounds of the data set
  const auto summary = GenerateSettlements(count, testsupport::SettlementsCsv(), dir.Path);
  EXPECT_EQ(summary.Totals.Records, count);
  const auto rows = testsupport::ReadSettlements();
  ASSERT_EQ(rows.size(), static_cast<std::size_t>(kDataSetRows));
  TOpenTable t(dir.Path / "Irsz.vdbt");
  ASSERT_TRUE(t.Opened);
  ASSERT_EQ(t.Table->GetRecordCount(), count);
  std::set<std::u16string> names;
  std::vector<std::u16string> byRecord(1);
  for (std::int32_t r = 1; r <= count; ++r) {
    t.Read(r);
    const auto& source = rows[static_cast<std::size_t>((r - 1) % kDataSetRows)];
    const std::u16string name = t.Text("TELEP").value_or(u"");
    EXPECT_EQ(name, source[scTelep] + u" " + vdb::VdbUtf8ToUtf16(std::to_string(r)));
    EXPECT_EQ(t.Text("IRSZ"), source[scIrsz]);
    // Only the first copy of a settlement keeps its note.
    EXPECT_EQ(t.Text("EGYEB").has_value(), r <= kDataSetRows && !source[scEgyeb].empty()) << r;
    names.insert(name);
    byRecord.push_back(name);
  }
  EXPECT_EQ(names.size(), static_cast<std::size_t>(count));
  const auto walk = t.IndexWalk("TELEP");
  ASSERT_EQ(walk.size(), static_cast<std::size_t>(count));
  for (std::size_t i = 1; i < walk.size(); ++i) {
    ASSERT_LE(Hungarian(byRecord[static_cast<std::size_t>(walk[i - 1])], byRecord[static_cast<std::size_t>(walk[i])]), 0);
  }
  EXPECT_TRUE(fs::exists(dir.Path / "Irsz_tmp.vdbt"));
}

TEST(GenerateSettlementsTest, RefusesCountsOutOfRange) {
  TScratchDir dir;
  for (std::int64_t n : {std::int64_t{0}, std::int64_t{-5}, std::int64_t{100000001}}) {
    EXPECT_THROW(GenerateSettlements(n, testsupport::SettlementsCsv(), dir.Path / "db"), ESettlementImport) << n;
  }
  EXPECT_FALSE(fs::exists(dir.Path / "db"));
}

}  // namespace
}  // namespace vidora::tools
