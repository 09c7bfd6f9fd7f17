// Stopping and starting one service against a scripted service manager: the log lines, the status
// texts and the record for every outcome.
#include "boost/service_control.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "boost/record.h"
#include "common/system_message.h"
#include "tests/doubles/debug_recorder.h"
#include "tests/doubles/fake_registry.h"
#include "tests/doubles/fake_service_manager.h"

namespace kestrava {
namespace {

using testing::FakeClock;
using testing::FakeRegistry;
using testing::FakeService;
using testing::FakeServiceManager;
using Lines = std::vector<std::string>;

ServiceStatus Pending(std::uint32_t state, std::uint32_t checkPoint, std::uint32_t waitHint) {
  ServiceStatus s;
  s.currentState = state;
  s.checkPoint = checkPoint;
  s.waitHint = waitHint;
  return s;
}

FakeService Spooler(std::uint32_t state) {
  FakeService s;
  s.display = "Print Spooler";
  s.state = state;
  return s;
}

struct Row {
  const char* what;
  bool stop;
  std::string name;
  FakeService service;
  Lines log;          // without the "Tarnwell:" prefix
  Lines status;       // texts shown in the status panel
  bool result;
  Lines record;       // after the call; a start begins with {"Spooler"} recorded
  bool terminate = false;
  WinError managerError = err::kSuccess;
};

FakeService With(FakeService s, void (*change)(FakeService&)) {
  change(s);
  return s;
}

// The system's texts (the Windows build's differ from the host's stand-ins); the rule under test is
// how they are joined to their labels.
const std::string kAccessDenied = SystemMessage(err::kAccessDenied);
const std::string kNoService = SystemMessage(1060);

TEST(ServiceControl, EveryOutcomeLogsRecordsAndShowsWhatItShould) {
  const Lines tryStop{"Try to stop: Print Spooler"};
  const Lines tryStart{"Try to start: Print Spooler"};
  const std::vector<Row> rows = {
      {"stop: terminate asked", true, "Spooler", Spooler(svc::kRunning), {"Stop:Spooler"}, {},
       false, {}, true},
      {"stop: empty name", true, "", Spooler(svc::kRunning), {"Stop:"}, {}, false, {}},
      {"stop: no connection", true, "Spooler", Spooler(svc::kRunning),
       {"Stop:Spooler", std::string("OpenSCManager Error:") + kAccessDenied}, {}, false, {}, false,
       err::kAccessDenied},
      {"stop: no such service", true, "Nope", Spooler(svc::kRunning),
       {"Stop:Nope", std::string("OpenService Error:") + kNoService, "Failed to stop service!"},
       {}, false, {}},
      {"stop: already stopped", true, "Spooler", Spooler(svc::kStopped),
       {"Stop:Spooler", "Already Stopped", "Failed to stop service!"}, tryStop, false, {}},
      {"stop: control refused", true, "Spooler",
       With(Spooler(svc::kRunning), [](FakeService& s) { s.requestError = 1052; }),
       {"Stop:Spooler", "ControlService Error:" + SystemMessage(1052),
        "Failed to stop service!"},
       tryStop, false, {}},
      {"stop: status unreadable after the control", true, "Spooler",
       With(Spooler(svc::kRunning), [](FakeService& s) { s.queryErrorAfterRequest = 5; }),
       {"Stop:Spooler", std::string("QueryServiceStatus Error:") + kAccessDenied,
        "Failed to stop service!"},
       tryStop, false, {}},
      {"stop: first status unreadable, stopped anyway", true, "Spooler",
       With(Spooler(svc::kRunning), [](FakeService& s) { s.queryError = 5; }),
       {"Stop:Spooler", std::string("QueryServiceStatus Error:") + kAccessDenied,
        "Failed to stop service!"},
       tryStop, false, {}},
      {"stop: success", true, "Spooler", Spooler(svc::kRunning),
       {"Stop:Spooler", "Stop service Successfully"}, tryStop, true, {"Spooler"}},
      {"stop: no display name", true, "Spooler",
       With(Spooler(svc::kRunning), [](FakeService& s) { s.display = ""; }),
       {"Stop:Spooler", "Stop service Successfully"}, {"Try to stop: Spooler"}, true, {"Spooler"}},
      {"stop: slow with rising check points", true, "Spooler",
       With(Spooler(svc::kRunning),
            [](FakeService& s) {
              s.afterRequest = {Pending(svc::kStopPending, 1, 300), Pending(svc::kStopPending, 2, 80),
                                Pending(svc::kStopPending, 3, 80), Pending(svc::kStopped, 0, 0)};
            }),
       {"Stop:Spooler", "Stop service Successfully"}, tryStop, true, {"Spooler"}},
      // A service that accepted the stop and is still going down when the wait ends is recorded:
      // it stops moments later, and only the record brings it back.
      {"stop: check point goes back", true, "Spooler",
       With(Spooler(svc::kRunning),
            [](FakeService& s) {
              s.afterRequest = {Pending(svc::kStopPending, 5, 50), Pending(svc::kStopPending, 4, 50)};
            }),
       {"Stop:Spooler", "Failed to stop service!"}, tryStop, false, {"Spooler"}},
      {"stop: still pending after the budget", true, "Spooler",
       With(Spooler(svc::kRunning),
            [](FakeService& s) { s.afterRequest = {Pending(svc::kStopPending, 1, 5000)}; }),
       {"Stop:Spooler", "Failed to stop service!"}, tryStop, false, {"Spooler"}},
      {"stop: pending for ever with a wait hint of 0", true, "Spooler",
       With(Spooler(svc::kRunning),
            [](FakeService& s) { s.afterRequest = {Pending(svc::kStopPending, 0, 0)}; }),
       {"Stop:Spooler", "Failed to stop service!"}, tryStop, false, {"Spooler"}},
      {"start: terminate asked", false, "Spooler", Spooler(svc::kStopped), {"Start:Spooler"}, {},
       false, {"Spooler"}, true},
      {"start: no such service", false, "Nope", Spooler(svc::kStopped),
       {"Start:Nope", std::string("OpenService Error:") + kNoService}, {}, false, {"Spooler"}},
      {"start: already running", false, "Spooler", Spooler(svc::kRunning),
       {"Start:Spooler", "Already Started", "Start Service Successfully"}, tryStart, true, {}},
      {"start: refused", false, "Spooler",
       With(Spooler(svc::kStopped), [](FakeService& s) { s.requestError = 1058; }),
       {"Start:Spooler",
        "StartService Error:" + SystemMessage(1058)},
       tryStart, false, {"Spooler"}},
      {"start: success", false, "Spooler", Spooler(svc::kStopped),
       {"Start:Spooler", "Start Service Successfully"}, tryStart, true, {}},
      {"start: slower than the budget", false, "Spooler",
       With(Spooler(svc::kStopped),
            [](FakeService& s) { s.afterRequest = {Pending(svc::kStartPending, 1, 90)}; }),
       {"Start:Spooler"}, tryStart, false, {"Spooler"}},
  };

  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    FakeClock clock;
    FakeServiceManager services(clock);
    services.services["Spooler"] = row.service;
    services.managerError = row.managerError;
    FakeRegistry registry;
    if (!row.stop) SetBoostedService(registry, "Spooler", false);
    Lines shown;
    ServiceControl control{services, registry, clock,
                           [&](const std::string& text) { shown.push_back(text); },
                           [&] { return row.terminate; }};
    testing::DebugRecorder recorder;

    const bool result = row.stop ? StopNamedService(control, "", row.name)
                                 : StartNamedService(control, "", row.name);

    EXPECT_EQ(result, row.result);
    Lines log;
    for (const std::string& line : recorder.Lines()) log.push_back(line.substr(9));
    EXPECT_EQ(log, row.log);
    EXPECT_EQ(shown, row.status);
    std::vector<std::string> record;
    ReadBoostedServices(registry, record);
    EXPECT_EQ(record, row.record);
    // Whatever was opened is closed, the service before its connection; the wait stays short.
    if (!services.closed.empty()) {
      EXPECT_EQ(services.closed.back(), "manager");
    }
    EXPECT_LE(services.closed.size(), 2u);
    EXPECT_LE(clock.slept, 1100u);
    EXPECT_EQ(registry.OpenKeyCount(), 0u);
  }
}

}  // namespace
}  // namespace kestrava
