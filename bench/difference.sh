#!/usr/bin/env bash
# Times the command-line null test (`wavrell --diff FILE1 FILE2`: reading
# both files whole, the alignment, the offset measured near the start and
# the end, the drift resampling, the fractional delay and the sums of the
# difference) of two 10-minute stereo 44.1 kHz 16-bit files, file 2 being
# file 1 delayed by 1105.5 frames, 20 ppm fast, with noise added, against
# `sox FILE1 -n stats` side by side in one run; target: ours at most 2.0 ×
# sox's time. Then its peak memory against the window's load of file 1 from
# WAV (bench_sound_load load); target: at most 2.5 × that.
# Usage: bench/difference.sh [build-dir] [repetitions]   (build-dir: a Release build)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
build=${1:-$root/build/release}
reps=${2:-5}
. "$here/side_by_side.sh"

[ -x "$build/wavrell" ] && [ -x "$build/bench/bench_sound_load" ] || "$root/scripts/build" Release "$build" >/dev/null
prog="$build/wavrell"

work=$(mktemp -d "${TMPDIR:-/tmp}/wavrell-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
file1="$work/ten_minutes.wav"
file2="$work/ten_minutes_changed.wav"
sox -D -R -n -r 44100 -c 2 -b 16 "$file1" synth 600 pinknoise gain -6
# Half a frame of delay: 1105.5 frames are 2211 frames at twice the rate.
sox -D "$file1" -b 16 "$work/moved.wav" rate -v 88200 pad 2211s speed 1.00002 rate -v 44100 trim 0 600
sox -D -R -n -r 44100 -c 2 -b 16 "$work/noise.wav" synth 600 whitenoise gain -60
sox -D -m "$work/moved.wav" "$work/noise.wav" -b 16 "$file2"
rm -f "$work/moved.wav" "$work/noise.wav"
result=$("$prog" --diff "$file1" "$file2")
echo "  $result"

time_pair "$reps" "'$prog' --diff '$file1' '$file2'" "sox '$file1' -n stats"
echo "difference: two 10 min stereo 44.1 kHz 16-bit files, $reps runs each (medians)"
echo "  wavrell --diff:  ${TA} s"
echo "  sox -n stats:    ${TB} s"
echo "  ratio ours/sox: ${RATIO} (median of pairwise ratios ${PRATIO})"
verdict "$RATIO" 2.0

# Peak memory (KiB) of a command, the median of three runs.
peak_kib() {
    local i
    for ((i = 0; i < 3; i++)); do
        python3 -c 'import resource, subprocess, sys
subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, check=True)
print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)' "$@"
    done | median
}
mload=$(peak_kib "$build/bench/bench_sound_load" load "$file1")
mdiff=$(peak_kib "$prog" --diff "$file1" "$file2")
r=$(awk -v x="$mdiff" -v y="$mload" 'BEGIN {printf "%.3f", x / y}')
echo "difference: peak memory"
echo "  WAV load of file 1:  ${mload} KiB"
echo "  wavrell --diff:      ${mdiff} KiB, ratio ${r}"
verdict "$r" 2.5
