#!/usr/bin/env bash
# Takes the pictures of the two report windows of the system menu that the README shows: the
# preview of a boost, taken before any boost, and the last run's details after one boost with the
# boxes as they start (no game path), with Wine's own services of the catalogue running, on a screen of its own as Windows 7. Each picture is the
# screen cut to the window's rectangle as kdrive reads it. Prints the paths of the pictures; the
# windows' rows are kept as text in $KESTRAVA_WINE_DIR/report-screenshots.{preview,last-run}.txt.
#   report-screenshots.sh KESTRAVA_EXE KDRIVE_EXE [OUT_DIR]
# OUT_DIR defaults to $KESTRAVA_WINE_DIR/report-screenshots; "docs" makes the README's pictures.
# The prefix is a fresh one ($KESTRAVA_WINE_DIR/report-screenshots); its wineserver and the Xvfb
# started here are stopped before the script ends.
set -uo pipefail
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
[ $# -ge 2 ] || { echo "usage: $0 KESTRAVA_EXE KDRIVE_EXE [OUT_DIR]" >&2; exit 2; }
exe=$1
kdrive=$2
for f in "$exe" "$kdrive"; do
  [ -f "$f" ] || { echo "report-screenshots: missing $f" >&2; exit 2; }
done
out=${3:-$KESTRAVA_WINE_DIR/report-screenshots}
mkdir -p "$out"
out=$(cd "$out" && pwd)
log=$KESTRAVA_WINE_DIR/report-screenshots.log

fail() {
  echo "report-screenshots: $* (see $log)" >&2
  exit 1
}
# kd ARGS...: kdrive's output without CRs; its stderr goes to the log.
kd() { wine "$kdrive" "$@" </dev/null 2>>"$log" | tr -d '\r'; }

# A screen of its own, of known size, with nothing else on it.
unset DISPLAY
kw_display || exit 1
kw_prefix report-screenshots || exit 1
trap 'kw_stop; kw_display_stop' EXIT
kw_start
kw_winver win7 || fail "could not set the Windows version"
: >"$log"
# Running, so that the preview has services it would stop and the boost stops them.
for s in Spooler StiSvc BITS TermService; do
  wine net start "$s" </dev/null >>"$log" 2>&1
done

# shot TITLE FILE: the screen cut to the window of that title, frame and all.
shot() {
  local rect
  # Wide enough for every column of the list.
  kd -w "$1" resize 830 440 >/dev/null
  sleep 1  # let it paint
  rect=$(kd -w "$1" rects | awk '$1 == "window" { print $4 - $2 "x" $5 - $3 "+" $2 "+" $3 }')
  [ -n "$rect" ] || fail "no rectangle of the window \"$1\""
  import -window root "$2.full.png" 2>>"$log" || fail "import failed"
  convert "$2.full.png" -crop "$rect" +repage "$2" 2>>"$log" || fail "convert failed"
  rm -f "$2.full.png"
  echo "$2"
}

wine "$exe" </dev/null >>"$log" 2>&1 &
app=$!
kd wait 30 >/dev/null || fail "no window of $exe appeared"

kd syscommand 0x1010 >/dev/null
kd -w "Preview boost" wait 15 >/dev/null || fail "the preview did not open"
for ((i = 0; i < 600; i++)); do
  [ "$(kd -w "Preview boost" gettext Static)" == "Finished." ] && break
  sleep 0.1
done
kd -w "Preview boost" rows >"$KESTRAVA_WINE_DIR/report-screenshots.preview.txt"
shot "Preview boost" "$out/preview.png"
kd -w "Preview boost" click Close >/dev/null
kd -w "Preview boost" wait-gone 10 >/dev/null || fail "the preview did not close"

kd click-watch "Enter Kestrava Mode" 60 >>"$log" || fail "the boost did not end"
kd syscommand 0x1020 >/dev/null
kd -w "Last run details" wait 15 >/dev/null || fail "the last run's window did not open"
kd -w "Last run details" rows >"$KESTRAVA_WINE_DIR/report-screenshots.last-run.txt"
shot "Last run details" "$out/last-run.png"
kd -w "Last run details" click Close >/dev/null
kd -w "Last run details" wait-gone 10 >/dev/null

# Leave the services as they were before the program ends.
kd click-watch "Quit Kestrava Mode" 60 >>"$log"
kd close >/dev/null
for _ in $(seq 100); do
  kill -0 "$app" 2>/dev/null || break
  sleep 0.1
done
