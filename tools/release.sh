#!/usr/bin/env bash
# Builds the release of the checked-out commit: dist/Kestrava-<version>.zip (Kestrava.exe and
# ReadMe.txt, the read-me for users) and dist/SHA256SUMS.
#
#   bash tools/release.sh [--allow-dirty] [--build-dir DIR] [--dist DIR]
#
# The build uses a copy of the commit (git archive HEAD) in a folder of its own (default
# build/release), configured with the win32 preset, so nothing uncommitted or untracked can reach
# a release. A tree with uncommitted changes or untracked files is refused, since the release
# would not hold them; --allow-dirty builds the commit anyway, with a warning.
#
# Reproducible: the same commit gives the same exe and zip bytes in any folder on any day. The
# compiler and linker flags for that are in CMakeLists.txt; the zip's dates are the commit's time
# (SOURCE_DATE_EPOCH, taken from the commit unless set), in a fixed order with fixed attributes.
# The exe must pass the XP import check (tests/xp_imports/check_xp_exe.py) before it is packed.
# Environment: KESTRAVA_JOBS (default: the number of cores).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

allow_dirty=0
build=$root/build/release
dist=$root/dist
while [ $# -gt 0 ]; do
  case $1 in
    --allow-dirty) allow_dirty=1 ;;
    --build-dir) build=$2; shift ;;
    --dist) dist=$2; shift ;;
    *) echo "usage: bash tools/release.sh [--allow-dirty] [--build-dir DIR] [--dist DIR]" >&2; exit 2 ;;
  esac
  shift
done
jobs=${KESTRAVA_JOBS:-$(nproc)}

commit=$(git rev-parse HEAD)
if [ -n "$(git status --porcelain)" ]; then
  if [ "$allow_dirty" -eq 0 ]; then
    git status --short >&2
    echo "release: the tree has uncommitted changes or untracked files; commit them first" \
      "(or --allow-dirty to build $commit without them)" >&2
    exit 1
  fi
  echo "release: warning: building $commit without the uncommitted changes of the tree" >&2
fi
export SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-$(git log -1 --format=%ct "$commit")}

mkdir -p "$build"
build=$(cd "$build" && pwd)
rm -rf "$build/src" "$build/out" "$build/stage"
mkdir -p "$build/src" "$build/stage"
git archive --format=tar "$commit" | tar -x -C "$build/src"

cmake -S "$build/src" -B "$build/out" --preset win32 >"$build/configure.log" 2>&1 ||
  { tail -n 40 "$build/configure.log" >&2; echo "release: configure failed" >&2; exit 1; }
cmake --build "$build/out" -j "$jobs" --target Kestrava >"$build/build.log" 2>&1 ||
  { tail -n 40 "$build/build.log" >&2; echo "release: build failed" >&2; exit 1; }
exe=$build/out/app/Kestrava.exe
python3 "$build/src/tests/xp_imports/check_xp_exe.py" "$exe" ||
  { echo "release: $exe would not start on Windows XP" >&2; exit 1; }

version=$(sed -nE 's/^project\(Kestrava VERSION ([0-9.]+).*/\1/p' "$build/src/CMakeLists.txt")
[ -n "$version" ] || { echo "release: no project(Kestrava VERSION ...) in CMakeLists.txt" >&2; exit 1; }

cp "$exe" "$build/stage/Kestrava.exe"
# Windows' Notepad before Windows 10 shows a text with bare LF line ends as one line.
sed 's/\r$//; s/$/\r/' "$build/src/docs/user-readme.txt" >"$build/stage/ReadMe.txt"

name=Kestrava-$version.zip
mkdir -p "$dist"
python3 - "$build/stage" "$dist/$name.tmp" <<'EOF'
import os, sys, time, zipfile
stage, out = sys.argv[1], sys.argv[2]
# A zip stores local times without a zone; the commit's time in UTC gives every builder the same.
date = time.gmtime(max(int(os.environ["SOURCE_DATE_EPOCH"]), 315532800))[:6]  # 1980 at least
with zipfile.ZipFile(out, "w") as z:
    for name in sorted(os.listdir(stage)):
        info = zipfile.ZipInfo(name, date_time=date)
        info.compress_type = zipfile.ZIP_DEFLATED
        info.create_system = 0  # MS-DOS: no Unix owner or mode bits from the builder's umask
        info.external_attr = 0
        with open(os.path.join(stage, name), "rb") as f:
            z.writestr(info, f.read(), compresslevel=9)
EOF
mv "$dist/$name.tmp" "$dist/$name"
(cd "$dist" && sha256sum "$name" >SHA256SUMS)

echo "release: Kestrava $version of $commit (SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH)"
echo "  $(sha256sum "$exe" | cut -d' ' -f1)  Kestrava.exe"
echo "  $(cut -d' ' -f1 "$dist/SHA256SUMS")  $dist/$name"
