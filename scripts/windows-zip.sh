#!/usr/bin/env bash
# Packs the Windows release: quarlix.exe, the README, the manual page as
# plain text, the decoder sources of runtime/ (when the tree has them) and
# the licences of the libraries linked into the executable (libgsm,
# libsoxr: LGPL, whose terms ask for its text beside the program) into
# quarlix-<version>-win64.zip in the Windows build folder. Text files get
# Windows' CR LF line ends.
# Usage: windows-zip.sh <Windows build> <source tree>
set -euo pipefail
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)

version=$(sed -n 's/^project(quarlix VERSION \([0-9.]*\).*/\1/p' "$source/CMakeLists.txt")
[ -n "$version" ] || { echo "no version in CMakeLists.txt"; exit 1; }
name=quarlix-$version-win64
stage=$build/zip/$name
archive=$build/$name.zip

rm -rf "$build/zip" "$archive"
mkdir -p "$stage"
cp "$build/quarlix.exe" "$stage/"
cp "$source/README.md" "$stage/"
groff -t -man -Tascii -P-cbou "$source/doc/quarlix.1" >"$stage/quarlix.txt"
if compgen -G "$source/runtime/*.[ch]" >/dev/null; then
  mkdir -p "$stage/runtime"
  cp "$source"/runtime/*.[ch] "$stage/runtime/"
fi
mkdir -p "$stage/licences"
cp "$source/build-deps/libgsm/source/COPYRIGHT" "$stage/licences/libgsm-COPYRIGHT.txt"
cp "$source/build-deps/libsoxr/source/LICENCE" "$stage/licences/libsoxr-LICENCE.txt"
cp "$source/build-deps/libsoxr/source/COPYING.LGPL" "$stage/licences/libsoxr-COPYING.LGPL.txt"

cd "$build/zip"
runtime=()
[ -d "$name/runtime" ] && runtime=("$name"/runtime/*)
zip -q -X "$archive" "$name/quarlix.exe"
zip -q -X -l "$archive" "$name/README.md" "$name/quarlix.txt" "${runtime[@]}" "$name"/licences/*
echo "$archive"
unzip -l "$archive"
