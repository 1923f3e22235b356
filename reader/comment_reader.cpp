#include "reader/comment_reader.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "platform/os.h"
#include "png/chunk.h"
#include "png/image_header.h"
#include "reader/image_summary.h"
#include "png/text_rendering.h"
#include "stream/memory_error.h"

namespace pngc {
namespace {

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

void ReadComment(const std::uint8_t* image, std::int32_t size, void** comment_out,
                 void** summary_out) {
  if (image == nullptr || size < 0) size = 0;
  // The chunks the walk renders, found from their headers in the host's
  // buffer; their data is copied, in file order, before anything is
  // rendered. Pixel data is never touched.
  struct Piece {
    ChunkKind kind;
    std::int32_t length;
  };
  std::vector<Piece> pieces;
  std::int64_t total = 0;
  const auto walk = [&](const auto& take) {
    ChunkWalk chunks(image, size);
    PngChunk chunk;
    while (chunks.Next(&chunk)) {
      const ChunkKind kind = KindOf(chunk);
      if (kind == ChunkKind::kHeader) {
        if (chunk.available >= kImageHeaderSize) take(kind, chunk.data, kImageHeaderSize);
      } else if (kind == ChunkKind::kText || kind == ChunkKind::kCompressedText) {
        take(kind, chunk.data, chunk.available);
      }
    }
  };
  walk([&](ChunkKind, std::int32_t, std::int32_t length) { total += length; });
  auto kept = std::make_unique<TBitMemoryStream>();
  kept->Reserve(static_cast<std::int32_t>(std::min<std::int64_t>(total, kMaxStreamSize)));
  walk([&](ChunkKind kind, std::int32_t data, std::int32_t length) {
    kept->WriteBuffer(image + data, length);
    pieces.push_back({kind, length});
  });
  if (kept->GetSize() != total)
    throw EMemoryError();  // it cannot pass 2^31 - 1: the image does not

  auto comment = std::make_unique<TBitMemoryStream>();
  auto summary = std::make_unique<TBitMemoryStream>();
  std::int32_t at = 0;
  for (const Piece& piece : pieces) {
    kept->Seek(at, kFromBeginning);
    if (piece.kind == ChunkKind::kHeader) {
      RenderImageSummary(*kept, size, *summary);
    } else if (piece.kind == ChunkKind::kText) {
      RenderTextChunk(*kept, *comment, piece.length);
    } else {
      RenderCompressedTextChunk(*kept, *comment, piece.length);
    }
    at += piece.length;
  }

  if (summary_out != nullptr) {
    if (void* handle = MakeLocalBlock(*summary, false)) *summary_out = handle;
  }
  if (comment_out != nullptr && comment->GetSize() > 0) {
    if (void* handle = MakeLocalBlock(*comment, true)) *comment_out = handle;
  }
}

}  // namespace pngc
