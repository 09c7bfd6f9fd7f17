#!/usr/bin/env bash
# The defragmentation of the game path in the real Kestrava.exe under Wine, as Windows 7, driven
# as a user would: tick "Defrag the path of the game:", type a path, click, wait for the button to
# come back. Wine opens the volume but cannot read its bitmap and answers every extent map with a
# placeholder of no clusters (docs/wine-volumes.md): a run over a real folder reports each item and
# moves nothing, then stops the services as usual. A path whose drive cannot be opened ends the run
# before any service is stopped, panel 0 says why, and the window stays usable. Paths a user could
# type or paste end without a crash or a hang.
#   defrag.sh KESTRAVA_EXE KDRIVE_EXE DBGCAPTURE_EXE
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../tools/wine/lib.sh"
. "$here/testlib.sh"
t_programs 3 "$0 KESTRAVA_EXE KDRIVE_EXE DBGCAPTURE_EXE" "$@"
exe=$1
kdrive=$2
dbgcapture=$3

t_workdir defrag
kw_display || exit 1
kw_prefix defrag || exit 1
trap 'kw_stop; kw_display_stop' EXIT
kw_start
kw_winver win7 || exit 1

state() { wine sc query "$1" </dev/null 2>/dev/null | tr -d '\r' | sed -nE 's/ *STATE *: *[0-9]+ +([A-Z_]+).*/\1/p'; }
start_spooler() {
  wine net start Spooler </dev/null >/dev/null 2>&1
  for _ in $(seq 50); do [ "$(state Spooler)" == RUNNING ] && break; sleep 0.1; done
}
# The names of the boost record, one a line; empty when there is none.
record() {
  wine reg query 'HKCU\Software\Kestrava\Tarnwell Kestrava FREE\BoostedService' </dev/null \
    2>/dev/null | tr -d '\r' | sed -nE 's/^ +([^ ]+) +REG_[A-Z_]+.*/\1/p'
}
panel1() { t_run "$kdrive" panels; sed -n 's/^1|//p' <<<"$t_out"; }

# A small game: files, a hidden one, a subfolder with a file of its own.
game=$WINEPREFIX/drive_c/Games/Test
mkdir -p "$game/Data"
printf 'settings\n' >"$game/game.txt"
head -c 70000 /dev/urandom >"$game/game.exe"
head -c 5000 /dev/urandom >"$game/Data/level1.bin"
printf 'secret\n' >"$game/save.dat"
wine attrib +h 'C:\Games\Test\save.dat' </dev/null >/dev/null 2>&1
sums() { (cd "$game" && find . -type f | LC_ALL=C sort | xargs md5sum); }
before=$(sums)
start_spooler

wine "$dbgcapture" "$exe" </dev/null >"$T_WORK/debug.txt" 2>>"$T_WORK/stderr.log" &
capture=$!
t_run "$kdrive" wait 15
t_run "$kdrive" click "Defrag the path of the game:"
sleep 0.2
t_run "$kdrive" buttons
grep -q -x -F "checked|Defrag the path of the game:" <<<"$t_out" &&
  t_pass "the defragmentation of the game path is ticked" ||
  t_fail "the defragmentation of the game path is ticked" "$(grep -F Defrag <<<"$t_out")"

# boost PATH [wide]: one boost with that game path (set as UTF-16 with "wide"), its debug lines in
# $lines, the texts panel 0 showed in $shown, and $ended 1 when the button came back within 30 s.
# A boost that stopped services is restored at once, so that the next one starts alike.
boost() {
  local mark
  if [ "${2:-}" == wide ]; then
    t_run "$kdrive" settext-wide Edit "$1"
  else
    t_run "$kdrive" settext Edit "$1"
  fi
  mark=$(wc -l <"$T_WORK/debug.txt")
  t_run "$kdrive" click-watch "Enter Kestrava Mode" 30
  ended=0
  grep -q '^ended ' <<<"$t_out" && ended=1
  shown=$(sed -n 's/^0|//p' <<<"$t_out" | grep -v '^$')
  sleep 0.3
  lines=$(tail -n +$((mark + 1)) "$T_WORK/debug.txt" | tr -d '\r')
  mode=$(panel1)
  boosted_record=$(record)
  if [ "$mode" == "Kestrava Mode is ON" ]; then
    t_run "$kdrive" click-watch "Quit Kestrava Mode" 30
    start_spooler
  fi
}
count() { grep -c -E "$1" <<<"$lines"; }

# A real folder: every item reaches panel 0, nothing is moved, the services are stopped after.
boost 'C:\Games\Test'
t_eq "a folder of the prefix: the boost ends" 1 "$ended"
echo "panel 0 showed $(wc -l <<<"$shown") texts: $(tr '\n' ' ' <<<"$shown")"
grep -q -F 'C:\Games\Test\' <<<"$shown" && t_pass "paths of the tree reach panel 0" ||
  t_fail "paths of the tree reach panel 0" "shown [$(tr '\n' '/' <<<"$shown")]"
