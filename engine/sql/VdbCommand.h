// The commands of a statement: a query (SELECT with joins, WHERE, GROUP BY with aggregates
// and HAVING, DISTINCT, ORDER BY, TOP, and the set operations UNION, INTERSECT and EXCEPT),
// INSERT, UPDATE and DELETE, and the table definition commands. Each command is prepared
// once, executed any number of times under the statement's table locks, and unprepared.
//
// A command works on its own description of the statement (TVdbSelectSpec and friends), which
// the statement builds from the parser's syntax tree; the trees in it are owned copies, so the
// command may rewrite them: parameters and aggregates become internal column names that the
// execution plan resolves (see VdbQueryExecPlan.h).
//
// Results: Execute returns the number of affected rows (0 for a query) or raises the engine's
// error; the statement records it.
//
// Threads: a command belongs to its statement, used by one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "expr/VdbExpression.h"
#include "sql/VdbQueryExecPlan.h"
#include "sql/VdbResultSet.h"
#include "sql/VdbSqlCommand.h"
#include "sql/VdbSqlVariables.h"
#include "tables/VdbBaseTable.h"

namespace vdb {

class TVdbCatalog;

struct TVdbSelectElementSpec {
  std::unique_ptr<TVdbExpression> Expression;  // none for * and Table.*
  std::u16string Label;
  bool Star = false;
  std::u16string StarTable;  // Table.*; empty for a plain *
};

struct TVdbTableRefSpec {
  std::u16string TableName;
  std::u16string Alias;
  TVdbPlanJoin Join = pjFirst;  // how it joins the references before it
  std::unique_ptr<TVdbSearchCondition> On;
};

struct TVdbSortSpec {
  std::u16string ColumnNameOrIdx;  // a name, Table.Column, or a 1-based select-list position
  bool Asc = true;
};

struct TVdbSelectSpec {
  std::vector<TVdbSelectElementSpec> Elements;
  std::vector<TVdbTableRefSpec> From;
  std::unique_ptr<TVdbSearchCondition> Where;
  std::vector<std::unique_ptr<TVdbExpression>> GroupBy;
  std::unique_ptr<TVdbSearchCondition> Having;
  bool Distinct = false;
  std::int32_t Top = 0;  // 0: no TOP
};

enum TVdbSetOperation : std::uint8_t { tsoNone, tsoUnion, tsoExcept, tsoIntersect };

// A query: one select expression, or a set operation over two queries; ORDER BY on the
// outermost one.
struct TVdbQuerySpec {
  std::unique_ptr<TVdbSelectSpec> Select;
  TVdbSetOperation Operation = tsoNone;
  bool All = false;
  // CORRESPONDING: only the columns both operands name (or those BY lists) are compared and
  // given, in the left operand's order.
  bool Corresponding = false;
  std::vector<std::u16string> CorrespondingBy;
  std::unique_ptr<TVdbQuerySpec> Left, Right;
  std::vector<TVdbSortSpec> OrderBy;
  std::u16string SqlText;
};

struct TVdbInsertSpec {
  std::u16string TableName;
  std::vector<std::u16string> Columns;
  std::vector<std::unique_ptr<TVdbExpression>> Values;
  std::unique_ptr<TVdbQuerySpec> Source;
};

struct TVdbUpdateSpec {
  std::u16string TableName;
  std::vector<std::u16string> Columns;
  // Per column either an expression or a sub-query whose first column of its one row is the
  // value; the other entry is null.
  std::vector<std::unique_ptr<TVdbExpression>> Expressions;
  std::vector<std::unique_ptr<TVdbSqlQuery>> SubQueries;
  std::unique_ptr<TVdbSearchCondition> Where;
};

struct TVdbDeleteSpec {
  std::u16string TableName;
  std::unique_ptr<TVdbSearchCondition> Where;
};

// The relations a command touches: indexes into the catalog, for the statement's locks.
struct TVdbTouchedRelations {
  std::vector<TVdbRltnIdx> Read, Write, Managed;
};

class TVdbCommand {
 public:
  explicit TVdbCommand(TVdbCatalog& catalog) : FCatalog(catalog) {}
  virtual ~TVdbCommand() = default;
  TVdbCommand(const TVdbCommand&) = delete;
  TVdbCommand& operator=(const TVdbCommand&) = delete;

  // Opens the tables the command names (raises when one cannot be opened) and checks what
  // can be checked before running.
  virtual void Prepare(TVdbSqlVariableList& variables) = 0;
  virtual void GetTouchedRelations(TVdbTouchedRelations& touched) const = 0;
  // The number of affected rows; raises on failure.
  virtual std::int32_t Execute() = 0;
  virtual void Unprepare() {}
  // The relation a query produced, 0 for none.
  virtual TVdbRltnIdx ResultRltnIdx() const { return 0; }
  virtual bool IsQuery() const { return false; }

 protected:
  // The slot of a table of the catalog, opened when it is not open yet.
  TVdbRltnIdx OpenRelation(const std::u16string& tableName, bool writable);
  TVdbCatalog& FCatalog;
};

// Rows and columns of an evaluated query, before they are written into a result table.
struct TVdbRowSet {
  std::vector<TVdbResultColumn> Columns;
  std::vector<TVdbResultRow> Rows;
};

class TVdbQuery final : public TVdbCommand {
 public:
  TVdbQuery(TVdbCatalog& catalog, std::unique_ptr<TVdbQuerySpec> spec);
  ~TVdbQuery() override;
  void Prepare(TVdbSqlVariableList& variables) override;
  void GetTouchedRelations(TVdbTouchedRelations& touched) const override;
  std::int32_t Execute() override;
  void Unprepare() override;
  TVdbRltnIdx ResultRltnIdx() const override;
  bool IsQuery() const override { return true; }
  // Evaluates into rows without writing a result table (sub-queries, INSERT … query).
  TVdbRowSet Evaluate();
  // A sub-query: names its own tables lack are columns of the enclosing query's source,
  // read from its current records.
  void SetOuter(IVdbColumnSource* outer) noexcept { FOuter = outer; }
  // Whether an evaluation read a column of the enclosing query (then every row of the
  // enclosing query needs its own evaluation).
  bool IsCorrelated() const noexcept { return FCorrelated; }
  const TVdbQuerySpec& Spec() const noexcept { return *FSpec; }
  // Where the result table comes from: "SimpleResultSet", "GroupResultSet" or "SetOpResult".
  std::u16string ResultBaseName() const;

