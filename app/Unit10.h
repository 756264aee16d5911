// The current-settlement sheet, printed from the scratch table: every field and the note.
#pragma once

#include "Listing.h"

namespace vidora {

class TBandReport10 : public TListingReport {
  Q_OBJECT
 public:
  // The program's report over the data module's Table2.
  explicit TBandReport10(TVidora& app);
  // The same report over another settlement dataset, known to expressions as Table2.
  explicit TBandReport10(tk::TDataSet& dataSet);

 private:
  void Build();
};

}  // namespace vidora
