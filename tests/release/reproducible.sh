#!/usr/bin/env bash
# Checks that tools/release.sh is reproducible: two releases of the checked-out commit, the second
# in another folder with every tool's clock 400 days ahead (faketime), must give the same exe, zip
# and SHA256SUMS byte for byte. Also checks what a user unpacks (the exe, a CRLF read-me) and that
# the exe carries no time stamp, so that a difference is named, not only found. release.sh itself
# refuses an exe that fails the XP import check.
#
#   reproducible.sh WORK_DIR
#
# Ends with "N passed, N failed". Builds the commit even when the tree has uncommitted changes
# (release.sh --allow-dirty). Environment: KESTRAVA_JOBS, passed on to release.sh.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
cd "$root" || exit 1
work=${1:?usage: reproducible.sh WORK_DIR}
rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)

passed=0
failed=0
check() {
  local what=$1
  shift
  if "$@"; then
    echo "ok: $what"
    passed=$((passed + 1))
  else
    echo "FAILED: $what"
    failed=$((failed + 1))
  fi
}

a=$work/first
b=$work/second-elsewhere
check "release build" bash tools/release.sh --allow-dirty --build-dir "$a" --dist "$a/dist"
check "release build 400 days later in another folder" \
  faketime -f +400d bash tools/release.sh --allow-dirty --build-dir "$b" --dist "$b/dist"

zip=$(cd "$a/dist" 2>/dev/null && ls Kestrava-*.zip 2>/dev/null)
check "the same Kestrava.exe" cmp "$a/out/app/Kestrava.exe" "$b/out/app/Kestrava.exe"
check "the same $zip and SHA256SUMS" \
  bash -c "cmp '$a/dist/$zip' '$b/dist/$zip' && cmp '$a/dist/SHA256SUMS' '$b/dist/SHA256SUMS'"
check "SHA256SUMS verifies the zip" bash -c "cd '$a/dist' && sha256sum --check --quiet SHA256SUMS"

# The version resource names the release: the version alone for a commit tagged v<version>, else
# the version and the commit.
commit=$(git rev-parse HEAD)
version=$(sed -nE 's/^project\(Kestrava VERSION ([0-9.]+).*/\1/p' CMakeLists.txt)
product_version=$version+${commit:0:10}
git tag --points-at HEAD | grep -qxF "v$version" && product_version=$version

check "the zip holds the built exe, a CRLF read-me, the licence, the notices and the build's facts" \
  python3 - "$a/dist/$zip" "$a/out/app/Kestrava.exe" "$commit" "$product_version" <<'EOF'
import sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
commit, product_version = sys.argv[3], sys.argv[4]
names = z.namelist()
if names != ["BUILDINFO.txt", "Kestrava.exe", "LICENSE.txt", "NOTICES.txt", "ReadMe.txt"]:
    sys.exit(f"entries {names}")
exe = z.read("Kestrava.exe")
if exe != open(sys.argv[2], "rb").read():
    sys.exit("Kestrava.exe in the zip is not the built one")
texts = {name: z.read(name) for name in names if name.endswith(".txt")}
for name, text in texts.items():
    if text.count(b"\n") != text.count(b"\r\n"):
        sys.exit(f"{name}: not CRLF throughout")
wanted = {
    "ReadMe.txt": [b"Quit Kestrava Mode", b"Program Files"],
    "LICENSE.txt": [b"MIT License", b"Copyright (c)"],
    # The mingw-w64 runtime's licence, and the exception that lets libstdc++ and libgcc travel in a
    # program under its own licence.
    "NOTICES.txt": [b"mingw-w64-i686-dev", b"ZPL-2.1", b"GCC RUNTIME LIBRARY EXCEPTION"],
    "BUILDINFO.txt": [f"Kestrava {product_version}\r\n".encode(), f"commit: {commit}".encode(),
                      b"source date: ", b"compiler: ", b"binutils: GNU ld",
                      b"wine (the tests' Windows): wine-"],
}
for name, parts in wanted.items():
    for part in parts:
        if part not in texts[name]:
            sys.exit(f"{name} does not say {part!r}")
# VERSIONINFO strings are UTF-16: "ProductVersion", padding to 32 bits, then the value.
key = "ProductVersion\0".encode("utf-16-le")
at = exe.find(key)
if at < 0:
    sys.exit("no ProductVersion in the exe")
at += len(key)
at += (4 - at % 4) % 4
end = at
while exe[end:end + 2] != b"\0\0":
    end += 2
value = exe[at:end].decode("utf-16-le")
if value != product_version:
    sys.exit(f"ProductVersion {value!r}, expected {product_version!r}")
EOF

# The linker's stamp in the file header, the debug directory (which carries another) and the
# stamps of windres's resource directories.
check "no time stamp in the exe" python3 - "$a/out/app/Kestrava.exe" <<'EOF'
import struct, sys
data = open(sys.argv[1], "rb").read()
pe = struct.unpack_from("<I", data, 0x3C)[0]
sections, stamp = struct.unpack_from("<HI", data, pe + 6)
optional = pe + 24
directories = optional + 96  # PE32
size_optional = struct.unpack_from("<H", data, pe + 20)[0]
table = optional + size_optional
def offset(rva):
    for i in range(sections):
        size, address, _, raw = struct.unpack_from("<IIII", data, table + 40 * i + 8)
        if address <= rva < address + size:
            return rva - address + raw
    sys.exit(f"RVA {rva:#x} in no section")
faults = []
if stamp:
    faults.append(f"file header stamp {stamp:#x}")
if struct.unpack_from("<II", data, directories + 6 * 8) != (0, 0):
    faults.append("a debug directory")
resources = offset(struct.unpack_from("<I", data, directories + 2 * 8)[0])
pending = [0]
while pending:
    at = resources + pending.pop()
    if struct.unpack_from("<I", data, at + 4)[0]:
        faults.append(f"resource directory stamp at {at:#x}")
    named, numbered = struct.unpack_from("<HH", data, at + 12)
    for i in range(named + numbered):
        target = struct.unpack_from("<I", data, at + 16 + 8 * i + 4)[0]
        if target & 0x80000000:
            pending.append(target & 0x7FFFFFFF)
if faults:
    sys.exit(", ".join(faults))
EOF

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
