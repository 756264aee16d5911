// The VidoraSQL scanner and parser. The scanner reads one token at a time (keywords, names,
// numbers, strings, parameters, symbols; comments skipped); the parser turns a text into the
// condition and expression trees of expr/VdbExpression.h. Statements embed these rules, so the
// grammar functions are the building blocks a statement parser calls with the same scanner.
//
// Errors are ESqlParser exceptions (an engine compiler error with unit "SQL command", the row,
// the column and the text of the line holding the token); a missing token is the subclass
// EVdbSqlUnexpectedToken, code 56 "\"%s\" expected but \"%s\" found". The nodes built before
// an error are freed on the way out.
//
// Threads: one parser reads one text on one thread; the tables are immutable.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "base/VdbErrors.h"
#include "expr/VdbExpression.h"
#include "types/vuFormats.h"

namespace vdb {

class TVdbSqlCommand;
class TVdbSqlQuery;
class TVdbSqlTableExpression;
class TVdbSqlTableTerm;
class TVdbSqlTablePrimitive;
class TVdbSqlSelectExpression;
class TVdbSqlTableReference;
class TVdbSqlColumnDefinition;
class TVdbSqlCreateTableCommand;
class TVdbSqlAlterTableCommand;
struct TVdbSqlTableOptions;
struct TVdbSqlConstraints;
struct TVdbSqlCorresponding;
struct TVdbSqlSortSpecification;
struct TVdbSqlTypeSpec;

enum TSqlTokenType : std::uint8_t {
  sqltAction, sqltAdd, sqltAll, sqltAlter, sqltAnd, sqltAny, sqltAs, sqltAsc, sqltAsterisk, sqltAt,
  sqltBetween, sqltBoth, sqltBy, sqltCascade, sqltCase, sqltCheck, sqltCollate, sqltColumn, sqltComma,
  sqltConstraint, sqltContains, sqltContaining, sqltCorresponding, sqltCreate, sqltCross, sqltDat,
  sqltDataType, sqltDefault, sqltDelete, sqltDesc, sqltDictionary, sqltDistinct, sqltDiv, sqltDivisor,
  sqltDot, sqltDrop, sqltElse, sqltEncryption, sqltEnd, sqltEndOfStatement, sqltEqual, sqltEqualOrGreater,
  sqltEqualOrLess, sqltEscape, sqltExcept, sqltExclamationMark, sqltExists, sqltFalse, sqltFor, sqltForeign,
  sqltFrom, sqltFull, sqltFulltextIndex, sqltGroup, sqltGreater, sqltHas, sqltHaving, sqltIdentifier, sqltIn,
  sqltIndex, sqltInner, sqltInsert, sqltIntersect, sqltInto, sqltIs, sqltJoin, sqltKey, sqltLeading,
  sqltLeftParenthesis, sqltLeft, sqltLess, sqltLevel, sqltLike, sqltMinus, sqltMod, sqltModify, sqltNo,
  sqltNot, sqltNotEqual, sqltNull, sqltNumber, sqltOn, sqltOr, sqltOrder, sqltOuter, sqltParameter,
  sqltPassword, sqltPipe, sqltPlus, sqltPrecision, sqltPrimary, sqltReference, sqltReferences, sqltRename,
  sqltRight, sqltRightParenthesis, sqltSelect, sqltSemicolon, sqltSet, sqltSome, sqltString, sqltTable,
  sqltThen, sqltTo, sqltTop, sqltTrailing, sqltTrue, sqltUnion, sqltUnique, sqltUpdate, sqltValues,
  sqltWhen, sqltWhere
};

class TSqlParser {
 public:
  TSqlParser() = default;

  void SetStatementText(std::u16string text) { FStatementText = std::move(text); }
  const std::u16string& StatementText() const noexcept { return FStatementText; }
  // Numbers may use the user's decimal separator (`formats.DecimalSeparator`).
  void SetAllowLocalFormats(bool allow, const TvuFormats& formats = TvuFormats::Invariant()) {
    FAllowLocalFormats = allow;
    FDecimalSeparator = formats.DecimalSeparator;
  }
  bool AllowLocalFormats() const noexcept { return FAllowLocalFormats; }
  void SetOdbcCompatible(bool value) noexcept { FIsOdbcCompatible = value; }

  // Position 1 and the first token read.
  void InitParsing();
  std::unique_ptr<TVdbSearchCondition> ParseCondition();
  std::unique_ptr<TVdbExpression> ParseExpression();
  // Requires the end of the text.
  void ParseEnd();
  // Statements (sql/VdbSqlCommand.h): InitParsing and the first statement; then the next one,
  // or null at the end of the text. A statement ends in a semicolon (consumed) or the end.
  std::unique_ptr<TVdbSqlCommand> ParseFirstStatement();
  std::unique_ptr<TVdbSqlCommand> ParseNextStatement();
  // One query (ORDER BY included), as in INSERT ... SELECT or a sub-query.
  std::unique_ptr<TVdbSqlQuery> ParseQuery();
  // Restarts at the first character and reads one factor (a parameter value given as text:
  // a number, a string, a date ...), then requires the end of the text.
  std::unique_ptr<TVdbFactor> ParseParameter();

