// The current-settlement sheet, printed from the scratch table.
#pragma once

#include "Listing.h"

namespace vidora {

class TBandReport10 : public TListingReport {
  Q_OBJECT
 public:
  explicit TBandReport10(TVidora& app);
};

}  // namespace vidora
