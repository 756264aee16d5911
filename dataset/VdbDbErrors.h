// Errors of the dataset components and the one routine that turns a negative engine result
// into an exception with a readable text: the context of the failed operation, the call
// interface's text for the status and, when the session recorded one, the engine's reason.
// Any thread (the components use them from the GUI thread).
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "VdbCalls.h"
#include "db/DbErrors.h"

namespace vdbds {

// An engine failure: VdbError is the call interface's status (negative), Reason the engine
// error the session recorded for it (0 when none).
class EVidoraDBError : public tk::EDatabaseError {
 public:
  EVidoraDBError(const std::u16string& message, std::int16_t vdbError, std::int16_t reason)
      : tk::EDatabaseError(message), FVdbError(vdbError), FReason(reason) {}
  std::int16_t VdbError() const noexcept { return FVdbError; }
  std::int16_t Reason() const noexcept { return FReason; }

 private:
  std::int16_t FVdbError;
  std::int16_t FReason;
};

// A faulty expression: the expression, its line and what is wrong with it.
class EVidoraDBExpressionError : public EVidoraDBError {
 public:
  EVidoraDBExpressionError(const std::u16string& message, std::int16_t vdbError, std::int16_t reason,
                           std::u16string expression, std::u16string errorLine, std::u16string errorReason)
      : EVidoraDBError(message, vdbError, reason),
        Expression(std::move(expression)),
        ErrorLine(std::move(errorLine)),
        ErrorReason(std::move(errorReason)) {}
  std::u16string Expression;
  std::u16string ErrorLine;
  std::u16string ErrorReason;
};

// Raises for the negative engine result `result` of an operation described by `context`
// on session `sessHdl` (-1 when there is none yet):
//   - handle-level statuses (a stale or foreign handle, an exception inside the interface)
//     give a plain EDatabaseError "context: status text";
//   - without a recorded reason: EVidoraDBError "context: status text";
//   - with a reason, for the generic engine status -100: "context: reason text";
//   - with a reason otherwise: "context: status text. reason text".
[[noreturn]] void RaiseEngineError(TVdbCalls& calls, std::int16_t sessHdl, std::u16string_view context,
                                   std::int32_t result);
// The same with the context filled from a "%s"/"%d" template.
[[noreturn]] void RaiseEngineErrorFmt(TVdbCalls& calls, std::int16_t sessHdl, std::u16string_view pattern,
                                      std::initializer_list<std::u16string_view> args, std::int32_t result);
// Raises only when result is negative; returns it otherwise.
std::int32_t CheckEngineResult(TVdbCalls& calls, std::int16_t sessHdl, std::u16string_view context,
                               std::int32_t result);

}  // namespace vdbds
