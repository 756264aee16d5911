#!/usr/bin/env bash
# Installs the Debian packages the build needs, when any is missing. Safe to run again.
set -euo pipefail
packages=(build-essential cmake ninja-build pkg-config qt6-base-dev qt6-translations-l10n libgl-dev
          libicu-dev nettle-dev zlib1g-dev libgtest-dev libbenchmark-dev libsqlite3-dev fonts-liberation2 xvfb xauth
          dpkg-dev desktop-file-utils appstream file man-db valgrind
          libedit-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
"${sudo_cmd[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
