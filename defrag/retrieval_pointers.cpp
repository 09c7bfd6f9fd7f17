#include "defrag/retrieval_pointers.h"

#include <algorithm>
#include <cstring>

#include "defrag/fsctl_layout.h"

namespace kestrava {

WinError RetrievalPointers::Read() {
  // Only the head is cleared, so that one the volume did not write reads as an empty map rather
  // than as the last answer's: no extent past what the volume says it returned is ever read, and
  // clearing the whole buffer before each call cost more than the answer itself.
  std::memset(buffer_, 0, fsctl::kExtentsOffset);
  unsigned char input[fsctl::kStartingNumberLength];
  fsctl::WriteInt64(input, 0, nextVcn_);
  returned_ = 0;
  extentCount_ = 0;
  firstExtent_ = 0;
  advanced_ = false;
  const WinError error = volume_.Control(item_, fsctl::kGetRetrievalPointers, input, sizeof input,
                                         buffer_, length_, &returned_);
  if (error != err::kSuccess && error != err::kMoreData) return error;

  const std::uint32_t filled = std::min(returned_, length_);
  const std::uint32_t room =
      filled > fsctl::kExtentsOffset
          ? static_cast<std::uint32_t>((filled - fsctl::kExtentsOffset) / fsctl::kExtentLength)
          : 0;
  const std::int64_t start = fsctl::ReadInt64(buffer_, fsctl::kStartingVcnOffset);
  // A map that starts before VCN 0 is no map of a file: it holds nothing to use.
  const std::uint32_t claimed =
      start < 0 ? 0 : std::min(fsctl::ReadUInt32(buffer_, fsctl::kExtentCountOffset), room);

  // Only the extents that move forward are used: the map is in VCN order. Those that end at or
  // before the VCN asked for were read before; a volume that answers them again must not get
  // them counted or moved twice. The next call starts where the last extent ends.
  const std::int64_t asked = nextVcn_;
  std::int64_t vcn = start;
  for (; extentCount_ < claimed; ++extentCount_) {
    const std::int64_t next =
        fsctl::ReadInt64(buffer_, fsctl::kExtentsOffset + extentCount_ * fsctl::kExtentLength +
                                      fsctl::kNextVcnInExtent);
    if (next <= vcn) break;
    if (next <= asked) ++firstExtent_;
    vcn = next;
  }
  if (vcn > asked && extentCount_ > firstExtent_) {
    nextVcn_ = vcn;
    advanced_ = true;
  }
  return error;
}

}  // namespace kestrava
