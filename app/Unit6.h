// The filter window: up to three conditions narrow the settlements shown everywhere.
#pragma once

#include "ModalForm.h"

namespace vidora {

class TForm6 : public TModalForm {
  Q_OBJECT
 public:
  explicit TForm6(TVidora& app);
};

}  // namespace vidora
