#include "Unit2.h"

namespace vidora {

TForm2::TForm2(TVidora& app)
    : TModalForm(app, QStringLiteral("Form2"), QStringLiteral(" Adatok Karbantartása:"), 777, 277, tk::TBorderIcons::biSystemMenuMinimize) {}

}  // namespace vidora
