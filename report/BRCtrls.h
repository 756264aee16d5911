// Printable controls: what sits on a band and draws itself onto the page when the band
// prints. Text controls (labels, database texts, system data, rich text bound to a memo
// column, expression controls) format their text into lines first (word wrap at blanks and
// hyphens or anywhere, or one line with auto size), then print the lines one below the
// other, growing their band line by line when they may stretch; a text that does not fit on
// the page continues with the band on the next page or column. Shapes and images draw
// figures. All geometry is in tenths of a millimetre relative to the band's top left corner;
// all text measuring goes through the report's font metrics. GUI thread only.
#pragma once

#include <QImage>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

#include "BRDisplay.h"
#include "BRExpr.h"

namespace tk {
class TDataSet;
}

namespace br {

class TBRBand;
class TCustomBandRep;
class TBRExpr;

// Height, left, top and width (the order of the stored value list).
struct TBRSize {
  int Height = 0;
  int Left = 0;
  int Top = 0;
  int Width = 0;
};

enum class TBRPenStyle : unsigned char { psSolid, psDash, psDot, psClear };

// Frame lines around a control or band; Width in points.
struct TBRFrame {
  QRgb Color = kBRBlack;
  bool DrawTop = false;
  bool DrawBottom = false;
  bool DrawLeft = false;
  bool DrawRight = false;
  TBRPenStyle Style = TBRPenStyle::psSolid;
  int Width = 1;
  // The width in tenths of a millimetre.
  int NativeWidth() const noexcept;
  bool Any() const noexcept { return DrawTop || DrawBottom || DrawLeft || DrawRight; }
  void Draw(TBRDisplayPage& canvas, const TBRRect& rect) const;
};

// Something that tells expression controls of each record its detail band prints: the
// report, or a sub-detail band.
class TBRMaster {
 public:
  virtual ~TBRMaster() = default;
  void RegisterNotice(TBRExpr* control);
  void UnregisterNotice(TBRExpr* control) noexcept;
  // The detail band printed, or was passed over because it is disabled.
  void NotifyDetail();

 private:
  std::vector<TBRExpr*> FNotified;
};

class TBRPrintable {
 public:
  explicit TBRPrintable(TBRBand& band) : FBand(&band) {}
  TBRPrintable(const TBRPrintable&) = delete;
  TBRPrintable& operator=(const TBRPrintable&) = delete;
  virtual ~TBRPrintable() = default;

  QString Name;
  bool Enabled = true;
  TBRFrame Frame;
  TBRSize Size;
  int XLColumn = 0;

  TBRBand& ParentBand() const noexcept { return *FBand; }
  TCustomBandRep& Report() const noexcept;

  // Around a generation: expression controls prepare their evaluators.
  virtual void BeforeGeneration() {}
  virtual void AfterGeneration() {}
  // A new print of the band starts (the next record): texts are formatted again.
  virtual void BeginPrint() {}
  // Draws at the band's position. May grow the band (TBRBand::Expand).
  virtual void Print(TBRDisplayPage& canvas, int bandX, int bandY) = 0;
  // Lines remain that continue with the band on the next page or column.
  virtual bool Finished() const { return true; }
  // Some line was printed by the last Print.
  virtual bool Progressed() const { return true; }
  // How much taller than its size the control would make its band to print all of its text
  // (for bands kept on one page).
  virtual int NeededExtra() { return 0; }

 private:
  TBRBand* FBand;
};

enum class TBRWrapStyle : unsigned char { BreakOnSpaces, BreakAnywhere };

// The common text control.
class TBRCustomLabel : public TBRPrintable {
 public:
  using TBRPrintable::TBRPrintable;

  TBRAlignment Alignment = TBRAlignment::taLeftJustify;
  bool AlignToBand = false;
  bool AutoSize = false;
  bool AutoStretch = false;
  bool WordWrap = true;
  TBRWrapStyle WrapStyle = TBRWrapStyle::BreakOnSpaces;
  bool Transparent = false;
  bool RightToLeft = false;
  QRgb Color = kBRWhite;
  bool ParentFont = true;
  TBRFont Font;
  bool FullJustify = false;
  int MaxBreakChars = 0;
  // Runs before printing with the text, which it may change for this print.
  std::function<void(TBRCustomLabel&, QString&)> OnPrint;

  // The font the control draws with: its own, or its band's.
  TBRFont EffectiveFont() const;
  // Formats a text into lines as the control prints it (width of the control, its font).
  QStringList FormatLines(const QString& text) const;
  // The lines of the current print.
  const QStringList& Lines() const noexcept { return FLines; }

