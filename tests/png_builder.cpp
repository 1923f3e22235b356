#include "tests/png_builder.h"

#include <zlib.h>

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

}  // namespace pngtest
