#!/usr/bin/env bash
# The -q search encoder on real game sounds nobody tuned it to
# (make_corpus.sh), file by file, against the peers at the block size each
# peer chose, so at equal size: IMA ADPCM against sox, ffmpeg and ffmpeg's
# trellis (-trellis 8, given sox's block size), Microsoft ADPCM against sox
# and ffmpeg (ffmpeg's trellis for it is left out: in ffmpeg 5.1 it writes
# broken blocks that differ from run to run). Every peer's file is decoded
# by sox, since ffmpeg's own ADPCM decoders are not exact; quarlix's files
# are decoded by quarlix, whose samples equal sox's for both formats (the
# test suite holds them to it). Orbel ADPCM and N64 have no peer: -q against
# the written encoder at the default block size. Prints per format the files
# where -q is below the best peer (by more than 0.05 dB), the minimum and
# median of -q minus the best peer, the files below the written encoder (by
# more than 0.01 dB) and the mean gain over it; then the processor time of
# -q IMA against ffmpeg's trellis over the whole corpus, both pinned to
# core 0, file by file in turn.
# Usage: corpus_bench.sh <build dir holding quarlix and bench/quarlix_snr> [corpus dir]
#   CORPUS_LIMIT=<n>  only the first n files (a quick look; no timing)
#   CORPUS_TABLE=<file>  keeps the per-file table: file format block peer peer-SNR written-SNR -q-SNR
set -euo pipefail
export SOX_OPTS="-V1"

build=$(realpath "$1")
here=$(cd "$(dirname "$0")" && pwd)
quarlix=$(realpath "${BENCH_QUARLIX:-$build/quarlix}")
snr="$build/bench/quarlix_snr"
corpus=${2:-$build/bench-corpus/files}
for tool in sox ffmpeg taskset; do
  command -v "$tool" >/dev/null || { echo "bench: $tool is missing (scripts/install-deps.sh)"; exit 1; }
done
if [ ! -d "$corpus" ]; then
  bash "$here/make_corpus.sh" "$corpus"
fi
corpus=$(realpath "$corpus")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
table=${CORPUS_TABLE:-$work/table}
: >"$table"

