#!/usr/bin/env bash
# Installs, from Debian's packages, whatever the build and the tests need and
# this machine lacks. Safe to run again: present packages are left alone.
# With --bench it adds what only `make bench` uses: the real sounds its
# material is made from.
set -euo pipefail

# The cross compilers only recommend their C libraries, which are named here
# since nothing is installed with its recommendations.
packages=(cmake make g++ gcc libgtest-dev libgsm1-dev sox sndfile-programs ffmpeg dpkg-dev groff-base
          clang libclang-rt-14-dev valgrind libbenchmark-dev hyperfine time
          gcc-mips-linux-gnu libc6-dev-mips-cross gcc-arm-linux-gnueabihf libc6-dev-armhf-cross qemu-user
          gcc-arm-none-eabi pkgconf)
if [ "${1:-}" = --bench ]; then
  packages+=(espeak-ng alsa-utils sound-theme-freedesktop)
fi

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "missing packages: ${missing[*]} (run as root, or install them with apt-get)" >&2
  exit 1
fi
echo "installing: ${missing[*]}"
apt-get update -qq
DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
