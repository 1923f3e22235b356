// The seam's calls that are the same on every system.
#include "platform/os.h"

#include <cstdio>

#include "platform/local_memory.h"

namespace pngc::os {

LocalHandle AllocateLocal(std::size_t bytes) {
  if (Injected(Call::kLocalAlloc)) return nullptr;
  return ::LocalAlloc(LMEM_MOVEABLE | LMEM_ZEROINIT, bytes);
}

void* LockLocal(LocalHandle handle) {
  if (Injected(Call::kLocalLock)) return nullptr;
  return ::LocalLock(static_cast<HLOCAL>(handle));
}

void UnlockLocal(LocalHandle handle) { ::LocalUnlock(static_cast<HLOCAL>(handle)); }

void FreeLocal(LocalHandle handle) {
  if (handle != nullptr) ::LocalFree(static_cast<HLOCAL>(handle));
}

void ShowMessage(void* owner, const char* text, const char* caption) {
#ifdef _WIN32
  ::MessageBoxA(static_cast<HWND>(owner), text, caption, MB_OK | MB_ICONINFORMATION);
#else
  // No window system to wait on: the text goes to the terminal instead.
  (void)owner;
  std::fprintf(stderr, "%s\n%s\n", caption, text);
#endif
}

}  // namespace pngc::os
