#include "boost/service_control.h"

#include <vector>

#include "boost/record.h"
#include "common/ascii_fold.h"
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

void LogError(const char* label, WinError code) {
  DebugLog(std::string(label) + " Error:" + SystemMessage(code));
}

bool Terminated(const ServiceControl& control) {
  return control.terminated && control.terminated();
}

// The connection and the service of one operation. Open logs the call that failed and, once the
// service is open, shows the status text; Close closes the service before the connection.
class OpenedService {
 public:
  explicit OpenedService(ServiceManagerPort& services)
      : services_(services), manager_(services), service_(services) {}

  // connected tells the caller whether a failure came before the connection or after it.
  WinError Open(ServiceControl& control, const std::string& machine, const std::string& name,
                std::uint32_t access, const char* statusPrefix, bool& connected) {
    connected = false;
    WinError error = services_.OpenManager(machine, manager_.Put());
    if (error != err::kSuccess) {
      LogError("OpenSCManager", error);
      return error;
    }
    connected = true;
    error = services_.OpenNamedService(manager_.Get(), name, access, service_.Put());
    if (error != err::kSuccess) {
      LogError("OpenService", error);
      return error;
    }
    std::string display;
    if (services_.DisplayName(manager_.Get(), name, &display) != err::kSuccess) display = name;
    if (control.showStatus) control.showStatus(std::string(statusPrefix) + " " + display);
    return err::kSuccess;
  }
  ServiceManagerPort::Handle Service() const { return service_.Get(); }
  void Close() {
    service_.Reset();
    manager_.Reset();
  }

 private:
  ServiceManagerPort& services_;
  ServiceHandle manager_;  // declared first: destroyed last
  ServiceHandle service_;
};

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

// After an accepted request: the status read now, then the wait for the target state. The state
// read last, or the text of the query that failed right after the request (status then holds
// what the request itself returned).
struct Arrival {
  ServiceStatus status;
  bool known = false;
  std::string text;
};
Arrival Follow(ServiceControl& control, ServiceManagerPort::Handle service, std::uint32_t target,
               const ServiceStatus& reported) {
  Arrival arrival{reported, false, ""};
  const WinError error = control.services.QueryStatus(service, &arrival.status);
  if (error != err::kSuccess) {
    LogError("QueryServiceStatus", error);
    arrival.text = SystemMessage(error);
    return arrival;
  }
  WaitForState(control, service, target, arrival.status);
  arrival.known = true;
  return arrival;
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

// Whether the record holds the name already (value names compare without regard to case).
bool Recorded(RegistryPort& registry, const std::string& name) {
  std::vector<std::string> names;
  ReadBoostedServices(registry, names);
  const std::string folded = FoldAsciiLower(name);
  for (const std::string& recorded : names) {
    if (FoldAsciiLower(recorded) == folded) return true;
  }
  return false;
}

// Takes back the name written before a stop that did not happen. A record left empty goes with
// it, so that a boost that stopped nothing leaves no record key.
void Unrecord(RegistryPort& registry, const std::string& name) {
  if (SetBoostedService(registry, name, true) != err::kSuccess) return;
  std::vector<std::string> names;
  if (ReadBoostedServices(registry, names) == err::kSuccess && names.empty()) {
    ClearBoostedServices(registry);
  }
}

// The stop from the open service on; the handles are the caller's to close.
ServiceResult StopOpened(ServiceControl& control, const std::string& name,
                         ServiceManagerPort::Handle service) {
  ServiceManagerPort& services = control.services;
  ServiceStatus status;
  // A status that cannot be read: carry on as if it were running.
  if (services.QueryStatus(service, &status) == err::kSuccess &&
      status.currentState == svc::kStopped) {
    DebugLog("Already Stopped");
    return {ServiceOutcome::kAlreadyStopped, ""};
  }
  // Recorded before the control: from the moment it is sent the service may go down, and a run
  // killed in the wait must still leave it in the record. A record that cannot be written sends
  // no control at all: no restore would give the service back.
  // A name recorded already (an earlier try of this boost left the service going down) stays
  // whatever this try comes to.
  const bool recordedBefore = Recorded(control.registry, name);
  WinError error = SetBoostedService(control.registry, name, false);
  if (error != err::kSuccess) {
    LogError("SetBoostedService", error);
    return {ServiceOutcome::kNotRecorded, SystemMessage(error)};
  }
  error = services.Control(service, svc::kControlStop, &status);
  if (error != err::kSuccess) {
    LogError("ControlService", error);
    if (!recordedBefore) Unrecord(control.registry, name);
    return {ServiceOutcome::kRefused, SystemMessage(error)};
  }
  // Accepted: whatever it reports, it may go down because of this call, so it stays recorded. A
  // name recorded for one that never stopped is harmless: the restore finds it running.
  const Arrival arrival = Follow(control, service, svc::kStopped, status);
  const std::uint32_t state = arrival.status.currentState;
  if (arrival.known && state == svc::kStopped) return {ServiceOutcome::kStopped, ""};
  const std::string text = arrival.known ? StateText(state) : arrival.text;
  return {state == svc::kRunning ? ServiceOutcome::kNotStopped : ServiceOutcome::kStoppedLate,
          text};
}

// The start from the open service on; the handles are the caller's to close.
ServiceResult StartOpened(ServiceControl& control, ServiceManagerPort::Handle service) {
  ServiceManagerPort& services = control.services;
  ServiceStatus status;
  if (services.QueryStatus(service, &status) == err::kSuccess &&
      status.currentState == svc::kRunning) {
    DebugLog("Already Started");
    return {ServiceOutcome::kAlreadyRunning, ""};
  }
  const WinError error = services.Start(service);
  if (error != err::kSuccess) {
    LogError("StartService", error);
    return {ServiceOutcome::kFailedToStart, SystemMessage(error)};
  }
  const Arrival arrival = Follow(control, service, svc::kRunning, status);
  if (!arrival.known) return {ServiceOutcome::kStartAccepted, arrival.text};
  switch (arrival.status.currentState) {
    case svc::kRunning: return {ServiceOutcome::kStarted, ""};
    case svc::kStopped: return {ServiceOutcome::kFailedToStart, StateText(svc::kStopped)};
    default: return {ServiceOutcome::kStartAccepted, StateText(arrival.status.currentState)};
  }
}

}  // namespace

