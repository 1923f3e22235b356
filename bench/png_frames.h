// Building PNG files in memory for the benchmarks: chunks framed with their
// lengths and CRCs, incompressible image data and numbered text lines, so
// that every benchmark program times the same kinds of image.
#ifndef PNGCOMMENT_BENCH_PNG_FRAMES_H
#define PNGCOMMENT_BENCH_PNG_FRAMES_H

#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>
#include <vector>

namespace pngc::bench {

constexpr std::int64_t kKiB = 1 << 10;
constexpr std::int64_t kMiB = 1 << 20;

using Bytes = std::vector<std::uint8_t>;

// A case that did not build or do what it is meant to measure would give
// figures for some other work, so the run stops instead. Each program
// defines it, naming itself in the message (and removing what it wrote).
void Require(bool condition, const char* what);

inline void PutUint32(std::uint8_t* out, std::uint32_t value) {
  out[0] = static_cast<std::uint8_t>(value >> 24);
  out[1] = static_cast<std::uint8_t>(value >> 16);
  out[2] = static_cast<std::uint8_t>(value >> 8);
  out[3] = static_cast<std::uint8_t>(value);
}

inline std::uint32_t GetUint32(const std::uint8_t* in) {
  return std::uint32_t{in[0]} << 24 | std::uint32_t{in[1]} << 16 | std::uint32_t{in[2]} << 8 |
         std::uint32_t{in[3]};
}

// Frames chunks into one buffer reserved up front: a 256 MiB image must not
// be reallocated (and briefly held twice) in a 32-bit process.
class PngFramer {
 public:
  explicit PngFramer(std::size_t capacity) {
    static const std::uint8_t kSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    bytes_.reserve(capacity);
    bytes_.assign(kSignature, kSignature + sizeof kSignature);
  }

  // Appends the header of a chunk with `size` data bytes and returns its
  // data, for the caller to fill before End.
  std::uint8_t* Begin(const char* type, std::size_t size) {
    Require(bytes_.size() + 12 + size <= bytes_.capacity(), "PNG larger than reserved");
    start_ = bytes_.size();
    bytes_.resize(start_ + 8 + size + 4);
    PutUint32(&bytes_[start_], static_cast<std::uint32_t>(size));
    std::memcpy(&bytes_[start_ + 4], type, 4);
    return &bytes_[start_ + 8];
  }

  // Writes the CRC of the chunk begun last, over its type and data.
  void End() {
    const std::size_t crc_at = bytes_.size() - 4;
    const uLong crc = crc32(0L, &bytes_[start_ + 4], static_cast<uInt>(crc_at - start_ - 4));
    PutUint32(&bytes_[crc_at], static_cast<std::uint32_t>(crc));
  }

  void Chunk(const char* type, const void* data, std::size_t size) {
    std::uint8_t* out = Begin(type, size);
    if (size > 0) std::memcpy(out, data, size);
    End();
  }

  // A text chunk: keyword, NUL, then (zTXt) method 0 and the zlib stream.
  void Text(const char* type, const char* keyword, const Bytes& text) {
    const std::size_t keyword_size = std::strlen(keyword) + 1;
    const std::size_t method_size = type[0] == 'z' ? 1 : 0;
    std::uint8_t* data = Begin(type, keyword_size + method_size + text.size());
    std::memcpy(data, keyword, keyword_size);
    if (method_size != 0) data[keyword_size] = 0;
    if (!text.empty()) std::memcpy(data + keyword_size + method_size, text.data(), text.size());
    End();
  }

  void Header(std::uint32_t width, std::uint32_t height) {
    std::uint8_t ihdr[13] = {0, 0, 0, 0, 0, 0, 0, 0, 8, 2, 0, 0, 0};  // 8-bit RGB
    PutUint32(ihdr, width);
    PutUint32(ihdr + 4, height);
    Chunk("IHDR", ihdr, sizeof ihdr);
  }

  Bytes Take() { return std::move(bytes_); }

 private:
  Bytes bytes_;
  std::size_t start_ = 0;
};

// Bytes that deflate cannot shrink, as compressed image data is.
inline void FillNoise(std::uint8_t* out, std::size_t size, std::uint32_t& state) {
  for (std::size_t i = 0; i < size; ++i) {
    if (i % 4 == 0) {
      state ^= state << 13;  // xorshift32
      state ^= state >> 17;
      state ^= state << 5;
    }
    out[i] = static_cast<std::uint8_t>(state >> (8 * (i % 4)));
  }
}

inline Bytes AsBytes(const char* text) { return Bytes(text, text + std::strlen(text)); }

inline Bytes Deflate(const Bytes& text) {
  uLongf size = compressBound(static_cast<uLong>(text.size()));
  Bytes stream(size);
  Require(compress2(stream.data(), &size, text.data(), static_cast<uLong>(text.size()),
                    Z_DEFAULT_COMPRESSION) == Z_OK,
          "compress2 failed");
  // A copy of the exact size, so the bound's slack is not kept for the run.
  return Bytes(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(size));
}

// Lines of a text; numbered, so that it compresses as real text does
// rather than to nothing.
inline Bytes TextLines(int first, int count) {
  Bytes text;
  char line[64];
  for (int i = first; i < first + count; ++i) {
    const int length = std::snprintf(line, sizeof line, "line %08d of the comment\n", i);
    text.insert(text.end(), line, line + length);
  }
  return text;
}

// A PNG as a camera or an editor writes it: metadata first, the image data in
// IDATs of `idat_chunk` bytes totalling `idat_total`, and a tEXt and a zTXt
// after them, which a reader must walk past every IDAT to find. `software`
// names the program that made it, in a tEXt of its own.
inline Bytes LargePng(std::int64_t idat_chunk, std::int64_t idat_total, const char* software) {
  const auto chunks = static_cast<std::size_t>((idat_total + idat_chunk - 1) / idat_chunk);
  PngFramer png(static_cast<std::size_t>(idat_total) + chunks * 12 + 64 * kKiB);
  const std::uint32_t width = 8192;  // RGB rows of 3 * 8192 bytes and a filter byte
  png.Header(width, static_cast<std::uint32_t>(idat_total / (width * 3 + 1)) + 1);
  png.Text("tEXt", "Title", AsBytes("Harbour at dawn"));
  png.Text("tEXt", "Author", AsBytes("A. Photographer"));
  png.Text("tEXt", "Description", TextLines(0, 128));  // 3.6 KiB
  png.Text("tEXt", "Software", AsBytes(software));
  std::uint32_t noise = 0x9E3779B9u;
  for (std::int64_t done = 0; done < idat_total; done += idat_chunk) {
    const auto size = static_cast<std::size_t>(std::min(idat_chunk, idat_total - done));
    FillNoise(png.Begin("IDAT", size), size, noise);
    png.End();
  }
  png.Text("tEXt", "Comment", AsBytes("Scanned from the original negative."));
  png.Text("zTXt", "Note", Deflate(TextLines(1000, 32)));
  png.Chunk("IEND", nullptr, 0);
  return png.Take();
}

}  // namespace pngc::bench

#endif
