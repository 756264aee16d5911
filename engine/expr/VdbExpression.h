// Expression and condition trees: what the parser (sql/VdbSqlParser.h) builds from a condition
// or expression text, how a tree is prepared against the columns it reads (names resolved,
// literals typed from the opposite side of their comparison, jokers), evaluated per record
// under three-valued logic, simplified after parsing, compared, copied and rendered back to
// text.
//
// Chains (OR, AND, additive and multiplicative) are held as flat lists in source order and
// evaluated left to right, so a - b - c is (a - b) - c and the rendered text reads back into
// an equal tree.
//
// A prepared tree is bound to its IVdbColumnSource, which must outlive it. Nodes keep scratch
// values, so one tree serves one evaluation at a time: a tree belongs to one thread.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "expr/VdbFunctionIds.h"
#include "types/VdbData.h"
#include "types/vuFormats.h"

namespace vdb {

enum TVdbComparisonOperator : std::uint8_t {
  tcoNone, tcoIsNull, tcoIsNotNull, tcoEqual, tcoEqualNull, tcoUnequal, tcoLess, tcoLessOrEqual, tcoGreater,
  tcoGreaterOrEqual, tcoIn, tcoBetween, tcoLike, tcoHas, tcoContains, tcoFullTextRank, tcoExists
};

using TVdbPrepareOptions = std::uint8_t;
inline constexpr TVdbPrepareOptions tpoLocalFormats = 1;
inline constexpr TVdbPrepareOptions tpoCaseInsensitive = 2;
inline constexpr TVdbPrepareOptions tpoUseJokers = 4;
inline constexpr TVdbPrepareOptions tpoNativeJokers = 8;

// Three-valued truth: one byte per boolean node.
using TVdbTruth = std::uint8_t;
inline constexpr TVdbTruth vtTrue = 0;
inline constexpr TVdbTruth vtFalse = 1;
inline constexpr TVdbTruth vtUnknown = 2;

// The truth of `a op b` from Compare(a, b) (a vcr... result; negative raises the pending error):
// the equalities, IN and the orderings; unknown for an undefined comparison, false for any
// other operator.
TVdbTruth VdbComparisonTruth(int compareResult, TVdbComparisonOperator op);

enum TSqlFactorSign : std::uint8_t { sfsNone, sfsMinus, sfsPlus };
enum TVdbSimpleFactorType : std::uint8_t {
  sftUnknown, sftFunction, sftExpression, sftLiteral, sftColumn, sftParameter, sftOuterReference
};

// Where the columns of a tree come from: resolved by name at Prepare, read per evaluation from
// the current record of the relation at `rltnPos`.
class IVdbColumnSource {
 public:
  virtual ~IVdbColumnSource() = default;
  // `name` as written (Table.Column allowed), compared without regard to case. On success
  // `type` is the column's stored type, which the values ColumnValue gives are laid out in.
  virtual bool FindColumn(std::u16string_view name, int& rltnPos, int& fieldNo, const TVdbDataType*& type) const = 0;
  // Makes `value` refer to the field in the current record. Raises the read error.
  virtual void ColumnValue(int rltnPos, int fieldNo, TVdbDataValue& value) = 0;
  // The record id of the current record of the table named `table` (CURRENTRECORDID); false
  // when no such table with record ids is read here.
  virtual bool CurrentRecordId(std::u16string_view /*table*/, std::int64_t& /*id*/) { return false; }
};

struct TVdbPrepareContext {
  IVdbColumnSource* Columns = nullptr;  // none: every column name is unknown
  TVdbPrepareOptions Options = 0;
  TvuFormats Formats;                   // the user's formats, used with tpoLocalFormats
};

class TVdbExpression;
class TVdbSearchCondition;

// ---- operands

class TVdbFactor {
 public:
  virtual ~TVdbFactor() = default;
  TSqlFactorSign Sign = sfsNone;

  // Type of the value Calculate gives (after the sign); null before Prepare.
  const TVdbDataType* DataType() const noexcept { return FDataType; }
  // The factor's value for the current records; valid until the next Calculate.
  const TVdbDataValue& Calculate();
  std::u16string SqlText() const;
  std::u16string EasyText() const;

