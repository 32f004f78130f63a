#!/usr/bin/env bash
# Splits every corpus file and the shared benchmark inputs A-D with the Linux
# velkor-split and with velkor-split.exe under Wine, in --bmp, GIF and
# --transparent modes, in the browser composition (--png and --bmp) and as
# sprite sheets (--sheet, trimmed; of the window's frames, on pages), and
# compares what each leaves behind: the frame files
# byte for byte, the listing (Windows paths turned back into the Linux ones),
# the message and the exit status. A refused file must leave nothing written
# and nothing in Wine's temporary folder. Prints the counts; exit 1 on any
# difference.
# Usage: tests/windows/compare.sh LINUX_BUILD WINDOWS_BUILD [--subset]
#   --subset: every fourth corpus file and D, for CI; otherwise A-D too
#   (VELKOR_BENCH_INPUTS=DIR says where A-D are kept, made when missing).
set -euo pipefail
cd "$(dirname "$0")/../.."
linux=$(realpath "${1:?usage: compare.sh LINUX_BUILD WINDOWS_BUILD [--subset]}")/bin/velkor-split
windows=$(realpath "${2:?usage: compare.sh LINUX_BUILD WINDOWS_BUILD [--subset]}")/bin/velkor-split.exe
subset=${3:-}
source tests/windows/wine-env.sh "$(dirname "$windows")/.."

work=$(mktemp -d "${TMPDIR:-/tmp}/velkor-wincmp.XXXXXX")
trap 'rm -rf "$work"' EXIT
wtmp=$work/wine-temp
mkdir -p "$wtmp"
export TMP
TMP=$(wine_path "$wtmp")
export WINEDEBUG=-all
# A command that ends this script early says so, as a difference would (the
# runs that may fail are made with errexit off, and stay quiet here).
set -E
trap '[[ $- != *e* ]] || echo "compare.sh: line $LINENO: \"$BASH_COMMAND\" failed"' ERR

inputs=()
if [ -d ../shared/corpus ]; then
  i=0
  while IFS= read -r f; do
    if [ "$subset" != --subset ] || [ $((i % 4)) -eq 0 ]; then inputs+=("$f"); fi
    i=$((i + 1))
  done < <(find ../shared/corpus -name '*.gif' | LC_ALL=C sort)
else
  echo "compare.sh: no ../shared/corpus beside this checkout: corpus files skipped"
fi
bench=${VELKOR_BENCH_INPUTS:-${TMPDIR:-/tmp}/velkor-bench-inputs}
if [ "$subset" = --subset ]; then
  names=(D)
else
  names=(A B C D)
fi
mkdir -p "$bench"
if [ "$subset" = --subset ] && [ ! -f "$bench/D.gif" ]; then
  # The shared generator's D alone (it makes A-C too, which takes minutes),
  # checked against the shared sums.
  PYTHONPATH=../shared/bench /usr/bin/python3 - "$bench/D.gif" <<'EOF'
import random, sys
from PIL import Image
import make_inputs as m
rng = random.Random(4)
frames = []
for t in range(3):
    im = m.background((32, 32), rng, 0.2)
    im.paste((255 - 80 * t, 40 * t, 90), (4 + 8 * t, 8, 12 + 8 * t, 24))
    frames.append(im)
palimg = frames[0].quantize(16, method=Image.MEDIANCUT, dither=Image.NONE)
enc = [m.lzw_frame(f.quantize(palette=palimg, dither=Image.NONE)) for f in frames]
m.write_gif(sys.argv[1], 32, 32, enc, enc[0][0], local_tables=False, delay_cs=10)
EOF
  sums=$PWD/../shared/bench/SHA256SUMS
  (cd "$bench" && grep ' D.gif$' "$sums" | sha256sum -c --quiet) ||
    { echo "compare.sh: D.gif is not the shared input D" >&2; exit 1; }
elif [ "$subset" != --subset ] && [ ! -f "$bench/A.gif" ]; then
  PATH=/usr/bin:$PATH sh ../shared/bench/make-inputs.sh "$bench" >/dev/null
fi
for n in "${names[@]}"; do inputs+=("$bench/$n.gif"); done
if [ -n "${VELKOR_COMPARE_ONLY:-}" ]; then  # a grep pattern, to look at a few inputs
  mapfile -t inputs < <(printf '%s\n' "${inputs[@]}" | grep -e "$VELKOR_COMPARE_ONLY")
fi

# literal TEXT: standard input with every TEXT written "@" (passed through the
# environment: awk -v would read the backslashes of a Windows path as escapes).
literal() { P="$1" awk 'BEGIN { p = ENVIRON["P"] } { while ((i = index($0, p)) > 0) $0 = substr($0, 1, i - 1) "@" substr($0, i + length(p)); print }'; }

