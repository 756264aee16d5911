// The syntax tree of VidoraSQL statements: queries (select expressions joined by UNION, EXCEPT
// and INTERSECT, ordered), INSERT, UPDATE, DELETE, and the table and index definitions. The
// statement parser (sql/VdbSqlParser.h, ParseFirstStatement/ParseNextStatement) builds it; the
// statement layer prepares and executes it.
//
// The tree is plain syntax: names as written, conditions and expressions as the unprepared
// trees of expr/VdbExpression.h, defaults the grammar implies already filled in (a table alias
// is the table name when none is given, CREATE TABLE has level 6). Every node owns its
// children, can be deep-copied (queries are rewritten while they are prepared), compared with
// another tree, and rendered as text that parses back into an equal tree.
//
// Threads: a tree belongs to the statement that parsed it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "expr/VdbExpression.h"
#include "expr/VdbFunctionIds.h"
#include "types/VdbDefinitions.h"

namespace vdb {

class TVdbSqlQuery;
class TVdbSqlTableExpression;

enum TVdbSqlCommandKind : std::uint8_t {
  sckQuery, sckInsert, sckUpdate, sckDelete, sckCreateTable, sckAlterTable, sckCreateIndex,
  sckCreateFulltextIndex, sckDrop, sckUpdateIndex
};

enum TVdbJoinType : std::uint8_t {
  tjtNone, tjtCrossJoin, tjtInnerJoin, tjtLeftOuterJoin, tjtRightOuterJoin, tjtFullOuterJoin
};

// Encryption method of a table option by name (compared without regard to case): Default 0,
// None 1, Protection 2, Classic 3, Fast 4, Blowfish 5, AES 6, Rijndael 6; -1 for an unknown name.
int VdbSqlEncryptionMethod(std::u16string_view name);
// The name written for a method (the first of its names), empty for an unknown number.
std::u16string VdbSqlEncryptionName(int method);

// ---- statements

class TVdbSqlCommand {
 public:
  virtual ~TVdbSqlCommand() = default;
  TVdbSqlCommand() = default;
  TVdbSqlCommand(const TVdbSqlCommand&) = delete;
  TVdbSqlCommand& operator=(const TVdbSqlCommand&) = delete;

  virtual TVdbSqlCommandKind Kind() const = 0;
  virtual std::unique_ptr<TVdbSqlCommand> CreateCopy() const = 0;
  virtual bool IsSyntacticallyEqual(const TVdbSqlCommand& other) const = 0;
  // The statement as text (no semicolon) that parses back into an equal tree.
  virtual std::u16string GetSqlText() const = 0;

  // The target table of data-change and definition statements; empty for queries.
  std::u16string TableName;
  // The statement's own part of the source text, as written (not compared).
  std::u16string SqlText;
};

struct TVdbSqlSortSpecification {
  // A column name, Table.Column, or a select-list position written as a number.
  std::u16string ColumnNameOrIdx;
  bool Asc = true;
  bool operator==(const TVdbSqlSortSpecification&) const = default;
};
using TVdbSqlSortSpecificationList = std::vector<TVdbSqlSortSpecification>;

// One element of a select list: an expression, Table.* (TableName set, no expression) or *
// (neither).
struct TVdbSqlSelectElement {
  std::u16string TableName;
  std::unique_ptr<TVdbExpression> ScalarExpression;
  bool IsAsterisk() const noexcept { return !ScalarExpression; }
};

// A table in FROM, or a join of two of them (IsJoinedTable: Left, Right, JoinType, ON).
class TVdbSqlTableReference {
 public:
  bool IsJoinedTable = false;
  std::u16string TableAlias;    // the table name when no alias is given
  std::u16string InternalName;  // set while preparing
  std::u16string TableName;
  TVdbJoinType JoinType = tjtNone;
  std::unique_ptr<TVdbSqlTableReference> Left, Right;
  std::unique_ptr<TVdbSearchCondition> SearchCondition;  // ON

