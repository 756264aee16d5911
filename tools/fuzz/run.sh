#!/usr/bin/env bash
# Runs the libFuzzer targets over the table files and the VidoraSQL parser, each for a while, with their corpora in
# tools/fuzz/corpus/<target> (new finds are kept there; crashes go to build/fuzz/crashes).
# Usage: tools/fuzz/run.sh [seconds per target] [target ...]   (default 60, all five)
# BUILD_DIR chooses the build directory (default build/fuzz, configured here with clang).
set -euo pipefail
root="$(cd "$(dirname "$0")/../.." && pwd)"
seconds="${1:-60}"
shift || true
targets=("$@")
[ "${#targets[@]}" -gt 0 ] || targets=(data_file index memo redo_log sql)
build="${BUILD_DIR:-$root/build/fuzz}"
if [ ! -f "$build/build.ninja" ]; then
  CC=clang-14 CXX=clang++-14 cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVIDORA_FUZZ=ON -DVIDORA_TESTS=OFF \
    -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined" \
    -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=address,undefined" >/dev/null
fi
cmake --build "$build" --target $(printf 'fuzz_%s ' "${targets[@]}") -j 2 >/dev/null
mkdir -p "$build/crashes"
status=0
for t in "${targets[@]}"; do
  corpus="$root/tools/fuzz/corpus/$t"
  mkdir -p "$corpus"
  seed=""
  [ -n "$(ls -A "$corpus")" ] || seed="$corpus/seed"
  set +e
  VDB_FUZZ_SEED="$seed" "$build/tools/fuzz/fuzz_$t" -max_total_time="$seconds" -max_len=65536 -timeout=10 \
    -artifact_prefix="$build/crashes/$t-" "$corpus" >"$build/fuzz_$t.log" 2>&1
  result=$?
  set -e
  echo "$t: $(grep -E '^#[0-9]+.*(DONE|pulse)' "$build/fuzz_$t.log" | tail -1), result: $([ "$result" -eq 0 ] && echo nothing found || echo FOUND "(see $build/fuzz_$t.log)")"
  [ "$result" -eq 0 ] || status=$result
done
exit "$status"
