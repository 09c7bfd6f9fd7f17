// The worker's runs against doubles of the window and the system: what a boost stops, in which
// order, what it records, and how the restore gives it back.
#include "boost/thread_boost.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <stdexcept>
#include <thread>

#include "boost/catalogue.h"
#include "boost/record.h"
#include "common/error.h"
#include "common/system_message.h"
#include "boost/os_version.h"
#include "tests/doubles/boost_doubles.h"
#include "tests/doubles/debug_recorder.h"

namespace kestrava {
namespace {

using Lines = std::vector<std::string>;

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

// Memory that a trim gives back: what is available is what the working sets do not hold.
class TrimmedMemory final : public MemoryStatusPort {
 public:
  explicit TrimmedMemory(const testing::FakeProcessList& processes) : processes_(processes) {}
  static constexpr std::uint64_t kTotal = std::uint64_t{100} << 20;
  WinError AvailablePhysical(std::uint64_t* bytes) override {
    *bytes = kTotal - processes_.WorkingSetBytes();
    return err::kSuccess;
  }

 private:
  const testing::FakeProcessList& processes_;
};

// Every catalogue service installed and running, Windows 7; two processes hold 3 MB and 5 MB.
struct World : testing::FakeBoostSystem {
  testing::FakeBoostWindow window;
  TrimmedMemory trimmedMemory{processes};
  Lines engineCalls;
  bool engineFails = false;
  std::atomic<bool> finished{false};

