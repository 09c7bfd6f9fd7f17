#include "defrag/mft_zone.h"

#include <algorithm>

#include "defrag/fsctl_layout.h"

namespace kestrava {

bool ReadMftZone(VolumeDevicePort& volume, VolumeDevicePort::Handle device, std::int64_t* start,
                 std::int64_t* end) {
  unsigned char answer[fsctl::kNtfsVolumeDataLength] = {};
  std::uint32_t returned = 0;
  const WinError error = volume.Control(device, fsctl::kGetNtfsVolumeData, nullptr, 0, answer,
                                        sizeof answer, &returned);
  // Later Windows adds the extended data after the 96 bytes only when the buffer has room for it:
  // this one has none, so a complete answer is a success that wrote them all.
  if (error != err::kSuccess || returned < sizeof answer) return false;
  const std::int64_t zoneStart = fsctl::ReadInt64(answer, fsctl::kMftZoneStartOffset);
  const std::int64_t zoneEnd = fsctl::ReadInt64(answer, fsctl::kMftZoneEndOffset);
  if (zoneStart < 0 || zoneEnd <= zoneStart) return false;
  *start = zoneStart;
  *end = zoneEnd;
  return true;
}

void LeaveOutOfRuns(TFreeRuns& runs, std::int64_t start, std::int64_t end) {
  // The first run that ends past start; the runs from there on that begin before end meet it.
  auto it = std::upper_bound(
      runs.begin(), runs.end(), start,
      [](std::int64_t lcn, const TFreeRun& r) { return lcn < r.StartLcn + r.ClusterCount; });
  while (it != runs.end() && it->StartLcn < end) {
    const std::int64_t runEnd = it->StartLcn + it->ClusterCount;
    if (it->StartLcn < start && runEnd > end) {  // the zone inside: the part after it is a run
      TFreeRun after;
      after.StartLcn = end;
      after.ClusterCount = runEnd - end;
      it->ClusterCount = start - it->StartLcn;
      runs.insert(it + 1, after);
      return;
    }
    if (it->StartLcn < start) {  // its end in the zone
      it->ClusterCount = start - it->StartLcn;
      ++it;
    } else if (runEnd > end) {  // its start in the zone
      it->StartLcn = end;
      it->ClusterCount = runEnd - end;
      return;
    } else {  // wholly in the zone
      it = runs.erase(it);
    }
  }
}

void LeaveOutMftZone(VolumeDevicePort& volume, VolumeDevicePort::Handle device, TFreeRuns& runs) {
  std::int64_t start = 0, end = 0;
  if (ReadMftZone(volume, device, &start, &end)) LeaveOutOfRuns(runs, start, end);
}

}  // namespace kestrava
