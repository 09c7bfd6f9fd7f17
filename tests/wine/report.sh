#!/usr/bin/env bash
# The two report windows of the system menu, "Preview boost..." and "Last run details...", of the
# real Kestrava.exe against Wine's Service Control Manager as Windows 7, read from outside through
# kdrive. Services: Wine's own that the catalogue names (Spooler, StiSvc, BITS, TermService), and
# our test service under more catalogue names: one running with a description (hidserv), one
# installed and stopped (Browser), one that refuses the stop (WMPNetworkSvc), one that accepts only
# the shutdown control (ALG), one that takes two seconds to stop (SensrSvc); the catalogue's others
# are missing. (Wine's manager stops a service that running ones depend on, where Windows refuses
# with 1051: the preview's rule for dependents is proven on the host.) Every preview's
# verdicts must be the outcomes of the run that follows, service by service in order: a boost, a
# restore with the mode on (a name planted in the record that no boost stops included), a boost
# ended early by a game path on a missing drive, and as Vista a boost that tries AeLookupSvc twice.
# The preview's "would stop" set must be the set the boost records, and its verdicts must match
# that boost's debug lines; the last run's outcomes must match the debug lines of the boost and of
# the restore, and after the trim it shows memory as of when it was opened; the clipboard holds the
# table as text. While a boost runs, no preview opens. At the preview's opening size the name and
# the verdict columns are whole inside the list. At 144 DPI on 1024 x 768 the preview's window
# fits the screen and its controls stay apart down to its smallest size.
#   report.sh KESTRAVA_EXE KDRIVE_EXE PROBE_EXE DBGCAPTURE_EXE TEST_SERVICE_EXE
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../tools/wine/lib.sh"
. "$here/testlib.sh"
t_service_programs "$@"

# A screen of known size: without a display, t_service_prefix starts one at 1024 x 768.
unset DISPLAY
t_service_prefix report

preview=(-w "Preview boost")
details=(-w "Last run details")
# Opens the preview and waits up to 60 s for it to finish; its rows in $T_WORK/preview.txt.
open_preview() {
  t_run "$kdrive" syscommand 0x1010
  t_run "$kdrive" "${preview[@]}" wait 15
  local i progress=
  for ((i = 0; i < 600; i++)); do
    t_run "$kdrive" "${preview[@]}" gettext Static
    progress=$t_out
    [ "$progress" == "Finished." ] && break
    sleep 0.1
  done
  t_eq "the preview finishes" "Finished." "$progress"
  t_run "$kdrive" "${preview[@]}" rows
  printf '%s\n' "$t_out" >"$T_WORK/preview.txt"
}
# Opens the last run's window; its rows in $T_WORK/details.txt; closes it.
read_details() {
  t_run "$kdrive" syscommand 0x1020
  t_run "$kdrive" "${details[@]}" wait 15
  t_run "$kdrive" "${details[@]}" rows
  printf '%s\n' "$t_out" >"$T_WORK/details.txt"
  [ -n "$t_out" ] || echo "read_details: no rows (rc $t_rc)" >>"$T_WORK/stderr.log"
  t_run "$kdrive" "${details[@]}" click Close
  t_run "$kdrive" "${details[@]}" wait-gone 10
}
# The key names of the Services rows of a table file whose verdict or outcome field is $2.
# The key names of the Services rows of table file $1 with a field that is one of the texts $2...
services_with() {
  local file=$1
  shift
  awk -F'\t' -v texts="$(printf '%s\t' "$@")" '
    BEGIN { n = split(texts, t, "\t"); for (i = 1; i <= n; i++) if (t[i] != "") want[t[i]] = 1 }
    $1 == "Services" { for (i = 3; i <= NF; i++) if ($i in want) { print $2; break } }' "$file" | LC_ALL=C sort
}
# The debug lines' block of a service: its "Stop:" or "Start:" line and the one after.
debug_after() { grep -A1 -x -F "Tarnwell:$1:$2" <<<"$log" | sed -n 2p; }
# The Services rows of a preview ($1) as "name kind", in order, without those the run would not
# try; and of a last run's table ($2) the same way. Equal when the preview foresaw the run.
foreseen() {
  awk -F'\t' '
    NR == 1 { for (i = 1; i <= NF; i++) if ($i == "Verdict") v = i; next }
    $1 != "Services" || $2 == "" { next }
    $v ~ /^not tried: / || $v ~ /^not started: / { next }
    $v == "would stop" { print $2 " stopped"; next }
    $v == "would start" { print $2 " started"; next }
    $v == "already stopped" || $v == "already stopped by then" { print $2 " already stopped"; next }
    $v == "already running" { print $2 " already running"; next }
    $v == "not installed" { print $2 " missing"; next }
    $v == "does not accept a stop now" || $v ~ /^would be refused: / { print $2 " refused"; next }
    { print $2 " unknown: " $v }' "$1"
}
met() {
  awk -F'\t' '
    $1 != "Services" || $2 == "" { next }
    $3 ~ /^not started: / { next }
    $3 == "stopped" || $3 ~ /^stopped late/ { print $2 " stopped"; next }
    $3 == "started" { print $2 " started"; next }
    $3 == "already stopped" { print $2 " already stopped"; next }
    $3 == "already running" { print $2 " already running"; next }
    $3 == "not installed" || $4 ~ /does not exist/ { print $2 " missing"; next }
    $3 == "refused" || $3 ~ /^failed to start/ { print $2 " refused"; next }
    { print $2 " unknown: " $3 }' "$1"
}
# The cell of column $3 (by its header) in the Services row of service $2 of table file $1; the
# first such row, or the row's $4th one.
cell() {
  awk -F'\t' -v name="$2" -v col="$3" -v nth="${4:-1}" '
    NR == 1 { for (i = 1; i <= NF; i++) if ($i == col) c = i; next }
    $1 == "Services" && $2 == name && ++seen == nth { print $c; exit }' "$1"
}

