// The preview of a boost against the doubles a boost runs on: what it says of each service, of
// memory and of the game folder, that it agrees with the boost that follows, and that it changes
// nothing.
#include "boost/preview.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "boost/catalogue.h"
#include "boost/record.h"
#include "boost/thread_boost.h"
#include "common/system_message.h"
#include "defrag/fast_defrag_engine.h"
#include "tests/doubles/boost_doubles.h"
#include "tests/doubles/debug_recorder.h"
#include "tests/sim/volume_file.h"

namespace kestrava {
namespace {

using Lines = std::vector<std::string>;
using Row = std::vector<std::string>;

constexpr char kVolume[] = R"(volume C clusters 8192 cluster_size 4096
used 0:64 4000:16
file C:\Games\Quarry\quarry.exe extents 100:40
file C:\Games\Quarry\data\level1.pak extents 1000:128 1500:22
file C:\Games\Quarry\save\slot1.sav extents 2400:3 2410:3 locked
)";

// Every catalogue service of every version installed and running; every box ticked.
struct World : testing::FakeBoostSystem {
  sim::SimulatedVolume volume = sim::ReadVolumeText(kVolume);
  PreviewRequest request;
  std::atomic<bool> cancel{false};
  Lines progress;
  std::function<void(const std::string&)> onProgress;

