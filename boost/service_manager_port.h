#pragma once
// The Service Control Manager as the boost sees it: a thin pass-through to the SCM calls. Handles
// are opaque, names are service key names, results are Win32 error codes, and a call that fails
// leaves its outputs alone.
#include <cstdint>
#include <string>
#include <vector>

#include "common/port_handle.h"
#include "common/win_error.h"

namespace kestrava {

// The fields of SERVICE_STATUS, in its order.
struct ServiceStatus {
  std::uint32_t serviceType = 0;
  std::uint32_t currentState = 0;  // 1 stopped, 2 start pending, 3 stop pending, 4 running, ...
  std::uint32_t controlsAccepted = 0;
  std::uint32_t win32ExitCode = 0;
  std::uint32_t serviceSpecificExitCode = 0;
  std::uint32_t checkPoint = 0;
  std::uint32_t waitHint = 0;  // milliseconds
};

// The fields of QUERY_SERVICE_CONFIG that the preview shows.
struct ServiceConfig {
  std::uint32_t serviceType = 0;
  std::uint32_t startType = 0;  // 0 boot, 1 system, 2 automatic, 3 on demand, 4 disabled
};

// One entry of EnumDependentServices' answer.
struct DependentService {
  std::string name;  // key name
  std::string display;
  std::uint32_t currentState = 0;
};

namespace svc {
inline constexpr std::uint32_t kStopped = 1;
inline constexpr std::uint32_t kStartPending = 2;
inline constexpr std::uint32_t kStopPending = 3;
inline constexpr std::uint32_t kRunning = 4;
inline constexpr std::uint32_t kContinuePending = 5;
inline constexpr std::uint32_t kPausePending = 6;
inline constexpr std::uint32_t kPaused = 7;
inline constexpr std::uint32_t kControlStop = 1;
inline constexpr std::uint32_t kAcceptStop = 1;             // in ServiceStatus::controlsAccepted
inline constexpr std::uint32_t kAccessStop = 0x20 | 0x04;   // SERVICE_STOP | SERVICE_QUERY_STATUS
inline constexpr std::uint32_t kAccessStart = 0x10 | 0x04;  // SERVICE_START | SERVICE_QUERY_STATUS
// SERVICE_QUERY_STATUS | SERVICE_QUERY_CONFIG | SERVICE_ENUMERATE_DEPENDENTS: looking without the
// right to change anything.
inline constexpr std::uint32_t kAccessQuery = 0x04 | 0x01 | 0x08;
}  // namespace svc

class ServiceManagerPort {
 public:
  using Handle = std::uintptr_t;  // SC_HANDLE on Windows; 0 is never valid

  virtual ~ServiceManagerPort() = default;

  // OpenSCManagerA on the machine (empty: the local one), default database, SC_MANAGER_CONNECT.
  virtual WinError OpenManager(const std::string& machine, Handle* manager) = 0;
  // OpenServiceA with the given access (svc::kAccessStop, kAccessStart or kAccessQuery).
  virtual WinError OpenNamedService(Handle manager, const std::string& name, std::uint32_t access,
                                    Handle* service) = 0;
  // GetServiceDisplayNameA with a buffer of 1024 characters.
  virtual WinError DisplayName(Handle manager, const std::string& name, std::string* display) = 0;
  virtual WinError QueryStatus(Handle service, ServiceStatus* status) = 0;
  // QueryServiceConfigA; needs a service opened with SERVICE_QUERY_CONFIG.
  virtual WinError QueryConfig(Handle service, ServiceConfig* config) = 0;
  // QueryServiceConfig2A's SERVICE_CONFIG_DESCRIPTION: "" for a service that has none. Needs a
  // service opened with SERVICE_QUERY_CONFIG.
  virtual WinError Description(Handle service, std::string* description) = 0;
  // EnumDependentServicesA for the active ones (any state but stopped): each service that needs
  // this one running, directly or through another, in the order the system stops them. Needs a
  // service opened with SERVICE_ENUMERATE_DEPENDENTS.
  virtual WinError ActiveDependents(Handle service, std::vector<DependentService>* dependents) = 0;
  // ControlService; on success status holds the state the service reported.
  virtual WinError Control(Handle service, std::uint32_t control, ServiceStatus* status) = 0;
  // StartServiceA without arguments.
  virtual WinError Start(Handle service) = 0;
  // CloseServiceHandle, for connections and services alike.
  virtual void Close(Handle handle) = 0;
};

using ServiceHandle = PortHandle<ServiceManagerPort>;

// The real Service Control Manager (Windows build only).
ServiceManagerPort& PlatformServiceManager();

}  // namespace kestrava
