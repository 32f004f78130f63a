#!/usr/bin/env bash
# Whole-process comparison of velkor-split with the splitters a user would pick
# instead, on the shared benchmark animations (../shared/bench/make-inputs.sh,
# made once into a scratch folder when missing), medians of 5 runs, every ratio
# measured in this one run, with the frames written to two places in turn:
#   tmpfs  /dev/shm
#   disk   an ordinary disk folder where users write (VELKOR_BENCH_SCRATCH, else /var/tmp)
# `sync` runs before every timed run, so no run pays for the last one's dirty
# pages; wall time and system time are both printed.
#   A: 200 frames of 640 x 480, one global table      C: 60 frames of 1920 x 1080, local tables
#   E: 300 frames of 1000 x 1000 noise, local tables, some 400 MB (bench/make-input-e.sh;
#      3 runs each instead of 5)
# For each it prints velkor-split --bmp / ffmpeg (BMP frames), velkor-split (GIF) /
# gifsicle -U --explode, the break-out alone / giflib's DGifSlurp (one thread and
# every core), and peak memory velkor / ffmpeg; the browser composition
# (--compose browser) in bitmap and PNG frames against ffmpeg's, with CPU time
# (user + system) and peak memory; then velkor-split --png against
# ffmpeg's PNG frames and (on A) ImageMagick's -coalesce, in time and bytes.
# Then CPU time (user + system) of velkor-split --bmp in both compositions against
# ffmpeg's, and against bench/write_baseline writing files of the same names and
# sizes alone (the cost of the write side). VELKOR_BENCH_CORES=LIST runs every timed
# command under `taskset -c LIST` (0 for one core, 0,1 for two).
# With BASELINE_BUILD_DIR, that build's velkor-split is timed in the same run (bitmap and
# GIF frames) and compared with BUILD_DIR's: before and after a change, measured together.
# Usage: bench/split-compare.sh [BUILD_DIR [BASELINE_BUILD_DIR]]   (VELKOR_BENCH_INPUTS=DIR to choose
# where the inputs are kept; VELKOR_BENCH_ONLY="E" for some inputs only; VELKOR_BENCH_SCRATCH=DIR
# for the disk folder; VELKOR_BENCH_PLACES="disk" for one place only; VELKOR_BENCH_PNG=0 to
# leave out the PNG rows; installs ffmpeg, gifsicle and Pillow if missing)
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

tmpfs=/dev/shm
[ -d "$tmpfs" ] && [ -w "$tmpfs" ] || tmpfs=${TMPDIR:-/tmp}
disk=${VELKOR_BENCH_SCRATCH:-/var/tmp}
mkdir -p "$disk"
[ "$(stat -f -c %T "$disk")" = tmpfs ] && echo "warning: $disk is on tmpfs, not a disk"
works=()
trap 'rm -rf "${works[@]}"' EXIT
split="$(realpath "$build/bin/velkor-split")"
write_alone="$(realpath "$build/bin/write_baseline")"
pin=()
if [ -n "${VELKOR_BENCH_CORES:-}" ]; then
  pin=(taskset -c "$VELKOR_BENCH_CORES")
  echo "every timed command on cores $VELKOR_BENCH_CORES"
fi
baseline=""
[ -n "${2:-}" ] && baseline="$(realpath "$2/bin/velkor-split")"

# median_time COMMAND...: runs the command $runs times in a fresh output folder,
# each after a sync, and prints the median wall time (s), the median system
# time (s), the largest peak RSS (MiB), the bytes the last run left there and
# the median CPU time (user + system, s).
median_time() {
  local walls=() syss=() cpus=() peak=0
  for _ in $(seq $runs); do
    rm -rf "$work/out" && mkdir "$work/out"
    sync
    /usr/bin/time -f "%e %S %M %U" -o "$work/time" "${pin[@]}" "$@" >/dev/null 2>&1
    read -r t s m u <"$work/time"
    walls+=("$t")
    syss+=("$s")
    cpus+=("$(echo "$u + $s" | bc)")
    [ "$m" -gt "$peak" ] && peak=$m
  done
  local mid=$(((runs + 1) / 2))
  echo "$(printf '%s\n' "${walls[@]}" | sort -n | sed -n "${mid}p")" \
    "$(printf '%s\n' "${syss[@]}" | sort -n | sed -n "${mid}p")" \
    "$((peak / 1024))" "$(du -sb "$work/out" | cut -f1)" \
    "$(printf '%s\n' "${cpus[@]}" | sort -n | sed -n "${mid}p")"
}
ratio() { echo "scale=2; $1 / $2" | bc | sed 's/^\./0./'; }
row() { printf '%-6s %-6s %-26s %9s %9s %9s %12s\n' "$@"; }

