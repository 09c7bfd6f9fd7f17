#!/usr/bin/env bash
# A DLL planted beside Kestrava.exe is not loaded. MPR is no KnownDLL, so Windows looks for it in
# the exe's folder first; Wine does the same for a DLL whose native version comes first
# (WINEDLLOVERRIDES=mpr=n,b). A mpr.dll that leaves a file beside itself when it is loaded goes
# into the folder of Kestrava.exe, which is also the current folder; the program opens its window,
# closes, and the file must not be there. First the same DLL beside a small program that imports
# WNetGetUniversalNameA must leave it: without that, the absence would prove nothing. Both in a
# 32-bit prefix, or under WOW64 with KESTRAVA_WINE_ARCH=win64.
#   planted_dll.sh KESTRAVA_EXE KDRIVE_EXE [...]
# (tools/test.sh passes the service tests' programs after these two; they are not used.)
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../../tools/wine/lib.sh"
. "$here/testlib.sh"
[ $# -ge 2 ] || { echo "usage: $0 KESTRAVA_EXE KDRIVE_EXE [...]" >&2; exit 2; }
t_programs 2 "$0 KESTRAVA_EXE KDRIVE_EXE" "$1" "$2"
exe=$1
kdrive=$2

t_workdir planted-dll
cc=i686-w64-mingw32-gcc-win32
cat >"$T_WORK/mpr.c" <<'C'
#include <windows.h>
// Leaves "loaded.txt", naming the program that loaded it, in its own folder.
BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
  if (reason != DLL_PROCESS_ATTACH) return TRUE;
  char path[MAX_PATH], program[MAX_PATH];
  DWORD n = GetModuleFileNameA(self, path, MAX_PATH);
  while (n > 0 && path[n - 1] != '\\') --n;
  lstrcpyA(path + n, "loaded.txt");
  DWORD length = GetModuleFileNameA(NULL, program, MAX_PATH), written;
  HANDLE f = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
  if (f != INVALID_HANDLE_VALUE) {
    WriteFile(f, program, length, &written, NULL);
    CloseHandle(f);
  }
  return TRUE;
}
__declspec(dllexport) DWORD WINAPI WNetGetUniversalNameA(LPCSTR p, DWORD l, LPVOID b, LPDWORD n) {
  return ERROR_NOT_SUPPORTED;
}
C
cat >"$T_WORK/importer.c" <<'C'
#include <windows.h>
#include <winnetwk.h>
int main(void) {
  char b[512];
  DWORD n = sizeof b;
  return WNetGetUniversalNameA("Z:\\", UNIVERSAL_NAME_INFO_LEVEL, b, &n) == NO_ERROR;
}
C
mkdir -p "$T_WORK/importer" "$T_WORK/app"
$cc -O2 -s -shared -Wl,--kill-at -o "$T_WORK/mpr.dll" "$T_WORK/mpr.c" ||
  { echo "planted_dll: could not build mpr.dll" >&2; exit 2; }
$cc -O2 -s -static -o "$T_WORK/importer/importer.exe" "$T_WORK/importer.c" -lmpr ||
  { echo "planted_dll: could not build importer.exe" >&2; exit 2; }
cp "$T_WORK/mpr.dll" "$T_WORK/importer/"
cp "$T_WORK/mpr.dll" "$T_WORK/app/"
cp "$exe" "$T_WORK/app/Kestrava.exe"

kw_display || exit 1
kw_prefix planted-dll || exit 1
trap 'kw_stop; kw_display_stop' EXIT
kw_start
export WINEDLLOVERRIDES="$WINEDLLOVERRIDES;mpr=n,b"

# The test of the test: an import of MPR takes the planted DLL.
(cd "$T_WORK/importer" && t_run importer.exe)
t_eq "a program importing MPR loads the mpr.dll beside it" "importer.exe" \
  "$(basename "$(tr '\\' / <"$T_WORK/importer/loaded.txt" 2>/dev/null)")"

# Kestrava.exe started from its own folder, as from an explorer window of Downloads.
app=$T_WORK/app
(cd "$app" && wine Kestrava.exe </dev/null >>"$T_WORK/app.log" 2>&1) &
app_pid=$!
t_run "$kdrive" wait 20
t_eq "Kestrava.exe opens its window" 0 "$t_rc"
t_run "$kdrive" click Close
for _ in $(seq 100); do
  kill -0 "$app_pid" 2>/dev/null || break
  sleep 0.1
done
if kill -0 "$app_pid" 2>/dev/null; then
  t_fail "Kestrava.exe ends after Close" "still running after 10 s"
  kw_stop
else
  wait "$app_pid"
  t_eq "Kestrava.exe ends after Close with exit code 0" 0 "$?"
fi
if [ -e "$app/loaded.txt" ]; then
  t_fail "the mpr.dll beside Kestrava.exe is not loaded" "loaded by $(tr -d '\r' <"$app/loaded.txt")"
else
  t_pass "the mpr.dll beside Kestrava.exe is not loaded"
fi
t_finish
