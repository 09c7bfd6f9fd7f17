#include "common/system_win.h"

namespace kestrava {
namespace {

using DisableFn = BOOL(WINAPI*)(PVOID*);
using RevertFn = BOOL(WINAPI*)(PVOID);
using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);

// The WOW64 entry points are looked up at run time: 32-bit Windows XP before SP2 lacks
// IsWow64Process, and only 64-bit systems have the redirection switches.
struct RedirectionCalls {
  DisableFn disable = nullptr;
  RevertFn revert = nullptr;

  RedirectionCalls() {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    if (!kernel) return;
    disable = reinterpret_cast<DisableFn>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "Wow64DisableWow64FsRedirection")));
    revert = reinterpret_cast<RevertFn>(
        reinterpret_cast<void*>(GetProcAddress(kernel, "Wow64RevertWow64FsRedirection")));
  }
};

const RedirectionCalls& Calls() {
  static const RedirectionCalls calls;
  return calls;
}

bool DetectWow64() {
  HMODULE kernel = GetModuleHandleA("kernel32");
  if (!kernel) return false;
  auto isWow64Process = reinterpret_cast<IsWow64ProcessFn>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "IsWow64Process")));
  if (!isWow64Process) return false;
  BOOL wow64 = FALSE;
  if (!isWow64Process(GetCurrentProcess(), &wow64)) return false;
  return wow64 != FALSE;
}

}  // namespace

const bool RedirAvailable = Calls().disable != nullptr && Calls().revert != nullptr;
const bool IsWow64 = DetectWow64();

bool DisableRedirection(bool switchOff, TRedirState& state) {
  state.Disabled = false;
  if (!switchOff) return true;
  if (!RedirAvailable) {
    SetLastError(ERROR_INVALID_FUNCTION);
    return false;
  }
  if (!Calls().disable(&state.OldValue)) return false;
  state.Disabled = true;
  return true;
}

void RevertRedirection(const TRedirState& state) {
  if (state.Disabled) Calls().revert(state.OldValue);
}

HANDLE FindFirstFileNoRedir(bool switchOff, const std::string& pattern, WIN32_FIND_DATAA& data) {
  TRedirState state;
  if (!DisableRedirection(switchOff, state)) return INVALID_HANDLE_VALUE;
  const HANDLE handle = FindFirstFileA(pattern.c_str(), &data);
  const DWORD error = GetLastError();
  RevertRedirection(state);
  SetLastError(error);
  return handle;
}

}  // namespace kestrava
