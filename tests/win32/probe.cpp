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
#include <cstdio>
#include <string>
#include <vector>

#include "boost/record.h"
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

int Usage() {
  std::fputs(
      "usage: kestrava_probe osversion | record-set NAME | record-remove NAME | record-read |"
      " record-clear | redir | cluster PATH\n",
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
  return Usage();
}
