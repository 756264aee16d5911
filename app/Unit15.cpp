#include "Unit15.h"

namespace vidora {

TForm15::TForm15(TVidora& app)
    : TStatisticsForm(app, QStringLiteral("Form15"),
                      QStringLiteral(" Település adatok megoszlása régiók szerint:")) {}

}  // namespace vidora
