#!/usr/bin/env bash
# Packs the Windows build's programs and their README into
# velkor-VERSION-windows-x64.zip (in the build folder), one folder inside.
# Usage: scripts/windows-zip.sh WINDOWS_BUILD
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:?usage: windows-zip.sh WINDOWS_BUILD}")
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
name="velkor-$version-windows-x64"
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
mkdir "$stage/$name"
cp "$build/bin/velkor.exe" "$build/bin/velkor-split.exe" "$stage/$name/"
# Without the debugging information the build keeps for its tests.
x86_64-w64-mingw32-strip --strip-debug "$stage/$name"/*.exe
# Notepad's line ends.
sed "s/@VERSION@/$version/; s/\$/\r/" packaging/windows/README.txt >"$stage/$name/README.txt"
rm -f "$build/$name.zip"
(cd "$stage" && python3 -m zipfile -c "$build/$name.zip" "$name")
echo "$build/$name.zip"
