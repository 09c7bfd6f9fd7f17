#pragma once
// Stopping and starting one Windows service by name. Every step and every failure goes to the
// debug log; nothing is raised. A stop writes the service into the record before it sends the
// control, so that a run killed while the service goes down still leaves it in the record, and
// takes it out again when the stop is refused. A start removes the service it finds running.
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
  kNotTried,  // an empty name, or the worker was asked to terminate first
  // A stop.
  kStopped,         // stopped by this call, and recorded
  kAlreadyStopped,  // found stopped: not recorded
  kRefused,         // the manager or the service refused (text: the system's): not recorded
  kNotInstalled,    // no service of that name
  kStoppedLate,     // accepted the stop, not seen stopped when the wait ended: recorded
  kNotStopped,      // accepted the stop, yet still running when the wait ended: recorded
  kNotRecorded,     // not stopped, since the record could not be written (text: the system's)
  // A start.
  kStarted,         // started by this call, and gone from the record
  kAlreadyRunning,  // found running: gone from the record
  kStartAccepted,   // accepted the start, not seen running when the wait ended
  kFailedToStart,   // not running at the end (text: the system's, or the state it was left in)
  kNotInCatalogue,  // a recorded name no boost of this program stops: not started
};

struct ServiceResult {
  ServiceOutcome outcome = ServiceOutcome::kNotTried;
  std::string text;  // why, for the outcomes that have a reason; empty otherwise
};

// True when a stop brought the service to the stopped state (not when it was stopped already).
bool Stopped(const ServiceResult& result);
// True when the service runs at the end of a start, also when it was running already.
bool Running(const ServiceResult& result);

// Stops the service and keeps the record true to it. An empty name logs only "Stop:".
ServiceResult StopNamedService(ServiceControl& control, const std::string& machine,
                               const std::string& name);
// Starts the service; once it runs, it is removed from the record.
ServiceResult StartNamedService(ServiceControl& control, const std::string& machine,
                                const std::string& name);

}  // namespace kestrava
