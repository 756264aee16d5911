// The about window: program, maker, data source and a summary of the system.
#pragma once

#include "ModalForm.h"

namespace vidora {

class TForm7 : public TModalForm {
  Q_OBJECT
 public:
  explicit TForm7(TVidora& app);
};

}  // namespace vidora
