// The picture window opened from the about window: no caption bar; a click closes it.
#pragma once

#include "ModalForm.h"

namespace vidora {

class TForm8 : public TModalForm {
  Q_OBJECT
 public:
  explicit TForm8(TVidora& app);

 protected:
  void mousePressEvent(QMouseEvent* event) override;
};

}  // namespace vidora
