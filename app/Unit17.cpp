#include "Unit17.h"

namespace vidora {

TForm17::TForm17(TVidora& app)
    : TStatisticsForm(app, QStringLiteral("Form17"),
                      QStringLiteral(" Település adatok megoszlása kistérségek szerint:")) {}

}  // namespace vidora