  virtual std::unique_ptr<TVdbFactor> CreateCopy() const = 0;
  virtual bool IsSyntacticallyEqual(const TVdbFactor& other) const = 0;
  virtual void Prepare(TVdbPrepareContext& context);
  virtual bool IsLiteral() const { return false; }
  virtual bool IsColumnName() const { return false; }
  virtual bool IsParam() const { return false; }
  // Literals, parameters and functions of constants only.
  virtual bool IsConstant() const { return false; }

 protected:
  // The value before the sign.
  virtual const TVdbDataValue& DoCalculate() = 0;
  virtual const TVdbDataType* PrepareInner(TVdbPrepareContext& context) = 0;
  virtual std::u16string InnerSqlText() const = 0;
  virtual std::u16string InnerEasyText() const { return InnerSqlText(); }
  void CopySignTo(TVdbFactor& other) const { other.Sign = Sign; }

  const TVdbDataType* FDataType = nullptr;
  const TVdbDataType* FInnerType = nullptr;
  TVdbDataValue FValue;
};

class TSqlStdFunction;

// A function call: a built-in SQL function, one of its special forms or a data function, with
// its arguments in source order. The parser fills in the defaults a form implies (SUBSTRING
// without FOR gets -1, TRIM gets BOTH and a blank), so equal calls have equal trees.
struct TVdbFunctionCall {
  std::u16string Name;  // upper case, as written (LEN and LENGTH are one function)
  std::vector<std::unique_ptr<TVdbExpression>> Arguments;
  TFunctionId Id = sftNone;  // sftExtractYear..., sftTrimBoth/Leading/Trailing for the forms
  TVdbDataFuncId DataFuncId = dfiSin;  // with Id sftDataFunction
  TVdbSqlTypeSpec CastType;            // CAST's target type
  std::u16string TableName;            // CURRENTRECORDID's table
  // The evaluator, made at Prepare; it holds an aggregate's accumulators.
  std::shared_ptr<TSqlStdFunction> Impl;

  bool IsAggregate() const noexcept { return VdbIsAggregateFunction(Id); }
};

class TVdbSimpleFactor final : public TVdbFactor {
 public:
  // Parse-time kind of a literal: the type its text converts to when no column gives one.
  enum TLiteralKind : std::uint8_t { lkString, lkWideString, lkInteger, lkFloat, lkBoolean, lkNull, lkDate, lkTime,
                                     lkTimeStamp };

  static std::unique_ptr<TVdbSimpleFactor> CreateColumnReference(std::u16string name);
  static std::unique_ptr<TVdbSimpleFactor> CreateLiteral(std::u16string text, TLiteralKind kind);
  static std::unique_ptr<TVdbSimpleFactor> CreateParameter(std::u16string name);
  static std::unique_ptr<TVdbSimpleFactor> CreateExpression(std::unique_ptr<TVdbExpression> expression);
  static std::unique_ptr<TVdbSimpleFactor> CreateFunction(TVdbFunctionCall call);

  TVdbSimpleFactorType Type() const noexcept { return FType; }
  const std::u16string& ColumnNameOrLiteral() const noexcept { return FColumnNameOrLiteral; }
  TLiteralKind LiteralKind() const noexcept { return FLiteralKind; }
  TVdbExpression* Expression() const noexcept { return FExpression.get(); }
  // The call of a function factor (Type() == sftFunction), else null.
  const TVdbFunctionCall* FunctionCall() const noexcept { return FType == sftFunction ? &FFunction : nullptr; }
  TVdbFunctionCall* FunctionCall() noexcept { return FType == sftFunction ? &FFunction : nullptr; }
  int FieldNo() const noexcept { return FFieldNo; }
  int RltnPos() const noexcept { return FRltnPos; }
  // A literal whose value was not converted yet.
  void SetLiteralText(std::u16string text);
  // The opposite side of a comparison: an untyped literal takes its type at Prepare.
  void SetReferenceType(const TVdbDataType* type) noexcept { FReferenceType = type; }

  std::unique_ptr<TVdbFactor> CreateCopy() const override;
  bool IsSyntacticallyEqual(const TVdbFactor& other) const override;
  bool IsLiteral() const override { return FType == sftLiteral; }
  bool IsColumnName() const override { return FType == sftColumn; }
  bool IsParam() const override { return FType == sftParameter; }
  bool IsConstant() const override;

 protected:
  const TVdbDataValue& DoCalculate() override;
  const TVdbDataType* PrepareInner(TVdbPrepareContext& context) override;
  std::u16string InnerSqlText() const override;
  std::u16string InnerEasyText() const override;

