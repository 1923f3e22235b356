// PNG files built and read back in code, for the tests, the fuzz targets and
// the benchmarks: chunks framed with their real CRC-32 (or with a stated
// length that lies), and an independent reading of chunks and zlib streams
// that uses zlib directly, not the plug-in's code. Bytes are held in
// std::string.
#ifndef PNGCOMMENT_TESTS_SUPPORT_PNG_BUILDER_H
#define PNGCOMMENT_TESTS_SUPPORT_PNG_BUILDER_H

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

namespace pngtest {

extern const std::string kSignature;

// The bytes of a string, as the plug-in's functions take them.
inline const std::uint8_t* BytesOf(const std::string& bytes) {
  return reinterpret_cast<const std::uint8_t*>(bytes.data());
}

// ---- Building

std::string BigEndian(std::uint32_t value);
// length, type, data, CRC-32 over type and data.
std::string Chunk(const std::string& type, const std::string& data);
// The same with a stated length that need not match the data.
std::string ChunkStating(std::uint32_t length, const std::string& type, const std::string& data);
std::string Ihdr(std::uint32_t width, std::uint32_t height, std::uint8_t bit_depth = 8,
                 std::uint8_t colour_type = 2, std::uint8_t interlace = 0);
std::string Text(const std::string& keyword, const std::string& text);
// keyword, NUL, method, zlib stream of `text` at the default level.
std::string Ztxt(const std::string& keyword, const std::string& text, std::uint8_t method = 0);
std::string Iend();
// `size` bytes that deflate cannot shrink, as compressed image data is: a
// xorshift32 sequence from `state`, which moves on.
std::string Noise(std::size_t size, std::uint32_t& state);
// Some IDAT data of `size` bytes (not a real image: nothing here decodes it).
std::string Idat(std::size_t size);
// The signature followed by the chunks.
std::string Png(std::initializer_list<std::string> chunks);
// A zlib stream of `text`.
std::string Deflate(const std::string& text, int level = -1);

// ---- Reading

std::uint32_t Be32(const std::uint8_t* bytes);

enum class Framing { kComplete, kCutShort, kNoHeader, kTooLong };

struct FramedChunk {
  std::uint32_t length = 0;
  std::string type;           // the four type bytes
  std::size_t offset = 0;     // of the length field
  std::size_t data = 0;       // of the first data byte
  std::size_t available = 0;  // data bytes that are really there
  std::size_t next = 0;       // past the CRC when complete, else the size
};

// How the bytes at `offset` frame a chunk: no header (fewer than 8 bytes
// left), a stated length of 2^31 or more, cut short by the end, or complete.
// `chunk` is set for kComplete and kCutShort.
Framing FrameChunk(const std::uint8_t* bytes, std::size_t size, std::size_t offset,
                   FramedChunk* chunk);
// True when a complete chunk's stored CRC is the CRC-32 of its type and data.
bool CrcMatches(const std::uint8_t* bytes, const FramedChunk& chunk);

struct ParsedChunk {
  std::string type, data;
  std::string bytes;  // the whole chunk, length to CRC
  bool crc_ok = false;
};
// The complete chunks after the signature; `*rest` receives the bytes from
// the first that frame no complete chunk on (empty for a well-formed file).
std::vector<ParsedChunk> ParseChunks(const std::string& png, std::string* rest = nullptr);

struct Inflated {
  std::string text;        // everything inflated before the stream ended or broke
  bool ended = false;      // the zlib stream ended properly
  bool all_used = false;   // ...and no byte followed it
  bool too_large = false;  // stopped past the limit: `text` is its start
};
// Inflates in one go with a generous output buffer, a different path from
// the plug-in's 4096-byte rounds, so that the two must agree on the bytes;
// stops once more than `limit` bytes have come out.
Inflated InflateAll(const std::uint8_t* data, std::size_t size, std::size_t limit = SIZE_MAX);
// The text of a whole zlib stream; throws when it is not one.
std::string Inflate(const std::string& stream);

}  // namespace pngtest

#endif
