// kestrava_probe: calls one of the program's Win32 routines on the real (Wine) system, so that the
// shell tests can check what they do from outside: the debug lines, the registry, process state.
//
//   osversion            prints the version code of GetOSVersion
//   record-set NAME      records a service as stopped
//   record-remove NAME   forgets one recorded service
//   record-read          prints each recorded name on its own line
//   record-clear         deletes the record
//   record-volatile      prints "volatile" or "normal" for the record key as it is, "missing"
//   reg-link KEY TARGET  makes KEY (below HKEY_CURRENT_USER) a registry link to TARGET (also below
//                        it), as any program of the user can; reg.exe cannot
//   redir                prints "IsWow64=0|1" and "RedirAvailable=0|1"
//   cluster PATH         prints the cluster size of the volume of PATH, or the error message
//                        (exit code 1) when it cannot be read
//   stop-timed NAME      stops the service as a boost does and prints "result 0|1", "queries N"
//                        (status queries put to the Service Control Manager) and "ms N" (from the
//                        stop control to the call's end)
#include <windows.h>

#include <sddl.h>

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
#include "win32/unique_handle.h"

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
  kestrava::WinError DisplayName(Handle manager, const std::string& name,
                                 std::string* display) override {
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

// The link's target as the kernel names it: \Registry\User\<the user's SID>\TARGET.
int MakeLink(const std::string& path, const std::string& target) {
  kestrava::UniqueKernelHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Put())) return 1;
  BYTE user[256];
  DWORD length = 0;
  if (!GetTokenInformation(token.Get(), TokenUser, user, sizeof(user), &length)) return 1;
  char* sid = nullptr;
  if (!ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(user)->User.Sid, &sid)) return 1;
  const kestrava::UniqueLocalMemory ownedSid(static_cast<HLOCAL>(sid));
  const std::string full = std::string("\\Registry\\User\\") + sid + "\\" + target;
  const std::wstring wide(full.begin(), full.end());
  kestrava::UniqueRegKey link;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, REG_OPTION_CREATE_LINK,
                      KEY_ALL_ACCESS, nullptr, link.Put(), nullptr) != ERROR_SUCCESS) {
    return 1;
  }
  return RegSetValueExW(link.Get(), L"SymbolicLinkValue", 0, REG_LINK,
                        reinterpret_cast<const BYTE*>(wide.data()),
                        static_cast<DWORD>(wide.size() * sizeof(wchar_t))) == ERROR_SUCCESS
             ? 0
             : 1;
}

int Usage() {
  std::fputs(
      "usage: kestrava_probe osversion | record-set NAME | record-remove NAME | record-read |"
      " record-clear | record-volatile | reg-link KEY TARGET | redir | cluster PATH | stop-timed NAME\n",
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
  if (command == "reg-link" && argc == 4) return MakeLink(argv[2], argv[3]);
  if (command == "record-volatile" && argc == 2) {
    kestrava::RegistryKey record(registry);
    bool isVolatile = false;
    if (record.Open(kestrava::BoostRecordPath(), true) != kestrava::err::kSuccess) {
      Print("missing");
    } else if (registry.IsVolatile(record.Get(), &isVolatile) != kestrava::err::kSuccess) {
      return 1;
    } else {
      Print(isVolatile ? "volatile" : "normal");
    }
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
