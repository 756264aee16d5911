// The five statistics windows: captions, layout, counters, the grid bound to the result's
// columns by name, the query open exactly while the window is shown, and the figures on the
// national data set checked against sums computed straight from the CSV file.
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <gtest/gtest.h>

#include <QFile>
#include <map>
#include <string>
#include <vector>

#include "QtTestSupport.h"
#include "SettlementTables.h"
#include "Shell.h"
#include "Unit14.h"
#include "Unit15.h"
#include "Unit16.h"
#include "Unit17.h"
#include "Unit18.h"
#include "Unit9.h"
#include "Vidora.h"
#include "widgets/DBGrid.h"

namespace {

// Columns of the data set: IRSZ,TELEP,TELK,RANG,REGIO,MEGYE,KISTERS,TERULET,NEPESS,LAKAS,EGYEB.
enum TCsvColumn { scIRSZ, scTELEP, scTELK, scRANG, scREGIO, scMEGYE, scKISTERS, scTERULET, scNEPESS, scLAKAS };

// The data rows of the national data set (RFC 4180 quoting), texts in UTF-16.
std::vector<std::vector<std::u16string>> ReadSettlements() {
  QFile file(QString::fromUtf8(VIDORA_SETTLEMENTS_CSV));
  EXPECT_TRUE(file.open(QIODevice::ReadOnly));
  const QString text = QString::fromUtf8(file.readAll());
  std::vector<std::vector<std::u16string>> rows;
  const QStringList lines = text.split(QStringLiteral("\n"));
  for (int i = 1; i < lines.size(); ++i) {
    QString line = lines[i];
    if (line.endsWith(u'\r')) line.chop(1);
    if (line.isEmpty()) continue;
    std::vector<std::u16string> fields(1);
    bool quoted = false;
    for (int k = 0; k < line.size(); ++k) {
      const QChar ch = line[k];
      if (ch == u'"') {
        if (quoted && k + 1 < line.size() && line[k + 1] == u'"') {
          fields.back() += u'"';
          ++k;
        } else {
          quoted = !quoted;
        }
      } else if (ch == u',' && !quoted) {
        fields.emplace_back();
      } else {
        fields.back() += static_cast<char16_t>(ch.unicode());
      }
    }
    rows.push_back(std::move(fields));
  }
  return rows;
}

std::int64_t ToInt(const std::u16string& s) {
  std::int64_t v = 0;
  for (char16_t c : s) v = v * 10 + (c - u'0');
  return v;
}

struct TWindowCase {
  const char* Name;
  const char* Caption;
  const char* Column;
  int CsvColumn;
  const char* Title;
  const char* Counter;
  bool SkipsEmpty;
  int ClientWidth;
  int GroupWidth;
};

const TWindowCase kWindows[] = {
    {"Form14", " Település adatok megoszlása igazgatási rang szerint:", "RANG", scRANG, "Igazgatási rang",
     "Tárolt igazgatási rang fajták száma", true, 604, 150},
    {"Form15", " Település adatok megoszlása régiók szerint:", "REGIO", scREGIO, "Régió",
     "Tárolt régiók száma", true, 604, 150},
    {"Form16", " Település adatok megoszlása megyék szerint:", "MEGYE", scMEGYE, "Megye",
     "Tárolt megyék száma", true, 604, 150},
    {"Form17", " Település adatok megoszlása kistérségek szerint:", "KISTERS", scKISTERS, "Kistérség",
     "Tárolt kistérségek száma", true, 604, 150},
    {"Form18", " Település adatok megoszlása telefon körzetek szerint:", "TELK", scTELK,
     "Telefon körzet", "Tárolt telefon körzetek száma", false, 555, 100},
};

struct TSums {
  std::int64_t Count = 0, Area = 0, People = 0, Homes = 0;
};

// Per distinct value of a data-set column, straight from the CSV.
std::map<std::u16string, TSums> CsvGroups(int column, bool skipEmpty) {
  std::map<std::u16string, TSums> out;
  for (const auto& row : ReadSettlements()) {
    const std::u16string& key = row[static_cast<std::size_t>(column)];
    if (skipEmpty && key.empty()) continue;
    TSums& s = out[key];
    // COUNT(column) counts only the rows where the column has a value.
    if (!key.empty()) ++s.Count;
    s.Area += ToInt(row[scTERULET]);
    s.People += ToInt(row[scNEPESS]);
    s.Homes += ToInt(row[scLAKAS]);
  }
  return out;
}

class StatisticsWindowsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App.CreateInstances();
    Table1().Open();
  }
  vdbds::TVdbTable& Table1() { return App.DataModule9()->Table1; }
  std::vector<vidora::TStatisticsForm*> Forms() {
    return {App.Form14(), App.Form15(), App.Form16(), App.Form17(), App.Form18()};
  }

  testsupport::TTempWorkingDir WorkingDir;
  apptest::TRealSettlementTables Tables;
  vidora::TDesktopShell Shell;
  vidora::TVidora App{Shell};
};

