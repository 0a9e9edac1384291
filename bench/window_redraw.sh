#!/usr/bin/env bash
# Two 60-minute stereo 44.1 kHz files (made with sox) loaded into the real
# window (offscreen): a full-file redraw of all four waveform pictures
# through the range summaries against the straight passes, without and with
# the allpass trace, and of the error view through its error summaries
# against the straight pass, in the same run. Target: the summaries at least
# 50 times faster. (The load with and without building the summaries is
# compared by bench/range_summary.sh.)
# Usage: bench/window_redraw.sh [build-dir] [minutes] [runs]   (a Release build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
minutes=${2:-60}
runs=${3:-3}
[ -x "$build/bench/bench_window_redraw" ] || "$root/scripts/build" Release "$build" >/dev/null
work=$(mktemp -d "$build/window-redraw-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
# The window keeps recent files and settings: in private folders here.
mkdir -p "$work/home" "$work/config" "$work/data" "$work/etc-xdg"
export HOME=$work/home XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data XDG_CONFIG_DIRS=$work/etc-xdg
seconds=$((minutes * 60))
sox -n -r 44100 -c 2 -b 16 "$work/a.wav" synth "$seconds" pinknoise tremolo 0.5 80 gain -6
sox -n -r 44100 -c 2 -b 16 "$work/b.wav" synth "$seconds" sine 220 sine 3000 tremolo 2 60 gain -3
out=$("$build/bench/bench_window_redraw" "$work/a.wav" "$work/b.wav" "$runs")
echo "$out"
fail=0
for kind in plain allpass error; do
  r=$(echo "$out" | awk -v k="redraw ratio $kind:" 'index($0, k) == 1 {print $NF}')
  if awk -v v="$r" 'BEGIN {exit !(v >= 50)}'; then echo "ok:   redraw ratio $kind $r (target >= 50)"
  else echo "MISS: redraw ratio $kind $r (target >= 50)"; fail=1; fi
done
exit $fail
