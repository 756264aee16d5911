// The statement: the engine object behind a statement handle and the query dataset. It holds
// the commands of its text and the parameter values, prepares the commands, executes them
// under table locks and reports a result code; the result relation of the last query is then
// read through a cursor.
//
// Result codes (the call interface maps them to its statuses): SetText 0, or 197 for a syntax
// error (ErrorRow/ErrorCol tell where; the commands parsed before it stay); AddParameter -71
// for a second parameter of a name; SetParamValue 50 for an unknown name, 156 for a conversion
// error of the engine, 213 for another failure of conversion; Prepare 0 or the negated error;
// Execute the sum of the commands' results, -46 when not prepared, -47 when the locks cannot
// be taken, -60 when a command failed. Every error is also the session's last error.
//
// Locks: for one execution every relation the statement reads is read-locked and every one it
// writes write-locked (write locks first, read locks released first); nothing is locked
// between executions. Temporary results the statement manages are locked by nobody.
//
// Threads: a statement belongs to one session and is used by one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "base/VdbLastError.h"
#include "sql/VdbCommand.h"
#include "sql/VdbSqlVariables.h"

namespace vdb {

class TVdbCatalog;

// Result kinds a statement may be asked for; only stored and passed on.
enum TVdbCursorType : std::uint8_t { tctUnspecified, tctStatic, tctFirehouse, tctKeySet, tctLiveResult };

inline constexpr std::int16_t kVdbStmtSyntaxError = 197;
inline constexpr std::int16_t kVdbStmtUnknownParameter = 50;
inline constexpr std::int16_t kVdbStmtEngineConversion = 156;
inline constexpr std::int16_t kVdbStmtConversion = 213;
inline constexpr std::int16_t kVdbStmtNotPrepared = -46;
inline constexpr std::int16_t kVdbStmtLocksUnavailable = -47;
inline constexpr std::int16_t kVdbStmtFailed = -60;
inline constexpr std::int16_t kVdbStmtDuplicateParameter = -71;

class TVdbStatement {
 public:
  TVdbStatement(TVdbCatalog& catalog, TVdbLastError& lastError) : FCatalog(catalog), FLastError(lastError) {}
  ~TVdbStatement();
  TVdbStatement(const TVdbStatement&) = delete;
  TVdbStatement& operator=(const TVdbStatement&) = delete;

  std::int16_t SetText(std::u16string_view text);
  // Replaces the commands by `command`.
  void SetCommand(std::unique_ptr<TVdbCommand> command);
  void AddCommand(std::unique_ptr<TVdbCommand> command) { FCommands.push_back(std::move(command)); }
  int CommandCount() const noexcept { return static_cast<int>(FCommands.size()); }
  TVdbCommand& Command(int index) const { return *FCommands.at(static_cast<std::size_t>(index)); }
  void SetCompat(int compat) noexcept { FCompat = compat; }
  std::int32_t LastErrorRow() const noexcept { return FLastErrorRow; }
  std::int32_t LastErrorCol() const noexcept { return FLastErrorCol; }

  std::int16_t AddParameter(std::u16string_view name, std::int16_t type, std::int32_t spec);
  void ClearParams() { FParameters.Clear(); }
  std::int16_t SetParamValue(std::u16string_view name, std::u16string_view text, std::int32_t size);
  std::int16_t SetParamValue(std::u16string_view name, const TVdbDataValue& value, const TVdbDataType& type);
  TVdbSqlVariableList& Parameters() noexcept { return FParameters; }

  std::int16_t Prepare(TVdbCursorType cursorType = tctUnspecified);
  std::int32_t Execute();
  bool IsPrepared() const noexcept { return FPrepared; }
  void Unprepare();
  // The relation and read index of the last query command's result; 0 / -1 when none.
  TVdbRltnIdx GetResultRltnIdx() const;
  TVdbIndexNo GetResultIndexNo() const { return kVdbNoIndex; }
  TVdbCursorType RequestedCursorType() const noexcept { return FRequestedCursorType; }

 private:
  TVdbCatalog& FCatalog;
  TVdbLastError& FLastError;
  TVdbCursorType FRequestedCursorType = tctUnspecified;
  int FCompat = 0;
  TVdbSqlVariableList FParameters;
  std::vector<std::unique_ptr<TVdbCommand>> FCommands;
  std::int32_t FLastErrorRow = 0;
  std::int32_t FLastErrorCol = 0;
  bool FPrepared = false;
};

}  // namespace vdb
