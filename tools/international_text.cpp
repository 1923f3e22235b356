#include "tools/international_text.h"

#include <zlib.h>

#include <limits>

#include "png/chunk.h"

namespace {

// The bytes up to the next NUL from `*at`, which moves past it; false when
// there is none.
bool TakeField(const std::string& data, std::size_t* at, std::string* field) {
  const std::size_t nul = data.find('\0', *at);
  if (nul == std::string::npos) return false;
  *field = data.substr(*at, nul - *at);
  *at = nul + 1;
  return true;
}

bool Inflate(const std::string& stream, std::string* text) {
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return false;
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(stream.data()));
  z.avail_in = static_cast<uInt>(stream.size());
  int result = Z_OK;
  while (result == Z_OK) {
    char buffer[16384];
    z.next_out = reinterpret_cast<Bytef*>(buffer);
    z.avail_out = sizeof buffer;
    result = inflate(&z, Z_NO_FLUSH);
    text->append(buffer, sizeof buffer - z.avail_out);
    if (result == Z_BUF_ERROR && z.avail_in == 0) break;  // cut short
  }
  inflateEnd(&z);
  return result == Z_STREAM_END;
}

}  // namespace

std::vector<InternationalText> ReadInternationalTexts(const std::uint8_t* png, std::size_t size) {
  std::vector<InternationalText> texts;
  if (size > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) return texts;
  const auto total = static_cast<std::int32_t>(size);
  pngc::PngChunk chunk;
  for (std::int32_t offset = pngc::kPngSignatureSize; offset < total; offset = chunk.next) {
    if (pngc::ReadChunkAt(png, total, offset, &chunk) != pngc::ChunkFraming::kComplete) break;
    if (!pngc::IsChunkType(chunk, "iTXt")) continue;
    // keyword NUL, compression flag, method, language NUL, translated keyword NUL, text
    const std::string data(reinterpret_cast<const char*>(png + chunk.data),
                           static_cast<std::size_t>(chunk.length));
    InternationalText text;
    std::size_t at = 0;
    if (!TakeField(data, &at, &text.keyword) || at + 2 > data.size()) continue;
    const bool compressed = data[at] != 0;
    at += 2;
    if (!TakeField(data, &at, &text.language) || !TakeField(data, &at, &text.translated_keyword))
      continue;
    if (compressed) {
      text.readable = Inflate(data.substr(at), &text.text);
    } else {
      text.text = data.substr(at);
    }
    texts.push_back(std::move(text));
  }
  return texts;
}
