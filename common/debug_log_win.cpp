#include <windows.h>

#include "common/debug_log.h"

namespace kestrava {
namespace {
class Win32DebugOutput final : public DebugOutputPort {
 public:
  void Write(const std::string& line) override { OutputDebugStringA(line.c_str()); }
};
}  // namespace

DebugOutputPort& PlatformDebugOutput() {
  static Win32DebugOutput output;
  return output;
}

}  // namespace kestrava
