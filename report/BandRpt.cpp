#include "BandRpt.h"

namespace br {

// Page production and the preview window come with the page store; until then there is
// nothing to show.
void TBandReport::Preview() {}

}  // namespace br
