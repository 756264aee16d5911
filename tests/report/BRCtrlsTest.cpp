// Printable controls on fixed metrics (10 units a character, 40 a line): word wrap at blanks
// and hyphens or anywhere, words wider than their control and controls of width 0, auto size,
// alignment, frames, stretching across pages, database texts and system data.
#include <gtest/gtest.h>

#include <memory>

#include "BandRpt.h"
#include "ReportTestSupport.h"
#include "db/TMemDataSet.h"

namespace {

using br::TBRAlignment;
using reporttest::TPlacedText;
using reporttest::TextsOf;
using reporttest::WordsOf;

class PrintableControls : public ::testing::Test {
 protected:
  PrintableControls() {
    Report.SetMetrics(std::make_shared<reporttest::TGridMetrics>());
    Report.ProcessMessages = [] {};
    // A small page: 1000 x 1000, margins 100, so 800 x 800 printable.
    Report.Page.SetValues({100, 1000, 100, 1000, 100, 100, 0});
    Report.Options.LastPageFooter = true;
    Data.Columns().Add(u"NAME", tk::TFieldType::dtString, 40);
    Data.Columns().Add(u"NOTE", tk::TFieldType::dtMemo);
    Data.Columns().Add(u"N", tk::TFieldType::dtInteger);
    Report.SetDataSet(&Data, QStringLiteral("Table1"));
  }

  br::TBRLabel& Label(br::TBRBand& band, const QString& caption, int left, int top, int width, int height = 40) {
    br::TBRLabel& label = band.Add<br::TBRLabel>();
    label.Caption = caption;
    label.Size = {height, left, top, width};
    return label;
  }

  // A memo's content as the in-memory dataset keeps it (UTF-8 bytes).
  static tk::TFieldValue Memo(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    return tk::TBytes(utf8.begin(), utf8.end());
  }

  std::vector<br::TBRDisplayPage> Generate() {
    if (!Data.Active()) Data.Open();
    Report.Prepare();
    std::vector<br::TBRDisplayPage> pages;
    for (int n = 1; n <= Report.Pages().PageCount(); ++n) pages.push_back(Report.Pages().Page(n));
    return pages;
  }

  tk::TMemDataSet Data;
  br::TBandRep Report;
};

TEST_F(PrintableControls, WrapsAtBlanksAndHyphensAndEndsEveryLoop) {
  br::TBRBand& band = Report.AddBand(br::TBRBandType::rbDetail);
  const struct {
    const char* Text;
    int Width;
    br::TBRWrapStyle Style;
    bool AutoSize;
    std::vector<std::string> Lines;
  } cases[] = {
      {"alpha beta gamma", 100, br::TBRWrapStyle::BreakOnSpaces, false, {"alpha beta", "gamma"}},
      {"alpha beta gamma", 160, br::TBRWrapStyle::BreakOnSpaces, false, {"alpha beta gamma"}},
      {"alpha beta gamma", 50, br::TBRWrapStyle::BreakOnSpaces, false, {"alpha", "beta", "gamma"}},
      {"north-east wind", 60, br::TBRWrapStyle::BreakOnSpaces, false, {"north-", "east", "wind"}},
      // A first word wider than the control keeps what fits; the rest of the word is dropped.
      {"abcdefghijkl xy", 50, br::TBRWrapStyle::BreakOnSpaces, false, {"abcd", "xy"}},
      // A later one is shortened from its end and becomes a line of its own.
      {"ab abcdefghijkl xy", 50, br::TBRWrapStyle::BreakOnSpaces, false, {"ab", "abcde", "xy"}},
      // Width 0: every word is used up, no character is placed, the loop ends.
      {"abc def", 0, br::TBRWrapStyle::BreakOnSpaces, false, {"", ""}},
      {"abc", 0, br::TBRWrapStyle::BreakAnywhere, false, {"a", "b", "c"}},
      {"abcdefg", 30, br::TBRWrapStyle::BreakAnywhere, false, {"abc", "def", "g"}},
      {"one\r\ntwo three", 60, br::TBRWrapStyle::BreakOnSpaces, false, {"one", "two", "three"}},
      {"one\r\r", 60, br::TBRWrapStyle::BreakOnSpaces, false, {"one", "", ""}},
      {"alpha beta gamma", 50, br::TBRWrapStyle::BreakOnSpaces, true, {"alpha beta gamma"}},
      {"", 50, br::TBRWrapStyle::BreakOnSpaces, false, {""}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.Text) + " in " + std::to_string(c.Width));
    br::TBRLabel& label = Label(band, QString(), 0, 0, c.Width);
    label.WrapStyle = c.Style;
    label.AutoSize = c.AutoSize;
    std::vector<std::string> lines;
    for (const QString& line : label.FormatLines(QString::fromUtf8(c.Text))) lines.push_back(line.toStdString());
    EXPECT_EQ(lines, c.Lines);
  }
}

