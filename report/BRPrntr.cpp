#include "BRPrntr.h"

#include <QBuffer>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QPageLayout>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QPrinter>
#include <QSaveFile>
#include <QTemporaryFile>
#include <QtEndian>
#include <cstring>

#include "BRMetrics.h"

namespace br {

// ----------------------------------------------------------------------------- stream

TBRStream::TBRStream(qint64 memoryLimit) : FLimit(memoryLimit) {}

TBRStream::~TBRStream() = default;

void TBRStream::MoveToFile() {
  auto file = std::make_unique<QTemporaryFile>(QDir::tempPath() + QStringLiteral("/BRPXXXXXX"));
  if (!file->open()) throw EBRError(QStringLiteral("Cannot create a temporary file for the report pages: %1").arg(file->errorString()));
  if (file->write(FMemory) != FMemory.size())
    throw EBRError(QStringLiteral("Cannot write the report pages to \"%1\": %2").arg(file->fileName(), file->errorString()));
  FFile = std::move(file);
  FMemory = QByteArray();
}

void TBRStream::WriteAt(qint64 position, const QByteArray& bytes) {
  std::lock_guard lock(FLock);
  if (position < 0 || position > FSize) throw EBRError("Page store write outside the stream");
  const qint64 end = position + bytes.size();
  if (!FFile && end > FLimit) MoveToFile();
  if (FFile) {
    if (!FFile->seek(position) || FFile->write(bytes) != bytes.size())
      throw EBRError(QStringLiteral("Cannot write the report pages to \"%1\": %2").arg(FFile->fileName(), FFile->errorString()));
  } else {
    if (end > FMemory.size()) FMemory.resize(end);
    std::memcpy(FMemory.data() + position, bytes.constData(), static_cast<std::size_t>(bytes.size()));
  }
  FSize = std::max(FSize, end);
}

void TBRStream::Append(const QByteArray& bytes) { WriteAt(Size(), bytes); }

QByteArray TBRStream::ReadAt(qint64 position, qint64 count) const {
  std::lock_guard lock(FLock);
  if (position < 0 || count < 0 || position + count > FSize) throw EBRError("Page store read outside the stream");
  if (!FFile) return FMemory.mid(position, count);
  QByteArray bytes;
  if (FFile->seek(position)) bytes = FFile->read(count);
  if (bytes.size() != count)
    throw EBRError(QStringLiteral("Cannot read the report pages from \"%1\": %2").arg(FFile->fileName(), FFile->errorString()));
  return bytes;
}

QByteArray TBRStream::ReadAll() const { return ReadAt(0, Size()); }

qint64 TBRStream::Size() const {
  std::lock_guard lock(FLock);
  return FSize;
}

bool TBRStream::InFile() const {
  std::lock_guard lock(FLock);
  return FFile != nullptr;
}

QString TBRStream::FileName() const {
  std::lock_guard lock(FLock);
  return FFile ? FFile->fileName() : QString();
}

// ----------------------------------------------------------------------------- page data

namespace {

constexpr char kPageSignature[4] = {'V', 'B', 'R', 'P'};
constexpr qint32 kPageVersion = 1;

void Put32(QByteArray& bytes, int offset, quint32 value) { qToLittleEndian<quint32>(value, bytes.data() + offset); }

quint32 Get32(const QByteArray& bytes, int offset) { return qFromLittleEndian<quint32>(bytes.constData() + offset); }

QByteArray Le32(quint32 value) {
  QByteArray bytes(4, '\0');
  Put32(bytes, 0, value);
  return bytes;
}

// Days since 30 December 1899, the toolkit's date-time.
double ToolkitDateTime(const QDateTime& when) {
  const QDateTime epoch(QDate(1899, 12, 30), QTime(0, 0));
  return static_cast<double>(epoch.msecsTo(when)) / 86400000.0;
}

}  // namespace

QByteArray EncodePage(const TBRDisplayPage& page) {
  QByteArray bytes;
  QDataStream out(&bytes, QIODevice::WriteOnly);
  out.setVersion(QDataStream::Qt_6_0);
  out.writeRawData(kPageSignature, 4);
  out << kPageVersion << qint32(page.Number) << qint32(page.Width) << qint32(page.Length)
      << quint32(page.Commands.size());
  for (const TBRDrawCommand& c : page.Commands) {
    out << quint8(c.Kind) << qint32(c.Rect.Left) << qint32(c.Rect.Top) << qint32(c.Rect.Width) << qint32(c.Rect.Height)
        << qint32(c.X) << qint32(c.Y) << qint32(c.X2) << qint32(c.Y2) << qint32(c.PenWidth) << quint32(c.Color);
    if (c.Kind == TBRCommandKind::dcText) {
      const TBRFont& f = c.Font;
      out << f.Name << f.Size << f.Bold << f.Italic << f.Underline << f.StrikeOut << quint32(f.Color) << c.RightToLeft << c.Text;
    } else if (c.Kind == TBRCommandKind::dcPicture) {
      out << c.Image;
    }
  }
  return bytes;
}

TBRDisplayPage DecodePage(const QByteArray& bytes) {
  if (bytes.size() < 4 || std::memcmp(bytes.constData(), kPageSignature, 4) != 0) throw EBRError("Not a stored report page");
  QDataStream in(bytes);
  in.setVersion(QDataStream::Qt_6_0);
  in.skipRawData(4);
  qint32 version = 0, number = 0, width = 0, length = 0;
  quint32 count = 0;
  in >> version >> number >> width >> length >> count;
  if (version != kPageVersion) throw EBRError("Stored report page of an unknown version");
  TBRDisplayPage page;
  page.Number = number;
  page.Width = width;
  page.Length = length;
  // Each command takes at least 41 bytes: a damaged count must not reserve gigabytes.
  if (count > static_cast<quint32>(bytes.size()) / 41) throw EBRError("Stored report page is damaged");
  page.Commands.reserve(count);
  for (quint32 i = 0; i < count; ++i) {
    TBRDrawCommand c;
    quint8 kind = 0;
    qint32 left, top, w, h, x, y, x2, y2, pen;
    quint32 color = 0;
    in >> kind >> left >> top >> w >> h >> x >> y >> x2 >> y2 >> pen >> color;
    if (kind > quint8(TBRCommandKind::dcPicture)) throw EBRError("Stored report page is damaged");
    c.Kind = TBRCommandKind(kind);
    c.Rect = {left, top, w, h};
    c.X = x;
    c.Y = y;
    c.X2 = x2;
    c.Y2 = y2;
    c.PenWidth = pen;
    c.Color = color;
    if (c.Kind == TBRCommandKind::dcText) {
      quint32 fontColor = 0;
      in >> c.Font.Name >> c.Font.Size >> c.Font.Bold >> c.Font.Italic >> c.Font.Underline >> c.Font.StrikeOut >> fontColor >>
          c.RightToLeft >> c.Text;
      c.Font.Color = fontColor;
    } else if (c.Kind == TBRCommandKind::dcPicture) {
      in >> c.Image;
    }
    if (in.status() != QDataStream::Ok) throw EBRError("Stored report page is damaged");
    page.Commands.push_back(std::move(c));
  }
  if (in.status() != QDataStream::Ok) throw EBRError("Stored report page is damaged");
  return page;
}

void PaintOnDevice(const TBRDisplayPage& page, QPainter& painter, const QPagedPaintDevice& device) {
  const double kx = device.logicalDpiX() / 254.0;
  const double ky = device.logicalDpiY() / 254.0;
  // The painter's origin is the printable area's corner: the unprintable offsets (the waste)
  // move the page back so that it lands on the paper where the report placed it.
  const QRectF printable = device.pageLayout().paintRect(QPageLayout::Millimeter);
  const double leftWaste = printable.left() * 10.0;
  const double topWaste = printable.top() * 10.0;
  painter.save();
  painter.translate(-leftWaste * kx, -topWaste * ky);
  painter.scale(1.0, ky / kx);
  PaintPage(page, painter, kx);
  painter.restore();
}

// ----------------------------------------------------------------------------- producer

TBRPrinter::~TBRPrinter() {
  if (FPainter && FPainter->isActive()) FPainter->end();
}

void TBRPrinter::SetProgress(int percent) {
  if (OnProgress) OnProgress(percent);
}

void TBRPrinter::ApplyPageSize(QPagedPaintDevice& device) const {
  device.setPageSize(QPageSize(QSizeF(FWidth / 10.0, FLength / 10.0), QPageSize::Millimeter, QString(), QPageSize::FuzzyMatch));
  device.setPageOrientation(QPageLayout::Portrait);
  if (auto* printer = dynamic_cast<QPrinter*>(&device)) {
    printer->setCopyCount(std::max(1, PrinterSettings.Copies));
    printer->setDuplex(PrinterSettings.Duplex ? QPrinter::DuplexAuto : QPrinter::DuplexNone);
  }
}

QByteArray TBRPrinter::Header(int pageCount) const {
  QByteArray header(store::kHeaderSize, '\0');
  qToLittleEndian<quint16>(store::kFormat, header.data() + store::kFormatWord);
  qToLittleEndian<quint16>(store::kSecond, header.data() + store::kSecondWord);
  Put32(header, store::kPageCount, static_cast<quint32>(pageCount));
  double created = FCreated;
  std::memcpy(header.data() + store::kCreationTime, &created, 8);  // little-endian hosts only
  header[store::kCompressedFlag] = FCompressed ? 1 : 0;
  std::memset(header.data() + store::kFiller, 'H', store::kFillerSize);
  return header;
}

void TBRPrinter::BeginDoc(const QString& title, int pageWidth, int pageLength) {
  if (FStatus == TBRProducerStatus::mpBusy) throw EBRError("BRPrinter not ready");
  FTitle = title;
  FWidth = pageWidth;
  FLength = pageLength;
  FPageNumber = 0;
  FOpen.reset();
  FCompressed = Compression;
  FCreated = ToolkitDateTime(QDateTime::currentDateTime());
  {
    std::lock_guard lock(FIndexLock);
    FIndex.clear();
  }
  FStream.reset();
  if (Destination == TBRPrinterDestination::brdMetafile) {
    FStream = std::make_unique<TBRStream>(PrinterSettings.MemoryLimit);
  } else {
    if (!Device) throw EBRError("BRPrinter has no printer");
    ApplyPageSize(*Device);
    if (auto* printer = dynamic_cast<QPrinter*>(Device)) printer->setDocName(title);
    FPainter = std::make_unique<QPainter>();
    FDevicePageUsed = false;
  }
  FStatus = TBRProducerStatus::mpBusy;
}

bool TBRPrinter::WithinLimits(int page) const {
  return (PrinterSettings.FirstPage <= 0 || page >= PrinterSettings.FirstPage) &&
         (PrinterSettings.LastPage <= 0 || page <= PrinterSettings.LastPage);
}

void TBRPrinter::DrawOnDevice(const TBRDisplayPage& page) {
  if (!WithinLimits(page.Number)) return;
  if (!FPainter->isActive()) {
    if (!FPainter->begin(Device)) throw EBRError("Cannot start the print job");
  } else if (FDevicePageUsed) {
    Device->newPage();
  }
  PaintOnDevice(page, *FPainter, *Device);
  FDevicePageUsed = true;
}

void TBRPrinter::StoreOpenPage() {
  if (!FOpen) return;
  std::unique_ptr<TBRDisplayPage> page = std::move(FOpen);
  if (Destination == TBRPrinterDestination::brdPrinter) {
    DrawOnDevice(*page);
    if (OnPageAdded) OnPageAdded(page->Number);
    return;
  }
  if (FStream->Size() == 0) FStream->Append(Header(0));
  QByteArray data = EncodePage(*page);
  if (FCompressed) {
    // qCompress puts a big-endian length before the zlib stream; the store keeps its own
    // little-endian count instead.
    const QByteArray packed = qCompress(data);
    data = Le32(static_cast<quint32>(data.size())) + packed.mid(4);
  }
  const qint64 start = FStream->Size();
  const qint64 next = start + store::kEntryOverhead + data.size();
  QByteArray entry = Le32(static_cast<quint32>(page->Number)) + Le32(static_cast<quint32>(next)) + data +
                     Le32(static_cast<quint32>(start));
  FStream->Append(entry);
  int count = 0;
  {
    std::lock_guard lock(FIndexLock);
    FIndex.push_back(start);
    count = static_cast<int>(FIndex.size());
  }
  if (OnPageAdded) OnPageAdded(count);
}

void TBRPrinter::EndDoc() {
  StoreLastPage();
  if (Destination == TBRPrinterDestination::brdMetafile) {
    if (FStream->Size() == 0) FStream->Append(Header(0));
    FStream->WriteAt(0, Header(PageCount()));
  } else if (FPainter && FPainter->isActive()) {
    FPainter->end();
  }
  FPainter.reset();
  FStatus = TBRProducerStatus::mpFinished;
}

void TBRPrinter::AbortDoc() {
  FOpen.reset();
  if (FPainter && FPainter->isActive()) {
    if (auto* printer = dynamic_cast<QPrinter*>(Device)) printer->abort();
    FPainter->end();
  }
  FPainter.reset();
  {
    std::lock_guard lock(FIndexLock);
    FIndex.clear();
  }
  FStream.reset();
  FPageNumber = 0;
  FStatus = TBRProducerStatus::mpReady;
}

int TBRPrinter::PageCount() const {
  std::lock_guard lock(FIndexLock);
  return static_cast<int>(FIndex.size());
}

TBRDisplayPage TBRPrinter::GetPage(int n) const {
  qint64 start = 0;
  {
    std::lock_guard lock(FIndexLock);
    if (n < 1 || n > static_cast<int>(FIndex.size())) throw EBRError("Page " + std::to_string(n) + " is not stored");
    start = FIndex[static_cast<std::size_t>(n - 1)];
  }
  const QByteArray head = FStream->ReadAt(start, 8);
  const qint64 next = Get32(head, 4);
  if (next < start + store::kEntryOverhead) throw EBRError("Stored report page is damaged");
  QByteArray data = FStream->ReadAt(start + 8, next - start - store::kEntryOverhead);
  if (FCompressed) {
    if (data.size() < 4) throw EBRError("Stored report page is damaged");
    // Back to qUncompress's own form: a big-endian length, then the zlib stream.
    QByteArray packed(4, '\0');
    qToBigEndian<quint32>(Get32(data, 0), packed.data());
    packed += data.mid(4);
    data = qUncompress(packed);
    if (data.isEmpty()) throw EBRError("Stored report page is damaged");
  }
  return DecodePage(data);
}

int TBRPrinter::Print(QPagedPaintDevice& device, int first, int last, const std::function<bool(int)>& cancelled) {
  if (FStatus != TBRProducerStatus::mpFinished || PageCount() == 0) return 0;
  first = std::max(first, 1);
  last = last <= 0 ? PageCount() : std::min(last, PageCount());
  if (first > last) return 0;
  ApplyPageSize(device);
  if (auto* printer = dynamic_cast<QPrinter*>(&device)) printer->setDocName(FTitle);
  QPainter painter;
  if (!painter.begin(&device)) throw EBRError("Cannot start the print job");
  int printed = 0;
  for (int n = first; n <= last; ++n) {
    if (cancelled && cancelled(n)) {
      if (auto* printer = dynamic_cast<QPrinter*>(&device)) printer->abort();
      break;
    }
    if (printed > 0) device.newPage();
    PaintOnDevice(GetPage(n), painter, device);
    ++printed;
  }
  painter.end();
  return printed;
}

void TBRPrinter::Save(const QString& fileName) const {
  if (FStatus != TBRProducerStatus::mpFinished || !FStream) throw EBRError("BRPrinter has no finished report to save");
  QSaveFile file(fileName);
  if (!file.open(QIODevice::WriteOnly) || file.write(FStream->ReadAll()) != FStream->Size() || !file.commit())
    throw EBRError(QStringLiteral("Cannot save the report to \"%1\": %2").arg(fileName, file.errorString()));
}

void TBRPrinter::Load(const QString& fileName) {
  if (FStatus == TBRProducerStatus::mpBusy) throw EBRError("BRPrinter not ready");
  QFile file(fileName);
  if (!file.open(QIODevice::ReadOnly))
    throw EBRError(QStringLiteral("Cannot open the report \"%1\": %2").arg(fileName, file.errorString()));
  const QByteArray bytes = file.readAll();
  const auto bad = [&] { return EBRError(QStringLiteral("\"%1\" is not a stored report").arg(fileName)); };
  if (bytes.size() < store::kHeaderSize ||
      qFromLittleEndian<quint16>(bytes.constData() + store::kFormatWord) != store::kFormat ||
      qFromLittleEndian<quint16>(bytes.constData() + store::kSecondWord) != store::kSecond)
    throw bad();
  const quint32 pages = Get32(bytes, store::kPageCount);
  // Walk the entries forward; every link must agree before anything is replaced.
  std::vector<qint64> index;
  qint64 at = store::kHeaderSize;
  for (quint32 n = 1; n <= pages; ++n) {
    if (at + store::kEntryOverhead > bytes.size()) throw bad();
    const qint64 next = Get32(bytes, static_cast<int>(at) + 4);
    if (Get32(bytes, static_cast<int>(at)) != n || next < at + store::kEntryOverhead || next > bytes.size() ||
        Get32(bytes, static_cast<int>(next) - 4) != at)
      throw bad();
    index.push_back(at);
    at = next;
  }
  if (at != bytes.size()) throw bad();

  auto stream = std::make_unique<TBRStream>(PrinterSettings.MemoryLimit);
  stream->Append(bytes);
  FOpen.reset();
  FStream = std::move(stream);
  FCompressed = bytes[store::kCompressedFlag] == 1;
  std::memcpy(&FCreated, bytes.constData() + store::kCreationTime, 8);
  {
    std::lock_guard lock(FIndexLock);
    FIndex = std::move(index);
  }
  FPageNumber = static_cast<int>(pages);
  FStatus = TBRProducerStatus::mpFinished;
  // The paper size of the pages themselves.
  if (pages > 0) {
    const TBRDisplayPage first = GetPage(1);
    FWidth = first.Width;
    FLength = first.Length;
  }
}

}  // namespace br
