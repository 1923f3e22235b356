// Where bytes go as they are made (inflated, or read out of a comment text),
// a block at a time, for a consumer that need not keep them whole.
#ifndef PNGCOMMENT_STREAM_BYTE_SINK_H
#define PNGCOMMENT_STREAM_BYTE_SINK_H

#include <cstdint>

namespace pngc {

class TByteSink {
 public:
  virtual ~TByteSink() = default;
  // False stops the producer there: it passes no more bytes of this run.
  virtual bool Take(const std::uint8_t* bytes, std::int32_t count) = 0;
};

}  // namespace pngc

#endif
