// The picture window opened from the about window: no caption bar, a lowered panel holding the
// picture; a click on the picture or on the panel closes it.
#pragma once

#include "ModalForm.h"

class QLabel;

namespace vidora {

class TForm8 : public TModalForm {
  Q_OBJECT
 public:
  explicit TForm8(TVidora& app);

  QLabel* Image1() const noexcept { return FImage1; }

 protected:
  // The picture and the panel leave their clicks to the window.
  void mousePressEvent(QMouseEvent* event) override;

 private:
  QLabel* FImage1 = nullptr;
};

}  // namespace vidora
