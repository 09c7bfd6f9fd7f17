#!/usr/bin/env bash
# Kestrava.exe on a small screen (1024 x 768) at 96, 120 and 144 DPI under Wine, seen from outside
# through kdrive: the window lies inside the work area, every control is inside its parent and
# clear of its siblings, the bottom buttons stay below the service options, and the window cannot
# be made smaller than the size at which that still holds.
#   small_screen.sh KESTRAVA_EXE KDRIVE_EXE
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../tools/wine/lib.sh"
. "$here/testlib.sh"
t_programs 2 "$0 KESTRAVA_EXE KDRIVE_EXE" "$@"
exe=$1
kdrive=$2

t_workdir small-screen
# A screen of known size, whatever display the caller has: kw_display starts one at 1024 x 768.
unset DISPLAY
kw_display || exit 1
kw_prefix small-screen || exit 1
trap 'kw_stop; kw_display_stop' EXIT
kw_start

kd() { t_run "$kdrive" "$@"; }

# Reads kdrive's rects output on stdin and prints one line per problem: the window outside the
# work area, a control outside its parent's client area, two siblings overlapping, a bottom button
# not below every option of "Boost Option 2", or fewer controls than the window has.
layout_problems() {
  awk -F'|' '
    function inside(a, o) { return a[1] >= o[1] && a[2] >= o[2] && a[3] <= o[3] && a[4] <= o[4] }
    function apart(a, b) { return a[3] <= b[1] || b[3] <= a[1] || a[4] <= b[2] || b[4] <= a[2] }
    NF == 1 { split($1, h, " "); head[h[1]] = h[2] " " h[3] " " h[4] " " h[5]; next }
    {
      n = $1; count++; id[count] = n; parent[n] = $2; outer[n] = $3; inner[n] = $4; text[n] = $6
      if ($6 == "Boost Option 2") options = n
    }
    END {
      split(head["workarea"], work, " "); split(head["window"], win, " ")
      if (!inside(win, work)) print "window " head["window"] " outside the work area " head["workarea"]
      inner[-1] = head["client"]
      for (i = 1; i <= count; i++) {
        n = id[i]; split(outer[n], a, " "); split(inner[parent[n]], p, " ")
        if (!inside(a, p)) print "[" text[n] "] " outer[n] " outside its parent " inner[parent[n]]
        for (j = 1; j < i; j++) {
          m = id[j]; split(outer[m], b, " ")
          if (parent[m] == parent[n] && !apart(a, b)) {
            print "[" text[m] "] " outer[m] " overlaps [" text[n] "] " outer[n]
          }
        }
        if (options != "" && parent[n] == options) {
          boxes++
          if (a[4] > lowest) lowest = a[4]
        }
      }
      if (count < 25) print "only " count " visible controls"
      if (boxes != 12) print boxes + 0 " options in Boost Option 2"
      for (i = 1; i <= count; i++) {
        n = id[i]
        if (text[n] != "Enter Kestrava Mode" && text[n] != "Close") continue
        buttons++; split(outer[n], a, " ")
        if (a[2] < lowest) print "[" text[n] "] top " a[2] " above the last option bottom " lowest
      }
      if (buttons != 2) print buttons + 0 " bottom buttons"
    }'
}

# check_layout NAME: the window's geometry as it is now has no problems.
check_layout() {
  kd rects
  rects=$t_out
  t_eq "$1" "" "$(layout_problems <<<"$rects")"
}

# The "client L T R B" line of the last rects, as "WIDTH HEIGHT".
client_size() { awk '$1 == "client" { print $4 - $2, $5 - $3 }' <<<"$rects"; }
window_size() { awk '$1 == "window" { print $4 - $2, $5 - $3 }' <<<"$rects"; }

for dpi in 96 120 144; do
  T_LABEL="$dpi dpi"
  # Wine 8 takes the system DPI from this value at each process start (HKCC\Software\Fonts
  # LogPixels also works, but only where this one is absent).
  wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f </dev/null >/dev/null 2>&1
  wine "$exe" </dev/null >>"$T_WORK/app.log" 2>&1 &
  app_pid=$!
  kd wait 20
  if [ "$t_rc" -ne 0 ]; then
    t_fail "window opens" "no main window"
    kw_restart
    wait "$app_pid"
    continue
  fi
  check_layout "as opened: inside the work area, controls apart, buttons below the options"
  opened=$(window_size)
  client=$(client_size)
  read -r width height <<<"$client"
  case $dpi in
    # Where the scaled window fits, it keeps the design's client area at the system's scale.
    96) t_eq "client area as designed" "792 533" "$client" ;;
    120) t_eq "client area scaled by 125 %" "990 666" "$client" ;;
    # 1200 x 840 does not fit 1024 x 768: scaled less than 150 % but not less than where it fits.
    144)
      if [ "$width" -ge 990 ] && [ "$width" -lt 1188 ] && [ "$height" -ge 666 ] && [ "$height" -lt 800 ]; then
        t_pass "client area scaled between 125 % and 150 % ($client)"
      else
        t_fail "client area scaled between 125 % and 150 %" "$client"
      fi
      ;;
  esac
  echo "# $dpi dpi: window $opened, client $client" >&2

  kd resize 300 200
  smallest=$t_out
  read -r min_w min_h <<<"$smallest"
  read -r open_w open_h <<<"$opened"
  if [ "$min_w" -gt 300 ] && [ "$min_h" -gt 200 ] && [ "$min_w" -lt "$open_w" ] && [ "$min_h" -lt "$open_h" ]; then
    t_pass "shrinking stops between 300 x 200 and the opened size ($smallest)"
  else
    t_fail "shrinking stops between 300 x 200 and the opened size" "opened $opened, took $smallest"
  fi
  kd resize $((min_w - 1)) $((min_h - 1))
  t_eq "one pixel less is refused" "$smallest" "$t_out"
  check_layout "at the smallest size: controls apart, buttons below the options"

  kd close
  for _ in $(seq 100); do
    kill -0 "$app_pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$app_pid" 2>/dev/null; then
    t_fail "window closes" "still running after 10 s"
    kw_restart  # ends it with the prefix's server, so that the next DPI starts clean
  fi
  wait "$app_pid"
  t_eq "window closes with code 0" 0 "$?"
done

t_finish
