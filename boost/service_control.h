#pragma once
// Stopping and starting one Windows service by name. Every step and every failure goes to the
// debug log; nothing is raised. A service this call stops is recorded at once, one it starts is
// removed from the record, so that a run that ends early leaves the record true.
#include <functional>
#include <string>

#include "boost/service_manager_port.h"
#include "boost/clock_port.h"
#include "common/registry_port.h"

namespace kestrava {

// What one operation works with besides its names.
struct ServiceControl {
  ServiceManagerPort& services;
  RegistryPort& registry;  // the boosted-service record
  ClockPort& clock;
  // Shows a progress text in the window's first status panel and returns once it is shown.
  std::function<void(const std::string& text)> showStatus;
  // True once the worker has been asked to terminate.
  std::function<bool()> terminated;
};

// What became of one service, as the operation decided it.
enum class ServiceOutcome {
  kNotTried,        // an empty name, or the worker was asked to terminate first
  kStopped,         // stopped by this call, and recorded
  kAlreadyStopped,  // found stopped: not recorded
  kRefused,         // the manager or the service refused (text: the system's)
  kNotInstalled,    // no service of that name
  kStoppedLate,     // accepted the stop but was not seen stopped: recorded all the same
  kNotStopped,      // accepted the stop, yet still runs: not recorded
  kStarted,         // started by this call, and gone from the record
  kAlreadyRunning,  // found running: gone from the record
  kFailedToStart,   // not running at the end (text: the system's, or the state it was left in)
};

struct ServiceResult {
  ServiceOutcome outcome = ServiceOutcome::kNotTried;
  std::string text;  // why, for the outcomes that have a reason; empty otherwise
};

// True when this call brought the service to the stopped state; false otherwise, also when it
// was stopped already. An empty name logs only "Stop:". result, when given, receives the outcome.
bool StopNamedService(ServiceControl& control, const std::string& machine, const std::string& name,
                      ServiceResult* result = nullptr);
// True when the service runs at the end of this call, also when it was running already.
bool StartNamedService(ServiceControl& control, const std::string& machine, const std::string& name,
                       ServiceResult* result = nullptr);

}  // namespace kestrava
