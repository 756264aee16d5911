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
#include <string>
#include <vector>

#include "VdbDataSet.h"

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

  bool Prepared() const noexcept { return FPrepared; }
  std::int32_t RowsAffected() const noexcept { return FRowsAffected; }
  void Prepare();
  void UnPrepare();
  // Runs the statement without opening a result.
  void ExecSQL();

 protected:
  void InternalOpen() override;
  void InternalClose() override;

 private:
  void TextChanged();
  void PassParams();
  [[noreturn]] void RaiseSqlError(std::int32_t result);
  void FreeStatement() noexcept;

  std::vector<std::u16string> FSQL;
  std::u16string FText;
  std::vector<TVdbQueryParam> FParams;
  std::int16_t FStmtHandle = 0;
  bool FPrepared = false;
  std::int32_t FRowsAffected = -1;
};

// The text a parameter value is passed as, and its length argument (-1 for NULL); raises
// "Unknown SQL parameter type." for a value the statement cannot take.
std::u16string VdbParamText(const TVdbQueryParam& param, std::int32_t& length);
// The names of the parameters of a statement text (:name outside strings and quoted names),
// each once, in order of appearance.
std::vector<std::u16string> VdbParseParamNames(std::u16string_view text);

}  // namespace vdbds
