#include "BRMetrics.h"

#include <QFontMetricsF>
#include <QPainter>
#include <cmath>
#include <utility>
#include <vector>

namespace br {

namespace {

constexpr double kTenthMmPerPoint = 254.0 / 72.0;

int Round(double value) { return static_cast<int>(std::lround(value)); }

}  // namespace

int TBRFixedFontMetrics::TextWidth(const TBRFont& font, const QString& text) const {
  const double em = font.Size * kTenthMmPerPoint;
  return Round(text.size() * em * (WidthRatio + (font.Bold ? BoldExtra : 0.0)));
}

int TBRFixedFontMetrics::TextHeight(const TBRFont& font, const QString&) const {
  return Round(font.Size * kTenthMmPerPoint * HeightRatio);
}

QFont ToQFont(const TBRFont& font, double dotsPerTenthMm) {
  QString family = font.Name;
  if (family.compare(QLatin1String("Arial"), Qt::CaseInsensitive) == 0 ||
      family.compare(QLatin1String("MS Sans Serif"), Qt::CaseInsensitive) == 0)
    family = QStringLiteral("Liberation Sans");
  else if (family.compare(QLatin1String("Times New Roman"), Qt::CaseInsensitive) == 0)
    family = QStringLiteral("Liberation Serif");
  else if (family.compare(QLatin1String("Courier New"), Qt::CaseInsensitive) == 0)
    family = QStringLiteral("Liberation Mono");
  QFont f(family);
  f.setPixelSize(std::max(1, Round(font.Size * kTenthMmPerPoint * dotsPerTenthMm)));
  f.setBold(font.Bold);
  f.setItalic(font.Italic);
  f.setUnderline(font.Underline);
  f.setStrikeOut(font.StrikeOut);
  // Layout must not change with the device: no hinting, fractional advances.
  f.setHintingPreference(QFont::PreferNoHinting);
  f.setStyleStrategy(QFont::PreferOutline);
  return f;
}

namespace {

// Measured at 10 pixels per tenth of a millimetre and scaled back: pixel sizes are whole
// numbers, so a large size keeps the font's own proportions.
constexpr double kMeasureScale = 10.0;

}  // namespace

struct TBRQtFontMetrics::TCache {
  std::vector<std::pair<TBRFont, QFontMetricsF>> Fonts;
};

TBRQtFontMetrics::TBRQtFontMetrics() : FCache(std::make_unique<TCache>()) {}

TBRQtFontMetrics::~TBRQtFontMetrics() = default;

const QFontMetricsF& TBRQtFontMetrics::For(const TBRFont& font) const {
  for (const auto& [f, m] : FCache->Fonts)
    if (f == font) return m;
  return FCache->Fonts.emplace_back(font, QFontMetricsF(ToQFont(font, kMeasureScale))).second;
}

int TBRQtFontMetrics::TextWidth(const TBRFont& font, const QString& text) const {
  return Round(For(font).horizontalAdvance(text) / kMeasureScale);
}

int TBRQtFontMetrics::TextHeight(const TBRFont& font, const QString&) const {
  return Round(For(font).height() / kMeasureScale);
}

void PaintPage(const TBRDisplayPage& page, QPainter& painter, double k) {
  painter.save();
  painter.setRenderHint(QPainter::Antialiasing, true);
  painter.setRenderHint(QPainter::TextAntialiasing, true);
  const auto rect = [k](const TBRRect& r) { return QRectF(r.Left * k, r.Top * k, r.Width * k, r.Height * k); };
  for (const TBRDrawCommand& c : page.Commands) {
    switch (c.Kind) {
      case TBRCommandKind::dcFill:
        painter.fillRect(rect(c.Rect), QColor::fromRgba(c.Color));
        break;
      case TBRCommandKind::dcLine:
        painter.setPen(QPen(QColor::fromRgba(c.Color), std::max(1.0, c.PenWidth * k)));
        painter.drawLine(QPointF(c.X * k, c.Y * k), QPointF(c.X2 * k, c.Y2 * k));
        break;
      case TBRCommandKind::dcPicture:
        painter.drawImage(rect(c.Rect), c.Image);
        break;
      case TBRCommandKind::dcText: {
        const QFont f = ToQFont(c.Font, k);
        painter.setFont(f);
        painter.setPen(QColor::fromRgba(c.Color));
        painter.setClipRect(rect(c.Rect));
        painter.setLayoutDirection(c.RightToLeft ? Qt::RightToLeft : Qt::LeftToRight);
        painter.drawText(QPointF(c.X * k, c.Y * k + QFontMetricsF(f).ascent()), c.Text);
        painter.setClipping(false);
        break;
      }
    }
  }
  painter.restore();
}

}  // namespace br
