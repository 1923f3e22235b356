// How the cost of ReadComment grows with the file and with the text.
//
// BM_ReadLargePng: a photo-sized PNG whose comment is small. The reader
// copies the image once and then only steps from chunk header to chunk
// header (IDAT data is never inflated), so the time should double with the
// file, and stay near a plain copy of the same bytes: BM_MemcpyFloor copies
// into memory touched beforehand, BM_MemcpyFreshFloor into a new block each
// time, as the reader's copy must (the page faults count, as they do there).
//
// BM_ReadLargeZtxt: a small PNG whose one zTXt holds a long text. The text is
// inflated and rendered (LF becomes CR LF), so the time should double with
// the text and stay near zlib's own inflate of the same stream into a buffer
// of the right size, touched beforehand (BM_InflateFloor) or new each time
// (BM_InflateFreshFloor). BM_DecompressCodec times the inflating alone.
//
// scripts/bench-report prints the doubling ratios and the ratio of each case
// to its floor from the same run.
#ifdef PNGC_BENCHMARK_SHIM
#include "bench/benchmark_shim.h"
#else
#include <benchmark/benchmark.h>
#endif

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "bench/large_png.h"
#include "platform/os.h"
#include "reader/comment_reader.h"
#include "stream/memory_stream.h"
#include "stream/zlib_codec.h"

