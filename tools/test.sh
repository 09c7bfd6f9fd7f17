#!/usr/bin/env bash
# Builds and runs every test of the project; the last line is "N passed, N failed".
#
#   1. host build with AddressSanitizer and UBSan (build/host): the portable core's tests
#   2. libFuzzer targets with clang (build/fuzz), run by ctest for a short time each
#   3. Windows test build (build/win32-tests, posix threads): the same tests plus the Win32 adapter
#      tests and the Wine tests of dbgcapture, the version code and the record, all under Wine, in
#      a 32-bit prefix and again in a 64-bit one (WOW64, where most users run a 32-bit program)
#   4. the product build (build/win32): the XP import check of Kestrava.exe, and the end-to-end
#      tests of Kestrava.exe under Wine on a virtual display: as XP, 7 and 8 in a 32-bit prefix, as
#      7 under WOW64; the boost against Wine's services and a DLL planted beside the exe in both
#      prefixes; the game-path defragmentation as 7 in the 32-bit prefix
#   5. the release (tools/release.sh) built twice, in two folders and 400 days apart as the tools
#      see it, compared byte for byte
#
# Each build is a configure preset of CMakePresets.json (host, fuzz, win32-tests, win32).
# Installs what is missing first (tools/install-deps.sh). Exits non-zero when anything failed.
# Environment: KESTRAVA_BUILD_ROOT (default build/) for the build folders and Wine prefixes,
# KESTRAVA_JOBS (default: the number of cores).
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root" || exit 1
started=$SECONDS

bash tools/install-deps.sh </dev/null || { echo "install-deps failed"; echo "0 passed, 1 failed"; exit 1; }

builds=${KESTRAVA_BUILD_ROOT:-$root/build}
mkdir -p "$builds"
builds=$(cd "$builds" && pwd)
export KESTRAVA_WINE_DIR=$builds/wine
. tools/wine/lib.sh
jobs=${KESTRAVA_JOBS:-$(nproc)}
logs=$builds/test-logs
rm -rf "$logs"
mkdir -p "$logs"

passed=0
failed=0
problems=()

note() { printf '\n=== %s (%d s)\n' "$*" $((SECONDS - started)); }

# A step that is not a test run itself (configure, build): its failure counts as one failed test.
must() {
  local name=$1 log=$logs/$1.log
  shift
  if "$@" </dev/null >"$log" 2>&1; then
    return 0
  fi
  tail -n 40 "$log"
  echo "FAILED: $name (log: $log)"
  failed=$((failed + 1))
  problems+=("$name")
  return 1
}

# Configures the build of a preset of CMakePresets.json in $builds/PRESET (the preset's own folder
# is build/PRESET; KESTRAVA_BUILD_ROOT moves them all).
configure() { cmake --preset "$1" -B "$builds/$1"; }

