#!/usr/bin/env bash
# Long runs of the multi-process tests: writers killed with SIGKILL in the middle of a
# transaction (beside a waiting second process every other trial), and the stress run of four
# processes with two sessions each against the model of their committed operations.
# Usage: tools/soak/multi-process.sh [kill trials] [stress steps per process]
#        (defaults 200 and 2000)
# BUILD_DIR chooses the build directory (default build/soak, configured here when missing).
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
trials="${1:-200}"
steps="${2:-2000}"
build="${BUILD_DIR:-$root/build/soak}"
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target vdbapi_tests vdb_lock_helper -j 2 >/dev/null
status=0
for test in AWriterKilledInATransactionLeavesTheCommittedState StressOfFourProcessesMatchesTheirCommittedOperations; do
  start=$(date +%s)
  set +e
  out="$(VDB_MP_KILL_TRIALS="$trials" VDB_MP_STRESS_STEPS="$steps" \
    "$build/tests/engine/vdbapi_tests" --gtest_filter="MultiProcessTest.$test" 2>&1)"
  s=$?
  set -e
  grep -E '^(\[ seed |kill trials:|stress:)' <<<"$out" || true
  grep -E -A4 'Failure' <<<"$out" || true
  echo "$test: $(( $(date +%s) - start )) s, $([ "$s" -eq 0 ] && echo passed || echo FAILED)"
  [ "$s" -eq 0 ] || status=$s
done
exit "$status"
