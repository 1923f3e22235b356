// The images the benchmark programs time, built with the tests' PNG builder
// (tests/support/png_builder.h): incompressible image data and numbered text
// lines, so that every program times the same kinds of image. A failed
// check stops a program (pngtest::Require): a case that did not build or do
// what it is meant to measure would give figures for some other work.
#ifndef PNGCOMMENT_BENCH_LARGE_PNG_H
#define PNGCOMMENT_BENCH_LARGE_PNG_H

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>

#include "tests/support/png_builder.h"
#include "tests/support/png_model.h"

namespace pngc::bench {

constexpr std::int64_t kKiB = 1 << 10;
constexpr std::int64_t kMiB = 1 << 20;

#ifdef __GLIBC__
// glibc serves a block from the system (fresh pages, faulted in as they are
// filled) or from its heap (pages it already has) by a threshold that rises
// with each large block freed, up to 32 MiB. The reader's streams for a
// 16 MiB text would then reuse pages while those of a 64 MiB one always
// fault them in (and the writer's would favour the smaller texts), and the
// doubling ratios would measure that. A fixed threshold serves every large
// block fresh, whatever the size, as Windows does (HeapAlloc gives large
// blocks VirtualAlloc'd pages of their own). Each program that includes
// this header sets it once, before main.
[[maybe_unused]] const bool kFreshLargeBlocks = mallopt(M_MMAP_THRESHOLD, 128 * 1024) != 0;
#endif

// Lines of a text; numbered, so that it compresses as real text does
// rather than to nothing.
inline std::string TextLines(int first, int count) {
  std::string text;
  char line[64];
  for (int i = first; i < first + count; ++i) {
    text.append(line, static_cast<std::size_t>(
                          std::snprintf(line, sizeof line, "line %08d of the comment\n", i)));
  }
  return text;
}

// A PNG as a camera or an editor writes it: metadata first, the image data in
// IDATs of `idat_chunk` bytes totalling `idat_total`, and a tEXt and a zTXt
// after them, which a reader must walk past every IDAT to find. `software`
// names the program that made it, in a tEXt of its own. Its buffer is
// reserved up front: a 256 MiB image must not be reallocated (and briefly
// held twice) in a 32-bit process.
inline std::string LargePng(std::int64_t idat_chunk, std::int64_t idat_total,
                            const char* software) {
  using namespace pngtest;
  const auto chunks = static_cast<std::size_t>((idat_total + idat_chunk - 1) / idat_chunk);
  std::string png;
  png.reserve(static_cast<std::size_t>(idat_total) + chunks * 12 + 64 * kKiB);
  const std::size_t capacity = png.capacity();
  const std::uint32_t width = 8192;  // RGB rows of 3 * 8192 bytes and a filter byte
  png += kSignature;
  png += Ihdr(width, static_cast<std::uint32_t>(idat_total / (width * 3 + 1)) + 1);
  png += Text("Title", "Harbour at dawn");
  png += Text("Author", "A. Photographer");
  png += Text("Description", TextLines(0, 128));  // 3.6 KiB
  png += Text("Software", software);
  std::uint32_t noise = 0x9E3779B9u;
  for (std::int64_t done = 0; done < idat_total; done += idat_chunk) {
    png += Chunk("IDAT",
                 Noise(static_cast<std::size_t>(std::min(idat_chunk, idat_total - done)), noise));
  }
  png += Text("Comment", "Scanned from the original negative.");
  png += Ztxt("Note", TextLines(1000, 32));
  png += Iend();
  Require(png.capacity() == capacity, "PNG larger than reserved");
  return png;
}

}  // namespace pngc::bench

#endif
