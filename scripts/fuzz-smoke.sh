#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a few seconds over
# a seed corpus: the shared GIF corpus (read where it lies, never written) and
# seeds made here. An input slower than a second counts as a failure.
# Usage: scripts/fuzz-smoke.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-10}
if ! command -v clang++ >/dev/null; then
  echo "fuzz smoke: clang++ is missing; skipped"
  exit 0
fi
build=build-fuzz
CXX=clang++ cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELKOR_FUZZ=ON \
  -DVELKOR_TESTS=OFF -DVELKOR_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target fuzz_picture fuzz_settings fuzz_breakout fuzz_salvage fuzz_browser fuzz_lzw \
  velkor-make-sample

work=$(mktemp -d "${TMPDIR:-/tmp}/velkor-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/gif" "$work/ini" "$work/new-gif" "$work/new-ini"
corpus=../shared/corpus
if [ -d "$corpus" ]; then
  find "$corpus" -name '*.gif' -size -200k -exec cp {} "$work/gif/" \;
  find "$corpus" -name '*.bmp' -size -200k -exec cp {} "$work/gif/" \;
fi
"$build/bin/velkor-make-sample" "$work/gif/sample.gif"
# 54-byte bitmaps of no width and a hundred million or two thousand million
# rows: they once kept the loader busy for seconds.
bmp_seed() {
  printf 'BM\066\0\0\0\0\0\0\0\066\0\0\0\050\0\0\0\0\0\0\0'"$1"'\001\0\030\0'
  printf '\0%.0s' $(seq 24)
}
bmp_seed '\000\341\365\005' >"$work/gif/empty-tall.bmp"
bmp_seed '\377\377\377\177' >"$work/gif/empty-tallest.bmp"
printf '[Section]\r\nPass=/home/u\r\nFile= 1\r\nTrans= 0\r\n' >"$work/ini/a.ini"
printf '; c\n[section]\n FILE = -0.5 \n[x]\nTrans=abc\n' >"$work/ini/b.ini"

run() {
  local target=$1 seeds=$2 out=$3
  echo "== $target: ${seconds}s"
  (cd "$work" && "$OLDPWD/$build/bin/$target" -max_total_time="$seconds" -timeout=1 \
     -rss_limit_mb=4096 -print_final_stats=1 "$out" "$seeds" 2>&1 | tail -n 12)
}
run fuzz_picture "$work/gif" "$work/new-gif"
run fuzz_breakout "$work/gif" "$work/new-gif"
run fuzz_salvage "$work/gif" "$work/new-gif"
run fuzz_browser "$work/gif" "$work/new-gif"
run fuzz_lzw "$work/gif" "$work/new-gif"
run fuzz_settings "$work/ini" "$work/new-ini"
leftovers=$(find "${TMPDIR:-/tmp}" -maxdepth 1 -name '*.GIF' -newer "$work/ini/a.ini" 2>/dev/null | wc -l)
if [ "$leftovers" -ne 0 ]; then
  echo "fuzz smoke: $leftovers temporary frame files were left behind" >&2
  exit 1
fi
