# Thin wrapper over the CMake presets (CMakePresets.json), which carry every
# build: this file only chooses among them. Every target first installs what
# is missing (scripts/install-deps).
.PHONY: all deps build demo test test32 bench fuzz fuzz-long package clean

# Two Windows builds of the same code: win32, the product (the i686 DLL that
# hosts load), and win64, an x86_64 build that exists to run the Windows code
# paths under 64-bit Wine. Both are always built; win32's programs run only
# where the machine runs 32-bit programs (scripts/probe-32bit decides by
# running one). The demo and the benchmarks use the one build that can run:
WINDOWS = $(shell scripts/probe-32bit >/dev/null && echo win32 || echo win64)
WHY = this machine $$(scripts/probe-32bit)

all: build

deps:
	@scripts/install-deps

build: deps
	@for preset in native win32 win64; do \
	  cmake --preset $$preset >/dev/null && cmake --build --preset $$preset || exit 1; \
	done

# The command-line host on the sample PNGs, natively and with pngcomment.exe
# and the DLL under Wine: the plug-in's identity, the summaries, the comment
# texts, then a scripted edit of a copy read back.
demo: build
	@echo "== Windows: the $(WINDOWS) build runs the demo ($(WHY))"
	@scripts/wine-init $(WINDOWS)
	@scripts/demo native build/native/bin/pngcomment
	@scripts/demo $(WINDOWS) scripts/wine-run $(WINDOWS) build/$(WINDOWS)/bin/pngcomment.exe
	@cmp -s build/demo/native/edited.png build/demo/$(WINDOWS)/edited.png && \
	  echo "== the native library and the $(WINDOWS) DLL wrote the same bytes"

# Every test: natively under AddressSanitizer and UBSan, natively optimised,
# and both Windows builds (the DLL as a host loads it) under Wine. win32, the
# product, runs under 32-bit Wine where this machine runs 32-bit programs,
# and elsewhere in an emulated x86-64 machine that does (scripts/test-win32):
# there, for time, its unit and host tests less five slow ones; make test32
# runs them all there.
test: deps
	cmake --workflow --preset native-sanitize
	cmake --workflow --preset native
	cmake --workflow --preset win64
	scripts/test-win32
	@echo "== Windows tests: win64 under 64-bit Wine; win32 (the product) $$(scripts/probe-32bit >/dev/null \
	  && echo 'under 32-bit Wine' || echo 'its unit and host tests in the emulated machine, under 32-bit Wine (make test32 runs all)'): $(WHY)"

# Every test of the 32-bit build in the emulated machine, on any machine.
test32:
	@scripts/install-deps --vm
	scripts/test-win32 --vm --all

# Benchmarks, natively and under Wine, with the growth ratios side by side.
BENCHES := pngcomment_bench pngcomment_reader_bench pngcomment_writer_bench
bench: build
	@echo "== Windows: the $(WINDOWS) build runs the benchmarks ($(WHY))"
	@scripts/wine-init $(WINDOWS)
	@for b in $(BENCHES); do \
	  build/native/bin/$$b --benchmark_format=json --benchmark_out_format=console \
	    --benchmark_out=/dev/stderr > build/$$b-native.json && \
	  scripts/wine-run $(WINDOWS) build/$(WINDOWS)/bin/$$b.exe --benchmark_format=json \
	    > build/$$b-$(WINDOWS).json && \
	  scripts/bench-report native=build/$$b-native.json $(WINDOWS)=build/$$b-$(WINDOWS).json && \
	  echo || exit 1; \
	done
	scripts/bench-peers --cli build/native/bin/pngcomment --wine-cli build/$(WINDOWS)/bin/pngcomment.exe \
	  --wine $(WINDOWS)

# libFuzzer (clang) on each fuzz target for FUZZ_SECONDS, two at a time,
# each on a scratch copy of its corpus. Any crash, leak, sanitizer report,
# timeout or memory blow-up fails; the input is kept in
# build/fuzz/artifacts-*/. fuzz-long runs each for FUZZ_LONG_SECONDS and
# merges what they found (minimised) into fuzz/corpus. The flags, the
# targets and the sanitizers' options live in scripts/fuzz.
FUZZ_SECONDS ?= 300
FUZZ_LONG_SECONDS ?= 3600
fuzz: deps
	scripts/fuzz --seconds $(FUZZ_SECONDS)

fuzz-long: deps
	scripts/fuzz --seconds $(FUZZ_LONG_SECONDS) --merge

# Packages, left in build/packages/: the .deb files of the native build
# (libpngcomment1, libpngcomment-dev, pngcomment) and the .zip of the 32-bit
# Windows build (pngcomment.dll, pngcomment.exe and their documents). Their
# presets build only what the packages hold, no tests or benchmarks.
PACKAGES := $(CURDIR)/build/packages
package: deps
	@rm -rf $(PACKAGES)
	cmake --workflow --preset package-deb
	cmake --workflow --preset package-zip
	@rm -rf $(PACKAGES)/_CPack_Packages
	@ls -l $(PACKAGES)

clean:
	rm -rf build