  void BeginPrint() override;
  void Print(TBRDisplayPage& canvas, int bandX, int bandY) override;
  bool Finished() const override { return FFinished; }
  bool Progressed() const override { return FProgressed; }
  int NeededExtra() override;

 protected:
  // The text to print (caption, field text, system value...).
  virtual QString SourceText() = 0;
  // A control showing a fixed caption is never lower than "Wp" plus a pixel.
  virtual bool CaptionBased() const { return false; }
  // Nothing at all is printed (a database text without its field).
  virtual bool Printable() { return true; }

 private:
  int Measure(const TBRFont& font, const QString& text) const;
  void FormatParagraph(const QString& paragraph, const TBRFont& font, QStringList& lines) const;
  void DrawLine(TBRDisplayPage& canvas, const TBRRect& box, int y, const QString& line, const TBRFont& font) const;

  QStringList FLines;
  int FFirstLine = 0;
  bool FFinished = true;
  bool FProgressed = false;
};

class TBRLabel : public TBRCustomLabel {
 public:
  using TBRCustomLabel::TBRCustomLabel;
  QString Caption;

 protected:
  QString SourceText() override { return Caption; }
  bool CaptionBased() const override { return true; }
};

// The value of a field of the current record.
class TBRDBText : public TBRCustomLabel {
 public:
  using TBRCustomLabel::TBRCustomLabel;
  tk::TDataSet* DataSet = nullptr;
  QString DataField;
  QString Mask;

 protected:
  QString SourceText() override;
  bool Printable() override;
};

enum class TBRSysDataType : unsigned char { brsTime, brsDate, brsDateTime, brsPageNumber, brsReportTitle, brsDetailCount, brsDetailNo };

// Text followed by a value of the running report: time, date, page number, title, counts.
class TBRSysData : public TBRCustomLabel {
 public:
  using TBRCustomLabel::TBRCustomLabel;
  TBRSysDataType Data = TBRSysDataType::brsTime;
  QString Text;

 protected:
  QString SourceText() override;
};

// A memo column's content laid out in the control's rectangle, word-wrapped, stretching its
// band as needed.
class TBRDBRichText : public TBRCustomLabel {
 public:
  explicit TBRDBRichText(TBRBand& band) : TBRCustomLabel(band) {
    AutoStretch = true;
    WordWrap = true;
  }
  tk::TDataSet* DataSet = nullptr;
  QString DataField;

 protected:
  QString SourceText() override;
  bool Printable() override;
};

// The value of an expression, optionally accumulated over the records of its master.
class TBRExpr : public TBRCustomLabel {
 public:
  explicit TBRExpr(TBRBand& band);
  ~TBRExpr() override;
  QString Expression;
  QString Mask;
  TBRMaster* Master = nullptr;
  bool ResetAfterPrint = false;

  TBREvaluator& Evaluator() noexcept { return FEvaluator; }
  void BeforeGeneration() override;
  void AfterGeneration() override;
  void Print(TBRDisplayPage& canvas, int bandX, int bandY) override;
  // Each record of the master: aggregates take the current record.
  void Notice();
  // The text shown at design time.
  QString DesignText() const;

 protected:
  QString SourceText() override;

 private:
  TBREvaluator FEvaluator;
  TBRMaster* FRegistered = nullptr;
};

enum class TBRShapeType : unsigned char {
  brsRectangle, brsCircle, brsVertLine, brsHorLine, brsTopAndBottom, brsRightAndLeft, brsRoundRect, brsLeftDiagonal, brsRightDiagonal
};

struct TBRPen {
  QRgb Color = kBRBlack;
  int Width = 1;  // points
  TBRPenStyle Style = TBRPenStyle::psSolid;
};

struct TBRBrush {
  QRgb Color = kBRWhite;
  bool Clear = false;
};

class TBRShape : public TBRPrintable {
 public:
  using TBRPrintable::TBRPrintable;
  TBRShapeType Shape = TBRShapeType::brsRectangle;
  TBRPen Pen;
  TBRBrush Brush;
  int RoundFactor = 10;
  int VertAdjust = 0;
  void Print(TBRDisplayPage& canvas, int bandX, int bandY) override;
};

// A picture stretched over the control (also the report's background image).
class TBRImage : public TBRPrintable {
 public:
  using TBRPrintable::TBRPrintable;
  QImage Picture;
  void Print(TBRDisplayPage& canvas, int bandX, int bandY) override;
};

}  // namespace br
