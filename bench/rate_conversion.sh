#!/usr/bin/env bash
# Reading a 10-minute stereo 48 kHz file and converting it to 44.1 kHz
# (bench_sound_load convert) against sox reading and converting the same
# file at its very high quality (`sox FILE -t raw -r 44100 /dev/null rate
# -v`), side by side in one run; target: ours at most 0.75 × sox's time.
# Usage: bench/rate_conversion.sh [build-dir] [repetitions]   (build-dir: a Release build)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
build=${1:-$root/build/release}
reps=${2:-7}
. "$here/side_by_side.sh"

[ -x "$build/bench/bench_sound_load" ] || "$root/scripts/build" Release "$build" >/dev/null
prog="$build/bench/bench_sound_load"

work=$(mktemp -d "${TMPDIR:-/tmp}/wavrell-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
file="$work/ten_minutes_48k.wav"
sox -D -n -r 48000 -c 2 -b 16 "$file" synth 600 pinknoise gain -6

time_pair "$reps" "'$prog' convert '$file' 44100" "sox '$file' -t raw -r 44100 /dev/null rate -v"
echo "rate_conversion: 10 min stereo 48 kHz to 44.1 kHz, $reps runs each (medians)"
echo "  ours (open_file + convert_rate):   ${TA} s"
echo "  sox -r 44100 rate -v:              ${TB} s"
echo "  ratio ours/sox: ${RATIO} (median of pairwise ratios ${PRATIO})"
verdict "$RATIO" 0.75
