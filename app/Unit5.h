// The search window: find a settlement by name or postal code, print it.
#pragma once

#include "ModalForm.h"

namespace vidora {

class TForm5 : public TModalForm {
  Q_OBJECT
 public:
  explicit TForm5(TVidora& app);
};

}  // namespace vidora
