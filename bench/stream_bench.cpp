// How TBitMemoryStream's cost grows with its size. Its visible capacity
// follows each write exactly, while the storage behind it grows by half
// again, so filling a stream must take time linear in its size: each piece
// size below is run at 16, 32, 128 and 256 MiB, and every doubling of the
// size should about double the time (scripts/bench-report works out the
// ratios). Exact-size growth would show up as quadratic where realloc copies,
// as msvcrt's does under Wine, even if glibc's mremap hides it natively.
#ifdef PNGC_BENCHMARK_SHIM
#include "bench/benchmark_shim.h"
#else
#include <benchmark/benchmark.h>
#endif

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "stream/memory_stream.h"

namespace {

using pngc::TBitMemoryStream;

constexpr std::int32_t kMiB = 1 << 20;
constexpr std::int32_t kLargestMiB = 256;

std::vector<std::uint8_t> Pattern(std::int32_t size) {
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>(i * 131 + 7);
  return bytes;
}

// Fills `stream` with `size` bytes, appended `piece` bytes at a time; the
// last piece is shorter when `piece` does not divide `size`.
void Fill(TBitMemoryStream& stream, const std::vector<std::uint8_t>& piece, std::int32_t size) {
  const auto piece_size = static_cast<std::int32_t>(piece.size());
  for (std::int32_t done = 0; done < size; done += piece_size) {
    stream.WriteBuffer(piece.data(), std::min(piece_size, size - done));
  }
}

using Streams = std::vector<std::unique_ptr<TBitMemoryStream>>;

// A new stream, kept in `streams` until the case ends. Each case fills
// 256 MiB of streams in all and frees none while the clock runs, so every
// fill starts on memory that it must fault in, as a 256 MiB one does:
// natively, a 16 MiB stream freed and taken again would otherwise come back
// from glibc's heap already mapped and still in the cache.
TBitMemoryStream& NewStream(Streams& streams) {
  streams.push_back(std::make_unique<TBitMemoryStream>());
  return *streams.back();
}

// Memory that the process touches for the first time can cost several times
// more than memory it had and gave back (seen on VMs: 256 MiB copies took
// 0.9 s the first time, 0.2 s after), and that is not the stream's doing:
// the same streams once, untimed, in large pieces since only memory matters.
void WarmUp(std::int32_t size, benchmark::IterationCount count) {
  Streams streams;
  const auto piece = Pattern(TBitMemoryStream::kCopyBlockSize);
  for (benchmark::IterationCount i = 0; i < count; ++i) Fill(NewStream(streams), piece, size);
  benchmark::DoNotOptimize(streams.back()->GetMemory());
}

// range(0): bytes per WriteBuffer; range(1): bytes in each stream at the end.
void BM_Append(benchmark::State& state) {
  const auto piece = Pattern(static_cast<std::int32_t>(state.range(0)));
  const auto size = static_cast<std::int32_t>(state.range(1));
  WarmUp(size, state.max_iterations);
  Streams streams;
  streams.reserve(static_cast<std::size_t>(state.max_iterations));
  for (auto _ : state) {
    // From the initial capacity up: the growth is what is measured.
    TBitMemoryStream& stream = NewStream(streams);
    Fill(stream, piece, size);
    benchmark::DoNotOptimize(stream.GetMemory());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * size);
}

// range(0): bytes in the source. A whole PNG is copied so, block by block.
void BM_CopyFrom(benchmark::State& state) {
  const auto size = static_cast<std::int32_t>(state.range(0));
  TBitMemoryStream source;
  Fill(source, Pattern(TBitMemoryStream::kCopyBlockSize), size);
  WarmUp(size, state.max_iterations);
  Streams streams;
  streams.reserve(static_cast<std::size_t>(state.max_iterations));
  for (auto _ : state) {
    TBitMemoryStream& copy = NewStream(streams);
    copy.CopyFrom(source, 0);
    benchmark::DoNotOptimize(copy.GetMemory());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * size);
}

}  // namespace

// Every case moves 256 MiB in all: the smaller sizes are repeated, so that
// their times are as steady as the larger ones'. Wall-clock time, since the
// page faults count too.
#define PNGC_APPEND(piece, mib)                 \
  BENCHMARK(BM_Append)                          \
      ->Args({piece, std::int64_t{mib} * kMiB}) \
      ->Iterations(kLargestMiB / (mib))         \
      ->Unit(benchmark::kMillisecond)           \
      ->UseRealTime()
#define PNGC_COPY(mib)                  \
  BENCHMARK(BM_CopyFrom)                \
      ->Arg(std::int64_t{mib} * kMiB)   \
      ->Iterations(kLargestMiB / (mib)) \
      ->Unit(benchmark::kMillisecond)   \
      ->UseRealTime()

PNGC_APPEND(1, 16);
PNGC_APPEND(1, 32);
PNGC_APPEND(1, 128);
PNGC_APPEND(1, 256);
PNGC_APPEND(4096, 16);
PNGC_APPEND(4096, 32);
PNGC_APPEND(4096, 128);
PNGC_APPEND(4096, 256);
PNGC_APPEND(TBitMemoryStream::kCopyBlockSize, 16);
PNGC_APPEND(TBitMemoryStream::kCopyBlockSize, 32);
PNGC_APPEND(TBitMemoryStream::kCopyBlockSize, 128);
PNGC_APPEND(TBitMemoryStream::kCopyBlockSize, 256);
PNGC_COPY(16);
PNGC_COPY(32);
PNGC_COPY(128);
PNGC_COPY(256);

BENCHMARK_MAIN();
