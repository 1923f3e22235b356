#include "stream/allocation.h"

#include <cstdint>
#include <cstdlib>

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace pngc {
namespace {
AllocationFaultHook g_fault_hook = nullptr;
bool Injected() { return g_fault_hook != nullptr && g_fault_hook(); }
}  // namespace

void SetAllocationFaultHook(AllocationFaultHook hook) { g_fault_hook = hook; }

void AdviseLargeBlock(void* block, std::size_t size) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  constexpr std::size_t kLarge = std::size_t{8} << 20;
  if (block != nullptr && size >= kLarge) {
    constexpr std::uintptr_t kPage = 4096;
    const auto start = (reinterpret_cast<std::uintptr_t>(block) + kPage - 1) & ~(kPage - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(block) + size) & ~(kPage - 1);
    if (end > start) madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
  }
#else
  (void)block;
  (void)size;
#endif
}

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
