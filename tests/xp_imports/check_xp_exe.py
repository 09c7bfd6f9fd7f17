#!/usr/bin/env python3
"""Checks that a 32-bit Windows executable can start on Windows XP SP3.

    check_xp_exe.py EXE [--allowlist FILE] [--known-dlls FILE] [--objdump PROGRAM]

Fails (exit code 1, one line per fault) when the file
- is not a PE32 image for i386 or not a GUI program (subsystem 2),
- asks for a subsystem or OS version newer than XP's 5.1 (the XP loader refuses such a file),
- imports a function that is not on the allowlist of functions XP SP3 exports, or imports by
  ordinal, or imports from a DLL that is not on the allowlist at all (the compiler's runtime DLLs
  libgcc_s, libstdc++ and libwinpthread are named as such: XP has none of them),
- imports from a DLL that is not on the list of DLLs the loader takes from the system folder on
  every supported Windows (known-dlls.txt): the loader would look for it in the exe's folder first,
- has no application manifest (resource type 24, id 1) that requests requireAdministrator,
  depends on the common controls version 6 and declares the program DPI-aware.
"""
import argparse
import re
import struct
import subprocess
import sys

COMPILER_RUNTIME = re.compile(r"^(libgcc_s|libstdc\+\+|libwinpthread)", re.IGNORECASE)


def load_allowlist(path):
    allowed = {}
    with open(path, encoding="utf-8") as f:
        for number, raw in enumerate(f, 1):
            line = raw.strip()
            if not line or line.startswith("#"):
                continue
            dll, sep, function = line.partition("!")
            if not sep or not dll or not function:
                raise SystemExit(f"{path}:{number}: expected DLL!Function, got {line!r}")
            allowed.setdefault(dll.lower(), set()).add(function)
    return allowed


def load_names(path):
    """The lower-case names of a file with one name a line (# comments)."""
    with open(path, encoding="utf-8") as f:
        return {line.strip().lower() for line in f if line.strip() and not line.startswith("#")}


def read_imports(objdump, exe):
    """Returns [(dll, function or '#ordinal')] from objdump's import tables."""
    text = subprocess.run([objdump, "-p", exe], check=True, capture_output=True, text=True).stdout
    imports = []
    dll = None
    for line in text.splitlines():
        match = re.match(r"^\s*DLL Name: (\S+)", line)
        if match:
            dll = match.group(1)
            continue
        if dll is None:
            continue
        if not line.strip():
            continue
        if re.match(r"^\s*vma:\s+Hint", line):
            continue
        # By name: "\t44690\t   96  InitCommonControlsEx" (hint, name); by ordinal: "\t80000155\t  155
        # <none>" (the ordinal, no name).
        match = re.match(r"^\s+[0-9a-f]+\s+(\d+)\s+(\S+)\s*$", line)
        if match and match.group(2) != "<none>":
            imports.append((dll, match.group(2)))
            continue
        if match:
            imports.append((dll, "#" + match.group(1)))
            continue
        # The next import descriptor or another section of the dump ends this DLL's list.
        dll = None
    return text, imports


