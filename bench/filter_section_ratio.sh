#!/usr/bin/env bash
# Times the filter section's step against the bare recurrence in the same
# run and fails when the section is more than `limit` times slower.
# Usage: bench/filter_section_ratio.sh [build folder] [limit]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build/test"}
limit=${2:-1.5}
out=$("$build/bench/bench_filter_section" --benchmark_repetitions=5 \
  --benchmark_report_aggregates_only=true --benchmark_format=json)
python3 - "$limit" <<PY
import json, sys
data = json.loads('''$out''')
t = {b["run_name"]: b["cpu_time"] for b in data["benchmarks"] if b.get("aggregate_name") == "median"}
ratio = t["BM_FilterSection"] / t["BM_BareRecurrence"]
print(f"filter section {t['BM_FilterSection']:.0f} ns, bare recurrence {t['BM_BareRecurrence']:.0f} ns CPU per 2^20 samples, ratio {ratio:.2f}")
sys.exit(0 if ratio <= float(sys.argv[1]) else 1)
PY
