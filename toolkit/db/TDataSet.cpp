#include "db/TDataSet.h"

#include <string>

namespace tk {

namespace {
// Messages of the framework are plain ASCII or already UTF-16; what() only serves diagnostics.
std::string Narrow(const std::u16string& s) {
  std::string out;
  for (char16_t c : s) out += c < 0x80 ? static_cast<char>(c) : '?';
  return out;
}
}  // namespace

void Abort() { throw EAbort(); }

EDatabaseError::EDatabaseError(const std::u16string& message)
    : std::runtime_error(Narrow(message)), FMessage(message) {}

void TDataSet::Open() {
  if (Active()) return;
  InternalOpen();
  FState = TDataSetState::dsBrowse;
}

void TDataSet::Close() {
  if (!Active()) return;
  // The dataset is inactive even if closing fails half-way: nothing more can be read from it.
  FState = TDataSetState::dsInactive;
  InternalClose();
}

void TDataSet::Delete() {
  if (!Active()) throw EDatabaseError(u"Cannot perform this operation on a closed dataset");
  // A silent abort in BeforeDelete leaves here untouched: the caller's handler ignores it.
  if (BeforeDelete) BeforeDelete(*this);
  InternalDelete();
  if (AfterDelete) AfterDelete(*this);
}

}  // namespace tk
