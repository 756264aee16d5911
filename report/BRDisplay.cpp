#include "BRDisplay.h"

namespace br {

void TBRDisplayPage::Fill(const TBRRect& rect, QRgb color) {
  TBRDrawCommand c;
  c.Kind = TBRCommandKind::dcFill;
  c.Rect = rect;
  c.Color = color;
  Commands.push_back(std::move(c));
}

void TBRDisplayPage::Line(int x1, int y1, int x2, int y2, int penWidth, QRgb color) {
  TBRDrawCommand c;
  c.Kind = TBRCommandKind::dcLine;
  c.X = x1;
  c.Y = y1;
  c.X2 = x2;
  c.Y2 = y2;
  c.PenWidth = penWidth;
  c.Color = color;
  Commands.push_back(std::move(c));
}

void TBRDisplayPage::Text(const TBRRect& clip, int x, int y, const TBRFont& font, const QString& text, bool rightToLeft) {
  TBRDrawCommand c;
  c.Kind = TBRCommandKind::dcText;
  c.Rect = clip;
  c.X = x;
  c.Y = y;
  c.Font = font;
  c.Color = font.Color;
  c.Text = text;
  c.RightToLeft = rightToLeft;
  Commands.push_back(std::move(c));
}

void TBRDisplayPage::Picture(const TBRRect& rect, const QImage& image) {
  TBRDrawCommand c;
  c.Kind = TBRCommandKind::dcPicture;
  c.Rect = rect;
  c.Image = image;
  Commands.push_back(std::move(c));
}

std::vector<const TBRDrawCommand*> TBRDisplayPage::Texts() const {
  std::vector<const TBRDrawCommand*> texts;
  for (const TBRDrawCommand& c : Commands)
    if (c.Kind == TBRCommandKind::dcText) texts.push_back(&c);
  return texts;
}

void TBRPagingProducer::NewPage() {
  if (FStatus != TBRProducerStatus::mpBusy) throw EBRError("Illegal call to NewPage");
  StoreOpenPage();
  ++FPageNumber;
  FOpen = std::make_unique<TBRDisplayPage>();
  FOpen->Number = FPageNumber;
  FOpen->Width = FWidth;
  FOpen->Length = FLength;
}

TBRDisplayPage& TBRPagingProducer::Canvas() {
  if (!FOpen) throw EBRError("No page to draw on");
  return *FOpen;
}

void TBRPagingProducer::StoreLastPage() {
  if (FStatus != TBRProducerStatus::mpBusy) throw EBRError("BRPrinter not ready");
  StoreOpenPage();
}

void TBRPageList::BeginDoc(const QString& title, int pageWidth, int pageLength) {
  if (FStatus == TBRProducerStatus::mpBusy) throw EBRError("BRPrinter not ready");
  std::lock_guard lock(FLock);
  FPages.clear();
  FOpen.reset();
  FTitle = title;
  FWidth = pageWidth;
  FLength = pageLength;
  FPageNumber = 0;
  FStatus = TBRProducerStatus::mpBusy;
}

void TBRPageList::StoreOpenPage() {
  if (!FOpen) return;
  int number = 0;
  {
    std::lock_guard lock(FLock);
    FPages.push_back(std::move(*FOpen));
    number = static_cast<int>(FPages.size());
  }
  FOpen.reset();
  if (OnPageAdded) OnPageAdded(number);
}

void TBRPageList::EndDoc() {
  StoreLastPage();
  FStatus = TBRProducerStatus::mpFinished;
}

void TBRPageList::AbortDoc() {
  std::lock_guard lock(FLock);
  FOpen.reset();
  FPages.clear();
  FPageNumber = 0;
  FStatus = TBRProducerStatus::mpReady;
}

int TBRPageList::PageCount() const {
  std::lock_guard lock(FLock);
  return static_cast<int>(FPages.size());
}

TBRDisplayPage TBRPageList::Page(int n) const {
  std::lock_guard lock(FLock);
  if (n < 1 || n > static_cast<int>(FPages.size())) throw EBRError("Page " + std::to_string(n) + " is not stored");
  return FPages[static_cast<std::size_t>(n - 1)];
}

}  // namespace br
