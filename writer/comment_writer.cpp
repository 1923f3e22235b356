#include "writer/comment_writer.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "png/chunk.h"
#include "png/comment_text.h"
#include "stream/memory_error.h"
#include "writer/comment_parser.h"
#include "writer/old_text_chunks.h"

namespace pngc {
namespace {

// Where the new file's bytes come from, in order: runs of the host's image
// kept as they are, and after each IHDR the new text chunks.
struct Layout {
  struct Piece {
    std::int32_t offset = 0;
    std::int32_t size = -1;  // -1: the new text chunks
  };
  std::vector<Piece> pieces;
  bool has_ihdr = false;

  void Keep(std::int32_t offset, std::int32_t size) {
    if (size <= 0) return;
    if (!pieces.empty() && pieces.back().size >= 0 &&
        pieces.back().offset + pieces.back().size == offset) {
      pieces.back().size += size;  // one run for neighbours
    } else {
      pieces.push_back({offset, size});
    }
  }
  void NewTextChunks() {
    pieces.push_back({});
    has_ihdr = true;
  }
};

// Walks the image's chunks: the signature and every chunk but tEXt and zTXt
// are kept, the new text chunks go after each IHDR, and the old text chunks
// are copied to `old` (when given). From the first point where the bytes no
// longer frame a complete chunk, the rest is kept as it is; a text chunk cut
// short there is copied to `old` too, as one that stays in that tail. No
// window message runs meanwhile.
Layout Plan(const std::uint8_t* image, std::int32_t size, OldTextChunks* old) {
  Layout layout;
  if (size < kPngSignatureSize) {
    layout.Keep(0, size);
    return layout;
  }
  layout.Keep(0, kPngSignatureSize);  // copied, not tested
  ChunkWalk walk(image, size);
  PngChunk chunk;
  while (walk.Next(&chunk)) {
    const ChunkKind kind = KindOf(chunk);
    const bool text = kind == ChunkKind::kText || kind == ChunkKind::kCompressedText;
    if (!chunk.complete) {
      if (text && old != nullptr)
        old->Add(image + chunk.start, size - chunk.start, chunk.available, true);
    } else if (!text) {
      layout.Keep(chunk.start, chunk.next - chunk.start);  // length, type, data and CRC
      if (kind == ChunkKind::kHeader) layout.NewTextChunks();
    } else if (old != nullptr) {
      old->Add(image + chunk.start, chunk.next - chunk.start, chunk.length, false);
    }
  }
  layout.Keep(walk.tail(), size - walk.tail());
  return layout;
}

// The new text chunks, built once for every IHDR: old chunks that the text
// still shows as they were, new ones for the rest (zTXt sections are
// compressed, so window messages may run).
std::unique_ptr<TBitMemoryStream> NewTextChunks(TBitMemoryStream* comment, OldTextChunks* old) {
  auto chunks = std::make_unique<TBitMemoryStream>();
  if (comment != nullptr) ParseCommentText(*chunks, *comment, old);
  return chunks;
}

// The layout's pieces as byte ranges; raises EMemoryError past 2^31 - 1
// bytes in all.
std::vector<os::ByteRange> Ranges(const Layout& layout, const std::uint8_t* image,
                                  const TBitMemoryStream& chunks) {
  std::vector<os::ByteRange> ranges;
  ranges.reserve(layout.pieces.size());
  std::int64_t total = 0;
  for (const Layout::Piece& piece : layout.pieces) {
    const os::ByteRange range =
        piece.size >= 0
            ? os::ByteRange{image + piece.offset, static_cast<std::size_t>(piece.size)}
            : os::ByteRange{chunks.GetMemory(), static_cast<std::size_t>(chunks.GetSize())};
    total += static_cast<std::int64_t>(range.size);
    if (total > kMaxStreamSize) throw EMemoryError();
    if (range.size > 0) ranges.push_back(range);
  }
  return ranges;
}

// A CRC-32 of the image's kept runs: what the host's buffer held before any
// window message ran.
std::uint32_t KeptBytesCrc(const Layout& layout, const std::uint8_t* image) {
  uLong crc = crc32(0, Z_NULL, 0);
  for (const Layout::Piece& piece : layout.pieces) {
    for (std::int32_t at = 0; piece.size > 0 && at < piece.size;) {
      const std::int32_t n = std::min(piece.size - at, std::int32_t{1} << 30);
      crc = crc32(crc, image + piece.offset + at, static_cast<uInt>(n));
      at += n;
    }
  }
  return static_cast<std::uint32_t>(crc);
}

// True when the comment text may have a zTXt header line: only then can
// the writer dispatch window messages (compressing it, or inflating an old
// zTXt that it may stand for).
bool MayPumpMessages(const TBitMemoryStream& comment) {
  return MayHoldCompressedHeader(comment.GetMemory(), comment.GetSize());
}

}  // namespace

void RewriteChunks(const std::uint8_t* image, std::int32_t size, TBitMemoryStream* comment,
                   TBitMemoryStream& output) {
  auto old = comment != nullptr ? std::make_unique<OldTextChunks>() : nullptr;
  const Layout layout = Plan(image, size, old.get());
  const auto chunks = NewTextChunks(layout.has_ihdr ? comment : nullptr, old.get());
  for (const os::ByteRange& range : Ranges(layout, image, *chunks)) {
    output.Seek(0, kFromEnd);
    const std::int64_t expected = std::int64_t{output.GetSize()} + range.size;
    output.WriteBuffer(range.data, static_cast<std::int32_t>(range.size));
    if (output.GetSize() != expected) throw EMemoryError();
  }
}

os::SaveResult WriteCommentFile(const char* file_name, const std::uint8_t* image, std::int32_t size,
                                const char* comment, std::int32_t length) {
  // The file name and the text are copied, and the image walked, before any
  // window message can run (zTXt sections pump them). The new file is then
  // written from the host's image itself, never copied: its kept bytes are
  // checked first when a message ran meanwhile, so that a window procedure
  // that changed them cannot change what is written.
  const std::string name(file_name);
  std::unique_ptr<TBitMemoryStream> text;
  if (length > 0) {
    text = std::make_unique<TBitMemoryStream>();
    text->WriteBuffer(comment, length);
    text->WriteBuffer("\0\0", 2);  // the end marker the line cutting relies on
    if (text->GetSize() != std::int64_t{length} + 2) throw EMemoryError();  // too long for a stream
  }
  auto old = text != nullptr ? std::make_unique<OldTextChunks>() : nullptr;
  const Layout layout = Plan(image, size, old.get());
  const bool guarded = os::kPumpsMessages && text != nullptr && MayPumpMessages(*text);
  const std::uint32_t crc = guarded ? KeptBytesCrc(layout, image) : 0;
  const std::uint64_t dispatched = os::DispatchedMessages();

  const auto chunks = NewTextChunks(layout.has_ihdr ? text.get() : nullptr, old.get());

  if (guarded && os::DispatchedMessages() != dispatched && KeptBytesCrc(layout, image) != crc)
    return {os::kChangedError, os::SaveStep::kNone};
  const std::vector<os::ByteRange> ranges = Ranges(layout, image, *chunks);
  return os::ReplaceFileContent(name.c_str(), ranges.data(), ranges.size());
}

}  // namespace pngc
