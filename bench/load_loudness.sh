#!/usr/bin/env bash
# The window's load of a 10-minute and a 60-minute stereo 44.1 kHz file
# (made with sox), from the start of the load to the waveform drawn, with
# the loudness measurement on (it runs on a worker after the load) against
# the same load with it off, in turn REPS times; the medians count. Target:
# at most 1.15 times the load without loudness.
# Usage: bench/load_loudness.sh [build-dir] [repetitions]   (a Release build)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
. "$here/side_by_side.sh"
build=${1:-$root/build/release}
reps=${2:-5}
[ -x "$build/bench/bench_load_waveform" ] || "$root/scripts/build" Release "$build" >/dev/null
work=$(mktemp -d "$build/load-loudness-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
# The window keeps recent files and settings: in private folders here.
mkdir -p "$work/home" "$work/config" "$work/data" "$work/etc-xdg"
export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data XDG_CONFIG_DIRS=$work/etc-xdg

seconds() { "$build/bench/bench_load_waveform" "$1" "$2" 2>/dev/null | awk '/waveform drawn after/ {print $4}'; }

fail=0
for minutes in 10 60; do
  f="$work/m$minutes.wav"
  sox -n -r 44100 -c 2 -b 16 "$f" synth $((minutes * 60)) sine 220 sine 3000 tremolo 2 60 gain -6
  seconds "$f" on >/dev/null  # the file into the cache
  on=() off=()
  for ((i = 0; i < reps; i++)); do
    on+=("$(seconds "$f" on)")
    off+=("$(seconds "$f" off)")
  done
  ton=$(printf '%s\n' "${on[@]}" | median)
  toff=$(printf '%s\n' "${off[@]}" | median)
  ratio=$(awk -v x="$ton" -v y="$toff" 'BEGIN {printf "%.3f", x / y}')
  printf '%2d minutes: loudness on %s s, off %s s: ratio %s; ' "$minutes" "$ton" "$toff" "$ratio"
  if awk -v r="$ratio" 'BEGIN {exit !(r <= 1.15)}'; then echo "target <= 1.15: met"
  else echo "target <= 1.15: NOT met"; fail=1; fi
  rm -f "$f"
done
exit $fail
