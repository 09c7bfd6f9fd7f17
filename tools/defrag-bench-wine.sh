#!/usr/bin/env bash
# Runs defrag_bench as the product is built (mingw-w64 i686, Release: the Windows test build, whose
# compiler flags are the product's) under Wine, RUNS times (default 5), and prints each run's
# free-space scan and, last, the scan/copy ratio of every run. The figures of the product's scan:
# README, benchmarks.
#
#   tools/defrag-bench-wine.sh [RUNS]
#
# Builds defrag_bench first when needed, in build/win32-tests (or $KESTRAVA_BUILD_ROOT/win32-tests),
# configuring it when it is not there yet; the build's output is shown only when it fails. Runs in
# the Wine harness's emulator prefix (tools/wine/run.sh). Exit code 1: the build failed, or a run
# did not end well (its scan differed from the bit-by-bit one, say); 2: bad arguments.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
runs=${1:-5}
case $runs in
  '' | *[!0-9]* | 0)
    echo "usage: $(basename "$0") [RUNS]" >&2
    exit 2
    ;;
esac
build=${KESTRAVA_BUILD_ROOT:-$root/build}/win32-tests
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if [ ! -f "$build/build.ninja" ]; then
  (cd "$root" && cmake --preset win32-tests -B "$build") >"$log" 2>&1 || { cat "$log" >&2; exit 1; }
fi
cmake --build "$build" -j2 --target defrag_bench >"$log" 2>&1 || { cat "$log" >&2; exit 1; }

ratios=()
status=0
for run in $(seq "$runs"); do
  echo "=== run $run of $runs"
  bash "$root/tools/wine/run.sh" "$build/bench/defrag_bench.exe" >"$log" 2>&1 || status=1
  cat "$log"
  ratios+=("$(sed -nE 's/.*ratio scan\/copy ([0-9.]+).*/\1/p' "$log")")
done
echo "scan/copy in $runs runs: ${ratios[*]}"
exit "$status"
