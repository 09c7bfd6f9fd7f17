// The folder run on many random volumes and folder trees, with moves refused, items that cannot
// be opened or moved, and aborts at random events. Whatever happens, the run must lose no data,
// give no cluster to two owners, keep the bitmap true, close everything it opened, and leave every
// item it worked on and did not report a failure for contiguous.
//
// A failure prints the seed, the faults and the volume before the run as text: save the text and
// replay it with tools/defrag-sim.sh VOLUME FOLDER [--fail-move N] [--abort-at-event N] (items
// whose moves were refused are written as unmovable, which refuses them the same way).
#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "common/ascii_fold.h"
#include "common/debug_log.h"
#include "common/wide.h"
#include "defrag/fast_defrag_engine.h"
#include "tests/sim/split_mix.h"
#include "tests/sim/random_volume.h"
#include "tests/sim/simulated_volume.h"
#include "tests/sim/volume_file.h"

namespace kestrava {
namespace {

using sim::ItemInfo;
using sim::MoveRequest;
using sim::RandomVolumeShape;
using sim::SimulatedVolume;

// Fewer under Wine, where a run takes about twice as long.
#ifndef KESTRAVA_PROPERTY_SEEDS
#define KESTRAVA_PROPERTY_SEEDS 250
#endif
constexpr std::uint64_t kSeeds = KESTRAVA_PROPERTY_SEEDS;

// SplitMix64, as the random volumes use: the same faults for a seed in both builds.
// The property test's stream, apart from the volumes' own.
class Random : public sim::SplitMix {
 public:
  explicit Random(std::uint64_t seed) : SplitMix(seed * 0x2545F4914F6CDD1DULL + 1) {}
};

RandomVolumeShape ShapeFor(Random& rng) {
  RandomVolumeShape shape;
  shape.clusters = std::uint64_t{1} << (14 + rng.Below(3));
  shape.clusterSize = 512u << rng.Below(4);
  shape.folders = static_cast<int>(rng.Below(8));
  shape.files = static_cast<int>(1 + rng.Below(40));
  shape.maxDepth = static_cast<int>(1 + rng.Below(4));
  shape.maxFileClusters = 1 + rng.Below(200);  // past 64: items moved in several pieces
  shape.maxExtents = static_cast<int>(2 + rng.Below(6));
  shape.fragmented = 0.2 + 0.6 * static_cast<double>(rng.Below(100)) / 100;
  shape.sparse = 0.1;
  shape.resident = 0.1;
  shape.locked = 0.05;
  shape.denied = 0.05;
  shape.unmovable = 0.05;
  return shape;
}

// Leaves only free clusters below the last used one and keep free clusters at the volume's end,
// so that runs large enough become scarce and items find no room.
void FillAllBut(SimulatedVolume& volume, std::uint64_t keep) {
  std::uint64_t end = volume.Clusters();
  while (end > 0 && !volume.Bitmap().Test(end - 1)) --end;
  const std::uint64_t free = volume.Clusters() - end;
  if (free > keep) volume.MarkUsed(end, free - keep);
}

// What a run did, as its events and debug lines tell it.
struct RunRecord {
  std::set<std::string> progressed;  // items that got a progress event
  std::set<std::string> failed;      // items a failure line was logged for
  std::string abortedAt;             // the item whose event set abort, if any
  std::uint64_t events = 0;
  std::vector<std::string> afterAbort;  // the items of the events that came after it
};

// The faults of one run.
struct Faults {
  std::uint64_t failMoveAt = 0;
  std::uint64_t abortAtEvent = 0;
  std::set<std::string> refused;  // items whose every move the volume refuses
};

// The volume as the tool replays it, refused items written as unmovable.
std::string ReplayText(const SimulatedVolume& volume, const std::set<std::string>& refused) {
  std::istringstream lines(sim::VolumeText(volume));
  std::ostringstream out;
  for (std::string line; std::getline(lines, line);) {
    std::istringstream words(line);
    std::string kind, path;
    words >> kind >> path;
    if (!path.empty() && path.back() == '\\') path.pop_back();
    const bool mark =
        refused.count(FoldAsciiLower(path)) != 0 && line.find(" unmovable") == std::string::npos;
    out << line << (mark ? " unmovable" : "") << "\n";
  }
  return out.str();
}

// Notes that a failure line was logged, for the next progress event to claim.
class FailureWatch final : public DebugOutputPort {
 public:
  FailureWatch() : previous_(SetDebugOutput(this)) {}
  ~FailureWatch() override { SetDebugOutput(previous_); }
  FailureWatch(const FailureWatch&) = delete;
  FailureWatch& operator=(const FailureWatch&) = delete;
  void Write(const std::string& line) override {
    if (line.find("Defrag File Error:") != std::string::npos ||
        line.find("Fail to get file size:") != std::string::npos) {
      pending = true;
    }
  }
  bool pending = false;

