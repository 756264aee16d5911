// The maintenance window: browse, insert, change and delete settlements.
#pragma once

#include "ModalForm.h"

namespace vidora {

class TForm2 : public TModalForm {
  Q_OBJECT
 public:
  explicit TForm2(TVidora& app);
};

}  // namespace vidora
