#!/usr/bin/env bash
# Checks an installed Vidora: the files of a `cmake --install` prefix or of the Debian packages
# unpacked into a fresh root. Usage: check_install.sh <prefix> <road.c> [work directory]
#   <prefix>   the installed tree (…/usr for unpacked packages)
#   <road.c>   the C program of the call interface's road test
# Environment: CC (default cc), SANITIZE_FLAGS (compile flags the library needs, may be empty).
# It checks: `vidora --version`; `pkg-config --modversion vidoradb`; the C program built with the
# installed header and library via pkg-config alone runs the road of one request on a database
# made by the installed vidora_mkdb; the desktop entry (desktop-file-validate) and the metainfo
# (appstreamcli validate); the icons and man pages; and that the first start of the program with
# an empty data directory makes the settlement database there, and a second start keeps it.
set -euo pipefail
prefix="$(cd "$1" && pwd)"
road_c="$2"
work="${3:-$(mktemp -d)}"
rm -rf "$work" && mkdir -p "$work"
failures=0
ok() { echo "ok: $*"; }
bad() { echo "FAILED: $*" >&2; failures=$((failures + 1)); }

libdir="$(dirname "$(find "$prefix" -name vidoradb.pc -path '*/pkgconfig/*' | head -1)")"
libdir="$(dirname "$libdir")"
[ -e "$libdir/libvidoradb.so.2" ] && ok "library $libdir/libvidoradb.so.2" || bad "no libvidoradb.so.2 in $libdir"
soname="$(objdump -p "$libdir/libvidoradb.so.2" | awk '/SONAME/ {print $2}')"
[ "$soname" = libvidoradb.so.2 ] && ok "soname $soname" || bad "soname is '$soname'"
# Only the Vdb… functions are exported, each with the version node of major version 2.
exported="$(nm -D --defined-only "$libdir/libvidoradb.so.2" | awk '$2 != "A" {print $3}')"
foreign="$(echo "$exported" | grep -v '^Vdb[A-Za-z0-9_]*@@VIDORADB_2$' || true)"
[ -z "$foreign" ] && ok "exports only Vdb functions, $(echo "$exported" | wc -l) of them, in node VIDORADB_2" \
  || bad "exports other symbols: $(echo "$foreign" | head -5 | tr '\n' ' ')"
echo "$exported" | grep -qx 'VdbCreateSession@@VIDORADB_2' || bad "VdbCreateSession is not exported"

version="$("$prefix/bin/vidora" --version)" && [[ "$version" == "Vidora "* ]] && ok "vidora --version: $version" \
  || bad "vidora --version: '$version'"

export PKG_CONFIG_PATH="$libdir/pkgconfig"
modversion="$(pkg-config --modversion vidoradb)" && ok "pkg-config --modversion vidoradb: $modversion" \
  || bad "pkg-config does not know vidoradb"
header_version="$(sed -n 's/^#define VIDORADB_VERSION_STRING "\(.*\)"/\1/p' "$prefix/include/vidoradb/vdbapi.h")"
[ "$header_version" = "$modversion" ] && ok "header version $header_version" \
  || bad "header says '$header_version', pkg-config '$modversion'"

# The C program with nothing but pkg-config's flags (the rpath only to find the unpacked library).
# shellcheck disable=SC2086,SC2046
if ${CC:-cc} -std=c99 -Wall -Wextra -Werror -pedantic ${SANITIZE_FLAGS:-} "$road_c" \
     $(pkg-config --cflags --libs vidoradb) -Wl,-rpath,"$libdir" -o "$work/road"; then
  ok "C program built against the installed header and library"
  mkdir -p "$work/private"
  if "$prefix/bin/vidora_mkdb" "$prefix/share/vidora/settlements.csv" "$work/db" && "$work/road" "$work/db" "$work/private"; then
    ok "the road of one request on a database made by the installed vidora_mkdb"
    count="$("$prefix/bin/vdbsql" "$work/db" ".count Irsz")" && [ "$count" = 3155 ] \
      && ok "the installed vdbsql counts the settlements: $count" || bad "vdbsql .count Irsz: '$count'"
  else
    bad "the C program's road"
  fi
else
  bad "the C program does not build against the installed copy"
fi

desktop="$prefix/share/applications/hu.vidora.Vidora.desktop"
desktop-file-validate "$desktop" && ok "desktop-file-validate $(basename "$desktop")" || bad "desktop-file-validate"
grep -q '^Categories=Office;Database;$' "$desktop" && ok "categories Office;Database" || bad "categories"
appstreamcli validate --no-net --pedantic "$prefix/share/metainfo/hu.vidora.Vidora.metainfo.xml" \
  && ok "appstreamcli validate" || bad "appstreamcli validate"
for size in 16 24 32 48 64 128 256; do
  icon="$prefix/share/icons/hicolor/${size}x${size}/apps/vidora.png"
  file "$icon" | grep -q "PNG image data, $size x $size" || bad "icon $icon"
done
[ -e "$prefix/share/icons/hicolor/scalable/apps/vidora.svg" ] && ok "icons" || bad "scalable icon"
for page in vidora vidora_mkdb vdbsql; do
  man -l "$prefix/share/man/man1/$page.1" >/dev/null 2>&1 || bad "man page $page"
done
ok "man pages"
[ -s "$prefix/share/doc/vidora/Leírás.pdf" ] && ok "manual" || bad "manual"

# First start with an empty data directory, then a second one: the program stays open, so it
# is stopped after it has had time to make the tables and open its window.
export XDG_DATA_HOME="$work/data" QT_QPA_PLATFORM=offscreen
start() { timeout "${VIDORA_START_SECONDS:-20}" "$prefix/bin/vidora" >"$work/start.log" 2>&1 || true; }
start
data="$XDG_DATA_HOME/vidora"
if [ -e "$data/Irsz.vdbt" ] && [ -e "$data/Irsz_tmp.vdbt" ] && [ -e "$data/Leírás.pdf" ]; then
  ok "first start made the database in \$XDG_DATA_HOME/vidora"
  "$work/road" "$data" "$work/private" >/dev/null && ok "the road of one request on the first start's database" \
    || bad "the road on the first start's database"
  # The table's files, not its lock and record-move files: those carry the sessions of the
  # moment, and a program stopped by a signal leaves them for the next one to reclaim.
  table_sums() { find "$data" -maxdepth 1 -name 'Irsz.*' ! -name '*.vdbl' ! -name '*.vdbv' -print0 | sort -z | xargs -0 sha256sum | sha256sum; }
  before="$(table_sums)"
  start
  after="$(table_sums)"
  [ "$before" = "$after" ] && ok "second start kept the database" || bad "second start changed the database"
else
  bad "first start made no database: $(cat "$work/start.log")"
fi

if [ "$failures" -ne 0 ]; then
  echo "$failures check(s) failed" >&2
  exit 1
fi
echo "all checks passed"
