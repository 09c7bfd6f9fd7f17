#!/usr/bin/env bash
# A boost and a restore of the real Kestrava.exe against Wine's real Service Control Manager, as
# Windows 7, driven as a user would: click, watch status panel 0, wait for the button to come back.
# Wine's services that the catalogue names are started first, and our test service under more
# catalogue names: one that stops slowly, one that stays pending with a wait hint of 0, one that
# refuses the stop, one whose check point goes back, one that starts slowly, and one that stops
# 1,045 ms after its control (inside the one second of sleeping, though Sleep overshoots). The
# boost must stop and record exactly what it stopped, and also what it left going down; the restore
# must start them all again and delete the record, but not a service outside the catalogue whose
# name another program planted in the record. A stop of the one that asks for no wait pauses
# between its queries and ends at the 3 s backstop. Then: killed in the middle of a boost, while it
# waits for a service to stop, the next start restores what was stopped so far and the one it was
# waiting for; closed during a boost, the window waits for the worker;
# logged off during a boost, the session may end at once and the run is finished before the window
# lets it go; as Windows XP the options without a service write a bare "Stop:" line; as Windows
# 2000 and Server 2003 nothing is stopped. Under WOW64 (KESTRAVA_WINE_ARCH=win64) there is no
# 32-bit XP or 2000: those parts run as Server 2003 only.
#   boost.sh KESTRAVA_EXE KDRIVE_EXE PROBE_EXE DBGCAPTURE_EXE TEST_SERVICE_EXE
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../tools/wine/lib.sh"
. "$here/testlib.sh"
t_service_programs "$@"

t_service_prefix boost

# Catalogue services that Wine has: Spooler and StiSvc (options), BITS (Windows Update),
# TermService (Seven's list). Schedule runs and accepts no stop; LanmanServer is disabled.
# The slow start stands under a name that Wine enumerates first in the record, so that the restore
# writes a line after it.
# KestravaPlanted is no service of the catalogue: it stays stopped until a name planted in the
# record asks the restore to start it.
declare -A behaviour=([Browser]=slow-stop [hidserv]=pending-zero [WMPNetworkSvc]=refuse-stop
  [TabletInputService]=checkpoint-back [AeLookupSvc]=slow-start [SensrSvc]="stop-after 1045"
  [KestravaPlanted]=plain)
t_create_services behaviour
services=(AeLookupSvc BITS Browser SensrSvc Spooler StiSvc TabletInputService TermService
  WMPNetworkSvc hidserv)
t_start_services "${services[@]}"
running=$(for s in "${services[@]}"; do echo "$s $(t_service_state "$s")"; done)
t_eq "the catalogue's Wine services run before the boost" \
  "$(printf '%s RUNNING\n' "${services[@]}")" "$running"

wine "$dbgcapture" "$exe" </dev/null >"$T_WORK/debug.txt" 2>>"$T_WORK/stderr.log" &
t_run "$kdrive" wait 15
t_eq "the window opens with the mode off" "Kestrava Mode is OFF" "$(t_panel 1)"

wine "$kdrive" click-watch "Enter Kestrava Mode" 60 </dev/null >"$T_WORK/watch.txt" 2>>"$T_WORK/stderr.log" &
watch=$!
wait "$watch"
watched=$(tr -d '\r' <"$T_WORK/watch.txt")
grep -q '^ended ' <<<"$watched" && t_pass "panel 0 watched until the run ended" ||
  t_fail "panel 0 watched until the run ended" "[$(tail -n 1 <<<"$watched")]"
for s in Browser SensrSvc; do
  grep -q -x -F "0|Try to stop: Test $s" <<<"$watched" && t_pass "panel 0 shows Try to stop: Test $s" ||
    t_fail "panel 0 shows Try to stop: Test $s" "panel 0 read [$(grep '^0|' <<<"$watched" | tr '\n' '/')]"
done
t_wait_panel 1 "Kestrava Mode is ON" && t_pass "after the boost the mode is on" ||
  t_fail "after the boost the mode is on" "panel 1 reads [$(t_panel 1)]"
# The slow ones were still going down when the boost moved on: they are recorded too.
taken=(AeLookupSvc BITS Browser SensrSvc Spooler StiSvc TabletInputService TermService hidserv)
t_run "$probe" record-read
t_eq "the record holds exactly the services the boost stopped or left going down" \
  "$(printf '%s\n' "${taken[@]}" | LC_ALL=C sort)" "$(LC_ALL=C sort <<<"$t_out")"
for s in "${taken[@]}"; do
  for _ in $(seq 80); do [ "$(t_service_state "$s")" == STOPPED ] && break; sleep 0.1; done
