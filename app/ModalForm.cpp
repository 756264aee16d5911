#include "ModalForm.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QPushButton>

#include "Unit9.h"
#include "Vidora.h"

namespace vidora {

TModalForm::TModalForm(TVidora& app, const QString& name, const QString& caption, int clientWidth,
                       int clientHeight, tk::TBorderIcons icons)
    : QDialog(nullptr), FApp(app) {
  setObjectName(name);
  setModal(true);
  tk::SetupFixedForm(*this, caption, clientWidth, clientHeight, icons);
  app.Created(name);
}

void TModalForm::showEvent(QShowEvent* event) {
  // A dialog makes its push buttons default buttons that Enter would press; these windows
  // have none. Done on every showing, so buttons added after construction are covered too.
  for (QPushButton* button : findChildren<QPushButton*>()) {
    button->setAutoDefault(false);
    button->setDefault(false);
  }
  QDialog::showEvent(event);
}

void TModalForm::keyPressEvent(QKeyEvent* event) {
  // Keys that reach the window itself: Enter has no button to press and Esc no cancel button
  // to stand for; neither closes the window.
  switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Enter:
    case Qt::Key_Return:
      event->accept();
      return;
    default:
      QDialog::keyPressEvent(event);
  }
}

void TModalForm::closeEvent(QCloseEvent* event) {
  if (TDataModule9* data = FApp.DataModule9(); data && !data->SettlePendingEdit(this)) {
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}

}  // namespace vidora
