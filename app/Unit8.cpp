#include "Unit8.h"

#include <QMouseEvent>

namespace vidora {

TForm8::TForm8(TVidora& app)
    : TModalForm(app, QStringLiteral("Form8"), QString(), 145, 153, tk::TBorderIcons::biNone) {}

void TForm8::mousePressEvent(QMouseEvent* event) {
  event->accept();
  close();
}

}  // namespace vidora
