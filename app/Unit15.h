// Statistics of the settlements by region.
#pragma once

#include "StatisticsForm.h"

namespace vidora {

class TForm15 : public TStatisticsForm {
  Q_OBJECT
 public:
  explicit TForm15(TVidora& app);
};

}  // namespace vidora