  World() {
    request.checked.fill(true);
    request.gamePath = "C:\\Games\\Quarry";
    processes.Add(4, 256, 256, 1 << 20);
    processes.Add(8, 256, 256, 3 << 20);
    processes.Add(12, 0, 256, 100 << 20);
    memory.available = std::uint64_t{5} << 30;
  }
  DefragPorts Volume() {
    DefragPorts ports;
    ports.volume = &volume;
    ports.search.directory = &volume;
    ports.search.paths = &volume;
    return ports;
  }
  ReportTable Preview() {
    TFastDefragEngine engine(Volume());
    return PreviewBoost(
        Ports(), engine, request,
        [this](const std::string& line) {
          progress.push_back(line);
          if (onProgress) onProgress(line);
        },
        cancel);
  }
  // A boost on the same doubles (the folder left alone): the names it recorded, in order.
  Lines Boost() {
    Run(true, false);
    Lines names;
    ReadBoostedServices(registry, names);
    return names;
  }
  // A boost (or restore) on the same doubles, the folder run on the simulated volume or left
  // alone: its receipt.
  BoostReceipt Run(bool boost, bool defragment) {
    // The window the request was read from: its boxes and its folder.
    testing::FakeBoostWindow window;
    for (std::size_t box = 0; box < request.checked.size(); ++box) {
      window.boxes[static_cast<OptionBox>(box)] = request.checked[box];
    }
    window.gamePath = request.gamePath;
    std::atomic<bool> finished{false};
    DefragEngineFactory engines = NoDefragEngine;
    if (defragment) {
      engines = [this]() -> std::unique_ptr<DefragEngine> {
        return std::make_unique<TFastDefragEngine>(Volume());
      };
    }
    TThreadBoost worker(window, boost, Ports(), engines, finished);
    worker.Execute();
    return worker.Receipt();
  }
};

// The rows of one section; the first cell dropped.
std::vector<Row> Section(const ReportTable& table, const std::string& section) {
  std::vector<Row> rows;
  for (const Row& row : table.rows) {
    if (!row.empty() && row[0] == section) rows.emplace_back(row.begin() + 1, row.end());
  }
  return rows;
}

Lines Column(const std::vector<Row>& rows, std::size_t column) {
  Lines cells;
  for (const Row& row : rows) cells.push_back(column < row.size() ? row[column] : "");
  return cells;
}

// The service rows' cells after the section: name, display name, state, start type, description,
// verdict.
constexpr std::size_t kVerdict = 5;

TEST(PreviewBoost, EachServiceStateHasItsVerdictAndTheFollowingBoostStopsWhatWouldStop) {
  const std::string kDenied = "would be refused: " + SystemMessage(err::kAccessDenied);
  struct Case {
    const char* name;  // of Seven's fixed list
    void (*set)(testing::FakeService&);
    const char* state;
    std::string verdict;
  } cases[] = {
      {"AxInstSV", [](testing::FakeService&) {}, "running", "would stop"},
      {"SensrSvc", [](testing::FakeService& s) { s.state = svc::kStopped; }, "stopped",
       "already stopped"},
      {"ALG", [](testing::FakeService& s) { s.controlsAccepted = 0; }, "running",
       "does not accept a stop now"},
      // It accepts a control, only not the stop: Windows refuses the stop all the same.
      {"AppMgmt", [](testing::FakeService& s) { s.controlsAccepted = 4; }, "running",
       "does not accept a stop now"},  // SERVICE_ACCEPT_SHUTDOWN
      {"BDESVC", [](testing::FakeService& s) { s.state = svc::kStopPending; }, "stop pending",
       "does not accept a stop now"},
      {"bthserv", [](testing::FakeService& s) { s.state = svc::kStartPending; }, "start pending",
       "does not accept a stop now"},
      {"PeerDistSvc", [](testing::FakeService& s) { s.state = svc::kPaused; }, "paused",
       "would stop"},
      {"CertPropSvc", [](testing::FakeService& s) { s.queryError = err::kAccessDenied; }, "",
       "could not be queried: " + SystemMessage(err::kAccessDenied)},
      {"VaultSvc", [](testing::FakeService& s) { s.openError = err::kAccessDenied; }, "", kDenied},
      // A running service that needs it: the stop is refused with 1051.
      {"DPS", [](testing::FakeService& s) { s.dependents = {"WSearch"}; }, "running",
       "would be refused: WSearch service depends on it"},
      // The one that needs it is stopped earlier in the same boost, or is stopped already.
      {"WdiServiceHost",
       [](testing::FakeService& s) {
         s.dependents = {"AxInstSV", "SensrSvc"};
       },
       "running", "would stop"},
  };
  World world;
  world.request.checked.fill(false);
  world.services.services.erase("WdiSystemHost");  // the next of Seven's list
  world.services.services["AxInstSV"].startType = 4;
  world.services.services["AxInstSV"].display = "";  // the key name stands in
  world.services.services["AxInstSV"].description = "Installs ActiveX controls.";
  world.services.services["SensrSvc"].descriptionError = err::kAccessDenied;  // stays empty
  for (const Case& c : cases) c.set(world.services.services[c.name]);

  const std::vector<Row> rows = Section(world.Preview(), "Services");
  ASSERT_GE(rows.size(), std::size(cases) + 1);
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].name);
    EXPECT_EQ(rows[i][0], cases[i].name);
    EXPECT_EQ(rows[i][2], cases[i].state);
    EXPECT_EQ(rows[i][kVerdict], cases[i].verdict);
  }
  EXPECT_EQ(rows[0], (Row{"AxInstSV", "AxInstSV", "running", "disabled",
                          "Installs ActiveX controls.", "would stop"}));
  EXPECT_EQ(rows[1],
            (Row{"SensrSvc", "SensrSvc service", "stopped", "manual", "", "already stopped"}));
  EXPECT_EQ(rows[std::size(cases)], (Row{"WdiSystemHost", "", "", "", "", "not installed"}));

  EXPECT_EQ(world.services.controls + world.services.starts, 0);  // until the boost below

  Lines wouldStop;
  for (const Row& row : rows) {
    if (row[kVerdict] == "would stop") wouldStop.push_back(row[0]);
  }
  // A service whose state cannot be read is sent the stop all the same, and recorded when it goes.
  wouldStop.insert(wouldStop.begin() + 2, "CertPropSvc");
  EXPECT_EQ(world.Boost(), wouldStop);
}

