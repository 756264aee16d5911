// The middle listing: every field but the note, six settlements a page.
#pragma once

#include "Listing.h"

namespace vidora {

class TBandReport13 : public TListingReport {
  Q_OBJECT
 public:
  // The program's report over the data module's Table1.
  explicit TBandReport13(TVidora& app);
  // The same report over another settlement dataset, known to expressions as Table1.
  explicit TBandReport13(tk::TDataSet& dataSet);

 private:
  void Build();
};

}  // namespace vidora
