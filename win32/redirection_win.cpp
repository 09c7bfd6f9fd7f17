#include "win32/dynamic_calls_win.h"
#include "win32/redirection_win.h"

namespace kestrava {
namespace {

bool DetectWow64() {
  const IsWow64ProcessFn isWow64Process = SystemCalls().isWow64Process;
  if (isWow64Process == nullptr) return false;
  BOOL wow64 = FALSE;
  if (!isWow64Process(GetCurrentProcess(), &wow64)) return false;
  return wow64 != FALSE;
}

}  // namespace

const bool RedirAvailable = SystemCalls().wow64DisableWow64FsRedirection != nullptr &&
                            SystemCalls().wow64RevertWow64FsRedirection != nullptr;
const bool IsWow64 = DetectWow64();

bool DisableRedirection(bool switchOff, TRedirState& state) {
  state.Disabled = false;
  if (!switchOff) return true;
  if (!RedirAvailable) {
    SetLastError(ERROR_INVALID_FUNCTION);
    return false;
  }
  if (!SystemCalls().wow64DisableWow64FsRedirection(&state.OldValue)) return false;
  state.Disabled = true;
  return true;
}

void RevertRedirection(const TRedirState& state) {
  if (state.Disabled) SystemCalls().wow64RevertWow64FsRedirection(state.OldValue);
}

RedirectionOff::~RedirectionOff() {
  const DWORD lastError = GetLastError();
  RevertRedirection(state_);
  SetLastError(lastError);
}

HANDLE FindFirstFileNoRedir(bool switchOff, const std::string& pattern, WIN32_FIND_DATAA& data) {
  const RedirectionOff redirection(switchOff);
  if (!redirection.ok()) return INVALID_HANDLE_VALUE;
  return FindFirstFileA(pattern.c_str(), &data);
}

}  // namespace kestrava