declare -A behaviour=([hidserv]=plain [Browser]=plain [WMPNetworkSvc]=refuse-stop
  [SensrSvc]="stop-after 2000" [ALG]=shutdown-only)
t_create_services behaviour
description="Stops at once: the test service under a catalogue name."
wine sc description hidserv "$description" </dev/null >/dev/null 2>&1
running=(ALG BITS SensrSvc Spooler StiSvc TermService WMPNetworkSvc hidserv)
t_start_services "${running[@]}"
t_eq "the running services run, Browser is stopped" \
  "$(printf '%s RUNNING\n' "${running[@]}"; echo Browser STOPPED)" \
  "$(for s in "${running[@]}" Browser; do echo "$s $(t_service_state "$s")"; done)"

wine "$dbgcapture" "$exe" </dev/null >"$T_WORK/debug.txt" 2>>"$T_WORK/stderr.log" &
capture=$!
t_run "$kdrive" wait 15

# Before any run.
read_details
t_eq "before any run: the last run's window says so" \
  "$(printf 'Run\nNo boost or restore has run since Kestrava started.')" "$(cat "$T_WORK/details.txt")"

open_preview
cp "$T_WORK/preview.txt" "$T_WORK/preview-boost.txt"
t_run "$kdrive" "${preview[@]}" click Copy
sleep 0.5
wine "$kdrive" clipboard </dev/null >"$T_WORK/clipboard.txt" 2>>"$T_WORK/stderr.log"
t_eq "the clipboard holds the preview's rows as text" "$(cat "$T_WORK/preview.txt")" \
  "$(tr -d '\r' <"$T_WORK/clipboard.txt")"
lines=$(wc -l <"$T_WORK/clipboard.txt")
t_eq "every clipboard line ends with CR LF" "$lines" "$(grep -c $'\r$' "$T_WORK/clipboard.txt")"
t_eq "the description of a service given one is in its row" "$description" \
  "$(cell "$T_WORK/preview.txt" hidserv Description)"
t_eq "one that accepts only the shutdown control does not accept a stop" \
  "does not accept a stop now" "$(cell "$T_WORK/preview.txt" ALG Verdict)"
# As it opens, the name and verdict columns lie whole inside the list.
t_run "$kdrive" "${preview[@]}" columns
t_eq "kdrive reads the columns" 0 "$t_rc"
t_eq "the name and verdict columns are whole inside the list at the opening size" "" \
  "$(awk -F'\t' 'NR == 1 { split($0, c, " "); width = c[2]; next }
    { right = $2 + $3; if (right > width) print $1 " ends at " right " beyond " width
      if (($1 == "Name" || $1 == "Verdict") && $3 < 20) print $1 " is " $3 " wide" }' <<<"$t_out")"
t_run "$kdrive" "${preview[@]}" click Close
t_run "$kdrive" "${preview[@]}" wait-gone 10
t_eq "Close closes the preview" 0 "$t_rc"

