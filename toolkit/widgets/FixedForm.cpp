#include "FixedForm.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace tk {

void SetupFixedForm(QWidget& form, const QString& caption, int clientWidth, int clientHeight,
                    TBorderIcons icons, int extraHeight) {
  Qt::WindowFlags flags = form.windowType() == Qt::Dialog ? Qt::Dialog : Qt::Window;
  switch (icons) {
    case TBorderIcons::biSystemMenu:
      flags |= Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
               Qt::WindowCloseButtonHint;
      break;
    case TBorderIcons::biSystemMenuMinimize:
      flags |= Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
               Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint;
      break;
    case TBorderIcons::biNone:
      flags |= Qt::FramelessWindowHint;
      break;
  }
  form.setWindowFlags(flags);
  form.setWindowTitle(caption);
  form.setFixedSize(clientWidth, clientHeight + extraHeight);
  CentreOnScreen(form);
}

void CentreOnScreen(QWidget& form) {
  QScreen* screen = form.screen() ? form.screen() : QGuiApplication::primaryScreen();
  if (!screen) return;
  QRect frame(QPoint(0, 0), form.size());
  frame.moveCenter(screen->availableGeometry().center());
  form.move(frame.topLeft());
}

}  // namespace tk
