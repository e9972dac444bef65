# Wraps CMake: `make demo` builds and runs the tool on the bundled example,
# `make test` runs the whole suite in a normal and a sanitizer build (and
# the command-line suites against the Windows build under Wine), `make
# bench` measures a Release build against sox, ffmpeg and sndfile-convert
# and the decoder library on a Cortex-M0, `make windows` cross-compiles
# quarlix.exe and `make windows-zip` packs it.
BUILD_DIR ?= build
ASAN_DIR ?= build-asan
FUZZ_DIR ?= build-fuzz
FUZZ_SECONDS ?= 60
BENCH_DIR ?= build-bench
WINDOWS_DIR ?= build-windows
JOBS ?= 2

.PHONY: all deps build build-asan build-fuzz test test-normal test-cross test-sounds test-asan leakcheck fuzz bench-deps \
  bench-build bench bench-runtime bench-games demo clean windows windows-test windows-zip

all: build

deps:
	bash scripts/install-deps.sh

build: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARLIX_BENCH=ON
	cmake --build $(BUILD_DIR) -j $(JOBS)

build-asan: deps
	cmake -S . -B $(ASAN_DIR) -DCMAKE_BUILD_TYPE=Debug -DQUARLIX_SANITIZE=ON
	cmake --build $(ASAN_DIR) -j $(JOBS)

test-normal: build
	ctest --test-dir $(BUILD_DIR) -j $(JOBS) --output-on-failure

# The decoder library built for big-endian MIPS and for ARM, run under
# qemu-user against the host: once, outside the sanitizer and valgrind passes.
test-cross: build
	bash tests/cross_cpu_test.sh $(BUILD_DIR)

# quarlix as other projects use it: installed into a scratch prefix, its
# CMake package builds examples/sounds for the host and a Cortex-M0; once,
# outside the sanitizer and valgrind passes.
test-sounds: build
	bash tests/sounds_package_test.sh $(BUILD_DIR)

test-asan: build-asan
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir $(ASAN_DIR) -j $(JOBS) --output-on-failure

# The whole suite again with every quarlix run under valgrind memcheck: any
# leak or invalid access shows on its standard error or exit status, which
# the tests check. (The in-process tests are leak-checked by the ASan build.)
VALGRIND = valgrind --quiet --error-exitcode=99 --leak-check=full \
  --show-leak-kinds=definite,indirect,possible --errors-for-leak-kinds=definite,indirect,possible
leakcheck: build
	QUARLIX_TEST_WRAPPER="$(VALGRIND)" ctest --test-dir $(BUILD_DIR) -j $(JOBS) --output-on-failure

# libFuzzer harnesses (clang): `make fuzz FUZZ_SECONDS=1800` for a long run;
# the test target runs each for a minute, so a new crash fails the build.
build-fuzz: deps
	CC=clang CXX=clang++ cmake -S . -B $(FUZZ_DIR) -DQUARLIX_FUZZ=ON -DQUARLIX_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build $(FUZZ_DIR) -j $(JOBS)

fuzz: build-fuzz
	bash fuzz/run.sh $(FUZZ_DIR) $(FUZZ_SECONDS)

test: test-normal test-cross test-sounds test-asan leakcheck fuzz windows-test windows-zip

# The Windows console build, cross-compiled with MinGW-w64: one statically
# linked $(WINDOWS_DIR)/quarlix.exe, libgsm included.
windows: deps
	cmake -S . -B $(WINDOWS_DIR) --toolchain cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release \
	  -DQUARLIX_TESTS=OFF
	cmake --build $(WINDOWS_DIR) -j $(JOBS) --target quarlix

# The command-line suites against quarlix.exe under Wine, once: the
# sanitizer and valgrind passes do not repeat them.
windows-test: build windows
	bash scripts/windows-test.sh $(BUILD_DIR) $(WINDOWS_DIR)

# $(WINDOWS_DIR)/quarlix-<version>-win64.zip: the executable, README, the
# manual page as text and the runtime/ decoder sources.
windows-zip: windows
	bash scripts/windows-zip.sh $(WINDOWS_DIR) .

# Not part of `test`: it takes minutes and wants a quiet machine. Only it
# needs what install-deps.sh --bench adds.
bench-deps:
	bash scripts/install-deps.sh --bench

bench-build: bench-deps
	cmake -S . -B $(BENCH_DIR) -DCMAKE_BUILD_TYPE=Release -DQUARLIX_TESTS=OFF -DQUARLIX_BENCH=ON
	cmake --build $(BENCH_DIR) -j $(JOBS)

bench: bench-build
	bash bench/run_bench.sh $(BENCH_DIR)
	bash bench/game_sounds.sh $(BENCH_DIR)
	bash bench/device_library.sh $(BENCH_DIR)

# Only the game folders: every WAV of five Debian games' data packages
# (fetched with apt-get download, never installed) through -m and -s; it
# fails unless every file converts. About 15 s with a fast mirror.
bench-games: build
	bash bench/game_sounds.sh $(BUILD_DIR)

# Only the decoder library's part: its Cortex-M0 size and host rates.
bench-runtime: bench-build
	bash bench/device_library.sh $(BENCH_DIR)

# The demo builds the tool alone (no tests, no benchmarks), compresses the
# example to IMA ADPCM and decodes that again; it works in a scratch
# directory, since the WAV output lands in the current directory under the
# input's base name. It configures as `build` does, so the two share the
# build directory without undoing each other's settings.
demo: deps
	cmake -S . -B $(BUILD_DIR) -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUARLIX_BENCH=ON
	cmake --build $(BUILD_DIR) -j $(JOBS) --target quarlix
	rm -rf $(BUILD_DIR)/demo && mkdir -p $(BUILD_DIR)/demo
	cd $(BUILD_DIR)/demo && ../quarlix -vf -cadpcmima ../../examples/tone.wav -d tone.wav
	ls -l $(BUILD_DIR)/demo

clean:
	rm -rf $(BUILD_DIR) $(ASAN_DIR) $(FUZZ_DIR) $(BENCH_DIR) $(WINDOWS_DIR)
