#include "boost/privilege_port.h"
#include "win32/last_error.h"
#include "win32/unique_handle.h"

namespace kestrava {
namespace {

class Win32Privileges final : public PrivilegePort {
 public:
  WinError Enable(const std::string& privilegeName) override {
    UniqueKernelHandle token;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, token.Put())) {
      return FailureCode();
    }
    TOKEN_PRIVILEGES privileges = {};
    if (!LookupPrivilegeValueA(nullptr, privilegeName.c_str(), &privileges.Privileges[0].Luid)) {
      return FailureCode();
    }
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    DWORD returnLength = 0;
    if (!AdjustTokenPrivileges(token.Get(), FALSE, &privileges, sizeof(privileges), nullptr,
                               &returnLength)) {
      return FailureCode();
    }
    return err::kSuccess;
  }
};

}  // namespace

PrivilegePort& PlatformPrivileges() {
  static Win32Privileges port;
  return port;
}

}  // namespace kestrava
