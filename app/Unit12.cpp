#include "Unit12.h"

#include "Unit9.h"
#include "Vidora.h"

namespace vidora {

TBandReport12::TBandReport12(TVidora& app)
    : TListingReport(app, QStringLiteral("BandReport12"), app.DataModule9()->Table1, QStringLiteral("Table1")) {
  Build();
}

TBandReport12::TBandReport12(tk::TDataSet& dataSet) : TListingReport(QStringLiteral("BandReport12"), dataSet, QStringLiteral("Table1")) {
  Build();
}

void TBandReport12::Build() {
  AddPageHeader(17.7, QStringLiteral("Település adatok listája"), QStringLiteral("/Teljes lista/"));
  br::TBRBand& detail = AddDetail(249.8);
  AddSettlementRows(detail);
  AddNote(detail, 46.6, 199.2);
}

}  // namespace vidora
