#!/usr/bin/env bash
# Whole-process comparison of velkor-split with the splitters a user would pick
# instead, on the shared benchmark animations (../shared/bench/make-inputs.sh,
# made once into a scratch folder when missing), frames written to tmpfs,
# medians of 5 runs, every ratio measured in this one run:
#   A: 200 frames of 640 x 480, one global table      C: 60 frames of 1920 x 1080, local tables
#   E: 300 frames of 1000 x 1000 noise, local tables, some 400 MB (bench/make-input-e.sh;
#      3 runs each instead of 5)
# For each it prints velkor-split --bmp / ffmpeg (BMP frames), velkor-split (GIF) /
# gifsicle -U --explode, the break-out alone / giflib's DGifSlurp (one thread and
# every core), and peak memory velkor / ffmpeg; then velkor-split --png against
# ffmpeg's PNG frames and (on A) ImageMagick's -coalesce, in time and bytes.
# With BASELINE_BUILD_DIR, that build's velkor-split is timed in the same run (bitmap and
# GIF frames) and compared with BUILD_DIR's: before and after a change, measured together.
# Usage: bench/split-compare.sh [BUILD_DIR [BASELINE_BUILD_DIR]]   (VELKOR_BENCH_INPUTS=DIR to choose
# where the inputs are kept; VELKOR_BENCH_ONLY="E" for some inputs only; VELKOR_BENCH_SCRATCH=DIR
# to write the frames on another file system than tmpfs; VELKOR_BENCH_PNG=0 to leave out the
# PNG rows; installs ffmpeg, gifsicle and Pillow if missing)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=5
inputs=${VELKOR_BENCH_INPUTS:-${TMPDIR:-/tmp}/velkor-bench-inputs}

