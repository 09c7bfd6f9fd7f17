#include "defrag/retrieval_pointers.h"

#include <algorithm>
#include <cstring>

#include "defrag/fsctl_layout.h"

namespace kestrava {

WinError RetrievalPointers::Read() {
  std::memset(buffer_, 0, length_);
  unsigned char input[fsctl::kStartingNumberLength];
  fsctl::WriteInt64(input, 0, nextVcn_);
  returned_ = 0;
  extentCount_ = 0;
  const WinError error = volume_.Control(item_, fsctl::kGetRetrievalPointers, input, sizeof input,
                                         buffer_, length_, &returned_);
  if (error != err::kSuccess && error != err::kMoreData) return error;

  const std::uint32_t filled = std::min(returned_, length_);
  const std::uint32_t room =
      filled > fsctl::kExtentsOffset
          ? static_cast<std::uint32_t>((filled - fsctl::kExtentsOffset) / fsctl::kExtentLength)
          : 0;
  extentCount_ = std::min(fsctl::ReadUInt32(buffer_, fsctl::kExtentCountOffset), room);

  // Only the extents that move forward are used: the map is in VCN order, and the next call
  // starts where the last of them ends.
  const std::int64_t asked = nextVcn_;
  std::int64_t vcn = fsctl::ReadInt64(buffer_, fsctl::kStartingVcnOffset);
  for (std::uint32_t i = 0; i < extentCount_; ++i) {
    const std::int64_t next = fsctl::ReadInt64(
        buffer_, fsctl::kExtentsOffset + i * fsctl::kExtentLength + fsctl::kNextVcnInExtent);
    if (next <= vcn) {
      extentCount_ = i;
      break;
    }
    vcn = next;
  }
  if (extentCount_ > 0) nextVcn_ = vcn;
  advanced_ = nextVcn_ > asked;
  return error;
}

}  // namespace kestrava
