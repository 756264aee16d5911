#include "tables/VdbTableExpressions.h"

namespace vdb {

std::unique_ptr<IVdbCondition> VdbCreateCheckCondition(const TVdbRelation&, std::u16string_view) { return nullptr; }

std::unique_ptr<IVdbCondition> VdbCreateFilterCondition(const TVdbRelation&, std::u16string_view) { return nullptr; }

std::unique_ptr<IVdbCalculation> VdbCreateColumnCalculation(const TVdbRelation&, std::u16string_view) {
  return nullptr;
}

std::unique_ptr<IVdbCalculation> VdbCreateIndexCalculation(const TVdbRelation&, std::u16string_view) {
  return nullptr;
}

}  // namespace vdb
