#include "writer/text_chunk_emission.h"

#include <zlib.h>

#include <cstring>
#include <memory>

#include "png/chunk.h"
#include "stream/zlib_codec.h"

namespace pngc {
namespace {

// Rebuilds a zTXt section as keyword, 0, method 0, zlib stream of the text.
void CompressSection(TBitMemoryStream& section, const std::string& keyword) {
  auto codec = std::make_unique<TZlib>();
  auto text = std::make_unique<TBitMemoryStream>();
  auto compressed = std::make_unique<TBitMemoryStream>();
  const auto text_start = static_cast<std::int32_t>(keyword.size()) + 1;
  if (section.GetSize() > text_start) {
    section.Seek(text_start, kFromBeginning);
    text->CopyFrom(section, section.GetSize() - text_start);
  }
  text->Seek(0, kFromBeginning);
  codec->Compress(*text, *compressed, Z_DEFAULT_COMPRESSION);
  section.Clear();
  section.WriteBuffer(keyword.data(), static_cast<std::int32_t>(keyword.size()));
  const std::uint8_t terminator_and_method[2] = {0, 0};
  section.WriteBuffer(terminator_and_method, 2);
  section.CopyFrom(*compressed, 0);
}

}  // namespace

void WriteTextChunk(TBitMemoryStream& output, TBitMemoryStream& section, const char* chunk_type,
                    const std::string& keyword) {
  if (std::strncmp(chunk_type, TypeOf(ChunkKind::kCompressedText), 4) == 0) {
    CompressSection(section, keyword);
  }
  AppendChunk(output, chunk_type, section.GetMemory(), section.GetSize());
  section.Clear();
}

}  // namespace pngc