bool Stopped(const ServiceResult& result) { return result.outcome == ServiceOutcome::kStopped; }

bool Running(const ServiceResult& result) {
  return result.outcome == ServiceOutcome::kStarted ||
         result.outcome == ServiceOutcome::kAlreadyRunning;
}

ServiceResult StopNamedService(ServiceControl& control, const std::string& machine,
                               const std::string& name) {
  DebugLog("Stop:" + VisibleText(name));
  if (Terminated(control) || name.empty()) return {};
  OpenedService opened(control.services);
  bool connected = false;
  const WinError error =
      opened.Open(control, machine, name, svc::kAccessStop, STryToStop, connected);
  // A connection that failed ends the stop without a further line.
  if (!connected) return {ServiceOutcome::kRefused, SystemMessage(error)};
  ServiceResult result;
  if (error != err::kSuccess) {
    result = {error == err::kServiceDoesNotExist ? ServiceOutcome::kNotInstalled
                                                 : ServiceOutcome::kRefused,
              SystemMessage(error)};
  } else {
    result = StopOpened(control, name, opened.Service());
  }
  opened.Close();
  DebugLog(Stopped(result) ? "Stop service Successfully" : "Failed to stop service!");
  return result;
}

ServiceResult StartNamedService(ServiceControl& control, const std::string& machine,
                                const std::string& name) {
  DebugLog("Start:" + VisibleText(name));
  if (Terminated(control)) return {};
  OpenedService opened(control.services);
  bool connected = false;
  const WinError error =
      opened.Open(control, machine, name, svc::kAccessStart, STryToStart, connected);
  const ServiceResult result =
      error != err::kSuccess ? ServiceResult{ServiceOutcome::kFailedToStart, SystemMessage(error)}
                             : StartOpened(control, opened.Service());
  opened.Close();
  // A failed start writes nothing more: the name stays recorded until the restore clears it.
  if (Running(result)) {
    DebugLog("Start Service Successfully");
    SetBoostedService(control.registry, name, true);
  }
  return result;
}

}  // namespace kestrava
