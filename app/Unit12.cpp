#include "Unit12.h"

#include "Unit9.h"
#include "Vidora.h"

namespace vidora {

TBandReport12::TBandReport12(TVidora& app) : TListingReport(app, QStringLiteral("BandReport12"), app.DataModule9()->Table1) {}

}  // namespace vidora
