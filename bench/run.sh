#!/usr/bin/env bash
# Builds the benchmarks (Release) and runs them; arguments go to each benchmark program
# (for example --benchmark_filter=Name). Not part of the test run. The keystroke benchmark
# builds its settlement tables (one of a million generated records) once, under build/bench.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/tools/deps.sh"
cmake -S "$root" -B "$root/build/bench" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVIDORA_TESTS=OFF -DVIDORA_BENCH=ON >/dev/null
cmake --build "$root/build/bench" --target vidora_bench vidora_keystroke_bench vidora_report_bench vidora_filter_bench vidora_preview_bench vidora_durability_bench vidora_encryption_bench vidora_lock_bench vidora_query_bench vidora_like_bench
"$root/build/bench/bench/vidora_bench" "$@"
"$root/build/bench/bench/vidora_keystroke_bench" "$@"
"$root/build/bench/bench/vidora_report_bench" "$@"
"$root/build/bench/bench/vidora_filter_bench" "$@"
"$root/build/bench/bench/vidora_preview_bench" "$@"
"$root/build/bench/bench/vidora_durability_bench" "$@"
"$root/build/bench/bench/vidora_encryption_bench" "$@"
"$root/build/bench/bench/vidora_lock_bench" "$@"
"$root/build/bench/bench/vidora_query_bench" "$@"
"$root/build/bench/bench/vidora_like_bench" "$@"
