// The plug-in's five exports, as a host calls them. On Windows they use the
// standard calling convention (stdcall) and every argument and result is 32
// bits wide; elsewhere they are plain C functions of the shared library,
// which also provides the local-memory functions a host frees the texts
// with (platform/local_memory.h). For C and C++ hosts alike.
#ifndef PNGCOMMENT_PLUGIN_PNGCOMMENT_H
#define PNGCOMMENT_PLUGIN_PNGCOMMENT_H

#include <stdint.h>

#include "platform/local_memory.h"
#include "platform/windows_types.h"

#ifdef _WIN32
#define PNGC_CALL __stdcall
#define PNGC_EXPORT
#else
#define PNGC_CALL
#define PNGC_EXPORT __attribute__((visibility("default")))
#endif

// Results of the exports: 0 is success, a negative value a refusal or failure.
enum PngcResult
#ifdef __cplusplus
    : int32_t
#endif
{
  kPngcOk = 0,               // done; for IsSupported: the data is a PNG
  kPngcQueryAnswer = 1,      // ConfigurationDlg: the answer to request 2
  kPngcNotPng = -1,          // IsSupported: no PNG signature (or a null pointer)
  kPngcFailed = -4,          // GetComment, WriteComment: the work ended early
                             // (out of memory, bad arguments); nothing written
  kPngcNotSaved = -5,        // WriteComment: the file could not be written and
                             // is exactly as it was
  kPngcUnknownRequest = -6,  // ConfigurationDlg: a request other than 0 and 2
};

// What a host may tell its user of a result (a host that passes valid
// arguments meets -4 only when memory runs out).
static inline const char* PngcResultText(int32_t result) {
  switch (result) {
    case kPngcOk:
      return "done";
    case kPngcQueryAnswer:
      return "answered";
    case kPngcNotPng:
      return "not a PNG file";
    case kPngcFailed:
      return "out of memory";
    case kPngcNotSaved:
      return "could not be written, file left unchanged";
    case kPngcUnknownRequest:
      return "unknown request";
    default:
      return "unknown result";
  }
}

#ifdef __cplusplus
extern "C" {
#endif

// Copies information string `index` (0 "CPI1", 1 the description, 2 "*.png",
// 3 "PNG Image (ZLib Text)") with its terminating zero into `buffer` and
// returns its length without the zero. Any other index returns 0 and leaves
// the buffer untouched, as does a null buffer. The copy is not limited by
// `buffer_length`: the buffer must hold the description and its zero.
PNGC_EXPORT int32_t PNGC_CALL GetPluginInfo(int32_t index, char* buffer, int32_t buffer_length);

// Request 0 shows the about box owned by `parent` and returns 0 when it is
// closed; request 2 returns 1 and shows nothing; any other request is
// refused with -6.
PNGC_EXPORT int32_t PNGC_CALL ConfigurationDlg(HWND parent, int32_t request);

// 0 when the eight bytes at `data` are the PNG signature, -1 otherwise or
// when `data` is null. Reads nothing past the eighth byte.
PNGC_EXPORT int32_t PNGC_CALL IsSupported(const char* data, uintptr_t unused);

// Reads the PNG of `size` bytes at `image`: *summary receives a local-memory
// block of the image summary, *comment (only when the PNG has text) one of
// the comment text and a NUL. 0 on success, -4 when memory runs out.
PNGC_EXPORT int32_t PNGC_CALL GetComment(uintptr_t unused, const uint8_t* image, int32_t size,
                                         HLOCAL* comment, HLOCAL* summary);

// Writes the PNG at `image`, its tEXt and zTXt chunks replaced by chunks made
// from the `length` bytes of comment text at `comment` (a length of 0: no
// text chunks), to `file_name`; a section left as GetComment showed it keeps
// its old chunk's bytes. 0 when the new file is in place; -5 when it
// could not be written (the file is then exactly as it was); -4 when memory
// runs out, or the image is not a PNG (null, under 8 bytes, or without the
// signature), or `length` is negative, or a pointer is null with a positive
// count (nothing is written). On -5 and -4 the thread's last error says why
// (errno on Linux, GetLastError on Windows): the failing step's own error,
// such as ENOSPC, EACCES or EPERM (an owner or attribute the new file could
// not keep); ESTALE / ERROR_FILE_INVALID when another program changed or
// replaced the file during the save; ENOMEM / ERROR_NOT_ENOUGH_MEMORY;
// EINVAL / ERROR_INVALID_PARAMETER for bad arguments.
PNGC_EXPORT int32_t PNGC_CALL WriteComment(uintptr_t unused, const char* file_name,
                                           const uint8_t* image, int32_t size, const char* comment,
                                           int32_t length);

#ifdef __cplusplus
}  // extern "C"
#endif

#endif
