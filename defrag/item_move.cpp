#include "defrag/item_move.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "common/debug_log.h"
#include "defrag/bitmap_answer.h"
#include "defrag/fsctl_layout.h"
#include "defrag/item_map.h"

namespace kestrava {
namespace {

// The most clusters one FSCTL_MOVE_FILE call moves: a call cannot be interrupted, so an abort
// waits at most this long.
constexpr std::uint32_t kPieceClusters = 64;
// A compressed or sparse file is moved by NTFS in units of 16 clusters: a move must start on a
// unit's first cluster, and it carries the unit's real clusters back to back.
constexpr std::int64_t kUnitClusters = 16;
// A bitmap answer of 4,096 clusters, and at most 16 of them to find where a stretch in use ends:
// past that, what was read is what is set aside.
constexpr std::uint32_t kStretchBitmapBytes = 512;
constexpr int kStretchBitmapCalls = 16;

// Moves the pieces of one item to the front of its run. The run gives up the clusters before each
// move, so the next piece and the next item land right behind. A file NTFS moves in units gets
// its pieces gathered into whole units that begin on a unit boundary, at most 64 clusters a call.
class PieceMover {
 public:
  PieceMover(VolumeDevicePort& volume, const ItemToMove& item, TFreeRuns& runs,
             std::size_t runIndex, RunEvidence& evidence)
      : volume_(volume),
        item_(item),
        run_(runs[runIndex]),
        runIndex_(runIndex),
        evidence_(evidence) {}

  // The piece [vcn, vcn + count) of a real extent, count at most 64. False when a move failed.
  bool Real(std::int64_t vcn, std::uint32_t count) {
    if (!item_.inUnits) return Move(vcn, count, count);
    const std::int64_t end = vcn + count;
    while (vcn < end) {
      const std::int64_t unit = vcn - vcn % kUnitClusters;
      // Differences only: a map may end at the largest VCN, where a unit's end is no number.
      const std::int64_t partEnd = unit + std::min(end - unit, kUnitClusters);
      if (pending_ > 0 && units_[pending_ - 1].vcn != unit) {
        // A piece goes on into the next unit only from a unit wholly real, so that it spans no
        // range without clusters but at the start of its last unit; four units make 64 clusters.
        const Unit& last = units_[pending_ - 1];
        if ((unit - last.vcn != kUnitClusters || last.real != kUnitClusters ||
             pending_ == kUnitsPerPiece) &&
            !Flush()) {
          return false;
        }
      }
      if (pending_ == 0 || units_[pending_ - 1].vcn != unit) units_[pending_++] = {unit, 0, 0};
      units_[pending_ - 1].real += static_cast<std::uint32_t>(partEnd - vcn);
      units_[pending_ - 1].end = partEnd;
      vcn = partEnd;
    }
    return true;
  }

  // Moves the units gathered so far: from the first one's boundary to the last real cluster (the
  // file system takes the rest of that unit with it). False when the move failed.
  bool Flush() {
    if (pending_ == 0) return true;
    std::uint32_t real = 0;
    for (std::size_t i = 0; i < pending_; ++i) real += units_[i].real;
    const std::int64_t first = units_[0].vcn;
    const std::int64_t last = units_[pending_ - 1].end;
    pending_ = 0;
    return Move(first, static_cast<std::uint32_t>(last - first), real);
  }

  std::uint64_t Moved() const { return moved_; }
  // Where the moves that succeeded sent clusters, in the order made: the clusters of the run the
  // item was given.
  const std::vector<TFreeRun>& Targets() const { return targets_; }
  const MoveResult& Failure() const { return failure_; }

 private:
  static constexpr std::size_t kUnitsPerPiece = kPieceClusters / kUnitClusters;
  struct Unit {
    std::int64_t vcn;    // its first VCN
    std::uint32_t real;  // its real clusters seen
    std::int64_t end;    // the end of its last real cluster
  };