# The boost that follows, and a preview asked for while it runs.
wine "$kdrive" click-watch "Enter Kestrava Mode" 60 </dev/null >"$T_WORK/watch.txt" 2>>"$T_WORK/stderr.log" &
watch=$!
sleep 0.5
t_run "$kdrive" syscommand 0x1010
sleep 1
t_run "$kdrive" "${preview[@]}" count
t_eq "no preview opens while a boost runs" 0 "$t_out"
wait "$watch"
t_wait_panel 1 "Kestrava Mode is ON" || t_fail "the boost ends with the mode on" "panel 1 reads [$(t_panel 1)]"
t_run "$probe" record-read
recorded=$(LC_ALL=C sort <<<"$t_out")
t_eq "the boost recorded what runs and accepts a stop" \
  "$(printf '%s\n' BITS SensrSvc Spooler StiSvc TermService hidserv | LC_ALL=C sort)" "$recorded"
t_eq "the preview's would-stop set is the set the boost recorded" "$recorded" \
  "$(services_with "$T_WORK/preview-boost.txt" "would stop")"
read_details
cp "$T_WORK/details.txt" "$T_WORK/details-boost.txt"
t_eq "the last run's stopped services are the record" "$recorded" \
  "$(services_with "$T_WORK/details-boost.txt" stopped "stopped late, recorded all the same")"
t_eq "the boost's outcomes are the preview's verdicts" "$(foreseen "$T_WORK/preview-boost.txt")" \
  "$(met "$T_WORK/details-boost.txt")"
now=$(awk -F'\t' '$1 == "Memory" && $2 ~ /^Available physical memory now \([0-9]+ s after the trim\)$/ { print $2 }
  $1 == "Memory" && $2 == "Sum of working sets now" { print $2 }' "$T_WORK/details-boost.txt")
t_eq "the last run's details show memory now, beside the readings after the trim" 2 \
  "$(grep -c . <<<"$now")"
t_eq "the readings now follow those after the trim" "after the trim|after the trim|now|now" \
  "$(awk -F'\t' '$1 == "Memory" && $2 ~ /after the trim$|now/ {
      print ($2 ~ /now/ ? "now" : "after the trim") }' "$T_WORK/details-boost.txt" | paste -sd'|')"

# With the mode on, the preview shows the restore, a name no boost stops included.
t_run "$probe" record-set RTCore64
open_preview
t_eq "with the mode on the preview shows a restore" "Restore" \
  "$(awk -F'\t' '$1 == "Run" { print $2; exit }' "$T_WORK/preview.txt")"
t_eq "a planted name would not be started" "not started: not a service this program stops" \
  "$(cell "$T_WORK/preview.txt" RTCore64 Verdict)"
t_eq "every recorded service would start" "$recorded" \
  "$(services_with "$T_WORK/preview.txt" "would start")"
cp "$T_WORK/preview.txt" "$T_WORK/preview-restore.txt"
t_run "$kdrive" "${preview[@]}" click Close
t_run "$kdrive" "${preview[@]}" wait-gone 10

t_run "$kdrive" click "Quit Kestrava Mode"
t_wait_panel 1 "Kestrava Mode is OFF" || t_fail "the restore ends with the mode off" "panel 1 reads [$(t_panel 1)]"
read_details
cp "$T_WORK/details.txt" "$T_WORK/details-restore.txt"
t_eq "the restore's outcomes are the preview's verdicts" \
  "$(foreseen "$T_WORK/preview-restore.txt")" \
  "$(met "$T_WORK/details-restore.txt" | grep -v '^RTCore64 ')"

# A boost ended early: a game path on a drive that does not exist.
t_run "$kdrive" click "Defrag the path of the game:"
t_run "$kdrive" settext Edit 'Q:\Games'
open_preview
cp "$T_WORK/preview.txt" "$T_WORK/preview-early.txt"
t_run "$kdrive" "${preview[@]}" click Close
t_run "$kdrive" "${preview[@]}" wait-gone 10
wine "$kdrive" click-watch "Enter Kestrava Mode" 60 </dev/null >>"$T_WORK/watch.txt" 2>>"$T_WORK/stderr.log"
early=$(t_panel 0)
case $early in
  "Boost ended early: "?*) t_pass "panel 0 says the boost ended early ($early)" ;;
  *) t_fail "panel 0 says the boost ended early" "[$early]" ;;
