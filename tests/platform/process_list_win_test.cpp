// Trimming against Wine's real native process list, through the Win32 adapter.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "boost/process_list_port.h"
#include "boost/trim.h"

namespace kestrava {
namespace {

// Passes every call on to the real adapter and notes the ids it was asked to open.
class Recording final : public ProcessListPort {
 public:
  std::vector<std::uint32_t> asked, trimmed;
  NtStatus QueryProcessList(void* buffer, std::uint32_t length) override {
    return real_.QueryProcessList(buffer, length);
  }
  WinError OpenForQuota(std::uint32_t id, Handle* process) override {
    asked.push_back(id);
    const WinError error = real_.OpenForQuota(id, process);
    if (error == err::kSuccess) trimmed.push_back(id);
    return error;
  }
  WinError EmptyWorkingSet(Handle process) override { return real_.EmptyWorkingSet(process); }
  void Close(Handle process) override { real_.Close(process); }

 private:
  ProcessListPort& real_ = PlatformProcessList();
};

TEST(Win32ProcessList, EveryRunningProcessIsAskedForOurOwnIncluded) {
  Recording port;
  ASSERT_TRUE(TrimProcessWorkingSets(port));
  const std::uint32_t self = GetCurrentProcessId();
  EXPECT_NE(std::find(port.trimmed.begin(), port.trimmed.end(), self), port.trimmed.end());
  // Wine's own system processes run beside us.
  EXPECT_GE(port.asked.size(), 3u);
}

TEST(Win32ProcessList, TheQueryAsksForMoreRoomWhenTheBufferIsSmall) {
  char tiny[16];
  EXPECT_EQ(PlatformProcessList().QueryProcessList(tiny, sizeof tiny), nt::kInfoLengthMismatch);
}

TEST(Win32ProcessList, OurOwnRecordCarriesOurWorkingSet) {
  std::uint64_t ours = 0;
  ASSERT_TRUE(ForEachProcessRecord(PlatformProcessList(), [&](const ProcessRecord& record) {
    if (record.id == GetCurrentProcessId()) ours = record.workingSetBytes;
    return true;
  }));
  // At least the test's own code is resident; far less than the machine has.
  EXPECT_GE(ours, 256u * 1024);
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  ASSERT_TRUE(GlobalMemoryStatusEx(&status));
  EXPECT_LT(ours, status.ullTotalPhys);
}

}  // namespace
}  // namespace kestrava
