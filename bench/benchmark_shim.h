// A stand-in for Google Benchmark where there is no build of it (the
// MinGW-w64 toolchain): only the part of its interface that the benchmarks
// here use, and its console and JSON output, so that scripts/bench-report
// reads either. Every benchmark runs its fixed number of iterations once.
#ifndef PNGCOMMENT_BENCH_BENCHMARK_SHIM_H
#define PNGCOMMENT_BENCH_BENCHMARK_SHIM_H

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX  // keep std::min and std::max usable in the benchmarks
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif

namespace benchmark {

using IterationCount = std::int64_t;
enum TimeUnit { kNanosecond, kMicrosecond, kMillisecond, kSecond };

template <class T>
inline void DoNotOptimize(const T& value) {
  asm volatile("" : : "r,m"(value) : "memory");
}
inline void ClobberMemory() { asm volatile("" : : : "memory"); }

class State {
 public:
  struct __attribute__((unused)) Value {};
  class Iterator {
   public:
    explicit Iterator(State* state) : state_(state) {}
    Value operator*() const { return {}; }
    void operator++() { --state_->left_; }
    // The clock stops on the test that ends the loop.
    bool operator!=(const Iterator&) const {
      if (state_->left_ > 0) return true;
      state_->seconds_ = Now() - state_->start_;
      return false;
    }

   private:
    State* state_;
  };

  State(std::vector<std::int64_t> args, IterationCount iterations)
      : max_iterations(iterations), args_(std::move(args)), left_(iterations) {}
  Iterator begin() {
    start_ = Now();
    return Iterator(this);
  }
  Iterator end() { return Iterator(nullptr); }

  std::int64_t range(std::size_t index = 0) const { return args_.at(index); }
  IterationCount iterations() const { return max_iterations - left_; }
  void SetBytesProcessed(std::int64_t bytes) { bytes_ = bytes; }
  std::int64_t bytes_processed() const { return bytes_; }
  double seconds() const { return seconds_; }
  const IterationCount max_iterations;

 private:
  // Seconds from a monotonic clock. MinGW's libstdc++ with win32 threads
  // builds steady_clock on the wall clock (GetSystemTimeAsFileTime), so
  // Windows asks the performance counter directly.
  static double Now() {
#ifdef _WIN32
    LARGE_INTEGER count, frequency;
    QueryPerformanceCounter(&count);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
#else
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
#endif
  }

  std::vector<std::int64_t> args_;
  IterationCount left_;
  double start_ = 0, seconds_ = 0;
  std::int64_t bytes_ = 0;
};

namespace internal {

class Benchmark {
 public:
  Benchmark(const char* name, void (*function)(State&)) : name_(name), function_(function) {}
  Benchmark* Arg(std::int64_t arg) { return Args({arg}); }
  // clang-format off
  Benchmark* Args(const std::vector<std::int64_t>& args) { arg_sets_.push_back(args); return this; }
  Benchmark* Unit(TimeUnit unit) { unit_ = unit; return this; }
  Benchmark* Iterations(IterationCount iterations) { iterations_ = iterations; return this; }
  // Wall-clock time is all it measures; only the name records the choice.
  Benchmark* UseRealTime() { real_time_ = true; return this; }
  // clang-format on

  const char* name_;
  void (*function_)(State&);
  std::vector<std::vector<std::int64_t>> arg_sets_;
  TimeUnit unit_ = kNanosecond;
  IterationCount iterations_ = 1;
  bool real_time_ = false;
};

// clang-format off
inline std::vector<Benchmark*>& Registry() { static std::vector<Benchmark*> benchmarks; return benchmarks; }
// clang-format on
inline Benchmark* RegisterBenchmarkInternal(Benchmark* benchmark) {
  Registry().push_back(benchmark);
  return benchmark;
}

inline int RunSpecifiedBenchmarks(int argc, char** argv) {
  bool json = false;
  std::string filter = ".";
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--benchmark_format=json" || arg == "--benchmark_format=console") {
      json = arg.back() == 'n';
    } else if (arg.rfind("--benchmark_filter=", 0) == 0) {
      filter = arg.substr(19);
    } else {
      std::fprintf(stderr, "%s: unknown argument %s\n", argv[0], argv[i]);
      return 1;
    }
  }
  static const char* const kUnits[] = {"ns", "us", "ms", "s"};
  static const double kPerSecond[] = {1e9, 1e6, 1e3, 1};
  const std::regex pattern(filter);
  if (json) {
    std::printf("{\n  \"context\": {\"library\": \"benchmark_shim\"},\n  \"benchmarks\": [");
  } else {
    std::printf("%-56s %13s %12s UserCounters...\n%s\n", "Benchmark", "Time", "Iterations",
                std::string(100, '-').c_str());
  }
  const char* separator = "\n";
  for (Benchmark* benchmark : Registry()) {
    // With no Arg or Args, a benchmark runs once, with no range.
    auto arg_sets = benchmark->arg_sets_;
    if (arg_sets.empty()) arg_sets.emplace_back();
    for (const auto& args : arg_sets) {
      std::string name = benchmark->name_;
      for (std::int64_t arg : args) name += "/" + std::to_string(arg);
      name += "/iterations:" + std::to_string(benchmark->iterations_);
      if (benchmark->real_time_) name += "/real_time";
      if (!std::regex_search(name, pattern)) continue;
      State state(args, benchmark->iterations_);
      benchmark->function_(state);
      const double iterations = static_cast<double>(state.iterations());
      const double time = state.seconds() / iterations * kPerSecond[benchmark->unit_];
      const double rate = static_cast<double>(state.bytes_processed()) / state.seconds();
      if (json) {
        std::printf(
            "%s    {\n      \"name\": \"%s\",\n      \"run_name\": \"%s\",\n      \"run_type\": "
            "\"iteration\",\n      \"iterations\": %lld,\n      \"real_time\": %.10e,\n      "
            "\"time_unit\": \"%s\",\n      \"bytes_per_second\": %.10e\n    }",
            separator, name.c_str(), name.c_str(), static_cast<long long>(state.iterations()), time,
            kUnits[benchmark->unit_], rate);
        separator = ",\n";
      } else {
        std::printf("%-56s %10.3f %-2s %12lld bytes_per_second=%.5gMi/s\n", name.c_str(), time,
                    kUnits[benchmark->unit_], static_cast<long long>(state.iterations()),
                    rate / (1 << 20));
      }
      std::fflush(stdout);
    }
  }
  if (json) std::printf("\n  ]\n}\n");
  return 0;
}

}  // namespace internal
}  // namespace benchmark

#define PNGC_SHIM_CONCAT2(a, b) a##b
#define PNGC_SHIM_CONCAT(a, b) PNGC_SHIM_CONCAT2(a, b)
#define BENCHMARK(function)                                                               \
  static ::benchmark::internal::Benchmark* PNGC_SHIM_CONCAT(pngc_benchmark_, __COUNTER__) \
      __attribute__((unused)) = ::benchmark::internal::RegisterBenchmarkInternal(         \
          new ::benchmark::internal::Benchmark(#function, function))
// The trailing declaration takes the semicolon after BENCHMARK_MAIN().
#define BENCHMARK_MAIN()                                              \
  int main(int argc, char** argv) {                                   \
    return ::benchmark::internal::RunSpecifiedBenchmarks(argc, argv); \
  }                                                                   \
  int main(int, char**)

#endif
