#!/usr/bin/env bash
# Fetches the data packages of five Debian games with apt-get download and
# unpacks each with dpkg-deb -x into <dir>/<package>: nothing is installed.
# The game-sound corpus (make_corpus.sh) and the folder conversions
# (game_sounds.sh) both take their WAV files from there.
# Usage: fetch_game_packages.sh <dir>; prints the package folders.
set -euo pipefail
packages=(lbreakout2-data lincity-ng-data pingus-data sound-icons tuxpaint-data)
for need in apt-get dpkg-deb; do
  command -v "$need" >/dev/null || { echo "game packages: $need is missing" >&2; exit 1; }
done
dir=$1
mkdir -p "$dir/debs"
dir=$(realpath "$dir")
(cd "$dir/debs" && apt-get download "${packages[@]}" >"$dir/download.log" 2>&1) ||
  { cat "$dir/download.log" >&2; echo "game packages: apt-get download failed" >&2; exit 1; }
for package in "${packages[@]}"; do
  dpkg-deb -x "$dir/debs/${package}"_*.deb "$dir/$package"
  echo "$dir/$package"
done
