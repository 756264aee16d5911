// Measuring text for layout. Every width and height the report engine uses for word wrap,
// auto size and line height comes through TBRFontMetrics, in tenths of a millimetre at zoom
// 100, so that layout does not depend on the screen or printer: the fonts are measured at a
// fixed reference resolution. Tests and benchmarks give fixed metrics instead.
#pragma once

#include <QFont>
#include <QString>
#include <memory>

#include "BRDisplay.h"

class QPainter;
class QFontMetricsF;

namespace br {

class TBRFontMetrics {
 public:
  virtual ~TBRFontMetrics() = default;
  // Advance width of the text in the font (tenths of a millimetre).
  virtual int TextWidth(const TBRFont& font, const QString& text) const = 0;
  // Line height of the font (tenths of a millimetre); the sample text matters to fonts whose
  // height depends on it.
  virtual int TextHeight(const TBRFont& font, const QString& sample) const = 0;
};

// Fixed metrics: every character is WidthRatio of the font's em wide (bold adds BoldExtra),
// a line is HeightRatio of the em high. Deterministic on every machine.
class TBRFixedFontMetrics : public TBRFontMetrics {
 public:
  double WidthRatio = 0.5;
  double BoldExtra = 0.05;
  double HeightRatio = 1.15;
  int TextWidth(const TBRFont& font, const QString& text) const override;
  int TextHeight(const TBRFont& font, const QString& sample) const override;
};

// The fonts themselves, through Qt, at a reference resolution of 254 dots per inch (one dot
// is a tenth of a millimetre). Needs a QGuiApplication.
class TBRQtFontMetrics : public TBRFontMetrics {
 public:
  TBRQtFontMetrics();
  ~TBRQtFontMetrics() override;
  int TextWidth(const TBRFont& font, const QString& text) const override;
  int TextHeight(const TBRFont& font, const QString& sample) const override;

 private:
  // Metrics of the fonts met so far: a report uses a handful.
  struct TCache;
  const QFontMetricsF& For(const TBRFont& font) const;
  std::unique_ptr<TCache> FCache;
};

// The Qt font that draws a report font: its face (with the metric-compatible free faces for
// Arial, Times New Roman and Courier New) at `dotsPerTenthMm` device pixels per tenth of a
// millimetre.
QFont ToQFont(const TBRFont& font, double dotsPerTenthMm);

// Paints a recorded page onto a painter whose device has `dotsPerTenthMm` pixels per tenth of a
// millimetre in both directions (the preview, a printer, an image or a PDF file).
void PaintPage(const TBRDisplayPage& page, QPainter& painter, double dotsPerTenthMm);

}  // namespace br
