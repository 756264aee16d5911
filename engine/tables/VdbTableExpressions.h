// Where a relation gets the compiled forms of its texts: check constraints, computed columns
// and expression indexes. The tables floor only declares what it needs (IVdbExpressionCompiler);
// a higher floor, which knows the languages, implements it and hands it down in the table's
// environment. Without a compiler, or for a text it cannot compile (expression index keys are
// never evaluated), the answer is "none": a table whose writing needs something missing refuses
// to write with engine error 187 naming it (TVdbRelation::RequireRecordWriteSupport), instead of
// writing records its constraints or computed columns were never applied to; reading stays
// possible.
//
// Threads: a compiler is stateless; any thread may call it.
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

// The factories; null means "none": a text that does not compile, or an expression index key.
// A text is VidoraPL in tables of level 4 and below and when it starts with "@"; otherwise
// VidoraSQL.
class IVdbExpressionCompiler {
 public:
  virtual ~IVdbExpressionCompiler() = default;
  virtual std::unique_ptr<IVdbCondition> CreateCheckCondition(const TVdbRelation& relation,
                                                              std::u16string_view text) const = 0;
  virtual std::unique_ptr<IVdbCalculation> CreateColumnCalculation(const TVdbRelation& relation,
                                                                   std::u16string_view text) const = 0;
  virtual std::unique_ptr<IVdbCalculation> CreateIndexCalculation(const TVdbRelation& relation,
                                                                  std::u16string_view text) const = 0;
};

}  // namespace vdb
