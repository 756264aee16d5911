#include "Unit14.h"

namespace vidora {

TForm14::TForm14(TVidora& app)
    : TStatisticsForm(app, QStringLiteral("Form14"),
                      QStringLiteral(" Település adatok megoszlása igazgatási rang szerint:")) {}

}  // namespace vidora
