#include <windows.h>

#include "boost/clock_port.h"

namespace kestrava {
namespace {
class Win32Clock final : public ClockPort {
 public:
  void Sleep(std::uint32_t milliseconds) override { ::Sleep(milliseconds); }
  std::uint32_t Milliseconds() override { return GetTickCount(); }
};
}  // namespace

ClockPort& PlatformClock() {
  static Win32Clock clock;
  return clock;
}

}  // namespace kestrava
