/* VidoraDB call interface: flat C functions over integer handles.
   Every function returns a signed 16-bit status: 0 or positive is success or a result,
   negative a failure code of the call-interface status table. Strings are UTF-16. */
#ifndef VIDORADB_VDBAPI_H
#define VIDORADB_VDBAPI_H

#include <stdint.h>

#if defined(VDBAPI_BUILD)
#define VDBAPI __attribute__((visibility("default")))
#else
#define VDBAPI
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef int16_t TVdbResult;
typedef uint16_t VdbChar; /* one UTF-16 code unit */

/* Text buffers. A function that hands out a text receives the caller's buffer and its
   capacity MaxLen in VdbChar units, the terminating NUL included: it writes at most
   MaxLen - 1 characters and a NUL, cutting a longer text (never between the halves of a
   surrogate pair). MaxLen 0 or less, or a null buffer, writes nothing. */

/* Copies the text of call-interface status VdbError (for example -100 "Error in VidoraDB
   Engine") into ErrorMsg; a status that is not in the status table gives the text of
   status 1, "Unknown error". Returns 0. */
VDBAPI TVdbResult VdbGetErrorMsg(int32_t VdbError, VdbChar* ErrorMsg, int32_t MaxLen);

#ifdef __cplusplus
}
#endif

#endif /* VIDORADB_VDBAPI_H */