# Runs ctest in a build folder and adds its results to the counts.
run_ctest() {
  local name=$1 dir=$2 log=$logs/$1.log summary total bad
  shift 2
  ctest --test-dir "$dir" -j "$jobs" --output-on-failure --no-tests=error "$@" </dev/null 2>&1 | tee "$log"
  local rc=${PIPESTATUS[0]}
  summary=$(grep -E '^[0-9]+% tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
  if [ -n "$summary" ]; then
    bad=$(sed -E 's/.* ([0-9]+) tests? failed out of .*/\1/' <<<"$summary")
    total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$summary")
    passed=$((passed + total - bad))
    failed=$((failed + bad))
    [ "$bad" -eq 0 ] || problems+=("$name: $bad of $total")
  fi
  if [ "$rc" -ne 0 ] && { [ -z "$summary" ] || [ "$bad" -eq 0 ]; }; then
    failed=$((failed + 1))
    problems+=("$name: ctest exit $rc")
  fi
}

# Runs a test script that ends with "N passed, N failed" and adds its counts.
run_script() {
  local name=$1 log=$logs/$1.log summary p f
  shift
  "$@" </dev/null 2>&1 | tee "$log"
  local rc=${PIPESTATUS[0]}
  summary=$(grep -E '^[0-9]+ passed, [0-9]+ failed$' "$log" | tail -n 1)
  p=0
  f=0
  if [ -n "$summary" ]; then
    read -r p _ f _ <<<"$summary"
  fi
  if [ "$rc" -ne 0 ] && [ "$f" -eq 0 ]; then
    f=1  # ended badly before it could count
  fi
  passed=$((passed + p))
  failed=$((failed + f))
  [ "$f" -eq 0 ] || problems+=("$name: $f failed")
}

cleanup() {
  # Every prefix of this run, by prefix: other people's Wine processes stay untouched.
  local prefix
  [ ${#template_jobs[@]} -eq 0 ] || wait "${template_jobs[@]}" 2>/dev/null
  for prefix in "$KESTRAVA_WINE_DIR"/*/; do
    [ -f "$prefix/system.reg" ] && WINEPREFIX=${prefix%/} wineserver -k 2>/dev/null
  done
  for prefix in "$KESTRAVA_WINE_DIR"/*/; do
    [ -f "$prefix/system.reg" ] && WINEPREFIX=${prefix%/} wineserver -w 2>/dev/null
  done
  # A prefix takes ~600 MB (1.3 GB for win64): after a clean run only the templates stay (and the
  # tests' logs in the *.work folders); after a failure everything stays for a look.
  if [ "$failed" -eq 0 ]; then
    for prefix in "$KESTRAVA_WINE_DIR"/*/; do
      prefix=${prefix%/}
      case $prefix in */template | */template-win64 | *.work) continue ;; esac
      [ -f "$prefix/system.reg" ] && rm -rf "$prefix"
    done
  fi
  kw_display_stop
}
template_jobs=()
trap cleanup EXIT

# One virtual display for every Wine program of the run, unless there is a display already.
kw_display || { echo "no display and Xvfb would not start"; failed=$((failed + 1)); }

# The Wine templates (15-30 s each, the first time) are made while the host build compiles; the
# first test that needs one waits for it.
for arch in win32 win64; do
  KESTRAVA_WINE_ARCH=$arch bash -c '. tools/wine/lib.sh && kw_template' </dev/null \
    >"$logs/template-$arch.log" 2>&1 &
  template_jobs+=($!)
done

note "house rules (tools/check-conventions.sh)"
run_script conventions bash tools/check-conventions.sh

note "host build with sanitizers (build/host)"
if must host-configure configure host &&
   must host-build cmake --build "$builds/host" -j "$jobs"; then
  run_ctest host "$builds/host"
fi

note "fuzzers (build/fuzz)"
if [ ! -f fuzz/CMakeLists.txt ]; then
  echo "skipped: fuzz/ has no targets yet"
elif must fuzz-configure configure fuzz &&
     must fuzz-build cmake --build "$builds/fuzz" -j "$jobs"; then
  if [ "$(ctest --test-dir "$builds/fuzz" -N 2>/dev/null | sed -nE 's/^Total Tests: ([0-9]+)/\1/p')" = 0 ]; then
    echo "skipped: the fuzz build has no fuzz tests yet"
  else
    run_ctest fuzz "$builds/fuzz"
  fi
fi

note "Windows test build under Wine (build/win32-tests)"
if must win32-tests-configure configure win32-tests &&
   must win32-tests-build cmake --build "$builds/win32-tests" -j "$jobs"; then
  run_ctest win32-tests "$builds/win32-tests" --timeout 600
  KESTRAVA_WINE_ARCH=win64 run_ctest win32-tests-wow64 "$builds/win32-tests" --timeout 600
fi

note "product build (build/win32)"
if must win32-configure configure win32 &&
   must win32-build cmake --build "$builds/win32" -j "$jobs"; then
  exe=$builds/win32/app/Kestrava.exe

  note "XP import check"
  run_script xp-check bash -c "python3 tests/xp_imports/check_xp_exe.py '$exe' &&
    echo '1 passed, 0 failed' || echo '0 passed, 1 failed'"
  run_script xp-check-selftest bash tests/xp_imports/selftest.sh "$builds/xp-selftest"

  note "end-to-end tests of Kestrava.exe under Wine"
  probe=$builds/win32-tests/tests/win32/kestrava_probe.exe
  if [ -f "$probe" ]; then
    # As Windows XP, the oldest system it is made for, as Windows 7, 32-bit and 64-bit, and as
    # Windows 8 (NT 6.2, what every later Windows reports to it), which boosts with 7's lists.
    for run in "win32 winxp" "win32 win7" "win64 win7" "win32 win8"; do
      read -r arch winver <<<"$run"
      name=e2e-$winver
      [ "$arch" = win64 ] && name=$name-wow64
      KESTRAVA_WINE_ARCH=$arch KESTRAVA_E2E_WINVER=$winver run_script "$name" \
        bash tests/wine/e2e.sh "$exe" "$builds/win32/tools/kdrive.exe" "$probe"
    done
  else
    echo "FAILED: e2e needs $probe from the Windows test build"
    failed=$((failed + 1))
    problems+=("e2e: no probe")
  fi
  run_script small-screen bash tests/wine/small_screen.sh "$exe" "$builds/win32/tools/kdrive.exe"
  if [ -f "$probe" ]; then
    # The boost and restore, then the preview and the last run's details, then a DLL planted beside
    # the exe (which needs only the exe and kdrive); 32-bit and under WOW64.
    for script in boost report planted_dll; do
      for arch in win32 win64; do
        name=$script
        [ "$arch" = win64 ] && name=$script-wow64
        KESTRAVA_WINE_ARCH=$arch run_script "$name" bash "tests/wine/$script.sh" "$exe" \
          "$builds/win32/tools/kdrive.exe" "$probe" "$builds/win32/tools/dbgcapture.exe" \
          "$(dirname "$probe")/test_service.exe"
      done
    done
  fi
  # The defragmentation of the game path, as Windows 7 in the 32-bit prefix.
  run_script defrag bash tests/wine/defrag.sh "$exe" "$builds/win32/tools/kdrive.exe" \
    "$builds/win32/tools/dbgcapture.exe"
fi

note "reproducible release (two product builds in $builds/release-check)"
KESTRAVA_JOBS=$jobs run_script release bash tests/release/reproducible.sh "$builds/release-check"

note "done"
if [ ${#problems[@]} -gt 0 ]; then
  printf 'failed: %s\n' "${problems[@]}"
fi
echo "total time $((SECONDS - started)) s; logs in $logs"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
