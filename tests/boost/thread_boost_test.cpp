// The worker's runs against doubles of the window and the system: what a boost stops, in which
// order, what it records, and how the restore gives it back.
#include "boost/thread_boost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <map>
#include <stdexcept>
#include <thread>

#include "boost/catalogue.h"
#include "boost/record.h"
#include "common/error.h"
#include "boost/os_version.h"
#include "tests/doubles/catalogue_services.h"
#include "tests/doubles/debug_recorder.h"
#include "tests/doubles/fixed_version.h"
#include "tests/doubles/fake_registry.h"
#include "tests/doubles/fake_service_manager.h"

namespace kestrava {
namespace {

using testing::FakeClock;
using testing::FakeRegistry;
using testing::FakeServiceManager;
using Lines = std::vector<std::string>;

class FakeWindow final : public BoostWindowPort {
 public:
  std::map<OptionBox, bool> boxes;  // missing: checked, as the window opens
  std::string gamePath;
  bool sysAbort = false;
  Lines status;
  std::function<void(const std::string&)> onStatus;  // called with every text shown
  bool IsChecked(OptionBox box) override { return boxes.count(box) == 0 || boxes[box]; }
  std::string GamePath() override { return gamePath; }
  bool SysAbort() const override { return sysAbort; }
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
  Lines enabled;
  WinError Enable(const std::string& name) override {
    enabled.push_back(name);
    return err::kSuccess;
  }
};

class NoProcesses final : public ProcessListPort {
 public:
  int queries = 0;
  NtStatus QueryProcessList(void* buffer, std::uint32_t length) override {
    ++queries;
    std::memset(buffer, 0, length);
    return nt::kSuccess;
  }
  WinError OpenForQuota(std::uint32_t, Handle*) override { return err::kAccessDenied; }
  WinError EmptyWorkingSet(Handle) override { return err::kSuccess; }
  void Close(Handle) override {}
};

// An engine that reports one item and remembers what it was asked.
class ScriptedEngine final : public DefragEngine {
 public:
  explicit ScriptedEngine(Lines& calls, bool fail) : calls_(calls), fail_(fail) {}
  bool DefragFolder(const std::string& folder, bool filesOnly) override {
    calls_.push_back(folder + (filesOnly ? " files only" : ""));
    bool abort = false;
    OnProgress(*this, abort, L"C:\\Games\\Foo\\a.dat");
    calls_.push_back(abort ? "abort" : "go on");
    OnSkipFile(*this, L"C:\\Games\\Foo\\b.dat", abort, true, 10);
    if (fail_)
      throw KestravaError("CreateFile \\\\.\\Q:\r\nThe system cannot find the file specified");
    return true;
  }

 private:
  Lines& calls_;
  bool fail_;
};

// Memory that grows with every look: each reading differs from the one before.
class RisingMemory final : public MemoryStatusPort {
 public:
  int queries = 0;
  WinError AvailablePhysical(std::uint64_t* bytes) override {
    *bytes = 100u * static_cast<unsigned>(++queries);
    return err::kSuccess;
  }
};

struct World {
  FakeWindow window;
  RisingMemory memory;
  FakeClock clock;
  FakeServiceManager services{clock};
  FakeRegistry registry;
  FixedVersion version;
  RecordingPrivileges privileges;
  NoProcesses processes;
  Lines engineCalls;
  bool engineFails = false;
  std::atomic<bool> finished{false};

