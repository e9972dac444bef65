#!/usr/bin/env bash
# Every WAV file of five Debian games' data packages through one wildcard
# run per folder, as a user converting a game's sound folders would: first
# file by file as written (how many a plain run refuses), then with
# `-m -cadpcmima -ob` (every one must convert) and with `-s16000` as well.
# The packages are fetched and unpacked by fetch_game_packages.sh into
# <build dir>/game-sounds: nothing is installed, nothing kept in the tree.
# Usage: game_sounds.sh <build dir holding quarlix>
set -euo pipefail
build=$(realpath "$1")
quarlix=$(realpath "${BENCH_QUARLIX:-$build/quarlix}")
work="$build/game-sounds"
rm -rf "$work"
bash "$(dirname "$0")/fetch_game_packages.sh" "$work/root" >/dev/null

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", b - a }'; }
mapfile -t folders < <(find "$work/root" -path "$work/root/debs" -prune -o -name '*.wav' -type f -printf '%h\n' | sort -u)
printf '%-46s %6s %15s %14s %14s\n' "folder" "WAVs" "refused plainly" "-m converted" "-s16000 too"
total=0 refused=0 converted=0 resampled=0 failed=0
mono_time=0 rate_time=0
for folder in "${folders[@]}"; do
  files=$(find "$folder" -maxdepth 1 -name '*.wav' -type f | wc -l)
  plain=0
  while IFS= read -r wav; do
    "$quarlix" -cadpcmima -ob "$wav" >/dev/null || plain=$((plain + 1))
  done < <(find "$folder" -maxdepth 1 -name '*.wav' -type f)
  find "$folder" -maxdepth 1 -name '*.bin' -delete
  counts=()
  for option in -m -s16000; do
    start=$(now)
    "$quarlix" "$option" -cadpcmima -ob "$folder/*.wav" >"$work/run.log" || true
    took=$(elapsed "$start" "$(now)")
    made=$(find "$folder" -maxdepth 1 -name '*.bin' -type f | wc -l)
    if [ "$made" -ne "$files" ] || ! tail -2 "$work/run.log" | grep -q 'Operation Completed OK'; then
      echo "game sounds: $option left $((files - made)) of $folder: $(tail -2 "$work/run.log")"
      failed=1
    fi
    counts+=("$made in ${took} s")
    if [ "$option" = -m ]; then mono_time=$(awk -v a="$mono_time" -v b="$took" 'BEGIN { print a + b }'); converted=$((converted + made))
    else rate_time=$(awk -v a="$rate_time" -v b="$took" 'BEGIN { print a + b }'); resampled=$((resampled + made)); fi
    find "$folder" -maxdepth 1 -name '*.bin' -delete
  done
  printf '%-46s %6d %15d %14s %14s\n' "${folder#"$work/root"}" "$files" "$plain" "${counts[0]}" "${counts[1]}"
  total=$((total + files))
  refused=$((refused + plain))
done
echo "game sounds: $total WAV files in ${#folders[@]} folders; a plain run refuses $refused;" \
  "-m -cadpcmima -ob converts $converted (${mono_time} s in all), with -s16000 $resampled (${rate_time} s)," \
  "whole-process figures, one run per folder"
rm -rf "$work"
exit $failed
