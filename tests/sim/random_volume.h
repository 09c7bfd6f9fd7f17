#pragma once
// Seeded random volumes for property tests and benchmarks: the same seed and shape give the same
// volume in both builds (the generator is our own, not the library's distributions).
#include <cstdint>
#include <string>

#include "tests/sim/simulated_volume.h"

namespace kestrava::sim {

// What a random volume holds. The probabilities are per item.
struct RandomVolumeShape {
  char drive = 'C';
  std::uint64_t clusters = 1 << 20;
  std::uint32_t clusterSize = 4096;
  std::string root = "C:\\Games\\Random";  // a folder; the items lie below it
  int folders = 12;
  int files = 120;
  int maxDepth = 4;  // folder levels below the root
  std::uint64_t maxFileClusters = 64;
  int maxExtents = 6;       // of a fragmented item
  double fragmented = 0.4;  // files cut into several extents
  double sparse = 0.05;     // files with a sparse range
  double resident = 0.1;    // items with no clusters (files; folders twice as often)
  double locked = 0.02;
  double denied = 0.02;
  double unmovable = 0.02;
  std::uint64_t maxGap = 48;   // free clusters at most between two laid runs
  double usedByNothing = 0.3;  // gaps that begin with clusters used by nothing listed

  // Where the volume is as strict as Windows. All off by default: a seed gives the volume it
  // always gave. Ranges lie among the items and in the free space just past them, where a folder
  // run's moves go.
  int reservedRanges = 0;   // free ranges NTFS refuses as move targets
  int takenRanges = 0;      // free ranges another program takes at the first move
  double compressed = 0;    // files compressed: each unit of 16 clusters stored in 1 to 16
  double encrypted = 0;     // items encrypted
  double inUse = 0;         // files held open by another program, sharing nothing
  double partialMoves = 0;  // the chance that the volume moves only half of each call
  double shortBitmap = 0;   // the chance that its bitmap answers end short, at 1 to 256 bytes
  // An MFT zone of up to a sixteenth of the volume, among the items or in the free space just
  // past them (drawn after everything else, so the rest of the volume stays as it was).
  bool mftZone = false;
};

// Throws std::invalid_argument when the items do not fit on the volume.
SimulatedVolume MakeRandomVolume(std::uint64_t seed, const RandomVolumeShape& shape);

// A volume of drive C with 4096-byte clusters, all in use but for freeRuns runs of free clusters
// scattered over it, each at most half of clusters / freeRuns long; no items. Built in words:
// 536,870,912 clusters with a million runs take a fraction of a second.
SimulatedVolume MakeBitmapVolume(std::uint64_t clusters, std::uint64_t freeRuns,
                                 std::uint64_t seed);

}  // namespace kestrava::sim
