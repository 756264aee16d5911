// vidora_icon: draws the program's icon (the shapes of vidora.svg: a settlement's pin over
// green hills) as PNG files for the icon theme. Usage: vidora_icon <size> <file.png>.
// Each size is drawn, not scaled from another, so the small ones stay sharp.
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>

namespace {

QImage DrawIcon(int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 256.0, size / 256.0);  // drawn on the 256-unit grid of the SVG

  QPainterPath tile;
  tile.addRoundedRect(QRectF(16, 16, 224, 224), 40, 40);
  p.save();
  p.setClipPath(tile);
  QLinearGradient sky(0, 16, 0, 240);
  sky.setColorAt(0, QColor("#7cc4ea"));
  sky.setColorAt(1, QColor("#d8eef8"));
  p.fillRect(QRectF(16, 16, 224, 224), sky);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor("#6fb47f"));
  p.drawEllipse(QPointF(70, 236), 120, 80);
  p.setBrush(QColor("#3f8f58"));
  p.drawEllipse(QPointF(204, 246), 110, 84);
  QPainterPath river(QPointF(96, 240));
  river.cubicTo(120, 214, 176, 214, 150, 182);
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(QColor("#3d8fd1"), 12, Qt::SolidLine, Qt::RoundCap));
  p.drawPath(river);
  p.restore();
  p.setPen(QPen(QColor("#2c5f3f"), 6));
  p.setBrush(Qt::NoBrush);
  p.drawPath(tile);

  // The pin: a circle of radius 40 around (128, 90) running out into a point at (128, 176).
  QPainterPath pin(QPointF(128, 176));
  pin.lineTo(99.7, 118.3);
  pin.arcTo(QRectF(88, 50, 80, 80), 225, -270);
  pin.closeSubpath();
  p.setPen(QPen(QColor("#8e241d"), 4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(QColor("#d9443a"));
  p.drawPath(pin);
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  p.drawEllipse(QPointF(128, 90), 16, 16);
  return image;
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  const int size = argc == 3 ? QString::fromLocal8Bit(argv[1]).toInt() : 0;
  if (size < 8 || size > 1024) {
    std::fputs("usage: vidora_icon <size 8..1024> <file.png>\n", stderr);
    return 1;
  }
  if (!DrawIcon(size).save(QString::fromLocal8Bit(argv[2]), "PNG")) {
    std::fprintf(stderr, "vidora_icon: cannot write %s\n", argv[2]);
    return 1;
  }
  return 0;
}
