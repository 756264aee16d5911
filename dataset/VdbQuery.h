// The query dataset: one SQL statement of the engine, its named parameters, and its result
// table presented as a dataset that grids and reports read like a table. Open runs the
// statement and reads its result; ExecSQL only runs it (RowsAffected tells how many rows it
// changed).
//
// A query opened without Prepare prepares for the opening and unprepares right after its
// result cursor exists: the engine keeps the result table for that cursor until it is closed.
// The field definitions of an opened query are the result's own columns.
//
// GUI thread only, like every dataset component.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "VdbDataSet.h"
#include "db/TDataSource.h"

namespace vdbds {

// A syntax error of a statement: its row and column (1-based) besides the engine codes.
class EVidoraSQLError : public EVidoraDBError {
 public:
  EVidoraSQLError(const std::u16string& message, std::int16_t vdbError, std::int16_t reason, std::int32_t errorRow,
                  std::int32_t errorCol)
      : EVidoraDBError(message, vdbError, reason), ErrorRow(errorRow), ErrorCol(errorCol) {}
  std::int32_t ErrorRow;
  std::int32_t ErrorCol;
};

// One named parameter (:name in the text). DataType dtUnknown until the caller sets one;
// a NULL value is std::monostate.
struct TVdbQueryParam {
  std::u16string Name;
  tk::TFieldType DataType = tk::TFieldType::dtUnknown;
  int Size = 0;
  tk::TFieldValue Value;
  bool Bound = false;  // a value was given
  void Clear() {
    Value = std::monostate{};
    Bound = false;
  }
  void SetValue(tk::TFieldValue value) {
    Value = std::move(value);
    Bound = true;
  }
};

class TVdbQuery : public TVdbDataSet {
 public:
  TVdbQuery();
  ~TVdbQuery() override;

  // --- statement text: lines (SQL) or one text (SQLW); a change closes and unprepares.
  const std::vector<std::u16string>& SQL() const noexcept { return FSQL; }
  void SetSQL(const std::vector<std::u16string>& lines);
  // The lines joined with line breaks.
  std::u16string SQLW() const;
  void SetSQLW(const std::u16string& text);
  // The text as the parameter parser read it.
  const std::u16string& Text() const noexcept { return FText; }

  bool Local = true;
  bool RequestLive = true;
  bool RequestStable = false;
  bool UniDirectional = false;
  bool ParamCheck = true;

  // --- parameters, parsed from the text (values of equal names carried over)
  std::vector<TVdbQueryParam>& Params() noexcept { return FParams; }
  // Raises "Parameter '%s' not found" when there is none of that name.
  TVdbQueryParam& ParamByName(const std::u16string& name);

  // --- master data source: at opening, every parameter without a value takes the value of
  // the master's field of the same name; an open query is opened again whenever the master
  // moves to another record or opens (not while the master is in set-key state). Raises
  // "DataSource property of query %s refers to a data source that is itself linked to %s"
  // for a source whose dataset is this query or a query whose source's dataset this is.
  tk::TDataSource* DataSource() const noexcept;
  void SetDataSource(tk::TDataSource* source);

  bool Prepared() const noexcept { return FPrepared; }
  std::int32_t RowsAffected() const noexcept { return FRowsAffected; }
  void Prepare();
  void UnPrepare();
  // Runs the statement without opening a result. The query is registered with its database
  // while it runs (and while it stays prepared), so that closing the database closes it and
  // an automatic database outlives the execution.
  void ExecSQL();

 protected:
  void InternalOpen() override;
  void InternalClose() override;

 private:
  class TMasterLink;
  void TextChanged();
  void PassParams();
  // Parameters without a value take the master's fields of their names.
  void TakeMasterValues();
  // Gives up the registration of ExecSQL once nothing holds the query at its database.
  void LeaveAfterExec() noexcept;
  void MasterChanged();
  [[noreturn]] void RaiseSqlError(std::int32_t result);
  void FreeStatement() noexcept;

  std::vector<std::u16string> FSQL;
  std::u16string FText;
  std::vector<TVdbQueryParam> FParams;
  std::int16_t FStmtHandle = 0;
  bool FPrepared = false;
  std::int32_t FRowsAffected = -1;
  std::unique_ptr<TMasterLink> FDataLink;
  // ExecSQL registered the query with its database and no open cursor holds it there.
  bool FExecRegistered = false;
};

// The text a parameter value is passed as, and its length argument (-1 for NULL); raises
// "Unknown SQL parameter type." for a value the statement cannot take.
std::u16string VdbParamText(const TVdbQueryParam& param, std::int32_t& length);
// The names of the parameters of a statement text (:name outside strings and quoted names),
// each once, in order of appearance.
std::vector<std::u16string> VdbParseParamNames(std::u16string_view text);

}  // namespace vdbds
