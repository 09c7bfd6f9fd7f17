#include <cstdio>
#include <cstdlib>

#include "common/debug_log.h"

namespace kestrava {
namespace {
class StderrDebugOutput final : public DebugOutputPort {
 public:
  void Write(const std::string& line) override {
    if (enabled_) std::fprintf(stderr, "%s\n", line.c_str());
  }

 private:
  bool enabled_ = std::getenv("KESTRAVA_DEBUG_STDERR") != nullptr;
};
}  // namespace

DebugOutputPort& PlatformDebugOutput() {
  static StderrDebugOutput output;
  return output;
}

}  // namespace kestrava
