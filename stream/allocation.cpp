#include "stream/allocation.h"

#include <cstdlib>

#include "platform/os.h"

namespace pngc {
namespace {

#ifdef PNGCOMMENT_FUZZING
// Fuzzing: a block past a few MiB is refused as if memory had run out, the
// path a zTXt bomb takes anyway, so that one input cannot spend seconds and
// gigabytes before it gets there.
constexpr std::size_t kLimit = std::size_t{8} << 20;
#else
constexpr std::size_t kLimit = static_cast<std::size_t>(-1);
#endif

bool Injected(std::size_t size) { return size > kLimit || os::Injected(os::Call::kAllocate); }

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
