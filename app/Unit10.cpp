#include "Unit10.h"

#include "Unit9.h"
#include "Vidora.h"

namespace vidora {

TBandReport10::TBandReport10(TVidora& app)
    : TListingReport(app, QStringLiteral("BandReport10"), app.DataModule9()->Table2, QStringLiteral("Table2")) {
  Build();
}

TBandReport10::TBandReport10(tk::TDataSet& dataSet) : TListingReport(QStringLiteral("BandReport10"), dataSet, QStringLiteral("Table2")) {
  Build();
}

void TBandReport10::Build() {
  AddPageHeader(13.5, QStringLiteral("Tárolt település adatai"), QString());
  br::TBRBand& detail = AddDetail(251.9);
  AddSettlementRows(detail);
  AddNote(detail, 44.5, 203.5);
}

}  // namespace vidora
