#!/usr/bin/env bash
# The settings store on a 250 KB ini file with 20,000 sections (the damaged
# file of the tests) against a 1 KB one: 10,000 reads and 10,000 writes
# through a TSetting on each, in the same run, taking turns
# (bench_settings_store). Each write replaces the file on disk, so the wall
# time includes the disk's flushes, which vary with the machine's load; the
# CPU time is the program's own work. Target: the large file at most 3 times
# the small one's time, wall and CPU.
# Usage: bench/settings_store.sh [build-dir] [operations]   (build-dir: a Release build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/release}
ops=${2:-10000}
[ -x "$build/bench/bench_settings_store" ] || "$root/scripts/build" Release "$build" >/dev/null
# On the build's disk, like the settings of a real user (not a tmpfs).
work=$(mktemp -d "$build/settings-store-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
out=$("$build/bench/bench_settings_store" "$work" "$ops")
echo "$out"
fail=0
for kind in wall CPU; do
  r=$(echo "$out" | awk -v k="ratio large/small $kind:" 'index($0, k) == 1 {print $NF}')
  if awk -v v="$r" 'BEGIN {exit !(v <= 3)}'; then echo "ok:   $kind ratio $r (target <= 3)"
  else echo "MISS: $kind ratio $r (target <= 3)"; fail=1; fi
done
exit $fail
