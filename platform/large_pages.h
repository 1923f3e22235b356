// Large blocks on huge pages: a block about to be filled whole at once (a PNG
// copied in or read from disk, a file built) is given huge pages on Linux,
// one page fault per 2 MiB instead of per 4 KiB. Growing blocks are not
// advised: there the kernel's compaction would cost more than it saves.
// Elsewhere, and when fuzzing (blocks are small, and come and go by the
// thousand a second), this does nothing.
#ifndef PNGCOMMENT_PLATFORM_LARGE_PAGES_H
#define PNGCOMMENT_PLATFORM_LARGE_PAGES_H

#include <cstddef>
#include <cstdint>

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace pngc::os {

inline void AdviseLargeBlock([[maybe_unused]] void* block, [[maybe_unused]] std::size_t size) {
#if defined(__linux__) && defined(MADV_HUGEPAGE) && !defined(PNGCOMMENT_FUZZING)
  constexpr std::size_t kLarge = std::size_t{8} << 20;
  if (block == nullptr || size < kLarge) return;
  constexpr std::uintptr_t kPage = 4096;
  const auto start = (reinterpret_cast<std::uintptr_t>(block) + kPage - 1) & ~(kPage - 1);
  const auto end = (reinterpret_cast<std::uintptr_t>(block) + size) & ~(kPage - 1);
  if (end > start) madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
#endif
}

}  // namespace pngc::os

#endif
