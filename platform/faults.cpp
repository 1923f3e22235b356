// The seam's fault hook (platform/os.h).
#include "platform/os.h"

namespace pngc::os {
namespace {
FaultHook g_fault_hook = nullptr;
}  // namespace

void SetFaultHook(FaultHook hook) { g_fault_hook = hook; }

bool Injected(Call call) { return g_fault_hook != nullptr && g_fault_hook(call); }

}  // namespace pngc::os
