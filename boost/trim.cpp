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

// The records come from the system and are not trusted: a field is read only when the record
// holds it inside the buffer, and the walk only ever moves forward, so it ends at the buffer's end
// whatever the offsets say.
void VisitEveryRecord(const std::uint8_t* buffer, std::uint32_t length,
                      const std::function<bool(const ProcessRecord&)>& visit) {
  std::size_t offset = 0;
  while (length - offset >= kProcessRecordMinimum) {
    const std::uint8_t* record = buffer + offset;
    std::uint32_t next = 0;
    std::memcpy(&next, record, sizeof next);
    void* id = nullptr;
    std::memcpy(&id, record + kProcessIdOffset, sizeof id);
    ProcessRecord visited;
    visited.id = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(id));
    // A record that says it ends before the field does not hold it (the bytes are the next one's).
    const bool holdsWorkingSet = length - offset >= kProcessRecordWithWorkingSet &&
                                 (next == 0 || next >= kProcessRecordWithWorkingSet);
    if (holdsWorkingSet) {
      std::size_t workingSet = 0;
      std::memcpy(&workingSet, record + kWorkingSetSizeOffset, sizeof workingSet);
      visited.workingSetBytes = workingSet;
    }
    if (!visit(visited)) return;
    if (next == 0 || next > length - offset) return;
    offset += next;
  }
}

}  // namespace

bool ForEachProcessRecord(ProcessListPort& port,
                          const std::function<bool(const ProcessRecord& record)>& visit) {
  for (std::uint32_t length = kFirstBufferLength; length <= kLargestBufferLength; length *= 2) {
    std::unique_ptr<std::uint8_t[]> buffer(new (std::nothrow) std::uint8_t[length]);
    if (!buffer) return false;
    const NtStatus status = port.QueryProcessList(buffer.get(), length);
    if (status == nt::kInfoLengthMismatch) continue;
    if (status != nt::kSuccess) return false;
    VisitEveryRecord(buffer.get(), length, visit);
    return true;
  }
  return false;
}

bool TrimProcessWorkingSets(ProcessListPort& port) {
  return ForEachProcessRecord(port, [&port](const ProcessRecord& record) {
    ProcessHandle process(port);
    if (port.OpenForQuota(record.id, process.Put()) == err::kSuccess) {
      port.EmptyWorkingSet(process.Get());  // a process that refuses is passed over
    }
    return true;
  });
}

bool SumTrimmableWorkingSets(ProcessListPort& port, WorkingSetTotal& total,
                             const std::function<bool()>& cancelled) {
  WorkingSetTotal sum;
  // Opened as the trim opens them, so that the count is of what a trim would reach, and closed
  // again untouched.
  const bool walked = ForEachProcessRecord(port, [&](const ProcessRecord& record) {
    if (cancelled && cancelled()) return false;
    ProcessHandle process(port);
    if (port.OpenForQuota(record.id, process.Put()) == err::kSuccess) {
      ++sum.processes;
      sum.bytes += record.workingSetBytes;
    }
    return true;
  });
  if (walked) total = sum;
  return walked;
}

}  // namespace kestrava
