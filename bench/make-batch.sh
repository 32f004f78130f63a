#!/bin/sh
# Makes the batch benchmark input in DIR (deterministic, not committed): 960
# small to medium animations from the shared generator, a copy of every corpus
# GIF under a new name and a copy of bench input A (made when missing), some
# 1 100 files whose frames come to about 2 GB as bitmaps. Needs Pillow and
# gifsicle (for A); takes a minute or two.
# Usage: bench/make-batch.sh DIR   (VELKOR_BENCH_INPUTS: where A.gif is kept)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
out=${1:?usage: make-batch.sh DIR}
shared=$here/../../shared
inputs=${VELKOR_BENCH_INPUTS:-${TMPDIR:-/tmp}/velkor-bench-inputs}
if [ ! -f "$inputs/A.gif" ]; then
  sh "$shared/bench/make-inputs.sh" "$inputs" >/dev/null
fi
py=python3
$py -c 'import PIL' 2>/dev/null || py=/usr/bin/python3
$py "$here/make_batch.py" "$out" "$shared/bench" "$shared/corpus" "$inputs/A.gif"
echo "$(find "$out" -name '*.gif' | wc -l) files in $out"
