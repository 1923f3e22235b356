// Stand-ins for KERNEL32's local-memory functions on systems without them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/local_memory.h"

namespace {

// The block header lies in front of the data; the handle is its address.
// The tag lets a pointer that is not one of our handles be refused.
struct alignas(std::max_align_t) Block {
  std::uint32_t tag;
  std::uint32_t locks;
  std::size_t size;
};

constexpr std::uint32_t kLiveTag = 0x4C4D454D;   // "LMEM"
constexpr std::uint32_t kFreedTag = 0x44454144;  // "DEAD"

Block* FromHandle(HLOCAL handle) {
  auto* block = static_cast<Block*>(handle);
  return block != nullptr && block->tag == kLiveTag ? block : nullptr;
}

}  // namespace

HLOCAL LocalAlloc(UINT flags, SIZE_T bytes) {
  if (bytes > SIZE_MAX - sizeof(Block)) return nullptr;
  void* raw = (flags & LMEM_ZEROINIT) != 0 ? std::calloc(1, sizeof(Block) + bytes)
                                           : std::malloc(sizeof(Block) + bytes);
  if (raw == nullptr) return nullptr;
  auto* block = new (raw) Block{kLiveTag, 0, bytes};
  return block;
}

LPVOID LocalLock(HLOCAL handle) {
  Block* block = FromHandle(handle);
  if (block == nullptr || block->size == 0) return nullptr;
  ++block->locks;
  return block + 1;
}

BOOL LocalUnlock(HLOCAL handle) {
  Block* block = FromHandle(handle);
  if (block == nullptr || block->locks == 0) return FALSE;
  --block->locks;
  return block->locks != 0 ? TRUE : FALSE;
}

HLOCAL LocalFree(HLOCAL handle) {
  if (handle == nullptr) return nullptr;
  Block* block = FromHandle(handle);
  if (block == nullptr) return handle;
  block->tag = kFreedTag;
  std::free(block);
  return nullptr;
}

SIZE_T LocalSize(HLOCAL handle) {
  Block* block = FromHandle(handle);
  return block != nullptr ? block->size : 0;
}
