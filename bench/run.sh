#!/usr/bin/env bash
# Every benchmark in one command: installs what is missing, makes a Release build of the
# developer commands in build/ (the folder scripts/run.sh uses) and runs the .xls reader, the
# load, the .xlsx reader and the million-row load benchmarks, each printing its ratios to
# references measured in the same run.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install.sh
build=${KALDER_BUILD:-build}
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DKALDER_TESTS=OFF >/dev/null
cmake --build "$build" -j "$(nproc)" --target kalder-cells kalder-load >/dev/null
echo "== reader =="
bench/cells/run.sh "$build"
echo
echo "== load =="
bench/load/run.sh "$build"
echo
echo "== load on a PostgreSQL server =="
bench/load/server.sh "$build"
echo
echo "== .xlsx reader =="
bench/formats/run.sh "$build"
echo
echo "== a million rows =="
bench/million/run.sh "$build"
