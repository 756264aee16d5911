// The full listing: every field and the note, one page per settlement.
#pragma once

#include "Listing.h"

namespace vidora {

class TBandReport12 : public TListingReport {
  Q_OBJECT
 public:
  // The program's report over the data module's Table1.
  explicit TBandReport12(TVidora& app);
  // The same report over another settlement dataset, known to expressions as Table1.
  explicit TBandReport12(tk::TDataSet& dataSet);

 private:
  void Build();
};

}  // namespace vidora
