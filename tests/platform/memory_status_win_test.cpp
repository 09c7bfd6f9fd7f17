// The memory status adapter against the real (Wine) system.
#include <windows.h>

#include <gtest/gtest.h>

#include "boost/memory_status_port.h"

namespace kestrava {
namespace {

TEST(Win32MemoryStatus, AvailablePhysicalMemoryIsSomeOfTheMachines) {
  std::uint64_t available = 0;
  ASSERT_EQ(PlatformMemoryStatus().AvailablePhysical(&available), err::kSuccess);
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  ASSERT_TRUE(GlobalMemoryStatusEx(&status));
  EXPECT_GT(available, 0u);
  EXPECT_LE(available, status.ullTotalPhys);
}

}  // namespace
}  // namespace kestrava
