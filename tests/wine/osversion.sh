#!/usr/bin/env bash
# The Windows version code and its two debug lines, for every version Wine can report.
#   osversion.sh PROBE_EXE DBGCAPTURE_EXE
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../tools/wine/lib.sh"
. "$here/testlib.sh"
probe=$(kw_winpath "$1")
capture=$2

t_workdir osversion
kw_prefix osversion || exit 1
trap kw_stop EXIT
kw_start
dbg=$T_WORK/debug.txt

# version for winecfg, expected code, major, minor. A 64-bit Windows has no XP but XP x64 (5.2)
# and no Windows 2000.
rows=("winxp 6 5 1" "vista 8 6 0" "win7 9 6 1" "win2k 5 5 0" "win2003 7 5 2")
[ "$KESTRAVA_WINE_ARCH" = win64 ] && rows=("winxp64 7 5 2" "vista 8 6 0" "win7 9 6 1" "win2003 7 5 2")
for row in "${rows[@]}"; do
  read -r version code major minor <<<"$row"
  rm -f "$dbg"
  kw_winver "$version" || { t_fail "$version" "winecfg -v $version failed"; continue; }
  t_run "$capture" -t 30 -o "$(kw_winpath "$dbg")" "$probe" osversion
  t_eq "$version exit code" 0 "$t_rc"
  t_eq "$version code" "$code" "$t_out"
  t_eq "$version debug lines" "Tarnwell:majorVer = $major
Tarnwell:minorVer = $minor" "$(tr -d '\r' <"$dbg" 2>/dev/null)"
done
t_finish
