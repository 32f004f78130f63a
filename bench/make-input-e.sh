#!/bin/sh
# Makes benchmark input E in OUTDIR beside the shared inputs A-D: 300 frames of
# 1000 x 1000 noise with a palette per frame, about 400 MB (deterministic, not
# committed). Reuses the shared generator's GIF writer; needs Pillow.
# Usage: bench/make-input-e.sh OUTDIR
set -eu
here=$(cd "$(dirname "$0")" && pwd)
out=${1:?usage: make-input-e.sh OUTDIR}
shared=${VELKOR_SHARED_BENCH:-$here/../../shared/bench}
mkdir -p "$out"
py=python3
$py -c 'import PIL' 2>/dev/null || py=/usr/bin/python3
$py -c 'import PIL' 2>/dev/null || { echo "need Pillow: apt-get install python3-pil" >&2; exit 1; }
$py "$here/make_input_e.py" "$shared" "$out"
(cd "$out" && sha256sum E.gif)
