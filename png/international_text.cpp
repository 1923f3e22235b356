#include "png/international_text.h"

#include <memory>

#include "stream/memory_error.h"
#include "stream/zlib_codec.h"

namespace pngc {
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

// What a zlib stream inflates to before it ends or breaks; false when it
// breaks.
bool Inflate(const std::string& stream, std::string* text) {
  auto source = std::make_unique<TBitMemoryStream>();
  auto inflated = std::make_unique<TBitMemoryStream>();
  source->WriteBuffer(stream.data(), static_cast<std::int32_t>(stream.size()));
  source->Seek(0, kFromBeginning);
  const std::int32_t result = TZlib().Decompress(*source, *inflated);
  text->assign(reinterpret_cast<const char*>(inflated->GetMemory()),
               static_cast<std::size_t>(inflated->GetSize()));
  return result == Z_OK;
}

}  // namespace

std::vector<InternationalText> ReadInternationalTexts(const std::uint8_t* png, std::int32_t size) {
  std::vector<InternationalText> texts;
  ChunkWalk walk(png, size);
  PngChunk chunk;
  while (walk.Next(&chunk)) {
    if (!chunk.complete || KindOf(chunk) != ChunkKind::kInternationalText) continue;
    const std::string data(reinterpret_cast<const char*>(png + chunk.data),
                           static_cast<std::size_t>(chunk.length));
    InternationalText text;
    text.chunk = chunk;
    std::size_t at = 0;
    text.readable = TakeField(data, &at, &text.keyword) && at + 2 <= data.size();
    if (text.readable) {
      text.compressed = data[at] != 0;
      at += 2;
      text.readable =
          TakeField(data, &at, &text.language) && TakeField(data, &at, &text.translated_keyword);
    }
    if (text.readable && text.compressed) {
      text.readable = Inflate(data.substr(at), &text.text);
    } else if (text.readable) {
      text.text = data.substr(at);
    }
    texts.push_back(std::move(text));
  }
  return texts;
}

}  // namespace pngc
