#!/usr/bin/env bash
# Runs one Windows program under the project's Wine prefix and exits with its exit code.
# First version: a prefix under build/wineprefix made on first use, a persistent wineserver.
set -euo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
export WINEPREFIX=${KESTRAVA_WINEPREFIX:-$root/build/wineprefix}
export WINEARCH=win32 WINEDEBUG=${WINEDEBUG:--all} WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1 </dev/null
  wineserver -w
fi
wineserver -p 2>/dev/null || true  # fails harmlessly when the server already runs
# Wine's system processes inherit the descriptors of the wine command that starts them and outlive
# it; start them with harmless ones so that a caller's pipe is not held open.
wine cmd /c exit 0 </dev/null >/dev/null 2>&1
wine "$@" </dev/null
