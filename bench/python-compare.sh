#!/usr/bin/env bash
# The Python module against what Python programs use today, in one run:
#  1. every frame of A, C and E read into NumPy arrays with velkor.open
#     (browser composition), with Pillow (ImageSequence, convert("RGBA"),
#     numpy.asarray) and with imageio (get_reader, Debian's 2.4): whole runs
#     under /usr/bin/time, medians of 3, wall time and peak memory,
#     and the reading alone (once the interpreter and the imports are up);
#  2. velkor.dask.split_many over the batch folder (bench/make-batch.sh) on a
#     local cluster of two worker processes, one thread each, against
#     velkor-split -j2 on the same files, both --png into tmpfs and into a disk
#     folder (VELKOR_BENCH_DISK, /var/tmp), medians of 3:
#     whole runs, and the split alone (the cluster up, velkor imported on the
#     workers).
# Usage: bench/python-compare.sh [BUILD_DIR]   (VELKOR_BENCH_INPUTS as for
# split-compare.sh; VELKOR_BENCH_BATCH: the batch folder, made when missing)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
inputs=${VELKOR_BENCH_INPUTS:-${TMPDIR:-/tmp}/velkor-bench-inputs}
export PYTHONPATH=$build/python
py=/usr/bin/python3
$py -c 'import imageio, PIL, numpy' 2>/dev/null || {
  sudo=""; [ "$(id -u)" -ne 0 ] && sudo=sudo
  $sudo apt-get install -y -qq --no-install-recommends python3-imageio python3-pil python3-numpy \
    time bc
}
[ -f "$inputs/A.gif" ] || PATH=/usr/bin:$PATH sh ../shared/bench/make-inputs.sh "$inputs" >/dev/null
[ -f "$inputs/E.gif" ] || sh bench/make-input-e.sh "$inputs" >/dev/null
work=$(mktemp -d /dev/shm/velkor-py.XXXXXX)
trap 'rm -rf "$work"' EXIT

cat >"$work/read.py" <<'PY'
import sys
import time
import numpy as np
tool, path = sys.argv[1:3]
if tool == "velkor":
    import velkor
elif tool == "pillow":
    from PIL import Image, ImageSequence
else:
    import imageio
n = 0
started = time.perf_counter()
if tool == "velkor":
    with velkor.open(path) as gif:
        for frame in gif:
            n += int(frame[0, 0, 3] >= 0)
elif tool == "pillow":
    with Image.open(path) as im:
        for frame in ImageSequence.Iterator(im):
            a = np.asarray(frame.convert("RGBA"))
            n += int(a[0, 0, 3] >= 0)
else:
    for a in imageio.get_reader(path, "GIF"):
        n += int(np.asarray(a)[0, 0, 0] >= 0)
print(n, time.perf_counter() - started)
PY
# timed N COMMAND...: "median-wall peak-MiB median-second-word-printed"
timed() {
  local n=$1 walls=() alone=() peak=0
  shift
  for _ in $(seq "$n"); do
    sync
    /usr/bin/time -f "%e %M" -o "$work/time" "$@" >"$work/out" 2>"$work/err" ||
      { echo "failed: $* $(tail -n 2 "$work/err")" >&2; }
    read -r t m <"$work/time"
    walls+=("$t")
    alone+=("$(awk '{ printf "%.3f", $2 }' "$work/out")")
    [ "$m" -gt "$peak" ] && peak=$m
  done
  local mid=$(((n + 1) / 2))
  echo "$(printf '%s\n' "${walls[@]}" | sort -n | sed -n "${mid}p") $((peak / 1024))" \
    "$(printf '%s\n' "${alone[@]}" | sort -n | sed -n "${mid}p")"
}
ratio() { echo "scale=2; $1 / $2" | bc | sed 's/^\./0./'; }
echo "Every frame into arrays (whole run s / reading alone s):"
printf '%-4s %13s %13s %13s %13s %13s %16s\n' input velkor Pillow imageio "v/Pillow" \
  "v/imageio" "peak MiB v/P/i"
