#pragma once
// A native process list a test lays out byte by byte, answered as the native query answers: "too
// small" until the caller's buffer holds it all. It counts what was opened and what was trimmed.
#include <cstring>
#include <map>
#include <set>
#include <vector>

#include "boost/process_list_port.h"
#include "boost/memory_status_port.h"
#include "boost/process_records.h"

namespace kestrava::testing {

class FakeProcessList final : public ProcessListPort {
 public:
  std::vector<std::uint8_t> list;
  NtStatus failWith = nt::kSuccess;
  std::set<std::uint32_t> refusing;  // ids whose open fails
  std::vector<std::uint32_t> queriedLengths, opened, trimmed;
  int open = 0;

  // Appends a record of size bytes (the last one's NextEntryOffset stays as given), with a
  // working set of workingSet bytes when the record is large enough to hold it.
  void Add(std::uint32_t id, std::uint32_t next, std::size_t size = 256,
           std::size_t workingSet = 0) {
    const std::size_t at = list.size();
    list.resize(at + size, 0);
    std::memcpy(&list[at], &next, sizeof next);
    void* handleSized = reinterpret_cast<void*>(static_cast<std::uintptr_t>(id));
    std::memcpy(&list[at + kProcessIdOffset], &handleSized, sizeof handleSized);
    if (size >= kProcessRecordWithWorkingSet) {
      std::memcpy(&list[at + kWorkingSetSizeOffset], &workingSet, sizeof workingSet);
      workingSets_[id] = at + kWorkingSetSizeOffset;
    }
  }

  NtStatus QueryProcessList(void* buffer, std::uint32_t length) override {
    queriedLengths.push_back(length);
    if (failWith != nt::kSuccess) return failWith;
    if (length < list.size()) return nt::kInfoLengthMismatch;
    std::memset(buffer, 0xCD, length);  // what lies past the list is not the caller's to read
    std::memcpy(buffer, list.data(), list.size());
    return nt::kSuccess;
  }
  WinError OpenForQuota(std::uint32_t id, Handle* process) override {
    opened.push_back(id);
    if (refusing.count(id) != 0) return err::kAccessDenied;
    ++open;
    *process = id + 1;
    return err::kSuccess;
  }
  // Empties the process's working set, as the next snapshot shows.
  WinError EmptyWorkingSet(Handle process) override {
    const std::uint32_t id = static_cast<std::uint32_t>(process - 1);
    trimmed.push_back(id);
    const auto it = workingSets_.find(id);
    if (it != workingSets_.end()) std::memset(&list[it->second], 0, sizeof(std::size_t));
    return err::kSuccess;
  }
  void Close(Handle) override { --open; }

  // The sum of the working sets the list holds now.
  std::uint64_t WorkingSetBytes() const {
    std::uint64_t sum = 0;
    for (const auto& entry : workingSets_) {
      std::size_t bytes = 0;
      std::memcpy(&bytes, &list[entry.second], sizeof bytes);
      sum += bytes;
    }
    return sum;
  }

 private:
  std::map<std::uint32_t, std::size_t> workingSets_;  // id: where its working set's field is
};

// The machine's memory as a test sets it.
class FakeMemoryStatus final : public MemoryStatusPort {
 public:
  std::uint64_t available = 0;
  WinError failWith = err::kSuccess;
  int queries = 0;
  WinError AvailablePhysical(std::uint64_t* bytes) override {
    ++queries;
    if (failWith != err::kSuccess) return failWith;
    *bytes = available;
    return err::kSuccess;
  }
};

}  // namespace kestrava::testing
