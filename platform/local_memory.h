// Local-memory handles, the way GetComment hands its texts to the host.
// On Windows these are KERNEL32's own functions. Elsewhere the shared library
// provides and exports stand-ins with the same names and C linkage, so that a
// host on Linux can lock, measure and free the handles it receives.
//
// The stand-ins model what the plug-in and its hosts use: LMEM_MOVEABLE
// blocks (LMEM_ZEROINIT fills them with zeros). As on Windows, a moveable
// block of 0 bytes is "discarded": its handle is valid, LocalSize gives 0 and
// LocalLock gives NULL. A handle that the stand-ins did not make is refused
// (NULL, 0 or the handle itself, as Windows answers an invalid handle).
#ifndef PNGCOMMENT_PLATFORM_LOCAL_MEMORY_H
#define PNGCOMMENT_PLATFORM_LOCAL_MEMORY_H

#include "platform/windows_types.h"

#ifndef _WIN32
#ifdef __cplusplus
#define PNGC_SYSTEM_API extern "C" __attribute__((visibility("default")))
#else
#define PNGC_SYSTEM_API __attribute__((visibility("default")))
#endif

// A new block of `bytes` bytes, or NULL when memory cannot be had.
PNGC_SYSTEM_API HLOCAL LocalAlloc(UINT flags, SIZE_T bytes);
// The block's address, counting one more lock; NULL for a discarded block.
PNGC_SYSTEM_API LPVOID LocalLock(HLOCAL handle);
// Counts one lock less; non-zero while the block stays locked.
PNGC_SYSTEM_API BOOL LocalUnlock(HLOCAL handle);
// Frees the block: NULL on success, the handle itself when it is not valid.
PNGC_SYSTEM_API HLOCAL LocalFree(HLOCAL handle);
// The block's size in bytes; 0 for a discarded block or an invalid handle.
PNGC_SYSTEM_API SIZE_T LocalSize(HLOCAL handle);
#endif

#endif
