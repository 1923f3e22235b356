#include "tests/support/png_builder.h"

#include <zlib.h>

#include <stdexcept>
#include <utility>

namespace pngtest {

const std::string kSignature("\x89PNG\r\n\x1a\n", 8);

std::string BigEndian(std::uint32_t value) {
  return {static_cast<char>(value >> 24), static_cast<char>(value >> 16),
          static_cast<char>(value >> 8), static_cast<char>(value)};
}

std::string ChunkStating(std::uint32_t length, const std::string& type, const std::string& data) {
  std::string chunk = BigEndian(length) + type + data;
  const auto crc = crc32(0, BytesOf(chunk) + 4, static_cast<uInt>(chunk.size() - 4));
  return chunk += BigEndian(static_cast<std::uint32_t>(crc));
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
  if (compress2(reinterpret_cast<Bytef*>(out.data()), &size, BytesOf(text),
                static_cast<uLong>(text.size()), level) != Z_OK) {
    throw std::runtime_error("compress2 failed");
  }
  out.resize(size);
  return out;
}

std::string Ztxt(const std::string& keyword, const std::string& text, std::uint8_t method) {
  return Chunk("zTXt", keyword + std::string(1, '\0') + static_cast<char>(method) + Deflate(text));
}

std::string Iend() { return Chunk("IEND", ""); }

std::string Noise(std::size_t size, std::uint32_t& state) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) {
    if (i % 4 == 0) {
      state ^= state << 13;
      state ^= state >> 17;
      state ^= state << 5;
    }
    bytes[i] = static_cast<char>(state >> (8 * (i % 4)));
  }
  return bytes;
}

std::string Idat(std::size_t size) {
  std::uint32_t state = 12345;
  return Chunk("IDAT", Noise(size, state));
}

std::string Png(std::initializer_list<std::string> chunks) {
  std::string png = kSignature;
  for (const std::string& chunk : chunks) png += chunk;
  return png;
}

std::uint32_t Be32(const std::uint8_t* bytes) {
  return (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) |
         (std::uint32_t{bytes[2]} << 8) | std::uint32_t{bytes[3]};
}

Framing FrameChunk(const std::uint8_t* bytes, std::size_t size, std::size_t offset,
                   FramedChunk* chunk) {
  if (offset > size || size - offset < 8) return Framing::kNoHeader;
  const std::uint32_t length = Be32(bytes + offset);
  if (length > 0x7FFFFFFFu) return Framing::kTooLong;
  chunk->length = length;
  chunk->type.assign(reinterpret_cast<const char*>(bytes + offset + 4), 4);
  chunk->offset = offset;
  chunk->data = offset + 8;
  const std::size_t left = size - chunk->data;
  chunk->available = length < left ? length : left;
  const std::uint64_t end = std::uint64_t{chunk->data} + length + 4;
  if (end > size) {
    chunk->next = size;
    return Framing::kCutShort;
  }
  chunk->next = static_cast<std::size_t>(end);
  return Framing::kComplete;
}

bool CrcMatches(const std::uint8_t* bytes, const FramedChunk& chunk) {
  const uLong crc = crc32(0, bytes + chunk.offset + 4, static_cast<uInt>(chunk.length + 4));
  return static_cast<std::uint32_t>(crc) == Be32(bytes + chunk.data + chunk.length);
}

std::vector<ParsedChunk> ParseChunks(const std::string& png, std::string* rest) {
  std::vector<ParsedChunk> chunks;
  FramedChunk c;
  std::size_t offset = kSignature.size();
  for (; FrameChunk(BytesOf(png), png.size(), offset, &c) == Framing::kComplete; offset = c.next) {
    chunks.push_back({c.type, png.substr(c.data, c.length), png.substr(offset, c.next - offset),
                      CrcMatches(BytesOf(png), c)});
  }
  if (rest != nullptr) *rest = offset < png.size() ? png.substr(offset) : "";
  return chunks;
}

Inflated InflateAll(const std::uint8_t* data, std::size_t size, std::size_t limit) {
  Inflated result;
  z_stream z{};
  if (inflateInit(&z) != Z_OK) throw std::runtime_error("inflateInit failed");
  z.next_in = const_cast<Bytef*>(data);
  z.avail_in = static_cast<uInt>(size);
  std::string out(1 << 16, '\0');
  int rc = Z_OK;
  while (rc == Z_OK) {
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = static_cast<uInt>(out.size());
    rc = inflate(&z, Z_NO_FLUSH);
    result.text.append(out, 0, out.size() - z.avail_out);
    if (result.text.size() > limit) {
      result.too_large = true;
      break;
    }
  }
  result.ended = rc == Z_STREAM_END;
  result.all_used = result.ended && z.avail_in == 0;
  inflateEnd(&z);
  return result;
}

std::string Inflate(const std::string& stream) {
  Inflated inflated = InflateAll(BytesOf(stream), stream.size());
  if (!inflated.ended) throw std::runtime_error("not a zlib stream");
  return std::move(inflated.text);
}

}  // namespace pngtest
