#pragma once
// This thread's CPU time, the clock every benchmark reads: other work on the machine disturbs it
// little. Linux counts it to the nanosecond; Windows (and Wine) in steps of 10 to 16 ms, so a
// timing there repeats its work until the step is small beside the time measured.
#include <cstdint>

namespace kestrava::bench {

// This thread's CPU time in nanoseconds.
std::int64_t ThreadCpuNs();

// The smallest step ThreadCpuNs takes, in nanoseconds.
std::int64_t ThreadClockStepNs();

}  // namespace kestrava::bench
