#pragma once
// The content of a simulated volume's clusters, reduced to one 32-bit tag per cluster: what a
// check compares to prove that moves carried every item's data along. Stored in pages made only
// where clusters were written, so a volume of half a billion clusters costs nothing until items
// are laid on it. A cluster never written reads as 0.
#include <cstdint>
#include <memory>
#include <unordered_map>

namespace kestrava::sim {

class ClusterTags {
 public:
  std::uint32_t Get(std::uint64_t lcn) const;
  void Set(std::uint64_t lcn, std::uint32_t tag);
  // Copies the tags of [from, from + count) to [to, to + count), a page's share at a time; the
  // ranges must not overlap.
  void Copy(std::uint64_t from, std::uint64_t to, std::uint64_t count);

 private:
  static constexpr std::uint64_t kPageClusters = 4096;
  std::unordered_map<std::uint64_t, std::unique_ptr<std::uint32_t[]>> pages_;
};

}  // namespace kestrava::sim
