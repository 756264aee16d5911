// The program's other windows as the main window finds them: caption, frame and client size,
// and the data module's settings and delete confirmation.
#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QLocale>
#include <QTest>
#include <QTranslator>
#include <gtest/gtest.h>

#include "BRFormat.h"
#include "db/TMemDataSet.h"
#include "QtTestSupport.h"
#include "SettlementTables.h"
#include "Shell.h"
#include "Startup.h"
#include "Unit14.h"
#include "Unit15.h"
#include "Unit16.h"
#include "Unit17.h"
#include "Unit18.h"
#include "Unit2.h"
#include "Unit5.h"
#include "Unit6.h"
#include "Unit7.h"
#include "Unit8.h"
#include "Unit9.h"
#include "Vidora.h"

namespace {

class FormsTest : public ::testing::Test {
 protected:
  void SetUp() override { App.CreateInstances(); }

  testsupport::TTempWorkingDir WorkingDir;
  apptest::TEmptySettlementTables Tables;
  vidora::TDesktopShell Shell;
  vidora::TVidora App{Shell};
};

TEST_F(FormsTest, ModalWindowsHaveTheirCaptionFrameAndClientSize) {
  const struct {
    QWidget* Form;
    const char* Caption;
    int Width, Height;
    bool Minimize;
  } cases[] = {
      {App.Form2(), " Adatok Karbantartása:", 777, 277, true},
      {App.Form5(), " Adatok keresése:", 777, 277, true},
      {App.Form6(), " Megjelenítendő adatok szűrése:", 541, 265, true},
      {App.Form7(), " Névjegy:", 298, 437, false},
      {App.Form14(), " Település adatok megoszlása igazgatási rang szerint:", 604, 295, true},
      {App.Form15(), " Település adatok megoszlása régiók szerint:", 604, 295, true},
      {App.Form16(), " Település adatok megoszlása megyék szerint:", 604, 295, true},
      {App.Form17(), " Település adatok megoszlása kistérségek szerint:", 604, 295, true},
      {App.Form18(), " Település adatok megoszlása telefon körzetek szerint:", 555, 295, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Form->objectName().toStdString());
    EXPECT_EQ(c.Form->windowTitle(), QString::fromUtf8(c.Caption));
    EXPECT_EQ(c.Form->size(), QSize(c.Width, c.Height));
    EXPECT_EQ(c.Form->minimumSize(), c.Form->maximumSize()) << "fixed border";
    const Qt::WindowFlags flags = c.Form->windowFlags();
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(bool(flags & Qt::WindowMinimizeButtonHint), c.Minimize);
    EXPECT_TRUE(flags & Qt::WindowSystemMenuHint);
  }
}

TEST_F(FormsTest, PictureWindowHasNoCaptionBarAndClosesOnClick) {
  vidora::TForm8& form = *App.Form8();
  EXPECT_TRUE(form.windowFlags() & Qt::FramelessWindowHint);
  EXPECT_EQ(form.size(), QSize(145, 153));
  bool closedByClick = false;
  testsupport::WhenModalShown([&](QWidget* w) {
    QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(70, 70));
    closedByClick = !w->isVisible();
  });
  form.ShowModal();
  EXPECT_TRUE(closedByClick);
}

TEST_F(FormsTest, DataModuleSettingsPointAtTheWorkingDirectory) {
  const vidora::TDataModule9& dm = *App.DataModule9();
  EXPECT_EQ(QString::fromStdU16String(dm.VdbDatabase1.Location()), QDir::currentPath());
  EXPECT_EQ(dm.VdbDatabase1.DatabaseName(), u"VdbDatabase1");
  EXPECT_EQ(dm.VdbDatabase1.DatabaseType(), vdbds::TVdbDatabaseType::dbtDirectory);
  EXPECT_FALSE(dm.VdbDatabase1.Exclusive());
  EXPECT_FALSE(dm.VdbDatabase1.ReadOnly());
  EXPECT_EQ(dm.VdbDatabase1.IndexPageSize(), 4096);
  EXPECT_EQ(dm.VdbDatabase1.BlobBlockSize(), 512);
  EXPECT_EQ(dm.Table1.TableName(), u"Irsz");
  EXPECT_EQ(dm.Table1.DatabaseName(), u"VdbDatabase1");
  EXPECT_EQ(dm.Table1.IndexName(), u"TELEP");
  EXPECT_EQ(dm.Table2.TableName(), u"Irsz_tmp");
  EXPECT_TRUE(dm.Table2.IndexName().empty());
  EXPECT_EQ(dm.DataSource1.DataSet(), &dm.Table1);
  EXPECT_EQ(dm.DataSource2.DataSet(), &dm.Table2);
}

