// The preview window driven offscreen: pages appear while the report is generated, paging and
// zoom, the navigation keys, cancelling and closing during generation, a second report
// refused meanwhile, another window closed meanwhile.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QMainWindow>
#include <QListWidget>
#include <QMenu>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <memory>

#include <QPrinter>
#include <QTemporaryDir>

#include "BRPrev.h"
#include "BRPrntr.h"
#include "BandRpt.h"
#include "PdfText.h"
#include "ReportTestSupport.h"
#include "db/TMemDataSet.h"

namespace {

using br::TBRStandardPreview;

// An A4 report of `rows` records, twelve to a page, over a dataset in memory. Window messages
// run between records, as in the program.
class PreviewWindow : public ::testing::Test {
 protected:
  void Make(br::TBandRep& report, tk::TMemDataSet& data, int rows) {
    report.SetMetrics(std::make_shared<reporttest::TGridMetrics>());
    report.Page.SetValues({100, 2970, 100, 2100, 100, 100, 0});
    report.Options.FirstPageHeader = true;
    report.Options.LastPageFooter = true;
    data.Columns().Add(u"NAME", tk::TFieldType::dtString, 40);
    for (int i = 1; i <= rows; ++i) data.AppendRow({QStringLiteral("Sor %1").arg(i).toStdU16String()});
    data.Open();
    report.SetDataSet(&data, QStringLiteral("Table1"));
    br::TBRBand& header = report.AddBand(br::TBRBandType::rbPageHeader);
    header.Size.Height = 170;
    br::TBRBand& detail = report.AddBand(br::TBRBandType::rbDetail);
    detail.Size.Height = 200;
    br::TBRDBText& name = detail.Add<br::TBRDBText>();
    name.DataSet = &data;
    name.DataField = QStringLiteral("NAME");
    name.Size = {40, 0, 0, 600};
    br::TBRBand& footer = report.AddBand(br::TBRBandType::rbPageFooter);
    footer.Size.Height = 200;
  }

  static QAction* Command(TBRStandardPreview& w, const char* name) { return w.findChild<QAction*>(QString::fromLatin1(name)); }
  static QString Status(TBRStandardPreview& w) { return w.findChild<QLabel*>(QStringLiteral("StatusLabel"))->text(); }

  // Runs `checks` once the generation has finished and the window waits for the user, then
  // closes it.
  static void WhenFinished(TBRStandardPreview& w, std::function<void()> checks) {
    auto* timer = new QTimer(&w);
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, &w, [&w, timer, checks = std::move(checks)] {
      if (w.Generating() || QApplication::activeModalWidget() != &w) return;
      timer->stop();
      checks();
      w.close();
    });
    timer->start();
  }

  br::TBandRep Report;
  tk::TMemDataSet Data;
};

