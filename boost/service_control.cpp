#include "boost/service_control.h"

#include "boost/record.h"
#include "common/debug_log.h"
#include "common/system_message.h"
#include "common/texts.h"

namespace kestrava {
namespace {

// How long the operations wait for a service to get where it was told to go: about a second of
// sleeping, counted as slept (a turn's pause is what the service asked for, or 50 ms).
constexpr std::uint32_t kWaitBudgetMs = 1000;
// A service that keeps asking for no wait at all adds nothing to the slept total; only the time
// that has passed ends its wait. Far enough beyond the budget that Sleep's overshoot over the
// twenty-odd turns of a normal wait never reaches it.
constexpr std::uint32_t kWaitBackstopMs = 3000;
// The pause of a turn whose service asked for no wait: without it the loop would put some two
// thousand queries a second to the Service Control Manager.
constexpr std::uint32_t kLeastPauseMs = 10;

// The two directions, with the texts and states in which they differ.
struct Direction {
  const char* logPrefix;  // "Stop:" / "Start:"
  std::uint32_t access;
  const char* statusPrefix;
  std::uint32_t target;
  const char* alreadyThere;
  bool alreadyThereCounts;  // a service found in the target state is a success
  const char* requestLabel;
  const char* successLine;
  const char* failureLine;  // nullptr: a failed start logs nothing more
};

// clang-format off
constexpr Direction kStop{"Stop:",          svc::kAccessStop,         STryToStop,
                          svc::kStopped,    "Already Stopped",        false,
                          "ControlService", "Stop service Successfully", "Failed to stop service!"};
constexpr Direction kStart{"Start:",        svc::kAccessStart,         STryToStart,
                           svc::kRunning,   "Already Started",         true,
                           "StartService",  "Start Service Successfully", nullptr};
// clang-format on

void LogError(const char* label, WinError code) {
  DebugLog(std::string(label) + " Error:" + SystemMessage(code));
}

// Waits, about a second of sleeping at most, while the service moves on towards the target state.
void WaitForState(ServiceControl& control, ServiceManagerPort::Handle service, std::uint32_t target,
                  ServiceStatus& status) {
  std::uint32_t slept = 0;
  const std::uint32_t start = control.clock.Milliseconds();
  while (status.currentState != target) {
    const std::uint32_t checkPoint = status.checkPoint;
    const std::uint32_t counted = status.waitHint < 100 ? status.waitHint : 50;
    control.clock.Sleep(counted == 0 ? kLeastPauseMs : counted);
    slept += counted;
    if (control.services.QueryStatus(service, &status) != err::kSuccess) return;
    if (status.checkPoint < checkPoint) return;
    if (slept > kWaitBudgetMs) return;
    if (control.clock.Milliseconds() - start > kWaitBackstopMs) return;
  }
}

// The state a service was left in, for a receipt.
std::string StateText(std::uint32_t state) {
  switch (state) {
    case svc::kStopped: return "stopped";
    case svc::kStartPending: return "still starting when the wait ended";
    case svc::kStopPending: return "still stopping when the wait ended";
    case svc::kRunning: return "running";
    default: return "left in state " + std::to_string(state);
  }
}

bool Run(ServiceControl& control, const Direction& d, const std::string& machine,
         const std::string& name, ServiceResult& outcome) {
  const bool stop = &d == &kStop;
  outcome = {};
  DebugLog(d.logPrefix + name);
  if (control.terminated && control.terminated()) return false;
  if (stop && name.empty()) return false;

  // A refusal before the service did anything: the system's text, under the direction's word.
  const auto refused = [&](WinError code) {
    outcome.outcome = stop ? (code == err::kServiceDoesNotExist ? ServiceOutcome::kNotInstalled
                                                                : ServiceOutcome::kRefused)
                           : ServiceOutcome::kFailedToStart;
    outcome.text = SystemMessage(code);
  };

  ServiceManagerPort& services = control.services;
  ServiceHandle manager(services);
  WinError error = services.OpenManager(machine, manager.Put());
  if (error != err::kSuccess) {
    LogError("OpenSCManager", error);
    refused(error);
    return false;
  }

  bool result = false;
  // A stop: the service accepted the control and is going down because of this call, whether or
  // not it got there while we watched. A restore must give it back, so it is recorded either way.
  bool goingDown = false;
  {
    ServiceHandle service(services);
    error = services.OpenNamedService(manager.Get(), name, d.access, service.Put());
    if (error != err::kSuccess) {
      LogError("OpenService", error);
      refused(error);
    } else {
      std::string display;
      if (services.DisplayName(manager.Get(), name, &display) != err::kSuccess) display = name;
      if (control.showStatus) control.showStatus(std::string(d.statusPrefix) + " " + display);

      ServiceStatus status;
      const bool known = services.QueryStatus(service.Get(), &status) == err::kSuccess;
      if (known && status.currentState == d.target) {
        DebugLog(d.alreadyThere);
        result = d.alreadyThereCounts;
        outcome.outcome = stop ? ServiceOutcome::kAlreadyStopped : ServiceOutcome::kAlreadyRunning;
      } else {
        error = stop ? services.Control(service.Get(), svc::kControlStop, &status)
                     : services.Start(service.Get());
        if (error != err::kSuccess) {
          LogError(d.requestLabel, error);
          refused(error);
        } else {
          // status holds what the control returned until a query reads a newer one.
          if ((error = services.QueryStatus(service.Get(), &status)) != err::kSuccess) {
            LogError("QueryServiceStatus", error);
            outcome.text = SystemMessage(error);
          } else {
            WaitForState(control, service.Get(), d.target, status);
            result = status.currentState == d.target;
            outcome.text = StateText(status.currentState);
          }
          goingDown = stop && (status.currentState == svc::kStopPending ||
                               status.currentState == svc::kStopped);
          if (result) {
            outcome = {stop ? ServiceOutcome::kStopped : ServiceOutcome::kStarted, ""};
          } else if (stop) {
            outcome.outcome =
                goingDown ? ServiceOutcome::kStoppedLate : ServiceOutcome::kNotStopped;
          } else {
            outcome.outcome = ServiceOutcome::kFailedToStart;
          }
        }
      }
    }
  }  // the service's handle is closed before the connection's

  manager.Reset();
  WinError recorded = err::kSuccess;
  if (result) {
    DebugLog(d.successLine);
    recorded = SetBoostedService(control.registry, name, !stop);
  } else {
    if (d.failureLine != nullptr) DebugLog(d.failureLine);
    // It accepted the stop and is going down because of this boost: a restore must give it back.
    if (goingDown) recorded = SetBoostedService(control.registry, name, false);
  }
  // A stopped service the record does not hold is one no restore will give back.
  if (stop && recorded != err::kSuccess) {
    if (!outcome.text.empty()) outcome.text += "; ";
    outcome.text += "the record could not be written: " + SystemMessage(recorded);
  }
  return result;
}

}  // namespace

bool StopNamedService(ServiceControl& control, const std::string& machine, const std::string& name,
                      ServiceResult* result) {
  ServiceResult outcome;
  const bool stopped = Run(control, kStop, machine, name, outcome);
  if (result != nullptr) *result = std::move(outcome);
  return stopped;
}

bool StartNamedService(ServiceControl& control, const std::string& machine, const std::string& name,
                       ServiceResult* result) {
  ServiceResult outcome;
  const bool running = Run(control, kStart, machine, name, outcome);
  if (result != nullptr) *result = std::move(outcome);
  return running;
}

}  // namespace kestrava