TEST_F(StatisticsWindowsTest, LayoutCaptionsAndGridColumns) {
  const auto forms = Forms();
  for (std::size_t i = 0; i < forms.size(); ++i) {
    const TWindowCase& c = kWindows[i];
    vidora::TStatisticsForm& form = *forms[i];
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(form.objectName(), QString::fromUtf8(c.Name));
    EXPECT_EQ(form.windowTitle(), QString::fromUtf8(c.Caption));
    EXPECT_EQ(form.width(), c.ClientWidth);
    EXPECT_EQ(form.height(), 295);
    EXPECT_EQ(form.findChild<QLabel*>(QStringLiteral("Label1"))->text(), u"Tárolt települések száma");
    EXPECT_EQ(form.findChild<QLabel*>(QStringLiteral("Label2"))->text(), QString::fromUtf8(c.Counter));
    EXPECT_EQ(form.Label3()->text(), u"0");
    EXPECT_EQ(form.Label4()->text(), u"0");
    EXPECT_EQ(form.BitBtn1()->text(), u"Befejezés");
    EXPECT_EQ(form.BitBtn1()->toolTip(), u"Befejezés !");
    EXPECT_TRUE(form.DBGrid1()->ReadOnly());
    const auto& columns = form.DBGrid1()->Model()->Columns();
    ASSERT_EQ(columns.size(), 5);
    const QString g = QString::fromUtf8(c.Column);
    const QStringList fields = {g, "COUNT([" + g + "])", "SUM([TERULET])", "SUM([NEPESS])", "SUM([LAKAS])"};
    const QStringList titles = {QString::fromUtf8(c.Title), "Előfordulás", "Terület [Ha]", "Lakó népesség", "Lakások sz."};
    for (int k = 0; k < 5; ++k) {
      EXPECT_EQ(columns[k].FieldName, fields[k]);
      EXPECT_EQ(columns[k].Title, titles[k]);
      EXPECT_EQ(columns[k].Width, k == 0 ? c.GroupWidth : 100);
      // Value columns are centred; the grouping column only in the telephone-area window.
      EXPECT_EQ(bool(columns[k].Alignment & Qt::AlignHCenter), k > 0 || i == 4);
    }
    EXPECT_FALSE(form.Query1().Active());
    EXPECT_FALSE(form.Query1().RequestLive);
    EXPECT_TRUE(form.Query1().Filtered());
    EXPECT_EQ(form.Query1().DatabaseName(), u"VdbDatabase1");
  }
}

