// TZlib: deflates or inflates everything from a stream's position to its end
// into another stream, through two 4096-byte buffers, in one call. Before
// each read and each write it dispatches the thread's pending window
// messages, so that the host stays responsive during a long text.
#ifndef PNGCOMMENT_STREAM_ZLIB_CODEC_H
#define PNGCOMMENT_STREAM_ZLIB_CODEC_H

#include <zlib.h>

#include <cstdint>

#include "stream/byte_sink.h"
#include "stream/memory_stream.h"

namespace pngc {

class TZlib {
 public:
  static constexpr std::int32_t kBufferSize = 4096;

  // Raises EMemoryError when the zlib record cannot be allocated.
  TZlib();
  virtual ~TZlib();
  TZlib(const TZlib&) = delete;
  TZlib& operator=(const TZlib&) = delete;

  // Writes a zlib stream of `source`'s remaining bytes to `destination` at
  // `level`. Returns the last deflate code: Z_STREAM_END when the stream is
  // complete; the init's code, with nothing written, when zlib refuses the
  // parameters. Raises EMemoryError when zlib runs out of memory.
  std::int32_t Compress(TBitMemoryStream& source, TBitMemoryStream& destination,
                        std::int32_t level);
  // Inflates the zlib stream at `source`'s position into `destination`.
  // Returns Z_OK when the stream ended (bytes after it are ignored), or the
  // last inflate code: Z_DATA_ERROR for damaged data, Z_BUF_ERROR for a
  // stream cut short, Z_NEED_DICT; what was inflated before stays written.
  // Raises EMemoryError when zlib runs out of memory, and as soon as the
  // destination cannot take more (out of memory, or past 2^31 - 1 bytes), so
  // that a runaway stream stops there.
  std::int32_t Decompress(TBitMemoryStream& source, TBitMemoryStream& destination);
  // The same into `sink`, block by block, until the stream ends or the sink
  // has had enough; memory does not grow with the text.
  std::int32_t Decompress(TBitMemoryStream& source, TByteSink& sink);

 private:
  // Returns the input bytes waiting in the input buffer, reading up to 4096
  // more from the source when none are left; 0 at the source's end.
  std::int32_t FillInput();
  // Writes the pending output to the destination; returns its size.
  std::int32_t FlushOutput();
  void PumpMessages();
  // The feeding and finishing phases with deflate or inflate as `step`;
  // returns the last code.
  std::int32_t Run(int (*step)(z_streamp, int));
  // Prepares an operation: the streams, empty buffers, pumping on.
  void Begin(TBitMemoryStream& source, TBitMemoryStream* destination, TByteSink* sink);
  std::int32_t Inflate();

  z_stream* zstream_;
  TBitMemoryStream* source_ = nullptr;
  TBitMemoryStream* destination_ = nullptr;
  TByteSink* sink_ = nullptr;
  bool stopped_ = false;  // the sink asked for no more
  std::int32_t last_result_ = 0;
  // Cleared when the pump met WM_QUIT: pumping stops for the operation.
  bool pumping_ = true;
  std::uint8_t in_buffer_[kBufferSize];
  std::uint8_t out_buffer_[kBufferSize];
};

}  // namespace pngc

#endif
