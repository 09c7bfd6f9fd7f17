// Stopping and starting one service against a scripted service manager: the log lines, the status
// texts, the outcome and the record for every case, one table per direction.
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
using Sleeps = std::vector<std::uint32_t>;
using O = ServiceOutcome;

Sleeps Repeat(std::uint32_t pause, std::size_t turns) { return Sleeps(turns, pause); }

ServiceStatus Status(std::uint32_t state, std::uint32_t checkPoint = 0,
                     std::uint32_t waitHint = 0) {
  ServiceStatus s;
  s.currentState = state;
  s.checkPoint = checkPoint;
  s.waitHint = waitHint;
  return s;
}

// The system's text for a code as it must appear in a log line: Windows' (and the host's stand-in)
// or Wine's, trimmed of its full stop and line end.
std::string Literal(WinError code, const std::string& windows, const std::string& wine) {
  return SystemMessage(code) == wine ? wine : windows;
}
const std::string kAccessDenied = Literal(err::kAccessDenied, "Access is denied", "Access denied");
// Where only the joining to the label is under test, the system's own text.
const std::string kNoService = SystemMessage(err::kServiceDoesNotExist);
const std::string kRefusedStop = SystemMessage(1052);
const std::string kRefusedStart = SystemMessage(1058);
const std::string kStopping = "still stopping when the wait ended";
const char* const kFailed = "Failed to stop service!";

// What every row starts from: "Spooler", shown as "Print Spooler", running for a stop and stopped
// (and recorded) for a start. A row's setup changes what it needs.
struct Scene {
  FakeClock clock;
  FakeServiceManager services{clock};
  FakeRegistry registry;
  std::string name = "Spooler";
  bool terminate = false;
  FakeService& Spooler() { return services.services["Spooler"]; }
};

struct Row {
  const char* what;
  void (*setup)(Scene&);
  Lines log;  // without the "Tarnwell:" prefix
  ServiceResult result;
  Lines record;                         // after the call
  Sleeps sleeps = {};                   // the pauses of the wait, in order
  std::string shown = "Print Spooler";  // after "Try to stop: " / "Try to start: "; "": nothing
};

void Nothing(Scene&) {}

// Runs a row of either table and checks what every row shares: its log, outcome, status texts,
// record and pauses, and every handle and key closed, the service before its connection.
void Check(const Row& row, bool stop) {
  SCOPED_TRACE(row.what);
  Scene scene;
  scene.Spooler().display = "Print Spooler";
  scene.Spooler().state = stop ? svc::kRunning : svc::kStopped;
  if (!stop) SetBoostedService(scene.registry, "Spooler", false);
  row.setup(scene);
  Lines shown;
  ServiceControl control{scene.services, scene.registry, scene.clock,
                         [&](const std::string& text) { shown.push_back(text); },
                         [&] { return scene.terminate; }};
  testing::DebugRecorder recorder;

  const ServiceResult result =
      stop ? StopNamedService(control, "", scene.name) : StartNamedService(control, "", scene.name);

  EXPECT_EQ(result.outcome, row.result.outcome);
  EXPECT_EQ(result.text, row.result.text);
  Lines log;
  for (const std::string& line : recorder.Lines()) log.push_back(line.substr(9));
  EXPECT_EQ(log, row.log);
  const std::string verb = stop ? "Try to stop: " : "Try to start: ";
  EXPECT_EQ(shown, row.shown.empty() ? Lines{} : Lines{verb + row.shown});
  Lines record;
  ReadBoostedServices(scene.registry, record);
  EXPECT_EQ(record, row.record);
  // A boost that stopped nothing leaves no record key behind.
  if (stop) {
    EXPECT_EQ(scene.registry.Find(BoostRecordPath()) != nullptr, !record.empty());
  }
  EXPECT_EQ(scene.clock.sleeps, row.sleeps);
  EXPECT_EQ(scene.services.OpenHandleCount(), 0u);
  EXPECT_EQ(scene.services.badCloses, 0);
  EXPECT_EQ(scene.services.closed.size(), static_cast<std::size_t>(scene.services.opened));
  if (!scene.services.closed.empty()) {
    EXPECT_EQ(scene.services.closed.back(), "manager");
  }
  EXPECT_EQ(scene.registry.OpenKeyCount(), 0u);
}

