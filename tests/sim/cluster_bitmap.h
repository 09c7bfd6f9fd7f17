#pragma once
// The in-use bits of a simulated volume's clusters, one bit per cluster in 64-bit words. Bit
// i mod 64 of word i / 64 is cluster i, so on a little-endian machine the words' bytes are exactly
// the bytes FSCTL_GET_VOLUME_BITMAP returns, and an answer is one copy. Every operation works on
// whole words where it can: volumes of half a billion clusters are built and read in milliseconds.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestrava::sim {

class ClusterBitmap {
 public:
  explicit ClusterBitmap(std::uint64_t clusters);

  std::uint64_t Clusters() const { return clusters_; }
  bool Test(std::uint64_t lcn) const { return (words_[lcn / 64] >> (lcn % 64)) & 1; }
  // Sets or clears [lcn, lcn + count); the range must lie on the volume.
  void Set(std::uint64_t lcn, std::uint64_t count);
  void Clear(std::uint64_t lcn, std::uint64_t count);
  // True when any cluster of [lcn, lcn + count) is in use.
  bool AnySet(std::uint64_t lcn, std::uint64_t count) const;
  // Copies length bitmap bytes starting at byte firstByte (cluster 8 * firstByte); the bytes must
  // lie within the words. Bits past the last cluster are zero.
  void CopyBytes(std::uint64_t firstByte, std::size_t length, unsigned char* out) const;
  std::uint64_t CountSet() const;
  bool operator==(const ClusterBitmap& other) const {
    return clusters_ == other.clusters_ && words_ == other.words_;
  }
  bool operator!=(const ClusterBitmap& other) const { return !(*this == other); }

 private:
  template <typename WordOp>
  void ForEachWord(std::uint64_t lcn, std::uint64_t count, WordOp op) const;

  std::uint64_t clusters_;
  std::vector<std::uint64_t> words_;
};

}  // namespace kestrava::sim
