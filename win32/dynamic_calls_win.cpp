#include "win32/dynamic_calls_win.h"

#include <tuple>

namespace kestrava {
namespace {

template <typename Fn>
struct Lookup {
  const char* module;  // a module every Win32 process has loaded: no LoadLibrary, no FreeLibrary
  const char* name;
  Fn DynamicCalls::*slot;
};

// What each entry point is for and what its callers do on a system without it.
constexpr std::tuple kTable{
    // 32-bit Windows XP before SP2 lacks it: such a system is no WOW64, IsWow64 is false.
    Lookup<IsWow64ProcessFn>{"kernel32.dll", "IsWow64Process", &DynamicCalls::isWow64Process},
    // Only XP x64, Server 2003 SP1 and later have the redirection switches: without them
    // RedirAvailable is false and asking for redirection off fails with ERROR_INVALID_FUNCTION.
    Lookup<Wow64DisableWow64FsRedirectionFn>{"kernel32.dll", "Wow64DisableWow64FsRedirection",
                                             &DynamicCalls::wow64DisableWow64FsRedirection},
    Lookup<Wow64RevertWow64FsRedirectionFn>{"kernel32.dll", "Wow64RevertWow64FsRedirection",
                                            &DynamicCalls::wow64RevertWow64FsRedirection},
    // The process list of the memory trimming. The native library publishes no import library
    // the program may rely on, so it is taken by name; every NT has it (the Zw and Nt names are
    // one entry point outside the kernel). Without it nothing is trimmed.
    Lookup<QuerySystemInformationFn>{"ntdll.dll", "ZwQuerySystemInformation",
                                     &DynamicCalls::querySystemInformation},
    // The one way to delete a registry link itself rather than the key it points to: the Reg*
    // deletes open the key by name and follow the link. Every NT has both; without them the
    // record's key is not deleted.
    Lookup<DeleteKeyFn>{"ntdll.dll", "NtDeleteKey", &DynamicCalls::ntDeleteKey},
    Lookup<NtStatusToDosErrorFn>{"ntdll.dll", "RtlNtStatusToDosError",
                                 &DynamicCalls::rtlNtStatusToDosError},
};

template <typename Fn>
void Fill(DynamicCalls& calls, const Lookup<Fn>& entry) {
  const HMODULE module = GetModuleHandleA(entry.module);
  if (module == nullptr) return;
  // Through void*: GetProcAddress's FARPROC and the typed pointer are unrelated function types.
  calls.*entry.slot =
      reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, entry.name)));
}

DynamicCalls LookUpAll() {
  DynamicCalls calls;
  std::apply([&calls](const auto&... entry) { (Fill(calls, entry), ...); }, kTable);
  return calls;
}

}  // namespace

const DynamicCalls& SystemCalls() {
  static const DynamicCalls calls = LookUpAll();
  return calls;
}

}  // namespace kestrava
