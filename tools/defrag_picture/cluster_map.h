#pragma once
// What each cluster of a simulated volume holds, as a picture shows it: free, used by an item of
// the chosen folder that is fragmented or contiguous, or used by anything else.
#include <cstdint>
#include <string>
#include <vector>

#include "tools/defrag_picture/png_file.h"
#include "tests/sim/simulated_volume.h"

namespace kestrava::tools {

enum class ClusterKind : std::uint8_t { kFree, kOther, kContiguous, kFragmented };

struct ClusterMap {
  std::vector<ClusterKind> kinds;  // by LCN
  std::size_t items = 0;           // items below the folder
  std::size_t fragmented = 0;      // of those, not contiguous
};

// folder is a full path without a trailing backslash ("C:\Games\Maps").
ClusterMap MapClusters(const sim::SimulatedVolume& volume, const std::string& folder);

// clustersPerPixel clusters to a pixel, columns pixels to a row, each pixel drawn as a square of
// scale x scale. A pixel shows the most telling kind among its clusters (fragmented, then
// contiguous, then other, then free), so that a lone fragment stays visible.
RgbImage DrawClusterMap(const ClusterMap& map, int clustersPerPixel, int columns, int scale);

}  // namespace kestrava::tools
