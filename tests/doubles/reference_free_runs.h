#pragma once
// The free-run scan of one bitmap window as its definition reads, one bit at a time: the oracle
// the word-at-a-time scan is checked against, in the tests and beside it in the benchmark.
#include <cstdint>

#include "defrag/free_runs.h"

namespace kestrava::testing {

inline void ReferenceFreeRunsOfWindow(TFreeRuns& runs, const unsigned char* bitmap,
                                      std::int64_t baseLcn, std::uint32_t count) {
  bool open = false;
  std::int64_t start = 0, length = 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    const bool used = (bitmap[i / 8] >> (i % 8)) & 1;
    if (!used) {
      if (!open) {
        open = true;
        start = baseLcn + i;
        length = 1;
      } else {
        ++length;
      }
    } else if (open) {
      AddFreeRun(runs, start, length);
      open = false;
    }
  }
  if (open) AddFreeRun(runs, start, length);
}

}  // namespace kestrava::testing