// The walk carries what the steps before would have done: the preview's verdict of each service is
// the outcome the boost that follows meets, on every course a boost can take.
TEST(PreviewBoost, VerdictsAreTheOutcomesOfTheBoostThatFollows) {
  struct Case {
    const char* what;
    OsVersionReport version;
    const char* gamePath;  // "" leaves the folder out
    void (*set)(World&);
    const char* verdictOf;  // a service and the verdict it must have
    const char* verdict;
  } cases[] = {
      {"a game folder on a missing drive ends the boost before its first stop",
       {2, 6, 1},
       "Q:\\Games",
       [](World&) {},
       "Browser",
       "not tried: the boost would end early: CreateFile \\\\.\\Q: "},
      {"Vista tries AeLookupSvc twice: the second finds it stopped",
       {2, 6, 0},
       "",
       [](World&) {},
       "AeLookupSvc",
       "already stopped by then"},
      {"a dependent stopped earlier in the same boost no longer holds the stop back",
       {2, 6, 1},
       "",
       [](World& w) {
         w.services.services["W32Time"].dependents = {"Browser", "WSearch"};
         w.services.services["WSearch"].controlsAccepted = 0;
       },
       "W32Time",
       "would be refused: WSearch service depends on it"},
      {"a link on the record's way ends the boost at its first stop",
       {2, 6, 1},
       "",
       [](World& w) { w.registry.MakeLink("Software\\Kestrava", "Software\\Policies\\Victim"); },
       "Browser",
       "would not be stopped: the record could not be written: "},
      {"XP, with a service that refuses and one that is missing",
       {2, 5, 1},
       "",
       [](World& w) {
         w.services.services["Spooler"].controlsAccepted = 0;
         w.services.services.erase("Alerter");
       },
       "Alerter",
       "not installed"},
  };
  // What a verdict says the boost meets.
  const auto expected = [](const std::string& verdict) {
    if (verdict == "would stop") return ServiceOutcome::kStopped;
    if (verdict == "already stopped" || verdict == "already stopped by then") {
      return ServiceOutcome::kAlreadyStopped;
    }
    if (verdict == "not installed") return ServiceOutcome::kNotInstalled;
    if (verdict.rfind("would not be stopped: the record", 0) == 0) {
      return ServiceOutcome::kNotRecorded;
    }
    if (verdict == "does not accept a stop now" || verdict.rfind("would be refused: ", 0) == 0) {
      return ServiceOutcome::kRefused;
    }
    return ServiceOutcome::kNotTried;
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    World world;
    world.version.report = c.version;
    world.request.gamePath = c.gamePath;
    world.request.checked[static_cast<int>(OptionBox::chkDefragGamePath)] = *c.gamePath != '\0';
    c.set(world);
    const std::vector<Row> rows = Section(world.Preview(), "Services");
    std::vector<std::pair<std::string, ServiceOutcome>> foreseen;
    bool found = false;
    for (const Row& row : rows) {
      if (row[0] == c.verdictOf && row[kVerdict].rfind(c.verdict, 0) == 0) found = true;
      const ServiceOutcome outcome = expected(row[kVerdict]);
      ASSERT_TRUE(outcome != ServiceOutcome::kNotTried ||
                  row[kVerdict].rfind("not tried: the boost would end early: ", 0) == 0)
          << row[0] << ": " << row[kVerdict];
      if (outcome != ServiceOutcome::kNotTried) foreseen.emplace_back(row[0], outcome);
    }
    EXPECT_TRUE(found) << c.verdictOf << " reads " << c.verdict;
    EXPECT_EQ(world.services.controls + world.services.starts, 0);

    const BoostReceipt receipt = world.Run(true, *c.gamePath != '\0');
    std::vector<std::pair<std::string, ServiceOutcome>> met;
    for (const ServiceReceipt& service : receipt.services) {
      met.emplace_back(service.name, service.result.outcome);
    }
    EXPECT_EQ(foreseen, met);
    EXPECT_EQ(receipt.endedEarly, foreseen.size() < rows.size());
  }
}