namespace {

using pngc::kFromBeginning;
using pngc::TBitMemoryStream;
using pngc::TZlib;
using pngc::bench::kKiB;
using pngc::bench::kMiB;
using pngtest::BytesOf;
using pngtest::Require;

// The image of BM_ReadLargePng and its floors.
std::string LargePng(std::int64_t idat_chunk, std::int64_t idat_total) {
  return pngc::bench::LargePng(idat_chunk, idat_total, "pngcomment reader benchmark");
}

// `size` bytes of text in lines of `line_length` bytes, LF included: 29 is
// "line 00000042 of the comment"; shorter lines are numbers of
// line_length - 1 digits (2: a digit and an LF, half the text LFs).
std::string LongText(std::int64_t line_length, std::int64_t size) {
  std::string text(static_cast<std::size_t>(size), '\0');
  char line[64];
  std::int64_t done = 0;
  for (unsigned number = 0; done < size; ++number) {
    int length;
    if (line_length == 29) {
      length = std::snprintf(line, sizeof line, "line %08u of the comment\n", number);
    } else {
      unsigned modulus = 1;
      for (std::int64_t i = 1; i < line_length; ++i) modulus *= 10;
      length = std::snprintf(line, sizeof line, "%0*u\n", static_cast<int>(line_length - 1),
                             number % modulus);
    }
    Require(length == line_length, "line of the wrong length");
    const std::int64_t take = std::min<std::int64_t>(length, size - done);
    std::memcpy(&text[static_cast<std::size_t>(done)], line, static_cast<std::size_t>(take));
    done += take;
  }
  return text;
}

// Compressing 64 MiB of text takes longer than reading it back, and the
// reader and its floor need the same stream: each is made once per run.
const std::string& CompressedText(std::int64_t line_length, std::int64_t size) {
  static std::map<std::pair<std::int64_t, std::int64_t>, std::string> streams;
  std::string& stream = streams[{line_length, size}];
  if (stream.empty()) stream = pngtest::Deflate(LongText(line_length, size));
  return stream;
}

// A small image whose comment is one zTXt holding the whole text.
std::string ZtxtPng(const std::string& stream) {
  using namespace pngtest;
  std::uint32_t noise = 12345;
  return Png({Ihdr(640, 480), Chunk("zTXt", std::string("Comment\0\0", 9) + stream),
              Chunk("IDAT", Noise(4 * kKiB, noise)), Iend()});
}

struct Handles {
  void* comment = nullptr;
  void* summary = nullptr;
};

Handles Read(const std::string& png) {
  Handles handles;
  pngc::ReadComment(BytesOf(png), static_cast<std::int32_t>(png.size()), &handles.comment,
                    &handles.summary);
  return handles;
}

void Free(const Handles& handles) {
  pngc::os::FreeLocal(handles.comment);
  pngc::os::FreeLocal(handles.summary);
}

// `check` applied to the comment text of `handles`; false when there is
// none. The block stays locked only while `check` runs.
template <class Check>
bool CheckComment(const Handles& handles, Check check) {
  if (handles.comment == nullptr) return false;
  const auto* text = static_cast<const char*>(pngc::os::LockLocal(handles.comment));
  const bool ok = text != nullptr && check(text);
  pngc::os::UnlockLocal(handles.comment);
  return ok;
}

// Reads `png` as often as the case asks. One untimed call first checks that
// the whole text is read (`check`) and warms the caches. The handles are kept
// until the clock stops, so that freeing them, which is the host's cost, is
// not timed.
template <class Check>
void TimeReads(benchmark::State& state, const std::string& png, std::int64_t bytes, Check check) {
  const Handles first = Read(png);
  Require(first.summary != nullptr && CheckComment(first, check), "the comment was not read whole");
  Free(first);
  std::vector<Handles> kept;
  kept.reserve(static_cast<std::size_t>(state.max_iterations));
  for (auto _ : state) {
    kept.push_back(Read(png));
    benchmark::DoNotOptimize(kept.back().comment);
  }
  state.SetBytesProcessed(state.iterations() * bytes);
  for (const Handles& handles : kept) Free(handles);
}

// range(0): bytes per IDAT; range(1): IDAT bytes in all.
void BM_ReadLargePng(benchmark::State& state) {
  const std::string png = LargePng(state.range(0), state.range(1));
  TimeReads(state, png, static_cast<std::int64_t>(png.size()),
            // The last line of the zTXt that follows the IDATs.
            [](const char* text) {
              return std::strstr(text, "line 00001031 of the comment\r\n") != nullptr;
            });
}

// range(0): IDAT bytes in all, in IDATs of 1 MiB: the same image as
// BM_ReadLargePng's, copied into memory touched beforehand.
void BM_MemcpyFloor(benchmark::State& state) {
  const std::string png = LargePng(kMiB, state.range(0));
  // Zero-filled: every page is touched before the clock starts.
  std::vector<std::uint8_t> copy(png.size());
  std::memcpy(copy.data(), png.data(), png.size());
  for (auto _ : state) {
    std::memcpy(copy.data(), png.data(), png.size());
    benchmark::DoNotOptimize(copy.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(png.size()));
}

// The same copy into a new block each time, freed at once, as the reader
// allocates, fills and frees its copy of the image.
void BM_MemcpyFreshFloor(benchmark::State& state) {
  const std::string png = LargePng(kMiB, state.range(0));
  for (auto _ : state) {
    std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[png.size()]);
    std::memcpy(copy.get(), png.data(), png.size());
    benchmark::DoNotOptimize(copy.get());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(png.size()));
}

// range(0): bytes per line, LF included; range(1): bytes of text.
void BM_ReadLargeZtxt(benchmark::State& state) {
  const std::int64_t size = state.range(1);
  const std::string png = ZtxtPng(CompressedText(state.range(0), size));
  // Every LF gains a CR, so the rendered text is at least as long as the text.
  TimeReads(state, png, size, [size](const char* text) {
    return static_cast<std::int64_t>(std::strlen(text)) > size;
  });
}

// range(0), range(1): as for BM_ReadLargeZtxt; the plug-in's codec alone,
// inflating the same stream from a stream into a new stream, as the reader
// does before it converts the text.
void BM_DecompressCodec(benchmark::State& state) {
  const std::int64_t size = state.range(1);
  const std::string& stream = CompressedText(state.range(0), size);
  TBitMemoryStream source;
  source.WriteBuffer(stream.data(), static_cast<std::int32_t>(stream.size()));
  for (auto _ : state) {
    source.Seek(0, kFromBeginning);
    auto text = std::make_unique<TBitMemoryStream>();
    TZlib codec;
    Require(codec.Decompress(source, *text) == 0 && text->GetSize() == size,
            "the codec did not inflate the text whole");
    benchmark::DoNotOptimize(text->GetMemory());
  }
  state.SetBytesProcessed(state.iterations() * size);
}

// range(0), range(1): as for BM_ReadLargeZtxt; zlib's one-call inflate of the
// same stream into a buffer of the text's size, touched beforehand.
void BM_InflateFloor(benchmark::State& state) {
  const std::int64_t size = state.range(1);
  const std::string& stream = CompressedText(state.range(0), size);
  std::vector<std::uint8_t> text(static_cast<std::size_t>(size));
  uLongf length = static_cast<uLongf>(size);
  Require(uncompress(text.data(), &length, BytesOf(stream), static_cast<uLong>(stream.size())) ==
                  Z_OK &&
              length == static_cast<uLongf>(size),
          "the text did not inflate whole");
  for (auto _ : state) {
    length = static_cast<uLongf>(size);
    int result =
        uncompress(text.data(), &length, BytesOf(stream), static_cast<uLong>(stream.size()));
    benchmark::DoNotOptimize(result);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * size);
}

// The same inflate into a new block each time, freed at once: the floor of
// a reader that, like every reader of zTXt, learns the text's size only by
// inflating it (here it is even told the size).
void BM_InflateFreshFloor(benchmark::State& state) {
  const std::int64_t size = state.range(1);
  const std::string& stream = CompressedText(state.range(0), size);
  for (auto _ : state) {
    std::unique_ptr<std::uint8_t[]> text(new std::uint8_t[static_cast<std::size_t>(size)]);
    uLongf length = static_cast<uLongf>(size);
    Require(
        uncompress(text.get(), &length, BytesOf(stream), static_cast<uLong>(stream.size())) == Z_OK,
        "the text did not inflate whole");
    benchmark::DoNotOptimize(text.get());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * size);
}

// Each size is read 512 MiB (images) or 128 MiB (texts) in all, so that the
// smaller cases are as steady as the larger ones. Wall-clock time: the page
// faults of the reader's copies count. A case and its floors run side by
// side, so that they see the machine in the same state. At most about
// 550 MiB is in use at once (a 256 MiB image and the reader's copy of it),
// which the 32-bit Windows build has room for too.
constexpr std::int64_t kImageTotalMiB = 512;
constexpr std::int64_t kTextTotalMiB = 128;
constexpr std::int64_t kLargeIdat = kMiB;      // what common writers use
constexpr std::int64_t kSmallIdat = 8 * kKiB;  // many more headers to walk
constexpr std::int64_t kProseLine = 29;        // "line 00000042 of the comment\n"
constexpr std::int64_t kShortLine = 2;         // a digit and an LF

#define PNGC_CASE(function, mib, total, ...) \
  BENCHMARK(function)                        \
      ->Args({__VA_ARGS__})                  \
      ->Iterations((total) / (mib))          \
      ->Unit(benchmark::kMillisecond)        \
      ->UseRealTime()
#define PNGC_IMAGE(mib)                                                    \
  PNGC_CASE(BM_ReadLargePng, mib, kImageTotalMiB, kLargeIdat, (mib)*kMiB); \
  PNGC_CASE(BM_MemcpyFloor, mib, kImageTotalMiB, (mib)*kMiB);              \
  PNGC_CASE(BM_MemcpyFreshFloor, mib, kImageTotalMiB, (mib)*kMiB)
#define PNGC_TEXT(line, mib)                                           \
  PNGC_CASE(BM_ReadLargeZtxt, mib, kTextTotalMiB, line, (mib)*kMiB);   \
  PNGC_CASE(BM_DecompressCodec, mib, kTextTotalMiB, line, (mib)*kMiB); \
  PNGC_CASE(BM_InflateFloor, mib, kTextTotalMiB, line, (mib)*kMiB);    \
  PNGC_CASE(BM_InflateFreshFloor, mib, kTextTotalMiB, line, (mib)*kMiB)

}  // namespace

PNGC_IMAGE(64);
PNGC_IMAGE(128);
PNGC_IMAGE(256);
PNGC_CASE(BM_ReadLargePng, 256, kImageTotalMiB, kSmallIdat, 256 * kMiB);
PNGC_TEXT(kProseLine, 16);
PNGC_TEXT(kProseLine, 32);
PNGC_TEXT(kProseLine, 64);
PNGC_TEXT(kShortLine, 16);
PNGC_TEXT(kShortLine, 32);
PNGC_TEXT(kShortLine, 64);

BENCHMARK_MAIN();