  World() {
    processes.Add(4, 256, 256, 3 << 20);
    processes.Add(8, 0, 256, 5 << 20);
  }
  std::unique_ptr<TThreadBoost> Worker(bool boost) {
    BoostPorts ports = Ports();
    ports.memory = &trimmedMemory;
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

// The names of a receipt's services, in order.
Lines Names(const BoostReceipt& receipt) {
  Lines names;
  for (const ServiceReceipt& s : receipt.services) names.push_back(s.name);
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
    EXPECT_EQ(world.processes.queriedLengths.size(), 3u);  // the trim, and the sums around it
    EXPECT_EQ(world.services.OpenHandleCount(), 0u);       // every service and connection closed
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
    auto worker = world.Worker(true);
    worker->Execute();
    const Lines lines = recorder.Lines();
    EXPECT_EQ(std::count(lines.begin(), lines.end(), "Tarnwell:Stop:"), 5);
    // Nothing else is written for them: each bare line is followed by the next service's.
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
      if (lines[i] == "Tarnwell:Stop:") {
        EXPECT_EQ(lines[i + 1].rfind("Tarnwell:Stop:", 0), 0u);
      }
    }
    // Nor does the receipt keep them: it lists the services the boost tried, in order.
    Lines tried = Stops(lines);
    tried.erase(std::remove(tried.begin(), tried.end(), ""), tried.end());
    EXPECT_EQ(Names(worker->Receipt()), tried);
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
    EXPECT_TRUE(world.processes.queriedLengths.empty());
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

// The record is in HKCU, which any program of the user can write: the restore starts only a name
// a boost on this version could have stopped, in any case, and writes the others visibly.
TEST(ThreadBoost, ARestoreStartsOnlyWhatABoostCouldHaveStoppedAndDeletesTheRecord) {
  World world;
  world.services.services["RTCore64"].state = svc::kStopped;  // a driver some tools install
  world.services.services["wuauserv"].state = svc::kStopped;  // in XP's list, not in Seven's
  const std::string forged = "Evil\r\nTarnwell:Start Service Successfully";
  world.services.services[forged].state = svc::kStopped;
  for (const std::string& name :
       {std::string("Spooler"), std::string("RTCore64"), std::string("bits"),
        std::string("wuauserv"), forged, std::string(""), std::string("StiSvc")}) {
    SetBoostedService(world.registry, name, false);
    world.services.services[name.empty() ? "Spooler" : name].state = svc::kStopped;
  }
  // Longer than a service name can be: not even read.
  SetBoostedService(world.registry, std::string(300, 'x'), false);
  testing::DebugRecorder recorder;
  auto worker = world.Worker(false);
  worker->Execute();
  const char* const kNot = "Tarnwell:Not a service this program stops";
  const char* const kStarted = "Tarnwell:Start Service Successfully";
  EXPECT_EQ(recorder.Lines(),
            (Lines{"Tarnwell:Start:Spooler", kStarted, "Tarnwell:Start:RTCore64", kNot,
                   "Tarnwell:Start:bits", kStarted, "Tarnwell:Start:wuauserv", kNot,
                   "Tarnwell:Start:Evil\\x0D\\x0ATarnwell:Start Service Successfully", kNot,
                   "Tarnwell:Start:", kNot, "Tarnwell:Start:StiSvc", kStarted}));
  EXPECT_EQ(world.services.starts, 3);
  EXPECT_EQ(world.services.services["RTCore64"].state, svc::kStopped);
  EXPECT_EQ(world.services.services["wuauserv"].state, svc::kStopped);
  EXPECT_EQ(world.services.services["BITS"].state, svc::kRunning);
  EXPECT_EQ(world.registry.Find(BoostRecordPath()), nullptr);  // gone, the others too
  const ReportTable table = ReceiptTable(worker->Receipt());
  const std::string kNotOurs = "not started: not a service this program stops";
  const std::vector<Lines> services(table.rows.end() - 8, table.rows.end() - 1);
  EXPECT_EQ(services, (std::vector<Lines>{{"Services", "Spooler", "started", ""},
                                          {"Services", "RTCore64", kNotOurs, ""},
                                          {"Services", "bits", "started", ""},
                                          {"Services", "wuauserv", kNotOurs, ""},
                                          {"Services", forged, kNotOurs, ""},
                                          {"Services", "", kNotOurs, ""},
                                          {"Services", "StiSvc", "started", ""}}));
  EXPECT_EQ(
      table.rows.back(),
      (Lines{"Services", "", "passed over: not read from the record",
             "values not read: 1 (a restore reads at most 256 names of at most 256 characters)"}));
  EXPECT_TRUE(world.finished.load());
  EXPECT_EQ(world.services.OpenHandleCount(), 0u);
  EXPECT_EQ(world.services.badCloses, 0);
}

// A record that cannot be deleted still holds its names: the receipt and the panel say so, and a
// start that failed is not said to be gone from the record.
TEST(ThreadBoost, ARestoreThatCannotClearTheRecordSaysSo) {
  World world;
  for (const char* name : {"Spooler", "BITS"}) {
    SetBoostedService(world.registry, name, false);
    world.services.services[name].state = svc::kStopped;
  }
  world.services.services["BITS"].requestError = 1058;  // disabled
  world.registry.failWriteWith = err::kAccessDenied;
  auto worker = world.Worker(false);
  worker->Execute();
  EXPECT_EQ(world.Record(), (Lines{"Spooler", "BITS"}));  // the mode shown stays on
  const BoostReceipt& receipt = worker->Receipt();
  const std::string denied = SystemMessage(err::kAccessDenied);
  EXPECT_EQ(AfterRunLine(receipt), "The record could not be cleared: " + denied);
  EXPECT_EQ(ReceiptTable(receipt).rows,
            (std::vector<Lines>{{"Run", "Restore", "the record could not be cleared", denied},
                                {"Services", "Spooler", "started", ""},
                                {"Services", "BITS", "failed to start, still in the record",
                                 SystemMessage(1058)}}));
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

// A stop the record cannot hold ends the boost before its control: that service and every later
// one keep running, and the receipt and the panel say why.
TEST(ThreadBoost, ARecordThatCannotBeWrittenEndsTheBoost) {
  World world;
  world.window.onStatus = [&](const std::string& text) {
    if (text == "Try to stop: Spooler service") world.registry.failWriteWith = err::kAccessDenied;
  };
  testing::DebugRecorder recorder;
  auto worker = world.Worker(true);
  worker->Execute();
  EXPECT_EQ(Stops(recorder.Lines()), (Lines{"Browser", "hidserv", "Spooler"}));
  EXPECT_EQ(world.services.services["Spooler"].state, svc::kRunning);
  EXPECT_EQ(world.services.controls, 2);
  world.registry.failWriteWith = err::kSuccess;
  EXPECT_EQ(world.Record(), (Lines{"Browser", "hidserv"}));
  const BoostReceipt& receipt = worker->Receipt();
  const std::string denied = SystemMessage(err::kAccessDenied);
  EXPECT_EQ(AfterRunLine(receipt), "Boost ended early: the record could not be written: " + denied);
  const ReportTable table = ReceiptTable(receipt);
  EXPECT_EQ(table.rows.front(),
            (Lines{"Run", "Boost", "ended early", "the record could not be written: " + denied}));
  EXPECT_EQ(table.rows.back(),
            (Lines{"Services", "Spooler", "not stopped: the record could not be written", denied}));
  EXPECT_TRUE(world.finished.load());
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
  EXPECT_EQ(Names(receipt), tried);
  EXPECT_EQ(Outcomes(receipt, {ServiceOutcome::kStopped, ServiceOutcome::kStoppedLate,
                               ServiceOutcome::kNotStopped}),
            world.Record());
  EXPECT_EQ(Outcomes(receipt, {ServiceOutcome::kNotInstalled}), (Lines{"Spooler"}));
  EXPECT_EQ(Outcomes(receipt, {ServiceOutcome::kAlreadyStopped}), (Lines{"BITS"}));
  EXPECT_EQ(Outcomes(receipt, {ServiceOutcome::kRefused}), (Lines{"StiSvc"}));
  EXPECT_EQ(Outcomes(receipt, {ServiceOutcome::kStoppedLate}), (Lines{"Schedule"}));
  EXPECT_TRUE(receipt.boost && receipt.trimmed && !receipt.endedEarly && !receipt.defragmented);

  // The restore that follows: what the boost recorded started, in its order; one more name the
  // record holds fails to start.
  world.services.services["Schedule"].afterRequest.clear();
  world.services.services["Schedule"].state = svc::kStopped;
  world.services.services.erase("Browser");
  SetBoostedService(world.registry, "Spooler", false);
  auto restore = world.Worker(false);
  restore->KeepReceiptIn(slot);
  restore->Execute();
  EXPECT_EQ(slot.Get().get(), &restore->Receipt());
  EXPECT_FALSE(restore->Receipt().boost);
  Lines started = Outcomes(receipt, {ServiceOutcome::kStopped, ServiceOutcome::kStoppedLate});
  started.erase(started.begin());  // Browser, gone since
  EXPECT_EQ(Outcomes(restore->Receipt(), {ServiceOutcome::kStarted}), started);
  EXPECT_EQ(Outcomes(restore->Receipt(), {ServiceOutcome::kFailedToStart}),
            (Lines{"Browser", "Spooler"}));
  EXPECT_EQ(ReceiptTable(restore->Receipt()).rows[1],
            (Lines{"Services", "Browser", "failed to start, no longer in the record",
                   SystemMessage(err::kServiceDoesNotExist)}));
}

// The readings around the trim: before it, what the working sets held; after it, what it gave
// back. Taken in the wrong place, both would read alike.
TEST(ThreadBoost, TheReadingsBeforeTheTrimAreTakenBeforeIt) {
  World world;
  auto worker = world.Worker(true);
  worker->Execute();
  const BoostReceipt& receipt = worker->Receipt();
  EXPECT_EQ(world.processes.trimmed, (std::vector<std::uint32_t>{4, 8}));
  const MemoryReading& before = receipt.beforeTrim;
  const MemoryReading& after = receipt.afterTrim;
  EXPECT_TRUE(before.availableKnown && before.workingSetsKnown);
  EXPECT_EQ(before.processes, 2u);
  EXPECT_EQ(before.workingSetBytes, std::uint64_t{8} << 20);
  EXPECT_EQ(before.availableBytes, TrimmedMemory::kTotal - (std::uint64_t{8} << 20));
  EXPECT_TRUE(after.availableKnown && after.workingSetsKnown);
  EXPECT_EQ(after.processes, 2u);
  EXPECT_EQ(after.workingSetBytes, 0u);
  EXPECT_EQ(after.availableBytes, TrimmedMemory::kTotal);
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
  EXPECT_EQ(AfterRunLine(receipt),
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
