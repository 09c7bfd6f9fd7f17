#pragma once
// The head of a native process-list record (SYSTEM_PROCESS_INFORMATION as the native API
// publishes it), in the layout of this build's own bitness: the process id sits at byte 0x44 in a
// 32-bit process and at 0x50 in a 64-bit one, the working set's size at 0x68 and at 0x90.
#include <cstddef>
#include <cstdint>

namespace kestrava {

struct ProcessRecordHead {
  std::uint32_t NextEntryOffset;  // bytes to the next record; 0 in the last one
  std::uint32_t NumberOfThreads;
  std::uint8_t Reserved1[48];
  struct {
    std::uint16_t Length;
    std::uint16_t MaximumLength;
    void* Buffer;
  } ImageName;
  std::int32_t BasePriority;
  void* UniqueProcessId;  // a HANDLE-sized process id
  void* InheritedFromUniqueProcessId;
  std::uint32_t HandleCount;
  std::uint32_t SessionId;
  std::uintptr_t UniqueProcessKey;
  std::size_t PeakVirtualSize;
  std::size_t VirtualSize;
  std::uint32_t PageFaultCount;
  std::size_t PeakWorkingSetSize;
  std::size_t WorkingSetSize;  // bytes
};

inline constexpr std::size_t kProcessIdOffset = offsetof(ProcessRecordHead, UniqueProcessId);
// A record must hold at least this much for its id to be read.
inline constexpr std::size_t kProcessRecordMinimum = kProcessIdOffset + sizeof(void*);
inline constexpr std::size_t kWorkingSetSizeOffset = offsetof(ProcessRecordHead, WorkingSetSize);
// ... and this much for its working set's size.
inline constexpr std::size_t kProcessRecordWithWorkingSet = sizeof(ProcessRecordHead);

static_assert(kProcessIdOffset == (sizeof(void*) == 4 ? 0x44 : 0x50),
              "the native record's layout for this bitness");
static_assert(kWorkingSetSizeOffset == (sizeof(void*) == 4 ? 0x68 : 0x90) &&
                  kProcessRecordWithWorkingSet == kWorkingSetSizeOffset + sizeof(std::size_t),
              "the native record's layout for this bitness");

}  // namespace kestrava
