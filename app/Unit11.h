// The simple listing: postal code, name and telephone area, one line each.
#pragma once

#include "Listing.h"

namespace vidora {

class TBandReport11 : public TListingReport {
  Q_OBJECT
 public:
  // The program's report over the data module's Table1.
  explicit TBandReport11(TVidora& app);
  // The same report over another settlement dataset, known to expressions as Table1.
  explicit TBandReport11(tk::TDataSet& dataSet);

 private:
  void Build();
};

}  // namespace vidora
