#include "defrag/cluster_size.h"

#include "common/error.h"
#include "common/paths.h"
#include "common/system_message.h"

namespace kestrava {

std::uint32_t GetVolumeClusterSize(VolumeDevicePort& port, const char* path) {
  std::uint32_t bytesPerCluster = 0;
  const WinError error = port.ClusterSize(DriveOfPath(path) + '\\', &bytesPerCluster);
  if (error != err::kSuccess) throw KestravaError("Df Error 2009" + SystemMessage(error));
  return bytesPerCluster;
}

}  // namespace kestrava