TEST(StopNamedService, EveryOutcome) {
  const Lines stopped{"Stop:Spooler", "Stop service Successfully"};
  const Lines failed{"Stop:Spooler", kFailed};
  const Lines spooler{"Spooler"};
  const std::vector<Row> rows = {
      {"terminate asked", [](Scene& s) { s.terminate = true; }, {"Stop:Spooler"}, {}, {}, {}, ""},
      {"empty name", [](Scene& s) { s.name = ""; }, {"Stop:"}, {}, {}, {}, ""},
      {"no connection",
       [](Scene& s) { s.services.managerError = err::kAccessDenied; },
       {"Stop:Spooler", "OpenSCManager Error:" + kAccessDenied},
       {O::kRefused, kAccessDenied},
       {},
       {},
       ""},
      {"not installed",
       [](Scene& s) { s.name = "Nope"; },
       {"Stop:Nope", "OpenService Error:" + kNoService, kFailed},
       {O::kNotInstalled, kNoService},
       {},
       {},
       ""},
      {"the open denied",
       [](Scene& s) { s.Spooler().openError = err::kAccessDenied; },
       {"Stop:Spooler", "OpenService Error:" + kAccessDenied, kFailed},
       {O::kRefused, kAccessDenied},
       {},
       {},
       ""},
      {"already stopped",
       [](Scene& s) { s.Spooler().state = svc::kStopped; },
       {"Stop:Spooler", "Already Stopped", kFailed},
       {O::kAlreadyStopped, ""},
       {}},
      // Written before the control, taken back when it is refused, and the key with it.
      {"control refused",
       [](Scene& s) { s.Spooler().requestError = 1052; },
       {"Stop:Spooler", "ControlService Error:" + kRefusedStop, kFailed},
       {O::kRefused, kRefusedStop},
       {}},
      {"control refused after another service was recorded: that one stays",
       [](Scene& s) {
         s.Spooler().requestError = 1052;
         SetBoostedService(s.registry, "BITS", false);
       },
       {"Stop:Spooler", "ControlService Error:" + kRefusedStop, kFailed},
       {O::kRefused, kRefusedStop},
       {"BITS"}},
      // An earlier try of the boost left it going down and recorded: a refusal now keeps it.
      {"refused while going down after an earlier try: it stays recorded",
       [](Scene& s) {
         s.Spooler().state = svc::kStopPending;
         SetBoostedService(s.registry, "SPOOLER", false);
       },
       {"Stop:Spooler", "ControlService Error:" + SystemMessage(1061), kFailed},
       {O::kRefused, SystemMessage(1061)},
       {"SPOOLER"}},
      // A status that cannot be read before the control: the control tells it was stopped.
      {"status unreadable, found stopped by the control",
       [](Scene& s) {
         s.Spooler().state = svc::kStopped;
         s.Spooler().queryError = err::kAccessDenied;
       },
       {"Stop:Spooler", "ControlService Error:" + SystemMessage(1062), kFailed},
       {O::kRefused, SystemMessage(1062)},
       {}},
      {"the record cannot be written: no control is sent",
       [](Scene& s) { s.registry.failCreateWith = err::kAccessDenied; },
       {"Stop:Spooler", "SetBoostedService Error:" + kAccessDenied, kFailed},
       {O::kNotRecorded, kAccessDenied},
       {}},
      {"success", &Nothing, stopped, {O::kStopped, ""}, spooler},
      {"no display name",
       [](Scene& s) { s.Spooler().display = ""; },
       stopped,
       {O::kStopped, ""},
       spooler,
       {},
       "Spooler"},
      // Once the service has accepted the stop it may go down whatever it reports: only the record
      // brings it back.
      {"accepted, status unreadable after the control",
       [](Scene& s) { s.Spooler().queryErrorAfterRequest = err::kAccessDenied; },
       {"Stop:Spooler", "QueryServiceStatus Error:" + kAccessDenied, kFailed},
       {O::kStoppedLate, kAccessDenied},
       spooler},
      {"accepted while pending, status unreadable after the control",
       [](Scene& s) {
         s.Spooler().queryErrorAfterRequest = err::kAccessDenied;
         s.Spooler().afterRequest = {Status(svc::kStopPending, 1, 500)};
       },
       {"Stop:Spooler", "QueryServiceStatus Error:" + kAccessDenied, kFailed},
       {O::kStoppedLate, kAccessDenied},
       spooler},
      {"every status unreadable, the stop accepted",
       [](Scene& s) { s.Spooler().queryError = err::kAccessDenied; },
       {"Stop:Spooler", "QueryServiceStatus Error:" + kAccessDenied, kFailed},
       {O::kStoppedLate, kAccessDenied},
       spooler},
      {"accepted, reported running by the control, status unreadable after it",
       [](Scene& s) {
         s.Spooler().queryErrorAfterRequest = err::kAccessDenied;
         s.Spooler().controlReports = svc::kRunning;
       },
       {"Stop:Spooler", "QueryServiceStatus Error:" + kAccessDenied, kFailed},
       {O::kNotStopped, kAccessDenied},
       spooler},
      {"accepted, still running when the wait ended",
       [](Scene& s) { s.Spooler().afterRequest = {Status(svc::kRunning, 0, 5000)}; },
       failed,
       {O::kNotStopped, "running"},
       spooler,
       Repeat(50, 21)},
      {"slow with rising check points",
       [](Scene& s) {
         s.Spooler().afterRequest = {Status(svc::kStopPending, 1, 300),
                                     Status(svc::kStopPending, 2, 80),
                                     Status(svc::kStopPending, 3, 80), Status(svc::kStopped)};
       },
       stopped,
       {O::kStopped, ""},
       spooler,
       {50, 80, 80}},
      // The slept total decides, not the clock: Sleep's overshoot must not cost the last turns.
      {"stopped at the 21st turn of 50 ms, each Sleep 16 ms long",
       [](Scene& s) {
         s.clock.overshoot = 16;
         s.Spooler().afterRequest.assign(21, Status(svc::kStopPending, 1, 5000));
         s.Spooler().afterRequest.push_back(Status(svc::kStopped));
       },
       stopped,
       {O::kStopped, ""},
       spooler,
       Repeat(50, 21)},
      {"a short wait hint is slept as asked",
       [](Scene& s) {
         s.Spooler().afterRequest = {Status(svc::kStopPending, 1, 30),
                                     Status(svc::kStopPending, 2, 99),
                                     Status(svc::kStopPending, 3, 100), Status(svc::kStopped)};
       },
       stopped,
       {O::kStopped, ""},
       spooler,
       {30, 99, 50}},
      {"check point goes back",
       [](Scene& s) {
         s.Spooler().afterRequest = {Status(svc::kStopPending, 5, 50),
                                     Status(svc::kStopPending, 4, 50)};
       },
       failed,
       {O::kStoppedLate, kStopping},
       spooler,
       {50}},
      {"still pending after the budget",
       [](Scene& s) { s.Spooler().afterRequest = {Status(svc::kStopPending, 1, 5000)}; },
       failed,
       {O::kStoppedLate, kStopping},
       spooler,
       Repeat(50, 21)},
      // No wait asked: 10 ms a turn, counted as nothing, until 3 s have passed (each fake query
      // takes 1 ms: 273 turns of 11 ms).
      {"pending for ever with a wait hint of 0",
       [](Scene& s) { s.Spooler().afterRequest = {Status(svc::kStopPending)}; },
       failed,
       {O::kStoppedLate, kStopping},
       spooler,
       Repeat(10, 273)},
      {"a wait hint of 0 that stops after 2 s",
       [](Scene& s) {
         s.Spooler().afterRequest.assign(182, Status(svc::kStopPending));
         s.Spooler().afterRequest.push_back(Status(svc::kStopped));
       },
       stopped,
       {O::kStopped, ""},
       spooler,
       Repeat(10, 182)},
  };
  for (const Row& row : rows) Check(row, true);
}

