#include "sql/VdbSqlCompiler.h"

#include "base/VdbErrorCodes.h"
#include "sql/VdbCondition.h"
#include "sql/VdbSqlParser.h"
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

// A default value or computed column: one VidoraSQL expression over the record's columns.
class TCompiledCalculation final : public IVdbCalculation {
 public:
  TCompiledCalculation(const TVdbRelation& relation, std::u16string_view text)
      : FText(text), FColumns(relation.ColumnDefs(), relation.GetName()) {
    FScript = relation.GetLevel() <= 4 || (!text.empty() && text.front() == u'@');
    if (FScript) return;
    TSqlParser parser;
    parser.SetStatementText(std::u16string(text));
    try {
      parser.InitParsing();
      FExpression = parser.ParseExpression();
      parser.ParseEnd();
    } catch (const ESqlParser& e) {
      throw EVdbEngine::CreateMsg(errSyntaxError, e.Message());
    }
    TVdbPrepareContext context{&FColumns, 0, TvuFormats::Invariant()};
    FExpression->Prepare(context);
  }

  void Apply(std::span<std::uint8_t> record, const TVdbColumnDef& column) override {
    if (FScript) {
      throw EVdbEngine(errNotSupported, {u"the VidoraPL calculation \"" + FText + u"\" of column \"" + column.Name() +
                                         u"\" (this engine evaluates VidoraSQL expressions only)"});
    }
    FColumns.SetRecord(record);
    const TVdbDataValue& value = FExpression->Calculate();
    const TVdbDataType& type = *FExpression->DataType();
    TVdbDataValue field;
    column.DataType()->SetReference(field, record, static_cast<std::size_t>(column.Position()));
    if (value.IsEmpty() || type.IsNull(value)) {
      column.DataType()->SetNull(field);
    } else {
      column.DataType()->Assign(field, value, type);
    }
  }

 private:
  std::u16string FText;
  TVdbRecordColumns FColumns;
  bool FScript = false;
  std::unique_ptr<TVdbExpression> FExpression;
};

}  // namespace

std::unique_ptr<IVdbCondition> TVdbSqlCompiler::CreateCheckCondition(const TVdbRelation& relation,
                                                                     std::u16string_view text) const {
  try {
    return std::make_unique<TCompiledCheck>(relation, text);
  } catch (const EVdbEngine&) {
    // A text that does not compile: writing stays refused rather than unchecked.
    return nullptr;
  }
}

std::unique_ptr<IVdbCalculation> TVdbSqlCompiler::CreateColumnCalculation(const TVdbRelation& relation,
                                                                          std::u16string_view text) const {
  try {
    return std::make_unique<TCompiledCalculation>(relation, text);
  } catch (const EVdbEngine&) {
    return nullptr;
  }
}

std::unique_ptr<IVdbCalculation> TVdbSqlCompiler::CreateIndexCalculation(const TVdbRelation&,
                                                                         std::u16string_view) const {
  return nullptr;
}

std::unique_ptr<IVdbAccessorFilter> TVdbSqlCompiler::CompileFilter(const TVdbRelation& relation,
                                                                   std::u16string_view text, int syntax,
                                                                   std::uint16_t mode) const {
  // Mode bits: $10 case-insensitive, $20 jokers, $40 the user's formats and native jokers.
  TVdbPrepareOptions options = 0;
  if (mode & 0x10) options |= tpoCaseInsensitive;
  if (mode & 0x20) options |= tpoUseJokers;
  if (mode & 0x40) options |= tpoLocalFormats | tpoNativeJokers;
  return std::make_unique<TVdbConditionFilter>(relation, std::u16string(text),
                                               syntax == tesVidoraPL ? tesVidoraPL : tesVidoraSQL, options,
                                               TvuFormats::Invariant());
}

const TVdbSqlCompiler& VdbSqlCompiler() noexcept {
  static const TVdbSqlCompiler compiler;
  return compiler;
}

}  // namespace vdb
