// The one file of the 32-bit build compiled with SSE2: it must define no function that another
// file might also define (an inline function of a shared header, a template), because the linker
// could then keep this file's copy, with its SSE2 instructions, for every caller. It uses the
// intrinsics, which are always inlined, and functions of its own.
#include <emmintrin.h>

#include "defrag/changing_words.h"

namespace kestrava {
namespace {

// Of 16 words from p on, which change nothing (bit j for word j): each is compared with the top
// bit of the word before spread over 32 bits, four at a time, and the answers packed to a byte
// each.
std::uint32_t SameAsBefore16(const unsigned char* p) {
  __m128i equal[4];
  for (int h = 0; h < 4; ++h, p += 16) {
    const __m128i words = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i before = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p - 4));
    equal[h] = _mm_cmpeq_epi32(words, _mm_srai_epi32(before, 31));
  }
  const __m128i packed =
      _mm_packs_epi16(_mm_packs_epi32(equal[0], equal[1]), _mm_packs_epi32(equal[2], equal[3]));
  return static_cast<std::uint32_t>(_mm_movemask_epi8(packed));
}

}  // namespace

void MarkChangingWordsSse2(const unsigned char* bitmap, std::uint32_t i, std::uint32_t groups,
                           std::uint32_t* changing) {
  const unsigned char* p = bitmap + i * 4;
  for (std::uint32_t g = 0; g < groups; ++g, p += kMarkedWords * 4) {
    changing[g] = ~(SameAsBefore16(p) | SameAsBefore16(p + 64) << 16);
  }
}

}  // namespace kestrava
