// The exported functions of the call interface. Each converts engine exceptions into the
// status codes of the call-interface status table; nothing escapes into the C caller.
#include "vidoradb/vdbapi.h"

#include "base/VdbMessages.h"

extern "C" {

VDBAPI TVdbResult VdbGetErrorMsg(int32_t VdbError, VdbChar* ErrorMsg, int32_t MaxLen) {
  // Reads constant tables only and cannot fail, so it needs no session and no guard.
  vdb::CopyToCallerBuffer(vdb::StatusText(VdbError), ErrorMsg, MaxLen);
  return 0;
}

}  // extern "C"
