# Shell functions of the benchmarks, sourced with "$work" set to a scratch folder.
# measure COMMAND...: "seconds peak_kb" of one whole run, from /usr/bin/time -v.
measure() {
    /usr/bin/time -v "$@" >/dev/null 2>"$work/time.txt"
    secs=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$work/time.txt" | awk -F: '{ if (NF == 3) print $1*3600 + $2*60 + $3; else print $1*60 + $2 }')
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
