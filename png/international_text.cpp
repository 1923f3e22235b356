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

void AppendInternationalText(TBitMemoryStream& output, const InternationalText& text) {
  auto data = std::make_unique<TBitMemoryStream>();
  const auto put = [&data](const std::string& field) {
    data->WriteBuffer(field.data(), static_cast<std::int32_t>(field.size()));
  };
  put(text.keyword);
  const std::uint8_t flags[3] = {0, text.compressed ? std::uint8_t{1} : std::uint8_t{0}, 0};
  data->WriteBuffer(flags, 3);  // the keyword's NUL, the flag, method 0
  put(text.language);
  data->WriteBuffer(flags, 1);
  put(text.translated_keyword);
  data->WriteBuffer(flags, 1);
  if (text.compressed) {
    auto source = std::make_unique<TBitMemoryStream>();
    source->WriteBuffer(text.text.data(), static_cast<std::int32_t>(text.text.size()));
    source->Seek(0, kFromBeginning);
    if (TZlib().Compress(*source, *data, Z_DEFAULT_COMPRESSION) != Z_STREAM_END)
      throw EMemoryError();
  } else {
    put(text.text);
  }
  AppendChunk(output, TypeOf(ChunkKind::kInternationalText), data->GetMemory(), data->GetSize());
}

InternationalText ReadInternationalText(const std::uint8_t* png, const PngChunk& chunk) {
  const std::string data(reinterpret_cast<const char*>(png + chunk.data),
                         static_cast<std::size_t>(chunk.available));
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
  return text;
}

}  // namespace pngc
