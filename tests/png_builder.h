// Builds PNG files in code for the tests: chunks framed with their real
// CRC-32, or with a stated length that lies. Bytes are held in std::string.
#ifndef PNGCOMMENT_TESTS_PNG_BUILDER_H
#define PNGCOMMENT_TESTS_PNG_BUILDER_H

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <vector>

namespace pngtest {

extern const std::string kSignature;

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
// Some IDAT data of `size` bytes (not a real image: nothing here decodes it).
std::string Idat(std::size_t size);
// The signature followed by the chunks.
std::string Png(std::initializer_list<std::string> chunks);
// A zlib stream of `text`.
std::string Deflate(const std::string& text, int level = -1);

// An independent reading of a PNG's chunks, for checking what the plug-in
// writes: each chunk's type and data, and whether its CRC is right.
struct ParsedChunk {
  std::string type, data;
  bool crc_ok = false;
};
// The chunks after the signature; `*rest` receives the bytes that do not
// form a complete chunk at the end (empty for a well-formed file).
std::vector<ParsedChunk> ParseChunks(const std::string& png, std::string* rest = nullptr);
// zlib's uncompress of a whole zlib stream; throws when it is not one.
std::string Inflate(const std::string& stream);
// A file's bytes; empty when it cannot be read.
std::string ReadFile(const std::filesystem::path& path);

}  // namespace pngtest

#endif
