// The road of one request through the exported call interface: a session opens the settlement
// database, a cursor on Irsz takes the index TELEP, a name typed into a search box is located
// (nearest or exact, all items of the key), and the found record's image and note are read.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>

#include "VdbApiTestSupport.h"
#include "types/vuCodePage.h"

namespace vdbapi_test {
namespace {

constexpr std::uint16_t kHungarianCodePage = 1250;

std::string Cp1250(const std::u16string& text) { return vdb::TvuCodePage::FromUnicode(kHungarianCodePage, text); }

// The data set's row of a settlement name.
const std::vector<std::u16string>& RowOf(const std::u16string& name) {
  static const auto rows = testsupport::ReadSettlements();
  const auto it =
      std::find_if(rows.begin(), rows.end(), [&](const auto& r) { return r[testsupport::scTELEP] == name; });
  EXPECT_NE(it, rows.end()) << vdb::VdbUtf16ToUtf8(name);
  return *it;
}

class RoadOfOneRequestTest : public SettlementSessionTest {
 protected:
  void SetUp() override {
    SettlementSessionTest::SetUp();
    Table = VdbTableCreate(Rltn, W(u"Irsz"));
    ASSERT_GT(Table, 0);
    ASSERT_EQ(VdbTableSetIndex(Table, W(u"TELEP"), false), 0);
    const int16_t size = VdbTableGetRecordSize(Table);
    ASSERT_GT(size, 0);
    Record.assign(static_cast<std::size_t>(size), 0);
    ASSERT_EQ(VdbTableGetFieldSpec(Table, FieldNo(u"TELEP", Table), &Telep), 0);
    ASSERT_EQ(VdbTableGetFieldSpec(Table, FieldNo(u"IRSZ", Table), &Irsz), 0);
    ASSERT_EQ(VdbTableGetFieldSpec(Table, FieldNo(u"MEGYE", Table), &Megye), 0);
    ASSERT_EQ(VdbTableGetFieldSpec(Table, FieldNo(u"EGYEB", Table), &Egyeb), 0);
  }

  // The search box: the typed text as the only key value, every item of the key.
  int32_t Locate(const std::u16string& typed, bool& exact, const char16_t* index = u"TELEP", int16_t items = 256) {
    std::vector<uint8_t> key(Record.size(), 0);
    SetAnsiField(key, Telep, Cp1250(typed));
    return VdbTableLocateRec2(Table, W(index), key.data(), items, &exact);
  }

  std::string CurrentName() {
    EXPECT_EQ(VdbTableGetRecord(Table, Record.data(), static_cast<int32_t>(Record.size())), 0);
    return GetAnsiField(Record, Telep);
  }

  std::optional<std::string> CurrentNote() {
    int16_t type = -1;
    const int32_t length = VdbTableInitGetBlob(Table, Egyeb.No, -1, &type);
    EXPECT_GE(length, 0);
    if (length < 0) return std::nullopt;
    EXPECT_EQ(type, 0) << "memos have no type word";
    std::string note(static_cast<std::size_t>(length) + 8, '#');
    EXPECT_EQ(VdbTablePerformGetBlob(Table, note.data(), static_cast<int32_t>(note.size())), length);
    note.resize(static_cast<std::size_t>(length));
    return note;
  }

