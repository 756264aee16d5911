#include "Unit13.h"

#include "Unit9.h"
#include "Vidora.h"

namespace vidora {

TBandReport13::TBandReport13(TVidora& app) : TListingReport(app, QStringLiteral("BandReport13"), app.DataModule9()->Table1) {}

}  // namespace vidora
