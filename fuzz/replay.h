// How many faults a fuzz target injects into one input. A fuzzing run, or a
// replay of the corpus it grew, fails the one allocation or file-system step
// that the input's hash picks: the inputs are many. A replay of the saved
// crashers (--every-fault) fails each in turn: they are few, and each once
// broke something.
#pragma once

namespace pngfuzz {

inline bool every_fault = false;

}  // namespace pngfuzz
