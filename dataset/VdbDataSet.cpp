#include "VdbDataSet.h"

namespace vdbds {

int TVdbTable::RecordCount() {
  if (!Active()) throw tk::EDatabaseError(u"Cannot perform this operation on a closed dataset");
  return 0;
}

void TVdbTable::FindNearest(const TVdbKeyValues&) {
  if (!Active()) throw tk::EDatabaseError(u"Cannot perform this operation on a closed dataset");
}

bool TVdbTable::FindKey(const TVdbKeyValues&) {
  if (!Active()) throw tk::EDatabaseError(u"Cannot perform this operation on a closed dataset");
  return false;
}

void TVdbTable::EmptyTable() {}

void TVdbTable::InternalOpen() {}
void TVdbTable::InternalClose() {}
void TVdbTable::InternalDelete() {}

}  // namespace vdbds