done
stopped=$(for s in "${taken[@]}"; do echo "$s $(t_service_state "$s")"; done)
t_eq "and they are stopped" "$(printf '%s STOPPED\n' "${taken[@]}")" "$stopped"
t_eq "the one that refused the stop still runs" RUNNING "$(t_service_state WMPNetworkSvc)"

# Any program of the user can write the record: a name planted there that no boost stops is not
# started by the restore, while the catalogue's services come back.
t_eq "the planted service is stopped before the restore" STOPPED "$(t_service_state KestravaPlanted)"
t_run "$probe" record-set KestravaPlanted
t_run "$kdrive" click "Quit Kestrava Mode"
t_wait_panel 1 "Kestrava Mode is OFF" && t_pass "after the restore the mode is off" ||
  t_fail "after the restore the mode is off" "panel 1 reads [$(t_panel 1)]"
for s in "${services[@]}"; do
  for _ in $(seq 50); do [ "$(t_service_state "$s")" == RUNNING ] && break; sleep 0.1; done
done
running=$(for s in "${services[@]}"; do echo "$s $(t_service_state "$s")"; done)
t_eq "the restore started them again" "$(printf '%s RUNNING\n' "${services[@]}")" "$running"
t_eq "a name planted in the record that no boost stops stays stopped" STOPPED \
  "$(t_service_state KestravaPlanted)"
t_run "$probe" record-read
t_eq "and deleted the record" "" "$t_out"

# A service that asks for no wait at all: the wait pauses between its queries and ends at the 3 s
# backstop (without the pause Wine answers thousands of queries a second). The service goes down
# 5 s after its control: a stop that ends as failed ended at the backstop, not with the service,
# however busy the machine.
t_run "$probe" stop-timed hidserv
timed=$(tr '\n' ' ' <<<"$t_out")
echo "stopping a service with a wait hint of 0: $timed"
ms=$(sed -n 's/^ms //p' <<<"$t_out")
queries=$(sed -n 's/^queries //p' <<<"$t_out")
result=$(sed -n 's/^result //p' <<<"$t_out")
[ "$result" == 0 ] && [ -n "$ms" ] && [ "$ms" -ge 3000 ] && t_pass "a wait hint of 0: the wait ends at 3 s" ||
  t_fail "a wait hint of 0: the wait ends at 3 s" "[$timed]"
[ -n "$queries" ] && [ $((queries * 1000)) -le $((ms * 150)) ] &&
  t_pass "a wait hint of 0: at most 150 queries a second" ||
  t_fail "a wait hint of 0: at most 150 queries a second" "[$timed]"
for _ in $(seq 80); do [ "$(t_service_state hidserv)" == STOPPED ] && break; sleep 0.1; done
t_run "$probe" record-clear

