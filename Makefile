# Thin wrapper over the CMake presets. Every target first installs what is
# missing (scripts/install-deps).
.PHONY: all deps build demo test bench clean

all: build

deps:
	@scripts/install-deps

build: deps
	cmake --preset native >/dev/null
	cmake --build --preset native
	cmake --preset win32 >/dev/null
	cmake --build --preset win32

# The plug-in's identity and a sample PNG read through it, as a host sees
# them: natively and through the DLL under Wine.
demo: build
	@scripts/wine-init
	@echo "==== native: libpngcomment.so"
	@build/native/bin/pngcomment-identity build/native/bin/libpngcomment.so
	@build/native/bin/pngcomment-read build/native/bin/libpngcomment.so examples/sample.png
	@echo
	@echo "==== Windows: pngcomment.dll under Wine"
	@scripts/wine-run build/win32/bin/pngcomment-identity.exe
	@scripts/wine-run build/win32/bin/pngcomment-read.exe pngcomment.dll examples/sample.png

# Every test: natively under AddressSanitizer and UBSan, natively optimised,
# and the Windows build (the DLL as a host loads it) under Wine.
test: deps
	cmake --preset native-sanitize >/dev/null
	cmake --build --preset native-sanitize
	ctest --preset native-sanitize
	cmake --preset native >/dev/null
	cmake --build --preset native
	ctest --preset native
	@scripts/wine-init
	cmake --preset win32 >/dev/null
	cmake --build --preset win32
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
	scripts/bench-report native=build/bench-native.json win32=build/bench-win32.json
	@echo
	scripts/bench-report native=build/bench-reader-native.json win32=build/bench-reader-win32.json

clean:
	rm -rf build
