#!/usr/bin/env bash
# The boosted-service record in the real (Wine) registry: a volatile key that lasts while the
# session lasts and is gone after a log-off (here: the wineserver stopped and started again).
#   record.sh PROBE_EXE
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../tools/wine/lib.sh"
. "$here/testlib.sh"
probe=$(kw_winpath "$1")
key='HKCU\Software\Kestrava\Tarnwell Kestrava FREE\BoostedService'
parent='HKCU\Software\Kestrava\Tarnwell Kestrava FREE'

t_workdir record
kw_prefix record || exit 1
trap kw_stop EXIT
kw_start

t_run "$probe" record-read
t_eq "no record in a new session" "0:" "$t_rc:$t_out"

# Written in this order; Windows enumerates values in write order, Wine sorted by name.
t_run "$probe" record-set Zeta
t_run "$probe" record-set Alpha
t_run "$probe" record-set Zeta
t_run "$probe" record-read
case "$t_out" in
  $'Zeta\nAlpha' | $'Alpha\nZeta') t_pass "names read back once each, in write or name order" ;;
  *) t_fail "names read back once each, in write or name order" "got [$(tr '\n' / <<<"$t_out")]" ;;
esac

t_run reg query "$key"
values=$(grep -c 'REG_DWORD *0x1$' <<<"$t_out")
t_eq "reg query sees two REG_DWORD 1 values" "0 2" "$t_rc $values"

t_run "$probe" record-remove Zeta
t_run "$probe" record-read
t_eq "remove forgets one name" "Alpha" "$t_out"
t_run "$probe" record-remove NeverRecorded
t_run "$probe" record-read
t_eq "removing an unknown name changes nothing" "0 Alpha" "$t_rc $t_out"

# A normal key beside it must survive the log-off: the restart loses only volatile keys.
t_run reg add 'HKCU\Software\KestravaTestControl' /v kept /t REG_DWORD /d 1 /f
kw_restart
t_run "$probe" record-read
t_eq "record gone after log-off" "0:" "$t_rc:$t_out"
t_run reg query "$key"
t_eq "reg query: record key gone after log-off" 1 "$t_rc"
t_run reg query 'HKCU\Software\Kestrava'
t_eq "reg query: parents created with it were volatile too" 1 "$t_rc"
t_run reg query 'HKCU\Software\KestravaTestControl'
t_eq "normal key survives the log-off" 0 "$t_rc"

t_run "$probe" record-set Spooler
t_run "$probe" record-clear
t_eq "clear exits 0" 0 "$t_rc"
t_run "$probe" record-read
t_eq "clear empties the record" "0:" "$t_rc:$t_out"
t_run reg query "$key"
t_eq "reg query: record key deleted" 1 "$t_rc"
t_run reg query "$parent"
t_eq "reg query: parent key stays" 0 "$t_rc"
t_run "$probe" record-clear
t_eq "clearing a missing record is fine" 0 "$t_rc"

# The read hands back the names in the order the registry enumerates them, whatever that order
# is: Windows gives the order of writing, Wine sorts by name. Written out of name order, so that
# the two differ; reg query enumerates the same values independently of the program.
written=(Spooler wuauserv BITS Schedule Audiosrv MSIServer)
for name in "${written[@]}"; do t_run "$probe" record-set "$name"; done
t_run "$probe" record-read
read_back=$t_out
t_run reg query "$key"
enumerated=$(sed -nE 's/^ +([^ ]+) +REG_DWORD +0x1$/\1/p' <<<"$t_out")
in_write_order=$(printf '%s\n' "${written[@]}")
in_name_order=$(LC_ALL=C sort -f <<<"$in_write_order")
case "$enumerated" in
  "$in_write_order") order="write order" ;;
  "$in_name_order") order="name order" ;;
  *) order="" ;;
esac
if [ -n "$order" ]; then
  t_pass "the registry enumerates all six values, in $order"
else
  t_fail "the registry enumerates all six values, in write or name order" \
    "got [$(tr '\n' / <<<"$enumerated")]"
fi
t_eq "the read returns the names in the registry's own order" "$enumerated" "$read_back"
t_run "$probe" record-clear

# A record key that another program of the user made as a normal key would outlive the log-off:
# the first write makes it anew as the program's own volatile key, with the names it held. A new
# session first: the parents the program made are volatile and would refuse a normal key.
kw_restart
t_run reg add "$key" /v Planted /t REG_DWORD /d 1 /f
t_run "$probe" record-volatile
t_eq "a planted record key is a normal key" normal "$t_out"
t_run "$probe" record-set Spooler
t_run "$probe" record-volatile
t_eq "after a write the record key is volatile" volatile "$t_out"
t_run "$probe" record-read
case "$t_out" in
  $'Planted\nSpooler' | $'Spooler\nPlanted') t_pass "the planted key's names are carried over" ;;
  *) t_fail "the planted key's names are carried over" "got [$(tr '\n' / <<<"$t_out")]" ;;
esac
kw_restart
t_run reg query "$key"
t_eq "the remade record is gone after log-off" 1 "$t_rc"

# A record key that is a registry link to a key the user may not write on Windows: the program
# reads, writes and deletes the link itself, never the key it points to.
victim='HKCU\Software\Policies\Victim'
t_run reg add "$victim" /v Keep /t REG_DWORD /d 7 /f
t_run "$probe" reg-link 'Software\Kestrava\Tarnwell Kestrava FREE\BoostedService' \
  'Software\Policies\Victim'
t_eq "a link is made at the record key" 0 "$t_rc"
t_run "$probe" record-read
t_eq "a link reads as no record" "0:" "$t_rc:$t_out"
t_run "$probe" record-set Spooler
t_run "$probe" record-read
t_eq "the first write replaces the link with the program's own key" Spooler "$t_out"
t_run "$probe" record-volatile
t_eq "the new record key is volatile" volatile "$t_out"
t_run "$probe" record-clear
t_run reg query "$victim"
values=$(grep -cE 'REG_' <<<"$t_out")
t_eq "the link's target is untouched by write and clear" "0 1 1" \
  "$t_rc $values $(grep -c 'Keep *REG_DWORD *0x7$' <<<"$t_out")"
t_run "$probe" reg-link 'Software\Kestrava\Tarnwell Kestrava FREE\BoostedService' \
  'Software\Policies\Victim'
t_run "$probe" record-clear
t_run reg query "$key"
t_eq "clearing deletes a link as a link" 1 "$t_rc"
t_run reg query "$victim"
t_eq "... and leaves its target" "0 1" "$t_rc $(grep -c 'Keep *REG_DWORD *0x7$' <<<"$t_out")"
t_finish
