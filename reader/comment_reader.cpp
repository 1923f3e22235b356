#include "reader/comment_reader.h"

#include <cstring>
#include <memory>

#include "platform/os.h"
#include "png/chunk.h"
#include "reader/image_summary.h"
#include "reader/text_rendering.h"

namespace pngc {
namespace {

constexpr std::int32_t kIhdrDataSize = 13;

// A moveable block holding the stream's content, and a NUL after it when
// `terminate`; null when the block cannot be allocated or locked.
void* MakeLocalBlock(const TBitMemoryStream& text, bool terminate) {
  const auto content = static_cast<std::size_t>(text.GetSize());
  const std::size_t size = content + (terminate ? 1 : 0);
  void* handle = os::AllocateLocal(size);
  if (handle == nullptr || size == 0) return handle;  // 0 bytes: nothing to fill, nor lockable
  void* block = os::LockLocal(handle);
  if (block == nullptr) {
    os::FreeLocal(handle);
    return nullptr;
  }
  // The block is zero-filled, so the NUL is already in place.
  if (content > 0) std::memcpy(block, text.GetMemory(), content);
  os::UnlockLocal(handle);
  return handle;
}

}  // namespace

void WalkChunks(TBitMemoryStream& input, TBitMemoryStream& comment, TBitMemoryStream& summary) {
  PngChunk chunk;
  for (std::int32_t offset = kPngSignatureSize; offset < input.GetSize(); offset = chunk.next) {
    const ChunkFraming framing = ReadChunkAt(input.GetMemory(), input.GetSize(), offset, &chunk);
    if (framing != ChunkFraming::kComplete && framing != ChunkFraming::kCutShort) break;
    input.Seek(chunk.data, kFromBeginning);
    if (IsChunkType(chunk, "IHDR")) {
      if (chunk.available >= kIhdrDataSize) RenderImageSummary(input, summary);
    } else if (IsChunkType(chunk, "tEXt")) {
      RenderTextChunk(input, comment, chunk.available);
    } else if (IsChunkType(chunk, "zTXt")) {
      RenderCompressedTextChunk(input, comment, chunk.available);
    }
    if (framing != ChunkFraming::kComplete) break;
  }
}

void ReadComment(const std::uint8_t* image, std::int32_t size, void** comment_out, void** summary_out) {
  auto input = std::make_unique<TBitMemoryStream>();
  // The image is copied first: window procedures that run while a zTXt is
  // inflated may change the host's buffer.
  if (image != nullptr && size > 0) {
    input->Reserve(size);
    input->WriteBuffer(image, size);
  }
  auto comment = std::make_unique<TBitMemoryStream>();
  auto summary = std::make_unique<TBitMemoryStream>();
  WalkChunks(*input, *comment, *summary);

  if (summary_out != nullptr) {
    if (void* handle = MakeLocalBlock(*summary, false)) *summary_out = handle;
  }
  if (comment_out != nullptr && comment->GetSize() > 0) {
    if (void* handle = MakeLocalBlock(*comment, true)) *comment_out = handle;
  }
}

}  // namespace pngc
