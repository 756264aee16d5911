// The page store: pages kept in memory and, past the memory limit, in a temporary file,
// compressed or not, saved and loaded again, printed to a PDF writer with a page range. Pages
// are compared as the renderer paints them.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QPdfWriter>
#include <QTemporaryDir>
#include <QtEndian>
#include <cstdlib>
#include <random>

#include "BRMetrics.h"
#include "BRPrntr.h"
#include "PdfText.h"

namespace {

using br::TBRDisplayPage;
using br::TBRPrinter;

// A page with every kind of command; `n` varies texts and positions from page to page.
TBRDisplayPage SamplePage(int n, std::mt19937& random) {
  TBRDisplayPage page;
  page.Number = n;
  page.Width = 2100;
  page.Length = 2970;
  page.Fill({0, 0, 2100, 2970}, br::kBRWhite);
  br::TBRFont font;
  font.Bold = n % 2 == 0;
  for (int line = 0; line < 48; ++line) {
    const int y = 320 + line * 50;
    page.Fill({396, y, 1251, 45}, br::kBRButtonFace);
    page.Text({396, y, 1251, 45}, 396, y, font,
              QStringLiteral("Település %1/%2 – %3").arg(n).arg(line).arg(random() % 100000));
  }
  page.Line(100, 2864, 2000, 2864, 3, br::kBRBlack);
  QImage picture(8, 8, QImage::Format_ARGB32);
  picture.fill(QColor(200, 30, 30));
  page.Picture({1800, 120, 100, 100}, picture);
  return page;
}

QImage Render(const TBRDisplayPage& page) {
  const double k = 0.4;  // about 100 dots per inch
  QImage image(static_cast<int>(page.Width * k), static_cast<int>(page.Length * k), QImage::Format_RGB32);
  image.fill(Qt::white);
  QPainter painter(&image);
  br::PaintPage(page, painter, k);
  return image;
}

unsigned Seed() {
  const char* text = std::getenv("VIDORA_SEED");
  const unsigned seed = text ? static_cast<unsigned>(std::strtoul(text, nullptr, 10)) : 24u;
  std::printf("VIDORA_SEED=%u\n", seed);
  return seed;
}

std::vector<TBRDisplayPage> SamplePages(int count) {
  std::mt19937 random(Seed());
  std::vector<TBRDisplayPage> pages;
  for (int n = 1; n <= count; ++n) pages.push_back(SamplePage(n, random));
  return pages;
}

// Produces the pages through the printer as the generator would.
void Produce(TBRPrinter& printer, const std::vector<TBRDisplayPage>& pages) {
  printer.BeginDoc(QStringLiteral("Minta"), 2100, 2970);
  for (const TBRDisplayPage& page : pages) {
    printer.NewPage();
    printer.Canvas().Commands = page.Commands;
  }
  printer.EndDoc();
}

void ExpectSamePages(const TBRPrinter& printer, const std::vector<TBRDisplayPage>& pages) {
  ASSERT_EQ(printer.PageCount(), static_cast<int>(pages.size()));
  for (int n = 1; n <= printer.PageCount(); ++n) {
    SCOPED_TRACE(n);
    const TBRDisplayPage stored = printer.GetPage(n);
    EXPECT_EQ(stored.Number, n);
    ASSERT_EQ(stored.Commands.size(), pages[n - 1].Commands.size());
    EXPECT_TRUE(Render(stored) == Render(pages[n - 1]));
  }
}

TEST(BRStream, MovesToATemporaryFilePastItsLimitAndRemovesIt) {
  QString name;
  {
    br::TBRStream stream(1000);
    stream.Append(QByteArray(600, 'a'));
    EXPECT_FALSE(stream.InFile());
    stream.Append(QByteArray(400, 'b'));  // exactly the limit: still memory
    EXPECT_FALSE(stream.InFile());
    stream.Append(QByteArray(1, 'c'));
    ASSERT_TRUE(stream.InFile());
    name = stream.FileName();
    EXPECT_TRUE(QFileInfo(name).fileName().startsWith(QStringLiteral("BRP")));
    EXPECT_EQ(QFileInfo(name).absolutePath(), QFileInfo(QDir::tempPath()).absoluteFilePath());
    EXPECT_EQ(stream.Size(), 1001);
    stream.WriteAt(0, QByteArray("xy"));
    EXPECT_EQ(stream.ReadAt(0, 3), QByteArray("xya"));
    EXPECT_EQ(stream.ReadAt(999, 2), QByteArray("bc"));
    EXPECT_THROW(stream.ReadAt(1000, 2), br::EBRError);
    EXPECT_THROW(stream.WriteAt(1002, QByteArray("z")), br::EBRError);
  }
  EXPECT_FALSE(QFile::exists(name));
}

struct TStoreCase {
  const char* Name;
  qint64 MemoryLimit;
  bool Compression;
};

class PageStore : public ::testing::TestWithParam<TStoreCase> {};

TEST_P(PageStore, GivesBackThePagesAsTheyWereDrawn) {
  const std::vector<TBRDisplayPage> pages = SamplePages(30);
  TBRPrinter printer;
  printer.PrinterSettings.MemoryLimit = GetParam().MemoryLimit;
  printer.Compression = GetParam().Compression;
  int announced = 0;
  printer.OnPageAdded = [&](int count) { announced = count; };
  Produce(printer, pages);
  EXPECT_EQ(announced, 30);
  EXPECT_EQ(printer.Stream()->InFile(), printer.Stream()->Size() > GetParam().MemoryLimit);
  ExpectSamePages(printer, pages);
  EXPECT_THROW(printer.GetPage(31), br::EBRError);
  EXPECT_THROW(printer.GetPage(0), br::EBRError);
}

TEST_P(PageStore, SavedAndLoadedAgainGivesTheSamePages) {
  const std::vector<TBRDisplayPage> pages = SamplePages(5);
  TBRPrinter printer;
  printer.PrinterSettings.MemoryLimit = GetParam().MemoryLimit;
  printer.Compression = GetParam().Compression;
  Produce(printer, pages);
  QTemporaryDir dir;
  const QString file = dir.filePath(QStringLiteral("lista.brp"));
  printer.Save(file);

  QFile saved(file);
  ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
  const QByteArray bytes = saved.readAll();
  EXPECT_EQ(bytes.left(4), QByteArray::fromHex("03003200"));
  EXPECT_EQ(bytes.mid(8, 4), QByteArray::fromHex("05000000"));
  EXPECT_EQ(bytes[25], GetParam().Compression ? 1 : 0);
  EXPECT_EQ(bytes.mid(26, 100), QByteArray(100, 'H'));
  // The last four bytes give the start of the last entry, whose number is 5.
  const quint32 last = qFromLittleEndian<quint32>(bytes.constData() + bytes.size() - 4);
  EXPECT_EQ(qFromLittleEndian<quint32>(bytes.constData() + last), 5u);

  TBRPrinter loaded;
  loaded.Load(file);
  EXPECT_EQ(loaded.Status(), br::TBRProducerStatus::mpFinished);
  ExpectSamePages(loaded, pages);
}

INSTANTIATE_TEST_SUITE_P(Stores, PageStore,
                         ::testing::Values(TStoreCase{"Memory", br::kBRDefaultMemoryLimit * 100, false},
                                           TStoreCase{"TemporaryFile", br::kBRDefaultMemoryLimit, false},
                                           TStoreCase{"SmallLimit", 3000, false},
                                           TStoreCase{"CompressedMemory", br::kBRDefaultMemoryLimit * 100, true},
                                           TStoreCase{"CompressedFile", 3000, true}),
                         [](const auto& info) { return std::string(info.param.Name); });

TEST(PageStore, FortyPagesGoBeyondTheDefaultLimit) {
  // The sample is big enough to show the move: the default limit is crossed.
  TBRPrinter printer;
  Produce(printer, SamplePages(40));
  EXPECT_TRUE(printer.Stream()->InFile()) << printer.Stream()->Size();
  TBRPrinter packed;
  packed.Compression = true;
  Produce(packed, SamplePages(40));
  EXPECT_LT(packed.Stream()->Size(), printer.Stream()->Size() / 2);
}

TEST(PageStore, DamagedFilesAreRefusedAndTheStoreIsKept) {
  TBRPrinter printer;
  Produce(printer, SamplePages(3));
  QTemporaryDir dir;
  const QString file = dir.filePath(QStringLiteral("lista.brp"));
  printer.Save(file);
  QFile f(file);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  const QByteArray good = f.readAll();
  f.close();

  const auto write = [&](const QByteArray& bytes) {
    QFile out(file);
    ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
    out.write(bytes);
  };
  QByteArray badFormat = good;
  badFormat[0] = 4;
  QByteArray badLink = good;
  badLink[br::store::kHeaderSize + 4] ^= 0x10;
  const std::vector<QByteArray> damaged = {good.left(100), good.left(good.size() - 1), badFormat, badLink, good + "x"};
  for (std::size_t i = 0; i < damaged.size(); ++i) {
    SCOPED_TRACE(i);
    write(damaged[i]);
    TBRPrinter other;
    Produce(other, SamplePages(2));
    EXPECT_THROW(other.Load(file), br::EBRError);
    EXPECT_EQ(other.PageCount(), 2);
    EXPECT_NO_THROW(other.GetPage(2));
  }
  EXPECT_THROW(printer.Load(dir.filePath(QStringLiteral("nincs.brp"))), br::EBRError);
}

TEST(PageStore, ProducerRefusesCallsOutOfOrder) {
  TBRPrinter printer;
  EXPECT_THROW(printer.NewPage(), br::EBRError);
  printer.BeginDoc(QString(), 2100, 2970);
  EXPECT_THROW(printer.BeginDoc(QString(), 2100, 2970), br::EBRError);
  printer.NewPage();
  printer.AbortDoc();
  EXPECT_EQ(printer.Status(), br::TBRProducerStatus::mpReady);
  EXPECT_EQ(printer.PageCount(), 0);
}

TEST(Printing, PagesTwoToThreePrintExactly) {
  const std::vector<TBRDisplayPage> pages = SamplePages(5);
  TBRPrinter printer;
  Produce(printer, pages);
  QTemporaryDir dir;
  const QString file = dir.filePath(QStringLiteral("ket-oldal.pdf"));
  {
    QPdfWriter pdf(file);
    pdf.setResolution(300);
    EXPECT_EQ(printer.Print(pdf, 2, 3), 2);
  }
  const pdftest::TPdfText text = pdftest::ReadPdf(file);
  ASSERT_EQ(text.Pages.size(), 2u);
  EXPECT_TRUE(text.Pages[0].contains(QStringLiteral("Település 2/0 ")));
  EXPECT_TRUE(text.Pages[1].contains(QStringLiteral("Település 3/47 ")));
  EXPECT_FALSE(text.All().contains(QStringLiteral("Település 1/")));
  EXPECT_FALSE(text.All().contains(QStringLiteral("Település 4/")));
}

TEST(Printing, ThePrinterDestinationPrintsWithinTheLimits) {
  const std::vector<TBRDisplayPage> pages = SamplePages(5);
  QTemporaryDir dir;
  const QString file = dir.filePath(QStringLiteral("kozvetlen.pdf"));
  {
    QPdfWriter pdf(file);
    TBRPrinter printer;
    printer.Destination = br::TBRPrinterDestination::brdPrinter;
    printer.Device = &pdf;
    printer.PrinterSettings.FirstPage = 4;
    Produce(printer, pages);
  }
  const pdftest::TPdfText text = pdftest::ReadPdf(file);
  ASSERT_EQ(text.Pages.size(), 2u);
  EXPECT_TRUE(text.Pages[0].contains(QStringLiteral("Település 4/")));
  EXPECT_TRUE(text.Pages[1].contains(QStringLiteral("Település 5/")));
}

}  // namespace
