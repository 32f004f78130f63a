#!/usr/bin/env bash
# Sprite sheets: velkor-split --sheet against what a user does without it,
# velkor-split --png followed by ImageMagick's montage -tile of those frames
# (the same grid: velkor-split's columns, no padding, transparent background),
# on the shared benchmark animations A, B and C, medians of 3 runs, `sync`
# before each, in one folder (VELKOR_BENCH_SCRATCH, else /dev/shm). The sheet
# is laid out on one page (--sheet-max 65535) like montage's, and on pages of
# the default 4096; sizes are the PNG bytes. Then the saving of --sheet-trim
# (transparent borders cut, identical frames stored once) in bytes of PNG and
# atlas, on A, B, C and every corpus file.
# Usage: bench/sheet-compare.sh [BUILD_DIR]   (VELKOR_BENCH_INPUTS=DIR where A, B, C are)
set -euo pipefail
cd "$(dirname "$0")/.."
split="$(realpath "${1:-build}/bin/velkor-split")"
inputs=${VELKOR_BENCH_INPUTS:-${TMPDIR:-/tmp}/velkor-bench-inputs}
corpus=../shared/corpus
for tool in montage /usr/bin/time bc jq; do
  command -v "$tool" >/dev/null || {
    sudo=""; [ "$(id -u)" -ne 0 ] && sudo=sudo
    $sudo apt-get install -y -qq --no-install-recommends imagemagick time bc jq
    break
  }
done
if [ ! -f "$inputs/A.gif" ]; then
  PATH=/usr/bin:$PATH sh ../shared/bench/make-inputs.sh "$inputs" >/dev/null
fi
place=${VELKOR_BENCH_SCRATCH:-/dev/shm}
work=$(mktemp -d "$place/velkor-sheet.XXXXXX")
trap 'rm -rf "$work"' EXIT
# Debian's ImageMagick policy keeps images under 128 megapixels and 256 MiB:
# montage gets room for a sheet of A, as a user making sheets would give it.
mkdir -p "$work/policy"
cat >"$work/policy/policy.xml" <<'EOF'
<policymap>
  <policy domain="resource" name="memory" value="8GiB"/>
  <policy domain="resource" name="map" value="16GiB"/>
  <policy domain="resource" name="width" value="64KP"/>
  <policy domain="resource" name="height" value="64KP"/>
  <policy domain="resource" name="area" value="4GP"/>
  <policy domain="resource" name="disk" value="16GiB"/>
</policymap>
EOF
export MAGICK_CONFIGURE_PATH=$work/policy

# median N COMMAND: the median wall time of N runs, each in a fresh $work/out.
median() {
  local n=$1 times=()
  shift
  for _ in $(seq "$n"); do
    rm -rf "$work/out" && mkdir "$work/out"
    sync
    /usr/bin/time -f "%e" -o "$work/time" bash -c "$*" >/dev/null 2>&1 ||
      { echo "failed: $*" >&2; cat "$work/time" >&2; }
    times+=("$(tail -n 1 "$work/time")")
  done
  printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((n + 1) / 2))p"
}
ratio() { echo "scale=2; $1 / $2" | bc | sed 's/^\./0./'; }
bytes() { cat "$@" | wc -c; }

printf '%-4s %10s %10s %10s %8s %14s %14s %10s\n' input "sheet s" "pages s" "png+mtg s" ratio \
  "sheet bytes" "montage bytes" "bytes v/m"
printf '%-4s %10s %10s %10s %8s %14s %14s %10s\n' "" "" "" "" "(<= 0.3)" "" "" "(<= 1)"
for name in A B C; do
  gif=$inputs/$name.gif
  one=$(median 3 "$split --sheet -q --sheet-max 65535 -o $work/out $gif")
  paged=$(median 3 "$split --sheet -q -o $work/out $gif")
  "$split" --sheet -q --sheet-max 65535 -o "$work/sheet" "$gif"
  columns=$(jq '[.frames[].frame.x] | unique | length' "$work/sheet/$name.json")
  peer=$(median 3 "$split --png -q -o $work/out $gif && montage $work/out/*.png -tile ${columns}x \
    -geometry +0+0 -background none $work/out/montage.png")
  rm -rf "$work/out" && mkdir "$work/out"
  "$split" --png -q -o "$work/out" "$gif"
  montage "$work"/out/*.png -tile "${columns}x" -geometry +0+0 -background none "$work/montage.png"
  ours=$(bytes "$work/sheet/$name.png")
  theirs=$(bytes "$work/montage.png")
  printf '%-4s %10s %10s %10s %8s %14s %14s %10s\n' "$name" "$one" "$paged" "$peer" \
    "$(ratio "$one" "$peer")" "$ours" "$theirs" "$(ratio "$ours" "$theirs")"
  rm -rf "$work/sheet" "$work/out" "$work/montage.png"
done

echo
printf '%-8s %14s %14s %8s\n' files "plain bytes" "trim bytes" "saving"
sizes() {  # sizes OPTIONS FILE...: the bytes of every sheet and atlas written
  rm -rf "$work/s" && mkdir "$work/s"
  local total=0
  for f in "${@:2}"; do
    d=$(mktemp -d "$work/s/x.XXXX")
    # shellcheck disable=SC2086
    "$split" --sheet $1 -q -o "$d" "$f" 2>/dev/null || true
    total=$((total + $(cat "$d"/* 2>/dev/null | wc -c)))
  done
  echo "$total"
}
for name in A B C; do
  plain=$(sizes "" "$inputs/$name.gif")
  trim=$(sizes "--sheet-trim" "$inputs/$name.gif")
  printf '%-8s %14s %14s %7s%%\n' "$name" "$plain" "$trim" \
    "$(echo "scale=1; 100 * ($plain - $trim) / $plain" | bc)"
done
if [ -d "$corpus" ]; then
  mapfile -t gifs < <(find "$corpus" -iname '*.gif' | sort)
  plain=$(sizes "" "${gifs[@]}")
  trim=$(sizes "--sheet-trim" "${gifs[@]}")
  printf '%-8s %14s %14s %7s%%\n' "corpus" "$plain" "$trim" \
    "$(echo "scale=1; 100 * ($plain - $trim) / $plain" | bc)"
fi
