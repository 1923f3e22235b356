// iTXt chunks (international text, UTF-8), which the plug-in keeps as they
// are and does not show: the command-line host reads them itself.
#ifndef PNGCOMMENT_PNG_INTERNATIONAL_TEXT_H
#define PNGCOMMENT_PNG_INTERNATIONAL_TEXT_H

#include <cstdint>
#include <string>
#include <vector>

#include "png/chunk.h"

namespace pngc {

struct InternationalText {
  PngChunk chunk;  // where it stands
  std::string keyword, language, translated_keyword;
  std::string text;         // UTF-8, inflated when the chunk is compressed
  bool compressed = false;  // stored deflated
  bool readable = true;     // false: the fields are cut short, or the stream is broken
};

// The complete iTXt chunks of the `size` bytes of PNG at `png`, in file
// order. Raises EMemoryError when a text does not fit in memory.
std::vector<InternationalText> ReadInternationalTexts(const std::uint8_t* png, std::int32_t size);

}  // namespace pngc

#endif
