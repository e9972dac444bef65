#!/usr/bin/env bash
# Installs, from Debian's packages, whatever the build and the tests need and
# this machine lacks, and fetches the libgsm source that the Windows build
# compiles. Safe to run again: present packages and sources are left alone.
# With --bench it adds what only `make bench` uses: the real sounds its
# material is made from.
set -euo pipefail

# The cross compilers only recommend their C libraries, which are named here
# since nothing is installed with its recommendations.
packages=(cmake make g++ gcc libgtest-dev libgsm1-dev sox sndfile-programs ffmpeg dpkg-dev groff-base
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

# libgsm for the Windows build: Debian's own source package, of the version
# the Linux build links, unpacked into build-deps/libgsm/source (ignored by
# git). apt fetches it through a private configuration whose deb-src
# entries are this machine's own apt sources (the same mirrors) turned into
# source entries; the machine's configuration is never changed.
gsm=$(cd "$(dirname "$0")/.." && pwd)/build-deps/libgsm
[ -f "$gsm/source/inc/gsm.h" ] && exit 0
rm -rf "$gsm"
mkdir -p "$gsm/apt/sources" "$gsm/apt/lists/partial" "$gsm/apt/cache/archives/partial" "$gsm/download"
for f in /etc/apt/sources.list.d/*.sources; do
  [ -e "$f" ] && sed -E 's/^Types:.*/Types: deb-src/' "$f" >"$gsm/apt/sources/$(basename "$f")"
done
for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
  [ -e "$f" ] && sed -nE 's/^[[:space:]]*deb[[:space:]]+/deb-src /p' "$f"
done >"$gsm/apt/sources/one-line.list"
apt_private=(-o Dir::Etc::SourceList=/dev/null -o Dir::Etc::SourceParts="$gsm/apt/sources"
             -o Dir::State::Lists="$gsm/apt/lists" -o Dir::Cache="$gsm/apt/cache" -o APT::Sandbox::User="$(id -un)")
echo "fetching Debian's libgsm source for the Windows build"
# A source without source indices only warns; the download below must work.
apt-get "${apt_private[@]}" -qq update || true
version=$(dpkg-query -W -f='${source:Version}' libgsm1)
(cd "$gsm/download" && { apt-get "${apt_private[@]}" -qq source --download-only "libgsm=$version" ||
                         apt-get "${apt_private[@]}" -qq source --download-only libgsm; })
# apt checked the files against the signed source index; dpkg-source's own
# signature check lacks the uploader's key and only warns, so its talk goes
# to a log.
dpkg-source -x "$gsm"/download/libgsm_*.dsc "$gsm/source" >"$gsm/unpack.log" 2>&1 ||
  { cat "$gsm/unpack.log" >&2; exit 1; }
