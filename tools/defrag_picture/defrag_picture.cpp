// Draws what a folder run does to a volume: builds a fragmented simulated volume, defragments one
// of its folders with the engine and writes the cluster map before and after as PNG pictures.
//
// Usage: defrag_picture OUT_DIR   (writes OUT_DIR/defrag-before.png and defrag-after.png)
//
// One pixel a cluster, 512 to a row, drawn 2 x 2: light grey free, red a fragmented item of the
// folder, green a contiguous one, dark grey anything else in use. Items that are held open,
// denied or cannot be moved stay fragmented, as on a real volume.
#include <cstdio>
#include <map>
#include <string>

#include "defrag/fast_defrag_engine.h"
#include "tests/sim/random_volume.h"
#include "tools/defrag_picture/cluster_map.h"
#include "tools/defrag_picture/png_file.h"

using namespace kestrava;

namespace {

constexpr std::uint64_t kSeed = 2026;
constexpr int kColumns = 512;
constexpr int kScale = 2;

sim::RandomVolumeShape Shape() {
  sim::RandomVolumeShape shape;
  shape.clusters = 131072;  // 512 MiB of 4 KiB clusters: 256 rows
  shape.root = "C:\\Games";
  shape.folders = 4;
  shape.maxDepth = 1;  // every folder directly below the root: one game each
  shape.files = 1200;
  return shape;
}

// The folder directly below root with the most items below it.
std::string LargestFolder(const sim::SimulatedVolume& volume, const std::string& root) {
  std::map<std::string, int> counts;
  const std::string prefix = root + "\\";
  for (const sim::ItemInfo& item : volume.Items()) {
    if (item.path.compare(0, prefix.size(), prefix) != 0) continue;
    const std::size_t end = item.path.find('\\', prefix.size());
    // Leaves out the files of root itself and the folders' own entries.
    if (end == std::string::npos || end + 1 == item.path.size()) continue;
    ++counts[item.path.substr(0, end)];
  }
  std::string best;
  for (const auto& [folder, count] : counts) {
    if (best.empty() || count > counts[best]) best = folder;
  }
  return best;
}

bool Write(const std::string& fileName, const tools::ClusterMap& map, const std::string& what) {
  const std::string description =
      what + ": " + std::to_string(map.fragmented) + " of " + std::to_string(map.items) +
      " items fragmented. One pixel a cluster; light grey free, red fragmented, green contiguous "
      "(items of the folder), dark grey other clusters in use.";
  return tools::WritePng(fileName, tools::DrawClusterMap(map, 1, kColumns, kScale), description);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: defrag_picture OUT_DIR\n");
    return 2;
  }
  const std::string out = argv[1];
  const sim::RandomVolumeShape shape = Shape();
  sim::SimulatedVolume volume = sim::MakeRandomVolume(kSeed, shape);
  const std::string folder = LargestFolder(volume, shape.root);
  if (folder.empty()) {
    std::fprintf(stderr, "the volume has no folder below %s\n", shape.root.c_str());
    return 1;
  }

  const tools::ClusterMap before = tools::MapClusters(volume, folder);
  DefragPorts ports;
  ports.volume = &volume;
  ports.search.directory = &volume;
  ports.search.paths = &volume;
  TFastDefragEngine engine(ports);
  const bool ran = engine.DefragFolder(folder, false);
  const tools::ClusterMap after = tools::MapClusters(volume, folder);
  const bool volumeOk = volume.Check().Ok();

  std::printf(
      "%s: %zu of %zu items fragmented before, %zu after; %llu clusters moved; "
      "volume check %s\n",
      folder.c_str(), before.fragmented, before.items, after.fragmented,
      static_cast<unsigned long long>(volume.Counters().clustersMoved), volumeOk ? "ok" : "FAILED");
  if (!Write(out + "/defrag-before.png", before, folder + " before") ||
      !Write(out + "/defrag-after.png", after, folder + " after")) {
    return 1;
  }
  std::printf("wrote %s/defrag-before.png and %s/defrag-after.png\n", out.c_str(), out.c_str());
  return ran && volumeOk ? 0 : 1;
}
