#!/usr/bin/env bash
# Range summaries of the waveform view, on two 60-minute stereo 44.1 kHz
# signals in memory (bench_range_summary, which times every variant in the
# same run by the CPU time of all its threads):
# - a full-file redraw of all four boxes (1000 columns each) through the
#   summaries against the straight passes, without and with the allpass
#   trace: the summaries must be at least 50 times faster;
# - the load of both files (reading the WAV file into the sample store and
#   the level measurement) with the summaries built (the allpass peaks then
#   read from them) against the load without them: at most 1.15 times (the
#   measurement alone is printed too);
# - all summaries together at most 15 % of the 16-bit samples' memory.
# Exits non-zero when a target is missed or the two ways answer differently.
# Usage: bench/range_summary.sh [build-dir] [minutes] [runs]   (build-dir: a Release build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
minutes=${2:-60}
runs=${3:-5}
[ -x "$build/bench/bench_range_summary" ] || "$root/scripts/build" Release "$build" >/dev/null
# The two WAV files (1.3 GB for 60 minutes) go to the build's disk.
work=$(mktemp -d "$build/range-summary-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
out=$("$build/bench/bench_range_summary" "$minutes" "$runs" "$work")
echo "$out"
value() { echo "$out" | awk -v k="$1" 'index($0, k) == 1 {print $NF}'; }
fail=0
check() {  # name value op limit
    if awk -v v="$2" -v l="$4" -v op="$3" 'BEGIN {exit !((op == ">=") ? v >= l : v <= l)}'; then
        echo "ok:   $1 $2 (target $3 $4)"
    else
        echo "MISS: $1 $2 (target $3 $4)"
        fail=1
    fi
}
check "redraw ratio without allpass" "$(value 'redraw ratio plain')" ">=" 50
check "redraw ratio with allpass" "$(value 'redraw ratio allpass')" ">=" 50
check "load ratio with summaries" "$(value 'load ratio ')" "<=" 1.15
check "memory share" "$(value 'summary memory')" "<=" 0.15
[ "$(value 'answers identical:')" = yes ] || { echo "MISS: answers differ"; fail=1; }
exit $fail
