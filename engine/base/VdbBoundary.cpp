// Recording of exceptions that are not engine errors at the call-interface boundary.
#include "base/VdbBoundary.h"

namespace vdb::detail {

void RecordForeignException(TVdbLastError& lastError, const char* what) noexcept {
  try {
    lastError.SetLastError(errException, {TVdbFmtArg(what != nullptr ? what : "")});
  } catch (...) {
    // Out of memory while recording: the caller's failure status still reports the failure.
  }
}

}  // namespace vdb::detail
