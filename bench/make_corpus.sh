#!/usr/bin/env bash
# Builds the corpus of real game sounds that nobody tuned the encoders to:
# every WAV file of five Debian game data packages, fetched with apt-get
# download and unpacked with dpkg-deb -x (nothing is installed), made 16-bit
# mono by sox (stereo files are mixed down, 8-bit ones widened; no dither),
# all-zero files left out. Files are named <package>__<path with _ for />.
# Usage: make_corpus.sh <output dir>
set -euo pipefail
export SOX_OPTS="-V1"
out=$1
here=$(cd "$(dirname "$0")" && pwd)
command -v sox >/dev/null || { echo "corpus: sox is missing"; exit 1; }
mkdir -p "$out"
out=$(realpath "$out")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mapfile -t roots < <(bash "$here/fetch_game_packages.sh" "$work" || echo failed)
[ "${#roots[@]}" -eq 5 ] && [ "${roots[-1]}" != failed ] || { echo "corpus: the game packages were not fetched"; exit 1; }
kept=0
silent=0
unreadable=0
for root in "${roots[@]}"; do
  package=$(basename "$root")
  while IFS= read -r -d '' file; do
    relative=${file#"$root"/}
    name="${package}__${relative//\//_}"
    name="${name%.*}.wav"
    if ! sox -D "$file" -b 16 -e signed -c 1 "$out/$name" 2>/dev/null; then
      unreadable=$((unreadable + 1))
      rm -f "$out/$name"
      continue
    fi
    # sox's stat reports the extremes; both 0 is digital silence.
    if sox "$out/$name" -n stat 2>&1 |
        awk '/^Maximum amplitude/ { max = $3 } /^Minimum amplitude/ { min = $3 } END { exit !(max == 0 && min == 0) }'; then
      silent=$((silent + 1))
      rm -f "$out/$name"
      continue
    fi
    kept=$((kept + 1))
  done < <(find "$root" -type f -iname '*.wav' -print0 | sort -z)
done
echo "corpus: $kept files in $out ($silent all-zero and $unreadable unreadable files left out)"
