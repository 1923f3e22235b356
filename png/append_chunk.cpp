// Framing the chunks the plug-in makes; apart from png/chunk.cpp, so that a
// host can read chunks with that alone, without the streams.
#include <zlib.h>

#include "png/chunk.h"
#include "stream/big_endian.h"

namespace pngc {

void AppendChunk(TBitMemoryStream& output, const char* type, const std::uint8_t* data,
                 std::int32_t size) {
  const auto* type_bytes = reinterpret_cast<const Bytef*>(type);
  uLong crc = crc32(crc32(0, Z_NULL, 0), type_bytes, 4);
  if (size > 0) crc = crc32(crc, data, static_cast<uInt>(size));
  output.Seek(0, kFromEnd);
  WriteBE32(output, static_cast<std::uint32_t>(size));
  output.WriteBuffer(type_bytes, 4);
  output.WriteBuffer(data, size);
  WriteBE32(output, static_cast<std::uint32_t>(crc));
}

}  // namespace pngc
