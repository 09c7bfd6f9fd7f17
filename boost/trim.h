#pragma once
// "Defrag the memory": asks Windows to empty the working set of every running process, in one pass
// over a snapshot of the native process list. Silent: nothing is logged or shown. The same walk
// sums the working sets a trim would work on, for the preview and the receipt of a boost.
#include <cstdint>
#include <functional>

#include "boost/process_list_port.h"

namespace kestrava {

// One record of the native process list as the walk reads it.
struct ProcessRecord {
  std::uint32_t id = 0;
  std::uint64_t workingSetBytes = 0;  // 0 when the record is too short to say
};

// Takes one snapshot of the native process list and calls visit with each record in order until
// visit returns false. False when the list was not obtained.
bool ForEachProcessRecord(ProcessListPort& port,
                          const std::function<bool(const ProcessRecord& record)>& visit);

// True when the process list was obtained and walked; false when it was not obtained.
bool TrimProcessWorkingSets(ProcessListPort& port);

// The processes a trim would work on (those that can be opened to change their working set, as
// the trim opens them) and the sum of their working sets, in bytes.
struct WorkingSetTotal {
  std::uint32_t processes = 0;
  std::uint64_t bytes = 0;
};

// Sums what a trim would work on now, from one snapshot, trimming nothing. cancelled, asked
// between processes, ends the walk early with the sum so far. False, total left alone, when the
// process list was not obtained.
bool SumTrimmableWorkingSets(ProcessListPort& port, WorkingSetTotal& total,
                             const std::function<bool()>& cancelled = nullptr);

}  // namespace kestrava
