# Wraps CMake: `make demo` builds and runs the tool on the bundled example,
# `make test` runs the whole suite in a normal and a sanitizer build, `make
# bench` measures a Release build against sox, ffmpeg and sndfile-convert.
BUILD_DIR ?= build
ASAN_DIR ?= build-asan
BENCH_DIR ?= build-bench
JOBS ?= 2

.PHONY: all deps build build-asan test test-normal test-asan bench demo clean

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

test-asan: build-asan
	ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
	  ctest --test-dir $(ASAN_DIR) -j $(JOBS) --output-on-failure

test: test-normal test-asan

# Not part of `test`: it takes minutes and wants a quiet machine.
bench: deps
	cmake -S . -B $(BENCH_DIR) -DCMAKE_BUILD_TYPE=Release -DQUARLIX_TESTS=OFF -DQUARLIX_BENCH=ON
	cmake --build $(BENCH_DIR) -j $(JOBS)
	bash bench/run_bench.sh $(BENCH_DIR)

# The demo writes into a scratch directory, since the WAV output lands in
# the current directory under the input's base name.
demo: build
	rm -rf $(BUILD_DIR)/demo && mkdir -p $(BUILD_DIR)/demo
	cd $(BUILD_DIR)/demo && ../quarlix -vf -ow ../../examples/tone.wav
	ls -l $(BUILD_DIR)/demo

clean:
	rm -rf $(BUILD_DIR) $(ASAN_DIR) $(BENCH_DIR)
