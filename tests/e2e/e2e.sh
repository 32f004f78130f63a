#!/usr/bin/env bash
# Velkor end to end, as a person uses it: the real program in a real X server
# (Xvfb), driven only with the mouse and the keyboard through xdotool, checked
# through the files it writes, its settings file and screenshots.
#
# Usage: tests/e2e/e2e.sh BUILD_DIR [SHOTS_DIR]
# A Windows build (BUILD_DIR/bin/velkor.exe) is driven the same way under Wine,
# from a folder of its own where it keeps its settings file.
# Exits 0 when every check passes, 1 on the first failure, 77 (skipped) when
# no X server can be started here, or Wine cannot run a program in it.
set -uo pipefail
build=$(cd "${1:?usage: e2e.sh BUILD_DIR [SHOTS_DIR]}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
corpus="$here/../../../shared/corpus"

windows=""
[ -f "$build/bin/velkor.exe" ] && windows=1
for tool in Xvfb xdotool convert ${windows:+wine}; do
  if ! command -v $tool >/dev/null; then
    echo "SKIPPED: $tool is not installed (scripts/install-deps.sh installs it)"
    exit 77
  fi
done

work=$(mktemp -d "${TMPDIR:-/tmp}/velkor-e2e.XXXXXX")
shots=${2:-$work/shots}
mkdir -p "$shots" "$work/gifs" "$work/config" "$work/run"
chmod 700 "$work/run"
xvfb_pid="" velkor_pid=""
cleanup() {
  [ -n "$velkor_pid" ] && kill "$velkor_pid" 2>/dev/null
  [ -n "$windows" ] && type wine_server_restart &>/dev/null && wine_server_restart
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work/gifs" "$work/config" "$work/run"
  # The screenshots stay when asked for, and after a failure.
  [ -n "$keep_shots" ] || rm -rf "$work"
}
keep_shots=${2:-}
trap cleanup EXIT

fail() {
  keep_shots=1
  echo "FAIL: $*" >&2
  shot "failure"
  echo "screenshots: $shots" >&2
  exit 1
}
step() { echo "== $*"; }

# --- a private X server -------------------------------------------------------
for n in $(seq 91 140); do
  [ -e "/tmp/.X$n-lock" ] && continue
  # -noreset: the server must not restart when the probe below disconnects.
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp -noreset >"$work/xvfb.log" 2>&1 &
  xvfb_pid=$!
  export DISPLAY=":$n"
  for _ in $(seq 50); do
    xdotool getdisplaygeometry >/dev/null 2>&1 && break
    kill -0 $xvfb_pid 2>/dev/null || break
    sleep 0.1
  done
  xdotool getdisplaygeometry >/dev/null 2>&1 && break
  kill $xvfb_pid 2>/dev/null
  xvfb_pid=""
done
if [ -z "$xvfb_pid" ]; then
  echo "SKIPPED: Xvfb could not start here"
  exit 77
fi

export XDG_CONFIG_HOME="$work/config" XDG_RUNTIME_DIR="$work/run"
unset QT_QPA_PLATFORM
ini="$work/config/Velkor/Velkor.ini"
program=("$build/bin/velkor")
split_program=("$build/bin/velkor-split")
sample_program=("$build/bin/velkor-make-sample")
native_path() { echo "$1"; }  # a file's path as the program names it
if [ -n "$windows" ]; then
  # The build's own Wine prefix, with the Japanese faces mapped to IPA fonts.
  source "$here/../windows/wine-env.sh" "$build"
  wine_server_restart  # its desktop in this X server
  if ! wine cmd /c exit >/dev/null 2>&1; then
    echo "SKIPPED: Wine cannot run a program here"
    exit 77
  fi
  # The program in a folder of its own, which it keeps its settings in.
  mkdir -p "$work/program"
  cp "$build/bin/velkor.exe" "$build/bin/velkor-split.exe" "$work/program/"
  ini="$work/program/Velkor.ini"
  program=(wine "$work/program/velkor.exe")
  split_program=(wine "$work/program/velkor-split.exe")
  sample_program=(wine "$build/bin/velkor-make-sample.exe")
  native_path() { wine_path "$1"; }
fi

# --- helpers ------------------------------------------------------------------
count=0
shot() {
  count=$((count + 1))
  import -window root "$shots/$(printf %02d $count)-$1.png" 2>/dev/null
}
# Pixel colour "r,g,b" at screen (x, y) of the last screenshot.
last_shot() { ls "$shots"/*.png | tail -n 1; }
pixel() {
  convert "$(last_shot)" -format "%[fx:int(255*p{$1,$2}.r)],%[fx:int(255*p{$1,$2}.g)],%[fx:int(255*p{$1,$2}.b)]" info:
}
# Number of distinct colours in a w x h region at (x, y) of the last screenshot.
colours() {
  convert "$(last_shot)" -crop "$3x$4+$1+$2" +repage -format %k info:
}
click() { xdotool mousemove --sync "$1" "$2" click "${3:-1}"; }
# Waits until a visible window named (regex) $1 exists ($2 = present) or not
# ($2 = gone), for up to $3 seconds.
wait_window() {
  local deadline=$((SECONDS + $3))
  while [ $SECONDS -lt $deadline ]; do
    if xdotool search --onlyvisible --name "$1" >/dev/null 2>&1; then
      [ "$2" = present ] && return 0
    else
      [ "$2" = gone ] && return 0
    fi
    sleep 0.1
  done
  return 1
}
window_xy() {
  local id
  id=$(xdotool search --onlyvisible --name "$1" | head -n 1)
  xdotool getwindowgeometry --shell "$id" | awk -F= '/^X=/{x=$2} /^Y=/{y=$2} END{print x, y}'
}

# --- the GIF ------------------------------------------------------------------
if [ -f "$corpus/pillow-tests-images/chi.gif" ]; then
  cp "$corpus/pillow-tests-images/chi.gif" "$work/gifs/chi.gif"
else
  echo "note: ../shared/corpus is not here; using the project's sample animation"
  "${sample_program[@]}" "$(native_path "$work/gifs/chi.gif")"
fi
gif="$work/gifs/chi.gif"
frames=$(gifsicle --info "$gif" 2>/dev/null | head -n 1 | awk '{print $3}')
[ -n "$frames" ] || frames=$(identify "$gif" | wc -l)
width=$(identify -format '%w\n' "$gif" | head -n 1)
read -r screen_w screen_h < <(xdotool getdisplaygeometry)

start_velkor() {  # [FILE]
  "${program[@]}" "$@" >"$work/velkor.log" 2>&1 &
  velkor_pid=$!
  wait_window "^Velkorの設定$" present 30 || fail "the main window did not appear"
  read -r mx my < <(window_xy "^Velkorの設定$")
  sleep 0.5
}
# Width and height of the visible window named (regex) $1.
window_size() {
  xdotool getwindowgeometry --shell "$(xdotool search --onlyvisible --name "$1" | head -n 1)" |
    awk -F= '/^WIDTH=/{w=$2} /^HEIGHT=/{h=$2} END{print w "x" h}'
}
# Counts the files of the animation's frames of type $1 in its folder.
written() { ls "$work/gifs" | grep -c "^chi_[0-9][0-9][0-9]\.$1\$"; }
# A point of the main window's content panel (which starts 20 pixels down).
panel() { echo $((mx + $1)) $((my + 20 + $2)); }
command_at() {  # the middle of command caption $1
  case $1 in
    0) panel 59 24 ;; 1) panel 343 24 ;; 2) panel 343 92 ;; 3) panel 447 264 ;; 4) panel 447 304 ;;
  esac
}
press_command() { click $(command_at "$1"); }

# --- first run ----------------------------------------------------------------
step "start with fresh settings"
start_velkor
shot start
[ "$(window_size "^Velkorの設定$")" = 513x353 ] || fail "the main window is $(window_size "^Velkorの設定$")"
[ "$mx $my" = "$(((screen_w - 513) / 2)) $(((screen_h - 353) / 2))" ] ||
  fail "the main window is at $mx,$my, not centred"

step "one copy at a time: a second start ends at once"
"${program[@]}" >"$work/second.log" 2>&1 &
second=$!
for _ in $(seq 300); do kill -0 $second 2>/dev/null || break; sleep 0.1; done
kill -0 $second 2>/dev/null && { kill $second; fail "a second copy kept running"; }
[ "$(xdotool search --onlyvisible --name "^Velkorの設定$" | wc -l)" -eq 1 ] ||
  fail "a second main window appeared"
[ "$(colours $(panel 404 12) 90 90)" -le 8 ] || fail "the source thumbnail is not empty at start"

step "command 0: choose the GIF in the file dialog"
press_command 0
wait_window "ｱﾆﾒｰｼｮﾝ Gifﾌｧｲﾙを選択" present 10 || fail "the file dialog did not open"
sleep 0.5
dialog=$(xdotool search --onlyvisible --name "ｱﾆﾒｰｼｮﾝ Gifﾌｧｲﾙを選択" | head -n 1)
xdotool windowfocus --sync "$dialog" 2>/dev/null || true
shot dialog
xdotool type --delay 15 "$(native_path "$gif")"
xdotool key Return
wait_window "ｱﾆﾒｰｼｮﾝ Gifﾌｧｲﾙを選択" gone 10 || fail "the file dialog did not close"
sleep 0.5
shot chosen
[ "$(colours $(panel 404 12) 90 90)" -gt 20 ] || fail "no thumbnail of the chosen GIF"
[ "$(colours $(panel 14 42) 200 13)" -ge 2 ] || fail "the path label is empty"

step "command 1: preview, closing by itself"
press_command 1
wait_window "^Velkor_Main$" present 10 || fail "the preview window did not open"
sleep 0.8
shot preview
wait_window "^Velkor_Main$" gone 60 || fail "the preview did not close by itself"
ls "$work/gifs" | grep -q '^chi_' && fail "a preview wrote frame files"

step "output type bmp, command 2: split"
click $(panel 82 94)
sleep 0.3
press_command 2
wait_window "^Velkor_Main$" present 10 || fail "the split window did not open"
wait_window "^Velkor_Main$" gone 120 || fail "the split did not finish"
sleep 0.5
shot split
[ "$(written bmp)" -eq "$frames" ] || fail "$(written bmp) frame files written, $frames expected"
identify "$work/gifs/chi_001.bmp" >/dev/null || fail "chi_001.bmp is no bitmap"
# The window's split writes what the splitter writes, byte for byte.
mkdir -p "$work/gifs/reference"
cp "$gif" "$work/gifs/reference/chi.gif"
"${split_program[@]}" --bmp "$(native_path "$work/gifs/reference/chi.gif")" >/dev/null 2>&1 ||
  fail "the splitter failed on the same file"
for f in "$work"/gifs/reference/chi_*.bmp; do
  cmp -s "$f" "$work/gifs/$(basename "$f")" || fail "$(basename "$f") differs from the splitter's"
done
rm -rf "$work/gifs/reference"
[ "$(colours $(panel 14 114) 300 14)" -ge 2 ] || fail "the written files are not listed"
[ "$(colours $(panel 404 112) 90 90)" -le 8 ] || fail "the entry thumbnail was not emptied"

step "a list entry shows its thumbnail"
click $(panel 60 134)   # the second entry
sleep 0.5
shot entry
[ "$(colours $(panel 404 112) 90 90)" -gt 20 ] || fail "no thumbnail of the chosen entry"

step "command 3: the gallery, scrolled and closed"
press_command 3
wait_window "^Velkor$" present 10 || fail "the gallery did not open"
sleep 0.5
read -r gx gy < <(window_xy "^Velkor$")
shot gallery
[ "$(window_size "^Velkor$")" = "$((width + 19))x$((screen_h * 2 / 3 + 20))" ] ||
  fail "the gallery is $(window_size "^Velkor$")"
gw=$(xdotool getwindowgeometry --shell "$(xdotool search --onlyvisible --name '^Velkor$' | head -n 1)" |
  awk -F= '/^WIDTH=/{print $2}')
before=$(convert "$(last_shot)" -crop "100x100+$((gx + 4))+$((gy + 24))" +repage -format %# info:)
click $((gx + gw - 12)) $((gy + 400))     # page down on the scroll bar
click $((gx + gw - 12)) $((gy + 400))
sleep 0.5
shot gallery-scrolled
after=$(convert "$(last_shot)" -crop "100x100+$((gx + 4))+$((gy + 24))" +repage -format %# info:)
[ "$before" != "$after" ] || fail "the gallery did not scroll"
click $((gx + gw - 14)) $((gy + 11))      # its close button
wait_window "^Velkor$" gone 10 || fail "the gallery did not close"

step "a press during a split stops it after some of the frames"
click $(panel 130 94)                     # output type gif
sleep 0.3
press_command 2
wait_window "^Velkor_Main$" present 10 || fail "the split window did not open"
read -r vx vy < <(window_xy "^Velkor_Main$")
sleep 1
click $((vx + 40)) $((vy + 40))
wait_window "^Velkor_Main$" gone 10 || fail "a press did not close the split window"
stopped=$(written gif)
[ "$stopped" -gt 0 ] && [ "$stopped" -lt "$frames" ] ||
  fail "$stopped of $frames frames written before the press"
sleep 1.5
[ "$(written gif)" -eq "$stopped" ] || fail "frames were written after the window closed"
click $(panel 82 94)                      # back to bmp
sleep 0.3

step "command 4: save and quit"
press_command 4
for _ in $(seq 100); do kill -0 $velkor_pid 2>/dev/null || break; sleep 0.1; done
kill -0 $velkor_pid 2>/dev/null && fail "command 4 did not end the program"
velkor_pid=""
grep -qF "Pass=$(native_path "$work/gifs")" "$ini" || fail "the folder was not saved: $(cat "$ini")"
grep -q "^File= 0" "$ini" || fail "the output type was not saved: $(cat "$ini")"
grep -q "^Trans= 0" "$ini" || fail "the transparency option was not saved: $(cat "$ini")"

# --- second run ---------------------------------------------------------------
step "a second run, opening the GIF named on its command line, starts with the options restored"
saved=$(cat "$ini")
start_velkor "$(native_path "$gif")"
shot restored
[ "$(colours $(panel 404 12) 90 90)" -gt 20 ] || fail "the GIF on the command line was not opened"
[ "$(pixel $(panel 82 94))" != "$(pixel $(panel 130 94))" ] || fail "bmp and gif look alike"
radio_bmp=$(pixel $(panel 82 94))
[ "${radio_bmp%%,*}" -lt 100 ] || fail "the bmp choice is not shown chosen ($radio_bmp)"
click $((mx + 499)) $((my + 11))          # the close button: no save
for _ in $(seq 100); do kill -0 $velkor_pid 2>/dev/null || break; sleep 0.1; done
kill -0 $velkor_pid 2>/dev/null && fail "the close button did not end the program"
velkor_pid=""
[ "$(cat "$ini")" = "$saved" ] || fail "the close button changed the settings file"

step "a file that is no animation: the preview says so in a message box"
printf 'not a picture' >"$work/gifs/bad.gif"
start_velkor "$(native_path "$work/gifs/bad.gif")"
press_command 1
wait_window "^Velkor$" present 15 || fail "no message box titled Velkor"
sleep 0.5
shot not-a-gif
xdotool windowfocus --sync "$(xdotool search --onlyvisible --name "^Velkor$" | head -n 1)" 2>/dev/null
xdotool key Return
wait_window "^Velkor$" gone 10 || fail "the message box did not close"
wait_window "^Velkor_Main$" gone 10 || fail "the preview window stayed after the message"
ls "$work/gifs" | grep -q '^bad_' && fail "frame files were written for a file that is no animation"
click $((mx + 499)) $((my + 11))
for _ in $(seq 100); do kill -0 $velkor_pid 2>/dev/null || break; sleep 0.1; done
kill -0 $velkor_pid 2>/dev/null && fail "the close button did not end the program"
velkor_pid=""

echo "e2e: all steps passed ($frames frames); screenshots in $shots"
