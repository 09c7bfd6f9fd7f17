#include "tests/sim/cluster_tags.h"

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

}  // namespace kestrava::sim
