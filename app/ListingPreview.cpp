// How the register shows its listings: each report fills the engine's preview window while
// its pages are generated, over the window the user started it from. A listing started while
// another one generates is refused by the preview (the reports walk the same tables).
#include <QApplication>

#include "BRPrev.h"
#include "Listing.h"

namespace vidora {

void TListingReport::Preview() {
  if (br::TBRStandardPreview::Busy()) {
    QApplication::beep();
    return;
  }
  if (BeforePreview) BeforePreview(*this);
  br::TBRStandardPreview::Run(*this, QApplication::activeWindow());
  if (AfterPreview) AfterPreview(*this);
}

}  // namespace vidora
