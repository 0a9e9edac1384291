# Shared helpers of the benchmark scripts (sourced, not run).
# time_pair REPS "COMMAND A" "COMMAND B": runs each once to warm up, then A and
# B in turn REPS times, and prints the median wall time of each in seconds,
# the ratio of the medians and the median of the pairwise ratios A/B.

# The clock in nanoseconds. Bash 5 reads it without starting a process
# (EPOCHREALTIME, microseconds), so that only the command lies between the
# two reads; older shells ask date, whose start then counts too.
now_ns() {
    if [ -n "${EPOCHREALTIME:-}" ]; then
        local us=${EPOCHREALTIME/[.,]/}
        echo $((10#$us * 1000))
    else
        date +%s%N
    fi
}

run_ns() {
    local t0 t1
    if [ -n "${EPOCHREALTIME:-}" ]; then
        t0=${EPOCHREALTIME/[.,]/}
        eval "$1" >/dev/null 2>&1 || { echo "command failed: $1" >&2; exit 1; }
        t1=${EPOCHREALTIME/[.,]/}
        echo $(((10#$t1 - 10#$t0) * 1000))
    else
        t0=$(now_ns)
        eval "$1" >/dev/null 2>&1 || { echo "command failed: $1" >&2; exit 1; }
        t1=$(now_ns)
        echo $((t1 - t0))
    fi
}

median() { sort -g | awk '{a[NR]=$1} END {if (NR%2) print a[(NR+1)/2]; else print (a[NR/2]+a[NR/2+1])/2}'; }

# Sets TA, TB (median seconds), RATIO (ratio of medians), PRATIO (median of pairwise ratios).
time_pair() {
    local reps=$1 a=$2 b=$3 i ta tb
    local as=() bs=() rs=()
    run_ns "$a" >/dev/null
    run_ns "$b" >/dev/null
    for ((i = 0; i < reps; i++)); do
        ta=$(run_ns "$a")
        tb=$(run_ns "$b")
        as+=("$ta"); bs+=("$tb")
        rs+=("$(awk -v x="$ta" -v y="$tb" 'BEGIN {printf "%.6f", x / y}')")
    done
    TA=$(printf '%s\n' "${as[@]}" | median | awk '{printf "%.4f", $1 / 1e9}')
    TB=$(printf '%s\n' "${bs[@]}" | median | awk '{printf "%.4f", $1 / 1e9}')
    RATIO=$(awk -v x="$TA" -v y="$TB" 'BEGIN {printf "%.3f", x / y}')
    PRATIO=$(printf '%s\n' "${rs[@]}" | median | awk '{printf "%.3f", $1}')
}

# verdict RATIO TARGET: prints whether the ratio meets the target.
verdict() {
    awk -v r="$1" -v t="$2" 'BEGIN { if (r <= t) print "target <= " t ": met"; else print "target <= " t ": NOT met" }'
}
