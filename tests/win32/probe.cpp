// kestrava_probe: calls one of the program's Win32 routines on the real (Wine) system, so that the
// shell tests can check what they do from outside: the debug lines, the registry, process state.
//
//   osversion            prints the version code of GetOSVersion
//   record-set NAME      records a service as stopped
//   record-remove NAME   forgets one recorded service
//   record-read          prints each recorded name on its own line
//   record-clear         deletes the record
//   redir                prints "IsWow64=0|1" and "RedirAvailable=0|1"
//   cluster PATH         prints the cluster size of the volume of PATH, or the error message
//                        (exit code 1) when it cannot be read
//   stop-timed NAME      stops the service as a boost does and prints "result 0|1", "queries N"
//                        (status queries put to the Service Control Manager) and "ms N" (from the
//                        stop control to the call's end)
#include <cstdio>
#include <string>
#include <vector>

#include "boost/record.h"
#include "boost/service_control.h"
#include "boost/service_manager_port.h"
#include "boost/clock_port.h"
#include "common/error.h"
#include "boost/os_version.h"
#include "common/registry_port.h"
#include "win32/redirection_win.h"
#include "defrag/cluster_size.h"

namespace {

void Print(const std::string& line) {
  std::fputs(line.c_str(), stdout);
  std::fputc('\n', stdout);
  // Windows block-buffers a redirected stdout; the tests read it as soon as we exit anyway.
  std::fflush(stdout);
}

// The real Service Control Manager, counting status queries and noting when the stop was sent.
class CountingServices final : public kestrava::ServiceManagerPort {
 public:
  explicit CountingServices(kestrava::ServiceManagerPort& real) : real_(real) {}
  int queries = 0;
  std::uint32_t controlled = 0;
  kestrava::WinError OpenManager(const std::string& machine, Handle* manager) override {
    return real_.OpenManager(machine, manager);
  }
  kestrava::WinError OpenNamedService(Handle manager, const std::string& name, std::uint32_t access,
                            Handle* service) override {
    return real_.OpenNamedService(manager, name, access, service);
  }
  kestrava::WinError DisplayName(Handle manager, const std::string& name, std::string* display) override {
    return real_.DisplayName(manager, name, display);
  }
  kestrava::WinError QueryStatus(Handle service, kestrava::ServiceStatus* status) override {
    ++queries;
    return real_.QueryStatus(service, status);
  }
  kestrava::WinError QueryConfig(Handle service, kestrava::ServiceConfig* config) override {
    return real_.QueryConfig(service, config);
  }
  kestrava::WinError Description(Handle service, std::string* description) override {
    return real_.Description(service, description);
  }
  kestrava::WinError ActiveDependents(Handle service,
                                      std::vector<kestrava::DependentService>* dependents) override {
    return real_.ActiveDependents(service, dependents);
  }
  kestrava::WinError Control(Handle service, std::uint32_t control,
                   kestrava::ServiceStatus* status) override {
    controlled = kestrava::PlatformClock().Milliseconds();
    return real_.Control(service, control, status);
  }
  kestrava::WinError Start(Handle service) override { return real_.Start(service); }
  void Close(Handle handle) override { real_.Close(handle); }

 private:
  kestrava::ServiceManagerPort& real_;
};

int Usage() {
  std::fputs(
      "usage: kestrava_probe osversion | record-set NAME | record-remove NAME | record-read |"
      " record-clear | redir | cluster PATH | stop-timed NAME\n",
      stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string command = argv[1];
  kestrava::RegistryPort& registry = kestrava::PlatformRegistry();

  if (command == "osversion" && argc == 2) {
    Print(std::to_string(kestrava::GetOSVersion()));
    return 0;
  }
  if (command == "record-set" && argc == 3) {
    kestrava::SetBoostedService(registry, argv[2], false);
    return 0;
  }
  if (command == "record-remove" && argc == 3) {
    kestrava::SetBoostedService(registry, argv[2], true);
    return 0;
  }
  if (command == "record-read" && argc == 2) {
    std::vector<std::string> names;
    kestrava::ReadBoostedServices(registry, names);
    for (const std::string& name : names) Print(name);
    return 0;
  }
  if (command == "record-clear" && argc == 2) {
    kestrava::ClearBoostedServices(registry);
    return 0;
  }
  if (command == "redir" && argc == 2) {
    Print(std::string("IsWow64=") + (kestrava::IsWow64 ? "1" : "0"));
    Print(std::string("RedirAvailable=") + (kestrava::RedirAvailable ? "1" : "0"));
    return 0;
  }
  if (command == "cluster" && argc == 3) {
    try {
      Print(std::to_string(kestrava::GetVolumeClusterSize(argv[2])));
      return 0;
    } catch (const kestrava::KestravaError& e) {
      Print(e.what());
      return 1;
    }
  }
  if (command == "stop-timed" && argc == 3) {
    CountingServices services(kestrava::PlatformServiceManager());
    kestrava::ServiceControl control{services, registry, kestrava::PlatformClock(), nullptr,
                                     nullptr};
    const bool stopped = kestrava::Stopped(kestrava::StopNamedService(control, "", argv[2]));
    const std::uint32_t ms = kestrava::PlatformClock().Milliseconds() - services.controlled;
    Print("result " + std::to_string(stopped ? 1 : 0));
    Print("queries " + std::to_string(services.queries));
    Print("ms " + std::to_string(ms));
    return 0;
  }
  return Usage();
}
