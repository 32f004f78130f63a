#!/usr/bin/env bash
# Whole-process comparison of velkor-split on a folder of many animations
# (bench/make-batch.sh, made once when missing) with the ways a user would
# split them otherwise, frames as bitmaps, on tmpfs and on a disk folder in
# turn, `sync` before every timed run:
#   velkor-split --bmp -o DIR FILE...           one process, -j one per core
#   xargs -P$(nproc) -n1 velkor-split           a process a file
#   xargs -P$(nproc) -n1 ffmpeg                 -fps_mode passthrough (else it
#                                               duplicates frames to a constant rate)
#   xargs -P$(nproc) -n1 gifsicle -U --explode
# It prints wall and system time, files and frames per second, peak memory, and
# the ratios; then peak memory of the batch at the default -j against a single
# run on A.
# Usage: bench/batch-compare.sh [BUILD_DIR]   (VELKOR_BATCH=DIR where the batch is
# kept; VELKOR_BENCH_SCRATCH=DIR the disk folder, else /var/tmp; VELKOR_BENCH_PLACES;
# VELKOR_BATCH_RUNS=3 runs of velkor-split each, the peers once)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
split="$(realpath "$build/bin/velkor-split")"
batch=${VELKOR_BATCH:-${TMPDIR:-/tmp}/velkor-batch}
runs=${VELKOR_BATCH_RUNS:-3}
for tool in ffmpeg gifsicle /usr/bin/time bc; do
  command -v "$tool" >/dev/null || {
    sudo=""; [ "$(id -u)" -ne 0 ] && sudo=sudo
    $sudo apt-get install -y -qq --no-install-recommends ffmpeg gifsicle time bc
    break
  }
done
[ -f "$batch/A.gif" ] || sh bench/make-batch.sh "$batch"
list=$(mktemp)
find "$batch" -name '*.gif' | sort >"$list"
files=$(wc -l <"$list")
frames=$({ "$split" --info --from "$list" 2>/dev/null || true; } |
  python3 -c 'import json,sys; print(sum(len(json.loads(l)["frames"]) for l in sys.stdin if json.loads(l)["splits"]))')
echo "$files files, $frames frames in $batch; $(nproc) cores"

tmpfs=/dev/shm
[ -d "$tmpfs" ] && [ -w "$tmpfs" ] || tmpfs=${TMPDIR:-/tmp}
disk=${VELKOR_BENCH_SCRATCH:-/var/tmp}
mkdir -p "$disk"
works=("$list")
trap 'rm -rf "${works[@]}"' EXIT

# timed N COMMAND...: median wall and system time of N runs, largest peak RSS (MiB).
timed() {
  local n=$1 walls=() syss=() peak=0
  shift
  for _ in $(seq "$n"); do
    rm -rf "$work/out" && mkdir "$work/out"
    sync
    /usr/bin/time -f "%e %S %M" -o "$work/time" "$@" >/dev/null 2>&1 || true
    read -r t s m < <(tail -n 1 "$work/time")
    walls+=("$t")
    syss+=("$s")
    [ "$m" -gt "$peak" ] && peak=$m
  done
  local mid=$(((n + 1) / 2))
  echo "$(printf '%s\n' "${walls[@]}" | sort -n | sed -n "${mid}p")" \
    "$(printf '%s\n' "${syss[@]}" | sort -n | sed -n "${mid}p")" "$((peak / 1024))"
}
ratio() { echo "scale=2; $1 / $2" | bc | sed 's/^\./0./'; }
rate() { echo "scale=0; $1 / $2" | bc; }
row() { printf '%-6s %-34s %8s %8s %9s %11s %9s\n' "$@"; }

one_ffmpeg() { ffmpeg -loglevel error -i "$1" -fps_mode passthrough "$work/out/$(basename "$1" .gif)_%03d.bmp"; }
one_gifsicle() { gifsicle -U --explode "$1" -o "$work/out/$(basename "$1" .gif)"; }
export -f one_ffmpeg one_gifsicle

summary=()
row place tool "wall s" "sys s" "files/s" "frames/s" "peak MiB"
for place in ${VELKOR_BENCH_PLACES:-tmpfs disk}; do
  folder=$tmpfs
  [ "$place" = disk ] && folder=$disk
  work=$(mktemp -d "$folder/velkor-batch.XXXXXX")
  works+=("$work")
  export work
  read -r vb vbs vbp < <(timed "$runs" "$split" --bmp -q -o "$work/out" --from "$list")
  read -r vx vxs vxp < <(timed "$runs" xargs -a "$list" -P"$(nproc)" -n1 "$split" --bmp -q -o "$work/out")
  read -r ff ffs ffp < <(timed 1 xargs -a "$list" -P"$(nproc)" -n1 bash -c 'one_ffmpeg "$0"')
  read -r gs gss gsp < <(timed 1 xargs -a "$list" -P"$(nproc)" -n1 bash -c 'one_gifsicle "$0"')
  for r in "velkor-split --bmp FILE... (-j$(nproc))|$vb|$vbs|$vbp" \
    "xargs -n1 velkor-split --bmp|$vx|$vxs|$vxp" "xargs -n1 ffmpeg (bmp)|$ff|$ffs|$ffp" \
    "xargs -n1 gifsicle -U --explode|$gs|$gss|$gsp"; do
    IFS='|' read -r name w s p <<<"$r"
    row "$place" "$name" "$w" "$s" "$(rate "$files" "$w")" "$(rate "$frames" "$w")" "$p"
  done
  fastest=$ff
  [ "$(echo "$gs < $ff" | bc)" = 1 ] && fastest=$gs
  summary+=("$(printf '%-6s %22s %22s %18s' "$place" "$(ratio "$vb" "$fastest")" \
    "$(ratio "$vb" "$vx")" "$vbs / $vxs")")
  rm -rf "$work"
done
# Peak memory: the batch at the default -j against one run on A alone.
work=$(mktemp -d "$tmpfs/velkor-batch.XXXXXX")
works+=("$work")
read -r _ _ pa < <(timed 1 "$split" --bmp -q -o "$work/out" "$batch/A.gif")
echo
printf '%-6s %22s %22s %18s\n' place "batch / fastest peer" "batch / xargs velkor" "sys s batch/xargs"
printf '%-6s %22s %22s %18s\n' "" "(goal <= 0.25)" "(goal <= 1.0)" ""
printf '%s\n' "${summary[@]}"
echo "peak MiB: batch at the default -j $vbp, a single run on A $pa (goal: under 2 x)"
