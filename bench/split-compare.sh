#!/usr/bin/env bash
# Whole-process comparison of velkor-split with other splitters, on generated
# inputs, frames written to tmpfs, medians of 5 runs.
#   A: 200 frames of 640 x 480, full frames, one global table
#   B: A optimised with gifsicle -O3 (partial frames with transparency)
#   C: 60 frames of 1920 x 1080, a local table on every frame
# velkor-split --bmp is compared with ffmpeg (BMP frames), velkor-split (GIF)
# with gifsicle -U --explode; ImageMagick -coalesce is timed once, for reference.
# Usage: bench/split-compare.sh [BUILD_DIR]   (installs ffmpeg and gifsicle if missing)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=5

need=()
command -v ffmpeg >/dev/null || need+=(ffmpeg)
command -v gifsicle >/dev/null || need+=(gifsicle)
command -v /usr/bin/time >/dev/null || need+=(time)
command -v bc >/dev/null || need+=(bc)
if [ ${#need[@]} -gt 0 ]; then
  sudo=""; [ "$(id -u)" -ne 0 ] && sudo=sudo
  $sudo apt-get install -y -qq --no-install-recommends "${need[@]}"
fi

shm=/dev/shm
[ -d "$shm" ] && [ -w "$shm" ] || shm=${TMPDIR:-/tmp}
work=$(mktemp -d "$shm/velkor-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

"$build/bin/bench_breakout" --write "$work/A.gif"
gifsicle -O3 "$work/A.gif" -o "$work/B.gif"
"$build/bin/bench_breakout" --write-hd "$work/C.gif"

split="$(realpath "$build/bin/velkor-split")"

# median_time LABEL COMMAND...: runs the command $runs times in a fresh output
# folder and prints the median wall time (s) and the largest peak RSS (MB).
median_time() {
  local times=() peak=0
  for _ in $(seq $runs); do
    rm -rf "$work/out" && mkdir "$work/out"
    /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null 2>&1
    read -r t m <"$work/time"
    times+=("$t")
    [ "$m" -gt "$peak" ] && peak=$m
  done
  local median
  median=$(printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((runs + 1) / 2))p")
  echo "$median $((peak / 1024))"
}

printf '%-6s %-26s %10s %10s\n' input tool "median s" "peak MB"
for input in A B C; do
  cp "$work/$input.gif" "$work/src.gif"
  in="$work/src.gif"
  # velkor-split writes next to its input: give it the output folder.
  velkor_bmp() { cp "$in" "$work/out/src.gif" && "$split" --bmp "$work/out/src.gif"; }
  velkor_gif() { cp "$in" "$work/out/src.gif" && "$split" "$work/out/src.gif"; }
  export -f velkor_bmp velkor_gif
  export in split work
  read -r vb pb < <(median_time bash -c velkor_bmp)
  read -r ff pf < <(median_time ffmpeg -loglevel error -i "$in" "$work/out/f_%03d.bmp")
  read -r vg pg < <(median_time bash -c velkor_gif)
  read -r gs pgs < <(median_time gifsicle -U --explode "$in" -o "$work/out/f")
  printf '%-6s %-26s %10s %10s\n' "$input" "velkor-split --bmp" "$vb" "$pb"
  printf '%-6s %-26s %10s %10s\n' "$input" "ffmpeg (bmp)" "$ff" "$pf"
  printf '%-6s %-26s %10s %10s\n' "$input" "velkor-split (gif)" "$vg" "$pg"
  printf '%-6s %-26s %10s %10s\n' "$input" "gifsicle -U --explode" "$gs" "$pgs"
  printf '%-6s %-26s %10s\n' "$input" "ratio bmp vs ffmpeg" "$(echo "scale=2; $vb / $ff" | bc)"
  printf '%-6s %-26s %10s\n' "$input" "ratio gif vs gifsicle" "$(echo "scale=2; $vg / $gs" | bc)"
  if [ "$input" = A ] && command -v convert >/dev/null; then
    rm -rf "$work/out" && mkdir "$work/out"
    /usr/bin/time -f "%e %M" -o "$work/time" convert "$in" -coalesce "$work/out/f_%03d.bmp"
    read -r t m <"$work/time"
    printf '%-6s %-26s %10s %10s  (reference, one run)\n' "$input" "ImageMagick -coalesce" "$t" "$((m / 1024))"
  fi
done