TEST_F(StatisticsWindowsTest, FiguresAddUpToTheDataSetAndTheQueryIsOpenOnlyWhileShown) {
  const auto forms = Forms();
  for (std::size_t i = 0; i < forms.size(); ++i) {
    const TWindowCase& c = kWindows[i];
    vidora::TStatisticsForm& form = *forms[i];
    SCOPED_TRACE(c.Name);
    const auto expected = CsvGroups(c.CsvColumn, c.SkipsEmpty);
    EXPECT_TRUE(testsupport::WhileShownModally(form, [&] {
      vdbds::TVdbQuery& q = form.Query1();
      ASSERT_TRUE(q.Active());
      EXPECT_EQ(form.Label3()->text(), u"3155");
      EXPECT_EQ(form.Label4()->text(), QString::number(expected.size())) << "one row per distinct value";
      EXPECT_EQ(q.RecordCount(), static_cast<int>(expected.size()));
      TSums total;
      std::size_t rows = 0;
      for (q.First(); !q.Eof(); q.Next()) {
        ++rows;
        const std::u16string key = q.FieldByName(QString::fromUtf8(c.Column).toStdU16String()).AsString();
        const auto it = expected.find(key);
        ASSERT_NE(it, expected.end()) << QString::fromStdU16String(key).toStdString();
        EXPECT_EQ(q.FieldByName(u"COUNT([" + QString::fromUtf8(c.Column).toStdU16String() + u"])").AsLargeInt(),
                  it->second.Count);
        EXPECT_EQ(q.FieldByName(u"SUM([TERULET])").AsFloat(), static_cast<double>(it->second.Area));
        EXPECT_EQ(q.FieldByName(u"SUM([NEPESS])").AsLargeInt(), it->second.People);
        EXPECT_EQ(q.FieldByName(u"SUM([LAKAS])").AsLargeInt(), it->second.Homes);
        total.Area += static_cast<std::int64_t>(q.FieldByName(u"SUM([TERULET])").AsFloat());
        total.People += q.FieldByName(u"SUM([NEPESS])").AsLargeInt();
        total.Homes += q.FieldByName(u"SUM([LAKAS])").AsLargeInt();
      }
      EXPECT_EQ(rows, expected.size());
      TSums all;
      for (const auto& [k, s] : expected) {
        all.Area += s.Area;
        all.People += s.People;
        all.Homes += s.Homes;
      }
      EXPECT_EQ(total.Area, all.Area);
      EXPECT_EQ(total.People, all.People);
      EXPECT_EQ(total.Homes, all.Homes);
      if (!c.SkipsEmpty) {
        EXPECT_EQ(all.People, 9584627);
        EXPECT_EQ(all.Area, 9302400);
        EXPECT_EQ(all.Homes, 4603906);
      }
      // The grid shows the result through the columns it binds by name.
      QTableView* view = form.DBGrid1()->View();
      ASSERT_GT(view->model()->rowCount(), 0);
      q.First();
      EXPECT_EQ(view->model()->data(view->model()->index(0, 0)).toString(),
                QString::fromStdU16String(q.FieldByName(QString::fromUtf8(c.Column).toStdU16String()).AsString()));
      EXPECT_EQ(view->model()->headerData(1, Qt::Horizontal).toString(), u"Előfordulás");
    }));
    EXPECT_FALSE(form.Query1().Active()) << "closed with the window";
  }
}

TEST_F(StatisticsWindowsTest, FilteredTableCountsItsOwnRowsWhileTheGridCoversAll) {
  Table1().SetFilter(u"MEGYE = 'Pest'");
  Table1().SetFiltered(true);
  std::int64_t pest = 0;
  for (const auto& row : ReadSettlements()) pest += row[scMEGYE] == u"Pest" ? 1 : 0;
  vidora::TForm16& form = *App.Form16();
  EXPECT_TRUE(testsupport::WhileShownModally(form, [&] {
    EXPECT_EQ(form.Label3()->text(), QString::number(pest));
    EXPECT_EQ(form.Label4()->text(), u"20") << "every county, the filter does not narrow the statement";
  }));
}

TEST_F(StatisticsWindowsTest, FinishingClosesTheWindowAndItsQueryAndShowingAgainRunsTheStatementAgain) {
  vidora::TForm14& form = *App.Form14();
  EXPECT_TRUE(testsupport::WhileShownModally(form, [&] {
    EXPECT_TRUE(form.Query1().Active());
    QTest::mouseClick(form.BitBtn1(), Qt::LeftButton);
    EXPECT_FALSE(form.isVisible());
    EXPECT_FALSE(form.Query1().Active());
  }));
  // A new town of a new rank shows at the next showing.
  Table1().Append();
  Table1().FieldByName(u"IRSZ").SetAsString(u"9999");
  Table1().FieldByName(u"TELEP").SetAsString(u"Próbafalu");
  Table1().FieldByName(u"RANG").SetAsString(u"tanya");
  Table1().Post();
  EXPECT_TRUE(testsupport::WhileShownModally(form, [&] {
    EXPECT_EQ(form.Label3()->text(), u"3156");
    EXPECT_EQ(form.Label4()->text(), u"6");
  }));
}

}  // namespace
