#pragma once
// What trimming the working sets of all processes needs from the system: the native process list
// and a process handle that may change the working set. A thin pass-through; the walk over the
// records, which come from the system and are not trusted, belongs to the caller.
#include <cstddef>
#include <cstdint>

#include "common/win_error.h"

namespace kestrava {

// NTSTATUS values of the native query.
using NtStatus = std::uint32_t;
namespace nt {
inline constexpr NtStatus kSuccess = 0;
inline constexpr NtStatus kInfoLengthMismatch = 0xC0000004;
inline constexpr NtStatus kProcedureNotFound = 0xC000007A;  // the system has no such query
}  // namespace nt

class ProcessListPort {
 public:
  using Handle = std::uintptr_t;  // a process HANDLE on Windows; 0 is never valid

  virtual ~ProcessListPort() = default;

  // ZwQuerySystemInformation(SystemProcessInformation) into buffer, without a returned length.
  // nt::kProcedureNotFound when ntdll lacks the query.
  virtual NtStatus QueryProcessList(void* buffer, std::uint32_t length) = 0;
  // OpenProcess with PROCESS_SET_QUOTA only, not inheritable.
  virtual WinError OpenForQuota(std::uint32_t processId, Handle* process) = 0;
  // SetProcessWorkingSetSize(process, -1, -1): empties the working set as far as it can.
  virtual WinError EmptyWorkingSet(Handle process) = 0;
  virtual void Close(Handle process) = 0;
};

// The real system (Windows build only).
ProcessListPort& PlatformProcessList();

}  // namespace kestrava
