// Stopping and starting one service against a scripted service manager: the log lines, the status
// texts and the record for every outcome.
#include "boost/service_control.h"

#include <gtest/gtest.h>

#include <map>
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
using Sleeps = std::vector<std::uint32_t>;

Sleeps Repeat(std::uint32_t pause, std::size_t turns) { return Sleeps(turns, pause); }

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
  Lines log;     // without the "Tarnwell:" prefix
  Lines status;  // texts shown in the status panel
  bool result;
  Lines record;        // after the call; a start begins with {"Spooler"} recorded
  Sleeps sleeps = {};  // the pauses of the wait, in order
  bool terminate = false;
  WinError managerError = err::kSuccess;
  std::uint32_t overshoot = 0;  // what each Sleep lasts beyond what it was asked
};

FakeService With(FakeService s, void (*change)(FakeService&)) {
  change(s);
  return s;
}

// The system's text for a code as it must appear in a log line: Windows' (and the host's stand-in)
// or Wine's, trimmed of its full stop and line end.
std::string Literal(WinError code, const std::string& windows, const std::string& wine) {
  return SystemMessage(code) == wine ? wine : windows;
}
const std::string kAccessDenied = Literal(err::kAccessDenied, "Access is denied", "Access denied");
// Where only the joining to the label is under test, the system's own text.
const std::string kNoService = SystemMessage(1060);

