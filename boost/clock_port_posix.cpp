#include <chrono>
#include <thread>

#include "boost/clock_port.h"

namespace kestrava {
namespace {
class SteadyClock final : public ClockPort {
 public:
  void Sleep(std::uint32_t milliseconds) override {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }
  std::uint32_t Milliseconds() override {
    return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
  }
};
}  // namespace

ClockPort& PlatformClock() {
  static SteadyClock clock;
  return clock;
}

}  // namespace kestrava
