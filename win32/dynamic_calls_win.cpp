#include "win32/dynamic_calls_win.h"

#include <string>
#include <tuple>

namespace kestrava {
namespace {

// Kestrava runs as administrator, and the folder it is started from may be one that any program
// of the user can write (Downloads). Windows looks for a DLL that the exe imports in the exe's
// folder first, unless the DLL is a KnownDLL: those are mapped from the system folder whatever
// the search order. So the exe imports only DLLs that are KnownDLLs on every supported Windows,
// and takes every other one from here. XP SP3's list is the shortest: of what the exe imports,
// KERNEL32, USER32, GDI32, ADVAPI32, SHELL32 and OLE32 are on it, msvcrt is mapped as a KnownDLL
// because those import it (and is on the list itself from Vista on), and COMCTL32 version 6 comes
// from the side-by-side store by the manifest. tests/xp_imports/known-dlls.txt holds the same list
// and fails the build's check when the exe imports anything else.
enum class Source {
  kLoaded,        // every Win32 process has it loaded before its first line runs
  kSystemFolder,  // loaded once by its full path in the system folder, never freed
};

struct Module {
  const wchar_t* name;
  Source source;
};

constexpr Module kNtdll{L"ntdll.dll", Source::kLoaded};
constexpr Module kKernel32{L"kernel32.dll", Source::kLoaded};
// MPR is no KnownDLL on any Windows.
constexpr Module kMpr{L"mpr.dll", Source::kSystemFolder};

template <typename Fn>
struct Lookup {
  const Module* module;
  const char* name;
  Fn DynamicCalls::*slot;
};

// What each entry point is for and what its callers do on a system without it.
constexpr std::tuple kTable{
    // 32-bit Windows XP before SP2 lacks it: such a system is no WOW64, IsWow64 is false.
    Lookup<IsWow64ProcessFn>{&kKernel32, "IsWow64Process", &DynamicCalls::isWow64Process},
    // Only XP x64, Server 2003 SP1 and later have the redirection switches: without them
    // RedirAvailable is false and asking for redirection off fails with ERROR_INVALID_FUNCTION.
    Lookup<Wow64DisableWow64FsRedirectionFn>{&kKernel32, "Wow64DisableWow64FsRedirection",
                                             &DynamicCalls::wow64DisableWow64FsRedirection},
    Lookup<Wow64RevertWow64FsRedirectionFn>{&kKernel32, "Wow64RevertWow64FsRedirection",
                                            &DynamicCalls::wow64RevertWow64FsRedirection},
    // The process list of the memory trimming. The native library publishes no import library
    // the program may rely on, so it is taken by name; every NT has it (the Zw and Nt names are
    // one entry point outside the kernel). Without it nothing is trimmed.
    Lookup<QuerySystemInformationFn>{&kNtdll, "ZwQuerySystemInformation",
                                     &DynamicCalls::querySystemInformation},
    // Windows 8 and later, and 7 and Server 2008 R2 with the update KB2533623: without it the
    // start-up falls back to SetDllDirectoryW (RestrictDllSearch, app/startup_win.cpp).
    Lookup<SetDefaultDllDirectoriesFn>{&kKernel32, "SetDefaultDllDirectories",
                                       &DynamicCalls::setDefaultDllDirectories},
    // The UNC form of a folder on a mapped drive. Without it (MPR missing from the system
    // folder) a folder keeps its drive form, as when no network provider can name it.
    Lookup<WNetGetUniversalNameAFn>{&kMpr, "WNetGetUniversalNameA",
                                    &DynamicCalls::wNetGetUniversalNameA},
    // The one way to delete a registry link itself rather than the key it points to: the Reg*
    // deletes open the key by name and follow the link. Every NT has both; without them the
    // record's key is not deleted.
    Lookup<DeleteKeyFn>{&kNtdll, "NtDeleteKey", &DynamicCalls::ntDeleteKey},
    Lookup<NtStatusToDosErrorFn>{&kNtdll, "RtlNtStatusToDosError",
                                 &DynamicCalls::rtlNtStatusToDosError},
};

HMODULE FromSystemFolder(const wchar_t* name) {
  wchar_t folder[MAX_PATH];
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return nullptr;
  const std::wstring path = std::wstring(folder, length) + L"\\" + name;
  if (const HMODULE loaded = GetModuleHandleW(path.c_str())) return loaded;
  // With a full path, the altered search looks for the DLL's own imports in its folder, the
  // system folder, rather than in the program's.
  return LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

HMODULE ModuleOf(const Module& module) {
  return module.source == Source::kLoaded ? GetModuleHandleW(module.name)
                                          : FromSystemFolder(module.name);
}

template <typename Fn>
void Fill(DynamicCalls& calls, const Lookup<Fn>& entry) {
  const HMODULE module = ModuleOf(*entry.module);
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
