#!/usr/bin/env bash
# Installs what is missing, builds Vidora (Release), the vdbsql shell and the manual, and starts
# Vidora on its settlement database.
set -euo pipefail
root="$(cd "$(dirname "$0")" && pwd)"
"$root/tools/deps.sh"
cmake -S "$root" -B "$root/build/release" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVIDORA_TESTS=OFF >/dev/null
cmake --build "$root/build/release" --target vidora vdbsql
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "Vidora needs a graphical display, and none is set (DISPLAY/WAYLAND_DISPLAY)." >&2
  echo "Run it inside a virtual display instead:  xvfb-run -a -s '-screen 0 1280x1024x24' ./run.sh" >&2
  exit 1
fi
# The database is the directory the program starts in; its settlement tables are made from the
# data set when they are missing (the tool never replaces existing tables).
mkdir -p "$root/db"
if [ ! -e "$root/db/Irsz.vdbt" ] || [ ! -e "$root/db/Irsz_tmp.vdbt" ]; then
  cmake --build "$root/build/release" --target vidora_mkdb
  "$root/build/release/tools/vidora_mkdb" "$root/../shared/data/settlements.csv" "$root/db"
fi
# The user manual, which "Leírás" opens from the working directory.
cmake --build "$root/build/release" --target vidora_manual_pdf
cp -f "$root/build/release/docs/Leírás.pdf" "$root/db/Leírás.pdf"
cd "$root/db"
exec "$root/build/release/app/vidora"
