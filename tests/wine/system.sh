#!/usr/bin/env bash
# System routines on the real (Wine) system: the volume cluster size and its error, the WOW64 flags.
#   system.sh PROBE_EXE
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../tools/wine/lib.sh"
. "$here/testlib.sh"
probe=$1

t_workdir system
kw_prefix system || exit 1
trap kw_stop EXIT
kw_start

# Wine's C: has 4096-byte clusters; any path on the volume asks its root.
t_run "$probe" cluster 'C:\'
t_eq "cluster size of C:" "0 4096" "$t_rc $t_out"
t_run "$probe" cluster 'c:\windows\system32\no such file'
t_eq "cluster size of a path on C:" "0 4096" "$t_rc $t_out"

# A drive that does not exist, and a network path (its "drive" is two backslashes): the error
# carries the system's message, glued on, without its full stop or line end.
for path in 'Q:\Games' '\\server\share\Games'; do
  t_run "$probe" cluster "$path"
  if [ "$t_rc" -eq 1 ] && [[ "$t_out" =~ ^Df\ Error\ 2009[^\ .].*[^.\ ]$ ]] && [ "$(wc -l <<<"$t_out")" -eq 1 ]; then
    t_pass "cluster size of $path raises Df Error 2009 with the message ($t_out)"
  else
    t_fail "cluster size of $path raises Df Error 2009 with the message" "exit $t_rc, [$t_out]"
  fi
done

# A 32-bit prefix is a 32-bit Windows: no WOW64; a 64-bit one runs the probe under WOW64. Wine has
# the redirection entry points in both.
t_run "$probe" redir
if [ "$KESTRAVA_WINE_ARCH" = win64 ]; then
  t_eq "WOW64 flags in a 64-bit system" "IsWow64=1
RedirAvailable=1" "$t_out"
else
  t_eq "WOW64 flags in a 32-bit system" "IsWow64=0
RedirAvailable=1" "$t_out"
fi
t_finish
