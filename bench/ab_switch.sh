#!/usr/bin/env bash
# Measures A/B switching through the real main window on a private PulseAudio
# server and on a private PipeWire graph (through its PulseAudio server), each
# with a default output that is a null sink at 44100 Hz stereo (the files'
# rate, so that the samples pass through untouched), on each twice: on the
# machine as it is, and with two busy processes beside it (stress-ng --cpu 2,
# or two shell busy loops where stress-ng is missing).
#  - For every switch (Space, at irregular moments every 0.5 to 2 s): the
#    time from the key to the arrival of the other file's first frame, at the
#    seam frame the program logs, in a parec recording of the sink's monitor.
#    Targets: median at most 50 ms, none above 100 ms. Also as a ratio to the
#    duration of the player's ring, nBuffers × nChunkSamples / sfTot (0.372 s
#    for stereo 44.1 kHz, the delay of a switch while it waited for the ring
#    to play out): median at most 0.135. Every seam must be exact (the frame
#    before it is the old file's). The times include parec's own capture
#    delay, so they are, if anything, too long.
#  - Every 10 ms: the cursor against the frame arriving in the recording at
#    that moment. Target: median of the absolute error at most 10 ms.
#  - The underruns the server reports over the playback (default 60 s) while
#    the window repaints its cursor, the dropouts (silence inside the stream)
#    in the recording and the frames skipped after them. Target: 0 in every
#    run. As a reference
#    for what the machine allows, paplay plays a file to a second null sink
#    with a 40 ms buffer in the same runs, and its
#    underrun reports are counted too; the program also reports the longest time its GUI thread was kept
#    from its event loop.
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
mkdir -p "$work/home"
load_pids=()
stop_load() {
  local p
  for p in "${load_pids[@]}"; do kill "$p" 2>/dev/null || true; wait "$p" 2>/dev/null || true; done
  load_pids=()
}
. "$root/scripts/sound-servers"
cleanup() {
  stop_load
  stop_sound_servers
  rm -rf "$work"
}
trap cleanup EXIT

# Sound servers of this run alone, so that nothing else plays into the sinks:
# a PulseAudio server and a PipeWire graph, each with the program's sink and
# a reference sink for paplay.
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config"
unset PULSE_SERVER DBUS_SESSION_BUS_ADDRESS || true
start_pulseaudio "$work/pulseaudio" wavrellbench
start_pipewire "$work/pipewire" wavrellbench
for server in "$PULSEAUDIO_SERVER" "$PIPEWIRE_SERVER"; do
  PULSE_SERVER=$server pactl set-default-sink wavrellbench
  PULSE_SERVER=$server pactl load-module module-null-sink sink_name=wavrellref rate=44100 channels=2 \
    format=s16le >/dev/null
done
sleep 1

# Two different noises, longer than the playback.
len=$((seconds + 10))
sox -D -R -n -r 44100 -c 2 -b 16 "$work/one.wav" synth "$len" whitenoise gain -6
sox -D -R -n -r 44100 -c 2 -b 16 "$work/two.wav" synth "$len" pinknoise gain -9

value() { echo "$1" | awk -F' = ' -v k="$2" '$1 == k {print $2}'; }

# run NAME: one playback with its reference; prints the figures and the verdicts.
failed=0
run() {
  local name=$1 out rc=0 ref_underruns
  timeout "$seconds" paplay -v --latency-msec=40 -d wavrellref "$work/two.wav" 2>"$work/paplay.log" &
  local ref_pid=$!
  out=$(QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} "$prog" "$work/one.wav" "$work/two.wav" \
        wavrellbench.monitor "$seconds" 2>"$work/prog.log") || rc=$?
  wait "$ref_pid" || true
  ref_underruns=$(grep -c "Stream underrun" "$work/paplay.log" || true)
  echo "ab_switch ($name): stereo 44.1 kHz, ${seconds} s of playback, a switch every 0.5-2 s"
  echo "$out" | sed 's/^/  /'
  echo "  reference_paplay_underruns = ${ref_underruns}"
  echo "  load_average = $(cut -d' ' -f1-3 /proc/loadavg)"
  if [ "$rc" -ne 0 ]; then
    echo "bench_ab_switch failed (exit code $rc)" >&2
    cat "$work/prog.log" >&2
    failed=1
    return
  fi
  local sw=$(value "$out" switches_found) ex=$(value "$out" seams_exact)
  echo -n "  switch delay median $(value "$out" delay_ms_median) ms: "; verdict "$(value "$out" delay_ms_median)" 50
  echo -n "  switch delay max $(value "$out" delay_ms_max) ms: "; verdict "$(value "$out" delay_ms_max)" 100
  echo -n "  switch delay / ring duration, median $(value "$out" delay_ratio_median): "; verdict "$(value "$out" delay_ratio_median)" 0.135
  echo -n "  seams not exact $((sw - ex)) of ${sw}: "; verdict $((sw - ex)) 0
  echo -n "  cursor error, median of |error| $(value "$out" cursor_error_ms_abs_median) ms: "; verdict "$(value "$out" cursor_error_ms_abs_median)" 10
  echo -n "  underruns $(value "$out" underruns): "; verdict "$(value "$out" underruns)" 0
  echo -n "  dropouts $(value "$out" dropouts): "; verdict "$(value "$out" dropouts)" 0
  echo -n "  skipped frames $(value "$out" skipped_frames): "; verdict "$(value "$out" skipped_frames)" 0
}

for server in pulseaudio pipewire; do
  if [ $server = pulseaudio ]; then export PULSE_SERVER=$PULSEAUDIO_SERVER; else export PULSE_SERVER=$PIPEWIRE_SERVER; fi
  run "$server, machine as it is"

  # Two busy processes beside it.
  if command -v stress-ng >/dev/null 2>&1; then
    stress-ng --cpu 2 --timeout "$((seconds + 5))s" >/dev/null 2>&1 &
    load_pids+=($!)
  else
    for _ in 1 2; do (while :; do :; done) & load_pids+=($!); done
  fi
  sleep 1
  run "$server, two busy processes beside it"
  stop_load
done
exit $failed
