// Where a relation gets the compiled forms of its texts: check constraints, computed columns,
// expression indexes and filters. Check constraints and filters are compiled by the expression
// layer (expr/VdbCondition.h), and so are computed columns and default values; expression
// index keys are not there yet, so their factory answers "none". A table whose writing needs something missing refuses to write with engine error
// 187 naming it (TVdbRelation::RequireRecordWriteSupport), instead of writing records its
// constraints or computed columns were never applied to; reading stays possible.
//
// Threads: pure functions; any thread may call them.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace vdb {

class TVdbColumnDef;
class TVdbRelation;

// A compiled condition (check constraint, filter): evaluated against a record.
class IVdbCondition {
 public:
  virtual ~IVdbCondition() = default;
  // Whether `record` satisfies the condition: false only when it is FALSE (an unknown result
  // satisfies a constraint). Raises the evaluation's errors (187 for a VidoraPL text).
  virtual bool Holds(std::span<const std::uint8_t> record) = 0;
  // The condition's text as stored.
  virtual const std::u16string& Text() const = 0;
};

// A compiled calculation (computed column, default value, expression index key).
class IVdbCalculation {
 public:
  virtual ~IVdbCalculation() = default;
  // Computes the value for `record` and writes it into `column`'s field of `record`. Raises
  // the evaluation's and conversion's errors (187 for a VidoraPL text).
  virtual void Apply(std::span<std::uint8_t> record, const TVdbColumnDef& column) = 0;
};

// The factories; null means "none": a text that does not compile, or an expression index key
// (not evaluated yet). A text is VidoraPL in tables of level 4 and below and when it starts
// with "@"; otherwise VidoraSQL.
std::unique_ptr<IVdbCondition> VdbCreateCheckCondition(const TVdbRelation& relation, std::u16string_view text);
std::unique_ptr<IVdbCondition> VdbCreateFilterCondition(const TVdbRelation& relation, std::u16string_view text);
std::unique_ptr<IVdbCalculation> VdbCreateColumnCalculation(const TVdbRelation& relation, std::u16string_view text);
std::unique_ptr<IVdbCalculation> VdbCreateIndexCalculation(const TVdbRelation& relation, std::u16string_view text);

}  // namespace vdb
