#include "Unit16.h"

namespace vidora {

TForm16::TForm16(TVidora& app)
    : TStatisticsForm(app, QStringLiteral("Form16"),
                      QStringLiteral(" Település adatok megoszlása megyék szerint:")) {}

}  // namespace vidora
