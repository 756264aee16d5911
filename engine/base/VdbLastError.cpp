// Recording a session's last error.
#include "base/VdbLastError.h"

#include <algorithm>

#include "base/VdbErrorCodes.h"
#include "base/VdbMessages.h"

namespace vdb {

namespace {

// Description of error 52 when an internal unwinding reaches a boundary with no recorded
// cause. Error 52 ("Unknown error: %s") is the table's text for a failure whose cause the
// engine cannot name; any specific code would claim a cause that did not happen.
constexpr std::u16string_view kUnexplainedUnwind = u"internal failure without a recorded error";

std::u16string TabsToBlanks(std::u16string_view s) {
  std::u16string out(s);
  std::replace(out.begin(), out.end(), u'\t', u' ');
  return out;
}

std::uint16_t ClampPosition(std::int32_t charNo) {
  return static_cast<std::uint16_t>(std::clamp<std::int32_t>(charNo, 0, UINT16_MAX));
}

}  // namespace

std::int16_t TVdbLastError::SetLastError(std::int16_t code, std::u16string_view description) {
  return SetLastError(code, TVdbFmtArgs{TVdbFmtArg(description)});
}

std::int16_t TVdbLastError::SetLastError(std::int16_t code, const TVdbFmtArgs& args) {
  if (std::optional<std::u16string> text = FormatEngineMessage(code, args)) {
    return RecordError(code, *text);
  }
  return RecordError(code, u"Invalid error message: " + std::u16string(EngineMessageText(code)));
}

std::int16_t TVdbLastError::SetLastError(std::int16_t code,
                                         std::initializer_list<TVdbFmtArg> args) {
  return SetLastError(code, TVdbFmtArgs(args));
}

std::int16_t TVdbLastError::SetLastError(const EVdbEngine& exc) {
  if (const auto* compilerError = dynamic_cast<const EVdbCompilerError*>(&exc)) {
    return SetLastCompilerError(*compilerError);
  }
  return RecordError(exc.Code(), exc.Message());
}

std::int16_t TVdbLastError::SetLastErrorSince(const EVdbEngine& exc, TGeneration start) {
  if (exc.IsInternalUnwind() && FGeneration == start) return RecordUnexplainedUnwind();
  return SetLastError(exc);
}

std::int16_t TVdbLastError::SetLastCompilerError(const EVdbCompilerError& exc) {
  const std::int16_t status = RecordError(exc.Code(), exc.Message());
  // An unwinding or a code that was recorded as another error keeps the recorded position.
  if (IsEngineErrorCode(exc.Code())) {
    FLastErrorUnitName = exc.UnitName();
    FLastErrorLineNo = exc.LineNo();
    SetPosition(exc.Line(), ClampPosition(exc.CharNo()));
  }
  return status;
}

std::int16_t TVdbLastError::SetLastErrorPos(std::int16_t code, std::u16string_view description,
                                            std::uint16_t position,
                                            std::u16string_view expression) {
  const std::int16_t status = SetLastError(code, description);
  if (IsEngineErrorCode(code)) SetPosition(expression, position);
  return status;
}

std::int16_t TVdbLastError::SetLastErrorMsgPos(std::int16_t code, std::u16string_view msg,
                                               std::uint16_t position,
                                               std::u16string_view expression) {
  const std::int16_t status = RecordError(code, msg);
  if (IsEngineErrorCode(code)) SetPosition(expression, position);
  return status;
}

void TVdbLastError::ClearLastError() noexcept {
  FLastErrorCode = 0;
  FLastErrorMsg.clear();
  FLastErrorUnitName.clear();
  FLastErrorLine.clear();
  FLastErrorLineNo = 0;
  FLastErrorPos = 0;
}

std::optional<EVdbEngine> TVdbLastError::CreateLastErrorExc() const {
  if (FLastErrorCode <= 0) return std::nullopt;
  return EVdbEngine::CreateMsg(FLastErrorCode, FLastErrorMsg);
}

std::int16_t TVdbLastError::RecordError(std::int16_t code, std::u16string_view text) {
  if (code == VDB_INTERNAL_UNWIND) {
    if (FLastErrorCode > 0) return static_cast<std::int16_t>(-FLastErrorCode);
    return RecordUnexplainedUnwind();
  }
  if (!IsEngineErrorCode(code)) {
    std::u16string description =
        VdbFormat(u"invalid engine error code %d", {TVdbFmtArg(code)}).value_or(u"");
    if (!text.empty()) description.append(u": ").append(text);
    return SetLastError(errUnknown, description);
  }
  FLastErrorCode = code;
  FLastErrorMsg.assign(text);
  ++FGeneration;
  if (FLog != nullptr && code != errRecordNotFound) {
    const std::u16string subsystem = VdbFormat(u"Error %d", {TVdbFmtArg(code)}).value_or(u"Error");
    FLog->Write(kErrorLogLevel, subsystem, FLastErrorMsg);
  }
  return static_cast<std::int16_t>(-FLastErrorCode);
}

std::int16_t TVdbLastError::RecordUnexplainedUnwind() {
  return SetLastError(errUnknown, kUnexplainedUnwind);
}

void TVdbLastError::SetPosition(std::u16string_view line, std::uint16_t position) {
  FLastErrorLine = TabsToBlanks(line);
  FLastErrorPos = position;
}

}  // namespace vdb
