# Thin wrapper over the CMake presets. Every target first installs what is
# missing (scripts/install-deps).
.PHONY: all deps build demo test bench fuzz clean

all: build

deps:
	@scripts/install-deps

build: deps
	cmake --preset native >/dev/null
	cmake --build --preset native
	cmake --preset win32 >/dev/null
	cmake --build --preset win32

# The command-line host on the sample PNGs, natively and with pngcomment.exe
# and the DLL under Wine: the plug-in's identity, the summaries, the comment
# texts, then a scripted edit of a copy read back.
demo: build
	@scripts/wine-init
	@scripts/demo native build/native/bin/pngcomment
	@scripts/demo win32 scripts/wine-run build/win32/bin/pngcomment.exe
	@cmp -s build/demo/native/edited.png build/demo/win32/edited.png && \
	  echo "== the native library and the DLL wrote the same bytes"

# Every test: natively under AddressSanitizer and UBSan, natively optimised,
# and the Windows build (the DLL as a host loads it) under Wine.
test: deps
	cmake --preset native-sanitize >/dev/null
	cmake --build --preset native-sanitize
	ctest --preset native-sanitize
	cmake --preset native >/dev/null
	cmake --build --preset native
	ctest --preset native
	cmake --preset win32 >/dev/null
	cmake --build --preset win32
	@scripts/wine-init
	ctest --preset win32

# Benchmarks, natively and under Wine, with the growth ratios side by side.
bench: build
	@scripts/wine-init
	build/native/bin/pngcomment_bench --benchmark_format=json --benchmark_out_format=console \
	  --benchmark_out=/dev/stderr > build/bench-native.json
	build/native/bin/pngcomment_reader_bench --benchmark_format=json --benchmark_out_format=console \
	  --benchmark_out=/dev/stderr > build/bench-reader-native.json
	scripts/wine-run build/win32/bin/pngcomment_bench.exe --benchmark_format=json > build/bench-win32.json
	scripts/wine-run build/win32/bin/pngcomment_reader_bench.exe --benchmark_format=json \
	  > build/bench-reader-win32.json
	build/native/bin/pngcomment_writer_bench --benchmark_format=json --benchmark_out_format=console \
	  --benchmark_out=/dev/stderr > build/bench-writer-native.json
	scripts/wine-run build/win32/bin/pngcomment_writer_bench.exe --benchmark_format=json \
	  > build/bench-writer-win32.json
	scripts/bench-report native=build/bench-native.json win32=build/bench-win32.json
	@echo
	scripts/bench-report native=build/bench-reader-native.json win32=build/bench-reader-win32.json
	@echo
	scripts/bench-report native=build/bench-writer-native.json win32=build/bench-writer-win32.json
	@echo
	scripts/bench-peers --cli build/native/bin/pngcomment --wine-cli build/win32/bin/pngcomment.exe

# libFuzzer (clang) on each fuzz target for FUZZ_SECONDS, one after another,
# each on a scratch copy of its corpus (build/fuzz/corpus-*) so that what it
# adds never floods the committed one. Any crash, leak, sanitizer report,
# timeout or memory blow-up stops here with a failure; the input is kept in
# build/fuzz/artifacts-*/. AddressSanitizer keeps 16 MiB of freed blocks
# poisoned (use after free is still caught within an input) rather than
# 256 MiB: memory is reused instead of faulted in anew, 1.4x the inputs a
# second.
FUZZ_SECONDS ?= 300
FUZZ_BUILD := build/fuzz
FUZZ_TARGETS := get_comment write_comment parse_comment
fuzz: deps
	CC=clang-14 CXX=clang++-14 cmake -S . -B $(FUZZ_BUILD) -DCMAKE_BUILD_TYPE=RelWithDebInfo \
	  -DPNGCOMMENT_FUZZ=ON -DPNGCOMMENT_BUILD_BENCH=OFF >/dev/null
	cmake --build $(FUZZ_BUILD) -j2 $(addprefix --target fuzz_,$(FUZZ_TARGETS))
	@for t in $(FUZZ_TARGETS); do \
	  mkdir -p $(FUZZ_BUILD)/corpus-$$t $(FUZZ_BUILD)/artifacts-$$t && \
	  cp fuzz/corpus/$$t/* $(FUZZ_BUILD)/corpus-$$t/ && \
	  echo "==== fuzz_$$t for $(FUZZ_SECONDS) s" && \
	  ASAN_OPTIONS=quarantine_size_mb=16 UBSAN_OPTIONS=print_stacktrace=1 \
	  $(FUZZ_BUILD)/bin/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) \
	    -timeout=1 -rss_limit_mb=2048 -dict=fuzz/png.dict -print_final_stats=1 \
	    -artifact_prefix=$(FUZZ_BUILD)/artifacts-$$t/ $(FUZZ_BUILD)/corpus-$$t fuzz/crashers \
	    || { echo "fuzz_$$t failed: see $(FUZZ_BUILD)/artifacts-$$t/"; exit 1; }; \
	done

clean:
	rm -rf build
