#!/usr/bin/env bash
# Starts Velkor. Without a display (no X server, no Wayland) it runs inside a
# virtual X server, where it works but cannot be seen; say so.
set -euo pipefail
build=${1:-build}
shift || true
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec "$build/bin/velkor" "$@"
fi
echo "Velkor: no display here (DISPLAY and WAYLAND_DISPLAY are unset), so Velkor runs"
echo "inside a virtual X server (xvfb-run), where it cannot be seen. Stop it with Ctrl+C."
echo "On a desktop, 'make run' opens the window; scripts/screenshots.sh shows what it looks like."
exec xvfb-run -a "$build/bin/velkor" "$@"
