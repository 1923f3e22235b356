// The IHDR chunk's values, and the names the image summary gives them.
#ifndef PNGCOMMENT_PNG_IMAGE_HEADER_H
#define PNGCOMMENT_PNG_IMAGE_HEADER_H

#include <cstdint>

namespace pngc {

constexpr std::int32_t kImageHeaderSize = 13;  // IHDR's data bytes

struct ImageHeader {
  std::int32_t width = 0, height = 0;  // as signed 32-bit, as the summary shows them
  std::uint8_t bit_depth = 0, colour_type = 0, compression = 0, filter = 0, interlace = 0;
};

// The values of IHDR's 13 data bytes at `data`.
ImageHeader ReadImageHeader(const std::uint8_t* data);

// "Gray Scale", "True Color", "Indexed Color", "Gray Scale (with Alpha
// Channel)", "True Color (with Alpha Channel)", else "UnKnown".
const char* ColourTypeName(std::uint8_t colour_type);
// "No Interlace", "Adam7 interlace", else "UnKnown".
const char* InterlaceName(std::uint8_t interlace);

}  // namespace pngc

#endif