TEST_F(FormsTest, DeleteConfirmationNoAbortsSilentlyAndKeepsTheState) {
  vidora::TDataModule9& dm = *App.DataModule9();
  // Table1 holds no records until the engine is connected, and an empty table refuses a
  // delete before asking: Table1's own question is put to a one-record stand-in.
  tk::TMemDataSet table;
  table.Columns().Add(u"TELEP", tk::TFieldType::dtString, 38);
  table.AppendRow({std::u16string(u"Abaújszántó")});
  table.BeforeDelete = dm.Table1.BeforeDelete;
  table.Open();
  testsupport::TMessageBoxes boxes;
  boxes.Answer(QMessageBox::No);
  EXPECT_THROW(table.Delete(), tk::EAbort);
  ASSERT_EQ(boxes.Shown().size(), 1u);
  EXPECT_EQ(boxes.Shown()[0].Title, u"Törlés jóváhagyás:");
  EXPECT_EQ(boxes.Shown()[0].Text, u"Biztosan törölhető ?");
  EXPECT_EQ(boxes.Shown()[0].Buttons, QMessageBox::Yes | QMessageBox::No);
  EXPECT_EQ(table.State(), tk::TDataSetState::dsBrowse);
  EXPECT_EQ(table.RecordCount(), 1);

  // The silent abort reaches the default error report and shows nothing there.
  boxes.Answer(QMessageBox::No);
  EXPECT_FALSE(tk::Guarded(nullptr, [&] { table.Delete(); }));
  EXPECT_EQ(boxes.Shown().size(), 2u);

  boxes.Answer(QMessageBox::Yes);
  EXPECT_NO_THROW(table.Delete());
  EXPECT_EQ(table.RecordCount(), 0);

  // Nothing to delete in the empty Table1: an error, and no question asked.
  dm.Table1.Open();
  EXPECT_THROW(dm.Table1.Delete(), tk::EDatabaseError);
  EXPECT_EQ(boxes.Shown().size(), 3u);
}

TEST(StartupStepsTest, StyleAppliesAndStandardButtonsReadHungarian) {
  QTranslator translator;
  ASSERT_TRUE(vidora::LoadTranslations(*qApp, translator));
  ASSERT_TRUE(vidora::ApplyVisualStyle(*qApp));
  EXPECT_FALSE(qApp->styleSheet().isEmpty());

  // A real box, answered by clicking its "Nem" button.
  QStringList buttons;
  testsupport::WhenModalShown([&](QWidget* w) {
    QAbstractButton* no = nullptr;
    for (QAbstractButton* b : w->findChildren<QAbstractButton*>()) {
      buttons << b->text().remove(u'&');
      if (b->text().remove(u'&') == u"Nem") no = b;
    }
    if (no) QTest::mouseClick(no, Qt::LeftButton);
  });
  const auto answer = tk::ShowMessageBox(nullptr, QMessageBox::NoIcon, QStringLiteral("Program vége:"),
                                         QStringLiteral("Biztosan be kívánja fejezni a program használatát ?"),
                                         QMessageBox::Yes | QMessageBox::No);
  EXPECT_EQ(answer, QMessageBox::No);
  EXPECT_TRUE(buttons.contains(QStringLiteral("Igen"))) << buttons.join(u',').toStdString();
  EXPECT_TRUE(buttons.contains(QStringLiteral("Nem")));
  qApp->removeTranslator(&translator);
  qApp->setStyleSheet(QString());
}

// The listings print numbers, dates and money as the user's locale writes them.
TEST(StartupStepsTest, UserFormatsFollowTheLocale) {
  const br::TBRFormatSettings saved = br::UserFormats();
  struct TCase {
    QLocale Locale;
    QChar Decimal;
    bool CurrencyAfter;
  };
  const TCase cases[] = {
      {QLocale(QLocale::Hungarian, QLocale::Hungary), u',', true},
      {QLocale(QLocale::English, QLocale::UnitedStates), u'.', false},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.Locale.name().toStdString());
    vidora::ApplyUserFormats(c.Locale);
    const br::TBRFormatSettings& formats = br::UserFormats();
    EXPECT_EQ(formats.DecimalSeparator, c.Decimal);
    EXPECT_EQ(formats.ShortDateFormat, c.Locale.dateFormat(QLocale::ShortFormat));
    EXPECT_FALSE(formats.LongTimeFormat.contains(u't')) << formats.LongTimeFormat.toStdString();
    EXPECT_EQ(formats.CurrencyString, c.Locale.currencySymbol());
    EXPECT_EQ(formats.CurrencyAfter, c.CurrencyAfter);
    QString text;
    ASSERT_TRUE(br::FormatFloat(QStringLiteral("#,##0.00"), 1234.5, formats, text));
    EXPECT_EQ(text, QStringLiteral("1") + formats.ThousandSeparator + QStringLiteral("234") + c.Decimal +
                        QStringLiteral("50"));
  }
  br::UserFormats() = saved;
}

}  // namespace
