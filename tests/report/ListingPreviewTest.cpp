// The listings as the user starts them, on a copy of the real settlement database: each menu
// item opens its preview with the right number of pages, paging and zoom work, report 11
// exported to PDF keeps its pages and its text, the search window prints the current
// settlement, and ending the program while a listing generates exits cleanly.
#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>

#include "BRPrev.h"
#include "PdfText.h"
#include "QtTestSupport.h"
#include "SettlementTables.h"
#include "Shell.h"
#include "Unit1.h"
#include "Unit5.h"
#include "Unit9.h"
#include "Vidora.h"

namespace {

using br::TBRStandardPreview;
using testsupport::TMessageBoxes;

constexpr int kSettlements = 3155;

class ListingPreview : public ::testing::Test {
 protected:
  void SetUp() override {
    App = std::make_unique<vidora::TVidora>(Shell);
    App->CreateInstances();
    App->Form1()->show();
    ASSERT_TRUE(Table1().Active());
  }

  vdbds::TVdbTable& Table1() { return App->DataModule9()->Table1; }
  QAction* Action(const char* name) { return App->Form1()->findChild<QAction*>(QLatin1String(name)); }
  static QAction* Command(TBRStandardPreview& w, const char* name) { return w.findChild<QAction*>(QString::fromLatin1(name)); }

  // Runs `checks` on the next preview window once its report is generated, then closes it.
  // `whileGenerating` runs at each new page count before that.
  static void OnPreview(std::function<void(TBRStandardPreview&)> checks,
                        std::function<void(TBRStandardPreview&, int)> whileGenerating = {}) {
    auto* timer = new QTimer(qApp);
    timer->setInterval(5);
    auto connected = std::make_shared<QPointer<TBRStandardPreview>>();
    QObject::connect(timer, &QTimer::timeout, timer, [=, tries = 0, seen = false]() mutable {
      auto* w = qobject_cast<TBRStandardPreview*>(QApplication::activeModalWidget());
      // Done when the preview it saw went away during its generation, or none came (the test's
      // own checks then fail): this test's closures must never reach a later test's window.
      if ((seen && connected->isNull()) || (!seen && !w && ++tries > 2000)) {
        timer->stop();
        timer->deleteLater();
        return;
      }
      if (!w || (seen && *connected != w)) return;
      seen = true;
      if (*connected != w) {
        *connected = w;
        if (whileGenerating)
          QObject::connect(w, &TBRStandardPreview::PageCountChanged, w, [w, whileGenerating](int count) {
            if (w->Generating()) whileGenerating(*w, count);
          });
      }
      if (w->Generating()) return;
      timer->stop();
      timer->deleteLater();
      checks(*w);
      w->close();
    });
    timer->start();
  }

