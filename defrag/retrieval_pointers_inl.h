#pragma once
// The extent walks, inline for the per-extent loops of the engine.
#include "defrag/fsctl_layout.h"

namespace kestrava {

template <typename Visit>
void RetrievalPointers::ForEachExtent(Visit visit) const {
  std::int64_t vcn =  // Read kept only the extents that move forward
      fsctl::ReadInt64(buffer_, fsctl::kStartingVcnOffset);
  for (std::uint32_t i = 0; i < extentCount_; ++i) {
    const std::size_t at = fsctl::kExtentsOffset + i * fsctl::kExtentLength;
    const std::int64_t next = fsctl::ReadInt64(buffer_, at + fsctl::kNextVcnInExtent);
    TExtent extent;
    extent.Vcn = vcn;
    extent.Clusters = static_cast<std::uint32_t>(next) - static_cast<std::uint32_t>(vcn);
    extent.Lcn = fsctl::ReadInt64(buffer_, at + fsctl::kLcnInExtent);
    if (i >= firstExtent_) visit(static_cast<const TExtent&>(extent));
    vcn = next;
  }
}

template <typename Visit>
ExtentWalkEnd ForEachExtentOfItem(VolumeDevicePort& volume, VolumeDevicePort::Handle item,
                                  unsigned char* buffer, std::uint32_t length, int callLimit,
                                  Visit visit) {
  RetrievalPointers extents(volume, item, buffer, length);
  for (int calls = 1;; ++calls) {
    const WinError outcome = extents.Read();
    if (outcome == err::kAccessDenied) return ExtentWalkEnd::kDenied;
    if (outcome != err::kSuccess && outcome != err::kMoreData) return ExtentWalkEnd::kFailed;
    bool first = true;
    bool stopped = false;
    extents.ForEachExtent([&](const TExtent& extent) {
      if (stopped) return;
      stopped = !visit(extent, first);
      first = false;
    });
    if (stopped) return ExtentWalkEnd::kStopped;
    if (outcome != err::kMoreData || calls >= callLimit || !extents.Advanced()) {
      return ExtentWalkEnd::kMapEnd;
    }
  }
}

}  // namespace kestrava
