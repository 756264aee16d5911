// Where a relation gets the compiled forms of its texts: check constraints, computed columns,
// expression indexes and filters. The expression layer is not there yet, so every factory
// answers "none". A table whose writing needs one of them refuses to write with engine error
// 187 naming what is missing (TVdbRelation::RequireRecordWriteSupport), instead of writing
// records its constraints or computed columns were never applied to; reading stays possible.
//
// Threads: pure functions; any thread may call them.
#pragma once

#include <memory>
#include <string_view>

namespace vdb {

class TVdbRelation;

// A compiled condition (check constraint, filter): evaluated against a record.
class IVdbCondition {
 public:
  virtual ~IVdbCondition() = default;
};

// A compiled calculation (computed column, default value, expression index key).
class IVdbCalculation {
 public:
  virtual ~IVdbCalculation() = default;
};

// The factories. Each returns null ("none") until conditions and calculations exist.
std::unique_ptr<IVdbCondition> VdbCreateCheckCondition(const TVdbRelation& relation, std::u16string_view text);
std::unique_ptr<IVdbCondition> VdbCreateFilterCondition(const TVdbRelation& relation, std::u16string_view text);
std::unique_ptr<IVdbCalculation> VdbCreateColumnCalculation(const TVdbRelation& relation, std::u16string_view text);
std::unique_ptr<IVdbCalculation> VdbCreateIndexCalculation(const TVdbRelation& relation, std::u16string_view text);

}  // namespace vdb
