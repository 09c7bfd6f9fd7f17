// The folder run on many random volumes and folder trees, with moves refused, items that cannot
// be opened or moved, aborts at random events, and a volume as strict as NTFS in a random mix of
// ways: reserved and taken ranges, moves done only in part, compressed, sparse, encrypted and
// in-use items, short bitmap answers, and now and then a file of more clusters than one extent
// buffer has entries for. Whatever happens, the run must lose no data, give no cluster to two
// owners, keep the bitmap true, close everything it opened, never try a run found stale again,
// hand the volume no extent buffer past 64 KiB, and leave every item it reached either contiguous
// or named by a failure line.
//
// A failure prints the seed, the faults and the volume before the run as text: save the text and
// replay it with tools/defrag-sim.sh VOLUME FOLDER [--fail-move N] [--abort-at-event N] (items
// whose moves were refused are written as unmovable, which refuses them the same way).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "common/ascii_fold.h"
#include "common/debug_log.h"
#include "common/wide.h"
#include "defrag/fast_defrag_engine.h"
#include "tests/doubles/watched_volume.h"
#include "tests/sim/cluster_bitmap.h"
#include "tests/sim/random_volume.h"
#include "tests/sim/simulated_volume.h"
#include "tests/sim/split_mix.h"
#include "tests/sim/volume_file.h"

