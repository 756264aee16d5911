#!/usr/bin/env bash
# Counts the instructions of the engine's side of the suite (W1-W15 at 3,155 rows, one
# iteration count as registered) under callgrind and compares them with the baseline kept in
# bench/callgrind-baseline.txt. Fails when a workload needs more than 5 % more instructions
# than its baseline. A change that explains a rise (more work on purpose) commits the new
# counts with it:
#
#   bench/callgrind.sh            compare with the baseline
#   bench/callgrind.sh --update   write the counts measured now as the baseline
#
# Instruction counts hardly depend on the machine's load, unlike times. Takes some minutes.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
baseline="$root/bench/callgrind-baseline.txt"
update=0
[ "${1:-}" = "--update" ] && update=1
"$root/tools/deps.sh"
cmake -S "$root" -B "$root/build/bench" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVIDORA_TESTS=OFF -DVIDORA_BENCH=ON >/dev/null
cmake --build "$root/build/bench" --target vidora_suite_bench
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
valgrind --tool=callgrind --collect-atstart=no --callgrind-out-file="$work/cg.out" \
  "$root/build/bench/bench/vidora_suite_bench" --benchmark_filter='/engine/3155/' >/dev/null 2>"$work/valgrind.log" || {
  cat "$work/valgrind.log" >&2
  exit 1
}
python3 - "$work" "$baseline" "$update" <<'EOF'
import glob, os, sys

work, baseline, update = sys.argv[1], sys.argv[2], sys.argv[3] == "1"
counts = {}
for path in glob.glob(os.path.join(work, "cg.out*")):
    name, total = None, None
    with open(path) as f:
        for line in f:
            if line.startswith("desc: Trigger: Client Request: "):
                name = line.split(": ", 3)[-1].strip()
            elif line.startswith("summary:") or (line.startswith("totals:") and total is None):
                total = int(line.split()[1])
    if name and total is not None:
        counts[name] = total
if not counts:
    sys.exit("callgrind.sh: no counts were dumped")

if update:
    with open(baseline, "w") as f:
        f.write("# Instructions per engine workload of the suite at 3,155 rows (bench/callgrind.sh --update).\n")
        for name in sorted(counts):
            f.write(f"{name} {counts[name]}\n")
    print(f"callgrind.sh: baseline written ({len(counts)} workloads)")
    sys.exit(0)

base = {}
with open(baseline) as f:
    for line in f:
        if line.strip() and not line.startswith("#"):
            name, value = line.split()
            base[name] = int(value)
failed = False
print(f"{'workload':40} {'baseline':>16} {'now':>16} {'change':>8}")
for name in sorted(set(base) | set(counts)):
    if name not in counts or name not in base:
        print(f"{name:40} {'missing' if name not in base else base[name]:>16} {counts.get(name, 'missing'):>16}")
        failed = True
        continue
    change = counts[name] / base[name] - 1
    flag = "  RISE" if change > 0.05 else ""
    failed |= change > 0.05
    print(f"{name:40} {base[name]:16d} {counts[name]:16d} {change:+8.1%}{flag}")
sys.exit(1 if failed else 0)
EOF
