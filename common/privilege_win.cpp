#include "common/system_win.h"
#include "win32/unique_handle.h"

namespace kestrava {

bool EnablePrivilege(const std::string& privilegeName) {
  UniqueKernelHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, token.Put())) return false;

  TOKEN_PRIVILEGES privileges = {};
  if (!LookupPrivilegeValueA(nullptr, privilegeName.c_str(), &privileges.Privileges[0].Luid)) {
    return false;
  }
  privileges.PrivilegeCount = 1;
  privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
  DWORD returnLength = 0;
  // AdjustTokenPrivileges succeeds even when the token lacks the privilege (the last error then
  // says ERROR_NOT_ALL_ASSIGNED); callers only need to know the request went through.
  return AdjustTokenPrivileges(token.Get(), FALSE, &privileges, sizeof(privileges), nullptr,
                               &returnLength) != FALSE;
}

}  // namespace kestrava