  int16_t Table = 0;
  std::vector<uint8_t> Record;
  TVdbFieldSpec Telep{}, Irsz{}, Megye{}, Egyeb{};
};

TEST_F(RoadOfOneRequestTest, TypedNameFindsTheSettlementItsRecordAndItsNote) {
  bool exact = false;
  const int32_t found = Locate(u"Budapes", exact);
  ASSERT_GT(found, 0) << vdb::VdbUtf16ToUtf8(LastError(Sess).Msg);
  EXPECT_FALSE(exact) << "the first key at or after the typed text is longer than it";
  EXPECT_EQ(VdbTableGetRecNo(Table), found) << "the found record is current";
  EXPECT_EQ(CurrentName(), "Budapest");
  const auto& row = RowOf(u"Budapest");
  const std::optional<std::string> note = CurrentNote();
  ASSERT_TRUE(note.has_value());
  EXPECT_EQ(vdb::TvuCodePage::ToUnicode(kHungarianCodePage, *note), row[testsupport::scEGYEB]);
  EXPECT_EQ(VdbTablePerformGetBlob(Table, Record.data(), 1), VDB_ERR_NO_BLOB_TRANSFER) << "the transfer has ended";
}

struct TLocateCase {
  const char* Label;
  const char16_t* Typed;
  bool ExactRequested;
  const char16_t* Expected;  // null: no record at or after the key
  bool ExactFound;
};

class LocateCasesTest : public RoadOfOneRequestTest, public ::testing::WithParamInterface<TLocateCase> {};

TEST_P(LocateCasesTest, NearestOrExactByAllItemsOfTheKey) {
  const TLocateCase& c = GetParam();
  ASSERT_EQ(VdbTableFirst(Table), 1);
  const int32_t before = VdbTableGetRecNo(Table);
  bool exact = c.ExactRequested;
  const int32_t found = Locate(c.Typed, exact);
  if (c.Expected == nullptr) {
    EXPECT_EQ(found, 0);
    EXPECT_EQ(VdbTableGetRecNo(Table), before) << "a failed search keeps the position";
    return;
  }
  ASSERT_GT(found, 0);
  EXPECT_EQ(exact, c.ExactFound);
  EXPECT_EQ(CurrentName(), Cp1250(c.Expected));
}

INSTANTIATE_TEST_SUITE_P(Names, LocateCasesTest,
                         ::testing::Values(TLocateCase{"WholeName", u"Budapest", false, u"Budapest", true},
                                           TLocateCase{"WholeNameExact", u"Budapest", true, u"Budapest", true},
                                           TLocateCase{"PrefixExact", u"Budapes", true, nullptr, false},
                                           TLocateCase{"FirstName", u"Aba", true, u"Aba", true},
                                           TLocateCase{"AccentedName", u"Győr", true, u"Győr", true},
                                           TLocateCase{"BeyondTheLast", u"Zszszs", false, nullptr, false},
                                           TLocateCase{"EmptyText", u"", false, u"Aba", false},
                                           // "zs" is one letter after "z": Zsadány comes after every Z… name.
                                           TLocateCase{"DigraphZs", u"Zzzzz", false, u"Zsadány", false}),
                         [](const auto& info) { return std::string(info.param.Label); });

TEST_F(RoadOfOneRequestTest, ItemCountOfATwoItemIndexChoosesTheItemsCompared) {
  // Fejér with a postal code beyond every one of the county: by both items there is no
  // Fejér record at or after it, by the first item alone the county's first record matches.
  std::vector<uint8_t> key(Record.size(), 0);
  SetAnsiField(key, Megye, Cp1250(u"Fejér"));
  uint8_t* irsz = key.data() + Irsz.InternalPosition;
  if (Irsz.InternalSize == 5) *irsz++ = 1;
  const int32_t beyond = 9999;
  std::memcpy(irsz, &beyond, sizeof beyond);
  ASSERT_EQ(VdbTableSetIndex(Table, W(u"MEGYE_IRSZ"), false), 0);

  bool exact = true;
  ASSERT_GT(VdbTableLocateRec2(Table, W(u"MEGYE_IRSZ"), key.data(), 1, &exact), 0);
  EXPECT_EQ(CurrentName().empty(), false);
  EXPECT_EQ(GetAnsiField(Record, Megye), Cp1250(u"Fejér"));

  exact = false;
  const int32_t byBoth = VdbTableLocateRec2(Table, W(u"MEGYE_IRSZ"), key.data(), 256, &exact);
  ASSERT_GE(byBoth, 0);
  if (byBoth > 0) {
    CurrentName();
    EXPECT_NE(GetAnsiField(Record, Megye), Cp1250(u"Fejér")) << "the next county's first record";
  }
  exact = true;
  EXPECT_EQ(VdbTableLocateRec2(Table, W(u"MEGYE_IRSZ"), key.data(), 256, &exact), 0);
}

TEST_F(RoadOfOneRequestTest, UnknownIndexAndMissingBufferAreRefused) {
  bool exact = false;
  EXPECT_EQ(Locate(u"Aba", exact, u"NINCS"), VDB_ERR_NO_INDEX);
  EXPECT_EQ(VdbTableLocateRec2(Table, W(u"TELEP"), nullptr, 256, &exact), VDB_ERR_BUFFER_TOO_SMALL);
  EXPECT_EQ(VdbTableSetIndex(Table, W(u"NINCS"), false), VDB_ERR_NO_INDEX);
}

TEST_F(RoadOfOneRequestTest, RecordImageAndNoteRespectTheCallersBuffers) {
  bool exact = true;
  ASSERT_GT(Locate(u"Aba", exact), 0);
  std::vector<uint8_t> small(Record.size() - 1, 0xAB);
  EXPECT_EQ(VdbTableGetRecord(Table, small.data(), static_cast<int32_t>(small.size())), VDB_ERR_BUFFER_TOO_SMALL);
  EXPECT_TRUE(std::all_of(small.begin(), small.end(), [](uint8_t b) { return b == 0xAB; }));
  EXPECT_EQ(VdbTableGetRecord(Table, nullptr, 10000), VDB_ERR_BUFFER_TOO_SMALL);

  int16_t type = 0;
  const int32_t length = VdbTableInitGetBlob(Table, Egyeb.No, -1, &type);
  ASSERT_GT(length, 4);
  EXPECT_EQ(VdbTableInitGetBlob(Table, Egyeb.No, -1, &type), VDB_ERR_BLOB_ACTIVE);
  std::string cut(8, '#');
  EXPECT_EQ(VdbTablePerformGetBlob(Table, cut.data(), 4), 4);
  EXPECT_EQ(cut.substr(4), "####") << "nothing beyond the size given";
  EXPECT_EQ(VdbTableInitGetBlob(Table, Telep.No, -1, &type), VDB_ERR_WRONG_COLUMN_TYPE);
}

}  // namespace
}  // namespace vdbapi_test
