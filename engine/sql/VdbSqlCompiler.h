// The compiler of the texts tables and cursors hold: check constraints, computed columns and
// default values for the tables floor (IVdbExpressionCompiler), filter texts for cursors
// (IVdbFilterCompiler). VidoraSQL texts are parsed and prepared here; a VidoraPL text is kept
// and raises engine error 187 when evaluated. Whoever opens tables or cursors hands this down.
//
// Threads: stateless; any thread may use the one instance.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "session/VdbCursor.h"
#include "tables/VdbTableExpressions.h"

namespace vdb {

class TVdbSqlCompiler final : public IVdbExpressionCompiler, public IVdbFilterCompiler {
 public:
  std::unique_ptr<IVdbCondition> CreateCheckCondition(const TVdbRelation& relation,
                                                      std::u16string_view text) const override;
  std::unique_ptr<IVdbCalculation> CreateColumnCalculation(const TVdbRelation& relation,
                                                           std::u16string_view text) const override;
  // Expression index keys are not evaluated by this engine: always "none".
  std::unique_ptr<IVdbCalculation> CreateIndexCalculation(const TVdbRelation& relation,
                                                          std::u16string_view text) const override;
  std::unique_ptr<IVdbAccessorFilter> CompileFilter(const TVdbRelation& relation, std::u16string_view text,
                                                    int syntax, std::uint16_t mode) const override;
};

// The process's compiler (stateless).
const TVdbSqlCompiler& VdbSqlCompiler() noexcept;

}  // namespace vdb
