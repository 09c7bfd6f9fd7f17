#!/usr/bin/env bash
# Runs one Windows program under Wine and exits with its exit code (low 8 bits, as Wine passes it).
# This is ctest's emulator for the cross-compiled tests: output goes straight to the caller and
# stdin is /dev/null, so nothing is left holding the caller's pipes.
#
# Prefix: $KESTRAVA_WINEPREFIX, else $KESTRAVA_WINE_DIR/emulator (build/wine/emulator, or
# emulator-win64 with KESTRAVA_WINE_ARCH=win64), made from the harness's template on first use. Its wineserver stays up between programs (starting one per
# program would race the dying previous one); end it with tools/wine/stop.sh.
set -uo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

if [ $# -lt 1 ]; then
  echo "usage: $0 PROGRAM [ARGS...]" >&2
  exit 2
fi

prefix=${KESTRAVA_WINEPREFIX:-$KESTRAVA_WINE_DIR/emulator$kw_suffix}
mkdir -p "$(dirname "$prefix")"
# Two tests started at once by ctest -j must not both make the prefix or both start its server.
(
  flock 9
  if [ ! -f "$prefix/system.reg" ]; then
    kw_template || exit 1
    rm -rf "$prefix"
    cp -a "$kw_template_dir" "$prefix" || exit 1
  fi
  export WINEPREFIX=$prefix
  # Only the first program of a run finds no server; it starts the persistent one and Wine's
  # system processes, with harmless descriptors (not the lock's, which they would hold forever).
  if wineserver -p 2>/dev/null 9>&-; then
    wine cmd /c exit 0 </dev/null >/dev/null 2>&1 9>&-
  fi
) 9>"$prefix.lock" || { echo "run.sh: could not prepare the Wine prefix $prefix" >&2; exit 1; }

export WINEPREFIX=$prefix
wine "$@" </dev/null
