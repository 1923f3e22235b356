#include "png/chunk.h"

#include <algorithm>
#include <cstring>

namespace pngc {

const std::uint8_t kPngSignature[kPngSignatureSize] = {0x89, 0x50, 0x4E, 0x47,
                                                       0x0D, 0x0A, 0x1A, 0x0A};

ChunkFraming ReadChunkAt(const std::uint8_t* image, std::int32_t size, std::int32_t offset,
                         PngChunk* chunk) {
  if (offset < 0 || offset > size || size - offset < kChunkHeaderSize) {
    return ChunkFraming::kHeaderCutShort;
  }
  const std::uint8_t* header = image + offset;
  const std::uint32_t length = (std::uint32_t{header[0]} << 24) | (std::uint32_t{header[1]} << 16) |
                               (std::uint32_t{header[2]} << 8) | header[3];
  if (length > kMaxChunkLength) return ChunkFraming::kLengthTooLarge;

  chunk->length = static_cast<std::int32_t>(length);
  std::memcpy(chunk->type, header + 4, 4);
  chunk->type[4] = '\0';
  chunk->data = offset + kChunkHeaderSize;
  chunk->available = static_cast<std::int32_t>(std::min<std::int64_t>(length, size - chunk->data));
  const std::int64_t end = std::int64_t{chunk->data} + length + kChunkCrcSize;
  if (end > size) {
    chunk->next = size;
    return ChunkFraming::kCutShort;
  }
  chunk->next = static_cast<std::int32_t>(end);
  return ChunkFraming::kComplete;
}

bool IsChunkType(const PngChunk& chunk, const char* type) {
  return std::memcmp(chunk.type, type, 4) == 0;
}

}  // namespace pngc
