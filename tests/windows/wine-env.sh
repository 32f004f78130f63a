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
