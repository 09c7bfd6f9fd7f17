#!/usr/bin/env bash
# Builds Kestrava.exe (build/win32: Release, win32 threads, no tests) and runs it under Wine.
#
# With a display, the program runs there until you close it; arguments are passed on (for
# instance /autorun). Without one (a server, CI), it starts a virtual display, waits for the
# window, saves a screenshot, closes the program and prints the screenshot's path.
#
# Installs what is missing first (tools/install-deps.sh). The Wine prefix is build/wine/user: it is
# kept between runs, like a user's profile; its wineserver is stopped when the program ends,
# which is a log-off for the program: a boost record (volatile) does not outlive the run.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root" || exit 1

bash tools/install-deps.sh </dev/null || exit 1
builds=${KESTRAVA_BUILD_ROOT:-$root/build}
mkdir -p "$builds"
builds=$(cd "$builds" && pwd)
export KESTRAVA_WINE_DIR=$builds/wine
. tools/wine/lib.sh

echo "building Kestrava.exe in $builds/win32"
cmake --preset win32 -B "$builds/win32" >/dev/null || exit 1
cmake --build "$builds/win32" -j "$(nproc)" || exit 1
exe=$builds/win32/app/Kestrava.exe

if [ -z "${DISPLAY:-}" ]; then
  echo "no display: taking a screenshot on a virtual one"
  exec tools/wine/screenshot.sh "$exe" "$builds/win32/tools/kdrive.exe" "$builds/screenshot.png"
fi

export WINEPREFIX=$KESTRAVA_WINE_DIR/user$kw_suffix
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  kw_template || exit 1
  cp -a "$kw_template_dir" "$WINEPREFIX" || exit 1
fi
trap kw_stop EXIT
kw_start
wine "$exe" "$@" </dev/null
