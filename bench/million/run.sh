#!/usr/bin/env bash
# The million-row load benchmark in one command: bench/million/run.sh BUILD_DIR [BOOKS_DIR]
# BUILD_DIR must hold kalder-load (cmake --build BUILD_DIR --target kalder-load). The workbooks
# are made into BOOKS_DIR (a scratch folder when not given; an existing one is used as it is).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
[ $# -ge 1 ] || { echo "usage: bench/million/run.sh BUILD_DIR [BOOKS_DIR]" >&2; exit 2; }
exec /usr/bin/python3 "$here/run.py" "$@"
