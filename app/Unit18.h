// Statistics of the settlements by telephone area; settlements without an area form one row.
#pragma once

#include "StatisticsForm.h"

namespace vidora {

class TForm18 : public TStatisticsForm {
  Q_OBJECT
 public:
  explicit TForm18(TVidora& app);
};

}  // namespace vidora
