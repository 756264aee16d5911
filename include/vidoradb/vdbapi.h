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

#ifdef __cplusplus
}
#endif

#endif /* VIDORADB_VDBAPI_H */