  std::unique_ptr<TVdbSqlTableReference> CreateCopy() const;
  bool IsSyntacticallyEqual(const TVdbSqlTableReference& other) const;
  std::u16string GetSqlText() const;
  // Every table below this reference, left to right, and their aliases.
  void GetTableList(std::vector<std::u16string>& tables) const;
  void GetAliasList(std::vector<std::u16string>& aliases) const;
  bool ContainsTableName(std::u16string_view nameOrAlias) const;
};
using TVdbSqlTableReferenceList = std::vector<std::unique_ptr<TVdbSqlTableReference>>;

// An operand of UNION/EXCEPT/INTERSECT.
class TVdbSqlTablePrimitive {
 public:
  virtual ~TVdbSqlTablePrimitive() = default;
  std::u16string InternalName;  // set while preparing
  virtual std::unique_ptr<TVdbSqlTablePrimitive> CreateCopy() const = 0;
  virtual bool IsSyntacticallyEqual(const TVdbSqlTablePrimitive& other) const = 0;
  virtual std::u16string GetSqlText() const = 0;
};

// TABLE name, or a parenthesised table expression.
class TVdbSqlTableSimplePrimitive final : public TVdbSqlTablePrimitive {
 public:
  std::u16string TableName;  // TABLE name
  std::u16string AliasName;
  std::unique_ptr<TVdbSqlTableExpression> TableExpression;  // "(" table expression ")"

  std::unique_ptr<TVdbSqlTablePrimitive> CreateCopy() const override;
  bool IsSyntacticallyEqual(const TVdbSqlTablePrimitive& other) const override;
  std::u16string GetSqlText() const override;
};

class TVdbSqlSelectExpression final : public TVdbSqlTablePrimitive {
 public:
  std::vector<TVdbSqlSelectElement> SelectElements;
  std::vector<std::u16string> LabelList;  // one per element, empty when none was given
  TVdbSqlTableReferenceList TableReferences;
  std::unique_ptr<TVdbSearchCondition> SearchCondition;  // WHERE
  std::vector<std::unique_ptr<TVdbExpression>> GroupByExpressions;
  std::unique_ptr<TVdbSearchCondition> HavingCondition;
  bool Distinct = false;
  std::int64_t TopCount = 0;  // 0: no TOP

  void AddSelectElement(std::unique_ptr<TVdbExpression> expression, std::u16string label = {});
  const TVdbSqlSelectElement& GetSelectElement(std::size_t index) const { return SelectElements.at(index); }
  TVdbExpression* GetGroupByExpression(std::size_t index) const { return GroupByExpressions.at(index).get(); }
  // Any aggregate (COUNT, SUM ...) in the select list or HAVING.
  bool HasAggregates() const;

  std::unique_ptr<TVdbSqlTablePrimitive> CreateCopy() const override;
  bool IsSyntacticallyEqual(const TVdbSqlTablePrimitive& other) const override;
  std::u16string GetSqlText() const override;
};

// Common part of the UNION/EXCEPT and the INTERSECT level.
struct TVdbSqlCorresponding {
  bool All = false;
  bool Corresponding = false;
  std::vector<std::u16string> CorrespondingFields;  // after CORRESPONDING BY; Table.Column allowed
  bool operator==(const TVdbSqlCorresponding&) const = default;
};

// INTERSECT level: TablePrimitive [INTERSECT ... TableTerm].
class TVdbSqlTableTerm {
 public:
  std::unique_ptr<TVdbSqlTablePrimitive> TablePrimitive;
  std::unique_ptr<TVdbSqlTableTerm> TableTerm;  // right operand or none
  TVdbSqlCorresponding Options;

  std::unique_ptr<TVdbSqlTableTerm> CreateCopy() const;
  bool IsSyntacticallyEqual(const TVdbSqlTableTerm& other) const;
  std::u16string GetSqlText() const;
};

// UNION/EXCEPT level: TableTerm [(UNION | EXCEPT) ... TableExpression].
class TVdbSqlTableExpression {
 public:
  std::unique_ptr<TVdbSqlTableTerm> TableTerm;
  std::unique_ptr<TVdbSqlTableExpression> TableExpression;  // right operand or none
  bool IsUnion = true;                                      // false: EXCEPT
  TVdbSqlCorresponding Options;

