#pragma once
// The machine's physical memory as Task Manager shows it, for the preview and the receipt of a
// boost. A thin pass-through.
#include <cstdint>

#include "common/win_error.h"

namespace kestrava {

class MemoryStatusPort {
 public:
  virtual ~MemoryStatusPort() = default;
  // GlobalMemoryStatusEx's available physical memory, in bytes.
  virtual WinError AvailablePhysical(std::uint64_t* bytes) = 0;
};

// The real system (Windows build only).
MemoryStatusPort& PlatformMemoryStatus();

}  // namespace kestrava
