#!/usr/bin/env bash
# End-to-end tests of Kestrava.exe under Wine, on a virtual display when there is none: the single
# instance rule and the autorun switch seen from outside, what the window shows at start, the mode
# shown from the record, Close, a boost and a restore with the version's lists of services (over a
# record key planted as a normal key, and over one planted as a registry link), and the folder
# browser.
#   [KESTRAVA_E2E_WINVER=winxp|vista|win7|...] [KESTRAVA_WINE_ARCH=win32|win64]
#     e2e.sh KESTRAVA_EXE KDRIVE_EXE PROBE_EXE
# The Windows version that Wine reports to the program defaults to win7, the prefix to 32-bit.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../tools/wine/lib.sh"
. "$here/testlib.sh"
[ $# -eq 3 ] || { echo "usage: $0 KESTRAVA_EXE KDRIVE_EXE PROBE_EXE" >&2; exit 2; }
exe=$1
kdrive=$2
probe=$3
for f in "$exe" "$kdrive" "$probe"; do
  [ -f "$f" ] || { echo "e2e: missing $f" >&2; exit 2; }
done

winver=${KESTRAVA_E2E_WINVER:-win7}
T_LABEL=$winver
t_workdir "e2e-$winver"
kw_display || exit 1
kw_prefix "e2e-$winver" || exit 1
trap 'kw_stop; kw_display_stop' EXIT
# A drive D: for the folder browser, with one folder on it; Wine's mount manager takes the drives
# it finds when it starts.
mkdir -p "$T_WORK/drive-d/Games"
ln -sfn "$T_WORK/drive-d" "$WINEPREFIX/dosdevices/d:"
kw_start
kw_winver "$winver" || { echo "e2e: winecfg -v $winver failed" >&2; exit 1; }

kd() { t_run "$kdrive" "$@"; }

# Starts Kestrava.exe in the background; $app_pid is the Wine process of it.
app_start() {
  wine "$exe" "$@" </dev/null >>"$T_WORK/app.log" 2>&1 &
  app_pid=$!
}

# Waits for the background Kestrava.exe to end; sets $app_rc (124 when it did not end in time, and
# then ends every process of the prefix so that the next case starts clean).
app_wait() {
  local limit=$((${1:-10} * 10)) i
  for ((i = 0; i < limit; i++)); do
    kill -0 "$app_pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$app_pid" 2>/dev/null; then
    app_rc=124
    kw_stop
    wait "$app_pid" 2>/dev/null
    kw_start
  else
    wait "$app_pid"
    app_rc=$?
  fi
}

# Runs Kestrava.exe in the foreground with a time limit; sets $t_rc (124: did not end in time).
app_run() {
  timeout 20 wine "$exe" "$@" </dev/null >>"$T_WORK/app.log" 2>&1
  t_rc=$?
}

# Starts Kestrava.exe and waits for its main window; records a failure under NAME if none comes.
app_open() {
  local name=$1
  shift
  app_start "$@"
  kd wait 20
  if [ "$t_rc" -ne 0 ]; then
    t_fail "$name" "no main window"
    return 1
  fi
}

# Closes the window with its Close button; the process must end with exit code 0.
app_close() {
  local name=$1
  kd click Close
  app_wait 10
  t_eq "$name" "0 0" "$t_rc $app_rc"
}

line_count() { grep -c "$2" "$1" 2>/dev/null; }

# --- Listener: a stand-in first instance that counts the wake-up messages it receives. ----------
listen_out=$T_WORK/listen.out
wine "$kdrive" listen 120 </dev/null >"$listen_out" 2>>"$T_WORK/stderr.log" &
listen_pid=$!
for _ in $(seq 100); do
  grep -q ready "$listen_out" 2>/dev/null && break
  sleep 0.1
done

# expect_messages NAME N: waits until the listener has N messages, then makes sure no more come.
expect_messages() {
  local name=$1 want=$2 got
  for _ in $(seq 20); do
    got=$(line_count "$listen_out" '^message')
    [ "$got" -ge "$want" ] && break
    sleep 0.1
  done
  sleep 0.5
  got=$(line_count "$listen_out" '^message')
  t_eq "$name" "$want" "$got"
}

if grep -q ready "$listen_out"; then
  # Every start below finds the listener's hidden window and must end at once with code 0,
  # without a window of its own; only the starts without the switch post.
  app_run
  t_eq "second start ends with code 0" 0 "$t_rc"
  expect_messages "second start posts exactly one message 1579" 1
  kd count
  t_eq "second start creates no window of its own" 1 "$t_out"
  for switch in /autorun -AUTORUN '\AutoRun'; do
    app_run "$switch"
    t_eq "second start with $switch ends with code 0" 0 "$t_rc"
    expect_messages "second start with $switch posts nothing" 1
  done
  app_run autorun
  expect_messages "bare autorun is not the switch: it posts" 2
  app_run /autorun=1
  expect_messages "/autorun=1 is not the switch: it posts" 3
  app_run foo /bar
  t_eq "other arguments: ends with code 0" 0 "$t_rc"
  expect_messages "other arguments: posts one message" 4
  kd close
  wait "$listen_pid"
  t_eq "every message had wParam 0 and lParam 0" "other=0" "$(tr -d '\r' <"$listen_out" | grep '^other=')"
else
  t_fail "listener" "kdrive listen did not start"
  kill "$listen_pid" 2>/dev/null
fi
kd wait-gone 10

# --- A start while another process holds the mutex but has no window ends silently. ----------
hold_out=$T_WORK/hold.out
wine "$kdrive" hold-mutex "Tarnwell Kestrava" 60 </dev/null >"$hold_out" 2>>"$T_WORK/stderr.log" &
hold_pid=$!
for _ in $(seq 100); do
  grep -q held "$hold_out" 2>/dev/null && break
  sleep 0.1
done
t_eq "mutex holder created the mutex first" "held 0" "$(tr -d '\r' <"$hold_out")"
app_run
t_eq "start while the mutex is held ends with code 0" 0 "$t_rc"
kd count
t_eq "start while the mutex is held creates no window" 0 "$t_out"
t_run "$kdrive" release "Tarnwell Kestrava"
wait "$hold_pid"

# --- The autorun switch hides the window for good. ---------------------------------------------
if app_open "-AutoRun creates the main window" -AutoRun; then
  t_pass "-AutoRun creates the main window"
  sleep 1
  kd visible
  t_eq "-AutoRun never shows it" 0 "$t_out"
  # A later start without the switch is the user asking for the window: the hidden instance
  # shows itself, and the later start ends without a window of its own.
  app_run
  t_eq "start beside a hidden instance ends with code 0" 0 "$t_rc"
  sleep 1
  kd visible
  t_eq "a second start shows the hidden instance" 1 "$t_out"
  kd count
  t_eq "still one window after the second start" 1 "$t_out"
  kd close
  app_wait 10
  t_eq "hidden instance ends with code 0 on WM_CLOSE" 0 "$app_rc"
fi

# --- What the first start shows: captions, which boxes are ticked, the description. -------------
# Button-class controls in tab order: the boost button, "Boost Option 2" with the twelve service
# options, "Boost Option 1" with its two options and Browse..., Close.
start_buttons="push|Enter Kestrava Mode
group|Boost Option 2
checked|Stop Printer Support
checked|Stop Aero Glass effect(Vista, Win7only)
checked|Stop tablet input support(Vista, Win7 only)
checked|Stop application compatibility cache
checked|Stop Network Neiborhood
checked|Stop Graphics Scanner and other Device
checked|Stop Keyboard Hotkey
checked|Stop Network Share
checked|Stop scheduled tasks
checked|Stop Proxy Auto-discovery
checked|Stop sharing media to other media devices
checked|Stop Windows Update
group|Boost Option 1
unchecked|Defrag the path of the game:
checked|Defrag the memory
push|Browse...
push|Close"
# The description as the program's texts hold it (adjacent C string literals joined).
description=$(python3 - "$here/../../common/texts.h" <<'EOF'
import re, sys
source = open(sys.argv[1]).read()
literals = re.search(r'SAppDescription\[\]\s*=((?:\s*"[^"]*")+)\s*;', source).group(1)
print("".join(re.findall(r'"([^"]*)"', literals)))
EOF
)
t_run "$probe" record-clear
if app_open "first start: window opens"; then
  kd buttons
  t_eq "first start: group box and check box captions, ticks and buttons in tab order" \
    "$start_buttons" "$t_out"
  kd controls
  t_eq "first start: the description is the one text of the labels" "Static|$description" \
    "$(grep '^Static|.' <<<"$t_out")"
  kd gettext Edit
  t_eq "first start: the game path is empty" "0 " "$t_rc $t_out"
  app_close "first start: Close ends with code 0"
fi

# --- Mode from the record, Close. --------------------------------------------------------------
t_run "$probe" record-clear
if app_open "no record: window opens" autorun; then
  kd visible
  t_eq "bare autorun shows the window" 1 "$t_out"
  kd controls
  controls=$t_out
  grep -qx "Button|Enter Kestrava Mode" <<<"$controls" && t_pass "no record: Enter Kestrava Mode" ||
    t_fail "no record: Enter Kestrava Mode" "buttons: $(grep '^Button' <<<"$controls" | tr '\n' /)"
  grep -qx "Button|Quit Kestrava Mode" <<<"$controls" && t_fail "no record: no Quit button" "present"
  kd panels
  t_eq "no record: panels" "0|
1|Kestrava Mode is OFF" "$t_out"
  app_close "Close ends the process with code 0"
  kd count
  t_eq "Close leaves no window" 0 "$t_out"
fi

t_run "$probe" record-set Spooler
if app_open "record present: window opens"; then
  kd controls
  controls=$t_out
  grep -qx "Button|Quit Kestrava Mode" <<<"$controls" && t_pass "record present: Quit Kestrava Mode" ||
    t_fail "record present: Quit Kestrava Mode" "buttons: $(grep '^Button' <<<"$controls" | tr '\n' /)"
  kd panels
  t_eq "record present: panels" "0|
1|Kestrava Mode is ON" "$t_out"
  app_close "record present: Close ends with code 0"
fi
t_run "$probe" record-read
t_eq "closing the program leaves the record" "Spooler" "$t_out"
t_run "$probe" record-clear

# --- A boost and its restore with the version's lists. -------------------------------------------
# Wine has four services of Seven's lists and the options (BITS, Spooler, StiSvc, TermService) and
# four of XP's (BITS, Spooler, StiSvc, wuauserv). Windows 8 and later report NT 6.2 to a program
# whose manifest names no supported systems: they get Seven's lists.
state() { wine sc query "$1" </dev/null 2>/dev/null | tr -d '\r' | sed -nE 's/ *STATE *: *[0-9]+ +([A-Z_]+).*/\1/p'; }
t_run "$probe" osversion
code=$t_out
case $code in
  9) lists="BITS Spooler StiSvc TermService" ;;
  6) lists="BITS Spooler StiSvc wuauserv" ;;
  *) lists="" ;;
