#!/usr/bin/env bash
# Runs fsctl_probe under Wine on a fixed set of items in a fresh prefix, once per Windows version
# given, and prints its lines after a "== ARCH VERSION" header. The measurements of
# docs/wine-volumes.md come from here:
#
#   tools/fsctl_probe/measure.sh PROBE_EXE winxp win7
#   KESTRAVA_WINE_ARCH=win64 tools/fsctl_probe/measure.sh PROBE_EXE win7
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../wine/lib.sh"
[ $# -ge 2 ] && [ -f "$1" ] || { echo "usage: $0 PROBE_EXE VERSION..." >&2; exit 2; }
probe=$(kw_winpath "$1")
shift

kw_prefix fsctlprobe || exit 1
trap kw_stop EXIT
kw_start

# The items, on the prefix's C: drive.
items=$WINEPREFIX/drive_c/probe
mkdir -p "$items/folder"
: >"$items/empty.bin"
printf x >"$items/one.bin"
head -c 5000 /dev/urandom >"$items/small.bin"
head -c 1048576 /dev/urandom >"$items/mib.bin"
head -c 5000 /dev/urandom >"$items/Spiel-äöü.bin"
head -c 5000 /dev/urandom >"$items/Spiel-日本.bin"
head -c 5000 /dev/urandom >"$items/locked.bin"
for i in $(seq 20); do printf x >"$items/folder/f$i"; done

for version in "$@"; do
  echo "== $KESTRAVA_WINE_ARCH $version"
  kw_winver "$version" || { echo "winecfg -v $version failed"; continue; }
  wine "$probe" empty='C:\probe\empty.bin' one='C:\probe\one.bin' small='C:\probe\small.bin' \
    mib='C:\probe\mib.bin' latin='C:\probe\Spiel-äöü.bin' \
    cjk='C:\probe\Spiel-日本.bin' folder='C:\probe\folder' \
    missing='C:\probe\no such.bin' missingdir='C:\no such dir\x.bin' \
    -lock locked='C:\probe\locked.bin' </dev/null 2>/dev/null | tr -d '\r'
  echo "exit ${PIPESTATUS[0]}"
done
