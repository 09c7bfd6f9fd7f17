#pragma once
// The extent walk of RetrievalPointers, inline for the per-extent loops of the engine.
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
    extent.Length = static_cast<std::uint32_t>(next) - static_cast<std::uint32_t>(vcn);
    extent.Lcn = fsctl::ReadInt64(buffer_, at + fsctl::kLcnInExtent);
    if (i >= firstExtent_) visit(static_cast<const TExtent&>(extent));
    vcn = next;
  }
}

}  // namespace kestrava
