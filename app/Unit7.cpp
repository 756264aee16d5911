#include "Unit7.h"

namespace vidora {

TForm7::TForm7(TVidora& app)
    : TModalForm(app, QStringLiteral("Form7"), QStringLiteral(" Névjegy:"), 298, 437, tk::TBorderIcons::biSystemMenu) {}

}  // namespace vidora