  std::unique_ptr<TVdbSqlTableExpression> CreateCopy() const;
  bool IsSyntacticallyEqual(const TVdbSqlTableExpression& other) const;
  std::u16string GetSqlText() const;
  // The select expression when the table expression is nothing more, else null.
  TVdbSqlSelectExpression* SingleSelect() const noexcept;
};

class TVdbSqlQuery final : public TVdbSqlCommand {
 public:
  std::unique_ptr<TVdbSqlTableExpression> TableExpression;
  TVdbSqlSortSpecificationList SortSpecificationList;

  TVdbSqlCommandKind Kind() const override { return sckQuery; }
  std::unique_ptr<TVdbSqlCommand> CreateCopy() const override;
  bool IsSyntacticallyEqual(const TVdbSqlCommand& other) const override;
  std::u16string GetSqlText() const override;
  std::unique_ptr<TVdbSqlQuery> CopyQuery() const;
  // One select expression, no set operation.
  bool IsPrimitiveQuery() const noexcept { return TableExpression && TableExpression->SingleSelect(); }
  TVdbSqlSelectExpression* SingleSelect() const noexcept {
    return TableExpression ? TableExpression->SingleSelect() : nullptr;
  }
};

class TVdbSqlInsertCommand final : public TVdbSqlCommand {
 public:
  std::vector<std::u16string> Columns;  // empty: all columns in order
  std::vector<std::unique_ptr<TVdbExpression>> Values;
  std::unique_ptr<TVdbSqlQuery> SourceQuery;  // instead of VALUES

  TVdbSqlCommandKind Kind() const override { return sckInsert; }
  std::unique_ptr<TVdbSqlCommand> CreateCopy() const override;
  bool IsSyntacticallyEqual(const TVdbSqlCommand& other) const override;
  std::u16string GetSqlText() const override;
};

class TVdbSqlUpdateCommand final : public TVdbSqlCommand {
 public:
  std::vector<std::u16string> Columns;
  // Per column either an expression or a sub-query; the other entry is null.
  std::vector<std::unique_ptr<TVdbExpression>> Expressions;
  std::vector<std::unique_ptr<TVdbSqlQuery>> SubQueries;
  std::unique_ptr<TVdbSearchCondition> SearchCondition;

  TVdbSqlCommandKind Kind() const override { return sckUpdate; }
  std::unique_ptr<TVdbSqlCommand> CreateCopy() const override;
  bool IsSyntacticallyEqual(const TVdbSqlCommand& other) const override;
  std::u16string GetSqlText() const override;
};

class TVdbSqlDeleteCommand final : public TVdbSqlCommand {
 public:
  std::unique_ptr<TVdbSearchCondition> SearchCondition;

  TVdbSqlCommandKind Kind() const override { return sckDelete; }
  std::unique_ptr<TVdbSqlCommand> CreateCopy() const override;
  bool IsSyntacticallyEqual(const TVdbSqlCommand& other) const override;
  std::u16string GetSqlText() const override;
};

// ---- table definitions

class TVdbSqlColumnDefinition {
 public:
  std::u16string ColumnName;
  TVdbSqlTypeSpec Type;  // sqlNone in a RENAME: the definition only carries the new name
  bool MayBeNull = true;
  bool AutoIncUnique = false;  // AUTOINC ... UNIQUE
  std::unique_ptr<TVdbExpression> Expression;  // DEFAULT value or SET calculation
  bool ExpressionIsDefault = false;

