// The page producer and the page store. TBRPrinter takes the pages the report generator draws
// (display lists, BRDisplay.h) and either appends them to the page store, from which the
// preview shows and prints them, or draws them straight onto a paged device (a printer, a PDF
// writer). Every page, whether shown, printed or exported, is painted by the one renderer of
// BRMetrics (PaintPage), so what the preview shows is what the printer gets.
//
// Page store stream (TBRStream): memory while small; when a write makes it larger than the
// memory limit its bytes move to a temporary file ("BRP…" in the system's temporary
// directory) and all further reads and writes go there. The file goes with the stream.
//
// Page store format (also the format of a saved report file), little-endian, stored on disk:
// never renumber.
//
//   offset size  content
//        0    2  format word 3
//        2    2  word 50
//        4    4  reserved (0)
//        8    4  page count
//       12    4  reserved (0)
//       16    8  creation time: days since 30 December 1899 as a double
//       24    1  reserved (0)
//       25    1  1 = pages compressed, 0 = not
//       26  100  filler, each byte 72 ("H")
//      126    2  reserved (0)
//
// Pages follow in order, each as an entry: page number (4, from 1), stream offset just after
// this entry (4), page data, stream offset of this entry's first byte (4). The offsets link
// the entries both ways; the last 4 bytes of the stream give the start of the last entry.
// Page data is the serialised display list, starting with the signature "VBRP"; compressed, it
// is a 4-byte count of the serialised bytes followed by their zlib stream.
//
// Threads: the generator appends on the GUI thread while the preview reads; the stream and the
// page index each have their own lock, so reading from another thread is safe.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "BRDisplay.h"

class QTemporaryFile;
class QFile;
class QPagedPaintDevice;
class QPainter;

namespace br {

constexpr qint64 kBRDefaultMemoryLimit = 250000;

// Offsets of the page store header (stored on disk: never renumber).
namespace store {
constexpr int kFormatWord = 0;       // 2: 3
constexpr int kSecondWord = 2;       // 2: 50
constexpr int kPageCount = 8;        // 4
constexpr int kCreationTime = 16;    // 8: double
constexpr int kCompressedFlag = 25;  // 1
constexpr int kFiller = 26;          // 100 × 'H'
constexpr int kFillerSize = 100;
constexpr int kHeaderSize = 128;
constexpr quint16 kFormat = 3;
constexpr quint16 kSecond = 50;
constexpr int kEntryOverhead = 12;  // page number, next offset, own offset
}  // namespace store

// A byte stream in memory that moves to a temporary file past its memory limit. Every
// operation holds the stream's lock.
class TBRStream {
 public:
  explicit TBRStream(qint64 memoryLimit = kBRDefaultMemoryLimit);
  ~TBRStream();
  TBRStream(const TBRStream&) = delete;
  TBRStream& operator=(const TBRStream&) = delete;

  // Writes at `position` (at most the size: the stream has no holes); raises EBRError when
  // the temporary file cannot be written.
  void WriteAt(qint64 position, const QByteArray& bytes);
  void Append(const QByteArray& bytes);
  // `count` bytes from `position`; raises EBRError when the stream is shorter.
  QByteArray ReadAt(qint64 position, qint64 count) const;
  qint64 Size() const;
  // True once the bytes live in the temporary file; its name (empty while in memory).
  bool InFile() const;
  QString FileName() const;
  qint64 MemoryLimit() const noexcept { return FLimit; }
  // All bytes (to save them).
  QByteArray ReadAll() const;

 private:
  void MoveToFile();

  const qint64 FLimit;
  mutable std::mutex FLock;
  QByteArray FMemory;
  std::unique_ptr<QTemporaryFile> FFile;
  qint64 FSize = 0;
};

enum class TBRPrinterDestination : unsigned char { brdMetafile, brdPrinter };

// The producer's printer settings. FirstPage and LastPage 0: no limit.
struct TPrinterSettings {
  int Copies = 1;
  bool Duplex = false;
  int FirstPage = 0;
  int LastPage = 0;
  qint64 MemoryLimit = kBRDefaultMemoryLimit;
};

// Serialised display lists (the page data of the store).
QByteArray EncodePage(const TBRDisplayPage& page);
// Raises EBRError on bytes that are not a page.
TBRDisplayPage DecodePage(const QByteArray& bytes);

// Paints a page on a paged device's painter: the device's resolution gives the scale, its
// unprintable margins (the painter's origin lies at the printable area) shift the page so that
// the paper's top-left corner stays where the report put it.
void PaintOnDevice(const TBRDisplayPage& page, QPainter& painter, const QPagedPaintDevice& device);

class TBRPrinter : public TBRPagingProducer {
 public:
  TBRPrinter() = default;
  ~TBRPrinter() override;
  TBRPrinter(const TBRPrinter&) = delete;
  TBRPrinter& operator=(const TBRPrinter&) = delete;

  TBRPrinterDestination Destination = TBRPrinterDestination::brdMetafile;
  // Store pages compressed (metafile destination).
  bool Compression = false;
  TPrinterSettings PrinterSettings;
  // The printer destination's device; its page size is set from the report. Not owned.
  QPagedPaintDevice* Device = nullptr;
  // Runs after a page was stored (metafile) or printed (printer), with the page count.
  std::function<void(int)> OnPageAdded;
  // Runs with the percentage of the records done.
  std::function<void(int)> OnProgress;

  // ----- producer
  void BeginDoc(const QString& title, int pageWidth, int pageLength) override;
  void EndDoc() override;
  void AbortDoc() override;
  void SetProgress(int percent) override;

  const QString& Title() const noexcept { return FTitle; }
  int PageWidth() const noexcept { return FWidth; }
  int PageLength() const noexcept { return FLength; }
  // Pages stored so far.
  int PageCount() const;
  // Stored page n (1-based); raises EBRError outside 1..PageCount().
  TBRDisplayPage GetPage(int n) const;
  // The store, while there is one.
  const TBRStream* Stream() const noexcept { return FStream.get(); }

  // Prints the stored pages of a finished document from `first` (0: 1) to `last` (0: the
  // page count) onto the device. `cancelled` is asked before each page; true stops the job
  // (the device is then told to abort when it is a printer). Returns the pages printed.
  int Print(QPagedPaintDevice& device, int first = 0, int last = 0, const std::function<bool(int page)>& cancelled = {});

  // Writes the store to a file in its own format; raises EBRError when it cannot.
  void Save(const QString& fileName) const;
  // Reads a saved store; the document is then finished. Raises EBRError on a file that is not
  // a page store (the producer keeps what it had).
  void Load(const QString& fileName);

 private:
  QByteArray Header(int pageCount) const;
  void StoreOpenPage() override;
  void DrawOnDevice(const TBRDisplayPage& page);
  bool WithinLimits(int page) const;
  void ApplyPageSize(QPagedPaintDevice& device) const;

  QString FTitle;
  bool FCompressed = false;
  double FCreated = 0;
  std::unique_ptr<TBRStream> FStream;
  // Start offset of each stored page's entry.
  mutable std::mutex FIndexLock;
  std::vector<qint64> FIndex;
  // Printer destination: the painter on the device and whether a device page is open.
  std::unique_ptr<QPainter> FPainter;
  bool FDevicePageUsed = false;
};

}  // namespace br
