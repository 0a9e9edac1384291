#!/usr/bin/env bash
# Measures A/B switching through the real main window on a private PulseAudio
# server whose default output is a null sink at 44100 Hz stereo (the files'
# rate, so that the samples pass through untouched):
#  - for every switch (Space, at irregular moments about every 1.4 s), the
#    time from the key to the arrival of the other file's first frame in a
#    parec recording of the sink's monitor, as a ratio to the duration of the
#    player's ring, nBuffers × nChunkSamples / sfTot (0.372 s for stereo
#    44.1 kHz). Target: at most 1.1 (median). The time includes parec's own
#    capture delay, so the ratio is, if anything, too high.
#  - the underruns the server reports over the playback (default 60 s) while
#    the window repaints its cursor after every chunk. Target: 0. As a
#    reference for what the machine allows, paplay plays a file to a second
#    null sink with the same server buffer (46 ms) in the same run, and its
#    underrun reports are counted too; the program also reports the longest
#    time its GUI thread was kept from its event loop.
# Usage: bench/ab_switch.sh [build-dir] [seconds]   (build-dir: a Release build)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/.." && pwd)
build=${1:-$root/build/release}
seconds=${2:-60}
. "$here/side_by_side.sh"

[ -x "$build/bench/bench_ab_switch" ] || "$root/scripts/build" Release "$build" >/dev/null
prog="$build/bench/bench_ab_switch"
[ -x "$prog" ] || prog="$build/bench_ab_switch"

work=$(mktemp -d "${TMPDIR:-/tmp}/wavrell-bench.XXXXXX")
mkdir -p "$work/runtime" "$work/home"
chmod 700 "$work/runtime"
pulse_pid=""
cleanup() {
  if [ -n "$pulse_pid" ]; then kill "$pulse_pid" 2>/dev/null || true; wait "$pulse_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# A sound server of this run alone, so that nothing else plays into the sink.
export XDG_RUNTIME_DIR="$work/runtime" PULSE_RUNTIME_PATH="$work/runtime/pulse" HOME="$work/home"
export XDG_CONFIG_HOME="$work/home/.config"
unset PULSE_SERVER || true
pulseaudio --daemonize=no --exit-idle-time=-1 -n --disable-shm=yes \
  --load="module-null-sink sink_name=wavrellbench rate=44100 channels=2" \
  --load="module-native-protocol-unix auth-anonymous=1" \
  >"$work/pulseaudio.log" 2>&1 &
pulse_pid=$!
for _ in $(seq 1 100); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
pactl info >/dev/null 2>&1 || { cat "$work/pulseaudio.log" >&2; exit 1; }
pactl set-default-sink wavrellbench
pactl load-module module-null-sink sink_name=wavrellref rate=44100 channels=2 >/dev/null

# Two different noises, longer than the playback.
len=$((seconds + 10))
sox -D -R -n -r 44100 -c 2 -b 16 "$work/one.wav" synth "$len" whitenoise gain -6
sox -D -R -n -r 44100 -c 2 -b 16 "$work/two.wav" synth "$len" pinknoise gain -9

timeout "$seconds" paplay -v --latency-msec=46 -d wavrellref "$work/two.wav" 2>"$work/paplay.log" &
ref_pid=$!
rc=0
out=$(QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$prog" "$work/one.wav" "$work/two.wav" wavrellbench.monitor "$seconds") || rc=$?
wait "$ref_pid" || true
ref_underruns=$(grep -c "Stream underrun" "$work/paplay.log" || true)
echo "ab_switch: stereo 44.1 kHz, ${seconds} s of playback with a switch about every 1.4 s"
echo "$out" | sed 's/^/  /'
echo "  reference_paplay_underruns = ${ref_underruns}"
echo "  load_average = $(cut -d' ' -f1-3 /proc/loadavg)"
median=$(echo "$out" | awk -F' = ' '$1 == "latency_ratio_median" {print $2}')
underruns=$(echo "$out" | awk -F' = ' '$1 == "underruns" {print $2}')
echo -n "switch latency / ring duration, median ${median}: "; verdict "$median" 1.1
echo -n "underruns ${underruns}: "; verdict "$underruns" 0
[ "$rc" -eq 0 ] || { echo "bench_ab_switch failed (exit code $rc)" >&2; exit "$rc"; }
