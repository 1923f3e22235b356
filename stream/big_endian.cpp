#include "stream/big_endian.h"

namespace pngc {

std::int32_t ReadBE32(TBitMemoryStream& stream) {
  std::uint8_t b[4] = {0, 0, 0, 0};
  stream.ReadBuffer(b, 4);
  return static_cast<std::int32_t>(LoadBE32(b));
}

void WriteBE32(TBitMemoryStream& stream, std::uint32_t value) {
  std::uint8_t b[4];
  StoreBE32(b, value);
  stream.WriteBuffer(b, 4);
}

}  // namespace pngc
