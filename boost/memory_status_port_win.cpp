#include <windows.h>

#include "boost/memory_status_port.h"
#include "win32/last_error.h"

namespace kestrava {
namespace {

class Win32MemoryStatus final : public MemoryStatusPort {
 public:
  WinError AvailablePhysical(std::uint64_t* bytes) override {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    if (!GlobalMemoryStatusEx(&status)) return FailureCode();
    *bytes = status.ullAvailPhys;
    return err::kSuccess;
  }
};

}  // namespace

MemoryStatusPort& PlatformMemoryStatus() {
  static Win32MemoryStatus port;
  return port;
}

}  // namespace kestrava
