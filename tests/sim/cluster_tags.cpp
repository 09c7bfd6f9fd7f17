#include "tests/sim/cluster_tags.h"

#include <algorithm>
#include <cstring>

namespace kestrava::sim {

std::uint32_t ClusterTags::Get(std::uint64_t lcn) const {
  auto it = pages_.find(lcn / kPageClusters);
  return it == pages_.end() ? 0 : it->second[lcn % kPageClusters];
}

void ClusterTags::Set(std::uint64_t lcn, std::uint32_t tag) {
  std::unique_ptr<std::uint32_t[]>& page = pages_[lcn / kPageClusters];
  if (!page) page.reset(new std::uint32_t[kPageClusters]());
  page[lcn % kPageClusters] = tag;
}

void ClusterTags::Copy(std::uint64_t from, std::uint64_t to, std::uint64_t count) {
  while (count > 0) {
    const std::uint64_t fromRoom = kPageClusters - from % kPageClusters;
    const std::uint64_t toRoom = kPageClusters - to % kPageClusters;
    const std::uint64_t n = std::min(count, std::min(fromRoom, toRoom));
    std::unique_ptr<std::uint32_t[]>& target = pages_[to / kPageClusters];
    if (!target) target.reset(new std::uint32_t[kPageClusters]());
    auto source = pages_.find(from / kPageClusters);  // after the insertion, which may rehash
    std::uint32_t* out = &target[to % kPageClusters];
    if (source == pages_.end()) {
      std::fill(out, out + n, 0u);
    } else {
      std::memcpy(out, &source->second[from % kPageClusters], n * sizeof(std::uint32_t));
    }
    from += n;
    to += n;
    count -= n;
  }
}

}  // namespace kestrava::sim
