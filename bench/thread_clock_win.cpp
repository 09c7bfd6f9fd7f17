#include "bench/thread_clock.h"

#include <windows.h>

#include <algorithm>

namespace kestrava::bench {
namespace {

std::int64_t Hundreds(const FILETIME& time) {
  return static_cast<std::int64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

}  // namespace

std::int64_t ThreadCpuNs() {
  FILETIME created, exited, kernel, user;
  if (!GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user)) return 0;
  return (Hundreds(kernel) + Hundreds(user)) * 100;
}

// Windows says nothing of the step: it is watched, as the smallest of a few steps the clock takes
// while this thread spins (the first may be cut short by where the spin began).
std::int64_t ThreadClockStepNs() {
  std::int64_t step = INT64_MAX;
  std::int64_t last = ThreadCpuNs();
  for (int seen = 0; seen < 4;) {
    const std::int64_t now = ThreadCpuNs();
    if (now == last) continue;
    if (seen++ > 0) step = std::min(step, now - last);
    last = now;
  }
  return step;
}

}  // namespace kestrava::bench
