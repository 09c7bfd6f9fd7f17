#!/usr/bin/env bash
# Builds the release of the checked-out commit: dist/Kestrava-<version>.zip and dist/SHA256SUMS.
# The zip holds Kestrava.exe; ReadMe.txt, the read-me for users; LICENSE.txt, the program's licence;
# NOTICES.txt, the notices of the compiler's runtime parts linked into the exe (the mingw-w64
# runtime, libstdc++ and libgcc), copied from the copyright files of the Debian packages that
# supplied them; and BUILDINFO.txt: the commit, the source date and the versions of the compiler,
# binutils and Wine of the machine that built it.
#
# The version resource's ProductVersion is the version for a commit tagged v<version>, and the
# version with the commit's first ten hex digits ("1.0.0+89b6229abc") for any other.
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

version=$(sed -nE 's/^project\(Kestrava VERSION ([0-9.]+).*/\1/p' "$build/src/CMakeLists.txt")
[ -n "$version" ] || { echo "release: no project(Kestrava VERSION ...) in CMakeLists.txt" >&2; exit 1; }
if git tag --points-at "$commit" | grep -qxF "v$version"; then
  product_version=$version
  tagged="tag v$version"
else
  product_version=$version+${commit:0:10}
  tagged="no tag v$version"
fi

cmake -S "$build/src" -B "$build/out" --preset win32 -DKESTRAVA_PRODUCT_VERSION="$product_version" \
  >"$build/configure.log" 2>&1 ||
  { tail -n 40 "$build/configure.log" >&2; echo "release: configure failed" >&2; exit 1; }
cmake --build "$build/out" -j "$jobs" --target Kestrava >"$build/build.log" 2>&1 ||
  { tail -n 40 "$build/build.log" >&2; echo "release: build failed" >&2; exit 1; }
exe=$build/out/app/Kestrava.exe
python3 "$build/src/tests/xp_imports/check_xp_exe.py" "$exe" ||
  { echo "release: $exe would not start on Windows XP" >&2; exit 1; }

cp "$exe" "$build/stage/Kestrava.exe"
# Windows' Notepad before Windows 10 shows a text with bare LF line ends as one line.
crlf() { sed 's/\r$//; s/$/\r/'; }
crlf <"$build/src/docs/user-readme.txt" >"$build/stage/ReadMe.txt"
crlf <"$build/src/LICENSE" >"$build/stage/LICENSE.txt"

# The compiler the build used, and the Debian package of each runtime part it linked in.
cxx=$(sed -nE 's/^set\(CMAKE_CXX_COMPILER "(.*)"\)$/\1/p' "$build/out"/CMakeFiles/*/CMakeCXXCompiler.cmake)
[ -x "$cxx" ] || { echo "release: cannot tell which compiler the build used" >&2; exit 1; }
package_of() { dpkg -S "$(readlink -f "$1")" | sed -n '1s/:.*//p'; }
package_version() { dpkg-query -W -f '${Version}' "$1"; }
runtime_packages=$(for part in crt2.o libmingw32.a libmingwex.a libmsvcrt.a libmoldname.a \
  libgcc.a libgcc_eh.a libstdc++.a; do
  file=$("$cxx" -print-file-name="$part")
  [ -f "$file" ] || { echo "release: $cxx has no $part" >&2; exit 1; }
  package_of "$file"
done | sort -u) || exit 1
{
  echo "Kestrava.exe is linked statically with parts of the runtime of the compiler that built it:"
  echo "the mingw-w64 runtime (start-up code, C library additions and import libraries, under the"
  echo "ZPL 2.1 and the other permissive licences listed below), and libstdc++ and libgcc (under the"
  echo "GNU GPL version 3 with the GCC Runtime Library Exception 3.1, whose text is below, which"
  echo "lets a program built with GCC carry these parts under its own licence). Their notices follow,"
  echo "as the Debian packages that supplied them state them."
  seen=()
  for package in $runtime_packages; do
    copyright=/usr/share/doc/$package/copyright
    [ -f "$copyright" ] || { echo "release: no $copyright" >&2; exit 1; }
    echo
    echo "======== $package $(package_version "$package") ========"
    same=""
    for earlier in "${seen[@]}"; do
      cmp -s "$copyright" "/usr/share/doc/$earlier/copyright" && same=$earlier
    done
    if [ -n "$same" ]; then
      echo "The same notices as $same above."
    else
      echo
      cat "$copyright"
    fi
    seen+=("$package")
  done
} | crlf >"$build/stage/NOTICES.txt"

first_line() { "$@" 2>/dev/null | head -n 1; }
ld=$("$cxx" -print-prog-name=ld)
{
  echo "Kestrava $product_version"
  echo "commit: $commit ($tagged)"
  echo "source date: $(date -u -d "@$SOURCE_DATE_EPOCH" +%Y-%m-%dT%H:%M:%SZ) (SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH)"
  echo "compiler: $(first_line "$cxx" --version) (Debian $(package_of "$(command -v "$cxx")") $(package_version "$(package_of "$(command -v "$cxx")")"))"
  echo "binutils: $(first_line "$ld" --version) (Debian $(package_of "$(command -v "$ld")") $(package_version "$(package_of "$(command -v "$ld")")"))"
  echo "runtime: $(for p in $runtime_packages; do printf '%s %s, ' "$p" "$(package_version "$p")"; done | sed 's/, $//')"
  echo "wine (the tests' Windows): $(first_line wine --version || true)"
  echo "Kestrava.exe sha256: $(sha256sum "$exe" | cut -d' ' -f1)"
} | crlf >"$build/stage/BUILDINFO.txt"

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

echo "release: Kestrava $product_version of $commit (SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH)"
echo "  $(sha256sum "$exe" | cut -d' ' -f1)  Kestrava.exe"
echo "  $(cut -d' ' -f1 "$dist/SHA256SUMS")  $dist/$name"
