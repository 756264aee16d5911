#include "Unit6.h"

namespace vidora {

TForm6::TForm6(TVidora& app)
    : TModalForm(app, QStringLiteral("Form6"), QStringLiteral(" Megjelenítendő adatok szűrése:"), 541, 265, tk::TBorderIcons::biSystemMenuMinimize) {}

}  // namespace vidora