  // Every catalogue service exists and runs.
  World() { testing::InstallCatalogueServices(services); }
  void Version(std::uint32_t platform, std::uint32_t major, std::uint32_t minor) {
    version.report = {platform, major, minor};
  }
  std::unique_ptr<TThreadBoost> Worker(bool boost) {
    BoostPorts ports;
    ports.registry = &registry;
    ports.services = &services;
    ports.processes = &processes;
    ports.memory = &memory;
    ports.privileges = &privileges;
    ports.version = &version;
    ports.clock = &clock;
    return std::make_unique<TThreadBoost>(
        window, boost, ports,
        [this] { return std::make_unique<ScriptedEngine>(engineCalls, engineFails); }, finished);
  }
  Lines Record() {
    Lines names;
    ReadBoostedServices(registry, names);
    return names;
  }
};

// The "Stop:" lines of a log, names only.
Lines Stops(const Lines& log) {
  Lines names;
  for (const std::string& line : log) {
    if (line.rfind("Tarnwell:Stop:", 0) == 0) names.push_back(line.substr(14));
  }
  return names;
}

TEST(ThreadBoost, ABoostStopsTheTickedOptionsThenTheVersionsListAndRecordsWhatItStopped) {
  struct Case {
    const char* what;
    std::uint32_t platform, major, minor;
    int code;
  };
  for (const Case& c :
       {Case{"XP", 2, 5, 1, kOsXP}, Case{"Vista", 2, 6, 0, kOsVista},
        Case{"Seven", 2, 6, 1, kOsSeven}, Case{"8 counts as Seven", 2, 6, 2, kOsSeven},
        Case{"9x", 1, 4, 10, kOsWin9x}, Case{"NT 4", 2, 4, 0, kOsNt4},
        Case{"2000", 2, 5, 0, kOsWin2000}, Case{"2003", 2, 5, 2, kOsNt52},
        Case{"10", 2, 10, 0, kOsOther}}) {
    SCOPED_TRACE(c.what);
    World world;
    world.Version(c.platform, c.major, c.minor);
    world.window.boxes[OptionBox::chkStopTasks] = false;  // an option not ticked is not visited
    testing::DebugRecorder recorder;
    auto worker = world.Worker(true);
    worker->Execute();

    Lines expected;
    Lines stopped;
    const bool stops = c.code == kOsXP || c.code == kOsVista || c.code == kOsSeven;
    for (const CatalogueOption& option : kCatalogueOptions) {
      if (option.box == OptionBox::chkStopTasks || !stops) continue;
      expected.push_back(OptionService(option, c.code));
      if (*OptionService(option, c.code) != '\0') stopped.push_back(OptionService(option, c.code));
    }
    for (const char* name : FixedServices(c.code)) {
      expected.push_back(name);
      // On Vista the application cache heads the list after its option stopped it.
      if (std::find(stopped.begin(), stopped.end(), name) == stopped.end()) stopped.push_back(name);
    }
    EXPECT_EQ(Stops(recorder.Lines()), expected);
    EXPECT_EQ(world.Record(), stopped);
    EXPECT_TRUE(world.finished.load());
    EXPECT_EQ(world.privileges.enabled, (Lines{"SeDebugPrivilege"}));
    EXPECT_EQ(world.processes.queries, 3);            // the trim, and the receipt's sums around it
    EXPECT_EQ(world.services.OpenHandleCount(), 0u);  // every service and connection closed
    EXPECT_EQ(world.services.badCloses, 0);
    if (!stops) {
      EXPECT_TRUE(world.window.status.empty());
    }
  }
}

TEST(ThreadBoost, OnXpTheEmptyOptionsWriteABareStopLineAndVistasCacheIsRecordedOnce) {
  {
    World world;
    world.Version(2, 5, 1);
    testing::DebugRecorder recorder;
    world.Worker(true)->Execute();
    const Lines lines = recorder.Lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Tarnwell:Stop:"), 5);
    // Nothing else is written for them: each bare line is followed by the next service's.
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
      if (lines[i] == "Tarnwell:Stop:") {
        EXPECT_EQ(lines[i + 1].rfind("Tarnwell:Stop:", 0), 0u);
      }
    }
  }
  {
    World world;
    world.Version(2, 6, 0);
    testing::DebugRecorder recorder;
    world.Worker(true)->Execute();
    const Lines record = world.Record();
    EXPECT_EQ(std::count(record.begin(), record.end(), "AeLookupSvc"), 1);
    const Lines lines = recorder.Lines();
    const auto second =
        std::find(std::find(lines.begin(), lines.end(), "Tarnwell:Stop:AeLookupSvc") + 1,
                  lines.end(), "Tarnwell:Stop:AeLookupSvc");
    ASSERT_NE(second, lines.end());
    EXPECT_EQ(*(second + 1), "Tarnwell:Already Stopped");
    EXPECT_EQ(*(second + 2), "Tarnwell:Failed to stop service!");
  }
}

TEST(ThreadBoost, TheGameFolderStepAndItsFailureEndingTheRunBeforeAnyStop) {
  {
    SCOPED_TRACE("ticked with an empty path: no privileges, no engine");
    World world;
    world.window.boxes[OptionBox::chkDefragMem] = false;
    world.Worker(true)->Execute();
    EXPECT_TRUE(world.privileges.enabled.empty());
    EXPECT_TRUE(world.engineCalls.empty());
    EXPECT_EQ(world.processes.queries, 0);
    EXPECT_FALSE(world.Record().empty());
  }
  {
    SCOPED_TRACE("a path: the engine gets it as typed, its events reach the panel");
    World world;
    world.window.gamePath = " D:\\Games\\Foo";
    world.window.sysAbort = true;
    world.Worker(true)->Execute();
    EXPECT_EQ(world.privileges.enabled,
              (Lines{"SeDebugPrivilege", "SeRestorePrivilege", "SeBackupPrivilege"}));
    EXPECT_EQ(world.engineCalls, (Lines{" D:\\Games\\Foo", "abort"}));
    ASSERT_GE(world.window.status.size(), 2u);
    EXPECT_EQ(world.window.status[0], "C:\\Games\\Foo\\a.dat");
    EXPECT_EQ(world.window.status[1], "C:\\Games\\Foo\\b.dat");
  }
  {
    SCOPED_TRACE("the engine raises: the run ends, nothing is stopped, the window is told");
    World world;
    world.window.gamePath = "Q:\\";
    world.engineFails = true;
    testing::DebugRecorder recorder;
    auto worker = world.Worker(true);
    worker->Execute();
    EXPECT_TRUE(world.finished.load());
    EXPECT_TRUE(Stops(recorder.Lines()).empty());
    EXPECT_TRUE(world.Record().empty());
    EXPECT_TRUE(worker->FatalException() != nullptr);
  }
}

TEST(ThreadBoost, ARestoreStartsTheRecordInItsOrderAndDeletesTheRecord) {
  World world;
  for (const char* name : {"Spooler", "BITS", "NoSuchOne", "StiSvc"}) {
    SetBoostedService(world.registry, name, false);
    if (world.services.services.count(name)) world.services.services[name].state = svc::kStopped;
  }
  testing::DebugRecorder recorder;
  world.Worker(false)->Execute();
  Lines starts;
  for (const std::string& line : recorder.Lines()) {
    if (line.rfind("Tarnwell:Start:", 0) == 0) starts.push_back(line.substr(15));
  }
  EXPECT_EQ(starts, (Lines{"Spooler", "BITS", "NoSuchOne", "StiSvc"}));
  EXPECT_EQ(world.services.services["Spooler"].state, svc::kRunning);
  EXPECT_EQ(world.registry.Find(BoostRecordPath()), nullptr);  // gone, the failed one too
  EXPECT_TRUE(world.finished.load());
  EXPECT_EQ(world.services.OpenHandleCount(), 0u);
  EXPECT_EQ(world.services.badCloses, 0);
}

TEST(ThreadBoost, ARestoreStartsWhatItCanReadOfARecordWithAnUnreadableValue) {
  World world;
  for (const char* name : {"Spooler", "BITS", "StiSvc"}) {
    SetBoostedService(world.registry, name, false);
    world.services.services[name].state = svc::kStopped;
  }
  world.registry.failEnumWith = err::kMoreData;
  world.registry.failEnumFrom = 1;
  world.registry.failEnumTo = 2;
  world.Worker(false)->Execute();
  EXPECT_EQ(world.services.services["Spooler"].state, svc::kRunning);
  EXPECT_EQ(world.services.services["StiSvc"].state, svc::kRunning);
  EXPECT_EQ(world.services.services["BITS"].state, svc::kStopped);
}

TEST(ThreadBoost, ATerminateRequestStopsAfterTheCurrentOptionOrService) {
  World world;
  SetBoostedService(world.registry, "Spooler", false);
  SetBoostedService(world.registry, "BITS", false);
  auto worker = world.Worker(false);
  world.services.services["Spooler"].state = svc::kStopped;
  testing::DebugRecorder recorder;
  worker->Terminate();
  worker->Execute();
  // The first start returns at once; the loop ends after it; the record is cleared anyway.
  EXPECT_EQ(recorder.Lines(), (Lines{"Tarnwell:Start:Spooler"}));
  EXPECT_EQ(world.registry.Find(BoostRecordPath()), nullptr);
}

// Asked to terminate while an option's service is being stopped, the boost ends right after that
// option: no later option, no fixed list. Every option position is tried, one unticked among them.
TEST(ThreadBoost, ABoostEndsAfterTheOptionDuringWhichTerminateWasAsked) {
  for (std::size_t k = 0; k < kCatalogueOptions.size(); ++k) {
    SCOPED_TRACE(k);
    World world;
    const std::size_t unticked = (k + 5) % kCatalogueOptions.size();
    world.window.boxes[kCatalogueOptions[unticked].box] = false;
    if (unticked == k) continue;
    const std::string name = OptionService(kCatalogueOptions[k], kOsSeven);
    auto worker = world.Worker(true);
    world.window.onStatus = [&](const std::string& text) {
      if (text == "Try to stop: " + name + " service") worker->Terminate();
    };
    testing::DebugRecorder recorder;
    worker->Execute();
    Lines expected;
    for (std::size_t i = 0; i <= k; ++i) {
      if (i != unticked) expected.push_back(OptionService(kCatalogueOptions[i], kOsSeven));
    }
    EXPECT_EQ(Stops(recorder.Lines()), expected);
    EXPECT_TRUE(world.finished.load());
  }
}

// The services of a receipt with the outcome given, in order.
Lines Outcomes(const BoostReceipt& receipt, std::initializer_list<ServiceOutcome> outcomes) {
  Lines names;
  for (const ServiceReceipt& s : receipt.services) {
    for (ServiceOutcome o : outcomes) {
      if (s.result.outcome == o) names.push_back(s.name);
    }
  }
  return names;
}

// The receipt agrees with the log and the record: every service tried, in the order of its "Stop:"
// or "Start:" line; those it says stopped are the record; memory is read around the trim; it goes
// into the slot before the flag is set.
TEST(ThreadBoost, TheReceiptAgreesWithTheLogAndTheRecord) {
  World world;
  world.services.services.erase("Spooler");                              // not installed
  world.services.services["BITS"].state = svc::kStopped;                 // already stopped
  world.services.services["StiSvc"].requestError = 1052;                 // refuses
  world.services.services["Schedule"].afterRequest = {ServiceStatus{}};  // slow to stop
  world.services.services["Schedule"].afterRequest[0].currentState = svc::kStopPending;
  ReceiptSlot slot;
  auto worker = world.Worker(true);
  worker->KeepReceiptIn(slot);
  testing::DebugRecorder recorder;
  worker->Execute();
  const BoostReceipt& receipt = worker->Receipt();
  EXPECT_EQ(slot.Get().get(), &receipt);
  Lines tried = Stops(recorder.Lines());
  tried.erase(std::remove(tried.begin(), tried.end(), ""), tried.end());
  Lines names;
  for (const ServiceReceipt& s : receipt.services) names.push_back(s.name);
  EXPECT_EQ(names, tried);
  EXPECT_EQ(Outcomes(receipt, {ServiceOutcome::kStopped, ServiceOutcome::kStoppedLate}),
            world.Record());
  EXPECT_EQ(Outcomes(receipt, {ServiceOutcome::kNotInstalled}), (Lines{"Spooler"}));
  EXPECT_EQ(Outcomes(receipt, {ServiceOutcome::kAlreadyStopped}), (Lines{"BITS"}));
  EXPECT_EQ(Outcomes(receipt, {ServiceOutcome::kRefused}), (Lines{"StiSvc"}));
  EXPECT_EQ(Outcomes(receipt, {ServiceOutcome::kStoppedLate}), (Lines{"Schedule"}));
  EXPECT_TRUE(receipt.boost && receipt.trimmed && !receipt.endedEarly && !receipt.defragmented);
  EXPECT_EQ(receipt.beforeTrim.availableBytes, 100u);
  EXPECT_EQ(receipt.afterTrim.availableBytes, 200u);
  EXPECT_TRUE(receipt.beforeTrim.workingSetsKnown && receipt.afterTrim.workingSetsKnown);

  // The restore that follows: what the boost recorded started, in its order; one more name the
  // record holds fails to start.
  world.services.services["Schedule"].afterRequest.clear();
  world.services.services["Schedule"].state = svc::kStopped;
  SetBoostedService(world.registry, "NoSuchOne", false);
  auto restore = world.Worker(false);
  restore->KeepReceiptIn(slot);
  restore->Execute();
  EXPECT_EQ(slot.Get().get(), &restore->Receipt());
  EXPECT_FALSE(restore->Receipt().boost);
  EXPECT_EQ(Outcomes(restore->Receipt(), {ServiceOutcome::kStarted}),
            Outcomes(receipt, {ServiceOutcome::kStopped, ServiceOutcome::kStoppedLate}));
  EXPECT_EQ(Outcomes(restore->Receipt(), {ServiceOutcome::kFailedToStart}), (Lines{"NoSuchOne"}));
}

// An engine that cannot open the volume ends the run: the receipt gives its text as the reason,
// and the panel one line of it.
TEST(ThreadBoost, ARunEndedEarlyGivesItsReason) {
  World world;
  world.window.gamePath = "Q:\\";
  world.engineFails = true;
  auto worker = world.Worker(true);
  worker->Execute();
  const BoostReceipt& receipt = worker->Receipt();
  EXPECT_TRUE(receipt.endedEarly);
  EXPECT_EQ(receipt.reason, "CreateFile \\\\.\\Q:\r\nThe system cannot find the file specified");
  EXPECT_EQ(EndedEarlyLine(receipt),
            "Boost ended early: CreateFile \\\\.\\Q: The system cannot find the file specified");
  EXPECT_TRUE(receipt.services.empty());
  EXPECT_TRUE(receipt.defragmented);
  EXPECT_EQ(receipt.gameFolder, "Q:\\");
}

TEST(ThreadBoost, AResumedWorkerRunsOnItsOwnThreadAndSetsTheFlag) {
  World world;
  world.Version(2, 5, 0);  // Windows 2000: nothing to stop
  TThreadBoost::Resume(world.Worker(true));
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (!world.finished.load() && std::chrono::steady_clock::now() < end) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_TRUE(world.finished.load());
}

}  // namespace
}  // namespace kestrava
