#include "app/startup.h"

#include "app/command_line.h"

namespace kestrava {

int RunStartup(StartupPort& port, const std::vector<std::string>& arguments) {
  const bool autorun = HasAutorunSwitch(arguments);
  if (const StartupPort::Window running = port.FindRunningInstance()) {
    // A start with the switch (typically at logon) must not disturb a running instance.
    if (!autorun) port.PostWakeUp(running);
    return 0;
  }
  // The window search alone leaves a gap between an instance's start and its window's creation.
  if (port.CreateInstanceMutex() == MutexResult::AlreadyExists) return 0;
  port.RunApplication(!autorun);
  return 0;
}

}  // namespace kestrava
