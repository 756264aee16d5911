// The full listing: every field and the note, one page per settlement.
#pragma once

#include "Listing.h"

namespace vidora {

class TBandReport12 : public TListingReport {
  Q_OBJECT
 public:
  explicit TBandReport12(TVidora& app);
};

}  // namespace vidora
