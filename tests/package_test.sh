#!/usr/bin/env bash
# Builds the Debian package of the build tree given, installs it with dpkg
# into a scratch root (with a database of its own, so the machine's is never
# touched) and checks that what it installs works: the binary runs on the
# bundled example, the man page is there and renders cleanly, and the
# decoder library's CMake and pkg-config packages find the library, its
# headers and sources and the tool where the package put them. Then it
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
for library in libgsm1 libsoxr0; do
  dpkg-deb -f "$deb" Depends | grep -q "$library" || fail "$library missing from Depends: $(dpkg-deb -f "$deb" Depends)"
done
[ -n "$(dpkg-deb -f "$deb" Maintainer)" ] || fail "no maintainer"
description=$(dpkg-deb -f "$deb" Description)
[ "$(printf '%s\n' "$description" | wc -l)" -ge 2 ] || fail "no long description"

contents=$(dpkg-deb -c "$deb")
grep -q ' \./usr/bin/quarlix$' <<<"$contents" || fail "binary not in the package"
grep -q ' \./usr/share/man/man1/quarlix\.1\.gz$' <<<"$contents" || fail "man page not in the package"
for file in lib/libquarlix_decode.a include/quarlix/quarlix_decode.h include/quarlix/quarlix_codec_rules.h \
  share/quarlix/runtime/quarlix_decode.c lib/pkgconfig/quarlix-decode.pc lib/cmake/Quarlix/QuarlixConfig.cmake \
  lib/cmake/Quarlix/QuarlixConfigVersion.cmake lib/cmake/Quarlix/QuarlixSounds.cmake \
  lib/cmake/Quarlix/QuarlixEmbedSound.cmake; do
  grep -q " \./usr/$file\$" <<<"$contents" || fail "$file not in the package"
done

dpkg_root --install "$deb"
page=$work/root/usr/share/man/man1/quarlix.1.gz
cmp -s <(gzip -dc "$page") "$source/doc/quarlix.1" || fail "packaged man page differs from doc/quarlix.1"
warnings=$(gzip -dc "$page" | groff -ww -man -z 2>&1) || fail "groff failed"
[ -z "$warnings" ] || fail "man page warnings: $warnings"

# Both packages find everything from where they lie, here in the scratch root.
usr=$work/root/usr
for file in include/quarlix/quarlix_decode.h include/quarlix/quarlix_codec_rules.h share/quarlix/runtime/quarlix_decode.c; do
  cmp -s "$usr/$file" "$source/runtime/${file##*/}" || fail "packaged $file differs from runtime/"
done
flags=$(PKG_CONFIG_PATH=$usr/lib/pkgconfig pkg-config --cflags --libs quarlix-decode) || fail "pkg-config failed"
flags=${flags% }
[ "$flags" = "-I$usr/lib/pkgconfig/../../include/quarlix -L$usr/lib/pkgconfig/../../lib -lquarlix_decode" ] ||
  fail "pkg-config gives $flags"
mkdir "$work/find"
printf '%s\n' 'cmake_minimum_required(VERSION 3.21)' 'project(find LANGUAGES C)' 'find_package(Quarlix 1.51 REQUIRED)' \
  'get_target_property(tool Quarlix::quarlix IMPORTED_LOCATION)' 'get_target_property(sources quarlix_decode SOURCES)' \
  'message(STATUS "tool ${tool} sources ${sources}")' >"$work/find/CMakeLists.txt"
cmake -S "$work/find" -B "$work/find/build" -DCMAKE_PREFIX_PATH="$usr" >"$work/find.log" 2>&1 || { cat "$work/find.log"; fail "find_package(Quarlix) failed"; }
grep -qF -- "-- tool $usr/bin/quarlix sources $usr/share/quarlix/runtime/quarlix_decode.c" "$work/find.log" ||
  fail "find_package(Quarlix) found other files: $(grep -e '-- tool' "$work/find.log")"

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
