# Shell functions of the benchmarks (bash), sourced with "$work" set to a scratch folder.
# seconds COMMAND...: the time of one whole run, from bash's own microsecond clock, so that no
# timing process of its own is counted in it.
seconds() {
    local a=$EPOCHREALTIME
    "$@" >/dev/null 2>"$work/err.txt" || { cat "$work/err.txt" >&2; return 1; }
    local b=$EPOCHREALTIME
    awk -v a="$a" -v b="$b" 'BEGIN { printf "%.4f", b - a }'
}
# peak COMMAND...: the maximum resident set size of one run in kB, from /usr/bin/time -v.
peak() {
    /usr/bin/time -v "$@" >/dev/null 2>"$work/time.txt"
    sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time.txt"
}
# measure COMMAND...: "seconds peak_kb" of one run each, for commands long enough not to jitter.
measure() {
    echo "$(seconds "$@") $(peak "$@")"
}
# best COMMAND...: "seconds peak_kb": the fastest of five runs, for commands short enough to
# jitter, and the peak of one more.
best() {
    local b="" s
    for _ in 1 2 3 4 5; do
        s=$(seconds "$@")
        if [ -z "$b" ] || [ "$(echo "$s $b" | awk '{ print ($1 < $2) }')" = 1 ]; then b=$s; fi
    done
    echo "$b $(peak "$@")"
}