TEST(PreviewBoost, ListsTheServicesInTheOrderTheBoostTriesThemOnEachVersion) {
  struct Case {
    const char* what;
    OsVersionReport report;
  } cases[] = {{"XP", {2, 5, 1}}, {"Vista", {2, 6, 0}}, {"Seven", {2, 6, 1}}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    World world;
    world.version.report = c.report;
    world.request.checked[static_cast<int>(OptionBox::chkStopTasks)] = false;
    world.request.checked[static_cast<int>(OptionBox::chkStopPrinterSupport)] = false;
    const Lines names = Column(Section(world.Preview(), "Services"), 0);

    testing::DebugRecorder recorder;
    world.Boost();
    Lines tried;
    for (const std::string& line : recorder.Lines()) {
      if (line.rfind("Tarnwell:Stop:", 0) == 0 && line.size() > 14)
        tried.push_back(line.substr(14));
    }
    EXPECT_EQ(names, tried);
    EXPECT_GT(names.size(), 10u);
  }
}

TEST(PreviewBoost, AVersionWithoutAListSaysWhyNoServiceWouldBeStopped) {
  World world;
  world.version.report = {2, 5, 0};
  const std::vector<Row> rows = Section(world.Preview(), "Services");
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0][kVerdict],
            "no service would be stopped: Windows 2000 (version 5.0) has no list of services to "
            "stop");
  EXPECT_TRUE(world.services.accesses.empty());
}

TEST(PreviewBoost, MemoryRowsCountWhatTheTrimWouldReachAndTrimNothing) {
  World world;
  world.processes.refusing = {4};
  EXPECT_EQ(Section(world.Preview(), "Memory"),
            (std::vector<Row>{
                {"Processes whose working sets would be trimmed", "2"},
                {"Their working sets", "103 MiB (108003328 bytes)"},
                {"Available physical memory", "5120 MiB (5368709120 bytes)"},
            }));
  EXPECT_TRUE(world.processes.trimmed.empty());
  EXPECT_EQ(world.processes.open, 0);

  world.request.checked[static_cast<int>(OptionBox::chkDefragMem)] = false;
  world.memory.failWith = err::kAccessDenied;
  EXPECT_EQ(
      Section(world.Preview(), "Memory"),
      (std::vector<Row>{
          {"Working sets", "not trimmed: the box is not ticked"},
          {"Available physical memory", "could not be read: " + SystemMessage(err::kAccessDenied)},
      }));
}

// With every box ticked: every part of the preview runs, and none of them acts.
TEST(PreviewBoost, NeverStopsStartsTrimsMovesOrLogs) {
  World world;
  const sim::SimulatedVolume before = sim::ReadVolumeText(kVolume);
  testing::DebugRecorder recorder;
  const ReportTable table = world.Preview();
  EXPECT_FALSE(Section(table, "Services").empty());
  EXPECT_EQ(Section(table, "Game folder").size(), 7u);

  EXPECT_EQ(world.services.controls, 0);
  EXPECT_EQ(world.services.starts, 0);
  // Opened to look, or with the stop's own access to meet what the stop would meet.
  EXPECT_TRUE(
      std::all_of(world.services.accesses.begin(), world.services.accesses.end(),
                  [](std::uint32_t a) { return a == svc::kAccessQuery || a == svc::kAccessStop; }));
  EXPECT_NE(
      std::count(world.services.accesses.begin(), world.services.accesses.end(), svc::kAccessStop),
      0);
  EXPECT_EQ(world.services.OpenHandleCount(), 0u);
  EXPECT_EQ(world.processes.opened.size(), 3u);
  EXPECT_TRUE(world.processes.trimmed.empty());
  EXPECT_EQ(world.processes.open, 0);
  EXPECT_EQ(world.volume.Counters().moveCalls, 0u);
  EXPECT_TRUE(world.volume == before);
  EXPECT_EQ(world.volume.OpenHandles(), 0);
  Lines record;
  ReadBoostedServices(world.registry, record);
  EXPECT_TRUE(record.empty());
  EXPECT_TRUE(recorder.Lines().empty());  // a preview writes none of a boost's debug lines
}