namespace kestrava {
namespace {

using sim::Extent;
using sim::ItemInfo;
using sim::MoveRequest;
using sim::RandomVolumeShape;
using sim::SimulatedVolume;

// Fewer under Wine, where a run takes about twice as long.
#ifndef KESTRAVA_PROPERTY_SEEDS
#define KESTRAVA_PROPERTY_SEEDS 250
#endif
constexpr std::uint64_t kSeeds = KESTRAVA_PROPERTY_SEEDS;

// What a 32-bit process can be sure to get at once, whatever the size of the file it moves.
constexpr std::uint32_t kExtentBufferBound = 64 * 1024;

// SplitMix64, as the random volumes use: the same faults for a seed in both builds.
// The property test's stream, apart from the volumes' own.
class Random : public sim::SplitMix {
 public:
  explicit Random(std::uint64_t seed) : SplitMix(seed * 0x2545F4914F6CDD1DULL + 1) {}
};

double Fraction(Random& rng, double from, double to) {
  return from + (to - from) * static_cast<double>(rng.Below(1000)) / 1000;
}

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
  // Each way of being as strict as NTFS on or off for the seed, with its own amount.
  if (rng.Chance(0.5)) shape.reservedRanges = static_cast<int>(1 + rng.Below(4));
  if (rng.Chance(0.5)) shape.takenRanges = static_cast<int>(1 + rng.Below(4));
  if (rng.Chance(0.5)) shape.sparse = Fraction(rng, 0.1, 0.5);
  if (rng.Chance(0.5)) shape.compressed = Fraction(rng, 0.1, 0.5);
  if (rng.Chance(0.5)) shape.encrypted = Fraction(rng, 0.1, 0.5);
  if (rng.Chance(0.5)) shape.inUse = Fraction(rng, 0.1, 0.5);
  if (rng.Chance(0.3)) shape.partialMoves = 1;
  if (rng.Chance(0.4)) shape.shortBitmap = 1;  // the volume picks 1 to 256 bytes an answer
  shape.mftZone = true;  // drawn last: the volumes are otherwise those the seeds always gave
  return shape;
}

// The reserved ranges, then the taken ones.
std::vector<Extent> Blocked(const SimulatedVolume& volume) {
  std::vector<Extent> blocked = volume.Reserved();
  const std::vector<Extent> taken = volume.Taken();
  blocked.insert(blocked.end(), taken.begin(), taken.end());
  return blocked;
}

// The first cluster past everything in use, reserved or taken.
std::uint64_t EndOfUse(const SimulatedVolume& volume) {
  std::uint64_t end = volume.Clusters();
  while (end > 0 && !volume.Bitmap().Test(end - 1)) --end;
  for (const Extent& b : Blocked(volume)) {
    end = std::max(end, static_cast<std::uint64_t>(b.lcn) + b.count);
  }
  return end;
}

// Leaves only free clusters below the last used one and keep free clusters at the volume's end,
// so that runs large enough become scarce and items find no room. Reserved and taken clusters
// stay free in the bitmap, as they must.
void FillAllBut(SimulatedVolume& volume, std::uint64_t keep) {
  std::uint64_t at = volume.Clusters();
  while (at > 0 && !volume.Bitmap().Test(at - 1)) --at;
  if (volume.Clusters() - at <= keep) return;
  const std::uint64_t stop = volume.Clusters() - keep;
  std::vector<Extent> blocked = Blocked(volume);
  std::sort(blocked.begin(), blocked.end(),
            [](const Extent& a, const Extent& b) { return a.lcn < b.lcn; });
  for (const Extent& b : blocked) {
    const std::uint64_t lcn = static_cast<std::uint64_t>(b.lcn);
    if (lcn >= stop) break;
    if (lcn > at) volume.MarkUsed(at, lcn - at);
    at = std::max(at, lcn + b.count);
  }
  if (at < stop) volume.MarkUsed(at, stop - at);
}

// Adds root\Huge.pak: so many clusters that an extent buffer sized by them (an entry each) would
// pass 64 KiB, in a few extents laid backwards in the free clusters past everything else. Left out
// when it does not fit.
void AddHugeFile(SimulatedVolume& volume, const std::string& root, Random& rng) {
  const std::uint64_t clusters = 4096 + rng.Below(2048);
  const std::uint64_t pieces = 2 + rng.Below(4);
  std::uint64_t lcn = EndOfUse(volume) + 1 + rng.Below(16);
  if (lcn + clusters + 16 * pieces > volume.Clusters()) return;
  sim::ItemLayout layout;
  layout.attributes = attr::kArchive;
  layout.extents.resize(pieces);
  for (std::uint64_t k = pieces; k-- > 0;) {
    const std::uint64_t count =
        k == 0 ? clusters - (pieces - 1) * (clusters / pieces) : clusters / pieces;
    layout.extents[k] = {static_cast<std::int64_t>(lcn), count};
    lcn += count + 1 + rng.Below(16);
  }
  volume.AddFile(root + "\\Huge.pak", layout);
}

// What a run did, as its events, debug lines and move calls tell it.
struct RunRecord {
  std::set<std::string> progressed;           // items that got a progress event
  std::set<std::string> skipped;              // items the engine found contiguous or could not open
  std::map<std::string, std::string> failed;  // items a failure line was logged for, and the line
  std::string abortedAt;                      // the item whose event set abort, if any
  std::uint64_t events = 0;
  std::vector<std::string> afterAbort;  // the items of the events that came after it
  std::vector<Extent> blocked;          // the reserved ranges, then the taken ones
  std::size_t reservedRanges = 0;       // how many of them are reserved
  std::vector<int> blockedMoves;        // per blocked range, the moves whose target met it
  std::set<std::string> metBlocked;     // items with a move whose target met a blocked range
  int zoneMoves = 0;                    // moves whose target met the MFT zone
  // The clusters a run that fits could still be made of at the end: free when the free space was
  // read, not reserved, taken or in the MFT zone, no move's target, and not in a free run that two
  // items were refused with 87 in. A run is never given back what it gave, so what fits here at
  // the end fitted when any item found no free run.
  sim::ClusterBitmap unusable{1};
  std::set<std::string> starved;  // items with no free run while one that fits them remained
  std::uint32_t largestExtentBuffer = 0;

