#!/usr/bin/env bash
# Runs two builds' velkor-split side by side and prints every difference in
# what they leave behind: the files written, standard output, standard error
# and the exit status, for every corpus file and the shared benchmark inputs
# A-D, in --bmp, GIF and --transparent modes. Both builds run on the same path
# (one after the other), so the listings compare as they stand.
# Usage: bench/compare-mains.sh OLD_BUILD NEW_BUILD   (build folders holding
# bin/velkor-split; VELKOR_BENCH_INPUTS=DIR says where A-D are kept, made
# when missing; VELKOR_COMPARE_NO_BENCH=1 leaves A-D out)
# Exit status: 0 when nothing differs, 1 otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."
old="$(realpath "${1:?usage: compare-mains.sh OLD_BUILD NEW_BUILD}")/bin/velkor-split"
new="$(realpath "${2:?usage: compare-mains.sh OLD_BUILD NEW_BUILD}")/bin/velkor-split"
[ -x "$old" ] && [ -x "$new" ] || { echo "need $old and $new" >&2; exit 2; }

inputs=()
if [ -d ../shared/corpus ]; then
  while IFS= read -r f; do inputs+=("$f"); done < <(find ../shared/corpus -iname '*.gif' | sort)
fi
if [ "${VELKOR_COMPARE_NO_BENCH:-0}" != 1 ]; then
  bench=${VELKOR_BENCH_INPUTS:-${TMPDIR:-/tmp}/velkor-bench-inputs}
  if [ ! -f "$bench/D.gif" ]; then
    echo "making the benchmark inputs in $bench (a few minutes, once)"
    PATH=/usr/bin:$PATH sh ../shared/bench/make-inputs.sh "$bench" >/dev/null
  fi
  for x in A B C D; do inputs+=("$bench/$x.gif"); done
fi

shm=/dev/shm
[ -d "$shm" ] && [ -w "$shm" ] || shm=${TMPDIR:-/tmp}
work=$(mktemp -d "$shm/velkor-compare.XXXXXX")
trap 'rm -rf "$work"' EXIT

# run BINARY MODE SOURCE RESULT: splits a fresh copy of SOURCE in $work/run and
# moves what is left there, with the streams and the status, to RESULT.
run() {
  rm -rf "$work/run" && mkdir "$work/run"
  cp "$3" "$work/run/src.gif"
  local status=0
  # shellcheck disable=SC2086
  "$1" $2 "$work/run/src.gif" >"$work/out" 2>"$work/err" </dev/null || status=$?
  mkdir -p "$4"
  mv "$work/run" "$4/files"
  mv "$work/out" "$4/stdout"
  mv "$work/err" "$4/stderr"
  echo "$status" >"$4/status"
}

# A file both builds refuse, with nothing written by either, differs at most
# in the words of standard error: counted apart (VELKOR_COMPARE_MESSAGES=1
# lists them too), every other difference is shown.
runs=0 differ=0 messages=0
IFS=, read -r -a modes <<<"${VELKOR_COMPARE_MODES:---bmp,--gif,--gif --transparent}"
for f in "${inputs[@]}"; do
  for mode in "${modes[@]}"; do
    runs=$((runs + 1))
    rm -rf "$work/old" "$work/new"
    run "$old" "$mode" "$f" "$work/old"
    run "$new" "$mode" "$f" "$work/new"
    if d=$(diff -r "$work/old" "$work/new" 2>&1); then continue; fi
    if [ "$(cat "$work/old/status")" = 1 ] && [ "$(cat "$work/new/status")" = 1 ] &&
      diff -r -x stderr "$work/old" "$work/new" >/dev/null 2>&1; then
      messages=$((messages + 1))
      if [ "${VELKOR_COMPARE_MESSAGES:-0}" = 1 ]; then
        echo "refused by both: ${f#../shared/} ($mode): $(sed "s|$work/run/||" "$work/new/stderr")"
      fi
      continue
    fi
    differ=$((differ + 1))
    echo "== ${f#../shared/} ($mode)"
    echo "$d" | sed "s|$work/||g" | head -20
  done
done
echo "$runs runs: $((runs - differ - messages)) identical, $messages refused by both with" \
  "only the message on standard error differing, $differ with other differences"
[ "$differ" -eq 0 ]
