// The four listing reports over the settlement tables built from the national data set, on
// fixed font metrics: report 11 lists 48 settlements a page, report 13 six blocks a page,
// reports 12 and 10 one settlement a page; the listings follow the table's filter and index,
// and the page footer reads the page number followed by ". oldal".
#include <gtest/gtest.h>

#include <QDateTime>
#include <algorithm>
#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "DataSetTestSupport.h"
#include "ReportTestSupport.h"
#include "Unit10.h"
#include "Unit11.h"
#include "Unit12.h"
#include "Unit13.h"
#include "VdbTable.h"

namespace {

using reporttest::TPlacedText;
using reporttest::TextsOf;

constexpr int kSettlements = 3155;
// Page geometry of the listings in tenths of a millimetre.
constexpr int kLeft = 100;
constexpr int kTop = 100;
constexpr int kFooterTop = 2970 - 100 - 106;

class ListingReports : public ::testing::Test {
 protected:
  void SetUp() override {
    Open(dstest::SettlementDatabase().u16string());
  }

  void Open(const std::u16string& location) {
    Database.SetName(u"ReportDb");
    Database.SetDatabaseName(u"ReportDb");
    Database.SetDatabaseType(vdbds::TVdbDatabaseType::dbtDirectory);
    Database.SetLocation(location);
    Table1.Name = u"Table1";
    Table1.SetDatabaseName(u"ReportDb");
    Table1.SetTableName(u"Irsz");
    Table1.SetIndexName(u"TELEP");
    Table1.Open();
  }

  void TearDown() override {
    Table2.Close();
    Table1.Close();
    Database.Close();
  }

  // Deterministic layout: fixed metrics, a fixed clock, no window messages.
  template <class R>
  std::unique_ptr<R> Make(tk::TDataSet& dataSet) {
    auto report = std::make_unique<R>(dataSet);
    auto metrics = std::make_shared<br::TBRFixedFontMetrics>();
    metrics->WidthRatio = 0.45;
    metrics->BoldExtra = 0;
    report->SetMetrics(metrics);
    report->Clock = [] { return QDateTime(QDate(2026, 12, 11), QTime(10, 0, 0)); };
    report->ProcessMessages = [] {};
    return report;
  }

  static std::vector<br::TBRDisplayPage> Generate(br::TBandRep& report) {
    report.Prepare();
    std::vector<br::TBRDisplayPage> pages;
    for (int n = 1; n <= report.Pages().PageCount(); ++n) pages.push_back(report.Pages().Page(n));
    return pages;
  }

  // The texts of a page at column x below y (a field of the detail bands).
  static std::vector<std::string> Column(const br::TBRDisplayPage& page, int x, int below) {
    std::vector<std::string> texts;
    for (const TPlacedText& t : TextsOf(page))
      if (t.X == x && t.Y >= below && t.Y < kFooterTop) texts.push_back(t.Text);
    return texts;
  }

  // The names of the table in its current order and filter.
  std::vector<std::string> Names() {
    std::vector<std::string> names;
    for (Table1.First(); !Table1.Eof(); Table1.Next()) names.push_back(tk::Utf16ToUtf8(Table1.FieldByName(u"TELEP").AsString()));
    Table1.First();
    return names;
  }

