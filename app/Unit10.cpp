#include "Unit10.h"

#include "Unit9.h"
#include "Vidora.h"

namespace vidora {

TBandReport10::TBandReport10(TVidora& app) : TListingReport(app, QStringLiteral("BandReport10"), app.DataModule9()->Table2) {}

}  // namespace vidora
