// The settlement table as the register uses it: a level-6 table created from definitions with
// the Hungarian collation and the indexes TELEP and IRSZ, filled from the settlement data set,
// closed, reopened, and searched by name and by postal code. Expected answers come from the
// collation itself, never from the order of the CSV file.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "TableTestSupport.h"
#include "TestSeed.h"
#include "WalkBound.h"
#include "base/VdbErrorCodes.h"

namespace vdb {
namespace {

using test::Column;

enum TCol { cIrsz, cTelep, cTelk, cRang, cRegio, cMegye, cKisters, cTerulet, cNepess, cLakas, cEgyeb, cCount };
const std::u16string kPath = u"/db/Irsz.vdbt";

TVdbNewTable SettlementTable() {
  TVdbNewTable newTable;
  newTable.Path = u"/db/Irsz";
  newTable.Level = 6;
  newTable.Capacity = 5000;
  newTable.CollationName = u"Hungarian";
  newTable.Columns = {Column(u"IRSZ", vctInteger),
                  Column(u"TELEP", vctString, 40),
                  Column(u"TELK", vctSmallInt, 0, true),
                  Column(u"RANG", vctString, 30, true),
                  Column(u"REGIO", vctString, 30, true),
                  Column(u"MEGYE", vctString, 30, true),
                  Column(u"KISTERS", vctString, 30, true),
                  Column(u"TERULET", vctFloat, 0, true),
                  Column(u"NEPESS", vctInteger, 0, true),
                  Column(u"LAKAS", vctInteger, 0, true),
                  Column(u"EGYEB", vctMemo, 0, true)};
  newTable.Indexes = {{u"TELEP", u"TELEP", false}, {u"IRSZ", u"IRSZ", false}};
  return newTable;
}

class SettlementTableTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { Rows = new std::vector<std::vector<std::u16string>>(test::ReadSettlements()); }
  static void TearDownTestSuite() {
    delete Rows;
    Rows = nullptr;
  }

  void SetUp() override {
    ASSERT_EQ(Rows->size(), 3155u) << test::SettlementsCsv();
    auto creator = World.NewTableObject();
    ASSERT_EQ(creator->NewTable(SettlementTable()), 0) << VdbUtf16ToUtf8(World.LastError.Msg());
    auto t = World.OpenTable(kPath);
    std::vector<std::uint8_t> record(static_cast<std::size_t>(t->GetRecordSize()));
    for (const auto& row : *Rows) {
      std::fill(record.begin(), record.end(), std::uint8_t{0});
      for (int c = 0; c < cCount; ++c) {
        const std::u16string& text = row[static_cast<std::size_t>(c)];
        if (c == cEgyeb) {
          test::SetInt(*t, record, c, t->MemoFile()->WriteString(0, TvuCodePage::FromUnicode(1250, text)));
        } else if (text.empty()) {
          test::SetNullField(*t, record, c);
        } else if (c == cTerulet) {
          const TVdbColumnDef& col = t->ColumnDefs().GetColumnDef(c);
          TVdbDataValue v;
          col.DataType()->SetReference(v, record, static_cast<std::size_t>(col.Position()));
          col.DataType()->SetDouble(v, static_cast<double>(test::ToInt(text)));
        } else if (t->ColumnDefs().GetColumnDef(c).DataType()->IsString()) {
          test::SetText(*t, record, c, text);
        } else {
          test::SetInt(*t, record, c, test::ToInt(text));
        }
      }
      test::AppendRaw(*t, record);
    }
    ASSERT_EQ(t->RegenIndex(), 0) << VdbUtf16ToUtf8(World.LastError.Msg());
    ASSERT_EQ(t->Close(), 0);
    Table = World.OpenTable(kPath);
    Telep = Table->GetIndexNo(u"TELEP");
    Irsz = Table->GetIndexNo(u"IRSZ");
    Record.assign(static_cast<std::size_t>(Table->GetRecordSize()), 0);
  }

