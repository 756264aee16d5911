#include "Artwork.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <cmath>

namespace vidora {

namespace {
// A band of hills whose crest follows a sum of two waves.
QPainterPath Hills(QSizeF size, double base, double height, double phase) {
  QPainterPath path(QPointF(0, size.height()));
  for (int x = 0; x <= size.width(); x += 4) {
    const double t = x / size.width();
    const double y = base - height * (0.6 * std::sin(6.0 * t + phase) + 0.4 * std::sin(13.0 * t + 2 * phase));
    path.lineTo(x, y);
  }
  path.lineTo(size.width(), size.height());
  path.closeSubpath();
  return path;
}
}  // namespace

QPixmap MainPicture(QSize size) {
  QPixmap picture(size);
  const QSizeF s = size;
  QPainter p(&picture);
  p.setRenderHint(QPainter::Antialiasing);

  QLinearGradient sky(0, 0, 0, s.height() * 0.6);
  sky.setColorAt(0, QColor(96, 150, 210));
  sky.setColorAt(1, QColor(226, 238, 248));
  p.fillRect(QRectF(QPointF(0, 0), s), sky);

  p.setPen(Qt::NoPen);
  p.setBrush(QColor(255, 244, 200));
  p.drawEllipse(QPointF(s.width() * 0.82, s.height() * 0.18), 22, 22);

  p.setBrush(QColor(120, 160, 110));
  p.drawPath(Hills(s, s.height() * 0.52, 18, 0.4));
  p.setBrush(QColor(92, 140, 80));
  p.drawPath(Hills(s, s.height() * 0.64, 14, 1.7));
  p.setBrush(QColor(70, 118, 60));
  p.drawPath(Hills(s, s.height() * 0.78, 10, 3.1));

  QPainterPath river(QPointF(s.width() * 0.30, s.height() * 0.60));
  river.cubicTo(QPointF(s.width() * 0.42, s.height() * 0.72), QPointF(s.width() * 0.28, s.height() * 0.86),
                QPointF(s.width() * 0.40, s.height()));
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(QColor(170, 205, 235), 7, Qt::SolidLine, Qt::RoundCap));
  p.drawPath(river);

  // Villages: red roofs scattered over the fields.
  p.setPen(Qt::NoPen);
  const QPointF villages[] = {{0.12, 0.70}, {0.55, 0.68}, {0.63, 0.82}, {0.74, 0.72}, {0.20, 0.86}, {0.88, 0.80}};
  for (const QPointF& v : villages) {
    const QPointF at(v.x() * s.width(), v.y() * s.height());
    p.setBrush(QColor(245, 240, 228));
    p.drawRect(QRectF(at, QSizeF(12, 8)));
    p.setBrush(QColor(180, 60, 40));
    p.drawPolygon(QPolygonF({at + QPointF(-2, 0), at + QPointF(6, -7), at + QPointF(14, 0)}));
  }
  return picture;
}

}  // namespace vidora
