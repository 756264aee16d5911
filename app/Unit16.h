// Statistics of the settlements by county.
#pragma once

#include "StatisticsForm.h"

namespace vidora {

class TForm16 : public TStatisticsForm {
  Q_OBJECT
 public:
  explicit TForm16(TVidora& app);
};

}  // namespace vidora
