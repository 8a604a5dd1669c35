#!/usr/bin/env bash
# Benchmark of the reader: kalder-cells (open, decode, displayed text of every cell) against
# xlrd with formatting_info=True reading every value, on the same generated 65,536 x 10 file.
# Usage: bench/cells/run.sh [BUILD_DIR]   (a Release build of kalder-cells; default build-release)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../../build-release}
cells=$build/kalder-cells
[ -x "$cells" ] || { echo "no $cells: cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DKALDER_TESTS=OFF && cmake --build build-release --target kalder-cells" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
/usr/bin/python3 "$here/make_big.py" "$work/big.xls"
size=$(stat -c %s "$work/big.xls")

. "$here/../measure.sh"
# the fastest of five runs of each
set -- $(best "$cells" --locale C "$work/big.xls"); k_s=$1; k_kb=$2
set -- $(best /usr/bin/python3 "$here/xlrd_read.py" "$work/big.xls"); x_s=$1; x_kb=$2
awk -v ks="$k_s" -v kkb="$k_kb" -v xs="$x_s" -v xkb="$x_kb" -v size="$size" 'BEGIN {
    printf "file: %.1f MB, 65536 rows x 10 columns\n", size / 1048576
    printf "kalder-cells: %.3f s, peak %.1f MB\n", ks, kkb / 1024
    printf "xlrd:         %.3f s, peak %.1f MB\n", xs, xkb / 1024
    printf "speed ratio (xlrd / kalder-cells): %.1f (goal >= 20)\n", xs / (ks > 0 ? ks : 0.01)
    printf "memory limit 2 x file + 30 MB = %.1f MB: %s\n", (2 * size / 1048576) + 30, (kkb * 1024 < 2 * size + 30 * 1048576) ? "met" : "NOT met"
}'
