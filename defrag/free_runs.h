#pragma once
// The volume's free space as an ordered list of free cluster runs: read once from the volume
// bitmap before a folder run, then consumed from the front of the chosen run as items are placed.
#include <cstdint>
#include <vector>

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

// Adds a closed free run: it joins the last entry when that ends exactly where the run begins
// (a run split across two windows becomes one entry), else it is appended.
void AddFreeRun(TFreeRuns& runs, std::int64_t startLcn, std::int64_t clusterCount);

// Adds the free runs described by bits [from, count) of a bitmap window whose bit 0 is cluster
// baseLcn (a clear bit is free). A run still open at the window's end is closed there. Reads the
// bitmap a word at a time; count is at most kClustersPerWindow.
void AddFreeRunsOfWindow(TFreeRuns& runs, const unsigned char* bitmap, std::int64_t baseLcn,
                         std::uint32_t from, std::uint32_t count);

// Rebuilds runs from the bitmap of the volume of drive ('C'), read in windows of 32,768 clusters
// from LCN 0 until the volume answers with an error other than ERROR_MORE_DATA (the request past
// the last cluster ends the scan that way). Raises KestravaError "CreateFile \\.\C:" + line break
// + the system message when the volume cannot be opened; otherwise true.
bool ScanFreeSpace(VolumeDevicePort& volume, char drive, TFreeRuns& runs);

// The last run (the one placed highest on the volume) with at least needed + 4 clusters, or
// nullptr. The margin of 4 is demanded of every run chosen.
TFreeRun* FindFreeRun(TFreeRuns& runs, std::uint32_t needed);

}  // namespace kestrava
