// The seam's message pump (platform/os.h), apart from the plug-in's other
// calls: the stream codec pumps, and the command-line host links the codec.
#include "platform/os.h"
#include "platform/windows_types.h"

namespace pngc::os {

namespace {
thread_local std::uint64_t t_dispatched = 0;
}  // namespace

std::uint64_t DispatchedMessages() { return t_dispatched; }

bool PumpMessages() {
#ifdef _WIN32
  MSG message;
  while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      ::PostQuitMessage(static_cast<int>(message.wParam));
      return false;
    }
    ++t_dispatched;
    ::TranslateMessage(&message);
    ::DispatchMessageA(&message);
  }
#endif
  return true;
}

}  // namespace pngc::os