  TVdbSqlType SqlType() const noexcept { return Type.SqlType; }
  // The engine's description of the column: the type code of the SQL type with its length,
  // scale, precision, collation, items or linked table; DEFAULT as the initial value, SET as a
  // value computed on every change; an AUTOINC column's number is its first id.
  TVdbNewColumn CreateColumnDef() const;
  std::unique_ptr<TVdbSqlColumnDefinition> CreateCopy() const;
  bool IsSyntacticallyEqual(const TVdbSqlColumnDefinition& other) const;
  std::u16string GetSqlText() const;
};

struct TVdbSqlCheckConstraint {
  std::u16string Name;
  std::unique_ptr<TVdbSearchCondition> SearchCondition;
};

struct TVdbSqlCandidateKey {
  std::u16string Name;
  bool Primary = false;  // PRIMARY KEY, else UNIQUE
  std::vector<std::u16string> Columns;
  bool operator==(const TVdbSqlCandidateKey&) const = default;
};

struct TVdbSqlForeignKey {
  std::u16string Name;
  std::vector<std::u16string> Columns;
  std::u16string ParentTable;
  std::vector<std::u16string> ParentColumns;  // empty: the parent's primary key
  TVdbReferentialAction DeleteAction = traNone;
  TVdbReferentialAction UpdateAction = traNone;
  bool operator==(const TVdbSqlForeignKey&) const = default;
};

// The constraints of CREATE TABLE and ALTER TABLE ... ADD.
struct TVdbSqlConstraints {
  std::vector<TVdbSqlCandidateKey> CandidateKeys;
  std::vector<TVdbSqlForeignKey> ForeignKeys;
  std::vector<TVdbSqlCheckConstraint> CheckConstraints;
};

// Table options; an option not written stays empty (CREATE TABLE then uses the defaults).
struct TVdbSqlTableOptions {
  std::optional<std::int32_t> Level;
  std::optional<std::u16string> Language;  // COLLATE
  std::optional<int> EncryptionMethod;     // VdbSqlEncryptionMethod
  std::optional<std::u16string> Key;       // PASSWORD
  bool operator==(const TVdbSqlTableOptions&) const = default;
  bool Empty() const noexcept { return !Level && !Language && !EncryptionMethod && !Key; }
};

class TVdbSqlCreateTableCommand final : public TVdbSqlCommand {
 public:
  TVdbSqlTableOptions Options;
  std::int32_t Capacity = 0;
  std::vector<std::unique_ptr<TVdbSqlColumnDefinition>> ColumnDefinitions;
  TVdbSqlConstraints Constraints;

  std::int32_t Level() const noexcept { return Options.Level.value_or(6); }
  int SecurityLevel() const noexcept { return Options.EncryptionMethod.value_or(0); }
  std::u16string Language() const { return Options.Language.value_or(std::u16string()); }
  std::u16string Key() const { return Options.Key.value_or(std::u16string()); }

  TVdbSqlCommandKind Kind() const override { return sckCreateTable; }
  std::unique_ptr<TVdbSqlCommand> CreateCopy() const override;
  bool IsSyntacticallyEqual(const TVdbSqlCommand& other) const override;
  std::u16string GetSqlText() const override;
};

// What one column entry of ALTER TABLE does.
enum TVdbSqlAlterKind : std::uint8_t { sakAddColumn, sakDropColumn, sakModifyColumn, sakRenameColumn };

class TVdbSqlAlterTableCommand final : public TVdbSqlCommand {
 public:
  TVdbSqlTableOptions Options;
  std::int32_t Capacity = 0;
  // The column alterations in the parallel-list form: a new column has an empty name and its
  // definition, a dropped column its name and no definition, a modified column its name and
  // the new definition, a renamed one its old name and a definition holding the new name.
  std::vector<std::u16string> ColumnNames;
  std::vector<std::unique_ptr<TVdbSqlColumnDefinition>> ColumnDefinitions;
  std::vector<std::u16string> DeletedConstraintNames;
  TVdbSqlConstraints Constraints;
  // Which alteration each column entry is (parallel to ColumnNames).
  std::vector<TVdbSqlAlterKind> ColumnAlterations;

  TVdbSqlCommandKind Kind() const override { return sckAlterTable; }
  std::unique_ptr<TVdbSqlCommand> CreateCopy() const override;
  bool IsSyntacticallyEqual(const TVdbSqlCommand& other) const override;
  std::u16string GetSqlText() const override;
};

class TVdbSqlCreateIndexCommand final : public TVdbSqlCommand {
 public:
  std::u16string IndexName;
  bool Unique = false;
  TVdbSqlSortSpecificationList SortSpecifications;

