// The report generator on fixed metrics: page and column breaks, the fit rules (also for
// bands taller than the room between header and footer, and taller than a page), page header
// and footer options, printing when empty, stopping after some pages, forced breaks, groups,
// child bands, summaries, expression controls, units, cancelling and failures.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <memory>
#include <stdexcept>

#include "BandRpt.h"
#include "ReportTestSupport.h"
#include "db/TMemDataSet.h"

namespace {

using reporttest::TPlacedText;
using reporttest::TextsOf;
using reporttest::WordsOf;

// A report on a 1000 x 1000 page with margins of 100 (800 printable) over a dataset of named
// records; bands show "H" (page header), the record's NAME (detail) and "F" (page footer).
class ReportGenerator : public ::testing::Test {
 protected:
  ReportGenerator() {
    Report.SetMetrics(std::make_shared<reporttest::TGridMetrics>());
    Report.ProcessMessages = [] {};
    Report.Page.SetValues({100, 1000, 100, 1000, 100, 100, 0});
    Report.Options.FirstPageHeader = true;
    Report.Options.LastPageFooter = true;
    Data.Columns().Add(u"NAME", tk::TFieldType::dtString, 40);
    Data.Columns().Add(u"N", tk::TFieldType::dtInteger);
    Data.Columns().Add(u"G", tk::TFieldType::dtString, 10);
    Data.Columns().Add(u"NOTE", tk::TFieldType::dtMemo);
    Report.SetDataSet(&Data, QStringLiteral("Table1"));
  }

  void Rows(int n) {
    for (int i = 1; i <= n; ++i)
      Data.AppendRow({QStringLiteral("R%1").arg(i).toStdU16String(), std::int64_t{i}, QStringLiteral("G%1").arg((i - 1) / 3).toStdU16String()});
  }

  br::TBRLabel& Label(br::TBRBand& band, const QString& caption, int left = 0) {
    br::TBRLabel& label = band.Add<br::TBRLabel>();
    label.Caption = caption;
    label.Size = {40, left, 0, 300};
    return label;
  }

  br::TBRBand& Band(br::TBRBandType type, int height, const QString& caption) {
    br::TBRBand& band = Report.AddBand(type);
    band.Size.Height = height;
    if (!caption.isEmpty()) Label(band, caption);
    return band;
  }

  br::TBRBand& Detail(int height) {
    br::TBRBand& band = Report.AddBand(br::TBRBandType::rbDetail);
    band.Size.Height = height;
    br::TBRDBText& name = band.Add<br::TBRDBText>();
    name.DataSet = &Data;
    name.DataField = QStringLiteral("NAME");
    name.Size = {40, 0, 0, 300};
    return band;
  }

  std::vector<br::TBRDisplayPage> Generate() {
    if (!Data.Active()) Data.Open();
    Report.Prepare();
    std::vector<br::TBRDisplayPage> pages;
    for (int n = 1; n <= Report.Pages().PageCount(); ++n) pages.push_back(Report.Pages().Page(n));
    return pages;
  }

  static std::vector<std::vector<std::string>> Words(const std::vector<br::TBRDisplayPage>& pages) {
    std::vector<std::vector<std::string>> words;
    for (const auto& page : pages) words.push_back(WordsOf(page));
    return words;
  }