esac
read_details
# The list shows a line break of the reason as a space, the panel one space for any.
reason=$(awk -F'\t' '$1 == "Run" { print $3 "|" $4 }' "$T_WORK/details.txt" | tr -s ' ')
t_eq "the last run ended early, with the panel's reason" "ended early|${early#Boost ended early: }" "$reason"
t_eq "and the mode stays off" "Kestrava Mode is OFF" "$(t_panel 1)"
t_eq "the preview foresaw it: no service tried, each with the reason" \
  "not tried: the boost would end early: ${early#Boost ended early: }" \
  "$(awk -F'\t' 'NR == 1 { for (i = 1; i <= NF; i++) if ($i == "Verdict") v = i; next }
      $1 == "Services" { print $v }' "$T_WORK/preview-early.txt" | LC_ALL=C sort -u | tr -s ' ')"
t_eq "the early boost's outcomes are the preview's verdicts" \
  "$(foreseen "$T_WORK/preview-early.txt")" "$(met "$T_WORK/details.txt")"

t_run "$kdrive" click Close
wait "$capture" 2>/dev/null
log=$(tr -d '\r' <"$T_WORK/debug.txt")

# The preview's verdicts against what the boost wrote of each service, and the last run's
# outcomes against the lines of the boost and of the restore.
declare -A boost_line=(["would stop"]="Tarnwell:Stop service Successfully"
  ["already stopped"]="Tarnwell:Already Stopped"
  ["not installed"]="Tarnwell:OpenService Error:Service does not exist")
mismatch=
while IFS=$'\t' read -r section name rest; do
  [ "$section" == Services ] && [ -n "$name" ] || continue
  for verdict in "${!boost_line[@]}"; do
    case $'\t'"$rest"$'\t' in
      *$'\t'"$verdict"$'\t'*)
        got=$(debug_after Stop "$name")
        # One still stopping when the wait ended is logged as failed, and recorded all the same.
        late=$(awk -F'\t' -v n="$name" '$1 == "Services" && $2 == n { print $3 }' "$T_WORK/details-boost.txt")
        [ "$got" == "${boost_line[$verdict]}" ] ||
          { [ "$verdict" == "would stop" ] && [ "$got" == "Tarnwell:Failed to stop service!" ] &&
            [ "$late" == "stopped late, recorded all the same" ]; } ||
          mismatch+="$name: $verdict but [$got]; "
        ;;
    esac
  done
  case $rest in
    *"does not accept a stop"*)
      got=$(debug_after Stop "$name")
      [ "$got" == "Tarnwell:ControlService Error:Invalid service control" ] ||
        mismatch+="$name: refuses but [$got]; "
      ;;
  esac
done <"$T_WORK/preview-boost.txt"
t_eq "the preview's verdicts match the boost's debug lines" "" "$mismatch"
t_eq "the preview has a verdict of each kind" \
  "$(printf '%s\n' "Browser already stopped" "UxSms not installed" \
    "WMPNetworkSvc does not accept a stop now" "hidserv would stop" | LC_ALL=C sort)" \
  "$(awk -F'\t' '$1 == "Services" && ($2 == "Browser" || $2 == "UxSms" || $2 == "WMPNetworkSvc" ||
    $2 == "hidserv") { print $2 " " $NF }' "$T_WORK/preview-boost.txt" | LC_ALL=C sort)"
declare -A outcome_line=([stopped]="Tarnwell:Stop service Successfully"
  ["already stopped"]="Tarnwell:Already Stopped"
  ["not installed"]="Tarnwell:OpenService Error:Service does not exist"
  [refused]="Tarnwell:ControlService Error:Invalid service control")
mismatch=
while IFS=$'\t' read -r section name outcome _; do
  [ "$section" == Services ] && [ -n "$name" ] && [ -n "${outcome_line[$outcome]:-}" ] || continue
  got=$(debug_after Stop "$name")
  [ "$got" == "${outcome_line[$outcome]}" ] || mismatch+="$name: $outcome but [$got]; "
done <"$T_WORK/details-boost.txt"
t_eq "the boost's outcomes match its debug lines" "" "$mismatch"
t_eq "the boost's outcome of the one that refuses" "refused" \
  "$(awk -F'\t' '$1 == "Services" && $2 == "WMPNetworkSvc" { print $3 }' "$T_WORK/details-boost.txt")"
