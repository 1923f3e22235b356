#include "png/image_header.h"

namespace pngc {

ImageHeader ReadImageHeader(const std::uint8_t* data) {
  const auto be32 = [data](int at) {
    return static_cast<std::int32_t>((std::uint32_t{data[at]} << 24) |
                                     (std::uint32_t{data[at + 1]} << 16) |
                                     (std::uint32_t{data[at + 2]} << 8) | data[at + 3]);
  };
  ImageHeader header;
  header.width = be32(0);
  header.height = be32(4);
  header.bit_depth = data[8];
  header.colour_type = data[9];
  header.compression = data[10];
  header.filter = data[11];
  header.interlace = data[12];
  return header;
}

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

}  // namespace pngc
