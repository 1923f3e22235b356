#include "reader/image_summary.h"

#include <cstdint>
#include <cstdio>

#include "png/image_header.h"

namespace pngc {
namespace {

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
  std::uint8_t data[kImageHeaderSize] = {};
  input.ReadBuffer(data, kImageHeaderSize);
  const ImageHeader header = ReadImageHeader(data);
  AppendLine(summary, "%s", "PNG(Portable Network Graphics) Image\r\n");
  AppendLine(summary, "Pixel Size : %d x %d\r\n", static_cast<int>(header.width),
             static_cast<int>(header.height));
  AppendLine(summary, "Color Type : %s\r\n", ColourTypeName(header.colour_type));
  AppendLine(summary, "Color Depth: %d bits/pixel\r\n", static_cast<int>(header.bit_depth));
  AppendLine(summary, "Interlace  : %s\r\n", InterlaceName(header.interlace));
  AppendLine(summary, "File Size  : %d byte\r\n", static_cast<int>(file_size));
}

}  // namespace pngc
