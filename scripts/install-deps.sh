#!/usr/bin/env bash
# Installs, from Debian's packages, whatever the build and the tests need and
# this machine lacks, and fetches the libgsm and libsoxr sources that the
# Windows build compiles. Safe to run again: present packages and sources are left alone.
# With --bench it adds what only `make bench` uses: the real sounds its
# material is made from.
set -euo pipefail

# The cross compilers only recommend their C libraries, which are named here
# since nothing is installed with its recommendations.
packages=(cmake make g++ gcc libgtest-dev libgsm1-dev libsoxr-dev sox sndfile-programs ffmpeg dpkg-dev groff-base
          clang libclang-rt-14-dev valgrind libbenchmark-dev hyperfine time
          gcc-mips-linux-gnu libc6-dev-mips-cross gcc-arm-linux-gnueabihf libc6-dev-armhf-cross qemu-user
          gcc-arm-none-eabi pkgconf g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix wine wine64 zip)
if [ "${1:-}" = --bench ]; then
  packages+=(espeak-ng alsa-utils sound-theme-freedesktop)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "missing packages: ${missing[*]} (run as root, or install them with apt-get)" >&2
    exit 1
  fi
  echo "installing: ${missing[*]}"
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# libgsm and libsoxr for the Windows build: Debian's own source packages, of
# the versions the Linux build links, unpacked into build-deps/<name>/source
# (ignored by git). apt fetches them through a private configuration whose
# deb-src entries are this machine's own apt sources (the same mirrors)
# turned into source entries; the machine's configuration is never changed.
deps=$(cd "$(dirname "$0")/.." && pwd)/build-deps
# fetch_source <source package> <binary package of the version to take> <a file of the unpacked source>
fetch_source() {
  local dir=$deps/$1
  [ -f "$dir/source/$3" ] && return 0
  rm -rf "$dir"
  mkdir -p "$dir/apt/sources" "$dir/apt/lists/partial" "$dir/apt/cache/archives/partial" "$dir/download"
  for f in /etc/apt/sources.list.d/*.sources; do
    [ -e "$f" ] && sed -E 's/^Types:.*/Types: deb-src/' "$f" >"$dir/apt/sources/$(basename "$f")"
  done
  for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -e "$f" ] && sed -nE 's/^[[:space:]]*deb[[:space:]]+/deb-src /p' "$f"
  done >"$dir/apt/sources/one-line.list"
  local apt_private=(-o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$dir/apt/sources"
                     -o Dir::State::Lists="$dir/apt/lists" -o Dir::Cache="$dir/apt/cache"
                     -o APT::Sandbox::User="$(id -un)")
  echo "fetching Debian's $1 source for the Windows build"
  # A source without source indices only warns; the download below must work.
  apt-get "${apt_private[@]}" -qq update || true
  local version
  version=$(dpkg-query -W -f='${source:Version}' "$2")
  (cd "$dir/download" && { apt-get "${apt_private[@]}" -qq source --download-only "$1=$version" ||
                           apt-get "${apt_private[@]}" -qq source --download-only "$1"; })
  # apt checked the files against the signed source index; dpkg-source's own
  # signature check lacks the uploader's key and only warns, so its talk goes
  # to a log.
  dpkg-source -x "$dir"/download/"$1"_*.dsc "$dir/source" >"$dir/unpack.log" 2>&1 ||
    { cat "$dir/unpack.log" >&2; exit 1; }
}
fetch_source libgsm libgsm1 inc/gsm.h
fetch_source libsoxr libsoxr0 src/soxr.h
