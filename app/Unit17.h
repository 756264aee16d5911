// Statistics of the settlements by sub-region.
#pragma once

#include "StatisticsForm.h"

namespace vidora {

class TForm17 : public TStatisticsForm {
  Q_OBJECT
 public:
  explicit TForm17(TVidora& app);
};

}  // namespace vidora
