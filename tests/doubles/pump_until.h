#pragma once
// Serving the calling thread's messages while work handed to it from another thread arrives.
#include <chrono>
#include <thread>

#include "common/hand_off.h"

namespace kestrava::testing {

// Serves the calling thread's messages with pump() until done() holds; false when that has not
// happened within a generous 20 seconds.
template <typename Done, typename Pump>
bool PumpUntil(Done done, Pump pump) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    if (!pump()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// The same with the platform's own message pump.
template <typename Done>
bool PumpUntil(Done done) {
  return PumpUntil(done, [] { return PumpOneMessage(); });
}

}  // namespace kestrava::testing
