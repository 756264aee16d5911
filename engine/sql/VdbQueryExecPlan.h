// The execution plan of a query: the relations of its FROM list in plan order, the nested
// loops that enumerate their qualifying row combinations (joins with their ON conditions,
// outer joins extended with NULLs, the WHERE condition as the filter), and the column source
// every expression of the query is prepared against.
//
// A row combination is the record number of every plan relation (0: the NULL-extended side of
// an outer join). Without ORDER BY, combinations come in nested-loop order of the FROM list,
// each relation in its access order: natural record order, or the key order of the index
// range the WHERE condition proposes for a single relation.
//
// Beyond the FROM columns the source resolves two kinds of internal names, which the query
// rewrites its trees into before preparing them: statement parameters and aggregate results
// (see VdbSqlVariables.h and VdbCommand.h).
//
// Threads: a plan belongs to its statement, used by one thread at a time, under the table
// locks the statement holds.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "expr/VdbExpression.h"
#include "sql/VdbSqlVariables.h"
#include "tables/VdbRelation.h"

namespace vdb {

enum TVdbPlanJoin : std::uint8_t { pjFirst, pjCross, pjInner, pjLeftOuter, pjRightOuter, pjFullOuter };

// Internal column names: a parameter or an aggregate slot, never written by a user (they
// begin with a control character).
inline constexpr char16_t kVdbParamMark = u'\x01';
inline constexpr char16_t kVdbAggregateMark = u'\x02';
inline constexpr int kVdbParamRltnPos = 1000;
inline constexpr int kVdbAggregateRltnPos = 1001;
// Columns of an enclosing query (a correlated sub-query's outer references) are numbered from
// here: position kVdbOuterRltnBase + p is the enclosing source's position p.
inline constexpr int kVdbOuterRltnBase = 2000;

// The values an aggregate slot gives (owned by the grouping pass).
struct TVdbAggregateSlot {
  const TVdbDataType* Type = nullptr;
  TVdbDataValue Value;  // empty: NULL
};

class TVdbQueryExecutionPlan final : public IVdbColumnSource {
 public:
  struct TRelationEntry {
    TVdbRelation* Relation = nullptr;
    std::u16string Name;   // the table name as written (directory and extension removed)
    std::u16string Alias;  // defaults to the name
    TVdbPlanJoin Join = pjFirst;
    // The ON condition of an INNER/LEFT/RIGHT/FULL join with the relations before it; owned.
    std::unique_ptr<TVdbSearchCondition> On;
  };

  TVdbQueryExecutionPlan() = default;
  TVdbQueryExecutionPlan(const TVdbQueryExecutionPlan&) = delete;
  TVdbQueryExecutionPlan& operator=(const TVdbQueryExecutionPlan&) = delete;

  // ---- building (before Prepare)
  void AddRelation(TRelationEntry entry);
  int RelationCount() const noexcept { return static_cast<int>(FRelations.size()); }
  const TRelationEntry& Relation(int pos) const { return FRelations.at(static_cast<std::size_t>(pos)); }
  void SetVariables(TVdbSqlVariableList* variables) noexcept { FVariables = variables; }
  // The source of the enclosing query: names this plan's relations do not have are looked up
  // there, and read from its current records.
  void SetOuter(IVdbColumnSource* outer) noexcept { FOuter = outer; }
  // Whether a name was resolved through the enclosing source (the query is correlated).
  bool UsesOuter() const noexcept { return FUsesOuter; }
  std::vector<TVdbAggregateSlot>& AggregateSlots() noexcept { return FAggregates; }
  // Takes the WHERE condition (may be null), already rewritten; prepared by Prepare.
  void SetFilter(std::unique_ptr<TVdbSearchCondition> filter) { FFilter = std::move(filter); }
  TVdbSearchCondition* Filter() const noexcept { return FFilter.get(); }
  // Prepares the ON conditions and the filter against this source; sizes the record buffers.
  void Prepare();

  // ---- running
  // Calls `row` for every qualifying combination in plan order, the relations' records
  // current; `row` returns false to stop. Raises the engine's errors.
  void Run(const std::function<bool()>& row);
  // The record numbers of the current combination (0 for a NULL-extended relation).
  const std::vector<std::int32_t>& CurrentRow() const noexcept { return FRow; }
  // Makes a saved combination current again (reads its records).
  void PositionOn(std::span<const std::int32_t> row);
  // The record buffers of the current combination, and putting saved ones back (grouping
  // keeps a group's last row this way).
  const std::vector<std::vector<std::uint8_t>>& Records() const noexcept { return FRecords; }
  void RestoreRecords(const std::vector<std::vector<std::uint8_t>>& records, const std::vector<std::int32_t>& row);
  // The stored bytes of memo, wide-memo or blob column `fieldNo` (0-based) of relation `pos`
  // in the current combination; empty for NULL.
  std::vector<std::uint8_t> LoadBlob(int pos, int fieldNo);
  // Combinations the last Run visited (the filter tried), for the benchmarks' curiosity.
  std::int64_t RowAccessCount() const noexcept { return FRowAccessCount; }

  // A column of a FROM relation by name (Table.Column allowed), memo and blob columns too.
  bool FindBaseColumn(std::u16string_view name, int& rltnPos, int& fieldNo) const;

  // ---- IVdbColumnSource
  bool FindColumn(std::u16string_view name, int& rltnPos, int& fieldNo, const TVdbDataType*& type) const override;
  void ColumnValue(int rltnPos, int fieldNo, TVdbDataValue& value) override;

 private:
  // Records of relation `pos` in its access order (the filter's index range for a single
  // relation).
  std::vector<std::int32_t> AccessOrder(int pos);
  void ReadInto(int pos, std::int32_t recNo);
  bool OnHolds(int pos);
  bool FilterHolds();
  // True when the factors of the WHERE chain that can be decided once relation `pos` is
  // bound hold; with `pos` the last relation, the whole filter.
  bool StepHolds(int pos);
  void PlanFilterSteps();

  std::vector<TRelationEntry> FRelations;
  std::vector<std::vector<std::uint8_t>> FRecords;
  std::vector<std::int32_t> FRow;
  std::unique_ptr<TVdbSearchCondition> FFilter;
  // Inner joins only: the AND factors of the filter by the step at which they are decided
  // (the innermost relation they read), so that a combination is cut as early as possible.
  bool FEarlyFilter = false;
  std::vector<std::vector<TVdbBooleanFactor*>> FStepFactors;
  TVdbSqlVariableList* FVariables = nullptr;
  IVdbColumnSource* FOuter = nullptr;
  mutable bool FUsesOuter = false;
  std::vector<TVdbAggregateSlot> FAggregates;
  std::int64_t FRowAccessCount = 0;
};

}  // namespace vdb
