#pragma once
// The window and the system a boost, a restore or a preview meets, as the boost tests and
// bench/boost_bench fake them: a window whose boxes are all ticked unless a test unticks one,
// privileges that are only recorded, and every port of BoostPorts wired to a double, with every
// catalogue service installed and running on Windows 7.
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "boost/boost_ports.h"
#include "boost/boost_window.h"
#include "tests/doubles/catalogue_services.h"
#include "tests/doubles/fake_process_list.h"
#include "tests/doubles/fake_registry.h"
#include "tests/doubles/fake_service_manager.h"
#include "tests/doubles/fixed_version.h"

namespace kestrava::testing {

class FakeBoostWindow final : public BoostWindowPort {
 public:
  std::map<OptionBox, bool> boxes;  // missing: checked, as the window opens
  std::string gamePath;
  bool sysAbort = false;
  std::vector<std::string> status;                   // every text shown in panel 0, in order
  std::function<void(const std::string&)> onStatus;  // called with every text shown
  mutable int abortReads = 0;                        // how often the worker asked for SysAbort

  bool IsChecked(OptionBox box) override { return boxes.count(box) == 0 || boxes[box]; }
  std::string GamePath() override { return gamePath; }
  bool SysAbort() const override {
    ++abortReads;
    return sysAbort;
  }
  void SetStatusText(const std::string& text) override {
    status.push_back(text);
    if (onStatus) onStatus(text);
  }
  bool Synchronize(const std::function<void()>& routine) override {
    routine();
    return true;
  }
};

class RecordingPrivileges final : public PrivilegePort {
 public:
  std::vector<std::string> enabled;                  // in the order asked for
  std::function<void(const std::string&)> onEnable;  // called with every privilege enabled
  WinError Enable(const std::string& name) override {
    enabled.push_back(name);
    if (onEnable) onEnable(name);
    return err::kSuccess;
  }
};

struct FakeBoostSystem {
  FakeClock clock;
  FakeServiceManager services{clock};
  FakeRegistry registry;
  FakeProcessList processes;
  FakeMemoryStatus memory;
  FixedVersion version;
  RecordingPrivileges privileges;

  FakeBoostSystem() { InstallCatalogueServices(services); }
  void Version(std::uint32_t platform, std::uint32_t major, std::uint32_t minor) {
    version.report = {platform, major, minor};
  }
  BoostPorts Ports() {
    BoostPorts ports;
    ports.registry = &registry;
    ports.services = &services;
    ports.processes = &processes;
    ports.memory = &memory;
    ports.privileges = &privileges;
    ports.version = &version;
    ports.clock = &clock;
    return ports;
  }
};

}  // namespace kestrava::testing
