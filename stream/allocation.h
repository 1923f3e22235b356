// Every byte buffer that the plug-in owns is taken from here, so that a test
// can make any single allocation fail (os::SetFaultHook, Call::kAllocate) and
// check that the call still ends cleanly. The functions return null on failure; callers
// raise EMemoryError.
#ifndef PNGCOMMENT_STREAM_ALLOCATION_H
#define PNGCOMMENT_STREAM_ALLOCATION_H

#include <cstddef>

namespace pngc {

#ifdef PNGCOMMENT_FUZZING
// Fuzzing: a block past 256 KiB is refused as if memory had run out, the
// path a zTXt bomb takes anyway, so that one input cannot spend seconds and
// gigabytes before it gets there. (A 16 KiB input inflates to 16 MiB, and
// under AddressSanitizer every MiB of text copied costs some 10 ms of page
// faults; no rule of the format needs a larger text to be reached.)
constexpr std::size_t kAllocationLimit = std::size_t{256} << 10;
#else
constexpr std::size_t kAllocationLimit = static_cast<std::size_t>(-1);
#endif

// Uninitialised bytes, or zero-filled ones; null when memory cannot be had.
void* AllocateBytes(std::size_t size);
void* AllocateZeroedBytes(std::size_t size);
// Resizes a block from AllocateBytes, keeping its content up to the smaller
// size; null (and the old block left intact) when memory cannot be had.
void* ReallocateBytes(void* block, std::size_t size);
void FreeBytes(void* block);

}  // namespace pngc

#endif
