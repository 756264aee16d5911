#include "Unit11.h"

#include "Unit9.h"
#include "Vidora.h"

namespace vidora {

TBandReport11::TBandReport11(TVidora& app)
    : TListingReport(app, QStringLiteral("BandReport11"), app.DataModule9()->Table1, QStringLiteral("Table1")) {
  Build();
}

TBandReport11::TBandReport11(tk::TDataSet& dataSet) : TListingReport(QStringLiteral("BandReport11"), dataSet, QStringLiteral("Table1")) {
  Build();
}

void TBandReport11::Build() {
  AddPageHeader(22.0, QStringLiteral("Település adatok listája"), QStringLiteral("/Egyszerűsített lista/"));
  AddCaption(PageHeader(), QStringLiteral("Irányító szám:"), 2.1, 16.9, true, false);
  AddCaption(PageHeader(), QStringLiteral("Település:"), 29.6, 16.9, true, true);
  AddCaption(PageHeader(), QStringLiteral("Telefon körzet:"), 160.9, 16.9, true, false);
  br::TBRBand& detail = AddDetail(5.0);
  AddField(detail, QStringLiteral("IRSZ"), 2.1, 0.3, 23.5, br::TBRAlignment::taCenter);
  AddField(detail, QStringLiteral("TELEP"), 29.6, 0.3, 125.1);
  AddField(detail, QStringLiteral("TELK"), 160.9, 0.3, 25.7, br::TBRAlignment::taCenter);
}

}  // namespace vidora