 private:
  TVdbSimpleFactor() = default;
  const TVdbDataType* PrepareLiteral(TVdbPrepareContext& context);
  const TVdbDataType* OwnLiteralType() const;

  TVdbSimpleFactorType FType = sftUnknown;
  std::u16string FColumnNameOrLiteral;
  TLiteralKind FLiteralKind = lkString;
  std::unique_ptr<TVdbExpression> FExpression;
  TVdbFunctionCall FFunction;
  const TVdbDataType* FReferenceType = nullptr;
  IVdbColumnSource* FColumns = nullptr;
  int FRltnPos = -1;
  int FFieldNo = -1;
  bool FLiteralPrepared = false;
  TVdbDataValue FLiteralValue;
  TVdbDataValue FColumnRef;
};

class TVdbSqlCaseOperation final : public TVdbFactor {
 public:
  std::vector<std::unique_ptr<TVdbSearchCondition>> WhenConditions;
  // The ELSE expression, when present, is the last entry (one more than WhenConditions).
  std::vector<std::unique_ptr<TVdbExpression>> ThenExpressions;

  std::unique_ptr<TVdbFactor> CreateCopy() const override;
  bool IsSyntacticallyEqual(const TVdbFactor& other) const override;

 protected:
  const TVdbDataValue& DoCalculate() override;
  const TVdbDataType* PrepareInner(TVdbPrepareContext& context) override;
  std::u16string InnerSqlText() const override;

 private:
  std::vector<TVdbDataValue> FConverted;
};

// A multiplicative chain: Factors[0] Operators[0] Factors[1] ...
class TVdbTerm {
 public:
  std::vector<std::unique_ptr<TVdbFactor>> Factors;
  std::vector<TVdbDataBinaryOperator> Operators;  // dboMultiply, dboDivide, dboDiv, dboMod

  const TVdbDataType* DataType() const noexcept { return FDataType; }
  void Prepare(TVdbPrepareContext& context);
  const TVdbDataValue& Calculate();
  std::unique_ptr<TVdbTerm> CreateCopy() const;
  bool IsSyntacticallyEqual(const TVdbTerm& other) const;
  std::u16string SqlText() const;
  std::u16string EasyText() const;

 private:
  const TVdbDataType* FDataType = nullptr;
  std::vector<const TVdbDataType*> FStepTypes;
  std::vector<TVdbDataValue> FSteps;
};

// An additive chain: Terms[0] Operators[0] Terms[1] ... ("||" is "+").
class TVdbExpression {
 public:
  std::vector<std::unique_ptr<TVdbTerm>> Terms;
  std::vector<TVdbDataBinaryOperator> Operators;  // dboPlus, dboMinus
  // A value slot for callers that keep the last result (lists, bounds).
  TVdbDataValue ResultValue;

  const TVdbDataType* DataType() const noexcept { return FDataType; }
  void Prepare(TVdbPrepareContext& context);
  // Raises 43 for an overflow and 161 when no value results, naming the expression.
  const TVdbDataValue& Calculate();
  std::unique_ptr<TVdbExpression> CreateCopy() const;
  bool IsSyntacticallyEqual(const TVdbExpression& other) const;
  std::u16string SqlText() const;
  std::u16string EasyText() const;

  // The single factor when the expression is nothing more (no operator), else null.
  TVdbFactor* SingleFactor() const noexcept;
  bool IsSingleLiteral() const noexcept;
  bool IsSingleColumn() const noexcept;
  bool IsConstant() const noexcept;

  static std::unique_ptr<TVdbExpression> FromFactor(std::unique_ptr<TVdbFactor> factor);

