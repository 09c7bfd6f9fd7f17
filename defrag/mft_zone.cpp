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
  if (start >= end) return;
  // The first run that ends past start; the runs from there on that begin before end meet it.
  auto first = std::upper_bound(
      runs.begin(), runs.end(), start,
      [](std::int64_t lcn, const TFreeRun& r) { return lcn < r.StartLcn + r.ClusterCount; });
  if (first == runs.end() || first->StartLcn >= end) return;
  if (first->StartLcn < start) {
    const std::int64_t firstEnd = first->StartLcn + first->ClusterCount;
    first->ClusterCount = start - first->StartLcn;
    if (firstEnd > end) {  // the zone inside: the part after it is a run
      TFreeRun after;
      after.StartLcn = end;
      after.ClusterCount = firstEnd - end;
      runs.insert(first + 1, after);
      return;
    }
    ++first;  // its end was in the zone
  }
  // The runs that begin in the zone go in one erase: a zone over many small runs, which a
  // fragmented volume has, would otherwise move the rest of a long list once for each of them.
  // The last of them keeps what lies past the zone.
  auto past = std::lower_bound(
      first, runs.end(), end, [](const TFreeRun& r, std::int64_t lcn) { return r.StartLcn < lcn; });
  if (past != first) {
    TFreeRun& last = *(past - 1);
    const std::int64_t lastEnd = last.StartLcn + last.ClusterCount;
    if (lastEnd > end) {
      last.StartLcn = end;
      last.ClusterCount = lastEnd - end;
      --past;
    }
  }
  runs.erase(first, past);
}

void LeaveOutMftZone(VolumeDevicePort& volume, VolumeDevicePort::Handle device, TFreeRuns& runs) {
  std::int64_t start = 0, end = 0;
  if (ReadMftZone(volume, device, &start, &end)) LeaveOutOfRuns(runs, start, end);
}

}  // namespace kestrava
