#!/usr/bin/env bash
# Builds the Debian package of the build tree given, installs it with dpkg
# into a scratch root (with a database of its own, so the machine's is never
# touched) and checks that what it installs works: the binary runs on the
# bundled example and the man page is there and renders cleanly. Then it
# removes the package again and checks that nothing is left behind.
# Everything happens under the build directory, so the normal and the
# sanitizer build can run this at the same time.
set -euo pipefail
build=$1
source=$2
work=$build/package-test
fail() { echo "package test: $*"; exit 1; }

rm -rf "$work"
mkdir -p "$work/out" "$work/root/var/lib/dpkg/info" "$work/root/var/lib/dpkg/updates" "$work/run/in"
touch "$work/root/var/lib/dpkg/status"
# The scratch database knows none of the libraries the package depends on.
dpkg_root() { dpkg --root="$work/root" --force-depends --force-not-root "$@" >>"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg $*"; }; }
cpack --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 || { cat "$work/cpack.log"; fail "cpack failed"; }

version=$(sed -n 's/^project(quarlix VERSION \([0-9.]*\).*/\1/p' "$source/CMakeLists.txt")
deb=$work/out/quarlix_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || fail "no $deb; made: $(ls "$work/out")"

[ "$(dpkg-deb -f "$deb" Package)" = quarlix ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version"
dpkg-deb -f "$deb" Depends | grep -q 'libgsm1' || fail "libgsm1 missing from Depends: $(dpkg-deb -f "$deb" Depends)"
[ -n "$(dpkg-deb -f "$deb" Maintainer)" ] || fail "no maintainer"
description=$(dpkg-deb -f "$deb" Description)
[ "$(printf '%s\n' "$description" | wc -l)" -ge 2 ] || fail "no long description"

contents=$(dpkg-deb -c "$deb")
grep -q ' \./usr/bin/quarlix$' <<<"$contents" || fail "binary not in the package"
grep -q ' \./usr/share/man/man1/quarlix\.1\.gz$' <<<"$contents" || fail "man page not in the package"

dpkg_root --install "$deb"
page=$work/root/usr/share/man/man1/quarlix.1.gz
cmp -s <(gzip -dc "$page") "$source/doc/quarlix.1" || fail "packaged man page differs from doc/quarlix.1"
warnings=$(gzip -dc "$page" | groff -ww -man -z 2>&1) || fail "groff failed"
[ -z "$warnings" ] || fail "man page warnings: $warnings"

# Named by its absolute path, as build systems pass it; the WAV output lands
# in the current directory.
cp "$source/examples/tone.wav" "$work/run/in/tone.wav"
cd "$work/run"
output=$("$work/root/usr/bin/quarlix" -ow "$(pwd)/in/tone.wav" 2>"$work/stderr") || fail "installed quarlix failed: $output"
[ ! -s "$work/stderr" ] || fail "installed quarlix wrote to stderr: $(cat "$work/stderr")"
grep -q '^Format            = Uncompressed PCM$' <<<"$output" || fail "no information block: $output"
grep -q '^Quarlix - Operation Completed OK !$' <<<"$output" || fail "no completion line: $output"
# A plain PCM file is written back byte for byte.
cmp -s tone.wav in/tone.wav || fail "tone.wav written by the installed quarlix differs from the example"
cd "$work"
dpkg_root --remove quarlix
left=$(find "$work/root/usr" -mindepth 1 2>/dev/null || true)
[ -z "$left" ] || fail "left after removal: $left"
echo "package test: $deb ok"
