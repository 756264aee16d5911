#include "Unit18.h"

namespace vidora {

TForm18::TForm18(TVidora& app)
    : TStatisticsForm(app, QStringLiteral("Form18"),
                      QStringLiteral(" Település adatok megoszlása telefon körzetek szerint:"), 555) {}

}  // namespace vidora
