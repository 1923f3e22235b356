// iTXt chunks (international text, UTF-8), which the plug-in keeps as they
// are and does not show: the host reads them itself, to say that they are
// there and to list them in its JSON.
#ifndef PNGCOMMENT_TOOLS_INTERNATIONAL_TEXT_H
#define PNGCOMMENT_TOOLS_INTERNATIONAL_TEXT_H

#include <cstdint>
#include <string>
#include <vector>

struct InternationalText {
  std::string keyword, language, translated_keyword;
  std::string text;      // UTF-8, inflated when the chunk is compressed
  bool readable = true;  // false: compressed, and the stream is broken
};

// The iTXt chunks of the `size` bytes of PNG at `png`, in file order.
std::vector<InternationalText> ReadInternationalTexts(const std::uint8_t* png, std::size_t size);

#endif
