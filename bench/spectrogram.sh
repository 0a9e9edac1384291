#!/usr/bin/env bash
# Spectrograms against sox's, side by side in one run:
# 1. `wavrell --spectrogram` of a 10-minute stereo 44.1 kHz file at 1600x600
#    against `sox FILE -n spectrogram -x 1600 -y 600` of the same file.
#    Target: at most 0.05 x sox's time.
# 2. The window (offscreen) with two files of `minutes` minutes (60 by
#    default): turning the spectrogram lanes on at full view until every
#    picture is there, at most 0.25 x sox's time of step 1; a zoom step into
#    a 10-second view, median at most 0.1 s; the pictures kept at most 10 %
#    of the two files' samples.
# Usage: bench/spectrogram.sh [build-dir] [repetitions] [minutes]   (a Release build)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
build=${1:-$root/build/release}
reps=${2:-3}
minutes=${3:-60}
. "$here/side_by_side.sh"

[ -x "$build/wavrell" ] && [ -x "$build/bench/bench_spectrogram_window" ] || "$root/scripts/build" Release "$build" >/dev/null
prog="$build/wavrell"

work=$(mktemp -d "${TMPDIR:-/tmp}/wavrell-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/home" "$work/config" "$work/data" "$work/etc-xdg"
export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data XDG_CONFIG_DIRS=$work/etc-xdg
ten="$work/ten_minutes.wav"
sox -D -R -n -r 44100 -c 2 -b 16 "$ten" synth 600 pinknoise gain -6

time_pair "$reps" "'$prog' --spectrogram '$ten' -o '$work/ours.png'" \
  "sox '$ten' -n spectrogram -x 1600 -y 600 -o '$work/sox.png'"
sox_seconds=$TB
echo "spectrogram of a 10 min stereo 44.1 kHz 16-bit file at 1600x600, $reps runs each (medians)"
echo "  wavrell --spectrogram: ${TA} s"
echo "  sox spectrogram:       ${TB} s"
echo "  ratio ours/sox: ${RATIO} (median of pairwise ratios ${PRATIO})"
verdict "$RATIO" 0.05

seconds=$((minutes * 60))
sox -D -R -n -r 44100 -c 2 -b 16 "$work/a.wav" synth "$seconds" pinknoise tremolo 0.5 80 gain -6
sox -D -R -n -r 44100 -c 2 -b 16 "$work/b.wav" synth "$seconds" sine 220 sine 3000 tremolo 2 60 gain -3
out=$("$build/bench/bench_spectrogram_window" "$work/a.wav" "$work/b.wav")
echo "window, two $minutes min stereo 44.1 kHz files:"
echo "$out" | sed 's/^/  /'
full=$(echo "$out" | awk '/^full view:/ {print $3}')
zoom=$(echo "$out" | awk '/^zoom step/ {print $(NF-1)}')
kept=$(echo "$out" | awk '/^pictures kept:/ {print $3}')
ratio=$(awk -v x="$full" -v y="$sox_seconds" 'BEGIN {printf "%.3f", x / y}')
echo "  full view / sox on the 10 min file: $ratio"
verdict "$ratio" 0.25
echo "  zoom step median: $zoom s"
verdict "$zoom" 0.1
echo "  pictures kept: $kept % of the samples"
verdict "$kept" 10