  // The name of record `recNo`.
  std::u16string NameOf(std::int32_t recNo) {
    EXPECT_EQ(Table->ReadRecord(recNo, Record), 0);
    return test::GetText(*Table, Record, cTelep);
  }
  std::int64_t PostalCodeOf(std::int32_t recNo) {
    EXPECT_EQ(Table->ReadRecord(recNo, Record), 0);
    return test::GetInt(*Table, Record, cIrsz);
  }
  // The search key of `name` in TELEP with record number 0.
  std::vector<std::uint8_t> NameKey(std::u16string_view name) {
    std::vector<std::uint8_t> buffer(Record.size(), 0);
    test::SetText(*Table, buffer, cTelep, name);
    std::vector<std::uint8_t> key;
    Table->CalcIndexInfo(buffer, Telep, 0, key);
    return key;
  }
  std::vector<std::uint8_t> PostalKey(std::int64_t code, std::int32_t recNo) {
    std::vector<std::uint8_t> buffer(Record.size(), 0);
    test::SetInt(*Table, buffer, cIrsz, code);
    std::vector<std::uint8_t> key;
    Table->CalcIndexInfo(buffer, Irsz, recNo, key);
    return key;
  }
  // Hungarian order of two names as the column stores them (code page 1250).
  int Collate(std::u16string_view a, std::u16string_view b) const {
    return TVdbCollation::Resolve(u"Hungarian")
        .CompareAnsi(TvuCodePage::FromUnicode(1250, a), TvuCodePage::FromUnicode(1250, b));
  }
  // The first row (in index order: name, then record number) whose name is not below `key`.
  std::int32_t ExpectedAtOrAfter(std::u16string_view key) const {
    std::int32_t best = 0;
    for (std::size_t i = 0; i < Rows->size(); ++i) {
      const std::u16string& name = (*Rows)[i][cTelep];
      if (Collate(name, key) < 0) continue;
      if (best == 0 || Collate(name, (*Rows)[static_cast<std::size_t>(best - 1)][cTelep]) < 0) {
        best = static_cast<std::int32_t>(i + 1);
      }
    }
    return best;
  }

