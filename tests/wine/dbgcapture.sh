#!/usr/bin/env bash
# dbgcapture itself: every line from every thread in order, the program's own exceptions passed
# back to it, its exit code, its stdout kept apart, a crash and a time limit.
#   dbgcapture.sh DBGCAPTURE_EXE DEBUGGEE_EXE
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../tools/wine/lib.sh"
. "$here/testlib.sh"
capture=$1
debuggee=$(kw_winpath "$2")

t_workdir dbgcapture
kw_prefix dbgcapture || exit 1
trap kw_stop EXIT
kw_start
dbg=$T_WORK/debug.txt

t_run "$capture" -t 60 -o "$(kw_winpath "$dbg")" "$debuggee" lines
t_eq "exit code of the program" 42 "$t_rc"
t_eq "program's stdout apart from the debug lines" "stdout line" "$t_out"
t_eq "debug lines from both threads, in order" \
  "$(echo "main start"; seq 0 999 | sed 's/^/thread /'; echo "main end")" \
  "$(tr -d '\r' <"$dbg")"

# Without -o the lines go to stdout.
t_run "$capture" -t 60 "$debuggee" lines
t_eq "lines on stdout without -o" 1002 "$(grep -c -e '^main ' -e '^thread ' <<<"$t_out")"

# An access violation is not ours to handle: the program dies of it (0xC0000005, low byte 5).
t_run "$capture" -t 60 "$debuggee" crash
t_eq "crash passed back to the program" 5 "$t_rc"

# The program would sleep for a minute: ending well before that is the limit's doing, however long
# Wine takes to start the two programs on a busy machine.
start=$SECONDS
t_run "$capture" -t 1 "$debuggee" sleep
t_eq "time limit ends the program" 124 "$t_rc"
if [ $((SECONDS - start)) -lt 45 ]; then t_pass "time limit is prompt"; else t_fail "time limit is prompt" "took $((SECONDS - start)) s"; fi
t_finish
