// The exported functions of the call interface. Each converts engine exceptions into the
// status codes of the call-interface status table; nothing escapes into the C caller.
#include "vidoradb/vdbapi.h"