  static std::vector<std::vector<std::u16string>>* Rows;
  test::TTableWorld World;
  std::unique_ptr<TVdbBaseTable> Table;
  TVdbIndexNo Telep = -1;
  TVdbIndexNo Irsz = -1;
  std::vector<std::uint8_t> Record;
};

std::vector<std::vector<std::u16string>>* SettlementTableTest::Rows = nullptr;

TEST_F(SettlementTableTest, OpensWithBothIndexesAndEveryRecord) {
  ASSERT_TRUE(Table->GetActive());
  EXPECT_EQ(Table->GetLevel(), 6);
  EXPECT_EQ(Table->GetName(), u"Irsz");
  EXPECT_EQ(Table->GetRecordCount(), 3155);
  ASSERT_GE(Telep, 0);
  ASSERT_GE(Irsz, 0);
  EXPECT_EQ(Table->GetIndexFile(Telep).GetItemCount(), 3155);
  EXPECT_EQ(Table->GetIndexFile(Irsz).GetItemCount(), 3155);
  EXPECT_TRUE(Table->GetIndexFile(Telep).IsVariableSize());  // a text key at level 6
  std::vector<std::u16string> files;
  Table->GetFileNames(files);
  EXPECT_EQ(files, (std::vector<std::u16string>{u"/db/Irsz.vdbt", u"/db/Irsz!TELEP.vdbi", u"/db/Irsz!IRSZ.vdbi",
                                                u"/db/Irsz.vdbm"}));
  for (const auto& f : files) EXPECT_TRUE(World.Fs.FileExists(f)) << VdbUtf16ToUtf8(f);
  EXPECT_TRUE(World.Fs.FileExists(u"/db/Irsz!TELEP.vdbi.collver"));
}

TEST_F(SettlementTableTest, NameIndexWalksInHungarianOrder) {
  std::vector<std::uint8_t> entry;
  TVdbIndexFile& index = Table->GetIndexFile(Telep);
  std::u16string previous;
  std::int32_t count = 0;
  testsupport::TWalkBound bound(Rows->size(), "the walk over the name index");
  for (auto r = index.Erster_Index(entry); r == 0 && bound.Step(); r = index.Naechster_Index(entry)) {
    const std::u16string name = NameOf(VdbEntryRecNo(entry));
    if (count > 0) {
      ASSERT_LE(Collate(previous, name), 0) << VdbUtf16ToUtf8(previous) << " / " << VdbUtf16ToUtf8(name);
    }
    previous = name;
    ++count;
  }
  EXPECT_EQ(count, 3155);
}

TEST_F(SettlementTableTest, LocateByNameFindsFirstAtOrAfterTheKey) {
  struct TCase {
    std::u16string Key;
    bool ExpectExact;
    std::u16string Prefix;  // the name found must start with it (empty: no check)
  };
  const std::vector<TCase> cases = {
      {u"B", false, u"B"},       {u"Cs", false, u"Cs"},     {u"Budapest", true, u"Budapest"},
      {u"Bud", false, u"Bud"},   {u"Zs", false, u"Zs"},     {u"Aba", true, u"Aba"},
      {u"Győr", true, u"Győr"},  {u"Ő", false, u""},        {u"a", false, u""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(VdbUtf16ToUtf8(c.Key));
    bool exact = false;
    const std::int32_t found = Table->LocateRecord2(Telep, NameKey(c.Key), kVdbAllKeyItems, exact);
    ASSERT_GT(found, 0) << VdbUtf16ToUtf8(World.LastError.Msg());
    EXPECT_EQ(found, ExpectedAtOrAfter(c.Key));
    EXPECT_EQ(exact, c.ExpectExact);
    const std::u16string name = NameOf(found);
    if (!c.Prefix.empty()) {
      EXPECT_TRUE(name.starts_with(c.Prefix)) << VdbUtf16ToUtf8(name);
    }
  }
}

TEST_F(SettlementTableTest, RandomPrefixesAgainstTheCollation) {
  const std::uint32_t seed = vidora_test::Seed("RandomPrefixesAgainstTheCollation");
  SCOPED_TRACE("VIDORA_SEED=" + std::to_string(seed));
  std::mt19937 random(seed);
  const std::u16string letters = u"aábcdeéfghiíjklmnoóöőpqrstuúüűvwxyzACSŐZ ";
  for (int i = 0; i < 60; ++i) {
    const std::u16string& name = (*Rows)[random() % Rows->size()][cTelep];
    std::u16string key = name.substr(0, 1 + random() % name.size());
    if (random() % 2 == 0) key += letters[random() % letters.size()];
    SCOPED_TRACE(VdbUtf16ToUtf8(key));
    bool exact = false;
    const std::int32_t found = Table->LocateRecord2(Telep, NameKey(key), kVdbAllKeyItems, exact);
    const std::int32_t expected = ExpectedAtOrAfter(key);
    if (expected == 0) {
      EXPECT_EQ(found, 0);
      continue;
    }
    ASSERT_GT(found, 0);
    // Equal names may stand in either record; the name is what must match.
    EXPECT_EQ(Collate(NameOf(found), (*Rows)[static_cast<std::size_t>(expected - 1)][cTelep]), 0);
    EXPECT_EQ(exact, Collate(NameOf(found), key) == 0);
  }
}

TEST_F(SettlementTableTest, CsComesAfterEveryOtherCName) {
  bool exact = false;
  const std::int32_t found = Table->LocateRecord2(Telep, NameKey(u"Cs"), kVdbAllKeyItems, exact);
  ASSERT_GT(found, 0);
  const std::u16string firstCs = NameOf(found);
  int cNames = 0;
  for (const auto& row : *Rows) {
    const std::u16string& name = row[cTelep];
    if (name.starts_with(u"C") && !name.starts_with(u"Cs")) {
      ++cNames;
      EXPECT_LT(Collate(name, firstCs), 0) << VdbUtf16ToUtf8(name);
    }
  }
  EXPECT_GT(cNames, 0);
  EXPECT_EQ(found, ExpectedAtOrAfter(u"Cs"));
  EXPECT_FALSE(exact);
}

TEST_F(SettlementTableTest, KeyAfterAllKeysFindsNothing) {
  std::u16string greatest = (*Rows)[0][cTelep];
  for (const auto& row : *Rows) {
    if (Collate(row[cTelep], greatest) > 0) greatest = row[cTelep];
  }
  bool exact = false;
  EXPECT_EQ(Table->LocateRecord2(Telep, NameKey(greatest + u"z"), kVdbAllKeyItems, exact), 0);
  exact = true;
  EXPECT_EQ(Table->LocateRecord2(Telep, NameKey(greatest + u"z"), kVdbAllKeyItems, exact), 0);
  bool exact2 = false;
  EXPECT_GT(Table->LocateRecord2(Telep, NameKey(greatest), kVdbAllKeyItems, exact2), 0);
  EXPECT_TRUE(exact2);
}

TEST_F(SettlementTableTest, ExactRequestWithoutSuchNameFindsNothing) {
  bool exact = true;
  EXPECT_EQ(Table->LocateRecord2(Telep, NameKey(u"Budapes"), kVdbAllKeyItems, exact), 0);
  exact = true;
  const std::int32_t found = Table->LocateRecord2(Telep, NameKey(u"Budapest"), kVdbAllKeyItems, exact);
  ASSERT_GT(found, 0);
  EXPECT_EQ(NameOf(found), u"Budapest");
}

TEST_F(SettlementTableTest, ValidatorSkipsRejectedRecords) {
  // A cursor's filter that rejects every name starting with "Bu" moves the search past them.
  bool exact = false;
  const std::int32_t found = Table->LocateRecord2(Telep, NameKey(u"Bu"), kVdbAllKeyItems, exact,
                                                  [&](std::int32_t recNo) { return !NameOf(recNo).starts_with(u"Bu"); });
  ASSERT_GT(found, 0);
  const std::u16string name = NameOf(found);
  EXPECT_FALSE(name.starts_with(u"Bu"));
  EXPECT_GT(Collate(name, u"Bu"), 0);
  for (const auto& row : *Rows) {
    if (!row[cTelep].starts_with(u"Bu") && Collate(row[cTelep], u"Bu") >= 0) {
      EXPECT_LE(Collate(name, row[cTelep]), 0);
    }
  }
}

TEST_F(SettlementTableTest, PostalCodeRangeIncludesBothBounds) {
  const std::vector<std::uint8_t> lower = PostalKey(2000, kVdbLowerBoundRecNo);
  const std::vector<std::uint8_t> upper = PostalKey(2999, kVdbUpperBoundRecNo);
  std::vector<std::int32_t> expected;
  for (std::size_t i = 0; i < Rows->size(); ++i) {
    const std::int64_t code = test::ToInt((*Rows)[i][cIrsz]);
    if (code >= 2000 && code <= 2999) expected.push_back(static_cast<std::int32_t>(i + 1));
  }
  ASSERT_FALSE(expected.empty());

  bool exact = false;
  std::vector<std::uint8_t> entry = PostalKey(2000, 0);
  std::int32_t recNo = Table->LocateRecord2(Irsz, entry, kVdbAllKeyItems, exact);
  ASSERT_GT(recNo, 0);
  std::vector<std::int32_t> walked;
  TVdbIndexFile& index = Table->GetIndexFile(Irsz);
  ASSERT_EQ(index.Suche_Index(entry), 0);
  testsupport::TWalkBound bound(expected.size(), "the walk over the range");
  while (Table->TestFilterRange(Irsz, lower, upper, entry) == 0 && bound.Step()) {
    walked.push_back(VdbEntryRecNo(entry));
    if (index.Naechster_Index(entry) != 0) break;
  }
  EXPECT_EQ(walked.front(), recNo);
  std::sort(walked.begin(), walked.end());
  EXPECT_EQ(walked, expected);
  // The bounds themselves: a record at 2000 (if any) and one just outside each end.
  EXPECT_EQ(Table->TestFilterRange(Irsz, lower, upper, PostalKey(2000, 17)), 0);
  EXPECT_EQ(Table->TestFilterRange(Irsz, lower, upper, PostalKey(2999, 3155)), 0);
  EXPECT_EQ(Table->TestFilterRange(Irsz, lower, upper, PostalKey(1999, 1)), 1);
  EXPECT_EQ(Table->TestFilterRange(Irsz, lower, upper, PostalKey(3000, 1)), 1);
  // An absent bound does not limit.
  EXPECT_EQ(Table->TestFilterRange(Irsz, {}, upper, PostalKey(1000, 1)), 0);
  EXPECT_EQ(Table->TestFilterRange(Irsz, lower, {}, PostalKey(9999, 1)), 0);
}

TEST_F(SettlementTableTest, KeysAndRangesFromText) {
  std::vector<std::uint8_t> key;
  ASSERT_EQ(Table->StringToIndex(Telep, u"Budapest", 0, u';', key), 0);
  EXPECT_EQ(key, NameKey(u"Budapest"));
  bool exact = false;
  const std::int32_t found = Table->LocateRecord2(Telep, key, kVdbAllKeyItems, exact);
  EXPECT_TRUE(exact);
  EXPECT_EQ(NameOf(found), u"Budapest");
  std::vector<std::uint8_t> lower, upper;
  ASSERT_EQ(Table->CalcRangeInfo(Irsz, u"2000", u';', true, lower), 0);
  ASSERT_EQ(Table->CalcRangeInfo(Irsz, u"2999", u';', false, upper), 0);
  EXPECT_EQ(lower, PostalKey(2000, kVdbLowerBoundRecNo));
  EXPECT_EQ(upper, PostalKey(2999, kVdbUpperBoundRecNo));
  EXPECT_EQ(Table->StringToIndex(Irsz, u"20x0", 0, u';', key), -errInvalidNumber);
  // Natural order: the text is a record number.
  ASSERT_EQ(Table->CalcRangeInfo(kVdbNoIndex, u"17", u';', true, lower), 0);
  EXPECT_EQ(VdbEntryRecNo(lower), 17);
  EXPECT_EQ(Table->CalcRangeInfo(kVdbNoIndex, u"1x", u';', true, lower), -errInvalidNumber);
  EXPECT_EQ(World.LastError.Msg(), u"\"1x\" is not a valid number");
}

TEST_F(SettlementTableTest, PostalCodeLocateIsExactOnlyForPresentCodes) {
  std::int64_t present = test::ToInt((*Rows)[0][cIrsz]);
  bool exact = false;
  std::int32_t found = Table->LocateRecord2(Irsz, PostalKey(present, 0), kVdbAllKeyItems, exact);
  ASSERT_GT(found, 0);
  EXPECT_TRUE(exact);
  EXPECT_EQ(PostalCodeOf(found), present);
  exact = false;
  found = Table->LocateRecord2(Irsz, PostalKey(99999, 0), kVdbAllKeyItems, exact);
  EXPECT_EQ(found, 0);
  EXPECT_EQ(Table->LocateRecord(Record, Irsz) > 0, true);  // Record holds the last record read
}

TEST_F(SettlementTableTest, CollationVersionChangeRebuildsTheNameIndex) {
  ASSERT_EQ(Table->Close(), 0);
  const std::u16string side = u"/db/Irsz!TELEP.vdbi.collver";
  const std::vector<std::uint8_t> recorded = World.Fs.Contents(side);
  ASSERT_FALSE(recorded.empty());
  const std::string fake = "Hungarian=0.0.0.0\n";
  const TvuFileHandle h = World.Fs.CreateFile(side);
  World.Fs.FileWrite(h, 0, fake.data(), static_cast<std::int64_t>(fake.size()));
  World.Fs.CloseFile(h);
  Table = World.OpenTable(kPath);
  Telep = Table->GetIndexNo(u"TELEP");
  EXPECT_EQ(World.Fs.Contents(side), recorded);
  bool exact = false;
  const std::int32_t found = Table->LocateRecord2(Telep, NameKey(u"Budapest"), kVdbAllKeyItems, exact);
  EXPECT_TRUE(exact);
  EXPECT_EQ(NameOf(found), u"Budapest");
  EXPECT_EQ(Table->GetIndexFile(Telep).GetItemCount(), 3155);
}

TEST_F(SettlementTableTest, ReadOnlyOpenSearchesToo) {
  ASSERT_EQ(Table->Close(), 0);
  Table = World.OpenTable(kPath, 0x0000);
  ASSERT_TRUE(Table->GetReadOnly());
  Telep = Table->GetIndexNo(u"TELEP");
  bool exact = false;
  EXPECT_GT(Table->LocateRecord2(Telep, NameKey(u"Budapest"), kVdbAllKeyItems, exact), 0);
  EXPECT_TRUE(exact);
  // Asking for a sort order that no index serves, with creation allowed, on a read-only newTable.
  bool reverse = false;
  EXPECT_EQ(Table->FindIndex(u"MEGYE", tifoCreate, reverse), -1);
  EXPECT_EQ(Table->FindIndex(u"TELEP", tifoCreate, reverse), Telep);
}

}  // namespace
}  // namespace vdb
