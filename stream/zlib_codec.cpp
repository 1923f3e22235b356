#include "stream/zlib_codec.h"

#include <cstdint>

#include "platform/os.h"
#include "stream/allocation.h"
#include "stream/memory_error.h"

namespace pngc {
namespace {

// zlib's memory comes through the allocation seam too, so that a test can
// fail it like any other.
voidpf ZlibAlloc(voidpf, uInt items, uInt size) {
  if (size != 0 && items > SIZE_MAX / size) return Z_NULL;
  return AllocateBytes(static_cast<std::size_t>(items) * size);
}

void ZlibFree(voidpf, voidpf block) { FreeBytes(block); }

// Ends the operation however it is left: the zlib stream ended (its memory
// freed) and the streams forgotten.
class OperationEnd {
 public:
  OperationEnd(int (*end)(z_streamp), z_streamp stream, TBitMemoryStream** source,
               TBitMemoryStream** destination)
      : end_(end), stream_(stream), source_(source), destination_(destination) {}
  ~OperationEnd() {
    if (end_ != nullptr) end_(stream_);
    *source_ = nullptr;
    *destination_ = nullptr;
  }
  OperationEnd(const OperationEnd&) = delete;
  OperationEnd& operator=(const OperationEnd&) = delete;

 private:
  int (*end_)(z_streamp);
  z_streamp stream_;
  TBitMemoryStream** source_;
  TBitMemoryStream** destination_;
};

}  // namespace

TZlib::TZlib() : zstream_(static_cast<z_stream*>(AllocateZeroedBytes(sizeof(z_stream)))) {
  if (zstream_ == nullptr) throw EMemoryError();
  zstream_->zalloc = ZlibAlloc;
  zstream_->zfree = ZlibFree;
  zstream_->opaque = Z_NULL;
}

TZlib::~TZlib() { FreeBytes(zstream_); }

void TZlib::Begin(TBitMemoryStream& source, TBitMemoryStream* destination, TByteSink* sink) {
  last_result_ = Z_OK;
  pumping_ = true;
  stopped_ = false;
  zstream_->next_in = in_buffer_;
  zstream_->avail_in = 0;
  zstream_->next_out = out_buffer_;
  zstream_->avail_out = kBufferSize;
  source_ = &source;
  destination_ = destination;
  sink_ = sink;
}

void TZlib::PumpMessages() {
  if (pumping_) pumping_ = os::PumpMessages();
}

std::int32_t TZlib::FillInput() {
  PumpMessages();
  if (zstream_->avail_in == 0) {
    zstream_->next_in = in_buffer_;
    zstream_->avail_in = static_cast<uInt>(source_->Read(in_buffer_, kBufferSize));
  }
  return static_cast<std::int32_t>(zstream_->avail_in);
}

std::int32_t TZlib::FlushOutput() {
  PumpMessages();
  const auto pending = static_cast<std::int32_t>(kBufferSize - zstream_->avail_out);
  if (pending != 0) {
    if (sink_ != nullptr) {
      stopped_ = !sink_->Take(out_buffer_, pending);
    } else if (destination_->Write(out_buffer_, pending) != pending) {
      // A refused write means the destination can hold no more: stop now
      // rather than inflate on into nothing.
      throw EMemoryError();
    }
    zstream_->next_out = out_buffer_;
    zstream_->avail_out = kBufferSize;
  }
  return pending;
}

std::int32_t TZlib::Run(int (*step)(z_streamp, int)) {
  // Feeding: until the source is exhausted or zlib answers other than Z_OK.
  while (FillInput() != 0) {
    last_result_ = step(zstream_, Z_NO_FLUSH);
    FlushOutput();
    if (last_result_ != Z_OK || stopped_) break;
  }
  // Finishing: the output of each call is written before the test.
  while (!stopped_) {
    last_result_ = step(zstream_, Z_FINISH);
    if (FlushOutput() == 0 || last_result_ != Z_OK) break;
  }
  return last_result_;
}

std::int32_t TZlib::Compress(TBitMemoryStream& source, TBitMemoryStream& destination,
                             std::int32_t level) {
  Begin(source, &destination, nullptr);
  const int init = deflateInit(zstream_, level);
  OperationEnd end(init == Z_OK ? deflateEnd : nullptr, zstream_, &source_, &destination_);
  const std::int32_t result = init == Z_OK ? Run(deflate) : init;
  // zlib out of memory is the plug-in out of memory: a text silently lost
  // would be written as a broken chunk, or shown as empty.
  if (result == Z_MEM_ERROR) throw EMemoryError();
  return result;
}

std::int32_t TZlib::Decompress(TBitMemoryStream& source, TBitMemoryStream& destination) {
  Begin(source, &destination, nullptr);
  return Inflate();
}

std::int32_t TZlib::Decompress(TBitMemoryStream& source, TByteSink& sink) {
  Begin(source, nullptr, &sink);
  return Inflate();
}

std::int32_t TZlib::Inflate() {
  const int init = inflateInit(zstream_);
  OperationEnd end(init == Z_OK ? inflateEnd : nullptr, zstream_, &source_, &destination_);
  const std::int32_t result = init == Z_OK ? Run(inflate) : init;
  if (result == Z_MEM_ERROR) throw EMemoryError();
  return result == Z_STREAM_END ? Z_OK : result;
}

}  // namespace pngc