  // One FSCTL_MOVE_FILE of count VCNs from vcn, whose real clusters take clusters of the run;
  // once more at the run's new start when the first target proves taken since the scan.
  bool Move(std::int64_t vcn, std::uint32_t count, std::uint32_t clusters) {
    for (int attempt = 0;; ++attempt) {
      // The run was chosen for the size measured before; an item that has more clusters now (it
      // grew, or the volume answers otherwise) must not be moved beyond the run's end.
      if (run_.ClusterCount < clusters) {
        failure_.outcome = DefragItemOutcome::kNoFreeRun;
        failure_.text = "Fail to get the free space!";
        return false;
      }
      const std::int64_t target = run_.StartLcn;
      run_.StartLcn += clusters;
      run_.ClusterCount -= clusters;
      const WinError error = Send(vcn, target, count);
      if (error == err::kSuccess) {
        moved_ += clusters;
        if (!targets_.empty() &&
            targets_.back().StartLcn + targets_.back().ClusterCount == target) {
          targets_.back().ClusterCount += clusters;
        } else {
          targets_.push_back({target, static_cast<std::int64_t>(clusters)});
        }
        return true;
      }
      DebugLog("PrevVCN = " + std::to_string(vcn));
      DebugLog("FreeLcn = " + std::to_string(run_.StartLcn));
      DebugLog("VCNCount = " + std::to_string(count));
      if (error == err::kAccessDenied && SetAsideStretchInUse(target, clusters) && attempt == 0 &&
          RoomForTheRest()) {
        continue;  // the clusters another program took are behind the run's start now
      }
      // A target the file system refuses (an area it reserves) with 87 would refuse every later
      // item too; but so does a move of this item's own that it refuses, and one item says
      // nothing of the run.
      if (error == err::kInvalidParameter &&
          evidence_.RefusedWithInvalidParameter(runIndex_, item_.serial)) {
        run_.ClusterCount = 0;
      }
      failure_.outcome = DefragItemOutcome::kFailed;
      failure_.text =
          "Move file " + item_.path + " error: " + std::to_string(static_cast<std::int32_t>(error));
      return false;
    }
  }

  WinError Send(std::int64_t vcn, std::int64_t target, std::uint32_t count) {
    unsigned char data[fsctl::kMoveFileDataLength] = {};
    // The handle zero-extended to 8 bytes: in a 32-bit process, the handle and its padding.
    fsctl::WriteInt64(data, fsctl::kMoveHandleOffset, static_cast<std::int64_t>(item_.item));
    fsctl::WriteInt64(data, fsctl::kMoveStartingVcnOffset, vcn);
    fsctl::WriteInt64(data, fsctl::kMoveStartingLcnOffset, target);
    fsctl::WriteUInt32(data, fsctl::kMoveClusterCountOffset, count);
    std::uint32_t returned = 0;
    return volume_.Control(item_.device, fsctl::kMoveFile, data, sizeof data, nullptr, 0,
                           &returned);
  }

  // Access denied to a target that is now in use: another program took clusters since the scan.
  // Only the stretch it took, and what lies before it in the run, is set aside; the rest of the
  // run stays. False when the target is free (the item's own refusal: the run stays as it is).
  bool SetAsideStretchInUse(std::int64_t target, std::uint32_t clusters) {
    const std::int64_t stretchEnd = InUseStretchEnd(volume_, item_.device, target, clusters);
    if (stretchEnd < 0) return false;
    const std::int64_t runEnd = run_.StartLcn + run_.ClusterCount;
    run_.StartLcn = std::min(std::max(stretchEnd, target), runEnd);
    run_.ClusterCount = runEnd - run_.StartLcn;
    return true;
  }

  // Whether the run, after a stretch was set aside, still holds what is left of the item.
  bool RoomForTheRest() const {
    return static_cast<std::uint64_t>(run_.ClusterCount) >=
           (item_.clusters > moved_ ? item_.clusters - moved_ : 0);
  }

