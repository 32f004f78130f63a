#!/bin/sh
# The Python module's tests (pytest), with the module from BUILD/python and
# velkor-split from BUILD/bin. Exit 77 (skipped) when python3-pytest,
# python3-numpy or python3-distributed is missing outside CI.
# Usage: tests/python/run.sh BUILD CORPUS_DIR [PYTEST ARGUMENTS...]   (default: every test here)
build=$(cd "$1" && pwd)
corpus=$2
shift 2
here=$(cd "$(dirname "$0")" && pwd)
if ! /usr/bin/python3 -c 'import pytest, numpy, distributed, PIL' 2>/dev/null; then
  if [ "${VELKOR_CI:-}" = 1 ]; then
    echo "python tests: pytest, numpy, distributed or Pillow is missing, and CI must run them"
    exit 1
  fi
  echo "python tests: skipped: apt-get install python3-pytest python3-numpy python3-distributed"
  exit 77
fi
export PYTHONPATH="$build/python${PYTHONPATH:+:$PYTHONPATH}"
export VELKOR_SPLIT="$build/bin/velkor-split" VELKOR_CORPUS_DIR="$corpus"
[ $# -gt 0 ] || set -- "$here"
cd "$here" && exec /usr/bin/python3 -m pytest -q -p no:cacheprovider "$@"
