#!/usr/bin/env bash
# Measures a Release build of quarlix against sox, ffmpeg and sndfile-convert
# on inputs generated here, and prints one table: kernel throughput, whole-
# process medians (hyperfine) with the ratio quarlix/peer, a 1000-file batch,
# the peak memory of every quarlix row and, last, the -q search encoder
# (search_bench.sh).
# Usage: run_bench.sh <build dir holding quarlix and bench/quarlix_kernels>
set -euo pipefail

build=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)
quarlix="$build/quarlix"
kernels="$build/bench/quarlix_kernels"
data="$build/bench-data"
runs=${BENCH_RUNS:-7}
batch_runs=${BENCH_BATCH_RUNS:-3}
for tool in sox ffmpeg sndfile-convert hyperfine /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "bench: $tool is missing (scripts/install-deps.sh)"; exit 1; }
done

rm -rf "$data"
mkdir -p "$data/long" "$data/mid" "$data/out" "$data/batch/in" "$data/batch/quarlix" "$data/batch/sndfile-convert" \
  "$data/batch/sox" "$data/batch/ffmpeg"
cd "$data"

# ---------------------------------------------------------------- inputs
# A sweep with pink noise, repeatable (-R): audio-like material that uses
# every step size. 330 s at 44.1 kHz is the long file; its WAV results
# exceed the 1 MiB WAV output, so quarlix writes those rows as .bin.
long_seconds=330
sox -R -n -r 44100 -c 1 -b 16 -e signed long/long.wav \
  synth $long_seconds sine 100-3000 synth $long_seconds pinknoise mix vol 0.5
sox -R long/long.wav -r 8000 long/speech8k.wav
sndfile-convert -ima-adpcm long/long.wav long/ima.wav
sndfile-convert -ms-adpcm long/long.wav long/ms.wav
sndfile-convert -gsm610 long/speech8k.wav long/gsm.wav
# The mid file: 1962000 samples (44.5 s), so that its Orbel ADPCM WAV (32700
# blocks of 32 bytes), its Microsoft ADPCM WAV and every other block WAV stay
# just under the 1 MiB output limit. Formats that only have a WAV output, and
# the decoders of quarlix's own formats, are measured on it.
mid_samples=1962000
sox -R long/long.wav mid/mid.wav trim 0 "${mid_samples}s"
(cd out && "$quarlix" -cadpcm ../mid/mid.wav >/dev/null && mv mid.wav ../mid/orbel.wav)
(cd out && "$quarlix" -cadpcmn64 ../mid/mid.wav >/dev/null && mv mid.wav ../mid/n64.wav)
(cd out && "$quarlix" -cadpcmima ../mid/mid.wav >/dev/null && mv mid.wav ../mid/ima.wav)
for f in mid/orbel.wav mid/n64.wav mid/ima.wav; do
  [ "$(stat -c %s "$f")" -le 1048576 ] || { echo "bench: $f is over the WAV limit"; exit 1; }
done
# The batch: 1000 files of 0.2 to 2 s at 22.05 kHz, tones with noise.
awk 'BEGIN { for (i = 0; i < 1000; i++) printf "%03d %.3f %d\n", i, 0.2 + (i * 7919) % 1801 / 1000, 200 + i }' |
  while read -r i seconds hz; do
    sox -R -n -r 22050 -c 1 -b 16 -e signed "batch/in/fx$i.wav" \
      synth "$seconds" sine "$hz" synth "$seconds" pinknoise mix vol 0.4
  done

# ---------------------------------------------------------------- helpers
results=()  # printed lines of the whole-process section
memory=()   # printed lines of the memory section

median_of() {  # csv file, row number (1 = first command) -> median seconds
  awk -F, -v row="$2" 'NR == row + 1 { print $4 }' "$1"
}

# peak_rss <label> <input bytes> <output bytes> <command...>: one extra run
# under /usr/bin/time, against the bound 2 x (input + output) + 8 MiB.
peak_rss() {
  local label=$1 in=$2 out=$3
  shift 3
  local kb
  kb=$( { /usr/bin/time -f %M "$@" >/dev/null; } 2>&1 | tail -1)
  local bound=$(( (2 * (in + out) + 8 * 1048576) / 1024 ))
  local verdict=met
  [ "$kb" -le "$bound" ] || verdict="NOT met"
  memory+=("$(printf '%-34s %9d KiB   bound %9d KiB   %s' "$label" "$kb" "$bound" "$verdict")")
}

