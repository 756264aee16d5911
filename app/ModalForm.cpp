#include "ModalForm.h"

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

}  // namespace vidora