esac
wine_services=(BITS Spooler StiSvc TermService wuauserv)
record_key='HKCU\Software\Kestrava\Tarnwell Kestrava FREE\BoostedService'
victim='HKCU\Software\Policies\Victim'
# A record key made beforehand as a normal key, as any program of the user can: empty, so the mode
# shows off, and the boost must leave it volatile. The parents an earlier record made are
# volatile and would refuse a normal key: they go first.
t_run "$probe" record-clear
t_run reg delete 'HKCU\Software\Kestrava' /f
t_run reg add "$record_key" /f
t_run reg delete "$record_key" /ve /f  # Wine's reg add gives the key an empty default value
t_run "$probe" record-volatile
t_eq "a record key is planted as a normal key" normal "$t_out"
if [ -n "$lists" ] && app_open "boost: window opens"; then
  for s in "${wine_services[@]}"; do wine net start "$s" </dev/null >/dev/null 2>&1; done
  for s in "${wine_services[@]}"; do
    for _ in $(seq 50); do [ "$(state "$s")" == RUNNING ] && break; sleep 0.1; done
  done
  kd click-watch "Enter Kestrava Mode" 120
  t_eq "boost (version code $code): the run ends" 0 "$t_rc"
  t_run "$probe" record-read
  t_eq "boost (version code $code): the record holds the services of its lists" \
    "$(tr ' ' '\n' <<<"$lists")" "$(LC_ALL=C sort -f <<<"$t_out")"
  stopped=$(for s in $lists; do echo "$s $(state "$s")"; done)
  t_eq "boost: they are stopped" "$(for s in $lists; do echo "$s STOPPED"; done)" "$stopped"
  kd panels
  t_eq "boost: the mode is on" "1|Kestrava Mode is ON" "$(grep '^1|' <<<"$t_out")"
  t_run "$probe" record-volatile
  t_eq "boost: a record key planted as a normal key is volatile afterwards" volatile "$t_out"
  kd click-watch "Quit Kestrava Mode" 120
  t_eq "restore: the run ends" 0 "$t_rc"
  for s in $lists; do
    for _ in $(seq 50); do [ "$(state "$s")" == RUNNING ] && break; sleep 0.1; done
  done
  running=$(for s in $lists; do echo "$s $(state "$s")"; done)
  t_eq "restore: they run again" "$(for s in $lists; do echo "$s RUNNING"; done)" "$running"
  t_run "$probe" record-read
  t_eq "restore: the record is gone" "" "$t_out"

  # The record key as a link to a key that only administrators may write on Windows: a boost and a
  # restore work on a key of the program's own and leave the target exactly as it was.
  t_run reg add "$victim" /v Keep /t REG_DWORD /d 7 /f
  t_run "$probe" reg-link 'Software\Kestrava\Tarnwell Kestrava FREE\BoostedService' \
    'Software\Policies\Victim'
  victim_before=$(wine reg query "$victim" /s </dev/null 2>/dev/null | tr -d '\r')
  for s in $lists; do wine net start "$s" </dev/null >/dev/null 2>&1; done
  for s in $lists; do
    for _ in $(seq 50); do [ "$(state "$s")" == RUNNING ] && break; sleep 0.1; done
  done
  kd click-watch "Enter Kestrava Mode" 120
  t_eq "link: the boost runs (a link is no record: the mode was off)" 0 "$t_rc"
  t_run "$probe" record-read
  t_eq "link: the boost records in a key of its own" \
    "$(tr ' ' '\n' <<<"$lists")" "$(LC_ALL=C sort -f <<<"$t_out")"
  t_eq "link: the target is untouched by the boost" "$victim_before" \
    "$(wine reg query "$victim" /s </dev/null 2>/dev/null | tr -d '\r')"
  kd click-watch "Quit Kestrava Mode" 120
  t_eq "link: the restore runs" 0 "$t_rc"
  t_run "$probe" record-read
  t_eq "link: the restore clears the record" "" "$t_out"
  t_eq "link: the target is untouched by the restore" "$victim_before" \
    "$(wine reg query "$victim" /s </dev/null 2>/dev/null | tr -d '\r')"
  app_close "after the restore, Close ends with code 0"
