#!/usr/bin/env bash
# Makes the Debian package with CPack and checks it: its dependencies, its
# files, and that the programs it holds run from a scratch root. As root, apt
# is asked (without installing) whether the package would install here.
# Usage: check-package.sh BUILD_DIR VERSION
set -euo pipefail
build=$(cd "$1" && pwd) version=$2
out=$(mktemp -d "${TMPDIR:-/tmp}/velkor-package.XXXXXX")
trap 'rm -rf "$out"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
(cd "$build" && cpack -B "$out" >"$out/cpack.log" 2>&1) || { cat "$out/cpack.log"; fail "cpack"; }
deb=$(ls "$out"/velkor_*.deb 2>/dev/null | head -n 1)
[ -n "$deb" ] || fail "no velkor_*.deb made"
depends=$(dpkg-deb -f "$deb" Depends)
for need in libqt6widgets6 libqt6gui6 libgif7 fonts-ipafont-gothic libc6; do
  echo "$depends" | grep -q "$need" || fail "Depends lacks $need: $depends"
done
[ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version"
root="$out/root"
dpkg-deb -x "$deb" "$root"
for f in usr/bin/velkor usr/bin/velkor-split usr/share/applications/velkor.desktop \
  usr/share/icons/hicolor/256x256/apps/velkor.png usr/share/man/man1/velkor.1; do
  [ -f "$root/$f" ] || fail "$f is not in the package"
done
# The Python module, when this build has one (the sanitizer builds do not).
if [ -f "$build/python/velkor/__init__.py" ]; then
  [ -f "$root/usr/lib/python3/dist-packages/velkor/__init__.py" ] ||
    fail "the Python module is not in the package"
fi
if [ -f "$build/python/velkor/__init__.py" ] && /usr/bin/python3 -c 'import numpy' 2>/dev/null; then
  PYTHONPATH="$root/usr/lib/python3/dist-packages" /usr/bin/python3 -c \
    'import velkor, sys; sys.exit(0 if velkor.info("/nonexistent")["splits"] is False else 1)' ||
    fail "the packaged Python module does not import"
fi
[ "$("$root/usr/bin/velkor" --version)" = "velkor $version" ] || fail "packaged velkor"
[ "$("$root/usr/bin/velkor-split" --version)" = "velkor-split $version" ] || fail "packaged velkor-split"
if [ "$(id -u)" -eq 0 ] && command -v apt-get >/dev/null; then
  apt-get install --simulate -qq "$deb" >"$out/apt.log" 2>&1 || { cat "$out/apt.log"; fail "apt would not install it"; }
fi
echo "package: $(basename "$deb") ok; Depends: $depends"