  bool Reached(const std::string& path) const {
    return progressed.count(path) != 0 || skipped.count(path) != 0;
  }
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

// The item a failure line names, if it names one.
std::string NamedItem(const std::string& line) {
  const auto between = [&line](const std::string& before, const std::string& after) {
    const std::size_t from = line.find(before);
    if (from == std::string::npos) return std::string();
    const std::size_t start = from + before.size();
    const std::size_t end = after.empty() ? line.size() : line.find(after, start);
    return end == std::string::npos ? std::string() : line.substr(start, end - start);
  };
  for (const std::string& named :
       {between("Move file ", " error: "), between("Moved only partly: ", ""),
        between("CreateFile ", "\r\n")}) {
    if (!named.empty()) return named;
  }
  return {};
}

// Notes a failure line, for the next progress event to claim.
class FailureWatch final : public DebugOutputPort {
 public:
  FailureWatch() : previous_(SetDebugOutput(this)) {}
  ~FailureWatch() override { SetDebugOutput(previous_); }
  FailureWatch(const FailureWatch&) = delete;
  FailureWatch& operator=(const FailureWatch&) = delete;
  void Write(const std::string& line) override {
    if (line.find("Defrag File Error:") != std::string::npos ||
        line.find("Fail to get file size:") != std::string::npos) {
      pending = line;
    }
  }
  std::string pending;

