#include <windows.h>

#include "boost/os_version.h"
#include "win32/last_error.h"

namespace kestrava {
namespace {
class Win32OsVersion final : public OsVersionPort {
 public:
  WinError Query(OsVersionReport& report) override {
    OSVERSIONINFOA info = {};
    info.dwOSVersionInfoSize = sizeof(info);  // the basic record, 148 bytes
    if (!GetVersionExA(&info)) return FailureCode();
    report.platformId = info.dwPlatformId;
    report.major = info.dwMajorVersion;
    report.minor = info.dwMinorVersion;
    return err::kSuccess;
  }
};
static_assert(sizeof(OSVERSIONINFOA) == 148, "basic version record");
}  // namespace

OsVersionPort& PlatformOsVersion() {
  static Win32OsVersion port;
  return port;
}

}  // namespace kestrava
