// Error boundaries: where engine exceptions become status codes.
// Inside the engine failures travel as EVdbEngine exceptions; the table, accessor and catalog
// operations (engine boundary) and the exported call-interface functions (call-interface
// boundary) catch them, record them as the session's last error and return a status.
// Both helpers take the session's recorder, so they run on the session's calling thread.
#pragma once

#include <concepts>
#include <cstdint>
#include <exception>
#include <functional>
#include <type_traits>
#include <utility>

#include "base/VdbErrorCodes.h"
#include "base/VdbErrors.h"
#include "base/VdbLastError.h"

namespace vdb {

namespace detail {
template <class F>
using TGuardResult = std::conditional_t<std::is_void_v<std::invoke_result_t<F>>, std::int16_t,
                                        std::invoke_result_t<F>>;

// Records a non-engine exception as error 123 ("Exception: %s"). Never throws: when even the
// recording fails, the caller still returns its failure status.
void RecordForeignException(TVdbLastError& lastError, const char* what) noexcept;
}  // namespace detail

// Engine boundary (table, accessor and catalog operations).
// Runs `op` and returns its status (0 when `op` returns nothing; `op` returns an integral
// status otherwise, 16-bit or 32-bit). An EVdbEngine leaving `op` is recorded in `lastError`
// and its negated code returned. The internal unwinding exception (9999) keeps the error
// recorded since this call started; when none was, a generic error is recorded instead of
// returning an older error or success (see TVdbLastError::SetLastErrorSince).
// Other exceptions pass through to the call-interface boundary.
template <class F>
  requires std::invocable<F> && (std::is_void_v<std::invoke_result_t<F>> ||
                                 std::is_integral_v<std::invoke_result_t<F>>)
detail::TGuardResult<F> GuardEngineCall(TVdbLastError& lastError, F&& op) {
  using R = detail::TGuardResult<F>;
  const TVdbLastError::TGeneration start = lastError.Generation();
  try {
    if constexpr (std::is_void_v<std::invoke_result_t<F>>) {
      std::invoke(std::forward<F>(op));
      return R{0};
    } else {
      return std::invoke(std::forward<F>(op));
    }
  } catch (const EVdbEngine& e) {
    return static_cast<R>(lastError.SetLastErrorSince(e, start));
  }
}

// Statuses a call-interface function returns on failure.
struct TVdbApiFailure {
  // For an engine error; most functions answer -100 "Error in VidoraDB Engine".
  std::int16_t EngineStatus = stsEngineError;
  // For any other exception: -102, or -100 where the function says so.
  std::int16_t OtherStatus = stsInternalError;
  // When set, gives the status for the recorded engine error number (1..190) instead of
  // EngineStatus, e.g. 94 → -2. Must return a negative status.
  std::int16_t (*MapEngineCode)(std::int16_t engineCode) = nullptr;
};

// Call-interface boundary: nothing escapes into the C caller.
// Runs `op` and returns its result. An EVdbEngine is recorded (as by GuardEngineCall) and
// answered with failure.MapEngineCode(recorded code) or failure.EngineStatus. Any other
// exception is recorded as engine error 123 with its text ("Exception: %s") and answered with
// failure.OtherStatus. `lastError` is the recorder of the session the call resolved to.
template <class F>
  requires std::invocable<F> && (std::is_void_v<std::invoke_result_t<F>> ||
                                 std::is_integral_v<std::invoke_result_t<F>>)
detail::TGuardResult<F> GuardApiCall(TVdbLastError& lastError, F&& op,
                                     const TVdbApiFailure& failure = {}) noexcept {
  using R = detail::TGuardResult<F>;
  const TVdbLastError::TGeneration start = lastError.Generation();
  try {
    if constexpr (std::is_void_v<std::invoke_result_t<F>>) {
      std::invoke(std::forward<F>(op));
      return R{0};
    } else {
      return std::invoke(std::forward<F>(op));
    }
  } catch (const EVdbEngine& e) {
    try {
      const std::int16_t code = static_cast<std::int16_t>(-lastError.SetLastErrorSince(e, start));
      if (failure.MapEngineCode != nullptr) return static_cast<R>(failure.MapEngineCode(code));
    } catch (...) {
      // Recording failed (out of memory): the status below still reports the failure.
    }
    return static_cast<R>(failure.EngineStatus);
  } catch (const std::exception& e) {
    detail::RecordForeignException(lastError, e.what());
    return static_cast<R>(failure.OtherStatus);
  } catch (...) {
    detail::RecordForeignException(lastError, "unknown exception");
    return static_cast<R>(failure.OtherStatus);
  }
}

}  // namespace vdb
