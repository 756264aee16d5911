#!/usr/bin/env bash
# Runs the side-by-side suite (W1-W15, the engine against SQLite on the same rows) with
# interleaved repetitions and prints, per size, the medians of both sides, their ratio
# (engine / SQLite: below 1 the engine is faster), the geometric mean of the ratios, and how
# each ratio moves from 3,155 to 100,000 rows. Not part of the test run.
#
#   bench/suite.sh [--repetitions N] [--cpu] [benchmark options...]
#   bench/suite.sh --report FILE [--cpu]     the table of an earlier run's results
#
# Default: 3 repetitions (a loaded machine makes more of them slow, not better); for example
# --benchmark_filter=/3155/ runs the smaller size only. --cpu compares CPU times instead of
# elapsed times (on a machine shared with other work; it leaves out waits for the disk). The
# raw results are kept in build/bench/suite.json.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
repetitions=3
clock=real_time
out="$root/build/bench/suite.json"
report=""
while [ $# -gt 0 ]; do
  case "$1" in
    --repetitions) repetitions="$2"; shift 2 ;;
    --cpu) clock=cpu_time; shift ;;
    --report) report="$2"; shift 2 ;;
    *) break ;;
  esac
done
if [ -z "$report" ]; then
  "$root/tools/deps.sh"
  cmake -S "$root" -B "$root/build/bench" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVIDORA_TESTS=OFF -DVIDORA_BENCH=ON >/dev/null
  cmake --build "$root/build/bench" --target vidora_suite_bench
  "$root/build/bench/bench/vidora_suite_bench" --benchmark_repetitions="$repetitions" \
    --benchmark_enable_random_interleaving=true --benchmark_report_aggregates_only=false \
    --benchmark_out="$out" --benchmark_out_format=json "$@" >/dev/null
  report="$out"
fi
echo "($clock)"
python3 - "$report" "$clock" <<'EOF'
import json, math, statistics, sys
from collections import defaultdict

runs = defaultdict(list)
units = {"ns": 1e-3, "us": 1.0, "ms": 1e3, "s": 1e6}
for b in json.load(open(sys.argv[1]))["benchmarks"]:
    if b.get("run_type") != "iteration" or b.get("error_occurred"):
        continue
    runs[b["run_name"]].append(b[sys.argv[2]] * units[b["time_unit"]])

table = defaultdict(dict)  # size -> workload -> (engine, sqlite)
for name, times in runs.items():
    workload, side, size = name.split("/")[:3]
    table[int(size)].setdefault(workload, {})[side] = statistics.median(times)

ratios = defaultdict(dict)
for size in sorted(table):
    print(f"\n{size} rows (median of interleaved repetitions, microseconds per iteration)")
    print(f"{'workload':28} {'engine':>14} {'SQLite':>14} {'ratio':>8}")
    for workload in sorted(table[size]):
        sides = table[size][workload]
        if "engine" not in sides or "sqlite" not in sides:
            print(f"{workload:28} {'(incomplete)':>14}")
            continue
        ratio = sides["engine"] / sides["sqlite"]
        ratios[size][workload] = ratio
        print(f"{workload:28} {sides['engine']:14.1f} {sides['sqlite']:14.1f} {ratio:8.2f}")
    if ratios[size]:
        geo = math.exp(sum(math.log(r) for r in ratios[size].values()) / len(ratios[size]))
        worst = max(ratios[size].items(), key=lambda kv: kv[1])
        print(f"{'geometric mean':28} {'':14} {'':14} {geo:8.2f}   (highest: {worst[0]} {worst[1]:.2f})")

sizes = sorted(ratios)
if len(sizes) >= 2:
    small, large = sizes[0], sizes[-1]
    print(f"\nratio at {large} / ratio at {small}")
    for workload in sorted(set(ratios[small]) & set(ratios[large])):
        growth = ratios[large][workload] / ratios[small][workload]
        print(f"{workload:28} {growth:8.2f}{'   above 1.5' if growth > 1.5 else ''}")
EOF
