#include "writer/comment_writer.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "png/chunk.h"
#include "stream/memory_error.h"
#include "writer/comment_parser.h"
#include "writer/old_text_chunks.h"

namespace pngc {
namespace {

// The most a stream, and so a new file, can hold.
constexpr std::int64_t kMaxFileSize = std::numeric_limits<std::int32_t>::max();

// Appends `count` bytes, or raises EMemoryError: a stream refuses a write
// that would pass 2^31 - 1 bytes without raising anything itself.
void Append(TBitMemoryStream& output, const void* bytes, std::int64_t count) {
  const std::int64_t expected = std::int64_t{output.GetSize()} + count;
  if (count <= 0) return;
  if (expected > kMaxFileSize) throw EMemoryError();
  output.Seek(0, kFromEnd);
  output.WriteBuffer(bytes, static_cast<std::int32_t>(count));
  if (output.GetSize() != expected) throw EMemoryError();
}

// Copies the signature and every chunk but tEXt and zTXt from `image` to
// `output`, and notes the output offset right after each IHDR. No window
// message runs meanwhile, so the host's buffer is read whole before any
// zTXt section pumps them.
void CopyKeptChunks(const std::uint8_t* image, std::int32_t size, TBitMemoryStream& output,
                    std::vector<std::int32_t>* after_ihdr, OldTextChunks* old) {
  if (size < kPngSignatureSize) {
    Append(output, image, size);
    return;
  }
  Append(output, image, kPngSignatureSize);  // copied, not tested
  PngChunk chunk;
  std::int32_t offset = kPngSignatureSize;
  while (offset < size) {
    if (ReadChunkAt(image, size, offset, &chunk) != ChunkFraming::kComplete) {
      // Not a complete chunk: keep every byte from here as it is.
      Append(output, image + offset, size - offset);
      return;
    }
    if (!IsChunkType(chunk, "tEXt") && !IsChunkType(chunk, "zTXt")) {
      Append(output, image + offset, chunk.next - offset);  // length, type, data and CRC
      if (IsChunkType(chunk, "IHDR")) after_ihdr->push_back(output.GetSize());
    } else if (old != nullptr) {
      old->Add(image + offset, chunk.next - offset);
    }
    offset = chunk.next;
  }
}

// Opens a gap of `chunks`' size at each offset (ascending) of `output` and
// fills it with those bytes. The content is moved back to front, each piece
// once, in memory that already holds it.
void InsertAt(TBitMemoryStream& output, const std::vector<std::int32_t>& offsets,
              const TBitMemoryStream& chunks) {
  const std::int64_t piece = chunks.GetSize();
  const std::int64_t old_size = output.GetSize();
  const std::int64_t new_size = old_size + piece * static_cast<std::int64_t>(offsets.size());
  if (piece == 0 || offsets.empty()) return;
  if (new_size > kMaxFileSize) throw EMemoryError();
  output.Reserve(static_cast<std::int32_t>(new_size));
  for (std::size_t i = 0; i < offsets.size(); ++i) Append(output, chunks.GetMemory(), piece);

  std::uint8_t* bytes = output.GetMemory();
  std::int64_t end = old_size;
  for (std::size_t i = offsets.size(); i-- > 0;) {
    const std::int64_t from = offsets[i];
    const std::int64_t shift = piece * static_cast<std::int64_t>(i + 1);
    std::memmove(bytes + from + shift, bytes + from, static_cast<std::size_t>(end - from));
    std::memcpy(bytes + from + shift - piece, chunks.GetMemory(), static_cast<std::size_t>(piece));
    end = from;
  }
}

}  // namespace

void RewriteChunks(const std::uint8_t* image, std::int32_t size, TBitMemoryStream* comment,
                   TBitMemoryStream& output) {
  std::vector<std::int32_t> after_ihdr;
  // The old text chunks are copied too, for the sections the user left as
  // they were: those are written back as the chunks' own bytes.
  auto old = comment != nullptr ? std::make_unique<OldTextChunks>() : nullptr;
  CopyKeptChunks(image, size, output, &after_ihdr, old.get());
  if (comment == nullptr || after_ihdr.empty()) return;
  old->Render();
  // The new chunks are the same after every IHDR: built once.
  auto chunks = std::make_unique<TBitMemoryStream>();
  ParseCommentText(*chunks, *comment, old.get());
  InsertAt(output, after_ihdr, *chunks);
}

os::SaveResult WriteCommentFile(const char* file_name, const std::uint8_t* image, std::int32_t size,
                                const char* comment, std::int32_t length) {
  // The file name and the text are copied before any window message can
  // run (zTXt sections pump them); the image is read before that too, into
  // the new file itself. The host's buffers are not read afterwards.
  const std::string name(file_name);
  std::unique_ptr<TBitMemoryStream> text;
  if (length > 0) {
    text = std::make_unique<TBitMemoryStream>();
    text->WriteBuffer(comment, length);
    text->WriteBuffer("\0\0", 2);  // the end marker the line cutting relies on
    if (text->GetSize() != std::int64_t{length} + 2) throw EMemoryError();  // too long for a stream
  }
  // One block for the new file, as growing it may copy it whole: the
  // image's size, plus room for the new chunks guessed from the text's
  // length (a tEXt section adds a few bytes to its text, a zTXt one mostly
  // shrinks it).
  auto output = std::make_unique<TBitMemoryStream>();
  const std::int64_t guess = length > 0 ? std::min(length, std::int32_t{1} << 20) + 1024 : 0;
  const std::int64_t room = std::int64_t{size} + guess;
  output->Reserve(static_cast<std::int32_t>(std::min(room, kMaxFileSize)));
  RewriteChunks(image, size, text.get(), *output);
  os::SaveResult saved;
  output->SaveToFile(name.c_str(), &saved);
  return saved;
}

}  // namespace pngc
