#!/usr/bin/env bash
# The decoder library on other CPUs: examples/play.c and the library, built
# for big-endian 32-bit MIPS and for 32-bit ARM (compact, and with the host
# fast paths), play the images quarlix writes under qemu-user to exactly the
# bytes the host's play writes. Run once by `make test`, never under the
# sanitizers or valgrind.
# Usage: tests/cross_cpu_test.sh BUILD_DIR (holding quarlix and play)
set -euo pipefail
build=$(realpath "$1")
root=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
started=$SECONDS

# Writes a loop (first sample, one past the last) into an image's header.
set_loop() {
  local bytes="" value
  for value in "$2" "$3"; do
    bytes+=$(printf '\\%03o\\%03o\\%03o\\%03o' $((value >> 24 & 255)) $((value >> 16 & 255)) \
      $((value >> 8 & 255)) $((value & 255)))
  done
  printf "$bytes" | dd of="$1" bs=1 seek=12 conv=notrunc status=none
}

# Music-like material and the hardest there is (full-scale noise), as
# every sample type at the default block size and at 17 bytes.
cd "$work"
sox -R -n -r 22050 -c 1 -b 16 -e signed music.wav synth 2.5 sine 100-3000 synth 2.5 pinknoise mix vol 0.5
sox -R -n -r 8000 -c 1 -b 16 -e signed hard.wav synth 1.3 whitenoise
mkdir images out
for input in music hard; do
  for codec in "" -cadpcmima -cadpcm -cadpcmn64; do
    for block in "" -b17; do
      [ -z "$codec" ] && [ -n "$block" ] && continue
      name="$input${codec:-pcm}$block"
      (cd out && "$build/quarlix" $codec $block -rl -ob "../$input.wav" >/dev/null)
      mv "$input.bin" "images/$name.bin"
      cp "images/$name.bin" "images/$name-mid.bin"
      set_loop "images/$name-mid.bin" 1001 9876
    done
  done
done

# The drivers: play and the library for each CPU and form.
drivers=()
for target in mips-linux-gnu arm-linux-gnueabihf; do
  for form in compact fast; do
    flags=()
    [ "$form" = fast ] && flags=(-DQX_FAST)
    "$target-gcc" -std=c99 -O2 -Wall -Wextra -Wpedantic -Werror "${flags[@]}" -I "$root/runtime" \
      "$root/examples/play.c" "$root/runtime/quarlix_decode.c" -o "play-$target-$form"
    drivers+=("$target $form")
  done
done

status=0
images=0
for image in images/*.bin; do
  "$build/play" "$image" 3 > host.pcm
  [ -s host.pcm ] || { echo "cross: no samples from $image on the host"; status=1; }
  for driver in "${drivers[@]}"; do
    read -r target form <<< "$driver"
    qemu="qemu-${target%%-*}"
    "$qemu" -L "/usr/$target" "./play-$target-$form" "$image" 3 > cross.pcm
    if ! cmp -s host.pcm cross.pcm; then
      echo "cross: $target ($form) plays $(basename "$image") differently: $(cmp host.pcm cross.pcm 2>&1 | head -1)"
      status=1
    fi
  done
  images=$((images + 1))
done
echo "cross: $images images, ${#drivers[@]} drivers (MIPS big-endian and ARM, compact and fast)," \
  "$( [ $status -eq 0 ] && echo "all as on the host" || echo "DIFFERENCES" ) in $((SECONDS - started)) s"
exit $status