  TVdbSqlCommandKind Kind() const override { return sckCreateIndex; }
  std::unique_ptr<TVdbSqlCommand> CreateCopy() const override;
  bool IsSyntacticallyEqual(const TVdbSqlCommand& other) const override;
  std::u16string GetSqlText() const override;
};

// Parsed only: full-text indexing is not part of this engine.
class TVdbSqlCreateFulltextIndexCommand final : public TVdbSqlCommand {
 public:
  std::u16string IndexName;
  std::vector<std::u16string> FieldNames;
  std::u16string DictionaryName;
  bool CreateDictionary = false;
  bool UpdateDictionary = false;
  std::optional<std::u16string> Separators;

  TVdbSqlCommandKind Kind() const override { return sckCreateFulltextIndex; }
  std::unique_ptr<TVdbSqlCommand> CreateCopy() const override;
  bool IsSyntacticallyEqual(const TVdbSqlCommand& other) const override;
  std::u16string GetSqlText() const override;
};

// DROP TABLE t (IndexName empty), DROP INDEX t.i, DROP FULLTEXTINDEX t.i.
class TVdbSqlDropCommand final : public TVdbSqlCommand {
 public:
  std::u16string IndexName;
  bool IsFulltext = false;

  TVdbSqlCommandKind Kind() const override { return sckDrop; }
  std::unique_ptr<TVdbSqlCommand> CreateCopy() const override;
  bool IsSyntacticallyEqual(const TVdbSqlCommand& other) const override;
  std::u16string GetSqlText() const override;
};

// UPDATE INDEX t.i (IndexName "*": every index), UPDATE FULLTEXTINDEX t.i.
class TVdbSqlUpdateIndexCommand final : public TVdbSqlCommand {
 public:
  std::u16string IndexName;
  bool IsFulltext = false;

  TVdbSqlCommandKind Kind() const override { return sckUpdateIndex; }
  std::unique_ptr<TVdbSqlCommand> CreateCopy() const override;
  bool IsSyntacticallyEqual(const TVdbSqlCommand& other) const override;
  std::u16string GetSqlText() const override;
};

// Evaluates a sub-query of a condition; the statement layer installs one before preparing.
class IVdbSubQueryEvaluator {
 public:
  virtual ~IVdbSubQueryEvaluator() = default;
  virtual void Prepare(TVdbSqlQuery& query, TVdbPrepareContext& context) = 0;
  virtual TVdbTruth Test(TVdbSqlQuery& query, TVdbComparisonOperator op, TVdbQuantifier quantifier,
                         const TVdbDataValue* left, const TVdbDataType* leftType) = 0;
};

// The sub-query of EXISTS, IN and ALL/ANY comparisons in a condition tree.
class TVdbSqlSubQuery final : public IVdbSubQuery {
 public:
  explicit TVdbSqlSubQuery(std::unique_ptr<TVdbSqlQuery> query) : Query(std::move(query)) {}
  std::unique_ptr<TVdbSqlQuery> Query;
  std::unique_ptr<IVdbSubQueryEvaluator> Evaluator;  // not copied

  std::unique_ptr<IVdbSubQuery> CreateCopy() const override;
  bool IsSyntacticallyEqual(const IVdbSubQuery& other) const override;
  std::u16string SqlText() const override;
  // Without an evaluator: engine error 187, sub-queries are not supported there.
  void Prepare(TVdbPrepareContext& context) override;
  TVdbTruth Test(TVdbComparisonOperator op, TVdbQuantifier quantifier, const TVdbDataValue* left,
                 const TVdbDataType* leftType) override;
};

// Parses every statement of `text` (several separated by semicolons); raises the parser's
// exceptions (ESqlParser) with row, column and line.
std::vector<std::unique_ptr<TVdbSqlCommand>> VdbParseSqlStatements(std::u16string_view text);

}  // namespace vdb