  // Row of the function table that names `id` (the first, for ids with two names), or -1.
  static int FindFunction(TFunctionId id);
  static std::u16string GetSqlTypeName(TVdbSqlType type);
  // The engine column type of an SQL type (vctNull for sqlNone).
  static TVdbColumnType GetVdbType(TVdbSqlType type);

  // ---- the current token
  TSqlTokenType TokenType() const noexcept { return FLastTokenType; }
  const std::u16string& TokenString() const noexcept { return FLastTokenString; }
  std::int32_t LastTokenRow() const;
  std::int32_t LastTokenColumn() const;
  std::u16string CurrentStatementLine() const;
  // 0-based offsets of the current token's first character and of the character after it.
  std::size_t TokenStart() const noexcept { return FLastTokenPos; }
  std::size_t TokenEnd() const noexcept { return FStatementPos; }
  void NextToken();

  // The operator's keyword or symbol ("IS NULL" built from keywords).
  static std::u16string FindComparisonString(TVdbComparisonOperator op);
  // The text messages show for a token type ("<end of statement>", "(", keywords ...).
  static std::u16string TokenDisplayName(TSqlTokenType type);

 private:
  [[noreturn]] void RaiseError(std::int16_t code, TVdbFmtArgs args = {}) const;
  [[noreturn]] void RaiseExpected(std::u16string_view expected) const;
  void Expect(TSqlTokenType type);
  char16_t Peek(std::size_t offset = 0) const noexcept;
  void ScanNumber();
  void ScanQuoted(char16_t close, bool doubling, TSqlTokenType type);
  void SavePosition();
  void RestorePosition();

  std::unique_ptr<TVdbSearchCondition> ParseSearchCondition();
  std::unique_ptr<TVdbBooleanTerm> ParseBooleanTerm();
  std::unique_ptr<TVdbBooleanFactor> ParseBooleanFactor();
  void ParsePredicate(TVdbBooleanFactor& factor);
  std::unique_ptr<TVdbTerm> ParseTerm();
  std::unique_ptr<TVdbFactor> ParseFactor();
  std::unique_ptr<TVdbSimpleFactor> ParseNumberLiteral();
  std::unique_ptr<TVdbFactor> ParseCase();
  std::unique_ptr<TVdbSimpleFactor> ParseFunction(std::u16string name);
  std::unique_ptr<TVdbSimpleFactor> ParseSpecialForm(std::u16string name);
  std::unique_ptr<IVdbSubQuery> ParseSubQuery();
  bool IsDataFunctionCall(std::u16string_view upperName) const;

  // ---- statements (VdbSqlStatementParser.cpp)
  std::unique_ptr<TVdbSqlCommand> ParseStatement();
  std::unique_ptr<TVdbSqlTableExpression> ParseTableExpression();
  std::unique_ptr<TVdbSqlTableTerm> ParseTableTerm();
  std::unique_ptr<TVdbSqlTablePrimitive> ParseTablePrimitive();
  std::unique_ptr<TVdbSqlSelectExpression> ParseSelectExpression();
  std::unique_ptr<TVdbSqlSelectExpression> ParseSelectBody();
  std::unique_ptr<TVdbSqlTableReference> ParseTableReference();
  std::unique_ptr<TVdbSqlTableReference> ParseTablePrimary();
  void ParseCorresponding(TVdbSqlCorresponding& options);
  TVdbSqlSortSpecification ParseSortSpecification();
  std::unique_ptr<TVdbSqlCommand> ParseInsert();
  std::unique_ptr<TVdbSqlCommand> ParseUpdate();
  std::unique_ptr<TVdbSqlCommand> ParseDelete();
  std::unique_ptr<TVdbSqlCommand> ParseCreate();
  std::unique_ptr<TVdbSqlCommand> ParseAlter();
  std::unique_ptr<TVdbSqlCommand> ParseDrop();
  void ParseTableOptions(TVdbSqlTableOptions& options);
  bool ParseConstraint(TVdbSqlConstraints& constraints, std::u16string name);
  std::unique_ptr<TVdbSqlColumnDefinition> ParseColumnDefinition();
  void ParseDataType(TVdbSqlTypeSpec& type);
  std::vector<std::u16string> ParseNameList();
  // A table, index or column name: an identifier, a quoted name or a string.
  std::u16string ParseName();
  bool IsName() const noexcept;
  std::int64_t ParseInteger();

  std::u16string FStatementText;
  bool FIsOdbcCompatible = false;
  bool FAllowLocalFormats = false;
  char16_t FDecimalSeparator = u'.';
  std::int32_t FParameterCount = 0;
  std::size_t FStatementPos = 0;  // 0-based index of the next character
  std::u16string FLastTokenString;
  std::size_t FLastTokenPos = 0;  // 0-based start of the current token
  TSqlTokenType FLastTokenType = sqltEndOfStatement;
  // While a list is read, a comma ends a number: (1,5) is two items.
  bool FInList = false;
  // Aggregates belong to queries; a condition read on its own refuses them.
  bool FAllowAggregates = true;
  struct TSaved {
    std::size_t StatementPos;
    TSqlTokenType TokenType;
    std::u16string TokenString;
    std::size_t TokenPos;
    std::int32_t ParameterCount;
  } FSaved{};
};

}  // namespace vdb