 private:
  const TVdbDataType* FDataType = nullptr;
  std::vector<const TVdbDataType*> FStepTypes;
  std::vector<TVdbDataValue> FSteps;
};

// ---- conditions

// ALL or ANY (SOME) before a sub-query of a comparison.
enum TVdbQuantifier : std::uint8_t { tqNone, tqAll, tqAny };

// A sub-query inside a condition: EXISTS (query), x IN (query), x op ALL/ANY (query). The
// statement layer gives it its meaning; the condition only owns, copies, compares and renders
// it, and hands evaluation to it.
class IVdbSubQuery {
 public:
  virtual ~IVdbSubQuery() = default;
  virtual std::unique_ptr<IVdbSubQuery> CreateCopy() const = 0;
  virtual bool IsSyntacticallyEqual(const IVdbSubQuery& other) const = 0;
  // The query's text, without the parentheses.
  virtual std::u16string SqlText() const = 0;
  // Binds the sub-query for evaluation; a sub-query that cannot be evaluated here refuses.
  virtual void Prepare(TVdbPrepareContext& context) = 0;
  // The predicate's truth for the current records: EXISTS (`left` null), IN (tcoIn) or a
  // comparison `op` with `quantifier`.
  virtual TVdbTruth Test(TVdbComparisonOperator op, TVdbQuantifier quantifier, const TVdbDataValue* left,
                         const TVdbDataType* leftType) = 0;
};

class TVdbBooleanFactor {
 public:
  std::unique_ptr<TVdbExpression> ExpressionLeft;
  std::unique_ptr<TVdbExpression> ExpressionRight;    // BETWEEN: the upper bound
  std::unique_ptr<TVdbExpression> ExpressionRightEx;  // BETWEEN: the lower bound
  std::vector<std::unique_ptr<TVdbExpression>> ValueSet;  // IN list
  std::unique_ptr<TVdbSearchCondition> SearchCondition;    // parenthesised; the rest unused
  bool IsNot = false;
  TVdbComparisonOperator ComparisonOperator = tcoNone;
  char16_t LikeEscapeChar = 0;
  // EXISTS, IN or a quantified comparison over a sub-query (ExpressionRight and ValueSet unused).
  std::unique_ptr<IVdbSubQuery> SubQuery;
  TVdbQuantifier Quantifier = tqNone;

  TVdbPrepareOptions Options() const noexcept { return FOptions; }
  void Prepare(TVdbPrepareContext& context);
  TVdbTruth Evaluate();
  std::unique_ptr<TVdbBooleanFactor> CreateCopy() const;
  bool IsSyntacticallyEqual(const TVdbBooleanFactor& other) const;
  std::u16string SqlText() const;
  std::u16string EasyText() const;

 private:
  TVdbTruth Compare(const TVdbDataValue& left, TVdbExpression& right, TVdbComparisonOperator op);
  TVdbPrepareOptions FOptions = 0;
};

// An AND chain.
class TVdbBooleanTerm {
 public:
  std::vector<std::unique_ptr<TVdbBooleanFactor>> Factors;

  void Prepare(TVdbPrepareContext& context);
  TVdbTruth Evaluate();
  std::unique_ptr<TVdbBooleanTerm> CreateCopy() const;
  bool IsSyntacticallyEqual(const TVdbBooleanTerm& other) const;
  std::u16string SqlText() const;
  std::u16string EasyText() const;
};

// An OR chain.
class TVdbSearchCondition {
 public:
  std::vector<std::unique_ptr<TVdbBooleanTerm>> Terms;

  void Prepare(TVdbPrepareContext& context);
  TVdbTruth Evaluate();
  // True only for TRUE.
  bool IsTrue() { return Evaluate() == vtTrue; }
  std::unique_ptr<TVdbSearchCondition> CreateCopy() const;
  bool IsSyntacticallyEqual(const TVdbSearchCondition& other) const;
  std::u16string SqlText() const;
  std::u16string EasyText() const;
  // Removes redundant parentheses and turns a = b OR (a IS NULL AND b IS NULL) into one
  // null-safe equality.
  void Optimize();
  // Removes one AND factor of a single-term condition; true when the condition became empty.
  bool DeleteFactor(const TVdbBooleanFactor* factor);
  // (this) AND (other), as a new condition.
  std::unique_ptr<TVdbSearchCondition> AppendFactor(const TVdbSearchCondition& other) const;
};

// The operator as SQL writes it ("IS NOT NULL", "<=", ...); empty for tcoNone and tcoExists,
// which no comparison prints.
std::u16string VdbComparisonText(TVdbComparisonOperator op);

// Calls `visit` for every function call in the tree, an outer call before the calls in its
// arguments (CASE branches and parenthesised parts included).
void VdbVisitFunctionCalls(TVdbExpression& expression, const std::function<void(TVdbFunctionCall&)>& visit);
void VdbVisitFunctionCalls(TVdbSearchCondition& condition, const std::function<void(TVdbFunctionCall&)>& visit);

// Renders a text as a single-quoted SQL string (quotes doubled).
std::u16string VdbQuoteSqlString(std::u16string_view text);

}  // namespace vdb
