// The page as the report engine records it: a display list of drawing commands in tenths of
// a millimetre (texts with their font and position, fills, lines, pictures), the abstract page
// producer the generator draws into, and an in-memory page list. The page store, printing and
// the preview replay the same display list, so what a test reads here is what a user sees.
// GUI thread only; the page list may be read while it grows (page-added notice).
#pragma once

#include <QImage>
#include <QString>
#include <QtGui/qrgb.h>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

namespace br {

// The report engine's own error class, for programming errors of its callers.
class EBRError : public std::runtime_error {
 public:
  explicit EBRError(const char* message) : std::runtime_error(message) {}
  explicit EBRError(const std::string& message) : std::runtime_error(message) {}
  explicit EBRError(const QString& message) : std::runtime_error(message.toStdString()) {}
};

// A rectangle in tenths of a millimetre.
struct TBRRect {
  int Left = 0;
  int Top = 0;
  int Width = 0;
  int Height = 0;
  int Right() const noexcept { return Left + Width; }
  int Bottom() const noexcept { return Top + Height; }
  bool operator==(const TBRRect&) const = default;
};

constexpr QRgb kBRWhite = 0xFFFFFFFFu;
constexpr QRgb kBRBlack = 0xFF000000u;
// The desktop's button face: the light grey of highlighted boxes.
constexpr QRgb kBRButtonFace = 0xFFF0F0F0u;

// A font by face name and size in points. Arial, Times New Roman and Courier New are drawn and
// measured with their metric-compatible free faces, so layout is the same on every machine.
struct TBRFont {
  QString Name = QStringLiteral("Arial");
  double Size = 10.0;
  bool Bold = false;
  bool Italic = false;
  bool Underline = false;
  bool StrikeOut = false;
  QRgb Color = kBRBlack;
  bool operator==(const TBRFont&) const = default;
};

enum class TBRAlignment : unsigned char { taLeftJustify, taRightJustify, taCenter };

enum class TBRCommandKind : unsigned char { dcText, dcFill, dcLine, dcPicture };

// One drawing command. Text: the run starts at (X, Y), the top left corner of its line, and is
// clipped to Rect. Fill: Rect in Color. Line: from (X, Y) to (X2, Y2) with PenWidth in Color.
// Picture: Image stretched over Rect.
struct TBRDrawCommand {
  TBRCommandKind Kind = TBRCommandKind::dcText;
  TBRRect Rect;
  int X = 0;
  int Y = 0;
  int X2 = 0;
  int Y2 = 0;
  int PenWidth = 0;
  QRgb Color = kBRBlack;
  TBRFont Font;
  bool RightToLeft = false;
  QString Text;
  QImage Image;
};

// One page: its number (from 1), paper size and commands in drawing order.
struct TBRDisplayPage {
  int Number = 0;
  int Width = 0;
  int Length = 0;
  std::vector<TBRDrawCommand> Commands;

  void Fill(const TBRRect& rect, QRgb color);
  void Line(int x1, int y1, int x2, int y2, int penWidth, QRgb color);
  void Text(const TBRRect& clip, int x, int y, const TBRFont& font, const QString& text, bool rightToLeft = false);
  void Picture(const TBRRect& rect, const QImage& image);
  // The text runs in drawing order (what the preview searches and tests compare).
  std::vector<const TBRDrawCommand*> Texts() const;
};

enum class TBRProducerStatus : unsigned char { mpReady, mpBusy, mpFinished };

// What the report generator draws into: one page at a time between BeginDoc and EndDoc.
// The page store with its preview and the printer are producers; so is the page list below.
class TBRPageProducer {
 public:
  virtual ~TBRPageProducer() = default;
  // Starts a document of pages of this size (tenths of a millimetre); page number 0.
  virtual void BeginDoc(const QString& title, int pageWidth, int pageLength) = 0;
  // Closes the open page (if any) and opens the next one; only while busy.
  virtual void NewPage() = 0;
  // The open page, to draw on; only while a page is open.
  virtual TBRDisplayPage& Canvas() = 0;
  // Stores the last page; the run of pages is finished.
  virtual void EndDoc() = 0;
  // Stops; the pages are discarded.
  virtual void AbortDoc() = 0;
  virtual int PageNumber() const = 0;
  virtual TBRProducerStatus Status() const = 0;
  // Percentage of the records done, for a window that shows progress.
  virtual void SetProgress(int /*percent*/) {}
};

// The steps every producer takes alike: numbering the pages and keeping the open one until
// the next page or the end of the document hands it to StoreOpenPage.
class TBRPagingProducer : public TBRPageProducer {
 public:
  void NewPage() override;
  TBRDisplayPage& Canvas() override;
  int PageNumber() const override { return FPageNumber; }
  TBRProducerStatus Status() const override { return FStatus; }

 protected:
  // Takes the open page away (if any) and keeps it as the producer keeps its pages.
  virtual void StoreOpenPage() = 0;
  // EndDoc's first step: only while busy, and the last page is stored.
  void StoreLastPage();

  int FWidth = 0;
  int FLength = 0;
  int FPageNumber = 0;
  TBRProducerStatus FStatus = TBRProducerStatus::mpReady;
  std::unique_ptr<TBRDisplayPage> FOpen;
};

// Pages kept in memory, in order. A listener hears of every stored page (a preview shows
// pages while the report is generated).
class TBRPageList : public TBRPagingProducer {
 public:
  void BeginDoc(const QString& title, int pageWidth, int pageLength) override;
  void EndDoc() override;
  void AbortDoc() override;

  const QString& Title() const noexcept { return FTitle; }
  // Pages stored so far (the open page is not among them until the next page or EndDoc).
  int PageCount() const;
  // A copy of stored page n (1-based); raises EBRError outside 1..PageCount().
  TBRDisplayPage Page(int n) const;
  // Runs after a page was stored, with its number.
  std::function<void(int)> OnPageAdded;

 private:
  void StoreOpenPage() override;

  QString FTitle;
  mutable std::mutex FLock;
  std::vector<TBRDisplayPage> FPages;
};

}  // namespace br
