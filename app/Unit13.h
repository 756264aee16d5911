// The middle listing: every field but the note, one block per settlement.
#pragma once

#include "Listing.h"

namespace vidora {

class TBandReport13 : public TListingReport {
  Q_OBJECT
 public:
  explicit TBandReport13(TVidora& app);
};

}  // namespace vidora
