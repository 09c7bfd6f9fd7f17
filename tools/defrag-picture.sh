#!/usr/bin/env bash
# Builds a fragmented simulated volume, defragments one of its folders with the engine and writes
# the cluster maps before and after: OUT_DIR/defrag-before.png and OUT_DIR/defrag-after.png. Prints
# the counts of fragmented items. Uses the host build (build/host, configured if it is not yet).
#
#   bash tools/defrag-picture.sh docs
set -euo pipefail
if [ $# -ne 1 ]; then
  echo "usage: $0 OUT_DIR" >&2
  exit 2
fi
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
mkdir -p "$1"
out=$(cd "$1" && pwd)
cd "$root"
[ -f build/host/build.ninja ] || cmake --preset host >/dev/null
cmake --build build/host -j "${KESTRAVA_JOBS:-2}" --target defrag_picture >/dev/null
build/host/tools/defrag_picture/defrag_picture "$out"
