// iTXt chunks (international text, UTF-8), which the plug-in keeps as they
// are and does not show: the command-line host reads and writes them itself.
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

// The complete iTXt chunk `chunk` of the PNG at `png`, its fields taken
// apart. Raises EMemoryError when its text does not fit in memory.
InternationalText ReadInternationalText(const std::uint8_t* png, const PngChunk& chunk);

// Appends to `output` the iTXt chunk of `text`'s keyword, language,
// translated keyword and text, the text deflated when `compressed`. The
// fields are written as given (none may hold a NUL). Raises EMemoryError
// when memory runs out.
void AppendInternationalText(TBitMemoryStream& output, const InternationalText& text);

}  // namespace pngc

#endif
