// Conditions and calculations as engine objects: a source text in one of the two languages,
// compiled against the columns of one relation and evaluated for its current record. Cursor
// filters, check constraints and computed columns use them.
//
// VidoraSQL texts are parsed (sql/VdbSqlParser.h), optimised and prepared; a parse error
// becomes engine error 25 carrying the parser's message. VidoraPL is not part of this engine:
// a VidoraPL text is kept, and evaluating it raises engine error 187 naming the language, so
// that no record ever passes a condition that was not checked.
//
// Threads: a condition belongs to one cursor or table and is used by one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "session/VdbAccessor.h"
#include "expr/VdbExpression.h"
#include "types/VdbDefinitions.h"

namespace vdb {

enum TVdbExpressionSyntax : std::uint8_t { tesVidoraPL = 0, tesVidoraSQL = 1 };

// The columns of one relation, read from a record buffer the owner points it at.
class TVdbRecordColumns final : public IVdbColumnSource {
 public:
  // `tableName` also qualifies names (Table.Column); `columns` must outlive this object.
  TVdbRecordColumns(const TVdbColumnDefs& columns, std::u16string tableName)
      : FColumns(columns), FTableName(std::move(tableName)) {}
  void SetRecord(std::span<std::uint8_t> record) noexcept { FRecord = record; }
  bool FindColumn(std::u16string_view name, int& rltnPos, int& fieldNo, const TVdbDataType*& type) const override;
  void ColumnValue(int rltnPos, int fieldNo, TVdbDataValue& value) override;

 private:
  const TVdbColumnDefs& FColumns;
  std::u16string FTableName;
  std::span<std::uint8_t> FRecord;
};

class TVdbCondition {
 public:
  explicit TVdbCondition(std::u16string source) : FSource(std::move(source)) {}
  virtual ~TVdbCondition() = default;
  TVdbCondition(const TVdbCondition&) = delete;
  TVdbCondition& operator=(const TVdbCondition&) = delete;

  const std::u16string& Source() const noexcept { return FSource; }
  virtual TVdbExpressionSyntax Syntax() const = 0;
  // Compiles the text against `columns`, which must outlive the prepared condition.
  virtual void Prepare(IVdbColumnSource& columns, TVdbPrepareOptions options, const TvuFormats& formats) = 0;
  virtual void Unprepare() = 0;
  // True only when the condition is TRUE for the current records; raises evaluation errors.
  virtual bool Evaluate() = 0;
  // The index whose key range holds every record the condition can accept, with the range's
  // lower and upper entries; kVdbNoIndex when no index is worth it.
  virtual TVdbIndexNo FindBestIndexAndBounds(TVdbRelation&, std::vector<std::uint8_t>&, std::vector<std::uint8_t>&) {
    return kVdbNoIndex;
  }

 protected:
  std::u16string FSource;
};

class TVdbSqlCondition final : public TVdbCondition {
 public:
  using TVdbCondition::TVdbCondition;
  TVdbExpressionSyntax Syntax() const override { return tesVidoraSQL; }
  void Prepare(IVdbColumnSource& columns, TVdbPrepareOptions options, const TvuFormats& formats) override;
  void Unprepare() override { FSearchCondition.reset(); }
  // An empty text is TRUE for every record; a text without a prepared tree is error 7.
  bool Evaluate() override;
  TVdbIndexNo FindBestIndexAndBounds(TVdbRelation& relation, std::vector<std::uint8_t>& lower,
                                     std::vector<std::uint8_t>& upper) override;
  TVdbSearchCondition* SearchCondition() const noexcept { return FSearchCondition.get(); }

 private:
  std::unique_ptr<TVdbSearchCondition> FSearchCondition;
};

class TVdbVplCondition final : public TVdbCondition {
 public:
  using TVdbCondition::TVdbCondition;
  TVdbExpressionSyntax Syntax() const override { return tesVidoraPL; }
  void Prepare(IVdbColumnSource&, TVdbPrepareOptions, const TvuFormats&) override {}
  void Unprepare() override {}
  // Raises 187 naming VidoraPL.
  bool Evaluate() override;
};

std::unique_ptr<TVdbCondition> VdbCreateCondition(TVdbExpressionSyntax syntax, std::u16string source);

// Parses one VidoraSQL condition (engine error 25 with the parser's message on failure).
std::unique_ptr<TVdbSearchCondition> VdbParseSqlCondition(std::u16string_view text, bool localFormats,
                                                          const TvuFormats& formats);

// The index rating of a condition prepared against `relation`'s columns (as relation position
// 0): the index whose key range [lower, upper] holds every record the condition can accept,
// or kVdbNoIndex.
TVdbIndexNo VdbFindBestIndexAndBounds(TVdbSearchCondition& condition, TVdbRelation& relation,
                                      std::vector<std::uint8_t>& lower, std::vector<std::uint8_t>& upper);

// A compiled filter for an accessor: the condition reads the record of the accessor it tests.
class TVdbConditionFilter final : public IVdbAccessorFilter {
 public:
  // Compiles `text` against `relation`'s columns (the compile errors are raised).
  TVdbConditionFilter(const TVdbRelation& relation, std::u16string text, TVdbExpressionSyntax syntax,
                      TVdbPrepareOptions options, const TvuFormats& formats);
  bool Accepts(TVdbAccessor& accessor) override;
  TVdbIndexNo BestIndexAndBounds(TVdbRelation& relation, std::vector<std::uint8_t>& lower,
                                 std::vector<std::uint8_t>& upper) override;
  const TVdbCondition& Condition() const noexcept { return *FCondition; }

 private:
  TVdbRecordColumns FColumns;
  std::unique_ptr<TVdbCondition> FCondition;
};

}  // namespace vdb
