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

// True when this call brought the service to the stopped state; false otherwise, also when it
// was stopped already. An empty name logs only "Stop:".
bool StopNamedService(ServiceControl& control, const std::string& machine, const std::string& name);
// True when the service runs at the end of this call, also when it was running already.
bool StartNamedService(ServiceControl& control, const std::string& machine,
                       const std::string& name);

}  // namespace kestrava
