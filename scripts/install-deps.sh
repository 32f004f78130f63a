#!/usr/bin/env bash
# Installs the Debian packages Velkor needs to build, test and run, when they
# are missing. Uses sudo only when not run as root.
# With "windows": the cross-compiler and Wine for the Windows build instead.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libgif-dev libpng-dev libdeflate-dev libcli11-dev nlohmann-json3-dev
  libgtest-dev libgmock-dev libbenchmark-dev python3-pil python3-jsonschema
  clang gifsicle imagemagick jq
  qt6-base-dev libgl-dev fonts-ipafont-gothic xvfb xauth xdotool x11-apps
  desktop-file-utils dpkg-dev man-db
  pybind11-dev python3-dev python3-numpy python3-pytest python3-distributed
)

if [ "${1:-}" = windows ]; then
  packages=(
    cmake ninja-build dpkg-dev g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix
    libz-mingw-w64-dev googletest libcli11-dev nlohmann-json3-dev python3 wine wine64 xvfb xauth
    xdotool imagemagick gifsicle fonts-ipafont-gothic
  )
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
