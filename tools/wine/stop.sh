#!/usr/bin/env bash
# Stops the wineservers (and every Wine process) of the given prefixes, default: the emulator's.
# By prefix only: other users' Wine processes on this machine are left alone.
set -uo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
[ $# -gt 0 ] || set -- "${KESTRAVA_WINEPREFIX:-$KESTRAVA_WINE_DIR/emulator$kw_suffix}"
for prefix in "$@"; do
  [ -d "$prefix" ] || continue
  prefix=$(cd "$prefix" && pwd)  # Wine wants an absolute prefix path
  WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
  WINEPREFIX=$prefix wineserver -w 2>/dev/null || true
done
