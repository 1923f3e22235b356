// The plug-in's own error type: raised by every allocation that fails, so
// that no null pointer is ever used. The exports catch it (and every other
// exception) and answer the host with their failure code.
#ifndef PNGCOMMENT_STREAM_MEMORY_ERROR_H
#define PNGCOMMENT_STREAM_MEMORY_ERROR_H

#include <new>

namespace pngc {

class EMemoryError : public std::bad_alloc {
 public:
  const char* what() const noexcept override { return "out of memory"; }
};

}  // namespace pngc

#endif
