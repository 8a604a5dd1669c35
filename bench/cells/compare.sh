#!/usr/bin/env bash
# Two builds of kalder-cells on the same generated 65,536 x 10 .xls (texts, formatted decimals,
# dates): whether they print the same cells, and the instructions each runs under callgrind,
# as a ratio. Instruction counts do not jitter with the machine's load as times do, so a change
# to the reader or the renderer shows its cost even on a busy machine of two cores.
# Usage: bench/cells/compare.sh BASELINE_KALDER_CELLS CANDIDATE_KALDER_CELLS [LOCALE]
# (two Release builds: build one from the commit before the change, one from the change)
set -eu
here=$(cd "$(dirname "$0")" && pwd)
[ $# -ge 2 ] || { echo "usage: $0 BASELINE_KALDER_CELLS CANDIDATE_KALDER_CELLS [LOCALE]" >&2; exit 2; }
base=$1 cand=$2 locale=${3:-C}
for exe in "$base" "$cand"; do [ -x "$exe" ] || { echo "no $exe" >&2; exit 2; }; done
command -v valgrind >/dev/null || { echo "valgrind is needed: apt-get install valgrind" >&2; exit 2; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
/usr/bin/python3 "$here/make_big.py" "$work/big.xls"

"$base" --locale "$locale" "$work/big.xls" > "$work/base.csv"
"$cand" --locale "$locale" "$work/big.xls" > "$work/cand.csv"
if cmp -s "$work/base.csv" "$work/cand.csv"; then same=yes; else same=NO; fi

# instructions: the total callgrind reports, threads together
instructions() {
    valgrind --tool=callgrind --callgrind-out-file="$work/cg.out" "$@" >/dev/null 2>"$work/cg.log"
    sed -n 's/.*I *refs: *//p' "$work/cg.log" | tr -d ,
}
b=$(instructions "$base" --locale "$locale" "$work/big.xls")
c=$(instructions "$cand" --locale "$locale" "$work/big.xls")
awk -v b="$b" -v c="$c" -v same="$same" -v locale="$locale" 'BEGIN {
    printf "locale %s; the same cells printed: %s\n", locale, same
    printf "baseline:  %d instructions\n", b
    printf "candidate: %d instructions\n", c
    printf "ratio (candidate / baseline): %.3f\n", c / b
}'
[ "$same" = yes ]
