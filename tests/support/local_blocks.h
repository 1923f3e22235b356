// The local-memory blocks GetComment hands over, read as a host reads them.
// Header-only: it calls the plug-in's local-memory stand-ins (natively) or
// KERNEL32 (on Windows), whichever the program links.
#ifndef PNGCOMMENT_TESTS_SUPPORT_LOCAL_BLOCKS_H
#define PNGCOMMENT_TESTS_SUPPORT_LOCAL_BLOCKS_H

#include <string>

#include "platform/local_memory.h"
#include "tests/support/png_model.h"

namespace pngtest {

// The bytes of a block: none for a block of 0 bytes, which is never locked.
inline std::string BlockBytes(HLOCAL handle) {
  const SIZE_T size = LocalSize(handle);
  if (size == 0) return std::string();
  const void* block = LocalLock(handle);
  Require(block != nullptr, "a non-empty block cannot be locked");
  std::string bytes(static_cast<const char*>(block), size);
  LocalUnlock(handle);
  return bytes;
}

}  // namespace pngtest

#endif
