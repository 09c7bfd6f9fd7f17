#include "bench/thread_clock.h"

#include <time.h>

namespace kestrava::bench {

std::int64_t ThreadCpuNs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

std::int64_t ThreadClockStepNs() {
  timespec step{};
  clock_getres(CLOCK_THREAD_CPUTIME_ID, &step);
  return static_cast<std::int64_t>(step.tv_sec) * 1000000000 + step.tv_nsec;
}

}  // namespace kestrava::bench
