#include "Listing.h"

#include "Vidora.h"

namespace vidora {

TListingReport::TListingReport(TVidora& app, const QString& name, tk::TDataSet& dataSet) {
  setObjectName(name);
  SetDataSet(&dataSet);
  app.Created(name);
}

}  // namespace vidora
