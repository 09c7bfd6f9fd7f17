#pragma once
// The clusters NTFS keeps free for its MFT to grow into (the MFT zone): the bitmap shows them free,
// but a move into them is refused, so a free run that holds them is not free for a file's data.
// The volume says where the zone lies (FSCTL_GET_NTFS_VOLUME_DATA); a volume that does not say
// (FAT, a failure) has none.
#include <cstdint>

#include "defrag/free_runs.h"
#include "defrag/volume_port.h"

namespace kestrava {

// [start, end) of the MFT zone of an open volume; false, and the two left alone, when the volume
// does not answer or its answer names no clusters on it.
bool ReadMftZone(VolumeDevicePort& volume, VolumeDevicePort::Handle device, std::int64_t* start,
                 std::int64_t* end);

// Takes the clusters [start, end) out of runs (ascending, none touching): a run that holds part
// of them is cut, one that holds them inside it is split in two.
void LeaveOutOfRuns(TFreeRuns& runs, std::int64_t start, std::int64_t end);

// Both: what ScanFreeSpace does after reading the bitmap.
void LeaveOutMftZone(VolumeDevicePort& volume, VolumeDevicePort::Handle device, TFreeRuns& runs);

}  // namespace kestrava
