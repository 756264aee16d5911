#include "Unit13.h"

#include "Unit9.h"
#include "Vidora.h"

namespace vidora {

TBandReport13::TBandReport13(TVidora& app)
    : TListingReport(app, QStringLiteral("BandReport13"), app.DataModule9()->Table1, QStringLiteral("Table1")) {
  Build();
}

TBandReport13::TBandReport13(tk::TDataSet& dataSet) : TListingReport(QStringLiteral("BandReport13"), dataSet, QStringLiteral("Table1")) {
  Build();
}

void TBandReport13::Build() {
  AddPageHeader(17.7, QStringLiteral("Település adatok listája"), QStringLiteral("/Középszintű lista/"));
  // The band ends at the caption of the note, which shows at its bottom edge without the note.
  AddSettlementRows(AddDetail(38.1));
}

}  // namespace vidora
