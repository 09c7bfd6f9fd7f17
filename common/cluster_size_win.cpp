#include "common/error.h"
#include "common/paths.h"
#include "common/system_message.h"
#include "common/system_win.h"

namespace kestrava {

DWORD GetVolumeClusterSize(const char* path) {
  const std::string root = DriveOfPath(path) + '\\';
  DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, totalClusters = 0;
  if (!GetDiskFreeSpaceA(root.c_str(), &sectorsPerCluster, &bytesPerSector, &freeClusters,
                         &totalClusters)) {
    throw KestravaError("Df Error 2009" + SystemMessage(GetLastError()));
  }
  return sectorsPerCluster * bytesPerSector;
}

}  // namespace kestrava
