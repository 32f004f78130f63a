#!/usr/bin/env bash
# cmake --install into a throw-away prefix: the programs, the desktop entry
# (validated), the icons, the manual pages and the bash completion land where a
# desktop and a shell find them,
# and the installed programs run. Usage: check-install.sh BUILD_DIR VERSION
set -euo pipefail
build=$1 version=$2
prefix=$(mktemp -d "${TMPDIR:-/tmp}/velkor-install.XXXXXX")
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build" --prefix "$prefix" >/dev/null

fail() { echo "FAIL: $*" >&2; exit 1; }
for f in bin/velkor bin/velkor-split share/applications/velkor.desktop \
  share/icons/hicolor/48x48/apps/velkor.png share/icons/hicolor/128x128/apps/velkor.png \
  share/icons/hicolor/256x256/apps/velkor.png share/man/man1/velkor.1 \
  share/man/man1/velkor-split.1 share/bash-completion/completions/velkor-split; do
  [ -f "$prefix/$f" ] || fail "$f was not installed"
done
files=9
python=$(/usr/bin/python3 -c 'import sys; print("python%d.%d" % sys.version_info[:2])')
if [ -f "$build/python/velkor/__init__.py" ]; then
  # The Python module where Debian's python3 looks under a prefix of its own.
  for f in __init__.py dask.py; do
    [ -f "$prefix/lib/$python/dist-packages/velkor/$f" ] || fail "velkor/$f was not installed"
  done
  ls "$prefix/lib/$python/dist-packages/velkor/"_velkor*.so >/dev/null || fail "_velkor was not installed"
  files=12
fi
[ "$(find "$prefix" -type f | wc -l)" -eq "$files" ] || fail "unexpected files: $(find "$prefix" -type f)"
for size in 48 128 256; do
  identify -format '%wx%h' "$prefix/share/icons/hicolor/${size}x${size}/apps/velkor.png" |
    grep -qx "${size}x${size}" || fail "the ${size} pixel icon has the wrong size"
done
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$prefix/share/applications/velkor.desktop" || fail "desktop entry"
else
  echo "note: desktop-file-validate is missing; entry not validated"
fi
grep -qx 'Exec=velkor %f' "$prefix/share/applications/velkor.desktop" || fail "Exec line"
grep -qx 'MimeType=image/gif;' "$prefix/share/applications/velkor.desktop" || fail "MimeType"
grep -q '^Categories=Graphics;' "$prefix/share/applications/velkor.desktop" || fail "Categories"
[ "$("$prefix/bin/velkor" --version)" = "velkor $version" ] || fail "velkor --version"
[ "$("$prefix/bin/velkor-split" --version)" = "velkor-split $version" ] || fail "velkor-split --version"
grep -q "Velkor $version" "$prefix/share/man/man1/velkor.1" || fail "manual page version"
if command -v man >/dev/null; then
  MANWIDTH=80 man -l "$prefix/share/man/man1/velkor-split.1" 2>/dev/null | grep -q -- '--transparent' ||
    fail "the manual page of velkor-split does not render"
fi
words=$(bash -c "source '$prefix/share/bash-completion/completions/velkor-split'
  COMP_WORDS=(velkor-split --pn); COMP_CWORD=1; _velkor_split; echo \"\${COMPREPLY[*]}\"")
[ "$words" = "--png" ] || fail "the bash completion offers '$words' for --pn"
# A name with a space is one completion, typed plain, quoted or escaped.
spaced=$(mktemp -d)
mkdir "$spaced/dl 1" "$spaced/dl11"
for typed in "dl 1" '"dl 1' 'dl\ 1'; do
  words=$(cd "$spaced" && bash -c "source '$prefix/share/bash-completion/completions/velkor-split'
    COMP_WORDS=(velkor-split '$typed'); COMP_CWORD=1; _velkor_split; printf '[%s]' \"\${COMPREPLY[@]}\"")
  [ "$words" = "[dl 1]" ] || fail "the bash completion offers '$words' for $typed"
done
rm -rf "$spaced"
echo "install: $files files in place, programs run, desktop entry valid, completion answers"