TEST_F(PrintableControls, AlignsAutoSizesAndFramesTheirText) {
  br::TBRBand& band = Report.AddBand(br::TBRBandType::rbTitle);
  band.Size.Height = 300;
  Label(band, QStringLiteral("left"), 10, 0, 200).Alignment = TBRAlignment::taLeftJustify;
  Label(band, QStringLiteral("right"), 10, 40, 200).Alignment = TBRAlignment::taRightJustify;
  Label(band, QStringLiteral("centre"), 10, 80, 200).Alignment = TBRAlignment::taCenter;
  br::TBRLabel& framed = Label(band, QStringLiteral("framed"), 10, 120, 200, 44);
  framed.Frame.DrawTop = framed.Frame.DrawLeft = true;  // 1 point = 4 tenths of a millimetre
  br::TBRLabel& sized = Label(band, QStringLiteral("auto"), 10, 160, 200);
  sized.AutoSize = true;
  sized.Alignment = TBRAlignment::taRightJustify;
  br::TBRLabel& banded = Label(band, QStringLiteral("band"), 10, 200, 100);
  banded.AlignToBand = true;
  banded.AutoSize = true;
  banded.Alignment = TBRAlignment::taRightJustify;
  const auto pages = Generate();
  ASSERT_EQ(pages.size(), 1u);
  const std::vector<TPlacedText> expected = {
      {"left", 110, 100},  {"right", 110 + 200 - 50, 140}, {"centre", 110 + (200 - 60) / 2, 180},
      {"framed", 114, 224}, {"auto", 110 + 200 - 40, 260},  {"band", 100 + 800 - 40, 300},
  };
  EXPECT_EQ(TextsOf(pages[0]), expected);
  // The auto-sized box is the text's width, its right edge kept; its height at least "Wp" plus a pixel.
  bool found = false;
  for (const br::TBRDrawCommand& c : pages[0].Commands)
    if (c.Kind == br::TBRCommandKind::dcFill && c.Rect.Top == 260) {
      EXPECT_EQ(c.Rect, (br::TBRRect{270, 260, 40, 43}));
      found = true;
    }
  EXPECT_TRUE(found);
}

