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

check "the zip holds the built exe and a CRLF read-me" python3 - "$a/dist/$zip" \
  "$a/out/app/Kestrava.exe" <<'EOF'
import sys, zipfile
z = zipfile.ZipFile(sys.argv[1])
names = z.namelist()
if names != ["Kestrava.exe", "ReadMe.txt"]:
    sys.exit(f"entries {names}")
if z.read("Kestrava.exe") != open(sys.argv[2], "rb").read():
    sys.exit("Kestrava.exe in the zip is not the built one")
text = z.read("ReadMe.txt")
if b"Quit Kestrava Mode" not in text or text.count(b"\n") != text.count(b"\r\n"):
    sys.exit("ReadMe.txt: no undo or not CRLF throughout")
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