 private:
  DebugOutputPort* previous_;
};

// Runs the engine on volume under root and records what it reported. A failure line names no
// item, but the progress event that closes an item always follows its failure, so the next
// progress event names the item that failed.
RunRecord RunEngine(SimulatedVolume& volume, const std::string& root, const Faults& faults) {
  volume.FailMoveAt(faults.failMoveAt);
  if (!faults.refused.empty()) {
    volume.beforeMove = [&faults](const MoveRequest& request) -> WinError {
      std::string path = request.path;
      if (!path.empty() && path.back() == '\\') path.pop_back();
      return faults.refused.count(FoldAsciiLower(path)) != 0 ? err::kAccessDenied : err::kSuccess;
    };
  }
  DefragPorts ports;
  ports.volume = &volume;
  ports.search.directory = &volume;
  ports.search.paths = &volume;
  TFastDefragEngine engine(ports);

  RunRecord record;
  FailureWatch watch;
  auto event = [&](bool& abort, const std::string& path) {
    if (!record.abortedAt.empty()) record.afterAbort.push_back(path);
    if (++record.events == faults.abortAtEvent) {
      abort = true;
      record.abortedAt = path;
    }
  };
  engine.OnProgress = [&](DefragEngine&, bool& abort, const std::wstring& name) {
    const std::string path = WideToAnsi(name);
    if (watch.pending) record.failed.insert(path);
    watch.pending = false;
    record.progressed.insert(path);
    event(abort, path);
  };
  engine.OnSkipFile = [&](DefragEngine&, const std::wstring& name, bool& abort, bool,
                          std::int64_t) { event(abort, WideToAnsi(name)); };
  EXPECT_TRUE(engine.DefragFolder(root, false));
  return record;
}

// Every item under root, by the path the engine names it with (folders without their backslash).
std::vector<ItemInfo> ItemsUnder(const SimulatedVolume& volume, const std::string& root) {
  std::vector<ItemInfo> items;
  for (ItemInfo item : volume.Items()) {
    if (!item.path.empty() && item.path.back() == '\\') item.path.pop_back();
    if (item.path.size() > root.size() && item.path.compare(0, root.size() + 1, root + "\\") == 0) {
      items.push_back(item);
    }
  }
  return items;
}

// True when a folder above path cannot be listed (the volume refuses to open it).
bool InClosedFolder(const std::vector<ItemInfo>& items, const std::string& path) {
  for (const ItemInfo& folder : items) {
    if (folder.isFolder && (folder.layout.locked || folder.layout.denied) &&
        path.compare(0, folder.path.size() + 1, folder.path + "\\") == 0) {
      return true;
    }
  }
  return false;
}

TEST(DefragPropertyTest, RandomFaultsNeverCorruptAndWorkedItemsEndContiguous) {
  std::uint64_t checked = 0;   // worked items judged contiguous over all seeds
  std::uint64_t failures = 0;  // items that reported a failure over all seeds
  for (std::uint64_t seed = 1; seed <= kSeeds; ++seed) {
    Random rng(seed);
    const RandomVolumeShape shape = ShapeFor(rng);
    SimulatedVolume volume = sim::MakeRandomVolume(seed, shape);
    if (rng.Chance(0.3)) FillAllBut(volume, rng.Below(400));
    Faults faults;
    if (rng.Chance(0.4)) faults.failMoveAt = 1 + rng.Below(12);
    if (rng.Chance(0.3)) faults.abortAtEvent = 1 + rng.Below(60);
    for (const ItemInfo& item : ItemsUnder(volume, shape.root)) {
      if (rng.Chance(0.05)) {
        faults.refused.insert(FoldAsciiLower(item.path));
      }
    }
    const std::string before = ReplayText(volume, faults.refused);
    SCOPED_TRACE("seed " + std::to_string(seed) + ", folder " + shape.root + ", fail-move " +
                 std::to_string(faults.failMoveAt) + ", abort-at-event " +
                 std::to_string(faults.abortAtEvent) + ", volume before the run:\n" + before);

    const RunRecord record = RunEngine(volume, shape.root, faults);

    const sim::CheckResult check = volume.Check();
    EXPECT_TRUE(check.contentOk);
    EXPECT_EQ(check.sharedClusters, 0u);
    EXPECT_TRUE(check.bitmapOk);
    EXPECT_EQ(volume.OpenHandles(), 0);
    EXPECT_EQ(volume.OpenFinds(), 0);
    EXPECT_EQ(volume.Counters().unknownCloses, 0u);
    // An abort ends the run; only the event that closes the aborted item may still come.
    EXPECT_LE(record.afterAbort.size(), 1u);
    for (const std::string& path : record.afterAbort) EXPECT_EQ(path, record.abortedAt);
    for (const std::string& path : record.progressed) {
      if (record.failed.count(path) != 0 || path == record.abortedAt) continue;
      EXPECT_TRUE(volume.IsContiguous(path)) << path << " was worked on and reported no failure";
      ++checked;
    }
    failures += record.failed.size();
    if (::testing::Test::HasFailure()) return;  // one volume to replay is enough
  }
  // The faults must have struck and left enough runs to judge.
  EXPECT_GT(checked, kSeeds);
  EXPECT_GT(failures, kSeeds / 5);
}

TEST(DefragPropertyTest, WithoutFaultsEveryMovableItemEndsContiguous) {
  std::uint64_t moved = 0;  // items moved over all seeds
  for (std::uint64_t seed = 1; seed <= kSeeds; ++seed) {
    Random rng(seed);
    RandomVolumeShape shape = ShapeFor(rng);
    shape.clusters = std::uint64_t{1} << 18;  // room for every item many times over
    SimulatedVolume volume = sim::MakeRandomVolume(seed, shape);
    SCOPED_TRACE("seed " + std::to_string(seed) + ", folder " + shape.root +
                 ", volume before the run:\n" + sim::VolumeText(volume));

    const RunRecord record = RunEngine(volume, shape.root, Faults{});

    EXPECT_TRUE(volume.Check().Ok());
    const std::vector<ItemInfo> items = ItemsUnder(volume, shape.root);
    for (const ItemInfo& item : items) {
      // The file system refuses to move those, and the run must say so.
      if (item.layout.unmovable && record.progressed.count(item.path) != 0) {
        EXPECT_EQ(record.failed.count(item.path), 1u) << item.path << " failed unreported";
      }
      if (item.layout.locked || item.layout.denied || item.layout.unmovable) continue;
      if (InClosedFolder(items, item.path)) continue;  // never listed
      EXPECT_TRUE(volume.IsContiguous(item.path)) << item.path;
      EXPECT_EQ(record.failed.count(item.path), 0u) << item.path << " failed";
    }
    if (::testing::Test::HasFailure()) return;
    moved += record.progressed.size();
  }
  EXPECT_GT(moved, kSeeds) << "the random volumes hardly need any move";
}

}  // namespace
}  // namespace kestrava
