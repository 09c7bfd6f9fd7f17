#include "tests/sim/random_volume.h"

#include <algorithm>
#include <stdexcept>
#include <utility>
#include <vector>

#include "tests/sim/split_mix.h"

namespace kestrava::sim {
namespace {

using Random = SplitMix;

// Stems that sort differently by upper case than by lower case or by bytes ("_x" after "b").
constexpr const char* kStems[] = {"Data", "b", "A", "_x", "a2", "Maps", "sound", "Zeta", "mod"};
constexpr const char* kExtensions[] = {".pak", ".DAT", ".txt", ".bin", ""};

struct Planned {
  std::string path;
  bool isFolder = false;
  ItemLayout layout;
  std::vector<std::uint64_t> pieces;  // VCN run lengths
  std::vector<bool> sparse;           // per piece
};

// Cuts size clusters into n pieces of at least one cluster.
std::vector<std::uint64_t> Cut(Random& rng, std::uint64_t size, std::uint64_t n) {
  std::vector<std::uint64_t> pieces(n, 1);
  for (std::uint64_t left = size - n; left > 0; --left) ++pieces[rng.Below(n)];
  return pieces;
}

}  // namespace

SimulatedVolume MakeRandomVolume(std::uint64_t seed, const RandomVolumeShape& shape) {
  Random rng(seed);
  SimulatedVolume volume(shape.drive, shape.clusters, shape.clusterSize);
  volume.AddFolder(shape.root);
  std::string root = shape.root;
  if (root.back() == '\\') root.pop_back();

  std::vector<std::pair<std::string, int>> folders{{root, 0}};  // path, depth below the root
  std::vector<Planned> plan;
  // A draw only when the chance is not 0, so that an option left off leaves the numbers alone.
  auto chance = [&](double p) { return p > 0 && rng.Chance(p); };
  auto flags = [&](ItemLayout& layout) {
    layout.locked = rng.Chance(shape.locked);
    layout.denied = rng.Chance(shape.denied);
    layout.unmovable = rng.Chance(shape.unmovable);
    if (chance(shape.encrypted)) layout.attributes |= attr::kEncrypted;
  };
  for (int i = 0; i < shape.folders; ++i) {
    std::vector<std::size_t> open;
    for (std::size_t f = 0; f < folders.size(); ++f) {
      if (folders[f].second < shape.maxDepth) open.push_back(f);
    }
    if (open.empty()) break;
    const auto& parent = folders[open[rng.Below(open.size())]];
    Planned p;
    p.isFolder = true;
    p.path = parent.first + "\\" + kStems[rng.Below(std::size(kStems))] + std::to_string(i);
    folders.emplace_back(p.path, parent.second + 1);
    if (!rng.Chance(2 * shape.resident)) p.pieces = {1 + rng.Below(2)};  // an index of its own
    p.sparse.assign(p.pieces.size(), false);
    flags(p.layout);
    plan.push_back(std::move(p));
  }
  for (int i = 0; i < shape.files; ++i) {
    Planned p;
    p.path = folders[rng.Below(folders.size())].first + "\\" +
             kStems[rng.Below(std::size(kStems))] + "f" + std::to_string(i) +
             kExtensions[rng.Below(std::size(kExtensions))];
    p.layout.attributes = rng.Chance(0.1) ? attr::kArchive | attr::kHidden : attr::kArchive;
    if (!rng.Chance(shape.resident)) {
      if (chance(shape.compressed)) {
        // Each unit's data stored in as many clusters as it compressed to, the rest sparse.
        p.layout.attributes |= attr::kCompressed;
        std::uint64_t left = 1 + rng.Below(std::max<std::uint64_t>(shape.maxFileClusters, 1));
        while (left > 0) {
          const std::uint64_t unit = std::min(left, kUnitClusters);
          const std::uint64_t stored = 1 + rng.Below(unit);
          p.pieces.push_back(stored);
          p.sparse.push_back(false);
          if (stored < unit) {
            p.pieces.push_back(unit - stored);
            p.sparse.push_back(true);
          }
          left -= unit;
        }
      } else {
        const std::uint64_t size = 1 + rng.Below(std::max<std::uint64_t>(shape.maxFileClusters, 1));
        std::uint64_t n = 1;
        if (rng.Chance(shape.fragmented) && shape.maxExtents > 1)
          n = 2 + rng.Below(static_cast<std::uint64_t>(shape.maxExtents) - 1);
        n = std::min(n, size);
        p.pieces = Cut(rng, size, n);
        p.sparse.assign(n, false);
        if (n > 1 && rng.Chance(shape.sparse)) {
          p.sparse[1 + rng.Below(n - 1)] = true;  // the first piece stays real
          p.layout.attributes |= attr::kSparseFile;
        }
      }
    }
    flags(p.layout);
    p.layout.inUse = chance(shape.inUse);
    plan.push_back(std::move(p));
  }

  // Lay the real pieces in a shuffled order, so that an item's pieces lie apart and out of VCN
  // order, with gaps of free clusters and clusters used by nothing between them.
  std::vector<std::pair<std::size_t, std::size_t>> real;  // item, piece
  for (std::size_t i = 0; i < plan.size(); ++i) {
    plan[i].layout.extents.resize(plan[i].pieces.size());
    for (std::size_t k = 0; k < plan[i].pieces.size(); ++k) {
      plan[i].layout.extents[k] = {kSparseLcn, plan[i].pieces[k]};
      if (!plan[i].sparse[k]) real.emplace_back(i, k);
    }
  }
  for (std::size_t i = real.size(); i > 1; --i) std::swap(real[i - 1], real[rng.Below(i)]);
  std::uint64_t cursor = rng.Below(shape.maxGap + 1);
  for (const auto& [item, piece] : real) {
    const std::uint64_t gap = rng.Below(shape.maxGap + 1);
    const std::uint64_t length = plan[item].pieces[piece];
    if (cursor + gap + length > shape.clusters)
      throw std::invalid_argument("the random items do not fit on the volume");
    if (gap > 0 && rng.Chance(shape.usedByNothing)) volume.MarkUsed(cursor, 1 + rng.Below(gap));
    cursor += gap;
    plan[item].layout.extents[piece].lcn = static_cast<std::int64_t>(cursor);
    cursor += length;
  }
  for (const Planned& p : plan) {
    if (p.isFolder) {
      volume.AddFolder(p.path, p.layout);
    } else {
      volume.AddFile(p.path, p.layout);
    }
  }

  // Reserved and taken ranges from random free clusters among the items or just past them.
  std::vector<Extent> blocked;
  auto isFree = [&](std::uint64_t lcn) {
    if (volume.Bitmap().Test(lcn)) return false;
    for (const Extent& b : blocked) {
      if (lcn >= static_cast<std::uint64_t>(b.lcn) && lcn - b.lcn < b.count) return false;
    }
    return true;
  };
  auto block = [&](int ranges, void (SimulatedVolume::*mark)(std::uint64_t, std::uint64_t)) {
    const std::uint64_t span = std::min(shape.clusters, 2 * cursor + 1);
    for (int i = 0; i < ranges; ++i) {
      std::uint64_t lcn = rng.Below(span);
      const std::uint64_t length =
          1 + rng.Below(2 * std::max<std::uint64_t>(shape.maxFileClusters, 1));
      while (lcn < shape.clusters && !isFree(lcn)) ++lcn;
      std::uint64_t n = 0;
      while (n < length && lcn + n < shape.clusters && isFree(lcn + n)) ++n;
      if (n == 0) continue;
      (volume.*mark)(lcn, n);
      blocked.push_back({static_cast<std::int64_t>(lcn), n});
    }
  };
  block(shape.reservedRanges, &SimulatedVolume::MarkReserved);
  block(shape.takenRanges, &SimulatedVolume::MarkTaken);
  volume.partialMoves = chance(shape.partialMoves);
  if (chance(shape.shortBitmap))
    volume.shortBitmapAnswers = 1 + static_cast<std::uint32_t>(rng.Below(256));
  if (shape.mftZone) {
    const std::uint64_t start = rng.Below(std::min(shape.clusters, 2 * cursor + 1));
    const std::uint64_t length = 1 + rng.Below(std::max<std::uint64_t>(shape.clusters / 16, 1));
    volume.SetMftZone(start, std::min(length, shape.clusters - start));
  }
  return volume;
}

SimulatedVolume MakeBitmapVolume(std::uint64_t clusters, std::uint64_t freeRuns,
                                 std::uint64_t seed) {
  SimulatedVolume volume('C', clusters, 4096);
  if (freeRuns == 0) {
    volume.MarkUsed(0, clusters);
    return volume;
  }
  const std::uint64_t slot = clusters / freeRuns;
  if (slot < 3) throw std::invalid_argument("too many free runs for the volume");
  Random rng(seed);
  std::uint64_t usedFrom = 0;
  // One free run in each slot, never at its first cluster, so that no two runs touch.
  for (std::uint64_t k = 0; k < freeRuns; ++k) {
    const std::uint64_t base = k * slot;
    const std::uint64_t length = 1 + rng.Below(slot / 2);
    const std::uint64_t start = base + 1 + rng.Below(slot - length);
    volume.MarkUsed(usedFrom, start - usedFrom);
    usedFrom = start + length;
  }
  if (usedFrom < clusters) volume.MarkUsed(usedFrom, clusters - usedFrom);
  return volume;
}

}  // namespace kestrava::sim
