#include "writer/comment_writer.h"

#include <memory>

#include "reader/chunk_walk.h"
#include "stream/memory_error.h"
#include "writer/comment_parser.h"

namespace pngc {

void RewriteChunks(TBitMemoryStream& input, TBitMemoryStream* comment, TBitMemoryStream& output) {
  const std::int32_t size = input.GetSize();
  input.Seek(0, kFromBeginning);
  if (size < kPngSignatureSize) {
    if (size > 0) output.CopyFrom(input, size);
    return;
  }
  output.CopyFrom(input, kPngSignatureSize);  // copied, not tested
  PngChunk chunk;
  std::int32_t offset = kPngSignatureSize;
  while (offset < size) {
    if (ReadChunkAt(input.GetMemory(), size, offset, &chunk) != ChunkFraming::kComplete) {
      // Not a complete chunk: keep every byte from here as it is.
      input.Seek(offset, kFromBeginning);
      output.CopyFrom(input, size - offset);
      return;
    }
    if (!IsChunkType(chunk, "tEXt") && !IsChunkType(chunk, "zTXt")) {
      input.Seek(offset, kFromBeginning);
      output.CopyFrom(input, chunk.next - offset);  // length, type, data and CRC as they are
      if (comment != nullptr && IsChunkType(chunk, "IHDR")) ParseCommentText(output, *comment);
    }
    offset = chunk.next;
  }
}

std::int32_t WriteCommentFile(const char* file_name, const std::uint8_t* image, std::int32_t size,
                          const char* comment, std::int32_t length) {
  if (file_name == nullptr || (image == nullptr && size > 0) ||
      (comment == nullptr && length > 0)) {
    return kWriteBadArgument;
  }
  auto input = std::make_unique<TBitMemoryStream>();
  auto output = std::make_unique<TBitMemoryStream>();
  if (size > 0) {
    input->Reserve(size);
    input->WriteBuffer(image, size);
  }
  // The text is copied before any window message can run (zTXt sections
  // pump them), so the host's buffer is not read afterwards.
  std::unique_ptr<TBitMemoryStream> text;
  if (length > 0) {
    text = std::make_unique<TBitMemoryStream>();
    text->WriteBuffer(comment, length);
    text->WriteBuffer("\0\0", 2);  // the end marker the line cutting relies on
    if (text->GetSize() != std::int64_t{length} + 2) throw EMemoryError();  // too long for a stream
  }
  // The new file is about as long as the old one: one allocation for it.
  output->Reserve(size > 0 ? size : 0);
  RewriteChunks(*input, text.get(), *output);
  return output->SaveToFile(file_name) >= 0 ? kWriteOk : kWriteNotSaved;
}

}  // namespace pngc
