#!/usr/bin/env bash
# What the loudness measurement (libebur128: integrated loudness, loudness
# range, short-term readings, true peak) adds to the load of a 10-minute
# stereo 44.1 kHz 16-bit file, measured side by side in one run:
# - the window's load (bench_loudness: reading and measuring with the range
#   summaries, without and with the loudness, in turn, in one process);
# - the command line, `wavrell --levels` against `wavrell --levels --loudness`.
# Target: the loudness adds at most 0.5 times the load without it (wall time).
# The line "floor" is libebur128's K-weighting filter alone over the
# same samples, which every loudness measurement by that library runs.
# Usage: bench/loudness.sh [build-dir] [runs]   (build-dir: a Release build)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
build=${1:-$root/build/release}
runs=${2:-7}
. "$here/side_by_side.sh"

[ -x "$build/bench/bench_loudness" ] && [ -x "$build/wavrell" ] || "$root/scripts/build" Release "$build" >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/wavrell-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
file="$work/ten_minutes.wav"
sox -D -n -r 44100 -c 2 -b 16 "$file" synth 600 pinknoise gain -6

echo "loudness: 10 min stereo 44.1 kHz 16-bit, $runs runs each (medians), $(nproc) processors"
out=$("$build/bench/bench_loudness" "$file" "$runs")
echo "$out" | sed 's/^/  window load: /'
added=$(echo "$out" | awk -F': ' '/adds \(wall\)/ {print $2}')

time_pair "$runs" "'$build/wavrell' --levels --loudness '$file'" "'$build/wavrell' --levels '$file'"
echo "  command line: --levels ${TB} s, --levels --loudness ${TA} s"
cli=$(awk -v a="$TA" -v b="$TB" 'BEGIN {printf "%.3f", (a - b) / b}')
echo "  command line: loudness adds ${cli}"
echo "window load: loudness adds ${added} of the load without it"
echo "$out" | grep "K-weighting" | sed "s/^/floor: /"
verdict "$added" 0.5
