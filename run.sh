#!/usr/bin/env bash
# Installs what is missing, builds Vidora (Release) and starts it on its settlement database.
set -euo pipefail
root="$(cd "$(dirname "$0")" && pwd)"
"$root/tools/deps.sh"
cmake -S "$root" -B "$root/build/release" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVIDORA_TESTS=OFF >/dev/null
cmake --build "$root/build/release" --target vidora
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "Vidora needs a graphical display, and none is set (DISPLAY/WAYLAND_DISPLAY)." >&2
  echo "Run it inside a virtual display instead:  xvfb-run -a -s '-screen 0 1280x1024x24' ./run.sh" >&2
  exit 1
fi
# The database is the directory the program starts in.
mkdir -p "$root/db"
cd "$root/db"
exec "$root/build/release/app/vidora"
