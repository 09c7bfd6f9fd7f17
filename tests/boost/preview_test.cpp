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
#include "tests/doubles/catalogue_services.h"
#include "tests/doubles/debug_recorder.h"
#include "tests/doubles/fixed_version.h"
#include "tests/doubles/fake_process_list.h"
#include "tests/doubles/fake_registry.h"
#include "tests/doubles/fake_service_manager.h"
#include "tests/sim/volume_file.h"

namespace kestrava {
namespace {

using Lines = std::vector<std::string>;
using Row = std::vector<std::string>;

class Window final : public BoostWindowPort {
 public:
  explicit Window(const PreviewRequest& request) : request_(request) {}
  bool IsChecked(OptionBox box) override { return request_.checked[static_cast<int>(box)]; }
  std::string GamePath() override { return request_.gamePath; }
  bool SysAbort() const override { return false; }
  void SetStatusText(const std::string&) override {}
  bool Synchronize(const std::function<void()>& routine) override {
    routine();
    return true;
  }

 private:
  const PreviewRequest& request_;
};

class Privileges final : public PrivilegePort {
 public:
  WinError Enable(const std::string&) override { return err::kSuccess; }
};

constexpr char kVolume[] = R"(volume C clusters 8192 cluster_size 4096
used 0:64 4000:16
file C:\Games\Quarry\quarry.exe extents 100:40
file C:\Games\Quarry\data\level1.pak extents 1000:128 1500:22
file C:\Games\Quarry\save\slot1.sav extents 2400:3 2410:3 locked
)";

// Every catalogue service of every version installed and running; every box ticked.
struct World {
  testing::FakeClock clock;
  testing::FakeServiceManager services{clock};
  testing::FakeRegistry registry;
  testing::FakeProcessList processes;
  testing::FakeMemoryStatus memory;
  FixedVersion version;
  Privileges privileges;
  sim::SimulatedVolume volume = sim::ReadVolumeText(kVolume);
  PreviewRequest request;
  std::atomic<bool> cancel{false};
  Lines progress;
  std::function<void(const std::string&)> onProgress;

  World() {
    testing::InstallCatalogueServices(services);
    request.checked.fill(true);
    request.gamePath = "C:\\Games\\Quarry";
    processes.Add(4, 256, 256, 1 << 20);
    processes.Add(8, 256, 256, 3 << 20);
    processes.Add(12, 0, 256, 100 << 20);
    memory.available = std::uint64_t{5} << 30;
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
    Window window(request);
    std::atomic<bool> finished{false};
    TThreadBoost worker(window, true, Ports(), NoDefragEngine, finished);
    worker.Execute();
    Lines names;
    ReadBoostedServices(registry, names);
    return names;
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

TEST(PreviewBoost, EachServiceStateHasItsVerdictAndTheFollowingBoostStopsWhatWouldStop) {
  const std::string kDenied = "could not be queried: " + SystemMessage(err::kAccessDenied);
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
      {"AppMgmt", [](testing::FakeService& s) { s.state = svc::kStopPending; }, "stop pending",
       "does not accept a stop now"},
      {"BDESVC", [](testing::FakeService& s) { s.state = svc::kStartPending; }, "start pending",
       "does not accept a stop now"},
      {"bthserv", [](testing::FakeService& s) { s.state = svc::kPaused; }, "paused", "would stop"},
      {"PeerDistSvc", [](testing::FakeService& s) { s.queryError = err::kAccessDenied; }, "",
       kDenied},
      {"CertPropSvc", [](testing::FakeService& s) { s.openError = err::kAccessDenied; }, "",
       kDenied},
  };
  World world;
  world.request.checked.fill(false);
  world.services.services.erase("VaultSvc");  // the next of Seven's list
  world.services.services["AxInstSV"].startType = 4;
  world.services.services["AxInstSV"].display = "";  // the key name stands in
  for (const Case& c : cases) c.set(world.services.services[c.name]);

  const std::vector<Row> rows = Section(world.Preview(), "Services");
  ASSERT_GE(rows.size(), std::size(cases) + 1);
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(cases[i].name);
    EXPECT_EQ(rows[i][0], cases[i].name);
    EXPECT_EQ(rows[i][2], cases[i].state);
    EXPECT_EQ(rows[i][4], cases[i].verdict);
  }
  EXPECT_EQ(rows[0], (Row{"AxInstSV", "AxInstSV", "running", "disabled", "would stop"}));
  EXPECT_EQ(rows[1], (Row{"SensrSvc", "SensrSvc service", "stopped", "manual", "already stopped"}));
  EXPECT_EQ(rows[std::size(cases)], (Row{"VaultSvc", "", "", "", "not installed"}));

  EXPECT_EQ(world.services.controls + world.services.starts, 0);  // until the boost below

  Lines wouldStop;
  for (const Row& row : rows) {
    if (row[4] == "would stop") wouldStop.push_back(row[0]);
  }
  // A service whose state cannot be read is sent the stop all the same, and recorded when it goes.
  wouldStop.insert(wouldStop.begin() + 2, "PeerDistSvc");
  EXPECT_EQ(world.Boost(), wouldStop);
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
  EXPECT_EQ(rows[0][4],
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
                {"Their working sets", "108003328 bytes (103 MiB)"},
                {"Available physical memory", "5368709120 bytes (5120 MiB)"},
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
  EXPECT_TRUE(std::all_of(world.services.accesses.begin(), world.services.accesses.end(),
                          [](std::uint32_t a) { return a == svc::kAccessQuery; }));
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
    std::size_t services;  // rows of services kept
    bool memory, folder;
  } cases[] = {
      {"Services: ", 1, false, false},
      {"Memory: working sets", 0, true, false},
      {"Game folder: C:\\Games\\Quarry\\save", 0, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.cancelAt);
    World world;
    world.onProgress = [&](const std::string& line) {
      if (line.rfind(c.cancelAt, 0) == 0) world.cancel = true;
    };
    const ReportTable table = world.Preview();
    if (c.services > 0) {
      EXPECT_EQ(Section(table, "Services").size(), c.services);
    }
    EXPECT_EQ(!Section(table, "Memory").empty(), c.memory);
    const std::vector<Row> folder = Section(table, "Game folder");
    EXPECT_EQ(!folder.empty(), c.folder);
    if (c.folder) {
      EXPECT_EQ(folder[1], (Row{"Items", "2"}));  // data and quarry.exe, listed before save
    }
    ASSERT_FALSE(table.rows.empty());
    EXPECT_EQ(table.rows.back()[0], "Run");
    EXPECT_EQ(table.rows.back()[1], "Cancelled");
  }
}

}  // namespace
}  // namespace kestrava
