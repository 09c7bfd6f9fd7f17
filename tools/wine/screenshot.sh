#!/usr/bin/env bash
# Starts Kestrava.exe under Wine (on a virtual display when there is none), waits for its window,
# saves a PNG of the screen trimmed to the window, closes the program and prints the PNG's path.
#   screenshot.sh KESTRAVA_EXE KDRIVE_EXE [OUT.png]
# The prefix is a fresh one ($KESTRAVA_WINE_DIR/screenshot); its wineserver and the Xvfb started
# here are stopped before the script ends.
set -uo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
[ $# -ge 2 ] || { echo "usage: $0 KESTRAVA_EXE KDRIVE_EXE [OUT.png]" >&2; exit 2; }
exe=$1
kdrive=$2
out=${3:-$KESTRAVA_WINE_DIR/screenshot.png}
mkdir -p "$(dirname "$out")"
out=$(cd "$(dirname "$out")" && pwd)/$(basename "$out")
log=$KESTRAVA_WINE_DIR/screenshot.log

kw_display || exit 1
kw_prefix screenshot || exit 1
trap 'kw_stop; kw_display_stop' EXIT
kw_start

wine "$exe" </dev/null >"$log" 2>&1 &
app=$!
if ! wine "$kdrive" wait 30 </dev/null >>"$log" 2>&1; then
  echo "screenshot: no window of $exe appeared (see $log)" >&2
  exit 1
fi
# Give it a moment to paint everything before taking the picture.
sleep 1.5
rm -f "$out"
# The whole screen, trimmed to what is not background: the window with its frame.
if command -v import >/dev/null; then
  import -window root "$out.full.png" 2>>"$log"
else
  xwd -root -silent | convert xwd:- "$out.full.png" 2>>"$log"
fi
convert "$out.full.png" -trim +repage "$out" 2>>"$log" || mv "$out.full.png" "$out"
rm -f "$out.full.png"
wine "$kdrive" close </dev/null >>"$log" 2>&1
for _ in $(seq 100); do
  kill -0 "$app" 2>/dev/null || break
  sleep 0.1
done
[ -s "$out" ] || { echo "screenshot: no picture taken (see $log)" >&2; exit 1; }
echo "$out"
