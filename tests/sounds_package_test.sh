#!/usr/bin/env bash
# quarlix as other projects use it: installed into a scratch prefix, its
# CMake package builds examples/sounds (copied to a path with a space and
# non-ASCII letters), whose every sound must decode to what `quarlix -c... -d`
# gives for its WAV, and whose dependencies are exact. Then the same example
# for a Cortex-M0 (installed, and through add_subdirectory), on the host
# through add_subdirectory, a C++-only project with awkward names, the
# pkg-config file, and the mistakes that must stop a configuration or a build
# with a message naming the file. Run once by `make test`, never under the
# sanitizers or valgrind.
# Usage: tests/sounds_package_test.sh BUILD_DIR
set -euo pipefail
build=$(realpath "$1")
root=$(cd "$(dirname "$0")/.." && pwd)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
work="$scratch/wörk dir"
mkdir "$work"
started=$SECONDS
fail() { echo "sounds: $*"; exit 1; }
# Runs a command with its output in a log, shown when it fails.
logged() {
  local log=$1
  shift
  "$@" >"$work/$log" 2>&1 || { cat "$work/$log"; fail "failed: $*"; }
}

prefix="$work/prefix"
logged install.log cmake --install "$build" --prefix "$prefix"
quarlix="$prefix/bin/quarlix"

# <raw samples> <wav> <quarlix options>: the samples are quarlix's own decoding.
expect_samples() {
  local raw=$1 wav=$2
  shift 2
  rm -rf "$work/ref" && mkdir -p "$work/ref/in" && cp "$wav" "$work/ref/in/sound.wav"
  (cd "$work/ref" && "$quarlix" "$@" -d in/sound.wav >/dev/null) || fail "quarlix $* -d $wav failed"
  sox "$work/ref/sound.wav" -t raw -e signed-integer -b 16 -L "$work/ref/sound.raw"
  cmp -s "$raw" "$work/ref/sound.raw" || fail "$raw is not what quarlix $* -d gives for $wav"
}

# The example, against the installed package.
example="$work/example ü"
cp -r "$root/examples/sounds" "$example"
find "$example" | sort >"$work/example.files"
host="$work/host build ü"
logged configure.log cmake -S "$example" -B "$host" -DCMAKE_PREFIX_PATH="$prefix"
logged build.log cmake --build "$host" -j2
(cd "$host" && ./dump_sounds >"$work/dump.txt") || fail "dump_sounds failed: $(cat "$work/dump.txt")"
while read -r name wav options; do
  expect_samples "$host/$name.raw" "$example/${wav//+/ }" $options
done <<'EOF'
sfx_door_open sfx/door-open.wav -cadpcm
sfx_hit sfx/hit.wav -cadpcm
ui_hit ui/hit.wav -cadpcm
voice_hello_world voice/hello+world.wav -cadpcmn64
music_theme music/theme.wav -cadpcmima -b256
mixed_beep_mono mixed/beep-mono.wav -s16000 -cadpcmima
mixed_engine_stereo mixed/engine-stereo.wav -s16000 -cadpcmima
mixed_coin_8bit mixed/coin-8bit.wav -s16000 -cadpcmima
mixed_laser_24bit mixed/laser-24bit.wav -s16000 -cadpcmima
EOF
grep -Eq '^music_theme: ([0-9]+) samples at 8000 Hz, loop 0\.\.\1$' "$work/dump.txt" || fail "LOOP lost: $(cat "$work/dump.txt")"
[ "$(grep -c 'loop 0\.\.0$' "$work/dump.txt")" -eq 8 ] || fail "loops where none was asked: $(cat "$work/dump.txt")"
# RATE: every sound of the mixed folder at 16000 Hz, as long as its WAV's
# frames make at that rate.
for expected in "beep_mono: 1280" "engine_stereo: 3200" "coin_8bit: 2399" "laser_24bit: 1600"; do
  grep -q "^mixed_$expected samples at 16000 Hz" "$work/dump.txt" || fail "RATE 16000: no $expected in $(cat "$work/dump.txt")"
done

# Touching one WAV converts that one again and nothing else; then nothing is left to do.
touch "$example/voice/hello world.wav"
logged rebuild.log cmake --build "$host" -j2
converted=$(grep -o 'Converting sound .*' "$work/rebuild.log" || true)
[ "$converted" = "Converting sound voice/hello world.wav" ] || fail "touching one WAV converted: ${converted:-nothing}"
logged nothing.log cmake --build "$host" -j2
! grep -Eq 'Converting|Building|Linking' "$work/nothing.log" || fail "an unchanged tree rebuilt: $(cat "$work/nothing.log")"
find "$example" | sort | cmp -s - "$work/example.files" || fail "the build wrote into the source tree"