# compare <label> <target ratio or ""> <quarlix command> [<peer name> <peer command>]...
# Every command is a single program run in the current directory (no shell).
# Leaves the medians in last_quarlix_median and peer_median[name].
declare -A peer_median
compare() {
  local label=$1 target=$2 qcmd=$3
  shift 3
  local cmds=("$qcmd") names=("quarlix")
  while [ $# -gt 0 ]; do names+=("$1"); cmds+=("$2"); shift 2; done
  local csv
  csv=$(mktemp)
  hyperfine -N --style none --prepare sync --warmup 1 --runs "$runs" --export-csv "$csv" "${cmds[@]}" >/dev/null 2>&1
  local qt
  qt=$(median_of "$csv" 1)
  local fastest="" fastest_name=""
  for i in $(seq 1 $((${#cmds[@]} - 1))); do
    local t
    t=$(median_of "$csv" $((i + 1)))
    peer_median[${names[$i]}]=$t
    results+=("$(awk -v l="$label" -v n="${names[$i]}" -v q="$qt" -v p="$t" \
      'BEGIN { printf "%-30s quarlix %8.3f s   %-16s %8.3f s   ratio %6.3f", l, q, n, p, q / p }')")
    if [ -z "$fastest" ] || awk -v a="$t" -v b="$fastest" 'BEGIN { exit !(a < b) }'; then
      fastest=$t
      fastest_name=${names[$i]}
    fi
  done
  if [ -n "$target" ]; then
    results+=("$(awk -v q="$qt" -v p="$fastest" -v n="$fastest_name" -v t="$target" \
      'BEGIN { r = q / p; printf "%-30s target: at most %.1f of the fastest (%s): %.3f %s", "", t, n, r, (r <= t ? "met" : "NOT met") }')")
  fi
  rm -f "$csv"
  last_quarlix_median=$qt
}

# own <label> <quarlix command>: a quarlix-only row; sets last_quarlix_median.
own() {
  local csv
  csv=$(mktemp)
  hyperfine -N --style none --prepare sync --warmup 1 --runs "$runs" --export-csv "$csv" "$2" >/dev/null 2>&1
  last_quarlix_median=$(median_of "$csv" 1)
  rm -f "$csv"
}

# own_ratio <label> <median> <reference label> <reference median> [<target>]
own_ratio() {
  results+=("$(awk -v l="$1" -v q="$2" -v rl="$3" -v r="$4" -v t="${5:-}" \
    'BEGIN { x = q / r; printf "%-30s quarlix %8.3f s   %-16s %8.3f s   ratio %6.3f", l, q, rl, r, x
             if (t != "") printf "   target %.1f %s", t, (x <= t ? "met" : "NOT met")
             else printf "   (no peer decodes it; for reference)" }')")
}

size_of() { stat -c %s "$1"; }

# ---------------------------------------------------------------- 1. kernels
echo
echo "== 1. Kernel throughput (Google Benchmark, one core, samples/s)"
"$kernels" --benchmark_min_time=0.5 --benchmark_format=csv 2>/dev/null |
  awk -F, '/^"/ && NF > 5 { gsub(/"/, "", $1); printf "%-34s %10.1f Msamples/s\n", $1, $(NF-3) / 1e6 }'

# ---------------------------------------------------------------- 2. whole process
cd "$data/long"
pcm=$(size_of long.wav)
compare "IMA encode, 330 s 44.1 kHz" 0.5 \
  "$quarlix -cadpcmima -ob long.wav" \
  sndfile-convert "sndfile-convert -ima-adpcm long.wav ../out/sf.wav" \
  ffmpeg "ffmpeg -nostdin -v quiet -y -i long.wav -c:a adpcm_ima_wav ../out/ff.wav" \
  sox "sox long.wav -e ima-adpcm ../out/sox.wav"
ima_long=$last_quarlix_median
peak_rss "IMA encode (long, .bin)" "$pcm" "$(size_of long.bin)" "$quarlix" -cadpcmima -ob long.wav

compare "IMA decode, 330 s 44.1 kHz" 0.7 \
  "$quarlix -d -ob ima.wav" \
  sndfile-convert "sndfile-convert -pcm16 ima.wav ../out/sf.wav" \
  ffmpeg "ffmpeg -nostdin -v quiet -y -i ima.wav -c:a pcm_s16le ../out/ff.wav" \
  sox "sox ima.wav -e signed -b 16 ../out/sox.wav"
peak_rss "IMA decode (long, .bin)" "$(size_of ima.wav)" "$(size_of ima.bin)" "$quarlix" -d -ob ima.wav

compare "MS ADPCM decode, 330 s 44.1 kHz" 0.7 \
  "$quarlix -d -ob ms.wav" \
  sndfile-convert "sndfile-convert -pcm16 ms.wav ../out/sf.wav" \
  ffmpeg "ffmpeg -nostdin -v quiet -y -i ms.wav -c:a pcm_s16le ../out/ff.wav" \
  sox "sox ms.wav -e signed -b 16 ../out/sox.wav"
peak_rss "MS ADPCM decode (long, .bin)" "$(size_of ms.wav)" "$(size_of ms.bin)" "$quarlix" -d -ob ms.wav

compare "GSM decode, 330 s 8 kHz" 1.0 \
  "$quarlix -d -ob gsm.wav" \
  sndfile-convert "sndfile-convert -pcm16 gsm.wav ../out/sf.wav" \
  ffmpeg "ffmpeg -nostdin -v quiet -y -i gsm.wav -c:a pcm_s16le ../out/ff.wav" \
  sox "sox gsm.wav -e signed -b 16 ../out/sox.wav"
peak_rss "GSM decode (long, .bin)" "$(size_of gsm.wav)" "$(size_of gsm.bin)" "$quarlix" -d -ob gsm.wav

own "" "$quarlix -cadpcm -ob long.wav"
own_ratio "Orbel encode, 330 s 44.1 kHz" "$last_quarlix_median" "quarlix IMA enc" "$ima_long" 2.0
peak_rss "Orbel encode (long, .bin)" "$pcm" "$(size_of long.bin)" "$quarlix" -cadpcm -ob long.wav
own "" "$quarlix -cadpcmn64 -ob long.wav"
own_ratio "N64 encode, 330 s 44.1 kHz" "$last_quarlix_median" "quarlix IMA enc" "$ima_long" 1.5
peak_rss "N64 encode (long, .bin)" "$pcm" "$(size_of long.bin)" "$quarlix" -cadpcmn64 -ob long.wav

# WAV-only rows: quarlix writes its WAV into the current directory, so it
# runs in out/ on ../mid inputs and never replaces them.
cd "$data/out"
compare "MS ADPCM encode, 44.5 s 44.1 kHz" "" \
  "$quarlix -cadpcmms ../mid/mid.wav" \
  sndfile-convert "sndfile-convert -ms-adpcm ../mid/mid.wav sf.wav" \
  ffmpeg "ffmpeg -nostdin -v quiet -y -i ../mid/mid.wav -c:a adpcm_ms ff.wav" \
  sox "sox ../mid/mid.wav -e ms-adpcm sox.wav"
ms_mid=$last_quarlix_median
peak_rss "MS ADPCM encode (mid, WAV)" "$(size_of ../mid/mid.wav)" "$(size_of mid.wav)" \
  "$quarlix" -cadpcmms ../mid/mid.wav
# The MS encode targets differ per peer: sndfile-convert searches fewer
# pairs (at most 1.0), sox the same seven (at most 0.1).
own_ratio "  target vs sndfile-convert" "$ms_mid" "sndfile-convert" "${peer_median[sndfile-convert]}" 1.0
own_ratio "  target vs sox" "$ms_mid" "sox" "${peer_median[sox]}" 0.1

own "" "$quarlix -d -ob ../mid/ima.wav"
ima_mid=$last_quarlix_median
results+=("$(printf '%-30s quarlix %8.3f s   (reference for the two rows below)' "IMA decode, 44.5 s 44.1 kHz" "$ima_mid")")
own "" "$quarlix -d -ob ../mid/orbel.wav"
own_ratio "Orbel decode, 44.5 s 44.1 kHz" "$last_quarlix_median" "quarlix IMA dec" "$ima_mid"
peak_rss "Orbel decode (mid, .bin)" "$(size_of ../mid/orbel.wav)" "$(size_of ../mid/orbel.bin)" \
  "$quarlix" -d -ob ../mid/orbel.wav
own "" "$quarlix -d -ob ../mid/n64.wav"
own_ratio "N64 decode, 44.5 s 44.1 kHz" "$last_quarlix_median" "quarlix IMA dec" "$ima_mid"
peak_rss "N64 decode (mid, .bin)" "$(size_of ../mid/n64.wav)" "$(size_of ../mid/n64.bin)" \
  "$quarlix" -d -ob ../mid/n64.wav

echo
echo "== 2. Whole process, median of $runs runs (hyperfine), ratio = quarlix / peer"
printf '%s\n' "${results[@]}"

# ---------------------------------------------------------------- 3. batch
# One quarlix run with a pattern against one peer run per file, IMA encode.
# Each tool writes into a directory of its own, so that none pays for the
# directory entries of the others' outputs.
cd "$data/batch"
batch_bytes=$(cat in/*.wav | wc -c)
batch_median() {  # directory, command -> median seconds of $batch_runs runs
  local csv
  csv=$(mktemp)
  (cd "$1" && hyperfine --style none -N --prepare sync --warmup 1 --runs "$batch_runs" --export-csv "$csv" "$2" >/dev/null 2>&1)
  median_of "$csv" 1
  rm -f "$csv"
}
bq=$(batch_median quarlix "$quarlix -cadpcmima ../in/*.wav")
bsf=$(batch_median sndfile-convert \
  "bash -c 'for f in ../in/*.wav; do sndfile-convert -ima-adpcm \$f \${f##*/}; done'")
bsox=$(batch_median sox "bash -c 'for f in ../in/*.wav; do sox \$f -e ima-adpcm \${f##*/}; done'")
# ffmpeg starts in about 50 ms and would take minutes over 1000 files: it
# converts the first 100, once, and that time is scaled by 10.
csv=$(mktemp)
(cd ffmpeg && hyperfine --style none -N --prepare sync --runs 1 --export-csv "$csv" \
  "bash -c 'for f in ../in/fx0[0-9][0-9].wav; do ffmpeg -nostdin -v quiet -y -i \$f -c:a adpcm_ima_wav \${f##*/}; done'" \
  >/dev/null 2>&1)
bff=$(awk -v t="$(median_of "$csv" 1)" 'BEGIN { print 10 * t }')
rm -f "$csv"
qfiles=$(ls quarlix/fx*.wav | wc -l)
echo
echo "== 3. Batch: 1000 files of 0.2-2 s at 22.05 kHz ($((batch_bytes / 1024)) KiB), IMA encode"
echo "   quarlix: one run with the pattern ../in/*.wav ($qfiles outputs), median of $batch_runs;"
echo "   peers: one run per file in a bash loop, median of $batch_runs"
awk -v q="$bq" -v p="$bsf" 'BEGIN { printf "%-30s quarlix %8.3f s   %-16s %8.3f s   ratio %6.3f   target 0.3 %s\n", "batch", q, "sndfile-convert", p, q / p, (q / p <= 0.3 ? "met" : "NOT met") }'
awk -v q="$bq" -v p="$bsox" 'BEGIN { printf "%-30s quarlix %8.3f s   %-16s %8.3f s   ratio %6.3f\n", "batch", q, "sox", p, q / p }'
awk -v q="$bq" -v p="$bff" 'BEGIN { printf "%-30s quarlix %8.3f s   %-16s %8.3f s   ratio %6.3f   (ffmpeg: 100 files once, x10)\n", "batch", q, "ffmpeg", p, q / p }'
# The batch's bound is that of its largest file in and out, since quarlix
# holds one file at a time.
big_in=$(ls -S in/fx*.wav | sed -n 1p)
big_out=$(ls -S quarlix/fx*.wav | sed -n 1p)
cd quarlix
peak_rss "batch IMA encode (1000 files)" "$(size_of "../$big_in")" "$(size_of "../$big_out")" \
  "$quarlix" -cadpcmima "../in/*.wav"

# ---------------------------------------------------------------- 4. memory
echo
echo "== 4. Peak memory of each quarlix row (maximum resident set, /usr/bin/time)"
echo "   bound: 2 x (input + output) + 8 MiB"
printf '%s\n' "${memory[@]}"
echo
echo "conditions: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), load before the run: $(cut -d' ' -f1-3 /proc/loadavg)"

# ---------------------------------------------------------------- 5. search encoder
bash "$here/search_bench.sh" "$build"
