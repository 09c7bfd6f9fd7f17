#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "boost/service_manager_port.h"
#include "win32/last_error.h"
#include "win32/unique_handle.h"

namespace kestrava {
namespace {

SC_HANDLE AsSc(ServiceManagerPort::Handle handle) { return reinterpret_cast<SC_HANDLE>(handle); }

void CopyStatus(const SERVICE_STATUS& from, ServiceStatus* to) {
  to->serviceType = from.dwServiceType;
  to->currentState = from.dwCurrentState;
  to->controlsAccepted = from.dwControlsAccepted;
  to->win32ExitCode = from.dwWin32ExitCode;
  to->serviceSpecificExitCode = from.dwServiceSpecificExitCode;
  to->checkPoint = from.dwCheckPoint;
  to->waitHint = from.dwWaitHint;
}

class Win32ServiceManager final : public ServiceManagerPort {
 public:
  WinError OpenManager(const std::string& machine, Handle* manager) override {
    SC_HANDLE h =
        OpenSCManagerA(machine.empty() ? nullptr : machine.c_str(), nullptr, SC_MANAGER_CONNECT);
    if (h == nullptr) return FailureCode();
    *manager = reinterpret_cast<Handle>(h);
    return err::kSuccess;
  }
  WinError OpenNamedService(Handle manager, const std::string& name, std::uint32_t access,
                            Handle* service) override {
    SC_HANDLE h = ::OpenServiceA(AsSc(manager), name.c_str(), access);
    if (h == nullptr) return FailureCode();
    *service = reinterpret_cast<Handle>(h);
    return err::kSuccess;
  }
  WinError DisplayName(Handle manager, const std::string& name, std::string* display) override {
    std::vector<char> buffer(1024, '\0');
    DWORD length = static_cast<DWORD>(buffer.size());
    if (!GetServiceDisplayNameA(AsSc(manager), name.c_str(), buffer.data(), &length)) {
      return FailureCode();
    }
    display->assign(buffer.data());  // up to the first zero
    return err::kSuccess;
  }
  WinError QueryStatus(Handle service, ServiceStatus* status) override {
    SERVICE_STATUS s{};
    if (!QueryServiceStatus(AsSc(service), &s)) return FailureCode();
    CopyStatus(s, status);
    return err::kSuccess;
  }
  WinError QueryConfig(Handle service, ServiceConfig* config) override {
    // The strings behind the structure make its size; the call says how much it needs.
    DWORD needed = 0;
    if (!QueryServiceConfigA(AsSc(service), nullptr, 0, &needed)) {
      const WinError error = FailureCode();
      if (error != ERROR_INSUFFICIENT_BUFFER) return error;
    }
    std::vector<std::uint8_t> buffer(std::max<DWORD>(needed, sizeof(QUERY_SERVICE_CONFIGA)));
    auto* answer = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
    if (!QueryServiceConfigA(AsSc(service), answer, static_cast<DWORD>(buffer.size()), &needed)) {
      return FailureCode();
    }
    config->serviceType = answer->dwServiceType;
    config->startType = answer->dwStartType;
    return err::kSuccess;
  }
  WinError Description(Handle service, std::string* description) override {
    // The text behind the structure makes its size; the call says how much it needs.
    DWORD needed = 0;
    if (!QueryServiceConfig2A(AsSc(service), SERVICE_CONFIG_DESCRIPTION, nullptr, 0, &needed)) {
      const WinError error = FailureCode();
      if (error != ERROR_INSUFFICIENT_BUFFER) return error;
    }
    std::vector<std::uint8_t> buffer(std::max<DWORD>(needed, sizeof(SERVICE_DESCRIPTIONA)));
    if (!QueryServiceConfig2A(AsSc(service), SERVICE_CONFIG_DESCRIPTION, buffer.data(),
                              static_cast<DWORD>(buffer.size()), &needed)) {
      return FailureCode();
    }
    const auto* answer = reinterpret_cast<const SERVICE_DESCRIPTIONA*>(buffer.data());
    // A service without one answers a null pointer; the text ends within the buffer it was given.
    const char* text = answer->lpDescription;
    const char* end = reinterpret_cast<const char*>(buffer.data() + buffer.size());
    const bool inside =
        text != nullptr && text >= reinterpret_cast<const char*>(buffer.data()) && text < end;
    description->assign(inside ? std::string(text, std::find(text, end, '\0')) : std::string());
    return err::kSuccess;
  }
  WinError ActiveDependents(Handle service, std::vector<DependentService>* dependents) override {
    DWORD needed = 0;
    DWORD count = 0;
    std::vector<std::uint8_t> buffer;
    // A dependent that starts between the two calls makes the second one short of room again.
    for (int attempt = 0; attempt < 4; ++attempt) {
      buffer.assign(std::max<DWORD>(needed, sizeof(ENUM_SERVICE_STATUSA)), 0);
      if (EnumDependentServicesA(AsSc(service), SERVICE_ACTIVE,
                                 reinterpret_cast<ENUM_SERVICE_STATUSA*>(buffer.data()),
                                 static_cast<DWORD>(buffer.size()), &needed, &count)) {
        break;
      }
      const WinError error = FailureCode();
      if (error != ERROR_MORE_DATA || attempt == 3) return error;
    }
    const auto* entries = reinterpret_cast<const ENUM_SERVICE_STATUSA*>(buffer.data());
    const std::size_t fits = buffer.size() / sizeof(ENUM_SERVICE_STATUSA);
    std::vector<DependentService> found;
    for (std::size_t i = 0; i < count && i < fits; ++i) {
      DependentService dependent;
      if (entries[i].lpServiceName != nullptr) dependent.name = entries[i].lpServiceName;
      if (entries[i].lpDisplayName != nullptr) dependent.display = entries[i].lpDisplayName;
      dependent.currentState = entries[i].ServiceStatus.dwCurrentState;
      found.push_back(std::move(dependent));
    }
    dependents->swap(found);
    return err::kSuccess;
  }
  WinError Control(Handle service, std::uint32_t control, ServiceStatus* status) override {
    SERVICE_STATUS s{};
    if (!ControlService(AsSc(service), control, &s)) return FailureCode();
    CopyStatus(s, status);
    return err::kSuccess;
  }
  WinError Start(Handle service) override {
    return StartServiceA(AsSc(service), 0, nullptr) ? err::kSuccess : FailureCode();
  }
  void Close(Handle handle) override { CloseScHandle(AsSc(handle)); }
};

static_assert(svc::kAccessStop == (SERVICE_STOP | SERVICE_QUERY_STATUS) &&
                  svc::kAccessStart == (SERVICE_START | SERVICE_QUERY_STATUS) &&
                  svc::kStopped == SERVICE_STOPPED && svc::kStopPending == SERVICE_STOP_PENDING &&
                  svc::kStartPending == SERVICE_START_PENDING && svc::kRunning == SERVICE_RUNNING &&
                  svc::kControlStop == SERVICE_CONTROL_STOP &&
                  svc::kAccessQuery == (SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG |
                                        SERVICE_ENUMERATE_DEPENDENTS) &&
                  svc::kAcceptStop == SERVICE_ACCEPT_STOP &&
                  svc::kContinuePending == SERVICE_CONTINUE_PENDING &&
                  svc::kPausePending == SERVICE_PAUSE_PENDING && svc::kPaused == SERVICE_PAUSED,
              "the core's service constants are Windows' own");

}  // namespace

ServiceManagerPort& PlatformServiceManager() {
  static Win32ServiceManager port;
  return port;
}

}  // namespace kestrava
