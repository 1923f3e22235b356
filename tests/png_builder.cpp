#include "tests/png_builder.h"

#include <zlib.h>

#include <fstream>
#include <iterator>
#include <stdexcept>

namespace pngtest {

const std::string kSignature("\x89PNG\r\n\x1a\n", 8);

namespace {

std::string BigEndian(std::uint32_t value) {
  return {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
          static_cast<char>(value >> 8), static_cast<char>(value)};
}

}  // namespace

std::string ChunkStating(std::uint32_t length, const std::string& type, const std::string& data) {
  const std::string body = type + data;
  const auto crc = crc32(0, reinterpret_cast<const Bytef*>(body.data()),
                         static_cast<uInt>(body.size()));
  return BigEndian(length) + body + BigEndian(static_cast<std::uint32_t>(crc));
}

std::string Chunk(const std::string& type, const std::string& data) {
  return ChunkStating(static_cast<std::uint32_t>(data.size()), type, data);
}

std::string Ihdr(std::uint32_t width, std::uint32_t height, std::uint8_t bit_depth,
                 std::uint8_t colour_type, std::uint8_t interlace) {
  std::string data = BigEndian(width) + BigEndian(height);
  data += {static_cast<char>(bit_depth), static_cast<char>(colour_type), 0, 0,
           static_cast<char>(interlace)};
  return Chunk("IHDR", data);
}

std::string Text(const std::string& keyword, const std::string& text) {
  return Chunk("tEXt", keyword + std::string(1, '\0') + text);
}

std::string Deflate(const std::string& text, int level) {
  uLongf size = compressBound(static_cast<uLong>(text.size()));
  std::string out(size, '\0');
  if (compress2(reinterpret_cast<Bytef*>(out.data()), &size,
                reinterpret_cast<const Bytef*>(text.data()), static_cast<uLong>(text.size()),
                level) != Z_OK) {
    throw std::runtime_error("compress2 failed");
  }
  out.resize(size);
  return out;
}

std::string Ztxt(const std::string& keyword, const std::string& text, std::uint8_t method) {
  return Chunk("zTXt", keyword + std::string(1, '\0') + static_cast<char>(method) + Deflate(text));
}

std::string Iend() { return Chunk("IEND", ""); }

std::string Idat(std::size_t size) {
  std::string data(size, '\0');
  std::uint32_t state = 12345;
  for (char& byte : data) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<char>(state >> 24);
  }
  return Chunk("IDAT", data);
}

std::string Png(std::initializer_list<std::string> chunks) {
  std::string png = kSignature;
  for (const std::string& chunk : chunks) png += chunk;
  return png;
}

std::vector<ParsedChunk> ParseChunks(const std::string& png, std::string* rest) {
  std::vector<ParsedChunk> chunks;
  std::size_t offset = kSignature.size();
  const auto word = [&png](std::size_t at) {
    return (std::uint32_t{static_cast<std::uint8_t>(png[at])} << 24) |
           (std::uint32_t{static_cast<std::uint8_t>(png[at + 1])} << 16) |
           (std::uint32_t{static_cast<std::uint8_t>(png[at + 2])} << 8) |
           static_cast<std::uint8_t>(png[at + 3]);
  };
  while (offset + 12 <= png.size()) {
    const std::uint32_t length = word(offset);
    if (length > png.size() - offset - 12) break;
    ParsedChunk chunk;
    chunk.type = png.substr(offset + 4, 4);
    chunk.data = png.substr(offset + 8, length);
    const std::string body = png.substr(offset + 4, 4 + length);
    chunk.crc_ok = word(offset + 8 + length) ==
                   crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()));
    chunks.push_back(chunk);
    offset += 12 + length;
  }
  if (rest != nullptr) *rest = offset < png.size() ? png.substr(offset) : "";
  return chunks;
}

std::string Inflate(const std::string& stream) {
  for (uLongf capacity = 4 * stream.size() + 64;; capacity *= 4) {
    std::string out(capacity, '\0');
    uLongf size = capacity;
    const int result = uncompress(reinterpret_cast<Bytef*>(out.data()), &size,
                                  reinterpret_cast<const Bytef*>(stream.data()),
                                  static_cast<uLong>(stream.size()));
    if (result == Z_OK) return out.substr(0, size);
    // Z_BUF_ERROR also means a stream cut short: give up past any sane size.
    if (result != Z_BUF_ERROR || capacity > (1u << 28)) throw std::runtime_error("not a zlib stream");
  }
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace pngtest
