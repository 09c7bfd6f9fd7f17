#pragma once
// The cluster size of the volume holding a path.
#include <cstdint>

#include "defrag/volume_port.h"

namespace kestrava {

// Bytes per cluster of the volume of an absolute drive-letter path, asked of its root ("C:\").
// Raises KestravaError "Df Error 2009" + the system message when the volume cannot be asked.
std::uint32_t GetVolumeClusterSize(VolumeDevicePort& port, const char* path);
inline std::uint32_t GetVolumeClusterSize(const char* path) {
  return GetVolumeClusterSize(PlatformVolumeDevice(), path);
}

}  // namespace kestrava
