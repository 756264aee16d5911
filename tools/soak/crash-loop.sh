#!/usr/bin/env bash
# Long run of the crash loop: a child process runs transactions on a table in a temporary
# directory and is killed with SIGKILL at random moments; after every kill the table is
# opened again and must hold exactly the committed transactions and pass its check.
# Usage: tools/soak/crash-loop.sh [trials]   (default 5000)
# BUILD_DIR chooses the build directory (default build/soak, configured here when missing).
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
trials="${1:-5000}"
build="${BUILD_DIR:-$root/build/soak}"
if [ ! -f "$build/build.ninja" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" --target engine_tests -j 2 >/dev/null
start=$(date +%s)
set +e
out="$(VDB_CRASH_TRIALS="$trials" "$build/tests/engine/engine_tests" --gtest_filter='CrashLoopTest.*' 2>&1)"
status=$?
set -e
grep -E '^crash loop:' <<<"$out" || true
grep -E -A4 'Failure' <<<"$out" || true
echo "elapsed: $(( $(date +%s) - start )) s, result: $([ "$status" -eq 0 ] && echo passed || echo FAILED)"
exit "$status"