TEST(PreviewBoost, TheGameFolderIsSurveyedAndAMissingDriveIsARow) {
  World world;
  world.volume.SetSeekPenalty(false);
  EXPECT_EQ(Section(world.Preview(), "Game folder"),
            (std::vector<Row>{
                {"Folder", "C:\\Games\\Quarry"},
                {"Items", "5"},
                {"Fragmented items", "1"},
                {"Clusters of the fragmented items", "150"},
                {"Free clusters", "7916"},
                {"Largest free run", "4176 clusters"},
                {"Seek penalty", "none: a solid-state disk, where defragmenting brings no speed"},
            }));
  EXPECT_NE(std::find(world.progress.begin(), world.progress.end(),
                      "Game folder: C:\\Games\\Quarry\\data\\level1.pak"),
            world.progress.end());

  world.request.gamePath = "Q:\\Games\\x";
  const std::vector<Row> rows = Section(world.Preview(), "Game folder");
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1][0], "Volume");
  EXPECT_EQ(rows[1][1],
            "could not be surveyed: CreateFile \\\\.\\Q: " + SystemMessage(err::kFileNotFound));
}

TEST(PreviewBoost, ACancelledPreviewEndsWithWhatItHasAndSaysSo) {
  struct Case {
    const char* cancelAt;  // the progress line (its start) at which the user cancels
    bool options;          // the service options ticked
    bool folder;           // rows of the game folder kept
    std::size_t services;  // rows of services kept
  } cases[] = {
      {"Memory: working sets", true, false, 0},
      {"Game folder: C:\\Games\\Quarry\\save", true, true, 0},
      {"Services: ", true, true, 1},
      // No option ticked: the first service is the fixed list's, whose loop ends there too.
      {"Services: ", false, true, 1},
      // With the mode on: the restore's loop over the record.
      {"Services: Spooler", true, false, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cancelAt);
    World world;
    if (&c == &cases[std::size(cases) - 1]) {
      for (const char* name : {"Spooler", "BITS", "Schedule"}) {
        SetBoostedService(world.registry, name, false);
      }
    }
    for (const CatalogueOption& option : kCatalogueOptions) {
      world.request.checked[static_cast<int>(option.box)] = c.options;
    }
    world.onProgress = [&](const std::string& line) {
      if (line.rfind(c.cancelAt, 0) == 0) world.cancel = true;
    };
    const ReportTable table = world.Preview();
    EXPECT_EQ(Section(table, "Services").size(), c.services);
    const std::vector<Row> folder = Section(table, "Game folder");
    EXPECT_EQ(!folder.empty(), c.folder);
    if (c.folder && c.services == 0) {
      EXPECT_EQ(folder[1], (Row{"Items", "2"}));  // data and quarry.exe, listed before save
    }
    ASSERT_FALSE(table.rows.empty());
    EXPECT_EQ(table.rows.back()[0], "Run");
    EXPECT_EQ(table.rows.back()[1], "Cancelled");
  }
}

// The count is made with the debug privilege on, as the trim is: without it the processes of
// other users and of services are left out.
TEST(PreviewBoost, TheWorkingSetsAreCountedWithTheDebugPrivilegeOn) {
  World world;
  world.processes.refusing = {4, 8};
  world.privileges.onEnable = [&world](const std::string& name) {
    if (name == "SeDebugPrivilege") world.processes.refusing.clear();
  };
  const std::vector<Row> rows = Section(world.Preview(), "Memory");
  ASSERT_FALSE(rows.empty());
  EXPECT_EQ(rows[0], (Row{"Processes whose working sets would be trimmed", "3"}));
}

