#!/usr/bin/env bash
# Takes the README's screenshots of velkor.exe under Wine from the end-to-end
# test's own screenshots: docs/windows-main-window.png, docs/windows-dialog.png,
# docs/windows-preview.png, docs/windows-split.png and docs/windows-gallery.png.
# Usage: scripts/windows-screenshots.sh [WINDOWS_BUILD]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-windows}
shots=$(mktemp -d "${TMPDIR:-/tmp}/velkor-winshots.XXXXXX")
trap 'rm -rf "$shots"' EXIT
tests/e2e/e2e.sh "$build" "$shots/run"
# The main window is 513 x 353, centred on the 1024 x 768 screen.
crop() { convert "$shots/run/$1.png" -crop "$2" +repage "docs/windows-$3.png"; }
crop 01-start 513x353+255+207 main-window
crop 02-dialog 680x360+245+200 dialog
crop 04-preview 513x353+255+207 preview
crop 06-entry 513x353+255+207 split
crop 07-gallery 620x560+200+104 gallery
ls docs/windows-*.png
