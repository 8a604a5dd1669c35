#!/usr/bin/env bash
# The server load benchmark in one command: bench/load/server.sh BUILD_DIR [ROWS]
# BUILD_DIR must hold kalder-load; the PostgreSQL 15 server programs must be installed.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
[ $# -ge 1 ] || { echo "usage: bench/load/server.sh BUILD_DIR [ROWS]" >&2; exit 2; }
exec /usr/bin/python3 "$here/server.py" "$@"
