// Base of the five statistics windows: one layout, each window with its own caption,
// grouping column and statement.
#pragma once

#include "ModalForm.h"

namespace vidora {

class TStatisticsForm : public TModalForm {
  Q_OBJECT
 protected:
  TStatisticsForm(TVidora& app, const QString& name, const QString& caption, int clientWidth = 604);
};

}  // namespace vidora