mismatch=
while IFS=$'\t' read -r section name outcome _; do
  [ "$section" == Services ] && [ -n "$name" ] || continue
  got=$(debug_after Start "$name")
  case $outcome in
    started) [ "$got" == "Tarnwell:Start Service Successfully" ] || mismatch+="$name: started but [$got]; " ;;
    *) [ "$got" != "Tarnwell:Start Service Successfully" ] || mismatch+="$name: $outcome but [$got]; " ;;
  esac
done <"$T_WORK/details-restore.txt"
t_eq "the restore's outcomes match its debug lines" "" "$mismatch"
t_eq "the restore started every recorded service" "$recorded" \
  "$(services_with "$T_WORK/details-restore.txt" started)"

# As Vista, AeLookupSvc is an option's service and the head of the fixed list: the boost's second
# try finds it stopped, and the preview says so.
kw_winver vista || t_fail "the prefix reports Vista" "winecfg failed"
declare -A vista=([AeLookupSvc]=plain)
t_create_services vista
t_start_services AeLookupSvc
wine "$exe" </dev/null >>"$T_WORK/app.log" 2>&1 &
app=$!
t_run "$kdrive" wait 20
open_preview
t_eq "as Vista the second try of AeLookupSvc reads already stopped by then" \
  "would stop|already stopped by then" \
  "$(cell "$T_WORK/preview.txt" AeLookupSvc Verdict)|$(cell "$T_WORK/preview.txt" AeLookupSvc Verdict 2)"
t_run "$kdrive" "${preview[@]}" click Close
t_run "$kdrive" "${preview[@]}" wait-gone 10
wine "$kdrive" click-watch "Enter Kestrava Mode" 60 </dev/null >>"$T_WORK/watch.txt" 2>>"$T_WORK/stderr.log"
read_details
t_eq "as Vista the boost's outcomes are the preview's verdicts" "$(foreseen "$T_WORK/preview.txt")" \
  "$(met "$T_WORK/details.txt")"
t_run "$kdrive" click "Quit Kestrava Mode"
t_wait_panel 1 "Kestrava Mode is OFF" || t_fail "the Vista restore ends with the mode off" "[$(t_panel 1)]"
t_run "$kdrive" close
t_run "$kdrive" wait-gone 20
wait "$app"
kw_winver win7 || t_fail "the prefix reports Windows 7 again" "winecfg failed"

# At 144 DPI on 1024 x 768: the preview's window inside the work area, its controls inside it and
# apart, as opened and at the smallest size it can be made.
rect_problems() {
  awk -F'|' '
    function inside(a, o) { return a[1] >= o[1] && a[2] >= o[2] && a[3] <= o[3] && a[4] <= o[4] }
    function apart(a, b) { return a[3] <= b[1] || b[3] <= a[1] || a[4] <= b[2] || b[4] <= a[2] }
    NF == 1 { split($1, h, " "); head[h[1]] = h[2] " " h[3] " " h[4] " " h[5]; next }
    $2 == -1 { count++; outer[count] = $3; text[count] = $5 "|" $6 }
    END {
      split(head["workarea"], work, " "); split(head["window"], win, " "); split(head["client"], c, " ")
      if (!inside(win, work)) print "window " head["window"] " outside the work area " head["workarea"]
      for (i = 1; i <= count; i++) {
        split(outer[i], a, " ")
        if (!inside(a, c) || a[3] <= a[1] || a[4] <= a[2]) print "[" text[i] "] " outer[i] " outside " head["client"]
        for (j = 1; j < i; j++) { split(outer[j], b, " "); if (!apart(a, b)) print "[" text[j] "] overlaps [" text[i] "]" }
      }
      if (count != 5) print count " controls"
    }'
}
wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 144 /f </dev/null >/dev/null 2>&1
wine "$exe" </dev/null >>"$T_WORK/app.log" 2>&1 &
app=$!
t_run "$kdrive" wait 20
open_preview
t_run "$kdrive" "${preview[@]}" rects
t_eq "144 dpi: the preview's window fits, its controls apart" "" "$(rect_problems <<<"$t_out")"
t_run "$kdrive" "${preview[@]}" resize 200 120
smallest=$t_out
t_run "$kdrive" "${preview[@]}" rects
t_eq "144 dpi: at its smallest ($smallest) still apart" "" "$(rect_problems <<<"$t_out")"
# Closed with the main window: the process ends.
t_run "$kdrive" close
t_run "$kdrive" wait-gone 20
wait "$app"
t_eq "the program ends with 0 with the preview open" 0 "$?"
t_finish
