// The built-in functions of expressions: the SQL functions with their special forms (CAST,
// EXTRACT, SUBSTRING, TRIM, CURRENTRECORDID), the aggregates grouping drives, and the data
// functions shared with VidoraPL (Sin, Pos, Year, MakeDate ...).
//
// A function call of the tree (TVdbFunctionCall) gets its evaluator at Prepare: the arguments
// are prepared, the result type fixed from them (type errors are engine error 44 naming the
// function) and each later Calculate computes the arguments of the current records and applies
// the function. A NULL argument gives NULL, except where a function says otherwise (EXCHANGE).
//
// Aggregates (COUNT, SUM, AVG, MIN, MAX, FIRST, LAST) keep their accumulators in the
// evaluator: the grouping code calls ResetAggregations at the start of a group,
// CalcAggregations once per row of the group, and reads the aggregated value with Calculate.
// Rows where the argument is NULL are skipped; integer sums are 64-bit and raise 81 when even
// that range overflows. MAXN, MINN and PICK type like MAX but have no evaluation.
//
// Weekday numbers are 1 for Sunday to 7 for Saturday; day names are English.
//
// Threads: an evaluator belongs to its tree and is used by one thread at a time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "expr/VdbExpression.h"
#include "expr/VdbFunctionIds.h"

namespace vdb {

class TSqlStdFunction {
 public:
  // `call` owns the arguments and must outlive the evaluator (the tree holds both).
  explicit TSqlStdFunction(TVdbFunctionCall& call) : FCall(call), FSqlFunction(call.Id) {}

  TFunctionId SqlFunction() const noexcept { return FSqlFunction; }
  bool GetIsAggregation() const noexcept { return VdbIsAggregateFunction(FSqlFunction); }
  const TVdbDataType* ResultDataType() const noexcept { return FResultDataType; }

  // Prepares the arguments against `context` and returns the result type.
  const TVdbDataType* Prepare(TVdbPrepareContext& context);
  // A scalar function's value for the current records; an aggregate's accumulated value.
  const TVdbDataValue& Calculate();

  void ResetAggregations();
  // Evaluates the argument for the current row and accumulates it.
  void CalcAggregations();

 private:
  const TVdbDataType* PrepareAggregate();
  const TVdbDataType* PrepareScalar();
  const TVdbDataType* PrepareDataFunction();
  void CalculateScalar();
  void CalculateDataFunction();
  const TVdbDataType& ArgType(std::size_t i) const { return *FArgTypes[i]; }
  const TVdbDataValue& Arg(std::size_t i) const { return *FArgs[i]; }
  bool HasArg(std::size_t i) const noexcept { return i < FArgs.size(); }
  [[noreturn]] void Mismatch() const;

  TVdbFunctionCall& FCall;
  TFunctionId FSqlFunction;
  IVdbColumnSource* FColumns = nullptr;
  std::vector<const TVdbDataType*> FArgTypes;
  std::vector<const TVdbDataValue*> FArgs;
  // Accumulators: FValue1 the running value (sum, extreme, first, last); FCount for COUNT/AVG.
  TVdbDataValue FValue1;
  const TVdbDataType* FDataType1 = nullptr;
  std::int64_t FSumInteger = 0;
  double FSumFloat = 0;
  std::int64_t FCount = 0;
  bool FHasValue = false;
  const TVdbDataType* FResultDataType = nullptr;
  TVdbDataValue FResult;
};

// The weekday of a date: 1 Sunday, 2 Monday ... 7 Saturday.
int VdbWeekDayNo(TVdbPackedDate date) noexcept;
// "Sunday" ... "Saturday".
std::u16string VdbWeekDayName(TVdbPackedDate date);
// Week of the year: week 1 holds 1 January, weeks start on Sunday.
int VdbWeekOfYear(TVdbPackedDate date) noexcept;

// The engine type of an SQL data type (CAST targets, column definitions).
const TVdbDataType* VdbSqlTypeToDataType(const TVdbSqlTypeSpec& type, bool nullable = true);

}  // namespace vdb
