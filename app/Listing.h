// Base of the four listing reports of the settlement register.
#pragma once

#include "BandRpt.h"

namespace vidora {

class TVidora;

class TListingReport : public br::TBandReport {
  Q_OBJECT
 protected:
  TListingReport(TVidora& app, const QString& name, tk::TDataSet& dataSet);
};

}  // namespace vidora