 private:
  DebugOutputPort* previous_;
};

// The clusters a move fills from its target: the real clusters of its VCNs, to the end of the
// unit it ends in for a file moved in units.
std::uint64_t ClustersFilled(const std::vector<Extent>& extents, const MoveRequest& request,
                             bool units) {
  const std::uint64_t first = static_cast<std::uint64_t>(request.startingVcn);
  std::uint64_t end = first + request.clusterCount;
  if (units) end = (end + sim::kUnitClusters - 1) / sim::kUnitClusters * sim::kUnitClusters;
  std::uint64_t at = 0, real = 0;
  for (const Extent& e : extents) {
    const std::uint64_t from = std::max(at, first), to = std::min(at + e.count, end);
    if (from < to && e.lcn != sim::kSparseLcn) real += to - from;
    at += e.count;
  }
  return real;
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

// Runs the engine on volume under root and records what it reported. A failure line does not
// always name its item, but the progress event that closes an item always follows its failure,
// so the next progress event names the item that failed.
RunRecord RunEngine(SimulatedVolume& volume, const std::string& root, const Faults& faults) {
  RunRecord record;
  record.unusable = volume.Bitmap();
  for (const Extent& b : Blocked(volume)) record.unusable.Set(b.lcn, b.count);
  if (volume.MftZone()) record.unusable.Set(volume.MftZone()->lcn, volume.MftZone()->count);
  // The free runs as the engine's scan finds them: the bitmap's, less the MFT zone.
  std::vector<Extent> scanRuns;
  for (std::uint64_t c = 0; c < volume.Clusters(); ++c) {
    const bool inZone = volume.MftZone() && c >= std::uint64_t(volume.MftZone()->lcn) &&
                        c - volume.MftZone()->lcn < volume.MftZone()->count;
    if (volume.Bitmap().Test(c) || inZone) continue;
    if (!scanRuns.empty() &&
        scanRuns.back().lcn + std::int64_t(scanRuns.back().count) == std::int64_t(c)) {
      ++scanRuns.back().count;
    } else {
      scanRuns.push_back({static_cast<std::int64_t>(c), 1});
    }
  }
  std::map<std::string, std::uint64_t> lastTarget;  // by folded path: its last move's target
  std::map<std::string, std::uint64_t> demand;      // by folded path: the most it may ask for
  for (const ItemInfo& item : ItemsUnder(volume, root)) {
    std::uint64_t real = 0;
    for (const Extent& e : item.layout.extents) real += e.lcn == sim::kSparseLcn ? 0 : e.count;
    const std::string ext = FoldAsciiLower(item.path.substr(item.path.find_last_of("\\") + 1));
    const auto endsWith = [&](const char* x) {
      return ext.size() >= std::strlen(x) &&
             ext.compare(ext.size() - std::strlen(x), std::string::npos, x) == 0;
    };
    const std::uint64_t room = item.isFolder                          ? 0
                               : endsWith(".txt")                     ? 8
                               : endsWith(".doc") || endsWith(".log") ? 128
                                                                      : 0;
    demand[FoldAsciiLower(item.path)] = real + room + 4;
  }
  record.blocked = Blocked(volume);
  record.reservedRanges = volume.Reserved().size();
  record.blockedMoves.assign(record.blocked.size(), 0);
  std::map<std::string, ItemInfo> items;  // by folded path
  for (const ItemInfo& item : ItemsUnder(volume, root)) items[FoldAsciiLower(item.path)] = item;

  volume.FailMoveAt(faults.failMoveAt);
  volume.beforeMove = [&](const MoveRequest& request) -> WinError {
    std::string path = request.path;
    if (!path.empty() && path.back() == '\\') path.pop_back();
    const bool refused = faults.refused.count(FoldAsciiLower(path)) != 0;
    const auto it = items.find(FoldAsciiLower(path));
    if (it == items.end()) return refused ? err::kAccessDenied : err::kSuccess;
    // A move refused before the volume looks at its target tells the engine nothing of a reserved
    // one, and the run stays; a taken one shows in use in the bitmap whatever refused the move,
    // and the run is set aside.
    const bool reachesTarget = !refused && !it->second.layout.unmovable;
    const bool units = !it->second.isFolder && (it->second.layout.attributes &
                                                (attr::kCompressed | attr::kSparseFile)) != 0;
    const std::uint64_t target = static_cast<std::uint64_t>(request.startingLcn);
    const std::uint64_t end = target + ClustersFilled(volume.ExtentsOf(path), request, units);
    lastTarget[FoldAsciiLower(path)] = target;
    if (end > target && end <= volume.Clusters()) record.unusable.Set(target, end - target);
    if (const auto& zone = volume.MftZone();
        zone && static_cast<std::uint64_t>(zone->lcn) < end && target < zone->lcn + zone->count) {
      ++record.zoneMoves;
    }
    for (std::size_t i = 0; i < record.blocked.size(); ++i) {
      const std::uint64_t lcn = static_cast<std::uint64_t>(record.blocked[i].lcn);
      if (lcn < end && target < lcn + record.blocked[i].count &&
          (reachesTarget || i >= record.reservedRanges)) {
        ++record.blockedMoves[i];
        record.metBlocked.insert(path);
      }
    }
    return refused ? err::kAccessDenied : err::kSuccess;
  };
  testing::WatchedVolume watchedVolume(volume);
  DefragPorts ports;
  ports.volume = &watchedVolume;
  ports.search.directory = &volume;
  ports.search.paths = &volume;
  TFastDefragEngine engine(ports);

  FailureWatch watch;
  std::set<std::string> noRoom;  // items that found no free run
  auto event = [&](bool& abort, const std::string& path) {
    if (!record.abortedAt.empty()) record.afterAbort.push_back(path);
    if (++record.events == faults.abortAtEvent) {
      abort = true;
      record.abortedAt = path;
    }
  };
  engine.OnProgress = [&](DefragEngine&, bool& abort, const std::wstring& name) {
    const std::string path = WideToAnsi(name);
    if (!watch.pending.empty()) record.failed[path] = watch.pending;
    if (watch.pending.find("Fail to get the free space!") != std::string::npos) {
      noRoom.insert(path);
    }
    watch.pending.clear();
    record.progressed.insert(path);
    event(abort, path);
  };
  engine.OnSkipFile = [&](DefragEngine&, const std::wstring& name, bool& abort, bool,
                          std::int64_t) {
    record.skipped.insert(WideToAnsi(name));
    event(abort, WideToAnsi(name));
  };
  EXPECT_TRUE(engine.DefragFolder(root, false));
  volume.beforeMove = nullptr;
  // The free runs two items were refused with 87 in are set aside, rightly.
  std::map<std::size_t, std::set<std::string>> refusedIn;
  for (const auto& [path, line] : record.failed) {
    const auto target = lastTarget.find(FoldAsciiLower(path));
    if (line.find(" error: 87") == std::string::npos || target == lastTarget.end()) continue;
    for (std::size_t r = 0; r < scanRuns.size(); ++r) {
      if (target->second >= std::uint64_t(scanRuns[r].lcn) &&
          target->second - scanRuns[r].lcn < scanRuns[r].count) {
        refusedIn[r].insert(path);
      }
    }
  }
  for (const auto& [r, paths] : refusedIn) {
    if (paths.size() >= 2) record.unusable.Set(scanRuns[r].lcn, scanRuns[r].count);
  }
  for (const std::string& path : noRoom) {
    const auto wanted = demand.find(FoldAsciiLower(path));
    if (wanted == demand.end()) continue;
    std::uint64_t stretch = 0;
    for (std::uint64_t c = 0; c < volume.Clusters() && stretch < wanted->second; ++c) {
      stretch = record.unusable.Test(c) ? 0 : stretch + 1;
    }
    if (stretch >= wanted->second) record.starved.insert(path);
  }
  record.largestExtentBuffer = watchedVolume.largestExtentBuffer;
  return record;
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

// The checks every run must pass, whatever its faults.
void CheckRun(const SimulatedVolume& volume, const RunRecord& record) {
  const sim::CheckResult check = volume.Check();
  EXPECT_TRUE(check.contentOk);
  EXPECT_EQ(check.sharedClusters, 0u);
  EXPECT_TRUE(check.bitmapOk);
  EXPECT_EQ(volume.OpenHandles(), 0);
  EXPECT_EQ(volume.OpenFinds(), 0);
  EXPECT_EQ(volume.Counters().unknownCloses, 0u);
  EXPECT_LE(record.largestExtentBuffer, kExtentBufferBound)
      << "an extent buffer that grows with the item";
  // A run whose target the file system refused, or another program took, is set aside: a move
  // into the same clusters could only fail again, and so fail every later item.
  // A target taken since the scan is set aside with what lies before it in its run, and the move
  // tried once behind it; a place the file system refuses with 87 is given up when a second item
  // is refused there (one refusal may be the item's own fault).
  for (std::size_t i = 0; i < record.blocked.size(); ++i) {
    EXPECT_LE(record.blockedMoves[i], i < record.reservedRanges ? 2 : 1)
        << "clusters " << record.blocked[i].lcn << ":" << record.blocked[i].count
        << " reserved or taken were the target of a move again after failing there";
  }
  EXPECT_EQ(record.zoneMoves, 0) << "a move into the MFT zone the volume announced";
  for (const std::string& path : record.starved) {
    ADD_FAILURE() << path << " found no free run while one that fits it remained";
  }
  for (const auto& [path, line] : record.failed) {
    const std::string named = NamedItem(line);
    EXPECT_TRUE(named.empty() || named == path) << "the failure of " << path << " reads " << line;
  }
}

TEST(DefragPropertyTest, RandomFaultsNeverCorruptAndWorkedItemsEndContiguous) {
  std::uint64_t checked = 0;   // worked items judged contiguous over all seeds
  std::uint64_t failures = 0;  // items that reported a failure over all seeds
  for (std::uint64_t seed = 1; seed <= kSeeds; ++seed) {
    Random rng(seed);
    const RandomVolumeShape shape = ShapeFor(rng);
    SimulatedVolume volume = sim::MakeRandomVolume(seed, shape);
    if (rng.Chance(0.2)) AddHugeFile(volume, shape.root, rng);
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

    CheckRun(volume, record);
    // An abort ends the run; only the event that closes the aborted item may still come.
    EXPECT_LE(record.afterAbort.size(), 1u);
    for (const std::string& path : record.afterAbort) EXPECT_EQ(path, record.abortedAt);
    for (const std::string& path : record.progressed) {
      if (record.failed.count(path) != 0 || path == record.abortedAt) continue;
      EXPECT_TRUE(volume.IsContiguous(path)) << path << " was worked on and reported no failure";
      ++checked;
    }
    // Whatever the engine found an item to be, one it reached and could open ends contiguous or
    // is named: a map it misread, or a move it lost track of, must not pass as done.
    const std::vector<ItemInfo> items = ItemsUnder(volume, shape.root);
    for (const ItemInfo& item : items) {
      if (!record.Reached(item.path) || record.failed.count(item.path) != 0 ||
          item.path == record.abortedAt || item.layout.locked || item.layout.denied) {
        continue;
      }
      EXPECT_TRUE(volume.IsContiguous(item.path)) << item.path << " was left fragmented unnamed";
    }
    if (record.abortedAt.empty()) {
      for (const ItemInfo& item : items) {
        EXPECT_TRUE(record.Reached(item.path) || InClosedFolder(items, item.path))
            << item.path << " was never looked at";
      }
    }
    failures += record.failed.size();
    if (::testing::Test::HasFailure()) return;  // one volume to replay is enough
  }
  // The faults must have struck and left enough runs to judge.
  EXPECT_GT(checked, kSeeds);
  EXPECT_GT(failures, kSeeds / 5);
}

TEST(DefragPropertyTest, WithoutFaultsEveryMovableItemEndsContiguous) {
  std::uint64_t moved = 0;          // items moved over all seeds
  std::uint64_t staleFailures = 0;  // items that failed on a reserved or taken target
  std::uint64_t partlyMoved = 0;    // items the volume moved only in part
  std::uint64_t noRoomItems = 0;    // items that found no free run, none that fits left
  for (std::uint64_t seed = 1; seed <= kSeeds; ++seed) {
    Random rng(seed);
    RandomVolumeShape shape = ShapeFor(rng);
    shape.clusters = std::uint64_t{1} << 18;  // room for every item many times over
    SimulatedVolume volume = sim::MakeRandomVolume(seed, shape);
    if (rng.Chance(0.2)) AddHugeFile(volume, shape.root, rng);
    SCOPED_TRACE("seed " + std::to_string(seed) + ", folder " + shape.root +
                 ", volume before the run:\n" + sim::VolumeText(volume));

    const RunRecord record = RunEngine(volume, shape.root, Faults{});

    CheckRun(volume, record);
    const std::vector<ItemInfo> items = ItemsUnder(volume, shape.root);
    for (const ItemInfo& item : items) {
      // The file system refuses to move those, and the run must say so.
      if (item.layout.unmovable && record.progressed.count(item.path) != 0) {
        EXPECT_EQ(record.failed.count(item.path), 1u) << item.path << " failed unreported";
      }
      if (item.layout.locked || item.layout.denied || item.layout.unmovable) continue;
      if (InClosedFolder(items, item.path)) continue;  // never listed
      const auto failure = record.failed.find(item.path);
      if (failure == record.failed.end()) {
        EXPECT_TRUE(volume.IsContiguous(item.path)) << item.path;
        continue;
      }
      // With room enough, only what the volume does to an item may make it fail: a move that
      // met clusters reserved or taken (as checked above; one taken part-way leaves the item in
      // two pieces, the rest moved behind them), a move done in part, or a file held open that
      // must be opened for its data. No item finds no run while one that fits it remains.
      const std::string& line = failure->second;
      const bool stale = record.metBlocked.count(item.path) != 0 &&
                         (line.find("Move file ") != std::string::npos ||
                          line.find("Moved only partly: ") != std::string::npos);
      const bool partly =
          volume.partialMoves && line.find("Moved only partly: ") != std::string::npos;
      const bool held = item.layout.inUse && (item.layout.attributes & attr::kEncrypted) != 0 &&
                        line.find("CreateFile ") != std::string::npos;
      // An item that found no free run had none that fits it left (CheckRun judges that).
      const bool noRoom = line.find("Fail to get the free space!") != std::string::npos;
      EXPECT_TRUE(stale || partly || held || noRoom) << item.path << " failed: " << line;
      noRoomItems += noRoom;
      staleFailures += stale;
      partlyMoved += partly;
    }
    if (::testing::Test::HasFailure()) return;
    moved += record.progressed.size();
  }
  EXPECT_GT(moved, kSeeds) << "the random volumes hardly need any move";
  EXPECT_GT(staleFailures, 0u) << "no move met a reserved or taken range";
  EXPECT_GT(partlyMoved, 0u) << "no move was done in part";
  std::printf(
      "without faults: %llu items moved, %llu failed on reserved or taken clusters, %llu "
      "found no free run (none that fits left)\n",
      static_cast<unsigned long long>(moved), static_cast<unsigned long long>(staleFailures),
      static_cast<unsigned long long>(noRoomItems));
}

}  // namespace
}  // namespace kestrava