need=()
command -v ffmpeg >/dev/null || need+=(ffmpeg)
command -v gifsicle >/dev/null || need+=(gifsicle)
command -v /usr/bin/time >/dev/null || need+=(time)
command -v bc >/dev/null || need+=(bc)
/usr/bin/python3 -c 'import PIL' 2>/dev/null || need+=(python3-pil)
if [ ${#need[@]} -gt 0 ]; then
  sudo=""; [ "$(id -u)" -ne 0 ] && sudo=sudo
  $sudo apt-get install -y -qq --no-install-recommends "${need[@]}"
fi
if [ ! -f "$inputs/A.gif" ] || [ ! -f "$inputs/C.gif" ]; then
  echo "making the benchmark inputs in $inputs (a few minutes, once)"
  PATH=/usr/bin:$PATH sh ../shared/bench/make-inputs.sh "$inputs" >/dev/null
fi
(cd "$inputs" && sha256sum -c --quiet "$OLDPWD/../shared/bench/SHA256SUMS") ||
  echo "warning: the inputs differ from ../shared/bench/SHA256SUMS"
if [ ! -f "$inputs/E.gif" ]; then
  echo "making benchmark input E in $inputs (some 15 s, once)"
  sh bench/make-input-e.sh "$inputs" >/dev/null
fi

shm=${VELKOR_BENCH_SCRATCH:-/dev/shm}
[ -d "$shm" ] && [ -w "$shm" ] || shm=${TMPDIR:-/tmp}
work=$(mktemp -d "$shm/velkor-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
split="$(realpath "$build/bin/velkor-split")"
baseline=""
[ -n "${2:-}" ] && baseline="$(realpath "$2/bin/velkor-split")"

# median_time COMMAND...: runs the command $runs times in a fresh output folder
# and prints the median wall time (s), the largest peak RSS (MiB) and the bytes
# the last run left in the folder.
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
  echo "$median $((peak / 1024)) $(du -sb "$work/out" | cut -f1)"
}
ratio() { echo "scale=2; $1 / $2" | bc | sed 's/^\./0./'; }

printf '%-6s %-28s %10s %10s\n' input tool "median s" "peak MiB"
summary=() png_summary=() base_summary=()
for input in ${VELKOR_BENCH_ONLY:-A C E}; do
  runs=5
  [ "$input" = E ] && runs=3
  cp "$inputs/$input.gif" "$work/src.gif"
  in="$work/src.gif"
  # velkor-split writes next to its input: give it the output folder.
  velkor_bmp() { cp "$in" "$work/out/src.gif" && "$split" --bmp "$work/out/src.gif"; }
  velkor_gif() { cp "$in" "$work/out/src.gif" && "$split" "$work/out/src.gif"; }
  export -f velkor_bmp velkor_gif
  export in split work
  if [ -n "$baseline" ]; then
    read -r ob opb _ < <(split=$baseline median_time bash -c velkor_bmp)
    read -r og opg _ < <(split=$baseline median_time bash -c velkor_gif)
    printf '%-6s %-28s %10s %10s\n' "$input" "baseline --bmp" "$ob" "$opb"
    printf '%-6s %-28s %10s %10s\n' "$input" "baseline (gif)" "$og" "$opg"
  fi
  read -r vb pb _ < <(median_time bash -c velkor_bmp)
  read -r ff pf _ < <(median_time ffmpeg -loglevel error -i "$in" "$work/out/f_%03d.bmp")
  read -r vg pg _ < <(median_time bash -c velkor_gif)
  read -r gs pgs _ < <(median_time gifsicle -U --explode "$in" -o "$work/out/f")
  printf '%-6s %-28s %10s %10s\n' "$input" "velkor-split --bmp" "$vb" "$pb"
  printf '%-6s %-28s %10s %10s\n' "$input" "ffmpeg (bmp)" "$ff" "$pf"
  printf '%-6s %-28s %10s %10s\n' "$input" "velkor-split (gif)" "$vg" "$pg"
  printf '%-6s %-28s %10s %10s\n' "$input" "gifsicle -U --explode" "$gs" "$pgs"
  if [ "${VELKOR_BENCH_PNG:-1}" = 1 ]; then
    # PNG frames: the source is read where it lies, the frames go to the folder.
    read -r vp pp bp < <(median_time "$split" --png -q -o "$work/out" "$in")
    read -r fp pfp bfp < <(runs=3 median_time ffmpeg -loglevel error -i "$in" "$work/out/f_%03d.png")
    printf '%-6s %-28s %10s %10s %12s\n' "$input" "velkor-split --png" "$vp" "$pp" "$bp"
    printf '%-6s %-28s %10s %10s %12s\n' "$input" "ffmpeg (png)" "$fp" "$pfp" "$bfp"
    png_line="$(printf '%-6s %14s %16s %18s' "$input" "$(ratio "$vp" "$fp")" "$bp / $bfp" \
      "$pp / $pb")"
    if [ "$input" = A ] && command -v convert >/dev/null && [ "${VELKOR_BENCH_MAGICK:-1}" = 1 ]; then
      # ImageMagick takes some 20 s a run here: once is enough.
      read -r im pim bim < <(runs=1 median_time convert "$in" -coalesce "$work/out/f_%03d.png")
      printf '%-6s %-28s %10s %10s %12s\n' "$input" "convert -coalesce (png)" "$im" "$pim" "$bim"
      png_line+="$(printf ' %20s' "$bp / $bim")"
    fi
    png_summary+=("$png_line")
  fi
  breakout=$("$build/bin/bench_breakout" --compare "$in")
  echo "$breakout" | sed "s/^/$input      /"
  one=$(echo "$breakout" | sed -n 's/^ratio one thread \([0-9.]*\), all cores \([0-9.]*\)$/\1/p')
  all=$(echo "$breakout" | sed -n 's/^ratio one thread \([0-9.]*\), all cores \([0-9.]*\)$/\2/p')
  summary+=("$(printf '%-6s %18s %22s %22s %16s' "$input" "$(ratio "$vb" "$ff")" \
    "$(ratio "$vg" "$gs")" "$one / $all" "$pb / $pf")")
  if [ -n "$baseline" ]; then
    base_summary+=("$(printf '%-6s %18s %22s %18s %16s' "$input" "$(ratio "$ob" "$ff") -> $(ratio "$vb" "$ff")" \
      "$(ratio "$vb" "$ob")" "$(ratio "$vg" "$og")" "$opb -> $pb")")
  fi
done
echo
printf '%-6s %18s %22s %22s %16s\n' input "bmp / ffmpeg" "gif / gifsicle" \
  "break-out / slurp" "peak MiB v / ff"
printf '%-6s %18s %22s %22s %16s\n' "" "(goal <= 1.0)" "(goal <= 0.5)" "(1 core / all cores)" ""
printf '%s\n' "${summary[@]}"
echo
[ ${#png_summary[@]} -gt 0 ] && printf '%-6s %14s %16s %18s %20s\n' input "png / ffmpeg" "bytes v / ff" "peak MiB png / bmp" \
  "bytes v / magick"
[ ${#png_summary[@]} -gt 0 ] && printf '%-6s %14s %16s %18s %20s\n' "" "(goal <= 0.2)" "(C: v <= ff)" "(goal png <= bmp)" \
  "(A: v <= magick)"
[ ${#png_summary[@]} -gt 0 ] && printf '%s\n' "${png_summary[@]}"
if [ -n "$baseline" ]; then
  echo
  printf '%-6s %18s %22s %18s %16s\n' input "bmp / ffmpeg" "bmp time after/before" \
    "gif after/before" "peak MiB (bmp)"
  printf '%-6s %18s %22s %18s %16s\n' "" "(before -> after)" "" "" "before -> after"
  printf '%s\n' "${base_summary[@]}"
fi
