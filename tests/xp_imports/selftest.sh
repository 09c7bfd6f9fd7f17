#!/usr/bin/env bash
# Proves that the XP import check can fail: small programs that each break one rule must be
# rejected with the fault named, and one that breaks none must pass.
#   selftest.sh WORK_DIR
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=${1:?usage: selftest.sh WORK_DIR}
rm -rf "$work"
mkdir -p "$work"
cd "$work" || exit 1
cc="i686-w64-mingw32-gcc-win32 -Os -s"
passed=0
failed=0

cat >good.c <<'C'
#include <windows.h>
int WINAPI WinMain(HINSTANCE i, HINSTANCE p, LPSTR c, int s) { MessageBeep(0); return (int)GetTickCount() & 1; }
C
cat >tick64.c <<'C'
#define _WIN32_WINNT 0x0600
#include <windows.h>
int WINAPI WinMain(HINSTANCE i, HINSTANCE p, LPSTR c, int s) { return (int)GetTickCount64() & 1; }
C
cat >runtime.cpp <<'C'
#include <windows.h>
#include <string>
int WINAPI WinMain(HINSTANCE i, HINSTANCE p, LPSTR c, int s) { std::string t(c); return (int)t.size(); }
C
cat >ordinal.c <<'C'
#include <windows.h>
void WINAPI ILFree(void*);
int WINAPI WinMain(HINSTANCE i, HINSTANCE p, LPSTR c, int s) { ILFree(0); return 0; }
C
cat >mpr.c <<'C'
#include <windows.h>
#include <winnetwk.h>
int WINAPI WinMain(HINSTANCE i, HINSTANCE p, LPSTR c, int s) {
  char b[512]; DWORD n = sizeof b;
  return (int)WNetGetUniversalNameA("Z:\\", UNIVERSAL_NAME_INFO_LEVEL, b, &n);
}
C
printf 'LIBRARY SHELL32.dll\nEXPORTS\nILFree@4 @155 NONAME\n' >shell32-ordinal.def
# manifest LEVEL DPI_AWARE: a process manifest asking for LEVEL, declaring DPI_AWARE (true, false).
manifest() {
  cat <<XML
<?xml version="1.0" encoding="UTF-8" standalone="yes"?>
<assembly xmlns="urn:schemas-microsoft-com:asm.v1" manifestVersion="1.0">
  <dependency><dependentAssembly>
    <assemblyIdentity type="win32" name="Microsoft.Windows.Common-Controls" version="6.0.0.0"
                      processorArchitecture="x86" publicKeyToken="6595b64144ccf1df" language="*"/>
  </dependentAssembly></dependency>
  <trustInfo xmlns="urn:schemas-microsoft-com:asm.v2"><security><requestedPrivileges>
    <requestedExecutionLevel level="$1" uiAccess="false"/>
  </requestedPrivileges></security></trustInfo>
  <application xmlns="urn:schemas-microsoft-com:asm.v3"><windowsSettings>
    <dpiAware xmlns="http://schemas.microsoft.com/SMI/2005/WindowsSettings">$2</dpiAware>
  </windowsSettings></application>
</assembly>
XML
}
manifest requireAdministrator true >admin.manifest
manifest asInvoker true >invoker.manifest
manifest requireAdministrator false >unaware.manifest
for m in admin invoker unaware; do
  echo "1 24 \"$m.manifest\"" >$m.rc
  i686-w64-mingw32-windres $m.rc -O coff -o $m.res.o || exit 1
done
i686-w64-mingw32-dlltool -d shell32-ordinal.def -l libshell32-ordinal.a -k || exit 1

build() {
  local out=$1
  shift
  "$@" -o "$out" || { echo "FAIL could not build $out"; failed=$((failed + 1)); return 1; }
}
build good.exe $cc -mwindows -static good.c admin.res.o
build tick64.exe $cc -mwindows -static tick64.c admin.res.o
build runtime.exe i686-w64-mingw32-g++-win32 -Os -mwindows runtime.cpp admin.res.o
build console.exe $cc -mconsole -static good.c admin.res.o
build nomanifest.exe $cc -mwindows -static good.c
build invoker.exe $cc -mwindows -static good.c invoker.res.o
build unaware.exe $cc -mwindows -static good.c unaware.res.o
build mpr.exe $cc -mwindows -static mpr.c admin.res.o -lmpr
build newsubsystem.exe $cc -mwindows -static good.c admin.res.o -Wl,--major-subsystem-version,6
build ordinal.exe $cc -mwindows -static ordinal.c admin.res.o -L. -lshell32-ordinal

# expect EXE EXIT_CODE TEXT: the check's exit code and a line of its output that names the fault.
expect() {
  local exe=$1 want_rc=$2 want_text=$3 out rc
  out=$(python3 "$here/check_xp_exe.py" "$exe" 2>&1)
  rc=$?
  if [ "$rc" -eq "$want_rc" ] && grep -qF -- "$want_text" <<<"$out"; then
    echo "ok xp check on $exe: $want_text"
    passed=$((passed + 1))
  else
    echo "FAIL xp check on $exe: expected exit $want_rc and \"$want_text\", got exit $rc:"
    sed 's/^/    /' <<<"$out"
    failed=$((failed + 1))
  fi
}
expect good.exe 0 "manifest fine"
expect tick64.exe 1 "KERNEL32.dll!GetTickCount64, which Windows XP SP3 does not have"
expect runtime.exe 1 "a compiler runtime DLL"
expect console.exe 1 "subsystem 3, expected 2"
expect nomanifest.exe 1 "no manifest resource"
expect invoker.exe 1 "manifest does not request requireAdministrator"
expect unaware.exe 1 "manifest does not declare the program DPI-aware"
expect mpr.exe 1 "imports from MPR.DLL, which is not a KnownDLL"
expect newsubsystem.exe 1 "subsystem version 6.0 in the header"
expect ordinal.exe 1 "ordinal 155"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
