#pragma once
// The volume's free space as an ordered list of free cluster runs: read once from the volume
// bitmap before a folder run, then consumed from the front of the chosen run as items are placed.
#include <cstdint>
#include <vector>

#include "defrag/changing_words.h"
#include "defrag/fsctl_layout.h"
#include "defrag/volume_port.h"

namespace kestrava {

// One run of free clusters. While items are placed, StartLcn rises and ClusterCount falls by the
// same amount; a run is never removed, even when it is used up.
struct TFreeRun {
  std::int64_t StartLcn = 0;
  std::int64_t ClusterCount = 0;
};

// Ascending by StartLcn; after a scan no two entries touch and none is empty. One contiguous
// array: it never grows after the scan, and entries are shrunk in place.
using TFreeRuns = std::vector<TFreeRun>;

// The bitmap window of one FSCTL_GET_VOLUME_BITMAP call: the 16-byte head and 4,096 bytes of
// bitmap, so one call covers at most 32,768 clusters.
inline constexpr std::uint32_t kBitmapWindowLength = 4112;
inline constexpr std::int64_t kClustersPerWindow = 32768;

// The most clusters an NTFS volume has (2^32, of at most 2 MiB each): a bitmap that claims more
// is read no further.
inline constexpr std::int64_t kMaxVolumeClusters = std::int64_t{1} << 32;
// The most runs a free-run list holds (64 MiB, four times a badly fragmented 2 TiB volume's):
// the scan reads no window that might take the list past it, so a bitmap with more free runs
// (every other cluster free, say) leaves the rest of the volume unused rather than exhausting a
// 32-bit process's memory.
inline constexpr std::size_t kMaxFreeRuns = std::size_t{1} << 22;

// Adds a closed free run: it joins the last entry when that ends exactly where the run begins
// (a run split across two windows becomes one entry), else it is appended.
void AddFreeRun(TFreeRuns& runs, std::int64_t startLcn, std::int64_t clusterCount);

// Adds the free runs described by bits [from, count) of a bitmap window whose bit 0 is cluster
// baseLcn (a clear bit is free). A run still open at the window's end is closed there. count is
// at most kClustersPerWindow. The words that change between in use and free are found by mark
// (MarkChangingWordsForThisProcessor; a test passes each) and their changes listed without a
// branch that depends on the bitmap, which no processor could foresee on a fragmented volume.
void AddFreeRunsOfWindow(TFreeRuns& runs, const unsigned char* bitmap, std::int64_t baseLcn,
                         std::uint32_t from, std::uint32_t count, MarkChangingWordsFn mark);

// Reads a volume's bitmap from LCN 0 one window at a time through FSCTL_GET_VOLUME_BITMAP, for
// a scanner of one window (AddFreeRunsOfWindow). The answers are the volume's: a window covers no
// more bits than the window holds, the volume has or it wrote; an answer that would not move the
// reading forward, or would go back over clusters already read, ends it; a short window ends it
// only when it came with success (one that came with ERROR_MORE_DATA goes on after the clusters
// it held), and the calls are bounded by the volume's first-given size, cut to the largest an
// NTFS volume has (kMaxVolumeClusters), and by the calls that volume needs in full windows.
class BitmapWindowReader {
 public:
  BitmapWindowReader(VolumeDevicePort& volume, VolumeDevicePort::Handle device)
      : volume_(volume), device_(device) {}
  BitmapWindowReader(const BitmapWindowReader&) = delete;
  BitmapWindowReader& operator=(const BitmapWindowReader&) = delete;

  // Reads the next window; false when the bitmap has ended (the request past the last cluster
  // fails, which is the normal end).
  bool Next();
  // The window read: bit i of Bits() is cluster Base() + i, for i in [From(), Count()); the bits
  // below From() were in the window before.
  const unsigned char* Bits() const { return window_ + fsctl::kBitmapOffset; }
  std::int64_t Base() const { return base_; }
  std::uint32_t From() const { return from_; }
  std::uint32_t Count() const { return count_; }
  // The end of the volume as its first answer gave it (at most kMaxVolumeClusters); -1 before.
  std::int64_t End() const { return volumeEnd_; }

 private:
  VolumeDevicePort& volume_;
  VolumeDevicePort::Handle device_;
  // On a cache line of its own, so that how the stack falls does not change what copying an
  // answer into it costs. Cleared once: bytes a volume claims but did not write read as zeros or
  // its last answer.
  alignas(64) unsigned char window_[kBitmapWindowLength] = {};
  std::int64_t lcn_ = 0;         // the next request
  std::int64_t volumeEnd_ = -1;  // the first answer's StartingLcn + BitmapSize, at most 2^32
  std::int64_t callsLeft_ = 1;   // set by the first answer
  bool ended_ = false;
  std::int64_t base_ = 0;
  std::uint32_t from_ = 0;
  std::uint32_t count_ = 0;
};

// Rebuilds runs from the bitmap of the volume of drive ('C'), read in windows of 32,768 clusters
// from LCN 0 by a BitmapWindowReader until the volume has no more to give or the list is full
// (kMaxFreeRuns), then leaves the volume's MFT zone out of them (defrag/mft_zone.h). Raises
// KestravaError "CreateFile \\.\C:" + line break + the system message when the volume cannot be
// opened; otherwise true.
bool ScanFreeSpace(VolumeDevicePort& volume, char drive, TFreeRuns& runs);

// The last run (the one placed highest on the volume) with at least needed + 4 clusters, or
// nullptr. The margin of 4 is demanded of every run chosen.
TFreeRun* FindFreeRun(TFreeRuns& runs, std::uint32_t needed);

}  // namespace kestrava