# pkg-config's static library plays an embedded image as the bank does.
export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
# pkg-config escapes the spaces of the path as a shell reads them.
eval "flags=($(pkg-config --cflags --libs quarlix-decode))"
cc -std=c99 -Wall -Wextra -Werror -o "$work/play" "$root/examples/play.c" "${flags[@]}"
"$work/play" "$host/quarlix_sounds/sound_bank/music_theme/sound.bin" >"$work/played.raw"
cmp -s "$work/played.raw" "$host/music_theme.raw" || fail "play built with pkg-config decodes differently"

# A Cortex-M0: every array const, so in flash, and aligned to 4 bytes even at
# -Os, where the compiler aligns byte arrays to nothing of its own (each in a
# section of its own, whose alignment is the array's); the same arrays
# through add_subdirectory with the tool named by QUARLIX_EXECUTABLE.
for route in package subdirectory; do
  device="$work/m0 $route"
  if [ $route = package ]; then
    from=(-DCMAKE_PREFIX_PATH="$prefix")
  else
    from=(-DQUARLIX_SOURCE_DIR="$root" -DQUARLIX_EXECUTABLE="$quarlix")
  fi
  logged m0.log cmake -S "$example" -B "$device" --toolchain "$example/cortex-m0.cmake" -DCMAKE_BUILD_TYPE=MinSizeRel \
    -DCMAKE_C_FLAGS=-fdata-sections "${from[@]}"
  logged m0-build.log cmake --build "$device" -j2
  objects=("$device"/CMakeFiles/sound_bank.dir/quarlix_sounds/sound_bank/*/*.obj)
  [ ${#objects[@]} -eq 9 ] || fail "$route: ${#objects[@]} sound objects for the Cortex-M0"
  for object in "${objects[@]}"; do
    name=$(basename "$object" .c.obj)
    alignment=$(arm-none-eabi-objdump -h "$object" | awk -v section=".rodata.$name" '$2 == section { print $7 }')
    [[ $alignment =~ ^2\*\*([2-9]|[1-9][0-9])$ ]] || fail "$route: $name aligned to $alignment"
  done
  library=$(find "$device" -name 'libquarlix_*.a')
  arm-none-eabi-objdump -a "$library" | grep -q 'elf32-littlearm' || fail "$route: no decoder library for the device"
done
diff -r "$work/m0 package/quarlix_sounds" "$work/m0 subdirectory/quarlix_sounds" >/dev/null ||
  fail "add_subdirectory embeds other bytes than the package"

# On the host through add_subdirectory: the tool is built inside the project.
logged sub.log cmake -S "$example" -B "$work/host subdirectory" -DQUARLIX_SOURCE_DIR="$root"
logged sub-build.log cmake --build "$work/host subdirectory" -j2
(cd "$work/host subdirectory" && ./dump_sounds >/dev/null && for raw in *.raw; do cmp -s "$raw" "$host/$raw"; done) ||
  fail "add_subdirectory on the host plays differently"

# C++ only: the decoder compiled as C++, the plain target_link_libraries()
# form, a leading digit, UTF-8, an upper-case suffix, wildcard characters, a
# file outside the folder, a header in a subfolder shared by two calls.
cxx="$work/c++ project"
mkdir -p "$cxx/snd" "$work/elsewhere"
cp "$root/examples/sounds/ui/hit.wav" "$cxx/snd/1 Grüße.WAV"
cp "$root/examples/sounds/sfx/hit.wav" "$cxx/snd/a*b?.wav"
cp "$root/examples/sounds/sfx/door-open.wav" "$work/elsewhere/door.wav"
cat >"$cxx/CMakeLists.txt" <<'EOF'
cmake_minimum_required(VERSION 3.21)
project(cxx_sounds LANGUAGES CXX)
find_package(Quarlix 1.51 REQUIRED)
add_compile_options(-Wall -Wextra -Wpedantic -Werror)
add_executable(player main.cpp)
target_link_libraries(player m)
quarlix_add_sounds(player HEADER game/sounds.h FORMAT pcm SOURCES "snd/1 Grüße.WAV")
quarlix_add_sounds(player HEADER game/sounds.h FORMAT adpcmima BLOCK 100 LOOP
                   SOURCES "snd/a*b?.wav" ../elsewhere/door.wav)
EOF
cat >"$cxx/main.cpp" <<'EOF'
#include <cstdio>

#include "game/sounds.h"
#include "quarlix_decode.h"

static bool dump(const char *path, const unsigned char *image, size_t size) {
  qx_decoder voice;
  if (qx_open(&voice, image, size) != QX_OK) return false;
  std::FILE *out = std::fopen(path, "wb");
  int16_t samples[100];
  size_t n;
  while (out != nullptr && (n = qx_read(&voice, samples, 100)) > 0) {
    for (size_t i = 0; i < n; ++i) std::fprintf(out, "%c%c", samples[i] & 0xFF, (samples[i] >> 8) & 0xFF);
  }
  return out != nullptr && qx_loop_end(&voice) == (image[1] == 3 ? qx_sample_count(&voice) : 0) &&
         std::fclose(out) == 0;
}

int main() {
  return dump("digit.raw", snd_1_Gr____e, snd_1_Gr____e_size) && dump("wild.raw", snd_a_b_, snd_a_b__size) &&
                 dump("door.raw", door, door_size)
             ? 0
             : 1;
}
EOF
logged cxx.log cmake -S "$cxx" -B "$cxx/build" -DCMAKE_PREFIX_PATH="$prefix"
logged cxx-build.log cmake --build "$cxx/build" -j2
grep -q 'CXX_FLAGS' "$cxx/build/CMakeFiles/quarlix_decode.dir/flags.make" || fail "the decoder was not compiled as C++"
(cd "$cxx/build" && ./player) || fail "the C++ player failed"
expect_samples "$cxx/build/digit.raw" "$cxx/snd/1 Grüße.WAV"
expect_samples "$cxx/build/wild.raw" "$cxx/snd/a*b?.wav" -cadpcmima -b100
expect_samples "$cxx/build/door.raw" "$work/elsewhere/door.wav" -cadpcmima -b100

# Mistakes: two sources of one name in two calls, a name that is a keyword,
# BLOCK with pcm and a RATE out of range stop the configuration; a WAV that
# is not PCM (A-law), one that is ADPCM already of another kind than asked
# or at another rate than RATE stop the build. Each message names the file.
# A stereo WAV is no mistake: it becomes a mono sound like any other.
wrong="$work/wrong"
mkdir -p "$wrong/a"
cp "$root/examples/sounds/ui/hit.wav" "$wrong/a/door-open.wav"
cp "$root/examples/sounds/ui/hit.wav" "$wrong/a/door_open.wav"
cp "$root/examples/sounds/ui/hit.wav" "$wrong/new.WAV"
sox -R -n -r 8000 -c 2 -b 16 -e signed "$wrong/stereo.wav" synth 0.1 sine 440
sox -R -n -r 8000 -c 1 -e a-law "$wrong/alaw.wav" synth 0.1 sine 440
(cd "$wrong" && "$quarlix" -cadpcmima a/door-open.wav >/dev/null && mv door-open.wav ima.wav)
printf 'int unused;\n' >"$wrong/bank.c"
cat >"$wrong/CMakeLists.txt" <<'EOF'
cmake_minimum_required(VERSION 3.21)
project(wrong LANGUAGES C)
find_package(Quarlix REQUIRED)
add_library(bank STATIC bank.c)
if(CASE STREQUAL "clash")
  quarlix_add_sounds(bank HEADER one.h SOURCES a/door-open.wav)
  quarlix_add_sounds(bank HEADER two.h SOURCES a/door_open.wav)
elseif(CASE STREQUAL "pcm block")
  quarlix_add_sounds(bank HEADER one.h FORMAT pcm BLOCK 256 SOURCES a/door-open.wav)
elseif(CASE STREQUAL "rate")
  quarlix_add_sounds(bank HEADER one.h RATE 999 SOURCES a/door-open.wav)
elseif(CASE STREQUAL "ima rate")
  quarlix_add_sounds(bank HEADER one.h FORMAT adpcmima RATE 11025 SOURCES ima.wav)
else()
  quarlix_add_sounds(bank HEADER one.h SOURCES ${CASE})
endif()
EOF
while IFS='|' read -r case stage pattern; do
  if cmake -S "$wrong" -B "$wrong/build" -DCMAKE_PREFIX_PATH="$prefix" -DCASE="$case" >"$work/wrong.log" 2>&1 &&
    { [ "$stage" = configure ] || cmake --build "$wrong/build" >"$work/wrong.log" 2>&1; }; then
    fail "$case: no failure at $stage"
  fi
  tr -s ' \n' ' ' <"$work/wrong.log" | grep -q -- "$pattern" || { cat "$work/wrong.log"; fail "$case: no \"$pattern\""; }
done <<'EOF'
clash|configure|a/door-open.wav and a/door_open.wav both give the name a_door_open
new.WAV|configure|new.WAV gives the name "new", which no C or C++ array can have
pcm block|configure|BLOCK is the ADPCM block size; FORMAT pcm has no blocks
rate|configure|RATE takes a sample rate in Hz from 1000 to 192000, not 999
alaw.wav|build|quarlix could not convert .*/wrong/alaw.wav: .*Quarlix - Can't convert this type of WAV file to BIN format
ima.wav|build|/wrong/ima.wav is IMA ADPCM, not the Orbel ADPCM that FORMAT adpcm asks for
ima rate|build|/wrong/ima.wav is compressed already at 22050 Hz, not at the 11025 Hz that RATE asks for
EOF
# The stereo WAV of the mistakes' folder is a sound like any other.
logged stereo.log cmake -S "$wrong" -B "$wrong/stereo" -DCMAKE_PREFIX_PATH="$prefix" -DCASE=stereo.wav
logged stereo-build.log cmake --build "$wrong/stereo"

echo "sounds: the package, the example (host and Cortex-M0, installed and as a subproject)," \
  "C++, pkg-config and the mistakes all as they should be, in $((SECONDS - started)) s"
