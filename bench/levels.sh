#!/usr/bin/env bash
# Times the command-line level report (`wavrell --levels FILE`: reading the
# file into the sample store and the one-pass measurement with the 500 Hz
# allpass) on a 10-minute stereo 44.1 kHz 16-bit file against
# `sox FILE -n stats`, side by side in one run, and prints the medians and
# their ratio. Target: ours at most 0.25 of sox's time.
# Usage: bench/levels.sh [build-dir] [repetitions]   (build-dir: a Release build)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
build=${1:-$root/build/release}
reps=${2:-9}
. "$here/side_by_side.sh"

[ -x "$build/wavrell" ] || "$root/scripts/build" Release "$build" >/dev/null
prog="$build/wavrell"

work=$(mktemp -d "${TMPDIR:-/tmp}/wavrell-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
file="$work/ten_minutes.wav"
sox -D -n -r 44100 -c 2 -b 16 "$file" synth 600 pinknoise gain -6

time_pair "$reps" "'$prog' --levels '$file'" "sox '$file' -n stats"
echo "levels: 10 min stereo 44.1 kHz 16-bit, $reps runs each (medians)"
echo "  wavrell --levels: ${TA} s"
echo "  sox -n stats:     ${TB} s"
echo "  ratio ours/sox: ${RATIO} (median of pairwise ratios ${PRATIO})"
verdict "$RATIO" 0.25
