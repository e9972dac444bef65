#!/usr/bin/env bash
# Measures a Release build of quarlix against sox and sndfile-convert on real
# sounds (bench/make_material.sh) and prints one table: for every row the
# ratio quarlix / peer, the median of interleaved pairs with both programs
# pinned to one core, against its target; the peak memory of every quarlix
# row against input + output + 16 MiB; and what each run cost the kernel
# (page faults, system time). Then the kernels' throughput on the same
# material and, last, the -q search encoder (search_bench.sh), also on real
# game sounds at the peers' block sizes (corpus_bench.sh).
# Usage: run_bench.sh <build dir holding quarlix and bench/>
#   BENCH_QUARLIX=<binary>  measures another quarlix build in this harness
#   BENCH_PAIRS, BENCH_BATCH_PAIRS  pairs per row (default 11 and 5)
set -euo pipefail

build=$(realpath "$1")
root=$(cd "$(dirname "$0")/.." && pwd)
quarlix=$(realpath "${BENCH_QUARLIX:-$build/quarlix}")
timer="$build/bench/interleaved_runs"
kernels="$build/bench/quarlix_kernels"
pairs=${BENCH_PAIRS:-11}
batch_pairs=${BENCH_BATCH_PAIRS:-5}
core=0
for tool in sox sndfile-convert taskset; do
  command -v "$tool" >/dev/null || { echo "bench: $tool is missing (scripts/install-deps.sh)"; exit 1; }
done

data="$build/bench-data"
rm -rf "$data"
mkdir -p "$data/in" "$data/out" "$data/batch/quarlix" "$data/batch/sndfile-convert"
bash "$root/bench/make_material.sh" "$data/material"

# ---------------------------------------------------------------- inputs
# The peers encode the files the decoders read, so quarlix decodes what
# other tools write. The Microsoft ADPCM encode rows take the first 44 s,
# whose WAV output fits quarlix's 1 MiB limit; every other quarlix output
# would pass it and is written as .bin (-ob).
cd "$data/in"
cp ../material/long.wav long.wav
sox -D long.wav first44.wav trim 0 1940400s
sox -D long.wav long8k.wav rate -v 8000
sndfile-convert -ima-adpcm long.wav ima.wav
sndfile-convert -ms-adpcm long.wav ms.wav
sndfile-convert -gsm610 long8k.wav gsm.wav
(cd ../out && "$quarlix" -cadpcmima ../in/first44.wav >/dev/null && mv first44.wav ../in/ima44.wav)
(cd ../out && "$quarlix" -cadpcm ../in/first44.wav >/dev/null && mv first44.wav ../in/orbel44.wav)
(cd ../out && "$quarlix" -cadpcmn64 ../in/first44.wav >/dev/null && mv first44.wav ../in/n64_44.wav)

# ---------------------------------------------------------------- helpers
size_of() { stat -c %s "$1"; }
rows=()

# row <label> <target or -> <input bytes> <quarlix output> <quarlix command> <peer command> <peer output>
# Commands are split at spaces and run pinned to one core, from the
# current directory; their outputs are removed before every run.
row() {
  local label=$1 target=$2 in_bytes=$3 out_file=$4 qcmd=$5 pcmd=$6 peer_out=$7
  local line
  line=$(taskset -c "$core" "$timer" "$pairs" "$qcmd" "$pcmd" "$out_file" "$peer_out")
  case $line in error=*) echo "bench: $label: $line"; exit 1 ;; esac
  add_row "$label" "$target" "$in_bytes" "$(size_of "$out_file")" "$line"
}

