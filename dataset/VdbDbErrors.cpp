#include "VdbDbErrors.h"

namespace vdbds {

namespace {

// Statuses of the handle layer: they say nothing the session could add a reason to.
bool IsHandleLevelStatus(std::int32_t result) {
  switch (result) {
    case -101: case -102: case -104: case -105: case -106: case -107: case -108: case -203:
      return true;
    default:
      return false;
  }
}

constexpr std::int32_t kGenericEngineStatus = -100;

}  // namespace

void RaiseEngineError(TVdbCalls& calls, std::int16_t sessHdl, std::u16string_view context, std::int32_t result) {
  std::u16string message;
  if (result != kGenericEngineStatus) message = calls.GetErrorMsg(result);
  if (IsHandleLevelStatus(result)) tk::DatabaseError(u"%s: %s", {context, message});
  std::int16_t reason = 0;
  std::u16string reasonText;
  if (calls.SessGetLastError(sessHdl, reason, reasonText) < 0) {
    reason = 0;
    reasonText.clear();
  }
  const auto status = static_cast<std::int16_t>(result);
  if (reason == 0) throw EVidoraDBError(tk::FormatText(u"%s: %s", {context, message}), status, 0);
  if (result == kGenericEngineStatus)
    throw EVidoraDBError(tk::FormatText(u"%s: %s", {context, reasonText}), status, reason);
  throw EVidoraDBError(tk::FormatText(u"%s: %s. %s", {context, message, reasonText}), status, reason);
}

void RaiseEngineErrorFmt(TVdbCalls& calls, std::int16_t sessHdl, std::u16string_view pattern,
                         std::initializer_list<std::u16string_view> args, std::int32_t result) {
  RaiseEngineError(calls, sessHdl, tk::FormatText(pattern, args), result);
}

std::int32_t CheckEngineResult(TVdbCalls& calls, std::int16_t sessHdl, std::u16string_view context,
                               std::int32_t result) {
  if (result < 0) RaiseEngineError(calls, sessHdl, context, result);
  return result;
}

}  // namespace vdbds
