#include <windows.h>

#include "boost/process_list_port.h"
#include "win32/dynamic_calls_win.h"
#include "win32/last_error.h"
#include "win32/unique_handle.h"

namespace kestrava {
namespace {

constexpr ULONG kSystemProcessInformation = 5;

class Win32ProcessList final : public ProcessListPort {
 public:
  NtStatus QueryProcessList(void* buffer, std::uint32_t length) override {
    const QuerySystemInformationFn query = SystemCalls().querySystemInformation;
    if (query == nullptr) return nt::kProcedureNotFound;
    return static_cast<NtStatus>(query(kSystemProcessInformation, buffer, length, nullptr));
  }
  WinError OpenForQuota(std::uint32_t processId, Handle* process) override {
    HANDLE h = OpenProcess(PROCESS_SET_QUOTA, FALSE, processId);
    if (h == nullptr) return FailureCode();
    *process = reinterpret_cast<Handle>(h);
    return err::kSuccess;
  }
  WinError EmptyWorkingSet(Handle process) override {
    const SIZE_T all = static_cast<SIZE_T>(-1);
    return SetProcessWorkingSetSize(reinterpret_cast<HANDLE>(process), all, all) ? err::kSuccess
                                                                                 : FailureCode();
  }
  void Close(Handle process) override { CloseKernelHandle(reinterpret_cast<HANDLE>(process)); }
};

}  // namespace

ProcessListPort& PlatformProcessList() {
  static Win32ProcessList port;
  return port;
}

}  // namespace kestrava
