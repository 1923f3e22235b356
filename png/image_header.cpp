#include "png/image_header.h"

#include "stream/big_endian.h"

namespace pngc {

ImageHeader ReadImageHeader(const std::uint8_t* data) {
  const auto be32 = [data](int at) { return static_cast<std::int32_t>(LoadBE32(data + at)); };
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

namespace {

// names[value], or "UnKnown" for a value PNG does not define.
template <std::size_t N>
const char* NameOf(const char* const (&names)[N], std::uint8_t value) {
  const char* name = value < N ? names[value] : nullptr;
  return name != nullptr ? name : "UnKnown";
}

}  // namespace

const char* ColourTypeName(std::uint8_t colour_type) {
  static const char* const kNames[] = {"Gray Scale",
                                       nullptr,
                                       "True Color",
                                       "Indexed Color",
                                       "Gray Scale (with Alpha Channel)",
                                       nullptr,
                                       "True Color (with Alpha Channel)"};
  return NameOf(kNames, colour_type);
}

const char* InterlaceName(std::uint8_t interlace) {
  static const char* const kNames[] = {"No Interlace", "Adam7 interlace"};
  return NameOf(kNames, interlace);
}

}  // namespace pngc
