#pragma once
// Enabling a privilege of the process token ("SeDebugPrivilege", "SeRestorePrivilege",
// "SeBackupPrivilege"), which the boost needs before it trims other processes or reads volumes.
#include <string>

#include "common/win_error.h"

namespace kestrava {

class PrivilegePort {
 public:
  virtual ~PrivilegePort() = default;
  // OpenProcessToken(TOKEN_ADJUST_PRIVILEGES), LookupPrivilegeValueA on the local system, and
  // AdjustTokenPrivileges with the one privilege enabled: the code of the first call that failed.
  // Like the system, it does not report a privilege the token lacks (ERROR_NOT_ALL_ASSIGNED is
  // only a last error beside a successful adjust).
  virtual WinError Enable(const std::string& privilegeName) = 0;
};

// The process token (Windows build only).
PrivilegePort& PlatformPrivileges();

// True when the request went through.
inline bool EnablePrivilege(PrivilegePort& port, const std::string& privilegeName) {
  return port.Enable(privilegeName) == err::kSuccess;
}

}  // namespace kestrava
