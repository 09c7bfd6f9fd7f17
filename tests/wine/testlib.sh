# Assertions and Wine helpers for the shell tests under Wine; sourced after tools/wine/lib.sh.
# Each check prints "ok NAME" or "FAIL NAME: why"; t_finish prints "N passed, N failed" and
# returns non-zero when a check failed.
# shellcheck shell=bash

t_passed=0
t_failed=0

# $T_LABEL, when set, goes in front of every check's name (e.g. the Windows version of the run),
# and so does "wow64" in a 64-bit prefix.
t_label() {
  local label=${T_LABEL:-}
  [ "$KESTRAVA_WINE_ARCH" = win64 ] && label="${label:+$label }wow64"
  echo "${label:+[$label] }"
}

t_pass() {
  t_passed=$((t_passed + 1))
  echo "ok $(t_label)$1"
}

t_fail() {
  t_failed=$((t_failed + 1))
  echo "FAIL $(t_label)$1: $2"
}

# t_eq NAME EXPECTED ACTUAL
t_eq() {
  if [ "$2" == "$3" ]; then
    t_pass "$1"
  else
    t_fail "$1" "expected [$(printf '%s' "$2" | tr '\n' '/')] got [$(printf '%s' "$3" | tr '\n' '/')]"
  fi
}

t_finish() {
  echo "$t_passed passed, $t_failed failed"
  [ "$t_failed" -eq 0 ]
}

# Runs a Windows program with stdin from /dev/null and sets $t_rc to its exit code and $t_out to
# its stdout without CRs. Its stderr is appended to $T_WORK/stderr.log.
t_run() {
  wine "$@" </dev/null >"$T_WORK/run.out" 2>>"$T_WORK/stderr.log"
  t_rc=$?
  t_out=$(tr -d '\r' <"$T_WORK/run.out")
}

# t_programs COUNT USAGE "$@": ends the script with code 2 unless it was given COUNT arguments,
# each an existing file (the programs it tests).
t_programs() {
  local count=$1 usage=$2 f
  shift 2
  [ $# -eq "$count" ] || { echo "usage: $usage" >&2; exit 2; }
  for f in "$@"; do
    [ -f "$f" ] || { echo "$(basename "$0"): missing $f" >&2; exit 2; }
  done
}

# Makes the work folder of a test group: $KESTRAVA_WINE_DIR/NAME.work (NAME-win64.work)
t_workdir() {
  T_WORK=$KESTRAVA_WINE_DIR/$1$kw_suffix.work
  rm -rf "$T_WORK"
  mkdir -p "$T_WORK"
  export T_WORK
}

# The set-up of a test of Kestrava.exe against Wine's Service Control Manager.

# t_service_programs "$@": ends the script with code 2 unless it was given the five programs such
# a test drives; sets exe, kdrive, probe, dbgcapture and service (the test service's Windows path).
t_service_programs() {
  t_programs 5 "$0 KESTRAVA_EXE KDRIVE_EXE PROBE_EXE DBGCAPTURE_EXE TEST_SERVICE_EXE" "$@"
  exe=$1
  kdrive=$2
  probe=$3
  dbgcapture=$4
  service=$(kw_winpath "$5")
}

# t_service_prefix NAME: the work folder NAME, a display, and a fresh prefix NAME started as
# Windows 7. Its processes, and a display started here, end when the script does.
t_service_prefix() {
  t_workdir "$1"
  kw_display || exit 1
  kw_prefix "$1" || exit 1
  trap 'kw_stop; kw_display_stop' EXIT
  kw_start
  kw_winver win7 || exit 1
}

# The state of service $1 as sc names it (RUNNING, STOPPED, STOP_PENDING...); empty when missing.
t_service_state() {
  wine sc query "$1" </dev/null 2>/dev/null | tr -d '\r' |
    sed -nE 's/ *STATE *: *[0-9]+ +([A-Z_]+).*/\1/p'
}

# t_create_services BEHAVIOURS: installs the test service ($service) under each name that the
# associative array named BEHAVIOURS holds, told the behaviour that is its value there.
t_create_services() {
  local -n behaviours=$1
  local s
  for s in "${!behaviours[@]}"; do
    wine sc create "$s" binPath= "$service ${behaviours[$s]}" DisplayName= "Test $s" \
      </dev/null >/dev/null 2>&1
  done
}

# t_start_services NAME...: starts the services, then waits up to 5 s for each to run.
t_start_services() {
  local s i
  for s in "$@"; do wine net start "$s" </dev/null >/dev/null 2>&1; done
  for s in "$@"; do
    for ((i = 0; i < 50; i++)); do
      [ "$(t_service_state "$s")" == RUNNING ] && break
      sleep 0.1
    done
  done
}

# The text of the main window's status panel $1 (0 or 1), as kdrive reads it.
t_panel() {
  t_run "$kdrive" panels
  sed -n "s/^$1|//p" <<<"$t_out"
}

# t_wait_panel N TEXT: waits up to 30 s for status panel N to read TEXT; false when it never does.
t_wait_panel() {
  local i
  for ((i = 0; i < 300; i++)); do
    [ "$(t_panel "$1")" == "$2" ] && return 0
    sleep 0.1
  done
  return 1
}