# compare_windows: runs velkor-split.exe on $win/src.gif (a fresh copy of the
# input beside nothing else) and sets `why` to what differs from the Linux run
# in $lin, empty when nothing does.
compare_windows() {
  rm -rf "$win"
  mkdir -p "$win"
  cp "$input" "$win/src.gif"
  set +e
  wine "$windows" $mode "$(wine_path "$win/src.gif")" >"$work/win.out" 2>"$work/win.err"
  wrc=$?
  set -e
  # The listing and messages with each run's folder written "@", the Windows
  # separators as "/" and the line ends of Windows' text mode dropped.
  tr -d '\r' <"$work/win.out" | literal "$wprefix" | tr '\\' / >"$work/win.out.mapped"
  tr -d '\r' <"$work/win.err" | literal "$wprefix" | tr '\\' / >"$work/win.err.mapped"
  why=""
  [ "$lrc" = "$wrc" ] || why+=" exit $lrc/$wrc"
  [ "$lrc" != 0 ] || [ -s "$work/lin.out" ] || why+=" no-listing"
  cmp -s "$work/lin.out.mapped" "$work/win.out.mapped" || why+=" listing"
  cmp -s "$work/lin.err.mapped" "$work/win.err.mapped" || why+=" message"
  diff -r "$lin" "$win" >/dev/null || why+=" files"
  if [ -n "$(ls -A "$wtmp")" ]; then
    why+=" temporary-files-left"
    rm -rf "${wtmp:?}"/*
  fi
}

same=0 refused=0 differ=0 retried=0
k=0
for input in "${inputs[@]}"; do
  for mode in --bmp "" --transparent "--compose browser --png" "--compose browser --bmp" \
    "--sheet --sheet-trim --sheet-extrude 1" "--sheet --compose window --sheet-max 256"; do
    k=$((k + 1))
    lin=$work/l$k win=$work/w$k
    mkdir -p "$lin" "$win"
    cp "$input" "$lin/src.gif"
    set +e
    (cd "$lin" && "$linux" $mode src.gif >"$work/lin.out" 2>"$work/lin.err")
    lrc=$?
    set -e
    literal "$lin" <"$work/lin.out" >"$work/lin.out.mapped"
    literal "$lin" <"$work/lin.err" >"$work/lin.err.mapped"
    wprefix=$(wine_path "$win")
    compare_windows
    if [ -n "$why" ]; then
      # Once more before it counts: a run that Wine itself failed to carry
      # out (seen once, on a loaded machine) is told apart from a difference
      # of the program's, and both are shown.
      echo "RETRIED ($why ): ${input#../shared/} ${mode:-(gif)}; Windows said:"
      sed 's/^/    /' "$work/win.err" | head -5
      retried=$((retried + 1))
      compare_windows
    fi
    if [ -n "$why" ]; then
      differ=$((differ + 1))
      echo "DIFFERS ($why ): ${input#../shared/} ${mode:-(gif)}"
      diff "$work/lin.err.mapped" "$work/win.err.mapped" | head -5
    elif [ "$lrc" != 0 ]; then
      refused=$((refused + 1))
      [ "$(ls "$lin")" = src.gif ] || {
        differ=$((differ + 1))
        echo "REFUSED BUT WROTE: ${input#../shared/} $mode"
      }
    else
      same=$((same + 1))
    fi
    rm -rf "$lin" "$win"
  done
done
echo "$k runs: $same identical splits, $refused refused alike with nothing written, $differ differing ($retried run again)"

# A folder and a file named in Japanese on the Wine prefix's drive C:, given
# as Windows writes it: the frames beside it under the same names.
jp=$WINEPREFIX/drive_c/画像
rm -rf "$jp"
mkdir -p "$jp" "$work/jp"
cp "$bench/D.gif" "$jp/アニメ.gif"
cp "$bench/D.gif" "$work/jp/アニメ.gif"
(cd "$work/jp" && "$linux" --bmp アニメ.gif >/dev/null)
wine "$windows" --bmp 'C:\画像\アニメ.gif' | tr -d '\r' >"$work/jp.out"
printf 'C:\\画像\\アニメ_%03d.bmp\n' 1 2 3 >"$work/jp.expected"
if cmp -s "$work/jp.out" "$work/jp.expected" && diff -r "$work/jp" "$jp" >/dev/null; then
  echo "C:\\画像\\アニメ.gif: split to アニメ_001.bmp to アニメ_003.bmp, as on Linux"
else
  differ=$((differ + 1))
  echo "DIFFERS: C:\\画像\\アニメ.gif"
  cat "$work/jp.out"
fi
rm -rf "$jp"
[ "$differ" = 0 ]
