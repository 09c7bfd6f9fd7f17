// One answer of FSCTL_GET_VOLUME_BITMAP, taken as the volume gave it. The free-space scan and the
// look at a target found in use both read the bitmap; they share how a request is made and which
// answers can be believed.
#pragma once

#include <cstdint>

#include "common/error.h"
#include "defrag/volume_port.h"

namespace kestrava {

struct BitmapAnswer {
  WinError error = 0;        // ERROR_SUCCESS, or ERROR_MORE_DATA when the buffer was full
  std::int64_t base = 0;     // the volume's StartingLcn: it may round the request down
  std::int64_t size = 0;     // its BitmapSize: the clusters from base to the volume's end
  std::int64_t written = 0;  // the bits it wrote into the buffer (0 when it wrote no bitmap)
};

// Asks for the bitmap from lcn on into buffer (length bytes, the header included); its header is
// cleared first, so that one the volume did not write reads as zeros rather than as the last
// answer's. False when the call failed (the request past the last cluster fails: the normal end)
// or the header is one no volume gives: a negative StartingLcn, a size that is not positive or
// that would end past the largest LCN.
bool AskVolumeBitmap(VolumeDevicePort& volume, VolumeDevicePort::Handle device, std::int64_t lcn,
                     unsigned char* buffer, std::uint32_t length, BitmapAnswer& answer);

}  // namespace kestrava
