#pragma once
// Sleeping and elapsed time, for the short waits of service control; tests substitute a clock
// that only pretends to sleep.
#include <cstdint>

namespace kestrava {

class ClockPort {
 public:
  virtual ~ClockPort() = default;
  virtual void Sleep(std::uint32_t milliseconds) = 0;
  // A millisecond count that only grows (it may wrap: compare differences, never values).
  virtual std::uint32_t Milliseconds() = 0;
};

// Sleep and GetTickCount on Windows (GetTickCount64 is not on XP); std::chrono on the host.
ClockPort& PlatformClock();

}  // namespace kestrava