  vdbds::TVdbDatabase Database;
  vdbds::TVdbTable Table1;
  vdbds::TVdbTable Table2;
};

// Report 11: the name column (29.6 mm) below the 22 mm header, one 5 mm line each.
std::vector<std::string> ListedNames(const std::vector<br::TBRDisplayPage>& pages, std::vector<int>* perPage = nullptr) {
  std::vector<std::string> names;
  for (const auto& page : pages) {
    std::vector<std::string> texts;
    for (const TPlacedText& t : TextsOf(page))
      if (t.X == kLeft + 296 && t.Y >= kTop + 220 && t.Y < kFooterTop) texts.push_back(t.Text);
    if (perPage) perPage->push_back(static_cast<int>(texts.size()));
    names.insert(names.end(), texts.begin(), texts.end());
  }
  return names;
}

TEST_F(ListingReports, SimpleListHas48SettlementsAPageInNameOrder) {
  auto report = Make<vidora::TBandReport11>(Table1);
  Table1.SetRecNo(100);
  const auto pages = Generate(*report);
  ASSERT_EQ(pages.size(), static_cast<std::size_t>((kSettlements + 47) / 48));
  std::vector<int> perPage;
  EXPECT_EQ(ListedNames(pages, &perPage), Names());
  for (std::size_t i = 0; i + 1 < perPage.size(); ++i) ASSERT_EQ(perPage[i], 48) << "page " << i + 1;
  EXPECT_EQ(perPage.back(), kSettlements - 65 * 48);
  EXPECT_EQ(Table1.RecNo(), 1) << "Names() went back to the first record";

  // The header: title, subtitle and the column captions; the first line right below it.
  const auto first = TextsOf(pages[0]);
  std::vector<std::string> words;
  for (const auto& t : first) words.push_back(t.Text);
  ASSERT_GE(words.size(), 5u);
  EXPECT_EQ(std::vector<std::string>(words.begin(), words.begin() + 5),
            (std::vector<std::string>{"Település adatok listája", "/Egyszerűsített lista/", "Irányító szám:", "Település:", "Telefon körzet:"}));
  EXPECT_EQ(first[3], (TPlacedText{"Település:", kLeft + 296, kTop + 169}));
  // The footer of page 3: date and time of printing, the product line, 3 and ". oldal".
  const auto third = TextsOf(pages[2]);
  ASSERT_GE(third.size(), 4u);
  const std::vector<TPlacedText> footer(third.end() - 4, third.end());
  EXPECT_EQ(footer[0], (TPlacedText{"2026-12-11 10:00:00", kLeft, kFooterTop + 13}));
  EXPECT_EQ(footer[1].Text, vidora::TListingReport::ProductLine().toStdString());
  EXPECT_EQ(footer[2].Text, "3");
  EXPECT_EQ(footer[3], (TPlacedText{". oldal", kLeft + 1783, kFooterTop + 13}));
  EXPECT_EQ(footer[2].Y, footer[3].Y);
  EXPECT_LT(footer[2].X, footer[3].X);
}

TEST_F(ListingReports, ListingsFollowTheFilterOfTheTable) {
  const auto rows = dstest::ReadSettlements();
  std::set<std::string> zala;
  for (const auto& row : rows)
    if (row[dstest::scMEGYE] == u"Zala") zala.insert(tk::Utf16ToUtf8(row[dstest::scTELEP]));
  ASSERT_GT(zala.size(), 48u);
  // The table's record filter (filter texts reach the engine, which does not compile them yet).
  Table1.SetOnFilterRecord([](tk::TDataSet& ds, bool& accept) { accept = ds.FieldByName(u"MEGYE").AsString() == u"Zala"; });
  Table1.SetFiltered(true);
  auto report = Make<vidora::TBandReport11>(Table1);
  const auto pages = Generate(*report);
  const auto listed = ListedNames(pages);
  EXPECT_EQ(listed, Names());
  EXPECT_EQ(std::set<std::string>(listed.begin(), listed.end()), zala);
  EXPECT_EQ(listed.size(), zala.size());
  EXPECT_EQ(pages.size(), (zala.size() + 47) / 48);
}

TEST_F(ListingReports, ListingsFollowThePostalCodeIndexLeftActive) {
  Table1.SetIndexName(u"IRSZ");
  auto report = Make<vidora::TBandReport11>(Table1);
  const auto pages = Generate(*report);
  std::vector<std::string> codes;
  for (const auto& page : pages)
    for (const TPlacedText& t : TextsOf(page))
      // The centred postal codes: four digits in the 23.5 mm column at 2.1 mm.
      if (t.X > kLeft && t.X < kLeft + 21 + 235 && t.Y >= kTop + 220 && t.Y < kFooterTop) codes.push_back(t.Text);
  ASSERT_EQ(codes.size(), static_cast<std::size_t>(kSettlements));
  EXPECT_TRUE(std::is_sorted(codes.begin(), codes.end()));
  EXPECT_EQ(ListedNames(pages), Names());
}

TEST_F(ListingReports, MiddleListHasSixBlocksAPage) {
  auto report = Make<vidora::TBandReport13>(Table1);
  const auto pages = Generate(*report);
  ASSERT_EQ(pages.size(), static_cast<std::size_t>((kSettlements + 5) / 6));
  std::vector<std::string> names;
  for (std::size_t i = 0; i < pages.size(); ++i) {
    // The name box (21.2 mm, auto-sized, left-aligned) of each block below the 17.7 mm header.
    const auto onPage = Column(pages[i], kLeft + 212, kTop + 177);
    ASSERT_EQ(onPage.size(), i + 1 < pages.size() ? 6u : static_cast<std::size_t>(kSettlements - 525 * 6)) << "page " << i + 1;
    names.insert(names.end(), onPage.begin(), onPage.end());
  }
  EXPECT_EQ(names, Names());
  // The blocks follow each other at 38.1 mm; the note's caption shows at each block's bottom edge.
  const auto texts = TextsOf(pages[0]);
  std::vector<int> captions;
  for (const auto& t : texts)
    if (t.Text == "Egyéb adatok:") captions.push_back(t.Y);
  EXPECT_EQ(captions, (std::vector<int>{kTop + 177 + 381, kTop + 177 + 2 * 381, kTop + 177 + 3 * 381, kTop + 177 + 4 * 381,
                                        kTop + 177 + 5 * 381, kTop + 177 + 6 * 381}));
}

// The detail band (249.8 mm) is taller than the room between header and footer (248.7 mm):
// every settlement gets a page of its own and the run ends.
TEST_F(ListingReports, FullListHasOneSettlementAPageAndEnds) {
  auto report = Make<vidora::TBandReport12>(Table1);
  const auto started = std::chrono::steady_clock::now();
  const auto pages = Generate(*report);
  std::printf("report 12: %zu pages in %.1f s\n", pages.size(),
              std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
  ASSERT_EQ(pages.size(), static_cast<std::size_t>(kSettlements));
  const auto names = Names();
  const auto rows = dstest::ReadSettlements();
  for (std::size_t i = 0; i < pages.size(); ++i) {
    const auto onPage = Column(pages[i], kLeft + 212, kTop + 177);
    ASSERT_EQ(onPage, std::vector<std::string>{names[i]}) << "page " << i + 1;
  }
  // Page 1 in full: header, the fields beside their captions, the note, the footer.
  const auto texts = TextsOf(pages[0]);
  std::vector<std::string> words;
  for (const auto& t : texts) words.push_back(t.Text);
  const auto row = std::find_if(rows.begin(), rows.end(), [&](const auto& r) { return tk::Utf16ToUtf8(r[dstest::scTELEP]) == names[0]; });
  ASSERT_NE(row, rows.end());
  const auto u8 = [&](dstest::TSettlementColumn c) { return tk::Utf16ToUtf8((*row)[c]); };
  const std::vector<std::string> expected = {
      "Település adatok listája", "/Teljes lista/", "Település:", names[0], "Irányító szám:", u8(dstest::scIRSZ),
      "Telefon körzet:", u8(dstest::scTELK), "Igazgatási rang:", u8(dstest::scRANG), "Régió:", u8(dstest::scREGIO),
      "Megye:", u8(dstest::scMEGYE), "Kistérség:", u8(dstest::scKISTERS), "Terület[Ha]:", u8(dstest::scTERULET),
      "Lakó népesség:", u8(dstest::scNEPESS), "Lakások száma:", u8(dstest::scLAKAS), "Egyéb adatok:", u8(dstest::scEGYEB),
      "2026-12-11 10:00:00", vidora::TListingReport::ProductLine().toStdString(), "1", ". oldal"};
  std::vector<std::string> nonEmpty;
  for (const auto& w : expected)
    if (!w.empty()) nonEmpty.push_back(w);
  EXPECT_EQ(words, nonEmpty);
  // The note lies at 46.6 mm in the band, 6.3 mm from its left edge.
  const auto note = std::find_if(texts.begin(), texts.end(), [&](const TPlacedText& t) { return t.Text == u8(dstest::scEGYEB); });
  ASSERT_NE(note, texts.end());
  EXPECT_EQ(*note, (TPlacedText{u8(dstest::scEGYEB), kLeft + 63, kTop + 177 + 466}));
}

// The sheet of the search window: one page for the copied settlement, and one with empty
// fields when the scratch table is empty.
class ListingReportsOnCopy : public ListingReports {
 protected:
  void SetUp() override {
    dstest::CopySettlementDatabase(Dir.Path());
    Open(Dir.Location());
  }
  dstest::TTempDir Dir;
};

TEST_F(ListingReportsOnCopy, SheetPrintsTheScratchTableOnOnePage) {
  Table2.Name = u"Table2";
  Table2.SetDatabaseName(u"ReportDb");
  Table2.SetTableName(u"Irsz_tmp");
  Table2.Open();
  ASSERT_TRUE(Table2.IsEmpty());
  auto report = Make<vidora::TBandReport10>(Table2);
  auto pages = Generate(*report);
  ASSERT_EQ(pages.size(), 1u);
  std::vector<std::string> words;
  for (const auto& t : TextsOf(pages[0])) words.push_back(t.Text);
  EXPECT_EQ(words.front(), "Tárolt település adatai");
  EXPECT_TRUE(std::find(words.begin(), words.end(), "Egyéb adatok:") != words.end());
  EXPECT_EQ(words.size(), 1u + 11u + 4u) << "title, captions and footer only";

  Table1.SetRecNo(10);
  const std::string name = tk::Utf16ToUtf8(Table1.FieldByName(u"TELEP").AsString());
  Table2.Append();
  for (int i = 0; i < Table1.FieldCount(); ++i)
    Table2.FieldByName(Table1.Fields(i).FieldName()).SetAsString(Table1.Fields(i).AsString());
  Table2.Post();
  pages = Generate(*report);
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(Column(pages[0], kLeft + 212, kTop + 135), std::vector<std::string>{name});
}

// The same layout on the Liberation faces: the line height of the bands decides the count.
TEST_F(ListingReports, SimpleListOnTheFontsThemselves) {
  auto report = Make<vidora::TBandReport11>(Table1);
  report->SetMetrics(std::make_shared<br::TBRQtFontMetrics>());
  const auto pages = Generate(*report);
  ASSERT_EQ(pages.size(), static_cast<std::size_t>((kSettlements + 47) / 48));
  EXPECT_EQ(ListedNames(pages), Names());
  // The date and time of printing fit their 34.1 mm box on one line.
  const auto texts = TextsOf(pages[0]);
  ASSERT_GE(texts.size(), 4u);
  EXPECT_EQ(texts[texts.size() - 4], (TPlacedText{"2026-12-11 10:00:00", kLeft, kFooterTop + 13}));
}

}  // namespace
