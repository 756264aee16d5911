#include "Unit11.h"

#include "Unit9.h"
#include "Vidora.h"

namespace vidora {

TBandReport11::TBandReport11(TVidora& app) : TListingReport(app, QStringLiteral("BandReport11"), app.DataModule9()->Table1) {}

}  // namespace vidora