fi

# --- The folder browser: cancelling it leaves the path alone. -----------------------------------
if app_open "browse: window opens"; then
  kd settext Edit 'C:\Games\'
  kd click "Browse..."
  kd dialog 15
  if [ "$t_rc" -eq 0 ]; then
    t_pass "Browse... opens a dialog box ($t_out)"
    kd dialog-cancel
    t_eq "the dialog box can be cancelled" 0 "$t_rc"
    kd gettext Edit
    t_eq "cancel leaves the game path unchanged" 'C:\Games\' "$t_out"
  else
    t_fail "Browse... opens a dialog box" "none appeared"
  fi

  # browse_to NAME FOLDER EXPECTED: chooses FOLDER in a new browser, expects EXPECTED in the edit.
  browse_to() {
    kd click "Browse..."
    kd dialog 15
    t_eq "$1: the shell's folder browser opens" "0 Browse for Folder" "$t_rc $t_out"
    [ "$t_rc" -eq 0 ] || return
    kd browse-choose "$2"
    t_eq "$1: the folder is chosen and the browser closes" 0 "$t_rc"
    [ "$t_rc" -eq 0 ] || t_run "$kdrive" dialog-cancel
    kd gettext Edit
    t_eq "$1" "$3" "$t_out"
  }
  browse_to 'a drive root keeps its one backslash (D:\ stays D:\)' 'D:\' 'D:\'
  browse_to 'a folder gets a backslash (D:\Games becomes D:\Games\)' 'D:\Games' 'D:\Games\'
  app_close "after browsing, Close ends with code 0"
fi

t_finish
