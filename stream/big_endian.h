// The big-endian 32-bit words of the PNG format (chunk lengths, CRCs, IHDR
// width and height), in memory and on a stream.
#ifndef PNGCOMMENT_STREAM_BIG_ENDIAN_H
#define PNGCOMMENT_STREAM_BIG_ENDIAN_H

#include <cstdint>

#include "stream/memory_stream.h"

namespace pngc {

// The four bytes at `bytes`, the first most significant.
inline std::uint32_t LoadBE32(const std::uint8_t* bytes) {
  return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
         (std::uint32_t{bytes[2]} << 8) | bytes[3];
}
// Stores `value` as the four bytes at `bytes`, most significant first.
inline void StoreBE32(std::uint8_t* bytes, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}

// The next four bytes as a signed value, the first most significant (a first
// byte of 0x80 or more gives a negative value); bytes missing at the end of
// the content count as 0.
std::int32_t ReadBE32(TBitMemoryStream& stream);
// Writes `value` as four bytes at the position, most significant first.
void WriteBE32(TBitMemoryStream& stream, std::uint32_t value);

}  // namespace pngc

#endif
