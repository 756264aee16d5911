// The simple listing: postal code, name and telephone area, one line each.
#pragma once

#include "Listing.h"

namespace vidora {

class TBandReport11 : public TListingReport {
  Q_OBJECT
 public:
  explicit TBandReport11(TVidora& app);
};

}  // namespace vidora
