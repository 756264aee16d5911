#!/usr/bin/env bash
# Long run of the kill loop without transactions: a child process appends, changes and
# deletes towns with notes, one call at a time, and is killed with SIGKILL at random moments;
# after every kill the table is opened again and must hold every confirmed call and pass its
# check. Then the power-loss simulation of the secure flush mode, with many seeds.
# Usage: tools/soak/kill-loop.sh [trials] [power-loss runs]   (defaults 3000 and 2000)
# BUILD_DIR chooses the build directory (default build/soak, configured here when missing);
# VIDORA_SEED fixes the seed (printed either way).
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
trials="${1:-3000}"
runs="${2:-2000}"
build="${BUILD_DIR:-$root/build/soak}"
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target engine_tests -j 2 >/dev/null
status=0
for filter in 'KillLoopTest.*' 'DurabilityTest.PowerLoss*'; do
  start=$(date +%s)
  set +e
  out="$(VDB_KILL_TRIALS="$trials" VDB_POWER_LOSS_RUNS="$runs" "$build/tests/engine/engine_tests" --gtest_filter="$filter" 2>&1)"
  result=$?
  set -e
  grep -E '^(VIDORA_SEED|kill loop:|power loss:)' <<<"$out" | sort -u || true
  grep -E -A6 'Failure' <<<"$out" || true
  echo "$filter elapsed: $(( $(date +%s) - start )) s, result: $([ "$result" -eq 0 ] && echo passed || echo FAILED)"
  [ "$result" -eq 0 ] || status=$result
done
exit "$status"