class Pe:
    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("no MZ header")
        self.pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[self.pe:self.pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        self.machine, self.sections_count = struct.unpack_from("<HH", data, self.pe + 4)
        optional_size = struct.unpack_from("<H", data, self.pe + 20)[0]
        self.opt = self.pe + 24
        self.magic = struct.unpack_from("<H", data, self.opt)[0]
        if self.magic != 0x10B:
            raise ValueError(f"not PE32 (optional header magic {self.magic:#x})")
        (self.os_major, self.os_minor) = struct.unpack_from("<HH", data, self.opt + 40)
        (self.subsys_major, self.subsys_minor) = struct.unpack_from("<HH", data, self.opt + 48)
        self.subsystem = struct.unpack_from("<H", data, self.opt + 68)[0]
        directories = self.opt + 96
        self.resource_rva, self.resource_size = struct.unpack_from("<II", data, directories + 2 * 8)
        self.sections = []
        table = self.opt + optional_size
        for i in range(self.sections_count):
            entry = table + 40 * i
            vsize, vaddr, rsize, raddr = struct.unpack_from("<IIII", data, entry + 8)
            self.sections.append((vaddr, max(vsize, rsize), raddr))

    def offset(self, rva):
        for vaddr, size, raddr in self.sections:
            if vaddr <= rva < vaddr + size:
                return rva - vaddr + raddr
        raise ValueError(f"RVA {rva:#x} outside every section")

    def resources(self, type_id):
        """Yields (name id, bytes) of every resource of a numeric type."""
        if self.resource_rva == 0:
            return
        base = self.offset(self.resource_rva)

        def entries(directory):
            named, numbered = struct.unpack_from("<HH", self.data, base + directory + 12)
            for i in range(named + numbered):
                name, target = struct.unpack_from("<II", self.data, base + directory + 16 + 8 * i)
                yield name, target

        for type_name, type_target in entries(0):
            if type_name & 0x80000000 or type_name != type_id or not type_target & 0x80000000:
                continue
            for name, name_target in entries(type_target & 0x7FFFFFFF):
                if not name_target & 0x80000000:
                    continue
                for _lang, lang_target in entries(name_target & 0x7FFFFFFF):
                    rva, size = struct.unpack_from("<II", self.data, base + lang_target)
                    start = self.offset(rva)
                    yield name, self.data[start:start + size]


def check(exe, allowlist_path, known_dlls_path, objdump):
    faults = []
    with open(exe, "rb") as f:
        data = f.read()
    try:
        pe = Pe(data)
    except (ValueError, struct.error) as e:
        return [f"not a PE32 image: {e}"], 0
    if pe.machine != 0x14C:
        faults.append(f"machine {pe.machine:#x}, expected i386 (0x14c)")
    if pe.subsystem != 2:
        faults.append(f"subsystem {pe.subsystem}, expected 2 (Windows GUI)")
    for label, major, minor in (("subsystem", pe.subsys_major, pe.subsys_minor),
                                ("operating system", pe.os_major, pe.os_minor)):
        if (major, minor) > (5, 1):
            faults.append(f"{label} version {major}.{minor} in the header: XP (5.1) refuses to load it")

    dump, imports = read_imports(objdump, exe)
    if "file format pei-i386" not in dump:
        faults.append("objdump does not see a pei-i386 file")
    if not imports:
        faults.append("no imports found (objdump's format not understood?)")
    allowed = load_allowlist(allowlist_path)
    known = load_names(known_dlls_path)
    for dll in sorted({dll for dll, _ in imports}, key=str.lower):
        if dll.lower() not in known and not COMPILER_RUNTIME.match(dll):
            faults.append(f"imports from {dll}, which is not a KnownDLL of every supported Windows:"
                          " the loader looks for it in the exe's folder first (load it at run time"
                          " from the system folder)")
    for dll, function in imports:
        if COMPILER_RUNTIME.match(dll) or dll.lower() not in allowed:
            what = ("a compiler runtime DLL that Windows does not have" if COMPILER_RUNTIME.match(dll)
                    else "which is not a known Windows XP system DLL")
            fault = f"imports from {dll}, {what}"
            if fault not in faults:
                faults.append(fault)
        elif function.startswith("#"):
            faults.append(f"imports {dll} ordinal {function[1:]}: import by name")
        elif function not in allowed[dll.lower()]:
            faults.append(f"imports {dll}!{function}, which Windows XP SP3 does not have"
                          " (or is not yet reviewed into the allowlist)")

    manifests = [(name, body) for name, body in pe.resources(24)]
    if not manifests:
        faults.append("no manifest resource")
    else:
        ids = [name for name, _ in manifests]
        if 1 not in ids:
            faults.append(f"manifest resource id {ids}, expected 1 (the process manifest)")
        text = b"".join(body for _, body in manifests).decode("utf-8", "replace")
        if not re.search(r"<requestedExecutionLevel\s[^>]*level\s*=\s*[\"']requireAdministrator[\"']", text):
            faults.append("manifest does not request requireAdministrator")
        dependency = re.search(
            r"<assemblyIdentity\s[^>]*name\s*=\s*[\"']Microsoft\.Windows\.Common-Controls[\"'][^>]*>", text)
        if not dependency or not re.search(r"version\s*=\s*[\"']6\.0\.0\.0[\"']", dependency.group(0)):
            faults.append("manifest does not depend on Microsoft.Windows.Common-Controls 6.0.0.0")
        if not re.search(r"<dpiAware(\s[^>]*)?>\s*true\s*</dpiAware>", text, re.IGNORECASE):
            faults.append("manifest does not declare the program DPI-aware")
    return faults, len(imports)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("exe")
    parser.add_argument("--allowlist", default=__file__.rsplit("/", 1)[0] + "/xp-sp3-allowlist.txt")
    parser.add_argument("--known-dlls", default=__file__.rsplit("/", 1)[0] + "/known-dlls.txt")
    parser.add_argument("--objdump", default="i686-w64-mingw32-objdump")
    args = parser.parse_args()
    faults, count = check(args.exe, args.allowlist, args.known_dlls, args.objdump)
    for fault in faults:
        print(f"{args.exe}: {fault}")
    if faults:
        return 1
    print(f"{args.exe}: PE32 i386 GUI program, {count} imports all on the XP SP3 list, from KnownDLLs only, manifest fine")
    return 0


if __name__ == "__main__":
    sys.exit(main())