 private:
  TVdbRowSet EvaluateQuery(TVdbQuerySpec& spec);
  TVdbRowSet EvaluateSelect(TVdbSelectSpec& select, const std::vector<TVdbSortSpec>& orderBy);

  std::unique_ptr<TVdbQuerySpec> FSpec;
  TVdbSqlVariableList* FVariables = nullptr;
  IVdbColumnSource* FOuter = nullptr;
  bool FCorrelated = false;
  std::vector<TVdbRltnIdx> FReadRelations;
  TVdbResultTable FResult;
};

class TVdbInsertCommand final : public TVdbCommand {
 public:
  TVdbInsertCommand(TVdbCatalog& catalog, std::unique_ptr<TVdbInsertSpec> spec);
  void Prepare(TVdbSqlVariableList& variables) override;
  void GetTouchedRelations(TVdbTouchedRelations& touched) const override;
  std::int32_t Execute() override;

 private:
  std::unique_ptr<TVdbInsertSpec> FSpec;
  std::unique_ptr<TVdbQuery> FSource;
  TVdbSqlVariableList* FVariables = nullptr;
  TVdbRltnIdx FTarget = 0;
};

class TVdbUpdateCommand final : public TVdbCommand {
 public:
  TVdbUpdateCommand(TVdbCatalog& catalog, std::unique_ptr<TVdbUpdateSpec> spec);
  void Prepare(TVdbSqlVariableList& variables) override;
  void GetTouchedRelations(TVdbTouchedRelations& touched) const override;
  // Every new value (sub-query values included) is computed from the records as they were
  // before the first change, then the records are written.
  std::int32_t Execute() override;

 private:
  std::unique_ptr<TVdbUpdateSpec> FSpec;
  TVdbSqlVariableList* FVariables = nullptr;
  TVdbRltnIdx FTarget = 0;
  std::vector<TVdbRltnIdx> FReadRelations;  // the tables of sub-queries
};

class TVdbDeleteCommand final : public TVdbCommand {
 public:
  TVdbDeleteCommand(TVdbCatalog& catalog, std::unique_ptr<TVdbDeleteSpec> spec);
  void Prepare(TVdbSqlVariableList& variables) override;
  void GetTouchedRelations(TVdbTouchedRelations& touched) const override;
  std::int32_t Execute() override;

 private:
  std::unique_ptr<TVdbDeleteSpec> FSpec;
  TVdbSqlVariableList* FVariables = nullptr;
  TVdbRltnIdx FTarget = 0;
  std::vector<TVdbRltnIdx> FReadRelations;  // the tables of sub-queries
};

// Table and index definitions: each performs its one table operation. CREATE TABLE makes the
// table's files (options, columns, keys, checks and foreign keys as written); DROP TABLE
// deletes them after opening the table exclusively; CREATE/DROP/UPDATE INDEX work on the open
// table, which is a write relation of the statement.
class TVdbDdlCommand final : public TVdbCommand {
 public:
  TVdbDdlCommand(TVdbCatalog& catalog, std::unique_ptr<TVdbSqlCommand> command)
      : TVdbCommand(catalog), FCommand(std::move(command)) {}
  // Refuses with 187 what this engine does not run (ALTER TABLE, full-text indexes).
  void Prepare(TVdbSqlVariableList& variables) override;
  void GetTouchedRelations(TVdbTouchedRelations& touched) const override;
  std::int32_t Execute() override;

 private:
  std::unique_ptr<TVdbSqlCommand> FCommand;
  TVdbRltnIdx FTarget = 0;
};

// The table a CREATE TABLE statement describes, ready for the catalog to create.
TVdbNewTable VdbNewTableOf(const TVdbSqlCreateTableCommand& command);

// The command for a parsed statement (its trees copied).
std::unique_ptr<TVdbCommand> VdbCreateCommand(TVdbCatalog& catalog, const TVdbSqlCommand& command);
std::unique_ptr<TVdbQuerySpec> VdbQuerySpecOf(const TVdbSqlQuery& query);

// Rewrites a tree in place: parameters become internal column names of the plan. With
// `aggregates`, aggregate calls are moved into `found` (their argument trees) and replaced by
// internal names too; without, an aggregate is error 172's sibling: 187 naming it.
struct TVdbAggregateCall {
  std::u16string Function;  // COUNT, SUM, AVG, MIN, MAX
  std::unique_ptr<TVdbExpression> Argument;
};
void VdbRewriteExpression(TVdbExpression& e, std::vector<TVdbAggregateCall>* found);
void VdbRewriteCondition(TVdbSearchCondition& c, std::vector<TVdbAggregateCall>* found);
bool VdbHasAggregate(const TVdbExpression& e);
// Adds the tables the sub-queries of `c` read (their own sub-queries' too) to `names`.
void VdbCollectSubQueryTables(TVdbSearchCondition& c, std::vector<std::u16string>& names);
bool VdbIsAggregateName(std::u16string_view name);

}  // namespace vdb