TEST(ServiceControl, EveryOutcomeLogsRecordsAndShowsWhatItShould) {
  const Lines tryStop{"Try to stop: Print Spooler"};
  const Lines tryStart{"Try to start: Print Spooler"};
  const std::vector<Row> rows = {
      {"stop: terminate asked",
       true,
       "Spooler",
       Spooler(svc::kRunning),
       {"Stop:Spooler"},
       {},
       false,
       {},
       {},
       true},
      {"stop: empty name", true, "", Spooler(svc::kRunning), {"Stop:"}, {}, false, {}},
      {"stop: no connection",
       true,
       "Spooler",
       Spooler(svc::kRunning),
       {"Stop:Spooler", std::string("OpenSCManager Error:") + kAccessDenied},
       {},
       false,
       {},
       {},
       false,
       err::kAccessDenied},
      {"stop: no such service",
       true,
       "Nope",
       Spooler(svc::kRunning),
       {"Stop:Nope", std::string("OpenService Error:") + kNoService, "Failed to stop service!"},
       {},
       false,
       {}},
      {"stop: already stopped",
       true,
       "Spooler",
       Spooler(svc::kStopped),
       {"Stop:Spooler", "Already Stopped", "Failed to stop service!"},
       tryStop,
       false,
       {}},
      {"stop: control refused",
       true,
       "Spooler",
       With(Spooler(svc::kRunning), [](FakeService& s) { s.requestError = 1052; }),
       {"Stop:Spooler", "ControlService Error:" + SystemMessage(1052), "Failed to stop service!"},
       tryStop,
       false,
       {}},
      // Once the service has accepted the stop it goes down whatever a later query says: only the
      // record brings it back.
      {"stop: status unreadable after the control",
       true,
       "Spooler",
       With(Spooler(svc::kRunning), [](FakeService& s) { s.queryErrorAfterRequest = 5; }),
       {"Stop:Spooler", std::string("QueryServiceStatus Error:") + kAccessDenied,
        "Failed to stop service!"},
       tryStop,
       false,
       {"Spooler"}},
      {"stop: accepted while pending, status unreadable after the control",
       true,
       "Spooler",
       With(Spooler(svc::kRunning),
            [](FakeService& s) {
              s.queryErrorAfterRequest = 5;
              s.afterRequest = {Pending(svc::kStopPending, 1, 500)};
            }),
       {"Stop:Spooler", std::string("QueryServiceStatus Error:") + kAccessDenied,
        "Failed to stop service!"},
       tryStop,
       false,
       {"Spooler"}},
      {"stop: every status unreadable, the stop accepted",
       true,
       "Spooler",
       With(Spooler(svc::kRunning), [](FakeService& s) { s.queryError = 5; }),
       {"Stop:Spooler", std::string("QueryServiceStatus Error:") + kAccessDenied,
        "Failed to stop service!"},
       tryStop,
       false,
       {"Spooler"}},
      {"stop: control ignored (still running), status unreadable after it",
       true,
       "Spooler",
       With(Spooler(svc::kRunning),
            [](FakeService& s) {
              s.queryErrorAfterRequest = 5;
              s.controlReports = svc::kRunning;
            }),
       {"Stop:Spooler", std::string("QueryServiceStatus Error:") + kAccessDenied,
        "Failed to stop service!"},
       tryStop,
       false,
       {}},
      {"stop: success",
       true,
       "Spooler",
       Spooler(svc::kRunning),
       {"Stop:Spooler", "Stop service Successfully"},
       tryStop,
       true,
       {"Spooler"}},
      {"stop: no display name",
       true,
       "Spooler",
       With(Spooler(svc::kRunning), [](FakeService& s) { s.display = ""; }),
       {"Stop:Spooler", "Stop service Successfully"},
       {"Try to stop: Spooler"},
       true,
       {"Spooler"}},
      {"stop: slow with rising check points",
       true,
       "Spooler",
       With(Spooler(svc::kRunning),
            [](FakeService& s) {
              s.afterRequest = {Pending(svc::kStopPending, 1, 300),
                                Pending(svc::kStopPending, 2, 80),
                                Pending(svc::kStopPending, 3, 80), Pending(svc::kStopped, 0, 0)};
            }),
       {"Stop:Spooler", "Stop service Successfully"},
       tryStop,
       true,
       {"Spooler"},
       {50, 80, 80}},
      // The slept total decides, not the clock: Sleep's overshoot must not cost the last turns.
      {"stop: stopped at the 21st turn of 50 ms, each Sleep 16 ms long",
       true,
       "Spooler",
       With(Spooler(svc::kRunning),
            [](FakeService& s) {
              s.afterRequest.assign(21, Pending(svc::kStopPending, 1, 5000));
              s.afterRequest.push_back(Pending(svc::kStopped, 0, 0));
            }),
       {"Stop:Spooler", "Stop service Successfully"},
       tryStop,
       true,
       {"Spooler"},
       Repeat(50, 21),
       false,
       err::kSuccess,
       16},
      {"stop: a short wait hint is slept as asked",
       true,
       "Spooler",
       With(Spooler(svc::kRunning),
            [](FakeService& s) {
              s.afterRequest = {Pending(svc::kStopPending, 1, 30),
                                Pending(svc::kStopPending, 2, 99),
                                Pending(svc::kStopPending, 3, 100), Pending(svc::kStopped, 0, 0)};
            }),
       {"Stop:Spooler", "Stop service Successfully"},
       tryStop,
       true,
       {"Spooler"},
       {30, 99, 50}},
      // A service that accepted the stop and is still going down when the wait ends is recorded:
      // it stops moments later, and only the record brings it back.
      {"stop: check point goes back",
       true,
       "Spooler",
       With(Spooler(svc::kRunning),
            [](FakeService& s) {
              s.afterRequest = {Pending(svc::kStopPending, 5, 50),
                                Pending(svc::kStopPending, 4, 50)};
            }),
       {"Stop:Spooler", "Failed to stop service!"},
       tryStop,
       false,
       {"Spooler"},
       {50}},
      {"stop: still pending after the budget",
       true,
       "Spooler",
       With(Spooler(svc::kRunning),
            [](FakeService& s) { s.afterRequest = {Pending(svc::kStopPending, 1, 5000)}; }),
       {"Stop:Spooler", "Failed to stop service!"},
       tryStop,
       false,
       {"Spooler"},
       Repeat(50, 21)},
      // No wait asked: 10 ms a turn, counted as nothing, until 3 s have passed (each fake query
      // takes 1 ms: 273 turns of 11 ms).
      {"stop: pending for ever with a wait hint of 0",
       true,
       "Spooler",
       With(Spooler(svc::kRunning),
            [](FakeService& s) { s.afterRequest = {Pending(svc::kStopPending, 0, 0)}; }),
       {"Stop:Spooler", "Failed to stop service!"},
       tryStop,
       false,
       {"Spooler"},
       Repeat(10, 273)},
      {"stop: a wait hint of 0 that stops after 2 s",
       true,
       "Spooler",
       With(Spooler(svc::kRunning),
            [](FakeService& s) {
              s.afterRequest.assign(182, Pending(svc::kStopPending, 0, 0));
              s.afterRequest.push_back(Pending(svc::kStopped, 0, 0));
            }),
       {"Stop:Spooler", "Stop service Successfully"},
       tryStop,
       true,
       {"Spooler"},
       Repeat(10, 182)},
      {"start: terminate asked",
       false,
       "Spooler",
       Spooler(svc::kStopped),
       {"Start:Spooler"},
       {},
       false,
       {"Spooler"},
       {},
       true},
      {"start: no such service",
       false,
       "Nope",
       Spooler(svc::kStopped),
       {"Start:Nope", std::string("OpenService Error:") + kNoService},
       {},
       false,
       {"Spooler"}},
      {"start: already running",
       false,
       "Spooler",
       Spooler(svc::kRunning),
       {"Start:Spooler", "Already Started", "Start Service Successfully"},
       tryStart,
       true,
       {}},
      {"start: refused",
       false,
       "Spooler",
       With(Spooler(svc::kStopped), [](FakeService& s) { s.requestError = 1058; }),
       {"Start:Spooler", "StartService Error:" + SystemMessage(1058)},
       tryStart,
       false,
       {"Spooler"}},
      {"start: success",
       false,
       "Spooler",
       Spooler(svc::kStopped),
       {"Start:Spooler", "Start Service Successfully"},
       tryStart,
       true,
       {}},
      {"start: slower than the budget",
       false,
       "Spooler",
       With(Spooler(svc::kStopped),
            [](FakeService& s) { s.afterRequest = {Pending(svc::kStartPending, 1, 90)}; }),
       {"Start:Spooler"},
       tryStart,
       false,
       {"Spooler"},
       Repeat(90, 12)},
      {"start: status unreadable after the start",
       false,
       "Spooler",
       With(Spooler(svc::kStopped), [](FakeService& s) { s.queryErrorAfterRequest = 5; }),
       {"Start:Spooler", std::string("QueryServiceStatus Error:") + kAccessDenied},
       tryStart,
       false,
       {"Spooler"}},
  };

  // What each row's call reports of the service, for the receipt of the run.
  using O = ServiceOutcome;
  const std::string stopping = "still stopping when the wait ended";
  const std::map<std::string, ServiceResult> outcomes = {
      {"stop: terminate asked", {O::kNotTried, ""}},
      {"stop: empty name", {O::kNotTried, ""}},
      {"stop: no connection", {O::kRefused, kAccessDenied}},
      {"stop: no such service", {O::kNotInstalled, kNoService}},
      {"stop: already stopped", {O::kAlreadyStopped, ""}},
      {"stop: control refused", {O::kRefused, SystemMessage(1052)}},
      {"stop: status unreadable after the control", {O::kStoppedLate, kAccessDenied}},
      {"stop: accepted while pending, status unreadable after the control",
       {O::kStoppedLate, kAccessDenied}},
      {"stop: every status unreadable, the stop accepted", {O::kStoppedLate, kAccessDenied}},
      {"stop: control ignored (still running), status unreadable after it",
       {O::kNotStopped, kAccessDenied}},
      {"stop: success", {O::kStopped, ""}},
      {"stop: no display name", {O::kStopped, ""}},
      {"stop: slow with rising check points", {O::kStopped, ""}},
      {"stop: stopped at the 21st turn of 50 ms, each Sleep 16 ms long", {O::kStopped, ""}},
      {"stop: a short wait hint is slept as asked", {O::kStopped, ""}},
      {"stop: check point goes back", {O::kStoppedLate, stopping}},
      {"stop: still pending after the budget", {O::kStoppedLate, stopping}},
      {"stop: pending for ever with a wait hint of 0", {O::kStoppedLate, stopping}},
      {"stop: a wait hint of 0 that stops after 2 s", {O::kStopped, ""}},
      {"start: terminate asked", {O::kNotTried, ""}},
      {"start: no such service", {O::kFailedToStart, kNoService}},
      {"start: already running", {O::kAlreadyRunning, ""}},
      {"start: refused", {O::kFailedToStart, SystemMessage(1058)}},
      {"start: success", {O::kStarted, ""}},
      {"start: slower than the budget", {O::kFailedToStart, "still starting when the wait ended"}},
      {"start: status unreadable after the start", {O::kFailedToStart, kAccessDenied}},
  };
  ASSERT_EQ(outcomes.size(), rows.size());

  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    FakeClock clock;
    clock.overshoot = row.overshoot;
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

    ServiceResult outcome;
    const bool result = row.stop ? StopNamedService(control, "", row.name, &outcome)
                                 : StartNamedService(control, "", row.name, &outcome);

    EXPECT_EQ(result, row.result);
    ASSERT_EQ(outcomes.count(row.what), 1u);
    EXPECT_EQ(outcome.outcome, outcomes.at(row.what).outcome);
    EXPECT_EQ(outcome.text, outcomes.at(row.what).text);
    Lines log;
    for (const std::string& line : recorder.Lines()) log.push_back(line.substr(9));
    EXPECT_EQ(log, row.log);
    EXPECT_EQ(shown, row.status);
    std::vector<std::string> record;
    ReadBoostedServices(registry, record);
    EXPECT_EQ(record, row.record);
    EXPECT_EQ(clock.sleeps, row.sleeps);
    // Every handle opened is closed once, the service before its connection.
    EXPECT_EQ(services.OpenHandleCount(), 0u);
    EXPECT_EQ(services.badCloses, 0);
    EXPECT_EQ(services.closed.size(), static_cast<std::size_t>(services.opened));
    if (!services.closed.empty()) {
      EXPECT_EQ(services.closed.back(), "manager");
    }
    EXPECT_EQ(registry.OpenKeyCount(), 0u);
  }
}

// A stopped service the record cannot hold is one no restore will give back: its outcome says so.
TEST(ServiceControl, AStopTheRecordCannotHoldSaysSo) {
  FakeClock clock;
  FakeServiceManager services(clock);
  services.services["Spooler"] = Spooler(svc::kRunning);
  FakeRegistry registry;
  registry.failCreateWith = err::kAccessDenied;
  ServiceControl control{services, registry, clock, nullptr, nullptr};
  ServiceResult outcome;
  EXPECT_TRUE(StopNamedService(control, "", "Spooler", &outcome));
  EXPECT_EQ(outcome.outcome, ServiceOutcome::kStopped);
  EXPECT_EQ(outcome.text, "the record could not be written: " + kAccessDenied);
}

}  // namespace
}  // namespace kestrava
