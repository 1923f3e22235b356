#include "reader/text_rendering.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

#include "stream/zlib_codec.h"

namespace pngc {
namespace {

// The chunk data at the position, `length` cut to what the content holds.
const std::uint8_t* DataAt(const TBitMemoryStream& input, std::int32_t* length) {
  const std::int32_t start = input.GetPosition();
  const std::int32_t left = start >= 0 ? std::max(input.GetSize() - start, 0) : 0;
  *length = std::clamp(*length, std::int32_t{0}, left);
  return *length > 0 ? input.GetMemory() + start : nullptr;
}

// Length of the character at data[i]: 2 for a lead byte with a second byte
// (never a NUL), else 1.
std::int32_t CharacterLength(const std::uint8_t* data, std::int32_t i, std::int32_t length) {
  return IsLeadByte(data[i]) && i + 1 < length && data[i + 1] != 0 ? 2 : 1;
}

// Appends the keyword and returns the index of the text: past the keyword's
// NUL, or the length when there is none.
std::int32_t RenderKeyword(const std::uint8_t* data, std::int32_t length,
                           TBitMemoryStream& comment) {
  std::int32_t i = 0;
  while (i < length && data[i] != 0) i += CharacterLength(data, i, length);
  comment.WriteBuffer(data, i);
  return i < length ? i + 1 : i;
}

// The bytes the text cannot be copied over as they are: LF (becomes CR LF),
// NUL (dropped) and Shift_JIS lead bytes (their second byte is never
// converted, nor dropped unless a NUL). A table: one look per byte.
constexpr std::array<bool, 256> kNeedsALook = [] {
  std::array<bool, 256> table{};
  for (int byte = 0; byte < 256; ++byte) {
    table[byte] = byte == '\n' || byte == 0 || IsLeadByte(static_cast<std::uint8_t>(byte));
  }
  return table;
}();

// How many of the `count` bytes at `data` are ordinary, from the first.
std::int32_t OrdinaryRun(const std::uint8_t* data, std::int32_t count) {
  std::int32_t n = 0;
  while (n < count && !kNeedsALook[data[n]]) ++n;
  return n;
}

// Appends the text with LF as CR LF and without NULs. The bytes gather in a
// block that is appended whole, so that a text full of short lines costs no
// more calls than one long line.
void RenderBody(const std::uint8_t* data, std::int32_t length, TBitMemoryStream& comment) {
  constexpr std::int32_t kBlock = 16384;
  std::uint8_t block[kBlock + 2];  // room for a character or a CR LF past the mark
  std::int32_t used = 0;
  std::int32_t i = 0;
  while (i < length) {
    // Ordinary bytes, as many as the block takes.
    const std::int32_t room = std::min(length - i, kBlock - used);
    const std::int32_t run = OrdinaryRun(data + i, room);
    std::memcpy(block + used, data + i, static_cast<std::size_t>(run));
    used += run;
    i += run;
    if (run < room) {
      const std::uint8_t byte = data[i];
      if (byte == '\n') {
        block[used++] = '\r';
        block[used++] = '\n';
        ++i;
      } else if (byte == 0) {
        while (i < length && data[i] == 0) ++i;  // a run at once: a zTXt of zeros is a bomb's way
      } else {
        const std::int32_t n = CharacterLength(data, i, length);
        block[used++] = byte;
        if (n == 2) block[used++] = data[i + 1];
        i += n;
      }
    }
    if (used >= kBlock) {
      comment.WriteBuffer(block, used);
      used = 0;
    }
  }
  comment.WriteBuffer(block, used);
}

}  // namespace

void RenderTextChunk(TBitMemoryStream& input, TBitMemoryStream& comment, std::int32_t length) {
  const std::int32_t start = input.GetPosition();
  const std::uint8_t* data = DataAt(input, &length);
  comment.WriteBuffer("[", 1);
  const std::int32_t text = RenderKeyword(data, length, comment);
  comment.WriteBuffer("]\r\n", 3);
  if (text < length) {
    RenderBody(data + text, length - text, comment);
    comment.WriteBuffer("\r\n", 2);
  }
  input.Seek(start + length, kFromBeginning);
}

void RenderCompressedTextChunk(TBitMemoryStream& input, TBitMemoryStream& comment,
                               std::int32_t length) {
  const std::int32_t start = input.GetPosition();
  const std::uint8_t* data = DataAt(input, &length);
  comment.WriteBuffer("<", 1);
  const std::int32_t method = RenderKeyword(data, length, comment);
  comment.WriteBuffer(">\r\n", 3);
  const std::int32_t compressed = method + 1;
  if (compressed < length) {
    // The compressed bytes go to a stream of their own, so that inflating
    // stops at the chunk's end even when the zlib stream does not.
    auto codec = std::make_unique<TZlib>();
    auto source = std::make_unique<TBitMemoryStream>();
    auto text = std::make_unique<TBitMemoryStream>();
    input.Seek(start + compressed, kFromBeginning);
    source->CopyFrom(input, length - compressed);
    source->Seek(0, kFromBeginning);
    codec->Decompress(*source, *text);
    RenderBody(text->GetMemory(), text->GetSize(), comment);
    comment.WriteBuffer("\r\n", 2);
  }
  input.Seek(start + length, kFromBeginning);
}

}  // namespace pngc
