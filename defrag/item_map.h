#pragma once
// Reading an item's map for the engine: whether its real extents lie in one piece, how many
// clusters and fragments it has, all below the end of its data. Clusters a file keeps past its
// data (preallocated, or the rest of a compression unit) cannot be moved, so they are neither
// counted nor judged.
#include <cstdint>
#include <functional>
#include <limits>

#include "defrag/retrieval_pointers.h"
#include "defrag/volume_port.h"

namespace kestrava {

// No end known: the whole map counts (a folder, or an item the caller gave no size for).
inline constexpr std::int64_t kWholeMap = std::numeric_limits<std::int64_t>::max();

// The VCN where a file's data ends: its size rounded up to a cluster, or for a file moved in
// compression units (inUnits), to the end of the unit that holds its last byte. 0 for size 0.
std::int64_t DataEnd(std::int64_t sizeBytes, std::uint64_t clusterSize, bool inUnits);

// Whether a file of these attributes is moved by NTFS in compression units.
bool MovesInUnits(bool isFile, std::uint32_t attributes);

// What one walk over a map found below dataEnd.
struct MapReading {
  ExtentWalkEnd end = ExtentWalkEnd::kMapEnd;
  // Judged as the contiguity test has always judged it: between the extents of one answer, a
  // real extent at LCN 0 followed by anything.
  bool contiguous = true;
  // Judged over the whole map: no real extent begins elsewhere than where the one before ended.
  bool inOnePiece = true;
  std::uint64_t clusters = 0;   // real clusters
  std::uint64_t fragments = 0;  // stretches of real clusters apart on the volume (sparse left out)
};

// Walks the map of an open item through buffer (kExtentBufferLength bytes), at most callLimit
// calls. onReal, when given, sees each real stretch below dataEnd: its first LCN and clusters.
MapReading ReadMap(
    VolumeDevicePort& volume, VolumeDevicePort::Handle item, unsigned char* buffer, int callLimit,
    std::int64_t dataEnd,
    const std::function<void(std::int64_t lcn, std::uint64_t clusters)>& onReal = {});

// The extent reads an inspection and a move make at most: 4,095 extents a call.
inline constexpr int kInspectCallLimit = 1025;
inline constexpr int kCountCallLimit = 1001;
inline constexpr int kMoveCallLimit = 1025;

}  // namespace kestrava
