#!/usr/bin/env bash
# Builds the benchmarks (Release) and runs them; arguments go to the benchmark program
# (for example --benchmark_filter=Name). Not part of the test run.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/tools/deps.sh"
cmake -S "$root" -B "$root/build/bench" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVIDORA_TESTS=OFF -DVIDORA_BENCH=ON >/dev/null
cmake --build "$root/build/bench" --target vidora_bench
exec "$root/build/bench/bench/vidora_bench" "$@"
