#!/usr/bin/env bash
# The load benchmark in one command: bench/load/run.sh BUILD_DIR [ROWS]
# BUILD_DIR must hold kalder-load (cmake --build BUILD_DIR --target kalder-load).
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
[ $# -ge 1 ] || { echo "usage: bench/load/run.sh BUILD_DIR [ROWS]" >&2; exit 2; }
exec /usr/bin/python3 "$here/run.py" "$@"
