#include "stream/allocation.h"

#include <cstdlib>

#include "platform/os.h"

namespace pngc {
namespace {

bool Injected(std::size_t size) {
  return size > kAllocationLimit || os::Injected(os::Call::kAllocate);
}

}  // namespace

// A size of 0 still asks for one byte, so that null always means failure.
void* AllocateBytes(std::size_t size) {
  return Injected(size) ? nullptr : std::malloc(size != 0 ? size : 1);
}

void* AllocateZeroedBytes(std::size_t size) {
  return Injected(size) ? nullptr : std::calloc(size != 0 ? size : 1, 1);
}

void* ReallocateBytes(void* block, std::size_t size) {
  return Injected(size) ? nullptr : std::realloc(block, size != 0 ? size : 1);
}

void FreeBytes(void* block) { std::free(block); }

}  // namespace pngc
