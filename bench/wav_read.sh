#!/usr/bin/env bash
# Times reading a 10-minute stereo 44.1 kHz 16-bit WAV file into the sample
# store (bench_wav_read) against sox decoding the same file to nothing
# (`sox FILE -t raw /dev/null`), side by side in one run, and prints the
# medians and their ratio. Target: ours at most 0.3 of sox's time.
# Usage: bench/wav_read.sh [build-dir] [repetitions]   (build-dir: a Release build)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
build=${1:-$root/build/release}
reps=${2:-9}
. "$here/side_by_side.sh"

[ -x "$build/bench/bench_wav_read" ] || "$root/scripts/build" Release "$build" >/dev/null
prog="$build/bench/bench_wav_read"
[ -x "$prog" ] || prog="$build/bench_wav_read"

work=$(mktemp -d "${TMPDIR:-/tmp}/wavrell-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
file="$work/ten_minutes.wav"
sox -D -n -r 44100 -c 2 -b 16 "$file" synth 600 pinknoise gain -6

time_pair "$reps" "'$prog' '$file'" "sox '$file' -t raw /dev/null"
echo "wav_read: 10 min stereo 44.1 kHz 16-bit, $reps runs each (medians)"
echo "  ours (TWav::open_file): ${TA} s"
echo "  sox -t raw /dev/null:   ${TB} s"
echo "  ratio ours/sox: ${RATIO} (median of pairwise ratios ${PRATIO})"
verdict "$RATIO" 0.3
