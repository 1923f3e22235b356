// The big-endian 32-bit words of the PNG format (chunk lengths, CRCs, IHDR
// width and height) on a stream.
#ifndef PNGCOMMENT_STREAM_BIG_ENDIAN_H
#define PNGCOMMENT_STREAM_BIG_ENDIAN_H

#include <cstdint>

#include "stream/memory_stream.h"

namespace pngc {

// The next four bytes as a signed value, the first most significant (a first
// byte of 0x80 or more gives a negative value); bytes missing at the end of
// the content count as 0.
std::int32_t ReadBE32(TBitMemoryStream& stream);
// Writes `value` as four bytes at the position, most significant first.
void WriteBE32(TBitMemoryStream& stream, std::uint32_t value);

}  // namespace pngc

#endif
