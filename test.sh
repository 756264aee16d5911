#!/usr/bin/env bash
# Installs what is missing, builds the test configuration (Debug with address and
# undefined-behaviour sanitizers) and runs every test.
set -euo pipefail
root="$(cd "$(dirname "$0")" && pwd)"
"$root/tools/deps.sh"
cmake -S "$root" -B "$root/build/test" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DVIDORA_SANITIZE=ON >/dev/null
cmake --build "$root/build/test"
cd "$root/build/test"
ctest --output-on-failure -j "$(nproc)"
