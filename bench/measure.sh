# Shell functions of the benchmarks, sourced with "$work" set to a scratch folder.
# measure COMMAND...: "seconds peak_kb" of one whole run: the time to the nanosecond clock
# (/usr/bin/time shows hundredths only), the peak from /usr/bin/time -v.
measure() {
    start=$(date +%s%N)
    /usr/bin/time -v "$@" >/dev/null 2>"$work/time.txt"
    end=$(date +%s%N)
    secs=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.4f", (b - a) / 1e9 }')
    kb=$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time.txt")
    echo "$secs $kb"
}
# best COMMAND...: the fastest of three runs, for commands short enough to jitter.
best() {
    b=""; for i in 1 2 3; do
        r=$(measure "$@")
        if [ -z "$b" ] || [ "$(echo "$r $b" | awk '{ print ($1 < $3) }')" = 1 ]; then b=$r; fi
    done
    echo "$b"
}
