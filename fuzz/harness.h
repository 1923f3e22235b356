// What the fuzz targets share: the memory they may count on, and how many
// faults they inject into one input.
#pragma once

#include <cstddef>
#include <cstdint>

#include "stream/allocation.h"

namespace pngfuzz {

// The allocation seam's limit: in fuzzing builds a text larger than this
// cannot be rendered and ends the call with -4.
constexpr std::size_t kMemoryLimit = pngc::kAllocationLimit;
// What surely fits: a call whose texts come to less must not run out.
constexpr std::size_t kSmall = std::size_t{32} << 10;

// A fuzzing run, or a replay of the corpus it grew, fails the one allocation
// or file-system step that the input's hash picks: the inputs are many. A
// replay of the saved crashers (--every-fault) fails each in turn: they are
// few, and each once broke something.
inline bool every_fault = false;

}  // namespace pngfuzz
