#include "tables/VdbTableExpressions.h"

#include "expr/VdbCondition.h"
#include "tables/VdbRelation.h"

namespace vdb {

namespace {

class TCompiledCheck final : public IVdbCondition {
 public:
  TCompiledCheck(const TVdbRelation& relation, std::u16string_view text)
      : FText(text), FColumns(relation.ColumnDefs(), relation.GetName()) {
    std::u16string source(text);
    TVdbExpressionSyntax syntax = tesVidoraSQL;
    if (relation.GetLevel() <= 4) {
      syntax = tesVidoraPL;
    } else if (!source.empty() && source.front() == u'@') {
      syntax = tesVidoraPL;
      source.erase(0, 1);
    }
    FCondition = VdbCreateCondition(syntax, std::move(source));
    FCondition->Prepare(FColumns, 0, TvuFormats::Invariant());
  }

  bool Holds(std::span<const std::uint8_t> record) override {
    // The columns are only read; the value objects want a writable view.
    FColumns.SetRecord(std::span<std::uint8_t>(const_cast<std::uint8_t*>(record.data()), record.size()));
    auto* sql = dynamic_cast<TVdbSqlCondition*>(FCondition.get());
    if (sql && sql->SearchCondition()) return sql->SearchCondition()->Evaluate() != vtFalse;
    return FCondition->Evaluate();
  }
  const std::u16string& Text() const override { return FText; }

 private:
  std::u16string FText;
  TVdbRecordColumns FColumns;
  std::unique_ptr<TVdbCondition> FCondition;
};

}  // namespace

std::unique_ptr<IVdbCondition> VdbCreateCheckCondition(const TVdbRelation& relation, std::u16string_view text) {
  try {
    return std::make_unique<TCompiledCheck>(relation, text);
  } catch (const EVdbEngine&) {
    // A text that does not compile: writing stays refused rather than unchecked.
    return nullptr;
  }
}

std::unique_ptr<IVdbCondition> VdbCreateFilterCondition(const TVdbRelation& relation, std::u16string_view text) {
  return VdbCreateCheckCondition(relation, text);
}

std::unique_ptr<IVdbCalculation> VdbCreateColumnCalculation(const TVdbRelation&, std::u16string_view) {
  return nullptr;
}

std::unique_ptr<IVdbCalculation> VdbCreateIndexCalculation(const TVdbRelation&, std::u16string_view) {
  return nullptr;
}

}  // namespace vdb
