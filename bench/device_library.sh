#!/usr/bin/env bash
# The decoder library as a Cortex-M0 gets it: code size, the libgcc helpers
# it calls (the M0 has no divide instruction), static RAM and
# sizeof(qx_decoder), against their targets; then the host's decoding rates
# of the library next to the tool's (kernel benchmarks).
# Usage: device_library.sh <build dir holding bench/quarlix_kernels>
set -euo pipefail

build=$(realpath "$1")
root=$(cd "$(dirname "$0")/.." && pwd)
kernels="$build/bench/quarlix_kernels"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
command -v arm-none-eabi-gcc >/dev/null || { echo "bench: arm-none-eabi-gcc is missing (scripts/install-deps.sh)"; exit 1; }

flags=(-std=c99 -Os -mthumb -mcpu=cortex-m0 -ffreestanding -fno-common -Wall -Wextra -Wpedantic -Werror)
object="$work/quarlix_decode.o"
arm-none-eabi-gcc "${flags[@]}" -I "$root/runtime" -c "$root/runtime/quarlix_decode.c" -o "$object"
# sizeof(qx_decoder) on the target: the size of an object of that type.
printf '#include "quarlix_decode.h"\nqx_decoder qx_probe;\n' > "$work/probe.c"
arm-none-eabi-gcc "${flags[@]}" -I "$root/runtime" -c "$work/probe.c" -o "$work/probe.o"
struct_bytes=$((16#$(arm-none-eabi-nm -S "$work/probe.o" | awk '$4 == "qx_probe" { print $2 }')))
read -r text data bss _ < <(arm-none-eabi-size "$object" | tail -1)

verdict() { [ "$1" -le "$2" ] && echo met || echo "NOT met"; }
echo
echo "== Decoder library for a Cortex-M0 ($(arm-none-eabi-gcc -dumpversion): ${flags[*]})"
arm-none-eabi-size "$object" | sed "s|$work/||"
printf '%-34s %6d bytes   target at most 2048: %s\n' "code (text)" "$text" "$(verdict "$text" 2048)"
printf '%-34s %6d bytes   target 0: %s\n' "static RAM (data + bss)" "$((data + bss))" "$(verdict $((data + bss)) 0)"
printf '%-34s %6d bytes   target at most 96: %s\n' "sizeof(qx_decoder)" "$struct_bytes" "$(verdict "$struct_bytes" 96)"
echo "libgcc helpers it calls (nm -u):   $(arm-none-eabi-nm -u "$object" | awk '{ print $2 }' | tr '\n' ' ')"

# The kernels run on the real sounds run_bench.sh made, or makes them.
material="$build/bench-data/material"
[ -f "$material/long.wav" ] || bash "$root/bench/make_material.sh" "$material"
echo
echo "== Host decoding rates on long.wav: the tool's decoders (the library's block decoders) and the library reading images"
QUARLIX_BENCH_WAV="$material/long.wav" "$kernels" --benchmark_filter='decode|image read' --benchmark_min_time=0.5 \
  --benchmark_format=csv 2>/dev/null |
  awk -F, '/^"/ && NF > 5 { gsub(/"/, "", $1); printf "%-38s %10.1f Msamples/s\n", $1, $(NF-3) / 1e6 }'
