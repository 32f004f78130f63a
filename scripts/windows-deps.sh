#!/bin/sh
# Builds, for 64-bit Windows with MinGW-w64, the libraries the Windows programs
# link statically, from Debian's own source packages (apt-get source; nothing is
# downloaded from anywhere else, nothing is copied into the repository):
# giflib, libdeflate, libpng (with the zlib of libz-mingw-w64-dev), and
# GoogleTest from the googletest package's sources. CLI11 and nlohmann-json
# are header-only: their headers are staged as they are.
# Usage: scripts/windows-deps.sh DEPS_DIR   (skips what is already there)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
deps=$(mkdir -p "${1:?usage: windows-deps.sh DEPS_DIR}" && cd "$1" && pwd)
toolchain=$root/cmake/mingw-w64-x86_64.cmake
[ -f "$deps/.done" ] && exit 0
src=$deps/src
mkdir -p "$src" "$deps/include"

sudo=""
[ "$(id -u)" -ne 0 ] && sudo=sudo
# apt-get source needs the source lists: the same archive as the binary lists.
if ! apt-get source --print-uris giflib >/dev/null 2>&1; then
  for list in /etc/apt/sources.list.d/debian.sources; do
    [ -f "$list" ] || continue
    sed 's/^Types: deb$/Types: deb-src/' "$list" |
      $sudo tee /etc/apt/sources.list.d/velkor-deb-src.sources >/dev/null
  done
  if [ -f /etc/apt/sources.list ] && grep -q '^deb ' /etc/apt/sources.list; then
    sed -n 's/^deb /deb-src /p' /etc/apt/sources.list |
      $sudo tee /etc/apt/sources.list.d/velkor-deb-src.list >/dev/null
  fi
  $sudo apt-get update -qq
fi
cd "$src"
# The newest version the archive serves (a mirror may list a security update
# it does not hold yet).
fetch() {
  for version in $(apt-cache showsrc "$1" | sed -n 's/^Version: //p' | sort -rV); do
    apt-get source -qq "$1=$version" >/dev/null 2>&1 && return 0
  done
  echo "windows-deps.sh: cannot fetch Debian's source package $1" >&2
  return 1
}
for package in giflib libdeflate libpng1.6; do
  ls -d "$src/$package"-*/ >/dev/null 2>&1 || fetch "$package"
done
giflib=$(ls -d "$src"/giflib-*/ | head -1)
libdeflate=$(ls -d "$src"/libdeflate-*/ | head -1)
libpng=$(ls -d "$src"/libpng1.6-*/ | head -1)

build() {  # NAME SOURCE_DIR CMAKE_ARGS...
  name=$1 dir=$2
  shift 2
  cmake -S "$dir" -B "$deps/build/$name" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_INSTALL_PREFIX="$deps" "$@" >/dev/null
  cmake --build "$deps/build/$name" >/dev/null
  cmake --install "$deps/build/$name" >/dev/null
}
build giflib "$root/cmake/third_party/giflib" -DGIFLIB_SOURCE="$giflib"
build libdeflate "$root/cmake/third_party/libdeflate" -DLIBDEFLATE_SOURCE="$libdeflate"
build libpng "$libpng" -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF \
  -DSKIP_INSTALL_PROGRAMS=ON
build googletest /usr/src/googletest -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON
cp -r /usr/include/CLI /usr/include/nlohmann "$deps/include/"
touch "$deps/.done"
