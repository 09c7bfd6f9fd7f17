#include "boost/trim.h"

#include <cstring>
#include <memory>
#include <new>

#include "boost/process_records.h"
#include "common/port_handle.h"

namespace kestrava {
namespace {

constexpr std::uint32_t kFirstBufferLength = 32768;
// The list doubles until it fits; a system that claims to need more than this is not answered.
constexpr std::uint32_t kLargestBufferLength = 256u << 20;

using ProcessHandle = PortHandle<ProcessListPort>;

// The records come from the system and are not trusted: a record is read only when it lies
// wholly inside the buffer, and the walk only ever moves forward, so it ends at the buffer's end
// whatever the offsets say.
void TrimEveryRecord(ProcessListPort& port, const std::uint8_t* buffer, std::uint32_t length) {
  std::size_t offset = 0;
  while (length - offset >= kProcessRecordMinimum) {
    const std::uint8_t* record = buffer + offset;
    std::uint32_t next = 0;
    std::memcpy(&next, record, sizeof next);
    void* id = nullptr;
    std::memcpy(&id, record + kProcessIdOffset, sizeof id);

    ProcessHandle process(port);
    if (port.OpenForQuota(static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(id)),
                          process.Put()) == err::kSuccess) {
      port.EmptyWorkingSet(process.Get());  // a process that refuses is passed over
    }
    if (next == 0 || next > length - offset) return;
    offset += next;
  }
}

}  // namespace

bool TrimProcessWorkingSets(ProcessListPort& port) {
  for (std::uint32_t length = kFirstBufferLength; length <= kLargestBufferLength; length *= 2) {
    std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[length]);
    if (!buffer) return false;
    const NtStatus status = port.QueryProcessList(buffer.get(), length);
    if (status == nt::kInfoLengthMismatch) continue;
    if (status != nt::kSuccess) return false;
    TrimEveryRecord(port, buffer.get(), length);
    return true;
  }
  return false;
}

}  // namespace kestrava
