// Forming engine exception messages from the engine message table, and the raising routines.
#include "base/VdbErrors.h"

#include <string>
#include <utility>

#include "base/VdbErrorCodes.h"
#include "base/VdbMessages.h"

namespace vdb {

namespace {

std::u16string FormMessage(std::int16_t code, const TVdbFmtArgs& args) {
  if (code == VDB_INTERNAL_UNWIND) return std::u16string(InternalUnwindText());
  if (std::optional<std::u16string> text = FormatEngineMessage(code, args)) return std::move(*text);
  // A template that does not fit its arguments still gives a readable message.
  return std::u16string(EngineMessageText(code));
}

// The engine error raised for a negative status that names no engine error.
[[noreturn]] void RaiseUnknownStatus(std::int32_t status) {
  const std::u16string description =
      VdbFormat(u"status %d", {TVdbFmtArg(status)}).value_or(u"status");
  throw EVdbEngine(errUnknown, description);
}

template <class T>
T CheckCode(T status, TVdbFmtArgs args) {
  if (status >= 0) return status;
  // 64 bits, so that negating the smallest 32-bit status cannot overflow.
  const std::int64_t code = -static_cast<std::int64_t>(status);
  if (code > kLastEngineErrorCode) RaiseUnknownStatus(status);
  throw EVdbEngine(static_cast<std::int16_t>(code), std::move(args));
}

template <class T>
T CheckUnwind(T status) {
  if (status < 0) throw EVdbEngine(VDB_INTERNAL_UNWIND);
  return status;
}

}  // namespace

EVdbEngine::EVdbEngine(std::int16_t code, std::u16string_view description)
    : EVdbEngine(code, TVdbFmtArgs{TVdbFmtArg(description)}) {}

EVdbEngine::EVdbEngine(std::int16_t code, TVdbFmtArgs args)
    : EVdbEngine(ReadyMessage{}, code, FormMessage(code, args)) {}

EVdbEngine EVdbEngine::CreateMsg(std::int16_t code, std::u16string message) {
  return EVdbEngine(ReadyMessage{}, code, std::move(message));
}

EVdbEngine::EVdbEngine(ReadyMessage, std::int16_t code, std::u16string message)
    : FCode(code), FMessage(std::move(message)), FWhat(VdbUtf16ToUtf8(FMessage)) {}

EVdbCompilerError::EVdbCompilerError(std::int16_t code, std::u16string unitName,
                                     std::u16string line, std::int32_t lineNo,
                                     std::int32_t charNo, TVdbFmtArgs args)
    : EVdbEngine(code, std::move(args)),
      FErrorUnitName(std::move(unitName)),
      FErrorLine(std::move(line)),
      FErrorLineNo(lineNo),
      FErrorCharNo(charNo) {}

EVplMemberExpected::EVplMemberExpected(std::int16_t code, std::u16string unitName,
                                       std::u16string line, std::int32_t lineNo,
                                       std::int32_t charNo, bool isStatic, std::int16_t classId,
                                       std::int16_t expectedDataType, TVdbFmtArgs args)
    : EVdbCompilerError(code, std::move(unitName), std::move(line), lineNo, charNo,
                        std::move(args)),
      FStatic(isStatic),
      FClassId(classId),
      FExpectedDataType(expectedDataType) {}

ESqlParser::ESqlParser(std::int16_t code, std::u16string line, std::int32_t lineNo,
                       std::int32_t charNo, std::u16string desc, TVdbFmtArgs args)
    : EVdbCompilerError(code, std::u16string(kSqlParserUnitName), std::move(line), lineNo, charNo,
                        std::move(args)),
      FDesc(std::move(desc)) {}

EVdbSqlUnexpectedToken::EVdbSqlUnexpectedToken(std::int16_t code, std::u16string line,
                                               std::int32_t lineNo, std::int32_t charNo,
                                               std::u16string desc, std::u16string tokenFound,
                                               TVdbFmtArgs args)
    : ESqlParser(code, std::move(line), lineNo, charNo, std::move(desc), std::move(args)),
      FTokenFound(std::move(tokenFound)) {}

ESqlCommand ESqlCommand::CreateMsg(std::int16_t code, std::u16string message) {
  return ESqlCommand(ReadyMessage{}, code, std::move(message));
}

void RaiseEngineError(std::int16_t code, std::u16string_view description) {
  throw EVdbEngine(code, description);
}

void RaiseEngineError(std::int16_t code, TVdbFmtArgs args) {
  throw EVdbEngine(code, std::move(args));
}

void RaiseEngineError(std::int16_t code, std::initializer_list<TVdbFmtArg> args) {
  throw EVdbEngine(code, TVdbFmtArgs(args));
}

std::int16_t CheckEngineCode(std::int16_t status, TVdbFmtArgs args) {
  return CheckCode(status, std::move(args));
}

std::int32_t CheckEngineCode(std::int32_t status, TVdbFmtArgs args) {
  return CheckCode(status, std::move(args));
}

std::int16_t CheckInternal(std::int16_t status) { return CheckUnwind(status); }

std::int32_t CheckInternal(std::int32_t status) { return CheckUnwind(status); }

}  // namespace vdb