t_eq "no item needs a move: no New LCN line" 0 "$(count '^Tarnwell:New LCN for ')"
t_eq "and no Defrag File Error line" 0 "$(count '^Tarnwell:Defrag File Error')"
t_eq "the services are stopped after it" "Tarnwell:Stop:Spooler/Tarnwell:Stop service Successfully" \
  "$(grep -A1 -x 'Tarnwell:Stop:Spooler' <<<"$lines" | tr '\n' '/' | sed 's|/$||')"
t_eq "the mode is on after it" "Kestrava Mode is ON" "$mode"
t_eq "the record holds what was stopped" Spooler "$(grep -x Spooler <<<"$boosted_record")"
t_eq "no file of the game changed" "$before" "$(sums)"
echo "debug lines other than services: $(grep -v -E '^Tarnwell:(Stop|Start|Already|OpenService|ControlService|Failed)' <<<"$lines" | tr '\n' '/')"

# A drive that does not exist: the volume cannot be opened, the run ends before any service.
boost 'Q:\Games'
t_eq "a missing drive: the boost ends" 1 "$ended"
t_eq "no service is stopped" 0 "$(count '^Tarnwell:Stop:')"
t_eq "nothing is recorded" "" "$boosted_record"
t_eq "the mode stays off" "Kestrava Mode is OFF" "$mode"
t_eq "Spooler still runs" RUNNING "$(state Spooler)"
t_run "$kdrive" panels
ended_line=$(sed -n 's/^0|//p' <<<"$t_out")
[[ "$ended_line" == 'Boost ended early: CreateFile \\.\Q: '?* ]] &&
  t_pass "panel 0 says in one line why the run ended early" ||
  t_fail "panel 0 says in one line why the run ended early" "panel 0 reads [$ended_line]"
t_run "$kdrive" buttons
grep -q -x -F "push|Enter Kestrava Mode" <<<"$t_out" && t_pass "the button is back" ||
  t_fail "the button is back" "buttons [$(tr '\n' '/' <<<"$t_out")]"
echo "debug lines: $(tr '\n' '/' <<<"$lines")"

# Paths a user could type or paste: name|path|wide|outcome. "stops": the run reaches the services
# (nothing to defragment, or nothing found there); "none": its drive cannot be opened, so the run
# ends before any service. An empty path skips the defragmentation.
long='C:\Games\'$(printf 'x%.0s' $(seq 270))
cases=(
  "empty|||stops"
  "relative|Games||none"
  "bare drive letter|C||stops"
  'UNC|\\server\share\x||none'
  'missing drive|Q:\Games||none'
  "over 260 characters|$long||stops"
  'outside the code page|C:\Games\Spiel-\u65e5\u672c|wide|stops'
  'cp1252 accented|C:\Games\Caf\u00e9|wide|stops'
  'trailing blanks|C:\Games\Test   ||stops'
)
for entry in "${cases[@]}"; do
  IFS='|' read -r name path wide outcome <<<"$entry"
  boost "$path" "$wide"
  t_eq "$name: the boost ends within 30 s" 1 "$ended"
  t_eq "$name: no item is moved" 0 "$(count '^Tarnwell:(New LCN|Defrag File Error)')"
  stops=none
  [ "$(count '^Tarnwell:Stop:')" -gt 0 ] && stops=stops
  t_eq "$name: services stopped or not" "$outcome" "$stops"
  [ "$name" == "trailing blanks" ] && echo "trailing blanks showed: $(grep -F 'Games' <<<"$shown" | tr '\n' '/')"
  echo "outcome $name: ended=$ended stops=$(count '^Tarnwell:Stop:') mode=[$mode] record=[$(tr '\n' ' ' <<<"$boosted_record")] shown=$(wc -l <<<"$shown") newlcn=$(count 'New LCN') errors=$(count 'Defrag File Error') other=[$(grep -v -E '^Tarnwell:(Stop|Start|Already|OpenService|ControlService|Failed|Stop service)' <<<"$lines" | head -5 | tr '\n' '/')]"
done

t_run "$kdrive" count
t_eq "the window is still there" 1 "$t_out"

# "C:" names the current folder of drive C:, its root here: the run walks the whole drive. It is
# stopped by closing the window, which aborts the run at its next item.
t_run "$kdrive" settext Edit 'C:'
mark=$(wc -l <"$T_WORK/debug.txt")
t_run "$kdrive" click-watch "Enter Kestrava Mode" 4
shown=$(sed -n 's/^0|//p' <<<"$t_out" | grep -v '^$')
t_eq "C: without a backslash: still running after 4 s" timeout "$(tail -n 1 <<<"$t_out")"
grep -q -i -F 'C:\windows' <<<"$shown" && t_pass "it walks the whole drive" ||
  t_fail "it walks the whole drive" "last shown [$(tail -n 1 <<<"$shown")]"
closing=$SECONDS
t_run "$kdrive" click Close
t_run "$kdrive" wait-gone 30
t_eq "closing the window ends it" 0 "$t_rc"
wait "$capture"
t_eq "Kestrava.exe ends with 0: nothing crashed" 0 "$?"
lines=$(tail -n +$((mark + 1)) "$T_WORK/debug.txt" | tr -d '\r')
echo "outcome drive without backslash: $(wc -l <<<"$shown") items shown in 4 s; closed in $((SECONDS - closing)) s; stops after the abort=$(count '^Tarnwell:Stop:') record=[$(record | tr '\n' ' ')]"
t_finish
