// PNG chunks, for reading and writing alike: length (4 bytes, big-endian),
// type (4), data, CRC-32 over type and data (4). The bounds of a chunk are
// worked out here and nowhere else, on 64-bit sums, so that no caller adds a
// stated length to an offset itself; and every chunk the plug-in makes is
// framed here.
#ifndef PNGCOMMENT_PNG_CHUNK_H
#define PNGCOMMENT_PNG_CHUNK_H

#include <cstdint>

#include "stream/memory_stream.h"

namespace pngc {

// The eight bytes with which every PNG file begins; the first chunk follows.
constexpr std::int32_t kPngSignatureSize = 8;
extern const std::uint8_t kPngSignature[kPngSignatureSize];

// PNG limits a chunk's data to 2^31 - 1 bytes, the most any size in the
// host interface counts.
constexpr std::int64_t kMaxChunkLength = kMaxStreamSize;
constexpr std::int32_t kChunkHeaderSize = 8;
constexpr std::int32_t kChunkCrcSize = 4;

// How the bytes at an offset frame a chunk.
enum class ChunkFraming {
  kComplete,        // header, data and CRC all lie inside the image
  kCutShort,        // the header is there; data or CRC runs past the end
  kHeaderCutShort,  // fewer than 8 bytes remain: no chunk here
  kLengthTooLarge,  // a stated length of 2^31 or more: not a PNG chunk
};

struct PngChunk {
  std::int32_t start = 0;          // offset of its length field
  std::int32_t length = 0;         // the stated data length
  char type[5] = {0, 0, 0, 0, 0};  // the four type bytes, zero-terminated
  std::int32_t data = 0;           // offset of the first data byte
  std::int32_t available = 0;      // data bytes inside the image, at most `length`
  std::int32_t next = 0;           // offset after the CRC (kComplete), else the size
  bool complete = false;           // false: cut short by the end of the image
};

// The chunk types the system reads, each from one table.
enum class ChunkKind : std::uint8_t {
  kOther,              // any other type: copied or passed over as it is
  kHeader,             // IHDR: the image summary
  kText,               // tEXt: keyword, NUL, text
  kCompressedText,     // zTXt: keyword, NUL, method, zlib stream of the text
  kInternationalText,  // iTXt: keyword, NUL, flag, method, language, NUL,
                       // translated keyword, NUL, UTF-8 text (deflated or not)
};
// The four type bytes of a kind; "" for kOther.
const char* TypeOf(ChunkKind kind);
// The kind of a chunk, by its type's exact bytes (case matters).
ChunkKind KindOf(const PngChunk& chunk);

// The chunks of an image as every walk takes them: from byte 8, a whole
// chunk at a time, until the bytes end or stop framing one. A chunk cut
// short by the end of the image is the last (`complete` false); a header
// cut short or a length of 2^31 or more ends the walk before it.
class ChunkWalk {
 public:
  // `image` may be null for a walk by NextFromHeader alone.
  ChunkWalk(const std::uint8_t* image, std::int32_t size);
  // The next chunk, or false at the walk's end.
  bool Next(PngChunk* chunk);
  // Where the next chunk's header stands: after the signature at first.
  std::int32_t position() const { return offset_; }
  // Next, for a reader that does not hold the image: `header` holds the
  // image's bytes at position(), 8 of them or as many as are left. The
  // chunk's offsets are the image's.
  bool NextFromHeader(const std::uint8_t* header, PngChunk* chunk);
  // Where the bytes stop framing complete chunks: the offset of the chunk
  // cut short, or of what frames none, or the end.
  std::int32_t tail() const { return tail_; }

 private:
  bool Step(ChunkFraming framing, PngChunk* chunk);
  const std::uint8_t* image_;
  std::int32_t size_, offset_, tail_;
  bool ended_ = false;
};

// Reads the chunk header at `offset` (0 <= offset <= size) of the `size`
// bytes at `image`. The fields of `chunk` are set for kComplete and
// kCutShort only. ChunkWalk is made of it; a reader that has a header and
// not the image frames it so (offsets from 0, the size being what is left).
ChunkFraming ReadChunkAt(const std::uint8_t* image, std::int32_t size, std::int32_t offset,
                         PngChunk* chunk);

// True when the chunk's type is exactly `type` (four bytes, case-sensitive).
bool IsChunkType(const PngChunk& chunk, const char* type);

// Appends a complete chunk to `output`: the length of the `size` bytes at
// `data`, the four bytes of `type`, the data and their CRC-32. Raises
// EMemoryError when memory runs out.
void AppendChunk(TBitMemoryStream& output, const char* type, const std::uint8_t* data,
                 std::int32_t size);

}  // namespace pngc

#endif  // PNGCOMMENT_PNG_CHUNK_H
