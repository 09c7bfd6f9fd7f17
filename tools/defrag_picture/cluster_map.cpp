#include "tools/defrag_picture/cluster_map.h"

#include <algorithm>

namespace kestrava::tools {
namespace {

struct Rgb {
  std::uint8_t r, g, b;
};

// By ClusterKind.
constexpr Rgb kColours[] = {
    {0xF2, 0xF2, 0xF2},  // free
    {0x80, 0x80, 0x80},  // other used
    {0x2C, 0xA0, 0x2C},  // contiguous item of the folder
    {0xD6, 0x27, 0x28},  // fragmented item of the folder
};

}  // namespace

ClusterMap MapClusters(const sim::SimulatedVolume& volume, const std::string& folder) {
  ClusterMap map;
  const std::uint64_t clusters = volume.Clusters();
  map.kinds.resize(clusters);
  for (std::uint64_t lcn = 0; lcn < clusters; ++lcn) {
    map.kinds[lcn] = volume.Bitmap().Test(lcn) ? ClusterKind::kOther : ClusterKind::kFree;
  }
  const std::string prefix = folder + "\\";
  for (const sim::ItemInfo& item : volume.Items()) {
    if (item.path.compare(0, prefix.size(), prefix) != 0) continue;
    ++map.items;
    const bool contiguous = volume.IsContiguous(item.path);
    if (!contiguous) ++map.fragmented;
    const ClusterKind kind = contiguous ? ClusterKind::kContiguous : ClusterKind::kFragmented;
    for (const sim::Extent& extent : item.layout.extents) {
      if (extent.lcn == sim::kSparseLcn) continue;
      for (std::uint64_t i = 0; i < extent.count; ++i) map.kinds[extent.lcn + i] = kind;
    }
  }
  return map;
}

RgbImage DrawClusterMap(const ClusterMap& map, int clustersPerPixel, int columns, int scale) {
  const std::size_t perPixel = static_cast<std::size_t>(std::max(clustersPerPixel, 1));
  const std::size_t pixels = (map.kinds.size() + perPixel - 1) / perPixel;
  const std::size_t rows = (pixels + columns - 1) / columns;
  RgbImage image;
  image.width = columns * scale;
  image.height = static_cast<int>(rows) * scale;
  image.pixels.assign(static_cast<std::size_t>(image.width) * image.height * 3, 0xFF);
  for (std::size_t p = 0; p < pixels; ++p) {
    const auto first = map.kinds.begin() + p * perPixel;
    const auto last = map.kinds.begin() + std::min(map.kinds.size(), (p + 1) * perPixel);
    const Rgb colour = kColours[static_cast<int>(*std::max_element(first, last))];
    const std::size_t x0 = (p % columns) * scale, y0 = (p / columns) * scale;
    for (int dy = 0; dy < scale; ++dy) {
      for (int dx = 0; dx < scale; ++dx) {
        std::uint8_t* out =
            &image.pixels[((y0 + dy) * static_cast<std::size_t>(image.width) + x0 + dx) * 3];
        out[0] = colour.r;
        out[1] = colour.g;
        out[2] = colour.b;
      }
    }
  }
  return image;
}

}  // namespace kestrava::tools