# velkor-split reads the source where it lies and writes its frames into the
# output folder, as the peers do (a copy of the source beside the frames would
# be timed with them).
velkor_bmp() { "$split" --bmp -q -o "$work/out" "$in"; }
velkor_gif() { "$split" -q -o "$work/out" "$in"; }
browser_bmp() { "$split" --compose browser --bmp -q -o "$work/out" "$in"; }
browser_png() { "$split" --compose browser --png -q -o "$work/out" "$in"; }
export -f velkor_bmp velkor_gif browser_bmp browser_png

row input place tool "wall s" "sys s" "peak MiB" bytes
summary=() png_summary=() base_summary=() browser_summary=() cpu_summary=()
for input in ${VELKOR_BENCH_ONLY:-A C E}; do
  runs=5
  [ "$input" = E ] && runs=3
  for place in ${VELKOR_BENCH_PLACES:-tmpfs disk}; do
    folder=$tmpfs
    [ "$place" = disk ] && folder=$disk
    work=$(mktemp -d "$folder/velkor-bench.XXXXXX")
    works+=("$work")
    cp "$inputs/$input.gif" "$work/src.gif"
    in="$work/src.gif"
    export in split work
    if [ -n "$baseline" ]; then
      read -r ob obs opb _ < <(split=$baseline median_time bash -c velkor_bmp)
      read -r og ogs opg _ < <(split=$baseline median_time bash -c velkor_gif)
      row "$input" "$place" "baseline --bmp" "$ob" "$obs" "$opb"
      row "$input" "$place" "baseline (gif)" "$og" "$ogs" "$opg"
    fi
    read -r vb vbs pb _ vbc < <(median_time bash -c velkor_bmp)
    # The frames of the last run, written again alone.
    rm -rf "$work/frames" && mv "$work/out" "$work/frames"
    read -r wb wbs _ _ wbc < <(median_time "$write_alone" "$work/frames" "$work/out")
    rm -rf "$work/frames"
    row "$input" "$place" "write_baseline (bmp)" "$wb" "$wbs" ""
    read -r ff ffs pf _ ffc < <(median_time ffmpeg -loglevel error -i "$in" "$work/out/f_%03d.bmp")
    read -r vg vgs pg _ < <(median_time bash -c velkor_gif)
    read -r gs gss pgs _ < <(median_time gifsicle -U --explode "$in" -o "$work/out/f")
    row "$input" "$place" "velkor-split --bmp" "$vb" "$vbs" "$pb"
    row "$input" "$place" "ffmpeg (bmp)" "$ff" "$ffs" "$pf"
    row "$input" "$place" "velkor-split (gif)" "$vg" "$vgs" "$pg"
    row "$input" "$place" "gifsicle -U --explode" "$gs" "$gss" "$pgs"
    if [ "${VELKOR_BENCH_BROWSER:-1}" = 1 ]; then
      read -r bb bbs pbb _ bbc < <(median_time bash -c browser_bmp)
      row "$input" "$place" "--compose browser --bmp" "$bb" "$bbs" "$pbb"
      cpu_summary+=("$(printf '%-6s %-6s %14s %14s %14s %14s %18s' "$input" "$place" \
        "$(ratio "$vbc" "$ffc")" "$(ratio "$bbc" "$ffc")" "$(ratio "$vb" "$ff")" \
        "$(ratio "$bb" "$ff")" "$wbc / $vbc / $bbc")")
      browser_png_ratio="-" browser_png_cpu="-"
      if [ "$input" != E ]; then
        read -r bp2 _ _ _ bpc < <(median_time bash -c browser_png)
        read -r fp2 _ _ _ fpc < <(runs=3 median_time ffmpeg -loglevel error -i "$in" "$work/out/f_%03d.png")
        row "$input" "$place" "--compose browser --png" "$bp2" "" ""
        row "$input" "$place" "ffmpeg (png)" "$fp2" "" ""
        browser_png_ratio=$(ratio "$bp2" "$fp2")
        browser_png_cpu="$bpc / $fpc"
      fi
      browser_summary+=("$(printf '%-6s %-6s %14s %14s %16s %14s %16s' "$input" "$place" \
        "$(ratio "$bb" "$ff")" "$browser_png_ratio" "$bbc / $ffc" "$browser_png_cpu" "$pbb / $pf")")
    fi
    png_ratio="-"
    if [ "${VELKOR_BENCH_PNG:-1}" = 1 ] && [ "$input" != E ]; then
      # PNG frames: the source is read where it lies, the frames go to the folder.
      read -r vp vps pp bp < <(median_time "$split" --png -q -o "$work/out" "$in")
      read -r fp fps pfp bfp < <(runs=3 median_time ffmpeg -loglevel error -i "$in" "$work/out/f_%03d.png")
      row "$input" "$place" "velkor-split --png" "$vp" "$vps" "$pp" "$bp"
      row "$input" "$place" "ffmpeg (png)" "$fp" "$fps" "$pfp" "$bfp"
      png_ratio=$(ratio "$vp" "$fp")
      png_line="$(printf '%-6s %-6s %14s %16s %18s' "$input" "$place" "$png_ratio" "$bp / $bfp" \
        "$pp / $pb")"
      if [ "$input" = A ] && [ "$place" = tmpfs ] && command -v convert >/dev/null &&
        [ "${VELKOR_BENCH_MAGICK:-1}" = 1 ]; then
        # ImageMagick takes some 20 s a run here: once is enough.
        read -r im ims pim bim < <(runs=1 median_time convert "$in" -coalesce "$work/out/f_%03d.png")
        row "$input" "$place" "convert -coalesce (png)" "$im" "$ims" "$pim" "$bim"
        png_line+="$(printf ' %20s' "$bp / $bim")"
      fi
      png_summary+=("$png_line")
    fi
    summary+=("$(printf '%-6s %-6s %14s %16s %12s %12s %14s' "$input" "$place" "$(ratio "$vb" "$ff")" \
      "$(ratio "$vg" "$gs")" "$png_ratio" "$vbs / $ffs" "$pb / $pf")")
    if [ -n "$baseline" ]; then
      base_summary+=("$(printf '%-6s %-6s %18s %18s %18s %16s' "$input" "$place" \
        "$(ratio "$ob" "$ff") -> $(ratio "$vb" "$ff")" "$(ratio "$vb" "$ob")" "$(ratio "$vg" "$og")" \
        "$opb -> $pb")")
    fi
    rm -rf "$work"
  done
  breakout=$("$build/bin/bench_breakout" --compare "$inputs/$input.gif")
  echo "$breakout" | sed "s/^/$input      /"
