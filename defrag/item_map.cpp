#include "defrag/item_map.h"

#include <algorithm>

#include "search/search_ports.h"

namespace kestrava {
namespace {

// A compressed or sparse file is moved by NTFS in units of 16 clusters.
constexpr std::int64_t kUnitClusters = 16;

// Whether an extent at lcn of so many clusters ends where next begins. An extent that would end
// past the largest LCN (a volume's answer, not a place on it) is followed by nothing.
bool Follows(std::int64_t lcn, std::uint64_t clusters, std::int64_t next) {
  const std::int64_t count = static_cast<std::int64_t>(
      std::min<std::uint64_t>(clusters, std::numeric_limits<std::int64_t>::max()));
  return lcn <= std::numeric_limits<std::int64_t>::max() - count && lcn + count == next;
}

}  // namespace

bool MovesInUnits(bool isFile, std::uint32_t attributes) {
  // A folder's compressed attribute is only what its new files get: its index moves as it is.
  return isFile && (attributes & (attr::kCompressed | attr::kSparseFile)) != 0;
}

std::int64_t DataEnd(std::int64_t sizeBytes, std::uint64_t clusterSize, bool inUnits) {
  if (sizeBytes <= 0 || clusterSize == 0) return 0;
  const std::int64_t clusters =
      (sizeBytes - 1) / static_cast<std::int64_t>(std::min<std::uint64_t>(
                            clusterSize, std::numeric_limits<std::int64_t>::max())) +
      1;
  if (!inUnits) return clusters;
  return (clusters - 1) / kUnitClusters * kUnitClusters + kUnitClusters;
}

MapReading ReadMap(VolumeDevicePort& volume, VolumeDevicePort::Handle item, unsigned char* buffer,
                   int callLimit, std::int64_t dataEnd,
                   const std::function<void(std::int64_t lcn, std::uint64_t clusters)>& onReal) {
  MapReading reading;
  // The last real stretch of this answer, for the contiguity verdict, and of the whole map.
  std::int64_t answerLcn = 0;
  std::uint64_t answerClusters = 0;
  std::int64_t lastLcn = -1;
  std::uint64_t lastClusters = 0;
  reading.end =
      ForEachExtentOfItem(volume, item, buffer, kExtentBufferLength, callLimit,
                          [&](const TExtent& extent, bool firstOfAnswer) {
                            if (firstOfAnswer) answerLcn = 0, answerClusters = 0;
                            if (!extent.Real() || extent.Vcn >= dataEnd) return true;
                            // Differences only: a VCN near the largest has no end as a number.
                            const std::uint64_t clusters = std::min<std::uint64_t>(
                                extent.Clusters, static_cast<std::uint64_t>(dataEnd - extent.Vcn));
                            if (answerLcn != 0 && answerClusters != 0 &&
                                !Follows(answerLcn, answerClusters, extent.Lcn)) {
                              reading.contiguous = false;
                            }
                            if (lastLcn < 0 || !Follows(lastLcn, lastClusters, extent.Lcn)) {
                              ++reading.fragments;
                              if (lastLcn >= 0) reading.inOnePiece = false;
                            }
                            answerLcn = lastLcn = extent.Lcn;
                            answerClusters = lastClusters = clusters;
                            reading.clusters += clusters;
                            if (onReal) onReal(extent.Lcn, clusters);
                            return true;
                          });
  return reading;
}

}  // namespace kestrava
