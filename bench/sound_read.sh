#!/usr/bin/env bash
# Decoding a 10-minute stereo 44.1 kHz FLAC file into the sample store
# (bench_sound_load read) against sox decoding the same file to nothing
# (`sox FILE -t raw /dev/null`), side by side in one run; target: ours at
# most 1.0 × sox's time. Then the peak memory of loading the same audio as
# the window does (decoding, levels, range summaries) from FLAC and from MP3
# against loading it from WAV; target: at most 1.5 × the WAV load's.
# Usage: bench/sound_read.sh [build-dir] [repetitions]   (build-dir: a Release build)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
build=${1:-$root/build/release}
reps=${2:-9}
. "$here/side_by_side.sh"

[ -x "$build/bench/bench_sound_load" ] || "$root/scripts/build" Release "$build" >/dev/null
prog="$build/bench/bench_sound_load"

work=$(mktemp -d "${TMPDIR:-/tmp}/wavrell-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
wav="$work/ten_minutes.wav"
sox -D -n -r 44100 -c 2 -b 16 "$wav" synth 600 pinknoise gain -6
sox -D "$wav" "$work/ten_minutes.flac"
sox -D "$wav" "$work/ten_minutes.mp3"

time_pair "$reps" "'$prog' read '$work/ten_minutes.flac'" "sox '$work/ten_minutes.flac' -t raw /dev/null"
echo "sound_read: 10 min stereo 44.1 kHz 16-bit FLAC, $reps runs each (medians)"
echo "  ours (TWav::open_file):  ${TA} s"
echo "  sox -t raw /dev/null:    ${TB} s"
echo "  ratio ours/sox: ${RATIO} (median of pairwise ratios ${PRATIO})"
verdict "$RATIO" 1.0

# Peak memory in KiB of a whole load, the median of three runs.
peak_kib() {
    local i
    for ((i = 0; i < 3; i++)); do
        "$prog" load "$1" | sed -n 's/.*peak memory \([0-9]*\) KiB.*/\1/p'
    done | median
}
mwav=$(peak_kib "$wav")
mflac=$(peak_kib "$work/ten_minutes.flac")
mmp3=$(peak_kib "$work/ten_minutes.mp3")
echo "sound_read: peak memory of a load (window's load: decoding, levels, summaries)"
echo "  WAV:  ${mwav} KiB"
for kind in flac mp3; do
    m=$([ $kind = flac ] && echo "$mflac" || echo "$mmp3")
    r=$(awk -v x="$m" -v y="$mwav" 'BEGIN {printf "%.3f", x / y}')
    echo "  $(echo $kind | tr a-z A-Z): ${m} KiB, ratio to WAV ${r}"
    verdict "$r" 1.5
done
