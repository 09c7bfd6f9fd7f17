#pragma once
// The system entry points that not every supported Windows has, looked up by name at run time so
// that Kestrava.exe still loads where they are missing. Each pointer is null on a system without
// its entry point; the callers decide what that means (see the table in dynamic_calls_win.cpp).
#include <windows.h>

namespace kestrava {

using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE process, PBOOL wow64);
using Wow64DisableWow64FsRedirectionFn = BOOL(WINAPI*)(PVOID* oldValue);
using Wow64RevertWow64FsRedirectionFn = BOOL(WINAPI*)(PVOID oldValue);
// The native query of system facts; the result is an NTSTATUS (0 for success).
using QuerySystemInformationFn = LONG(WINAPI*)(ULONG informationClass, PVOID buffer, ULONG length,
                                               PULONG returnLength);

// Deletes the key a handle refers to (ZwDeleteKey in user mode): a link opened as a link goes as a
// link. The result is an NTSTATUS.
using DeleteKeyFn = LONG(WINAPI*)(HANDLE key);
using NtStatusToDosErrorFn = ULONG(WINAPI*)(LONG status);

struct DynamicCalls {
  IsWow64ProcessFn isWow64Process = nullptr;
  Wow64DisableWow64FsRedirectionFn wow64DisableWow64FsRedirection = nullptr;
  Wow64RevertWow64FsRedirectionFn wow64RevertWow64FsRedirection = nullptr;
  QuerySystemInformationFn querySystemInformation = nullptr;
  DeleteKeyFn ntDeleteKey = nullptr;
  NtStatusToDosErrorFn rtlNtStatusToDosError = nullptr;
};

// The entry points of the running system, looked up on first use (thread-safe) and never again.
const DynamicCalls& SystemCalls();

}  // namespace kestrava
