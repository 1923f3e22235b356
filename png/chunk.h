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

// PNG limits a chunk's data to 2^31 - 1 bytes.
constexpr std::int64_t kMaxChunkLength = 0x7FFFFFFF;
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
  std::int32_t length = 0;         // the stated data length
  char type[5] = {0, 0, 0, 0, 0};  // the four type bytes, zero-terminated
  std::int32_t data = 0;           // offset of the first data byte
  std::int32_t available = 0;      // data bytes inside the image, at most `length`
  std::int32_t next = 0;           // offset after the CRC (kComplete), else the size
};

// Reads the chunk header at `offset` (0 <= offset <= size) of the `size`
// bytes at `image`. The fields of `chunk` are set for kComplete and
// kCutShort only.
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
