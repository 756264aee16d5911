// Name comparison of definitions; see VdbCommon.h.
#include "types/VdbCommon.h"

#include "types/VdbCollation.h"

namespace vdb {

bool VdbSameName(std::u16string_view a, std::u16string_view b) {
  return VdbBuiltInCompareWide(a, b, 0) == 0;
}

}  // namespace vdb
