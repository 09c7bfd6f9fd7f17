#include "common/debug_log.h"

#include <atomic>

namespace kestrava {
namespace {
std::atomic<DebugOutputPort*> g_output{nullptr};
}  // namespace

DebugOutputPort* SetDebugOutput(DebugOutputPort* port) { return g_output.exchange(port); }

void DebugLog(const std::string& message) {
  DebugOutputPort* port = g_output.load();
  (port ? *port : PlatformDebugOutput()).Write("Tarnwell:" + message);
}

}  // namespace kestrava