files=()
while IFS= read -r -d '' f; do files+=("$f"); done < <(find "$corpus" -maxdepth 1 -name '*.wav' -print0 | sort -z)
[ -n "${CORPUS_LIMIT:-}" ] && files=("${files[@]:0:$CORPUS_LIMIT}")
[ ${#files[@]} -gt 0 ] || { echo "bench: no files in $corpus"; exit 1; }

# The block size a WAV file's fmt chunk gives, the chunk first after WAVE.
block_of() {
  [ "$(od -An -c -j12 -N4 "$1" | tr -d ' ')" = "fmt" ] || { echo 0; return; }
  od -An -tu2 -j32 -N2 "$1" | tr -d ' '
}

# snr_of <reference> <decoded WAV or .bin>: "inf" for an exact round trip.
snr_of() { "$snr" "$1" "$2" | sed 's/^inf$/999/'; }

# peer_snr <reference> <peer's file> <samples>: decoded by sox, cut to the
# input's length (a peer may code the last block's padding as samples).
peer_snr() {
  sox -D "$2" -b 16 -e signed "$work/peer_decoded.wav" trim 0 "$3s"
  snr_of "$1" "$work/peer_decoded.wav"
}

# quarlix_snr_at <reference> <options...>: the round trip through quarlix.
quarlix_snr_at() {
  local reference=$1
  shift
  rm -f "$work/q/in.bin"
  (cd "$work/q" && "$quarlix" "$@" -d -ob in.wav >/dev/null) || { echo "bench: quarlix $* failed on $reference"; exit 1; }
  snr_of "$reference" "$work/q/in.bin"
}

mkdir -p "$work/q"
echo
echo "== 6. Search encoder (-q) on ${#files[@]} real game sounds (make_corpus.sh), SNR in dB at equal size"
for f in "${files[@]}"; do
  name=$(basename "$f")
  cp "$f" "$work/q/in.wav"
  samples=$(soxi -s "$f")
  sox -D "$f" -e ima-adpcm "$work/sox_ima.wav"
  ffmpeg -nostdin -v error -y -i "$f" -c:a adpcm_ima_wav "$work/ffmpeg_ima.wav"
  sox_block=$(block_of "$work/sox_ima.wav")
  ffmpeg -nostdin -v error -y -i "$f" -c:a adpcm_ima_wav -trellis 8 -block_size "$sox_block" "$work/trellis_ima.wav"
  sox -D "$f" -e ms-adpcm "$work/sox_ms.wav"
  ffmpeg -nostdin -v error -y -i "$f" -c:a adpcm_ms "$work/ffmpeg_ms.wav"
  for peer in sox_ima ffmpeg_ima trellis_ima sox_ms ffmpeg_ms; do
    block=$(block_of "$work/$peer.wav")
    codec=adpcmima
    case $peer in *_ms) codec=adpcmms ;; esac
    peer_db=$(peer_snr "$f" "$work/$peer.wav" "$samples")
    written=$(quarlix_snr_at "$f" "-c$codec" "-b$block")
    searched=$(quarlix_snr_at "$f" -q "-c$codec" "-b$block")
    echo "$name $codec $block ${peer%_*} $peer_db $written $searched" >>"$table"
  done
  for codec in adpcm adpcmn64; do
    written=$(quarlix_snr_at "$f" "-c$codec")
    searched=$(quarlix_snr_at "$f" -q "-c$codec")
    echo "$name $codec default - - $written $searched" >>"$table"
  done
done

# Per format: -q against the best peer of each file (the peers' blocks
# differ, so each is met at its own), and against the written encoder at
# every block size measured; a file counts once however many blocks it lost at.
printf '%-17s %6s %13s %8s %8s %13s %10s\n' format files "below peer" "min" "median" "below written" "mean gain"
awk '
  function median(list, n,   i, j, t) {
    for (i = 2; i <= n; i++) { t = list[i]; for (j = i - 1; j >= 1 && list[j] > t; j--) list[j + 1] = list[j]; list[j + 1] = t }
    return n % 2 ? list[(n + 1) / 2] : (list[n / 2] + list[n / 2 + 1]) / 2
  }
  {
    file = $1; codec = $2; key = codec SUBSEP file
    if (!(key in seen)) { seen[key] = 1; files[codec]++ }
    if ($4 != "-") {
      margin = $7 - $5
      if (!(key in worst) || margin < worst[key]) worst[key] = margin
    }
    if (!((key, $3) in gained)) {
      gained[key, $3] = 1; gains[codec] += $7 - $6; gainCount[codec]++
      if ($7 - $6 < -0.01) belowWritten[key] = 1
    }
  }
  END {
    split("adpcm adpcmn64 adpcmima adpcmms", order, " ")
    names["adpcm"] = "Orbel ADPCM"; names["adpcmn64"] = "Orbel ADPCM-N64"
    names["adpcmima"] = "IMA ADPCM"; names["adpcmms"] = "Microsoft ADPCM"
    for (k = 1; k <= 4; k++) {
      codec = order[k]; n = 0; below = 0; lost = 0; delete list
      for (key in worst) { split(key, part, SUBSEP); if (part[1] == codec) { list[++n] = worst[key]; if (worst[key] < -0.05) below++ } }
      for (key in belowWritten) { split(key, part, SUBSEP); if (part[1] == codec) lost++ }
      if (n > 0) {
        sorted = median(list, n); least = list[1]
        printf "%-17s %6d %13d %+8.2f %+8.2f %13d %+10.2f\n", names[codec], files[codec], below, least, sorted, lost, gains[codec] / gainCount[codec]
      } else {
        printf "%-17s %6d %13s %8s %8s %13d %+10.2f\n", names[codec], files[codec], "-", "-", "-", lost, gains[codec] / gainCount[codec]
      }
    }
  }' "$table"
echo "below peer: files where -q at a peer's block size is more than 0.05 dB below that peer; min and median of"
echo "-q minus the best peer over the files; below written: files more than 0.01 dB below the written encoder at"
echo "any block size measured; mean gain: over every file and block size, in dB"

[ -n "${CORPUS_LIMIT:-}" ] && exit 0
# Processor time over the corpus, one file after the other, each program
# in turn on core 0, as whole processes.
: >"$work/times_q"
: >"$work/times_trellis"
for f in "${files[@]}"; do
  cp "$f" "$work/q/in.wav"
  sox -D "$f" -e ima-adpcm "$work/sox_ima.wav"
  sox_block=$(block_of "$work/sox_ima.wav")
  (cd "$work/q" && command time -f '%U %S' -a -o "$work/times_q" taskset -c 0 "$quarlix" -q -cadpcmima "-b$sox_block" -ob in.wav >/dev/null)
  command time -f '%U %S' -a -o "$work/times_trellis" taskset -c 0 \
    ffmpeg -nostdin -v error -y -i "$f" -c:a adpcm_ima_wav -trellis 8 -block_size "$sox_block" "$work/trellis_ima.wav"
done
q=$(awk '{ t += $1 + $2 } END { print t }' "$work/times_q")
t=$(awk '{ t += $1 + $2 } END { print t }' "$work/times_trellis")
awk -v q="$q" -v t="$t" 'BEGIN {
  printf "-q IMA over the corpus: %.2f s, ffmpeg -trellis 8: %.2f s, ratio %.3f (<= 0.333 %s)\n", q, t, q / t, (q / t <= 1 / 3 ? "met" : "NOT met") }'
echo "conditions: $(nproc) cores, load: $(cut -d' ' -f1-3 /proc/loadavg)"
