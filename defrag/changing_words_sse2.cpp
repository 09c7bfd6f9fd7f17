#include "defrag/changing_words.h"

#include <emmintrin.h>

namespace kestrava {
namespace {

// Of a mask with two bits a word, one bit a word: bit j set when bits 2j and 2j + 1 both were.
std::uint32_t BothBitsOfPairs(std::uint64_t pairs) {
  std::uint64_t bits = pairs & (pairs >> 1) & 0x5555555555555555u;
  bits = (bits | (bits >> 1)) & 0x3333333333333333u;
  bits = (bits | (bits >> 2)) & 0x0F0F0F0F0F0F0F0Fu;
  bits = (bits | (bits >> 4)) & 0x00FF00FF00FF00FFu;
  bits = (bits | (bits >> 8)) & 0x0000FFFF0000FFFFu;
  return static_cast<std::uint32_t>(bits | (bits >> 16));
}

// Of 32 words from word i on, which change nothing: 32-bit halves are compared with the top bit
// of the half before each spread over 32 bits, four halves at a time, and the answers for eight
// words packed to a byte a half. A word changes nothing when both its halves do.
std::uint32_t SameAsBefore32(const unsigned char* bitmap, std::uint32_t i) {
  std::uint64_t halves = 0;
  const unsigned char* p = bitmap + i * 8;
  for (int q = 0; q < 4; ++q) {
    __m128i equal[4];
    for (int h = 0; h < 4; ++h, p += 16) {
      const __m128i words = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
      const __m128i before = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p - 4));
      equal[h] = _mm_cmpeq_epi32(words, _mm_srai_epi32(before, 31));
    }
    const __m128i packed =
        _mm_packs_epi16(_mm_packs_epi32(equal[0], equal[1]), _mm_packs_epi32(equal[2], equal[3]));
    halves |= std::uint64_t{static_cast<std::uint32_t>(_mm_movemask_epi8(packed))} << (16 * q);
  }
  return BothBitsOfPairs(halves);
}

}  // namespace

std::uint64_t ChangingWords(const unsigned char* bitmap, std::uint32_t i) {
  return ~(SameAsBefore32(bitmap, i) | std::uint64_t{SameAsBefore32(bitmap, i + 32)} << 32);
}

}  // namespace kestrava
