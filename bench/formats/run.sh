#!/usr/bin/env bash
# Benchmark of the .xlsx and .ods readers, all in the same run:
# - kalder-cells (open, decode, displayed text of every cell) on a generated 200,000 x 10
#   workbook with its texts in a shared-string table, against openpyxl in read-only mode
#   reading every cell value and against the floor of only unpacking the sheet (unzip -p);
# - the same workbook written with inline strings and no shared-string table, against its floor;
# - a repeated-rows .ods (2,000 rows each repeated 1,000 times, 120 columns, more cells than a
#   workbook may hold): kalder-load loading its first three columns into tblData, against
#   kalder-cells reading (and refusing) the whole sheet.
# Usage: bench/formats/run.sh [BUILD_DIR]   (a Release build of kalder-cells and kalder-load;
# default build-release)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../../build-release}
cells=$build/kalder-cells
load=$build/kalder-load
[ -x "$cells" ] && [ -x "$load" ] || { echo "no $cells or $load: cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DKALDER_TESTS=OFF && cmake --build build-release --target kalder-cells kalder-load" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rows=${KALDER_BENCH_ROWS:-200000}
. "$here/../measure.sh"

# xlsx NAME MAKE_ARGS...: the floor and kalder-cells on a workbook made by make_big.py, as
# "seconds_floor seconds_cells peak_kb size_bytes".
xlsx() {
    local book="$work/$1.xlsx"; shift
    /usr/bin/python3 "$here/make_big.py" "$@" "$book" "$rows"
    local sheet; sheet=$(unzip -Z1 "$book" | grep '^xl/worksheets/.*\.xml$' | head -n 1)
    set -- $(best unzip -p "$book" "$sheet"); local u=$1
    set -- $(best "$cells" --locale C "$book"); echo "$u $1 $2 $(stat -c %s "$book")"
}
report() { # NAME FLOOR_S CELLS_S PEAK_KB SIZE
    awk -v name="$1" -v us="$2" -v ks="$3" -v kkb="$4" -v size="$5" -v rows="$rows" 'BEGIN {
        floor = us > 0 ? us : 0.01
        printf "%s: %.1f MB, %d rows x 10 columns\n", name, size / 1048576, rows
        printf "  unzip -p sheet (floor): %.2f s\n", us
        printf "  kalder-cells:           %.2f s, peak %.1f MB\n", ks, kkb / 1024
        printf "  kalder-cells / floor: %.2f (goal <= 2)\n", ks / floor
        printf "  memory limit 2 x file + 40 MB = %.1f MB: %s\n", (2 * size / 1048576) + 40, (kkb * 1024 < 2 * size + 40 * 1048576) ? "met" : "NOT met"
    }'
}

set -- $(xlsx shared); s_u=$1 s_k=$2 s_kb=$3 s_size=$4
set -- $(measure /usr/bin/python3 "$here/openpyxl_read.py" "$work/shared.xlsx"); o_s=$1 o_kb=$2
report "shared strings" "$s_u" "$s_k" "$s_kb" "$s_size"
awk -v os="$o_s" -v okb="$o_kb" -v us="$s_u" -v ks="$s_k" 'BEGIN {
    printf "  openpyxl read-only:     %.2f s, peak %.1f MB\n", os, okb / 1024
    printf "  openpyxl / floor:     %.1f\n", os / (us > 0 ? us : 0.01)
    printf "  openpyxl / kalder-cells: %.1f\n", os / (ks > 0 ? ks : 0.01)
}'
set -- $(xlsx inline --inline); report "inline strings" "$1" "$2" "$3" "$4"

/usr/bin/python3 "$here/make_repeated.py" "$work/repeated.ods" 120
sqlite3 "$work/empty.db" "CREATE TABLE tblData (id INTEGER PRIMARY KEY, Код TEXT, Мин REAL, Макс REAL);
                          CREATE TABLE tblSettings (LastFileName TEXT, StrNumWithCapt INTEGER, StrNumMAX INTEGER);"
# Each as a script of its own, so that its peak is the command's: kalder-cells, whose refusal
# is the expected end, and each load into a fresh copy of the empty database.
cat >"$work/cells.sh" <<END
#!/bin/sh
"$cells" --locale C "$work/repeated.ods"
exit 0
END
cat >"$work/load.sh" <<END
#!/bin/sh
cp "$work/empty.db" "$work/load.db"
exec "$load" --locale C --db "$work/load.db" --workbook "$work/repeated.ods" --header 1 --last 1048576 \\
    --link 1:1:Код --link 2:2:Мин --link 3:3:Макс
END
chmod +x "$work/cells.sh" "$work/load.sh"
set -- $(best "$work/cells.sh"); c_s=$1 c_kb=$2
set -- $(best "$work/load.sh"); l_s=$1 l_kb=$2
shown=$("$work/load.sh" 2>/dev/null | head -n 1 | cut -f3)
awk -v cs="$c_s" -v ckb="$c_kb" -v ls="$l_s" -v lkb="$l_kb" -v size="$(stat -c %s "$work/repeated.ods")" -v shown="$shown" 'BEGIN {
    printf "repeated rows .ods: %.1f MB, 2,000 rows x 1,000 repeats x 120 columns\n", size / 1048576
    printf "  kalder-cells, whole sheet: %.2f s, peak %.1f MB\n", cs, ckb / 1024
    printf "  kalder-load to row 1,048,576, 3 columns: %.2f s, peak %.1f MB\n", ls, lkb / 1024
    printf "  kalder-load showed: %s\n", shown
    printf "  kalder-load / kalder-cells: %.2f (goal <= 1)\n", ls / (cs > 0 ? cs : 0.01)
}'
