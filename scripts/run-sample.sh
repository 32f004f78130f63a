#!/usr/bin/env bash
# Splits the sample animation into a temporary folder and lists the frames.
set -euo pipefail
build=${1:-build}
out=$(mktemp -d "${TMPDIR:-/tmp}/velkor-run.XXXXXX")
cp "$build/sample/anim.gif" "$out/anim.gif"
echo "Velkor: the windows are not built yet; splitting the sample animation with"
echo "the command-line splitter instead:"
echo "  $build/bin/velkor-split $out/anim.gif"
echo
"$build/bin/velkor-split" "$out/anim.gif"
echo
echo "Frames written to $out:"
ls -l "$out"
