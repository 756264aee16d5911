// Engine errors: the exception every engine layer raises, its format arguments, the
// compiler-error family of the SQL parser and the script language, and the raising routines.
// An EVdbEngine carries an engine error number (1..190, or 9999 for the internal unwinding
// exception) and the message formed from the engine message table. Immutable once built;
// any thread may create and read one.
#pragma once

#include <cstdint>
#include <exception>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "base/VdbFormat.h"  // TVdbFmtArg, TVdbFmtArgs

namespace vdb {

// Engine error number of the internal unwinding exception: the real error was recorded before.
inline constexpr std::int16_t VDB_INTERNAL_UNWIND = 9999;

class EVdbEngine : public std::exception {
 public:
  // Create(ACode, ADescription): the table text for ACode filled with one text argument.
  EVdbEngine(std::int16_t code, std::u16string_view description);
  // Create(ACode, Args): the table text for ACode filled with Args. When formatting fails,
  // the message is the unformatted table text; surplus arguments are ignored. Code 9999 gets
  // a fixed text that marks the exception as internal unwinding.
  explicit EVdbEngine(std::int16_t code, TVdbFmtArgs args = {});
  EVdbEngine(std::int16_t code, std::initializer_list<TVdbFmtArg> args)
      : EVdbEngine(code, TVdbFmtArgs(args)) {}
  // CreateMsg(ACode, AMessage): a ready message.
  static EVdbEngine CreateMsg(std::int16_t code, std::u16string message);

  std::int16_t Code() const noexcept { return FCode; }
  const std::u16string& Message() const noexcept { return FMessage; }
  // UTF-8 form of Message(), for diagnostics only.
  const char* what() const noexcept override { return FWhat.c_str(); }

  // True for the internal unwinding exception (code 9999).
  bool IsInternalUnwind() const noexcept { return FCode == VDB_INTERNAL_UNWIND; }

 protected:
  struct ReadyMessage {};
  EVdbEngine(ReadyMessage, std::int16_t code, std::u16string message);

 private:
  std::int16_t FCode;
  std::u16string FMessage;
  std::string FWhat;
};

// An engine error with the place in a source text where it was found: the module or
// statement name, the source line, its line number and the character position in that line.
class EVdbCompilerError : public EVdbEngine {
 public:
  // Message as EVdbEngine(code, args), then the four position fields.
  EVdbCompilerError(std::int16_t code, std::u16string unitName, std::u16string line,
                    std::int32_t lineNo, std::int32_t charNo, TVdbFmtArgs args = {});

  const std::u16string& UnitName() const noexcept { return FErrorUnitName; }
  const std::u16string& Line() const noexcept { return FErrorLine; }
  std::int32_t LineNo() const noexcept { return FErrorLineNo; }
  std::int32_t CharNo() const noexcept { return FErrorCharNo; }

 private:
  std::u16string FErrorUnitName;
  std::u16string FErrorLine;
  std::int32_t FErrorLineNo;
  std::int32_t FErrorCharNo;
};

// Errors of the script language compiler.
class EVplSyntaxError : public EVdbCompilerError {
 public:
  using EVdbCompilerError::EVdbCompilerError;
};

class EVplUnexpectedToken : public EVdbCompilerError {
 public:
  using EVdbCompilerError::EVdbCompilerError;
};

// A member (method or property) was expected after an object expression.
class EVplMemberExpected : public EVdbCompilerError {
 public:
  // `expectedDataType` is the column type code of the value the member must yield.
  EVplMemberExpected(std::int16_t code, std::u16string unitName, std::u16string line,
                     std::int32_t lineNo, std::int32_t charNo, bool isStatic,
                     std::int16_t classId, std::int16_t expectedDataType, TVdbFmtArgs args = {});

  bool IsStatic() const noexcept { return FStatic; }
  std::int16_t ClassId() const noexcept { return FClassId; }
  std::int16_t ExpectedDataType() const noexcept { return FExpectedDataType; }

 private:
  bool FStatic;
  std::int16_t FClassId;
  std::int16_t FExpectedDataType;
};

// Unit name every SQL parser error carries.
inline constexpr std::u16string_view kSqlParserUnitName = u"SQL command";

// An error of the SQL scanner or parser at row `lineNo`, column `charNo` of the statement;
// `line` is the statement's line at that row, `desc` a short description for diagnostics.
class ESqlParser : public EVdbCompilerError {
 public:
  ESqlParser(std::int16_t code, std::u16string line, std::int32_t lineNo, std::int32_t charNo,
             std::u16string desc, TVdbFmtArgs args = {});

  const std::u16string& Desc() const noexcept { return FDesc; }

 private:
  std::u16string FDesc;
};

// A token other than the expected one; `tokenFound` is the text of the token found.
class EVdbSqlUnexpectedToken : public ESqlParser {
 public:
  EVdbSqlUnexpectedToken(std::int16_t code, std::u16string line, std::int32_t lineNo,
                         std::int32_t charNo, std::u16string desc, std::u16string tokenFound,
                         TVdbFmtArgs args = {});

  const std::u16string& TokenFound() const noexcept { return FTokenFound; }

 private:
  std::u16string FTokenFound;
};

// An error while executing an SQL command.
class ESqlCommand : public EVdbEngine {
 public:
  using EVdbEngine::EVdbEngine;
  // A ready message, as EVdbEngine::CreateMsg.
  static ESqlCommand CreateMsg(std::int16_t code, std::u16string message);
};

// Raising routines. Every code passed must be an engine error number (1..190) of the
// message table, or 9999 where the routine says so.

// Raises EVdbEngine(code, description).
[[noreturn]] void RaiseEngineError(std::int16_t code, std::u16string_view description);
// Raises EVdbEngine(code, args).
[[noreturn]] void RaiseEngineError(std::int16_t code, TVdbFmtArgs args = {});
[[noreturn]] void RaiseEngineError(std::int16_t code, std::initializer_list<TVdbFmtArg> args);

// Returns `status` when it is 0 or positive; a negative status -n raises EVdbEngine(n, args).
// A negative status that is not the negation of an engine error number (1..190), such as a
// call-interface status below -190, raises error 52 ("Unknown error: %s") naming the status
// instead, so that the failure keeps a message and is not lost.
std::int16_t CheckEngineCode(std::int16_t status, TVdbFmtArgs args = {});
// The same for the 32-bit results of counts and record numbers.
std::int32_t CheckEngineCode(std::int32_t status, TVdbFmtArgs args = {});

// Returns `status` when it is 0 or positive; a negative status raises the internal unwinding
// exception (9999). Only for a status whose error is already recorded in the session: the
// boundary that catches the exception leaves that error in place and returns its code.
std::int16_t CheckInternal(std::int16_t status);
std::int32_t CheckInternal(std::int32_t status);

}  // namespace vdb
