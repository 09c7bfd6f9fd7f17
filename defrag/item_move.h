#pragma once
// Moving one item's clusters, in VCN order, to the front of a free run: the pieces of at most 64
// clusters (gathered into whole units for a file NTFS moves in compression units), what a failed
// move says about the run, and what the map shows after the move. Every outcome is returned; the
// engine turns it into its log lines, events and item report.
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "boost/defrag_engine.h"
#include "defrag/free_runs.h"
#include "defrag/volume_port.h"

namespace kestrava {

// What the failed moves of a folder run showed about its free runs. A move refused with 87 is
// mostly the item's own fault (a VCN outside it, a file on another volume), so a run is set aside
// on 87 only when a second item is refused with it there too.
class RunEvidence {
 public:
  // Notes that item (a number for each item of the folder run) was refused with 87 in run; true
  // when another item was before, and the run is no free space.
  bool RefusedWithInvalidParameter(std::size_t run, std::uint64_t item);
  void Clear() { refusedItem_.clear(); }

 private:
  std::map<std::size_t, std::uint64_t> refusedItem_;  // by run: the first item refused
};

// An item open for moving and what the engine knows of it.
struct ItemToMove {
  VolumeDevicePort::Handle device = 0;  // the volume, opened to move
  VolumeDevicePort::Handle item = 0;
  std::string path;            // ANSI, for the log lines
  std::int64_t dataEnd = 0;    // VCN: clusters at or past it stay where they are
  bool inUnits = false;        // NTFS moves it in compression units
  std::uint64_t clusters = 0;  // its real clusters below dataEnd, as measured
  std::uint64_t serial = 0;    // the item's number in the folder run
};

struct MoveResult {
  DefragItemOutcome outcome = DefragItemOutcome::kMoved;
  std::string text;                 // a failure's text; empty for a move done or aborted
  bool logged = true;               // false: a failure that, as ever, gets no log line
  std::uint64_t clustersMoved = 0;  // the item's clusters in the run after the move
  std::uint64_t fragmentsAfter = 0;
};

// Moves item into run (runs[runIndex]), reading its map through buffer. progress fires the
// progress event before each piece and answers whether to go on (false: aborted). Logs the
// lines of each failed move call ("PrevVCN = ", "FreeLcn = ", "VCNCount = ").
MoveResult MoveItem(VolumeDevicePort& volume, const ItemToMove& item, TFreeRuns& runs,
                    std::size_t runIndex, RunEvidence& evidence, unsigned char* buffer,
                    const std::function<bool()>& progress);

// Where the stretch in use that meets [lcn, lcn + clusters) ends, as the volume's bitmap shows it
// now: the first free cluster after the last one in use in the range. -1 when none of the range
// is in use, or the volume does not say.
std::int64_t InUseStretchEnd(VolumeDevicePort& volume, VolumeDevicePort::Handle device,
                             std::int64_t lcn, std::uint64_t clusters);

}  // namespace kestrava
