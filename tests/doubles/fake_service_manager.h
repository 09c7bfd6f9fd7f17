#pragma once
// A scripted Service Control Manager: each service has a display name, a state, the errors its
// calls fail with, and the statuses it reports one query after another once it was told to stop or
// start (the last one repeats). A stop is refused as Windows refuses it: by a service that does not
// accept it, one on its way somewhere, or one not running. A call the service's handle was not
// opened for is denied as Windows denies it, and a control other than the stop is one these
// services do not accept. It counts every stop and start asked for, refused or not, and the access
// each open asked for. A fake clock goes with it: sleeping
// moves it on, and so does every status query (a round trip takes time), so that waits end as they
// would on Windows.
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "boost/service_manager_port.h"
#include "boost/clock_port.h"
#include "common/ascii_fold.h"

namespace kestrava::testing {

class FakeClock final : public ClockPort {
 public:
  void Sleep(std::uint32_t milliseconds) override {
    now += milliseconds + overshoot;
    slept += milliseconds;
    sleeps.push_back(milliseconds);
  }
  std::uint32_t Milliseconds() override { return now; }
  std::uint32_t now = 0xFFFFFF00u;  // waits cross the wrap, as GetTickCount does after 49 days
  std::uint32_t slept = 0;
  std::vector<std::uint32_t> sleeps;  // every pause asked for, in order
  // Added to every sleep, as Windows' timer granularity does (Sleep(50) often lasts 62 ms).
  std::uint32_t overshoot = 0;
};

struct FakeService {
  std::string display;  // "" makes the display-name lookup fail
  std::uint32_t state = svc::kRunning;
  std::uint32_t controlsAccepted = svc::kAcceptStop;  // reported until it was told to stop or start
  std::uint32_t startType = 3;                        // on demand
  WinError configError = err::kSuccess;
  WinError openError = err::kSuccess;
  WinError requestError = err::kSuccess;  // ControlService or StartService
  WinError queryError = err::kSuccess;    // every query fails
  WinError queryErrorAfterRequest = err::kSuccess;
  // The state ControlService returns; 0: stop pending, or stopped when afterRequest is empty.
  std::uint32_t controlReports = 0;
  // Reported by the queries after an accepted request; empty: the target state at once.
  std::vector<ServiceStatus> afterRequest;
  int requests = 0;

  // What the preview reads besides the status: the description, and the services that need this
  // one running (key names, in the order the system would list them). A stop is refused with 1051
  // while one of them is not stopped, as Windows refuses it.
  std::string description;
  WinError descriptionError = err::kSuccess;
  std::vector<std::string> dependents;
};

// Service names as the Service Control Manager compares them: without regard to case.
struct ServiceNameLess {
  bool operator()(const std::string& a, const std::string& b) const {
    return FoldAsciiLower(a) < FoldAsciiLower(b);
  }
};

class FakeServiceManager final : public ServiceManagerPort {
 public:
  explicit FakeServiceManager(FakeClock& clock) : clock_(clock) {}

  std::map<std::string, FakeService, ServiceNameLess> services;
  WinError managerError = err::kSuccess;
  std::vector<std::string> closed;  // "manager" or the service's name, in closing order
  int opened = 0;                   // handles handed out, connections and services
  int badCloses = 0;                // closes of a handle that is not open (twice, or never opened)
  int controls = 0, starts = 0;     // ControlService and StartService calls, refused ones too
  std::vector<std::uint32_t> accesses;  // what each OpenNamedService asked for, in order
  std::function<void()> onRequest;      // called as each ControlService or StartService begins

  // Handles handed out and not closed yet.
  std::size_t OpenHandleCount() const { return open_.size(); }

