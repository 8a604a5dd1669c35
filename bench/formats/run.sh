#!/usr/bin/env bash
# Benchmark of the .xlsx reader: kalder-cells (open, decode, displayed text of every cell) on a
# generated 200,000 x 10 workbook, against openpyxl in read-only mode reading every cell value
# and against the floor of only unpacking the sheet (unzip -p), all in the same run.
# Usage: bench/formats/run.sh [BUILD_DIR]   (a Release build of kalder-cells; default build-release)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../../build-release}
cells=$build/kalder-cells
[ -x "$cells" ] || { echo "no $cells: cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DKALDER_TESTS=OFF && cmake --build build-release --target kalder-cells" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rows=${KALDER_BENCH_ROWS:-200000}
/usr/bin/python3 "$here/make_big.py" "$work/big.xlsx" "$rows"
size=$(stat -c %s "$work/big.xlsx")
sheet=$(unzip -Z1 "$work/big.xlsx" | grep '^xl/worksheets/.*\.xml$' | head -n 1)

. "$here/../measure.sh"
set -- $(best unzip -p "$work/big.xlsx" "$sheet"); u_s=$1
set -- $(best "$cells" --locale C "$work/big.xlsx"); k_s=$1; k_kb=$2
set -- $(measure /usr/bin/python3 "$here/openpyxl_read.py" "$work/big.xlsx"); o_s=$1; o_kb=$2
awk -v us="$u_s" -v ks="$k_s" -v kkb="$k_kb" -v os="$o_s" -v okb="$o_kb" -v size="$size" -v rows="$rows" 'BEGIN {
    floor = us > 0 ? us : 0.01
    printf "file: %.1f MB, %d rows x 10 columns\n", size / 1048576, rows
    printf "unzip -p sheet (floor): %.2f s\n", us
    printf "kalder-cells:           %.2f s, peak %.1f MB\n", ks, kkb / 1024
    printf "openpyxl read-only:     %.2f s, peak %.1f MB\n", os, okb / 1024
    printf "kalder-cells / floor: %.2f (goal <= 2)\n", ks / floor
    printf "openpyxl / floor:     %.1f\n", os / floor
    printf "openpyxl / kalder-cells: %.1f\n", os / (ks > 0 ? ks : 0.01)
    printf "memory limit 2 x file + 40 MB = %.1f MB: %s\n", (2 * size / 1048576) + 40, (kkb * 1024 < 2 * size + 40 * 1048576) ? "met" : "NOT met"
}'
