#!/usr/bin/env bash
# Runs the defragmentation engine on a simulated volume written as text and prints its debug
# lines, events, result and the volume after the run (tools/defrag_sim/defrag_sim.cpp says how).
#
#   tools/defrag-sim.sh VOLUME FOLDER [--fail-move N] [--abort-at-event N] [--preview]
#   e.g. tools/defrag-sim.sh tools/defrag_sim/examples/quarry.vol 'C:\Games\Quarry'
#
# Builds the program first when needed, in the host build (build/host, or
# $KESTRAVA_BUILD_ROOT/host), configuring it when it is not there yet; the build's output is shown
# only when it fails. Exit code 2: bad arguments or a malformed VOLUME; 1: the build failed.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
if [ $# -lt 2 ]; then
  echo "usage: $(basename "$0") VOLUME FOLDER [--fail-move N] [--abort-at-event N] [--preview]" >&2
  exit 2
fi
build=${KESTRAVA_BUILD_ROOT:-$root/build}/host
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if [ ! -f "$build/build.ninja" ]; then
  (cd "$root" && cmake --preset host -B "$build") >"$log" 2>&1 || { cat "$log" >&2; exit 1; }
fi
cmake --build "$build" -j2 --target defrag_sim >"$log" 2>&1 || { cat "$log" >&2; exit 1; }
"$build/tools/defrag_sim/defrag_sim" "$@"
