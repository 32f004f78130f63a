# Sourced by the Windows tests: a Wine prefix of the build's own
# (BUILD/wineprefix), made on first use, quiet, without a desktop window.
# Usage: source tests/windows/wine-env.sh WINDOWS_BUILD
export WINEPREFIX
WINEPREFIX=$(realpath "${1:?usage: wine-env.sh WINDOWS_BUILD}")/wineprefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko installer prompts
command -v wine >/dev/null || { echo "wine-env.sh: no wine command (apt-get install wine wine64)" >&2; exit 1; }
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot -i >/dev/null 2>&1 || true
  wineserver -w
fi
# The Japanese faces Windows has drawn with fonts Debian has (IPA, from
# fonts-ipafont-gothic): without them, Japanese text comes out as boxes.
if [ ! -f "$WINEPREFIX/velkor-fonts" ]; then
  for face in "ＭＳ Ｐゴシック=IPAPGothic" "ＭＳ ゴシック=IPAGothic" "MS UI Gothic=IPAPGothic"; do
    wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "${face%%=*}" /t REG_SZ \
      /d "${face#*=}" /f >/dev/null 2>&1
  done
  wineserver -w
  touch "$WINEPREFIX/velkor-fonts"
fi

# A Linux path as Windows programs under Wine name it: drive Z: is "/". Worked
# out here rather than by winepath, a Wine program of its own for every call.
wine_path() { echo "Z:${1//\//\\}"; }

# Ends the prefix's Wine server and waits until it has gone. A server lives on
# for a few seconds after its last program, and with it the desktop process
# bound to the X server of the program that started it: windows a later
# program opens in another X server never appear. Run before programs that
# show windows, and after them, so the next run starts its own.
wine_server_restart() {
  wineserver -k 2>/dev/null || true
  wineserver -w
}