  WinError OpenManager(const std::string&, Handle* manager) override {
    if (managerError != err::kSuccess) return managerError;
    *manager = kManager;
    Opened(kManager);
    return err::kSuccess;
  }
  WinError OpenNamedService(Handle, const std::string& name, std::uint32_t access,
                            Handle* service) override {
    accesses.push_back(access);
    auto it = services.find(name);
    if (it == services.end()) return 1060;  // ERROR_SERVICE_DOES_NOT_EXIST
    if (it->second.openError != err::kSuccess) return it->second.openError;
    names_.push_back(name);
    *service = names_.size() + kManager;
    granted_[*service] = access;
    Opened(*service);
    return err::kSuccess;
  }
  WinError DisplayName(Handle, const std::string& name, std::string* display) override {
    auto it = services.find(name);
    if (it == services.end() || it->second.display.empty()) return 1060;
    *display = it->second.display;
    return err::kSuccess;
  }
  WinError QueryStatus(Handle service, ServiceStatus* status) override {
    ++clock_.now;
    if (!Granted(service, kQueryStatusRight)) return err::kAccessDenied;
    FakeService& s = Of(service);
    if (s.queryError != err::kSuccess) return s.queryError;
    if (s.requests > 0 && s.queryErrorAfterRequest != err::kSuccess)
      return s.queryErrorAfterRequest;
    if (s.requests > 0 && !s.afterRequest.empty()) {
      const std::size_t i = std::min(reported_[service]++, s.afterRequest.size() - 1);
      *status = s.afterRequest[i];
      s.state = status->currentState;
      return err::kSuccess;
    }
    *status = ServiceStatus{};
    status->currentState = s.state;
    if (s.requests == 0) status->controlsAccepted = s.controlsAccepted;
    return err::kSuccess;
  }
  WinError QueryConfig(Handle service, ServiceConfig* config) override {
    if (!Granted(service, kQueryConfigRight)) return err::kAccessDenied;
    FakeService& s = Of(service);
    if (s.configError != err::kSuccess) return s.configError;
    config->serviceType = 0x10;  // SERVICE_WIN32_OWN_PROCESS
    config->startType = s.startType;
    return err::kSuccess;
  }
  WinError Control(Handle service, std::uint32_t control, ServiceStatus* status) override {
    ++controls;
    if (onRequest) onRequest();
    // The right each control needs: the stop; pause, continue, parameter and binding changes
    // (2, 3, 6 to 10); interrogate; a service's own codes. Any other code is no control at all.
    std::uint32_t right = 0;
    if (control == svc::kControlStop) right = kStopRight;
    if (control == 2 || control == 3 || (control >= 6 && control <= 10))
      right = kPauseContinueRight;
    if (control == 4) right = kInterrogateRight;
    if (control >= 128 && control <= 255) right = kUserDefinedControlRight;
    if (right == 0) return err::kInvalidParameter;
    if (!Granted(service, right)) return err::kAccessDenied;
    if (control != svc::kControlStop) return 1052;  // ERROR_INVALID_SERVICE_CONTROL
    const FakeService& s = Of(service);
    if (s.requestError == err::kSuccess && s.requests == 0) {
      if (s.state == svc::kStopped) return 1062;  // ERROR_SERVICE_NOT_ACTIVE
      if (s.state == svc::kStopPending || s.state == svc::kStartPending) {
        return 1061;  // ERROR_SERVICE_CANNOT_ACCEPT_CTRL
      }
      if ((s.controlsAccepted & svc::kAcceptStop) == 0) return 1052;  // not valid for it
      if (!ActiveDependentsOf(s).empty()) return 1051;  // ERROR_DEPENDENT_SERVICES_RUNNING
    }
    return Request(service, svc::kStopped, status);
  }
  WinError Start(Handle service) override {
    ++starts;
    if (onRequest) onRequest();
    if (!Granted(service, kStartRight)) return err::kAccessDenied;
    if (Of(service).startType == 4) return 1058;  // ERROR_SERVICE_DISABLED
    return Request(service, svc::kRunning, nullptr);
  }
  WinError Description(Handle service, std::string* description) override {
    if (!Granted(service, kQueryConfigRight)) return err::kAccessDenied;
    const FakeService& s = Of(service);
    if (s.descriptionError != err::kSuccess) return s.descriptionError;
    *description = s.description;
    return err::kSuccess;
  }
  WinError ActiveDependents(Handle service, std::vector<DependentService>* dependents) override {
    if (!Granted(service, kEnumerateDependentsRight)) return err::kAccessDenied;
    *dependents = ActiveDependentsOf(Of(service));
    return err::kSuccess;
  }
  void Close(Handle handle) override {
    if (open_.erase(handle) == 0) {
      ++badCloses;
      return;
    }
    closed.push_back(handle == kManager ? "manager" : names_[handle - kManager - 1]);
  }

 private:
  static constexpr Handle kManager = 1;
  // The service access rights of winsvc.h.
  static constexpr std::uint32_t kQueryConfigRight = 0x0001;
  static constexpr std::uint32_t kQueryStatusRight = 0x0004;
  static constexpr std::uint32_t kEnumerateDependentsRight = 0x0008;
  static constexpr std::uint32_t kStartRight = 0x0010;
  static constexpr std::uint32_t kStopRight = 0x0020;
  static constexpr std::uint32_t kPauseContinueRight = 0x0040;
  static constexpr std::uint32_t kInterrogateRight = 0x0080;
  static constexpr std::uint32_t kUserDefinedControlRight = 0x0100;

  bool Granted(Handle service, std::uint32_t right) const {
    const auto it = granted_.find(service);
    return it != granted_.end() && (it->second & right) == right;
  }

  void Opened(Handle handle) {
    ++opened;
    if (!open_.insert(handle).second) ++badCloses;  // handed out again while still open
  }
  FakeService& Of(Handle service) { return services[names_[service - kManager - 1]]; }
  std::vector<DependentService> ActiveDependentsOf(const FakeService& s) const {
    std::vector<DependentService> active;
    for (const std::string& name : s.dependents) {
      const auto it = services.find(name);
      if (it != services.end() && it->second.state != svc::kStopped) {
        active.push_back({name, it->second.display, it->second.state});
      }
    }
    return active;
  }
  WinError Request(Handle service, std::uint32_t target, ServiceStatus* status) {
    FakeService& s = Of(service);
    if (s.requestError != err::kSuccess) return s.requestError;
    ++s.requests;
    if (s.afterRequest.empty()) s.state = target;
    if (status != nullptr) {
      status->currentState = s.afterRequest.empty() ? target : svc::kStopPending;
      if (s.controlReports != 0) status->currentState = s.controlReports;
    }
    return err::kSuccess;
  }

  FakeClock& clock_;
  std::vector<std::string> names_;  // handle - 2 indexes the service opened
  std::map<Handle, std::size_t> reported_;
  std::map<Handle, std::uint32_t> granted_;  // the access each service handle was opened with
  std::set<Handle> open_;
};

}  // namespace kestrava::testing
