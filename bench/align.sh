#!/usr/bin/env bash
# Times the command-line alignment (`wavrell --align FILE1 FILE2`: reading
# the two files' starts, the FFT correlation and its refinement) of two
# 10-minute stereo 44.1 kHz 16-bit files, file 2 being file 1 delayed by
# 1105 frames, against `sox FILE1 -n stats` (a full read-and-measure of
# file 1), side by side in one run, and prints the medians and their ratio.
# Target: ours at most 1.0 × sox's time.
# Then file 1 as FLAC against file 2 as WAV, against the same alignment of
# the two WAV files: only the first 60 s of the FLAC are decoded, so it
# takes at most 3 × the time of the WAV pair (decoding all ten minutes would
# take many times that).
# Usage: bench/align.sh [build-dir] [repetitions]   (build-dir: a Release build)
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
file1="$work/ten_minutes.wav"
file2="$work/ten_minutes_delayed.wav"
sox -D -R -n -r 44100 -c 2 -b 16 "$file1" synth 600 pinknoise gain -6
sox -D "$file1" "$file2" pad 1105s trim 0 600
result=$("$prog" --align "$file1" "$file2")
case "$result" in
  "offset=+1105 "*) ;;
  *) echo "wrong alignment: $result" >&2; exit 1 ;;
esac

time_pair "$reps" "'$prog' --align '$file1' '$file2'" "sox '$file1' -n stats"
echo "align: two 10 min stereo 44.1 kHz 16-bit files, $reps runs each (medians)"
echo "  wavrell --align: ${TA} s   ($result)"
echo "  sox -n stats:    ${TB} s"
echo "  ratio ours/sox: ${RATIO} (median of pairwise ratios ${PRATIO})"
verdict "$RATIO" 1.0

flac1="$work/ten_minutes.flac"
sox -D "$file1" "$flac1"
result=$("$prog" --align "$flac1" "$file2")
case "$result" in
  "offset=+1105 "*) ;;
  *) echo "wrong alignment of the FLAC: $result" >&2; exit 1 ;;
esac
time_pair "$reps" "'$prog' --align '$flac1' '$file2'" "'$prog' --align '$file1' '$file2'"
echo "align: 10 min FLAC against 10 min WAV, $reps runs each (medians)"
echo "  wavrell --align FLAC WAV: ${TA} s"
echo "  wavrell --align WAV WAV:  ${TB} s"
echo "  ratio FLAC/WAV: ${RATIO} (median of pairwise ratios ${PRATIO})"
verdict "$RATIO" 3.0
