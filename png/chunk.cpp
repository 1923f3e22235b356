#include "png/chunk.h"

#include <algorithm>
#include <cstring>

#include "stream/big_endian.h"

namespace pngc {

const std::uint8_t kPngSignature[kPngSignatureSize] = {0x89, 0x50, 0x4E, 0x47,
                                                       0x0D, 0x0A, 0x1A, 0x0A};

ChunkFraming ReadChunkAt(const std::uint8_t* image, std::int32_t size, std::int32_t offset,
                         PngChunk* chunk) {
  if (offset < 0 || offset > size || size - offset < kChunkHeaderSize) {
    return ChunkFraming::kHeaderCutShort;
  }
  const std::uint8_t* header = image + offset;
  const std::uint32_t length = LoadBE32(header);
  if (length > kMaxChunkLength) return ChunkFraming::kLengthTooLarge;

  chunk->start = offset;
  chunk->length = static_cast<std::int32_t>(length);
  std::memcpy(chunk->type, header + 4, 4);
  chunk->type[4] = '\0';
  chunk->data = offset + kChunkHeaderSize;
  chunk->available = static_cast<std::int32_t>(std::min<std::int64_t>(length, size - chunk->data));
  const std::int64_t end = std::int64_t{chunk->data} + length + kChunkCrcSize;
  chunk->complete = end <= size;
  if (!chunk->complete) {
    chunk->next = size;
    return ChunkFraming::kCutShort;
  }
  chunk->next = static_cast<std::int32_t>(end);
  return ChunkFraming::kComplete;
}

bool IsChunkType(const PngChunk& chunk, const char* type) {
  return std::memcmp(chunk.type, type, 4) == 0;
}

namespace {

constexpr struct {
  ChunkKind kind;
  char type[5];
} kKinds[] = {{ChunkKind::kHeader, "IHDR"},
              {ChunkKind::kText, "tEXt"},
              {ChunkKind::kCompressedText, "zTXt"},
              {ChunkKind::kInternationalText, "iTXt"}};

}  // namespace

const char* TypeOf(ChunkKind kind) {
  for (const auto& known : kKinds) {
    if (known.kind == kind) return known.type;
  }
  return "";
}

ChunkKind KindOf(const PngChunk& chunk) {
  for (const auto& known : kKinds) {
    if (IsChunkType(chunk, known.type)) return known.kind;
  }
  return ChunkKind::kOther;
}

ChunkWalk::ChunkWalk(const std::uint8_t* image, std::int32_t size)
    : image_(image), size_(size), offset_(std::min(size, kPngSignatureSize)), tail_(size) {}

bool ChunkWalk::Next(PngChunk* chunk) {
  if (ended_ || offset_ >= size_) return false;
  return Step(ReadChunkAt(image_, size_, offset_, chunk), chunk);
}

bool ChunkWalk::NextFromHeader(const std::uint8_t* header, PngChunk* chunk) {
  if (ended_ || offset_ >= size_) return false;
  const ChunkFraming framing = ReadChunkAt(header, size_ - offset_, 0, chunk);
  if (framing == ChunkFraming::kComplete || framing == ChunkFraming::kCutShort) {
    chunk->start += offset_;
    chunk->data += offset_;
    chunk->next += offset_;
  }
  return Step(framing, chunk);
}

bool ChunkWalk::Step(ChunkFraming framing, PngChunk* chunk) {
  if (framing != ChunkFraming::kComplete) {
    tail_ = offset_;
    ended_ = true;
    if (framing != ChunkFraming::kCutShort) return false;
  }
  offset_ = chunk->next;
  return true;
}

}  // namespace pngc
