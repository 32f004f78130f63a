#!/usr/bin/env bash
# Takes the README's screenshots of the real windows under Xvfb, driven with
# xdotool: docs/main-window.png, docs/main-window-chosen.png, docs/preview.png
# and docs/gallery.png. Usage: scripts/screenshots.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
if [ -z "${VELKOR_IN_XVFB:-}" ]; then
  exec env VELKOR_IN_XVFB=1 xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$build"
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/velkor-shots.XXXXXX")
trap 'kill $pid 2>/dev/null || true; rm -rf "$work"' EXIT
"$build/bin/velkor-make-sample" "$work/bounce.gif"
export XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work"

# The main window is 513 x 353, centred on the 1024 x 768 screen.
wx=255 wy=207
at() { xdotool mousemove $((wx + $1)) $((wy + $2)); }
shot() { import -window root -crop "$1" +repage "$2"; }

"$build/bin/velkor" &
pid=$!
sleep 2
shot 513x353+$wx+$wy docs/main-window.png
kill $pid
wait $pid 2>/dev/null || true

"$build/bin/velkor" "$work/bounce.gif" &
pid=$!
sleep 2
shot 513x353+$wx+$wy docs/main-window-chosen.png

at 343 44 && xdotool click 1           # command 1: preview
sleep 0.6
shot 513x353+$wx+$wy docs/preview.png
sleep 2

at 82 114 && xdotool click 1            # output type "bmp"
at 343 112 && xdotool click 1           # command 2: split
sleep 3
at 60 156 && xdotool click 1            # the third exported file
sleep 0.5
at 447 284 && xdotool click 1           # command 3: gallery
sleep 1.5
shot 620x560+200+104 docs/gallery.png
ls "$work"