TEST_F(PrintableControls, PageNumberIsFollowedByTheOldalLabel) {
  Data.Columns().Clear();
  Data.Columns().Add(u"NAME", tk::TFieldType::dtString, 40);
  for (int i = 0; i < 3; ++i) Data.AppendRow({std::u16string(u"x")});
  br::TBRBand& detail = Report.AddBand(br::TBRBandType::rbDetail);
  detail.Size.Height = 600;
  detail.ForceNewPage = true;
  br::TBRBand& footer = Report.AddBand(br::TBRBandType::rbPageFooter);
  footer.Size.Height = 50;
  br::TBRSysData& page = footer.Add<br::TBRSysData>();
  page.Data = br::TBRSysDataType::brsPageNumber;
  page.Alignment = TBRAlignment::taRightJustify;
  page.Size = {45, 677, 13, 106};
  br::TBRLabel& suffix = Label(footer, QStringLiteral(". oldal"), 783, 13, 106, 45);
  suffix.AutoSize = true;
  const auto pages = Generate();
  ASSERT_EQ(pages.size(), 3u);
  const int footerTop = 1000 - 100 - 50;
  const std::vector<TPlacedText> expected = {{"3", 100 + 677 + 106 - 10, footerTop + 13}, {". oldal", 100 + 783, footerTop + 13}};
  EXPECT_EQ(TextsOf(pages[2]), expected);
}

TEST_F(PrintableControls, DatabaseTextsPrintTheirFieldOrOnlyTheirBackground) {
  Data.AppendRow({std::u16string(u""), std::monostate{}, std::int64_t{1234567}});
  br::TBRBand& detail = Report.AddBand(br::TBRBandType::rbDetail);
  detail.Size.Height = 200;
  const auto field = [&](const char16_t* name, int top) -> br::TBRDBText& {
    br::TBRDBText& text = detail.Add<br::TBRDBText>();
    text.DataSet = &Data;
    text.DataField = QString::fromStdU16String(name);
    text.Size = {40, 0, top, 300};
    text.Color = br::kBRButtonFace;
    return text;
  };
  field(u"NAME", 0);
  field(u"N", 40);
  field(u"N", 80).Mask = QStringLiteral("#,##0");
  field(u"MISSING", 120);
  const auto pages = Generate();
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(WordsOf(pages[0]), (std::vector<std::string>{"1234567", "1,234,567"}));
  int greyBoxes = 0;
  for (const br::TBRDrawCommand& c : pages[0].Commands)
    if (c.Kind == br::TBRCommandKind::dcFill && c.Color == br::kBRButtonFace) ++greyBoxes;
  EXPECT_EQ(greyBoxes, 3) << "the empty field shows its background, the missing one nothing";
}

TEST_F(PrintableControls, StretchingTextGrowsItsBandAndContinuesOnTheNextPage) {
  // 60 words of 4 characters in a 50 wide box: one word a line, 60 lines of 40.
  QString text;
  for (int i = 0; i < 60; ++i) text += QStringLiteral("w%1 ").arg(i, 2, 10, QLatin1Char('0'));
  Data.AppendRow({std::u16string(u"first"), Memo(text)});
  Data.AppendRow({std::u16string(u"second"), Memo(QStringLiteral("short"))});
  br::TBRBand& detail = Report.AddBand(br::TBRBandType::rbDetail);
  detail.Size.Height = 100;
  br::TBRDBRichText& note = detail.Add<br::TBRDBRichText>();
  note.DataSet = &Data;
  note.DataField = QStringLiteral("NOTE");
  note.Size = {40, 0, 40, 50};
  br::TBRDBText& name = detail.Add<br::TBRDBText>();
  name.DataSet = &Data;
  name.DataField = QStringLiteral("NAME");
  name.Size = {40, 100, 0, 200};
  const auto pages = Generate();
  // The band may grow to the bottom margin: 18 lines a page (the first below the box's top,
  // 17 more in 680 of the 700 below the band), the last 6 on page 4, where the second record
  // follows.
  ASSERT_EQ(pages.size(), 4u);
  std::vector<std::string> lines;
  for (const auto& page : pages)
    for (const std::string& w : WordsOf(page))
      if (w.size() == 3 && w[0] == 'w') lines.push_back(w);
  ASSERT_EQ(lines.size(), 60u);
  for (int i = 0; i < 60; ++i) EXPECT_EQ(lines[static_cast<std::size_t>(i)], QStringLiteral("w%1").arg(i, 2, 10, QLatin1Char('0')).toStdString());
  const auto texts = TextsOf(pages[0]);
  EXPECT_EQ(texts.front(), (TPlacedText{"w00", 100, 140}));
  int names = 0;
  for (const auto& page : pages)
    for (const std::string& w : WordsOf(page)) names += w == "first";
  EXPECT_EQ(names, 1) << "a finished control does not print again where its band continues";
  const auto last = WordsOf(pages[3]);
  ASSERT_EQ(last.size(), 8u);
  EXPECT_EQ(last[6], "short");
  EXPECT_EQ(last[7], "second");
}

