#!/usr/bin/env bash
# Runs the Windows build's test suite under Wine, but for the tests named in
# tests/windows/excluded-tests.txt (each with the reason it cannot run there),
# which are listed, not silently dropped; then velkor.exe end to end.
# Usage: tests/windows/run-tests.sh WINDOWS_BUILD
set -euo pipefail
cd "$(dirname "$0")/../.."
build=$(realpath "${1:?usage: run-tests.sh WINDOWS_BUILD}")
source tests/windows/wine-env.sh "$build"
# Wine's heap checks: freed blocks are filled, so a use after free (such as a
# thread_local destroyed after its storage) fails here instead of now and then.
export WINEDEBUG=-all,warn+heap
excluded=$(sed -n 's/^\([^#[:space:]][^[:space:]]*\).*/\1/p' tests/windows/excluded-tests.txt |
  paste -sd'|')
echo "Left out under Wine (tests/windows/excluded-tests.txt):"
sed 's/^/  /' tests/windows/excluded-tests.txt
root=$PWD
cd "$build"
# Wine makes windows only with an X server: without a display, the tests run
# in a virtual one (the window tests skip, saying so, where none can start).
x=()
if [ -z "${DISPLAY:-}" ] && command -v xvfb-run >/dev/null; then x=(xvfb-run -a); fi
wine_server_restart
"${x[@]}" ctest --output-on-failure -j"$(nproc)" ${excluded:+-E "^($excluded)\$"}

echo "== velkor.exe end to end under Wine"
status=0
"$root/tests/e2e/e2e.sh" "$build" || status=$?
if [ $status -eq 77 ]; then
  echo "(the end-to-end test was skipped: see above)"
elif [ $status -ne 0 ]; then
  exit $status
fi