  VolumeDevicePort& volume_;
  const ItemToMove& item_;
  TFreeRun& run_;
  std::size_t runIndex_;
  RunEvidence& evidence_;
  Unit units_[kUnitsPerPiece] = {};
  std::size_t pending_ = 0;
  std::uint64_t moved_ = 0;
  std::vector<TFreeRun> targets_;
  MoveResult failure_;
};

// The item's clusters that lie where its moves sent them, in its map read anew, and that map's
// verdict: what really moved, whatever the volume answered to each call.
MoveResult ReadBack(VolumeDevicePort& volume, const ItemToMove& item, unsigned char* buffer,
                    const std::vector<TFreeRun>& targets) {
  MoveResult result;
  const MapReading after =
      ReadMap(volume, item.item, buffer, kMoveCallLimit, item.dataEnd,
              [&](std::int64_t lcn, std::uint64_t clusters) {
                // An extent a volume says ends past the largest LCN ends there.
                const std::int64_t count = static_cast<std::int64_t>(
                    std::min<std::uint64_t>(clusters, std::numeric_limits<std::int64_t>::max()));
                const std::int64_t end = lcn <= std::numeric_limits<std::int64_t>::max() - count
                                             ? lcn + count
                                             : std::numeric_limits<std::int64_t>::max();
                for (const TFreeRun& t : targets) {
                  const std::int64_t from = std::max(lcn, t.StartLcn);
                  const std::int64_t to = std::min(end, t.StartLcn + t.ClusterCount);
                  if (from < to) result.clustersMoved += static_cast<std::uint64_t>(to - from);
                }
              });
  result.fragmentsAfter = after.fragments;
  if (after.end == ExtentWalkEnd::kFailed || after.end == ExtentWalkEnd::kDenied) {
    // A map that cannot be read is not known to be in one piece.
    result.outcome = DefragItemOutcome::kFailed;
    result.text = "Map not readable after the move: " + item.path;
    result.clustersMoved = 0;
  } else if (!after.inOnePiece) {
    // NTFS may report a move done that it did only in part.
    result.outcome = DefragItemOutcome::kMovedPartly;
    result.text = "Moved only partly: " + item.path;
  }
  return result;
}

}  // namespace

bool RunEvidence::RefusedWithInvalidParameter(std::size_t run, std::uint64_t item) {
  const auto [it, first] = refusedItem_.emplace(run, item);
  return !first && it->second != item;
}

std::int64_t InUseStretchEnd(VolumeDevicePort& volume, VolumeDevicePort::Handle device,
                             std::int64_t lcn, std::uint64_t clusters) {
  const std::int64_t end =
      clusters <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max() - lcn)
          ? lcn + static_cast<std::int64_t>(clusters)
          : std::numeric_limits<std::int64_t>::max();
  std::int64_t lastInUse = -1;  // in [lcn, end)
  std::int64_t at = lcn;        // the next cluster to look at
  unsigned char answer[fsctl::kBitmapOffset + kStretchBitmapBytes];
  for (int calls = 0; calls < kStretchBitmapCalls; ++calls) {
    BitmapAnswer bitmap;
    if (!AskVolumeBitmap(volume, device, at, answer, sizeof answer, bitmap)) break;
    // From the volume's StartingLcn (it may round the request down), no more bits than it has,
    // holds or wrote.
    const std::int64_t base = bitmap.base;
    if (base > at) break;
    const std::int64_t count = std::min(bitmap.size, bitmap.written);
    if (count <= at - base) break;  // nothing new: the reading cannot go on
    for (std::int64_t c = at; c < base + count; ++c) {
      const std::int64_t bit = c - base;
      const bool inUse = (answer[fsctl::kBitmapOffset + bit / 8] >> (bit % 8)) & 1;
      if (c < end) {
        if (inUse) lastInUse = c;
        continue;
      }
      if (lastInUse < 0) return -1;
      if (lastInUse < end - 1) return lastInUse + 1;  // the stretch ended inside the range
      if (!inUse) return c;                           // or here, past it
    }
    at = base + count;
    // Past the range with its last cluster free: the stretch ended inside it.
    if (at >= end && lastInUse >= 0 && lastInUse < end - 1) return lastInUse + 1;
    if (at >= end && lastInUse < 0) return -1;
    if (bitmap.error == err::kSuccess &&
        count < static_cast<std::int64_t>(kStretchBitmapBytes) * 8) {
      break;  // the volume's end
    }
  }
  return lastInUse < 0 ? -1 : at;  // what was read of a stretch that goes on is set aside
}

MoveResult MoveItem(VolumeDevicePort& volume, const ItemToMove& item, TFreeRuns& runs,
                    std::size_t runIndex, RunEvidence& evidence, unsigned char* buffer,
                    const std::function<bool()>& progress) {
  PieceMover mover(volume, item, runs, runIndex, evidence);
  bool aborted = false, failed = false;
  // The map is read a bounded page at a time and moved as it is read, so a file of any size
  // needs no more memory than a small one.
  const ExtentWalkEnd end = ForEachExtentOfItem(
      volume, item.item, buffer, kExtentBufferLength, kMoveCallLimit,
      [&](const TExtent& extent, bool) {
        std::int64_t vcn = extent.Vcn;
        std::uint32_t remaining = extent.Clusters;
        while (remaining > 0) {
          const std::uint32_t piece = std::min(remaining, kPieceClusters);
          remaining -= piece;
          if (!progress()) {
            aborted = true;
            return false;
          }
          // Clusters kept past the end of a file's data cannot be moved (the file system
          // refuses them with 87, as it refuses a target): they stay where they are.
          if (extent.Real() && vcn < item.dataEnd &&
              !mover.Real(vcn, static_cast<std::uint32_t>(
                                   std::min<std::int64_t>(piece, item.dataEnd - vcn)))) {
            failed = true;
            return false;
          }
          vcn += piece;
        }
        return true;
      });
  MoveResult result;
  if (aborted) {
    result.outcome = DefragItemOutcome::kAborted;
  } else if (end == ExtentWalkEnd::kDenied) {
    result.outcome = DefragItemOutcome::kFailed;
    result.text = "its clusters could not be listed";
    result.logged = false;  // as ever: a read refused while moving ends the item unlogged
  } else if (failed || !mover.Flush()) {
    result = mover.Failure();
  } else if (mover.Moved() > 0) {
    return ReadBack(volume, item, buffer, mover.Targets());
  } else {
    return result;
  }
  // An item that stopped part-way: what it moved is still read back, for the report.
  if (mover.Moved() > 0) {
    const MoveResult after = ReadBack(volume, item, buffer, mover.Targets());
    result.clustersMoved = after.clustersMoved;
    result.fragmentsAfter = after.fragmentsAfter;
  }
  return result;
}

}  // namespace kestrava