// With the mode on, a press restores: each recorded name by the restore's rules, and the restore
// that follows meets what the preview said.
TEST(PreviewBoost, WithTheModeOnItShowsTheRestore) {
  World world;
  world.services.services["Spooler"].state = svc::kStopped;
  world.services.services["Spooler"].description = "Loads files to memory for later printing.";
  world.services.services["WSearch"].state = svc::kStopped;
  world.services.services["WSearch"].startType = 4;
  world.services.services.erase("W32Time");
  const Lines recorded = {"Spooler", "BITS", "W32Time", "WSearch", "RTCore64"};
  for (const std::string& name : recorded) SetBoostedService(world.registry, name, false);

  const ReportTable table = world.Preview();
  EXPECT_TRUE(Section(table, "Memory").empty());
  EXPECT_TRUE(Section(table, "Game folder").empty());
  const std::vector<Row> runs = Section(table, "Run");
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0][0], "Restore");
  const std::vector<Row> rows = Section(table, "Services");
  EXPECT_EQ(Column(rows, 0), recorded);
  EXPECT_EQ(Column(rows, kVerdict),
            (Lines{"would start", "already running", "not installed",
                   "would be refused: " + SystemMessage(err::kServiceDisabled),
                   "not started: not a service this program stops"}));
  EXPECT_EQ(rows[0], (Row{"Spooler", "Spooler service", "stopped", "manual",
                          "Loads files to memory for later printing.", "would start"}));
  EXPECT_EQ(world.services.controls + world.services.starts, 0);
  // Looked at, or opened with the start's own access; the name that is no service of ours never.
  EXPECT_TRUE(std::all_of(
      world.services.accesses.begin(), world.services.accesses.end(),
      [](std::uint32_t a) { return a == svc::kAccessQuery || a == svc::kAccessStart; }));
  EXPECT_EQ(world.services.accesses.size(), 8u);

  // The restore that follows, for the names of the catalogue.
  const BoostReceipt receipt = world.Run(false, false);
  std::vector<std::pair<std::string, ServiceOutcome>> met;
  for (const ServiceReceipt& service : receipt.services) {
    if (service.name != "RTCore64") met.emplace_back(service.name, service.result.outcome);
  }
  EXPECT_EQ(met, (std::vector<std::pair<std::string, ServiceOutcome>>{
                     {"Spooler", ServiceOutcome::kStarted},
                     {"BITS", ServiceOutcome::kAlreadyRunning},
                     {"W32Time", ServiceOutcome::kFailedToStart},
                     {"WSearch", ServiceOutcome::kFailedToStart},
                 }));
}

// "Last run details..." opened a while after a boost that trimmed: the readings as of then follow
// those right after the trim, with the seconds since the worker's trim on the clock.
TEST(LastRunDetails, TheMemoryNowFollowsTheReadingsAfterTheTrim) {
  World world;
  world.clock.now = 0xFFFFF000u;  // the trim a little before the clock wraps
  world.request.checked.fill(false);
  world.request.checked[static_cast<int>(OptionBox::chkDefragMem)] = true;
  const BoostReceipt receipt = world.Run(true, false);
  EXPECT_EQ(receipt.trimEndedAt, 0xFFFFF000u);

  MemoryReading now;
  now.availableKnown = true;
  now.availableBytes = std::uint64_t{3} << 30;
  now.workingSetsKnown = true;
  now.processes = 2;
  now.workingSetBytes = std::uint64_t{5} << 20;
  const std::vector<Row> rows = Section(ReceiptTable(receipt, now, 0xFFFFF000u + 12400), "Memory");
  ASSERT_EQ(rows.size(), 6u);
  EXPECT_EQ(rows[3].at(0), "Sum of working sets after the trim");
  EXPECT_EQ(rows[4], (Row{"Available physical memory now (12 s after the trim)", "3072.0 MB"}));
  EXPECT_EQ(rows[5], (Row{"Sum of working sets now", "5.0 MB", "2 processes"}));

  // A restore, or a boost that did not trim, has nothing to compare with.
  world.request.checked.fill(false);
  EXPECT_TRUE(Section(ReceiptTable(world.Run(true, false), now, 0), "Memory").empty());
  SetBoostedService(world.registry, "Spooler", false);
  EXPECT_TRUE(Section(ReceiptTable(world.Run(false, false), now, 0), "Memory").empty());
}

}  // namespace
}  // namespace kestrava
