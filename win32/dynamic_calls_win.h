#pragma once
// The system entry points that Kestrava.exe does not import, looked up by name at run time: those
// that not every supported Windows has, so that the program still loads where they are missing,
// and those of DLLs that are not a KnownDLL of every supported Windows, so that the loader never
// looks for such a DLL in the program's folder (see the table in dynamic_calls_win.cpp). Each
// pointer is null on a system without its entry point; the callers decide what that means.
#include <windows.h>

namespace kestrava {

using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE process, PBOOL wow64);
using Wow64DisableWow64FsRedirectionFn = BOOL(WINAPI*)(PVOID* oldValue);
using Wow64RevertWow64FsRedirectionFn = BOOL(WINAPI*)(PVOID oldValue);
// The native query of system facts; the result is an NTSTATUS (0 for success).
using QuerySystemInformationFn = LONG(WINAPI*)(ULONG informationClass, PVOID buffer, ULONG length,
                                               PULONG returnLength);
using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD directoryFlags);
// The result is the call's error code (NO_ERROR for success), not a Boolean.
using WNetGetUniversalNameAFn = DWORD(WINAPI*)(LPCSTR localPath, DWORD infoLevel, LPVOID buffer,
                                               LPDWORD bufferSize);

// Deletes the key a handle refers to (ZwDeleteKey in user mode): a link opened as a link goes as a
// link. The result is an NTSTATUS.
using DeleteKeyFn = LONG(WINAPI*)(HANDLE key);
using NtStatusToDosErrorFn = ULONG(WINAPI*)(LONG status);

struct DynamicCalls {
  IsWow64ProcessFn isWow64Process = nullptr;
  Wow64DisableWow64FsRedirectionFn wow64DisableWow64FsRedirection = nullptr;
  Wow64RevertWow64FsRedirectionFn wow64RevertWow64FsRedirection = nullptr;
  QuerySystemInformationFn querySystemInformation = nullptr;
  SetDefaultDllDirectoriesFn setDefaultDllDirectories = nullptr;
  WNetGetUniversalNameAFn wNetGetUniversalNameA = nullptr;
  DeleteKeyFn ntDeleteKey = nullptr;
  NtStatusToDosErrorFn rtlNtStatusToDosError = nullptr;
};

// The entry points of the running system, looked up on first use (thread-safe) and never again.
// The first use loads the DLLs of the table that are not loaded yet, each from the system folder
// by its full path; they stay loaded until the process ends.
const DynamicCalls& SystemCalls();

}  // namespace kestrava