  testsupport::TTempWorkingDir WorkingDir;
  apptest::TRealSettlementTables Tables;
  vidora::TDesktopShell Shell;
  std::unique_ptr<vidora::TVidora> App;
};

TEST_F(ListingPreview, SimpleListPagesZoomsAndExportsToPdf) {
  Table1().First();
  const QString first = QString::fromStdU16String(Table1().FieldByName(u"TELEP").AsString());
  Table1().Last();
  const QString last = QString::fromStdU16String(Table1().FieldByName(u"TELEP").AsString());
  Table1().First();
  QTemporaryDir dir;
  const QString pdf = dir.filePath(QStringLiteral("egyszeru.pdf"));
  bool checked = false;
  OnPreview([&](TBRStandardPreview& w) {
    checked = true;
    EXPECT_EQ(w.PageCount(), (kSettlements + 47) / 48);  // 66
    EXPECT_EQ(w.CurrentPage(), 1);
    EXPECT_EQ(w.findChild<QLabel*>(QStringLiteral("StatusLabel"))->text(), QStringLiteral("1. oldal / 66"));
    Command(w, "nextPage")->trigger();
    EXPECT_EQ(w.CurrentPage(), 2);
    Command(w, "LastPage")->trigger();
    EXPECT_EQ(w.CurrentPage(), 66);
    Command(w, "ZoomFit")->trigger();
    const int fit = w.PageView()->height();
    Command(w, "Zoom100")->trigger();
    EXPECT_EQ(w.Zoom(), 1.0);
    EXPECT_GT(w.PageView()->height(), fit);
    QString error;
    EXPECT_TRUE(w.ExportPdf(pdf, &error)) << error.toStdString();
  });
  Action("Egyszer1")->trigger();
  ASSERT_TRUE(checked);
  EXPECT_FALSE(TBRStandardPreview::Busy());

  const pdftest::TPdfText text = pdftest::ReadPdf(pdf);
  ASSERT_EQ(text.Pages.size(), 66u);
  EXPECT_TRUE(text.Pages.front().contains(QStringLiteral("Település adatok listája")));
  EXPECT_TRUE(text.Pages.front().contains(QStringLiteral("/Egyszerűsített lista/")));
  EXPECT_TRUE(text.Pages.front().contains(first)) << first.toStdString();
  EXPECT_TRUE(text.Pages.back().contains(last)) << last.toStdString();
  EXPECT_TRUE(text.Pages.back().contains(QStringLiteral(". oldal")));
}

TEST_F(ListingPreview, MiddleListHasSixSettlementsAPage) {
  bool checked = false;
  OnPreview([&](TBRStandardPreview& w) {
    checked = true;
    EXPECT_EQ(w.PageCount(), (kSettlements + 5) / 6);  // 526
    Command(w, "LastPage")->trigger();
    EXPECT_EQ(w.CurrentPage(), 526);
  });
  Action("Kzp1")->trigger();
  EXPECT_TRUE(checked);
}

TEST_F(ListingPreview, FullListOpensItsPreviewAndClosingItStopsTheGeneration) {
  int pagesWhenClosed = 0;
  bool reached = false;
  OnPreview([&](TBRStandardPreview&) { ADD_FAILURE() << "the generation ran to its end"; },
            [&](TBRStandardPreview& w, int count) {
              if (count < 3 || reached) return;
              reached = true;
              pagesWhenClosed = count;
              EXPECT_EQ(w.windowTitle(), QStringLiteral(" Nyomtatási kép"));
              w.close();
            });
  Action("eljes1")->trigger();
  EXPECT_TRUE(reached);
  EXPECT_LT(pagesWhenClosed, kSettlements);
  EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
  EXPECT_FALSE(TBRStandardPreview::Busy());
  // The table is usable and the listings start again.
  EXPECT_EQ(Table1().RecordCount(), kSettlements);
}

TEST_F(ListingPreview, ASecondListingWhileOneGeneratesIsRefused) {
  bool refused = false;
  OnPreview([&](TBRStandardPreview& w) { EXPECT_EQ(w.PageCount(), 66); },
            [&](TBRStandardPreview&, int count) {
              if (count != 2) return;
              // A shortcut or a script could still reach the menu: nothing opens.
              Action("Kzp1")->trigger();
              int previews = 0;
              for (QWidget* window : QApplication::topLevelWidgets())
                if (qobject_cast<TBRStandardPreview*>(window)) ++previews;
              refused = previews == 1 && TBRStandardPreview::Busy();
            });
  Action("Egyszer1")->trigger();
  EXPECT_TRUE(refused);
}

TEST_F(ListingPreview, ClosingTheProgramDuringGenerationExitsCleanly) {
  TMessageBoxes boxes;
  boxes.Answer(QMessageBox::Yes);
  bool closed = false;
  OnPreview([&](TBRStandardPreview&) { ADD_FAILURE() << "the generation ran to its end"; },
            [&](TBRStandardPreview&, int count) {
              if (count != 2 || closed) return;
              closed = true;
              App->Form1()->close();
            });
  Action("Kzp1")->trigger();
  ASSERT_TRUE(closed);
  // The main window's own close (with its question) runs once the generator has unwound.
  QTRY_VERIFY(!App->Form1()->isVisible());
  ASSERT_EQ(boxes.Shown().size(), 1u);
  EXPECT_EQ(boxes.Shown()[0].Text, u"Biztosan be kívánja fejezni a program használatát ?");
  EXPECT_FALSE(Table1().Active());
  EXPECT_FALSE(TBRStandardPreview::Busy());
  App.reset();
}

TEST_F(ListingPreview, SearchWindowPrintsTheCurrentSettlementOnOneSheet) {
  vidora::TForm5& form = *App->Form5();
  bool checked = false;
  QString name;
  EXPECT_TRUE(testsupport::WhileShownModally(form, [&] {
    Table1().First();
    Table1().Next();
    name = QString::fromStdU16String(Table1().FieldByName(u"TELEP").AsString());
    QTemporaryDir dir;
    const QString pdf = dir.filePath(QStringLiteral("lap.pdf"));
    OnPreview([&](TBRStandardPreview& w) {
      checked = true;
      EXPECT_EQ(w.PageCount(), 1);
      EXPECT_TRUE(w.ExportPdf(pdf));
    });
    QTest::mouseClick(form.findChild<QPushButton*>(QStringLiteral("SpeedButton2")), Qt::LeftButton);
    const pdftest::TPdfText text = pdftest::ReadPdf(pdf);
    ASSERT_EQ(text.Pages.size(), 1u);
    EXPECT_TRUE(text.Pages[0].contains(QStringLiteral("Tárolt település adatai")));
    EXPECT_TRUE(text.Pages[0].contains(name)) << name.toStdString();
  }));
  EXPECT_TRUE(checked);
  EXPECT_EQ(App->DataModule9()->Table2.RecordCount(), 0);
}

}  // namespace
