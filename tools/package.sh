#!/usr/bin/env bash
# Builds the Debian packages vidora, libvidoradb2 and libvidoradb-dev (Release, installed under
# /usr, dependencies computed by dpkg-shlibdeps) into build/packages/, unpacks them into a fresh
# root and runs the installed-copy checks there (tests/packaging/check_install.sh).
# Usage: tools/package.sh [--no-check]
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/tools/deps.sh"
build="$root/build/pkg"
out="$root/build/packages"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVIDORA_TESTS=OFF -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
cmake --build "$build"
rm -rf "$out" && mkdir -p "$out"
(cd "$build" && cpack -G DEB -B "$out" >/dev/null)
rm -rf "$out/_CPack_Packages"
for deb in "$out"/*.deb; do
  echo "== $(basename "$deb")"
  dpkg-deb -f "$deb" Package Version Depends
done
[ "${1:-}" = "--no-check" ] && exit 0

# A fresh root without a container: every package unpacked into an empty directory.
fresh="$build/fresh-root"
rm -rf "$fresh" && mkdir -p "$fresh"
for deb in "$out"/*.deb; do dpkg-deb -x "$deb" "$fresh"; done
"$root/tests/packaging/check_install.sh" "$fresh/usr" "$root/tests/engine/api/c/vdbapi_road.c" "$build/check"
