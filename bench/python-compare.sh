#!/usr/bin/env bash
# The Python module against what Python programs use today, whole runs under
# /usr/bin/time, medians of 3 (E once), in one run: every frame of A, C and E
# read into NumPy arrays with velkor.open (browser composition), with Pillow
# (ImageSequence, convert("RGBA"), numpy.asarray) and with imageio
# (get_reader, Debian's 2.4); wall time and peak memory.
# Usage: bench/python-compare.sh [BUILD_DIR]   (VELKOR_BENCH_INPUTS as for
# split-compare.sh)
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
import numpy as np
tool, path = sys.argv[1:3]
n = 0
if tool == "velkor":
    import velkor
    with velkor.open(path) as gif:
        for frame in gif:
            n += int(frame[0, 0, 3] >= 0)
elif tool == "pillow":
    from PIL import Image, ImageSequence
    with Image.open(path) as im:
        for frame in ImageSequence.Iterator(im):
            a = np.asarray(frame.convert("RGBA"))
            n += int(a[0, 0, 3] >= 0)
else:
    import imageio
    for a in imageio.get_reader(path, "GIF"):
        n += int(np.asarray(a)[0, 0, 0] >= 0)
print(n)
PY
# timed N COMMAND...: "median-wall peak-MiB"
timed() {
  local n=$1 walls=() peak=0
  shift
  for _ in $(seq "$n"); do
    sync
    /usr/bin/time -f "%e %M" -o "$work/time" "$@" >"$work/out" 2>"$work/err" ||
      { echo "failed: $* $(tail -n 2 "$work/err")" >&2; }
    read -r t m <"$work/time"
    walls+=("$t")
    [ "$m" -gt "$peak" ] && peak=$m
  done
  echo "$(printf '%s\n' "${walls[@]}" | sort -n | sed -n "$(((n + 1) / 2))p") $((peak / 1024))"
}
ratio() { echo "scale=2; $1 / $2" | bc | sed 's/^\./0./'; }
printf '%-4s %12s %12s %12s %11s %11s %20s\n' input "velkor s" "Pillow s" "imageio s" \
  "v/Pillow" "v/imageio" "peak MiB v/P/i"
printf '%-4s %12s %12s %12s %11s %11s\n' "" "" "" "" "(<= 0.15)" "(<= 0.15)"
for name in A C E; do
  runs=3
  [ "$name" = E ] && runs=1
  read -r v vm < <(timed "$runs" $py "$work/read.py" velkor "$inputs/$name.gif")
  read -r p pm < <(timed "$runs" $py "$work/read.py" pillow "$inputs/$name.gif")
  read -r i im < <(timed "$runs" $py "$work/read.py" imageio "$inputs/$name.gif")
  printf '%-4s %12s %12s %12s %11s %11s %20s\n' "$name" "$v" "$p" "$i" "$(ratio "$v" "$p")" \
    "$(ratio "$v" "$i")" "$vm / $pm / $im"
done