# add_row <label> <target or -> <input bytes> <output bytes> <timer line>
add_row() {
  local label=$1 target=$2 in_bytes=$3 out_bytes=$4 line=$5
  rows+=("$(echo "$line" | awk -v label="$label" -v target="$target" -v in_bytes="$in_bytes" -v out_bytes="$out_bytes" '
    {
      for (i = 1; i <= NF; i++) { split($i, kv, "="); v[kv[1]] = kv[2] }
      bound = int((in_bytes + out_bytes) / 1024) + 16384
      verdict = target == "-" ? "(reference)" : (v["ratio"] <= target ? "met" : "NOT met")
      printf "%-44s %7.3f %7.3f  %5.2f (%4.2f-%4.2f) %6s %-11s %8d %8d %s %7.0f %7.0f %6.3f %6.3f\n",
        label, v["a_s"], v["b_s"], v["ratio"], v["ratio_q1"], v["ratio_q3"], (target == "-" ? "" : "<= " target),
        verdict, v["a_peak_kib"], bound, (v["a_peak_kib"] <= bound ? "ok  " : "OVER"),
        v["a_faults"], v["b_faults"], v["a_sys"], v["b_sys"]
    }')")
}

# ---------------------------------------------------------------- rows
echo
echo "== Whole process: quarlix / peer, median of $pairs interleaved pairs, both pinned to core $core"
cd "$data/in"
long=$(size_of long.wav)
row "IMA ADPCM decode vs sox" 0.5 "$(size_of ima.wav)" ima.bin \
  "$quarlix -d -ob ima.wav" "sox ima.wav -e signed ../out/sox.wav" ../out/sox.wav
row "Microsoft ADPCM decode vs sox" 0.5 "$(size_of ms.wav)" ms.bin \
  "$quarlix -d -ob ms.wav" "sox ms.wav -e signed ../out/sox.wav" ../out/sox.wav
row "GSM 06.10 decode vs sox (same libgsm)" 0.9 "$(size_of gsm.wav)" gsm.bin \
  "$quarlix -d -ob gsm.wav" "sox gsm.wav -e signed ../out/sox.wav" ../out/sox.wav
row "IMA ADPCM encode vs sndfile-convert" 0.5 "$long" long.bin \
  "$quarlix -cadpcmima -ob long.wav" "sndfile-convert -ima-adpcm long.wav ../out/sf.wav" ../out/sf.wav
# quarlix writes its WAV output into the current directory: out/.
cd "$data/out"
row "Microsoft ADPCM encode (44 s) vs sndfile-convert" 1.0 "$(size_of ../in/first44.wav)" first44.wav \
  "$quarlix -cadpcmms ../in/first44.wav" "sndfile-convert -ms-adpcm ../in/first44.wav sf.wav" sf.wav
row "Microsoft ADPCM encode (44 s) vs sox" 0.1 "$(size_of ../in/first44.wav)" first44.wav \
  "$quarlix -cadpcmms ../in/first44.wav" "sox ../in/first44.wav -e ms-adpcm sox.wav" sox.wav
cd "$data/in"
row "Orbel ADPCM encode vs sndfile-convert IMA" 1.0 "$long" long.bin \
  "$quarlix -cadpcm -ob long.wav" "sndfile-convert -ima-adpcm long.wav ../out/sf.wav" ../out/sf.wav
row "Orbel ADPCM-N64 encode vs sndfile-convert IMA" 1.0 "$long" long.bin \
  "$quarlix -cadpcmn64 -ob long.wav" "sndfile-convert -ima-adpcm long.wav ../out/sf.wav" ../out/sf.wav

# 200 short files: one quarlix run over the pattern against one
# sndfile-convert run per file, each tool writing into a folder of its own.
# The bound is that of the largest file in and out: quarlix holds one file
# at a time.
cd "$data/batch/quarlix"
cat > ../sndfile-convert.sh <<'EOF'
for f in ../../material/short/*.wav; do sndfile-convert -ima-adpcm "$f" "../sndfile-convert/${f##*/}"; done
EOF
line=$(taskset -c "$core" "$timer" "$batch_pairs" "$quarlix -cadpcmima ../../material/short/*.wav" \
  "bash ../sndfile-convert.sh" . ../sndfile-convert)
case $line in error=*) echo "bench: batch: $line"; exit 1 ;; esac
big_in=$(ls -S ../../material/short/*.wav | sed -n 1p)
big_out=$(ls -S ./*.wav | sed -n 1p)
[ "$(ls ./*.wav | wc -l)" -eq 200 ] || { echo "bench: the batch did not write 200 files"; exit 1; }
add_row "200 short files, IMA encode, vs sndfile-convert" 0.1 "$(size_of "$big_in")" "$(size_of "$big_out")" "$line"

# Reference rows: quarlix's own formats have no peer; their decoders
# against sox decoding IMA ADPCM of the same 44 s.
cd "$data/in"
row "Orbel ADPCM decode (44 s) vs sox IMA decode" - "$(size_of orbel44.wav)" orbel44.bin \
  "$quarlix -d -ob orbel44.wav" "sox ima44.wav -e signed ../out/sox.wav" ../out/sox.wav
row "Orbel ADPCM-N64 decode (44 s) vs sox IMA decode" - "$(size_of n64_44.wav)" n64_44.bin \
  "$quarlix -d -ob n64_44.wav" "sox ima44.wav -e signed ../out/sox.wav" ../out/sox.wav

printf '%-44s %7s %7s  %-16s %6s %-11s %8s %8s %s %7s %7s %6s %6s\n' "" "quarlix" "peer" "ratio (q1-q3)" \
  "target" "" "peak KiB" "bound" "    " "faults" "peer" "sys s" "peer"
printf '%s\n' "${rows[@]}"
echo "times: median seconds; bound: input + output + 16 MiB; faults: minor page faults of quarlix and"
echo "the peer; sys: kernel time. quarlix: $quarlix"

# ---------------------------------------------------------------- kernels
echo
echo "== Kernel throughput on long.wav (Google Benchmark, one core, samples/s)"
QUARLIX_BENCH_WAV="$data/material/long.wav" taskset -c "$core" "$kernels" --benchmark_min_time=0.5 \
  --benchmark_format=csv 2>/dev/null |
  awk -F, '/^"/ && NF > 5 { gsub(/"/, "", $1); printf "%-38s %10.1f Msamples/s\n", $1, $(NF-3) / 1e6 }'

echo
echo "conditions: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), load before the run: $(cut -d' ' -f1-3 /proc/loadavg)"

# ---------------------------------------------------------------- 5. search encoder
bash "$root/bench/search_bench.sh" "$build"

# ---------------------------------------------------------------- 6. search encoder on a game-sound corpus
bash "$root/bench/corpus_bench.sh" "$build"
