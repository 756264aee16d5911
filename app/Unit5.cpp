#include "Unit5.h"

namespace vidora {

TForm5::TForm5(TVidora& app)
    : TModalForm(app, QStringLiteral("Form5"), QStringLiteral(" Adatok keresése:"), 777, 277, tk::TBorderIcons::biSystemMenuMinimize) {}

}  // namespace vidora