t_run "$kdrive" click Close
for _ in $(seq 100); do jobs -r | grep -q . || break; sleep 0.1; done
log=$(tr -d '\r' <"$T_WORK/debug.txt")
# One block of lines per outcome met, in the order the boost wrote them.
expect_block() {
  local name=$1
  shift
  local want got
  want=$(printf '%s\n' "$@")
  got=$(grep -A$(($# - 1)) -x -F "Tarnwell:Stop:$name" <<<"$log" | head -n $#)
  t_eq "debug lines: $name" "$want" "$got"
}
expect_block Spooler "Tarnwell:Stop:Spooler" "Tarnwell:Stop service Successfully"
expect_block Schedule "Tarnwell:Stop:Schedule" "Tarnwell:Already Stopped" "Tarnwell:Failed to stop service!"
expect_block AxInstSV "Tarnwell:Stop:AxInstSV" "Tarnwell:OpenService Error:Service does not exist" \
  "Tarnwell:Failed to stop service!"
expect_block UxSms "Tarnwell:Stop:UxSms" "Tarnwell:OpenService Error:Service does not exist" \
  "Tarnwell:Failed to stop service!"
expect_block Browser "Tarnwell:Stop:Browser" "Tarnwell:Failed to stop service!"
expect_block hidserv "Tarnwell:Stop:hidserv" "Tarnwell:Failed to stop service!"
expect_block WMPNetworkSvc "Tarnwell:Stop:WMPNetworkSvc" \
  "Tarnwell:ControlService Error:Invalid service control" \
  "Tarnwell:Failed to stop service!"
expect_block TabletInputService "Tarnwell:Stop:TabletInputService" "Tarnwell:Failed to stop service!"
expect_block AeLookupSvc "Tarnwell:Stop:AeLookupSvc" "Tarnwell:Stop service Successfully"
# Stopped 1,045 ms after its control: the 21st turn of the wait sees it, whatever Sleep overshoots.
expect_block SensrSvc "Tarnwell:Stop:SensrSvc" "Tarnwell:Stop service Successfully"
# Every start succeeded but the slow one's, which took longer than the wait.
t_eq "the starts that succeeded" 8 "$(grep -c -x "Tarnwell:Start Service Successfully" <<<"$log")"
t_eq "debug lines: the planted name" \
  "$(printf '%s\n' "Tarnwell:Start:KestravaPlanted" "Tarnwell:Not a service this program stops")" \
  "$(grep -A1 -x -F "Tarnwell:Start:KestravaPlanted" <<<"$log")"
# A failed start writes nothing more: the next line is the next service's.
next=$(grep -A1 -x "Tarnwell:Start:AeLookupSvc" <<<"$log" | sed -n 2p)
case $next in
  Tarnwell:Start:?*) t_pass "the slow start is not counted a success" ;;
  *) t_fail "the slow start is not counted a success" "next line [$next]" ;;
esac

# Runs one boost of a fresh Kestrava.exe under dbgcapture and closes it; its lines in $log.
boost_once() {
  wine "$dbgcapture" "$exe" </dev/null >"$T_WORK/debug.txt" 2>>"$T_WORK/stderr.log" &
  local capture=$!
  t_run "$kdrive" wait 15
  t_run "$kdrive" click "Enter Kestrava Mode"
  # The run is over when a line after the last service has been written: wait for the log to
  # stop growing for 4 s, longer than any one service's wait (3 s for one that asks for none).
  local size=-1 now same=0
  for _ in $(seq 120); do
    sleep 0.5
    now=$(stat -c %s "$T_WORK/debug.txt")
    if [ "$now" -eq "$size" ] && [ "$now" -gt 0 ]; then
      same=$((same + 1))
      [ "$same" -ge 8 ] && break
    else
      same=0
    fi
    size=$now
  done
  t_run "$kdrive" click Close
  wait "$capture" 2>/dev/null
  log=$(tr -d '\r' <"$T_WORK/debug.txt")
}

# Killed in the middle of a boost: what was stopped so far is in the record, and the next start
# within the log-on restores exactly that.
t_start_services "${services[@]}"
wine "$exe" </dev/null >>"$T_WORK/app.log" 2>&1 &
app=$!
t_run "$kdrive" wait 15
t_run "$kdrive" click "Enter Kestrava Mode"
# Browser is the first option, hidserv the next: hidserv is recorded before its stop is asked
# for, and the program then waits three seconds on it: kill it there. Both go down after the kill.
for _ in $(seq 100); do
  t_run "$probe" record-read
  grep -q -x hidserv <<<"$t_out" && break
  sleep 0.05
done
kill -9 "$app" 2>/dev/null
wait "$app" 2>/dev/null
t_run "$probe" record-read
t_eq "killed during the boost: the record holds what was stopped so far and the one going down" \
  "$(printf '%s\n' Browser hidserv)" "$t_out"
for s in Browser hidserv; do
  for _ in $(seq 80); do [ "$(t_service_state "$s")" == STOPPED ] && break; sleep 0.1; done
done
wine "$exe" </dev/null >>"$T_WORK/app.log" 2>&1 &
t_run "$kdrive" wait 15
t_eq "the next start shows the mode on" "Kestrava Mode is ON" "$(t_panel 1)"
t_run "$kdrive" click "Quit Kestrava Mode"
t_wait_panel 1 "Kestrava Mode is OFF" || t_fail "the restore after the kill ends" "panel 1 reads [$(t_panel 1)]"
for s in Browser hidserv; do
  for _ in $(seq 50); do [ "$(t_service_state "$s")" == RUNNING ] && break; sleep 0.1; done
done
t_eq "and its restore starts them again" "$(printf '%s RUNNING\n' Browser hidserv)" \
  "$(for s in Browser hidserv; do echo "$s $(t_service_state "$s")"; done)"
t_run "$kdrive" click Close
sleep 1

# Closed during a boost: the window stays until the worker is done (it reads the window's
# controls), then closes; the process ends with 0 and the record holds what was stopped.
t_run "$probe" record-clear
for s in "${services[@]}"; do wine net start "$s" </dev/null >/dev/null 2>&1; done
for _ in $(seq 50); do [ "$(t_service_state Browser)" == RUNNING ] && break; sleep 0.1; done
wine "$exe" </dev/null >>"$T_WORK/app.log" 2>&1 &
app=$!
t_run "$kdrive" wait 15
t_run "$kdrive" click "Enter Kestrava Mode"
sleep 0.3
t_run "$kdrive" click Close
sleep 0.5
t_run "$kdrive" count
t_eq "closed during a boost: the window waits for the worker" 1 "$t_out"
t_run "$kdrive" wait-gone 30
t_eq "and then closes" 0 "$t_rc"
wait "$app"
t_eq "the process ends with 0" 0 "$?"
t_run "$probe" record-read
grep -q -x Browser <<<"$t_out" && t_pass "the record holds what the run stopped" ||
  t_fail "the record holds what the run stopped" "record [$t_out]"
t_run "$probe" record-clear

# Logged off during a boost: the session may end at once (the window does not hold it up), and
# the window returns from the end of the session only when the run is over, so no service is left
# half handled; the run's last recordable service, SensrSvc of Seven's list, is in the record by
# then. Windows then ends the process, and the volatile record goes with the log-off: the next
# log-on shows the mode off.
t_run "$probe" record-clear
t_start_services "${services[@]}"
wine "$exe" </dev/null >>"$T_WORK/app.log" 2>&1 &
app=$!
t_run "$kdrive" wait 15
t_run "$kdrive" click "Enter Kestrava Mode"
# The boost waits on the slow services for seconds; the window must go on answering meanwhile. A
# window that waited with the worker would not answer for the 3 s of hidserv's wait; on a busy
# machine a window that answers may still take some hundreds of milliseconds.
t_run "$kdrive" ping 2
worst=$(sed -n 's/^worst //p' <<<"$t_out")
echo "window round trip during the boost: worst ${worst:-?} ms ($(sed -n 's/^sent //p' <<<"$t_out") messages)"
[ -n "$worst" ] && [ "$worst" -lt 2000 ] && t_pass "the window answers during the boost" ||
  t_fail "the window answers during the boost" "worst ${worst:-none} ms"
for _ in $(seq 100); do
  t_run "$probe" record-read
  [ -n "$t_out" ] && break
  sleep 0.05
done
t_run "$kdrive" log-off
echo "log-off during the boost: $(tr '\n' ' ' <<<"$t_out")"
query=$(sed -n 's/^query //p' <<<"$t_out")
[ "${query%% *}" == 1 ] && [ "${query#* }" -le 1000 ] &&
  t_pass "log-off during a boost: the session may end, answered at once" ||
  t_fail "log-off during a boost: the session may end, answered at once" "[$t_out]"
grep -q '^end ' <<<"$t_out" && t_pass "log-off: the end of the session is answered" ||
  t_fail "log-off: the end of the session is answered" "[$t_out]"
t_run "$probe" record-read
grep -q -x SensrSvc <<<"$t_out" && t_pass "log-off: the run was over when the window let it go" ||
  t_fail "log-off: the run was over when the window let it go" "record [$(tr '\n' ' ' <<<"$t_out")]"
kill -9 "$app" 2>/dev/null
wait "$app" 2>/dev/null
kw_restart
t_run "$probe" record-read
t_eq "log-off: the record is gone" "" "$t_out"
wine "$exe" </dev/null >>"$T_WORK/app.log" 2>&1 &
t_run "$kdrive" wait 15
t_eq "log-off: the next log-on shows the mode off" "Kestrava Mode is OFF" "$(t_panel 1)"
t_run "$kdrive" click Close
t_run "$kdrive" wait-gone 10

if [ "$KESTRAVA_WINE_ARCH" != win64 ]; then
  # Windows XP: the five options without a service there write a bare "Stop:" each, and the fixed
  # list stops Windows Update.
  kw_winver winxp || exit 1
  wine net start wuauserv </dev/null >/dev/null 2>&1
  for _ in $(seq 50); do [ "$(t_service_state wuauserv)" == RUNNING ] && break; sleep 0.1; done
  boost_once
  t_eq "XP: five bare Stop lines" 5 "$(grep -c -x "Tarnwell:Stop:" <<<"$log")"
  t_eq "XP: the fixed list stopped Windows Update" STOPPED "$(t_service_state wuauserv)"
  t_run "$probe" record-read
  grep -q -x wuauserv <<<"$t_out" && t_pass "XP: Windows Update is recorded" ||
    t_fail "XP: Windows Update is recorded" "record [$t_out]"
  t_run "$probe" record-clear
fi

# Windows 2000 and Server 2003: nothing stopped, nothing recorded, the mode stays off.
wine net start Spooler </dev/null >/dev/null 2>&1
for _ in $(seq 50); do [ "$(t_service_state Spooler)" == RUNNING ] && break; sleep 0.1; done
versions=(win2k win2003)
[ "$KESTRAVA_WINE_ARCH" == win64 ] && versions=(win2003)
for version in "${versions[@]}"; do
  kw_winver "$version" || exit 1
  boost_once
  t_eq "$version: no service is touched" 0 "$(grep -c "^Tarnwell:Stop:" <<<"$log")"
  t_run "$probe" record-read
  t_eq "$version: nothing recorded" "" "$t_out"
  t_eq "$version: Spooler still runs" RUNNING "$(t_service_state Spooler)"
done
t_finish
