// The survey of a game folder on the simulated volume: what it counts is what a folder run on the
// same volume then finds, and it moves nothing.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "common/wide.h"
#include "defrag/fast_defrag_engine.h"
#include "tests/doubles/debug_recorder.h"
#include "tests/sim/volume_file.h"

namespace kestrava {
namespace {

using sim::SimulatedVolume;

// Fragmented, sparse, resident, locked, denied and unmovable items, a fragmented folder, and a
// junction onto another volume with a fragmented file below it, which a run passes over.
constexpr char kQuarry[] = R"(volume C clusters 8192 cluster_size 4096
used 0:64 4000:16
folder C:\Games\Quarry\
file C:\Games\Quarry\quarry.exe extents 100:40
file C:\Games\Quarry\readme.txt resident
file C:\Games\Quarry\data\level1.pak extents 1000:128 1500:22
file C:\Games\Quarry\data\textures.pak extents 2000:10 2100:5 2200:7 attrs hidden,archive
file C:\Games\Quarry\data\sounds.bank extents 2300:4 -1:12 2320:4 attrs sparse
folder C:\Games\Quarry\mods\ extents 2480:1 2490:1
file C:\Games\Quarry\save\slot1.sav extents 2400:3 2410:3 locked
file C:\Games\Quarry\save\acl.dat extents 2420:2 2430:2 denied
file C:\Games\Quarry\logs\session.log extents 2460:2 2470:3
file C:\Games\Quarry\system\boot.bin extents 2440:2 2450:2 unmovable
folder C:\Games\Quarry\Link\ extents 10:1 20:1 junction
file C:\Games\Quarry\Link\far.pak extents 30:2 40:2
)";

DefragPorts PortsOf(SimulatedVolume& volume) {
  DefragPorts ports;
  ports.volume = &volume;
  ports.search.directory = &volume;
  ports.search.paths = &volume;
  return ports;
}

TEST(SurveyFolder, CountsWhatAFolderRunThenFindsAndMovesNothing) {
  testing::DebugRecorder quiet;
  SimulatedVolume volume = sim::ReadVolumeText(kQuarry);
  const SimulatedVolume before = sim::ReadVolumeText(kQuarry);
  FolderSurvey survey;
  TFastDefragEngine surveyor(PortsOf(volume));
  ASSERT_TRUE(surveyor.SurveyFolder("C:\\Games\\Quarry", false, survey));
  EXPECT_EQ(volume.Counters().moveCalls, 0u);
  EXPECT_TRUE(volume == before);
  EXPECT_EQ(volume.OpenHandles(), 0);

  // Locked and denied items cannot be examined and count as contiguous, as in a run; the unmovable
  // one is fragmented all the same.
  EXPECT_EQ(survey.items, 16u);
  EXPECT_EQ(survey.fragmented, 6u);                  // level1, textures, sounds, mods, log, boot
  EXPECT_EQ(survey.fragmentedClusters, 191u);        // 150 + 22 + 8 + 2 + 5 + 4
  EXPECT_EQ(survey.freeClusters, 8192u - 80 - 241);  // less the used and the items' clusters
  EXPECT_EQ(survey.largestFreeRun, 8192u - 4016);
  EXPECT_EQ(survey.seekPenalty, SeekPenalty::kUnknown);  // the volume does not say

  // The folder run that follows: the items it passes over and those it works on.
  TFastDefragEngine engine(PortsOf(volume));
  ASSERT_TRUE(engine.ScanFreeSpace('C'));
  std::uint64_t free = 0, largest = 0;
  for (const TFreeRun& run : engine.FreeRunList()) {
    free += run.ClusterCount;
    largest = std::max<std::uint64_t>(largest, run.ClusterCount);
  }
  EXPECT_EQ(survey.freeClusters, free);
  EXPECT_EQ(survey.largestFreeRun, largest);
  std::set<std::string> skipped, worked;
  engine.OnSkipFile = [&](DefragEngine&, const std::wstring& name, bool&, bool, std::int64_t) {
    skipped.insert(WideToAnsi(name));
  };
  engine.OnProgress = [&](DefragEngine&, bool&, const std::wstring& name) {
    worked.insert(WideToAnsi(name));
  };
  ASSERT_TRUE(engine.DefragFolder("C:\\Games\\Quarry", false));
  EXPECT_EQ(survey.items, skipped.size() + worked.size());
  EXPECT_EQ(survey.fragmented, worked.size());
  std::uint64_t clusters = 0;
  for (const std::string& path : worked) {
    for (const sim::Extent& extent : before.ExtentsOf(path)) {
      if (extent.lcn >= 0) clusters += extent.count;
    }
  }
  EXPECT_EQ(survey.fragmentedClusters, clusters);
}

TEST(SurveyFolder, TheVolumesSeekPenaltyAndAnAbortAtAnItem) {
  struct Case {
    const char* what;
    int seekPenalty;  // -1: the volume does not say
    SeekPenalty expected;
    int abortAt;  // the item (counted from 1) whose progress event aborts; 0: none
    std::uint64_t items;
  } cases[] = {
      {"a solid-state disk", 0, SeekPenalty::kNone, 0, 16},
      {"a disk that seeks", 1, SeekPenalty::kIncurs, 0, 16},
      {"aborted at the third item", -1, SeekPenalty::kUnknown, 3, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    SimulatedVolume volume = sim::ReadVolumeText(kQuarry);
    if (c.seekPenalty >= 0) volume.SetSeekPenalty(c.seekPenalty == 1);
    TFastDefragEngine engine(PortsOf(volume));
    int events = 0;
    engine.OnProgress = [&](DefragEngine&, bool& abort, const std::wstring&) {
      abort = ++events == c.abortAt;
    };
    FolderSurvey survey;
    ASSERT_TRUE(engine.SurveyFolder("C:\\Games\\Quarry", false, survey));
    EXPECT_EQ(survey.seekPenalty, c.expected);
    EXPECT_EQ(survey.items, c.items);
    EXPECT_EQ(volume.OpenHandles(), 0);
  }
}

}  // namespace
}  // namespace kestrava