TEST_F(PrintableControls, TextThatCanNeverFitEndsInsteadOfBreakingPagesForever) {
  Data.AppendRow({std::u16string(u"x"), Memo(QStringLiteral("one two three"))});
  br::TBRBand& detail = Report.AddBand(br::TBRBandType::rbDetail);
  detail.Size.Height = 800;  // the whole printable length: no line of the stretch fits below it
  br::TBRDBRichText& note = detail.Add<br::TBRDBRichText>();
  note.DataSet = &Data;
  note.DataField = QStringLiteral("NOTE");
  note.Size = {10, 0, 790, 30};  // lower than a line
  const auto pages = Generate();
  EXPECT_LE(pages.size(), 2u);
}

TEST_F(PrintableControls, SystemDataShowTheClockTitleAndCounts) {
  for (int i = 0; i < 4; ++i) Data.AppendRow({std::u16string(u"x")});
  br::UserFormats() = br::TBRFormatSettings{};
  Report.Clock = [] { return QDateTime(QDate(2026, 12, 11), QTime(9, 5, 7)); };
  Report.ReportTitle = QStringLiteral("Lista");
  br::TBRBand& summary = Report.AddBand(br::TBRBandType::rbSummary);
  summary.Size.Height = 300;
  const br::TBRSysDataType kinds[] = {br::TBRSysDataType::brsTime, br::TBRSysDataType::brsDate, br::TBRSysDataType::brsDateTime,
                                      br::TBRSysDataType::brsReportTitle, br::TBRSysDataType::brsDetailCount,
                                      br::TBRSysDataType::brsDetailNo, br::TBRSysDataType::brsPageNumber};
  int top = 0;
  for (const auto kind : kinds) {
    br::TBRSysData& s = summary.Add<br::TBRSysData>();
    s.Data = kind;
    s.Text = QStringLiteral(":");
    s.Size = {40, 0, top, 400};
    top += 40;
  }
  Report.AddBand(br::TBRBandType::rbDetail).Size.Height = 10;
  const auto pages = Generate();
  ASSERT_EQ(pages.size(), 1u);
  EXPECT_EQ(WordsOf(pages[0]),
            (std::vector<std::string>{":09:05", ":2026-12-11", ":2026-12-11 09:05:07", ":Lista", ":4", ":4", ":1"}));
}

TEST_F(PrintableControls, FullJustifiedLinesSpreadTheirWords) {
  br::TBRBand& title = Report.AddBand(br::TBRBandType::rbTitle);
  title.Size.Height = 100;
  br::TBRLabel& label = Label(title, QStringLiteral("aa bb cc"), 0, 0, 100);
  label.FullJustify = true;
  label.MaxBreakChars = 5;
  br::TBRLabel& tight = Label(title, QStringLiteral("aa bb cc"), 0, 40, 300);
  tight.FullJustify = true;
  tight.MaxBreakChars = 5;  // a gap of 12 blanks is too wide: one blank between words
  const auto pages = Generate();
  ASSERT_EQ(pages.size(), 1u);
  const std::vector<TPlacedText> expected = {{"aa", 100, 100}, {"bb", 140, 100}, {"cc", 180, 100},
                                             {"aa", 100, 140}, {"bb", 130, 140}, {"cc", 160, 140}};
  EXPECT_EQ(TextsOf(pages[0]), expected);
}

}  // namespace
