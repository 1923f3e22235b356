#include "reader/image_summary.h"

#include <cstdint>
#include <cstdio>

#include "stream/big_endian.h"

namespace pngc {
namespace {

const char* ColourTypeName(std::uint8_t colour_type) {
  switch (colour_type) {
    case 0:
      return "Gray Scale";
    case 2:
      return "True Color";
    case 3:
      return "Indexed Color";
    case 4:
      return "Gray Scale (with Alpha Channel)";
    case 6:
      return "True Color (with Alpha Channel)";
    default:
      return "UnKnown";
  }
}

const char* InterlaceName(std::uint8_t interlace) {
  switch (interlace) {
    case 0:
      return "No Interlace";
    case 1:
      return "Adam7 interlace";
    default:
      return "UnKnown";
  }
}

std::uint8_t ReadByte(TBitMemoryStream& input) {
  std::uint8_t byte = 0;
  input.ReadBuffer(&byte, 1);
  return byte;
}

// Appends one formatted line, without the formatter's terminating NUL.
template <typename... Args>
void AppendLine(TBitMemoryStream& summary, const char* format, Args... args) {
  char line[255];
  const int length = std::snprintf(line, sizeof line, format, args...);
  if (length > 0) summary.WriteBuffer(line, length < static_cast<int>(sizeof line) ? length : 254);
}

}  // namespace

void RenderImageSummary(TBitMemoryStream& input, std::int32_t file_size,
                        TBitMemoryStream& summary) {
  const std::int32_t width = ReadBE32(input);
  const std::int32_t height = ReadBE32(input);
  const std::uint8_t bit_depth = ReadByte(input);
  const std::uint8_t colour_type = ReadByte(input);
  ReadByte(input);  // compression method
  ReadByte(input);  // filter method
  const std::uint8_t interlace = ReadByte(input);

  AppendLine(summary, "%s", "PNG(Portable Network Graphics) Image\r\n");
  AppendLine(summary, "Pixel Size : %d x %d\r\n", static_cast<int>(width),
             static_cast<int>(height));
  AppendLine(summary, "Color Type : %s\r\n", ColourTypeName(colour_type));
  AppendLine(summary, "Color Depth: %d bits/pixel\r\n", static_cast<int>(bit_depth));
  AppendLine(summary, "Interlace  : %s\r\n", InterlaceName(interlace));
  AppendLine(summary, "File Size  : %d byte\r\n", static_cast<int>(file_size));
}

}  // namespace pngc
