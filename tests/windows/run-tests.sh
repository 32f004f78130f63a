#!/usr/bin/env bash
# Runs the Windows build's core test suite under Wine, but for the tests named
# in tests/windows/excluded-tests.txt (each with the reason it cannot run
# there), which are listed, not silently dropped.
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
cd "$build"
# Wine makes windows only with an X server: without a display, the tests run
# in a virtual one (the window tests skip, saying so, where none can start).
x=()
if [ -z "${DISPLAY:-}" ] && command -v xvfb-run >/dev/null; then x=(xvfb-run -a); fi
"${x[@]}" ctest --output-on-failure -j"$(nproc)" ${excluded:+-E "^($excluded)\$"}
