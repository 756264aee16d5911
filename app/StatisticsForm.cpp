#include "StatisticsForm.h"

namespace vidora {

TStatisticsForm::TStatisticsForm(TVidora& app, const QString& name, const QString& caption, int clientWidth)
    : TModalForm(app, name, caption, clientWidth, 295, tk::TBorderIcons::biSystemMenuMinimize) {}

}  // namespace vidora
