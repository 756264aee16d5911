#include "Unit8.h"

#include <QFrame>
#include <QLabel>
#include <QMouseEvent>

#include "Artwork.h"

namespace vidora {

TForm8::TForm8(TVidora& app)
    : TModalForm(app, QStringLiteral("Form8"), QString(), 145, 153, tk::TBorderIcons::biNone) {
  auto* panel = new QFrame(this);
  panel->setObjectName(QStringLiteral("Panel1"));
  panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  panel->setLineWidth(2);
  panel->setGeometry(0, 0, 145, 153);

  FImage1 = new QLabel(panel);
  FImage1->setObjectName(QStringLiteral("Image1"));
  FImage1->setGeometry(8, 8, 129, 137);
  FImage1->setPixmap(MainPicture(QSize(129, 137)));
}

void TForm8::mousePressEvent(QMouseEvent* event) {
  event->accept();
  close();
}

}  // namespace vidora
