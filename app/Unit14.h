// Statistics of the settlements by administrative rank.
#pragma once

#include "StatisticsForm.h"

namespace vidora {

class TForm14 : public TStatisticsForm {
  Q_OBJECT
 public:
  explicit TForm14(TVidora& app);
};

}  // namespace vidora
