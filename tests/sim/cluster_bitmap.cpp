#include "tests/sim/cluster_bitmap.h"

#include <cstring>

namespace kestrava::sim {

static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "the bitmap's words are copied out as the bytes Windows returns");

ClusterBitmap::ClusterBitmap(std::uint64_t clusters)
    : clusters_(clusters), words_(static_cast<std::size_t>((clusters + 63) / 64), 0) {}

// Calls op(wordIndex, mask) for each word that [lcn, lcn + count) touches, the mask holding the
// range's bits in that word; op returns false to stop.
template <typename WordOp>
void ClusterBitmap::ForEachWord(std::uint64_t lcn, std::uint64_t count, WordOp op) const {
  if (count == 0) return;
  const std::uint64_t end = lcn + count;
  std::uint64_t word = lcn / 64;
  const std::uint64_t lastWord = (end - 1) / 64;
  for (; word <= lastWord; ++word) {
    std::uint64_t mask = ~std::uint64_t{0};
    if (word == lcn / 64) mask &= ~std::uint64_t{0} << (lcn % 64);
    if (word == lastWord && end % 64 != 0) mask &= ~(~std::uint64_t{0} << (end % 64));
    if (!op(static_cast<std::size_t>(word), mask)) return;
  }
}

void ClusterBitmap::Set(std::uint64_t lcn, std::uint64_t count) {
  ForEachWord(lcn, count, [this](std::size_t w, std::uint64_t mask) {
    words_[w] |= mask;
    return true;
  });
}

void ClusterBitmap::Clear(std::uint64_t lcn, std::uint64_t count) {
  ForEachWord(lcn, count, [this](std::size_t w, std::uint64_t mask) {
    words_[w] &= ~mask;
    return true;
  });
}

bool ClusterBitmap::AnySet(std::uint64_t lcn, std::uint64_t count) const {
  bool any = false;
  ForEachWord(lcn, count, [this, &any](std::size_t w, std::uint64_t mask) {
    any = (words_[w] & mask) != 0;
    return !any;
  });
  return any;
}

void ClusterBitmap::CopyBytes(std::uint64_t firstByte, std::size_t length,
                              unsigned char* out) const {
  std::memcpy(out, reinterpret_cast<const unsigned char*>(words_.data()) + firstByte, length);
}

std::uint64_t ClusterBitmap::CountSet() const {
  std::uint64_t n = 0;
  for (std::uint64_t w : words_) n += static_cast<std::uint64_t>(__builtin_popcountll(w));
  return n;
}

}  // namespace kestrava::sim
