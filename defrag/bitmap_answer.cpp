#include "defrag/bitmap_answer.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "defrag/fsctl_layout.h"

namespace kestrava {

bool AskVolumeBitmap(VolumeDevicePort& volume, VolumeDevicePort::Handle device, std::int64_t lcn,
                     unsigned char* buffer, std::uint32_t length, BitmapAnswer& answer) {
  std::memset(buffer, 0, fsctl::kBitmapOffset);
  unsigned char input[fsctl::kStartingNumberLength];
  fsctl::WriteInt64(input, 0, lcn);
  std::uint32_t returned = 0;
  answer.error = volume.Control(device, fsctl::kGetVolumeBitmap, input, sizeof input, buffer,
                                length, &returned);
  if (answer.error != err::kSuccess && answer.error != err::kMoreData) return false;
  answer.base = fsctl::ReadInt64(buffer, fsctl::kBitmapStartingLcnOffset);
  answer.size = fsctl::ReadInt64(buffer, fsctl::kBitmapSizeOffset);
  if (answer.base < 0 || answer.size <= 0 ||
      answer.base > std::numeric_limits<std::int64_t>::max() - answer.size) {
    return false;
  }
  // A volume may claim more than the buffer holds: only what is in it is read.
  const std::uint32_t held = std::min(returned, length);
  answer.written =
      held > fsctl::kBitmapOffset ? static_cast<std::int64_t>(held - fsctl::kBitmapOffset) * 8 : 0;
  return true;
}

}  // namespace kestrava
