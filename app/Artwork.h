// The program's own artwork, drawn rather than stored: a landscape of hills, a river and
// settlements for the main window.
#pragma once

#include <QPixmap>
#include <QSize>

namespace vidora {

QPixmap MainPicture(QSize size);

}  // namespace vidora