TEST_F(PreviewWindow, PagesAppearWhileGeneratingThenPageAndZoom) {
  Make(Report, Data, 100);  // 12 a page: 9 pages
  std::vector<int> seenWhileGenerating;
  bool checked = false;
  const bool done = TBRStandardPreview::Run(Report, nullptr, [&](TBRStandardPreview& w) {
    EXPECT_EQ(w.windowTitle(), QStringLiteral(" Nyomtatási kép"));
    EXPECT_TRUE(w.isVisible());
    QObject::connect(&w, &TBRStandardPreview::PageCountChanged, &w, [&](int count) {
      if (w.Generating()) seenWhileGenerating.push_back(count);
      if (count == 1) {
        EXPECT_EQ(w.CurrentPage(), 1);
        EXPECT_TRUE(Command(w, "CancelButton")->isEnabled());
        EXPECT_FALSE(Command(w, "Print")->isEnabled());
        EXPECT_TRUE(Status(w).startsWith(QStringLiteral("1. oldal / 1   Készül: ")));
      }
    });
    WhenFinished(w, [&] {
      checked = true;
      EXPECT_EQ(w.PageCount(), 9);
      EXPECT_EQ(Status(w), QStringLiteral("1. oldal / 9"));
      EXPECT_FALSE(Command(w, "CancelButton")->isEnabled());
      EXPECT_FALSE(Command(w, "PreviousPage")->isEnabled());
      Command(w, "nextPage")->trigger();
      EXPECT_EQ(w.CurrentPage(), 2);
      Command(w, "LastPage")->trigger();
      EXPECT_EQ(w.CurrentPage(), 9);
      EXPECT_FALSE(Command(w, "nextPage")->isEnabled());
      Command(w, "PreviousPage")->trigger();
      EXPECT_EQ(w.CurrentPage(), 8);
      Command(w, "FirstPage")->trigger();
      EXPECT_EQ(w.CurrentPage(), 1);
      w.findChild<QSpinBox*>(QStringLiteral("PageNumberEdit"))->setValue(5);
      EXPECT_EQ(w.CurrentPage(), 5);
      EXPECT_EQ(Status(w), QStringLiteral("5. oldal / 9"));

      // Keys, on the page view as the user has it.
      QWidget* view = w.findChild<QWidget*>(QStringLiteral("PageScroll"));
      QTest::keyClick(view, Qt::Key_PageDown);
      EXPECT_EQ(w.CurrentPage(), 6);
      QTest::keyClick(view, Qt::Key_PageUp);
      EXPECT_EQ(w.CurrentPage(), 5);
      QTest::keyClick(view, Qt::Key_PageDown, Qt::ControlModifier);
      EXPECT_EQ(w.CurrentPage(), 9);
      QTest::keyClick(view, Qt::Key_Home);
      EXPECT_EQ(w.CurrentPage(), 1);
      QTest::keyClick(view, Qt::Key_End);
      EXPECT_EQ(w.CurrentPage(), 9);
      QTest::keyClick(view, Qt::Key_PageUp, Qt::ControlModifier);
      EXPECT_EQ(w.CurrentPage(), 1);

      // Zoom: the whole page fits in the view; the width fills it; 100 % is natural size.
      w.resize(800, 600);
      Command(w, "ZoomFit")->trigger();
      const QSize fit = w.PageView()->size();
      Command(w, "ZoomToWidth")->trigger();
      const QSize wide = w.PageView()->size();
      EXPECT_LT(fit.height(), wide.height());
      EXPECT_LE(fit.height(), w.findChild<QWidget*>(QStringLiteral("PageScroll"))->height());
      Command(w, "Zoom100")->trigger();
      EXPECT_EQ(w.Zoom(), 1.0);
      EXPECT_EQ(w.ZoomMode(), TBRStandardPreview::TZoomMode::zmPercent);
      const double natural = w.PageView()->logicalDpiX() / 254.0;
      EXPECT_NEAR(w.PageView()->width(), 2100 * natural + 24, 2);
      // Searching the text lists the hits by page and shows the first.
      EXPECT_EQ(w.FindText(QStringLiteral("sor 5")), 11);  // Sor 5, Sor 50..59
      EXPECT_EQ(w.CurrentPage(), 1);
      EXPECT_EQ(w.FindText(QStringLiteral("Sor 99")), 1);
      EXPECT_EQ(w.CurrentPage(), 9);
      EXPECT_EQ(w.findChild<QListWidget*>(QStringLiteral("SearchResult"))->item(0)->text(), QStringLiteral("9. oldal: Sor 99"));
      EXPECT_EQ(w.FindText(QStringLiteral("nincs ilyen")), 0);
      // The pop-up offers 50 % to 200 %.
      QMenu* menu = w.findChild<QMenu*>(QStringLiteral("ZoomMenu"));
      ASSERT_EQ(menu->actions().size(), 16);
      EXPECT_EQ(menu->actions().front()->text(), QStringLiteral("50%"));
      menu->actions().back()->trigger();
      EXPECT_EQ(w.Zoom(), 2.0);
      EXPECT_NEAR(w.PageView()->width(), 2 * 2100 * natural + 24, 2);
    });
  });
  EXPECT_TRUE(done);
  EXPECT_TRUE(checked);
  ASSERT_FALSE(seenWhileGenerating.empty());
  EXPECT_EQ(seenWhileGenerating.front(), 1);
  // The last page is stored by the end of the document; before that the count grew one by one.
  EXPECT_GE(seenWhileGenerating.back(), 8);
  EXPECT_FALSE(TBRStandardPreview::Busy());
}

TEST_F(PreviewWindow, PrintsThePageRangeOfThePrinter) {
  Make(Report, Data, 100);
  QTemporaryDir dir;
  const QString file = dir.filePath(QStringLiteral("nyomtato.pdf"));
  int printed = 0;
  EXPECT_TRUE(TBRStandardPreview::Run(Report, nullptr, [&](TBRStandardPreview& w) {
    WhenFinished(w, [&] {
      // What the print dialog hands back: a printer with copies and a page range.
      QPrinter printer(QPrinter::HighResolution);
      printer.setOutputFormat(QPrinter::PdfFormat);
      printer.setOutputFileName(file);
      printer.setPrintRange(QPrinter::PageRange);
      printer.setFromTo(2, 3);
      printed = w.PrintTo(printer);
    });
  }));
  EXPECT_EQ(printed, 2);
  const pdftest::TPdfText text = pdftest::ReadPdf(file);
  ASSERT_EQ(text.Pages.size(), 2u);
  EXPECT_TRUE(text.Pages[0].contains(QStringLiteral("Sor 13")));  // the first record of page 2
  EXPECT_TRUE(text.Pages[1].contains(QStringLiteral("Sor 36")));  // the last record of page 3
  EXPECT_FALSE(text.All().contains(QStringLiteral("Sor 12")));
  EXPECT_FALSE(text.All().contains(QStringLiteral("Sor 37")));
}

