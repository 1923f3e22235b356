#include "stream/allocation.h"

#include <cstdlib>

namespace pngc {
namespace {
AllocationFaultHook g_fault_hook = nullptr;
bool Injected() { return g_fault_hook != nullptr && g_fault_hook(); }
}  // namespace

void SetAllocationFaultHook(AllocationFaultHook hook) { g_fault_hook = hook; }

// A size of 0 still asks for one byte, so that null always means failure.
void* AllocateBytes(std::size_t size) {
  return Injected() ? nullptr : std::malloc(size != 0 ? size : 1);
}

void* AllocateZeroedBytes(std::size_t size) {
  return Injected() ? nullptr : std::calloc(size != 0 ? size : 1, 1);
}

void* ReallocateBytes(void* block, std::size_t size) {
  return Injected() ? nullptr : std::realloc(block, size != 0 ? size : 1);
}

void FreeBytes(void* block) { std::free(block); }

}  // namespace pngc