TEST(StartNamedService, EveryOutcome) {
  const Lines spooler{"Spooler"};
  const Lines started{"Start:Spooler", "Start Service Successfully"};
  const std::vector<Row> rows = {
      {"terminate asked",
       [](Scene& s) { s.terminate = true; },
       {"Start:Spooler"},
       {},
       spooler,
       {},
       ""},
      {"no connection",
       [](Scene& s) { s.services.managerError = err::kAccessDenied; },
       {"Start:Spooler", "OpenSCManager Error:" + kAccessDenied},
       {O::kFailedToStart, kAccessDenied},
       spooler,
       {},
       ""},
      {"not installed",
       [](Scene& s) { s.name = "Nope"; },
       {"Start:Nope", "OpenService Error:" + kNoService},
       {O::kFailedToStart, kNoService},
       spooler,
       {},
       ""},
      // A name from the record may carry line breaks: written visibly, it forges no line.
      {"a name with control characters",
       [](Scene& s) { s.name = "Nope\r\nTarnwell:Start Service Successfully\t"; },
       {"Start:Nope\\x0D\\x0ATarnwell:Start Service Successfully\\x09",
        "OpenService Error:" + kNoService},
       {O::kFailedToStart, kNoService},
       spooler,
       {},
       ""},
      {"already running",
       [](Scene& s) { s.Spooler().state = svc::kRunning; },
       {"Start:Spooler", "Already Started", "Start Service Successfully"},
       {O::kAlreadyRunning, ""},
       {}},
      {"refused",
       [](Scene& s) { s.Spooler().requestError = 1058; },
       {"Start:Spooler", "StartService Error:" + kRefusedStart},
       {O::kFailedToStart, kRefusedStart},
       spooler},
      {"success", &Nothing, started, {O::kStarted, ""}, {}},
      {"slow with rising check points",
       [](Scene& s) {
         s.Spooler().afterRequest = {Status(svc::kStartPending, 1, 40),
                                     Status(svc::kStartPending, 2, 40), Status(svc::kRunning)};
       },
       started,
       {O::kStarted, ""},
       {},
       {40, 40}},
      {"slower than the budget",
       [](Scene& s) { s.Spooler().afterRequest = {Status(svc::kStartPending, 1, 90)}; },
       {"Start:Spooler"},
       {O::kStartAccepted, "still starting when the wait ended"},
       spooler,
       Repeat(90, 12)},
      {"status unreadable after the start",
       [](Scene& s) { s.Spooler().queryErrorAfterRequest = err::kAccessDenied; },
       {"Start:Spooler", "QueryServiceStatus Error:" + kAccessDenied},
       {O::kStartAccepted, kAccessDenied},
       spooler},
      // Stopped again at once, it is waited for as long as one that asks for no wait.
      {"accepted, then stopped again",
       [](Scene& s) { s.Spooler().afterRequest = {Status(svc::kStopped)}; },
       {"Start:Spooler"},
       {O::kFailedToStart, "stopped"},
       spooler,
       Repeat(10, 273)},
  };
  for (const Row& row : rows) Check(row, false);
}

// From the moment the control is sent the service may go down, and a run killed in the wait must
// still leave it in the record; a record that cannot be written sends no control at all.
TEST(StopNamedService, TheRecordHoldsTheServiceBeforeItsControlIsSent) {
  for (const WinError recordError : {err::kSuccess, err::kAccessDenied}) {
    SCOPED_TRACE(recordError);
    FakeClock clock;
    FakeServiceManager services(clock);
    services.services["Spooler"].display = "Print Spooler";
    FakeRegistry registry;
    registry.failCreateWith = recordError;
    Lines atControl;
    services.onRequest = [&] { ReadBoostedServices(registry, atControl); };
    ServiceControl control{services, registry, clock, nullptr, nullptr};
    const ServiceResult result = StopNamedService(control, "", "Spooler");
    if (recordError == err::kSuccess) {
      EXPECT_EQ(atControl, Lines{"Spooler"});
      EXPECT_EQ(result.outcome, O::kStopped);
    } else {
      EXPECT_EQ(services.controls, 0);
      EXPECT_EQ(services.services["Spooler"].state, svc::kRunning);
      EXPECT_EQ(result.outcome, O::kNotRecorded);
    }
  }
}

}  // namespace
}  // namespace kestrava