  tk::TMemDataSet Data;
  br::TBandRep Report;
};

using Pages = std::vector<std::vector<std::string>>;

TEST_F(ReportGenerator, PrintsHeaderDetailsAndFooterPageByPage) {
  Rows(8);
  Band(br::TBRBandType::rbPageHeader, 100, QStringLiteral("H"));
  Detail(200);
  Band(br::TBRBandType::rbPageFooter, 100, QStringLiteral("F"));
  const auto pages = Generate();
  // 800 - 100 - 100 leaves 600: three details a page.
  EXPECT_EQ(Words(pages), (Pages{{"H", "R1", "R2", "R3", "F"}, {"H", "R4", "R5", "R6", "F"}, {"H", "R7", "R8", "F"}}));
  const std::vector<TPlacedText> first = {{"H", 100, 100}, {"R1", 100, 200}, {"R2", 100, 400}, {"R3", 100, 600}, {"F", 100, 800}};
  EXPECT_EQ(TextsOf(pages[0]), first);
  EXPECT_EQ(pages[0].Number, 1);
  EXPECT_EQ(pages[0].Width, 1000);
  EXPECT_TRUE(Report.Available());
  EXPECT_EQ(Report.Pages().Status(), br::TBRProducerStatus::mpFinished);
}

TEST_F(ReportGenerator, PageHeaderAndFooterOptions) {
  Rows(4);
  Band(br::TBRBandType::rbPageHeader, 100, QStringLiteral("H"));
  Detail(300);
  Band(br::TBRBandType::rbPageFooter, 100, QStringLiteral("F"));
  const struct {
    bool FirstPageHeader, LastPageFooter;
    Pages Expected;
  } cases[] = {
      {true, true, {{"H", "R1", "R2", "F"}, {"H", "R3", "R4", "F"}}},
      {false, true, {{"R1", "R2", "F"}, {"H", "R3", "R4", "F"}}},
      {true, false, {{"H", "R1", "R2", "F"}, {"H", "R3", "R4"}}},
      {false, false, {{"R1", "R2", "F"}, {"H", "R3", "R4"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.FirstPageHeader) + std::to_string(c.LastPageFooter));
    Report.Options.FirstPageHeader = c.FirstPageHeader;
    Report.Options.LastPageFooter = c.LastPageFooter;
    EXPECT_EQ(Words(Generate()), c.Expected);
  }
}

TEST_F(ReportGenerator, EmptyDataSetPrintsOneSheetOnlyWhenAsked) {
  Band(br::TBRBandType::rbPageHeader, 100, QStringLiteral("H"));
  br::TBRBand& detail = Detail(200);
  Label(detail, QStringLiteral("Name:"), 400);
  Band(br::TBRBandType::rbPageFooter, 100, QStringLiteral("F"));
  Report.PrintIfEmpty = true;
  const auto pages = Generate();
  // The detail prints once with empty fields: its caption, the field's box without text.
  EXPECT_EQ(Words(pages), (Pages{{"H", "Name:", "F"}}));
  Report.PrintIfEmpty = false;
  EXPECT_EQ(Generate().size(), 0u);
}

// Taller than the 600 between header and footer, shorter than the 800 of a page: each record
// on a page of its own, printed right below the header, and the run ends.
TEST_F(ReportGenerator, BandTallerThanTheRoomBetweenHeaderAndFooterTakesOnePageEach) {
  Rows(5);
  Band(br::TBRBandType::rbPageHeader, 100, QStringLiteral("H"));
  Detail(650);
  Band(br::TBRBandType::rbPageFooter, 100, QStringLiteral("F"));
  const auto pages = Generate();
  ASSERT_EQ(pages.size(), 5u);
  for (int i = 0; i < 5; ++i) {
    SCOPED_TRACE(i);
    const std::vector<TPlacedText> expected = {{"H", 100, 100}, {"R" + std::to_string(i + 1), 100, 200}, {"F", 100, 800}};
    EXPECT_EQ(TextsOf(pages[static_cast<std::size_t>(i)]), expected);
  }
}

TEST_F(ReportGenerator, BandTallerThanAPageIsPrintedWhereItStands) {
  Rows(3);
  Detail(900);
  const auto pages = Generate();
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(TextsOf(pages[0]), (std::vector<TPlacedText>{{"R1", 100, 100}, {"R2", 100, 1000}, {"R3", 100, 1900}}));
}

TEST_F(ReportGenerator, PagesInPreviewStopsAfterTheFirstRecordOnTheNextPage) {
  Rows(20);
  Detail(300);  // two a page
  Report.PagesInPreview = 2;
  const auto pages = Generate();
  EXPECT_EQ(Words(pages), (Pages{{"R1", "R2"}, {"R3", "R4"}, {"R5"}}));
  EXPECT_EQ(Report.RecordNumber(), 5);
}

TEST_F(ReportGenerator, ForcedPagesAndColumns) {
  Rows(5);
  br::TBRBand& detail = Detail(100);
  detail.ForceNewPage = true;
  Band(br::TBRBandType::rbPageFooter, 50, QStringLiteral("F"));
  EXPECT_EQ(Words(Generate()), (Pages{{"R1", "F"}, {"R2", "F"}, {"R3", "F"}, {"R4", "F"}, {"R5", "F"}}));

  // Two columns of 350: a forced column sends each record to the next column.
  detail.ForceNewPage = false;
  detail.ForceNewColumn = true;
  detail.Size.Width = 350;
  Report.Page.Columns = 2;
  Report.Page.ColumnSpace = 100;
  const auto pages = Generate();
  ASSERT_EQ(pages.size(), 3u);
  EXPECT_EQ(TextsOf(pages[0]), (std::vector<TPlacedText>{{"R1", 100, 100}, {"R2", 550, 100}, {"F", 100, 850}}));
  EXPECT_EQ(TextsOf(pages[1]), (std::vector<TPlacedText>{{"R3", 100, 100}, {"R4", 550, 100}, {"F", 100, 850}}));
}

TEST_F(ReportGenerator, ColumnsFillDownThenAcross) {
  Rows(10);
  br::TBRBand& detail = Detail(200);
  detail.Size.Width = 400;
  Report.Page.Columns = 2;
  Band(br::TBRBandType::rbColumnHeader, 100, QStringLiteral("C"));
  const auto pages = Generate();
  ASSERT_EQ(pages.size(), 2u);
  EXPECT_EQ(TextsOf(pages[0]), (std::vector<TPlacedText>{{"C", 100, 100}, {"R1", 100, 200}, {"R2", 100, 400}, {"R3", 100, 600},
                                                         {"C", 500, 100}, {"R4", 500, 200}, {"R5", 500, 400}, {"R6", 500, 600}}));
  EXPECT_EQ(Words({pages[1]}), (Pages{{"C", "R7", "R8", "R9", "C", "R10"}}));
}

TEST_F(ReportGenerator, GroupsPrintHeadersAndFootersWhenTheirValueChanges) {
  Rows(7);  // groups G0 (R1-R3), G1 (R4-R6), G2 (R7)
  br::TBRGroup& group = Report.AddGroup();
  group.Expression = QStringLiteral("[G]");
  group.Size.Height = 50;
  br::TBRExpr& head = group.Add<br::TBRExpr>();
  head.Expression = QStringLiteral("'<' + G");
  head.Size = {40, 0, 0, 300};
  br::TBRBand& footer = Report.AddBand(br::TBRBandType::rbGroupFooter);
  footer.Size.Height = 50;
  br::TBRExpr& last = footer.Add<br::TBRExpr>();
  last.Expression = QStringLiteral("'>' + NAME");
  last.Size = {40, 0, 0, 300};
  group.FooterBand = &footer;
  Detail(50);
  EXPECT_EQ(Words(Generate()), (Pages{{"<G0", "R1", "R2", "R3", ">R3", "<G1", "R4", "R5", "R6", ">R6", "<G2", "R7", ">R7"}}));
}

TEST_F(ReportGenerator, GroupHeadersRepeatOnNewPagesWhenAsked) {
  Rows(6);  // G0 (R1-R3), G1 (R4-R6)
  br::TBRGroup& group = Report.AddGroup();
  group.Expression = QStringLiteral("G");
  group.Size.Height = 100;
  br::TBRExpr& head = group.Add<br::TBRExpr>();
  head.Expression = QStringLiteral("G");
  head.Size = {40, 0, 0, 300};
  Detail(250);  // a group header and two details fill a page (100 + 2 * 250 + 250 > 800)
  EXPECT_EQ(Words(Generate()), (Pages{{"G0", "R1", "R2"}, {"R3", "G1", "R4"}, {"R5", "R6"}}));
  group.ReprintOnNewPage = true;
  EXPECT_EQ(Words(Generate()), (Pages{{"G0", "R1", "R2"}, {"G0", "R3", "G1", "R4"}, {"G1", "R5", "R6"}}));
}

TEST_F(ReportGenerator, SubDetailsPrintTheirOwnRecordsForEachRecord) {
  Rows(2);
  tk::TMemDataSet lines;
  lines.Columns().Add(u"ITEM", tk::TFieldType::dtString, 10);
  lines.AppendRow({std::u16string(u"a")});
  lines.AppendRow({std::u16string(u"b")});
  lines.Open();
  Detail(50);
  br::TBRSubDetail& sub = Report.AddSubDetail();
  sub.Size.Height = 50;
  sub.DataSet = &lines;
  sub.DataSetName = QStringLiteral("Lines");
  br::TBRExpr& item = sub.Add<br::TBRExpr>();
  item.Expression = QStringLiteral("'-' + [Lines.ITEM] + STR(COUNT)");
  item.Master = &sub;
  item.Size = {40, 0, 0, 300};
  sub.HeaderBand = &Band(br::TBRBandType::rbGroupFooter, 50, QStringLiteral("items:"));
  EXPECT_EQ(Words(Generate()), (Pages{{"R1", "items:", "-a1", "-b2", "R2", "items:", "-a3", "-b4"}}));
  sub.PrintBefore = true;
  lines.Close();
  sub.PrintIfEmpty = false;
  EXPECT_EQ(Words(Generate()), (Pages{{"R1", "R2"}})) << "a closed sub-detail dataset has no records";
}

TEST_F(ReportGenerator, ChildBandsPrintBeforeOrAfterTheirParent) {
  Rows(1);
  br::TBRBand& detail = Detail(50);
  detail.SetHasChild(true);
  ASSERT_NE(detail.ChildBand(), nullptr);
  detail.ChildBand()->Size.Height = 50;
  Label(*detail.ChildBand(), QStringLiteral("child"));
  EXPECT_EQ(Words(Generate()), (Pages{{"R1", "child"}}));
  detail.ChildBand()->PrintOrder = br::TCBPrintOrder::cboBeforeParent;
  EXPECT_EQ(Words(Generate()), (Pages{{"child", "R1"}}));
  detail.ChildBand()->PrintOrder = br::TCBPrintOrder::cboBeforeAndAfter;
  EXPECT_EQ(Words(Generate()), (Pages{{"child", "R1", "child"}}));
  detail.SetHasChild(false);
  EXPECT_EQ(Words(Generate()), (Pages{{"R1"}}));
}

TEST_F(ReportGenerator, TitleSummaryAndExpressionControls) {
  Rows(6);
  Band(br::TBRBandType::rbTitle, 100, QStringLiteral("T"));
  Detail(250);
  br::TBRBand& summary = Report.AddBand(br::TBRBandType::rbSummary);
  summary.Size.Height = 100;
  summary.AlignToBottom = true;
  br::TBRExpr& sum = summary.Add<br::TBRExpr>();
  sum.Expression = QStringLiteral("SUM([N])");
  sum.Mask = QStringLiteral("'sum '0");
  sum.Size = {40, 0, 0, 300};
  br::TBRBand& footer = Report.AddBand(br::TBRBandType::rbPageFooter);
  footer.Size.Height = 50;
  br::TBRExpr& page = footer.Add<br::TBRExpr>();
  page.Expression = QStringLiteral("'page ' + STR(PAGENUMBER) + ' of ' + REPORTTITLE");
  page.Size = {40, 0, 0, 300};
  Report.ReportTitle = QStringLiteral("list");
  const auto pages = Generate();
  // The title takes 100 of page 1: two details there, three on page 2, the last on page 3
  // with the summary at the bottom, above the footer.
  ASSERT_EQ(Words(pages), (Pages{{"T", "R1", "R2", "page 1 of list"}, {"R3", "R4", "R5", "page 2 of list"}, {"R6", "sum 21", "page 3 of list"}}));
  EXPECT_EQ(TextsOf(pages[2])[1], (TPlacedText{"sum 21", 100, 1000 - 100 - 50 - 100}));
}

TEST_F(ReportGenerator, RunningAggregatesInTheDetailAndColumnsBelowTheTitle) {
  Rows(7);
  Band(br::TBRBandType::rbTitle, 100, QStringLiteral("T"));
  Band(br::TBRBandType::rbColumnHeader, 50, QStringLiteral("C"));
  br::TBRBand& detail = Report.AddBand(br::TBRBandType::rbDetail);
  detail.Size = {200, 400};
  br::TBRExpr& running = detail.Add<br::TBRExpr>();
  running.Expression = QStringLiteral("STR(COUNT) + ':' + NAME + '=' + STR(SUM(N))");
  running.Size = {40, 0, 0, 400};
  Report.Page.Columns = 2;
  const auto pages = Generate();
  ASSERT_EQ(pages.size(), 2u);
  // Page 1: title, then two columns below it (three records each); page 2 starts at the top.
  EXPECT_EQ(TextsOf(pages[0]), (std::vector<TPlacedText>{{"T", 100, 100}, {"C", 100, 200}, {"1:R1=1", 100, 250}, {"2:R2=3", 100, 450},
                                                         {"3:R3=6", 100, 650}, {"C", 500, 200}, {"4:R4=10", 500, 250},
                                                         {"5:R5=15", 500, 450}, {"6:R6=21", 500, 650}}));
  EXPECT_EQ(TextsOf(pages[1]), (std::vector<TPlacedText>{{"C", 100, 100}, {"7:R7=28", 100, 150}}));
}

TEST_F(ReportGenerator, KeepOnOnePageMovesABandWhoseTextWouldNotFit) {
  Rows(2);
  br::TBRBand& detail = Detail(100);
  detail.KeepOnOnePage = true;
  br::TBRDBRichText& note = detail.Add<br::TBRDBRichText>();
  note.DataSet = &Data;
  note.DataField = QStringLiteral("NOTE");
  note.Size = {100, 400, 0, 300};  // two lines of 40 in the box, each further line grows the band by 40
  Data.Open();
  const auto setNote = [this](int recNo, const char16_t* text) {
    Data.SetRecNo(recNo);
    Data.Edit();
    Data.FieldByName(u"NOTE").SetAsString(text);
    Data.Post();
  };
  setNote(1, u"a\rb\rc\rd\re\rf\rg\rh\ri\rj\rk\rl\rm\rn\ro");  // 15 lines: the band grows to 620, ends at 720
  setNote(2, u"x\ry\rz");  // 3 lines: 140 high, fits in the 180 left
  ASSERT_EQ(Generate().size(), 1u);
  setNote(2, u"s\rt\ru\rv\rw\rx");  // 6 lines: 260 high, moves to the next page
  const auto moved = Generate();
  ASSERT_EQ(moved.size(), 2u);
  EXPECT_EQ(TextsOf(moved[1]).front(), (TPlacedText{"R2", 100, 100}));
  detail.KeepOnOnePage = false;
  // Without the option the band starts where it stands and its note continues on the next page.
  EXPECT_EQ(Words(Generate()), (Pages{{"R1", "a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l", "m", "n", "o", "R2", "s", "t", "u", "v"},
                                      {"w", "x"}}));
}

TEST_F(ReportGenerator, CancelFailureAndTheDataSetPosition) {
  Rows(5);
  Detail(100);
  Data.Open();
  Data.SetRecNo(3);
  Report.BeforePrint = [](br::TCustomBandRep&, bool& cancel) { cancel = true; };
  EXPECT_EQ(Generate().size(), 0u);
  Report.BeforePrint = nullptr;
  EXPECT_EQ(Generate().size(), 1u);
  EXPECT_EQ(Data.RecNo(), 3) << "the record the user stood on is current again";
  EXPECT_FALSE(Data.ControlsDisabled());

  Report.DetailBand()->BeforePrint = [this](br::TBRBand&, bool&) {
    if (Data.RecNo() == 4) throw std::runtime_error("broken band");
  };
  EXPECT_THROW(Generate(), std::runtime_error);
  EXPECT_EQ(Report.Pages().PageCount(), 0) << "the pages of a failed run are discarded";
  EXPECT_TRUE(Report.Available());
  EXPECT_EQ(Data.RecNo(), 3);
  Report.DetailBand()->BeforePrint = nullptr;

  // A cancel between records discards the pages too.
  Report.ProcessMessages = [this] {
    if (Data.RecNo() == 2) Report.Cancel();
  };
  EXPECT_EQ(Generate().size(), 0u);
  EXPECT_TRUE(Report.Cancelled());
}

TEST_F(ReportGenerator, UnitsReadTheNativeTenthsOfAMillimetre) {
  const struct {
    br::TBRUnit Unit;
    double Value;
  } cases[] = {{br::TBRUnit::MM, 21.0}, {br::TBRUnit::Inches, 210 / 254.0}, {br::TBRUnit::Native, 210.0}, {br::TBRUnit::Pixels, 210 / 254.0 * 96}};
  for (const auto& c : cases) {
    Report.SetUnits(c.Unit);
    EXPECT_NEAR(Report.ToUnits(210, true), c.Value, 1e-9);
    EXPECT_EQ(Report.FromUnits(c.Value, true), 210);
  }
  br::TBRPage page;
  EXPECT_EQ(page.Values(), (std::array<int, 7>{100, 2970, 100, 2100, 100, 100, 0}));
  Report.Page.Orientation = br::TBROrientation::poLandscape;
  Report.Page.PaperSize = br::TBRPaperSize::A4;
  Report.Page.SetValues(page.Values());
  EXPECT_EQ(Report.PageLength(), 2100);
  EXPECT_EQ(Report.PageWidth(), 2970);
  Report.Page.PaperSize = br::TBRPaperSize::Custom;
  EXPECT_EQ(Report.PageLength(), 2970);
}

TEST_F(ReportGenerator, TheFontsThemselvesLayOutAndPaintAPage) {
  Rows(2);
  Report.SetMetrics(nullptr);  // the Liberation faces through Qt
  Report.Font.Name = QStringLiteral("Arial");
  Report.Font.Size = 10;
  Detail(50);
  const auto pages = Generate();
  ASSERT_EQ(pages.size(), 1u);
  const br::TBRQtFontMetrics qt;
  br::TBRFont arial;
  // Arial's metrics: "W" of 10 points is about 3.3 mm wide, a line about 4.1 mm high.
  EXPECT_NEAR(qt.TextWidth(arial, QStringLiteral("W")), 33, 2);
  EXPECT_NEAR(qt.TextHeight(arial, QStringLiteral("W")), 41, 2);
  br::TBRFont times = arial;
  times.Name = QStringLiteral("Times New Roman");
  EXPECT_LT(qt.TextWidth(times, QStringLiteral("settlement")), qt.TextWidth(arial, QStringLiteral("settlement")));
  QImage image(250, 250, QImage::Format_RGB32);  // a quarter pixel per tenth of a millimetre
  image.fill(Qt::white);
  QPainter painter(&image);
  br::PaintPage(pages[0], painter, 0.25);
  painter.end();
  int dark = 0;
  for (int y = 20; y < 45; ++y)
    for (int x = 20; x < 60; ++x) dark += qGray(image.pixel(x, y)) < 128;
  EXPECT_GT(dark, 5) << "the first record's name is drawn at its place";
}

}  // namespace
