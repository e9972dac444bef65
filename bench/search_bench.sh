#!/usr/bin/env bash
# The -q search encoder against the written encoders, on the real-sound
# material of make_material.sh at the default block sizes: the SNR of each
# decoded round trip (written and -q) with the gain and its target, and the
# time of -q as a ratio to sox's IMA encode of the same file, both pinned to
# one core. run_bench.sh calls it last; it also runs alone.
# Usage: search_bench.sh <build dir holding quarlix and bench/quarlix_snr>
set -euo pipefail

build=$(realpath "$1")
quarlix="$build/quarlix"
snr="$build/bench/quarlix_snr"
here=$(cd "$(dirname "$0")" && pwd)
runs=${BENCH_SEARCH_RUNS:-3}
data="$build/bench-search"
for tool in sox hyperfine taskset; do
  command -v "$tool" >/dev/null || { echo "bench: $tool is missing (scripts/install-deps.sh --bench)"; exit 1; }
done

load=$(cut -d' ' -f1-3 /proc/loadavg)
rm -rf "$data"
mkdir -p "$data/material" "$data/written" "$data/search" "$data/out"
bash "$here/make_material.sh" "$data/material"

cpu_time_of() {  # csv file, row number (1 = first command) -> mean user + system seconds
  awk -F, -v row="$2" 'NR == row + 1 { print $5 + $6 }' "$1"
}

# pinned_cpu_times <command>...: the processor time of each command, one
# line each, every run on core 0. Processor time rather than wall time, so
# that other load on the machine does not enter the ratio.
pinned_cpu_times() {
  local csv
  csv=$(mktemp)
  local cmds=()
  for c in "$@"; do cmds+=("taskset -c 0 $c"); done
  hyperfine -N --style none --warmup 1 --runs "$runs" --export-csv "$csv" "${cmds[@]}" >/dev/null 2>&1
  for i in $(seq 1 $#); do cpu_time_of "$csv" "$i"; done
  rm -f "$csv"
}

# round_trip <dir> <options...> <material>: the SNR of quarlix's round
# trip through the options, decoded to a .bin of 16-bit PCM.
round_trip() {
  local dir=$1
  shift
  local material=${*: -1}
  (cd "$dir" && cp "$data/material/$material.wav" . && "$quarlix" "${@:1:$#-1}" -d -ob "$material.wav" >/dev/null)
  "$snr" "$data/material/$material.wav" "$dir/$material.bin"
}

declare -A name=([adpcm]="Orbel ADPCM" [adpcmn64]="Orbel ADPCM-N64" [adpcmima]="IMA ADPCM" [adpcmms]="Microsoft ADPCM")
declare -A mixTarget=([adpcm]=1.7 [adpcmn64]=1.7 [adpcmima]=1.2 [adpcmms]=6.0)
declare -A speechTarget=([adpcm]=1.5 [adpcmn64]=1.5 [adpcmima]=1.5 [adpcmms]=6.0)
ratio_target=10.0

echo
echo "== 5. Search encoder (-q): SNR of the decoded round trip in dB, default block sizes;"
echo "   processor time (user + system, mean of $runs) of the -q compression against sox's IMA"
echo "   encode of the same file, both on core 0; speech22k's compressions exceed the 1 MiB WAV"
echo "   output, so they are timed as round trips to a .bin (-q -c... -d -ob; the decode is a"
echo "   small part)"
printf '%-17s %-10s %8s %8s %7s %13s %9s %9s %7s %11s\n' format material written -q gain "gain target" "-q time" "sox IMA" ratio "ratio 10.0"
for material in mix44 speech22k; do
  if [ "$material" = mix44 ]; then timed=(); else timed=(-d -ob); fi
  # quarlix reads a leading "/" as an option: relative paths from out/.
  sox_time=$(cd "$data/out" && pinned_cpu_times "sox ../material/$material.wav -e ima-adpcm sox.wav")
  for codec in adpcm adpcmn64 adpcmima adpcmms; do
    written=$(round_trip "$data/written" "-c$codec" "$material")
    searched=$(round_trip "$data/search" -q "-c$codec" "$material")
    if [ "$material" = mix44 ]; then target=${mixTarget[$codec]}; else target=${speechTarget[$codec]}; fi
    search_time=$(cd "$data/out" && pinned_cpu_times "$quarlix -q -c$codec ${timed[*]} ../material/$material.wav")
    awk -v n="${name[$codec]}" -v m="$material" -v w="$written" -v s="$searched" -v t="$target" \
        -v q="$search_time" -v x="$sox_time" -v r="$ratio_target" 'BEGIN {
      g = s - w; k = q / x
      printf "%-17s %-10s %8.2f %8.2f %+7.2f %5.1f %-7s %8.3fs %8.3fs %7.2f %-11s\n", n, m, w, s, g, t,
        (g >= t ? "met" : "NOT met"), q, x, k, (k <= r ? "met" : "NOT met") }'
  done
done
echo
echo "conditions: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), load before the section: $load"