printf '%-4s %13s %13s %13s %13s %13s\n' "" "" "" "" "(<= 0.15)" "(<= 0.15)"
for name in A C E; do
  runs=3
  read -r v vm va < <(timed "$runs" $py "$work/read.py" velkor "$inputs/$name.gif")
  read -r p pm pa < <(timed "$runs" $py "$work/read.py" pillow "$inputs/$name.gif")
  read -r i im ia < <(timed "$runs" $py "$work/read.py" imageio "$inputs/$name.gif")
  printf '%-4s %13s %13s %13s %13s %13s %16s\n' "$name" "$v / $va" "$p / $pa" "$i / $ia" \
    "$(ratio "$v" "$p") / $(ratio "$va" "$pa")" "$(ratio "$v" "$i") / $(ratio "$va" "$ia")" \
    "$vm / $pm / $im"
done

$py -c 'import distributed' 2>/dev/null || { echo "(no python3-distributed: no Dask run)"; exit 0; }
batch=${VELKOR_BENCH_BATCH:-${TMPDIR:-/tmp}/velkor-batch}
[ -d "$batch" ] || sh bench/make-batch.sh "$batch" >/dev/null
find "$batch" -name '*.gif' | sort >"$work/files"
cat >"$work/dask_batch.py" <<'PY'
import sys
import time
from distributed import Client, LocalCluster
import velkor.dask

if __name__ == "__main__":
    files, out = sys.argv[1:3]
    paths = open(files).read().splitlines()
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                      dashboard_address=None) as cluster, Client(cluster) as client:
        client.run(lambda: __import__("velkor"))
        started = time.perf_counter()
        rows = velkor.dask.split_many(paths, out, client=client, format="png")
        alone = time.perf_counter() - started
    print(sum(r["frames"] for r in rows), alone)
PY
# velkor-split's own run, its split alone being the whole run.
cat >"$work/cli_batch.sh" <<'SH'
started=$(date +%s.%N)
"$1" -j2 --compose browser --png -q -o "$3" --from "$2"
case $? in 0 | 1 | 3) ;; *) exit 1 ;; esac  # 1, 3: corpus files refused, damaged
echo "$(find "$3" -type f | wc -l) $(echo "$(date +%s.%N) - $started" | bc)"
SH
median() { printf '%s\n' "$@" | sort -n | sed -n 2p; }
echo
echo "velkor.dask.split_many, $(wc -l <"$work/files") files, two workers, against velkor-split -j2:"
printf '%-8s %-22s %10s %12s %8s\n' "" "" "whole s" "split s" frames
for place in ${VELKOR_BENCH_PLACES:-tmpfs disk}; do
  frames=$work/frames
  if [ "$place" = disk ]; then
    frames=$(mktemp -d "${VELKOR_BENCH_DISK:-/var/tmp}/velkor-py.XXXXXX")
    trap 'rm -rf "$work" "$frames"' EXIT
  fi
  clean() { rm -rf "$frames" && mkdir "$frames"; }
  dask_runs=() cli_runs=()
  for _ in 1 2 3; do
    clean
    read -r d dm da < <(timed 1 $py "$work/dask_batch.py" "$work/files" "$frames")
    dask_frames=$(find "$frames" -type f | wc -l)
    clean
    read -r c cm ca < <(timed 1 sh "$work/cli_batch.sh" "$build/bin/velkor-split" "$work/files" \
      "$frames")
    cli_frames=$(find "$frames" -type f | wc -l)
    dask_runs+=("$d $da") cli_runs+=("$c $ca")
  done
  rm -rf "$frames"
  read -r d da <<<"$(median "${dask_runs[@]}")"
  read -r c ca <<<"$(median "${cli_runs[@]}")"
  printf '%-8s %-22s %10s %12s %8s\n' "$place" "velkor.dask" "$d" "$da" "$dask_frames"
  printf '%-8s %-22s %10s %12s %8s\n' "" "velkor-split -j2" "$c" "$ca" "$cli_frames"
  printf '%-8s %-22s %10s %12s\n' "" "dask / split (<= 1.3)" "$(ratio "$d" "$c")" \
    "$(ratio "$da" "$ca")"
done