done
echo
printf '%-6s %-6s %14s %16s %12s %12s %14s\n' input place "bmp / ffmpeg" "gif / gifsicle" \
  "png / ffmpeg" "sys s v / ff" "peak MiB v / ff"
printf '%-6s %-6s %14s %16s %12s %12s %14s\n' "" "" "(goal <= 0.8)" "(goal <= 0.5)" "(<= 0.2)" "(bmp)" "(bmp)"
printf '%s\n' "${summary[@]}"
if [ ${#browser_summary[@]} -gt 0 ]; then
  echo
  printf '%-6s %-6s %14s %14s %16s %14s %16s\n' input place "browser bmp/ff" "browser png/ff" \
    "CPU s bmp v / ff" "CPU s png v/ff" "peak MiB v / ff"
  printf '%-6s %-6s %14s %14s %16s %14s %16s\n' "" "" "(goal <= 0.6)" "(<= 0.15)" "" "" "(E: <= 100)"
  printf '%s\n' "${browser_summary[@]}"
fi
if [ ${#cpu_summary[@]} -gt 0 ]; then
  echo
  printf '%-6s %-6s %14s %14s %14s %14s %18s\n' input place "CPU bmp v/ff" "CPU brws v/ff" \
    "wall bmp v/ff" "wall brws v/ff" "CPU s write/v/brws"
  printf '%-6s %-6s %14s %14s %14s %14s %18s\n' "" "" "(goal <= 0.6)" "(<= 0.6)" \
    "(1 core: 0.7," "2 cores: 0.5)" "(write alone)"
  printf '%s\n' "${cpu_summary[@]}"
fi
if [ ${#png_summary[@]} -gt 0 ]; then
  echo
  printf '%-6s %-6s %14s %16s %18s %20s\n' input place "png / ffmpeg" "bytes v / ff" \
    "peak MiB png / bmp" "bytes v / magick"
  printf '%s\n' "${png_summary[@]}"
fi
if [ -n "$baseline" ]; then
  echo
  printf '%-6s %-6s %18s %18s %18s %16s\n' input place "bmp / ffmpeg" "bmp after/before" \
    "gif after/before" "peak MiB (bmp)"
  printf '%-6s %-6s %18s %18s %18s %16s\n' "" "" "(before -> after)" "" "" "before -> after"
  printf '%s\n' "${base_summary[@]}"
fi