TEST_F(PreviewWindow, EscapeClosesTheFinishedPreview) {
  Make(Report, Data, 5);
  bool shown = false;
  EXPECT_TRUE(TBRStandardPreview::Run(Report, nullptr, [&](TBRStandardPreview& w) {
    WhenFinished(w, [&] { shown = true; QTest::keyClick(&w, Qt::Key_Escape); });
  }));
  EXPECT_TRUE(shown);
}

// What the user does at the second page while the report generates.
struct TInterruptCase {
  const char* Name;
  std::function<void(TBRStandardPreview&, QMainWindow&)> Act;
};

class InterruptedPreview : public PreviewWindow, public ::testing::WithParamInterface<TInterruptCase> {};

TEST_P(InterruptedPreview, StopsTheGenerationCleanly) {
  Make(Report, Data, 400);  // 34 pages
  QMainWindow main;
  main.show();
  int pagesAtStop = 0;
  QPointer<TBRStandardPreview> window;
  const bool done = TBRStandardPreview::Run(Report, &main, [&](TBRStandardPreview& w) {
    window = &w;
    QObject::connect(&w, &TBRStandardPreview::PageCountChanged, &w, [&](int count) {
      if (count != 2 || pagesAtStop) return;
      pagesAtStop = count;
      GetParam().Act(w, main);
    });
  });
  EXPECT_FALSE(done);
  EXPECT_TRUE(Report.Cancelled());
  EXPECT_EQ(pagesAtStop, 2);
  EXPECT_FALSE(window);  // the window went with the run
  EXPECT_FALSE(TBRStandardPreview::Busy());
  // The dataset is usable again and back where it stood.
  EXPECT_TRUE(Data.Active());
  EXPECT_EQ(Data.RecNo(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Interrupts, InterruptedPreview,
    ::testing::Values(TInterruptCase{"CancelCommand", [](TBRStandardPreview& w, QMainWindow&) {
                        w.findChild<QAction*>(QStringLiteral("CancelButton"))->trigger();
                      }},
                      TInterruptCase{"ClosingThePreview", [](TBRStandardPreview& w, QMainWindow&) { w.close(); }},
                      TInterruptCase{"EscapeKey", [](TBRStandardPreview& w, QMainWindow&) { QTest::keyClick(&w, Qt::Key_Escape); }}),
    [](const auto& info) { return std::string(info.param.Name); });

TEST_F(PreviewWindow, ClosingTheMainWindowStopsTheGenerationFirst) {
  Make(Report, Data, 400);
  QMainWindow main;
  main.show();
  bool generatingWhenMainClosed = true;
  // The main window's own close runs only once the generator has unwound.
  class TMain : public QObject {
   public:
    bool* Flag;
    br::TBandRep* Rep;
    bool eventFilter(QObject*, QEvent* e) override {
      if (e->type() == QEvent::Close) *Flag = !Rep->Available();
      return false;
    }
  } watcher;
  watcher.Flag = &generatingWhenMainClosed;
  watcher.Rep = &Report;
  main.installEventFilter(&watcher);
  const bool done = TBRStandardPreview::Run(Report, &main, [&](TBRStandardPreview& w) {
    QObject::connect(&w, &TBRStandardPreview::PageCountChanged, &w, [&](int count) {
      if (count == 2) main.close();
    });
  });
  EXPECT_FALSE(done);
  EXPECT_TRUE(main.isVisible());  // not yet: the close waits for the event loop
  QTRY_VERIFY(!main.isVisible());
  EXPECT_FALSE(generatingWhenMainClosed);
  main.removeEventFilter(&watcher);
}

TEST_F(PreviewWindow, ASecondReportWhileOneGeneratesIsRefused) {
  Make(Report, Data, 100);
  br::TBandRep second;
  tk::TMemDataSet secondData;
  Make(second, secondData, 3);
  int refused = 0;
  bool checked = false;
  EXPECT_TRUE(TBRStandardPreview::Run(Report, nullptr, [&](TBRStandardPreview& w) {
    QObject::connect(&w, &TBRStandardPreview::PageCountChanged, &w, [&](int count) {
      if (count != 2) return;
      EXPECT_TRUE(TBRStandardPreview::Busy());
      if (!TBRStandardPreview::Run(second)) ++refused;
    });
    WhenFinished(w, [&] { checked = w.PageCount() == 9; });
  }));
  EXPECT_EQ(refused, 1);
  EXPECT_TRUE(checked);
  // Afterwards the second report runs.
  EXPECT_TRUE(TBRStandardPreview::Run(second, nullptr, [&](TBRStandardPreview& w) { WhenFinished(w, [] {}); }));
}

}  // namespace
